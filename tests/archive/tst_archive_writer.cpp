// The archive writer thread: order of posting, rows readable once written, a full queue while
// the disk stalls, the bounded stop, the day change, the journal mode and failed text lines.

#include "archive/uArchiveWriter.h"
#include "archive/uBDE.h"
#include "devicelink/Ulmar.h"
#include "devicelink/uLog.h"
#include "devicelink/uParamStr.h"
#include "tests/support/ArchiveFiles.h"
#include "tests/support/TestDirs.h"
#include <QSqlQuery>
#include <QTest>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

constexpr double Second = 1.0 / 86400;
constexpr int Patience = 60000; // bounds every wait; only a hang comes near it

// A disk that stalls: the writer's hook blocks in Pass until Open.
class TStall {
public:
    void Pass() {
        std::unique_lock lock(Mutex_);
        ++Entered_;
        Cv_.notify_all();
        Cv_.wait(lock, [this] { return Open_; });
    }
    // Waits until the writer is held in Pass with its first item.
    void WaitHeld() {
        std::unique_lock lock(Mutex_);
        Cv_.wait(lock, [this] { return Entered_ > 0; });
    }
    void Open() {
        std::lock_guard lock(Mutex_);
        Open_ = true;
        Cv_.notify_all();
    }

private:
    std::mutex Mutex_;
    std::condition_variable Cv_;
    int Entered_ = 0;
    bool Open_ = false;
};

TArchiveBatch Reading(const QString& table, TDateTime stamp, double value, int decimals = 1) {
    return {TArchiveReading{table, stamp, value, decimals}};
}

std::vector<double> Values(const QString& dayDir, const QString& table) {
    std::vector<double> values;
    for (const TArchiveRow& row : QueryArchive(dayDir, ArchiveSelectStatement(table, 0, 0)))
        values.push_back(row.V);
    return values;
}

QStringList Lines(const QString& path) {
    QStringList lines = QString::fromUtf8(ReadBytes(path)).split("\r\n");
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestArchiveWriter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void orderAcrossRowsAndLines();
    void pollRowsReadableWhenIdle();
    void fullQueueDropsOldestWhileDiskStalls();
    void stopWritesWhatWaits();
    void stopIsBoundedWhileDiskStalls();
    void dayChangeClosesTables();
    void journalMode_data();
    void journalMode();
    void failedTextLineIsCounted();

private:
    std::unique_ptr<TTestDirs> Dirs;
    const TDateTime T0 = Stamp(2024, 3, 5, 10, 0, 0, 0);
    QString Day() const { return ArchiveDayDir(T0); }
};

void TestArchiveWriter::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestArchiveWriter::init() {
    Dirs = std::make_unique<TTestDirs>();
    SetArchiveRoot(QString());
}

void TestArchiveWriter::cleanup() {
    ArchiveTestSeams::SetNetworkShare(false);
    SetArchiveRoot(QString());
    Dirs.reset();
}

void TestArchiveWriter::orderAcrossRowsAndLines() {
    TArchiveWriter writer;
    // Lines posted for the twin file itself show where each reading's line went.
    const QString twin = JoinPath(Day(), "Lt.txt");
    for (int i = 1; i <= 3; ++i) {
        QVERIFY(writer.PostRows(Reading("Lt", T0 + i * Second, i)));
        QVERIFY(writer.PostLine(twin, QString("mark %1\r\n").arg(i).toUtf8()));
    }
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(Lines(twin),
             QStringList({"05.03.2024 10:00:01 1,0", "mark 1", "05.03.2024 10:00:02 2,0", "mark 2",
                          "05.03.2024 10:00:03 3,0", "mark 3"}));
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({1, 2, 3}));
    QCOMPARE(writer.DroppedRows() + writer.DroppedLines(), quint64(0));
    QCOMPARE(writer.FailedRows() + writer.FailedLines(), quint64(0));
}

void TestArchiveWriter::pollRowsReadableWhenIdle() {
    TArchiveWriter writer;
    TUlmar ulmar;
    const char* tables[] = {"Lt", "Hu", "Lc", "V"};
    const std::unique_ptr<TIODouble>* values[] = {&ulmar.Distance, &ulmar.Level, &ulmar.LevelFree,
                                                  &ulmar.Volume};
    for (int poll = 1; poll <= 5; ++poll) {
        for (int i = 0; i < 4; ++i)
            (*values[i])->SetValue(TVariant::FromDouble(poll * 10 + i + 0.125));
        const TArchiveBatch batch =
            CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead + 128, T0 + poll * Second);
        QCOMPARE(batch.size(), size_t(4));
        QVERIFY(writer.PostRows(batch));
        QVERIFY(writer.WaitIdle(Patience));
        for (int i = 0; i < 4; ++i) {
            const auto rows = QueryArchive(Day(), ArchiveSelectStatement(tables[i], 0, 0));
            QCOMPARE(rows.size(), size_t(poll));
            QCOMPARE(rows.back().V, poll * 10 + i + 0.125);
            QCOMPARE(rows.back().DT, T0 + poll * Second);
        }
    }
    // The volume's twin line has 2 decimals after command 6.
    QCOMPARE(Lines(JoinPath(Day(), "V.txt")).last(), QStringLiteral("05.03.2024 10:00:05 53,13"));
    QCOMPARE(Lines(JoinPath(Day(), "Lt.txt")).last(), QStringLiteral("05.03.2024 10:00:05 50,1"));
    QVERIFY(writer.PostRows(CaptureArchiveBatch(ulmar, 7, T0))); // echo: nothing to write
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(FilesUnder(Day()).filter(".txt").size(), 4);
}

void TestArchiveWriter::fullQueueDropsOldestWhileDiskStalls() {
    TStall stall;
    TArchiveWriter writer(4, [&stall] { stall.Pass(); });
    const QString log = JoinPath(Dirs->Work(), "rd240305.txt");
    writer.SetDropLogFile(log);
    QVERIFY(writer.PostLine(log, "line 1\r\n"));
    stall.WaitHeld();
    // Items 2 to 11 while the first one hangs: every post returns at once, the queue keeps the
    // newest four (8 to 11).
    for (int i = 2; i <= 11; ++i) {
        if (i % 2 == 0)
            QVERIFY(writer.PostRows(Reading("Lt", T0 + i * Second, i)));
        else
            QVERIFY(writer.PostLine(log, QString("line %1\r\n").arg(i).toUtf8()));
    }
    QCOMPARE(writer.DroppedRows(), quint64(3));  // 2, 4, 6
    QCOMPARE(writer.DroppedLines(), quint64(3)); // 3, 5, 7
    QVERIFY(!writer.WaitIdle(0));

    stall.Open();
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({8, 10}));
    const QStringList lines = Lines(log);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.mid(0, 3), QStringList({"line 1", "line 9", "line 11"}));
    QVERIFY2(lines[3].endsWith(
                 " Архив: очередь записи переполнена, пропущено записей: 3, строк журнала: 3"),
             qPrintable(lines[3]));
    QCOMPARE(writer.FailedRows() + writer.FailedLines(), quint64(0));
}

void TestArchiveWriter::stopWritesWhatWaits() {
    const QString log = JoinPath(Dirs->Work(), "rd.txt");
    {
        TArchiveWriter writer;
        for (int i = 1; i <= 200; ++i) {
            QVERIFY(writer.PostRows(Reading(i % 2 ? "Lt" : "Hu", T0 + i * Second, i)));
            QVERIFY(writer.PostLine(log, TLog::FormatLine(QString::number(i))));
        }
        QVERIFY(writer.Stop(Patience));
        QVERIFY(writer.Stop(0)); // once ended, stays ended
        QVERIFY(writer.WaitIdle(0));
        // After the stop nothing is taken, and what is refused is counted.
        QVERIFY(!writer.PostRows(Reading("Lt", T0, 0)));
        QVERIFY(!writer.PostLine(log, "late\r\n"));
        QCOMPARE(writer.DroppedRows(), quint64(1));
        QCOMPARE(writer.DroppedLines(), quint64(1));
    }
    QCOMPARE(Values(Day(), "Lt").size(), size_t(100));
    QCOMPARE(Values(Day(), "Hu").size(), size_t(100));
    QCOMPARE(Lines(log).size(), 200);
    QVERIFY(Lines(log).last().endsWith(" 200"));
    // Tables at rest: back to the rollback journal, no log files left.
    QCOMPARE(FilesUnder(Day()), QStringList({"Hu.db", "Hu.txt", "Lt.db", "Lt.txt"}));
    QCOMPARE(JournalVersion(JoinPath(Day(), "Lt.db")), 1);
}

void TestArchiveWriter::stopIsBoundedWhileDiskStalls() {
    TStall stall;
    TArchiveWriter writer(16, [&stall] { stall.Pass(); });
    for (int i = 1; i <= 4; ++i)
        QVERIFY(writer.PostRows(Reading("Lt", T0 + i * Second, i)));
    stall.WaitHeld();
    // The first reading hangs on the disk: Stop gives up on the three waiting ones.
    QVERIFY(!writer.Stop(1));
    stall.Open();
    QVERIFY(writer.Stop(Patience));
    QCOMPARE(writer.DroppedRows(), quint64(3));
    QVERIFY(!writer.WaitIdle(0));
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({1}));
}

void TestArchiveWriter::dayChangeClosesTables() {
    if (!ArchiveUsesWal(Dirs->Prog()))
        QSKIP("the temporary directory is on a network share: no log files to watch");
    const TDateTime evening = Stamp(2024, 3, 5, 23, 59, 59, 900);
    const TDateTime night = Stamp(2024, 3, 6, 0, 0, 0, 100);
    TArchiveWriter writer;
    QVERIFY(writer.PostRows({{"Lt", evening, 1.0, 1}, {"Hu", evening, 2.0, 1}}));
    QVERIFY(writer.WaitIdle(Patience));
    // Open tables keep their write-ahead log beside them.
    QVERIFY(FilesUnder(ArchiveDayDir(evening)).contains("Lt.db-wal"));
    QVERIFY(writer.PostRows(Reading("Lt", night, 3.0)));
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(FilesUnder(ArchiveDayDir(evening)),
             QStringList({"Hu.db", "Hu.txt", "Lt.db", "Lt.txt"}));
    QCOMPARE(JournalVersion(JoinPath(ArchiveDayDir(evening), "Lt.db")), 1);
    QCOMPARE(FilesUnder(ArchiveDayDir(night)),
             QStringList({"Lt.db", "Lt.db-shm", "Lt.db-wal", "Lt.txt"}));
    QVERIFY(writer.Stop(Patience));
    QCOMPARE(FilesUnder(ArchiveDayDir(night)), QStringList({"Lt.db", "Lt.txt"}));
    QCOMPARE(Values(ArchiveDayDir(evening), "Lt"), std::vector<double>({1}));
    QCOMPARE(Values(ArchiveDayDir(night), "Lt"), std::vector<double>({3}));
}

void TestArchiveWriter::journalMode_data() {
    QTest::addColumn<bool>("network");
    QTest::addColumn<bool>("leftInWal"); // the table exists, left in write-ahead mode
    QTest::addColumn<bool>("direct");    // written by AddArchiveRecord, not the writer thread
    for (const bool direct : {false, true}) {
        const QString by = direct ? ", direct" : "";
        QTest::newRow(qPrintable("local" + by)) << false << false << direct;
        QTest::newRow(qPrintable("local, left in WAL" + by)) << false << true << direct;
        QTest::newRow(qPrintable("network share" + by)) << true << false << direct;
        QTest::newRow(qPrintable("network share, left in WAL" + by)) << true << true << direct;
    }
}

void TestArchiveWriter::journalMode() {
    QFETCH(bool, network);
    QFETCH(bool, leftInWal);
    QFETCH(bool, direct);
    if (!network && !ArchiveUsesWal(Dirs->Prog()))
        QSKIP("the temporary directory is on a network share");
    // A day directory not made yet lies on its nearest existing parent's file system.
    QCOMPARE(ArchiveUsesWal(Day()), ArchiveUsesWal(Dirs->Prog()));
    ArchiveTestSeams::SetNetworkShare(network);
    QCOMPARE(ArchiveUsesWal(Day()), !network);
    const QString table = JoinPath(Day(), "Lt.db");
    if (leftInWal) {
        QVERIFY(QDir().mkpath(Day()));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "wal");
            db.setDatabaseName(table);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("CREATE TABLE Lt (V REAL, DT TEXT)"));
            QVERIFY(q.exec("INSERT INTO Lt (V, DT) VALUES (0, '2024-03-05 10:00:00.000')"));
            QVERIFY(q.exec("PRAGMA journal_mode=WAL"));
        }
        QSqlDatabase::removeDatabase("wal");
        QCOMPARE(JournalVersion(table), 2);
    }
    const size_t rows = leftInWal ? 2 : 1;
    if (direct) {
        // Write-ahead logging stays with the table on a local disk, between connections too.
        QVERIFY(AddArchiveRecord("Lt", T0 + Second, 1.0));
        QCOMPARE(JournalVersion(table), network ? 1 : 2);
        QCOMPARE(FilesUnder(Day()), QStringList({"Lt.db"}));
        QCOMPARE(Values(Day(), "Lt").size(), rows);
        return;
    }
    TArchiveWriter writer;
    QVERIFY(writer.PostRows(Reading("Lt", T0 + Second, 1.0)));
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(JournalVersion(table), network ? 1 : 2);
    QCOMPARE(QFile::exists(table + "-wal"), !network);
    QVERIFY(writer.Stop(Patience));
    // At rest the writer's tables keep the rollback journal: a reader needs no "-wal" or "-shm"
    // file for them, on read-only media neither.
    QCOMPARE(JournalVersion(table), 1);
    QCOMPARE(FilesUnder(Day()), QStringList({"Lt.db", "Lt.txt"}));
    QCOMPARE(Values(Day(), "Lt").size(), rows);
}

void TestArchiveWriter::failedTextLineIsCounted() {
    QVERIFY(QDir().mkpath(Day()));
    QVERIFY(QFile::link("/dev/full", JoinPath(Day(), "Lt.txt")));
    TArchiveWriter writer;
    QVERIFY(writer.PostRows({{"Lt", T0, 1.0, 1}, {"Hu", T0, 2.0, 1}}));
    QVERIFY(writer.PostLine(JoinPath(Day(), "Lt.txt"), "line\r\n"));
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(writer.FailedLines(), quint64(2));
    QCOMPARE(writer.FailedRows(), quint64(0));
    // The row of the same reading and the other table's line are written.
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({1}));
    QCOMPARE(Lines(JoinPath(Day(), "Hu.txt")), QStringList({"05.03.2024 10:00:00 2,0"}));
}

QTEST_GUILESS_MAIN(TestArchiveWriter)
#include "tst_archive_writer.moc"
