#include "uArchiveLoad.h"
#include "uArchiveRead.h"

#include "uDataCtrl.h"
#include "uParamStr.h"
#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <thread>

namespace {

const QDate Epoch(1899, 12, 30);
constexpr std::int64_t MsPerDay = 86400000;
// Days from 1 January 1970 to 30 December 1899, the day count's epoch.
constexpr std::int64_t DayCountOffset = 25569;
// Rows between two calls of the yield hook.
constexpr unsigned YieldEvery = 16384;
// Rows that the writer may add to a table between the count and the read.
constexpr std::size_t ReserveSlack = 4096;

std::int64_t StampMs(TDateTime value) {
    return std::llround((value - static_cast<double>(DayCountOffset)) * double(MsPerDay));
}

QString DayDirOf(const QDate& date) {
    return ArchiveDayDir(static_cast<double>(Epoch.daysTo(date)) + 0.5);
}

// The table file of a day, or empty when the name is unusable or the file does not exist.
QString ExistingTable(const QString& dayDir, const QString& table) {
    if (dayDir.isEmpty() || !IsArchiveTableName(table))
        return {};
    const QString file = JoinPath(dayDir, table + QStringLiteral(".db"));
    return QFileInfo(file).isFile() ? file : QString();
}

// Opens the table file and tells whether its table has the PN column (PRAGMA table_info, which
// lists nothing for a table the file does not hold). False when the file cannot be opened.
bool OpenWithColumns(TArchiveReadConnection& connection, const QString& file, const QString& table,
                     bool& hasPlantNumber) {
    hasPlantNumber = false;
    if (!connection.Open(file, "PRAGMA table_info(" + table.toLatin1() + ")"))
        return false;
    sqlite3_stmt* stmt = connection.Statement();
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const unsigned char* name = sqlite3_column_text(stmt, 1);
        if (name &&
            QByteArray(reinterpret_cast<const char*>(name)).compare("PN", Qt::CaseInsensitive) == 0)
            hasPlantNumber = true;
    }
    return rc == SQLITE_DONE;
}

} // namespace

QList<QDate> ArchiveRangeDates(TDateTime start, TDateTime stop) {
    QList<QDate> dates;
    if (!(start <= stop))
        return dates;
    // Dates taken from the day count itself: a time that a daylight-saving change skips still
    // belongs to its date.
    QDate first, last;
    QTime unused;
    if (!SplitTrendX(TrendXFromDateTime(start), first, unused) ||
        !SplitTrendX(TrendXFromDateTime(stop), last, unused))
        return dates;
    for (QDate d = first; d <= last; d = d.addDays(1))
        dates << d;
    return dates;
}

TDayRead ReadArchiveDay(const QString& dayDir, const QString& table, TDateTime start,
                        TDateTime stop, std::vector<TTrendPoint>& out,
                        const std::function<void()>& yield, const std::atomic<bool>* stopRead,
                        int gauge) {
    const QString file = ExistingTable(dayDir, table);
    if (file.isEmpty())
        return TDayRead::Missing;
    TArchiveReadConnection connection;
    // Rows in table order, which is writing order; the caller checks and restores X order.
    QByteArray select = QByteArrayLiteral("SELECT DT, V FROM ") + table.toLatin1();
    if (gauge == AllGauges) {
        if (!connection.Open(file, select))
            return TDayRead::Failed;
    } else {
        // The gauge is chosen in the statement; a table without the PN column holds the rows
        // of no known gauge only.
        bool hasPlantNumber = false;
        if (!OpenWithColumns(connection, file, table, hasPlantNumber))
            return TDayRead::Failed;
        if (hasPlantNumber)
            select += gauge < 0 ? QByteArrayLiteral(" WHERE PN IS NULL")
                                : " WHERE PN = " + QByteArray::number(gauge);
        else if (gauge >= 0)
            return TDayRead::Read;
        if (!connection.Prepare(select))
            return TDayRead::Failed;
    }
    const std::int64_t low = StampMs(start);
    const std::int64_t high = StampMs(stop);
    sqlite3_stmt* stmt = connection.Statement();
    unsigned counter = 0;
    TArchiveDTParser parser;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        if (++counter % YieldEvery == 0) {
            if (yield)
                yield();
            if (stopRead && stopRead->load(std::memory_order_relaxed))
                return TDayRead::Stopped;
        }
        // The column values read directly: the connection is this thread's alone and opened
        // without a mutex, so the values need none either, and each saves a call per column.
        sqlite3_value* dt = sqlite3_column_value(stmt, 0);
        sqlite3_value* v = sqlite3_column_value(stmt, 1);
        if (sqlite3_value_type(v) == SQLITE_NULL)
            continue;
        std::int64_t ms = 0;
        const unsigned char* text = sqlite3_value_text(dt);
        if (!parser.Parse(text, sqlite3_value_bytes(dt), ms) || ms < low || ms > high)
            continue;
        out.push_back({static_cast<double>(ms) / 1000.0, sqlite3_value_double(v)});
    }
    // A file damaged or cut part-way: the rows before the damage are good and stay.
    return rc == SQLITE_DONE ? TDayRead::Read : TDayRead::Failed;
}

qint64 ArchiveDayRowBound(const QString& dayDir, const QString& table) {
    const QString file = ExistingTable(dayDir, table);
    TArchiveReadConnection connection;
    if (file.isEmpty() ||
        !connection.Open(file, QByteArrayLiteral("SELECT max(rowid) FROM ") + table.toLatin1()))
        return 0;
    if (sqlite3_step(connection.Statement()) != SQLITE_ROW)
        return 0;
    return std::max<qint64>(0, sqlite3_column_int64(connection.Statement(), 0));
}

namespace {

// What ArchiveDayGauges found in a table file, and the state of the file it was found in.
struct TGaugeCacheEntry {
    qint64 Size = -1;
    qint64 Modified = 0;
    qint64 LogSize = -1;
    qint64 LogModified = 0;
    std::vector<TGaugeRows> Gauges;
};

std::mutex GaugeCacheMutex;
QHash<QString, TGaugeCacheEntry>& GaugeCache() {
    static QHash<QString, TGaugeCacheEntry> cache;
    return cache;
}

void FileState(const QString& file, qint64& size, qint64& modified) {
    const QFileInfo info(file);
    size = info.exists() ? info.size() : -1;
    modified = info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0;
}

// Counts the rows of each gauge in one pass over the PN column. False when the file cannot be
// read to its end (`out` then holds what was counted before the damage).
bool CountGauges(const QString& file, const QString& table, std::vector<TGaugeRows>& out) {
    TArchiveReadConnection connection;
    bool hasPlantNumber = false;
    if (!OpenWithColumns(connection, file, table, hasPlantNumber))
        return false;
    const QByteArray name = table.toLatin1();
    if (!connection.Prepare(hasPlantNumber ? "SELECT PN FROM " + name
                                           : "SELECT count(*) FROM " + name))
        return false;
    sqlite3_stmt* stmt = connection.Statement();
    if (!hasPlantNumber) {
        if (sqlite3_step(stmt) != SQLITE_ROW)
            return false;
        const qint64 rows = sqlite3_column_int64(stmt, 0);
        if (rows > 0)
            out.push_back({UnknownGauge, rows});
        return true;
    }
    // Plant numbers are 16-bit: counted in a table by number; any other integer aside.
    std::vector<qint64> counts(65536, 0);
    qint64 unknown = 0;
    std::map<int, qint64> others;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        sqlite3_value* pn = sqlite3_column_value(stmt, 0);
        if (sqlite3_value_type(pn) == SQLITE_NULL) {
            ++unknown;
            continue;
        }
        const sqlite3_int64 n = sqlite3_value_int64(pn);
        if (n >= 0 && n < 65536)
            ++counts[static_cast<std::size_t>(n)];
        else if (n >= 0 && n <= std::numeric_limits<int>::max())
            ++others[static_cast<int>(n)];
    }
    // A file damaged part-way: the rows counted before the damage are still listed.
    if (unknown > 0)
        out.push_back({UnknownGauge, unknown});
    for (std::size_t n = 0; n < counts.size(); ++n)
        if (counts[n] > 0)
            out.push_back({static_cast<int>(n), counts[n]});
    for (const auto& [n, rows] : others)
        out.push_back({n, rows});
    return rc == SQLITE_DONE;
}

void AddGauges(std::vector<TGaugeRows>& sum, const std::vector<TGaugeRows>& add) {
    for (const TGaugeRows& g : add) {
        auto at = std::lower_bound(sum.begin(), sum.end(), g.Gauge,
                                   [](const TGaugeRows& a, int gauge) { return a.Gauge < gauge; });
        if (at != sum.end() && at->Gauge == g.Gauge)
            at->Rows += g.Rows;
        else
            sum.insert(at, g);
    }
}

// The gauge's rows of a day table from what ArchiveDayGauges keeps, without reading the file;
// false when nothing is kept for the file as it is now.
bool KeptGaugeRows(const QString& dayDir, const QString& table, int gauge, qint64& rows) {
    const QString file = ExistingTable(dayDir, table);
    rows = 0;
    if (file.isEmpty())
        return true;
    TGaugeCacheEntry now;
    FileState(file, now.Size, now.Modified);
    FileState(file + QStringLiteral("-wal"), now.LogSize, now.LogModified);
    std::lock_guard lock(GaugeCacheMutex);
    const auto it = GaugeCache().constFind(file);
    if (it == GaugeCache().constEnd() || it->Size != now.Size || it->Modified != now.Modified ||
        it->LogSize != now.LogSize || it->LogModified != now.LogModified)
        return false;
    for (const TGaugeRows& g : it->Gauges)
        if (g.Gauge == gauge)
            rows = g.Rows;
    return true;
}

} // namespace

std::vector<TGaugeRows> ArchiveDayGauges(const QString& dayDir, const QString& table) {
    const QString file = ExistingTable(dayDir, table);
    if (file.isEmpty())
        return {};
    TGaugeCacheEntry entry;
    FileState(file, entry.Size, entry.Modified);
    FileState(file + QStringLiteral("-wal"), entry.LogSize, entry.LogModified);
    {
        std::lock_guard lock(GaugeCacheMutex);
        const auto it = GaugeCache().constFind(file);
        if (it != GaugeCache().constEnd() && it->Size == entry.Size &&
            it->Modified == entry.Modified && it->LogSize == entry.LogSize &&
            it->LogModified == entry.LogModified)
            return it->Gauges;
    }
    // What a damaged file gave is listed but not kept: it is counted again next time.
    if (!CountGauges(file, table, entry.Gauges))
        return entry.Gauges;
    std::lock_guard lock(GaugeCacheMutex);
    GaugeCache().insert(file, entry);
    return entry.Gauges;
}

std::vector<TGaugeRows> ArchiveRangeGauges(const QStringList& tables, TDateTime start,
                                           TDateTime stop, const std::function<void()>& yield) {
    std::vector<TGaugeRows> gauges;
    for (const QDate& d : ArchiveRangeDates(start, stop)) {
        const QString dir = DayDirOf(d);
        for (const QString& table : tables) {
            AddGauges(gauges, ArchiveDayGauges(dir, table));
            if (yield)
                yield();
        }
    }
    return gauges;
}

namespace {

// One day table to read: filled by a reader thread, taken by the calling thread.
struct TDayJob {
    QDate Date;
    QString Dir;
    const TArchiveSource* Source = nullptr;
    qint64 Bound = 0; // rows the table may hold
    std::vector<TTrendPoint> Rows;
    TDayRead Result = TDayRead::Missing;
    bool Done = false;
};

} // namespace

TArchiveLoadResult LoadArchiveRange(const std::vector<TArchiveSource>& sources, TDateTime start,
                                    TDateTime stop, const TArchiveLoadHooks& hooks) {
    TArchiveLoadResult result;
    const QList<QDate> dates = ArchiveRangeDates(start, stop);
    result.Days = static_cast<int>(dates.size());
    if (dates.isEmpty())
        return result;
    std::vector<const TArchiveSource*> used;
    for (const TArchiveSource& source : sources) {
        if (source.Data)
            used.push_back(&source);
    }
    std::vector<TDayJob> jobs;
    jobs.reserve(static_cast<std::size_t>(dates.size()) * used.size());
    for (const QDate& d : dates) {
        const QString dir = DayDirOf(d);
        for (const TArchiveSource* source : used) {
            TDayJob job;
            job.Date = d;
            job.Dir = dir;
            job.Source = source;
            jobs.push_back(std::move(job));
        }
    }
    const auto cancelled = [&hooks, &result] {
        if (!result.Cancelled && hooks.Cancel && hooks.Cancel())
            result.Cancelled = true;
        return result.Cancelled;
    };
    // One allocation per line: the points of a month are not moved again while they load.
    for (const TArchiveSource* source : used) {
        qint64 bound = 0;
        for (TDayJob& job : jobs) {
            if (job.Source != source)
                continue;
            // One gauge of a table shared by many: its rows when they were counted already
            // (the window lists the gauges first); otherwise no reserve, the line grows.
            if (source->Gauge == AllGauges)
                job.Bound = ArchiveDayRowBound(job.Dir, source->Table);
            else if (!KeptGaugeRows(job.Dir, source->Table, source->Gauge, job.Bound))
                job.Bound = 0;
            bound += job.Bound;
            if (hooks.Yield)
                hooks.Yield();
            if (cancelled())
                return result;
        }
        if (bound > 0)
            source->Data->Reserve(source->Data->Count() + static_cast<std::size_t>(bound) +
                                  ReserveSlack);
    }

    const int threads =
        hooks.Threads > 0 ? hooks.Threads : std::clamp(QThread::idealThreadCount(), 1, 4);
    // Readers run at most this many jobs ahead of the one being taken, so that finished days
    // waiting for their turn hold little memory.
    const std::size_t ahead = static_cast<std::size_t>(threads) * 2;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t nextJob = 0;
    std::size_t taken = 0;
    bool stopping = false;
    std::atomic<bool> abandon{false}; // a cancel: the day being read is not finished
    const auto reader = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] {
                return stopping || (nextJob < jobs.size() && nextJob < taken + ahead);
            });
            if (stopping)
                return;
            TDayJob& job = jobs[nextJob++];
            lock.unlock();
            std::vector<TTrendPoint> rows;
            rows.reserve(static_cast<std::size_t>(job.Bound) + ReserveSlack);
            const TDayRead read = ReadArchiveDay(job.Dir, job.Source->Table, start, stop, rows, {},
                                                 &abandon, job.Source->Gauge);
            lock.lock();
            job.Rows = std::move(rows);
            job.Result = read;
            job.Done = true;
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    // The readers are stopped and joined however this function is left.
    struct TJoin {
        std::function<void()> Run;
        ~TJoin() { Run(); }
    } join{[&] {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        abandon = true;
        changed.notify_all();
        for (std::thread& t : pool)
            t.join();
    }};
    for (std::size_t i = 0; i < std::min<std::size_t>(threads, jobs.size()); ++i)
        pool.emplace_back(reader);

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::vector<TTrendPoint> rows;
        TDayRead read = TDayRead::Missing;
        {
            std::unique_lock lock(mutex);
            while (!changed.wait_for(lock, std::chrono::milliseconds(20),
                                     [&] { return jobs[i].Done; })) {
                lock.unlock();
                if (hooks.Yield)
                    hooks.Yield();
                const bool stop = cancelled();
                lock.lock();
                if (stop)
                    return result; // the readers are stopped by the join
            }
            rows = std::move(jobs[i].Rows);
            read = jobs[i].Result;
            taken = i + 1;
        }
        changed.notify_all();
        if (read == TDayRead::Failed) {
            ++result.Failures;
            if (result.FailedDates.isEmpty() || result.FailedDates.constLast() != jobs[i].Date)
                result.FailedDates << jobs[i].Date;
        }
        result.Rows += static_cast<qint64>(rows.size());
        jobs[i].Source->Data->Append(rows);
        rows = {};
        if (hooks.Yield)
            hooks.Yield();
        if ((i + 1) % used.size() == 0 && hooks.Progress)
            hooks.Progress(static_cast<int>(i / used.size()), static_cast<int>(dates.size()) - 1);
        if (cancelled())
            break;
    }
    return result;
}

qint64 ArchiveRangeRowBound(const QStringList& tables, TDateTime start, TDateTime stop,
                            const std::function<void()>& yield, int gauge) {
    qint64 rows = 0;
    for (const QDate& d : ArchiveRangeDates(start, stop)) {
        const QString dir = DayDirOf(d);
        for (const QString& table : tables) {
            if (gauge == AllGauges) {
                rows += ArchiveDayRowBound(dir, table);
            } else {
                for (const TGaugeRows& g : ArchiveDayGauges(dir, table))
                    if (g.Gauge == gauge)
                        rows += g.Rows;
            }
            if (yield)
                yield();
        }
    }
    return rows;
}

qint64 AvailableMemoryBytes(const QString& meminfo) {
    QFile file(meminfo);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        // "MemAvailable:   12345678 kB"
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.startsWith("MemAvailable:"))
                continue;
            const QList<QByteArray> fields = line.mid(13).simplified().split(' ');
            bool ok = false;
            const qint64 kb = fields.value(0).toLongLong(&ok);
            if (ok && kb >= 0 && fields.value(1) == "kB")
                return kb * 1024;
        }
    }
    return FallbackMemoryBytes;
}

namespace {

QString SizeText(double bytes) {
    const QLocale locale;
    constexpr double KiB = 1024.0, MiB = KiB * 1024, GiB = MiB * 1024;
    if (bytes >= GiB)
        return locale.toString(bytes / GiB, 'f', 1) + QStringLiteral(" ГБ");
    if (bytes >= MiB)
        return locale.toString(std::ceil(bytes / MiB), 'f', 0) + QStringLiteral(" МБ");
    return locale.toString(std::ceil(bytes / KiB), 'f', 0) + QStringLiteral(" КБ");
}

} // namespace

QString LoadTooLargeText(qint64 points, double bytes, qint64 limit) {
    return QStringLiteral("Диапазон слишком велик: около %1 точек займут около %2 памяти, "
                          "а доступно %3.\nВыберите диапазон короче.")
        .arg(QLocale().toString(points), SizeText(bytes), SizeText(static_cast<double>(limit)));
}

QString UnreadableDaysText(const QList<QDate>& dates) {
    constexpr int Listed = 10;
    QStringList days;
    for (int i = 0; i < dates.size() && i < Listed; ++i)
        days << dates.at(i).toString(QStringLiteral("dd.MM.yyyy"));
    QString text = QStringLiteral("Не читается архив за ") + days.join(QStringLiteral(", "));
    if (dates.size() > Listed)
        text += QStringLiteral(" и ещё %1").arg(dates.size() - Listed);
    return text;
}
