// Store and forward to the plant archive against a throw-away PostgreSQL cluster (PgCluster.h):
// the day tables written by the archive writer reach the server every row once, whatever
// happens to the server (stopped, killed, refusing the login) or to the shipping process
// (killed mid-batch); two stations with the same plant numbers stay apart; rows without a
// gauge are passed over without holding the cursor; the station's local time becomes UTC
// across the changes of daylight-saving time.

#include "tests/support/ChildRun.h"
#include "tests/support/PlantSettings.h"
#include "tests/support/TestDirs.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uParamStr.h"
#include "uPlantShipper.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTimeZone>
#include <atomic>
#include <csignal>
#include <memory>
#include <mutex>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace {

const QString Unavailable = QStringLiteral("Сервер архива недоступен: ");
const QStringList Tables = {QStringLiteral("Hu"), QStringLiteral("Lt"), QStringLiteral("V")};

#define NEED_SERVER() PG_NEED_SERVER(Cluster)

struct TExpected {
    int Plant;
    QString Parameter;
    qint64 TimeMs;
    double Value;
};

// Polls of several gauges archived through the archive writer, as the program archives them:
// each poll writes one reading per table with the gauge's plant number. Remembers what was
// written. Any thread may call Poll; one at a time.
class TPolls {
public:
    TPolls(int gauges, QDateTime start, int firstPlant = 100)
        : Gauges_(gauges), Start_(std::move(start)), FirstPlant_(firstPlant) {}

    void Poll(TArchiveWriter& writer) {
        std::lock_guard lock(Mutex_);
        const int i = Next_++;
        const QDateTime at = Start_.addMSecs(qint64(i) * 37);
        TArchiveBatch batch;
        for (int t = 0; t < Tables.size(); ++t) {
            TArchiveReading r;
            r.Table = Tables[t];
            r.Stamp = QtToDateTime(at);
            r.Value = i * 10 + t + 0.5;
            r.Decimals = 1;
            r.PlantNumber = FirstPlant_ + i % Gauges_;
            batch.push_back(r);
            Expected_.push_back({r.PlantNumber, r.Table, at.toMSecsSinceEpoch(), r.Value});
        }
        writer.PostRows(std::move(batch));
    }
    std::vector<TExpected> Expected() const {
        std::lock_guard lock(Mutex_);
        return Expected_;
    }

private:
    const int Gauges_;
    const QDateTime Start_;
    const int FirstPlant_;
    mutable std::mutex Mutex_;
    int Next_ = 0;
    std::vector<TExpected> Expected_;
};

// "<rows>|<md5 of every row>" in the server's order.
QString Digest(std::vector<TExpected> rows) {
    std::sort(rows.begin(), rows.end(), [](const TExpected& a, const TExpected& b) {
        return std::tie(a.Plant, a.Parameter, a.TimeMs) < std::tie(b.Plant, b.Parameter, b.TimeMs);
    });
    QByteArray text;
    for (const TExpected& r : rows) {
        if (!text.isEmpty())
            text += ',';
        text += QByteArray::number(r.Plant) + '/' + r.Parameter.toUtf8() + '/' +
                QByteArray::number(r.TimeMs) + '/' + QByteArray::number(r.Value, 'g', 17);
    }
    return QString::number(rows.size()) + u'|' +
           QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex());
}

// A background poster: a poll every few milliseconds until stopped.
class TPoster {
public:
    TPoster(TPolls& polls, TArchiveWriter& writer)
        : Thread_([this, &polls, &writer] {
              while (!Stop_) {
                  polls.Poll(writer);
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          }) {}
    ~TPoster() { Finish(); }
    void Finish() {
        Stop_ = true;
        if (Thread_.joinable())
            Thread_.join();
    }

private:
    std::atomic<bool> Stop_{false};
    std::thread Thread_;
};

bool WaitFor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
    return true;
}

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace

class TestPlantShip : public QObject {
    Q_OBJECT

    std::unique_ptr<TPgCluster> Cluster;

    QString NewDatabase() { return Cluster->NewDatabase(QStringLiteral("ship")); }

    TPlantServerSettings Settings(const QString& database, const QString& user = QString()) {
        return PlantServerSettings(*Cluster, database, user);
    }

    static TPlantShipOptions Options(const QString& root, const QString& station = "st-a") {
        TPlantShipOptions o;
        o.ArchiveRoot = root;
        o.Station = station;
        o.BatchRows = 500;
        o.IdleMs = 50;
        o.BackoffFirstMs = 100;
        o.BackoffMaxMs = 400;
        return o;
    }

    // What the server holds of a station, as Digest.
    QString ServerDigest(const QString& db, const QString& station) {
        const QString count =
            Cluster->Value("SELECT count(*) FROM readings r JOIN stations s ON s.id = r.station_id"
                           " WHERE s.host_name = '" +
                               station + "'",
                           db);
        const QString md5 = Cluster->Value(
            "SELECT md5(coalesce(string_agg(g.plant_number || '/' || p.name || '/' ||"
            " (extract(epoch FROM r.time) * 1000)::bigint || '/' || r.value::text, ','"
            " ORDER BY g.plant_number, p.name, r.time), ''))"
            " FROM readings r JOIN stations s ON s.id = r.station_id"
            " JOIN gauges g ON g.id = r.gauge_id JOIN parameters p ON p.id = r.parameter_id"
            " WHERE s.host_name = '" +
                station + "'",
            db);
        return count + u'|' + md5;
    }

    static QDateTime Start() { return QDateTime(QDate(2026, 3, 10), QTime(9, 0)); }

private slots:
    void initTestCase() {
        Cluster = std::make_unique<TPgCluster>();
        if (!Cluster->Ready())
            qWarning("no PostgreSQL server for the plant archive's tests: %s",
                     qPrintable(Cluster->Reason()));
    }

    void cleanupTestCase() { Cluster.reset(); }

    // Local time to UTC on ordinary days, in the hour a change back repeats (both passes
    // apart, in writing order) and in the hour a change forward skips.
    void localTimeToUtc() {
        const QTimeZone berlin("Europe/Berlin");
        if (!berlin.isValid())
            QSKIP("no time-zone data for Europe/Berlin");
        TLocalToUtc clock(berlin);
        const auto local = [](int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc())
                .toMSecsSinceEpoch();
        };
        const auto utc = local;
        const qint64 none = std::numeric_limits<qint64>::min();
        QCOMPARE(clock.Convert(local(2026, 1, 15, 12, 0), none), utc(2026, 1, 15, 11, 0));
        QCOMPARE(clock.Convert(local(2026, 7, 1, 12, 0, 0, 5), none), utc(2026, 7, 1, 10, 0, 0, 5));
        // 25 October 2026: 03:00 summer time becomes 02:00 winter time.
        qint64 prev = none;
        const std::vector<std::pair<qint64, qint64>> autumn = {
            {local(2026, 10, 25, 1, 59, 59), utc(2026, 10, 24, 23, 59, 59)},
            {local(2026, 10, 25, 2, 30), utc(2026, 10, 25, 0, 30)},
            {local(2026, 10, 25, 2, 59, 59, 999), utc(2026, 10, 25, 0, 59, 59, 999)},
            {local(2026, 10, 25, 2, 0), utc(2026, 10, 25, 1, 0)},
            {local(2026, 10, 25, 2, 30), utc(2026, 10, 25, 1, 30)},
            {local(2026, 10, 25, 3, 0), utc(2026, 10, 25, 2, 0)},
        };
        for (const auto& [in, out] : autumn) {
            const qint64 got = clock.Convert(in, prev);
            QCOMPARE(got, out);
            prev = got;
        }
        // 29 March 2026: 02:00 winter time becomes 03:00 summer time.
        QCOMPARE(clock.Convert(local(2026, 3, 29, 1, 59), none), utc(2026, 3, 29, 0, 59));
        QCOMPARE(clock.Convert(local(2026, 3, 29, 2, 30), none), utc(2026, 3, 29, 1, 30));
        QCOMPARE(clock.Convert(local(2026, 3, 29, 3, 0), none), utc(2026, 3, 29, 1, 0));
    }

    // Rows without a gauge (an old table without PN, a null PN), with a null value or an
    // unreadable time are passed over and counted without holding up the rest; a table file
    // made anew under its name is read from its first row again.
    void rowsWithoutGaugeAndNewFiles() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        const QString day = JoinPath(root, "2026/03/10");
        QVERIFY(QDir().mkpath(day));
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(day + "/Hu.db").constData(), &db), SQLITE_OK);
        QVERIFY(Exec(db, "CREATE TABLE Hu (V REAL, DT TEXT)"));
        QVERIFY(Exec(db, "INSERT INTO Hu VALUES (1.5, '2026-03-10 09:00:00.000'),"
                         " (2.5, '2026-03-10 09:00:01.000')"));
        sqlite3_close(db);
        QVERIFY(CreateArchiveTable(day + "/Lt.db"));
        QCOMPARE(sqlite3_open(QFile::encodeName(day + "/Lt.db").constData(), &db), SQLITE_OK);
        QVERIFY(Exec(db, "INSERT INTO Lt VALUES (1.5, '2026-03-10 09:00:00.000', 7),"
                         " (2.5, '2026-03-10 09:00:01.000', NULL),"
                         " (NULL, '2026-03-10 09:00:02.000', 7),"
                         " (4.5, '10.03.2026 09:00:03', 7),"
                         " (5.5, '2026-03-10 09:00:04.000', 7),"
                         " (6.5, '2026-03-10 09:00:05', 8)"));
        sqlite3_close(db);
        const QString dbName = NewDatabase();
        {
            TPlantShipWork work(Settings(dbName), Options(root));
            QVERIFY2(work.Pass(), qPrintable(work.Error()));
            QCOMPARE(work.Counts().Shipped, qint64(3));
            QCOMPARE(work.Counts().Skipped, qint64(2 + 3));
            QCOMPARE(work.Counts().Pending, qint64(0));
            const qint64 t0 = Start().toMSecsSinceEpoch();
            QCOMPARE(
                ServerDigest(dbName, "st-a"),
                Digest({{7, "Lt", t0, 1.5}, {7, "Lt", t0 + 4000, 5.5}, {8, "Lt", t0 + 5000, 6.5}}));
            // The same file again: nothing more.
            QVERIFY(work.Pass());
            QCOMPARE(work.Counts().Shipped, qint64(3));
        }
        // The table made anew (a damaged one moved aside): its rows have row numbers the
        // cursor has passed already, in another file.
        QVERIFY(QFile::rename(day + "/Lt.db", day + "/Lt.db.damaged-20260310-090006"));
        QVERIFY(CreateArchiveTable(day + "/Lt.db"));
        QCOMPARE(sqlite3_open(QFile::encodeName(day + "/Lt.db").constData(), &db), SQLITE_OK);
        QVERIFY(Exec(db, "INSERT INTO Lt VALUES (9.5, '2026-03-10 09:00:09.000', 7)"));
        sqlite3_close(db);
        TPlantShipWork again(Settings(dbName), Options(root));
        QVERIFY2(again.Pass(), qPrintable(again.Error()));
        QCOMPARE(again.Counts().Shipped, qint64(1));
        QCOMPARE(Cluster->Value("SELECT count(*) FROM readings", dbName), QString("4"));
    }

    // A cursor file that cannot be made stops the pass before anything is sent, and says so as
    // the station's fault, not the server's.
    void cursorFileFault() {
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        TPolls polls(1, Start());
        {
            TArchiveWriter writer;
            polls.Poll(writer);
            QVERIFY(writer.Stop(10000));
        }
        TPlantShipOptions o = Options(root);
        o.CursorFile = QDir(dirs.Work()).filePath("a-folder");
        QVERIFY(QDir().mkpath(o.CursorFile));
        TPlantServerSettings nowhere;
        nowhere.Host = QDir(dirs.Work()).filePath("no-server");
        TPlantShipWork work(nowhere, o);
        QVERIFY(!work.Pass());
        QVERIFY(work.CursorFailed());
        QVERIFY2(work.Error().contains("a-folder"), qPrintable(work.Error()));
        QCOMPARE(work.Counts().Shipped, qint64(0));
    }

    // The server stopped for a while and started again while polls go on: every row arrives
    // once, and meanwhile the status says why nothing is shipped.
    void serverStoppedAndRestarted() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        const QString db = NewDatabase();
        TPolls polls(4, Start());
        TArchiveWriter writer;
        TPlantShipper shipper(Settings(db), Options(root));
        for (int i = 0; i < 200; ++i)
            polls.Poll(writer);
        QVERIFY(writer.WaitIdle(10000));
        QVERIFY(shipper.WaitCaughtUp(20000));
        QVERIFY(shipper.StatusText().isEmpty());
        QVERIFY(Cluster->Stop());
        {
            TPoster poster(polls, writer);
            QVERIFY2(WaitFor([&] { return shipper.StatusText().startsWith(Unavailable); }, 10000),
                     qPrintable(shipper.StatusText()));
            QThread::msleep(300);
        }
        QVERIFY(writer.WaitIdle(10000));
        QVERIFY(shipper.Counts().Pending > 0);
        QVERIFY(Cluster->Start());
        QVERIFY(shipper.WaitCaughtUp(30000));
        QVERIFY(shipper.StatusText().isEmpty());
        QCOMPARE(ServerDigest(db, "st-a"), Digest(polls.Expected()));
        QCOMPARE(shipper.Counts().Pending, qint64(0));
        QVERIFY(shipper.Stop(5000));
    }

    // The server killed with -9 while rows are written and shipped, then started again.
    void serverKilledUnderLoad() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        const QString db = NewDatabase();
        TPolls polls(8, Start());
        TArchiveWriter writer;
        TPlantShipper shipper(Settings(db), Options(root));
        {
            TPoster poster(polls, writer);
            QVERIFY(WaitFor([&] { return shipper.Counts().Shipped > 300; }, 20000));
            QVERIFY(Cluster->Kill());
            QThread::msleep(500);
            QVERIFY(Cluster->Start());
            QThread::msleep(300);
        }
        QVERIFY(writer.WaitIdle(10000));
        QVERIFY(shipper.WaitCaughtUp(30000));
        QCOMPARE(ServerDigest(db, "st-a"), Digest(polls.Expected()));
    }

    // The shipping process killed with -9: right after the server confirmed a batch and before
    // the cursor was written, and at an arbitrary moment. A new shipper sends every row once.
    void shipperKilledMidBatch() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        const QString db = NewDatabase();
        TPolls polls(8, Start());
        {
            TArchiveWriter writer;
            for (int i = 0; i < 3000; ++i)
                polls.Poll(writer);
            QVERIFY(writer.Stop(20000));
        }
        const TPlantServerSettings settings = Settings(db);
        // Killed between the server's confirmation of the third batch and its cursor.
        const std::optional<QByteArray> first = RunInChild([&] {
            TPlantShipOptions o = Options(root);
            o.BatchRows = 300;
            int confirmed = 0;
            o.AfterConfirm = [&confirmed] {
                if (++confirmed == 3)
                    ::raise(SIGKILL);
            };
            TPlantShipWork work(settings, o);
            work.Pass();
            return QByteArray("not killed");
        });
        QVERIFY(!first);
        QCOMPARE(Cluster->Value("SELECT count(*) FROM readings", db), QString("900"));
        // Killed by the parent at some moment of its shipping.
        const std::optional<QByteArray> second = RunInChild(
            [&] {
                TPlantShipOptions o = Options(root);
                o.BatchRows = 50;
                TPlantShipWork work(settings, o);
                work.Pass();
                return QByteArray("done");
            },
            false, 700);
        const int stored = Cluster->Value("SELECT count(*) FROM readings", db).toInt();
        QVERIFY2(stored >= 900 && stored <= 9000, qPrintable(QString::number(stored)));
        TPlantShipWork work(settings, Options(root));
        QVERIFY2(work.Pass(), qPrintable(work.Error()));
        QVERIFY(work.Counts().Shipped < 9000 - 900 + 500);
        QCOMPARE(ServerDigest(db, "st-a"), Digest(polls.Expected()));
    }

    // Two stations with the same plant numbers ship at once: both are stored whole, apart.
    void twoStations() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString rootA = QDir(dirs.Work()).filePath("a");
        const QString rootB = QDir(dirs.Work()).filePath("b");
        TPolls a(4, Start()), b(4, Start().addMSecs(5));
        for (const auto& [root, polls, count] :
             {std::tuple{rootA, &a, 1500}, std::tuple{rootB, &b, 1200}}) {
            SetArchiveRoot(root);
            TArchiveWriter writer;
            for (int i = 0; i < count; ++i)
                polls->Poll(writer);
            QVERIFY(writer.Stop(20000));
        }
        const QString db = NewDatabase();
        TPlantShipper shipperA(Settings(db), Options(rootA, "st-a"));
        TPlantShipper shipperB(Settings(db), Options(rootB, "st-b"));
        QVERIFY(shipperA.WaitCaughtUp(30000));
        QVERIFY(shipperB.WaitCaughtUp(30000));
        QCOMPARE(ServerDigest(db, "st-a"), Digest(a.Expected()));
        QCOMPARE(ServerDigest(db, "st-b"), Digest(b.Expected()));
        QCOMPARE(Cluster->Value("SELECT count(*) FROM gauges", db), QString("4"));
    }

    // ulmar-cli archive ship: the pending rows once, as JSON; a second run finds nothing new.
    void cliShipsOnce() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        QVERIFY(SaveArchiveSettings());
        const QString db = NewDatabase();
        QVERIFY(Settings(db).Save(PlantSettingsFile()));
        TPolls polls(2, Start());
        {
            TArchiveWriter writer;
            for (int i = 0; i < 400; ++i)
                polls.Poll(writer);
            QVERIFY(writer.Stop(20000));
        }
        const auto ship = [&] {
            QProcess p;
            p.start(ULMAR_CLI_PATH, {"--json", "--program-dir", dirs.Prog(), "--work-dir",
                                     dirs.Work(), "archive", "ship"});
            const bool ended = p.waitForFinished(60000);
            const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
            return std::pair{ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                             o};
        };
        const auto [exit, first] = ship();
        QCOMPARE(exit, 0);
        QCOMPARE(first["ok"], QJsonValue(true));
        QCOMPARE(first["shipped"].toInt(), 1200);
        QCOMPARE(first["pending"].toInt(), 0);
        QCOMPARE(ServerDigest(db, first["station"].toString()), Digest(polls.Expected()));
        const auto [again, second] = ship();
        QCOMPARE(again, 0);
        QCOMPARE(second["shipped"].toInt(), 0);
    }

    // The end of the program is not held up by a server that does not answer: neither by a
    // connection it never completes nor by a statement that waits for a lock; the batch that was
    // cut short is shipped by the next start, once.
    void stopsPromptly() {
        TTestDirs dirs;
        {
            // A socket that takes connections and never says a word.
            const QString socketDir = QDir(dirs.Work()).filePath("mute");
            QVERIFY(QDir().mkpath(socketDir));
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(socketDir + "/.s.PGSQL.5432");
            QVERIFY(size_t(path.size()) < sizeof address.sun_path);
            std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            QCOMPARE(::listen(fd, 8), 0);
            TPlantServerSettings mute;
            mute.Host = socketDir;
            mute.ConnectTimeoutS = 60;
            const QString root = QDir(dirs.Work()).filePath("archive");
            SetArchiveRoot(root);
            TPolls polls(1, Start());
            {
                TArchiveWriter writer;
                polls.Poll(writer);
                QVERIFY(writer.Stop(10000));
            }
            auto shipper = std::make_unique<TPlantShipper>(mute, Options(root));
            QThread::msleep(300);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(shipper->Stop(3000));
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            ::close(fd);
        }
        NEED_SERVER();
        const QString root = QDir(dirs.Work()).filePath("locked");
        SetArchiveRoot(root);
        const QString db = NewDatabase();
        TPolls polls(2, Start());
        {
            TArchiveWriter writer;
            polls.Poll(writer);
            QVERIFY(writer.Stop(10000));
        }
        TPlantShipWork first(Settings(db), Options(root));
        QVERIFY(first.Pass());
        {
            TArchiveWriter writer;
            for (int i = 0; i < 50; ++i)
                polls.Poll(writer);
            QVERIFY(writer.Stop(10000));
        }
        PGconn* holder = PQconnectdb(Cluster->ConnInfo(db).constData());
        QCOMPARE(PQstatus(holder), CONNECTION_OK);
        PQclear(PQexec(holder, "BEGIN"));
        PGresult* locked = PQexec(holder, "LOCK TABLE readings IN ACCESS EXCLUSIVE MODE");
        QCOMPARE(PQresultStatus(locked), PGRES_COMMAND_OK);
        PQclear(locked);
        {
            TPlantShipper shipper(Settings(db), Options(root));
            QThread::msleep(500);
            QElapsedTimer clock;
            clock.start();
            QVERIFY(shipper.Stop(3000));
            QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(shipper.Counts().Shipped, qint64(0));
        }
        PQclear(PQexec(holder, "ROLLBACK"));
        PQfinish(holder);
        TPlantShipWork again(Settings(db), Options(root));
        QVERIFY2(again.Pass(), qPrintable(again.Error()));
        QCOMPARE(ServerDigest(db, "st-a"), Digest(polls.Expected()));
    }

    // A server that refuses the login: the status gives the server's reason, the rows wait,
    // and once the login is allowed they arrive.
    void refusedLogin() {
        NEED_SERVER();
        TTestDirs dirs;
        const QString root = QDir(dirs.Work()).filePath("archive");
        SetArchiveRoot(root);
        const QString db = NewDatabase();
        QVERIFY(Cluster->Sql("CREATE ROLE shipper LOGIN"));
        QVERIFY(Cluster->Sql("ALTER DATABASE " + db + " OWNER TO shipper"));
        QVERIFY(Cluster->Sql("GRANT ALL ON SCHEMA public TO shipper", nullptr, db));
        QVERIFY(Cluster->SetHba("local all shipper reject"));
        TPolls polls(4, Start());
        TArchiveWriter writer;
        TPlantShipper shipper(Settings(db, "shipper"), Options(root));
        for (int i = 0; i < 300; ++i)
            polls.Poll(writer);
        QVERIFY(writer.WaitIdle(10000));
        QVERIFY2(WaitFor([&] { return shipper.StatusText().startsWith(Unavailable); }, 10000),
                 qPrintable(shipper.StatusText()));
        QVERIFY2(shipper.StatusText().contains("pg_hba.conf rejects connection"),
                 qPrintable(shipper.StatusText()));
        QCOMPARE(shipper.Counts().Shipped, qint64(0));
        QVERIFY(Cluster->SetHba("local all all trust"));
        QVERIFY(shipper.WaitCaughtUp(30000));
        QVERIFY(shipper.StatusText().isEmpty());
        QCOMPARE(ServerDigest(db, "st-a"), Digest(polls.Expected()));
    }
};

QTEST_GUILESS_MAIN(TestPlantShip)
#include "tst_plant_ship.moc"
