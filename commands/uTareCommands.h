#pragma once
// The tare table sequences of the gauge without a window: read both parts of the table into the
// device object, and write a table of a tare file: check it fits the gauge, ask, write levels
// then volumes, read both back, compare them as the gauge stores them, and only then commit to
// ROM once. Polling is stopped for a sequence and started again when it ran. A closing program
// ends a sequence between two exchanges, and a write then commits nothing.
// User-interface thread only, as TGaugeCommands.

#include "uGaugeCommands.h"
#include "uPollControl.h"
#include "uTareFile.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

// One part of a point that reads back other than it was written, both as the gauge stores
// them: the single of the level, or of the volume × 100 (FF FF FF FF an empty point).
struct TTareMismatch {
    int Point = 0;       // 1..32
    bool Volume = false; // the volume, otherwise the level
    std::array<quint8, 4> Sent{};
    std::array<quint8, 4> Got{};
};

struct TTareWriteResult {
    bool Refused = false;   // unfit for the gauge or the confirmation was declined: nothing sent
    bool Committed = false; // levels, volumes, read-back compare all good and ROM commit done
    QString Message;        // the reason or the failed step, for the window or the terminal
    std::vector<TTareMismatch> Differences; // read-back parts that differ, in point order
    QStringList Mismatches; // the same as text, numbers in the C locale, for the terminal
    // The failed step got no answer at all (the line or the gauge is silent).
    bool NoAnswer = false;
    // The program was closing (ulmar-cli: a stop signal): the sequence ended between two
    // exchanges and nothing was committed.
    bool Stopped = false;
};

// A table of a tare file compared with the gauge's table.
struct TTareCompareResult {
    QString Table;
    bool Refused = false;  // the table was not read from the lines: nothing sent
    bool Read = false;     // the gauge's table was read and compared
    bool NoAnswer = false; // the read failed and got no answer at all
    // The reason it was not compared, or the outcome in one line.
    QString Message;
    int Rows = 0;                                  // the rows of the table
    int GaugeRows = 0;                             // the points of the gauge that are not empty
    std::vector<TTarePointDifference> Differences; // A the table, B the gauge's, row by row
    bool Same() const { return Read && Differences.empty(); }
};

// "Точка N: уровень записан X, считан Y" (the volume in %), numbers in `locale`.
QString TareMismatchText(const TTareMismatch& mismatch, const QLocale& locale);
// A few lines for a message box: how many points differ and the first `shown` differences.
QString TareMismatchSummary(const std::vector<TTareMismatch>& mismatches, const QLocale& locale,
                            int shown = 3);
// Every difference, one a line.
QString TareMismatchList(const std::vector<TTareMismatch>& mismatches, const QLocale& locale);

// Progress and the question go through commands.Ui(); failures are not shown there but returned
// as text (the window shows them in its message box, ulmar-cli on the terminal).
class TTareCommands {
public:
    // poll may be null (no polling to stop).
    TTareCommands(TGaugeCommands& commands, IPollControl* poll);

    // Both parts read into the device object's TareTable; false (and a message) when either
    // fails. `noAnswer`, when given, tells whether the failed part got no answer at all.
    // `plantNumber`, when given, gets the gauge's plant number after a good read, for the file
    // named after the gauge: the device object's, or, when it holds none (0), read from the
    // gauge's signature with polling still stopped; none when the signature did not come.
    bool ReadFromGauge(QString* error = nullptr, bool* noAnswer = nullptr,
                       std::optional<quint16>* plantNumber = nullptr);
    // Reads the named table of the lines (refused when it is not read whole), then the gauge's
    // table as ReadFromGauge does, and compares them row by row as the gauge stores them: the
    // gauge's points that are not empty against the table's rows in order.
    TTareCompareResult CompareWithGauge(const QStringList& lines, const QString& tableName);
    // Check, confirm through commands.Ui().Ask (naming the table and its row count), levels,
    // volumes, read both back, compare as stored, commit once.
    TTareWriteResult WriteToGauge(const QStringList& lines, const QString& tableName);

private:
    struct TStep {
        bool Ok = false;
        bool NoAnswer = false; // no attempt got any answer
    };
    // The retry routine: up to 5 exchanges until an accepted answer of `answerCommand` comes;
    // none more once the program is closing.
    TStep Exchange(int code, const QString& hint, int answerCommand);
    // Levels, then volumes, into the device object's TareTable; stops at the first failure.
    bool ReadParts(QString* error, bool* noAnswer);

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
};
