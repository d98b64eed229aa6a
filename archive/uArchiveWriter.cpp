#include "uArchiveWriter.h"

#include "uLog.h"
#include "uParamStr.h"
#include "uPaths.h"
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <utility>
#include <variant>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace std::chrono_literals;

namespace {

// Page cache of a writer connection, KiB.
constexpr int WriterCacheKiB = 64;

// A line for a text file, written whole by AppendLineToFile.
struct TLine {
    QString Path;
    QByteArray Bytes;
};

struct TItem {
    quint64 Seq = 0;       // order of posting, from 1
    TDateTime Stamp = 0.0; // local time of posting: the poll's stamp, or taken by PostLine
    std::variant<TArchiveBatch, TLine> Work;
};

// A stamp split into its local date and time of day, by hand: the writer thread never asks the
// C library for the local time (its time-zone state is the posters'), it takes the stamps that
// come with the items. False for a stamp outside the years 1 to 9999.
bool SplitLocal(TDateTime stamp, QDate& date, QTime& time) {
    if (!(stamp > -693593.0 && stamp < 2958466.0))
        return false;
    const qint64 totalMs = qRound64(stamp * 86400000.0);
    qint64 days = totalMs / 86400000;
    qint64 ms = totalMs % 86400000;
    if (ms < 0) {
        ms += 86400000;
        --days;
    }
    date = QDate(1899, 12, 30).addDays(days);
    time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    return date.isValid() && time.isValid();
}

// The writer's own log line, as TLog::FormatLine writes it, with the given stamp.
QByteArray OwnLogLine(TDateTime stamp, const QString& text) {
    QDate date;
    QTime time;
    if (!SplitLocal(stamp, date, time))
        return TLog::FormatLine(text);
    return (date.toString(QStringLiteral("dd.MM.yyyy")) + QLatin1Char(' ') +
            time.toString(QStringLiteral("hh:mm:ss,zzz")) + QLatin1Char(' ') + text +
            QStringLiteral("\r\n"))
        .toUtf8();
}

// Identity of a table file, so that a table replaced or removed behind an open connection is
// noticed and opened again instead of writing into a file that is gone.
struct TFileId {
    quint64 Device = 0;
    quint64 Inode = 0;
    bool operator==(const TFileId&) const = default;
};

TFileId FileIdOf(const QString& file) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    return {static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino)};
#else
    return QFileInfo::exists(file) ? TFileId{1, 1} : TFileId{};
#endif
}

// SQLite's primary result codes (the low byte of the extended ones).
constexpr int SqlitePerm = 3;
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteReadOnly = 8;
constexpr int SqliteIoErr = 10;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteFull = 13;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteNotADb = 26;

// How long an attempt on a table waits for another connection once the table was found busy,
// until it is written again.
constexpr int QuickBusyMs = 50;
// Write-ahead log frames after which an open table is checkpointed (a frame is a page and a
// small header): the log stays well below ArchiveWalLimitBytes.
constexpr int WalCheckpointPages = 32;

int SqliteCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? code & 0xFF : -1;
}

// What a failed step on a table means for the next attempt.
enum class TFault {
    None,
    Busy,    // another connection holds the table: try again later, the file is sound
    Damaged, // the file is no database, or a damaged one: moved aside
    Other    // a full disk, no rights, ...: try again with the next reading
};

TFault FaultOf(const QSqlError& error) {
    switch (SqliteCode(error)) {
    case SqliteBusy:
    case SqliteLocked:
        return TFault::Busy;
    case SqliteCorrupt:
    case SqliteNotADb:
        return TFault::Damaged;
    default:
        return TFault::Other;
    }
}

// True when the file system of `dir` has (next to) no room left.
bool DiskFull(const QString& dir) {
    const QStorageInfo storage(dir);
    return storage.isValid() && storage.isReady() && storage.bytesAvailable() >= 0 &&
           storage.bytesAvailable() < 64 * 1024;
}

// The same words as any other full-disk failure of the program.
const QString NoRoom = SystemErrorText(ENOSPC);

// The reason for a failure with the system's error number `error` (0: not known) in `dir`.
QString SystemReason(int error, const QString& dir) {
    if (error == 0)
        return DiskFull(dir) ? NoRoom : QStringLiteral("ошибка записи");
    return SystemErrorText(error);
}

// The reason for a failed step on a table in `dir`.
QString SqlReason(const QSqlError& error, const QString& dir) {
    switch (SqliteCode(error)) {
    case SqliteFull:
        return NoRoom;
    case SqliteIoErr:
        return DiskFull(dir) ? NoRoom : QStringLiteral("ошибка записи на диск");
    case SqliteBusy:
    case SqliteLocked:
        return QStringLiteral("таблица занята");
    case SqliteCorrupt:
        return QStringLiteral("файл таблицы повреждён");
    case SqliteNotADb:
        return QStringLiteral("файл не является базой данных");
    case SqlitePerm:
    case SqliteReadOnly:
        return QStringLiteral("нет прав на запись");
    case SqliteCantOpen:
        return DiskFull(dir) ? NoRoom : QStringLiteral("файл таблицы не открывается");
    default:
        break;
    }
    const QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.isEmpty() ? QStringLiteral("ошибка базы данных") : text;
}

// Switches a table back to the rollback journal before its connection closes, so that at rest
// it needs no "-wal" or "-shm" file and a read-only reader creates none. A reader holding the
// table prevents the switch for a moment: tried again for up to `patienceMs`; any other error
// (a full disk, a damaged file) ends the attempt at once.
void LeaveWal(QSqlDatabase& db, int patienceMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QSqlQuery query(db);
        const bool done = query.exec(QStringLiteral("PRAGMA journal_mode=DELETE"));
        if (done && query.next() &&
            query.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0)
            return;
        if (!done && FaultOf(query.lastError()) != TFault::Busy)
            return;
        if (clock.elapsed() >= patienceMs)
            return;
        std::this_thread::sleep_for(20ms);
    }
}

// Why a table could not be written, and what the writer did about it.
struct TTableOutcome {
    QString Reason;    // empty when the row was stored
    QStringList Notes; // lines for the log file (a damaged file moved aside)
};

// The writer thread's open tables of one day directory: one connection per table, kept until
// the day directory (the day or the archive root) changes or the writer ends. Writer thread.
class TDayTables {
public:
    explicit TDayTables(const TArchiveMedia& media) : Media_(media) {}
    ~TDayTables() { CloseAll(); }
    TDayTables(const TDayTables&) = delete;
    TDayTables& operator=(const TDayTables&) = delete;

    // Stores the reading's row, committed on return; false, with the reason, when it was not
    // stored.
    bool Insert(const TArchiveReading& reading, TTableOutcome& outcome) {
        const QString table = reading.Table.trimmed();
        const QString day = ArchiveDayDir(reading.Stamp);
        if (!IsArchiveTableName(table)) {
            outcome.Reason = QStringLiteral("недопустимое имя таблицы");
            return false;
        }
        if (day.isEmpty()) {
            outcome.Reason = QStringLiteral("недопустимое время отсчёта");
            return false;
        }
        if (day != Day_) {
            CloseAll();
            Day_ = day;
        }
        const QString file = JoinPath(day, table + QStringLiteral(".db"));
        // A damaged file is moved aside once per reading; the new file gets the row.
        for (bool movedAside = false;;) {
            TFault fault = TFault::None;
            TTable* open = Find(table, file, outcome.Reason, fault);
            if (open) {
                fault = Exec(*open, reading, outcome.Reason);
                // A table that another connection holds keeps its connection: the next attempt
                // needs no new open and no journal switch.
                if (fault != TFault::None && fault != TFault::Busy)
                    Drop(table);
            }
            // Until a busy table is written again, its attempts wait only briefly.
            if (fault == TFault::None)
                Busy_.erase(table);
            else if (fault == TFault::Busy && Busy_.insert(table).second && open)
                SetBusyTimeout(*open, QuickBusyMs);
            if (fault == TFault::None)
                return true;
            if (fault != TFault::Damaged || movedAside ||
                !MoveAside(table, file, reading.Stamp, outcome.Reason, outcome.Notes))
                return false;
            movedAside = true;
        }
    }

    // Closes every table; a table that a reader holds gets the busy time-out to leave the
    // write-ahead log.
    void CloseAll() {
        for (auto& [name, table] : Tables_)
            Close(table, ArchiveBusyTimeoutMs);
        Tables_.clear();
        Day_.clear();
    }

private:
    struct TTable {
        QString Connection;
        TFileId Id;
        bool Wal = false;
        bool Quick = false;                // the busy time-out is QuickBusyMs
        std::unique_ptr<QSqlQuery> Insert; // prepared
        bool WithPlantNumber = false;      // the table has the PN column
    };

    // The open table, opened when it is not yet (or its file was replaced); null with the
    // reason and the fault when it cannot be opened.
    TTable* Find(const QString& table, const QString& file, QString& reason, TFault& fault) {
        auto it = Tables_.find(table);
        if (it != Tables_.end() && it->second.Id != FileIdOf(file)) {
            Close(it->second, 0);
            Tables_.erase(it);
            it = Tables_.end();
        }
        if (it != Tables_.end())
            return &it->second;
        TTable opened;
        fault = Open(table, file, opened, reason);
        if (fault != TFault::None)
            return nullptr;
        return &Tables_.emplace(table, std::move(opened)).first->second;
    }

    TFault Exec(TTable& table, const TArchiveReading& reading, QString& reason) {
        QSqlQuery& insert = *table.Insert;
        BindArchiveRow(insert, table.WithPlantNumber, reading.Value, ArchiveDTText(reading.Stamp),
                       reading.PlantNumber);
        if (insert.exec()) {
            if (table.Quick) {
                SetBusyTimeout(table, ArchiveBusyTimeoutMs);
                table.Quick = false;
            }
            return TFault::None;
        }
        const QSqlError error = insert.lastError();
        reason = SqlReason(error, Day_);
        return FaultOf(error);
    }

    void Drop(const QString& table) {
        const auto it = Tables_.find(table);
        if (it == Tables_.end())
            return;
        Close(it->second, 0);
        Tables_.erase(it);
    }

    static void SetBusyTimeout(TTable& table, int ms) {
        QSqlDatabase db = QSqlDatabase::database(table.Connection, false);
        QSqlQuery query(db);
        query.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(ms));
        table.Quick = ms < ArchiveBusyTimeoutMs;
    }

    TFault Open(const QString& table, const QString& file, TTable& out, QString& reason) {
        errno = 0;
        if (!QDir().mkpath(Day_)) {
            reason = SystemReason(errno, Day_);
            return TFault::Other;
        }
        if (!QFileInfo::exists(file) && !CreateArchiveTable(file, Media_)) {
            reason = DiskFull(Day_) ? NoRoom : QStringLiteral("файл таблицы не создаётся");
            return TFault::Other;
        }
        TFault fault = TFault::Other;
        {
            QSqlDatabase db = AddArchiveConnection(file, QStringLiteral("mode=rw"));
            out.Connection = db.connectionName();
            if (!db.open()) {
                reason = SqlReason(db.lastError(), Day_);
                fault =
                    FaultOf(db.lastError()) == TFault::Damaged ? TFault::Damaged : TFault::Other;
            } else {
                if (Busy_.count(table))
                    SetBusyTimeout(out, QuickBusyMs);
                fault = Prepare(db, table, file, out, reason);
            }
        }
        if (fault != TFault::None) {
            Close(out, 0);
            out.Connection.clear();
        }
        return fault;
    }

    TFault Prepare(QSqlDatabase& db, const QString& table, const QString& file, TTable& out,
                   QString& reason) {
        // Also switches a table left in write-ahead mode back where that is not safe. The
        // first statement reads the file: one that is no database fails here.
        const bool wal = ArchiveUsesWal(Day_, Media_);
        QSqlQuery pragma(db);
        if (!pragma.exec(wal ? QStringLiteral("PRAGMA journal_mode=WAL")
                             : QStringLiteral("PRAGMA journal_mode=DELETE"))) {
            // Busy: a reader holds the table; it is used in the mode it is in.
            const TFault fault = FaultOf(pragma.lastError());
            if (fault != TFault::Busy) {
                reason = SqlReason(pragma.lastError(), Day_);
                return fault;
            }
        }
        out.Wal = wal;
        if (wal) {
            // Checkpointed every few dozen rows and cut back after a checkpoint that a reader
            // held up, so that the log never fills a nearly full disk.
            pragma.exec(QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(WalCheckpointPages));
            pragma.exec(QStringLiteral("PRAGMA journal_size_limit=%1").arg(ArchiveWalLimitBytes));
        }
        // With the log, a commit is safe against a crash of the program without a sync of its
        // own; the checkpoints sync.
        pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        // The writer only appends: a few pages suffice. SQLite's default cache (2 MB per
        // connection) would otherwise keep growing with the day's table, one row's worth of
        // memory a poll per table, for hours.
        pragma.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(WriterCacheKiB));
        auto insert = std::make_unique<QSqlQuery>(db);
        if (PrepareArchiveInsert(*insert, table, out.WithPlantNumber)) {
            out.Insert = std::move(insert);
            out.Id = FileIdOf(file);
            return TFault::None;
        }
        const QSqlError error = insert->lastError();
        TFault fault = FaultOf(error);
        reason = SqlReason(error, Day_);
        // A database without the table (an empty file, a foreign one) cannot take the rows.
        if (fault == TFault::Other && !HasTable(db, table)) {
            reason = QStringLiteral("в файле нет таблицы %1").arg(table);
            fault = TFault::Damaged;
        }
        return fault;
    }

    // True unless the database surely has no table of that name.
    static bool HasTable(QSqlDatabase& db, const QString& table) {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral(
                "SELECT 1 FROM sqlite_master WHERE type='table' AND name=:name COLLATE NOCASE")))
            return true;
        query.bindValue(QStringLiteral(":name"), table);
        return !query.exec() || query.next() || query.lastError().isValid();
    }

    // Renames a damaged table file (with its log or journal) beside itself under a name that
    // no reader takes for a table and no earlier file has; the next open starts a new file.
    // The name tells when: the stamp of the reading that found the damage.
    bool MoveAside(const QString& table, const QString& file, TDateTime stamp, QString& reason,
                   QStringList& notes) {
        const QString damage = reason;
        QDate date;
        QTime time;
        if (!SplitLocal(stamp, date, time))
            return false;
        const QString base = file + QStringLiteral(".damaged-") +
                             date.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('-') +
                             time.toString(QStringLiteral("HHmmss"));
        const auto taken = [](const QString& name) {
            for (const char* suffix : {"", "-wal", "-journal"})
                if (QFileInfo::exists(name + QLatin1String(suffix)))
                    return true;
            return false;
        };
        QString aside = base;
        for (int n = 2; taken(aside); ++n) {
            if (n > 1000) {
                reason = damage + QStringLiteral("; файл не переименовать");
                return false;
            }
            aside = base + QLatin1Char('-') + QString::number(n);
        }
        errno = 0;
        if (!QFile::rename(file, aside)) {
            reason =
                damage + QStringLiteral("; файл не переименовать: ") + SystemReason(errno, Day_);
            return false;
        }
        // A log or journal left beside it belongs to the damaged file, never to the new one.
        for (const char* suffix : {"-wal", "-journal"}) {
            const QString from = file + QLatin1String(suffix);
            if (QFileInfo::exists(from) && !QFile::rename(from, aside + QLatin1String(suffix)))
                QFile::remove(from);
        }
        QFile::remove(file + QStringLiteral("-shm"));
        notes << QStringLiteral("Архив: таблица %1: %2, файл переименован в %3, начат новый файл")
                     .arg(table, damage, QFileInfo(aside).fileName());
        return true;
    }

    void Close(TTable& table, int patienceMs) {
        table.Insert.reset();
        if (table.Connection.isEmpty())
            return;
        {
            QSqlDatabase db = QSqlDatabase::database(table.Connection, false);
            if (table.Wal && db.isOpen()) {
                if (patienceMs < ArchiveBusyTimeoutMs)
                    SetBusyTimeout(table, patienceMs);
                LeaveWal(db, patienceMs);
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(table.Connection);
    }

    const TArchiveMedia Media_;
    QString Day_;
    std::map<QString, TTable> Tables_; // by table name
    std::set<QString> Busy_;           // tables found busy and not written since
};

} // namespace

struct TArchiveWriter::TState {
    TState(std::size_t capacity, std::function<void()> beforeItem, const TArchiveMedia& media)
        : Capacity(std::max<std::size_t>(capacity, 1)), BeforeItem(std::move(beforeItem)),
          Media(media) {}

    // The writer's own lines that wait for room in the log file, at most.
    static constexpr std::size_t MaxOwedLines = 64;

    const std::size_t Capacity;
    const std::function<void()> BeforeItem;
    const TArchiveMedia Media;

    // A table or file that failed and has not been written since.
    struct TFailing {
        QString Target;
        QString Reason;
    };
    // The result of one write, for the failure episode.
    struct TOutcome {
        QString Target; // "Hu", "Hu.txt", "rd241209.txt"
        bool Row = false;
        bool Ok = false;
        QString Reason;
    };
    struct TWritten {
        std::vector<TOutcome> Outcomes;
        QStringList Notes; // lines for the log file
    };

    std::mutex Mutex;
    std::condition_variable WorkCv; // the writer waits: an item, a drop to report, Stop
    std::condition_variable IdleCv; // WaitIdle and Stop wait: progress, the end
    // Guarded by Mutex.
    std::deque<TItem> Queue;
    quint64 Posted = 0; // Seq of the last item queued
    quint64 Done = 0;   // Seq of the last item written or given up
    quint64 UnreportedRows = 0;
    quint64 UnreportedLines = 0;
    bool Reporting = false; // the drop line is being written
    QString LogFile;
    bool Stopping = false;
    bool Abandoned = false; // Stop ran out of time: waiting items are dropped
    bool Finished = false;
    std::vector<TFailing> Failing; // in the order they began
    bool InEpisode = false;
    bool EpisodeLogged = false; // the episode's first line is written or owed
    quint64 EpisodeRows = 0;
    quint64 EpisodeLines = 0;
    quint64 Episodes = 0;
    TDateTime LastStamp = 0.0; // of the item posted last
    // Writer thread only: lines for the log file not yet written, oldest first.
    std::deque<TLine> Owed;

    std::atomic<quint64> DroppedRows{0};
    std::atomic<quint64> DroppedLines{0};
    std::atomic<quint64> FailedRows{0};
    std::atomic<quint64> FailedLines{0};

    // Mutex held.
    void BeginEpisode() {
        if (InEpisode)
            return;
        InEpisode = true;
        EpisodeLogged = false;
        EpisodeRows = 0;
        EpisodeLines = 0;
        ++Episodes;
    }

    // Mutex held. Counts a dropped item; `report` when it was dropped from the full queue and
    // the writer is still to write about it.
    void CountDrop(const TItem& item, bool report) {
        if (report)
            BeginEpisode();
        if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work)) {
            DroppedRows += batch->size();
            if (report) {
                UnreportedRows += batch->size();
                EpisodeRows += batch->size();
            }
        } else {
            ++DroppedLines;
            if (report) {
                ++UnreportedLines;
                ++EpisodeLines;
            }
        }
    }

    bool Post(TItem item) {
        {
            std::lock_guard lock(Mutex);
            if (Stopping) {
                CountDrop(item, false);
                return false;
            }
            if (Queue.size() >= Capacity) {
                CountDrop(Queue.front(), true);
                Queue.pop_front();
            }
            item.Seq = ++Posted;
            LastStamp = item.Stamp;
            Queue.push_back(std::move(item));
        }
        WorkCv.notify_one();
        return true;
    }

    // Writer thread, Mutex not held. The text twin line of a reading.
    static bool WriteTwin(const TArchiveReading& reading, QString& reason) {
        const QString table = reading.Table.trimmed();
        const QString dir = ArchiveDayDir(reading.Stamp);
        if (!IsArchiveTableName(table) || dir.isEmpty()) {
            reason = QStringLiteral("недопустимое имя таблицы или время отсчёта");
            return false;
        }
        int error = 0;
        if (AppendLineToFile(JoinPath(dir, table + QStringLiteral(".txt")),
                             ArchiveTextLine(reading.Stamp, reading.Value, ArchiveTextPrecision,
                                             reading.Decimals),
                             &error))
            return true;
        reason = SystemReason(error, dir);
        return false;
    }

    // Writer thread, Mutex not held.
    TWritten Write(const TItem& item, TDayTables& tables) {
        TWritten written;
        try {
            if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work)) {
                for (const TArchiveReading& reading : *batch) {
                    const QString name = reading.Table.trimmed();
                    TTableOutcome table;
                    const bool stored = tables.Insert(reading, table);
                    if (!stored)
                        ++FailedRows;
                    written.Outcomes.push_back({name, true, stored, table.Reason});
                    written.Notes += table.Notes;
                    QString reason;
                    const bool lined = WriteTwin(reading, reason);
                    if (!lined)
                        ++FailedLines;
                    written.Outcomes.push_back(
                        {name + QStringLiteral(".txt"), false, lined, reason});
                }
            } else {
                const TLine& line = std::get<TLine>(item.Work);
                int error = 0;
                const bool ok = AppendLineToFile(line.Path, line.Bytes, &error);
                if (!ok)
                    ++FailedLines;
                const QFileInfo info(line.Path);
                written.Outcomes.push_back({info.fileName(), false, ok,
                                            ok ? QString() : SystemReason(error, info.path())});
            }
        } catch (const std::bad_alloc&) {
            // Only an allocation can fail: the item counts as not written.
            if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work))
                FailedRows += batch->size();
            else
                ++FailedLines;
        }
        return written;
    }

    // Mutex held, writer thread. A line for the log file, written after the current item.
    void Owe(TDateTime stamp, const QString& text) {
        if (LogFile.isEmpty())
            return;
        Owed.push_back(TLine{LogFile, OwnLogLine(stamp, text)});
        if (Owed.size() > MaxOwedLines) {
            Owed.pop_front();
            ++FailedLines;
        }
    }

    // Mutex held, writer thread. Ends the episode once nothing fails and every drop is
    // reported; its end is logged when its beginning was.
    void EndEpisodeIfOver(TDateTime stamp) {
        if (!InEpisode || !Failing.empty() || UnreportedRows > 0 || UnreportedLines > 0)
            return;
        InEpisode = false;
        if (EpisodeLogged)
            Owe(stamp, QStringLiteral("Архив снова записывается, потеряно записей: %1, строк: %2")
                           .arg(EpisodeRows)
                           .arg(EpisodeLines));
    }

    // Mutex held, writer thread. Takes the outcomes of an item into the failure state.
    void Account(const TWritten& written, TDateTime stamp) {
        for (const TOutcome& outcome : written.Outcomes) {
            const auto it = std::find_if(Failing.begin(), Failing.end(), [&](const TFailing& f) {
                return f.Target == outcome.Target;
            });
            if (outcome.Ok) {
                if (it != Failing.end())
                    Failing.erase(it);
                continue;
            }
            BeginEpisode();
            ++(outcome.Row ? EpisodeRows : EpisodeLines);
            if (it == Failing.end())
                Failing.push_back(TFailing{outcome.Target, outcome.Reason});
            else
                it->Reason = outcome.Reason;
            if (!EpisodeLogged) {
                EpisodeLogged = true;
                Owe(stamp, ArchiveHealthText(HealthLocked()));
            }
        }
        for (const QString& note : written.Notes)
            Owe(stamp, note);
        EndEpisodeIfOver(stamp);
    }

    // Writer thread, Mutex not held: the owed lines, in order, as far as they go.
    void WriteOwed() {
        while (!Owed.empty() && AppendLineToFile(Owed.front().Path, Owed.front().Bytes))
            Owed.pop_front();
    }

    // Mutex held.
    TArchiveHealth HealthLocked() const {
        TArchiveHealth health;
        health.Failing = InEpisode;
        if (InEpisode && !Failing.empty()) {
            health.Table = Failing.front().Target;
            health.Reason = Failing.front().Reason;
        } else if (InEpisode) {
            health.Reason = QStringLiteral("очередь записи переполнена");
        }
        health.LostRows = EpisodeRows;
        health.LostLines = EpisodeLines;
        health.Episodes = Episodes;
        return health;
    }

    void Run() {
        TDayTables tables(Media);
        std::unique_lock lock(Mutex);
        for (;;) {
            WorkCv.wait(lock, [this] {
                return !Queue.empty() || Stopping || UnreportedRows > 0 || UnreportedLines > 0;
            });
            if (Abandoned) {
                for (const TItem& item : Queue)
                    CountDrop(item, false);
                Queue.clear();
                Done = Posted;
                break;
            }
            if (!Queue.empty()) {
                const TItem item = std::move(Queue.front());
                Queue.pop_front();
                lock.unlock();
                if (BeforeItem)
                    BeforeItem();
                const TWritten written = Write(item, tables);
                lock.lock();
                try {
                    Account(written, item.Stamp);
                } catch (const std::bad_alloc&) {
                    // The tally is lost, not the rows: the writer goes on with the next item.
                }
                lock.unlock();
                WriteOwed();
                lock.lock();
                Done = item.Seq;
                IdleCv.notify_all();
            } else if (UnreportedRows > 0 || UnreportedLines > 0) {
                // Caught up: one line for every drop since the last one.
                const quint64 rows = std::exchange(UnreportedRows, 0);
                const quint64 lines = std::exchange(UnreportedLines, 0);
                try {
                    Owe(LastStamp,
                        QStringLiteral("Архив: очередь записи переполнена, пропущено записей: "
                                       "%1, строк журнала: %2")
                            .arg(rows)
                            .arg(lines));
                    EndEpisodeIfOver(LastStamp);
                } catch (const std::bad_alloc&) {
                    // The report of the overflow is lost; the counts start again.
                }
                Reporting = true;
                lock.unlock();
                WriteOwed();
                lock.lock();
                Reporting = false;
                IdleCv.notify_all();
            } else if (Stopping) {
                break;
            }
        }
        lock.unlock();
        WriteOwed();
        tables.CloseAll();
        lock.lock();
        Finished = true;
        IdleCv.notify_all();
    }
};

QString ArchiveHealthText(const TArchiveHealth& health) {
    if (!health.Failing)
        return QString();
    if (health.Table.isEmpty())
        return QStringLiteral("Архив не записывается: ") + health.Reason;
    return QStringLiteral("Архив не записывается: %1: %2").arg(health.Table, health.Reason);
}

TArchiveWriter::TArchiveWriter(std::size_t capacity, std::function<void()> beforeItem,
                               const TArchiveMedia& media)
    : State_(std::make_shared<TState>(capacity, std::move(beforeItem), media)),
      Thread_([state = State_] { state->Run(); }) {}

TArchiveWriter::~TArchiveWriter() {
    if (!Stop(DefaultStopMs) && Thread_.joinable())
        Thread_.detach();
}

bool TArchiveWriter::PostRows(TArchiveBatch batch) {
    if (batch.empty())
        return true;
    const TDateTime stamp = batch.front().Stamp;
    return State_->Post(TItem{0, stamp, std::move(batch)});
}

bool TArchiveWriter::PostLine(const QString& path, QByteArray line) {
    return State_->Post(TItem{0, NowDateTime(), TLine{path, std::move(line)}});
}

void TArchiveWriter::SetLogFile(const QString& path) {
    std::lock_guard lock(State_->Mutex);
    State_->LogFile = path;
}

bool TArchiveWriter::WaitIdle(int timeoutMs) {
    TState& s = *State_;
    std::unique_lock lock(s.Mutex);
    const quint64 target = s.Posted;
    const auto idle = [&] {
        return s.Done >= target && s.UnreportedRows == 0 && s.UnreportedLines == 0 && !s.Reporting;
    };
    s.IdleCv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                      [&] { return idle() || s.Finished; });
    return idle() && !s.Abandoned;
}

bool TArchiveWriter::Stop(int timeoutMs) {
    TState& s = *State_;
    {
        std::unique_lock lock(s.Mutex);
        s.Stopping = true;
        s.WorkCv.notify_all();
        if (!s.IdleCv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                               [&] { return s.Finished; })) {
            s.Abandoned = true;
            s.WorkCv.notify_all();
            return false;
        }
    }
    if (Thread_.joinable())
        Thread_.join();
    return true;
}

quint64 TArchiveWriter::DroppedRows() const {
    return State_->DroppedRows.load();
}

quint64 TArchiveWriter::DroppedLines() const {
    return State_->DroppedLines.load();
}

quint64 TArchiveWriter::FailedRows() const {
    return State_->FailedRows.load();
}

quint64 TArchiveWriter::FailedLines() const {
    return State_->FailedLines.load();
}

TArchiveHealth TArchiveWriter::Health() const {
    std::lock_guard lock(State_->Mutex);
    return State_->HealthLocked();
}
