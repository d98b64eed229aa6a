#pragma once
// Polling: the pacing timer "ctReqDevices" with its saved settings (INI/Timer.ini), the running
// state and the poll list. Every tick of the timer starts one request cycle on the link's
// request thread; the cycle takes the next enabled entry of the poll list in turn (round robin),
// so several gauges, each an entry of its own, can share the line later.
// Polling starts stopped whatever the settings file says. Made and owned by the device link.
// User-interface thread, except where a line says otherwise.

#include "uCustomTimer.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TDeviceLink;

// A poll list as typed or kept in the settings: bus addresses 0 to 254 separated by commas,
// spaces or semicolons ("1,3,7"); a repeated address is taken once, in its first place.
// Nothing (an empty list) for an empty text; no value for anything else (the broadcast
// address 255, a word, a number out of range).
std::optional<std::vector<quint8>> ParsePollAddresses(const QString& text);
// The list as the settings keep it: "1,3,7".
QString PollAddressesText(const std::vector<quint8>& addresses);

// One entry of the poll list: kind 0 a gauge, kind 1 the КАЛИСТ-1 current meter.
struct TListDevice {
    quint8 Kind = 0;
    qint32 Number = 0;
    std::atomic<bool> Enabled{false}; // read by the request thread, set by the windows
    QString Name;
};

class TPoller : public QObject {
    Q_OBJECT
public:
    // The timer with its saved settings, stopped; an empty poll list. link: whose request
    // thread the ticks resume; null ticks nothing.
    explicit TPoller(TDeviceLink* link, QObject* parent = nullptr);
    ~TPoller() override;
    TPoller(const TPoller&) = delete;
    TPoller& operator=(const TPoller&) = delete;

    // Polling runs: started and not stopped since. Not paused by a tick. Any thread.
    bool Running() const { return Running_.load(); }
    // The tick period in ms. Any thread.
    int Interval() const { return Timer_->Interval(); }
    // The interval dialog's result: the period taken and saved with the running state
    // ("Enabled" and "Interval" under [ctReqDevices]).
    void ChangeInterval(int ms);
    // While held, a tick pauses the timer and starts nothing, the running state staying as it
    // is: the main window holds the ticks from its close on, and releases them when it starts.
    void HoldTicks(bool hold) { Held_ = hold; }

    // The poll list, in polling order. Built at start-up; its entries' Enabled flags may change
    // from any thread.
    std::vector<std::unique_ptr<TListDevice>> DeviceList;
    // Any thread: some entry is enabled.
    bool AnyDeviceEnabled() const;
    // Request thread: moves on to the next enabled entry after the current one (wrapping) and
    // returns its index; -1 when none is enabled.
    int NextDevice();
    // The index of the entry polled last (0 before the first cycle). Any thread.
    int Position() const { return Position_.load(); }

    // The addresses of the gauges that the gauge entry polls in turn, each with one reading poll
    // per cycle; empty: the current gauge alone, at its own address, with every selected code
    // (the program as it always was). Any thread.
    std::vector<quint8> Addresses() const;
    // Takes the list; the device link's SetPollAddresses calls it. Any thread.
    void SetAddresses(std::vector<quint8> addresses);
    // The list kept in the settings file of the timer (section "PollList", key "Addresses"):
    // empty when the file or the key is missing or holds no valid list.
    std::vector<quint8> LoadAddresses() const;
    // Keeps the list there; false when the file could not be written.
    bool SaveAddresses() const;

    // The timer itself (its name and settings file); the poller drives it.
    TCustomTimer* Timer() const { return Timer_.get(); }

public slots:
    // Starts the timer; runningChanged(true).
    void Start();
    // Stops the timer and waits until the cycle in flight (if any) has ended, so that nothing
    // of it is on the line afterwards; runningChanged(false).
    void Stop();

signals:
    // After every Start and Stop, with the state then in force (a Stop while stopped tells it
    // again, so that whatever follows the state refreshes as the stop always did).
    void runningChanged(bool running);
    // After every tick that started a cycle, before the timer goes on (the windows refresh).
    void ticked();

private:
    // One tick: pause the timer, start one cycle, tell, resume the timer; with nothing enabled
    // in the poll list polling stops.
    void Tick();

    TDeviceLink* Link_;
    std::unique_ptr<TCustomTimer> Timer_;
    std::atomic<bool> Running_{false};
    std::atomic<int> Position_{0};
    bool Held_ = false;
    mutable std::mutex AddressesMutex_;
    std::vector<quint8> Addresses_;
};
