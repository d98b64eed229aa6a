// Command-6 polls per second on a line at 9600 baud: the simulator paces every answer byte as
// the line would (11 bits a character) and the transmitter keeps its default time-outs, so an
// answer read by the silence rule ends 50 ms after its last byte, and one read by the length
// rule as soon as its announced bytes are in with a good checksum (plus a quiet time of 3.5
// characters). Each poll is one RequestExecUlmar(LevelAllRead) on this thread, parse and log
// line included, back to back. With several gauges the polls go round robin over addresses
// 1, 2, … Every figure is the median of several runs.
// Usage: bench_line_rate [polls per run, default 60] [runs, default 5] [answer delay ms,
// default 2]

#include "Ulmar.h"
#include "bench/BenchStats.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSimServer.h"
#include "uTransmitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int Baud = 9600;

struct TRunResult {
    double PollsPerSecond = 0.0;
    double MedianMs = 0.0;
    int Failures = 0;
    int ByLength = 0;
};

TRunResult Run(TDeviceLink& link, TUlmar& ulmar, int gauges, int polls) {
    TRunResult result;
    std::vector<double> times;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < polls; ++i) {
        ulmar.SystemAddress = static_cast<quint8>(1 + i % gauges);
        const auto start = std::chrono::steady_clock::now();
        if (link.RequestExecUlmar(UlmarCmd::LevelAllRead) != 0 || ulmar.ErrorCode != 0)
            ++result.Failures;
        if (link.Transmitter()->LastEndedByLength())
            ++result.ByLength;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    result.PollsPerSecond = polls / seconds;
    result.MedianMs = Percentile(times, 0.5);
    return result;
}

void Measure(const char* label, TDeviceLink& link, TUlmar& ulmar, TSimServer& sim, bool byLength,
             int gauges, int polls, int runs) {
    TTransmitterSettings settings = link.Transmitter()->Settings();
    settings.EndByLength = byLength;
    link.Transmitter()->SetSettings(settings);
    Run(link, ulmar, gauges, 4); // warm-up
    std::vector<double> rates, medians;
    int failures = 0, ended = 0;
    for (int r = 0; r < runs; ++r) {
        const TRunResult run = Run(link, ulmar, gauges, polls);
        rates.push_back(run.PollsPerSecond);
        medians.push_back(run.MedianMs);
        failures += run.Failures;
        ended += run.ByLength;
    }
    double answerMs = 0.0;
    const auto records = sim.Records();
    if (!records.empty() && records.back().AnswerEndUs >= 0)
        answerMs = (records.back().AnswerEndUs - records.back().AnswerStartUs) / 1000.0;
    std::printf("%-28s gauges=%d runs=%d polls/run=%d | polls/s median %.2f (min %.2f, max "
                "%.2f) | poll median %.2f ms | answer on the line %.2f ms (%lld bytes) | "
                "failed %d, ended by length %d\n",
                label, gauges, runs, polls, Percentile(rates, 0.5), Percentile(rates, 0.0),
                Percentile(rates, 1.0), Percentile(medians, 0.5), answerMs,
                records.empty() ? 0LL : static_cast<long long>(records.back().Answer.size()),
                failures, ended);
    std::fflush(stdout);
}

// The poll cycle itself over a poll list of `gauges` addresses: one round per cycle, each gauge
// one reading poll (the current one its selected code), back to back. The first round, which
// also reads each gauge's signature, is the warm-up.
void MeasureRounds(const char* label, TDeviceLink& link, bool byLength, int gauges, int rounds,
                   int runs) {
    TTransmitterSettings settings = link.Transmitter()->Settings();
    settings.EndByLength = byLength;
    link.Transmitter()->SetSettings(settings);
    std::vector<quint8> addresses;
    for (int a = 1; a <= gauges; ++a)
        addresses.push_back(static_cast<quint8>(a));
    link.SelectedCommands.Clear();
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    link.SetPollAddresses(addresses);
    link.RunCycle(); // warm-up: the signatures
    std::vector<double> rates;
    quint64 silent = 0;
    for (int r = 0; r < runs; ++r) {
        quint64 good = 0;
        for (const quint8 a : addresses)
            good -= link.GaugeStats(a).Good;
        const auto begin = std::chrono::steady_clock::now();
        for (int i = 0; i < rounds; ++i)
            link.RunCycle();
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        for (const quint8 a : addresses)
            good += link.GaugeStats(a).Good;
        silent += quint64(gauges) * quint64(rounds) - good;
        rates.push_back(double(gauges) * rounds / seconds);
    }
    std::printf("%-28s gauges=%d runs=%d rounds/run=%d | polls/s median %.2f (min %.2f, max "
                "%.2f) | round %.0f ms | unanswered %llu\n",
                label, gauges, runs, rounds, Percentile(rates, 0.5), Percentile(rates, 0.0),
                Percentile(rates, 1.0), 1000.0 * gauges / Percentile(rates, 0.5),
                static_cast<unsigned long long>(silent));
    std::fflush(stdout);
    link.SetPollAddresses({});
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 60;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int delay = argc > 3 ? std::max(0, std::atoi(argv[3])) : 2;

    QTemporaryDir root;
    QDir(root.path()).mkpath("prog/INI");
    QDir(root.path()).mkpath("work/INI");
    SetProgramDir(root.filePath("prog"));
    SetStartDir(root.filePath("work"));

    TSimServer sim(std::make_unique<TGaugeSim>(32));
    QString error;
    if (!sim.Start({}, &error)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
        return 1;
    }
    sim.SetAnswerDelay(delay);
    sim.SetLineRate(TSimServer::LinePortRate); // the rate the transmitter sets on the port
    {
        TIniFile ini(JoinPath(StartIniDir(), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", sim.PortName());
        ini.WriteString("Transmitter", "BaudRate", QString::number(Baud));
        ini.Save(false); // time-outs stay at their defaults 50/150/2
    }

    TUlmar ulmar;
    ulmar.SetErrorMax(1);
    {
        TDeviceLink link(&ulmar);
        link.RequestExecUlmar(UlmarCmd::LevelAllRead);
        if (sim.PaceRate() != Baud) {
            std::fprintf(stderr, "the pseudo-terminal is at %d baud, not %d\n", sim.PaceRate(),
                         Baud);
            return 1;
        }
        std::printf("line %d baud, simulator answer delay %d ms\n", Baud, delay);
        Measure("silence rule", link, ulmar, sim, false, 1, polls, runs);
        Measure("length rule", link, ulmar, sim, true, 1, polls, runs);
        Measure("silence rule, 4 gauges", link, ulmar, sim, false, 4, polls, runs);
        Measure("length rule, 4 gauges", link, ulmar, sim, true, 4, polls, runs);
        MeasureRounds("poll list, silence rule", link, false, 32, 3, runs);
        MeasureRounds("poll list, length rule", link, true, 32, 3, runs);
    }
    return 0;
}
