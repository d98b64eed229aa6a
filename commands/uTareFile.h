#pragma once
// Tare files: plain text in Windows-1251 with CR LF line ends, several named tables per file.
// Reading refuses files that cannot be a tare file; writing goes through a temporary file and
// a rename, so a failed save never truncates the only copy.

#include "Ulmar.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

constexpr qint64 TareFileMaxBytes = 1 << 20;

// The file's text: Windows-1251 (a UTF-8 BOM marks UTF-8 and is stripped), refused when it is
// no regular file, larger than 1 MiB, holds NUL bytes or is unreadable; `error` is then the
// whole message: "Не удалось загрузить файл\r" + path, and for a file refused as it stands
// "\r" + the reason ("не обычный файл", "больше 1024 КБ", ...).
bool ReadTareFile(const QString& path, QString& text, QString& error);
// Windows-1251 through a temporary file and a rename; false, file untouched, when a character
// cannot be encoded or the write fails; `error` is then "Не удалось сохранить файл\r" + path,
// for a character followed by "\rСимвол «X» в строке N нельзя записать в кодировке
// Windows-1251".
bool WriteTareFile(const QString& path, const QString& text, QString& error);
// True when every character of the text has a Windows-1251 byte.
bool TareTextEncodable(const QString& text, int* badPosition = nullptr);
// The lines of a text, ended by CR LF, LF or CR (the line ends of files edited anywhere).
QStringList TareLines(const QString& text);
// The five-line comment block, each line ended by CR LF.
QString TareCommentBlock();
// The text of "Создать типовую таблицу" (ttDefault1 and ttDefault2), CR LF line ends.
QString TypicalTareText();
// The text of a table read from a gauge: comment block, "ttFromUlmar=N" with N the points that
// are not empty, their rows with "," as the decimal separator in fixed notation, an empty line.
QString GaugeTareText(const std::array<TTarePoint, 32>& points);
// A tare point the gauge holds as empty (FF FF FF FF).
bool TarePointEmpty(const TTarePoint& point);

// The name a table read from a gauge is also saved under, beside "ttFromUlmar.txt", so that
// every read keeps its own file: "<plant number>_<yyyyMMdd-HHmmss>.txt".
QString GaugeTareFileName(quint16 plantNumber, const QDateTime& at);
// The path in `dir` for that file: GaugeTareFileName, or, when a file of that name exists (two
// reads within a second), the same name with "-2", "-3", ... before ".txt", never an existing one.
QString GaugeTareFilePath(const QString& dir, quint16 plantNumber, const QDateTime& at);

// A table's rows as level (mm) and volume (%), in row order.
using TTareRows = std::vector<std::array<double, 2>>;
// The rows of the gauge's points that are not empty, in point order, as "ttFromUlmar" holds them.
TTareRows GaugeTareRows(const std::array<TTarePoint, 32>& points);

// One row where two tables differ: the row (1-based) and both sides, NaN where a side has no such
// row (its table is shorter).
struct TTarePointDifference {
    int Point = 0;
    double LevelA = 0;
    double VolumeA = 0;
    double LevelB = 0;
    double VolumeB = 0;
};
// The rows of `a` and `b` compared as the gauge stores them (the single of the level, of the
// volume × 100), so that a table read back from a gauge equals the table written; a row missing
// on one side differs. In row order.
std::vector<TTarePointDifference> CompareTarePoints(const TTareRows& a, const TTareRows& b);
// The difference of an open table (side A) and the gauge's (side B): "Строка N: в таблице L мм,
// V %; в приборе L мм, V %", "нет строки" for a missing side; numbers in `locale`, with the
// digits a single holds and no more.
QString TareDifferenceText(const TTarePointDifference& difference, const QLocale& locale);
QStringList TareDifferenceLines(const std::vector<TTarePointDifference>& differences,
                                const QLocale& locale);
