// The plant archive's store against a throw-away PostgreSQL cluster (tests/support/PgCluster.h):
// rows per second of ShipBatch with batches of 100 000 new rows, of the same batches sent again
// (every row already there), and of ReadRange over a 30-day trend of one gauge's parameter
// (2.18 M rows) among the rows of other gauges.
//   bench_plant [ROUNDS [NEIGHBOURS]]   ROUNDS batches of 100 000 rows per shipping figure (10);
//                                       NEIGHBOURS other gauges beside the one read (3, up to 31)

#include "tests/support/PgCluster.h"
#include "uPlantStore.h"

#include <QCoreApplication>
#include <QtEndian>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <libpq-fe.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int BatchRows = 100000;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One batch: a reading every 200 ms from `first` on, across the boundary of two months for
// the first batches (2026-01-31 22:00 UTC on).
std::vector<TPlantRow> Batch(int index) {
    const qint64 start = 1769896800000LL + qint64(index) * BatchRows * 200;
    std::vector<TPlantRow> rows;
    rows.reserve(BatchRows);
    for (int i = 0; i < BatchRows; ++i)
        rows.push_back(
            {1001, QStringLiteral("Level"), start + qint64(i) * 200, 1000.0 + i * 0.001});
    return rows;
}

// The read as ReadRange made it before the binary COPY: one query with binary parameters and a
// binary result held whole by the client library, then copied into points. For comparison.
qint64 ResultSetRead(const QByteArray& connInfo, qint64 fromMs, qint64 toMs) {
    PGconn* conn = PQconnectdb(connInfo.constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        PQfinish(conn);
        return -1;
    }
    constexpr qint64 ServerEpochMs = 946684800000LL;
    char plant[4];
    qToBigEndian<qint32>(1001, plant);
    const QByteArray name("Level");
    char from[8], to[8];
    qToBigEndian<qint64>((fromMs - ServerEpochMs) * 1000, from);
    qToBigEndian<qint64>((toMs - ServerEpochMs) * 1000, to);
    const Oid types[4] = {23, 25, 1184, 1184};
    const char* values[4] = {plant, name.constData(), from, to};
    const int lengths[4] = {4, int(name.size()), 8, 8};
    const int formats[4] = {1, 1, 1, 1};
    PGresult* r = PQexecParams(conn,
                               "SELECT r.time, r.value FROM readings r"
                               " WHERE r.gauge_id = (SELECT id FROM gauges WHERE plant_number = $1)"
                               " AND r.parameter_id = (SELECT id FROM parameters WHERE name = $2)"
                               " AND r.time >= $3 AND r.time <= $4"
                               " ORDER BY r.time, r.station_id",
                               4, types, values, lengths, formats, 1);
    std::vector<TPlantPoint> points;
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
        const int n = PQntuples(r);
        points.reserve(std::size_t(n));
        for (int i = 0; i < n; ++i) {
            TPlantPoint p;
            p.TimeMs = qFromBigEndian<qint64>(PQgetvalue(r, i, 0)) / 1000 + ServerEpochMs;
            const quint64 bits = qFromBigEndian<quint64>(PQgetvalue(r, i, 1));
            std::memcpy(&p.Value, &bits, sizeof bits);
            points.push_back(p);
        }
    }
    PQclear(r);
    PQfinish(conn);
    return qint64(points.size());
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
    const int neighbours = argc > 2 ? qBound(0, atoi(argv[2]), 31) : 3;
    TPgCluster cluster;
    if (!cluster.Ready()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(cluster.Reason()));
        return 1;
    }
    QString error;
    if (!cluster.Sql(QStringLiteral("CREATE DATABASE bench"), &error)) {
        std::fprintf(stderr, "CREATE DATABASE: %s\n", qPrintable(error));
        return 1;
    }
    TPlantServerSettings settings;
    settings.Host = cluster.SocketDir();
    settings.Port = cluster.Port();
    settings.Database = QStringLiteral("bench");
    settings.User = cluster.SuperUser();
    TPlantStore store(settings);
    if (!store.EnsureSchema()) {
        std::fprintf(stderr, "%s\n", qPrintable(store.LastError()));
        return 1;
    }
    std::vector<std::vector<TPlantRow>> batches;
    for (int i = 0; i < rounds; ++i)
        batches.push_back(Batch(i));

    for (const bool replay : {false, true}) {
        qint64 inserted = 0;
        const Clock::time_point start = Clock::now();
        for (const std::vector<TPlantRow>& batch : batches) {
            const TPlantShipResult r = store.ShipBatch(QStringLiteral("bench-station"), batch);
            if (!r.Confirmed) {
                std::fprintf(stderr, "%s\n", qPrintable(r.Error));
                return 1;
            }
            inserted += r.Inserted;
        }
        const double s = SecondsSince(start);
        std::printf("ShipBatch %s: %d batches of %d rows, %lld stored, %.2f s, %.0f rows/s\n",
                    replay ? "again (all there)" : "new rows", rounds, BatchRows,
                    static_cast<long long>(inserted), s, rounds * double(BatchRows) / s);
    }

    // A 30-day trend of one gauge: the archive's pace on a line of 32 gauges, about 27 polls a
    // second in all, is one poll of a gauge every 1.19 s, 2.18 million rows of a parameter in 30
    // days. The gauge's rows lie among those of `neighbours` other gauges polled in turn, stored
    // in batches of a minute of the line as a shipper sends them, so that the rows of one gauge
    // are spread over the table as they are on a plant's server.
    if (!cluster.Sql(QStringLiteral("CREATE DATABASE bench_read"), &error)) {
        std::fprintf(stderr, "CREATE DATABASE: %s\n", qPrintable(error));
        return 1;
    }
    settings.Database = QStringLiteral("bench_read");
    TPlantStore reader(settings);
    constexpr qint64 PollMs = 1190;
    constexpr qint64 Days = 30;
    const qint64 polls = Days * 86400000 / PollMs;
    const qint64 first = 1769896800000LL; // 2026-01-31 22:00 UTC: two months' partitions
    {
        const Clock::time_point start = Clock::now();
        std::vector<TPlantRow> batch;
        qint64 stored = 0;
        for (qint64 i = 0; i < polls; ++i) {
            const qint64 t = first + i * PollMs;
            batch.push_back(
                {1001, QStringLiteral("Level"), t, 1000.0 + double(i % 100000) * 0.001});
            for (int n = 1; n <= neighbours; ++n)
                batch.push_back({1001 + n, QStringLiteral("Level"), t + n * 37, double(n)});
            if (batch.size() >= std::size_t(BatchRows) || i + 1 == polls) {
                const TPlantShipResult r = reader.ShipBatch(QStringLiteral("bench-station"), batch);
                if (!r.Confirmed) {
                    std::fprintf(stderr, "%s\n", qPrintable(r.Error));
                    return 1;
                }
                stored += r.Inserted;
                batch.clear();
            }
        }
        cluster.Sql(QStringLiteral("VACUUM ANALYZE readings"), &error,
                    QStringLiteral("bench_read"));
        std::printf("30-day trend data: %lld rows of gauge 1001 among %lld rows of %d gauges, "
                    "stored in %.1f s\n",
                    static_cast<long long>(polls), static_cast<long long>(stored), neighbours + 1,
                    SecondsSince(start));
    }
    const qint64 from = first;
    const qint64 to = first + polls * PollMs;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const Clock::time_point start = Clock::now();
        const std::vector<TPlantPoint> points = reader.ReadRange(1001, "Level", from, to, &ok);
        const double s = SecondsSince(start);
        if (!ok) {
            std::fprintf(stderr, "%s\n", qPrintable(reader.LastError()));
            return 1;
        }
        std::printf("ReadRange, 30 days of one gauge: %zu points, %.3f s, %.0f rows/s\n",
                    points.size(), s, points.size() / s);
    }
    // How the server reads it.
    {
        PGconn* conn = PQconnectdb(cluster.ConnInfo(QStringLiteral("bench_read")).constData());
        PGresult* r = PQexec(conn, "EXPLAIN (ANALYZE, BUFFERS) SELECT time, value FROM readings"
                                   " WHERE gauge_id = (SELECT id FROM gauges WHERE plant_number"
                                   " = 1001) AND parameter_id = 1 ORDER BY time, station_id");
        for (int i = 0; PQresultStatus(r) == PGRES_TUPLES_OK && i < PQntuples(r); ++i)
            std::printf("  %s\n", PQgetvalue(r, i, 0));
        PQclear(r);
        PQfinish(conn);
    }
    // The same read where the key's index also holds the value (an index-only scan; not the
    // program's schema, for comparison).
    if (argc > 3 && QByteArray(argv[3]) == "covering") {
        cluster.Sql(QStringLiteral("CREATE INDEX readings_cover ON readings (gauge_id, "
                                   "parameter_id, time, station_id) INCLUDE (value)"),
                    &error, QStringLiteral("bench_read"));
        cluster.Sql(QStringLiteral("VACUUM ANALYZE readings"), &error,
                    QStringLiteral("bench_read"));
        for (int i = 0; i < 3; ++i) {
            bool ok = false;
            const Clock::time_point start = Clock::now();
            const std::vector<TPlantPoint> points = reader.ReadRange(1001, "Level", from, to, &ok);
            const double s = SecondsSince(start);
            std::printf("ReadRange with a covering index: %zu points, %.3f s, %.0f rows/s\n",
                        points.size(), s, points.size() / s);
        }
    }
    for (int i = 0; i < 2; ++i) {
        const Clock::time_point start = Clock::now();
        const qint64 n = ResultSetRead(cluster.ConnInfo(QStringLiteral("bench_read")), from, to);
        const double s = SecondsSince(start);
        std::printf("one result set (the former read), 30 days of one gauge: %lld points, "
                    "%.3f s, %.0f rows/s\n",
                    static_cast<long long>(n), s, double(n) / s);
    }
    return 0;
}
