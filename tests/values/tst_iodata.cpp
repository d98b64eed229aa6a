// Typed values: the update chain, its events, propagation to connected values and the guard
// that keeps a failing step from reaching the caller.

#include "IOData.h"
#include <QTest>
#include <memory>
#include <stdexcept>

namespace {

// Counts the four events of one value.
struct TEventCount {
    explicit TEventCount(TIOData& v) {
        v.OnInSet = [this](TIOData*) { ++InSet; };
        v.OnInChange = [this](TIOData*) { ++InChange; };
        v.OnOutSet = [this](TIOData*) { ++OutSet; };
        v.OnOutChange = [this](TIOData*) { ++OutChange; };
    }
    int InSet = 0, InChange = 0, OutSet = 0, OutChange = 0;
};

} // namespace

class TestIOData : public QObject {
    Q_OBJECT
private slots:
    void variantComparesNumbersByValue_data();
    void variantComparesNumbersByValue();
    void variantConversionsThrowOnFailure();
    void freshDoubleReadsZeroAndZeroIsNoChange();
    void sameReadingTwice();
    void inactiveValueStoresOnly();
    void chainPropagatesWithSourceTime();
    void zeroTimeMeansNow();
    void connectTwiceKeepsOneEntry();
    void connectImmediatelyTakesSourceValue();
    void disconnectLeavesSourceAndIgnoresStrangers();
    void loopIsRefused();
    void threeStatesConvert_data();
    void threeStatesConvert();
    void threeStatesStartsUnknown();
    void nonNumericInputKeepsOutput();
    void failingOutSetStopsUpdateButNotCaller();
    void failingSubscriberDoesNotStopTheNext();
    void subscriberDisconnectingDuringNotification();
    void destroyedSourceIsForgotten();
    void assignCopiesActiveAndDescription();
};

void TestIOData::variantComparesNumbersByValue_data() {
    QTest::addColumn<TVariant>("a");
    QTest::addColumn<TVariant>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("byte 0 = double 0")
        << TVariant::FromByte(0) << TVariant::FromDouble(0.0) << true;
    QTest::newRow("byte 2 = int 2") << TVariant::FromByte(2) << TVariant::FromInt(2) << true;
    QTest::newRow("true = int 1") << TVariant::FromBool(true) << TVariant::FromInt(1) << true;
    QTest::newRow("double 0.5 != byte 0")
        << TVariant::FromDouble(0.5) << TVariant::FromByte(0) << false;
    QTest::newRow("big ints differ")
        << TVariant::FromInt(9007199254740993LL) << TVariant::FromInt(9007199254740992LL) << false;
    QTest::newRow("text is not a number")
        << TVariant::FromText(QStringLiteral("1")) << TVariant::FromInt(1) << false;
    QTest::newRow("texts") << TVariant::FromText(QStringLiteral("a"))
                           << TVariant::FromText(QStringLiteral("a")) << true;
    QTest::newRow("empty = empty") << TVariant() << TVariant() << true;
    QTest::newRow("empty != byte 0") << TVariant() << TVariant::FromByte(0) << false;
}

void TestIOData::variantComparesNumbersByValue() {
    QFETCH(TVariant, a);
    QFETCH(TVariant, b);
    QFETCH(bool, equal);
    QCOMPARE(a == b, equal);
    QCOMPARE(b == a, equal);
}

void TestIOData::variantConversionsThrowOnFailure() {
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, TVariant().ToDouble());
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             TVariant::FromText(QStringLiteral("abc")).ToDouble());
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, TVariant::FromDouble(qQNaN()).ToInt());
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, TVariant::FromDouble(1e30).ToInt());
    QCOMPARE(TVariant::FromText(QStringLiteral(" 2,5 ")).ToDouble(), 2.5);
    QCOMPARE(TVariant::FromDouble(2.5).ToInt(), 3);
    QCOMPARE(TVariant::FromDouble(-2.5).ToInt(), -3);
}

void TestIOData::freshDoubleReadsZeroAndZeroIsNoChange() {
    TIODouble v;
    QCOMPARE(v.AsDouble(), 0.0);
    TEventCount n(v);
    v.SetValue(TVariant::FromDouble(0.0));
    QCOMPARE(n.InSet, 1);
    QCOMPARE(n.InChange, 0);
    QCOMPARE(n.OutSet, 1);
    QCOMPARE(n.OutChange, 0);
    QCOMPARE(v.GetValue().GetKind(), TVariant::Kind::Double);
}

void TestIOData::sameReadingTwice() {
    TIODouble v;
    TEventCount n(v);
    v.SetValue(TVariant::FromDouble(7.5));
    v.SetValue(TVariant::FromDouble(7.5));
    QCOMPARE(n.InSet, 2);
    QCOMPARE(n.OutSet, 2);
    QCOMPARE(n.InChange, 1);
    QCOMPARE(n.OutChange, 1);
    QCOMPARE(v.AsDouble(), 7.5);
}

void TestIOData::inactiveValueStoresOnly() {
    TIODouble v, sub;
    sub.Connect(&v);
    v.Active = false;
    TEventCount n(v);
    v.SetValue(TVariant::FromDouble(3.0), 45000.25);
    QCOMPARE(v.GetInValue().ToDouble(), 3.0);
    QCOMPARE(v.ValueTime(), 45000.25);
    QCOMPARE(v.AsDouble(), 0.0);
    QCOMPARE(n.InSet + n.InChange + n.OutSet + n.OutChange, 0);
    QCOMPARE(sub.GetInValue().GetKind(), TVariant::Kind::Byte); // never reached
}

void TestIOData::chainPropagatesWithSourceTime() {
    TIODouble a, b, c;
    b.Connect(&a);
    c.Connect(&b);
    TEventCount nc(c);
    a.SetValue(TVariant::FromInt(5), 0.0);
    QCOMPARE(b.AsDouble(), 5.0);
    QCOMPARE(c.AsDouble(), 5.0);
    QCOMPARE(b.ValueTime(), a.ValueTime());
    QCOMPARE(c.ValueTime(), a.ValueTime());
    QCOMPARE(nc.OutChange, 1);
    a.SetValue(TVariant::FromInt(6), 44000.5);
    QCOMPARE(c.ValueTime(), 44000.5);
}

void TestIOData::zeroTimeMeansNow() {
    TIODouble v;
    const TDateTime before = NowDateTime();
    v.SetValue(TVariant::FromDouble(1.0), 0.0);
    const TDateTime after = NowDateTime();
    QVERIFY(v.ValueTime() >= before && v.ValueTime() <= after);
}

void TestIOData::connectTwiceKeepsOneEntry() {
    TIODouble a, b, other;
    b.Connect(&a);
    b.Connect(&a);
    QCOMPARE(a.Subscribers().size(), 1u);
    b.Connect(&other);
    QVERIFY(a.Subscribers().empty());
    QCOMPARE(other.Subscribers().size(), 1u);
    QCOMPARE(b.Source(), &other);
    b.Connect(nullptr); // only disconnects
    QVERIFY(other.Subscribers().empty());
    QCOMPARE(b.Source(), nullptr);
}

void TestIOData::connectImmediatelyTakesSourceValue() {
    TIODouble a, b, c;
    a.SetValue(TVariant::FromDouble(4.0), 43000.0);
    b.Connect(&a);
    QCOMPARE(b.AsDouble(), 0.0); // waits for the next update
    c.Connect(&a, true);
    QCOMPARE(c.AsDouble(), 4.0);
    QCOMPARE(c.ValueTime(), 43000.0);
}

void TestIOData::disconnectLeavesSourceAndIgnoresStrangers() {
    TIODouble a, b, c;
    b.Connect(&a);
    c.Connect(&a);
    c.Disconnect(&b); // c is not in b's list
    QCOMPARE(a.Subscribers().size(), 2u);
    b.Disconnect(&a);
    QCOMPARE(a.Subscribers().size(), 1u);
    QCOMPARE(a.Subscribers().front(), &c);
    QCOMPARE(b.Source(), &a);
    a.SetValue(TVariant::FromDouble(9.0));
    QCOMPARE(b.AsDouble(), 0.0);
    QCOMPARE(c.AsDouble(), 9.0);
}

void TestIOData::loopIsRefused() {
    TIODouble a, b, c;
    b.Connect(&a);
    c.Connect(&b);
    a.Connect(&c); // would close the loop a -> b -> c -> a
    QVERIFY(c.Subscribers().empty());
    QCOMPARE(a.Source(), nullptr);
    a.Connect(&a);
    QVERIFY(a.Subscribers().size() == 1u && a.Subscribers().front() == &b);
    a.SetValue(TVariant::FromDouble(2.0)); // would not return if the loop existed
    QCOMPARE(c.AsDouble(), 2.0);
    // Once b is disconnected the old link no longer counts.
    b.Disconnect(&a);
    a.Connect(&c);
    QCOMPARE(a.Source(), &c);
}

void TestIOData::threeStatesConvert_data() {
    QTest::addColumn<TVariant>("in");
    QTest::addColumn<int>("code");
    QTest::newRow("int 258 -> low 8 bits") << TVariant::FromInt(258) << 2;
    QTest::newRow("byte 1") << TVariant::FromByte(1) << 1;
    QTest::newRow("double 1.6 rounds") << TVariant::FromDouble(1.6) << 2;
    QTest::newRow("int -1") << TVariant::FromInt(-1) << 255;
    QTest::newRow("true -> tsTrue") << TVariant::FromBool(true) << int(tsTrue);
    QTest::newRow("false -> tsFalse") << TVariant::FromBool(false) << int(tsFalse);
}

void TestIOData::threeStatesConvert() {
    QFETCH(TVariant, in);
    QFETCH(int, code);
    TIOThreeStates t;
    t.SetValue(in);
    QCOMPARE(int(t.State()), code);
    QCOMPARE(t.GetValue().GetKind(), TVariant::Kind::Byte);
}

void TestIOData::threeStatesStartsUnknown() {
    const TDateTime before = NowDateTime();
    TIOThreeStates t;
    QCOMPARE(int(t.State()), int(tsUnknown));
    QVERIFY(t.ValueTime() >= before);
    QCOMPARE(t.Description()->Captions[tsUnknown], QStringLiteral("Unknown"));
}

void TestIOData::nonNumericInputKeepsOutput() {
    TIODouble v, sub;
    sub.Connect(&v);
    v.SetValue(TVariant::FromDouble(1.5));
    TEventCount n(v);
    v.SetValue(TVariant::FromText(QStringLiteral("ошибка")), 44000.0);
    QCOMPARE(v.AsDouble(), 1.5);
    QCOMPARE(v.GetInValue().ToText(), QStringLiteral("ошибка"));
    QCOMPARE(v.ValueTime(), 44000.0);
    QCOMPARE(n.InSet, 1);
    QCOMPARE(n.InChange, 1);
    QCOMPARE(n.OutSet + n.OutChange, 0);
    QVERIFY(sub.ValueTime() != 44000.0);
}

void TestIOData::failingOutSetStopsUpdateButNotCaller() {
    TIODouble v, sub;
    sub.Connect(&v);
    int outChange = 0;
    v.OnOutSet = [](TIOData*) { throw std::runtime_error("handler failed"); };
    v.OnOutChange = [&](TIOData*) { ++outChange; };
    v.SetValue(TVariant::FromDouble(3.0)); // must not throw
    QCOMPARE(v.AsDouble(), 3.0);           // stored before the handler failed
    QCOMPARE(outChange, 0);
    QCOMPARE(sub.AsDouble(), 0.0);
    v.OnOutSet = nullptr;
    v.SetValue(TVariant::FromDouble(4.0));
    QCOMPARE(outChange, 1);
    QCOMPARE(sub.AsDouble(), 4.0);
}

void TestIOData::failingSubscriberDoesNotStopTheNext() {
    TIODouble a, bad, good;
    bad.Connect(&a);
    good.Connect(&a);
    bad.OnInSet = [](TIOData*) { throw 42; };
    a.SetValue(TVariant::FromDouble(8.0));
    QCOMPARE(good.AsDouble(), 8.0);
    QCOMPARE(bad.AsDouble(), 0.0);
}

void TestIOData::subscriberDisconnectingDuringNotification() {
    TIODouble a, first, c;
    auto b = std::make_unique<TIODouble>();
    first.Connect(&a);
    b->Connect(&a);
    c.Connect(&a);
    // A window closing inside an event destroys a value that the source has still to notify,
    // and a value leaves the list from its own event.
    first.OnOutSet = [&](TIOData*) { b.reset(); };
    c.OnOutSet = [&](TIOData*) { c.Disconnect(&a); };
    a.SetValue(TVariant::FromDouble(6.0));
    QVERIFY(!b);
    QCOMPARE(c.AsDouble(), 6.0);
    QCOMPARE(a.Subscribers().size(), 1u);
    QCOMPARE(a.Subscribers().front(), &first);
}

void TestIOData::destroyedSourceIsForgotten() {
    TIODouble b, c;
    {
        TIODouble a;
        b.Connect(&a);
        c.Connect(&a);
        c.Disconnect(&a); // still names a as its source
    }
    QCOMPARE(b.Source(), nullptr);
    QCOMPARE(c.Source(), nullptr);
    b.Connect(nullptr); // must not touch the destroyed source
}

void TestIOData::assignCopiesActiveAndDescription() {
    TIODouble src, dst;
    src.Active = false;
    src.Description()->Title = QStringLiteral("Уровень");
    src.Description()->Dimension = QStringLiteral("мм");
    src.SetValue(TVariant::FromDouble(5.0));
    dst.Assign(&src);
    QVERIFY(!dst.Active);
    QCOMPARE(dst.Description()->Title, QStringLiteral("Уровень"));
    QCOMPARE(dst.Description()->Dimension, QStringLiteral("мм"));
    QCOMPARE(dst.GetInValue().GetKind(), TVariant::Kind::Byte); // the value is not copied

    TIOThreeStates t;
    t.Active = false;
    t.Description()->Title = QStringLiteral("Реле");
    TIODouble d2;
    d2.Assign(&t); // another family: nothing
    QVERIFY(d2.Active);
    QVERIFY(d2.Description()->Title.isEmpty());
    TIOThreeStates t2;
    t2.Assign(&t);
    QVERIFY(!t2.Active);
    QCOMPARE(t2.Description()->Title, QStringLiteral("Реле"));
}

QTEST_GUILESS_MAIN(TestIOData)
#include "tst_iodata.moc"
