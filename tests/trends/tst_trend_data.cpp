// Points of a trend line: X order kept through clock steps and unsorted batches, dropped
// non-numbers, the level-of-detail cache against a plain scan, and the growth of the store.

#include "archive/uTrendData.h"

#include <QRandomGenerator>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool Sorted(const TTrendData& data) {
    return std::is_sorted(data.Points().begin(), data.Points().end(),
                          [](const TTrendPoint& a, const TTrendPoint& b) { return a.X < b.X; });
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
    void clockStepBackKeepsOrder() {
        TTrendData data;
        data.Add(100, 1);
        data.Add(200, 2);
        data.Add(150, 3); // the clock was set back
        data.Add(200, 4); // equal X goes after the earlier point
        data.Add(300, 5);
        QVERIFY(Sorted(data));
        QCOMPARE(data.Count(), std::size_t(5));
        QCOMPARE(data.At(1).Y, 3.0);
        QCOMPARE(data.At(2).Y, 2.0);
        QCOMPARE(data.At(3).Y, 4.0);
    }

    void batchesCheckedAndMerged() {
        TTrendData data;
        const std::vector<TTrendPoint> unsorted{{30, 3}, {10, 1}, {20, 2}, {20, 22}};
        data.Append(unsorted);
        QVERIFY(Sorted(data));
        QCOMPARE(data.At(1).Y, 2.0); // stable: equal X keep their order
        QCOMPARE(data.At(2).Y, 22.0);
        // The repeated autumn hour: a batch that begins before the newest point.
        const std::vector<TTrendPoint> overlap{{15, 15}, {25, 25}, {40, 40}};
        data.Append(overlap);
        QVERIFY(Sorted(data));
        QCOMPARE(data.Count(), std::size_t(7));
        QCOMPARE(data.MinX(), 10.0);
        QCOMPARE(data.MaxX(), 40.0);
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
        std::size_t first = 9, last = 9;
        data.VisibleRange(0, 100, first, last);
        QCOMPARE(first, std::size_t(0));
        QCOMPARE(last, std::size_t(0));
    }

    void visibleRangeInclusive() {
        TTrendData data;
        for (int i = 0; i < 10; ++i)
            data.Add(i, i);
        std::size_t first = 0, last = 0;
        data.VisibleRange(3, 6, first, last);
        QCOMPARE(first, std::size_t(3));
        QCOMPARE(last, std::size_t(7));
        data.VisibleRange(3.5, 3.6, first, last);
        QCOMPARE(first, last);
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
        // A step back in the middle invalidates part of the cache.
        data.Add(1.7e9 + 150000.5, 99999);
        std::vector<TTrendPoint> out;
        data.Decimate(from, to, columns, out);
        std::size_t first = 0, last = 0;
        data.VisibleRange(from, to, first, last);
        const std::size_t a = first > 0 ? first - 1 : 0;
        const std::size_t b = std::min(last + 1, data.Count());
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
