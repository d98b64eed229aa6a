#pragma once
// Polling seen from a command sequence: whether polling runs, stop it (returning once the cycle
// in flight has ended, so nothing of it is on the line afterwards) and start it again.
// TTimerPollControl does it with the link's poller, whose runningChanged the main window's start
// and stop actions and its edit commands follow; a test may give its own.
// User-interface thread.

class TDeviceLink;

class IPollControl {
public:
    virtual ~IPollControl() = default;
    virtual bool PollingRunning() const = 0;
    virtual void StopPolling() = 0;
    virtual void StartPolling() = 0;
};

// The link's poller; a null link never polls.
class TTimerPollControl : public IPollControl {
public:
    explicit TTimerPollControl(TDeviceLink* link) : Link_(link) {}
    bool PollingRunning() const override;
    void StopPolling() override;
    void StartPolling() override;

private:
    TDeviceLink* Link_;
};

// Stops polling for its lifetime and starts it again at the end when it ran before, so a
// sequence of commands never runs interleaved with a poll cycle.
class TPollingPause {
public:
    explicit TPollingPause(IPollControl& control)
        : Control_(control), WasRunning_(control.PollingRunning()) {
        Control_.StopPolling();
    }
    ~TPollingPause() {
        if (WasRunning_)
            Control_.StartPolling();
    }
    TPollingPause(const TPollingPause&) = delete;
    TPollingPause& operator=(const TPollingPause&) = delete;
    bool WasRunning() const { return WasRunning_; }

private:
    IPollControl& Control_;
    bool WasRunning_;
};
