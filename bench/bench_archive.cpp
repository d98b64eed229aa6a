// Cost of archiving command-6 polls (four table rows and four text lines each) in a temporary
// archive root: on the request thread (copy and post to the archive writer), on the writer
// thread, and written at once as before the writer thread; then the queries of the trends.
// Usage: bench_archive [polls, default 500]

#include "Ulmar.h"
#include "bench/BenchStats.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uPaths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void PrintCosts(const char* what, const std::vector<double>& ms) {
    std::printf("%s (%zu polls): median %.3f ms   p95 %.3f ms   max %.3f ms\n", what, ms.size(),
                Percentile(ms, 0.5), Percentile(ms, 0.95), Percentile(ms, 1.0));
}

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double MsSince(Clock::time_point start) {
    return MsBetween(start, Clock::now());
}

// New readings for poll i, as the parse of a command-6 answer sets them.
void SetReadings(TUlmar& ulmar, int i) {
    ulmar.Distance->SetValue(TVariant::FromDouble(1500.0 + i * 0.1));
    ulmar.Level->SetValue(TVariant::FromDouble(8500.0 - i * 0.1));
    ulmar.LevelFree->SetValue(TVariant::FromDouble(1400.0 + i * 0.1));
    ulmar.Volume->SetValue(TVariant::FromDouble(42.0 + i * 0.01));
}

// The writer thread's cost per poll: the polls are queued while the writer is held before the
// first of them, then written back to back; the time between the starts of two items is the
// cost of the first. A warm-up poll creates the tables beforehand.
std::vector<double> WriterCosts(TUlmar& ulmar, int polls) {
    std::mutex mutex;
    std::condition_variable cv;
    bool hold = false;
    bool held = false;
    std::vector<Clock::time_point> starts;
    starts.reserve(polls + 3);
    TArchiveWriter writer(polls + 16, [&] {
        std::unique_lock lock(mutex);
        starts.push_back(Clock::now());
        held = hold;
        cv.notify_all();
        cv.wait(lock, [&] { return !hold; });
    });
    SetReadings(ulmar, 0);
    writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
    writer.WaitIdle(60000);
    {
        std::lock_guard lock(mutex);
        hold = true;
        starts.clear();
    }
    // The held poll, the measured ones, and one more whose start ends the last measurement.
    for (int i = 0; i <= polls + 1; ++i) {
        SetReadings(ulmar, i);
        writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
        if (i == 0) {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return held; });
        }
    }
    {
        std::lock_guard lock(mutex);
        hold = false;
        cv.notify_all();
    }
    writer.WaitIdle(600000);
    std::vector<double> costs;
    // starts[0] is the held item's start: its cost is the gap to starts[1], and so on.
    for (size_t i = 1; i + 1 < starts.size(); ++i)
        costs.push_back(MsBetween(starts[i], starts[i + 1]));
    if (writer.FailedRows() + writer.FailedLines() + writer.DroppedRows() > 0)
        std::printf("writer: %llu rows failed, %llu lines failed, %llu rows dropped\n",
                    static_cast<unsigned long long>(writer.FailedRows()),
                    static_cast<unsigned long long>(writer.FailedLines()),
                    static_cast<unsigned long long>(writer.DroppedRows()));
    return costs;
}

// The request thread's cost per poll: the copy of the readings and the post, while the writer
// writes the earlier polls. Paced at 1 ms so that the writer works meanwhile.
std::vector<double> PostCosts(TUlmar& ulmar, int polls) {
    TArchiveWriter writer;
    std::vector<double> costs;
    costs.reserve(polls);
    for (int i = 0; i < polls; ++i) {
        SetReadings(ulmar, i);
        const auto start = Clock::now();
        writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
        costs.push_back(MsSince(start));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    writer.Stop(600000);
    return costs;
}

// Fills the table "Hu" of 1 January 2000 with one day of readings at the default poll period
// (200 ms) in one transaction; returns that day's directory.
QString FillDay(int rows) {
    const TDateTime day = QtToDateTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    const QString dir = ArchiveDayDir(day);
    QDir().mkpath(dir);
    if (!CreateArchiveTable(JoinPath(dir, QStringLiteral("Hu.db"))))
        return QString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(JoinPath(dir, QStringLiteral("Hu.db")));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("BEGIN"));
            q.prepare(QStringLiteral("INSERT INTO Hu (V, DT) VALUES (:V, :DT)"));
            for (int i = 0; i < rows; ++i) {
                q.bindValue(QStringLiteral(":V"), 8000.0 + i * 0.001);
                q.bindValue(QStringLiteral(":DT"), ArchiveDTText(day + i * 0.2 / 86400));
                q.exec();
            }
            q.exec(QStringLiteral("COMMIT"));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return dir;
}

QByteArray LoadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray("?");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 500;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    SetProgramDir(dir.path());
    std::printf("load average at start: %s\n", LoadAverage().constData());
    TUlmar ulmar;

    SetArchiveRoot(JoinPath(dir.path(), QStringLiteral("posted")));
    PrintCosts("request thread, capture + post", PostCosts(ulmar, polls));
    SetArchiveRoot(JoinPath(dir.path(), QStringLiteral("writer")));
    PrintCosts("writer thread, 4 rows + 4 text lines", WriterCosts(ulmar, polls));

    // Written at once on the calling thread, each table opened and closed per row.
    SetArchiveRoot(JoinPath(dir.path(), QStringLiteral("direct")));
    std::vector<double> direct;
    for (int i = 0; i <= polls; ++i) {
        SetReadings(ulmar, i);
        const auto start = Clock::now();
        ArchivePollAnswer(ulmar, UlmarCmd::LevelAllRead);
        if (i > 0) // the first one creates the day tree and the four tables
            direct.push_back(MsSince(start));
    }
    PrintCosts("written at once (ArchivePollAnswer)", direct);

    const auto q0 = Clock::now();
    bool ok = false;
    const auto rows =
        QueryArchive(ArchiveDayDir(NowDateTime()), ArchiveSelectStatement("Lt", 0, 0), &ok);
    std::printf("query of the Lt day table: %zu rows, %s, %.3f ms\n", rows.size(),
                ok ? "ok" : "FAILED", MsSince(q0));

    // A trend over one full day of one table.
    const QString day = FillDay(432000);
    const auto q1 = Clock::now();
    bool dayOk = false;
    const auto dayRows = QueryArchive(day, ArchiveSelectStatement("Hu", 0, 0), &dayOk);
    std::printf("query of a full day (200 ms period): %zu rows, %s, %.1f ms\n", dayRows.size(),
                dayOk ? "ok" : "FAILED", MsSince(q1));
    std::printf("load average at end: %s\n", LoadAverage().constData());
    return ok && dayOk ? 0 : 1;
}
