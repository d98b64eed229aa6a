// The service record without a line: the run test's verdict at the tolerance's edges (the
// differences as the device object computes them, in binary floating point), rows not filled,
// the tolerance setting read in any locale; session.json read back as written and refused with
// the field named when it is garbled.

#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include "uIniFile.h"
#include "uServiceRecord.h"
#include "uServiceSession.h"
#include "uWire.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <cmath>
#include <limits>

namespace {

// One filled row with the differences made the way the run table makes them: reference minus
// measured. The measured values are chosen so that a difference of 3 mm comes out as
// 3.000000000000001 and one of ±0.03 mA as ±0.03000000000000025: just beyond the edge in binary.
TServiceRunRow Row(double levelDifference, double currentDifference) {
    TServiceRunRow r;
    r.Tape = 1000;
    r.MeasuredLevel = 7.3;
    r.ReferenceLevel = r.MeasuredLevel + levelDifference;
    r.LevelDifference = r.ReferenceLevel - r.MeasuredLevel;
    r.MeasuredCurrent = 4.1;
    r.ReferenceCurrent = r.MeasuredCurrent + currentDifference;
    r.CurrentDifference = r.ReferenceCurrent - r.MeasuredCurrent;
    r.Filled = true;
    return r;
}

TServiceRecord SampleRecord() {
    TServiceRecord rec;
    rec.Site = QStringLiteral("Резервуарный парк №2");
    rec.Tag = QStringLiteral("LT-101");
    rec.Technician = QStringLiteral("Петров П.П.");
    rec.Started = QStringLiteral("2026-03-01T08:00:00.000Z");
    rec.Gauge = {3, 9600, QStringLiteral("/dev/ttyUSB0"), 1234, 17, 1, 3};
    rec.AsFound.Taken = rec.Started;
    rec.AsFound.Done = ServiceStepsAll;
    rec.AsFound.Gauge = rec.Gauge;
    rec.AsFound.Parameters = {{"Dist1", "dist.1", "1000.5", 1000.5, true},
                              {"PPM", "ППМ", "abc", std::nullopt, true},
                              {"KKalman", "Калман", "", std::nullopt, false}};
    rec.AsFound.Tare = {{0, 0}, {15000, 100}};
    rec.AsFound.Zero.assign(256, 7);
    rec.AsFound.Zero[0] = -2147483647 - 1;
    rec.AsFound.Failed = {{"tare", QStringLiteral("нет ответа")}};
    rec.RunTest.Recorded = rec.Started;
    rec.RunTest.Rows = {Row(1.5, 0.01), Row(0, 0)};
    rec.RunTest.Rows[1].MeasuredCurrent = std::numeric_limits<double>::quiet_NaN();
    rec.Writes = {{"2026-03-01T08:05:00.123Z", 3, 34, "Записать dist.1", "Dist1", "1200",
                   TServiceOutcome::Refused}};
    return rec;
}

QByteArray WithCrc(QByteArray bytes) {
    const quint16 crc = Crc16(bytes);
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

QByteArray Request(int address, int code, std::initializer_list<double> values) {
    TRequestValues v;
    v.Address = static_cast<quint8>(address);
    for (const double x : values)
        v.Add(x);
    return WithCrc(Encode(code, v));
}

// The gauge's answer: its address, the command, the length byte, the payload.
QByteArray Answer(int address, int command, const QByteArray& payload = {}) {
    return WithCrc(QByteArray(1, char(address)) + char(command) + char(payload.size() + 1) +
                   payload);
}

// A request log line as the request log writes it, at 08:15:<second>,250 on 10 Dec 2026.
QByteArray LogLine(int second, const QByteArray& request, const QByteArray& answer) {
    const auto hex = [](const QByteArray& b) { return b.toHex(' ').toUpper(); };
    return "10.12.2026 08:15:" + QByteArray::number(second).rightJustified(2, '0') + ",250 [" +
           hex(request) + "] -> [" + hex(answer) + "]\r\n";
}

QString WriteFile(const QString& dir, const QByteArray& bytes) {
    const QString path = dir + QStringLiteral("/session.json");
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

} // namespace

class TestServiceRecord : public QObject {
    Q_OBJECT
private slots:
    void verdictAtEdges_data();
    void verdictAtEdges();
    void verdictNotDone();
    void writesFromLog();
    void toleranceSetting();
    void jsonRoundTrip();
    void garbledFileRefused_data();
    void garbledFileRefused();
};

void TestServiceRecord::verdictAtEdges_data() {
    QTest::addColumn<double>("level");
    QTest::addColumn<double>("current");
    QTest::addColumn<bool>("pass");
    QTest::newRow("2.9 mm") << 2.9 << 0.0 << true;
    QTest::newRow("3.0 mm") << 3.0 << 0.0 << true;
    QTest::newRow("3.1 mm") << 3.1 << 0.0 << false;
    QTest::newRow("-3.0 mm") << -3.0 << 0.0 << true;
    QTest::newRow("-3.1 mm") << -3.1 << 0.0 << false;
    QTest::newRow("3.001 mm") << 3.001 << 0.0 << false;
    QTest::newRow("0.029 mA") << 0.0 << 0.029 << true;
    QTest::newRow("0.030 mA") << 0.0 << 0.030 << true;
    QTest::newRow("0.031 mA") << 0.0 << 0.031 << false;
    QTest::newRow("-0.030 mA") << 0.0 << -0.030 << true;
    QTest::newRow("-0.031 mA") << 0.0 << -0.031 << false;
    QTest::newRow("both at the edge") << -3.0 << 0.03 << true;
    QTest::newRow("level not a number") << std::numeric_limits<double>::quiet_NaN() << 0.0 << false;
}

void TestServiceRecord::verdictAtEdges() {
    QFETCH(double, level);
    QFETCH(double, current);
    QFETCH(bool, pass);
    TServiceRunTest test;
    test.Recorded = QStringLiteral("2026-03-01T08:00:00.000Z");
    test.Rows = {Row(0.5, 0.001), Row(level, current), Row(-1, -0.01)};
    if (std::isnan(level))
        test.Rows[1].LevelDifference = level;
    const TServiceVerdict v = ServiceVerdict(test, {3.0, 0.03});
    QVERIFY(v.Done);
    QCOMPARE(v.Rows.size(), std::size_t(3));
    QCOMPARE(v.Rows[1], pass ? TRowVerdict::Pass : TRowVerdict::Fail);
    QCOMPARE(v.Pass, pass);
    QCOMPARE(ServiceVerdictText(v), pass ? QStringLiteral("годен") : QStringLiteral("не годен"));
}

void TestServiceRecord::verdictNotDone() {
    TServiceRunTest test;
    test.Recorded = QStringLiteral("2026-03-01T08:00:00.000Z");
    test.Rows = {Row(0, 0), Row(0, 0)};
    test.Rows[1].Filled = false;
    TServiceVerdict v = ServiceVerdict(test, {});
    QVERIFY(!v.Done);
    QVERIFY(!v.Pass);
    QCOMPARE(v.Rows[1], TRowVerdict::NotFilled);
    QCOMPARE(ServiceVerdictText(v), QStringLiteral("не выполнен"));
    // No rows, or rows never recorded, are no pass either.
    QVERIFY(!ServiceVerdict(TServiceRunTest(), {}).Done);
    test.Rows[1].Filled = true;
    test.Recorded.clear();
    QVERIFY(!ServiceVerdict(test, {}).Pass);
}

// The writes of a line with two gauges: the session's gauge (plant number 1001, address 1)
// moves to address 5 during the session; the other gauge's writes and every read stay out.
void TestServiceRecord::writesFromLog() {
    const QByteArray identity("\x11\x03\xE9\x01\x03", 5); // type 17, 1001, versions
    QByteArray log;
    log += LogLine(1, Request(1, UlmarCmd::Dist1Write, {1500}), Answer(1, 0xB3));
    log += LogLine(2, Request(2, UlmarCmd::Dist1Write, {1500}), Answer(2, 0xB3));
    log += LogLine(3, Request(1, UlmarCmd::Dist1Write, {1500.5}), Answer(1, 0xFA, "\x02"));
    log += LogLine(4, Request(1, UlmarCmd::ModeImageWrite, {2}), QByteArray());
    log += LogLine(5, Request(1, UlmarCmd::Dist1Read, {}), Answer(1, 0xB6, "\x44\xBB\x80\x00"));
    log += "не строка обмена\r\n";
    log += LogLine(6, Request(1, UlmarCmd::SystemAddressWrite, {17, 1001, 5}),
                   Answer(5, 0x25, identity));
    log += LogLine(7, Request(5, UlmarCmd::SystemAddressWrite, {17, 2002, 9}), QByteArray());
    log += LogLine(8, Request(5, UlmarCmd::Relay1Ust1Write, {2500.25}), Answer(5, 0xB3));
    const std::vector<TServiceWrite> writes = ServiceWritesFromLog(log, 1, 1001);

    struct TExpected {
        int Second;
        int Address;
        int Code;
        const char* Key;
        const char* Value;
        TServiceOutcome Outcome;
    };
    const TExpected expected[] = {
        {1, 1, UlmarCmd::Dist1Write, "Dist1", "1500", TServiceOutcome::Accepted},
        {3, 1, UlmarCmd::Dist1Write, "Dist1", "1500.5", TServiceOutcome::Refused},
        {4, 1, UlmarCmd::ModeImageWrite, "ModeImage", "2", TServiceOutcome::NoAnswer},
        {6, 1, UlmarCmd::SystemAddressWrite, "SystemAddress", "5", TServiceOutcome::Accepted},
        {8, 5, UlmarCmd::Relay1Ust1Write, "Relay1Ust1", "2500.25", TServiceOutcome::Accepted},
    };
    QCOMPARE(writes.size(), std::size(expected));
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const TServiceWrite& w = writes[i];
        const TExpected& e = expected[i];
        QCOMPARE(w.Address, e.Address);
        QCOMPARE(w.Code, e.Code);
        QCOMPARE(w.Key, QString::fromLatin1(e.Key));
        QCOMPARE(w.Value, QString::fromLatin1(e.Value));
        QCOMPARE(w.Outcome, e.Outcome);
        QVERIFY(!w.Name.isEmpty());
        QCOMPARE(w.Time,
                 ServiceTimeText(QDateTime(QDate(2026, 12, 10), QTime(8, 15, e.Second, 250))));
    }
}

void TestServiceRecord::toleranceSetting() {
    TTestDirs dirs;
    const QString path = dirs.Work() + QStringLiteral("/INI/Record.ini");
    QCOMPARE(ServiceSettingsFile(), path);
    QStringList problems;
    // No file: the defaults, without a word.
    TServiceTolerance t = ReadServiceTolerance(path, &problems);
    QCOMPARE(t.LevelMm, 3.0);
    QCOMPARE(t.CurrentMa, 0.03);
    QVERIFY(problems.isEmpty());
    {
        TIniFile ini(path);
        ini.WriteString("Record", "LevelToleranceMm", "2,5");
        ini.WriteString("Record", "CurrentToleranceMa", "0.05");
        QVERIFY(ini.Save());
    }
    t = ReadServiceTolerance(path, &problems);
    QCOMPARE(t.LevelMm, 2.5);
    QCOMPARE(t.CurrentMa, 0.05);
    QVERIFY(problems.isEmpty());
    {
        TIniFile ini(path);
        ini.WriteString("Record", "LevelToleranceMm", "три");
        ini.WriteString("Record", "CurrentToleranceMa", "-1");
        QVERIFY(ini.Save());
    }
    t = ReadServiceTolerance(path, &problems);
    QCOMPARE(t.LevelMm, 3.0);
    QCOMPARE(t.CurrentMa, 0.03);
    QCOMPARE(problems.size(), 2);
    QVERIFY(problems[0].contains(QStringLiteral("LevelToleranceMm=три")));
}

void TestServiceRecord::jsonRoundTrip() {
    TTestDirs dirs;
    const TServiceRecord rec = SampleRecord();
    const QString path = dirs.Work() + QStringLiteral("/session.json");
    QString error;
    QVERIFY2(SaveServiceRecord(path, rec, error), qPrintable(error));
    // Numbers are JSON numbers, whatever the locale.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject json = QJsonDocument::fromJson(f.readAll()).object();
    const QJsonObject dist1 = json["asFound"]["parameters"][0].toObject();
    QVERIFY(dist1["value"].isDouble());
    QCOMPARE(dist1["value"].toDouble(), 1000.5);
    QVERIFY(json["runTest"]["rows"][1]["measuredCurrent"].isNull());

    TServiceRecord back;
    QVERIFY2(LoadServiceRecord(path, back, error), qPrintable(error));
    QCOMPARE(back.Technician, rec.Technician);
    QCOMPARE(back.Gauge.PlantNumber, 1234);
    QCOMPARE(back.AsFound.Gauge.Port, rec.Gauge.Port);
    QVERIFY(back.AsFound.Complete());
    QCOMPARE(back.AsFound.Parameters.size(), std::size_t(3));
    QCOMPARE(*back.AsFound.Parameters[0].Value, 1000.5);
    QVERIFY(!back.AsFound.Parameters[1].Value);
    QVERIFY(!back.AsFound.Parameters[2].ReadOk);
    QCOMPARE(back.AsFound.Zero, rec.AsFound.Zero);
    QCOMPARE(back.AsFound.Failed.size(), std::size_t(1));
    QCOMPARE(back.RunTest.Rows[0].LevelDifference, rec.RunTest.Rows[0].LevelDifference);
    QVERIFY(std::isnan(back.RunTest.Rows[1].MeasuredCurrent));
    QCOMPARE(back.Writes.size(), std::size_t(1));
    QCOMPARE(back.Writes[0].Outcome, TServiceOutcome::Refused);
    QCOMPARE(ServiceRecordBytes(back), ServiceRecordBytes(rec));
}

void TestServiceRecord::garbledFileRefused_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray good = ServiceRecordBytes(SampleRecord());
    QTest::newRow("cut short") << good.left(good.size() / 2) << QStringLiteral("не JSON");
    QTest::newRow("an array") << QByteArray("[1, 2]") << QStringLiteral("не объект JSON");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("не JSON");
    QJsonObject o = QJsonDocument::fromJson(good).object();
    const auto with = [&o](const std::function<void(QJsonObject&)>& change) {
        QJsonObject copy = o;
        change(copy);
        return QJsonDocument(copy).toJson();
    };
    QTest::newRow("value as text") << with([](QJsonObject& j) {
        QJsonObject found = j["asFound"].toObject();
        QJsonArray params = found["parameters"].toArray();
        QJsonObject p = params[0].toObject();
        p["value"] = "1000,5";
        params[0] = p;
        found["parameters"] = params;
        j["asFound"] = found;
    }) << QStringLiteral("«asFound.parameters[0].value»: не число");
    QTest::newRow("no writes") << with([](QJsonObject& j) { j.remove("writes"); })
                               << QStringLiteral("«writes»: нет");
    QTest::newRow("unknown state")
        << with([](QJsonObject& j) { j["state"] = "closed"; }) << QStringLiteral("«state»");
    QTest::newRow("plant number out of range") << with([](QJsonObject& j) {
        QJsonObject g = j["gauge"].toObject();
        g["plantNumber"] = 70000;
        j["gauge"] = g;
    }) << QStringLiteral("«gauge.plantNumber»");
    QTest::newRow("zero array short") << with([](QJsonObject& j) {
        QJsonObject left = j["asLeft"].toObject();
        left["zero"] = QJsonArray{1, 2, 3};
        j["asLeft"] = left;
    }) << QStringLiteral("«asLeft.zero»: не 256");
    QTest::newRow("newer format") << with([](QJsonObject& j) { j["format"] = 2; })
                                  << QStringLiteral("формат 2 новее");
}

void TestServiceRecord::garbledFileRefused() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    TTestDirs dirs;
    const QString path = WriteFile(dirs.Work(), bytes);
    TServiceRecord rec;
    rec.Site = QStringLiteral("left over");
    QString error;
    QVERIFY(!LoadServiceRecord(path, rec, error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(error.contains(path));
    QVERIFY(rec.Site.isEmpty());
}

QTEST_GUILESS_MAIN(TestServiceRecord)
#include "tst_servicerecord.moc"
