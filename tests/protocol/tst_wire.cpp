// The wire table against the simulator, whose answer builder is written apart from it: every
// request code encoded, answered by a virtual gauge and decoded back to what the gauge holds;
// every write read back through its read code.

#include "uFrame.h"
#include "uGaugeSim.h"
#include "uWire.h"

#include <QTest>
#include <cmath>

namespace {

// A gauge whose every parameter, table entry and reading differs from the others.
TGaugeSim MakeSim() {
    TGaugeSim sim(1);
    TSimGauge& g = sim.Gauges[0];
    for (int i = 0; i < TSimGauge::ByteParamCount; ++i)
        g.Bytes[i] = static_cast<quint8>(0x30 + i);
    g.Words[1] = 0x1234;
    g.Words[2] = 0x5678;
    for (int i = 0; i < TSimGauge::FloatParamCount; ++i)
        g.Floats[i] = 100.25 + i;
    g.Floats[TSimGauge::Dist1] = 1000;
    g.Floats[TSimGauge::Dist2] = 15000;
    g.Floats[TSimGauge::KrPer] = 2;
    g.FillZeroArray(100);
    g.FillLinearTare(10);
    g.SetLevel(5000);
    return sim;
}

// A value the gauge accepts for a write, distinct for each parameter index.
double WriteValue(const TWireRow& row) {
    switch (row.Value) {
    case TWireValue::SignedByte:
        return -7;
    case TWireValue::Byte:
        return 0x50 + row.Index;
    case TWireValue::Word:
        return 0x2000 + row.Index;
    default:
        return row.Index == TSimGauge::KKalman ? 0.5
               : row.Index == TSimGauge::Speed ? 12.5
                                               : 250.5 + row.Index;
    }
}

// The read row that brings back what a write row wrote; null when the parameter has none.
const TWireRow* ReadBackRow(const TWireRow& write) {
    const TRequestLayout read = write.Layout == TRequestLayout::TareWrite
                                    ? TRequestLayout::TareRead
                                    : TRequestLayout::ParamRead;
    const TWireField field =
        write.Field == TWireField::PlantNumberNew ? TWireField::PlantNumber : write.Field;
    for (const TWireRow& row : WireRows())
        if (row.Layout == read && row.Field == field)
            return &row;
    return nullptr;
}

TAnswer Exchange(TGaugeSim& sim, int code, const TRequestValues& values) {
    const QByteArray request = TGaugeSim::WithCrc16(Encode(code, values));
    return Decode(request, sim.Exchange(request).Bytes);
}

bool Near(double a, double b) {
    return std::fabs(a - b) <= 1e-6 * std::max(1.0, std::fabs(b));
}

} // namespace

class TestWire : public QObject {
    Q_OBJECT
private slots:
    void everyCodeRoundTrips_data();
    void everyCodeRoundTrips();
    void codesOfRequests();
    void encodeRefuses();
    void cutAnswersReadAsFarAsTheyGo();
    void zeroBlockToACutRequest();
};

void TestWire::everyCodeRoundTrips_data() {
    QTest::addColumn<int>("code");
    for (const TWireRow& row : WireRows())
        QTest::addRow("code %d", row.Code) << row.Code;
}

void TestWire::everyCodeRoundTrips() {
    QFETCH(int, code);
    const TWireRow& row = *WireRow(code);
    TGaugeSim sim = MakeSim();
    const TSimGauge& g = sim.Gauges[0];
    TRequestValues values;
    values.Address = 1;
    switch (row.Layout) {
    case TRequestLayout::Identity:
    case TRequestLayout::IdentityAddress:
        values.Add(g.UnitType);
        values.Add(g.PlantNumber);
        values.Add(5);
        break;
    case TRequestLayout::ZeroBlock:
        values.Add(3);
        break;
    case TRequestLayout::TareWrite:
        for (int k = 0; k < TarePointCount; ++k)
            values.Add(k < 20 ? k * 10.0 + 0.5 : NAN);
        break;
    case TRequestLayout::ParamWrite:
        values.Add(WriteValue(row));
        break;
    default:
        break;
    }
    const TAnswer a = Exchange(sim, code, values);
    QCOMPARE(int(a.Status), int(TAnswerStatus::Ok));
    QCOMPARE(a.RequestCode, code);
    QCOMPARE(int(a.Command), int(row.Command));
    QVERIFY(!a.HasFault || a.Fault == 0);

    switch (row.Layout) {
    case TRequestLayout::ReadMode: {
        QCOMPARE(int(a.Layout), int(TAnswerLayout::Reading));
        QCOMPARE(int(a.Field), int(row.Field));
        QCOMPARE(a.HasFault, row.WithFault);
        const double expected = row.Field == TWireField::Freq        ? g.Freq(0)
                                : row.Field == TWireField::Distance  ? g.Distance(0)
                                : row.Field == TWireField::Level     ? g.Level(0)
                                : row.Field == TWireField::LevelFree ? g.LevelFree(0)
                                : row.Field == TWireField::Volume    ? g.Volume(0)
                                                                     : g.FreqOpCh;
        QVERIFY2(Near(a.Values[0], expected), qPrintable(QString::number(a.Values[0])));
        break;
    }
    case TRequestLayout::Plain:
        if (code == UlmarCmd::LevelAllRead) {
            QCOMPARE(int(a.Layout), int(TAnswerLayout::AllReadings));
            QVERIFY(Near(a.Values[0], g.Distance(0)));
            QVERIFY(Near(a.Values[1], g.Level(0)));
            QVERIFY(Near(a.Values[2], g.LevelFree(0)));
            QVERIFY(Near(a.Values[3], g.Volume(0)));
        } else if (code == UlmarCmd::SignatureRead) {
            QCOMPARE(int(a.Layout), int(TAnswerLayout::Signature));
            QCOMPARE(a.PlantNumber, g.PlantNumber);
            QCOMPARE(a.UnitType, g.UnitType);
            QCOMPARE(a.HardVersion, g.HardVersion);
            QCOMPARE(a.SoftVersion, g.SoftVersion);
            QVERIFY(!a.SetsAddress);
        } else {
            QCOMPARE(int(a.Layout), int(TAnswerLayout::Silent));
        }
        break;
    case TRequestLayout::Echo:
        QVERIFY(a.EchoGood);
        break;
    case TRequestLayout::IdentityAddress:
        QVERIFY(a.SetsAddress);
        QCOMPARE(int(a.Address), 5);
        QCOMPARE(a.PlantNumber, g.PlantNumber);
        break;
    case TRequestLayout::Identity:
        QCOMPARE(int(a.Layout), int(TAnswerLayout::Confirm));
        QVERIFY(g.BootMode);
        break;
    case TRequestLayout::ZeroBlock:
        QCOMPARE(a.ZeroStart, 16);
        for (int k = 0; k < ZeroBlockSize; ++k)
            QCOMPARE(a.Words[k], g.ZeroArray[16 + k]);
        break;
    case TRequestLayout::TareRead:
        QCOMPARE(int(a.Field), int(row.Field));
        QCOMPARE(a.Count, TarePointCount);
        for (int k = 0; k < TarePointCount; ++k) {
            const double expected =
                row.Field == TWireField::TareLevels ? g.TareLevels[k] : g.TareVolumes[k];
            QVERIFY(std::isnan(expected) ? std::isnan(a.Values[k]) : Near(a.Values[k], expected));
        }
        break;
    case TRequestLayout::ParamRead:
        QCOMPARE(int(a.Field), int(row.Field));
        QCOMPARE(a.Count, 1);
        if (row.Field == TWireField::TempSVCH)
            QCOMPARE(a.Values[0], double(g.TempSVCH(0)));
        else if (row.Field == TWireField::TemperTermostat)
            QCOMPARE(a.Values[0], double(g.TemperTermostat(0)));
        else if (row.Value == TWireValue::Byte || row.Value == TWireValue::SignedByte)
            QCOMPARE(a.Values[0], row.Value == TWireValue::SignedByte
                                      ? double(qint8(g.Bytes[row.Index]))
                                      : double(g.Bytes[row.Index]));
        else if (row.Value == TWireValue::Word)
            QCOMPARE(a.Integer, row.Index == 0 ? g.PlantNumber : g.Words[row.Index]);
        else
            QCOMPARE(a.Values[0], double(float(g.Floats[row.Index])));
        break;
    case TRequestLayout::TareWrite:
    case TRequestLayout::ParamWrite: {
        QCOMPARE(int(a.Layout), int(TAnswerLayout::Confirm));
        const TWireRow* read = ReadBackRow(row);
        if (!read) { // dist. calibration has no read command: the gauge holds the value
            QCOMPARE(g.Floats[row.Index], WriteValue(row));
            break;
        }
        TRequestValues none;
        none.Address = 1;
        const TAnswer back = Exchange(sim, read->Code, none);
        QCOMPARE(int(back.Status), int(TAnswerStatus::Ok));
        QCOMPARE(back.Count, row.Layout == TRequestLayout::TareWrite ? TarePointCount : 1);
        for (int k = 0; k < back.Count; ++k)
            QVERIFY2(std::isnan(values.Values[k]) ? std::isnan(back.Values[k])
                                                  : back.Values[k] == values.Values[k],
                     qPrintable(QStringLiteral("%1: %2").arg(k).arg(back.Values[k])));
        break;
    }
    }
}

void TestWire::codesOfRequests() {
    // Every row's request names its own code, with and without the checksum.
    TRequestValues values;
    for (int k = 0; k < TarePointCount; ++k)
        values.Add(1);
    for (const TWireRow& row : WireRows()) {
        const QByteArray frame = Encode(row.Code, values);
        QCOMPARE(int(quint8(frame.at(2))), int(frame.size()) - 2);
        QCOMPARE(RequestCodeOf(frame), row.Code);
        QCOMPARE(RequestCodeOf(TGaugeSim::WithCrc16(frame)), row.Code);
    }
    QCOMPARE(RequestCodeOf(QByteArray::fromHex("01 01 02 04")), -1); // no read mode 4
    QCOMPARE(RequestCodeOf(QByteArray::fromHex("01 B6 02 07")), -1); // no float read 7
    QCOMPARE(RequestCodeOf(QByteArray::fromHex("01 B6")), -1);       // cut before the index
    QCOMPARE(RequestCodeOf(QByteArray::fromHex("01 30 01")), -1);
}

void TestWire::encodeRefuses() {
    TRequestValues values;
    for (int code : {-1, 80, 255})
        QVERIFY_THROWS_EXCEPTION(TCodecError, Encode(code, values));
    // A write without its value, a zero block outside the array.
    QVERIFY_THROWS_EXCEPTION(TCodecError, Encode(UlmarCmd::KrPerWrite, values));
    for (double block : {0.0, 33.0, double(NAN)}) {
        TRequestValues zero;
        zero.Add(block);
        QVERIFY_THROWS_EXCEPTION(TCodecError, Encode(UlmarCmd::ZeroBlockRead, zero));
    }
}

void TestWire::cutAnswersReadAsFarAsTheyGo() {
    // A volume tare part: point k is k + 1 percent, point 2 empty.
    const QByteArray request = TGaugeSim::WithCrc16(QByteArray::fromHex("01 A5 02 01"));
    QByteArray body = QByteArray::fromHex("01 A5 80");
    for (int k = 0; k < TarePointCount; ++k) {
        if (k == 2) {
            body.append(4, char(0xFF));
            continue;
        }
        for (quint8 b : FloatToBytes((k + 1) * VolumeScale))
            body.append(char(b));
    }
    const QByteArray whole = TGaugeSim::WithCrc16(body);
    const TAnswer ok = DecodeFields(request, whole);
    QCOMPARE(int(ok.Status), int(TAnswerStatus::Ok));
    QCOMPARE(ok.FieldsPresent, TarePointCount);
    QCOMPARE(ok.EmptyPoints, quint32(1) << 2);
    QCOMPARE(ok.Values[31], 32.0);

    // Cut inside point 6: five points read, the status says why the answer fails, and Decode
    // hands on none of it.
    const QByteArray cut = whole.left(3 + 4 * 5 + 2);
    const TAnswer partial = DecodeFields(request, cut);
    QCOMPARE(int(partial.Status), int(TAnswerStatus::BadChecksum));
    QCOMPARE(partial.HeaderPresent, 3);
    QCOMPARE(partial.FieldsPresent, 5);
    QCOMPARE(partial.Count, 5);
    QCOMPARE(partial.Values[4], 5.0);
    QCOMPARE(int(partial.Field), int(TWireField::TareVolumes));
    const TAnswer refused = Decode(request, cut);
    QCOMPARE(int(refused.Status), int(TAnswerStatus::BadChecksum));
    QCOMPARE(refused.Count, 0);
    QCOMPARE(refused.FieldsPresent, 0);
    QCOMPARE(int(refused.Field), int(TWireField::None));

    // A reading short of its fault byte: the value is there, the fault byte is not.
    const QByteArray level = TGaugeSim::WithCrc16(QByteArray::fromHex("01 01 02 02"));
    const QByteArray shortReading =
        TGaugeSim::WithCrc16(QByteArray::fromHex("01 01 04 45 9C 40 00"));
    const TAnswer reading = DecodeFields(level, shortReading);
    QCOMPARE(int(reading.Status), int(TAnswerStatus::Short));
    QVERIFY(reading.HasFault);
    QCOMPARE(reading.FieldsPresent, 2); // the value and the first checksum byte as the fault
    QCOMPARE(reading.Values[0], 5000.0);
    QCOMPARE(Decode(level, shortReading).Count, 0);

    // Two bytes: the address and the command, nothing past them.
    const TAnswer two = DecodeFields(level, QByteArray::fromHex("01 01"));
    QCOMPARE(int(two.Status), int(TAnswerStatus::Cut));
    QCOMPARE(two.HeaderPresent, 2);
    QCOMPARE(int(two.Command), 0x01);
    QCOMPARE(two.FieldsPresent, 0);
}

void TestWire::zeroBlockToACutRequest() {
    // A zero block answered to a request cut before its start byte (as a request log line may
    // hold it): decoded without a start entry, never read past the request's end.
    QByteArray body = QByteArray::fromHex("01 83 10");
    for (int k = 0; k < ZeroBlockSize; ++k)
        body.append(char(0)).append(char(k));
    const QByteArray answer = TGaugeSim::WithCrc16(body);
    for (const QByteArray& request :
         {QByteArray::fromHex("01 83"), QByteArray::fromHex("01 83 03")}) {
        const TAnswer a = Decode(request, answer);
        QCOMPARE(int(a.Status), int(TAnswerStatus::Ok));
        QCOMPARE(a.ZeroStart, -1);
        QCOMPARE(a.Words[7], quint16(7));
    }
    QCOMPARE(Decode(QByteArray::fromHex("01 83 03 10 08"), answer).ZeroStart, 0x10);
}

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
