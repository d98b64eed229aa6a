#pragma once
// Pacing timer of the poll cycle: a QTimer ticking on the user-interface thread with a name
// (its settings section), settings kept in INI/<SettingsFileName> under the start directory.
// User-interface thread, except Tag, IsRunning and Interval, which any thread may read.

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>

class TCustomTimer : public QObject {
    Q_OBJECT
public:
    explicit TCustomTimer(QObject* parent = nullptr);
    ~TCustomTimer() override;

    // Also the section name in the settings file.
    const QString& Name() const { return Name_; }
    void SetName(const QString& name);

    // Tick period in ms; values below 1 are ignored.
    int Interval() const { return Interval_.load(); }
    void SetInterval(int ms);
    bool Enabled() const { return Enabled_.load(); }
    void SetEnabled(bool enabled);

    const QString& SettingsFileName() const { return SettingsFileName_; }
    void SetSettingsFileName(const QString& name) { SettingsFileName_ = name; }
    // JoinPath(StartIniDir(), SettingsFileName()).
    QString SettingsPath() const;

    // Reads "Enabled" and "Interval" from the section named like the timer, creating an empty
    // settings file when none exists. An unusable file gives the defaults (disabled, 200 ms).
    void LoadSettings();
    // Writes "Enabled" (0/1) and "Interval"; does nothing when the "INI" directory is missing.
    void SaveSettings();

    // Enabled := true / false, then OnStateChange.
    void Start();
    void Stop();
    // Enabled := !busy without OnStateChange: the tick handler pauses the timer with it.
    void SetBusy(bool busy);
    bool IsRunning() const { return Enabled(); }

    // Called by Start and Stop; skipped when unassigned.
    std::function<void(TCustomTimer*)> OnStateChange;
    // Called on every tick; skipped when unassigned.
    std::function<void(TCustomTimer*)> OnTimer;
    // Free integer; the request cycle keeps its round-robin position in it.
    std::atomic<int> Tag{0};

    static constexpr int DefaultInterval = 200;

private:
    // Brings the QTimer in line with Enabled and Interval, on the timer's own thread.
    void ApplyTimer();

    QString Name_ = QStringLiteral("CustomTimer");
    QString SettingsFileName_ = QStringLiteral("Timer.ini");
    std::atomic<int> Interval_{DefaultInterval};
    std::atomic<bool> Enabled_{false};
    QTimer Timer_;
};
