#include "uZeroArray.h"
#include "uSmallFile.h"

#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace {

constexpr int EntryCount = TUlmar::ZeroArraySize;

// The nearest whole number, half to even (6553.5 gives 6554, 6552.5 gives 6552).
double RoundEven(double value) {
    return std::nearbyint(value);
}

// A span whose ends are the wrong way round or meet is made valid around its centre.
TZeroRange Valid(double lo, double hi) {
    if (lo > hi)
        std::swap(lo, hi);
    if (!(hi - lo >= ZeroMinSpan)) {
        const double centre = lo / 2 + hi / 2;
        return {centre - ZeroMinSpan / 2, centre + ZeroMinSpan / 2};
    }
    return {lo, hi};
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

QByteArrayView Trimmed(QByteArrayView line) {
    while (!line.isEmpty() && IsBlank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && IsBlank(line.back()))
        line.chop(1);
    return line;
}

// A decimal 32-bit integer with an optional sign, nothing else.
std::optional<qint32> DecimalEntry(QByteArrayView text) {
    if (text.isEmpty())
        return std::nullopt;
    const qsizetype first = text.front() == '+' || text.front() == '-' ? 1 : 0;
    if (first == text.size())
        return std::nullopt;
    for (qsizetype i = first; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

// The lines of the text; a line ends with CR LF, LF or CR, and the last one may end without.
QList<QByteArrayView> SplitLines(QByteArrayView text) {
    QList<QByteArrayView> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines << text.sliced(start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines << text.sliced(start);
    return lines;
}

TZeroLoad Refused(const QString& error) {
    TZeroLoad load;
    load.Error = error;
    return load;
}

} // namespace

TZeroArray ClearedZeroArray() {
    TZeroArray zero{};
    zero[0] = ZeroMaxCount;
    zero[2] = 65535;
    zero[EntryCount - 1] = 65535;
    return zero;
}

int ZeroCount(const TZeroArray& zero) {
    return std::clamp<qint32>(zero[0], 0, ZeroMaxCount);
}

QStringList ZeroListLines(const TZeroArray& zero) {
    const int n = ZeroCount(zero);
    QStringList lines;
    lines.reserve(n + 3);
    lines << QStringLiteral("Кол-во:") + QString::number(n)
          << QStringLiteral("Min:") + QString::number(zero[1])
          << QStringLiteral("Max:") + QString::number(zero[2]);
    for (int k = 1; k <= n; ++k)
        lines << QString::number(k) + QStringLiteral(") ") + QString::number(zero[k + 2]);
    return lines;
}

std::vector<double> ZeroPositions(const TZeroArray& zero) {
    const int n = ZeroCount(zero);
    return std::vector<double>(zero.begin() + 3, zero.begin() + 3 + n);
}

std::array<double, 2> ZeroLimits(const TZeroArray& zero) {
    return {static_cast<double>(zero[1]), static_cast<double>(zero[2])};
}

TZeroRange ZeroFullView(const TZeroArray& zero) {
    const int n = ZeroCount(zero);
    const double maximum = zero[2];
    if (n == 0)
        return Valid(0, std::max(maximum, 65535.0));
    return Valid(zero[3], std::max<double>(maximum, zero[n + 2]));
}

TZeroRange ZeroZoomIn(const TZeroRange& view) {
    const double a = RoundEven(view.Size() / 10);
    const TZeroRange zoomed{view.Min + a, view.Max - a};
    return zoomed.Size() >= ZeroMinSpan ? zoomed : view;
}

TZeroRange ZeroZoomOut(const TZeroRange& view) {
    const double a = RoundEven(view.Size() / 10);
    const TZeroRange zoomed{view.Min - a, view.Max + a};
    return zoomed.Size() <= ZeroMaxSpan ? zoomed : view;
}

TZeroRange ZeroDataExtent(const TZeroArray& zero) {
    const std::array<double, 2> limits = ZeroLimits(zero);
    TZeroRange extent{std::min(limits[0], limits[1]), std::max(limits[0], limits[1])};
    for (double x : ZeroPositions(zero)) {
        extent.Min = std::min(extent.Min, x);
        extent.Max = std::max(extent.Max, x);
    }
    return extent;
}

std::optional<int> ZeroScrollPosition(const TZeroRange& view, const TZeroRange& data) {
    const double extent = data.Size();
    if (!(extent > 0))
        return std::nullopt;
    const double position = 100 - RoundEven((data.Max - view.Max) * 100 / extent);
    return static_cast<int>(std::clamp(position, 0.0, 100.0));
}

TZeroRange ZeroScrolledView(int position, const TZeroRange& view, const TZeroRange& data) {
    const double extent = data.Size();
    if (!(extent > 0))
        return view;
    const double right = data.Max - extent * (100 - std::clamp(position, 0, 100)) / 100;
    return {right - view.Size(), right};
}

bool ZeroScrollAxis(TZeroRange& axis, double offset, const TZeroRange& data) {
    const bool beyond = (offset > 0 && data.Max > axis.Max) || (offset < 0 && data.Min < axis.Min);
    if (!beyond)
        return false;
    axis.Min += offset;
    axis.Max += offset;
    return true;
}

QByteArray ZeroFileBytes(const TZeroArray& zero) {
    QByteArray bytes;
    bytes.reserve(EntryCount * 13);
    for (qint32 entry : zero)
        bytes += QByteArray::number(entry) + "\r\n";
    return bytes;
}

QString ZeroFileName(const QDateTime& at) {
    return QStringLiteral("Zero") + at.toString(QStringLiteral("yyyyMMdd_HHmmss")) +
           QStringLiteral(".txt");
}

namespace {

const QByteArray CommentPlant = QStringLiteral("# Заводской номер ").toUtf8();
const QByteArray CommentUnknown = QStringLiteral("неизвестен").toUtf8();
const QString CommentTimeFormat = QStringLiteral("dd.MM.yyyy HH:mm:ss");

} // namespace

QByteArray ZeroFileComment(quint16 plantNumber, const QDateTime& at) {
    return CommentPlant + (plantNumber != 0 ? QByteArray::number(plantNumber) : CommentUnknown) +
           ", " + at.toString(CommentTimeFormat).toUtf8();
}

TZeroFileNote ParseZeroFileComment(QByteArrayView line) {
    TZeroFileNote note;
    line = Trimmed(line);
    if (!line.startsWith(CommentPlant))
        return note;
    line = line.sliced(CommentPlant.size());
    const qsizetype comma = line.indexOf(',');
    if (comma < 0)
        return note;
    bool ok = false;
    const uint plant = line.first(comma).toUInt(&ok, 10);
    if (ok && plant > 0 && plant <= 0xFFFF)
        note.PlantNumber = quint16(plant);
    const QByteArrayView time = Trimmed(line.sliced(comma + 1));
    if (time.size() == CommentTimeFormat.size())
        note.Time =
            QDateTime::fromString(QString::fromLatin1(time.data(), time.size()), CommentTimeFormat);
    return note;
}

bool SaveZeroFile(const QString& path, const TZeroArray& zero, QString* error,
                  const QByteArray& comment) {
    if (!comment.isEmpty() && (!comment.startsWith('#') || comment.contains('\r') ||
                               comment.contains('\n') || comment.size() > ZeroCommentMaxBytes)) {
        if (error)
            *error = QStringLiteral("Строка комментария не подходит для файла массива нулей");
        return false;
    }
    const QByteArray bytes =
        (comment.isEmpty() ? QByteArray() : comment + "\r\n") + ZeroFileBytes(zero);
    QSaveFile file(path);
    // Unbuffered: a write cut short (a full disk) shows here; a buffered one would be flushed
    // at commit, which renames a shortened file over the former one and reports success.
    if (file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        file.write(bytes) == bytes.size() && file.commit())
        return true;
    if (error)
        *error = file.error() != QFileDevice::NoError ? file.errorString()
                                                      : QStringLiteral("Файл записан не полностью");
    file.cancelWriting();
    return false;
}

TZeroLoad ParseZeroFile(const QByteArray& bytes) {
    QByteArrayView text(bytes);
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    // Line i to entry i, as far as the file goes: the entries after its last line keep their
    // cleared values, and lines after the 256th are not read. Comment lines hold no entry and
    // move none; the first one, when short enough to be a note of this program, is kept.
    const QList<QByteArrayView> lines = SplitLines(text);
    TZeroLoad load;
    load.Ok = true;
    load.Array = ClearedZeroArray();
    int entry = 0;
    bool commentSeen = false;
    for (qsizetype i = 0; i < lines.size() && entry < EntryCount; ++i) {
        const QByteArrayView line = Trimmed(lines.at(i));
        if (line.startsWith('#')) {
            if (!commentSeen && line.size() <= ZeroCommentMaxBytes && !line.contains('\0'))
                load.Comment = line.toByteArray();
            commentSeen = true;
            continue;
        }
        if (const auto value = DecimalEntry(line))
            load.Array[entry] = *value;
        ++entry;
    }
    return load;
}

TZeroLoad LoadZeroFile(const QString& path) {
    // A directory or a device is no file, and a FIFO would block the reading.
    QByteArray bytes;
    QString reason;
    switch (ReadSmallRegularFile(path, ZeroFileMaxBytes, bytes, reason)) {
    case TSmallFileRead::Read:
        return ParseZeroFile(bytes);
    case TSmallFileRead::Missing:
        return Refused(QStringLiteral("нет файла"));
    default:
        return Refused(reason);
    }
}
