// The virtual gauge as a pure function over frames: answers, state changes and faults.

#include "tests/support/TestBytes.h"
#include "uFrame.h"
#include "uGaugeSim.h"
#include <QTest>
#include <cmath>

namespace {

QByteArray Req(std::initializer_list<int> values) {
    return TGaugeSim::WithCrc16(Bytes(values));
}

QByteArray FloatReq(int address, int index, double value) {
    QByteArray b = Bytes({address, 0xB3, 0x06, index});
    for (quint8 x : FloatToBytes(value))
        b.append(static_cast<char>(x));
    return TGaugeSim::WithCrc16(b);
}

quint8 U8(const QByteArray& b, int i) {
    return static_cast<quint8>(b.at(i));
}

double F(const QByteArray& b, int i) {
    return BytesToFloat(U8(b, i), U8(b, i + 1), U8(b, i + 2), U8(b, i + 3));
}

// Answer command byte and minimum length that the utility's parser expects per request.
struct TExpect {
    quint8 Command;
    int MinLength;
};

} // namespace

class TestGaugeSim : public QObject {
    Q_OBJECT
private slots:
    void everyRequestAnswered_data();
    void everyRequestAnswered();
    void writesChangeReads_data();
    void writesChangeReads();
    void readingsConsistent();
    void levelMoves();
    void tareTable();
    void zeroArray();
    void addressChange();
    void addressing();
    void rejectedFrames();
    void faults_data();
    void faults();
    void faultRules();
    void lockedWrite();
    void kalist();
};

void TestGaugeSim::everyRequestAnswered_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("minLength");
    const int a = 1;
    const int modes[] = {0, 1, 2, 3, 6, 7};
    for (int m : modes)
        QTest::addRow("read mode %d", m)
            << Req({a, 0x01, 0x02, m}) << 0x01 << ((m == 0 || m == 7) ? 9 : 10);
    QTest::newRow("all readings") << Req({a, 0x02, 0x01}) << 0x02 << 23;
    QTest::newRow("echo") << Req({a, 0x10, 0x03, 0xAA, 0x55}) << 0x10 << 7;
    QTest::newRow("signature") << Req({a, 0x20, 0x01}) << 0x20 << 10;
    QTest::newRow("address") << Req({a, 0x25, 0x05, 17, 0x03, 0xE9, 1}) << 0x25 << 10;
    QTest::newRow("boot") << Req({a, 0x60, 0x04, 17, 0x03, 0xE9}) << 0x60 << 5;
    QTest::newRow("array start") << Req({a, 0x81, 0x01}) << 0x81 << 5;
    QTest::newRow("array stop") << Req({a, 0x82, 0x01}) << 0x82 << 5;
    QTest::newRow("zero block 32") << Req({a, 0x83, 0x03, 0xF8, 0x08}) << 0x83 << 21;
    QTest::newRow("to ROM") << Req({a, 0xA2, 0x01}) << 0xA2 << 5;
    QTest::newRow("tare levels") << Req({a, 0xA5, 0x02, 0x00}) << 0xA5 << 133;
    QTest::newRow("tare volumes") << Req({a, 0xA5, 0x02, 0x01}) << 0xA5 << 133;
    QByteArray tare = Bytes({a, 0xA6, 0x82, 0x01});
    tare.append(QByteArray(128, '\xFF'));
    QTest::newRow("tare write") << TGaugeSim::WithCrc16(tare) << 0xA6 << 5;
    for (int i : {0, 1, 2, 3, 4, 5, 8, 9, 10, 11})
        QTest::addRow("byte write %d", i) << Req({a, 0xB1, 0x03, i, 1}) << 0xB1 << 5;
    for (int i = 0; i < 3; ++i)
        QTest::addRow("word write %d", i) << Req({a, 0xB2, 0x04, i, 0, 7}) << 0xB2 << 5;
    for (int i : {0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21})
        QTest::addRow("float write %d", i) << FloatReq(a, i, i == 4 ? 0.5 : 1.0) << 0xB3 << 5;
    for (int i = 0; i < 12; ++i)
        QTest::addRow("byte read %d", i) << Req({a, 0xB4, 0x02, i}) << 0xB4 << 6;
    for (int i = 0; i < 3; ++i)
        QTest::addRow("word read %d", i) << Req({a, 0xB5, 0x02, i}) << 0xB5 << 7;
    for (int i : {0, 1, 2, 3, 4, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21})
        QTest::addRow("float read %d", i) << Req({a, 0xB6, 0x02, i}) << 0xB6 << 9;
    // Requests the gauge rejects with an error answer.
    QTest::newRow("unknown command") << Req({a, 0x30, 0x01}) << 0xFA << 6;
    QTest::newRow("unknown mode") << Req({a, 0x01, 0x02, 4}) << 0xFA << 6;
    QTest::newRow("float read 10") << Req({a, 0xB6, 0x02, 10}) << 0xFA << 6;
    QTest::newRow("byte write 6") << Req({a, 0xB1, 0x03, 6, 1}) << 0xFA << 6;
    QTest::newRow("KKalman 2.0") << FloatReq(a, 4, 2.0) << 0xFA << 6;
}

void TestGaugeSim::everyRequestAnswered() {
    QFETCH(QByteArray, request);
    QFETCH(int, command);
    QFETCH(int, minLength);
    TGaugeSim sim;
    const QByteArray answer = sim.Exchange(request).Bytes;
    QVERIFY2(answer.size() >= minLength, qPrintable(answer.toHex(' ')));
    QVERIFY(CheckCrc16(answer));
    QCOMPARE(U8(answer, 0), quint8(1));
    QCOMPARE(int(U8(answer, 1)), command);
    QCOMPARE(int(U8(answer, 2)), answer.size() - 4); // the length byte describes the frame
    if (command == 0xFA)
        QVERIFY(U8(answer, 3) == 1 || U8(answer, 3) == 3);
}

void TestGaugeSim::writesChangeReads_data() {
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("expected"); // payload of the read answer
    QTest::newRow("ModeChannel") << Req({1, 0xB1, 0x03, 4, 1}) << Req({1, 0xB4, 0x02, 4})
                                 << Bytes({1});
    QTest::newRow("TemperCompareTermostat -5")
        << Req({1, 0xB1, 0x03, 2, 0xFB}) << Req({1, 0xB4, 0x02, 2}) << Bytes({0xFB});
    QTest::newRow("UserPsw") << Req({1, 0xB2, 0x04, 1, 0x12, 0x34}) << Req({1, 0xB5, 0x02, 1})
                             << Bytes({0x12, 0x34});
    QTest::newRow("plant number") << Req({1, 0xB2, 0x04, 0, 0x04, 0xD2}) << Req({1, 0x20, 0x01})
                                  << Bytes({17, 0x04, 0xD2, 1, 3});
    QTest::newRow("KKalman") << FloatReq(1, 4, 0.25) << Req({1, 0xB6, 0x02, 4})
                             << Bytes({0x3E, 0x80, 0x00, 0x00});
    QTest::newRow("Speed") << FloatReq(1, 21, 2.0) << Req({1, 0xB6, 0x02, 21})
                           << Bytes({0x40, 0x00, 0x00, 0x00});
}

void TestGaugeSim::writesChangeReads() {
    QFETCH(QByteArray, write);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, expected);
    TGaugeSim sim;
    const QByteArray before = sim.Exchange(read).Bytes;
    QCOMPARE(U8(sim.Exchange(write).Bytes, 1), U8(write, 1));
    const QByteArray after = sim.Exchange(read).Bytes;
    QCOMPARE(after.mid(3, after.size() - 5), expected);
    QVERIFY(before != after);
}

void TestGaugeSim::readingsConsistent() {
    TGaugeSim sim;
    TSimGauge& g = sim.Gauges[0];
    g.SetLevel(6000);
    g.Floats[TSimGauge::Relay1Ust1] = 5000;
    g.Floats[TSimGauge::Relay1Ust2] = 9000;
    g.Floats[TSimGauge::Relay2Ust1] = 10000;
    g.Floats[TSimGauge::Relay2Ust2] = 12000;
    QByteArray a = sim.Exchange(Req({1, 0x02, 0x01})).Bytes;
    QCOMPARE(F(a, 7), 6000.0);                // level
    QCOMPARE(F(a, 3), 1000.0 + 15000 - 6000); // distance
    QCOMPARE(F(a, 11), 15000.0 - 6000);       // free space
    QCOMPARE(F(a, 15), 4000.0);               // 40 % through the linear tare table, x 100
    QCOMPARE(U8(a, 19), quint8(1));           // relay 1 on, relay 2 off
    QCOMPARE(U8(a, 20), quint8(0));

    // A new Dist1 moves the distance, not the level.
    QCOMPARE(U8(sim.Exchange(FloatReq(1, TSimGauge::Dist1, 2000)).Bytes, 1), quint8(0xB3));
    a = sim.Exchange(Req({1, 0x01, 0x02, 0x01})).Bytes;
    QCOMPARE(F(a, 3), 2000.0 + 15000 - 6000);
    a = sim.Exchange(Req({1, 0x01, 0x02, 0x02})).Bytes;
    QCOMPARE(F(a, 3), 6000.0);
    g.SetLevel(11000);
    QCOMPARE(U8(sim.Exchange(Req({1, 0x02, 0x01})).Bytes, 19), quint8(2));
}

void TestGaugeSim::levelMoves() {
    TGaugeSim sim;
    auto level = [&](qint64 ms) {
        sim.SetClockMs(ms);
        return F(sim.Exchange(Req({1, 0x01, 0x02, 0x02})).Bytes, 3);
    };
    const double l0 = level(0);
    const double l1 = level(1000);
    const double l2 = level(150000);
    QVERIFY(l0 != l1);
    QVERIFY(std::fabs(l1 - l0) < 100); // slow: well under 100 mm per second
    QVERIFY(std::fabs(l2 - l0) > 500);
    QVERIFY(l2 >= 0 && l2 <= 15000);
}

void TestGaugeSim::tareTable() {
    TGaugeSim sim;
    QByteArray levels = Bytes({1, 0xA6, 0x82, 0x00});
    QByteArray volumes = Bytes({1, 0xA6, 0x82, 0x01});
    for (int k = 0; k < 32; ++k) {
        for (quint8 b : FloatToBytes(k < 3 ? k * 5000.0 : NAN))
            levels.append(static_cast<char>(k < 3 ? b : 0xFF));
        for (quint8 b : FloatToBytes(k < 3 ? k * 5000.0 : NAN)) // volume 0, 50, 100 % x 100
            volumes.append(static_cast<char>(k < 3 ? b : 0xFF));
    }
    QCOMPARE(U8(sim.Exchange(TGaugeSim::WithCrc16(levels)).Bytes, 1), quint8(0xA6));
    QCOMPARE(U8(sim.Exchange(TGaugeSim::WithCrc16(volumes)).Bytes, 1), quint8(0xA6));
    const QByteArray l = sim.Exchange(Req({1, 0xA5, 0x02, 0x00})).Bytes;
    QCOMPARE(l.mid(3, 128), levels.mid(4, 128));
    const QByteArray v = sim.Exchange(Req({1, 0xA5, 0x02, 0x01})).Bytes;
    QCOMPARE(v.mid(3, 128), volumes.mid(4, 128));
    // The volume reading follows the new table: level 2500 is 25 %.
    sim.Gauges[0].SetLevel(2500);
    QCOMPARE(F(sim.Exchange(Req({1, 0x01, 0x02, 0x06})).Bytes, 3), 2500.0);
    // A table part other than 0 and 1, or a short table, is bad data.
    QCOMPARE(U8(sim.Exchange(Req({1, 0xA5, 0x02, 0x02})).Bytes, 1), quint8(0xFA));
    QCOMPARE(U8(sim.Exchange(Req({1, 0xA6, 0x02, 0x00})).Bytes, 3), quint8(3));
}

void TestGaugeSim::zeroArray() {
    TGaugeSim sim;
    QByteArray a = sim.Exchange(Req({1, 0x83, 0x03, 0x00, 0x08})).Bytes;
    QCOMPARE(a.size(), 21);
    QCOMPARE(MakeWord(U8(a, 4), U8(a, 3)), quint16(13)); // entry 1: number of values
    const quint16 min = MakeWord(U8(a, 6), U8(a, 5));
    const quint16 max = MakeWord(U8(a, 8), U8(a, 7));
    QCOMPARE(MakeWord(U8(a, 10), U8(a, 9)), min); // entry 4: first position
    QVERIFY(max > min);
    sim.Gauges[0].FillZeroArray(20);
    a = sim.Exchange(Req({1, 0x83, 0x03, 0x00, 0x08})).Bytes;
    QCOMPARE(MakeWord(U8(a, 4), U8(a, 3)), quint16(20));
    // Block 3 holds entries 17 to 24: positions 14 to 20 rise, entry 24 is past the end.
    a = sim.Exchange(Req({1, 0x83, 0x03, 0x10, 0x08})).Bytes;
    QVERIFY(MakeWord(U8(a, 4), U8(a, 3)) < MakeWord(U8(a, 6), U8(a, 5)));
    QCOMPARE(MakeWord(U8(a, 18), U8(a, 17)), quint16(0));
}

void TestGaugeSim::addressChange() {
    TGaugeSim sim(2);
    // Plant number 1002 is the second gauge; the first stays silent.
    const QByteArray a = sim.Exchange(Req({255, 0x25, 0x05, 17, 0x03, 0xEA, 9})).Bytes;
    QCOMPARE(a.size(), 10);
    QCOMPARE(U8(a, 0), quint8(9));
    QCOMPARE(MakeWord(U8(a, 5), U8(a, 4)), quint16(1002));
    QVERIFY(sim.Exchange(Req({2, 0x20, 0x01})).Silent());
    QCOMPARE(U8(sim.Exchange(Req({9, 0x20, 0x01})).Bytes, 0), quint8(9));
    QCOMPARE(U8(sim.Exchange(Req({1, 0x20, 0x01})).Bytes, 0), quint8(1));
    // Wrong unit type or plant number: nobody answers.
    QVERIFY(sim.Exchange(Req({255, 0x25, 0x05, 18, 0x03, 0xEA, 7})).Silent());
    QVERIFY(sim.Exchange(Req({255, 0x25, 0x05, 17, 0x00, 0x05, 7})).Silent());
    // Boot request with the matching identity.
    QCOMPARE(U8(sim.Exchange(Req({1, 0x60, 0x04, 17, 0x03, 0xE9})).Bytes, 1), quint8(0x60));
    QVERIFY(sim.Gauges[0].BootMode);
    QVERIFY(!sim.Gauges[1].BootMode);
}

void TestGaugeSim::addressing() {
    TGaugeSim one;
    QCOMPARE(U8(one.Exchange(Req({255, 0x20, 0x01})).Bytes, 0), quint8(1));
    QVERIFY(one.Exchange(Req({7, 0x20, 0x01})).Silent());
    TGaugeSim two(2);
    // Both gauges answer 255 at once: two frames run together and fail the checksum.
    const QByteArray both = two.Exchange(Req({255, 0x20, 0x01})).Bytes;
    QCOMPARE(both.size(), 20);
    QVERIFY(CheckCrc16(both.left(10)) && CheckCrc16(both.mid(10)));
    QVERIFY(!CheckCrc16(both));
    QCOMPARE(U8(two.Exchange(Req({2, 0x20, 0x01})).Bytes, 0), quint8(2));
}

void TestGaugeSim::rejectedFrames() {
    TGaugeSim sim;
    QByteArray bad = Req({1, 0x20, 0x01});
    bad[3] = static_cast<char>(bad[3] ^ 1);
    QVERIFY(sim.Exchange(bad).Silent());
    QVERIFY(sim.Exchange(Bytes({1, 0x20})).Silent());
    QVERIFY(sim.Exchange(Req({1, 0x20, 0x05})).Silent()); // length byte disagrees
    QVERIFY(sim.Exchange(QByteArray()).Silent());
    QCOMPARE(sim.BadRequests, 4);
    QCOMPARE(sim.Answers, 0);
}

void TestGaugeSim::faults_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("check");
    const QByteArray all = Req({1, 0x02, 0x01});
    QTest::newRow("silence") << int(TSimFault::Silence) << 0 << all << "silent";
    QTest::newRow("checksum") << int(TSimFault::BadChecksum) << 0 << all << "badcrc";
    QTest::newRow("cut 5") << int(TSimFault::Cut) << 5 << all << "cut5";
    QTest::newRow("pause") << int(TSimFault::Pause) << 80 << all << "pause";
    QTest::newRow("error 2") << int(TSimFault::ErrorAnswer) << 2 << all << "error2";
    QTest::newRow("device 5 all") << int(TSimFault::DeviceFault) << 5 << all << "fault20";
    QTest::newRow("device 5 level")
        << int(TSimFault::DeviceFault) << 5 << Req({1, 0x01, 0x02, 0x02}) << "fault7";
    QTest::newRow("command") << int(TSimFault::UnknownCommand) << 0 << all << "cmd30";
}

void TestGaugeSim::faults() {
    QFETCH(int, fault);
    QFETCH(int, value);
    QFETCH(QByteArray, request);
    QFETCH(QString, check);
    TGaugeSim sim;
    const QByteArray clean = sim.Exchange(request).Bytes;
    sim.SetFault(TSimFault(fault), TSimFaultRule{1, 0.0, value, 0});
    const TSimAnswer a = sim.Exchange(request);
    if (check == "silent") {
        QVERIFY(a.Silent());
    } else if (check == "badcrc") {
        QCOMPARE(a.Bytes.size(), clean.size());
        QVERIFY(!CheckCrc16(a.Bytes));
    } else if (check == "cut5") {
        QCOMPARE(a.Bytes, clean.left(5));
    } else if (check == "pause") {
        QCOMPARE(a.Bytes, clean);
        QCOMPARE(a.PauseMs, 80);
        QVERIFY(a.PauseAfter > 0 && a.PauseAfter < a.Bytes.size());
    } else if (check == "error2") {
        QCOMPARE(a.Bytes, Req({1, 0xFA, 0x02, 2}));
    } else if (check.startsWith("fault")) {
        QVERIFY(CheckCrc16(a.Bytes));
        QCOMPARE(int(U8(a.Bytes, check.mid(5).toInt())), 5);
        QCOMPARE(a.Bytes.left(7), clean.left(7));
    } else if (check == "cmd30") {
        QVERIFY(CheckCrc16(a.Bytes));
        QCOMPARE(U8(a.Bytes, 1), quint8(0x30));
    }
    // The fault was for one answer only.
    const TSimAnswer next = sim.Exchange(request);
    QCOMPARE(next.Bytes, clean);
    QCOMPARE(next.PauseAfter, -1);
}

void TestGaugeSim::faultRules() {
    TGaugeSim sim;
    const QByteArray all = Req({1, 0x02, 0x01});
    const QByteArray sig = Req({1, 0x20, 0x01});
    // A device fault waits for a reading answer; a signature answer does not use it up.
    sim.SetFault(TSimFault::DeviceFault, TSimFaultRule{1, 0.0, 3, 0});
    QVERIFY(CheckCrc16(sim.Exchange(sig).Bytes));
    QCOMPARE(sim.Fault(TSimFault::DeviceFault).Count, 1);
    QCOMPARE(U8(sim.Exchange(all).Bytes, 20), quint8(3));
    QCOMPARE(sim.Fault(TSimFault::DeviceFault).Count, 0);
    // Probability 1 always, 0.5 sometimes.
    sim.SetFault(TSimFault::Silence, TSimFaultRule{0, 1.0, 0, 0});
    for (int i = 0; i < 5; ++i)
        QVERIFY(sim.Exchange(sig).Silent());
    sim.SetFault(TSimFault::Silence, TSimFaultRule{0, 0.5, 0, 0});
    int silent = 0;
    for (int i = 0; i < 200; ++i)
        silent += sim.Exchange(sig).Silent() ? 1 : 0;
    QVERIFY(silent > 50 && silent < 150);
    sim.ClearFaults();
    QVERIFY(!sim.Exchange(sig).Silent());
}

// A locked gauge acknowledges the write of its one parameter and keeps the old value; the
// other parameters and the other kinds are written as usual.
void TestGaugeSim::lockedWrite() {
    TGaugeSim sim(1);
    TSimFaultRule locked;
    locked.Value = 0xB303; // dist.2, every write
    locked.Probability = 1;
    sim.SetFault(TSimFault::LockedWrite, locked);
    const double dist2 = sim.Gauges[0].Floats[TSimGauge::Dist2];
    TSimAnswer a = sim.Exchange(FloatReq(1, TSimGauge::Dist2, 9000));
    QCOMPARE(a.Bytes, TGaugeSim::WithCrc16(Bytes({1, 0xB3, 0x01})));
    QCOMPARE(sim.Gauges[0].Floats[TSimGauge::Dist2], dist2);
    sim.Exchange(FloatReq(1, TSimGauge::Dist1, 700));
    QCOMPARE(sim.Gauges[0].Floats[TSimGauge::Dist1], 700.0);
    // The same index of another kind is not the locked parameter.
    sim.Exchange(Req({1, 0xB1, 0x03, 3, 2}));
    QCOMPARE(sim.Gauges[0].Bytes[3], quint8(2));

    // A word parameter, locked for the next write only.
    locked.Value = 0xB201;
    locked.Count = 1;
    locked.Probability = 0;
    sim.SetFault(TSimFault::LockedWrite, locked);
    sim.Exchange(Req({1, 0xB2, 0x04, 1, 0x12, 0x34}));
    QCOMPARE(sim.Gauges[0].Words[1], quint16(0));
    sim.Exchange(Req({1, 0xB2, 0x04, 1, 0x12, 0x34}));
    QCOMPARE(sim.Gauges[0].Words[1], quint16(0x1234));
    // A refused value is still refused with an error answer, not acknowledged.
    locked.Value = 0xB304;
    locked.Probability = 1;
    sim.SetFault(TSimFault::LockedWrite, locked);
    a = sim.Exchange(FloatReq(1, TSimGauge::KKalman, 5));
    QCOMPARE(U8(a.Bytes, 1), quint8(0xFA));
}

void TestGaugeSim::kalist() {
    QByteArray request = KalistRequest();
    request.append(static_cast<char>(Crc8(request)));
    TGaugeSim sim;
    QVERIFY(sim.Exchange(request).Silent());
    sim.Kalist.Enabled = true;
    sim.Gauges[0].SetLevel(7500);
    QByteArray a = sim.Exchange(request).Bytes;
    QVERIFY(a.size() >= 8);
    QVERIFY(CheckCrc8(a));
    QCOMPARE(qint16(MakeWord(U8(a, 5), U8(a, 6))), qint16(1200)); // 12.00 mA at half the span
    sim.Gauges[0].SetLevel(15000);
    a = sim.Exchange(request).Bytes;
    QCOMPARE(qint16(MakeWord(U8(a, 5), U8(a, 6))), qint16(2000));
    sim.Kalist.Offset = -30.0; // a negative current travels as a signed value
    a = sim.Exchange(request).Bytes;
    QCOMPARE(qint16(MakeWord(U8(a, 5), U8(a, 6))), qint16(-1000));
    QCOMPARE(sim.KalistRequests, 4);
}

QTEST_GUILESS_MAIN(TestGaugeSim)
#include "tst_gaugesim.moc"
