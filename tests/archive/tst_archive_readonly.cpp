// Queries never create or change a file: tables at rest, tables left in write-ahead mode, and
// an archive on read-only media (a read-only bind mount in a child process, where the user
// and mount namespaces allow it).

#include "tests/support/ArchiveFiles.h"
#include "tests/support/TestDirs.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include <QCoreApplication>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>
#include <cstdio>
#include <memory>

namespace {

// Set in the child process: the day directory to read.
const char* const ChildDirVariable = "ULMAR_ARCHIVE_READ_DIR";

std::vector<TArchiveRow> ReadAll(const QString& dayDir, const QString& table, bool* ok,
                                 const TArchiveMedia& media = {}) {
    return QueryArchive(dayDir, ArchiveSelectStatement(table, 0, 0), ok, media);
}

// Runs statements on the table file through a connection of its own, then closes it.
bool RunOn(const QString& file, const QStringList& statements) {
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "direct");
        db.setDatabaseName(file);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& statement : statements)
            ok = ok && q.exec(statement);
    }
    QSqlDatabase::removeDatabase("direct");
    return ok;
}

// A table with `rows` rows in the given journal mode ("WAL" or "DELETE"), no connection open.
bool MakeTable(const QString& dayDir, const QString& table, int rows, const QString& journal) {
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    for (int i = 0; i < rows; ++i)
        if (!AddArchiveRecord(table, t + i / 86400.0, i))
            return false;
    const QString file = JoinPath(dayDir, table + ".db");
    return RunOn(file, {"PRAGMA journal_mode=" + journal}) &&
           JournalVersion(file) == (journal == "WAL" ? 2 : 1);
}

// The files a crash leaves: the table with one row and a log holding two more, no "-shm".
bool MakeCrashImage(const QString& scratch, const QString& dayDir, const QString& table) {
    const QString source = JoinPath(scratch, table + ".db");
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "crash");
        db.setDatabaseName(source);
        ok = db.open();
        QSqlQuery q(db);
        for (const QString& statement :
             {QString("CREATE TABLE %1 (V REAL, DT TEXT)").arg(table),
              QString("INSERT INTO %1 (V, DT) VALUES (0, '2024-03-05 09:00:00.000')").arg(table),
              QString("PRAGMA journal_mode=WAL"), QString("PRAGMA wal_autocheckpoint=0"),
              QString("INSERT INTO %1 (V, DT) VALUES (1, '2024-03-05 09:00:01.000')").arg(table),
              QString("INSERT INTO %1 (V, DT) VALUES (2, '2024-03-05 09:00:02.000')").arg(table)})
            ok = ok && q.exec(statement);
        // Copied while the connection holds the log open, as a crash would leave them.
        ok = ok && QFile::copy(source, JoinPath(dayDir, table + ".db")) &&
             QFile::copy(source + "-wal", JoinPath(dayDir, table + ".db-wal"));
    }
    QSqlDatabase::removeDatabase("crash");
    return ok;
}

// The child: reports what QueryArchive reads from every table of the directory, and whether
// the directory really is read-only.
int ReadTablesInChild(const QString& dayDir) {
    QFile probe(JoinPath(dayDir, "probe"));
    std::printf("read-only %s\n", probe.open(QIODevice::WriteOnly) ? "no" : "yes");
    for (const char* table : {"Lt", "Hu", "Lc"}) {
        bool ok = false;
        const auto rows = ReadAll(dayDir, table, &ok);
        std::printf("%s %s %zu\n", table, ok ? "ok" : "failed", rows.size());
    }
    return 0;
}

} // namespace

class TestArchiveReadOnly : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tableAtRestIsReadWithoutNewFiles_data();
    void tableAtRestIsReadWithoutNewFiles();
    void fallsBackWhenReadOnlyOpenFails();
    void readOnlyMedia();

private:
    std::unique_ptr<TTestDirs> Dirs;
    QString Day() const { return ArchiveDayDir(Stamp(2024, 3, 5, 9, 0, 0, 0)); }
};

void TestArchiveReadOnly::init() {
    Dirs = std::make_unique<TTestDirs>();
    SetArchiveRoot(QString());
}

void TestArchiveReadOnly::cleanup() {
    SetArchiveRoot(QString());
    Dirs.reset();
}

void TestArchiveReadOnly::tableAtRestIsReadWithoutNewFiles_data() {
    QTest::addColumn<QString>("journal");
    QTest::newRow("write-ahead log") << "WAL";
    QTest::newRow("rollback journal") << "DELETE";
}

void TestArchiveReadOnly::tableAtRestIsReadWithoutNewFiles() {
    QFETCH(QString, journal);
    QVERIFY(MakeTable(Day(), "Hu", 2, journal));
    const QByteArray before = ReadBytes(JoinPath(Day(), "Hu.db"));
    bool ok = false;
    QCOMPARE(ReadAll(Day(), "Hu", &ok).size(), size_t(2));
    QVERIFY(ok);
    // A plain read-only open of a write-ahead table leaves "Hu.db-wal" and "Hu.db-shm" behind.
    QCOMPARE(FilesUnder(Day()), QStringList({"Hu.db"}));
    QCOMPARE(ReadBytes(JoinPath(Day(), "Hu.db")), before);
}

void TestArchiveReadOnly::fallsBackWhenReadOnlyOpenFails() {
    const TDateTime t = Stamp(2024, 3, 5, 9, 0, 0, 0);
    QVERIFY(AddArchiveRecord("Lt", t, 1.0));
    QVERIFY(AddArchiveRecord("Lt", t + 1 / 86400.0, 2.0));
    const QByteArray before = ReadBytes(JoinPath(Day(), "Lt.db"));
    TArchiveMedia readOnly;
    readOnly.ReadOnlyOpenFails = true;

    bool ok = false;
    const auto rows = ReadAll(Day(), "Lt", &ok, readOnly);
    QVERIFY(ok);
    QCOMPARE(rows.size(), size_t(2));
    QCOMPARE(rows[1].V, 2.0);
    // Still no table where there is none, and no statement that writes.
    QVERIFY(ReadAll(Day(), "Hu", &ok, readOnly).empty());
    QVERIFY(!ok);
    QVERIFY(QueryArchive(Day(), "DELETE FROM Lt", &ok, readOnly).empty());
    QVERIFY(!ok);
    QCOMPARE(FilesUnder(Day()), QStringList({"Lt.db"}));
    QCOMPARE(ReadBytes(JoinPath(Day(), "Lt.db")), before);
}

void TestArchiveReadOnly::readOnlyMedia() {
    if (QProcess::execute("unshare", {"-r", "-m", "true"}) != 0)
        QSKIP("no user and mount namespaces here (unshare -r -m fails)");
    QVERIFY(MakeTable(Day(), "Lt", 3, "DELETE"));
    QVERIFY(MakeTable(Day(), "Hu", 2, "WAL"));
    QVERIFY(MakeCrashImage(Dirs->Work(), Day(), "Lc"));
    const QStringList before = FilesUnder(Day());
    QCOMPARE(before, QStringList({"Hu.db", "Lc.db", "Lc.db-wal", "Lt.db"}));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(ChildDirVariable, Day());
    env.insert("ASAN_OPTIONS", "detect_leaks=0");
    child.setProcessEnvironment(env);
    child.start("unshare", {"-r", "-m", "sh", "-c",
                            "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" && "
                            "exec \"$2\"",
                            "sh", Day(), QCoreApplication::applicationFilePath()});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray errors = child.readAllStandardError();
    if (child.exitCode() != 0 && errors.contains("mount"))
        QSKIP(qPrintable("no read-only bind mount here: " + errors));
    QCOMPARE(child.exitCode(), 0);
    // The table under the rollback journal reads as usual, the one in write-ahead mode as
    // immutable; of the crash image only what reached the table file, since SQLite cannot build
    // the log's index there.
    QCOMPARE(child.readAllStandardOutput(),
             QByteArray("read-only yes\nLt ok 3\nHu ok 2\nLc ok 1\n"));
    QCOMPARE(FilesUnder(Day()), before);
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString childDir = qEnvironmentVariable(ChildDirVariable);
    if (!childDir.isEmpty())
        return ReadTablesInChild(childDir);
    TestArchiveReadOnly test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_archive_readonly.moc"
