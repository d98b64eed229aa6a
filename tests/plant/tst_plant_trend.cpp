// Trends and exports read from the plant archive on a throw-away PostgreSQL cluster
// (PgCluster.h): rows of two gauges shipped from two stations come back per gauge, never
// joined, with their exact values and times on the local archive's wall-clock scale (also over
// the repeated autumn hour); the gauges of a range are listed; and the export from the server
// writes, byte for byte, what the export of the same rows from the local day files writes.

#include "tests/support/PlantSettings.h"
#include "tests/support/TestDirs.h"
#include "uArchiveExport.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uPlantTrend.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

// Sets the process time zone for the life of the object.
class TZone {
public:
    explicit TZone(const QByteArray& zone)
        : Old(qgetenv("TZ")), Had(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TZone() {
        if (Had)
            qputenv("TZ", Old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray Old;
    bool Had;
};

quint64 Bits(double v) {
    quint64 b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

#define NEED_SERVER()                                                                              \
    do {                                                                                           \
        if (!Cluster->Ready())                                                                     \
            QSKIP(qPrintable("no PostgreSQL server: " + Cluster->Reason()));                       \
    } while (false)

} // namespace

class TestPlantTrend : public QObject {
    Q_OBJECT

    std::unique_ptr<TPgCluster> Cluster;

    TPlantServerSettings NewDatabase() {
        return PlantServerSettings(*Cluster, Cluster->NewDatabase(QStringLiteral("trend")));
    }

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        Cluster = std::make_unique<TPgCluster>();
        if (!Cluster->Ready())
            qWarning("no PostgreSQL server for the plant archive's tests: %s",
                     qPrintable(Cluster->Reason()));
    }
    void cleanupTestCase() { Cluster.reset(); }

    // Two gauges polled in turn, shipped by two stations (each its own hours), crossing the
    // autumn change of the clock: each gauge's line holds its own rows only, every station's,
    // in time order; the repeated hour is a second run as in a line read from the day files.
    void trendPerGaugeFromServer() {
        NEED_SERVER();
        TZone zone("Europe/Berlin");
        const TPlantServerSettings settings = NewDatabase();
        // 2024-10-27 00:00 to 02:00 UTC: 02:00-03:00 local summer time, then 02:00-03:00 again.
        const qint64 start =
            QDateTime(QDate(2024, 10, 27), QTime(0, 0), QTimeZone::utc()).toMSecsSinceEpoch();
        std::vector<TPlantRow> north, south;
        for (int k = 0; k < 7200; ++k) {
            const int gauge = k % 2 ? 1002 : 1001;
            const TPlantRow row{gauge, QStringLiteral("Lt"), start + qint64(k) * 1000,
                                gauge + k / 7.0};
            (k < 3600 ? north : south).push_back(row);
        }
        {
            TPlantStore store(settings);
            QVERIFY2(store.ShipBatch(QStringLiteral("north"), north).Confirmed,
                     qPrintable(store.LastError()));
            QVERIFY2(store.ShipBatch(QStringLiteral("south"), south).Confirmed,
                     qPrintable(store.LastError()));
        }
        const TDateTime from = QtToDateTime(QDateTime(QDate(2024, 10, 27), QTime(0, 0)));
        const TDateTime to = QtToDateTime(QDateTime(QDate(2024, 10, 27), QTime(23, 0)));
        std::vector<int> gauges;
        int yields = 0;
        const TPlantLoadResult listed =
            ListPlantGauges(settings, {QStringLiteral("Lt")}, from, to, gauges, [&] { ++yields; });
        QVERIFY2(listed.Ok, qPrintable(listed.Error));
        QCOMPARE(gauges, (std::vector<int>{1001, 1002}));
        QVERIFY(ListPlantGauges(settings, {QStringLiteral("Hu")}, from, to, gauges).Ok);
        QVERIFY(gauges.empty());

        TTrendData first, second, none;
        const TPlantLoadResult loaded =
            LoadPlantRange(settings,
                           {{QStringLiteral("Lt"), &first, 1001},
                            {QStringLiteral("Lt"), &second, 1002},
                            {QStringLiteral("Lt"), &none, UnknownGauge}},
                           from, to);
        QVERIFY2(loaded.Ok, qPrintable(loaded.Error));
        QCOMPARE(loaded.Rows, qint64(7200));
        QVERIFY(none.Empty());
        for (const auto& [line, gauge] : {std::pair{&first, 1001}, std::pair{&second, 1002}}) {
            QCOMPARE(line->Count(), std::size_t(3600));
            // Summer 02:00-02:59:59 then winter 02:00-02:59:59 again: two runs.
            QCOMPARE(line->RunCount(), std::size_t(2));
            for (std::size_t i = 0; i < line->Count(); ++i) {
                const int k = int(i) * 2 + (gauge == 1002 ? 1 : 0);
                const QDateTime local =
                    QDateTime::fromMSecsSinceEpoch(start + qint64(k) * 1000).toLocalTime();
                const double x = TrendXFromParts(QDate(1970, 1, 1).daysTo(local.date()),
                                                 local.time().msecsSinceStartOfDay());
                if (line->At(i).X != x || Bits(line->At(i).Y) != Bits(gauge + k / 7.0))
                    QFAIL(qPrintable(QStringLiteral("gauge %1 row %2: %3 %4")
                                         .arg(gauge)
                                         .arg(i)
                                         .arg(line->At(i).X, 0, 'f', 3)
                                         .arg(line->At(i).Y)));
            }
            QCOMPARE(line->At(0).X, TrendXFromParts(QDate(1970, 1, 1).daysTo(QDate(2024, 10, 27)),
                                                    (2 * 3600 + (gauge == 1002 ? 1 : 0)) * 1000));
        }
    }

    // The same rows in the local day files and on the server: the export of one gauge reads
    // alike from either, in CSV and in JSON, and a server that refuses the login is named.
    void exportFromServerMatchesLocal() {
        NEED_SERVER();
        TTestDirs dirs;
        SetArchiveRoot(QString());
        const TPlantServerSettings settings = NewDatabase();
        const QDate day(2024, 3, 5);
        std::vector<TPlantRow> rows;
        for (int k = 0; k < 500; ++k) {
            const QDateTime at(day.addDays(k / 250), QTime(10, 0).addMSecs(k * 1037));
            const int gauge = k % 3 == 0 ? 1002 : 1001;
            const double value = 7509.1733 + k * 0.125 + (k % 5 == 0 ? 1e-9 : 0.0);
            QVERIFY(AddArchiveRecord(QStringLiteral("Lt"), QtToDateTime(at), value, {}, gauge));
            rows.push_back({gauge, QStringLiteral("Lt"), at.toMSecsSinceEpoch(), value});
        }
        {
            TPlantStore store(settings);
            QVERIFY2(store.ShipBatch(QStringLiteral("north"), rows).Confirmed,
                     qPrintable(store.LastError()));
        }
        const TArchiveExportRange range{QDateTime(day, QTime(10, 1)),
                                        QDateTime(day.addDays(1), QTime(10, 3))};
        for (const bool json : {false, true}) {
            QString local, server;
            QTextStream localOut(&local), serverOut(&server);
            const TArchiveExportResult a =
                ExportArchive(QStringLiteral("Lt"), range, json, false, localOut, 1001);
            const TArchiveExportResult b = ExportPlantArchive(settings, QStringLiteral("Lt"), range,
                                                              1001, json, false, serverOut);
            QVERIFY2(b.ServerError.isEmpty(), qPrintable(b.ServerError));
            QVERIFY(a.Rows > 100);
            QCOMPARE(b.Rows, a.Rows);
            QCOMPARE(server, local);
        }
        TPlantServerSettings stranger = settings;
        stranger.User = QStringLiteral("nobody_here");
        QString text;
        QTextStream out(&text);
        const TArchiveExportResult refused =
            ExportPlantArchive(stranger, QStringLiteral("Lt"), range, 1001, false, false, out);
        QVERIFY2(refused.ServerError.startsWith(QStringLiteral("Сервер архива недоступен: ")),
                 qPrintable(refused.ServerError));
        QCOMPARE(refused.Rows, qint64(0));
        QVERIFY(text.isEmpty());
        SetArchiveRoot(QString());
    }
};

QTEST_GUILESS_MAIN(TestPlantTrend)
#include "tst_plant_trend.moc"
