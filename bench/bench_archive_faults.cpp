// The archive writer under a damaged table and a full disk, polled at the default period
// (200 ms, about 50 polls in 10 s): each poll posts one command-6 batch (Lt, Hu, Lc, V) and
// one request log line.
//   damaged: today's Hu.db is replaced by noise after the first poll; how many polls reach the
//            healthy tables within the 10 s, and what was dropped or failed.
//   full:    the process may not grow files (RLIMIT_FSIZE, as a full disk) for 10 s of polling,
//            then 5 s with room again; how many polls the writer got through while full.
// Usage: bench_archive_faults [seconds, default 10]

#include "Ulmar.h"
#include "tests/support/FileSizeLimit.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uLog.h"
#include "uParamStr.h"
#include "uPaths.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto Period = std::chrono::milliseconds(200);

void SetReadings(TUlmar& ulmar, int i) {
    ulmar.Distance->SetValue(TVariant::FromDouble(1500.0 + i * 0.1));
    ulmar.Level->SetValue(TVariant::FromDouble(8500.0 - i * 0.1));
    ulmar.LevelFree->SetValue(TVariant::FromDouble(1400.0 + i * 0.1));
    ulmar.Volume->SetValue(TVariant::FromDouble(42.0 + i * 0.01));
}

size_t Rows(const QString& day, const char* table) {
    return QueryArchive(day, ArchiveSelectStatement(QString::fromLatin1(table), 0, 0)).size();
}

// Polls for `seconds` at the period; returns the number of polls posted.
int Poll(TArchiveWriter& writer, TUlmar& ulmar, const QString& log, int seconds, int first) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    auto next = Clock::now();
    int i = first;
    while (Clock::now() < end) {
        SetReadings(ulmar, i);
        writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
        writer.PostLine(log, TLog::FormatLine(QStringLiteral("poll %1").arg(i)));
        ++i;
        next += Period;
        std::this_thread::sleep_until(next);
    }
    return i - first;
}

void PrintWriter(const TArchiveWriter& writer) {
    const TArchiveHealth health = writer.Health();
    std::printf("  dropped rows %llu, lines %llu; failed rows %llu, lines %llu; episodes %llu\n"
                "  state: %s\n",
                static_cast<unsigned long long>(writer.DroppedRows()),
                static_cast<unsigned long long>(writer.DroppedLines()),
                static_cast<unsigned long long>(writer.FailedRows()),
                static_cast<unsigned long long>(writer.FailedLines()),
                static_cast<unsigned long long>(health.Episodes),
                health.Failing ? qPrintable(ArchiveHealthText(health)) : "written");
}

// The writer's own lines in the log file.
void PrintLogLines(const QString& log) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains("Архив"))
            std::printf("  log: %s\n", line.trimmed().constData());
}

void Damaged(int seconds) {
    QTemporaryDir root;
    SetArchiveRoot(root.path());
    TUlmar ulmar;
    TArchiveWriter writer;
    const QString log = root.filePath(QStringLiteral("rd.txt"));
    writer.SetLogFile(log);
    const QString day = ArchiveDayDir(NowDateTime());
    SetReadings(ulmar, 0);
    writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
    writer.WaitIdle(60000);
    // A copy tool puts noise in place of the table: a new file under the old name.
    const QString hu = JoinPath(day, QStringLiteral("Hu.db"));
    {
        QFile noise(hu + QStringLiteral(".noise"));
        noise.open(QIODevice::WriteOnly);
        QByteArray bytes(64 * 1024, '\0');
        quint32 x = 2463534242u;
        for (char& c : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        noise.write(bytes);
    }
    QFile::remove(hu);
    QFile::rename(hu + QStringLiteral(".noise"), hu);
    const int polls = Poll(writer, ulmar, log, seconds, 1);
    const size_t lt = Rows(day, "Lt") - 1;
    std::printf("damaged Hu.db: %d polls posted in %d s; reached Lt within the time: %zu, "
                "Hu: %zu\n",
                polls, seconds, lt, Rows(day, "Hu"));
    writer.WaitIdle(600000);
    std::printf("  after the queue drained: Lt %zu, Hu %zu\n", Rows(day, "Lt") - 1,
                Rows(day, "Hu"));
    PrintWriter(writer);
    PrintLogLines(log);
    std::printf("  day folder: %s\n",
                qPrintable(QDir(day).entryList(QDir::Files, QDir::Name).join(QLatin1Char(' '))));
    writer.Stop();
    SetArchiveRoot(QString());
}

void Full(int seconds) {
    QTemporaryDir root;
    SetArchiveRoot(root.path());
    TUlmar ulmar;
    std::atomic<int> started{0};
    TArchiveWriter writer(TArchiveWriter::DefaultCapacity, [&started] { ++started; });
    const QString log = root.filePath(QStringLiteral("rd.txt"));
    writer.SetLogFile(log);
    const QString day = ArchiveDayDir(NowDateTime());
    SetReadings(ulmar, 0);
    writer.PostRows(CaptureArchiveBatch(ulmar, UlmarCmd::LevelAllRead, NowDateTime()));
    writer.PostLine(log, TLog::FormatLine(QStringLiteral("start")));
    writer.WaitIdle(60000);
    const int before = started.load();
    int polls = 0;
    {
        TFileSizeLimit full(1);
        polls = Poll(writer, ulmar, log, seconds, 1);
        std::printf("full disk, at the end: %s\n", qPrintable(ArchiveHealthText(writer.Health())));
    }
    const int handled = (started.load() - before) / 2;
    std::printf("full disk: %d polls posted in %d s, the writer got through %d of them\n", polls,
                seconds, handled);
    PrintWriter(writer);
    const size_t ltBefore = Rows(day, "Lt");
    const int after = Poll(writer, ulmar, log, seconds / 2, polls + 1);
    writer.WaitIdle(600000);
    std::printf("  room again: %d polls posted, %zu reached Lt\n", after,
                Rows(day, "Lt") - ltBefore);
    PrintWriter(writer);
    PrintLogLines(log);
    writer.Stop();
    SetArchiveRoot(QString());
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, QString::fromLocal8Bit(argv[1]).toInt()) : 10;
    QTemporaryDir dirs;
    SetProgramDir(dirs.path());
    SetStartDir(dirs.path());
    Damaged(seconds);
    Full(seconds);
    return 0;
}
