#include "uGaugeFinder.h"
#include "Ulmar.h"
#include "uGaugeIdentity.h"
#include "uPoller.h"
#include "uRequestDevices.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <algorithm>

namespace {

// A signature answer and its frame take under 16 characters on the line.
constexpr int AnswerChars = 16;
// Time for the gauge to start its answer, beyond the characters' time on the line.
constexpr int AnswerMarginMs = 80;
constexpr quint8 AnyGauge = 255;
constexpr int MinReadIntervalMs = 25;

// The time of `chars` characters of 11 bits at `baud`, in whole ms rounded up.
int CharsMs(int chars, int baud) {
    return static_cast<int>((11LL * 1000 * chars + baud - 1) / baud);
}

QString Num(int value) {
    return QString::number(value);
}

QString RateText(int baud) {
    return Num(baud) + QStringLiteral(" бод: ");
}

// The rate as the settings name it: a listed rate by its name, any other as "Custom".
void SetRate(TTransmitterSettings& s, int baud) {
    const QString name = Num(baud);
    if (TTransmitterSettings::BaudRateNames().contains(name)) {
        s.BaudRate = name;
    } else {
        s.BaudRate = QStringLiteral("Custom");
        s.CustomBaudRate = baud;
    }
}

qint64 NowMs() {
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

QStringList TFinderReport::Notes() const {
    QStringList notes;
    for (const TFinderRate& r : Rates) {
        if (r.PortFailed)
            notes << RateText(r.BaudRate) + QStringLiteral("порт не открылся с этой скоростью");
        for (const QString& note : r.Notes)
            notes << RateText(r.BaudRate) + note;
    }
    return notes;
}

TGaugeFinder::TGaugeFinder(TGaugeCommands& commands, IPollControl* poll)
    : Commands_(commands), Poll_(poll) {}

TGaugeFinder::~TGaugeFinder() {
    if (Running())
        Finish();
}

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
    SetRate(s, baud);
    s.DataBits = QStringLiteral("8");
    s.StopBits = QStringLiteral("1");
    s.Parity = QStringLiteral("None");
    s.FlowControl = QStringLiteral("None");
    // The silence that ends a read short of a whole frame: three characters, and never under
    // the latency of a USB adapter, which hands bytes over in bursts some 16 ms apart. A whole
    // answer ends by its length at once, so this costs only a garbled one.
    s.ReadInterval = std::max(MinReadIntervalMs, CharsMs(3, baud));
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
    SetRate(s, gauge.BaudRate);
    const TTransmitterSettings tried = TrySettings(base, gauge.BaudRate);
    s.DataBits = tried.DataBits;
    s.StopBits = tried.StopBits;
    s.FlowControl = tried.FlowControl;
    return s;
}

QString TGaugeFinder::GaugeText(const TFoundGauge& g) {
    return Num(g.BaudRate) + QStringLiteral(" бод, адрес ") + Num(g.SystemAddress) +
           QStringLiteral(": заводской номер ") + Num(g.PlantNumber) + QStringLiteral(", тип ") +
           Num(g.UnitType) + QStringLiteral(", АВ ") + Num(g.HardVersion) +
           QStringLiteral(", ПВ ") + Num(g.SoftVersion);
}

std::vector<quint8> TGaugeFinder::LineOf(const std::vector<TFoundGauge>& found,
                                         const TFoundGauge& chosen) {
    std::vector<quint8> line;
    for (const TFoundGauge& g : found)
        if (g.BaudRate == chosen.BaudRate && g.SystemAddress != AnyGauge &&
            std::find(line.begin(), line.end(), g.SystemAddress) == line.end())
            line.push_back(g.SystemAddress);
    return line;
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
        opened = reopen && t->OpenPort(true);
    });
    return opened;
}

void TGaugeFinder::RestoreIdentity() {
    if (!Kept_)
        return;
    const TGaugeIdentity kept = *Kept_;
    Commands_.Edit([&kept](TUlmar& u) { kept.ApplyTo(u); });
}

QString TGaugeFinder::Start(int from, int to, const std::vector<int>& rates,
                            const TTransmitterSettings* port) {
    if (Running())
        Finish();
    Report_ = {};
    StartMs_ = NowMs();
    QString refusal = TBusScan::ScanRangeRefusal(from, to);
    TDeviceLink* link = Commands_.Link();
    if (refusal.isEmpty() && (!link || !link->Transmitter()))
        refusal = QStringLiteral("Нет связи с портом");
    for (const int rate : rates)
        if (refusal.isEmpty() && (rate < 50 || rate > 4000000))
            refusal = QStringLiteral("Недопустимая скорость: ") + Num(rate);
    if (!refusal.isEmpty()) {
        Report_.Refusal = refusal;
        return refusal;
    }
    StopFlag_ = false;
    List_ = rates.empty() ? Rates() : rates;
    Index_ = 0;
    Report_.From = from;
    Report_.To = to;
    // Polling first: the cycle in flight ends before the settings and the identity are taken.
    if (Poll_)
        Pause_ = std::make_unique<TPollingPause>(*Poll_);
    KeptPort_ = link->Transmitter()->Settings();
    KeptOpen_ = link->Transmitter()->IsOpen();
    Base_ = port ? *port : KeptPort_;
    if (const TUlmar* u = Commands_.Ulmar())
        Kept_ = std::make_unique<TGaugeIdentity>(TGaugeIdentity::Of(*u));
    Running_ = true;
    return {};
}

void TGaugeFinder::Finish() {
    Scan_.reset(); // a scan cut short puts the identity back itself
    // The port's own reason while it is still the port searched on.
    bool portWorked = false;
    for (const TFinderRate& r : Report_.Rates)
        portWorked = portWorked || !r.PortFailed;
    if (!Report_.Rates.empty() && !portWorked) {
        const TDeviceLink* link = Commands_.Link();
        Report_.PortError =
            link && link->Transmitter() ? link->Transmitter()->PortStatus().Error : QString();
        if (Report_.PortError.isEmpty())
            Report_.PortError = QStringLiteral("Ошибка активации порта :") + Base_.Port;
    }
    // The port as it was found; the settings file was never written.
    UsePort(KeptPort_, KeptOpen_);
    RestoreIdentity();
    Kept_.reset();
    Running_ = false;
    Report_.ElapsedMs = NowMs() - StartMs_;
    Pause_.reset(); // polling starts again when it ran
    Commands_.Ui().Refresh();
}

QString TGaugeFinder::StatusText() const {
    if (!Running() || Index_ >= List_.size())
        return {};
    const int baud = List_[Index_];
    if (Scan_)
        return RateText(baud) + Scan_->StatusText();
    return RateText(baud) + QStringLiteral("запрос сигнатуры по адресу 255");
}

bool TGaugeFinder::Step() {
    if (!Running())
        return false;
    if (Stopping()) {
        if (Scan_) {
            // The rate's scan ends without a request; what it found so far is kept.
            Scan_->Stop();
            Scan_->Step();
            EndRate();
        }
        Report_.Stopped = true;
        Finish();
        return false;
    }
    if (Scan_) {
        if (!Scan_->Step()) {
            EndRate();
            ++Index_;
            if (Report_.Stopped) { // the scan saw the stop first
                Finish();
                return false;
            }
        }
    } else {
        ProbeRate();
        if (!Scan_)
            ++Index_;
    }
    if (Index_ >= List_.size()) {
        Finish();
        return false;
    }
    return true;
}

void TGaugeFinder::ProbeRate() {
    TDeviceLink* link = Commands_.Link();
    const int baud = List_[Index_];
    Rate_ = {};
    Rate_.BaudRate = baud;
    if (!UsePort(TrySettings(Base_, baud), true)) {
        Rate_.PortFailed = true;
        Report_.Rates.push_back(Rate_);
        return;
    }

    // Address 255 by the finder itself: the bus scan refuses it as a range. The identification
    // event is caught, and the device object is put back after the one exchange.
    Seen255_.reset();
    TExchangeReport answer;
    const bool set = Commands_.Edit([this](TUlmar& g) {
        g.SystemAddress = AnyGauge;
        g.On32 = [this](TUlmar*, quint8 address, quint8 type, quint16 plant, quint8 hard,
                        quint8 soft) {
            Seen255_ = TSignature{address, type, plant, hard, soft};
        };
    });
    if (set) {
        link->RequestExecUlmar(UlmarCmd::SignatureRead, &answer);
        ++Report_.Requests;
    }
    RestoreIdentity();
    Rate_.Answered255 = answer.Answered;
    Rate_.Garbled255 = answer.Answered && !(answer.Accepted && Seen255_);
    if (!Rate_.Answered255) {
        Report_.Rates.push_back(Rate_);
        return;
    }

    // Something is on the line at this rate: the range tells its gauges apart, one address per
    // step.
    Scan_ = std::make_unique<TBusScan>(Commands_, nullptr);
    Scan_->StopCheck = [this] { return Stopping(); };
    Scan_->OnRow = [this](const TScanRow& row) {
        if (!row.Note.isEmpty())
            Rate_.Notes << QStringLiteral("адрес ") + Num(row.Asked) + QStringLiteral(": ") +
                               row.Note;
        if (row.Identified && !row.Collision && !row.WrongAddress)
            AddGauge(TSignature{row.SystemAddress, row.UnitType, row.PlantNumber, row.HardVersion,
                                row.SoftVersion});
    };
    const QString refused = Scan_->StartScan(Report_.From, Report_.To);
    if (!refused.isEmpty()) { // the range was checked at the start: not expected
        Scan_.reset();
        Rate_.Notes << refused;
        Report_.Rates.push_back(Rate_);
    }
}

void TGaugeFinder::AddGauge(const TSignature& s) {
    for (const TFoundGauge& g : Report_.Gauges)
        if (g.BaudRate == Rate_.BaudRate && g.SystemAddress == s.SystemAddress &&
            g.PlantNumber == s.PlantNumber)
            return;
    TFoundGauge g;
    g.BaudRate = Rate_.BaudRate;
    g.SystemAddress = s.SystemAddress;
    g.PlantNumber = s.PlantNumber;
    g.UnitType = s.UnitType;
    g.HardVersion = s.HardVersion;
    g.SoftVersion = s.SoftVersion;
    Report_.Gauges.push_back(g);
    ++Rate_.Found;
    if (OnGauge)
        OnGauge(g);
}

void TGaugeFinder::EndRate() {
    // The rows' gauges and notes came through OnRow as the scan made them.
    const TBusJobReport found = Scan_->Report();
    Scan_.reset();
    Report_.Requests += found.Requests;
    Report_.Stopped = Report_.Stopped || found.Stopped;
    if (!found.Stopped && Rate_.Found == 0) {
        // One gauge outside the range still answered 255 in full.
        if (Seen255_ && !Rate_.Garbled255)
            AddGauge(*Seen255_);
        else if (Rate_.Garbled255 && found.Rows.empty())
            Rate_.Notes << QStringLiteral("по адресу 255 ответили несколько приборов, "
                                          "в диапазоне ") +
                               Num(Report_.From) + QStringLiteral("..") + Num(Report_.To) +
                               QStringLiteral(" их нет");
    }
    Report_.Rates.push_back(Rate_);
}

TFinderReport TGaugeFinder::Find(int from, int to, const std::vector<int>& rates,
                                 const std::function<void(int, const QString&)>& progress,
                                 const TTransmitterSettings* port) {
    if (!Start(from, to, rates, port).isEmpty())
        return Report_;
    do {
        if (progress)
            progress(RateIndex(), StatusText());
    } while (Step());
    return Report_;
}

bool PollFoundGauge(TDeviceLink& link, const std::vector<TFoundGauge>& found,
                    const TFoundGauge& chosen, QString* error) {
    const std::vector<quint8> line = TGaugeFinder::LineOf(found, chosen);
    bool taken = false;
    if (chosen.SystemAddress == AnyGauge) {
        taken = link.SetPollAddresses({}) &&
                link.EditDevice([](TUlmar& u) { u.SystemAddress = AnyGauge; });
    } else {
        taken = link.SetPollAddresses(line) && link.SelectGauge(chosen.SystemAddress);
    }
    if (!taken) {
        if (error)
            *error = QStringLiteral("Список опроса не принят: идёт обмен");
        return false;
    }
    if (!link.Poller()->SaveAddresses()) {
        if (error)
            *error = QStringLiteral("Список опроса не сохранён в настройках");
        return false;
    }
    return true;
}
