#include "uGaugeFinder.h"
#include "Ulmar.h"

#include <QElapsedTimer>
#include <algorithm>
#include <optional>

namespace {

// A signature answer and its frame take under 16 characters on the line.
constexpr int AnswerChars = 16;
// Time for the gauge to start its answer, beyond the characters' time on the line.
constexpr int AnswerMarginMs = 80;

// The time of `chars` characters of 11 bits at `baud`, in whole ms rounded up.
int CharsMs(int chars, int baud) {
    return static_cast<int>((11LL * 1000 * chars + baud - 1) / baud);
}

QString Num(int value) {
    return QString::number(value);
}

} // namespace

TGaugeFinder::TGaugeFinder(TGaugeCommands& commands, IPollControl* poll)
    : Commands_(commands), Poll_(poll) {}

std::vector<int> TGaugeFinder::Rates() {
    std::vector<int> rates;
    for (const QString& name : TTransmitterSettings::BaudRateNames()) {
        bool ok = false;
        const int rate = name.toInt(&ok);
        if (ok && rate > 0)
            rates.push_back(rate);
    }
    std::sort(rates.begin(), rates.end(), std::greater<int>());
    return rates;
}

TTransmitterSettings TGaugeFinder::TrySettings(const TTransmitterSettings& base, int baud) {
    TTransmitterSettings s = base;
    const QString name = Num(baud);
    if (TTransmitterSettings::BaudRateNames().contains(name)) {
        s.BaudRate = name;
    } else {
        s.BaudRate = QStringLiteral("Custom");
        s.CustomBaudRate = baud;
    }
    // The gauge's own framing: 8 data bits, 1 stop bit; the transmitter sets mark and space
    // parity itself.
    s.DataBits = QStringLiteral("8");
    s.StopBits = QStringLiteral("1");
    s.Parity = QStringLiteral("None");
    s.FlowControl = QStringLiteral("None");
    s.ReadInterval = std::max(5, CharsMs(3, baud));
    s.ReadTotalConstant = AnswerMarginMs + CharsMs(AnswerChars, baud);
    s.ReadTotalMultiplier = 0;
    // A slow rate needs its write bound: a character at 110 baud takes 100 ms.
    s.WriteTotalConstant = 100;
    s.WriteTotalMultiplier = CharsMs(1, baud) + 1;
    s.EndByLength = true;
    return s;
}

TTransmitterSettings TGaugeFinder::SettingsFor(const TTransmitterSettings& base,
                                               const TFoundGauge& gauge) {
    TTransmitterSettings s = base;
    const QString name = Num(gauge.BaudRate);
    if (TTransmitterSettings::BaudRateNames().contains(name) && name != QLatin1String("Custom")) {
        s.BaudRate = name;
    } else {
        s.BaudRate = QStringLiteral("Custom");
        s.CustomBaudRate = gauge.BaudRate;
    }
    return s;
}

QString TGaugeFinder::GaugeText(const TFoundGauge& g) {
    return Num(g.BaudRate) + QStringLiteral(" бод, адрес ") + Num(g.SystemAddress) +
           QStringLiteral(": заводской номер ") + Num(g.PlantNumber) + QStringLiteral(", тип ") +
           Num(g.UnitType) + QStringLiteral(", АВ ") + Num(g.HardVersion) +
           QStringLiteral(", ПВ ") + Num(g.SoftVersion);
}

bool TGaugeFinder::Stopping() const {
    return StopFlag_ || (StopCheck && StopCheck()) || Commands_.Ui().Closing();
}

bool TGaugeFinder::UsePort(const TTransmitterSettings& settings, bool reopen) {
    TDeviceLink* link = Commands_.Link();
    if (!link || !link->Transmitter())
        return false;
    bool opened = false;
    link->RunExclusive([&] {
        TTransmitter* t = link->Transmitter();
        t->ClosePort();
        t->SetSettings(settings);
        opened = reopen ? t->OpenPort(true) : true;
    });
    return opened;
}

TFinderReport TGaugeFinder::Find(int from, int to, const std::vector<int>& rates,
                                 const std::function<void(int, const QString&)>& progress) {
    TFinderReport report;
    QElapsedTimer clock;
    clock.start();
    report.Refusal = TBusScan::ScanRangeRefusal(from, to);
    TDeviceLink* link = Commands_.Link();
    if (report.Refusal.isEmpty() && (!link || !link->Transmitter()))
        report.Refusal = QStringLiteral("Нет связи с портом");
    if (!report.Refusal.isEmpty())
        return report;
    StopFlag_ = false;
    const std::vector<int> list = rates.empty() ? Rates() : rates;

    // Polling first: the cycle in flight ends before the settings are taken.
    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);
    const TTransmitterSettings kept = link->Transmitter()->Settings();
    const bool wasOpen = link->Transmitter()->IsOpen();

    for (size_t i = 0; i < list.size() && !report.Stopped; ++i) {
        const int baud = list[i];
        const auto status = [&progress, i](const QString& text) {
            if (progress)
                progress(static_cast<int>(i), text);
        };
        status(Num(baud) + QStringLiteral(" бод: запрос сигнатуры по адресу 255"));
        if (Stopping()) {
            report.Stopped = true;
            break;
        }
        TryRate(baud, from, to, report, status);
    }

    // The port as it was found; the settings file was never written.
    UsePort(kept, wasOpen);
    pause.reset();
    Commands_.Ui().Refresh();
    report.ElapsedMs = clock.elapsed();
    return report;
}

void TGaugeFinder::TryRate(int baud, int from, int to, TFinderReport& report,
                           const std::function<void(const QString&)>& status) {
    TDeviceLink* link = Commands_.Link();
    TFinderRate rate;
    rate.BaudRate = baud;
    if (!UsePort(TrySettings(link->Transmitter()->Settings(), baud), true)) {
        rate.PortFailed = true;
        report.Rates.push_back(rate);
        return;
    }

    // Address 255 through the bus scan's own exchange: a one-address scan of 255 is refused
    // there, so the request is made here with the identification event caught.
    std::optional<TSignature> seen;
    TExchangeReport answer;
    {
        TUlmar* u = Commands_.Ulmar();
        const quint8 keptAddress = u ? u->SystemAddress : 0;
        const TOn32 keptOn32 = u ? u->On32 : TOn32();
        Commands_.Edit([&seen](TUlmar& g) {
            g.SystemAddress = 255;
            g.On32 = [&seen](TUlmar*, quint8 address, quint8 type, quint16 plant, quint8 hard,
                             quint8 soft) {
                seen = TSignature{address, type, plant, hard, soft};
            };
        });
        link->RequestExecUlmar(UlmarCmd::SignatureRead, &answer);
        ++report.Requests;
        Commands_.Edit([&](TUlmar& g) {
            g.SystemAddress = keptAddress;
            g.On32 = keptOn32;
        });
    }
    rate.Answered255 = answer.Answered;
    rate.Garbled255 = answer.Answered && !(answer.Accepted && seen);
    if (!rate.Answered255) {
        report.Rates.push_back(rate);
        return;
    }

    // Something is on the line at this rate: the range tells its gauges apart.
    TBusScan scan(Commands_, nullptr);
    scan.StopCheck = [this] { return Stopping(); };
    const TBusJobReport found = scan.Scan(from, to, [&](int, const QString& text) {
        status(Num(baud) + QStringLiteral(" бод: ") + text);
    });
    report.Requests += found.Requests;
    if (found.Stopped)
        report.Stopped = true;
    auto add = [&](const TSignature& s) {
        for (const TFoundGauge& g : report.Gauges)
            if (g.BaudRate == baud && g.SystemAddress == s.SystemAddress &&
                g.PlantNumber == s.PlantNumber)
                return;
        TFoundGauge g;
        g.BaudRate = baud;
        g.BaudRateName = Num(baud);
        g.SystemAddress = s.SystemAddress;
        g.PlantNumber = s.PlantNumber;
        g.UnitType = s.UnitType;
        g.HardVersion = s.HardVersion;
        g.SoftVersion = s.SoftVersion;
        report.Gauges.push_back(g);
        ++rate.Found;
        if (OnGauge)
            OnGauge(g);
    };
    for (const TScanRow& row : found.Rows) {
        if (!row.Note.isEmpty())
            rate.Notes << QStringLiteral("адрес ") + Num(row.Asked) + QStringLiteral(": ") +
                              row.Note;
        if (row.Identified && !row.Collision && !row.WrongAddress)
            add(TSignature{row.SystemAddress, row.UnitType, row.PlantNumber, row.HardVersion,
                           row.SoftVersion});
    }
    // One gauge outside the range still answered 255 in full.
    if (rate.Found == 0 && seen && !rate.Garbled255 && !found.Stopped)
        add(*seen);
    if (rate.Found == 0 && rate.Garbled255 && !found.Stopped)
        rate.Notes << QStringLiteral("по адресу 255 ответили несколько приборов, в диапазоне ") +
                          Num(from) + QStringLiteral("..") + Num(to) + QStringLiteral(" их нет");
    report.Rates.push_back(rate);
}
