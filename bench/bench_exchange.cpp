// Cost of one gauge exchange beyond the waits the protocol imposes. The simulator answers at
// once (answer delay 0) on a pseudo-terminal; the transmitter keeps its default time-outs, so
// every exchange of a level read (9-byte answer) ends 50 ms after the answer's last byte, and
// the address byte is followed by a 3 ms gap. The cost reported is the exchange's wall time
// minus those 53 ms: building, writing, the simulator's reaction, reading, the parse, the
// request-log line and, on the request thread, the hand-over of the parse to the
// user-interface thread. The simulator's own reaction time (last request byte to first answer
// byte, from its records) is reported beside it.
// Usage: bench_exchange [exchanges per path, default 300]

#include "Ulmar.h"
#include "bench/BenchSim.h"
#include "bench/BenchStats.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSimServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr double ImposedMs = 50.0 + 3.0; // inter-byte silence after the answer + address gap

// Wall time of each exchange in ms; false results are counted.
std::vector<double> Run(TDeviceLink& link, int count, int& failures) {
    std::vector<double> times;
    times.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (link.RequestExecUlmar(UlmarCmd::LevelRead) != 0)
            ++failures;
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    return times;
}

void Report(const char* path, const std::vector<double>& times,
            const std::vector<TSimRecord>& records, int failures) {
    std::vector<double> cost;
    for (double t : times)
        cost.push_back(t - ImposedMs);
    std::vector<double> reaction;
    for (const TSimRecord& r : records)
        if (r.AnswerStartUs >= 0)
            reaction.push_back((r.AnswerStartUs - r.LastByteUs) / 1000.0);
    std::printf("%-34s n=%zu failed=%d  wall median %.2f ms | cost beyond 53 ms: median %.2f ms, "
                "p95 %.2f ms | simulator reaction median %.2f ms, p95 %.2f ms\n",
                path, times.size(), failures, Percentile(times, 0.5), Percentile(cost, 0.5),
                Percentile(cost, 0.95), reaction.empty() ? 0.0 : Percentile(reaction, 0.5),
                reaction.empty() ? 0.0 : Percentile(reaction, 0.95));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;

    TBenchSim rig;
    if (!rig.Start())
        return 1;
    TSimServer& sim = rig.Sim;
    sim.SetAnswerDelay(0);
    {
        TIniFile ini(JoinPath(StartIniDir(), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", sim.PortName());
        ini.Save(false); // time-outs stay at their defaults 50/150/2
    }

    TUlmar ulmar;
    ulmar.SetErrorMax(1);
    ulmar.SystemAddress = 1;
    {
        TDeviceLink link(&ulmar);
        int failures = 0;
        Run(link, 10, failures); // warm-up
        sim.ClearRecords();

        failures = 0;
        const std::vector<double> ui = Run(link, count, failures);
        Report("user-interface thread (direct)", ui, sim.Records(), failures);
        sim.ClearRecords();

        // A worker thread: every parse goes to this thread's event loop and back.
        failures = 0;
        std::vector<double> worker;
        QEventLoop loop;
        std::thread thread([&] {
            worker = Run(link, count, failures);
            QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        });
        loop.exec();
        thread.join();
        Report("request thread (parse handed over)", worker, sim.Records(), failures);
    }
    return 0;
}
