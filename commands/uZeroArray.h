#pragma once
// The gauge's zero array without a window: the list lines and the chart's view of the zero
// array window, its zoom and scroll bar arithmetic, and the zero-array text file (256 decimal
// lines ending with CR LF). The array is entries 1 to 256 = ZeroArray[0] to [255]: entry 1 the
// count N, entry 2 the minimum, entry 3 the maximum, entries 4 to N + 3 the positions.
// Pure functions and file I/O only; any thread.

#include "Ulmar.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

using TZeroArray = std::array<qint32, TUlmar::ZeroArraySize>;

// At most this many positions follow the three header entries.
constexpr int ZeroMaxCount = 253;
// A zero-array file is about 3 KiB; anything beyond this is not one.
constexpr qint64 ZeroFileMaxBytes = 64 * 1024;

// The array as TUlmar::ClearZeroArray leaves it: N 253, minimum 0, maximum 65535, positions 0
// and entry 256 65535.
TZeroArray ClearedZeroArray();

// N, entry 1, brought to 0..253 so that it never indexes outside the array.
int ZeroCount(const TZeroArray& zero);

// The list: "Кол-во:" + N, "Min:" + entry 2, "Max:" + entry 3, then k + ") " + entry k + 3
// for k = 1..N (N as ZeroCount).
QStringList ZeroListLines(const TZeroArray& zero);

// The X of the blue columns (entries 4 to N + 3) and of the red ones (minimum and maximum).
std::vector<double> ZeroPositions(const TZeroArray& zero);
std::array<double, 2> ZeroLimits(const TZeroArray& zero);

// A span of the bottom axis (or any axis): Min < Max once made by the functions below.
struct TZeroRange {
    double Min = 0;
    double Max = 0;
    double Size() const { return Max - Min; }
    bool operator==(const TZeroRange&) const = default;
};

// The smallest span an axis is given: a view whose ends meet is widened to this around them.
constexpr double ZeroMinSpan = 2;
// Zoom out stops at this span (beyond any 32-bit position range), so the axis stays finite.
constexpr double ZeroMaxSpan = 1e10;

// Undo zoom: entry 4 (0 when N is 0) to the greater of entry 3 and the last position (65535
// when N is 0); ends the wrong way round are swapped, ends that meet are widened.
TZeroRange ZeroFullView(const TZeroArray& zero);
// a = the nearest whole number to a tenth of the span, half to even; in: (min + a, max - a),
// out: (min - a, max + a). A zoom that would leave the limits keeps the view.
TZeroRange ZeroZoomIn(const TZeroRange& view);
TZeroRange ZeroZoomOut(const TZeroRange& view);

// The X extent of every column of the chart (blue and red).
TZeroRange ZeroDataExtent(const TZeroArray& zero);
// The scroll bar position 0..100 for the view: 100 - round((data max - view max) * 100 /
// data extent); none (scroll bar disabled) when the extent is not positive.
std::optional<int> ZeroScrollPosition(const TZeroRange& view, const TZeroRange& data);
// The view after the scroll bar moved to `position`: its right edge at data max - extent *
// (100 - position) / 100, its span kept. The view itself when the extent is not positive.
TZeroRange ZeroScrolledView(int position, const TZeroRange& view, const TZeroRange& data);
// Moves the axis by `offset` only when data lie beyond its edge in that direction; false when
// it did not move.
bool ZeroScrollAxis(TZeroRange& axis, double offset, const TZeroRange& data);

// The file text: the 256 entries in decimal, entry 1 first, each line ending with CR LF.
QByteArray ZeroFileBytes(const TZeroArray& zero);
// "Zero" + yyyyMMdd_hhmmss + ".txt".
QString ZeroFileName(const QDateTime& at);

// The comment line a file saved from a gauge starts with (without its line end): "# Заводской
// номер N, dd.MM.yyyy HH:mm:ss", or "# Заводской номер неизвестен, " + the time when the
// device object holds none (0). UTF-8; the loader skips it.
QByteArray ZeroFileComment(quint16 plantNumber, const QDateTime& at);
// A comment line longer than this is not kept (nor written).
constexpr int ZeroCommentMaxBytes = 256;

// What a comment line of ZeroFileComment tells; nothing (no plant number, an invalid time) for
// any other text.
struct TZeroFileNote {
    std::optional<quint16> PlantNumber;
    QDateTime Time;
};
TZeroFileNote ParseZeroFileComment(QByteArrayView line);

// Writes the file through a temporary file and a rename, so that a failure leaves a former
// file as it was. False with the reason in `error` on any failure. `comment`, when not empty,
// is written as the first line: refused unless it is one line starting with "#", at most
// ZeroCommentMaxBytes long.
bool SaveZeroFile(const QString& path, const TZeroArray& zero, QString* error = nullptr,
                  const QByteArray& comment = {});

// A file read into a new array: Ok with the array, or the reason it was refused.
struct TZeroLoad {
    bool Ok = false;
    TZeroArray Array{};
    QString Error;
    // The file's first comment line, without its line end; empty when it has none or it is
    // longer than ZeroCommentMaxBytes.
    QByteArray Comment;
};

// The text of a file: an optional UTF-8 BOM, lines ending with CR LF, LF or CR, blanks around a
// value ignored. Comment lines (the first character after blanks "#") are skipped and not
// counted; of the other lines, line i (1..256) goes to entry i when it is a decimal 32-bit
// integer and otherwise leaves the cleared value there; entries past the file's last line keep
// their cleared values, and reading stops after 256 entry lines.
TZeroLoad ParseZeroFile(const QByteArray& bytes);
// Reads the file and parses it; refused when missing, no regular file, over ZeroFileMaxBytes or
// unreadable, with the reason ("не обычный файл", "больше 64 КБ", ...) as the error.
TZeroLoad LoadZeroFile(const QString& path);
