// The plant archive's server side against a throw-away PostgreSQL cluster (PgCluster.h): the
// schema, batches stored once however often they are sent, month partitions, refused logins,
// a server that goes away and comes back, and values that come back bit for bit.

#include "tests/support/ChildRun.h"
#include "tests/support/PlantSettings.h"
#include "tests/support/TestDirs.h"
#include "uPlantStore.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

namespace {

qint64 Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), QTimeZone::utc()).toMSecsSinceEpoch();
}

std::vector<TPlantRow> Rows(int plant, const QString& parameter, qint64 start, int count,
                            qint64 stepMs = 1000) {
    std::vector<TPlantRow> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back({plant, parameter, start + i * stepMs, 0.5 * i});
    return rows;
}

quint64 Bits(double v) {
    quint64 b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

const QString Unavailable = QStringLiteral("Сервер архива недоступен: ");

// The tests that need the server skip, with the reason, where none could be started.
#define NEED_SERVER() PG_NEED_SERVER(Cluster)

} // namespace

class TestPlantStore : public QObject {
    Q_OBJECT

    std::unique_ptr<TPgCluster> Cluster;

    QString NewDatabase() { return Cluster->NewDatabase(QStringLiteral("plant")); }

    TPlantServerSettings Settings(const QString& database, const QString& user = QString()) {
        return PlantServerSettings(*Cluster, database, user);
    }

    QString Value(const QString& query, const QString& database) {
        return Cluster->Value(query, database);
    }

private slots:
    void initTestCase() {
        Cluster = std::make_unique<TPgCluster>();
        if (!Cluster->Ready())
            qWarning("no PostgreSQL server for the plant archive's tests: %s",
                     qPrintable(Cluster->Reason()));
    }

    void cleanupTestCase() { Cluster.reset(); }

    void settingsKeepNoPassword() {
        TTestDirs dirs;
        const QString file = QDir(dirs.Prog()).filePath(QStringLiteral("INI/bde.ini"));
        TPlantServerSettings defaults;
        defaults.Load(file);
        QVERIFY(!defaults.Enabled);
        QCOMPARE(defaults.Port, 5432);

        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[BDE]\r\ndbPath=/data\r\n[PlantArchive]\r\nPassword=secret\r\nPort=70000\r\n"
                "ConnectTimeout=0\r\n");
        f.close();
        TPlantServerSettings s;
        s.Load(file);
        QCOMPARE(s.Port, 5432);
        QCOMPARE(s.ConnectTimeoutS, TPlantServerSettings::DefaultConnectTimeoutS);
        s.Enabled = true;
        s.Host = QStringLiteral("archive.plant");
        s.Port = 6543;
        s.Database = QStringLiteral("учёт");
        s.User = QStringLiteral("station");
        QVERIFY(s.Save(file));
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray text = saved.readAll();
        QVERIFY2(!text.contains("Password") && !text.contains("secret"), text.constData());
        QVERIFY(text.contains("dbPath=/data"));
        TPlantServerSettings back;
        back.Load(file);
        QVERIFY(back.Enabled);
        QCOMPARE(back.Host, s.Host);
        QCOMPARE(back.Port, 6543);
        QCOMPARE(back.Database, s.Database);
        QCOMPARE(back.User, s.User);
    }

    // Made once; made again by the same or another station, nothing changes; two stations that
    // start together on an empty database both succeed; a newer schema is refused.
    void schemaIsMadeOnce() {
        NEED_SERVER();
        const QString db = NewDatabase();
        const QString catalog = QStringLiteral("SELECT string_agg(relname::text || ':' || "
                                               "relkind::text, ',' ORDER BY relname) FROM pg_class"
                                               " WHERE relnamespace = 'public'::regnamespace");
        {
            TPlantStore store(Settings(db));
            QVERIFY2(store.EnsureSchema(), qPrintable(store.LastError()));
            QCOMPARE(store.ServerSchemaVersion(), TPlantStore::SchemaVersion);
        }
        const QString before = Value(catalog, db);
        QVERIFY2(before.contains("readings:p"), qPrintable(before));
        {
            TPlantStore store(Settings(db));
            QVERIFY(store.EnsureSchema());
            QVERIFY(store.EnsureSchema());
        }
        QCOMPARE(Value(catalog, db), before);
        QCOMPARE(Value("SELECT count(*) FROM schema_version", db), QStringLiteral("1"));

        const QString together = NewDatabase();
        std::atomic<int> made{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                TPlantStore store(Settings(together));
                if (store.EnsureSchema())
                    ++made;
            });
        for (std::thread& t : threads)
            t.join();
        QCOMPARE(made.load(), 4);
        QCOMPARE(Value("SELECT count(*) FROM schema_version", together), QStringLiteral("1"));

        QVERIFY(Cluster->Sql("INSERT INTO schema_version (version) VALUES (99)", nullptr, db));
        TPlantStore old(Settings(db));
        QVERIFY(!old.EnsureSchema());
        QVERIFY2(old.LastError().contains("99"), qPrintable(old.LastError()));
        QVERIFY(!old.ShipBatch("st", Rows(1, "Level", Utc(2026, 3, 1), 1)).Confirmed);
    }

    // A batch sent again stores nothing and is still confirmed; a batch that overlaps stores
    // only its new rows; a row twice within a batch is stored once; rows no server can hold are
    // counted and left out; the lookup tables' numbers are not used up by repeated batches.
    void replayedBatchStoresOnce() {
        NEED_SERVER();
        const QString db = NewDatabase();
        TPlantStore store(Settings(db));
        const std::vector<TPlantRow> batch = Rows(1001, "Level", Utc(2026, 3, 5, 9), 1000);
        TPlantShipResult r = store.ShipBatch("station-1", batch);
        QVERIFY2(r.Confirmed, qPrintable(r.Error));
        QCOMPARE(r.Inserted, qint64(1000));
        for (int i = 0; i < 3; ++i) {
            r = store.ShipBatch("station-1", batch);
            QVERIFY(r.Confirmed);
            QCOMPARE(r.Inserted, qint64(0));
        }
        std::vector<TPlantRow> overlap = Rows(1001, "Level", Utc(2026, 3, 5, 9) + 500000, 1000);
        overlap.push_back(overlap.back());
        overlap.push_back({1001, QString(), Utc(2026, 3, 5), 1.0});
        overlap.push_back({1001, "Level", Utc(10000, 1, 1), 1.0});
        overlap.push_back({1001, QStringLiteral("Le") + QChar(u'\0') + QStringLiteral("vel"),
                           Utc(2026, 3, 5), 1.0});
        r = store.ShipBatch("station-1", overlap);
        QVERIFY(r.Confirmed);
        QCOMPARE(r.Inserted, qint64(500));
        QCOMPARE(r.Refused, qint64(3));
        // The same readings from another station are that station's.
        r = store.ShipBatch("station-2", batch);
        QCOMPARE(r.Inserted, qint64(1000));
        QCOMPARE(Value("SELECT count(*) FROM readings", db), QStringLiteral("2500"));
        // After all those batches, the next new gauge, parameter and station take the next
        // numbers: the repeated batches used none up.
        r = store.ShipBatch("station-3", Rows(1002, "Volume", Utc(2026, 3, 5), 1));
        QCOMPARE(r.Inserted, qint64(1));
        QCOMPARE(Value("SELECT id FROM parameters WHERE name = 'Volume'", db), QStringLiteral("2"));
        QCOMPARE(Value("SELECT id FROM gauges WHERE plant_number = 1002", db), QStringLiteral("2"));
        QCOMPARE(Value("SELECT id FROM stations WHERE host_name = 'station-3'", db),
                 QStringLiteral("3"));

        r = store.ShipBatch("station-1", {});
        QVERIFY(r.Confirmed);
        QCOMPARE(r.Inserted, qint64(0));
    }

    // Rows around month and year ends (and around 1970) land in their months' partitions and
    // come back in time order, the range's ends included.
    void monthPartitions() {
        NEED_SERVER();
        const QString db = NewDatabase();
        TPlantStore store(Settings(db));
        const std::vector<qint64> times = {Utc(2026, 2, 1, 0, 0, 0, 1),
                                           Utc(2025, 12, 31, 23, 59, 59, 999),
                                           Utc(2026, 1, 31, 23, 59, 59, 999),
                                           Utc(2026, 2, 1),
                                           Utc(2026, 1, 1),
                                           -1,
                                           0};
        std::vector<TPlantRow> rows;
        for (const qint64 t : times)
            rows.push_back({7, "Volume", t, double(t)});
        const TPlantShipResult r = store.ShipBatch("st", rows);
        QVERIFY2(r.Confirmed, qPrintable(r.Error));
        QCOMPARE(r.Inserted, qint64(7));
        QCOMPARE(Value("SELECT string_agg(p || '=' || n, ',' ORDER BY p) FROM (SELECT"
                       " tableoid::regclass::text AS p, count(*) AS n FROM readings GROUP BY 1) c",
                       db),
                 QStringLiteral("readings_y1969m12=1,readings_y1970m01=1,readings_y2025m12=1,"
                                "readings_y2026m01=2,readings_y2026m02=2"));
        bool ok = false;
        const std::vector<TPlantPoint> points =
            store.ReadRange(7, "Volume", Utc(2026, 1, 1), Utc(2026, 2, 1, 0, 0, 0, 1), &ok);
        QVERIFY(ok);
        QCOMPARE(points.size(), size_t(4));
        const std::vector<qint64> expected = {Utc(2026, 1, 1), Utc(2026, 1, 31, 23, 59, 59, 999),
                                              Utc(2026, 2, 1), Utc(2026, 2, 1, 0, 0, 0, 1)};
        for (size_t i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i].TimeMs, expected[i]);
            QCOMPARE(points[i].Value, double(expected[i]));
        }
        const std::vector<TPlantPoint> early = store.ReadRange(7, "Volume", -10, 10, &ok);
        QVERIFY(ok);
        QCOMPARE(early.size(), size_t(2));
        QCOMPARE(early[0].TimeMs, qint64(-1));
        QVERIFY(store.ReadRange(8, "Volume", -10, 10, &ok).empty());
        QVERIFY(ok);
    }

    // A login the server refuses gives the operator's text with the server's reason; the
    // password comes from libpq's password file only.
    void refusedLogin() {
        NEED_SERVER();
        const QString db = NewDatabase();
        {
            TPlantStore store(Settings(db, "nosuch"));
            QVERIFY(!store.Connect());
            QVERIFY2(store.LastError().startsWith(Unavailable), qPrintable(store.LastError()));
            QVERIFY2(store.LastError().contains("role \"nosuch\" does not exist"),
                     qPrintable(store.LastError()));
            const TPlantShipResult r = store.ShipBatch("st", Rows(1, "Level", 0, 3));
            QVERIFY(!r.Confirmed);
            QVERIFY(r.Error.startsWith(Unavailable));
        }
        QVERIFY(Cluster->Sql("CREATE ROLE outsider LOGIN"));
        QVERIFY(Cluster->Sql("CREATE ROLE keeper LOGIN PASSWORD 'k33p-er'"));
        QVERIFY(Cluster->Sql("GRANT ALL ON SCHEMA public TO keeper", nullptr, db));
        QVERIFY(Cluster->SetHba("local all keeper scram-sha-256"));
        {
            TPlantStore store(Settings(db, "outsider"));
            QVERIFY(!store.Connect());
            QVERIFY2(store.LastError().startsWith(Unavailable), qPrintable(store.LastError()));
            QVERIFY2(store.LastError().contains("no pg_hba.conf entry"),
                     qPrintable(store.LastError()));
        }
        TTestDirs dirs;
        const QByteArray passFile = QDir(dirs.Work()).filePath("pgpass").toLocal8Bit();
        const QByteArray oldPassFile = qgetenv("PGPASSFILE");
        qputenv("PGPASSFILE", QDir(dirs.Work()).filePath("none").toLocal8Bit());
        {
            TPlantStore store(Settings(db, "keeper"));
            QVERIFY(!store.Connect());
            QVERIFY(store.LastError().startsWith(Unavailable));
        }
        QFile f(QString::fromLocal8Bit(passFile));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("*:*:*:keeper:k33p-er\n");
        f.close();
        QVERIFY(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        qputenv("PGPASSFILE", passFile);
        {
            TPlantStore store(Settings(db, "keeper"));
            const bool connected = store.Connect();
            const TPlantShipResult r = store.ShipBatch("st", Rows(1, "Level", 0, 3));
            if (oldPassFile.isNull())
                qunsetenv("PGPASSFILE");
            else
                qputenv("PGPASSFILE", oldPassFile);
            QVERIFY2(connected, qPrintable(store.LastError()));
            QVERIFY2(r.Confirmed, qPrintable(r.Error));
            QCOMPARE(r.Inserted, qint64(3));
        }
        QVERIFY(Cluster->SetHba("local all all trust"));

        // No server at all behind the address.
        TPlantServerSettings nowhere = Settings(db);
        nowhere.Host = QDir(dirs.Work()).filePath("no-server");
        TPlantStore store(nowhere);
        QVERIFY(!store.Connect());
        QVERIFY(store.LastError().startsWith(Unavailable));
        QVERIFY(store.LastError().size() > Unavailable.size());
    }

    // A server that stops or dies: the batch is not confirmed and the text says why; once the
    // server is back, the same store ships again without being told.
    void serverGoesAndComesBack() {
        NEED_SERVER();
        const QString db = NewDatabase();
        TPlantStore store(Settings(db));
        QVERIFY(store.ShipBatch("st", Rows(5, "Level", Utc(2026, 4, 1), 10)).Confirmed);

        QVERIFY(Cluster->Stop());
        TPlantShipResult r = store.ShipBatch("st", Rows(5, "Level", Utc(2026, 4, 2), 10));
        QVERIFY(!r.Confirmed);
        QVERIFY2(r.Error.startsWith(Unavailable), qPrintable(r.Error));
        bool ok = true;
        QVERIFY(store.ReadRange(5, "Level", 0, Utc(2027, 1, 1), &ok).empty());
        QVERIFY(!ok);
        QVERIFY(store.LastError().startsWith(Unavailable));
        QVERIFY2(Cluster->Start(), qPrintable(Cluster->Reason()));
        r = store.ShipBatch("st", Rows(5, "Level", Utc(2026, 4, 2), 10));
        QVERIFY2(r.Confirmed, qPrintable(r.Error));
        QCOMPARE(r.Inserted, qint64(10));

        // Killed while the store holds its connection: the next batch fails, and after the
        // restart it is taken.
        QVERIFY(Cluster->Kill());
        r = store.ShipBatch("st", Rows(5, "Level", Utc(2026, 5, 1), 10));
        QVERIFY(!r.Confirmed);
        QVERIFY2(r.Error.startsWith(Unavailable), qPrintable(r.Error));
        QVERIFY2(Cluster->Start(), qPrintable(Cluster->Reason()));
        r = store.ShipBatch("st", Rows(5, "Level", Utc(2026, 5, 1), 10));
        QVERIFY2(r.Confirmed, qPrintable(r.Error));
        QCOMPARE(r.Inserted, qint64(10));
        QCOMPARE(store.ReadRange(5, "Level", 0, Utc(2027, 1, 1), &ok).size(), size_t(30));
        QVERIFY(ok);
    }

    // Values come back bit for bit, under a locale that writes numbers with a comma, and a
    // parameter's name in Cyrillic comes back as it went.
    void valuesBitExact() {
        NEED_SERVER();
        const char* old = std::setlocale(LC_NUMERIC, nullptr);
        const QByteArray previous = old ? QByteArray(old) : QByteArray("C");
        const bool russian = std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") != nullptr;
        if (!russian)
            qWarning("ru_RU.UTF-8 is not installed: values checked under the present locale");
        const QString db = NewDatabase();
        TPlantStore store(Settings(db));
        const std::vector<double> values = {0.1,
                                            -0.0,
                                            1.0 / 3.0,
                                            M_PI,
                                            -123456.789012345678,
                                            std::numeric_limits<double>::denorm_min(),
                                            std::numeric_limits<double>::min(),
                                            std::numeric_limits<double>::max(),
                                            -std::numeric_limits<double>::infinity(),
                                            std::numeric_limits<double>::infinity(),
                                            1e-300,
                                            9007199254740993.0,
                                            std::numeric_limits<double>::quiet_NaN()};
        const QString parameter = QStringLiteral("Уровень");
        std::vector<TPlantRow> rows;
        const qint64 start = Utc(2026, 6, 30, 23, 59, 59, 990);
        for (size_t i = 0; i < values.size(); ++i)
            rows.push_back({42, parameter, start + qint64(i), values[i]});
        const TPlantShipResult r = store.ShipBatch("станция", rows);
        bool ok = false;
        const std::vector<TPlantPoint> back =
            store.ReadRange(42, parameter, start, start + 1000, &ok);
        std::setlocale(LC_NUMERIC, previous.constData());
        QVERIFY2(r.Confirmed, qPrintable(r.Error));
        QVERIFY(ok);
        QCOMPARE(back.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            QCOMPARE(back[i].TimeMs, start + qint64(i));
            if (std::isnan(values[i]))
                QVERIFY(std::isnan(back[i].Value));
            else
                QCOMPARE(Bits(back[i].Value), Bits(values[i]));
        }
        QCOMPARE(Value("SELECT host_name FROM stations", db), QStringLiteral("станция"));
    }

    // A technician's account, not root, ships and reads.
    void plainUserShips() {
        NEED_SERVER();
        const QString db = NewDatabase();
        const TPlantServerSettings settings = Settings(db);
        const std::optional<QByteArray> out = RunInChild(
            [&]() -> QByteArray {
                TPlantStore store(settings);
                const TPlantShipResult r = store.ShipBatch("st", Rows(3, "Level", 0, 100));
                bool ok = false;
                const size_t n = store.ReadRange(3, "Level", 0, 1000000, &ok).size();
                return QByteArray::number(r.Inserted) + " " + QByteArray::number(qulonglong(n)) +
                       (ok ? " ok" : " failed") + " " + store.LastError().toUtf8();
            },
            true, 30000);
        QVERIFY(out.has_value());
        QCOMPARE(*out, QByteArray("100 100 ok "));
    }
};

QTEST_GUILESS_MAIN(TestPlantStore)
#include "tst_plant_store.moc"
