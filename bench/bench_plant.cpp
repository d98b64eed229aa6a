// The plant archive's store against a throw-away PostgreSQL cluster (tests/support/PgCluster.h):
// rows per second of ShipBatch with batches of 100 000 new rows, of the same batches sent again
// (every row already there), and of ReadRange over 1 000 000 rows of one gauge's parameter.
//   bench_plant [ROUNDS]    ROUNDS batches of 100 000 rows per figure (10: the 1 M rows read)

#include "tests/support/PgCluster.h"
#include "uPlantStore.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? qMax(1, atoi(argv[1])) : 10;
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

    const qint64 from = batches.front().front().TimeMs;
    const qint64 to = batches.back().back().TimeMs;
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const Clock::time_point start = Clock::now();
        const std::vector<TPlantPoint> points = store.ReadRange(1001, "Level", from, to, &ok);
        const double s = SecondsSince(start);
        if (!ok) {
            std::fprintf(stderr, "%s\n", qPrintable(store.LastError()));
            return 1;
        }
        std::printf("ReadRange: %zu points, %.3f s, %.0f rows/s\n", points.size(), s,
                    points.size() / s);
    }
    return 0;
}
