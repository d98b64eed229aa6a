#include "uCustomTimer.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <exception>
#include <limits>

TCustomTimer::TCustomTimer(QObject* parent) : QObject(parent), Timer_(this) {
    setObjectName(Name_);
    Timer_.setInterval(DefaultInterval);
    connect(&Timer_, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer(this);
    });
}

TCustomTimer::~TCustomTimer() {
    Timer_.stop();
}

void TCustomTimer::SetName(const QString& name) {
    Name_ = name;
    setObjectName(name);
}

void TCustomTimer::SetInterval(int ms) {
    if (ms < 1)
        return;
    Interval_ = ms;
    ApplyTimer();
}

void TCustomTimer::SetEnabled(bool enabled) {
    Enabled_ = enabled;
    ApplyTimer();
}

void TCustomTimer::ApplyTimer() {
    // A QTimer may only be driven from its own thread; a call from elsewhere is forwarded.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this] { ApplyTimer(); }, Qt::QueuedConnection);
        return;
    }
    const int interval = Interval_.load();
    if (Timer_.interval() != interval)
        Timer_.setInterval(interval);
    if (Enabled_.load() && !Timer_.isActive())
        Timer_.start();
    else if (!Enabled_.load() && Timer_.isActive())
        Timer_.stop();
}

QString TCustomTimer::SettingsPath() const {
    return JoinPath(StartIniDir(), SettingsFileName_);
}

void TCustomTimer::LoadSettings() {
    bool enabled = false;
    int interval = DefaultInterval;
    const QString path = SettingsPath();
    // Without the "INI" directory the settings file is unusable: the defaults apply.
    if (QFileInfo(path).dir().exists()) {
        try {
            EnsureFileExists(path);
        } catch (const std::exception&) {
        }
        const TIniFile ini(path);
        enabled = ini.ReadBool(Name_, QStringLiteral("Enabled"), false);
        const qint64 value = ini.ReadInteger(Name_, QStringLiteral("Interval"), DefaultInterval);
        // A period the timer cannot keep is treated as unreadable.
        if (value >= 1 && value <= std::numeric_limits<int>::max())
            interval = static_cast<int>(value);
    }
    Interval_ = interval;
    Enabled_ = enabled;
    ApplyTimer();
}

void TCustomTimer::SaveSettings() {
    TIniFile ini(SettingsPath());
    ini.WriteBool(Name_, QStringLiteral("Enabled"), Enabled());
    ini.WriteInteger(Name_, QStringLiteral("Interval"), Interval());
    ini.Save(false);
}

void TCustomTimer::Start() {
    SetEnabled(true);
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomTimer::Stop() {
    SetEnabled(false);
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomTimer::SetBusy(bool busy) {
    SetEnabled(!busy);
}
