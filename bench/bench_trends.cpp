// Trend benchmarks on a generated archive: 30 days of one table at the default poll period
// (200 ms, about 13 million rows).
//   bench_trends --generate DIR   writes the archive under DIR (once; skipped when present)
//   bench_trends DIR              loads it as the trend window does and prints the figures:
//                                 rows per second, bytes per point (against the estimate the
//                                 windows refuse a range by, TrendBytesPerPoint), the time of
//                                 that estimate's row count, the longest pause between two
//                                 chances of the window to answer, replot times (full range
//                                 and one hour) and the cost of a live point after a day.

#include "uArchiveLoad.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uRangeDT.h"
#include "uTrendData.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sqlite3.h>
#include <sys/resource.h>
#include <vector>

#ifdef ULMAR_BENCH_CHART
#include "uTrendChart.h"
#include <QApplication>
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Days = 30;
int RowsPerDay = 86400 * 5; // the default poll period, 200 ms
const QDate FirstDay(2024, 1, 1);

// Processor time of the whole process (every thread), ms.
double CpuMs() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Resident and peak resident memory of this process, kB.
void Memory(long& rss, long& peak) {
    rss = peak = 0;
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            rss = line.mid(6).trimmed().split(' ').value(0).toLong();
        if (line.startsWith("VmHWM:"))
            peak = line.mid(6).trimmed().split(' ').value(0).toLong();
    }
}

TDateTime DayStart(int k) {
    return DateToDateTime(FirstDay.addDays(k));
}

bool Generate(const QString& root) {
    SetArchiveRoot(root);
    for (int k = 0; k < Days; ++k) {
        const QString dir = ArchiveDayDir(DayStart(k));
        const QString file = JoinPath(dir, QStringLiteral("Hu.db"));
        if (QFileInfo::exists(file))
            continue;
        QDir().mkpath(dir);
        if (!CreateArchiveTable(file))
            return false;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK)
            return false;
        // Written in one transaction with a rollback journal and a large cache (a long write
        // transaction in WAL mode keeps re-logging the same pages), then back to WAL as the
        // writer keeps its tables.
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "PRAGMA cache_size=-262144", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO Hu (V, DT) VALUES (?1, ?2)", -1, &stmt, nullptr);
        const QDate date = FirstDay.addDays(k);
        const QByteArray day = date.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
        for (int i = 0; i < RowsPerDay; ++i) {
            const int ms = static_cast<int>(static_cast<qint64>(i) * 86400000 / RowsPerDay);
            char dt[32];
            std::snprintf(dt, sizeof dt, "%s %02d:%02d:%02d.%03d", day.constData(), ms / 3600000,
                          ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
            const double t = k + ms / 86400000.0;
            const double v = 8000 + 3000 * std::sin(t * 0.7) + 40 * std::sin(ms * 0.0003) +
                             (static_cast<qint64>(i) * 7919 % 101) * 0.1;
            sqlite3_bind_double(stmt, 1, v);
            sqlite3_bind_text(stmt, 2, dt, 23, SQLITE_TRANSIENT);
            sqlite3_step(stmt);
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        std::printf("day %d of %d written\n", k + 1, Days);
        std::fflush(stdout);
    }
    return true;
}

#ifdef ULMAR_BENCH_CHART
// Median and longest of `runs` calls, ms.
template <typename F> std::pair<double, double> Time(int runs, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t = Clock::now();
        f();
        ms.push_back(MsSince(t));
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

// Replots of the trend chart at 1600 x 800 (offscreen), and the cost of a live point at the
// start of a day of live readings and at its end.
void ChartFigures(TTrendData&& data) {
    TTrendChart chart;
    chart.resize(1600, 800);
    chart.show(); // laid out at its size (offscreen)
    QCoreApplication::processEvents();
    TTrendSeries* line = chart.AddSeries(chart.Left(), Qt::blue, Qt::blue, 3);
    line->Data = std::move(data);
    const double x0 = line->Data.MinX();
    const double x1 = line->Data.MaxX();
    chart.SetAxisRange(chart.Bottom(), x0, x1);
    chart.Redraw();
    auto [median, worst] = Time(20, [&] { chart.Redraw(); });
    std::printf("replot of all %zu points: median %.1f ms, longest %.1f ms (%d points drawn "
                "on %d columns)\n",
                line->Data.Count(), median, worst, line->FedCount(), chart.axisRect()->width());
    chart.SetAxisRange(chart.Bottom(), x1 - 3600, x1);
    chart.Redraw();
    std::tie(median, worst) = Time(50, [&] { chart.Redraw(); });
    std::printf("replot of a one-hour view: median %.1f ms, longest %.1f ms (%d points drawn)\n",
                median, worst, line->FedCount());
    line->SetPointsShown(true);
    std::tie(median, worst) = Time(20, [&] { chart.Redraw(); });
    std::printf("  the same with point markers: median %.1f ms, longest %.1f ms\n", median, worst);

    // A live trend: a point every 200 ms, the view following the newest 45 minutes.
    TTrendChart live;
    live.resize(1600, 800);
    live.show();
    QCoreApplication::processEvents();
    TTrendSeries* s = live.AddSeries(live.Left(), Qt::blue, Qt::blue, 3);
    double x = 1.7e9;
    const auto addAndDraw = [&] {
        x += 0.2;
        s->Data.Add(x, 5000 + std::sin(x * 0.001) * 100);
        live.SetAxisRange(live.Bottom(), x - 2700, x);
        live.Redraw();
    };
    for (int i = 0; i < 100; ++i)
        addAndDraw();
    std::tie(median, worst) = Time(200, addAndDraw);
    std::printf("live point at the start of a day: median %.2f ms, longest %.2f ms\n", median,
                worst);
    for (int i = 0; i < RowsPerDay; ++i) {
        x += 0.2;
        s->Data.Add(x, 5000 + std::sin(x * 0.001) * 100);
    }
    std::tie(median, worst) = Time(200, addAndDraw);
    std::printf("live point after a day (%zu points): median %.2f ms, longest %.2f ms\n",
                s->Data.Count(), median, worst);
    live.SetAxisRange(live.Bottom(), s->Data.MinX(), x);
    std::tie(median, worst) = Time(20, [&] { live.Redraw(); });
    std::printf("  replot of the whole live day: median %.2f ms, longest %.2f ms\n", median, worst);
}
#endif

} // namespace

int main(int argc, char** argv) {
#ifdef ULMAR_BENCH_CHART
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    const QStringList args = QCoreApplication::arguments();
    if (qEnvironmentVariableIsSet("ULMAR_BENCH_ROWS_PER_DAY"))
        RowsPerDay = qEnvironmentVariableIntValue("ULMAR_BENCH_ROWS_PER_DAY");
    if (args.size() >= 3 && args.at(1) == QLatin1String("--generate"))
        return Generate(QDir(args.at(2)).absolutePath()) ? 0 : 1;
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_trends [--generate] DIR\n");
        return 2;
    }
    SetArchiveRoot(QDir(args.at(1)).absolutePath());

    {
        const auto t = Clock::now();
        const qint64 bound = ArchiveRangeRowBound({QStringLiteral("Hu")}, DayStart(0),
                                                  DayStart(Days) - OneSecond / 1000);
        std::printf("row bound of the range (the memory estimate's count): %lld rows of %d days "
                    "in %.1f ms; estimate %.0f MB at %.0f bytes/point\n",
                    static_cast<long long>(bound), Days, MsSince(t),
                    bound * TrendBytesPerPoint / (1024.0 * 1024.0), TrendBytesPerPoint);
    }
    const int threadCounts[] = {1, 0};
    TTrendData data;
    for (const int threads : threadCounts) {
        data.Clear();
        long rss0 = 0, peak0 = 0;
        Memory(rss0, peak0);
        double longestGap = 0;
        auto lastYield = Clock::now();
        TArchiveLoadHooks hooks;
        hooks.Threads = threads;
        hooks.Yield = [&] {
            longestGap = std::max(longestGap, MsSince(lastYield));
            lastYield = Clock::now();
        };
        const double cpu0 = CpuMs();
        const auto start = Clock::now();
        const TArchiveLoadResult result = LoadArchiveRange(
            {{QStringLiteral("Hu"), &data}}, DayStart(0), DayStart(Days) - OneSecond / 1000, hooks);
        const double loadMs = MsSince(start);
        const double cpuMs = CpuMs() - cpu0;
        long rss1 = 0, peak1 = 0;
        Memory(rss1, peak1);
        std::printf("load, %s: %lld rows of %d days in %.0f ms = %.2f million rows/s "
                    "(processor time %.0f ms = %.2f million rows per processor second; "
                    "failures %d)\n",
                    threads == 1 ? "one reader" : "reader per core",
                    static_cast<long long>(result.Rows), result.Days, loadMs,
                    result.Rows / loadMs / 1000.0, cpuMs, result.Rows / cpuMs / 1000.0,
                    result.Failures);
        std::printf("  memory: points and cache %.2f bytes/point; resident %+.2f bytes/point, "
                    "peak %+.2f bytes/point\n",
                    double(data.MemoryBytes()) / data.Count(),
                    (rss1 - rss0) * 1024.0 / data.Count(), (peak1 - peak0) * 1024.0 / data.Count());
        std::printf("  longest stretch without a chance to answer: %.1f ms\n", longestGap);
    }
    {
        // One gauge's rows chosen in the statement (WHERE PN IS NULL: the generated rows carry
        // no plant number, so the same rows come back), one reader, the gauges counted first as
        // the trend window does.
        auto t = Clock::now();
        const std::vector<TGaugeRows> gauges = ArchiveRangeGauges(
            {QStringLiteral("Hu")}, DayStart(0), DayStart(Days) - OneSecond / 1000);
        const double listMs = MsSince(t);
        t = Clock::now();
        ArchiveRangeGauges({QStringLiteral("Hu")}, DayStart(0), DayStart(Days) - OneSecond / 1000);
        std::printf("gauges of the range: %zu in %.0f ms, again (kept) in %.2f ms\n", gauges.size(),
                    listMs, MsSince(t));
        TTrendData one;
        TArchiveLoadHooks hooks;
        hooks.Threads = 1;
        t = Clock::now();
        const TArchiveLoadResult result =
            LoadArchiveRange({{QStringLiteral("Hu"), &one, UnknownGauge}}, DayStart(0),
                             DayStart(Days) - OneSecond / 1000, hooks);
        const double ms = MsSince(t);
        std::printf("load of one gauge, one reader: %lld rows in %.0f ms = %.2f million rows/s\n",
                    static_cast<long long>(result.Rows), ms, result.Rows / ms / 1000.0);
    }
#ifdef ULMAR_BENCH_CHART
    ChartFigures(std::move(data));
    return 0;
#endif
    std::vector<TTrendPoint> out;
    auto t = Clock::now();
    data.Decimate(data.MinX(), data.MaxX(), 1600, out);
    std::printf("first decimation of all points: %.2f ms, %zu points\n", MsSince(t), out.size());
    t = Clock::now();
    data.Decimate(data.MinX(), data.MaxX(), 1600, out);
    std::printf("decimation of all points: %.2f ms, %zu points\n", MsSince(t), out.size());
    return 0;
}
