// Measuring on a trend without windows: the nearest stored reading (also across a clock step
// back), the differences and rate between two cursors and their read-out, gap breaks at three
// poll periods (also in a thinned drawing), the order of the zoom history, and the caption and
// export names.

#include "uTrendMeasure.h"

#include <QTest>
#include <algorithm>
#include <cmath>

class TestTrendMeasure : public QObject {
    Q_OBJECT
private slots:
    void nearestReading() {
        TTrendData data;
        QVERIFY(!NearestReading(data, 10).has_value());
        for (const double x : {100.0, 110.0, 130.0})
            data.Add(x, x / 10);
        QCOMPARE(NearestReading(data, 104)->X, 100.0);
        QCOMPARE(NearestReading(data, 106)->X, 110.0);
        // A tie takes the earlier reading; outside the line the end one.
        QCOMPARE(NearestReading(data, 120)->X, 110.0);
        QCOMPARE(NearestReading(data, -5)->X, 100.0);
        QCOMPARE(NearestReading(data, 1e9)->Y, 13.0);
        QVERIFY(!NearestReading(data, std::nan("")).has_value());
        // A second run (the clock set back) is searched too.
        data.Add(104.5, 7.0);
        data.Add(200.0, 8.0);
        QCOMPARE(NearestReading(data, 104)->Y, 7.0);
        QCOMPARE(NearestReading(data, 180)->X, 200.0);
    }

    void cursorDifferencesAndRate() {
        const TCursorMeasure m = MeasureCursors({1000, 2500}, {1090, 2440});
        QCOMPARE(m.DeltaT, 90.0);
        QCOMPARE(m.DeltaY, -60.0);
        QVERIFY(m.RatePerMinute.has_value());
        QCOMPARE(*m.RatePerMinute, -40.0); // -60 mm over 1.5 min
        // Cursors in the other order: the same rate, both differences turned.
        const TCursorMeasure back = MeasureCursors(m.B, m.A);
        QCOMPARE(back.DeltaT, -90.0);
        QCOMPARE(*back.RatePerMinute, -40.0);
        // Both on one reading: no rate rather than a division by zero.
        QVERIFY(!MeasureCursors({5, 1}, {5, 1}).RatePerMinute.has_value());
        QCOMPARE(RateUnit(QStringLiteral("мм")), QStringLiteral("мм/мин"));
    }

    void medianSpacing() {
        TTrendData data;
        QCOMPARE(MedianSpacing(data), 0.0);
        // Steps 1, 1, 1, 60 (a gap) and a step back between runs, which is no step.
        for (const double x : {0.0, 1.0, 2.0, 3.0, 63.0, 10.0})
            data.Add(x, 0);
        QCOMPARE(MedianSpacing(data), 1.0);
    }

    void gapBreaks_data() {
        QTest::addColumn<double>("gapPeriods");
        QTest::addColumn<bool>("broken");
        QTest::newRow("3.5 periods") << 3.5 << true;
        QTest::newRow("2.5 periods") << 2.5 << false;
        QTest::newRow("exactly 3") << 3.0 << false;
    }
    void gapBreaks() {
        QFETCH(double, gapPeriods);
        QFETCH(bool, broken);
        const double period = 2.0;
        std::vector<TTrendPoint> points{
            {0, 1}, {2, 2}, {2 + gapPeriods * period, 3}, {4 + gapPeriods * period, 4}};
        const std::size_t before = points.size();
        InsertGapBreaks(points, 0, GapPeriods * period);
        QCOMPARE(points.size(), before + (broken ? 1 : 0));
        if (broken) {
            QVERIFY(std::isnan(points[2].Y));
            QVERIFY(points[2].X > 2 && points[2].X < points[3].X);
            QCOMPARE(points[3].Y, 3.0);
        }
        QCOMPARE(points.back().Y, 4.0);
    }

    void gapBreaksKeepPointsBeforeFromAndOrder() {
        // Points before `from` (another run already written out) are not looked at.
        std::vector<TTrendPoint> points{{0, 0}, {100, 1}, {101, 2}, {200, 3}, {300, 4}};
        InsertGapBreaks(points, 1, 10);
        QCOMPARE(points.size(), std::size_t(7));
        const double ys[] = {0, 1, 2, NAN, 3, NAN, 4};
        for (std::size_t i = 0; i < points.size(); ++i)
            QVERIFY2(std::isnan(ys[i]) ? std::isnan(points[i].Y) : points[i].Y == ys[i],
                     qPrintable(QString::number(i)));
        // No limit: nothing broken.
        std::vector<TTrendPoint> flat{{0, 0}, {1000, 1}};
        InsertGapBreaks(flat, 0, 0);
        QCOMPARE(flat.size(), std::size_t(2));
    }

    void zoomHistoryOrder() {
        TZoomHistory h;
        const TTrendView a{0, 100}, b{10, 50}, c{20, 30}, d{40, 45};
        QVERIFY(!h.Back(a).has_value());
        h.Push(a); // a -> b
        h.Push(b); // b -> c
        QCOMPARE(*h.Back(c), b);
        QCOMPARE(*h.Back(b), a);
        QVERIFY(!h.Back(a).has_value());
        QCOMPARE(*h.Forward(a), b);
        QCOMPARE(*h.Forward(b), c);
        QVERIFY(!h.Forward(c).has_value());
        // A new zoom after going back drops what lay ahead.
        QCOMPARE(*h.Back(c), b);
        h.Push(b); // b -> d
        QVERIFY(!h.CanForward());
        QCOMPARE(*h.Back(d), b);
        QCOMPARE(*h.Back(b), a);
        // The oldest views go beyond the limit.
        TZoomHistory many;
        for (std::size_t i = 0; i < TZoomHistory::Limit + 5; ++i)
            many.Push({double(i), double(i) + 1});
        std::size_t steps = 0;
        TTrendView at{-1, -1};
        while (auto v = many.Back(at)) {
            at = *v;
            ++steps;
        }
        QCOMPARE(steps, TZoomHistory::Limit);
        QCOMPARE(at.X0, 5.0);
    }

    void captionAndExportName() {
        QCOMPARE(TrendCaption(QStringLiteral("Hu"), 1001, 3),
                 QStringLiteral("Hu — прибор № 1001, адрес 3"));
        QCOMPARE(TrendCaption(QStringLiteral("Hu"), 1001, -1),
                 QStringLiteral("Hu — прибор № 1001"));
        QCOMPARE(TrendCaption(QStringLiteral("Hu"), -1, 3), QStringLiteral("Hu"));
        const QDate day(2026, 12, 10);
        QCOMPARE(TrendExportFileName(ParameterSign(QStringLiteral("Hu")), day, day,
                                     QStringLiteral("csv")),
                 QStringLiteral("Ну_2026-12-10.csv"));
        // A view over several days names both; characters a file name cannot hold go.
        QCOMPARE(TrendExportFileName(QStringLiteral("Lт-Расстояние, Температура/СВЧ"),
                                     QDate(2026, 1, 2), QDate(2026, 1, 4), QStringLiteral("pdf")),
                 QStringLiteral("Lт-Расстояние,_Температура_СВЧ_2026-01-02_2026-01-04.pdf"));
        QCOMPARE(TrendExportFileName(QString(), QDate(), QDate(), QStringLiteral("csv")),
                 QStringLiteral("trend.csv"));
        QCOMPARE(ParameterSign(QStringLiteral("Freq")), QStringLiteral("Freq"));
    }

    void durationText_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("90 s") << 90.0 << "00:01:30.000";
        QTest::newRow("back 0.2 s") << -0.2 << "-00:00:00.200";
        QTest::newRow("rounded to ms") << 59.9996 << "00:01:00.000";
        QTest::newRow("days") << 2 * 86400.0 + 3723.5 << "2 д 01:02:03.500";
        QTest::newRow("no -0") << -0.0001 << "00:00:00.000";
    }
    void durationText() {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(DurationText(seconds), text);
    }

    // The read-out of a line names each reading's own time to the millisecond and value, then
    // the differences and the rate in the line's unit per minute.
    void readoutText() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        TReadoutFormat f;
        f.Name = QStringLiteral("Ну");
        f.Unit = QStringLiteral("мм");
        f.Number = [](double v) { return QString::number(v, 'f', 0); };
        const double x0 = TrendXFromParts(20432, 12 * 3600000 + 5200); // 10.12.25 12:00:05.200
        const TTrendPoint a{x0, 2500}, b{x0 + 90, 2440};
        QCOMPARE(CursorReadoutText(f, a, b),
                 QStringLiteral("Ну: 1) 10.12.25 12:00:05.200 = 2500 мм; 2) 10.12.25 12:01:35.200 "
                                "= 2440 мм; ΔT = 00:01:30.000; ΔY = -60 мм; скорость = -40,00 "
                                "мм/мин"));
        // One cursor placed: no differences; one reading under both: no rate.
        QCOMPARE(CursorReadoutText(f, a, std::nullopt),
                 QStringLiteral("Ну: 1) 10.12.25 12:00:05.200 = 2500 мм; 2) —"));
        QVERIFY(!CursorReadoutText(f, a, a).contains(QStringLiteral("скорость")));
        QLocale::setDefault(QLocale::c());
    }

    // On a dense regular line seen whole (thinned to min/max per column), a gap of hours is one
    // break and nothing else breaks; with no limit the gap is a ramp.
    void decimatedGapBreaks() {
        TTrendData data;
        for (int i = 0; i < 200000; ++i)
            data.Add(i * 0.2 + (i >= 100000 ? 7200 : 0), std::sin(i * 0.01));
        const double limit = GapPeriods * MedianSpacing(data);
        QCOMPARE(limit, 3 * 0.2);
        std::vector<TTrendPoint> out;
        data.Decimate(data.MinX(), data.MaxX(), 1000, out, limit);
        QVERIFY(out.size() < 5000);
        std::vector<double> breaks;
        for (const TTrendPoint& p : out)
            if (std::isnan(p.Y))
                breaks.push_back(p.X);
        QCOMPARE(breaks.size(), std::size_t(1));
        QVERIFY(breaks[0] > 100000 * 0.2 - 0.2 && breaks[0] < 100000 * 0.2 + 7200);
        data.Decimate(data.MinX(), data.MaxX(), 1000, out, 0);
        QVERIFY(std::none_of(out.begin(), out.end(), [](auto& p) { return std::isnan(p.Y); }));
    }

    void medianOfALongLineIsSampled() {
        // Steps of 1 s with every tenth 30 s: the median stays 1 s whether all steps or a
        // sample of them are looked at.
        TTrendData data;
        double x = 0;
        for (std::size_t i = 0; i < 3 * SpacingSamples; ++i)
            data.Add(x += i % 10 == 9 ? 30.0 : 1.0, 0);
        QCOMPARE(MedianSpacing(data), 1.0);
    }
};

QTEST_GUILESS_MAIN(TestTrendMeasure)
#include "tst_trend_measure.moc"
