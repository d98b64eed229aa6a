// The plant archive's shipper against a throw-away PostgreSQL cluster (tests/support/PgCluster.h).
//
// Catch-up: the day tables of one hour of a line of 32 gauges polled at full pace (27 polls a
// second on the line in all, each poll archiving its four readings Lt, Hu, Lc and V with the
// gauge's plant number) lie unshipped, as after an hour without the server; one pass ships
// them all: rows per second.
//
// Keeping up: the archive writer thread gets the same 27 polls a second for SECONDS while the
// shipper thread ships them as they come: the shipper thread's processor time (its own, from
// /proc) and the program's resident memory before and after, and that every row arrived.
//
//   bench_plant_ship [SECONDS [BATCH]]    (60 s and the shipper's batch size by default)

#include "tests/support/PgCluster.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uPlantShipper.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Gauges = 32;
constexpr double PollsPerSecond = 27.0;
const char* const Tables[] = {"Lt", "Hu", "Lc", "V"};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One hour of polls written straight into the day tables of `root` (as the writer leaves them).
qint64 WriteHour(const QString& root, const QDateTime& start) {
    SetArchiveRoot(root);
    const QString day = ArchiveDayDir(QtToDateTime(start));
    QDir().mkpath(day);
    const int polls = int(3600 * PollsPerSecond);
    qint64 rows = 0;
    for (const char* table : Tables) {
        const QString file = JoinPath(day, QString::fromLatin1(table) + ".db");
        CreateArchiveTable(file);
        sqlite3* db = nullptr;
        sqlite3_open(QFile::encodeName(file).constData(), &db);
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE; BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        const QByteArray sql = QByteArray("INSERT INTO ") + table + " (V, DT, PN) VALUES (?, ?, ?)";
        sqlite3_prepare_v2(db, sql.constData(), -1, &insert, nullptr);
        for (int i = 0; i < polls; ++i) {
            const QDateTime at = start.addMSecs(qint64(i * 1000.0 / PollsPerSecond));
            const QByteArray dt = ArchiveDTText(QtToDateTime(at)).toLatin1();
            sqlite3_reset(insert);
            sqlite3_bind_double(insert, 1, 1000.0 + i * 0.01);
            sqlite3_bind_text(insert, 2, dt.constData(), int(dt.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 3, 5001 + i % Gauges);
            sqlite3_step(insert);
            ++rows;
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    return rows;
}

// Processor time (user + system) of this process's thread named `name`, seconds; -1 if none.
double ThreadCpuSeconds(const char* name) {
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != name)
            continue;
        QFile stat(tasks.filePath(tid + "/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // utime and stime: fields 14 and 15 of the line, 12 and 13 after the name.
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
               double(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

// Processor time of this process so far, seconds.
double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double RssMiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

qint64 ServerRows(const TPgCluster& cluster, const QString& db) {
    return cluster.Value(QStringLiteral("SELECT count(*) FROM readings"), db).toLongLong();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? qMax(5, atoi(argv[1])) : 60;
    const int batchRows = argc > 2 ? qMax(1, atoi(argv[2])) : TPlantShipOptions().BatchRows;
    TPgCluster cluster;
    if (!cluster.Ready()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(cluster.Reason()));
        return 1;
    }
    for (const char* db : {"catchup", "keepup"})
        if (!cluster.Sql(QStringLiteral("CREATE DATABASE ") + db))
            return 1;
    const auto settings = [&](const char* db) {
        TPlantServerSettings s;
        s.Enabled = true;
        s.Host = cluster.SocketDir();
        s.Port = cluster.Port();
        s.Database = QString::fromLatin1(db);
        s.User = cluster.SuperUser();
        return s;
    };
    QTemporaryDir dir;

    // --- catch-up after an hour without the server ---
    {
        const QString root = dir.filePath(QStringLiteral("catchup"));
        const qint64 rows = WriteHour(root, QDateTime(QDate(2026, 11, 3), QTime(9, 0)));
        TPlantShipOptions options;
        options.ArchiveRoot = root;
        options.Station = QStringLiteral("bench");
        options.BatchRows = batchRows;
        TPlantShipWork work(settings("catchup"), options);
        // The schema and the partition made first: they are not part of the catch-up.
        work.Store().EnsureSchema();
        const auto start = Clock::now();
        const double cpu = ProcessCpuSeconds();
        const bool ok = work.Pass();
        const double s = SecondsSince(start);
        const double cpuUsed = ProcessCpuSeconds() - cpu;
        const qint64 stored = ServerRows(cluster, "catchup");
        std::printf("catch-up, 1 h of %d gauges (%lld rows in %d tables): %.2f s, %.0f rows/s, "
                    "%lld batches, server holds %lld rows; shipper's processor %.2f s%s\n",
                    Gauges, static_cast<long long>(rows), int(std::size(Tables)), s,
                    work.Counts().Shipped / s, static_cast<long long>(work.Counts().Batches),
                    static_cast<long long>(stored), cpuUsed,
                    ok ? "" : qPrintable(" FAILED: " + work.Error()));
    }

    // --- keeping up with the line at full pace ---
    {
        const QString root = dir.filePath(QStringLiteral("keepup"));
        SetArchiveRoot(root);
        QDir().mkpath(root);
        TArchiveWriter writer;
        TPlantShipOptions options;
        options.ArchiveRoot = root;
        options.Station = QStringLiteral("bench");
        const QDateTime start = QDateTime::currentDateTime();
        qint64 posted = 0;
        int poll = 0;
        double cpuAtWarm = -1;
        double rssAtWarm = -1;
        {
            TPlantShipper shipper(settings("keepup"), options);
            const auto begin = Clock::now();
            const int warm = 5;
            for (;;) {
                const double t = SecondsSince(begin);
                if (t >= warm + seconds)
                    break;
                if (cpuAtWarm < 0 && t >= warm) {
                    cpuAtWarm = ThreadCpuSeconds("plant-ship");
                    rssAtWarm = RssMiB();
                }
                TArchiveBatch batch;
                const TDateTime stamp = QtToDateTime(start.addMSecs(qint64(t * 1000)));
                for (const char* table : Tables)
                    batch.push_back({QString::fromLatin1(table), stamp, 1000.0 + poll * 0.01, 1,
                                     5001 + poll % Gauges});
                posted += qint64(batch.size());
                writer.PostRows(std::move(batch));
                ++poll;
                std::this_thread::sleep_until(
                    begin + std::chrono::microseconds(qint64(poll * 1e6 / PollsPerSecond)));
            }
            writer.WaitIdle(30000);
            const double cpuAtEnd = ThreadCpuSeconds("plant-ship");
            const double rssAtEnd = RssMiB();
            const auto drain = Clock::now();
            const bool caughtUp = shipper.WaitCaughtUp(60000);
            const TPlantShipCounts c = shipper.Counts();
            std::printf("keeping up, %d gauges at %.0f polls/s (%.0f rows/s) for %d s: shipper "
                        "thread %.2f s of processor (%.2f %% of one core), resident memory "
                        "%.1f MiB -> %.1f MiB (%+.1f MiB); caught up %.2f s after the last poll: "
                        "%s; rows posted %lld, shipped %lld, on the server %lld, batches %lld\n",
                        Gauges, PollsPerSecond, PollsPerSecond * std::size(Tables), seconds,
                        cpuAtEnd - cpuAtWarm, 100.0 * (cpuAtEnd - cpuAtWarm) / seconds, rssAtWarm,
                        rssAtEnd, rssAtEnd - rssAtWarm, SecondsSince(drain),
                        caughtUp ? "yes" : "NO", static_cast<long long>(posted),
                        static_cast<long long>(c.Shipped),
                        static_cast<long long>(ServerRows(cluster, "keepup")),
                        static_cast<long long>(c.Batches));
        }
        writer.Stop();
    }
    return 0;
}
