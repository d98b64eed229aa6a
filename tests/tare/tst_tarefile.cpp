// Tare files: the typical table byte for byte, reading guards (size, NUL, BOM), Windows-1251
// bytes round-tripping, refusal of characters the code page lacks, the save through a
// temporary file, and the text of a gauge's table reading back to the same singles.

#include "uFrame.h"
#include "uTara.h"
#include "uTareFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <cmath>
#include <limits>

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const QByteArray Block =
    "*******************************\r\n"
    "* \xD4\xEE\xF0\xEC\xE0\xF2 \xF2\xE0\xE1\xEB\xE8\xF6\xFB               \r\n"
    "* <\xCD\xE0\xE7\xE2\xE0\xED\xE8\xE5>=<\xCA\xEE\xEB\xE8\xF7\xE5\xF1"
    "\xF2\xE2\xEE \xF2\xEE\xF7\xE5\xEA>\r\n"
    "* \xD3\xF0\xEE\xE2\xE5\xED\xFC, \xEC\xEC -> \xCE\xE1\xFA\xE5\xEC, %"
    "      \r\n"
    "*******************************\r\n";

std::array<TTarePoint, 32> EmptyPoints() {
    std::array<TTarePoint, 32> points{};
    const double empty = BytesToFloat(0xFF, 0xFF, 0xFF, 0xFF);
    for (TTarePoint& p : points)
        p = {empty, empty};
    return points;
}

} // namespace

class TTareFileTest : public QObject {
    Q_OBJECT
private slots:
    void typicalTextByteForByte();
    void readGuards();
    void cp1251RoundTrip();
    void unencodableRefused();
    void gaugeTextReadsBackToSameSingles();
    void gaugeTextSkipsEmptyPoints();
    void gaugeFileNameNeverReplacesAFile();
    void compareAsTheGaugeStores();

private:
    QTemporaryDir Dir;
};

void TTareFileTest::typicalTextByteForByte() {
    const QString path = Dir.filePath(QStringLiteral("ttDefault.txt"));
    QString error;
    QVERIFY(WriteTareFile(path, TypicalTareText(), error));
    QByteArray expected = Block + "ttDefault1=2\r\n    0    0,00\r\n10000\t 100,00\r\n\r\n" +
                          Block + "ttDefault2=32\r\n";
    const char* rows[32] = {"    0   0,00", "  323   0,93", "  645   2,67", "  968   4,95",
                            " 1290   7,55", " 1613  10,45", " 1935  13,64", " 2258  17,00",
                            " 2581  20,48", " 2903  24,08", " 3226  27,88", " 3548  31,79",
                            " 3871  35,71", " 4194  39,72", " 4516  43,81", " 4839  47,93",
                            " 5161  52,07", " 5484  56,19", " 5806  60,28", " 6129  64,29",
                            " 6452  68,21", " 6774  72,11", " 7097  75,94", " 7419  79,62",
                            " 7742  83,06", " 8065  86,35", " 8387  89,54", " 8710  92,45",
                            " 9032  95,05", " 9355  97,33", " 9677  99,07", "10000 100,00"};
    for (const char* row : rows)
        expected += QByteArray(row) + "\r\n";
    expected += "\r\n";
    QCOMPARE(ReadBytes(path), expected);

    // Both tables read back through the reader, and both are fit for a gauge.
    QString text;
    QVERIFY(ReadTareFile(path, text, error));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(TareTableNames(lines), QStringList({"ttDefault1", "ttDefault2"}));
    TTara tara;
    tara.FileName = path;
    tara.TableName = QStringLiteral("ttDefault2");
    QVERIFY(tara.LoadFromStrings(lines));
    QCOMPARE(tara.Table.size(), std::size_t(32));
    QCOMPARE(tara.Table[31].TaraVolume, 100.0);
    QVERIFY(TareUnfitForGauge(lines, QStringLiteral("ttDefault1")).isEmpty());
    QVERIFY(TareUnfitForGauge(lines, QStringLiteral("ttDefault2")).isEmpty());
}

void TTareFileTest::readGuards() {
    QString text = QStringLiteral("kept");
    QString error;
    const QString failure = QStringLiteral("Не удалось загрузить файл");

    const QString nul = Dir.filePath(QStringLiteral("nul.txt"));
    QVERIFY(WriteBytes(nul, QByteArray("t=1\r\n1 2\0\r\n", 11)));
    QVERIFY(!ReadTareFile(nul, text, error));
    QVERIFY(error.startsWith(failure));
    QCOMPARE(text, QStringLiteral("kept"));

    const QString big = Dir.filePath(QStringLiteral("big.txt"));
    QVERIFY(WriteBytes(big, QByteArray(TareFileMaxBytes + 1, 'x')));
    QVERIFY(!ReadTareFile(big, text, error));
    QVERIFY(error.startsWith(failure));
    const QString limit = Dir.filePath(QStringLiteral("limit.txt"));
    QVERIFY(WriteBytes(limit, QByteArray(TareFileMaxBytes, 'x')));
    QVERIFY(ReadTareFile(limit, text, error));
    QCOMPARE(text.size(), TareFileMaxBytes);

    QVERIFY(!ReadTareFile(Dir.filePath(QStringLiteral("none.txt")), text, error));
    QVERIFY(error.startsWith(failure));
    QVERIFY(!ReadTareFile(Dir.path(), text, error));

    // A UTF-8 BOM marks UTF-8 and is stripped; broken UTF-8 after it is refused.
    const QString bom = Dir.filePath(QStringLiteral("bom.txt"));
    QVERIFY(WriteBytes(bom, "\xEF\xBB\xBFтабл=2\r\n0 0\r\n1 1\r\n"));
    QVERIFY(ReadTareFile(bom, text, error));
    QVERIFY(text.startsWith(QStringLiteral("табл=2\r\n")));
    QCOMPARE(TareTableNames(text.split(QStringLiteral("\r\n"))), QStringList{"табл"});
    QVERIFY(WriteBytes(bom, "\xEF\xBB\xBF\xC0\xC1=2"));
    QVERIFY(!ReadTareFile(bom, text, error));
}

void TTareFileTest::cp1251RoundTrip() {
    // Every byte but NUL reads and writes back unchanged.
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    const QString path = Dir.filePath(QStringLiteral("all.txt"));
    QVERIFY(WriteBytes(path, all));
    QString text;
    QString error;
    QVERIFY(ReadTareFile(path, text, error));
    QCOMPARE(text.size(), all.size());
    QCOMPARE(text.mid(0xC0 - 1, 2), QStringLiteral("АБ"));
    QCOMPARE(text[0xB8 - 1], QChar(u'ё'));
    // The code page as the platform's converter knows it, where it defines the byte.
    QStringDecoder platform("windows-1251");
    if (platform.isValid()) {
        const QString decoded = platform.decode(all);
        for (int i = 0; i < all.size(); ++i)
            if (static_cast<unsigned char>(all[i]) != 0x98)
                QCOMPARE(text[i], decoded[i]);
    }
    const QString copy = Dir.filePath(QStringLiteral("copy.txt"));
    QVERIFY(WriteTareFile(copy, text, error));
    QCOMPARE(ReadBytes(copy), all);
}

void TTareFileTest::unencodableRefused() {
    const QString path = Dir.filePath(QStringLiteral("keep.txt"));
    QVERIFY(WriteBytes(path, "old"));
    QString error;
    QVERIFY(!WriteTareFile(path, QStringLiteral("t=2\r\n0 0\r\n1 1 中\r\n"), error));
    QVERIFY(error.startsWith(QStringLiteral("Не удалось сохранить файл\r") + path));
    QVERIFY(error.contains(QStringLiteral("«中» в строке 3")));
    QCOMPARE(ReadBytes(path), QByteArray("old"));
    QVERIFY(!WriteTareFile(path, QStringLiteral("😀"), error));
    QCOMPARE(ReadBytes(path), QByteArray("old"));
    // Nothing but the file itself is left behind.
    QCOMPARE(QDir(Dir.path()).entryList({"keep*"}, QDir::Files | QDir::Hidden).size(), 1);

    // A save that cannot write leaves the old file untouched.
    const QString blocked = Dir.filePath(QStringLiteral("dir.txt"));
    QVERIFY(QDir().mkpath(blocked));
    QVERIFY(!WriteTareFile(blocked, QStringLiteral("t=0"), error));
    QVERIFY(error.startsWith(QStringLiteral("Не удалось сохранить файл")));
}

void TTareFileTest::gaugeTextReadsBackToSameSingles() {
    // Singles as a gauge holds them (volumes × 100), among them values with no short decimal
    // form, under a locale whose decimal separator is a comma.
    const float levels[] = {0.0f,      0.1f,       323.0f, 1234.567f, 9999.999f,
                            33333.33f, 49999.996f, 1e-7f,  3.0e7f};
    const float volumes100[] = {0.0f,    1.0f,       93.0f,    2048.0f, 3179.0f,
                                5207.0f, 7194.9995f, 9999.99f, 10000.0f};
    std::array<TTarePoint, 32> points = EmptyPoints();
    for (int k = 0; k < 9; ++k)
        points[k] = {double(levels[k]), double(volumes100[k]) / 100.0};

    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const char* c = std::setlocale(LC_ALL, "de_DE.UTF-8");
    const QString text = GaugeTareText(points);
    QLocale::setDefault(saved);
    if (c)
        std::setlocale(LC_ALL, "C");

    QVERIFY(!text.contains(QLatin1Char('.')));
    QVERIFY(!text.contains(QLatin1Char('e'), Qt::CaseInsensitive));
    QVERIFY(!text.contains(QStringLiteral("NAN"), Qt::CaseInsensitive));
    QVERIFY(text.startsWith(TareCommentBlock() + QStringLiteral("ttFromUlmar=9\r\n")));
    QVERIFY(text.endsWith(QStringLiteral("\r\n\r\n")));
    QVERIFY(text.contains(QStringLiteral("\r\n323 0,93\r\n")));
    QVERIFY(text.contains(QStringLiteral("\r\n0 0,00\r\n")));

    const QStringList lines = text.split(QStringLiteral("\r\n"));
    TTaraTable table;
    QVERIFY(ReadTareTable(lines, QStringLiteral("ttFromUlmar"), table));
    QCOMPARE(table.size(), std::size_t(9));
    for (int k = 0; k < 9; ++k) {
        QCOMPARE(FloatToBytes(table[k].TaraLevel), FloatToBytes(levels[k]));
        QCOMPARE(FloatToBytes(table[k].TaraVolume * 100.0), FloatToBytes(volumes100[k]));
    }
}

void TTareFileTest::gaugeTextSkipsEmptyPoints() {
    std::array<TTarePoint, 32> points = EmptyPoints();
    QCOMPARE(GaugeTareText(points), TareCommentBlock() + QStringLiteral("ttFromUlmar=0\r\n\r\n"));
    points[0] = {0.0, 0.0};
    points[1] = {10000.0, 100.0};
    points[2].Level = std::numeric_limits<double>::infinity(); // not a point of a table
    points[2].Volume = 5.0;
    const QString text = GaugeTareText(points);
    QCOMPARE(text, TareCommentBlock() +
                       QStringLiteral("ttFromUlmar=2\r\n0 0,00\r\n10000 100,00\r\n\r\n"));
    QVERIFY(TareUnfitForGauge(text.split(QStringLiteral("\r\n")), QStringLiteral("ttFromUlmar"))
                .isEmpty());
}

void TTareFileTest::gaugeFileNameNeverReplacesAFile() {
    const QDateTime at(QDate(2026, 12, 10), QTime(9, 4, 5));
    QCOMPARE(GaugeTareFileName(1001, at), QStringLiteral("1001_20261210-090405.txt"));
    QCOMPARE(GaugeTareFileName(0, at), QStringLiteral("0_20261210-090405.txt"));
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("1001_20261210-090405.txt"));
    QCOMPARE(GaugeTareFilePath(dir.path(), 1001, at), first);
    // Two reads within the same second: the second file gets a number, the first stays.
    QVERIFY(WriteBytes(first, "a"));
    const QString second = GaugeTareFilePath(dir.path(), 1001, at);
    QCOMPARE(second, dir.filePath(QStringLiteral("1001_20261210-090405-2.txt")));
    QVERIFY(WriteBytes(second, "b"));
    QCOMPARE(GaugeTareFilePath(dir.path(), 1001, at),
             dir.filePath(QStringLiteral("1001_20261210-090405-3.txt")));
    // A dangling link of that name is taken too: it is not written through.
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("none")),
                        dir.filePath(QStringLiteral("1001_20261210-090405-3.txt"))));
    QCOMPARE(GaugeTareFilePath(dir.path(), 1001, at),
             dir.filePath(QStringLiteral("1001_20261210-090405-4.txt")));
    QCOMPARE(ReadBytes(first), QByteArray("a"));
}

// A table compared with the gauge's row by row as the gauge stores it: a table read back
// through ttFromUlmar equals the gauge's; a changed level or volume, a missing or an extra row
// differ; the texts do not depend on the C library's locale.
void TTareFileTest::compareAsTheGaugeStores() {
    std::array<TTarePoint, 32> points = EmptyPoints();
    const float volumes100[] = {0.0f, 93.0f, 2048.0f, 7194.9995f, 10000.0f};
    for (int k = 0; k < 5; ++k)
        points[k] = {double(1234.567f) * k, double(volumes100[k]) / 100.0};
    const TTareRows gauge = GaugeTareRows(points);
    QCOMPARE(gauge.size(), std::size_t(5));
    TTaraTable read;
    QVERIFY(ReadTareTable(GaugeTareText(points).split(QStringLiteral("\r\n")),
                          QStringLiteral("ttFromUlmar"), read));
    TTareRows table;
    for (const TTaraPoint& p : read)
        table.push_back({p.TaraLevel, p.TaraVolume});
    QVERIFY(CompareTarePoints(table, gauge).empty());
    QVERIFY(CompareTarePoints({}, {}).empty());

    // A volume off by 0,01 % and a level off by 1 mm: those two rows, in order.
    TTareRows changed = table;
    changed[1][1] += 0.01;
    changed[3][0] += 1.0;
    auto d = CompareTarePoints(changed, gauge);
    QCOMPARE(d.size(), std::size_t(2));
    QCOMPARE(d[0].Point, 2);
    QCOMPARE(d[0].VolumeA, changed[1][1]);
    QCOMPARE(d[0].VolumeB, gauge[1][1]);
    QCOMPARE(d[1].Point, 4);

    // Different row counts: the rows one side lacks differ, NaN on that side.
    TTareRows shorter(table.begin(), table.begin() + 3);
    d = CompareTarePoints(shorter, gauge);
    QCOMPARE(d.size(), std::size_t(2));
    QCOMPARE(d[0].Point, 4);
    QVERIFY(std::isnan(d[0].LevelA) && std::isnan(d[0].VolumeA));
    QCOMPARE(d[1].Point, 5);
    d = CompareTarePoints(gauge, shorter);
    QCOMPARE(d.size(), std::size_t(2));
    QVERIFY(std::isnan(d[1].LevelB));
    // A row of 0 mm, 0 % is a row, not a missing one.
    d = CompareTarePoints({{0.0, 0.0}}, {});
    QCOMPARE(d.size(), std::size_t(1));

    // The texts: the locale given, never the C library's.
    const char* c = std::setlocale(LC_ALL, "ru_RU.UTF-8");
    TTarePointDifference row{3, 645.0, 2.67, 650.0, double(270.0f) / 100.0};
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QCOMPARE(TareDifferenceText(row, russian),
             QStringLiteral("Строка 3: в таблице 645 мм, 2,67 %; в приборе 650 мм, 2,7 %"));
    QCOMPARE(TareDifferenceText(row, QLocale::c()),
             QStringLiteral("Строка 3: в таблице 645 мм, 2.67 %; в приборе 650 мм, 2.7 %"));
    // No group separator in a level, as a tare file has none.
    QCOMPARE(TareDifferenceText({1, 12000.0, 100.0, 12000.0, 99.5}, russian),
             QStringLiteral("Строка 1: в таблице 12000 мм, 100 %; в приборе 12000 мм, 99,5 %"));
    row.LevelB = row.VolumeB = std::numeric_limits<double>::quiet_NaN();
    QCOMPARE(TareDifferenceText(row, QLocale::c()),
             QStringLiteral("Строка 3: в таблице 645 мм, 2.67 %; в приборе нет строки"));
    QCOMPARE(TareDifferenceLines({row, row}, QLocale::c()).size(), 2);
    if (c)
        std::setlocale(LC_ALL, "C");
}

QTEST_GUILESS_MAIN(TTareFileTest)
#include "tst_tarefile.moc"
