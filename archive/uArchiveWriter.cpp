#include "archive/uArchiveWriter.h"

#include "devicelink/uLog.h"
#include "devicelink/uParamStr.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <utility>
#include <variant>

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
    quint64 Seq = 0; // order of posting, from 1
    std::variant<TArchiveBatch, TLine> Work;
};

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

// Switches a table back to the rollback journal before its connection closes, so that at rest
// it needs no "-wal" or "-shm" file and a read-only reader creates none. A reader holding the
// table prevents the switch for a moment: tried again for the busy time-out.
void LeaveWal(QSqlDatabase& db) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QSqlQuery query(db);
        if (query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) && query.next() &&
            query.value(0).toString().compare(QLatin1String("delete"), Qt::CaseInsensitive) == 0)
            return;
        if (clock.elapsed() >= ArchiveBusyTimeoutMs)
            return;
        std::this_thread::sleep_for(20ms);
    }
}

// The writer thread's open tables of one day directory: one connection per table, kept until
// the day directory (the day or the archive root) changes or the writer ends. Writer thread.
class TDayTables {
public:
    TDayTables() = default;
    ~TDayTables() { CloseAll(); }
    TDayTables(const TDayTables&) = delete;
    TDayTables& operator=(const TDayTables&) = delete;

    // Stores the reading's row, committed on return; false when it was not stored.
    bool Insert(const TArchiveReading& reading) {
        const QString table = reading.Table.trimmed();
        const QString day = ArchiveDayDir(reading.Stamp);
        if (!IsArchiveTableName(table) || day.isEmpty())
            return false;
        if (day != Day_) {
            CloseAll();
            Day_ = day;
        }
        const QString file = JoinPath(day, table + QStringLiteral(".db"));
        auto it = Tables_.find(table);
        if (it != Tables_.end() && it->second.Id != FileIdOf(file)) {
            Close(it->second);
            Tables_.erase(it);
            it = Tables_.end();
        }
        if (it == Tables_.end()) {
            TTable opened;
            if (!Open(table, file, opened))
                return false;
            it = Tables_.emplace(table, std::move(opened)).first;
        }
        QSqlQuery& insert = *it->second.Insert;
        insert.bindValue(QStringLiteral(":V"), reading.Value);
        insert.bindValue(QStringLiteral(":DT"), ArchiveDTText(reading.Stamp));
        if (insert.exec())
            return true;
        // Opened afresh for the next reading: a lock or an error may have been passing.
        Close(it->second);
        Tables_.erase(it);
        return false;
    }

    void CloseAll() {
        for (auto& [name, table] : Tables_)
            Close(table);
        Tables_.clear();
        Day_.clear();
    }

private:
    struct TTable {
        QString Connection;
        TFileId Id;
        bool Wal = false;
        std::unique_ptr<QSqlQuery> Insert; // prepared
    };

    bool Open(const QString& table, const QString& file, TTable& out) {
        if (!QDir().mkpath(Day_))
            return false;
        if (!QFileInfo::exists(file) && !CreateArchiveTable(file))
            return false;
        {
            QSqlDatabase db = AddArchiveConnection(file, QStringLiteral("mode=rw"));
            out.Connection = db.connectionName();
            if (db.open()) {
                // Also switches a table left in write-ahead mode back where that is not safe.
                out.Wal = ArchiveUsesWal(Day_);
                QSqlQuery pragma(db);
                pragma.exec(out.Wal ? QStringLiteral("PRAGMA journal_mode=WAL")
                                    : QStringLiteral("PRAGMA journal_mode=DELETE"));
                // With the log, a commit is safe against a crash of the program without a sync
                // of its own; the checkpoints sync.
                pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
                // The writer only appends: a few pages suffice. SQLite's default cache (2 MB
                // per connection) would otherwise keep growing with the day's table, one row's
                // worth of memory a poll per table, for hours.
                pragma.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(WriterCacheKiB));
                auto insert = std::make_unique<QSqlQuery>(db);
                if (insert->prepare(
                        QStringLiteral("INSERT INTO %1 (V, DT) VALUES (:V, :DT)").arg(table))) {
                    out.Insert = std::move(insert);
                    out.Id = FileIdOf(file);
                    return true;
                }
            }
        }
        Close(out);
        return false;
    }

    void Close(TTable& table) {
        table.Insert.reset();
        {
            QSqlDatabase db = QSqlDatabase::database(table.Connection, false);
            if (table.Wal && db.isOpen())
                LeaveWal(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(table.Connection);
    }

    QString Day_;
    std::map<QString, TTable> Tables_; // by table name
};

} // namespace

struct TArchiveWriter::TState {
    TState(std::size_t capacity, std::function<void()> beforeItem)
        : Capacity(std::max<std::size_t>(capacity, 1)), BeforeItem(std::move(beforeItem)) {}

    const std::size_t Capacity;
    const std::function<void()> BeforeItem;

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
    QString DropLogFile;
    bool Stopping = false;
    bool Abandoned = false; // Stop ran out of time: waiting items are dropped
    bool Finished = false;

    std::atomic<quint64> DroppedRows{0};
    std::atomic<quint64> DroppedLines{0};
    std::atomic<quint64> FailedRows{0};
    std::atomic<quint64> FailedLines{0};

    // Mutex held. Counts a dropped item; `report` when the writer is still to write about it.
    void CountDrop(const TItem& item, bool report) {
        if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work)) {
            DroppedRows += batch->size();
            if (report)
                UnreportedRows += batch->size();
        } else {
            ++DroppedLines;
            if (report)
                ++UnreportedLines;
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
            Queue.push_back(std::move(item));
        }
        WorkCv.notify_one();
        return true;
    }

    // Writer thread, Mutex not held.
    void Write(const TItem& item, TDayTables& tables) {
        try {
            if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work)) {
                for (const TArchiveReading& reading : *batch) {
                    if (!tables.Insert(reading))
                        ++FailedRows;
                    if (!AddArchiveText(reading.Table, reading.Stamp, reading.Value,
                                        ArchiveTextPrecision, reading.Decimals))
                        ++FailedLines;
                }
            } else {
                const TLine& line = std::get<TLine>(item.Work);
                if (!AppendLineToFile(line.Path, line.Bytes))
                    ++FailedLines;
            }
        } catch (...) {
            // Only an allocation can fail: the item counts as not written.
            if (const auto* batch = std::get_if<TArchiveBatch>(&item.Work))
                FailedRows += batch->size();
            else
                ++FailedLines;
        }
    }

    // Writer thread, Mutex not held.
    void WriteDropLine(const QString& path, quint64 rows, quint64 lines) {
        if (path.isEmpty())
            return;
        const QString text =
            QStringLiteral("Архив: очередь записи переполнена, пропущено записей: %1, строк "
                           "журнала: %2")
                .arg(rows)
                .arg(lines);
        if (!AppendLineToFile(path, TLog::FormatLine(text)))
            ++FailedLines;
    }

    void Run() {
        TDayTables tables;
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
                Write(item, tables);
                lock.lock();
                Done = item.Seq;
                IdleCv.notify_all();
            } else if (UnreportedRows > 0 || UnreportedLines > 0) {
                // Caught up: one line for every drop since the last one.
                const quint64 rows = std::exchange(UnreportedRows, 0);
                const quint64 lines = std::exchange(UnreportedLines, 0);
                const QString path = DropLogFile;
                Reporting = true;
                lock.unlock();
                WriteDropLine(path, rows, lines);
                lock.lock();
                Reporting = false;
                IdleCv.notify_all();
            } else if (Stopping) {
                break;
            }
        }
        lock.unlock();
        tables.CloseAll();
        lock.lock();
        Finished = true;
        IdleCv.notify_all();
    }
};

TArchiveWriter::TArchiveWriter(std::size_t capacity, std::function<void()> beforeItem)
    : State_(std::make_shared<TState>(capacity, std::move(beforeItem))),
      Thread_([state = State_] { state->Run(); }) {}

TArchiveWriter::~TArchiveWriter() {
    if (!Stop(DefaultStopMs) && Thread_.joinable())
        Thread_.detach();
}

bool TArchiveWriter::PostRows(TArchiveBatch batch) {
    if (batch.empty())
        return true;
    return State_->Post(TItem{0, std::move(batch)});
}

bool TArchiveWriter::PostLine(const QString& path, QByteArray line) {
    return State_->Post(TItem{0, TLine{path, std::move(line)}});
}

void TArchiveWriter::SetDropLogFile(const QString& path) {
    std::lock_guard lock(State_->Mutex);
    State_->DropLogFile = path;
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
