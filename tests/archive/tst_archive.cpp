// Archive settings, the day tree, tables and text twins, poll answers and queries.

#include "Ulmar.h"
#include "tests/support/ArchiveFiles.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestDirs.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <cmath>
#include <limits>
#include <memory>

namespace {

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<missing>");
    return QString::fromUtf8(file.readAll());
}

std::vector<TArchiveRow> ReadAll(const QString& dayDir, const QString& table, bool* ok = nullptr) {
    return QueryArchive(dayDir, ArchiveSelectStatement(table, 0, 0), ok);
}

} // namespace

class TestArchive : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void settings_data();
    void settings();
    void settingsRoundTrip();

    void firstReadingCreatesDay();
    void readingsAroundMidnight();
    void rootWithOrWithoutSeparator();
    void tableNames_data();
    void tableNames();
    void createReplacesTable();
    void plantNumberKept();

    void pollAnswer_data();
    void pollAnswer();
    void failedRowKeepsTextLine_data();
    void failedRowKeepsTextLine();
    void twinLineWholeOrNotAtAll_data();
    void twinLineWholeOrNotAtAll();

    void queryRange();
    void queryReadsStoredRows();
    void queryFailsSoftly_data();
    void queryFailsSoftly();

    void formatValue_data();
    void formatValue();
    void textStamp_data();
    void textStamp();

private:
    std::unique_ptr<TTestDirs> Dirs;
    QString Root() const { return JoinPath(Dirs->Prog(), QStringLiteral("DATA")); }
};

void TestArchive::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestArchive::init() {
    Dirs = std::make_unique<TTestDirs>();
    SetArchiveAlias(QString());
    SetArchiveRoot(QString());
}

void TestArchive::cleanup() {
    SetArchiveRoot(QString());
    Dirs.reset();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestArchive::settings_data() {
    QTest::addColumn<QByteArray>("file"); // empty: no file
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("root"); // "<default>": the program's DATA directory

    QTest::newRow("no file") << QByteArray() << ""
                             << "<default>";
    QTest::newRow("empty dbPath") << QByteArray("[BDE]\r\ndbAlias=Arch\r\ndbPath=\r\n") << "Arch"
                                  << "<default>";
    QTest::newRow("no section") << QByteArray("[Other]\r\ndbPath=/x\r\n") << ""
                                << "<default>";
    QTest::newRow("set") << QByteArray("[bde]\r\nDBPATH=/srv/archive/\r\ndbAlias=A\r\n") << "A"
                         << "/srv/archive/";
}

void TestArchive::settings() {
    QFETCH(QByteArray, file);
    QFETCH(QString, alias);
    QFETCH(QString, root);
    if (!file.isEmpty()) {
        QFile f(ArchiveSettingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    SetArchiveRoot(QStringLiteral("/previous"));
    LoadArchiveSettings();
    QCOMPARE(ArchiveAlias(), alias);
    QCOMPARE(ArchiveRoot(), root == QLatin1String("<default>") ? Root() : root);
}

void TestArchive::settingsRoundTrip() {
    QCOMPARE(ArchiveSettingsFile(), JoinPath(JoinPath(Dirs->Prog(), "INI"), "bde.ini"));
    {
        QFile f(ArchiveSettingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("; kept\r\n[BDE]\r\ndbAlias=Alias1\r\n");
    }
    LoadArchiveSettings();
    QVERIFY(SaveArchiveSettings());
    const TIniFile ini(ArchiveSettingsFile());
    QCOMPARE(ini.ReadString("BDE", "dbAlias", "?"), QStringLiteral("Alias1"));
    QCOMPARE(ini.ReadString("BDE", "dbPath", "?"), Root());
    QVERIFY(ReadText(ArchiveSettingsFile()).startsWith("; kept"));

    // A missing INI directory loses the settings without a failure reaching the caller.
    QVERIFY(QDir(JoinPath(Dirs->Prog(), "INI")).removeRecursively());
    QVERIFY(!SaveArchiveSettings());
}

void TestArchive::firstReadingCreatesDay() {
    const TDateTime t1 = Stamp(2024, 3, 5, 14, 3, 7, 45);
    const TDateTime t2 = Stamp(2024, 3, 5, 14, 3, 7, 245);
    const QString day = JoinPath(Root(), JoinPath("2024", JoinPath("03", "05")));
    QVERIFY(!QDir(Root()).exists());

    QVERIFY(AddArchiveRecord("Lt", t1, 1234.56));
    AddArchiveText("Lt", t1, 1234.56, 9, 1);
    QCOMPARE(ArchiveDayDir(t1), day);
    QCOMPARE(FilesUnder(Root()), QStringList({"2024/03/05/Lt.db", "2024/03/05/Lt.txt"}));

    QVERIFY(AddArchiveRecord("Lt", t2, -7.25));
    AddArchiveText("Lt", t2, -7.25, 9, 1);
    bool ok = false;
    const auto rows = ReadAll(day, "Lt", &ok);
    QVERIFY(ok);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(ArchiveDTText(rows[0].DT), QStringLiteral("2024-03-05 14:03:07.045"));
    QCOMPARE(rows[0].V, 1234.56);
    QCOMPARE(ArchiveDTText(rows[1].DT), QStringLiteral("2024-03-05 14:03:07.245"));
    QCOMPARE(rows[1].V, -7.25);
    QCOMPARE(ReadText(JoinPath(day, "Lt.txt")),
             QStringLiteral("05.03.2024 14:03:07 1234,6\r\n05.03.2024 14:03:07 -7,3\r\n"));
    // The write-ahead log goes with the last connection.
    QCOMPARE(FilesUnder(Root()), QStringList({"2024/03/05/Lt.db", "2024/03/05/Lt.txt"}));
}

// The PN column of a day's table: 0 - the plant number given, NULL - not known. One query
// connection per call, closed before the next write.
QList<QVariant> PlantNumbers(const QString& file, const QString& table) {
    QList<QVariant> out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "pn");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec("SELECT PN FROM " + table + " ORDER BY rowid"))
                while (query.next())
                    out << query.value(0);
        }
    }
    QSqlDatabase::removeDatabase("pn");
    return out;
}

// A reading carries its gauge's plant number into new tables; a table made before the plant
// number was kept (V and DT only) still takes the reading, without it.
void TestArchive::plantNumberKept() {
    const TDateTime t = Stamp(2024, 3, 5, 10, 0, 0, 0);
    const QString day = ArchiveDayDir(t);
    QVERIFY(AddArchiveRecord("Lt", t, 1.5, {}, 1001));
    QVERIFY(AddArchiveRecord("Lt", t + 1e-6, 2.5)); // not known
    TUlmar ulmar;
    ulmar.PlantNumber = 65535;
    ulmar.Distance->SetValue(TVariant::FromDouble(3.5));
    WriteArchiveBatch(CaptureArchiveBatch(ulmar, 1, t + 2e-6)); // the distance read: "Lt"
    const QList<QVariant> numbers = PlantNumbers(JoinPath(day, "Lt.db"), "Lt");
    QCOMPARE(numbers.size(), 3);
    QCOMPARE(numbers[0].toInt(), 1001);
    QVERIFY(numbers[1].isNull());
    QCOMPARE(numbers[2].toInt(), 65535);
    QCOMPARE(ReadAll(day, "Lt").size(), size_t(3));

    // An older table without the column.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "old");
        db.setDatabaseName(JoinPath(day, "Hu.db"));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("CREATE TABLE Hu (V REAL, DT TEXT)"));
    }
    QSqlDatabase::removeDatabase("old");
    QVERIFY(AddArchiveRecord("Hu", t, 7.25, {}, 1001));
    const auto rows = ReadAll(day, "Hu");
    QCOMPARE(rows.size(), size_t(1));
    QCOMPARE(rows[0].V, 7.25);
    QVERIFY(PlantNumbers(JoinPath(day, "Hu.db"), "Hu").isEmpty()); // no such column
}

void TestArchive::readingsAroundMidnight() {
    const TDateTime before = Stamp(2024, 2, 29, 23, 59, 59, 999);
    const TDateTime midnight = Stamp(2024, 3, 1, 0, 0, 0, 0);
    const TDateTime after = Stamp(2024, 3, 1, 0, 0, 0, 200);
    for (TDateTime t : {before, midnight, after}) {
        QVERIFY(AddArchiveRecord("Hu", t, 10.0));
        AddArchiveText("Hu", t, 10.0, 9, 1);
    }
    const QString day1 = JoinPath(Root(), "2024/02/29");
    const QString day2 = JoinPath(Root(), "2024/03/01");
    const auto rows1 = ReadAll(day1, "Hu");
    const auto rows2 = ReadAll(day2, "Hu");
    QCOMPARE(rows1.size(), size_t(1));
    QCOMPARE(rows2.size(), size_t(2));
    QCOMPARE(ArchiveDTText(rows1[0].DT), QStringLiteral("2024-02-29 23:59:59.999"));
    QCOMPARE(ArchiveDTText(rows2[0].DT), QStringLiteral("2024-03-01 00:00:00.000"));
    QCOMPARE(ArchiveDTText(rows2[1].DT), QStringLiteral("2024-03-01 00:00:00.200"));
    QCOMPARE(ReadText(JoinPath(day1, "Hu.txt")), QStringLiteral("29.02.2024 23:59:59 10,0\r\n"));
    // Every line has the time, the one stamped at exactly midnight too.
    QCOMPARE(ReadText(JoinPath(day2, "Hu.txt")),
             QStringLiteral("01.03.2024 00:00:00 10,0\r\n01.03.2024 00:00:00 10,0\r\n"));
}

void TestArchive::rootWithOrWithoutSeparator() {
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    SetArchiveRoot(Dirs->Work());
    QVERIFY(AddArchiveRecord("Lc", t, 1.0));
    SetArchiveRoot(Dirs->Work() + QDir::separator());
    QVERIFY(AddArchiveRecord("Lc", t + 1.0 / 86400, 2.0));
    AddArchiveText("Lc", t, 2.0, 9, 1);
    QCOMPARE(ArchiveDayDir(t), JoinPath(Dirs->Work(), "2024/03/05"));
    QCOMPARE(FilesUnder(Dirs->Work()), QStringList({"2024/03/05/Lc.db", "2024/03/05/Lc.txt"}));
    QCOMPARE(ReadAll(ArchiveDayDir(t), "Lc").size(), size_t(2));
}

void TestArchive::tableNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file"); // empty: nothing may be written
    QTest::newRow("plain") << "CurrentOutput"
                           << "CurrentOutput";
    QTest::newRow("trimmed") << "  Lt "
                             << "Lt";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blank") << "   "
                           << "";
    QTest::newRow("path") << "../Lt"
                          << "";
    QTest::newRow("statement") << "Lt (V) VALUES (1); DROP TABLE Lt; --"
                               << "";
}

void TestArchive::tableNames() {
    QFETCH(QString, name);
    QFETCH(QString, file);
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    QCOMPARE(AddArchiveRecord(name, t, 1.0), !file.isEmpty());
    AddArchiveText(name, t, 1.0, 9, 1);
    QStringList expected;
    if (!file.isEmpty())
        expected << "prog/DATA/2024/03/05/" + file + ".db"
                 << "prog/DATA/2024/03/05/" + file + ".txt";
    QCOMPARE(FilesUnder(Dirs->Root.path()), expected);
}

void TestArchive::createReplacesTable() {
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    QVERIFY(AddArchiveRecord("V", t, 1.0));
    QVERIFY(AddArchiveRecord("V", t, 2.0));
    const QString day = ArchiveDayDir(t);
    QCOMPARE(ReadAll(day, "V").size(), size_t(2));

    QVERIFY(CreateArchiveTable(" " + JoinPath(day, "V.db") + " "));
    bool ok = false;
    QVERIFY(ReadAll(day, "V", &ok).empty());
    QVERIFY(ok);
    QVERIFY(AddArchiveRecord("V", t, 3.0));
    QCOMPARE(ReadAll(day, "V").size(), size_t(1));
    QCOMPARE(FilesUnder(day), QStringList({"V.db"}));

    QVERIFY(!CreateArchiveTable(JoinPath(JoinPath(day, "missing"), "V.db")));
    QVERIFY(!CreateArchiveTable(JoinPath(day, "a b.db")));
    QCOMPARE(FilesUnder(day), QStringList({"V.db"}));
}

void TestArchive::pollAnswer_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines"); // "<table> <value text>" per table, in any order

    QTest::newRow("0 freq") << 0 << QStringList{"Freq 4321,99"};
    QTest::newRow("1 distance") << 1 << QStringList{"Lt 1500,3"};
    QTest::newRow("2 level") << 2 << QStringList{"Hu 8499,7"};
    QTest::newRow("3 free space") << 3 << QStringList{"Lc 1234,6"};
    QTest::newRow("4 volume") << 4 << QStringList{"V 12,3"};
    QTest::newRow("5 reference") << 5 << QStringList{"FreqOpCh 100,13"};
    QTest::newRow("6 all") << 6 << QStringList{"Lt 1500,3", "Hu 8499,7", "Lc 1234,6", "V 12,35"};
    QTest::newRow("6 high bit") << 6 + 128
                                << QStringList{"Lt 1500,3", "Hu 8499,7", "Lc 1234,6", "V 12,35"};
    QTest::newRow("7 echo") << 7 << QStringList{};
    QTest::newRow("55 temperature") << 55 << QStringList{"TempSVCH 37"};
    QTest::newRow("56 thermostat") << 56 << QStringList{};
    QTest::newRow("80 current") << 80 << QStringList{"CurrentOutput 12,1"};
    QTest::newRow("127") << 127 << QStringList{};
}

void TestArchive::pollAnswer() {
    QFETCH(int, code);
    QFETCH(QStringList, lines);
    TUlmar ulmar;
    const std::pair<TIODouble*, double> values[] = {
        {ulmar.Freq.get(), 4321.987},  {ulmar.Distance.get(), 1500.26},
        {ulmar.Level.get(), 8499.74},  {ulmar.LevelFree.get(), 1234.56},
        {ulmar.Volume.get(), 12.3456}, {ulmar.FreqOpCh.get(), 100.125},
        {ulmar.TempSVCH.get(), 36.8},  {ulmar.CurrentOutput.get(), 12.06},
    };
    for (const auto& [value, number] : values)
        value->SetValue(TVariant::FromDouble(number));

    ArchivePollAnswer(ulmar, code);

    QStringList expectedFiles;
    for (const QString& line : lines) {
        const QString table = line.section(' ', 0, 0);
        expectedFiles << table + ".db" << table + ".txt";
    }
    expectedFiles.sort();
    QStringList files;
    for (const QString& f : FilesUnder(Root()))
        files << QFileInfo(f).fileName();
    QCOMPARE(files, expectedFiles);

    for (const QString& line : lines) {
        const QString table = line.section(' ', 0, 0);
        const QStringList found =
            FilesUnder(Root()).filter(QRegularExpression("/" + table + "\\.db$"));
        QCOMPARE(found.size(), 1);
        const QString day = QFileInfo(JoinPath(Root(), found[0])).path();
        const auto rows = ReadAll(day, table);
        QCOMPARE(rows.size(), size_t(1));
        const QString text = ReadText(JoinPath(day, table + ".txt"));
        QVERIFY2(text.endsWith(" " + line.section(' ', 1) + "\r\n"), qPrintable(text));
        QCOMPARE(text.count("\r\n"), 1);
        QVERIFY(std::fabs(NowDateTime() - rows[0].DT) < 60.0 / 86400);
    }
}

void TestArchive::failedRowKeepsTextLine_data() {
    QTest::addColumn<bool>("locked"); // true: another connection holds the table; false: garbage
    QTest::newRow("locked table") << true;
    QTest::newRow("not a database") << false;
}

void TestArchive::failedRowKeepsTextLine() {
    QFETCH(bool, locked);
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    const QString day = ArchiveDayDir(t);
    const QString table = JoinPath(day, "Lt.db");
    const QByteArray garbage("this is not an archive table\n");
    QSqlDatabase holder;
    if (locked) {
        QVERIFY(AddArchiveRecord("Lt", t, 1.0));
        holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
        holder.setDatabaseName(table);
        QVERIFY(holder.open());
        QSqlQuery q(holder);
        QVERIFY(q.exec("BEGIN EXCLUSIVE"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (5, '2024-03-05 09:00:00.500')"));
    } else {
        QVERIFY(QDir().mkpath(day));
        QFile f(table);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(garbage);
    }

    QVERIFY(!AddArchiveRecord("Lt", t + 1.0 / 86400, 2.0));
    AddArchiveText("Lt", t + 1.0 / 86400, 2.0, 9, 1);
    QCOMPARE(ReadText(JoinPath(day, "Lt.txt")), QStringLiteral("05.03.2024 09:00:01 2,0\r\n"));

    if (locked) {
        {
            QSqlQuery q(holder);
            QVERIFY(q.exec("ROLLBACK"));
        }
        holder.close();
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase("holder");
        // The next reading is stored normally; only the one that met the lock is lost.
        QVERIFY(AddArchiveRecord("Lt", t + 2.0 / 86400, 3.0));
        const auto rows = ReadAll(day, "Lt");
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(rows[0].V, 1.0);
        QCOMPARE(rows[1].V, 3.0);
    } else {
        // A file that is not a table is never rewritten.
        QCOMPARE(ReadText(table).toUtf8(), garbage);
        bool ok = true;
        QVERIFY(ReadAll(day, "Lt", &ok).empty());
        QVERIFY(!ok);
    }
}

void TestArchive::twinLineWholeOrNotAtAll_data() {
    QTest::addColumn<bool>("diskFull"); // true: every write fails; false: the write is cut short
    QTest::newRow("disk full") << true;
    QTest::newRow("cut short") << false;
}

void TestArchive::twinLineWholeOrNotAtAll() {
    QFETCH(bool, diskFull);
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    const double second = 1.0 / 86400;
    const QString twin = JoinPath(ArchiveDayDir(t), "Lt.txt");
    QVERIFY(AddArchiveText("Lt", t, 1.0, 9, 1));
    const QString first = QStringLiteral("05.03.2024 09:00:00 1,0\r\n");
    QCOMPARE(ReadText(twin), first);
    if (diskFull) {
        QVERIFY(QFile::remove(twin));
        QVERIFY(QFile::link("/dev/full", twin));
        QVERIFY(!AddArchiveText("Lt", t + second, 2.0, 9, 1));
        // The failure stays with the text line: the row of the same reading is stored.
        QVERIFY(AddArchiveRecord("Lt", t + second, 2.0));
        QCOMPARE(ReadAll(ArchiveDayDir(t), "Lt").size(), size_t(1));
        QVERIFY(QFileInfo(twin).isSymLink());
        return;
    }
    {
        TFileSizeLimit limit(first.size() + 5);
        QVERIFY(limit.Active());
        QVERIFY(!AddArchiveText("Lt", t + second, 2.0, 9, 1));
    }
    QCOMPARE(ReadText(twin), first);
    QVERIFY(AddArchiveText("Lt", t + 2 * second, 3.0, 9, 1));
    QCOMPARE(ReadText(twin), first + QStringLiteral("05.03.2024 09:00:02 3,0\r\n"));
}

void TestArchive::queryRange() {
    const TDateTime base = Stamp(2024, 3, 5, 0, 0, 0, 0);
    for (int h : {12, 10, 11}) // written out of order: the query orders by DT
        QVERIFY(AddArchiveRecord("Lt", base + h / 24.0, h));
    const QString statement = ArchiveSelectStatement("Lt", base + 10.5 / 24, base + 12 / 24.0);
    QCOMPARE(statement, QStringLiteral("SELECT DT, V\nFROM Lt\nWHERE\n"
                                       "(DT>='2024-03-05 10:30:00.000')\nAND\n"
                                       "(DT<='2024-03-05 12:00:00.000')\nORDER BY DT"));
    bool ok = false;
    const auto rows = QueryArchive(ArchiveDayDir(base), statement, &ok);
    QVERIFY(ok);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows[0].V, 11.0);
    QCOMPARE(rows[1].V, 12.0);
    QCOMPARE(rows[1].DT, base + 0.5);

    QCOMPARE(QueryArchive(ArchiveDayDir(base), ArchiveSelectStatement("Lt", 0, base + 0.45)).size(),
             size_t(1));
    QCOMPARE(QueryArchive(ArchiveDayDir(base), ArchiveSelectStatement("Lt", base + 0.45, 0)).size(),
             size_t(2));
}

void TestArchive::queryReadsStoredRows() {
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    QVERIFY(AddArchiveRecord("Lt", t, 1.0));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "edit");
        db.setDatabaseName(JoinPath(ArchiveDayDir(t), "Lt.db"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (2, '2024-03-05 09:00:01')"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (3, '2024-03-05 09:00:02.5')"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (4, '2024-02-30 09:00:03.000')"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (5, '2024-03-05 24:00:00.000')"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (NULL, '2024-03-05 09:00:04.000')"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (6, NULL)"));
        QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (7, '2024-03-05 09:00:05.250')"));
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase("edit");
    bool ok = false;
    const auto rows = QueryArchive(ArchiveDayDir(t), "SELECT DT, V FROM Lt", &ok);
    QVERIFY(ok);
    QCOMPARE(rows.size(), size_t(3));
    QCOMPARE(rows[0].V, 1.0);
    QCOMPARE(ArchiveDTText(rows[1].DT), QStringLiteral("2024-03-05 09:00:01.000"));
    QCOMPARE(rows[1].V, 2.0);
    QCOMPARE(ArchiveDTText(rows[2].DT), QStringLiteral("2024-03-05 09:00:05.250"));
    QCOMPARE(rows[2].V, 7.0);
}

void TestArchive::queryFailsSoftly_data() {
    QTest::addColumn<QString>("day");
    QTest::addColumn<QString>("statement");
    QTest::newRow("missing day") << "2024/03/06" << ArchiveSelectStatement("Lt", 0, 0);
    QTest::newRow("missing table") << "2024/03/05" << ArchiveSelectStatement("Hu", 0, 0);
    QTest::newRow("no table named") << "2024/03/05"
                                    << "SELECT 1";
    QTest::newRow("bad name") << "2024/03/05"
                              << "SELECT DT, V FROM ../Lt";
    QTest::newRow("bad statement") << "2024/03/05"
                                   << "SELECT DT, V FROM Lt WHERE ((";
    QTest::newRow("no V column") << "2024/03/05"
                                 << "SELECT DT FROM Lt";
    QTest::newRow("writing") << "2024/03/05"
                             << "DELETE FROM Lt";
}

void TestArchive::queryFailsSoftly() {
    QFETCH(QString, day);
    QFETCH(QString, statement);
    QVERIFY(AddArchiveRecord("Lt", Stamp(2024, 3, 5, 9, 0, 0, 0), 1.0));
    bool ok = true;
    QVERIFY(QueryArchive(JoinPath(Root(), day), statement, &ok).empty());
    QVERIFY(!ok);
    // A query creates nothing and changes nothing.
    QCOMPARE(FilesUnder(Root()), QStringList({"2024/03/05/Lt.db"}));
    QCOMPARE(ReadAll(JoinPath(Root(), "2024/03/05"), "Lt").size(), size_t(1));
}

void TestArchive::formatValue_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("text");
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("no grouping") << ru << 1234567.891 << 2 << "1234567,89";
    QTest::newRow("point") << us << 1234567.891 << 2 << "1234567.89";
    QTest::newRow("pads decimals") << ru << 25.0 << 2 << "25,00";
    QTest::newRow("no decimals") << ru << 36.8 << 0 << "37";
    QTest::newRow("9 significant") << ru << 1234567.8912 << 4 << "1234567,8900";
    QTest::newRow("small") << ru << 0.0123456789123 << 12 << "0,012345678900";
    QTest::newRow("nine digits") << ru << 123456789.4 << 1 << "123456789,0";
    QTest::newRow("negative") << ru << -12.34 << 1 << "-12,3";
    QTest::newRow("negative zero") << ru << -0.04 << 1 << "0,0";
    QTest::newRow("rounded once at the decimals") << ru << 0.124999999996 << 2 << "0,12";
    QTest::newRow("rounded once, one decimal") << ru << 1.04999999999 << 1 << "1,0";
    QTest::newRow("half rounds up") << ru << 0.125 << 2 << "0,13";
    QTest::newRow("rounds to zero") << ru << 0.0049999999999 << 2 << "0,00";
    QTest::newRow("too long") << us << 12345678901.0 << 2 << "1.23456789E+10";
}

void TestArchive::formatValue() {
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(int, decimals);
    QFETCH(QString, text);
    QLocale::setDefault(locale);
    QCOMPARE(FormatArchiveValue(value, 9, decimals), text);
    // Values that are not numbers read as everywhere else in the system.
    QCOMPARE(FormatArchiveValue(std::numeric_limits<double>::quiet_NaN(), 9, decimals),
             QStringLiteral("NAN"));
    QCOMPARE(FormatArchiveValue(-std::numeric_limits<double>::infinity(), 9, decimals),
             QStringLiteral("-INF"));
}

void TestArchive::textStamp_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("stamp");
    QTest::addColumn<QString>("text");
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("ru") << ru << Stamp(2024, 3, 5, 14, 3, 7, 45) << "05.03.2024 14:03:07";
    QTest::newRow("ru midnight") << ru << Stamp(2024, 3, 5, 0, 0, 0, 0) << "05.03.2024 00:00:00";
    QTest::newRow("us") << us << Stamp(2024, 3, 5, 14, 3, 7, 999) << "3/5/24 2:03:07 PM";
    QTest::newRow("us midnight") << us << Stamp(2024, 3, 5, 0, 0, 0, 0) << "3/5/24 12:00:00 AM";
}

void TestArchive::textStamp() {
    QFETCH(QLocale, locale);
    QFETCH(double, stamp);
    QFETCH(QString, text);
    QLocale::setDefault(locale);
    QCOMPARE(ArchiveTextStamp(stamp), text);
}

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
