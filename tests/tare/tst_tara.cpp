// The tare table reader: number parsing, table reading (the faults a hand-edited file brings),
// interpolation and extrapolation, and the checks before a table goes to a gauge.

#include "uTara.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A reader whose file exists, so that LoadFromStrings reads the given lines.
struct TReader {
    QTemporaryDir Dir;
    TTara Tara;
    TReader() {
        Tara.FileName = Dir.filePath(QStringLiteral("t.txt"));
        QFile f(Tara.FileName);
        f.open(QIODevice::WriteOnly);
    }
    bool Load(const QString& name, const QStringList& lines) {
        Tara.TableName = name;
        return Tara.LoadFromStrings(lines);
    }
};

QStringList Rows(int n, int firstLevel = 0) {
    QStringList rows;
    for (int i = 0; i < n; ++i)
        rows << QStringLiteral("%1 %2").arg(firstLevel + i * 100).arg(i);
    return rows;
}

} // namespace

class TTaraTest : public QObject {
    Q_OBJECT
private slots:
    void parseNumber_data();
    void parseNumber();
    void loadPinnedCases();
    void loadMendedFaults();
    void levelToVolume_data();
    void levelToVolume();
    void tooFewRowsGiveNoLookup();
    void tableNames();
    void unfitForGauge_data();
    void unfitForGauge();
};

void TTaraTest::parseNumber_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("end");
    QTest::newRow("blanks before") << "  323   0,93" << 1 << true << 323.0 << 6;
    QTest::newRow("volume after level") << "  323   0,93" << 6 << true << 0.93 << 13;
    QTest::newRow("tab") << "10000\t 100,00" << 6 << true << 100.0 << 14;
    QTest::newRow("point ends") << "1.5 2" << 1 << true << 1.0 << 2;
    QTest::newRow("after point") << "1.5 2" << 2 << true << 5.0 << 4;
    QTest::newRow("second comma ends") << "1,5,7" << 1 << true << 1.5 << 4;
    QTest::newRow("negative") << "-12,5;x" << 1 << true << -12.5 << 6;
    QTest::newRow("leading comma") << ",5" << 1 << true << 0.5 << 3;
    QTest::newRow("lone comma") << " , " << 1 << false << 0.0 << 1;
    QTest::newRow("lone minus") << "- 5" << 1 << false << 0.0 << 1;
    QTest::newRow("minus inside") << "1-2" << 1 << false << 0.0 << 1;
    QTest::newRow("no number") << "abc" << 1 << false << 0.0 << 1;
    QTest::newRow("past the end") << "12" << 3 << false << 0.0 << 3;
    QTest::newRow("position 0") << "12" << 0 << false << 0.0 << 0;
    QTest::newRow("overflow") << QString(400, QLatin1Char('9')) << 1 << false << 0.0 << 1;
}

void TTaraTest::parseNumber() {
    QFETCH(QString, line);
    QFETCH(int, start);
    QFETCH(bool, ok);
    QFETCH(double, value);
    QFETCH(int, end);
    int position = start;
    double x = -777.0;
    QCOMPARE(TTara::ParseNumber(line, position, x), ok);
    QCOMPARE(position, end);
    QCOMPARE(x, ok ? value : -777.0);
}

void TTaraTest::loadPinnedCases() {
    TReader r;
    // The name is found without regard to case; "1.5 2" keeps its pinned reading.
    const QStringList lines = {"* comment = 3", "ttDefault2=3", "  323   0,93", "1.5 2",
                               "10000\t 100,00"};
    QVERIFY(r.Load(QStringLiteral("TTDEFAULT2"), lines));
    QCOMPARE(r.Tara.Table.size(), std::size_t(3));
    QCOMPARE(r.Tara.Table[0].TaraLevel, 323.0);
    QCOMPARE(r.Tara.Table[0].TaraVolume, 0.93);
    QCOMPARE(r.Tara.Table[1].TaraLevel, 1.0);
    QCOMPARE(r.Tara.Table[1].TaraVolume, 5.0);
    QCOMPARE(r.Tara.Table[2].TaraVolume, 100.0);
    QVERIFY(r.Tara.Problems.isEmpty());

    // A count that is not an integer: an empty table, read.
    QVERIFY(r.Load(QStringLiteral("t"), {"t=abc", "1 2"}));
    QVERIFY(r.Tara.Table.empty());

    // The name keeps its blanks; the first header of the name counts.
    QVERIFY(r.Load(QStringLiteral(" a b"), {" a b=1", "5 6", " A B=1", "7 8"}));
    QCOMPARE(r.Tara.Table[0].TaraLevel, 5.0);

    // No file on disk, or no name: nothing is read.
    QVERIFY(!r.Load(QString(), {"=1", "1 2"}));
    TTara gone;
    gone.FileName = r.Dir.filePath(QStringLiteral("missing.txt"));
    gone.TableName = QStringLiteral("t");
    QVERIFY(!gone.LoadFromStrings({"t=1", "1 2"}));
    QVERIFY(!r.Load(QStringLiteral("other"), {"t=1", "1 2"}));
}

void TTaraTest::loadMendedFaults() {
    TReader r;
    // A count beyond the lines that follow fails at once, nothing allocated for it.
    QVERIFY(!r.Load(QStringLiteral("t"), {"t=2000000000", "1 2"}));
    QVERIFY(r.Tara.Table.empty());
    QCOMPARE(r.Tara.Problems.size(), 1);
    QVERIFY(r.Tara.Problems[0].startsWith(QStringLiteral("Строка 1: ")));
    QVERIFY(!r.Load(QStringLiteral("t"), {"x", "t=3", "1 2", "3 4"}));
    QVERIFY(r.Tara.Problems.value(0).startsWith(QStringLiteral("Строка 2: ")));

    // A header or a comment line inside the declared rows is never a row.
    QVERIFY(!r.Load(QStringLiteral("t"), {"t=3", "1 2", "u=1", "5 6"}));
    QVERIFY(r.Tara.Problems.value(0).startsWith(QStringLiteral("Строка 3: ")));
    QVERIFY(!r.Load(QStringLiteral("t"), {"t=2", "1 2", "*10 20"}));
    QVERIFY(r.Tara.Problems.value(0).startsWith(QStringLiteral("Строка 3: ")));

    // An unreadable row fails; the rows before stay, the rest zero, the declared length kept.
    QVERIFY(!r.Load(QStringLiteral("t"), {"t=3", "1 2", "", "5 6"}));
    QCOMPARE(r.Tara.Table.size(), std::size_t(3));
    QCOMPARE(r.Tara.Table[0].TaraVolume, 2.0);
    QCOMPARE(r.Tara.Table[2].TaraLevel, 0.0);

    // Rows after the declared count are reported, each with its line; the table reads.
    QVERIFY(r.Load(QStringLiteral("t"), {"t=2", "1 2", "3 4", "5 6", "7 8", "", "9 10"}));
    QCOMPARE(r.Tara.Table.size(), std::size_t(2));
    QCOMPARE(r.Tara.Problems.size(), 2);
    QVERIFY(r.Tara.Problems[0].startsWith(QStringLiteral("Строка 4: ")));
    QVERIFY(r.Tara.Problems[1].startsWith(QStringLiteral("Строка 5: ")));

    // More than 32 rows read whole, the first row past 32 reported.
    QStringList big = {QStringLiteral("t=40")};
    big << Rows(40);
    QVERIFY(r.Load(QStringLiteral("t"), big));
    QCOMPARE(r.Tara.Table.size(), std::size_t(40));
    QCOMPARE(r.Tara.Problems.size(), 1);
    QVERIFY(r.Tara.Problems[0].startsWith(QStringLiteral("Строка 34: ")));
}

void TTaraTest::levelToVolume_data() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<double>("level");
    QTest::addColumn<double>("volume");
    const QStringList line = {"0 0", "10000 100"};
    QTest::newRow("middle") << line << 5000.0 << 50.0;
    QTest::newRow("below first") << line << -100.0 << -1.0;
    QTest::newRow("above last") << line << 12000.0 << 120.0;
    QTest::newRow("at a row") << line << 10000.0 << 100.0;
    const QStringList flat = {"100 5", "100 7"};
    QTest::newRow("same level, below") << flat << 0.0 << 5.0;
    QTest::newRow("same level, above") << flat << 500.0 << 5.0;
    const QStringList three = {"0 0", "100 10", "200 40"};
    QTest::newRow("second segment") << three << 150.0 << 25.0;
    QTest::newRow("last segment beyond") << three << 300.0 << 70.0;
    QTest::newRow("first segment") << three << 50.0 << 5.0;
}

void TTaraTest::levelToVolume() {
    QFETCH(QStringList, rows);
    QFETCH(double, level);
    QFETCH(double, volume);
    TReader r;
    QVERIFY(
        r.Load(QStringLiteral("t"), QStringList{QStringLiteral("t=%1").arg(rows.size())} + rows));
    double v = -1e9;
    QVERIFY(r.Tara.LevelToVolume(level, v));
    QCOMPARE(v, volume);
}

void TTaraTest::tooFewRowsGiveNoLookup() {
    TReader r;
    double v = -3.0;
    QVERIFY(r.Load(QStringLiteral("t"), {"t=0"}));
    QVERIFY(!r.Tara.LevelToVolume(1.0, v));
    QVERIFY(r.Load(QStringLiteral("t"), {"t=1", "100 5"}));
    QVERIFY(!r.Tara.LevelToVolume(100.0, v));
    QVERIFY(!r.Tara.LevelToVolume(1e6, v));
    QCOMPARE(v, -3.0);
    // A name cleared after a load gives no volume either.
    QVERIFY(r.Load(QStringLiteral("t"), {"t=2", "0 0", "1 1"}));
    r.Tara.TableName.clear();
    QVERIFY(!r.Tara.LevelToVolume(0.5, v));
}

void TTaraTest::tableNames() {
    const QStringList lines = {"* Формат = 3", "ttDefault1=2", "0 0",         "=5",
                               "a*b=2",        " x =1",        "ttDefault1=1"};
    QCOMPARE(TareTableNames(lines),
             QStringList({QStringLiteral("ttDefault1"), QStringLiteral(" x "),
                          QStringLiteral("ttDefault1")}));
}

void TTaraTest::unfitForGauge_data() {
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("start"); // the message's beginning; empty: fit
    QStringList ten = {QStringLiteral("t=10")};
    ten << Rows(10);
    QTest::newRow("ten rows") << ten << "T" << QString();
    QStringList full = {QStringLiteral("* c"), QStringLiteral("t=32")};
    full << Rows(32);
    QTest::newRow("32 rows") << full << "t" << QString();
    QStringList forty = {QStringLiteral("t=40")};
    forty << Rows(40);
    QTest::newRow("40 rows") << forty << "t"
                             << "Строка 34: ";
    QTest::newRow("missing") << QStringList{"t=2", "0 0", "1 1"} << "u"
                             << "Таблица u ";
    QTest::newRow("one row") << QStringList{"t=1", "0 0"} << "t"
                             << "Строка 1: ";
    QTest::newRow("count too big") << QStringList{"t=5", "0 0", "1 1"} << "t"
                                   << "Строка 1: ";
    QTest::newRow("row past count") << QStringList{"t=2", "0 0", "1 1", "2 2"} << "t"
                                    << "Строка 4: ";
    QTest::newRow("duplicate name") << QStringList{"t=2", "0 0", "1 1", "T=2", "0 0", "1 1"} << "t"
                                    << "Строка 4: ";
    QTest::newRow("point in number") << QStringList{"t=2", "0 0", "1.5 2"} << "t"
                                     << "Строка 3: ";
    QTest::newRow("letter after") << QStringList{"t=2", "0 0", "15 2%"} << "t"
                                  << "Строка 3: ";
    QTest::newRow("semicolon fine") << QStringList{"t=2", "0;0", "15\t2;"} << "t" << QString();
    QTest::newRow("carriage returns left")
        << QStringList{"t=2\r", "0 0\r", "15 2\r"} << "t" << QString();
    QTest::newRow("level falls") << QStringList{"t=3", "0 0", "20 1", "10 2"} << "t"
                                 << "Строка 4: ";
    QTest::newRow("level repeats") << QStringList{"t=2", "10 0", "10 1"} << "t"
                                   << "Строка 3: ";
    QTest::newRow("level above 50000") << QStringList{"t=2", "0 0", "50001 1"} << "t"
                                       << "Строка 3: ";
    QTest::newRow("negative level") << QStringList{"t=2", "-1 0", "5 1"} << "t"
                                    << "Строка 2: ";
    QTest::newRow("volume falls") << QStringList{"t=2", "0 5", "10 4"} << "t"
                                  << "Строка 3: ";
    QTest::newRow("volume flat") << QStringList{"t=2", "0 5", "10 5"} << "t" << QString();
    QTest::newRow("volume above 100") << QStringList{"t=2", "0 0", "10 100,01"} << "t"
                                      << "Строка 3: ";
    QTest::newRow("unreadable row") << QStringList{"t=2", "0 0", "x"} << "t"
                                    << "Строка 3: ";
    QTest::newRow("third number") << QStringList{"t=2", "0 0", "1000 50 60"} << "t"
                                  << "Строка 3: лишнее число «60»";
    QTest::newRow("third number after ;") << QStringList{"t=2", "0;0;7", "1000 50"} << "t"
                                          << "Строка 2: лишнее число «7»";
    QTest::newRow("no table chosen")
        << QStringList{"t=2", "0 0", "1 1"} << QString() << "Таблица не выбрана";
}

void TTaraTest::unfitForGauge() {
    QFETCH(QStringList, lines);
    QFETCH(QString, name);
    QFETCH(QString, start);
    const QString message = TareUnfitForGauge(lines, name);
    if (start.isEmpty())
        QVERIFY2(message.isEmpty(), qPrintable(message));
    else
        QVERIFY2(message.startsWith(start), qPrintable(message));
}

QTEST_GUILESS_MAIN(TTaraTest)
#include "tst_tara.moc"
