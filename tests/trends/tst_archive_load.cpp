// The bulk archive reader: the day walk by calendar dates (also across daylight-saving days),
// bounds inclusive to the millisecond, no file created or left behind, unreadable tables and
// tables damaged part-way (the rows before the damage kept, the date named), a range over
// several days with a clock step, the repeated autumn hour in writing order, a cancelled load,
// the row bound of a range, and the CSV export of a range read back.

#include "tests/support/DayFiles.h"
#include "tests/support/TestDirs.h"
#include "uArchiveLoad.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uTrendExport.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <ctime>
#include <memory>

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QtToDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

// A wall-clock stamp built from its parts, also inside a daylight-saving gap.
TDateTime Wall(int y, int mo, int d, int h, int mi) {
    return static_cast<double>(QDate(1899, 12, 30).daysTo(QDate(y, mo, d))) +
           (h * 60 + mi) / 1440.0;
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList FilesUnder(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

// Sets the process time zone for the life of the object.
class TZone {
public:
    explicit TZone(const QByteArray& zone)
        : Old(qgetenv("TZ")), Had(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TZone() {
        if (Had)
            qputenv("TZ", Old);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray Old;
    bool Had;
};

} // namespace

class TestArchiveLoad : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestDirs> Dirs;
    QString Root() const { return JoinPath(Dirs->Prog(), QStringLiteral("DATA")); }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void init() {
        Dirs = std::make_unique<TTestDirs>();
        SetArchiveRoot(QString());
    }
    void cleanup() {
        SetArchiveRoot(QString());
        Dirs.reset();
    }

    void dayWalk_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("stop");
        QTest::addColumn<QStringList>("dates");
        const QByteArray utc("UTC");
        const QByteArray berlin("Europe/Berlin");
        QTest::newRow("22:00 to 02:00 two days later")
            << utc << At(2024, 3, 10, 22) << At(2024, 3, 12, 2)
            << QStringList{"2024-03-10", "2024-03-11", "2024-03-12"};
        QTest::newRow("within one day")
            << utc << At(2024, 3, 10, 1) << At(2024, 3, 10, 23) << QStringList{"2024-03-10"};
        QTest::newRow("one millisecond over midnight")
            << utc << At(2024, 3, 10, 23, 59, 59, 999) << At(2024, 3, 11)
            << QStringList{"2024-03-10", "2024-03-11"};
        QTest::newRow("start after stop")
            << utc << At(2024, 3, 10, 14, 20, 1) << At(2024, 3, 10, 14, 20) << QStringList{};
        QTest::newRow("spring forward, 23-hour day")
            << berlin << At(2024, 3, 30, 22) << At(2024, 4, 1, 2)
            << QStringList{"2024-03-30", "2024-03-31", "2024-04-01"};
        QTest::newRow("spring forward, midnight to midnight")
            << berlin << At(2024, 3, 31) << At(2024, 4, 1)
            << QStringList{"2024-03-31", "2024-04-01"};
        QTest::newRow("fall back, 25-hour day")
            << berlin << At(2024, 10, 26, 22) << At(2024, 10, 28, 2)
            << QStringList{"2024-10-26", "2024-10-27", "2024-10-28"};
        QTest::newRow("start inside the spring gap")
            << berlin << Wall(2024, 3, 31, 2, 30) << Wall(2024, 3, 31, 3, 30)
            << QStringList{"2024-03-31"};
        QTest::newRow("fall back, late evenings")
            << berlin << At(2024, 10, 26, 23, 30) << At(2024, 10, 27, 23, 30)
            << QStringList{"2024-10-26", "2024-10-27"};
    }
    void dayWalk() {
        QFETCH(QByteArray, zone);
        QFETCH(double, start);
        QFETCH(double, stop);
        QFETCH(QStringList, dates);
        TZone tz(zone);
        QStringList walked;
        for (const QDate& d : ArchiveRangeDates(start, stop))
            walked << d.toString(Qt::ISODate);
        QCOMPARE(walked, dates);
    }

    void daylightSavingDaysLoad() {
        TZone tz("Europe/Berlin");
        // One row an hour through both changes of 2024, stamped with the wall clock.
        for (int d = 30; d <= 31; ++d)
            for (int h = 0; h < 24; ++h)
                QVERIFY(AddArchiveRecord(QStringLiteral("Hu"), Wall(2024, 3, d, h, 30), h));
        for (int h = 0; h < 24; ++h)
            QVERIFY(AddArchiveRecord(QStringLiteral("Hu"), Wall(2024, 10, 27, h, 30), h));
        TTrendData spring, autumn;
        LoadArchiveRange({{QStringLiteral("Hu"), &spring}}, At(2024, 3, 30, 22),
                         At(2024, 3, 31, 23, 59, 59, 999));
        QCOMPARE(spring.Count(), std::size_t(2 + 24));
        LoadArchiveRange({{QStringLiteral("Hu"), &autumn}}, At(2024, 10, 27),
                         At(2024, 10, 27, 23, 59, 59, 999));
        QCOMPARE(autumn.Count(), std::size_t(24));
        // The naive scale: 02:30 follows 01:30 by one hour on either day.
        QCOMPARE(autumn.At(2).X - autumn.At(1).X, 3600.0);
    }

    void boundsInclusiveToMillisecond() {
        const QString hu = QStringLiteral("Hu");
        for (int ms : {499, 500, 501})
            QVERIFY(AddArchiveRecord(hu, At(2024, 3, 5, 14, 20, 0, ms), ms));
        const QString dir = ArchiveDayDir(At(2024, 3, 5, 12));
        std::vector<TTrendPoint> rows;
        QCOMPARE(ReadArchiveDay(dir, hu, At(2024, 3, 5), At(2024, 3, 5, 14, 20, 0, 500), rows),
                 TDayRead::Read);
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows.back().Y, 500.0);
        rows.clear();
        QCOMPARE(ReadArchiveDay(dir, hu, At(2024, 3, 5, 14, 20, 0, 500), At(2024, 3, 6), rows),
                 TDayRead::Read);
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows.front().Y, 500.0);
        rows.clear();
        const TDateTime exact = At(2024, 3, 5, 14, 20, 0, 500);
        QCOMPARE(ReadArchiveDay(dir, hu, exact, exact, rows), TDayRead::Read);
        QCOMPARE(rows.size(), std::size_t(1));
        QCOMPARE(rows.front().X, TrendXFromDateTime(exact));
    }

    // A trend of a table that was not polled that day leaves no file behind, so the day's
    // first reading of that table is stored as usual.
    void readerCreatesNothing() {
        const TDateTime t = At(2024, 3, 5, 10);
        QVERIFY(AddArchiveRecord(QStringLiteral("Lt"), t, 1.0));
        const QString dir = ArchiveDayDir(t);
        const QStringList before = FilesUnder(Root());
        std::vector<TTrendPoint> rows;
        QCOMPARE(ReadArchiveDay(dir, QStringLiteral("Hu"), t - 1, t + 1, rows), TDayRead::Missing);
        QCOMPARE(ReadArchiveDay(dir, QStringLiteral("Lt"), t - 1, t + 1, rows), TDayRead::Read);
        QCOMPARE(ArchiveDayRowBound(dir, QStringLiteral("Hu")), 0);
        QCOMPARE(ArchiveDayRowBound(dir, QStringLiteral("Lt")), 1);
        TTrendData data;
        LoadArchiveRange({{QStringLiteral("Hu"), &data}}, t - 3, t + 3);
        QCOMPARE(FilesUnder(Root()), before);
        QVERIFY(!QFileInfo::exists(ArchiveDayDir(t - 2))); // no day directory made either
        QVERIFY(AddArchiveRecord(QStringLiteral("Hu"), t + 0.001, 2.0));
        rows.clear();
        QCOMPARE(ReadArchiveDay(dir, QStringLiteral("Hu"), t - 1, t + 1, rows), TDayRead::Read);
        QCOMPARE(rows.size(), std::size_t(1));
    }

    void unreadableTable_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not a database") << QByteArray("this is not a database file at all");
        QTest::newRow("empty file") << QByteArray();
    }
    void unreadableTable() {
        QFETCH(QByteArray, content);
        const TDateTime t = At(2024, 3, 5, 10);
        const QString dir = ArchiveDayDir(t);
        QVERIFY(QDir().mkpath(dir));
        const QString file = JoinPath(dir, QStringLiteral("Hu.db"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        std::vector<TTrendPoint> rows{{1, 1}};
        QCOMPARE(ReadArchiveDay(dir, QStringLiteral("Hu"), t - 1, t + 1, rows), TDayRead::Failed);
        QCOMPARE(rows.size(), std::size_t(1)); // what was there stays, nothing is added
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
        QCOMPARE(FilesUnder(dir), QStringList{QStringLiteral("Hu.db")});
        TTrendData data;
        const TArchiveLoadResult r = LoadArchiveRange({{QStringLiteral("Hu"), &data}}, t - 1, t);
        QCOMPARE(r.Failures, 1);
        QCOMPARE(r.Days, 2);
    }

    // A day table damaged part-way: the rows before the damage are kept, in order, the good
    // days around it are whole, and the load names the day that could not be read.
    void damagedDayKeepsRowsBeforeTheDamage_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("rowsBefore");
        QTest::newRow("cut off at 40%") << "cut" << true;
        QTest::newRow("pages spoilt at 50% to 60%") << "spoil" << true;
        QTest::newRow("random bytes") << "noise" << false;
    }
    void damagedDayKeepsRowsBeforeTheDamage() {
        QFETCH(QString, damage);
        QFETCH(bool, rowsBefore);
        const QString hu = QStringLiteral("Hu");
        const QDateTime day4(QDate(2024, 3, 4), QTime(0, 0));
        QVERIFY(!WriteDayTable(hu, EvenRows(day4, 100, 60000)).isEmpty());
        QVERIFY(!WriteDayTable(hu, EvenRows(day4.addDays(2), 100, 60000)).isEmpty());
        const int total = 20000; // one row every 4 s, about 150 pages
        const QString file = WriteDayTable(hu, EvenRows(day4.addDays(1), total, 4000));
        QVERIFY(!file.isEmpty());
        if (damage == "cut")
            QVERIFY(CutFile(file, 0.4));
        else if (damage == "spoil")
            QVERIFY(SpoilFile(file, 0.5, 0.6));
        else
            QVERIFY(NoiseFile(file));
        const QByteArray before = ReadBytes(file);

        TTrendData data;
        const TArchiveLoadResult r = LoadArchiveRange({{hu, &data}}, QtToDateTime(day4),
                                                      QtToDateTime(day4.addDays(3).addMSecs(-1)));
        QCOMPARE(r.Failures, 1);
        QCOMPARE(r.FailedDates, QList<QDate>{QDate(2024, 3, 5)});
        QVERIFY(!r.Cancelled);
        // The good days whole; of the damaged one, its rows from the first on as written up to
        // the damage (and what SQLite can still read beyond it), each one genuine.
        const double x4 = TrendXFromDateTime(QtToDateTime(day4));
        const double x5 = x4 + 86400, x6 = x5 + 86400;
        std::size_t good = 0, damaged = 0, unbroken = 0;
        for (const TTrendPoint& p : data.Points()) {
            if (p.X < x5 || p.X >= x6) {
                ++good;
                continue;
            }
            QCOMPARE(p.X, x5 + 4.0 * p.Y); // the row's own stamp and value
            if (p.Y == double(damaged) && unbroken == damaged)
                ++unbroken;
            ++damaged;
        }
        QCOMPARE(good, std::size_t(200));
        if (rowsBefore) {
            QVERIFY2(
                unbroken > 1000 && damaged < std::size_t(total),
                qPrintable(
                    QStringLiteral("%1 rows, the first %2 unbroken").arg(damaged).arg(unbroken)));
        } else {
            QCOMPARE(damaged, std::size_t(0));
        }
        QCOMPARE(data.RunCount(), std::size_t(1));
        QCOMPARE(ReadBytes(file), before); // the reader changed nothing
    }

    // The repeated autumn hour as the archive holds it: one day file whose rows go 02:59:59 ->
    // 02:00:00 -> ... in row order. Read in row order, it is two runs, never sorted into one.
    void repeatedHourKeepsRowOrder() {
        const QString lt = QStringLiteral("Lt");
        const QDate day(2024, 10, 27);
        QList<QPair<QDateTime, double>> rows =
            EvenRows(QDateTime(day, QTime(0, 0)), 3 * 3600, 1000);
        rows += EvenRows(QDateTime(day, QTime(2, 0)), 2 * 3600, 1000);
        QCOMPARE(rows.at(3 * 3600 - 1).first.time(), QTime(2, 59, 59));
        QCOMPARE(rows.at(3 * 3600).first.time(), QTime(2, 0, 0));
        QVERIFY(!WriteDayTable(lt, rows).isEmpty());
        TTrendData data;
        const TArchiveLoadResult r =
            LoadArchiveRange({{lt, &data}}, At(2024, 10, 27), At(2024, 10, 27, 23, 59, 59));
        QCOMPARE(r.Rows, qint64(rows.size()));
        QCOMPARE(data.RunCount(), std::size_t(2));
        const double x0 = TrendXFromDateTime(At(2024, 10, 27));
        QCOMPARE(data.At(data.Run(0).Last - 1).X, x0 + 3 * 3600 - 1); // 02:59:59
        QCOMPARE(data.At(data.Run(1).First).X, x0 + 2 * 3600);        // 02:00:00
        QCOMPARE(data.At(data.Run(1).First).Y, 0.0);                  // the second pass's first
        // Drawn as two lines with one break, never interleaved by time.
        std::vector<TTrendPoint> out;
        data.Decimate(x0, x0 + 86400, 1600, out);
        const auto breaks = std::count_if(out.begin(), out.end(),
                                          [](const TTrendPoint& p) { return std::isnan(p.Y); });
        QCOMPARE(breaks, std::ptrdiff_t(1));
        const auto nan = std::find_if(out.begin(), out.end(),
                                      [](const TTrendPoint& p) { return std::isnan(p.Y); });
        const auto byX = [](const TTrendPoint& a, const TTrendPoint& b) { return a.X < b.X; };
        QVERIFY(std::is_sorted(out.begin(), nan, byX));
        QVERIFY(std::is_sorted(nan + 1, out.end(), byX));
    }

    // A cancel stops the load at once: the readers stop, the dates taken before stay.
    void cancelStopsTheLoad() {
        const QString hu = QStringLiteral("Hu");
        for (int d = 0; d < 8; ++d)
            QVERIFY(!WriteDayTable(
                         hu, EvenRows(QDateTime(QDate(2024, 3, 1 + d), QTime(0, 0)), 20000, 4000))
                         .isEmpty());
        TTrendData data;
        TArchiveLoadHooks hooks;
        int lastDay = -1;
        hooks.Progress = [&](int day, int) { lastDay = day; };
        hooks.Cancel = [&] { return lastDay >= 2; };
        const TArchiveLoadResult r =
            LoadArchiveRange({{hu, &data}}, At(2024, 3, 1), At(2024, 3, 8, 23, 59, 59), hooks);
        QVERIFY(r.Cancelled);
        QCOMPARE(lastDay, 2);
        QCOMPARE(data.Count(), std::size_t(3 * 20000)); // the 1st to the 3rd
        QCOMPARE(r.Rows, qint64(data.Count()));
        QVERIFY(data.MaxX() < TrendXFromDateTime(At(2024, 3, 4)));
        // Cancelled before anything was read.
        TTrendData none;
        hooks.Cancel = [] { return true; };
        const TArchiveLoadResult r0 =
            LoadArchiveRange({{hu, &none}}, At(2024, 3, 1), At(2024, 3, 8, 23, 59, 59), hooks);
        QVERIFY(r0.Cancelled);
        QVERIFY(none.Empty());
        // A read stopped part-way keeps what it read and says so.
        std::atomic<bool> stop{true};
        std::vector<TTrendPoint> rows;
        QCOMPARE(ReadArchiveDay(ArchiveDayDir(At(2024, 3, 1, 12)), hu, At(2024, 3, 1),
                                At(2024, 3, 2), rows, {}, &stop),
                 TDayRead::Stopped);
        QVERIFY(!rows.empty() && rows.size() < 20000);
    }

    // The rows a range would hold, from the row bounds of the day tables present.
    void rowBoundOfRange() {
        const QString hu = QStringLiteral("Hu"), lt = QStringLiteral("Lt");
        QVERIFY(!WriteDayTable(hu, EvenRows(QDateTime(QDate(2024, 3, 1), QTime(0, 0)), 500, 1000))
                     .isEmpty());
        QVERIFY(!WriteDayTable(hu, EvenRows(QDateTime(QDate(2024, 3, 3), QTime(0, 0)), 700, 1000))
                     .isEmpty());
        QVERIFY(!WriteDayTable(lt, EvenRows(QDateTime(QDate(2024, 3, 3), QTime(0, 0)), 40, 1000))
                     .isEmpty());
        QCOMPARE(ArchiveRangeRowBound({hu}, At(2024, 3, 1), At(2024, 3, 3, 23)), qint64(1200));
        QCOMPARE(ArchiveRangeRowBound({hu, lt}, At(2024, 3, 2), At(2024, 3, 9)), qint64(740));
        QCOMPARE(ArchiveRangeRowBound({hu}, At(2024, 3, 9), At(2024, 3, 1)), qint64(0));
    }

    void rangeOverDays() {
        const QString lt = QStringLiteral("Lt");
        QList<double> stamps;
        for (int d = 10; d <= 12; ++d)
            for (int h : {0, 1, 12, 22, 23})
                stamps << At(2024, 3, d, h, 0, 0, 250);
        // The clock set back by an hour on the 11th: rows out of order within the day.
        stamps << At(2024, 3, 11, 12, 30) << At(2024, 3, 11, 11, 45);
        for (double s : stamps)
            QVERIFY(AddArchiveRecord(lt, s, s));
        TTrendData data;
        QList<int> progress;
        TArchiveLoadHooks hooks;
        hooks.Progress = [&](int k, int last) { progress << k << last; };
        const TArchiveLoadResult r = LoadArchiveRange({{lt, &data}}, At(2024, 3, 10, 22, 0, 0, 250),
                                                      At(2024, 3, 12, 1, 0, 0, 250), hooks);
        QCOMPARE(r.Days, 3);
        QCOMPARE(progress, (QList<int>{0, 2, 1, 2, 2, 2}));
        // 22:00, 23:00 of the 10th; all 7 of the 11th; 00:00, 01:00 of the 12th.
        QCOMPARE(r.Rows, qint64(11));
        QCOMPARE(data.Count(), std::size_t(11));
        // In writing order: each step back of the clock starts a run (23:00 -> 12:30 -> 11:45).
        QCOMPARE(data.RunCount(), std::size_t(3));
        QCOMPARE(data.Run(1).Last - data.Run(1).First, std::size_t(1));
        QCOMPARE(data.At(data.Run(1).First).Y, At(2024, 3, 11, 12, 30));
        QCOMPARE(data.At(data.Run(2).First).Y, At(2024, 3, 11, 11, 45));
        QCOMPARE(data.At(data.Count() - 1).Y, At(2024, 3, 12, 1, 0, 0, 250));
        QVERIFY(data.Capacity() >= data.Count());
        for (const TTrendPoint& p : data.Points())
            QCOMPARE(p.X, TrendXFromDateTime(p.Y)); // each value is its own stamp
        TTrendData none;
        const TArchiveLoadResult inverted =
            LoadArchiveRange({{lt, &none}}, At(2024, 3, 12), At(2024, 3, 10));
        QCOMPARE(inverted.Days, 0);
        QVERIFY(none.Empty());
    }

    void csvReadBack() {
        TTrendData level, temp;
        const double t0 = TrendXFromDateTime(At(2024, 3, 5, 14, 20, 0, 500));
        level.Add(t0 - 1, 1.0);
        level.Add(t0, 1234.5);
        level.Add(t0 + 0.25, -0.125);
        level.Add(t0 + 10, 7);
        temp.Add(t0, 21);
        temp.Add(t0 + 1, 22.5);
        const QString path = Dirs->Root.filePath(QStringLiteral("range.csv"));
        QString error;
        QVERIFY(WriteTrendCsv(path,
                              {{QStringLiteral("Расстояние, мм"), &level},
                               {QStringLiteral("Температура; °C"), &temp}},
                              t0, t0 + 1, &error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines, (QStringList{
                            QStringLiteral("Время;Расстояние, мм;\"Температура; °C\""),
                            QStringLiteral("05.03.2024 14:20:00,500;1234,5;21"),
                            QStringLiteral("05.03.2024 14:20:00,750;-0,125;"),
                            QStringLiteral("05.03.2024 14:20:01,500;;22,5"),
                            QString(),
                        }));
        // Read back: the stamps and values return to the points they came from.
        const QLocale ru;
        const QStringList f1 = lines.at(2).split(u';');
        const QDateTime back =
            QDateTime::fromString(f1.at(0), QStringLiteral("dd.MM.yyyy HH:mm:ss,zzz"));
        QCOMPARE(TrendXFromDateTime(QtToDateTime(back)), t0 + 0.25);
        QCOMPARE(ru.toDouble(f1.at(1)), -0.125);
    }

    // A repeated hour in CSV: the first pass, then the second, as written (not interleaved).
    void csvKeepsRunsInOrder() {
        TTrendData level;
        const double t0 = TrendXFromDateTime(At(2024, 10, 27, 2, 59, 58));
        level.Add(t0, 1);
        level.Add(t0 + 1, 2);        // 02:59:59
        level.Add(t0 + 2 - 3600, 3); // the clock set back: 02:00:00
        level.Add(t0 + 3 - 3600, 4);
        const QString path = Dirs->Root.filePath(QStringLiteral("runs.csv"));
        QVERIFY(WriteTrendCsv(path, {{QStringLiteral("Lt"), &level}}, t0 - 3600, t0 + 10));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll().mid(3)),
                 QStringLiteral("Время;Lt\r\n27.10.2024 02:59:58,000;1\r\n"
                                "27.10.2024 02:59:59,000;2\r\n27.10.2024 02:00:00,000;3\r\n"
                                "27.10.2024 02:00:01,000;4\r\n"));
    }

    // The memory the system has available, from /proc/meminfo's MemAvailable, or the fixed
    // limit when that cannot be read; and the message of a range refused for it.
    void availableMemory() {
        const QString meminfo = Dirs->Root.filePath(QStringLiteral("meminfo"));
        const auto write = [&](const QByteArray& text) {
            QFile f(meminfo);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(text);
        };
        write("MemTotal:       24576000 kB\nMemFree:        20000000 kB\n"
              "MemAvailable:   22000000 kB\nBuffers:          100000 kB\n");
        QCOMPARE(AvailableMemoryBytes(meminfo), qint64(22000000) * 1024);
        write("MemTotal:       24576000 kB\n"); // an old kernel without the line
        QCOMPARE(AvailableMemoryBytes(meminfo), FallbackMemoryBytes);
        write("MemAvailable:   lots\n");
        QCOMPARE(AvailableMemoryBytes(meminfo), FallbackMemoryBytes);
        QCOMPARE(AvailableMemoryBytes(Dirs->Root.filePath(QStringLiteral("none"))),
                 FallbackMemoryBytes);
        QVERIFY(AvailableMemoryBytes() > 0); // this machine's
        // A year at the 200 ms poll period against the fixed limit.
        const qint64 year = 365LL * 86400 * 5;
        QCOMPARE(LoadTooLargeText(year, year * TrendBytesPerPoint, FallbackMemoryBytes),
                 QStringLiteral("Диапазон слишком велик: около 157\u00A0680\u00A0000 точек займут "
                                "около 2,9 ГБ памяти, а доступно 2,0 ГБ.\n"
                                "Выберите диапазон короче."));
    }

    void unreadableDaysText() {
        QCOMPARE(UnreadableDaysText({QDate(2024, 3, 5)}),
                 QStringLiteral("Не читается архив за 05.03.2024"));
        QCOMPARE(UnreadableDaysText({QDate(2024, 3, 5), QDate(2024, 12, 31)}),
                 QStringLiteral("Не читается архив за 05.03.2024, 31.12.2024"));
        QList<QDate> many;
        for (int d = 1; d <= 13; ++d)
            many << QDate(2024, 1, d);
        QCOMPARE(UnreadableDaysText(many),
                 QStringLiteral("Не читается архив за 01.01.2024, 02.01.2024, 03.01.2024, "
                                "04.01.2024, 05.01.2024, 06.01.2024, 07.01.2024, 08.01.2024, "
                                "09.01.2024, 10.01.2024 и ещё 3"));
    }

    void csvUnwritable() {
        TTrendData level;
        level.Add(1, 1);
        QString error;
        QVERIFY(!WriteTrendCsv(Dirs->Root.filePath(QStringLiteral("no/such/dir/x.csv")),
                               {{QStringLiteral("a"), &level}}, 0, 2, &error));
        QVERIFY(!error.isEmpty());
    }

    void exportForCommandLine() {
        const QString hu = QStringLiteral("Hu");
        QVERIFY(AddArchiveRecord(hu, At(2024, 3, 5, 23, 59, 59, 999), 1.5));
        QVERIFY(AddArchiveRecord(hu, At(2024, 3, 6, 0, 0, 0, 0), 2.5));
        QVERIFY(AddArchiveRecord(hu, At(2024, 3, 6, 0, 0, 0, 1), 3.5));
        const QString path = Dirs->Root.filePath(QStringLiteral("hu.csv"));
        qint64 rows = 0;
        QVERIFY(ExportArchiveCsv(hu, At(2024, 3, 5, 23), At(2024, 3, 6), path, nullptr, &rows));
        QCOMPARE(rows, qint64(2));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll().mid(3));
        QCOMPARE(text, QStringLiteral("Время;Hu\r\n05.03.2024 23:59:59,999;1,5\r\n"
                                      "06.03.2024 00:00:00,000;2,5\r\n"));
    }

    // Two gauges polled in turn on one line write into the same day tables; a line of one
    // gauge takes its rows only, and the listing names both with their rows.
    void gaugesNeverJoin() {
        const QString hu = QStringLiteral("Hu");
        const QDateTime first(QDate(2024, 5, 6), QTime(8, 0));
        QVERIFY(!WriteGaugeDayTable(hu, InterleavedRows(first, 1000, 250, {1001, 1002})).isEmpty());
        const TDateTime start = At(2024, 5, 6), stop = At(2024, 5, 6, 23, 59, 59, 999);
        const std::vector<TGaugeRows> gauges = ArchiveRangeGauges({hu}, start, stop);
        QCOMPARE(gauges.size(), std::size_t(2));
        QCOMPARE(gauges[0].Gauge, 1001);
        QCOMPARE(gauges[0].Rows, qint64(500));
        QCOMPARE(gauges[1].Gauge, 1002);
        QCOMPARE(gauges[1].Rows, qint64(500));
        for (const int gauge : {1001, 1002}) {
            TTrendData line;
            const TArchiveLoadResult r = LoadArchiveRange({{hu, &line, gauge}}, start, stop);
            QCOMPARE(r.Rows, qint64(500));
            QCOMPARE(line.Count(), std::size_t(500));
            // One run: the gauge's own rows in time order, every other row of the table.
            QCOMPARE(line.RunCount(), std::size_t(1));
            for (std::size_t i = 0; i < line.Count(); ++i) {
                const int k = int(i) * 2 + (gauge == 1002 ? 1 : 0);
                QCOMPARE(line.At(i).Y, gauge * 1000.0 + k);
                QCOMPARE(line.At(i).X, TrendXFromDateTime(QtToDateTime(first.addMSecs(k * 250))));
            }
            QCOMPARE(ArchiveRangeRowBound({hu}, start, stop, {}, gauge), qint64(500));
        }
        TTrendData unknown, all;
        LoadArchiveRange({{hu, &unknown, UnknownGauge}, {hu, &all}}, start, stop);
        QVERIFY(unknown.Empty());
        QCOMPARE(all.Count(), std::size_t(1000)); // every row, as before gauges were told apart
        // A gauge that starts writing later in the day is listed once its rows are there.
        QVERIFY(AddArchiveRecord(hu, At(2024, 5, 6, 20), 7.0, {}, 1003));
        QCOMPARE(ArchiveRangeGauges({hu}, start, stop).size(), std::size_t(3));
        QCOMPARE(ArchiveRangeGauges({hu}, start, stop).back().Gauge, 1003);
    }

    // A day file made before the plant number was archived reads as the gauge not known, next
    // to a newer day that has both known rows and rows without a number.
    void oldFileReadAsUnknown() {
        const QString lt = QStringLiteral("Lt");
        const QDateTime oldDay(QDate(2024, 5, 6), QTime(10, 0));
        const QDateTime newDay(QDate(2024, 5, 7), QTime(10, 0));
        QList<TGaugeRow> old;
        for (int k = 0; k < 30; ++k)
            old.append({oldDay.addSecs(k), 10.0 + k, 1001}); // the number is not stored
        QList<TGaugeRow> now = InterleavedRows(newDay, 40, 1000, {1001, -1});
        const QString oldFile = WriteGaugeDayTable(lt, old, false);
        QVERIFY(!oldFile.isEmpty());
        QVERIFY(!WriteGaugeDayTable(lt, now).isEmpty());
        const TDateTime start = At(2024, 5, 6), stop = At(2024, 5, 7, 23);
        const std::vector<TGaugeRows> gauges = ArchiveRangeGauges({lt}, start, stop);
        QCOMPARE(gauges.size(), std::size_t(2));
        QCOMPARE(gauges[0].Gauge, UnknownGauge);
        QCOMPARE(gauges[0].Rows, qint64(30 + 20));
        QCOMPARE(gauges[1].Gauge, 1001);
        QCOMPARE(gauges[1].Rows, qint64(20));
        TTrendData unknown, known;
        LoadArchiveRange({{lt, &unknown, UnknownGauge}, {lt, &known, 1001}}, start, stop);
        QCOMPARE(unknown.Count(), std::size_t(50));
        QCOMPARE(unknown.At(0).Y, 10.0);
        QCOMPARE(unknown.At(29).Y, 39.0);
        QCOMPARE(unknown.At(30).Y, -1000.0 + 1); // the new day's first row without a number
        QCOMPARE(known.Count(), std::size_t(20));
        for (std::size_t i = 0; i < known.Count(); ++i)
            QCOMPARE(known.At(i).Y, 1001000.0 + double(i * 2));
        // The old table holds no row of a known gauge; it is read, not failed.
        std::vector<TTrendPoint> rows;
        QCOMPARE(ReadArchiveDay(ArchiveDayDir(QtToDateTime(oldDay)), lt, start, stop, rows, {},
                                nullptr, 1001),
                 TDayRead::Read);
        QVERIFY(rows.empty());
    }
};

QTEST_GUILESS_MAIN(TestArchiveLoad)
#include "tst_archive_load.moc"
