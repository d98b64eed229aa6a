// Device object: request builder over all codes, answer parser by answer kind, fault handling,
// fault log, typed values, setters, texts, zero array, tare and run-test tables.

#include "Ulmar.h"
#include "tests/support/GaugeExchange.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QTest>
#include <cmath>
#include <limits>

namespace {

QByteArray Hex(const QByteArray& text) {
    return QByteArray::fromHex(text);
}

QByteArray WithCrc(const QByteArray& body) {
    const quint16 crc = Crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

QByteArray WithCrc8(const QByteArray& body) {
    return body + char(Crc8(body));
}

const QString Norm = QStringLiteral("Норма");
const QString ReadErrorText = QStringLiteral("Ошибка чтения");
const QString Fault2Text =
    QStringLiteral("Недостаточен уровень входного сигнала или неисправен канал приема");

// Every field the builder reads holds a value of its own, so each frame shows its source.
void Configure(TUlmar& u) {
    u.SystemAddress = 1;
    u.UnitType = 17;
    u.PlantNumber = 1234;
    u.SystemAddressNew = 5;
    u.PlantNumberNew = 0x0A0B;
    u.UserPsw = 0x1234;
    u.PlantNumberSVCH = 0xBEEF;
    u.ModeProcessing = 0xA0;
    u.ModeImage = 0xA1;
    u.TemperCompareTermostat = -5;
    u.ModeCurrentOutput = 0xA3;
    u.ModeChannel = 0xA4;
    u.ProgramType = 0xA5;
    u.ModeInputFilter = 0xA8;
    u.ModeTermostat = 0xA9;
    u.ModeCalibr = 0xAA;
    u.TypeSVCH = 0xAB;
    u.KrPer = 2.0;
    u.SmPer = -1.0;
    u.SetDist1(1000);
    u.SetDist2(15000);
    u.SetKKalman(1.0);
    u.SetLevelKalibr(0.5);
    u.Relay1Ust1 = 100;
    u.Relay1Ust2 = 200;
    u.Relay2Ust1 = 300;
    u.Relay2Ust2 = 400;
    u.KrPerOpCh = 0.25;
    u.SmPerOpCh = -2.5;
    u.FreqCalibr = 50000;
    u.kkk1 = 0.1;
    u.kkk2 = 3.0;
    u.kkk3 = -0.125;
    u.SetSpeed(10);
    u.ZeroBlock = 3;
    u.ClearTareTable();
    u.TareTable[0] = {1000.0, 0.5};
}

double AsDouble(const std::unique_ptr<TIODouble>& v) {
    return v->GetValue().ToDouble();
}

// Lines of the fault log under the program directory, wherever the day path put it.
QStringList BlackBoxLines(const TTestDirs& dirs) {
    QStringList lines;
    QDirIterator it(dirs.Prog(), {QStringLiteral("BlackBox.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            lines +=
                QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    }
    return lines;
}

} // namespace

class TestUlmar : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void buildRequest_data();
    void buildRequest();
    void buildRequestFails_data();
    void buildRequestFails();
    void identificationOnTheLine();
    void zeroBlockStart();
    void emptyTareWrite();
    void secondBuildOverwritesIndex();
    void minimumLength_data();
    void minimumLength();
    void validation_data();
    void validation();
    void answerByItsOwnCommand();
    void singleReadings_data();
    void singleReadings();
    void allReadingsAndRelays_data();
    void allReadingsAndRelays();
    void faultReportedInAllReadings();
    void faultReportedInLevelAnswer();
    void faultAboveNine();
    void faultBelowLimit();
    void failuresBelowLimit();
    void errorMaxResetsCount();
    void echo_data();
    void echo();
    void identification();
    void zeroBlockAnswer();
    void tareAnswer();
    void byteParams_data();
    void byteParams();
    void wordParams();
    void floatParams_data();
    void floatParams();
    void errorAnswer_data();
    void errorAnswer();
    void kalist_data();
    void kalist();
    void blackBoxUnwritable();
    void typedValues_data();
    void typedValues();
    void stateValuesAndDefaults();
    void linkErrorCaption();
    void updateRanges();
    void setters_data();
    void setters();
    void texts();
    void tareTableText();
    void loadTareTable();
    void sampleZeroArray();
    void progon();
};

// --- request builder ---

void TestUlmar::buildRequest_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("readMode");
    QTest::addColumn<int>("tarePart");
    QTest::addColumn<int>("byteParam");
    QTest::addColumn<int>("wordParam");
    QTest::addColumn<int>("floatParam");
    const int E = 0xEE; // untouched
    auto row = [&](int code, const QByteArray& hex, int mode = 0, int tare = 0xEE, int byteP = 0xEE,
                   int wordP = 0xEE, int floatP = 0xEE) {
        QTest::addRow("code %d", code)
            << code << Hex(hex) << mode << tare << byteP << wordP << floatP;
    };
    row(0, "01 01 02 00", 0);
    row(1, "01 01 02 01", 1);
    row(2, "01 01 02 02", 2);
    row(3, "01 01 02 03", 3);
    row(4, "01 01 02 06", 6);
    row(5, "01 01 02 07", 7);
    row(6, "01 02 01");
    row(7, "01 10 03 AA 55");
    row(8, "01 20 01");
    row(9, "01 25 05 11 04 D2 05");
    row(10, "01 60 04 11 04 D2");
    row(11, "01 81 01");
    row(12, "01 82 01");
    row(13, "01 83 03 10 08");
    row(14, "01 A2 01");
    row(15, "01 A5 02 00", 0, 0);
    row(16, "01 A5 02 01", 0, 1);
    QByteArray empties;
    for (int i = 0; i < 31; ++i)
        empties += " FF FF FF FF";
    row(17, "01 A6 82 00 44 7A 00 00" + empties);
    row(18, "01 A6 82 01 42 48 00 00" + empties);
    row(19, "01 B1 03 00 A0");
    row(20, "01 B1 03 01 A1");
    row(21, "01 B1 03 02 FB");
    row(22, "01 B1 03 03 A3");
    row(23, "01 B1 03 04 A4");
    row(24, "01 B1 03 05 A5");
    row(25, "01 B1 03 08 A8");
    row(26, "01 B1 03 09 A9");
    row(27, "01 B1 03 0A AA");
    row(28, "01 B1 03 0B AB");
    row(29, "01 B2 04 00 0A 0B");
    row(30, "01 B2 04 01 12 34");
    row(31, "01 B2 04 02 BE EF");
    row(32, "01 B3 06 00 40 00 00 00");
    row(33, "01 B3 06 01 BF 80 00 00");
    row(34, "01 B3 06 02 44 7A 00 00");
    row(35, "01 B3 06 03 46 6A 60 00");
    row(36, "01 B3 06 04 3F 80 00 00");
    row(37, "01 B3 06 0A 3F 00 00 00");
    row(38, "01 B3 06 0B 42 C8 00 00");
    row(39, "01 B3 06 0C 43 48 00 00");
    row(40, "01 B3 06 0D 43 96 00 00");
    row(41, "01 B3 06 0E 43 C8 00 00");
    row(42, "01 B3 06 0F 3E 80 00 00");
    row(43, "01 B3 06 10 C0 20 00 00");
    row(44, "01 B3 06 11 47 43 50 00");
    row(45, "01 B3 06 12 3D CC CC CD");
    row(46, "01 B3 06 13 40 40 00 00");
    row(47, "01 B3 06 14 BE 00 00 00");
    row(48, "01 B3 06 15 41 20 00 00");
    const char* byteReads[] = {"00", "01", "02", "03", "04", "05",
                               "06", "07", "08", "09", "0A", "0B"};
    for (int i = 0; i < 12; ++i)
        row(49 + i, QByteArray("01 B4 02 ") + byteReads[i], 0, E, i);
    row(61, "01 B5 02 00", 0, E, E, 0);
    row(62, "01 B5 02 01", 0, E, E, 1);
    row(63, "01 B5 02 02", 0, E, E, 2);
    const int floatIndexes[] = {0, 1, 2, 3, 4, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    for (int i = 0; i < 16; ++i)
        row(64 + i, "01 B6 02 " + QByteArray::number(floatIndexes[i], 16).rightJustified(2, '0'), 0,
            E, E, E, floatIndexes[i]);
}

void TestUlmar::buildRequest() {
    QFETCH(int, code);
    QFETCH(QByteArray, frame);
    QFETCH(int, readMode);
    TGaugeExchange u;
    Configure(u);
    QCOMPARE(u.Build(code).toHex(' '), frame.toHex(' '));
    QFETCH(int, tarePart);
    QFETCH(int, byteParam);
    QFETCH(int, wordParam);
    QFETCH(int, floatParam);
    // What an answer to this request is decoded as: the read mode a reading answer is taken
    // in, and the tare part or parameter index that the request names.
    const QByteArray reading = WithCrc(Hex("01 01 06 44 7A 00 00 00"));
    QCOMPARE(Decode(frame, reading).ReadMode, readMode);
    const TWireRow* row = WireRow(code);
    QVERIFY(row);
    const quint8 command = quint8(frame.at(1));
    const int asked = command == 0xA5   ? tarePart
                      : command == 0xB4 ? byteParam
                      : command == 0xB5 ? wordParam
                      : command == 0xB6 ? floatParam
                                        : 0xEE;
    if (asked != 0xEE)
        QCOMPARE(row->Index, asked);
    QCOMPARE(RequestCodeOf(frame), code);
}

void TestUlmar::buildRequestFails_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("zeroBlock");
    QTest::newRow("80") << 80 << 1;
    QTest::newRow("255") << 255 << 1;
    QTest::newRow("negative") << -1 << 1;
    QTest::newRow("zero block 0") << 13 << 0;
    QTest::newRow("zero block 33") << 13 << 33;
}

void TestUlmar::buildRequestFails() {
    QFETCH(int, code);
    QFETCH(int, zeroBlock);
    TGaugeExchange u;
    u.ZeroBlock = zeroBlock;
    try {
        u.Build(code);
        QFAIL("no failure");
    } catch (const TCodecError& e) {
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Ошибка формирования запроса"));
    }
}

void TestUlmar::identificationOnTheLine() {
    TGaugeExchange u; // address 255 by default
    const QByteArray frame = u.Build(UlmarCmd::SignatureRead);
    QCOMPARE(WithCrc(frame), Hex("FF 20 01 99 F0"));
}

void TestUlmar::zeroBlockStart() {
    TGaugeExchange u;
    u.ZeroBlock = 1;
    QCOMPARE(u.Build(13), Hex("FF 83 03 00 08"));
    u.ZeroBlock = 32;
    QCOMPARE(u.Build(13), Hex("FF 83 03 F8 08"));
}

void TestUlmar::emptyTareWrite() {
    TGaugeExchange u;
    u.ClearTareTable();
    const QByteArray frame = u.Build(18);
    QCOMPARE(frame.size(), 4 + 128);
    QCOMPARE(frame.left(4), Hex("FF A6 82 01"));
    QCOMPARE(frame.mid(4), QByteArray(128, char(0xFF)));
}

void TestUlmar::secondBuildOverwritesIndex() {
    // An answer is decoded against the request it answers, never an earlier one.
    TGaugeExchange u;
    u.Build(UlmarCmd::KKalmanRead);
    u.Build(UlmarCmd::SpeedRead);
    u.Parse(WithCrc(Hex("01 B6 05 41 20 00 00"))); // 10.0
    QCOMPARE(u.Speed(), 10.0);
    QCOMPARE(u.KKalman(), 1.0);
    u.Build(UlmarCmd::LevelRead);
    u.Build(UlmarCmd::Dist1Read);
    // A reading answer to a request that is no reading is a frequency (read mode 0).
    u.Parse(WithCrc(Hex("01 01 06 44 7A 00 00 00")));
    QCOMPARE(AsDouble(u.Freq), 1000.0);
    QCOMPARE(AsDouble(u.Level), 0.0);
    // A parameter answer to a request for another command stores nothing.
    const double dist1 = u.Dist1();
    u.Build(UlmarCmd::LevelRead);
    u.Parse(WithCrc(Hex("01 B6 05 41 20 00 00")));
    QCOMPARE(u.Dist1(), dist1);
    QCOMPARE(u.Speed(), 10.0);
}

// --- validation and minimum lengths ---

void TestUlmar::minimumLength_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("head"); // command and payload start; the rest is zeros
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("success");
    // 0x01 to a frequency read: the float at offsets 3..6 must be present.
    QTest::newRow("01 mode 0") << 0 << Hex("01") << 7 << true;
    QTest::newRow("01 mode 7") << 5 << Hex("01") << 7 << true;
    QTest::newRow("01 mode 1") << 1 << Hex("01") << 10 << true;
    QTest::newRow("01 mode 2") << 2 << Hex("01") << 10 << true;
    QTest::newRow("01 mode 3") << 3 << Hex("01") << 10 << true;
    QTest::newRow("01 mode 6") << 4 << Hex("01") << 10 << true;
    QTest::newRow("02") << 6 << Hex("02") << 23 << true;
    QTest::newRow("10") << 7 << Hex("10 03 55") << 7 << true;
    QTest::newRow("20") << 8 << Hex("20") << 10 << true;
    QTest::newRow("25") << 9 << Hex("25") << 10 << true;
    QTest::newRow("60") << 10 << Hex("60") << 5 << true;
    QTest::newRow("A6") << 17 << Hex("A6") << 5 << true;
    QTest::newRow("B1") << 19 << Hex("B1") << 5 << true;
    QTest::newRow("B2") << 29 << Hex("B2") << 5 << true;
    QTest::newRow("B3") << 32 << Hex("B3") << 5 << true;
    QTest::newRow("81") << 11 << Hex("81") << 5 << false;
    QTest::newRow("82") << 12 << Hex("82") << 5 << false;
    QTest::newRow("A2") << 14 << Hex("A2") << 5 << false;
    QTest::newRow("A8") << 14 << Hex("A8") << 5 << false;
    QTest::newRow("83") << 13 << Hex("83") << 21 << true;
    QTest::newRow("A5") << 15 << Hex("A5") << 133 << false;
    QTest::newRow("B4") << 49 << Hex("B4") << 6 << true;
    QTest::newRow("B5") << 61 << Hex("B5") << 7 << false;
    QTest::newRow("B6") << 64 << Hex("B6") << 9 << false;
    QTest::newRow("FA") << 14 << Hex("FA") << 6 << true;
}

void TestUlmar::minimumLength() {
    QFETCH(int, request);
    QFETCH(QByteArray, head);
    QFETCH(int, length);
    QFETCH(bool, success);
    auto answer = [&](int size) {
        QByteArray body = char(1) + head;
        body.append(size - 2 - body.size(), '\0');
        return WithCrc(body);
    };
    TGaugeExchange u;
    u.SetErrorMax(1);
    u.Parse(QByteArray()); // a reported failure first: LinkState 2, one failure
    QCOMPARE(int(u.LinkStateCode()), 2);

    u.Build(request);
    u.Parse(answer(length));
    QCOMPARE(u.ErrorCode, 0);
    QCOMPARE(u.ErrorText, Norm);
    QCOMPARE(int(u.LinkStateCode()), success ? 1 : 2);
    QCOMPARE(int(u.FailureCount), success ? 0 : 1);

    u.Parse(answer(length - 1));
    QCOMPARE(u.ErrorCode, -3);
    QCOMPARE(u.ErrorText, ReadErrorText);
    QCOMPARE(int(u.LinkStateCode()), 2);
}

void TestUlmar::validation_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QByteArray() << -1 << QStringLiteral("Нет ответа от устройства");
    QTest::newRow("4 bytes, good crc of 2") << WithCrc(Hex("01 B1")) << -3 << ReadErrorText;
    QTest::newRow("bad crc") << Hex("01 60 01 00 00") << -4
                             << QStringLiteral("Ошибка контрольной суммы");
    QTest::newRow("crc of another address") << (Hex("02 60 01") + WithCrc(Hex("01 60 01")).right(2))
                                            << -4 << QStringLiteral("Ошибка контрольной суммы");
    QTest::newRow("unknown command 30")
        << WithCrc(Hex("FF 30 01")) << -5 << QStringLiteral("Несоответствие команды");
    QTest::newRow("unknown command A7")
        << WithCrc(Hex("FF A7 01")) << -5 << QStringLiteral("Несоответствие команды");
}

void TestUlmar::validation() {
    QFETCH(QByteArray, answer);
    QFETCH(int, code);
    QFETCH(QString, text);
    TGaugeExchange u;
    u.Parse(answer);
    QCOMPARE(u.ErrorCode, code);
    QCOMPARE(u.ErrorText, text);
    QCOMPARE(int(u.LinkStateCode()), 2);
    QCOMPARE(u.LinkState->Description()->CaptionOf(2), text);
}

void TestUlmar::answerByItsOwnCommand() {
    TGaugeExchange u;
    u.Build(UlmarCmd::KKalmanRead);
    QByteArray body = Hex("01 02 15 44 7A 00 00 45 3B 80 00 46 6A 60 00 42 C8 00 00 03 00");
    u.Parse(WithCrc(body));
    QCOMPARE(AsDouble(u.Distance), 1000.0);
    QCOMPARE(AsDouble(u.Level), 3000.0);
    QCOMPARE(AsDouble(u.LevelFree), 15000.0);
    QCOMPARE(AsDouble(u.Volume), 1.0);
    QCOMPARE(u.KKalman(), 1.0);

    // A short "accepted, nothing to do" answer leaves readings and link state alone.
    u.Parse(QByteArray());
    u.Parse(WithCrc(Hex("05 A2 01")));
    QCOMPARE(u.ErrorCode, 0);
    QCOMPARE(u.ErrorText, Norm);
    QCOMPARE(int(u.LinkStateCode()), 2);
    QCOMPARE(AsDouble(u.Level), 3000.0);
}

// --- readings ---

void TestUlmar::singleReadings_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("value");
    QTest::addColumn<double>("expected");
    QTest::newRow("freq, 9 bytes") << 0 << WithCrc(Hex("01 01 05 44 7A 00 00")) << "Freq" << 1000.0;
    QTest::newRow("distance") << 1 << WithCrc(Hex("01 01 06 44 7A 00 00 00")) << "Distance"
                              << 1000.0;
    QTest::newRow("level") << 2 << WithCrc(Hex("01 01 06 45 3B 80 00 00")) << "Level" << 3000.0;
    QTest::newRow("free") << 3 << WithCrc(Hex("01 01 06 46 6A 60 00 00")) << "LevelFree" << 15000.0;
    QTest::newRow("volume") << 4 << WithCrc(Hex("01 01 06 42 48 00 00 00")) << "Volume" << 0.5;
    QTest::newRow("freq ref") << 5 << WithCrc(Hex("01 01 05 47 43 50 00")) << "FreqOpCh" << 50000.0;
}

void TestUlmar::singleReadings() {
    QFETCH(int, request);
    QFETCH(QByteArray, answer);
    QFETCH(QString, value);
    QFETCH(double, expected);
    TGaugeExchange u;
    u.Build(request);
    u.Parse(answer);
    QCOMPARE(u.ErrorCode, 0);
    QCOMPARE(int(u.LinkStateCode()), 1);
    const std::map<QString, TIODouble*> values = {
        {"Freq", u.Freq.get()},     {"Distance", u.Distance.get()},
        {"Level", u.Level.get()},   {"LevelFree", u.LevelFree.get()},
        {"Volume", u.Volume.get()}, {"FreqOpCh", u.FreqOpCh.get()}};
    for (const auto& [name, v] : values)
        QCOMPARE(v->GetValue().ToDouble(), name == value ? expected : 0.0);
}

void TestUlmar::allReadingsAndRelays_data() {
    QTest::addColumn<int>("relays");
    QTest::addColumn<int>("relay1");
    QTest::addColumn<int>("relay2");
    QTest::newRow("0") << 0 << 1 << 1;
    QTest::newRow("1") << 1 << 2 << 1;
    QTest::newRow("2") << 2 << 1 << 2;
    QTest::newRow("3") << 3 << 2 << 2;
    QTest::newRow("7") << 7 << 0 << 0;
}

void TestUlmar::allReadingsAndRelays() {
    QFETCH(int, relays);
    QFETCH(int, relay1);
    QFETCH(int, relay2);
    TGaugeExchange u;
    u.Build(6);
    QByteArray body = Hex("01 02 15 44 7A 00 00 45 3B 80 00 46 6A 60 00 42 48 00 00");
    body += char(relays);
    body += '\0';
    u.Parse(WithCrc(body));
    QCOMPARE(u.ErrorCode, 0);
    QCOMPARE(AsDouble(u.Volume), 0.5);
    QCOMPARE(int(u.Relay1->State()), relay1);
    QCOMPARE(int(u.Relay2->State()), relay2);
}

// --- fault handling and the fault log ---

void TestUlmar::faultReportedInAllReadings() {
    TTestDirs dirs;
    TGaugeExchange u;
    u.SetErrorMax(1);
    u.Build(6);
    u.Parse(WithCrc(Hex("01 02 15 44 7A 00 00 45 3B 80 00 46 6A 60 00 42 48 00 00 03 02")));
    QCOMPARE(u.ErrorCode, 2);
    QCOMPARE(u.ErrorText, Fault2Text);
    QCOMPARE(int(u.LinkStateCode()), 2);
    QCOMPARE(AsDouble(u.Level), 0.0);
    QCOMPARE(int(u.Relay1->State()), 0);
    QVERIFY(BlackBoxLines(dirs).isEmpty());
}

void TestUlmar::faultReportedInLevelAnswer() {
    TTestDirs dirs;
    TGaugeExchange u;
    u.SetErrorMax(1);
    u.Build(2);
    u.Parse(WithCrc(Hex("01 01 06 45 3B 80 00 02")));
    QCOMPARE(u.ErrorCode, 2);
    QCOMPARE(u.ErrorText, Fault2Text);
    QCOMPARE(int(u.LinkStateCode()), 2);
    QCOMPARE(AsDouble(u.Level), 0.0);
    const QStringList lines = BlackBoxLines(dirs);
    QCOMPARE(lines.size(), 1);
    // "dd.MM.yyyy hh:mm:ss,zzz" and a blank, then the body " 2 <text>".
    QCOMPARE(lines[0].mid(24), QStringLiteral(" 2 ") + Fault2Text);
    const QString day = QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd"));
    QVERIFY(QFile::exists(dirs.Prog() + "/DATA/" + day + "/BlackBox.txt"));
}

void TestUlmar::faultAboveNine() {
    TTestDirs dirs;
    TGaugeExchange u;
    u.SetErrorMax(1);
    u.Build(2);
    u.Parse(WithCrc(Hex("01 01 06 45 3B 80 00 0C")));
    QCOMPARE(AsDouble(u.Level), 3000.0);
    QCOMPARE(int(u.LinkStateCode()), 1);
    QCOMPARE(u.ErrorCode, 255);
    QCOMPARE(u.ErrorText, QStringLiteral("Ошибка неизвестна"));
    const QStringList lines = BlackBoxLines(dirs);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0].mid(24), QStringLiteral("12 Не известно"));
}

void TestUlmar::faultBelowLimit() {
    TTestDirs dirs;
    TGaugeExchange u;
    u.SetErrorMax(3);
    u.Build(6);
    u.Parse(WithCrc(Hex("01 02 15 44 7A 00 00 45 3B 80 00 46 6A 60 00 42 48 00 00 03 09")));
    QCOMPARE(u.ErrorCode, 9);
    QCOMPARE(u.ErrorText, Norm);
    QCOMPARE(AsDouble(u.Level), 3000.0);
    QCOMPARE(int(u.LinkStateCode()), 1);
    QCOMPARE(int(u.FailureCount), 0);
}

void TestUlmar::failuresBelowLimit() {
    TGaugeExchange u;
    u.SetErrorMax(3);
    u.Build(14);
    u.Parse(WithCrc(Hex("01 B1 01")));
    QCOMPARE(int(u.LinkStateCode()), 1);
    for (int i = 1; i <= 2; ++i) {
        u.Parse(QByteArray());
        QCOMPARE(u.ErrorCode, 0);
        QCOMPARE(u.ErrorText, Norm);
        QCOMPARE(int(u.LinkStateCode()), 1);
        QCOMPARE(int(u.FailureCount), i);
    }
    u.Parse(QByteArray());
    QCOMPARE(u.ErrorCode, -1);
    QCOMPARE(int(u.LinkStateCode()), 2);
    u.Parse(WithCrc(Hex("01 B1 01")));
    QCOMPARE(int(u.FailureCount), 0);
    QCOMPARE(int(u.LinkStateCode()), 1);
}

void TestUlmar::errorMaxResetsCount() {
    TGaugeExchange u;
    QCOMPARE(int(u.ErrorMax()), 0);
    u.SetErrorMax(5);
    u.Parse(QByteArray());
    u.Parse(QByteArray());
    u.SetErrorMax(5);
    QCOMPARE(int(u.FailureCount), 2);
    u.SetErrorMax(4);
    QCOMPARE(int(u.FailureCount), 0);
}

// --- other answers ---

void TestUlmar::echo_data() {
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("code");
    QTest::newRow("55 AA") << Hex("55 AA") << 0;
    QTest::newRow("55 00") << Hex("55 00") << 0;
    QTest::newRow("00 AA") << Hex("00 AA") << 0;
    QTest::newRow("AA 55") << Hex("AA 55") << -3;
}

void TestUlmar::echo() {
    QFETCH(QByteArray, payload);
    QFETCH(int, code);
    TGaugeExchange u;
    u.Build(7);
    u.Parse(WithCrc(Hex("05 10 03") + payload));
    QCOMPARE(u.ErrorCode, code);
    QCOMPARE(int(u.LinkStateCode()), code == 0 ? 1 : 2);
}

void TestUlmar::identification() {
    TGaugeExchange u;
    QList<QList<int>> calls;
    u.On32 = [&](TUlmar* sender, quint8 address, quint8 unit, quint16 plant, quint8 hard,
                 quint8 soft) {
        QCOMPARE(sender, &u);
        calls.append({address, unit, plant, hard, soft});
    };
    u.SystemAddress = 3;
    u.Parse(WithCrc(Hex("09 20 06 11 04 D2 02 07")));
    QCOMPARE(int(u.SystemAddress), 3);
    QCOMPARE(int(u.PlantNumber), 1234);
    QCOMPARE(int(u.HardVersion), 2);
    QCOMPARE(int(u.SoftVersion), 7);
    u.Parse(WithCrc(Hex("07 25 06 11 00 2A 03 08")));
    QCOMPARE(int(u.SystemAddress), 7);
    QCOMPARE(int(u.PlantNumber), 42);
    QCOMPARE(calls, (QList<QList<int>>{{9, 17, 1234, 2, 7}, {7, 17, 42, 3, 8}}));
    QCOMPARE(int(u.LinkStateCode()), 1);
}

void TestUlmar::zeroBlockAnswer() {
    TGaugeExchange u;
    const QByteArray words = Hex("00 01 00 02 01 00 FF FF 12 34 00 00 80 00 00 08");
    const qint32 expected[] = {1, 2, 256, 65535, 0x1234, 0, 0x8000, 8};
    for (int block : {1, 32}) {
        u.ZeroBlock = block;
        u.Build(13);
        u.Parse(WithCrc(Hex("01 83 11") + words));
        QCOMPARE(int(u.LinkStateCode()), 1);
        for (int k = 0; k < 8; ++k)
            QCOMPARE(u.ZeroArray[(block - 1) * 8 + k], expected[k]);
    }
    QCOMPARE(u.ZeroArray[8], 0); // block 2 untouched
    // Out of range: nothing stored, nothing recorded.
    TGaugeExchange v;
    v.Parse(QByteArray());
    for (int block : {0, 33, -7}) {
        v.ZeroBlock = block;
        v.Parse(WithCrc(Hex("01 83 11") + words));
        QCOMPARE(int(v.LinkStateCode()), 2);
    }
    TGaugeExchange fresh;
    QVERIFY(v.ZeroArray == fresh.ZeroArray);
}

void TestUlmar::tareAnswer() {
    TGaugeExchange u;
    u.ClearTareTable();
    u.Parse(QByteArray()); // previous exchange failed
    QByteArray payload;
    for (int k = 0; k < 32; ++k)
        payload += k == 0 ? Hex("44 7A 00 00") : Hex("42 48 00 00");
    u.Build(15);
    u.Parse(WithCrc(Hex("01 A5 81") + payload));
    QCOMPARE(u.TareTable[0].Level, 1000.0);
    QCOMPARE(u.TareTable[31].Level, 50.0);
    QVERIFY(std::isnan(u.TareTable[0].Volume));
    u.Build(16);
    u.Parse(WithCrc(Hex("01 A5 81") + payload));
    QCOMPARE(u.TareTable[0].Volume, 10.0);
    QCOMPARE(u.TareTable[31].Volume, 0.5);
    QCOMPARE(int(u.LinkStateCode()), 2);
    QCOMPARE(u.ErrorCode, 0);
}

void TestUlmar::byteParams_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    for (int code = 49; code <= 60; ++code)
        QTest::addRow("code %d", code)
            << code << 0xF0 + code - 49
            << ((code == 51 || code == 55 || code == 56) ? (0xF0 + code - 49) - 256
                                                         : 0xF0 + code - 49);
}

void TestUlmar::byteParams() {
    QFETCH(int, request);
    QFETCH(int, value);
    QFETCH(int, expected);
    TGaugeExchange u;
    u.Build(request);
    u.Parse(WithCrc(Hex("01 B4 02") + char(value)));
    QCOMPARE(int(u.LinkStateCode()), 1);
    const double fields[] = {
        double(u.ModeProcessing),    double(u.ModeImage),       double(u.TemperCompareTermostat),
        double(u.ModeCurrentOutput), double(u.ModeChannel),     double(u.ProgramType),
        AsDouble(u.TempSVCH),        double(u.TemperTermostat), double(u.ModeInputFilter),
        double(u.ModeTermostat),     double(u.ModeCalibr),      double(u.TypeSVCH)};
    QCOMPARE(fields[request - 49], double(expected));
}

void TestUlmar::wordParams() {
    TGaugeExchange u;
    u.Parse(QByteArray());
    u.Build(61);
    u.Parse(WithCrc(Hex("01 B5 03 04 D2")));
    u.Build(62);
    u.Parse(WithCrc(Hex("01 B5 03 12 34")));
    u.Build(63);
    u.Parse(WithCrc(Hex("01 B5 03 BE EF")));
    QCOMPARE(int(u.PlantNumber), 1234);
    QCOMPARE(int(u.UserPsw), 0x1234);
    QCOMPARE(int(u.PlantNumberSVCH), 0xBEEF);
    QCOMPARE(int(u.LinkStateCode()), 2);
}

void TestUlmar::floatParams_data() {
    QTest::addColumn<int>("request");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("expected"); // NaN: the field keeps its value
    const double keep = std::nan("");
    QTest::newRow("KrPer") << 64 << Hex("40 00 00 00") << 2.0;
    QTest::newRow("SmPer") << 65 << Hex("BF 80 00 00") << -1.0;
    QTest::newRow("Dist1") << 66 << Hex("44 7A 00 00") << 1000.0;
    QTest::newRow("Dist1 negative") << 66 << Hex("C4 7A 00 00") << keep;
    QTest::newRow("Dist2") << 67 << Hex("46 6A 60 00") << 15000.0;
    QTest::newRow("Dist2 NaN") << 67 << Hex("FF FF FF FF") << keep;
    QTest::newRow("KKalman") << 68 << Hex("3F 00 00 00") << 0.5;
    QTest::newRow("KKalman 2.0") << 68 << Hex("40 00 00 00") << keep;
    QTest::newRow("Relay1Ust1") << 69 << Hex("42 C8 00 00") << 100.0;
    QTest::newRow("Relay1Ust2") << 70 << Hex("43 48 00 00") << 200.0;
    QTest::newRow("Relay2Ust1") << 71 << Hex("43 96 00 00") << 300.0;
    QTest::newRow("Relay2Ust2") << 72 << Hex("43 C8 00 00") << 400.0;
    QTest::newRow("KrPerOpCh") << 73 << Hex("3E 80 00 00") << 0.25;
    QTest::newRow("SmPerOpCh") << 74 << Hex("C0 20 00 00") << -2.5;
    QTest::newRow("FreqCalibr") << 75 << Hex("47 43 50 00") << 50000.0;
    QTest::newRow("kkk1") << 76 << Hex("40 40 00 00") << 3.0;
    QTest::newRow("kkk2") << 77 << Hex("BE 00 00 00") << -0.125;
    QTest::newRow("kkk3") << 78 << Hex("41 20 00 00") << 10.0;
    QTest::newRow("Speed") << 79 << Hex("41 20 00 00") << 10.0;
    QTest::newRow("Speed 100") << 79 << Hex("42 C8 00 00") << keep;
}

void TestUlmar::floatParams() {
    QFETCH(int, request);
    QFETCH(QByteArray, bytes);
    QFETCH(double, expected);
    TGaugeExchange u;
    auto fields = [&u] {
        return std::vector<double>{u.KrPer,      u.SmPer,      u.Dist1(),    u.Dist2(),
                                   u.KKalman(),  u.Relay1Ust1, u.Relay1Ust2, u.Relay2Ust1,
                                   u.Relay2Ust2, u.KrPerOpCh,  u.SmPerOpCh,  u.FreqCalibr,
                                   u.kkk1,       u.kkk2,       u.kkk3,       u.Speed()};
    };
    std::vector<double> want = fields();
    if (!std::isnan(expected))
        want[request - 64] = expected;
    u.Build(request);
    u.Parse(WithCrc(Hex("01 B6 05") + bytes));
    QCOMPARE(fields(), want);
    QCOMPARE(int(u.LinkStateCode()), 0);
}

void TestUlmar::errorAnswer_data() {
    QTest::addColumn<int>("errorMax");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("linkState");
    QTest::newRow("0") << 1 << 0 << Norm << 1;
    QTest::newRow("1") << 1 << 1 << QStringLiteral("Принят неизвестный код команды") << 2;
    QTest::newRow("2") << 1 << 2
                       << QStringLiteral(
                              "Полученная команда не может быть выполенена в настоящее время")
                       << 2;
    QTest::newRow("3") << 1 << 3 << QStringLiteral("Ошибка в данных") << 2;
    QTest::newRow("4") << 1 << 4 << QStringLiteral("Отказ в работе прибора") << 2;
    QTest::newRow("5") << 1 << 5 << Norm << 0;
    QTest::newRow("1 below limit") << 3 << 1 << Norm << 0;
}

void TestUlmar::errorAnswer() {
    QFETCH(int, errorMax);
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, linkState);
    TGaugeExchange u;
    u.SetErrorMax(errorMax);
    u.Build(36);
    u.Parse(WithCrc(Hex("01 FA 02") + char(code)));
    QCOMPARE(u.ErrorCode, code);
    QCOMPARE(u.ErrorText, text);
    QCOMPARE(int(u.LinkStateCode()), linkState);
    QCOMPARE(int(u.FailureCount), code == 0 ? 0 : 1);
}

void TestUlmar::kalist_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("code");
    QTest::addColumn<double>("current");
    QTest::newRow("empty") << QByteArray() << -1 << 0.0;
    QTest::newRow("4 bytes") << WithCrc8(Hex("01 00 01")) << -3 << 0.0;
    QTest::newRow("bad crc") << Hex("01 00 01 00 00 34 08 00") << -4 << 0.0;
    QTest::newRow("7 bytes") << WithCrc8(Hex("01 00 01 00 00 34")) << -3 << 0.0;
    QTest::newRow("12.34 mA") << WithCrc8(Hex("01 00 01 00 00 D2 04")) << 0 << 12.34;
    QTest::newRow("-1 mA") << WithCrc8(Hex("01 00 01 00 00 9C FF 00 00")) << 0 << -1.0;
}

void TestUlmar::kalist() {
    QFETCH(QByteArray, answer);
    QFETCH(int, code);
    QFETCH(double, current);
    TGaugeExchange u;
    u.ParseKalist(answer);
    QCOMPARE(u.ErrorCode, code);
    QCOMPARE(int(u.LinkStateCode()), code == 0 ? 1 : 2);
    QCOMPARE(AsDouble(u.CurrentOutput), current);
}

void TestUlmar::blackBoxUnwritable() {
    TTestDirs dirs;
    // A file where the DATA directory should be: the log cannot be written, the parse goes on.
    QFile blocker(dirs.Prog() + "/DATA");
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TGaugeExchange u;
    u.SetErrorMax(3);
    u.Build(2);
    u.Parse(WithCrc(Hex("01 01 06 45 3B 80 00 02")));
    QCOMPARE(AsDouble(u.Level), 3000.0);
    QCOMPARE(int(u.LinkStateCode()), 1);
}

// --- object state ---

void TestUlmar::typedValues_data() {
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("dimension");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("digits");
    QTest::newRow("Level") << "Level"
                           << "Уровень"
                           << "Уровень продукта"
                           << "мм" << 0.0 << 45000.0 << 0;
    QTest::newRow("LevelFree") << "LevelFree"
                               << "Свободное пространство"
                               << "Свободное пространство емкости"
                               << "мм" << 0.0 << 45000.0 << 0;
    QTest::newRow("Distance") << "Distance"
                              << "Расстояние"
                              << "Расстояние до продукта"
                              << "мм" << 0.0 << 45000.0 << 0;
    QTest::newRow("Volume") << "Volume"
                            << "Объем"
                            << "Объем продукта"
                            << "%" << 0.0 << 100.0 << 2;
    QTest::newRow("Freq") << "Freq"
                          << "Оценка частоты биений"
                          << "Оценка частоты биений"
                          << "" << 0.0 << 100000.0 << 2;
    QTest::newRow("FreqOpCh") << "FreqOpCh"
                              << "Частота  опорного канала"
                              << "Частота  опорного канала"
                              << "" << 0.0 << 100000.0 << 2;
    QTest::newRow("TempSVCH") << "TempSVCH"
                              << "Температура СВЧ модуля"
                              << "Температура СВЧ модуля"
                              << "°C" << -40.0 << 80.0 << 0;
    QTest::newRow("CurrentOutput") << "CurrentOutput"
                                   << "Ток"
                                   << "Ток"
                                   << "мА" << 0.0 << 20.0 << 2;
}

void TestUlmar::typedValues() {
    QFETCH(QString, member);
    TGaugeExchange u;
    const std::map<QString, TIODouble*> values = {
        {"Level", u.Level.get()},       {"LevelFree", u.LevelFree.get()},
        {"Distance", u.Distance.get()}, {"Volume", u.Volume.get()},
        {"Freq", u.Freq.get()},         {"FreqOpCh", u.FreqOpCh.get()},
        {"TempSVCH", u.TempSVCH.get()}, {"CurrentOutput", u.CurrentOutput.get()}};
    const TDescriptionOfDouble* d = values.at(member)->Description();
    QTEST(d->Title, "title");
    QTEST(d->Hint, "hint");
    QTEST(d->Dimension, "dimension");
    QTEST(d->Min(), "min");
    QTEST(d->Max(), "max");
    QTEST(int(d->Digits), "digits");
    QCOMPARE(int(d->Precision), 9);
    QCOMPARE(values.at(member)->AsDouble(), 0.0);
}

void TestUlmar::stateValuesAndDefaults() {
    TGaugeExchange u;
    auto captions = [](const std::unique_ptr<TIOThreeStates>& v) {
        const auto* d = v->Description();
        return QStringList{d->Title, d->Hint, d->CaptionOf(0), d->CaptionOf(1), d->CaptionOf(2)};
    };
    QCOMPARE(captions(u.Relay1),
             (QStringList{"Реле 1", "Состояние реле 1", "Не известно", "Отключено", "Включено"}));
    QCOMPARE(captions(u.Relay2),
             (QStringList{"Реле 2", "Состояние реле 2", "Не известно", "Отключено", "Включено"}));
    QCOMPARE(captions(u.LinkState),
             (QStringList{"Ошибка", "Ошибка обмена", "Не известно", "Ошибка", "Норма"}));
    QCOMPARE(captions(u.EnabledState),
             (QStringList{"Используется", "Используется", "Не известно", "Да", "Нет"}));
    const auto* e = u.EnabledState->Description();
    for (int s = 0; s < 3; ++s) {
        QCOMPARE(e->Color1[s], clBlack);
        QCOMPARE(e->Color2[s], clBtnFace);
    }
    QVERIFY(u.Enabled());
    u.SetEnabled(false);
    QVERIFY(!u.Enabled());
    u.SetEnabled(true);
    QVERIFY(u.Enabled());
    QCOMPARE(int(u.LinkStateCode()), 0);
    QCOMPARE(int(u.Relay1->State()), 0);
    QCOMPARE(u.Description->Title, QStringLiteral("УЛМАР-20"));
    QCOMPARE(u.Description->Hint, QStringLiteral("УЛМАР-20"));

    QCOMPARE(int(u.SystemAddress), 255);
    QCOMPARE(int(u.UnitType), 17);
    QCOMPARE(u.ProgonMode(), 5);
    QCOMPARE(u.ProgonWindow, 300.0);
    QCOMPARE(u.Dist1(), 1000.0);
    QCOMPARE(u.Dist2(), 15000.0);
    QCOMPARE(int(u.ModeImage), 1);
    QCOMPARE(int(u.TemperCompareTermostat), 35);
    QCOMPARE(u.ZeroBlock, 1);
    QCOMPARE(u.ZeroArray[0], 253);
    QCOMPARE(u.ZeroArray[1], 0);
    QCOMPARE(u.ZeroArray[2], 65535);
    QCOMPARE(u.ZeroArray[254], 0);
    QCOMPARE(u.ZeroArray[255], 65535);
    QCOMPARE(u.TareTable[31].Level, 0.0);
}

void TestUlmar::linkErrorCaption() {
    TGaugeExchange u;
    u.SetLinkError(-7, QStringLiteral("Сбой"));
    QCOMPARE(u.ErrorCode, -7);
    QCOMPARE(u.ErrorText, QStringLiteral("Сбой"));
    QCOMPARE(u.LinkState->Description()->CaptionOf(2), QStringLiteral("Сбой"));
    QCOMPARE(int(u.LinkStateCode()), 2);
}

void TestUlmar::updateRanges() {
    TGaugeExchange u;
    u.UpdateRanges();
    QCOMPARE(u.Distance->Description()->Max(), 16000.0);
    QCOMPARE(u.Level->Description()->Max(), 15000.0);
    QCOMPARE(u.LevelFree->Description()->Max(), 15000.0);
    QCOMPARE(u.Level->Description()->Min(), 0.0);
    u.SetDist2(20000);
    u.UpdateRanges();
    QCOMPARE(u.Distance->Description()->Max(), 21000.0);
}

void TestUlmar::setters_data() {
    QTest::addColumn<QString>("setter");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("taken");
    const double nan = std::nan("");
    QTest::newRow("KKalman min") << "KKalman" << 0.0001 << true;
    QTest::newRow("KKalman below") << "KKalman" << 0.00009 << false;
    QTest::newRow("KKalman above") << "KKalman" << 1.0001 << false;
    QTest::newRow("KKalman NaN") << "KKalman" << nan << false;
    QTest::newRow("Speed max") << "Speed" << 99.999 << true;
    QTest::newRow("Speed above") << "Speed" << 100.0 << false;
    QTest::newRow("Speed negative") << "Speed" << -0.1 << false;
    QTest::newRow("LevelKalibr Dist2") << "LevelKalibr" << 15000.0 << true;
    QTest::newRow("LevelKalibr above") << "LevelKalibr" << 15000.5 << false;
    QTest::newRow("Dist1 zero") << "Dist1" << 0.0 << true;
    QTest::newRow("Dist1 negative") << "Dist1" << -1.0 << false;
    QTest::newRow("Dist2 infinite") << "Dist2" << std::numeric_limits<double>::infinity() << false;
    QTest::newRow("PPCalc 8") << "PPCalc" << 8.0 << true;
    QTest::newRow("PPCalc 9") << "PPCalc" << 9.0 << false;
    QTest::newRow("PPCalc 999") << "PPCalc" << 999.0 << false;
    QTest::newRow("PPCalc 1008") << "PPCalc" << 1008.0 << true;
    QTest::newRow("PPCalc 1009") << "PPCalc" << 1009.0 << false;
    QTest::newRow("ProgonMode 3") << "ProgonMode" << 3.0 << true;
    QTest::newRow("ProgonMode 6") << "ProgonMode" << 6.0 << false;
    QTest::newRow("ProgonMode 0") << "ProgonMode" << 0.0 << false;
}

void TestUlmar::setters() {
    QFETCH(QString, setter);
    QFETCH(double, value);
    QFETCH(bool, taken);
    TGaugeExchange u;
    const std::map<QString, std::pair<std::function<void(double)>, std::function<double()>>> s = {
        {"KKalman", {[&](double x) { u.SetKKalman(x); }, [&] { return u.KKalman(); }}},
        {"Speed", {[&](double x) { u.SetSpeed(x); }, [&] { return u.Speed(); }}},
        {"LevelKalibr", {[&](double x) { u.SetLevelKalibr(x); }, [&] { return u.LevelKalibr(); }}},
        {"Dist1", {[&](double x) { u.SetDist1(x); }, [&] { return u.Dist1(); }}},
        {"Dist2", {[&](double x) { u.SetDist2(x); }, [&] { return u.Dist2(); }}},
        {"PPCalc", {[&](double x) { u.SetPPCalc(quint16(x)); }, [&] { return u.PPCalc() + 0.0; }}},
        {"ProgonMode",
         {[&](double x) { u.SetProgonMode(qint32(x)); }, [&] { return u.ProgonMode() + 0.0; }}}};
    const auto& [set, get] = s.at(setter);
    const double before = get();
    set(value);
    QCOMPARE(get(), taken ? value : before);
}

void TestUlmar::texts() {
    TGaugeExchange u;
    const QString unknown = QStringLiteral("Не известно");
    QCOMPARE(u.ModeProcessingText(), QStringLiteral("Стандартный обработчик"));
    u.ModeProcessing = 1;
    QCOMPARE(u.ModeProcessingText(), unknown);
    QCOMPARE(u.ModeImageText(), QStringLiteral("Текущее расстояние"));
    u.ModeImage = 4;
    QCOMPARE(u.ModeImageText(), QStringLiteral("Текущий объем"));
    u.ModeImage = 0;
    QCOMPARE(u.ModeImageText(), unknown);
    u.ModeCurrentOutput = 1;
    QCOMPARE(u.ModeCurrentOutputText(), QStringLiteral("4...20 mА"));
    QCOMPARE(u.ModeCurrentOutputText().at(7), QLatin1Char('m'));
    QCOMPARE(u.ModeCurrentOutputText().at(8), QChar(0x0410));
    u.ModeCurrentOutput = 3;
    QCOMPARE(u.ModeCurrentOutputText(), unknown);
    u.ModeChannel = 1;
    QCOMPARE(u.ModeChannelText(), QStringLiteral("Канал с усилителем ограничителем"));
    u.ProgramType = 1;
    QCOMPARE(u.ProgramTypeText(), QStringLiteral("УЛМАР-20"));
    QCOMPARE(u.ModeInputFilterText(), QStringLiteral("Включен"));
    QCOMPARE(u.ModeTermostatText(), QStringLiteral("Выключен"));
    u.ModeCalibr = 1;
    QCOMPARE(u.ModeCalibrText(), QStringLiteral("Калибровка по квадратичному закону"));
    u.ModeCalibr = 200;
    QCOMPARE(u.ModeCalibrText(), unknown);

    QCOMPARE(TUlmar::FaultText(1),
             QStringLiteral("Неисправен передатчик приемо-передающего модуля"));
    QCOMPARE(TUlmar::FaultText(9),
             QStringLiteral("Неисправен датчик температуры модуля термостатирования внутри "
                            "взрывонепроницаемой оболочки"));
    QCOMPARE(TUlmar::FaultText(0), QStringLiteral("Ошибка неизвестна"));
    QCOMPARE(TUlmar::FaultText(10), QStringLiteral("Ошибка неизвестна"));
    QCOMPARE(TUlmar::ErrorAnswerText(0), QString());
    QCOMPARE(TUlmar::ErrorAnswerText(5), QString());
}

void TestUlmar::tareTableText() {
    TGaugeExchange u;
    u.ClearTareTable();
    u.TareTable[0] = {1234.56, 12.5};
    u.TareTable[1] = {0.0, 100.0};
    const QStringList lines = u.TareTableText().split(QLatin1Char('\r'));
    QCOMPARE(lines.size(), 34); // header, 32 points, empty after the last carriage return
    QCOMPARE(lines[0], QStringLiteral("Уровень, Объем"));
    QCOMPARE(lines[1], QStringLiteral("1) 1\u00A0234,6    12,50"));
    QCOMPARE(lines[2], QStringLiteral("2) 0,0    100,00"));
    QCOMPARE(lines[32], QStringLiteral("32) NAN    NAN"));
    QCOMPARE(lines[33], QString());
    QVERIFY(!u.TareTableText().contains(QLatin1Char('\n')));
}

void TestUlmar::loadTareTable() {
    TGaugeExchange u;
    std::vector<std::array<double, 2>> rows;
    for (int i = 0; i < 40; ++i)
        rows.push_back({i * 10.0, i * 1.0});
    u.LoadTareTable(rows);
    QCOMPARE(u.TareTable[31].Level, 310.0);
    u.LoadTareTable({{5.0, 1.0}});
    QCOMPARE(u.TareTable[0].Level, 5.0);
    QVERIFY(std::isnan(u.TareTable[1].Level));
    QVERIFY(std::isnan(u.TareTable[31].Volume));
}

void TestUlmar::sampleZeroArray() {
    TGaugeExchange u;
    u.ZeroArray[127] = 777;
    u.LoadSampleZeroArray();
    const std::pair<int, int> fixed[] = {{1, 123}, {2, 286},  {3, 40731},   {4, 0},      {5, 398},
                                         {6, 776}, {7, 1170}, {126, 41916}, {127, 42178}};
    for (auto [entry, value] : fixed)
        QCOMPARE(u.ZeroArray[entry - 1], value);
    for (int e = 6; e <= 127; ++e) {
        const int step = u.ZeroArray[e - 1] - u.ZeroArray[e - 2];
        QVERIFY2(step >= 200 && step <= 400, qPrintable(QString::number(e)));
        if (e > 8 && e < 127) // the course flattens: no step above the one before by much
            QVERIFY(step <= u.ZeroArray[e - 2] - u.ZeroArray[e - 3] + 1);
    }
    QCOMPARE(u.ZeroArray[127], 777);
    QCOMPARE(u.ZeroArray[255], 65535);
}

void TestUlmar::progon() {
    TGaugeExchange u;
    const double currents[] = {20, 15, 10, 5, 0};
    const double ruletka[] = {1000, 4750, 8500, 12250, 16000};
    for (int i = 0; i < 5; ++i) {
        const TProgonPoint& p = u.ProgonPoints[i];
        QCOMPARE(p.Ruletka, ruletka[i]);
        QCOMPARE(p.Sample, 15000.0 - 3750 * i);
        QCOMPARE(p.Value, p.Sample);
        QCOMPARE(p.dValue, 0.0);
        QCOMPARE(p.CurrentSample, currents[i]);
        QCOMPARE(p.CurrentValue, 0.0);
        QCOMPARE(p.dCurrentValue, currents[i]);
    }
    u.ProgonPoints[1].Value = 11000;
    u.ProgonPoints[1].CurrentValue = 14.5;
    u.RecalcProgon();
    QCOMPARE(u.ProgonPoints[1].dValue, 250.0);
    QCOMPARE(u.ProgonPoints[1].CurrentSample, 11000 * 20 / 15000.0);
    QCOMPARE(u.ProgonPoints[1].dCurrentValue, 11000 * 20 / 15000.0 - 14.5);

    u.SetDist2(0); // no current scale: currents keep their values, no infinities
    u.RecalcProgonCurrents();
    u.RecalcProgon();
    u.FillProgonTemplate();
    for (const TProgonPoint& p : u.ProgonPoints) {
        QVERIFY(std::isfinite(p.CurrentSample));
        QVERIFY(std::isfinite(p.dCurrentValue));
    }
}

QTEST_GUILESS_MAIN(TestUlmar)
#include "tst_ulmar.moc"
