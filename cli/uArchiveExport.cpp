#include "uArchiveExport.h"
#include "uBDE.h"
#include "uCliFormat.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uParamTable.h"
#include "uStopSignals.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <charconv>
#include <cmath>

namespace {

const QDate Epoch(1899, 12, 30);
constexpr double MsPerDay = 86400000.0;

// The day count of a local date and time, split by hand so that no time-zone rule moves it.
TDateTime Stamp(const QDate& date, const QTime& time) {
    return static_cast<double>(Epoch.daysTo(date)) + time.msecsSinceStartOfDay() / MsPerDay;
}

// A reading the gauge sent as a single is written as the shortest text of that single (7509.1733,
// not 7509.17333984375); any other number by the shortest text that reads back as it.
QString Shortest(double value) {
    const float single = static_cast<float>(value);
    if (static_cast<double>(single) == value)
        return ShortestSingle(value);
    std::array<char, 40> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
}

// A JSON string literal, quotes and escapes included.
QString JsonString(const QString& text) {
    const QByteArray object =
        QJsonDocument(QJsonObject{{"s", text}}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(object.mid(5, object.size() - 6)); // {"s":…}
}

// A stored DT as ISO 8601 local time with its offset; empty for a stamp out of range.
QString RowTime(TDateTime dt) {
    const QString stored = ArchiveDTText(dt); // "yyyy-MM-dd HH:mm:ss.zzz", local time
    return IsoTimeText(QDateTime::fromString(stored, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
}

// False only when the table file reads and its table lacks the PN column: then the table
// answers a select of V and DT and refuses one of PN.
bool HasPlantNumberColumn(const QString& dayDir, const QString& table) {
    bool plain = false;
    bool withNumber = false;
    QueryArchive(dayDir, QStringLiteral("SELECT DT, V FROM %1 WHERE 0").arg(table), &plain);
    QueryArchive(dayDir, QStringLiteral("SELECT PN AS DT, V FROM %1 WHERE 0").arg(table),
                 &withNumber);
    return !plain || withNumber;
}

// A line of the export: CSV "time;value" or a JSON object after its head.
void ExportLine(QTextStream& out, bool json, const QString& head, const QString& time,
                double value) {
    const QString v = std::isfinite(value) ? Shortest(value) : QString();
    if (json)
        out << head << (time.isEmpty() ? QStringLiteral("null") : JsonString(time))
            << ",\"value\":" << (v.isEmpty() ? QStringLiteral("null") : v) << "}\n";
    else
        out << TCliCsv::Line({time, v}) << "\r\n";
}

QString JsonHead(const QString& table) {
    return QStringLiteral("{\"schemaVersion\":1,\"ok\":true,\"error\":null,\"table\":") +
           JsonString(table) + QStringLiteral(",\"time\":");
}

} // namespace

std::optional<QDateTime> ParseExportTime(const QString& text, bool endOfRange) {
    const QString t = text.trimmed().replace(QLatin1Char('T'), QLatin1Char(' '));
    const QDate date = QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid())
        return std::nullopt;
    if (t.size() == 10)
        return QDateTime(date, endOfRange ? QTime(23, 59, 59, 999) : QTime(0, 0));
    if (t.at(10) != QLatin1Char(' '))
        return std::nullopt;
    const QString clock = t.mid(11);
    for (const char* format : {"HH:mm", "HH:mm:ss", "HH:mm:ss.zzz"}) {
        const QTime time = QTime::fromString(clock, QString::fromLatin1(format));
        if (time.isValid())
            return QDateTime(date, time);
    }
    return std::nullopt;
}

namespace {

// Writes one day's rows with `line` until a stop signal; false when the output failed (a full
// disk or a closed output: the rest would be lost as well), and the export ends there.
template <class TRows, class TLine>
bool ExportDay(QTextStream& out, const TRows& rows, TArchiveExportResult& result,
               const TLine& line) {
    for (const auto& row : rows) {
        if (StopSignalReceived()) {
            result.Interrupted = true;
            break;
        }
        line(row);
        ++result.Rows;
        if (out.status() != QTextStream::Ok)
            break;
    }
    out.flush();
    if (out.status() != QTextStream::Ok) {
        result.WriteFailed = true;
        return false;
    }
    return true;
}

} // namespace

TArchiveExportResult ExportArchive(const QString& table, const TArchiveExportRange& range,
                                   bool json, bool captions, QTextStream& out,
                                   std::optional<int> plantNumber) {
    TArchiveExportResult result;
    TCliCsv csv(out, captions);
    // Every JSON line starts alike: the envelope and the table.
    const QString head = JsonHead(table);
    const TDateTime from = Stamp(range.From.date(), range.From.time());
    const TDateTime to = Stamp(range.To.date(), range.To.time());
    const QString statement = ArchiveSelectStatement(table, from, to, plantNumber.value_or(-1));
    if (!json)
        csv.Header({{"time", "Время"}, {"value", "Значение"}});
    for (QDate day = range.From.date(); day <= range.To.date() && !result.Interrupted;
         day = day.addDays(1)) {
        const QString dayDir = ArchiveDayDir(Stamp(day, QTime(0, 0)));
        const QString file = JoinPath(dayDir, table + QStringLiteral(".db"));
        if (!QFileInfo(file).isFile())
            continue;
        bool ok = false;
        const std::vector<TArchiveRow> rows = QueryArchive(dayDir, statement, &ok);
        if (!ok && plantNumber && !HasPlantNumberColumn(dayDir, table))
            continue; // a table of no known gauge: none of its rows is that gauge's
        if (!ok) {
            result.Unreadable << file;
            continue;
        }
        if (!ExportDay(out, rows, result, [&](const TArchiveRow& row) {
                ExportLine(out, json, head, RowTime(row.DT), row.V);
            }))
            return result;
    }
    out.flush();
    result.WriteFailed = out.status() != QTextStream::Ok;
    return result;
}

TArchiveExportResult ExportPlantArchive(const TPlantServerSettings& settings, const QString& table,
                                        const TArchiveExportRange& range, int plantNumber,
                                        bool json, bool captions, QTextStream& out) {
    TArchiveExportResult result;
    TCliCsv csv(out, captions);
    const QString head = JsonHead(table);
    TPlantStore store(settings);
    // Connected before the header: a server that cannot be asked prints nothing but the error.
    if (!store.Connect()) {
        result.ServerError = store.LastError();
        return result;
    }
    if (!json)
        csv.Header({{"time", "Время"}, {"value", "Значение"}});
    // A local day at a time, so that a long range never sits in memory whole.
    const qint64 last = range.To.toMSecsSinceEpoch();
    for (QDate day = range.From.date(); day <= range.To.date() && !result.Interrupted;
         day = day.addDays(1)) {
        const qint64 from = day == range.From.date() ? range.From.toMSecsSinceEpoch()
                                                     : day.startOfDay().toMSecsSinceEpoch();
        const qint64 to =
            day == range.To.date() ? last : day.addDays(1).startOfDay().toMSecsSinceEpoch() - 1;
        bool ok = false;
        const std::vector<TPlantPoint> points = store.ReadRange(plantNumber, table, from, to, &ok);
        if (!ok) {
            result.ServerError = store.LastError();
            break;
        }
        if (!ExportDay(out, points, result, [&](const TPlantPoint& p) {
                ExportLine(out, json, head, IsoTimeText(QDateTime::fromMSecsSinceEpoch(p.TimeMs)),
                           p.Value);
            }))
            return result;
    }
    out.flush();
    result.WriteFailed = out.status() != QTextStream::Ok;
    return result;
}

QString ArchiveRootRefusal() {
    const QString root = ArchiveRoot();
    const QFileInfo info(root);
    const QString shown = QStringLiteral("каталог архива ") + QDir::toNativeSeparators(root);
    if (!info.exists()) {
        // A program folder given as a file shows as that file, not as a missing archive.
        QFileInfo above(info.absolutePath());
        while (!above.exists() && !above.isRoot())
            above.setFile(above.absolutePath());
        if (above.exists() && !above.isDir())
            return shown + QStringLiteral(" не существует: ") +
                   QDir::toNativeSeparators(above.filePath()) + QStringLiteral(" — не каталог");
        // Not made yet in a real folder: nothing archived, an empty range.
        return QString();
    }
    if (!info.isDir())
        return shown + QStringLiteral(" — не каталог");
    if (!info.isReadable() || !info.isExecutable() || !QDir(root).isReadable())
        return shown + QStringLiteral(" не читается: нет прав доступа");
    return QString();
}

namespace {

// The subfolders of `dir` whose names are `digits` decimal digits, ascending.
QStringList NumberedFolders(const QString& dir, int digits) {
    QStringList names;
    const QStringList all = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : all) {
        bool number = name.size() == digits;
        for (const QChar c : name)
            number = number && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        if (number)
            names << name;
    }
    return names;
}

} // namespace

std::vector<TArchiveTableDays> ListArchiveDays() {
    std::vector<TArchiveTableDays> result;
    for (const TArchiveTable& table : ArchiveTables())
        result.push_back({table, {}});
    const QString root = ArchiveRoot();
    for (const QString& year : NumberedFolders(root, 4)) {
        const QString yearDir = JoinPath(root, year);
        for (const QString& month : NumberedFolders(yearDir, 2)) {
            const QString monthDir = JoinPath(yearDir, month);
            for (const QString& day : NumberedFolders(monthDir, 2)) {
                const QDate date(year.toInt(), month.toInt(), day.toInt());
                if (!date.isValid())
                    continue;
                const QString dayDir = JoinPath(monthDir, day);
                for (TArchiveTableDays& t : result)
                    if (QFileInfo(JoinPath(dayDir, t.Table.Name + QStringLiteral(".db"))).isFile())
                        t.Days.push_back(date);
            }
        }
    }
    return result;
}
