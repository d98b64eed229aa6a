// Frame checksums, value encodings, byte renderings, path helpers and the command line.

#include "uFrame.h"
#include "uParamStr.h"
#include "uWire.h"
#include <QDir>
#include <QTest>
#include <cmath>

class TestFrame : public QObject {
    Q_OBJECT
private slots:
    void crc16_data();
    void crc16();
    void checkCrc16_data();
    void checkCrc16();
    void crc8_data();
    void crc8();
    void checkCrc8();
    void floatBytes_data();
    void floatBytes();
    void floatReadsNaN();
    void floatRoundsToSingle();
    void floatOutOfSingleRange();
    void makeWord();
    void linkResultTexts();
    void acceptedCommands();
    void kalistRequest();
    void hexAndDec_data();
    void hexAndDec();
    void bytesStringRoundTrip();
    void repeatAndRange();
    void joinPath_data();
    void joinPath();
    void archiveDayPath();
    void commandLine();
};

static QByteArray Hex(const char* text) {
    return QByteArray::fromHex(text);
}

static QByteArray WithCrc16(const QByteArray& body) {
    const quint16 crc = Crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

void TestFrame::crc16_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("identification to 255") << Hex("FF2001") << 0xF099;
    QTest::newRow("empty") << QByteArray() << 0xFFFF;
    // CRC-16/MODBUS check value.
    QTest::newRow("123456789") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("other address") << Hex("012001") << int(Crc16(Hex("012001")));
}

void TestFrame::crc16() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(Crc16(bytes)), crc);
}

void TestFrame::checkCrc16_data() {
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("ok");
    QTest::newRow("identification frame") << Hex("FF200199F0") << true;
    QTest::newRow("crc bytes swapped") << Hex("FF2001F099") << false;
    QTest::newRow("one payload bit flipped") << Hex("FF210199F0") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("one byte") << Hex("FF") << false;
    // Two bytes: nothing before the checksum, even though FF FF is Crc16 of nothing.
    QTest::newRow("two bytes") << Hex("FFFF") << false;
    QTest::newRow("3 bytes with crc over 1") << WithCrc16(Hex("05")) << true;
    // The parser rejects this for its length first; the checksum itself is correct.
    QTest::newRow("4 bytes with crc over 2") << WithCrc16(Hex("FF20")) << true;
    QTest::newRow("unknown command, good crc") << WithCrc16(Hex("FF3001")) << true;
}

void TestFrame::checkCrc16() {
    QFETCH(QByteArray, frame);
    QFETCH(bool, ok);
    QCOMPARE(CheckCrc16(frame), ok);
}

void TestFrame::crc8_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("abc") << QByteArray("abc") << 0x90;
    QTest::newRow("kalist request") << Hex("01000100") << 0xA0;
    QTest::newRow("empty") << QByteArray() << 0xFF;
}

void TestFrame::crc8() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(Crc8(bytes)), crc);
}

void TestFrame::checkCrc8() {
    QVERIFY(CheckCrc8(Hex("01000100A0")));
    QVERIFY(!CheckCrc8(Hex("01000100A1")));
    QVERIFY(!CheckCrc8(Hex("FF")));
    QVERIFY(!CheckCrc8(QByteArray()));
    // Two bytes: a lone data byte and its CRC-8 are still too short.
    const QByteArray two = QByteArray(1, '\x05') + char(Crc8(QByteArray(1, '\x05')));
    QVERIFY(!CheckCrc8(two));
    const QByteArray three = Hex("0102") + char(Crc8(Hex("0102")));
    QVERIFY(CheckCrc8(three));
}

void TestFrame::floatBytes_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("1000") << 1000.0 << Hex("447A0000");
    QTest::newRow("1") << 1.0 << Hex("3F800000");
    QTest::newRow("-2") << -2.0 << Hex("C0000000");
    QTest::newRow("0") << 0.0 << Hex("00000000");
    QTest::newRow("0.5") << 0.5 << Hex("3F000000");
}

void TestFrame::floatBytes() {
    QFETCH(double, value);
    QFETCH(QByteArray, bytes);
    const auto b = FloatToBytes(value);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(b.data()), 4), bytes);
    QCOMPARE(BytesToFloat(quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]), quint8(bytes[3])),
             value);
}

void TestFrame::floatReadsNaN() {
    QVERIFY(std::isnan(BytesToFloat(0xFF, 0xFF, 0xFF, 0xFF)));
    QVERIFY(std::isinf(BytesToFloat(0x7F, 0x80, 0x00, 0x00)));
}

void TestFrame::floatRoundsToSingle() {
    // 0.1 is not a single: the bytes are those of the nearest single, which reads back as
    // that single, not as the double 0.1.
    const auto b = FloatToBytes(0.1);
    QCOMPARE(b, (std::array<quint8, 4>{0x3D, 0xCC, 0xCC, 0xCD}));
    const double back = BytesToFloat(b[0], b[1], b[2], b[3]);
    QCOMPARE(back, double(0.1f));
    QVERIFY(back != 0.1);
    // 1 + 2^-24 lies halfway between two singles and rounds to even, i.e. to 1.0.
    QCOMPARE(FloatToBytes(1.0 + std::ldexp(1.0, -24)), (std::array<quint8, 4>{0x3F, 0x80, 0, 0}));
}

void TestFrame::floatOutOfSingleRange() {
    QCOMPARE(FloatToBytes(1e300), (std::array<quint8, 4>{0x7F, 0x80, 0, 0}));
    QCOMPARE(FloatToBytes(-1e300), (std::array<quint8, 4>{0xFF, 0x80, 0, 0}));
    // Just above the largest single but below the rounding midpoint: the largest single.
    QCOMPARE(FloatToBytes(3.4028235e38), (std::array<quint8, 4>{0x7F, 0x7F, 0xFF, 0xFF}));
    const auto nan = FloatToBytes(std::nan(""));
    QVERIFY(std::isnan(BytesToFloat(nan[0], nan[1], nan[2], nan[3])));
}

void TestFrame::makeWord() {
    QCOMPARE(MakeWord(0x34, 0x12), quint16(0x1234));
    QCOMPARE(MakeWord(0xFF, 0xFF), quint16(0xFFFF));
    QCOMPARE(MakeWord(0x01, 0x00), quint16(1));
}

void TestFrame::linkResultTexts() {
    QCOMPARE(LinkResultText(0), QStringLiteral("Норма"));
    QCOMPARE(LinkResultText(-1), QStringLiteral("Нет ответа от устройства"));
    QCOMPARE(LinkResultText(-3), QStringLiteral("Ошибка чтения"));
    QCOMPARE(LinkResultText(-4), QStringLiteral("Ошибка контрольной суммы"));
    QCOMPARE(LinkResultText(-5), QStringLiteral("Несоответствие команды"));
    QVERIFY(LinkResultText(-2).isEmpty());
    QVERIFY(LinkResultText(1).isEmpty());
}

void TestFrame::acceptedCommands() {
    const QList<int> accepted{0x01, 0x02, 0x10, 0x20, 0x25, 0x60, 0x81, 0x82, 0x83, 0xA2,
                              0xA5, 0xA6, 0xA8, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xFA};
    for (int c = 0; c < 256; ++c)
        QVERIFY2(IsAcceptedAnswerCommand(quint8(c)) == accepted.contains(c),
                 qPrintable(QString::number(c, 16)));
}

void TestFrame::kalistRequest() {
    QCOMPARE(KalistRequest(), Hex("01000100"));
    QCOMPARE(KalistRequest() + char(Crc8(KalistRequest())), Hex("01000100A0"));
}

void TestFrame::hexAndDec_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("decPadded");
    QTest::addColumn<QString>("dec");
    QTest::newRow("three") << Hex("01A2FF") << "01 A2 FF"
                           << "001 162 255"
                           << "1 162 255";
    QTest::newRow("empty") << QByteArray() << ""
                           << ""
                           << "";
    QTest::newRow("zero and ten") << Hex("000A63") << "00 0A 63"
                                  << "000 010 099"
                                  << "0 10 99";
}

void TestFrame::hexAndDec() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, hex);
    QFETCH(QString, decPadded);
    QFETCH(QString, dec);
    QCOMPARE(ToHexString(bytes), hex);
    QCOMPARE(ToDecString(bytes, true), decPadded);
    QCOMPARE(ToDecString(bytes, false), dec);
}

void TestFrame::bytesStringRoundTrip() {
    QByteArray all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    const QString text = BytesToString(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text.at(0xA2).unicode(), ushort(0xA2));
    QCOMPARE(StringToBytes(text), all);
}

void TestFrame::repeatAndRange() {
    QCOMPARE(RepeatString("ab", 3), QStringLiteral("ababab"));
    QCOMPARE(RepeatString("ab", 1), QStringLiteral("ab"));
    QCOMPARE(RepeatString("ab", 0), QStringLiteral("ab"));
    QCOMPARE(RepeatString("ab", -2), QStringLiteral("ab"));
    QVERIFY(InRange(1.0, 1.0, 2.0));
    QVERIFY(InRange(2.0, 1.0, 2.0));
    QVERIFY(!InRange(2.0001, 1.0, 2.0));
    QVERIFY(!InRange(0.9999, 1.0, 2.0));
    QVERIFY(!InRange(std::nan(""), 1.0, 2.0));
}

void TestFrame::joinPath_data() {
    const QString s = QDir::separator();
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    const QString day = "2024" + s + "03" + s + "05";
    QTest::newRow("trailing separator") << "/data" + s << day << "/data" + s + day;
    QTest::newRow("no trailing separator") << "/data" << day << "/data" + s + day;
    QTest::newRow("empty dir") << "" << day << day;
    QTest::newRow("root") << s << "x.txt" << s + "x.txt";
    QTest::newRow("name with leading separator") << "/data" << s + "x"
                                                 << "/data" + s + "x";
}

void TestFrame::joinPath() {
    QFETCH(QString, dir);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(JoinPath(dir, name), path);
}

void TestFrame::archiveDayPath() {
    const QString s = QDir::separator();
    const TDateTime stamp = QtToDateTime(QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59, 999)));
    QCOMPARE(ArchiveDayPath(stamp), "2024" + s + "03" + s + "05");
    QCOMPARE(ArchiveDayPath(QtToDateTime(QDateTime(QDate(1999, 12, 31), QTime(0, 0)))),
             "1999" + s + "12" + s + "31");
    // Before 30 December 1899 the day count is negative and the fraction still counts forward.
    QCOMPARE(ArchiveDayPath(QtToDateTime(QDateTime(QDate(1899, 12, 29), QTime(12, 0)))),
             "1899" + s + "12" + s + "29");
    QVERIFY(ArchiveDayPath(std::nan("")).isEmpty());
    QVERIFY(ArchiveDayPath(1e300).isEmpty());
}

void TestFrame::commandLine() {
    TCommandLineModes modes = ParseCommandLine({"/usr/bin/ulmar", "/FULL", "/Kalist"});
    QVERIFY(!modes.Factory); // the capitals do not match
    QVERIFY(!modes.Kalist);
    modes = ParseCommandLine({"/usr/bin/ulmar", "x", "/kalist", "/full"});
    QVERIFY(modes.Factory);
    QVERIFY(modes.Kalist);
    QVERIFY(ParseCommandLine({"/full"}).Factory); // argument 0 counts too
    QVERIFY(!ParseCommandLine({}).Factory);
}

QTEST_GUILESS_MAIN(TestFrame)
#include "tst_frame.moc"
