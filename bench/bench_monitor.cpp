// Cost of the link window's traffic monitor per exchange, with the panel shown. The records
// are real exchanges with the simulator on a pseudo-terminal (level reads, all-readings reads,
// parameter reads, and answers with a wrong checksum, error answers and silences), taken once
// and then replayed, so that each step is timed on its own:
// - capture: the request thread's copy of the exchange into the link's ring (record built from
//   the frames, the timings, the outcome; ring append under its lock);
// - pull: the user-interface thread's copy of the new records out of the ring, their decode
//   and the append to the panel's table model (filter and view attached, ring of rows full, so
//   the oldest rows are dropped as well), per exchange, in batches as the 5 Hz timer sees them;
// - repaint: one update of the shown table after a pull (per timer tick, not per exchange);
// - the exchange's wall time against the simulator with and without the panel listening.
// Usage: QT_QPA_PLATFORM=offscreen bench_monitor [replayed exchanges, default 20000]

#include "Ulmar.h"
#include "bench/BenchSim.h"
#include "bench/BenchStats.h"
#include "fMonitorPanel.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSimServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Us(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::micro>(b - a).count();
}

void Line(const char* what, const std::vector<double>& us) {
    std::printf("%-52s n=%-6zu median %8.2f us   p95 %8.2f us\n", what, us.size(),
                Percentile(us, 0.5), Percentile(us, 0.95));
}

// Wall time of `count` exchanges of the given codes in turn, in ms.
std::vector<double> Exchanges(TDeviceLink& link, const std::vector<int>& codes, int count) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto a = Clock::now();
        link.RequestExecUlmar(codes[static_cast<size_t>(i) % codes.size()]);
        ms.push_back(Us(a, Clock::now()) / 1000.0);
    }
    return ms;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const int replayed = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 20000;

    TBenchSim rig;
    if (!rig.Start())
        return 1;
    TSimServer& sim = rig.Sim;
    sim.SetAnswerDelay(0);
    {
        TIniFile ini(JoinPath(StartIniDir(), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", sim.PortName());
        ini.WriteInteger("Transmitter", "ReadInterval", 10);
        ini.Save(false);
    }

    TUlmar ulmar;
    ulmar.SetErrorMax(1);
    ulmar.SystemAddress = 1;
    TDeviceLink link(&ulmar);
    const std::vector<int> codes{UlmarCmd::LevelAllRead, UlmarCmd::LevelRead,
                                 UlmarCmd::DistanceRead, UlmarCmd::Dist1Read};

    // Real records: 64 exchanges, every eighth with a fault.
    std::vector<TExchangeRecord> samples;
    {
        TExchangeListener listen(link.Publisher()->Ring());
        const TSimFault faults[] = {TSimFault::BadChecksum, TSimFault::ErrorAnswer,
                                    TSimFault::Silence};
        for (int i = 0; i < 64; ++i) {
            if (i % 8 == 7)
                sim.WithSim([&](TGaugeSim& g) { g.SetFault(faults[(i / 8) % 3], {1, 0.0, 3, 0}); });
            link.RequestExecUlmar(codes[static_cast<size_t>(i) % codes.size()]);
        }
        samples = link.Publisher()->Ring()->Snapshot();
        link.Publisher()->Ring()->Clear();
    }
    if (samples.empty()) {
        std::fprintf(stderr, "no exchanges recorded\n");
        return 1;
    }

    std::printf("monitor cost per exchange, panel shown (%d replayed exchanges of %zu real "
                "records)\n",
                replayed, samples.size());

    // Capture, as the request thread does it: the record built from the frames and appended.
    TExchangeRing ring;
    TExchangeListener listening(std::shared_ptr<TExchangeRing>(&ring, [](TExchangeRing*) {}));
    std::vector<double> capture;
    capture.reserve(replayed);
    for (int i = 0; i < replayed; ++i) {
        const TExchangeRecord& s = samples[static_cast<size_t>(i) % samples.size()];
        const auto a = Clock::now();
        if (ring.Enabled()) {
            TExchangeRecord r;
            r.TimeMs = s.TimeMs;
            r.Device = s.Device;
            r.Code = s.Code;
            r.Request = s.Request;
            r.Answer = s.Answer;
            r.DelayMs = s.DelayMs;
            r.DurationMs = s.DurationMs;
            r.Result = s.Result;
            r.Accepted = s.Accepted;
            r.ErrorCode = s.ErrorCode;
            r.ResultText = s.ResultText;
            ring.Add(std::move(r));
        }
        capture.push_back(Us(a, Clock::now()));
    }
    Line("capture (request thread: record + ring append)", capture);

    // Hidden panel: the one check the exchange makes.
    {
        TExchangeRing idle;
        std::vector<double> off;
        for (int i = 0; i < replayed; ++i) {
            const auto a = Clock::now();
            if (idle.Enabled())
                idle.Add(samples[0]);
            off.push_back(Us(a, Clock::now()));
        }
        Line("capture with the panel hidden (enabled check)", off);
        std::printf("  records while hidden: %d\n", idle.Size());
    }

    // Pull on the user-interface thread, the panel shown with its ring of rows full.
    TMonitorPanel panel(nullptr, &link);
    panel.resize(1200, 600);
    panel.show();
    QCoreApplication::processEvents();
    panel.chkPause->setChecked(true); // its own timer takes nothing; the pulls below are timed
    std::vector<double> pullPerExchange;
    std::vector<double> decodeOnly;
    std::vector<double> repaint;
    const int batch = 3; // about what a 5 Hz tick finds at 12 polls per second
    int fed = 0;
    while (fed < replayed) {
        for (int k = 0; k < batch; ++k, ++fed)
            link.Publisher()->Ring()->Add(samples[static_cast<size_t>(fed) % samples.size()]);
        panel.chkPause->blockSignals(true);
        panel.chkPause->setChecked(false);
        const auto a = Clock::now();
        panel.Pull();
        const auto b = Clock::now();
        panel.chkPause->setChecked(true);
        panel.chkPause->blockSignals(false);
        pullPerExchange.push_back(Us(a, b) / batch);
        if (fed % 300 == 0) {
            const auto c = Clock::now();
            panel.tblRows->viewport()->repaint();
            repaint.push_back(Us(c, Clock::now()));
        }
    }
    for (int i = 0; i < replayed; ++i) {
        const TExchangeRecord& s = samples[static_cast<size_t>(i) % samples.size()];
        const auto a = Clock::now();
        const TMonitorRow row = DecodeMonitorRow(s);
        decodeOnly.push_back(Us(a, Clock::now()));
    }
    Line("decode alone (user-interface thread)", decodeOnly);
    Line("pull: copy + decode + model append, per exchange", pullPerExchange);
    Line("repaint of the shown table (per 5 Hz tick)", repaint);
    std::printf("  rows held: %d of %d\n", panel.Model()->rowCount(), panel.Model()->Capacity());

    // The whole exchange against the simulator, the panel listening or not.
    const int n = 150;
    panel.hide();
    const std::vector<double> hidden = Exchanges(link, codes, n);
    panel.show();
    const std::vector<double> shown = Exchanges(link, codes, n);
    std::printf("exchange wall time, panel hidden: median %.3f ms, p95 %.3f ms\n",
                Percentile(hidden, 0.5), Percentile(hidden, 0.95));
    std::printf("exchange wall time, panel shown:  median %.3f ms, p95 %.3f ms\n",
                Percentile(shown, 0.5), Percentile(shown, 0.95));
    return 0;
}
