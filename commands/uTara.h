#pragma once
// The tare table reader: one named table out of the lines of a tare file, and the level to
// volume conversion by linear interpolation in it. Also the checks a table must pass before it
// is written into a gauge, which holds 32 points.
//
// Tare file text: a header line holds "=" and no "*": the table's name (everything before the
// first "="), "=", the number of rows. The rows are the lines that follow the header, each the
// level (mm) and the volume (%), numbers with "," as the decimal separator. Other lines
// (comments starting with "*", empty lines) are ignored.

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

struct TTaraPoint {
    double TaraLevel = 0.0;  // mm
    double TaraVolume = 0.0; // %
};

using TTaraTable = std::vector<TTaraPoint>;

class TTara : public QObject {
    Q_OBJECT
public:
    // The rows a gauge holds.
    static constexpr int GaugeRowCount = 32;

    explicit TTara(QObject* parent = nullptr);

    // Path of the tare file the lines come from: a table is read only while it exists on disk.
    QString FileName;
    // Name of the table to read; empty means no table.
    QString TableName;
    // The rows of the table read last, in file order.
    TTaraTable Table;
    // What the last LoadFromStrings found wrong, each naming its line (1-based in the text).
    QStringList Problems;

    // Reads the table TableName from the lines; true when the whole table was read.
    bool LoadFromStrings(const QStringList& lines);
    // The volume for a level, interpolated in Table (extrapolated along the first or last
    // segment). False when TableName is empty or Table has fewer than 2 rows.
    bool LevelToVolume(double level, double& volume) const;
    // The next number of a row from `position` (1-based): a run of digits, "-" and at most one
    // ","; on success `position` is the index of the character that ended it.
    static bool ParseNumber(const QString& line, int& position, double& value);
};

// The table `name` of the lines, as LoadFromStrings reads it but without a file on disk: false
// when it was not read whole; what is wrong goes to `problems`.
bool ReadTareTable(const QStringList& lines, const QString& name, TTaraTable& table,
                   QStringList* problems = nullptr);

// The table names of a text, in order (headers: "=" and no "*", non-empty name).
QStringList TareTableNames(const QStringList& lines);

// True when the line is a table header: it holds "=" and no "*".
bool IsTareHeader(const QString& line);

// Empty when the named table may be written to a gauge; otherwise a message naming the line:
// 2..32 rows of two numbers each, levels strictly rising within 0..50000 mm, volumes
// non-decreasing within 0..100 %, a unique name, numbers ended only by blank, tab, ";" or the end
// of the line, loaded without error. No name: "Таблица не выбрана".
QString TareUnfitForGauge(const QStringList& lines, const QString& tableName);
