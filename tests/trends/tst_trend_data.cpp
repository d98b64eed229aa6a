// Points of a trend line: writing order kept as runs through clock steps and unsorted batches,
// the repeated autumn hour drawn as two runs with a break, dropped non-numbers, the
// level-of-detail cache against a plain scan, and the growth of the store.

#include "uTrendData.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool ByX(const TTrendPoint& a, const TTrendPoint& b) {
    return a.X < b.X;
}

// Every run in X order, and each run after the first begins before the end of the one before.
bool RunsWellFormed(const TTrendData& data) {
    for (std::size_t r = 0; r < data.RunCount(); ++r) {
        const TIndexRange run = data.Run(r);
        if (run.Empty() || !std::is_sorted(data.Points().begin() + run.First,
                                           data.Points().begin() + run.Last, ByX))
            return false;
        if (r > 0 && !(data.At(run.First).X < data.At(run.First - 1).X))
            return false;
    }
    return data.Empty() || data.Run(data.RunCount() - 1).Last == data.Count();
}

// The Y values of the points, in storage order.
QList<double> Ys(const TTrendData& data) {
    QList<double> ys;
    for (const TTrendPoint& p : data.Points())
        ys << p.Y;
    return ys;
}

// A noisy line with rare spikes, one point a second.
TTrendData Noisy(std::size_t count, quint32 seed) {
    QRandomGenerator random(seed);
    std::vector<TTrendPoint> points(count);
    double y = 5000;
    for (std::size_t i = 0; i < count; ++i) {
        y += random.bounded(-10, 11);
        const double spike = random.bounded(1000) == 0 ? random.bounded(-3000, 3000) : 0;
        points[i] = {1.7e9 + static_cast<double>(i), y + spike};
    }
    TTrendData data;
    data.Append(points);
    return data;
}

} // namespace

class TestTrendData : public QObject {
    Q_OBJECT
private slots:
    void clockStepBackStartsRun() {
        TTrendData data;
        data.Add(100, 1);
        data.Add(200, 2);
        data.Add(150, 3); // the clock was set back: a second pass
        data.Add(200, 4); // an equal X goes on in the same run
        data.Add(300, 5);
        QVERIFY(RunsWellFormed(data));
        QCOMPARE(data.Count(), std::size_t(5));
        QCOMPARE(Ys(data), (QList<double>{1, 2, 3, 4, 5})); // as written
        QCOMPARE(data.RunCount(), std::size_t(2));
        QCOMPARE(data.Run(0).Last, std::size_t(2));
        QCOMPARE(data.Run(1).First, std::size_t(2));
        QCOMPARE(data.MinX(), 100.0);
        QCOMPARE(data.MaxX(), 300.0);
    }

    void batchesKeepWritingOrder() {
        TTrendData data;
        const std::vector<TTrendPoint> unsorted{{30, 3}, {10, 1}, {20, 2}, {20, 22}};
        data.Append(unsorted);
        QVERIFY(RunsWellFormed(data));
        QCOMPARE(Ys(data), (QList<double>{3, 1, 2, 22}));
        QCOMPARE(data.RunCount(), std::size_t(2));
        // The repeated autumn hour: a batch that begins before the newest point.
        const std::vector<TTrendPoint> overlap{{15, 15}, {25, 25}, {40, 40}};
        data.Append(overlap);
        QVERIFY(RunsWellFormed(data));
        QCOMPARE(data.Count(), std::size_t(7));
        QCOMPARE(data.RunCount(), std::size_t(3));
        QCOMPARE(data.MinX(), 10.0);
        QCOMPARE(data.MaxX(), 40.0);
        // A batch that goes on from the newest point continues its run.
        const std::vector<TTrendPoint> more{{40, 41}, {50, 50}};
        data.Append(more);
        QCOMPARE(data.RunCount(), std::size_t(3));
        QCOMPARE(data.Run(2).Last, std::size_t(9));
    }

    // 00:00 to 02:59 once a minute, the clock set back at 03:00 to 02:00, then on to 04:00: two
    // runs, drawn one after the other with one break, never interleaved by time.
    void repeatedHourDrawnAsTwoRuns() {
        TTrendData data;
        const double day = 1.7e9;
        for (int m = 0; m < 180; ++m)
            data.Add(day + m * 60, 1000 + m); // first pass: rising
        for (int m = 120; m <= 240; ++m)
            data.Add(day + m * 60, 5000 - m); // second pass over 02:00 to 03:00: falling
        QCOMPARE(data.RunCount(), std::size_t(2));
        QVERIFY(RunsWellFormed(data));
        std::vector<TTrendPoint> out;
        data.Decimate(day, day + 240 * 60, 1600, out);
        const auto nan = std::find_if(out.begin(), out.end(),
                                      [](const TTrendPoint& p) { return std::isnan(p.Y); });
        QVERIFY(nan != out.end());
        QCOMPARE(std::count_if(out.begin(), out.end(),
                               [](const TTrendPoint& p) { return std::isnan(p.Y); }),
                 std::ptrdiff_t(1));
        QVERIFY(std::is_sorted(out.begin(), nan, ByX));
        QVERIFY(std::is_sorted(nan + 1, out.end(), ByX));
        QCOMPARE((nan - 1)->X, day + 179 * 60); // 02:59, the end of the first pass
        QCOMPARE((nan + 1)->X, day + 120 * 60); // 02:00, the start of the second
        QCOMPARE(std::size_t(out.size()), data.Count() + 1);
        // Both passes are seen within the repeated hour.
        const std::vector<TIndexRange> parts = data.VisibleRanges(day + 130 * 60, day + 140 * 60);
        QCOMPARE(parts.size(), std::size_t(2));
        QCOMPARE(parts.at(0).Last - parts.at(0).First, std::size_t(11));
        QCOMPARE(parts.at(1).Last - parts.at(1).First, std::size_t(11));
        double lo = 0, hi = 0;
        QVERIFY(data.VisibleYExtent(day + 130 * 60, day + 140 * 60, lo, hi));
        QCOMPARE(lo, 1130.0);
        QCOMPARE(hi, 5000.0 - 130);
        // What a view shows, copied for a report, keeps the two runs apart.
        TTrendData shown;
        shown.AssignShown(data, day + 130 * 60, day + 140 * 60);
        QCOMPARE(shown.RunCount(), std::size_t(2));
        QCOMPARE(shown.Count(), std::size_t(11 + 2 + 11 + 2));
        // A view before the repeated hour shows the first pass only: no break.
        data.Decimate(day, day + 60 * 60, 1600, out);
        QVERIFY(std::none_of(out.begin(), out.end(),
                             [](const TTrendPoint& p) { return std::isnan(p.Y); }));
        QCOMPARE(out.size(), std::size_t(62));
    }

    // Many points a run: each run's extremes survive the decimation, and the break stays inside
    // the view.
    void decimatedRunsKeepTheirPeaks() {
        TTrendData data;
        const double day = 1.7e9;
        for (int s = 0; s < 3 * 3600; ++s)
            data.Add(day + s, s == 1000 ? 9999 : 100 + (s % 7));
        for (int s = 2 * 3600; s < 4 * 3600; ++s)
            data.Add(day + s + 0.5, s == 7300 ? -9999 : 200 + (s % 5));
        QCOMPARE(data.RunCount(), std::size_t(2));
        std::vector<TTrendPoint> out;
        const double x0 = day + 500, x1 = day + 3.9 * 3600;
        data.Decimate(x0, x1, 300, out);
        QVERIFY(out.size() <= 2 * (4 * 300 + 256) + 1);
        const auto nan = std::find_if(out.begin(), out.end(),
                                      [](const TTrendPoint& p) { return std::isnan(p.Y); });
        QVERIFY(nan != out.end());
        QVERIFY(nan->X >= x0 && nan->X <= x1);
        const auto byY = [](const TTrendPoint& p, const TTrendPoint& q) { return p.Y < q.Y; };
        QCOMPARE(std::max_element(out.begin(), nan, byY)->Y, 9999.0);
        QCOMPARE(std::min_element(nan + 1, out.end(), byY)->Y, -9999.0);
    }

    void nonNumbersDropped() {
        TTrendData data;
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        data.Add(1, nan);
        data.Add(inf, 1);
        const std::vector<TTrendPoint> batch{{2, 2}, {3, nan}, {4, -inf}, {5, 5}};
        data.Append(batch);
        QCOMPARE(data.Count(), std::size_t(2));
        double lo = 0, hi = 0;
        QVERIFY(data.YExtent(lo, hi));
        QCOMPARE(lo, 2.0);
        QCOMPARE(hi, 5.0);
    }

    void emptyLine() {
        TTrendData data;
        double lo = 0, hi = 0;
        QVERIFY(!data.YExtent(lo, hi));
        QVERIFY(!data.YExtent(0, 10, lo, hi));
        std::vector<TTrendPoint> out{{1, 1}};
        data.Decimate(0, 100, 500, out);
        QVERIFY(out.empty());
        QVERIFY(data.VisibleRanges(0, 100).empty());
        QCOMPARE(data.RunCount(), std::size_t(0));
        QVERIFY(!data.VisibleYExtent(0, 100, lo, hi));
    }

    void visibleRangeInclusive() {
        TTrendData data;
        for (int i = 0; i < 10; ++i)
            data.Add(i, i);
        std::vector<TIndexRange> parts = data.VisibleRanges(3, 6);
        QCOMPARE(parts.size(), std::size_t(1));
        QCOMPARE(parts.at(0).First, std::size_t(3));
        QCOMPARE(parts.at(0).Last, std::size_t(7));
        QVERIFY(data.VisibleRanges(3.5, 3.6).empty());
    }

    void extentMatchesScan() {
        TTrendData data = Noisy(200000, 7);
        QRandomGenerator random(11);
        for (int k = 0; k < 200; ++k) {
            const std::size_t a = random.bounded(200000u);
            const std::size_t b = a + random.bounded(static_cast<quint32>(200000 - a)) + 1;
            double lo = 0, hi = 0;
            QVERIFY(data.YExtent(a, b, lo, hi));
            const auto [mn, mx] = std::minmax_element(
                data.Points().begin() + a, data.Points().begin() + b,
                [](const TTrendPoint& p, const TTrendPoint& q) { return p.Y < q.Y; });
            QCOMPARE(lo, mn->Y);
            QCOMPARE(hi, mx->Y);
        }
    }

    // The drawn points keep every extreme of the view, start and end at the neighbours
    // outside it, stay in X order and stay few.
    void decimationKeepsPeaks_data() {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<int>("columns");
        QTest::newRow("all") << 0.0 << 1e12 << 1200;
        QTest::newRow("one hour") << 1.7e9 + 50000 << 1.7e9 + 53600 << 1200;
        QTest::newRow("odd window") << 1.7e9 + 12345.5 << 1.7e9 + 170001.25 << 333;
        QTest::newRow("narrow chart") << 1.7e9 + 1000 << 1.7e9 + 290000 << 7;
    }
    void decimationKeepsPeaks() {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(int, columns);
        TTrendData data = Noisy(300000, 3);
        std::vector<TTrendPoint> out;
        data.Decimate(from, to, columns, out);
        const std::vector<TIndexRange> parts = data.VisibleRanges(from, to);
        QCOMPARE(parts.size(), std::size_t(1));
        const std::size_t a = parts.at(0).First > 0 ? parts.at(0).First - 1 : 0;
        const std::size_t b = std::min(parts.at(0).Last + 1, data.Count());
        QVERIFY(!out.empty());
        QCOMPARE(out.front().X, data.At(a).X);
        QCOMPARE(out.back().X, data.At(b - 1).X);
        QVERIFY(
            std::is_sorted(out.begin(), out.end(),
                           [](const TTrendPoint& p, const TTrendPoint& q) { return p.X < q.X; }));
        QVERIFY(out.size() <= 4 * static_cast<std::size_t>(columns) + 256);
        const auto byY = [](const TTrendPoint& p, const TTrendPoint& q) { return p.Y < q.Y; };
        const auto [mn, mx] =
            std::minmax_element(data.Points().begin() + a, data.Points().begin() + b, byY);
        const auto [omn, omx] = std::minmax_element(out.begin(), out.end(), byY);
        QCOMPARE(omn->Y, mn->Y);
        QCOMPARE(omx->Y, mx->Y);
    }

    void smallViewIsExact() {
        TTrendData data = Noisy(1000, 5);
        std::vector<TTrendPoint> out;
        data.Decimate(1.7e9 + 100, 1.7e9 + 199, 1000, out);
        QCOMPARE(out.size(), std::size_t(102)); // 100 visible and both neighbours
        QCOMPARE(out.front().X, 1.7e9 + 99);
        QCOMPARE(out.back().X, 1.7e9 + 200);
    }

    void growthStaysClose() {
        TTrendData data = Noisy(100000, 1);
        const std::size_t before = data.Capacity();
        for (int i = 0; i < 10; ++i)
            data.Add(2e9 + i, 1);
        QVERIFY(data.Capacity() <= before + before / 8 + 4096 + 10);
        QVERIFY(data.MemoryBytes() < data.Count() * 24);
    }

    void assignRangeCopiesPart() {
        TTrendData data = Noisy(1000, 9);
        TTrendData part;
        part.AssignRange(data, 10, 20);
        QCOMPARE(part.Count(), std::size_t(10));
        QCOMPARE(part.At(0).X, data.At(10).X);
        double lo = 0, hi = 0, plo = 0, phi = 0;
        QVERIFY(data.YExtent(10, 20, lo, hi));
        QVERIFY(part.YExtent(plo, phi));
        QCOMPARE(plo, lo);
        QCOMPARE(phi, hi);
    }

    void dateTimeScale() {
        const TDateTime t = QtToDateTime(QDateTime(QDate(2024, 3, 5), QTime(14, 20, 0, 500)));
        const double x = TrendXFromDateTime(t);
        QCOMPARE(x, 1709648400.5); // 2024-03-05 14:20:00.500 on the naive scale
        QCOMPARE(DateTimeToQt(DateTimeFromTrendX(x)),
                 QDateTime(QDate(2024, 3, 5), QTime(14, 20, 0, 500)));
    }
};

QTEST_GUILESS_MAIN(TestTrendData)
#include "tst_trend_data.moc"
