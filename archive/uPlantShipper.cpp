#include "uPlantShipper.h"
#include "uArchiveRead.h"

#include "uDataCtrl.h"
#include "uParamStr.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#ifdef Q_OS_LINUX
#include <pthread.h>
#endif
#include <vector>

namespace {

constexpr qint64 MsPerDay = 86400000;
constexpr qint64 NoTime = std::numeric_limits<qint64>::min();
// A table file changed less than this long ago is opened again even when its size and times
// look unchanged: a file's times are kept to the kernel's tick only.
constexpr qint64 SettleMs = 2000;
// Every day folder and table is looked for again after this long (between, only the days still
// pending and the newest day are).
constexpr qint64 FullScanMs = 10000;

qint64 NowUtcMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

// What tells a table file's changes without opening it.
struct TFileSig {
    quint64 Device = 0;
    quint64 Inode = 0;
    qint64 DbSize = -1;
    qint64 DbTimeNs = 0;
    qint64 WalSize = -1;
    qint64 WalTimeNs = 0;
    bool operator==(const TFileSig&) const = default;
    qint64 NewestMs() const { return std::max(DbTimeNs, WalTimeNs) / 1000000; }
};

bool StatFile(const QByteArray& path, qint64& size, qint64& timeNs, quint64* dev = nullptr,
              quint64* ino = nullptr) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return false;
    size = qint64(st.st_size);
    timeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (dev)
        *dev = quint64(st.st_dev);
    if (ino)
        *ino = quint64(st.st_ino);
    return true;
}

bool SigOf(const QString& file, TFileSig& sig) {
    const QByteArray path = QFile::encodeName(file);
    sig = TFileSig();
    if (!StatFile(path, sig.DbSize, sig.DbTimeNs, &sig.Device, &sig.Inode))
        return false;
    StatFile(path + "-wal", sig.WalSize, sig.WalTimeNs);
    return true;
}

QString FourDigits(const QString& s) {
    return s.size() == 4 && std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.isDigit(); })
               ? s
               : QString();
}

bool TwoDigits(const QString& s) {
    return s.size() == 2 && s.at(0).isDigit() && s.at(1).isDigit();
}

QStringList SortedDirs(const QString& dir, bool (*accept)(const QString&)) {
    QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [accept](const QString& n) { return !accept(n); }),
                names.end());
    return names;
}

bool IsYear(const QString& s) {
    return !FourDigits(s).isEmpty();
}

// One day table open for one read: closed when it goes out of scope.
class TDayRead {
public:
    ~TDayRead() {
        if (Max_)
            sqlite3_finalize(Max_);
    }

    // Opens the table as the trend loader does (TArchiveReadConnection) with its row read and its
    // highest rowid.
    bool Open(const QString& file, const QString& table) {
        const QByteArray name = table.toLatin1();
        // Tables made before the plant number was kept have no PN: their rows read as of no
        // gauge.
        if (!Rows_.Open(file, "SELECT rowid, V, DT, PN FROM " + name +
                                  " WHERE rowid > ?1 ORDER BY rowid LIMIT ?2") &&
            !Rows_.Open(file, "SELECT rowid, V, DT, NULL FROM " + name +
                                  " WHERE rowid > ?1 ORDER BY rowid LIMIT ?2"))
            return false;
        const QByteArray max = "SELECT max(rowid) FROM " + name;
        return sqlite3_prepare_v2(Rows_.Db(), max.constData(), -1, &Max_, nullptr) == SQLITE_OK;
    }

    sqlite3* Db() const { return Rows_.Db(); }
    sqlite3_stmt* Rows() const { return Rows_.Statement(); }
    sqlite3_stmt* Max() const { return Max_; }

private:
    TArchiveReadConnection Rows_;
    sqlite3_stmt* Max_ = nullptr; // finalized before the connection closes
};

} // namespace

QString PlantShipCursorFile(const QString& archiveRoot) {
    return JoinPath(archiveRoot, QStringLiteral("plant-ship.db"));
}

// --- local time to UTC ------------------------------------------------------------------------

TLocalToUtc::TLocalToUtc(QTimeZone zone)
    : Zone_(zone.isValid() ? std::move(zone) : QTimeZone::utc()) {}

int TLocalToUtc::OffsetAtUtcS(qint64 utcMs) const {
    return Zone_.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc()));
}

qint64 TLocalToUtc::Convert(qint64 localMs, qint64 previousUtcMs) {
    qint64 day = localMs / MsPerDay;
    if (localMs % MsPerDay < 0)
        --day;
    if (day != CachedDay_) {
        // Every instant of a local day lies within 14 h of its local midnight taken as UTC:
        // without a change of offset in that span the day has one offset.
        CachedDay_ = day;
        const qint64 from = day * MsPerDay - 15 * 3600000LL;
        const qint64 to = (day + 1) * MsPerDay + 15 * 3600000LL;
        CachedOffsetS_ = OffsetAtUtcS(from);
        CachedConstant_ = true;
        if (Zone_.hasTransitions()) {
            const QTimeZone::OffsetData next =
                Zone_.nextTransition(QDateTime::fromMSecsSinceEpoch(from, QTimeZone::utc()));
            CachedConstant_ = !next.atUtc.isValid() || next.atUtc.toMSecsSinceEpoch() > to;
        } else {
            CachedConstant_ = OffsetAtUtcS(to) == CachedOffsetS_;
        }
    }
    if (CachedConstant_)
        return localMs - qint64(CachedOffsetS_) * 1000;
    // A day with a change of offset: the instants whose local time this is.
    const int before = OffsetAtUtcS(localMs - 15 * 3600000LL);
    const int after = OffsetAtUtcS(localMs + 15 * 3600000LL);
    std::vector<qint64> candidates;
    for (const int offset : {before, after}) {
        const qint64 utc = localMs - qint64(offset) * 1000;
        if (OffsetAtUtcS(utc) == offset &&
            std::find(candidates.begin(), candidates.end(), utc) == candidates.end())
            candidates.push_back(utc);
    }
    if (candidates.empty()) // skipped by the change: the offset before it
        return localMs - qint64(before) * 1000;
    std::sort(candidates.begin(), candidates.end());
    if (candidates.size() == 1)
        return candidates.front();
    // The repeated hour: the earlier instant unless that lies before the previous row.
    for (const qint64 utc : candidates)
        if (previousUtcMs == NoTime || utc >= previousUtcMs)
            return utc;
    return candidates.back();
}

// --- one pass ---------------------------------------------------------------------------------

struct TPlantShipWork::TImpl {
    // One day table, by "yyyy/MM/dd/<table>" (so that the map's order is oldest day first).
    struct TFile {
        QString Path;
        QString Table;
        quint64 Device = 0;
        quint64 Inode = 0;
        qint64 Rowid = 0;          // confirmed
        qint64 LastUtcMs = NoTime; // time of the confirmed row Rowid
        qint64 Pending = 0;        // rows beyond the cursor when last read
        bool Done = false;         // every row up to the end was confirmed at DoneSig
        TFileSig DoneSig;
        bool Seen = false; // found by the last scan
    };
    // A file's share of a batch.
    struct TUpdate {
        QString Key;
        quint64 Device = 0;
        quint64 Inode = 0;
        qint64 Rowid = 0;
        qint64 LastUtcMs = NoTime;
        qint64 Pending = 0;
        bool ReachedEnd = false;
        TFileSig Sig;
    };

    TPlantShipOptions Options;
    QString Target; // the server the cursor belongs to
    QString CursorFile;
    sqlite3* Cursor = nullptr;
    sqlite3_stmt* Save = nullptr;
    std::map<QString, TFile> Files;
    qint64 LastFullScanMs = NoTime;
    TLocalToUtc Clock;

    TImpl(const TPlantServerSettings& settings, TPlantShipOptions options)
        : Options(std::move(options)),
          Clock(Options.Zone.isValid() ? Options.Zone : QTimeZone::systemTimeZone()) {
        Target = QStringLiteral("%1:%2/%3|%4")
                     .arg(settings.Host)
                     .arg(settings.Port)
                     .arg(settings.Database, settings.Service);
        CursorFile = Options.CursorFile.isEmpty() ? PlantShipCursorFile(Options.ArchiveRoot)
                                                  : Options.CursorFile;
        Options.BatchRows = std::max(1, Options.BatchRows);
    }

    ~TImpl() { CloseCursor(); }

    void CloseCursor() {
        if (Save)
            sqlite3_finalize(Save);
        Save = nullptr;
        if (Cursor)
            sqlite3_close_v2(Cursor);
        Cursor = nullptr;
    }

    QString CursorError(const QString& what) const {
        return QStringLiteral("Курсор отправки в архив завода не записывается: %1: %2")
            .arg(QDir::toNativeSeparators(CursorFile), what);
    }

    // Opens the cursor file (made when missing) and loads this server's cursors.
    bool OpenCursor(QString& error) {
        if (Cursor)
            return true;
        QDir().mkpath(QFileInfo(CursorFile).path());
        if (sqlite3_open_v2(QFile::encodeName(CursorFile).constData(), &Cursor,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            error = CursorError(QString::fromUtf8(sqlite3_errmsg(Cursor)));
            CloseCursor();
            return false;
        }
        sqlite3_busy_timeout(Cursor, ArchiveBusyTimeoutMs);
        // A commit survives a crash of the program with the write-ahead log and NORMAL, and
        // with the rollback journal and FULL (network shares).
        const bool wal = ArchiveUsesWal(QFileInfo(CursorFile).path());
        const char* setup = wal ? "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                                : "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;";
        if (sqlite3_exec(Cursor, setup, nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_exec(Cursor,
                         "CREATE TABLE IF NOT EXISTS cursor ("
                         " server TEXT NOT NULL, file TEXT NOT NULL,"
                         " device INTEGER NOT NULL, inode INTEGER NOT NULL,"
                         " row INTEGER NOT NULL, utc INTEGER,"
                         " PRIMARY KEY (server, file))",
                         nullptr, nullptr, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(Cursor,
                               "INSERT OR REPLACE INTO cursor (server, file, device, inode, row,"
                               " utc) VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                               -1, &Save, nullptr) != SQLITE_OK) {
            error = CursorError(QString::fromUtf8(sqlite3_errmsg(Cursor)));
            CloseCursor();
            return false;
        }
        sqlite3_stmt* load = nullptr;
        if (sqlite3_prepare_v2(Cursor,
                               "SELECT file, device, inode, row, utc FROM cursor WHERE server = ?1",
                               -1, &load, nullptr) != SQLITE_OK) {
            error = CursorError(QString::fromUtf8(sqlite3_errmsg(Cursor)));
            CloseCursor();
            return false;
        }
        const QByteArray target = Target.toUtf8();
        sqlite3_bind_text(load, 1, target.constData(), int(target.size()), SQLITE_TRANSIENT);
        while (sqlite3_step(load) == SQLITE_ROW) {
            const QString key =
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(load, 0)));
            TFile& f = Files[key];
            f.Device = quint64(sqlite3_column_int64(load, 1));
            f.Inode = quint64(sqlite3_column_int64(load, 2));
            f.Rowid = sqlite3_column_int64(load, 3);
            f.LastUtcMs = sqlite3_column_type(load, 4) == SQLITE_NULL
                              ? NoTime
                              : sqlite3_column_int64(load, 4);
        }
        sqlite3_finalize(load);
        return true;
    }

    // Writes the batch's cursors in one transaction.
    bool SaveCursors(const std::vector<TUpdate>& updates, QString& error) {
        const QByteArray target = Target.toUtf8();
        bool ok = sqlite3_exec(Cursor, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        for (const TUpdate& u : updates) {
            if (!ok)
                break;
            const QByteArray key = u.Key.toUtf8();
            sqlite3_reset(Save);
            sqlite3_bind_text(Save, 1, target.constData(), int(target.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(Save, 2, key.constData(), int(key.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(Save, 3, sqlite3_int64(u.Device));
            sqlite3_bind_int64(Save, 4, sqlite3_int64(u.Inode));
            sqlite3_bind_int64(Save, 5, u.Rowid);
            if (u.LastUtcMs == NoTime)
                sqlite3_bind_null(Save, 6);
            else
                sqlite3_bind_int64(Save, 6, u.LastUtcMs);
            ok = sqlite3_step(Save) == SQLITE_DONE;
        }
        if (ok && sqlite3_exec(Cursor, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        error = CursorError(QString::fromUtf8(sqlite3_errmsg(Cursor)));
        sqlite3_exec(Cursor, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }

    void AddDay(const QString& rel) {
        const QString dir = JoinPath(Options.ArchiveRoot, rel);
        const QStringList names =
            QDir(dir).entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name);
        for (const QString& name : names) {
            const QString table = name.chopped(3);
            if (!IsArchiveTableName(table))
                continue;
            TFile& f = Files[rel + u'/' + table];
            f.Path = JoinPath(dir, name);
            f.Table = table;
            f.Seen = true;
        }
    }

    // Finds the day tables: every day folder on a full scan, else the days with tables not
    // yet confirmed to their end and the newest day.
    void Scan() {
        const qint64 now = NowUtcMs();
        const bool full =
            LastFullScanMs == NoTime || now - LastFullScanMs >= FullScanMs || now < LastFullScanMs;
        QStringList days;
        if (full) {
            LastFullScanMs = now;
            for (auto& [key, f] : Files)
                f.Seen = false;
            for (const QString& y : SortedDirs(Options.ArchiveRoot, IsYear)) {
                const QString yDir = JoinPath(Options.ArchiveRoot, y);
                for (const QString& m : SortedDirs(yDir, TwoDigits))
                    for (const QString& d : SortedDirs(JoinPath(yDir, m), TwoDigits))
                        days << y + u'/' + m + u'/' + d;
            }
        } else {
            for (const auto& [key, f] : Files)
                if (f.Seen && !f.Done) {
                    const QString day = key.left(10);
                    if (days.isEmpty() || days.constLast() != day)
                        days << day;
                }
            // The newest day: a new day's folder is found within one pass.
            const QStringList years = SortedDirs(Options.ArchiveRoot, IsYear);
            if (!years.isEmpty()) {
                const QString yDir = JoinPath(Options.ArchiveRoot, years.constLast());
                const QStringList months = SortedDirs(yDir, TwoDigits);
                if (!months.isEmpty()) {
                    const QStringList ds =
                        SortedDirs(JoinPath(yDir, months.constLast()), TwoDigits);
                    if (!ds.isEmpty())
                        days << years.constLast() + u'/' + months.constLast() + u'/' +
                                    ds.constLast();
                }
            }
        }
        days.removeDuplicates();
        for (const QString& day : std::as_const(days))
            AddDay(day);
    }

    // Reads up to `room` rows of `f` after `from` into `rows`; fills the update.
    void ReadFile(const QString& key, TFile& f, const TFileSig& sig, int room,
                  std::vector<TPlantRow>& rows, TUpdate& u, qint64& skipped) {
        u.Key = key;
        u.Device = sig.Device;
        u.Inode = sig.Inode;
        u.Rowid = f.Rowid;
        u.LastUtcMs = f.LastUtcMs;
        u.Sig = sig;
        u.Pending = f.Pending;
        TDayRead read;
        if (!read.Open(f.Path, f.Table)) {
            // No table to read (a foreign or damaged file): passed over until it changes.
            u.ReachedEnd = true;
            u.Pending = 0;
            return;
        }
        sqlite3_int64 max = 0;
        if (sqlite3_step(read.Max()) == SQLITE_ROW)
            max = sqlite3_column_int64(read.Max(), 0);
        sqlite3_stmt* s = read.Rows();
        sqlite3_bind_int64(s, 1, f.Rowid);
        sqlite3_bind_int64(s, 2, room);
        int got = 0;
        int rc;
        const QString parameter = f.Table;
        // DT as stored, to milliseconds of the local scale with the trend loader's rules; the
        // parser keeps the day of the row before, which a day table repeats.
        TArchiveDTParser parser;
        while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
            ++got;
            u.Rowid = sqlite3_column_int64(s, 0);
            std::int64_t local = 0;
            const bool timeOk =
                parser.Parse(sqlite3_column_text(s, 2), sqlite3_column_bytes(s, 2), local);
            const bool valueOk = sqlite3_column_type(s, 1) != SQLITE_NULL;
            const sqlite3_int64 pn =
                sqlite3_column_type(s, 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, 3);
            if (!timeOk || !valueOk || pn < 0 || pn > std::numeric_limits<int>::max()) {
                ++skipped;
                if (timeOk) // still the previous row's time for the repeated hour
                    u.LastUtcMs = Clock.Convert(local, u.LastUtcMs);
                continue;
            }
            TPlantRow row;
            row.PlantNumber = int(pn);
            row.Parameter = parameter;
            row.TimeMs = Clock.Convert(local, u.LastUtcMs);
            row.Value = sqlite3_column_double(s, 1);
            u.LastUtcMs = row.TimeMs;
            rows.push_back(std::move(row));
        }
        // The end is reached when the read stopped short of the room and without an error
        // (a file damaged part-way keeps its rows before the damage and is tried again).
        u.ReachedEnd = rc == SQLITE_DONE && got < room;
        u.Pending = std::max<qint64>(0, qint64(max) - u.Rowid);
        if (u.ReachedEnd)
            u.Pending = 0;
    }
};

TPlantShipWork::TPlantShipWork(TPlantServerSettings settings, TPlantShipOptions options)
    : Impl_(std::make_unique<TImpl>(settings, std::move(options))), Store_(settings) {
    Station_ = Impl_->Options.Station.trimmed().isEmpty() ? QSysInfo::machineHostName()
                                                          : Impl_->Options.Station.trimmed();
    if (Station_.isEmpty())
        Station_ = QStringLiteral("localhost");
    Store_.SetStatementTimeoutMs(Impl_->Options.StatementTimeoutMs);
}

TPlantShipWork::~TPlantShipWork() = default;

bool TPlantShipWork::Pass(const std::function<bool()>& stop) {
    TImpl& im = *Impl_;
    const auto stopped = [&stop] { return stop && stop(); };
    CursorFailed_ = false;
    if (!im.OpenCursor(Error_)) {
        CursorFailed_ = true;
        return false;
    }
    im.Scan();
    std::vector<TPlantRow> rows;
    rows.reserve(size_t(im.Options.BatchRows));
    std::vector<TImpl::TUpdate> updates;
    for (;;) {
        if (stopped())
            return false;
        rows.clear();
        updates.clear();
        qint64 skipped = 0;
        const qint64 now = NowUtcMs();
        for (auto& [key, f] : im.Files) {
            if (!f.Seen || int(rows.size()) >= im.Options.BatchRows)
                continue;
            TFileSig sig;
            if (!SigOf(f.Path, sig)) {
                f.Seen = false; // gone
                continue;
            }
            if (f.Done && sig == f.DoneSig && now - sig.NewestMs() > SettleMs)
                continue;
            if (sig.Device != f.Device || sig.Inode != f.Inode) {
                // Another file under this name: its rows from the first.
                f.Device = sig.Device;
                f.Inode = sig.Inode;
                f.Rowid = 0;
                f.LastUtcMs = NoTime;
            }
            TImpl::TUpdate u;
            im.ReadFile(key, f, sig, im.Options.BatchRows - int(rows.size()), rows, u, skipped);
            if (u.Rowid == f.Rowid) {
                // Nothing new: nothing to confirm.
                f.Pending = 0;
                if (u.ReachedEnd) {
                    f.Done = true;
                    f.DoneSig = sig;
                }
                continue;
            }
            updates.push_back(std::move(u));
        }
        if (updates.empty()) {
            qint64 pending = 0;
            for (const auto& [key, f] : im.Files)
                pending += f.Seen ? f.Pending : 0;
            Counts_.Pending = pending;
            Error_.clear();
            return true;
        }
        {
            // Rows beyond the confirmed cursors, those of this batch included.
            qint64 pending = 0;
            for (const auto& [key, f] : im.Files)
                pending += f.Seen ? f.Pending : 0;
            for (const TImpl::TUpdate& u : updates) {
                const TImpl::TFile& f = im.Files[u.Key];
                pending += u.Pending + (u.Rowid - f.Rowid) - f.Pending;
            }
            Counts_.Pending = std::max<qint64>(0, pending);
        }
        if (!rows.empty()) {
            const TPlantShipResult shipped = Store_.ShipBatch(Station_, rows);
            if (!shipped.Confirmed) {
                Error_ = shipped.Error;
                return false;
            }
            Counts_.Shipped += qint64(rows.size()) - shipped.Refused;
            Counts_.Inserted += shipped.Inserted;
            Counts_.Skipped += shipped.Refused;
            ++Counts_.Batches;
            qint64 newest = Counts_.LastRowUtcMs;
            for (const TPlantRow& row : rows)
                newest = std::max(newest, row.TimeMs);
            Counts_.LastRowUtcMs = newest;
            Counts_.LastConfirmMs = NowUtcMs();
        }
        if (im.Options.AfterConfirm)
            im.Options.AfterConfirm();
        if (!im.SaveCursors(updates, Error_)) {
            CursorFailed_ = true;
            return false;
        }
        Counts_.Skipped += skipped;
        qint64 pending = 0;
        for (const TImpl::TUpdate& u : updates) {
            TImpl::TFile& f = im.Files[u.Key];
            f.Rowid = u.Rowid;
            f.LastUtcMs = u.LastUtcMs;
            f.Pending = u.Pending;
            f.Done = u.ReachedEnd;
            f.DoneSig = u.Sig;
        }
        for (const auto& [key, f] : im.Files)
            pending += f.Seen ? f.Pending : 0;
        Counts_.Pending = pending;
        if (OnBatch)
            OnBatch();
    }
}

// --- the thread -------------------------------------------------------------------------------

struct TPlantShipper::TState {
    TState(TPlantServerSettings settings, TPlantShipOptions options)
        : Options(options), Work(std::move(settings), std::move(options)) {}

    const TPlantShipOptions Options;
    // Used by the thread alone, but kept as long as the state, so that a late cancel finds its
    // store.
    TPlantShipWork Work;
    std::atomic<bool> Stopping{false};
    mutable std::mutex Mutex;
    mutable std::condition_variable Cv;
    // Guarded by Mutex.
    QString Status;
    TPlantShipCounts Counts;
    quint64 PassesStarted = 0;
    quint64 CleanPass = 0; // the number of the last pass that ended with nothing pending
    bool Finished = false;

    // Thread: after each batch of a long catch-up, the counts for the windows, and the server
    // is plainly there again.
    void Published() {
        {
            std::lock_guard lock(Mutex);
            Counts = Work.Counts();
            Status.clear();
        }
        Cv.notify_all();
    }

    void Run() {
        Work.OnBatch = [this] { Published(); };
#ifdef Q_OS_LINUX
        // Named for top -H and the benchmark's count of its processor time.
        pthread_setname_np(pthread_self(), "plant-ship");
#endif
        int backoff = Options.BackoffFirstMs;
        while (!Stopping) {
            quint64 pass;
            {
                std::lock_guard lock(Mutex);
                pass = ++PassesStarted;
            }
            const bool ok = Work.Pass([this] { return Stopping.load(); });
            int pause;
            {
                std::lock_guard lock(Mutex);
                Counts = Work.Counts();
                if (ok) {
                    Status.clear();
                    CleanPass = pass;
                    backoff = Options.BackoffFirstMs;
                    pause = Options.IdleMs;
                } else {
                    if (!Stopping)
                        Status = Work.Error();
                    pause = backoff;
                    backoff = std::min(std::max(1, backoff) * 2, Options.BackoffMaxMs);
                }
            }
            Cv.notify_all();
            std::unique_lock lock(Mutex);
            Cv.wait_for(lock, std::chrono::milliseconds(std::max(pause, 1)),
                        [this] { return Stopping.load(); });
        }
        // The connection ends with the thread, not with the last owner of the state.
        Work.Store().Disconnect();
        std::lock_guard lock(Mutex);
        Finished = true;
        Cv.notify_all();
    }
};

TPlantShipper::TPlantShipper(TPlantServerSettings settings, TPlantShipOptions options)
    : State_(std::make_shared<TState>(std::move(settings), std::move(options))),
      Thread_([state = State_] { state->Run(); }) {}

TPlantShipper::~TPlantShipper() {
    if (!Stop(DefaultStopMs) && Thread_.joinable())
        Thread_.detach();
}

bool TPlantShipper::Stop(int timeoutMs) {
    TState& s = *State_;
    if (!s.Stopping.exchange(true)) {
        // A connection under way is given up and a statement on its way is cancelled: the
        // batch is not confirmed and is sent again by the next start. The cancel talks to the
        // server, which may not answer: on a thread of its own, which keeps the state.
        s.Work.Store().Abort();
        try {
            std::thread([state = State_] { state->Work.Store().CancelRequest(); }).detach();
        } catch (const std::system_error&) {
            // No thread for it: the statement's time-out still ends the wait.
        }
    }
    {
        std::unique_lock lock(s.Mutex);
        s.Cv.notify_all();
        if (!s.Cv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [&] { return s.Finished; }))
            return false;
    }
    if (Thread_.joinable())
        Thread_.join();
    return true;
}

QString TPlantShipper::StatusText() const {
    std::lock_guard lock(State_->Mutex);
    return State_->Status;
}

TPlantShipCounts TPlantShipper::Counts() const {
    std::lock_guard lock(State_->Mutex);
    return State_->Counts;
}

bool TPlantShipper::WaitCaughtUp(int timeoutMs) const {
    TState& s = *State_;
    std::unique_lock lock(s.Mutex);
    // A pass that starts after this call: the rows written before it are in it.
    const quint64 target = s.PassesStarted + 1;
    return s.Cv.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)), [&] {
        return s.CleanPass >= target || s.Finished;
    }) && s.CleanPass >= target;
}
