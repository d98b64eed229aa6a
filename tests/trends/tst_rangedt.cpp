// The range rules: the 24 hours of a new range, a value without a date or time, a date alone,
// midnight kept as given, the same value set twice, and an inverted range.

#include "uRangeDT.h"

#include <QTest>
#include <cmath>
#include <limits>

namespace {

TDateTime FakeNow = 0.0;
TDateTime Clock() {
    return FakeNow;
}

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QtToDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

} // namespace

class TestRangeDT : public QObject {
    Q_OBJECT
private slots:
    void init() { FakeNow = At(2024, 3, 10, 14, 20, 0); }

    void newRangeIsLastDay() {
        TRangeDT range(&Clock);
        QCOMPARE(range.GetStop(), FakeNow);
        QCOMPARE(range.GetStart(), FakeNow - 1.0);
        QVERIFY(!range.IsEmpty());
    }

    void completion_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("stop");
        const double now = At(2024, 3, 10, 14, 20, 0);
        const double timeOfDay = now - std::floor(now);
        QTest::newRow("nothing given")
            << 0.0 << At(2024, 3, 9) + timeOfDay << At(2024, 3, 10) + timeOfDay;
        QTest::newRow("time alone") << 0.5 << At(2024, 3, 9, 12) << At(2024, 3, 10, 12);
        QTest::newRow("under a second alone")
            << 0.5 * OneSecond << At(2024, 3, 9) + timeOfDay << At(2024, 3, 10) + timeOfDay;
        QTest::newRow("midnight kept") << At(2024, 2, 1) << At(2024, 2, 1) << At(2024, 2, 1);
        QTest::newRow("half a second after midnight kept")
            << At(2024, 2, 1, 0, 0, 0, 500) << At(2024, 2, 1, 0, 0, 0, 500)
            << At(2024, 2, 1, 0, 0, 0, 500);
        QTest::newRow("date and time")
            << At(2023, 12, 31, 23, 59, 59, 999) << At(2023, 12, 31, 23, 59, 59, 999)
            << At(2023, 12, 31, 23, 59, 59, 999);
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN()
                                      << At(2024, 3, 9) + timeOfDay << At(2024, 3, 10) + timeOfDay;
    }
    void completion() {
        QFETCH(double, value);
        QFETCH(double, start);
        QFETCH(double, stop);
        TRangeDT range(&Clock);
        range.SetStart(value);
        range.SetStop(value);
        QCOMPARE(range.GetStart(), start);
        QCOMPARE(range.GetStop(), stop);
    }

    void dateAloneTakesTimeOfDay() {
        TRangeDT range(&Clock);
        range.SetStart(QDate(2024, 3, 3));
        range.SetStop(QDate(2024, 3, 4));
        QCOMPARE(range.GetStart(), At(2024, 3, 3, 14, 20, 0));
        QCOMPARE(range.GetStop(), At(2024, 3, 4, 14, 20, 0));
        range.SetStop(QDate());
        QCOMPARE(range.GetStop(), At(2024, 3, 10, 14, 20, 0));
    }

    void sameValueTwiceKeepsFirstNow() {
        TRangeDT range(&Clock);
        range.SetStart(0.0);
        const TDateTime first = range.GetStart();
        FakeNow += 5 * OneSecond;
        range.SetStart(first);
        QCOMPARE(range.GetStart(), first);
        range.SetStart(0.0); // 0 is not the stored value: a new "now"
        QCOMPARE(range.GetStart(), first + 5 * OneSecond);
    }

    void invertedRangeIsEmpty() {
        TRangeDT range(&Clock);
        range.SetStartStop(At(2024, 3, 10, 14, 20, 1), At(2024, 3, 10, 14, 20, 0));
        QVERIFY(range.IsEmpty());
        range.SetStop(At(2024, 3, 10, 14, 20, 1));
        QVERIFY(!range.IsEmpty()); // equal ends hold one moment
    }
};

QTEST_GUILESS_MAIN(TestRangeDT)
#include "tst_rangedt.moc"
