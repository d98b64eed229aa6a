#include "uPoller.h"
#include "uIniFile.h"
#include "uRequestDevices.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace {
const QString PollListSection = QStringLiteral("PollList");
const QString PollListKey = QStringLiteral("Addresses");
} // namespace

std::optional<std::vector<quint8>> ParsePollAddresses(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    std::vector<quint8> addresses;
    for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint value = word.toUInt(&ok, 10);
        if (!ok || value > 254)
            return std::nullopt;
        const auto address = static_cast<quint8>(value);
        if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    }
    return addresses;
}

QString PollAddressesText(const std::vector<quint8>& addresses) {
    QStringList words;
    for (const quint8 address : addresses)
        words << QString::number(address);
    return words.join(QLatin1Char(','));
}

TPoller::TPoller(TDeviceLink* link, QObject* parent)
    : QObject(parent), Link_(link), Timer_(std::make_unique<TCustomTimer>()) {
    Timer_->SetName(QStringLiteral("ctReqDevices"));
    Timer_->LoadSettings();
    // The saved "Enabled" is written back as it stands, but polling always starts stopped.
    Timer_->SetEnabled(false);
    Timer_->OnTimer = [this](TCustomTimer*) { Tick(); };
}

TPoller::~TPoller() {
    Timer_->OnTimer = nullptr;
    Timer_->SetEnabled(false);
}

void TPoller::ChangeInterval(int ms) {
    Timer_->SetInterval(ms);
    Timer_->SaveSettings();
}

bool TPoller::AnyDeviceEnabled() const {
    for (const auto& device : DeviceList)
        if (device && device->Enabled.load())
            return true;
    return false;
}

int TPoller::NextDevice() {
    const int count = static_cast<int>(DeviceList.size());
    if (count == 0)
        return -1;
    int p = Position_.load();
    // At most one round: with no entry enabled there is nothing to poll.
    for (int i = 0; i < count; ++i) {
        p = (p >= 0 && p < count - 1) ? p + 1 : 0;
        if (DeviceList[p] && DeviceList[p]->Enabled.load()) {
            Position_ = p;
            return p;
        }
    }
    Position_ = p;
    return -1;
}

std::vector<quint8> TPoller::Addresses() const {
    std::lock_guard lock(AddressesMutex_);
    return Addresses_;
}

void TPoller::SetAddresses(std::vector<quint8> addresses) {
    std::lock_guard lock(AddressesMutex_);
    Addresses_ = std::move(addresses);
}

std::vector<quint8> TPoller::LoadAddresses() const {
    const TIniFile ini(Timer_->SettingsPath());
    return ParsePollAddresses(ini.ReadString(PollListSection, PollListKey, QString()))
        .value_or(std::vector<quint8>());
}

bool TPoller::SaveAddresses() const {
    TIniFile ini(Timer_->SettingsPath());
    ini.WriteString(PollListSection, PollListKey, PollAddressesText(Addresses()));
    return ini.Save(false);
}

void TPoller::Start() {
    Timer_->Start();
    Running_ = Timer_->IsRunning();
    emit runningChanged(Running_.load());
}

void TPoller::Stop() {
    Timer_->Stop();
    // The edit commands come back only once the cycle in flight has ended.
    if (Link_)
        Link_->WaitCycleEnd();
    Running_ = false;
    emit runningChanged(false);
}

void TPoller::Tick() {
    Timer_->SetBusy(true);
    if (Held_ || !Link_)
        return;
    if (!AnyDeviceEnabled()) {
        Stop();
        return;
    }
    Link_->ResumeRequestThread();
    emit ticked();
    // A stop from inside the refresh stays a stop.
    if (Running_.load())
        Timer_->SetBusy(false);
}
