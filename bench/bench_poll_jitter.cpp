// Poll-to-poll timing of the real polling path while another process hammers the disk.
// The simulator serves one gauge on a pseudo-terminal; the pacing timer resumes the request
// thread every 200 ms with command 6 selected; each accepted poll is archived and every
// exchange logged, exactly as the program wires it: the request thread copies the readings
// under the exchange lock and posts them and its log line to the archive writer thread.
// Reported per phase: the interval between the ends of two cycles (median, p95, max), the
// request thread's archive cost per poll (copy + post), and what the writer dropped or failed.
// The same is then measured with the archive written on the request thread itself (the way it
// was done before the writer thread), to show what the writer keeps off the line.
// Usage: bench_poll_jitter [polls per phase, default 100] [hammer folder, default the archive's]

#include "Ulmar.h"
#include "bench/BenchStats.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uIniFile.h"
#include "uLog.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSimServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A child process that writes 8 MiB blocks with fsync into folder for at most seconds, keeping
// at most 256 MiB on the disk, then ends by itself.
pid_t StartHammer(const QString& folder, int seconds) {
    const QByteArray path = QDir(folder).filePath("hammer.bin").toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    std::vector<char> block(8 << 20, 'h');
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            break;
        for (int i = 0; i < 32 && Clock::now() < end; ++i) {
            if (::write(fd, block.data(), block.size()) < 0)
                break;
            ::fsync(fd);
        }
        ::close(fd);
    }
    ::unlink(path.constData());
    ::_exit(0);
}

void StopHammer(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

struct TPhase {
    std::vector<double> IntervalsMs;
    std::vector<double> HookMs;
};

// Polls until `polls` cycles have ended; the hook cost is measured around ArchiveHook.
TPhase Poll(TDeviceLink& link, int polls, const std::function<void(int)>& archive) {
    TPhase phase;
    std::mutex lock;
    std::vector<Clock::time_point> ends;
    link.ArchiveHook = [&](const TUlmar&, int code) {
        const auto start = Clock::now();
        archive(code);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::lock_guard g(lock);
        phase.HookMs.push_back(ms);
    };
    QEventLoop loop;
    link.CycleDone = [&](const QString&) {
        std::lock_guard g(lock);
        ends.push_back(Clock::now());
        if (static_cast<int>(ends.size()) == polls + 1)
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    };
    QTimer tick;
    tick.setInterval(200);
    QObject::connect(&tick, &QTimer::timeout, [&link] { link.ResumeRequestThread(); });
    tick.start();
    link.ResumeRequestThread();
    loop.exec();
    tick.stop();
    link.WaitCycleEnd();
    link.CycleDone = nullptr;
    link.ArchiveHook = nullptr;
    for (size_t i = 1; i < ends.size(); ++i)
        phase.IntervalsMs.push_back(
            std::chrono::duration<double, std::milli>(ends[i] - ends[i - 1]).count());
    return phase;
}

void Report(const char* name, const TPhase& p) {
    std::printf(
        "%-44s polls=%zu  interval median %.1f ms, p95 %.1f ms, max %.1f ms | "
        "request-thread archive cost median %.3f ms, p95 %.3f ms, max %.3f ms\n",
        name, p.IntervalsMs.size(), Percentile(p.IntervalsMs, 0.5), Percentile(p.IntervalsMs, 0.95),
        p.IntervalsMs.empty() ? 0.0 : *std::max_element(p.IntervalsMs.begin(), p.IntervalsMs.end()),
        Percentile(p.HookMs, 0.5), Percentile(p.HookMs, 0.95),
        p.HookMs.empty() ? 0.0 : *std::max_element(p.HookMs.begin(), p.HookMs.end()));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 100;
    const int hammerSeconds = polls / 5 + 30;

    // The archive lies on the real disk (not /tmp, which may be memory), beside the build.
    QTemporaryDir root(QDir::current().filePath("bench-jitter-XXXXXX"));
    QDir(root.path()).mkpath("prog/INI");
    QDir(root.path()).mkpath("work/INI");
    SetProgramDir(root.filePath("prog"));
    SetStartDir(root.filePath("work"));
    SetArchiveRoot(DefaultArchiveRoot());
    const QString hammerDir = argc > 2 ? QString::fromLocal8Bit(argv[2]) : root.path();

    TSimServer sim(std::make_unique<TGaugeSim>(1));
    QString error;
    if (!sim.Start({}, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    sim.SetAnswerDelay(2);
    {
        TIniFile ini(JoinPath(StartIniDir(), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", sim.PortName());
        ini.Save(false); // time-outs stay at their defaults 50/150/2
    }
    TUlmar ulmar;
    ulmar.SetErrorMax(1);
    ulmar.SystemAddress = 1;
    const QString logPath = JoinPath(StartDir(), "rd-bench.txt");
    TDeviceLink link(&ulmar);
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    {
        TArchiveWriter writer;
        writer.SetLogFile(logPath);
        link.LogSink = [&](const QString& text) {
            writer.PostLine(logPath, TLog::FormatLine(text));
        };
        const auto post = [&](int code) {
            writer.PostRows(CaptureArchiveBatch(ulmar, code, NowDateTime()));
        };
        Report("writer thread, quiet disk", Poll(link, polls, post));
        const pid_t hammer = StartHammer(hammerDir, hammerSeconds);
        Report("writer thread, disk hammered", Poll(link, polls, post));
        StopHammer(hammer);
        writer.WaitIdle(60000);
        link.LogSink = nullptr;
        writer.Stop();
        std::printf("writer: dropped rows %llu, lines %llu; failed rows %llu, lines %llu\n",
                    static_cast<unsigned long long>(writer.DroppedRows()),
                    static_cast<unsigned long long>(writer.DroppedLines()),
                    static_cast<unsigned long long>(writer.FailedRows()),
                    static_cast<unsigned long long>(writer.FailedLines()));
    }
    // For comparison: the archive written on the request thread, under the exchange lock.
    const auto direct = [&](int code) { ArchivePollAnswer(ulmar, code); };
    Report("on the request thread, quiet disk", Poll(link, polls, direct));
    const pid_t hammer = StartHammer(hammerDir, hammerSeconds);
    Report("on the request thread, disk hammered", Poll(link, polls, direct));
    StopHammer(hammer);
    return 0;
}
