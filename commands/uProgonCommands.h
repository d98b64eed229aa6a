#pragma once
// The run test ("Прогон") without a window: the current row of the run table, the look and
// text of each grid cell, the button caption, "Установить" with live readings that must be
// fresh, the tape change, the template, and the start and stop sequences that put the gauge
// into the run configuration and back. The run window is a view over this; the tests run the
// same code against the simulator.
// User-interface thread only (as TGaugeCommands): every change of the device object goes
// through TGaugeCommands::Edit.

#include "uGaugeCommands.h"
#include "uPollControl.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

class TUlmar;

// The grid's columns, left to right.
enum TProgonColumn : int {
    ProgonColNumber,
    ProgonColRuletka,
    ProgonColValue,
    ProgonColDValue,
    ProgonColCurrentSample,
    ProgonColCurrentValue,
    ProgonColDCurrentValue,
    ProgonColumnCount
};

// The background of a grid cell: unchanged, or one of the three marks.
enum class TProgonShade { None, Green, Yellow, Red };

struct TProgonCellLook {
    TProgonShade Background = TProgonShade::None;
    bool Bold = false;
    bool operator==(const TProgonCellLook&) const = default;
};

// A current difference above this magnitude, mA, is marked red.
constexpr double ProgonCurrentTolerance = 0.03;

// The column headers: "№" and the six value columns.
QStringList ProgonHeaders();
// The first row 1..ProgonMode whose Sample ± ProgonWindow holds the level; 0 when none.
int CurrentProgonRow(const TUlmar& ulmar, double level);
// How a data cell (row 1..ProgonMode, column) is painted with the live level: the current row
// bold, green within 50 mm of its Sample, yellow within 100 mm; the current difference red when
// its magnitude exceeds 0.03 mA (after the row's colour).
TProgonCellLook ProgonCellLook(const TUlmar& ulmar, double level, int row, int column);
// A data cell's text: the row number, or the value in fixed notation with the column's
// decimals, no thousand separators; empty for a value that is not a finite number.
QString ProgonCellText(const TUlmar& ulmar, int row, int column);
// "Установить" with the live free space, level and current, one value to a line.
QString ProgonButtonCaption(double levelFree, double level, double current,
                            const QLocale& locale = QLocale());

// What "Установить" came to.
enum class TSetPointEnd {
    Recorded,   // the row took the readings
    NoRow,      // the level lies in no row's window: nothing happens
    PollingOff, // refused: polling is stopped
    LinkDown,   // refused: the last exchange failed
    Stale       // refused: the level or the current is older than the freshness limit
};

struct TSetPointResult {
    TSetPointEnd End = TSetPointEnd::NoRow;
    int Row = 0;     // the row recorded (1..5)
    QString Message; // why it was refused; empty otherwise
    bool StopAsked = false;
    bool StopRan = false;
};

// A start or stop sequence as it ran.
struct TProgonRunReport {
    bool PollingWasRunning = false;
    // Start only: the gauge's signature (plant number, versions) was read for the report.
    bool SignatureRead = true;
    bool TemplateFilled = false;
    // The hints of the steps that failed (writes, then the commit), in order.
    QStringList Failed;
    bool Committed = false;
    bool Stopped = false; // the program closed meanwhile
    bool Ok() const { return Failed.isEmpty() && Committed && !Stopped && SignatureRead; }
};

// The gauge settings of the run configuration and of the working one.
struct TProgonConfig {
    double Dist1;
    double Dist2;
    quint8 ModeCurrentOutput; // 2: 0...20 mA, 1: 4...20 mA
    quint8 ModeImage;         // 2: level, 1: distance
};
constexpr TProgonConfig ProgonRunConfig{1000, 15000, 2, 2};
constexpr TProgonConfig ProgonWorkConfig{1000, 30000, 1, 1};

class TProgonCommands {
public:
    TProgonCommands(TGaugeCommands& commands, IPollControl& poll);

    TGaugeCommands& Commands() const { return Commands_; }

    // How old, at most, the level and the current may be for "Установить": about two polling
    // periods, a period being the pacing interval plus the longest exchanges of one cycle, for
    // every device polled in turn.
    int FreshnessLimitMs() const;
    // Why "Установить" may not take the readings now; empty when it may.
    QString Refusal(TSetPointEnd* end = nullptr) const;

    // "Установить": refused with a message (nothing changes) unless polling runs, the gauge
    // answers and the level and the current are fresh; then the row that the level falls into
    // takes the level and the current and the differences are computed again. After row 5 it
    // asks "Остановить прогон?" and runs Stop on Yes.
    TSetPointResult SetPoint();
    // "Создать шаблон прогона" after the question; true when the template was filled.
    bool CreateTemplate();
    // The tape value of a row (1..5): Sample and Value follow it and the reference currents are
    // computed again; the differences keep their values until the next SetPoint. No value (a
    // cancelled dialog) changes nothing.
    bool ChangeRuletka(int row, std::optional<double> ruletka);

    // "Прогон начать": polling stopped, the gauge's signature read (without its box) for the
    // report, the template offered (with the run's dist.1 and dist.2 already set), the run
    // configuration written with one commit to ROM when every write succeeded; one message
    // listing the failed steps otherwise; polling restarted when it ran.
    TProgonRunReport Start();
    // "Прогон остановить": the same without the template, with the working configuration.
    TProgonRunReport Stop();

    // The message of a sequence with failed steps.
    static QString FailureText(const QStringList& failed);
    // The line that tells that Start could not read the signature.
    static QString SignatureFailureText();

private:
    TProgonRunReport Run(const TProgonConfig& config, bool offerTemplate);

    TGaugeCommands& Commands_;
    IPollControl& Poll_;
};
