// The archive writer thread: order of posting, rows readable once written, a full queue while
// the disk stalls, the bounded stop, the day change, the journal mode and failed text lines;
// then the failures that must neither stall the writer nor pass unseen: a damaged table, a
// table held by another connection, a full disk, and the size of the write-ahead log.

#include "Ulmar.h"
#include "tests/support/ArchiveFiles.h"
#include "tests/support/DayFiles.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestDirs.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uLog.h"
#include "uParamStr.h"
#include <QRegularExpression>
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

// One poll of command 6: a row in each of the four tables.
TArchiveBatch Poll(TDateTime stamp, double value) {
    return {{"Lt", stamp, value, 1},
            {"Hu", stamp, value, 1},
            {"Lc", stamp, value, 1},
            {"V", stamp, value, 2}};
}

// A copy tool puts noise in place of a table: a new file under the old name, as long as the old
// one. The noise, to find the file again.
QByteArray ReplaceByNoise(const QString& table) {
    const QString noise = table + ".noise";
    QFile::remove(noise);
    if (!QFile::copy(table, noise) || !NoiseFile(noise))
        return {};
    const QByteArray bytes = ReadBytes(noise);
    return QFile::remove(table) && QFile::rename(noise, table) ? bytes : QByteArray();
}

// The files of the day directory whose name begins so.
QStringList FilesStarting(const QString& dir, const QString& start) {
    return FilesUnder(dir).filter(QRegularExpression("^" + QRegularExpression::escape(start)));
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

    // Failures.
    void damagedTableIsMovedAside();
    void busyTableCostsOneQuickAttempt();
    void fullDiskIsOneEpisode();
    void writeAheadLogStaysSmall();

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
    ulmar.PlantNumber = 4321; // goes with every row
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
            const QString numbers = QStringLiteral("SELECT DT, PN AS V FROM ") + tables[i];
            QCOMPARE(QueryArchive(Day(), numbers).back().V, 4321.0);
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
    writer.SetLogFile(log);
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
    // The drops are a failure to store, shown while the writer has not caught up.
    const TArchiveHealth dropping = writer.Health();
    QVERIFY(dropping.Failing);
    QCOMPARE(dropping.LostRows, quint64(3));
    QCOMPARE(dropping.LostLines, quint64(3));
    QCOMPARE(ArchiveHealthText(dropping),
             QStringLiteral("Архив не записывается: очередь записи переполнена"));

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
    // Reported and caught up: the episode is over, its one line is the drop line.
    QVERIFY(!writer.Health().Failing);
    QCOMPARE(writer.Health().Episodes, quint64(1));
    QCOMPARE(ArchiveHealthText(writer.Health()), QString());
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
    TArchiveMedia media;
    media.NetworkShare = network;
    QCOMPARE(ArchiveUsesWal(Day(), media), !network);
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
        QVERIFY(AddArchiveRecord("Lt", T0 + Second, 1.0, media));
        QCOMPARE(JournalVersion(table), network ? 1 : 2);
        QCOMPARE(FilesUnder(Day()), QStringList({"Lt.db"}));
        QCOMPARE(Values(Day(), "Lt").size(), rows);
        return;
    }
    TArchiveWriter writer(TArchiveWriter::DefaultCapacity, {}, media);
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
    // Said in words, with the file that fails.
    QCOMPARE(ArchiveHealthText(writer.Health()),
             QStringLiteral("Архив не записывается: Lt.txt: нет места на диске"));
    // The row of the same reading and the other table's line are written.
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({1}));
    QCOMPARE(Lines(JoinPath(Day(), "Hu.txt")), QStringList({"05.03.2024 10:00:00 2,0"}));
}

// Today's Hu.db turns to noise while polling: the other tables, the twins and the log keep every
// poll, the damaged file is kept beside the tables under a name no reader takes for a table,
// and the new Hu.db gets the rows from the first poll after the damage on. A second damage
// keeps the first file aside.
void TestArchiveWriter::damagedTableIsMovedAside() {
    constexpr int Polls = 20;
    const QString log = JoinPath(Dirs->Work(), "rd.txt");
    const QString hu = JoinPath(Day(), "Hu.db");
    TArchiveWriter writer;
    writer.SetLogFile(log);
    QVERIFY(writer.PostRows(Poll(T0, 0)));
    QVERIFY(writer.WaitIdle(Patience));
    const QByteArray noise = ReplaceByNoise(hu);
    QVERIFY(!noise.isEmpty());
    for (int i = 1; i <= Polls; ++i) {
        QVERIFY(writer.PostRows(Poll(T0 + i * Second, i)));
        QVERIFY(writer.PostLine(log, TLog::FormatLine(QString("poll %1").arg(i))));
    }
    QVERIFY(writer.WaitIdle(Patience));
    for (const char* table : {"Lt", "Lc", "V"})
        QCOMPARE(Values(Day(), table).size(), size_t(Polls + 1));
    std::vector<double> after;
    for (int i = 1; i <= Polls; ++i)
        after.push_back(i);
    QCOMPARE(Values(Day(), "Hu"), after);
    QCOMPARE(Lines(JoinPath(Day(), "Hu.txt")).size(), Polls + 1);
    QCOMPARE(writer.FailedRows() + writer.FailedLines() + writer.DroppedRows(), quint64(0));
    QVERIFY(!writer.Health().Failing);
    // Named after the poll that found the damage.
    const QStringList aside = FilesStarting(Day(), "Hu.db.damaged-");
    QCOMPARE(aside, QStringList({"Hu.db.damaged-20240305-100001"}));
    QCOMPARE(ReadBytes(JoinPath(Day(), aside[0])), noise);
    // The log says what became of the file; the polls' own lines are all there.
    const QStringList lines = Lines(log);
    QCOMPARE(lines.filter(" poll ").size(), Polls);
    const QStringList moved = lines.filter("Архив: таблица Hu");
    QCOMPARE(moved.size(), 1);
    QVERIFY2(moved[0].endsWith("Архив: таблица Hu: файл не является базой данных, файл "
                               "переименован в " +
                               aside[0] + ", начат новый файл"),
             qPrintable(moved[0]));

    // Found damaged again within the same second: the earlier file stays as it was.
    const QByteArray noise2 = ReplaceByNoise(hu);
    QVERIFY(!noise2.isEmpty());
    QVERIFY(writer.PostRows(Poll(T0 + 1.5 * Second, Polls + 1)));
    QVERIFY(writer.WaitIdle(Patience));
    const QStringList both = FilesStarting(Day(), "Hu.db.damaged-");
    QCOMPARE(both, QStringList({aside[0], aside[0] + "-2"}));
    QCOMPARE(ReadBytes(JoinPath(Day(), aside[0])), noise);
    QCOMPARE(ReadBytes(JoinPath(Day(), both[1])), noise2);
    QCOMPARE(Values(Day(), "Hu"), std::vector<double>({Polls + 1.0}));
    QVERIFY(writer.Stop(Patience));
    // At rest no log or journal of a moved file is left behind under the table's name.
    QCOMPARE(FilesStarting(Day(), "Hu.db"), QStringList({"Hu.db"}) + both);
}

// Another connection holds Hu for a long while (an exclusive lock): Hu waits the busy time-out
// once, then every poll costs it one brief attempt, so the other tables keep every poll; the
// sound file is never moved aside; the episode is said once when it begins and once when it
// ends. Without the brief attempts the polls would take minutes (bounded by Patience).
void TestArchiveWriter::busyTableCostsOneQuickAttempt() {
    if (!ArchiveUsesWal(Dirs->Prog()))
        QSKIP("the temporary directory is on a network share");
    constexpr int Polls = 40;
    const QString log = JoinPath(Dirs->Work(), "rd.txt");
    TArchiveWriter writer;
    writer.SetLogFile(log);
    QVERIFY(writer.PostRows(Poll(T0, 0)));
    QVERIFY(writer.WaitIdle(Patience));
    {
        QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
        holder.setDatabaseName(JoinPath(Day(), "Hu.db"));
        QVERIFY(holder.open());
        QSqlQuery lock(holder);
        QVERIFY(lock.exec("BEGIN EXCLUSIVE"));
        for (int i = 1; i <= Polls; ++i)
            QVERIFY(writer.PostRows(Poll(T0 + i * Second, i)));
        QVERIFY(writer.WaitIdle(Patience));
        const TArchiveHealth held = writer.Health();
        QVERIFY(held.Failing);
        QCOMPARE(ArchiveHealthText(held),
                 QStringLiteral("Архив не записывается: Hu: таблица занята"));
        QCOMPARE(held.LostRows, quint64(Polls));
        QVERIFY(lock.exec("ROLLBACK"));
    }
    QSqlDatabase::removeDatabase("holder");
    for (const char* table : {"Lt", "Lc", "V"})
        QCOMPARE(Values(Day(), table).size(), size_t(Polls + 1));
    QCOMPARE(Values(Day(), "Hu"), std::vector<double>({0}));
    QVERIFY(FilesStarting(Day(), "Hu.db.damaged").isEmpty());

    QVERIFY(writer.PostRows(Poll(T0 + (Polls + 1) * Second, Polls + 1)));
    QVERIFY(writer.WaitIdle(Patience));
    QCOMPARE(Values(Day(), "Hu"), std::vector<double>({0, Polls + 1.0}));
    QVERIFY(!writer.Health().Failing);
    QCOMPARE(writer.Health().Episodes, quint64(1));
    const QStringList lines = Lines(log);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].endsWith(" Архив не записывается: Hu: таблица занята"), qPrintable(lines[0]));
    QVERIFY2(lines[1].endsWith(
                 QString(" Архив снова записывается, потеряно записей: %1, строк: 0").arg(Polls)),
             qPrintable(lines[1]));
}

// The disk fills while polling (the files may not grow): the state names the table that failed
// first and why, and counts what is lost; the log gets the episode's first line once there is
// room again (stamped when it began) and one line at its end; every file works again after.
void TestArchiveWriter::fullDiskIsOneEpisode() {
    constexpr int Polls = 20;
    const QString log = JoinPath(Dirs->Work(), "rd.txt");
    TArchiveWriter writer;
    writer.SetLogFile(log);
    QVERIFY(writer.PostRows({{"Lt", T0, 0, 1}, {"Hu", T0, 0, 1}}));
    QVERIFY(writer.PostLine(log, TLog::FormatLine("before")));
    QVERIFY(writer.WaitIdle(Patience));
    QVERIFY(!writer.Health().Failing);
    TArchiveHealth full;
    {
        TFileSizeLimit limit(1);
        if (!limit.Active())
            QSKIP("the file size limit cannot be set");
        for (int i = 1; i <= Polls; ++i) {
            QVERIFY(writer.PostRows(
                {{"Lt", T0 + i * Second, 1.0 * i, 1}, {"Hu", T0 + i * Second, 1.0 * i, 1}}));
            QVERIFY(writer.PostLine(log, TLog::FormatLine(QString("poll %1").arg(i))));
        }
        QVERIFY(writer.WaitIdle(Patience));
        full = writer.Health();
    }
    QVERIFY(full.Failing);
    QCOMPARE(full.Table, QStringLiteral("Lt"));
    QVERIFY(!full.Reason.isEmpty());
    QCOMPARE(ArchiveHealthText(full), "Архив не записывается: Lt: " + full.Reason);
    QCOMPARE(full.LostRows, quint64(2 * Polls));
    QCOMPARE(full.LostLines, quint64(3 * Polls)); // two twins and the log line per poll
    QCOMPARE(writer.FailedRows(), quint64(2 * Polls));
    QCOMPARE(Lines(log).size(), 1); // nothing could be written meanwhile

    // Room again: the next poll and log line are written, and the episode ends.
    QVERIFY(writer.PostRows({{"Lt", T0 + 10 * Second, 10, 1}, {"Hu", T0 + 10 * Second, 10, 1}}));
    QVERIFY(writer.PostLine(log, TLog::FormatLine("after")));
    QVERIFY(writer.WaitIdle(Patience));
    QVERIFY(!writer.Health().Failing);
    QCOMPARE(writer.Health().Episodes, quint64(1));
    QCOMPARE(Values(Day(), "Lt"), std::vector<double>({0, 10}));
    QCOMPARE(Values(Day(), "Hu"), std::vector<double>({0, 10}));
    QCOMPARE(Lines(JoinPath(Day(), "Hu.txt")).size(), 2);
    const QStringList lines = Lines(log);
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].endsWith(" before"));
    QVERIFY2(lines[1].endsWith(" Архив не записывается: Lt: " + full.Reason), qPrintable(lines[1]));
    QVERIFY(lines[2].endsWith(" after"));
    QVERIFY2(lines[3].endsWith(QString(" Архив снова записывается, потеряно записей: %1, строк: %2")
                                   .arg(2 * Polls)
                                   .arg(3 * Polls)),
             qPrintable(lines[3]));
}

// An open table's write-ahead log is checkpointed and cut back as rows come, so that hours of
// polling never leave a large log on a nearly full disk.
void TestArchiveWriter::writeAheadLogStaysSmall() {
    if (!ArchiveUsesWal(Dirs->Prog()))
        QSKIP("the temporary directory is on a network share: no write-ahead log");
    TArchiveWriter writer;
    for (int i = 0; i < 300; ++i)
        QVERIFY(writer.PostRows(Reading("Lt", T0 + i * Second, i)));
    QVERIFY(writer.WaitIdle(Patience));
    const QString wal = JoinPath(Day(), "Lt.db-wal");
    QVERIFY(QFileInfo::exists(wal));
    QVERIFY2(QFileInfo(wal).size() <= ArchiveWalLimitBytes,
             qPrintable(QString::number(QFileInfo(wal).size())));
    QCOMPARE(Values(Day(), "Lt").size(), size_t(300));
}

QTEST_GUILESS_MAIN(TestArchiveWriter)
#include "tst_archive_writer.moc"
