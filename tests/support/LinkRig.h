#pragma once
// A device link on a real pseudo-terminal served by the gauge simulator, in temporary program
// and working directories. Built and destroyed on the test's main thread, which plays the
// user-interface thread.

#include "Ulmar.h"
#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uSimServer.h"

#include <QDate>
#include <QFile>
#include <QStringList>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <optional>

// Transmitter time-outs written to ComPort.ini before the link starts; with TimerSaved set,
// also the pacing timer's Timer.ini (period 100 ms, enabled as given).
struct TRigTimeouts {
    int ReadInterval = 5;
    int ReadTotalConstant = 100;
    int ReadTotalMultiplier = 1;
    std::optional<bool> TimerSaved;
};

// One simulated gauge on the line: its system address and plant number.
struct TSimGaugeAt {
    quint8 Address;
    quint16 Plant;
};

// Replaces the simulated gauges on the line with the ones given, in that order.
inline void SetSimGauges(TSimServer& sim, std::initializer_list<TSimGaugeAt> gauges) {
    sim.WithSim([&gauges](TGaugeSim& s) {
        s.Gauges.clear();
        for (const TSimGaugeAt& g : gauges)
            s.Gauges.emplace_back(g.Address, g.Plant);
    });
}

// Requests the simulator has answered or ignored since it started.
inline int SimRequests(TSimServer& sim) {
    int n = 0;
    sim.WithSim([&n](TGaugeSim& s) { n = s.Requests; });
    return n;
}

class TLinkRig {
public:
    // gauges: the simulated gauges on the line, at addresses 1, 2, … (plant numbers 1001, …).
    explicit TLinkRig(const TRigTimeouts& timeouts = {}, int answerDelayMs = 1,
                      const QString& portOverride = {}, int gauges = 1) {
        Sim = std::make_unique<TSimServer>(std::make_unique<TGaugeSim>(gauges));
        SimStarted = Sim->Start();
        Sim->SetAnswerDelay(answerDelayMs);
        TIniFile ini(JoinPath(JoinPath(Dirs.Work(), "INI"), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port",
                        portOverride.isEmpty() ? Sim->PortName() : portOverride);
        ini.WriteInteger("Transmitter", "ReadInterval", timeouts.ReadInterval);
        ini.WriteInteger("Transmitter", "ReadTotalConstant", timeouts.ReadTotalConstant);
        ini.WriteInteger("Transmitter", "ReadTotalMultiplier", timeouts.ReadTotalMultiplier);
        ini.Save(false);
        if (timeouts.TimerSaved) {
            TIniFile timer(JoinPath(JoinPath(Dirs.Work(), "INI"), "Timer.ini"));
            timer.WriteInteger("ctReqDevices", "Enabled", *timeouts.TimerSaved ? 1 : 0);
            timer.WriteInteger("ctReqDevices", "Interval", 100);
            timer.Save(false);
        }

        Ulmar = std::make_unique<TUlmar>();
        Ulmar->Name = "Ulmar";
        Ulmar->SetErrorMax(1);
        Ulmar->Description->Title = "УЛМАР-50";
        Ulmar->SystemAddress = 1;
        TDeviceLinkOptions options;
        options.OnMessage = [this](const QString& caption, const QString& text) {
            Messages << caption + "|" + text;
        };
        Link = std::make_unique<TDeviceLink>(Ulmar.get(), std::unique_ptr<ISerialPort>(), options);
    }
    ~TLinkRig() {
        Link.reset();
        Ulmar.reset();
        Sim.reset();
    }

    // The link's words for a silent line: the port and the rate it listened on.
    QString NoAnswerText() const {
        return QStringLiteral("Нет ответа от устройства (") + Link->Transmitter()->Settings().Port +
               QStringLiteral(", 9600 бод)");
    }

    QString LogPath() const {
        return JoinPath(Dirs.Work(), "rd" + QDate::currentDate().toString("yyMMdd") + ".txt");
    }
    // The log lines without their time stamp "dd.mm.yyyy hh:nn:ss,zzz ".
    QStringList LogBodies() const {
        QFile f(LogPath());
        QStringList bodies;
        if (!f.open(QIODevice::ReadOnly))
            return bodies;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (!line.isEmpty())
                bodies << QString::fromUtf8(line).mid(24).chopped(line.endsWith('\r') ? 1 : 0);
        return bodies;
    }
    QByteArray LastRequest() const {
        const auto records = Sim->Records();
        return records.empty() ? QByteArray() : records.back().Request;
    }
    QByteArray LastAnswer() const {
        const auto records = Sim->Records();
        return records.empty() ? QByteArray() : records.back().Answer;
    }
    // Polling as the program runs it: the poller's pacing timer resumes the request thread
    // every intervalMs; cycles counts the cycles that ended.
    void StartPolling(std::atomic<int>& cycles, int intervalMs = 100) {
        Link->CycleDone = [&cycles](const QString&) { cycles.fetch_add(1); };
        Link->Poller()->Timer()->SetInterval(intervalMs);
        Link->Poller()->Start();
    }
    // Fixed product level and parameter values, so that parsed values can be checked.
    void FixGauge(double level) {
        Sim->WithSim([level](TGaugeSim& sim) { sim.Gauges[0].SetLevel(level); });
    }

    TTestDirs Dirs;
    std::unique_ptr<TSimServer> Sim;
    bool SimStarted = false;
    std::unique_ptr<TUlmar> Ulmar;
    std::unique_ptr<TDeviceLink> Link;
    QStringList Messages;
};
