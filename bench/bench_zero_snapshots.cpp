// The cost of echo snapshots: the time one snapshot takes on a line at 9600 baud (the simulator
// paces every answer byte as the line would, the transmitter keeps its default time-outs), the
// processor time of this process per snapshot (read, parse, file), the bytes of a snapshot file,
// and the memory a kept snapshot takes (resident set growth over many copies held as the zero
// window holds them, with a path each). Arrays of 13 positions (2 blocks) and 253 (32 blocks).
// Usage: bench_zero_snapshots [snapshots per array size, default 5]

#include "Ulmar.h"
#include "bench/BenchSim.h"
#include "bench/BenchStats.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSimServer.h"
#include "uZeroSnapshots.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Baud = 9600;

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

long ResidentKiB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    TBenchSim rig;
    if (!rig.Start())
        return 1;
    TSimServer& sim = rig.Sim;
    sim.SetAnswerDelay(2);
    sim.SetLineRate(TSimServer::LinePortRate);
    {
        TIniFile ini(JoinPath(StartIniDir(), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", sim.PortName());
        ini.WriteString("Transmitter", "BaudRate", QString::number(Baud));
        ini.Save(false);
    }
    TUlmar ulmar;
    ulmar.SetErrorMax(1);
    ulmar.SystemAddress = 1;
    TDeviceLink link(&ulmar);
    TZeroRecordUi ui;
    TCommandOptions options;
    options.RetryUntilAccepted = true;
    TGaugeCommands commands(&link, ui, options);
    commands.KnownPlantNumber();
    if (sim.PaceRate() != Baud) {
        std::fprintf(stderr, "the pseudo-terminal is at %d baud, not %d\n", sim.PaceRate(), Baud);
        return 1;
    }
    std::printf("line %d baud, %d snapshots per array size\n", Baud, count);
    TZeroSnapshot kept;
    for (const int positions : {13, 253}) {
        sim.WithSim([positions](TGaugeSim& s) { s.Gauges[0].FillZeroArray(positions); });
        const QString folder = rig.Root.filePath(QStringLiteral("echo%1").arg(positions));
        std::vector<double> wall, cpu;
        int failed = 0;
        for (int i = 0; i < count; ++i) {
            const double cpuStart = CpuMs();
            const auto start = std::chrono::steady_clock::now();
            const TZeroTake take = TakeZeroSnapshot(commands, ui, folder);
            wall.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            cpu.push_back(CpuMs() - cpuStart);
            if (!take.Ok)
                ++failed;
            else
                kept = take.Snapshot;
        }
        const qint64 fileBytes = QFileInfo(kept.File).size();
        const double loadStart = CpuMs();
        const TZeroRecording loaded = LoadZeroRecording(folder);
        const double loadMs = CpuMs() - loadStart;
        std::printf("%3d positions | snapshot on the line median %.0f ms (min %.0f, max %.0f, "
                    "of which the gauge's pause after the start 1000 ms) | processor %.2f ms "
                    "median | file %lld bytes | folder of %zu read back in %.2f ms processor | "
                    "failed %d\n",
                    positions, Percentile(wall, 0.5), Percentile(wall, 0.0), Percentile(wall, 1.0),
                    Percentile(cpu, 0.5), static_cast<long long>(fileBytes),
                    loaded.Snapshots.size(), loadMs, failed);
        std::fflush(stdout);
    }
    // Memory of snapshots kept as the window keeps them: each with its own path and time.
    constexpr int Held = 20000;
    const long before = ResidentKiB();
    std::vector<TZeroSnapshot> held;
    held.reserve(Held);
    for (int i = 0; i < Held; ++i) {
        TZeroSnapshot s = kept;
        s.File = kept.File + QString::number(i); // a path of its own, as each file has
        s.Time = kept.Time.addSecs(i);
        held.push_back(std::move(s));
    }
    const long after = ResidentKiB();
    std::printf("memory per kept snapshot: %.0f bytes (resident growth over %d; sizeof %zu)\n",
                (after - before) * 1024.0 / Held, Held, sizeof(TZeroSnapshot));
    return 0;
}
