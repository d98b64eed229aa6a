#pragma once
// The gauges of the line by their bus address: for each gauge that has been polled, its
// exchange counts, whether its signature is known, and (while it is not the current gauge) a
// device model of its own that keeps its readings and parameters. The current gauge's state
// lives in the link's one device model, which the windows and commands work with.
// Records are made on first use and never removed while the set lives, so a pointer to one
// stays valid. A record's Model is made, moved and read on the user-interface thread or under
// the exchange lock (see TDeviceLink).

#include "Ulmar.h"
#include <QtGlobal>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// What the exchanges with one gauge came to.
struct TGaugeStats {
    quint64 Polls = 0;     // exchanges with the gauge
    quint64 Good = 0;      // of them answered and accepted
    qint64 LastGoodMs = 0; // ms since 1970 of the last accepted answer; 0: none yet
    bool Silent = false;   // the last exchange got no accepted answer
};

class TGaugeRecord {
public:
    explicit TGaugeRecord(quint8 address) : Address(address) {}
    const quint8 Address;
    // The gauge's own device model while another gauge is the current one.
    std::unique_ptr<TUlmar> Model;
    // The signature (plant number, versions) has been read since the gauge joined the list.
    std::atomic<bool> SignatureKnown{false};

    // Any thread: counts one exchange.
    void Count(bool accepted, qint64 nowMs) {
        std::lock_guard lock(Mutex_);
        ++Stats_.Polls;
        Stats_.Silent = !accepted;
        if (accepted) {
            ++Stats_.Good;
            Stats_.LastGoodMs = nowMs;
        }
    }
    TGaugeStats Stats() const {
        std::lock_guard lock(Mutex_);
        return Stats_;
    }

private:
    mutable std::mutex Mutex_;
    TGaugeStats Stats_;
};

class TGaugeSet {
public:
    // Any thread: the record of an address, or null before its first use.
    TGaugeRecord* Find(quint8 address) const {
        std::lock_guard lock(Mutex_);
        for (const auto& record : Records_)
            if (record->Address == address)
                return record.get();
        return nullptr;
    }
    // Any thread: the record of an address, made when missing.
    TGaugeRecord& Get(quint8 address) {
        std::lock_guard lock(Mutex_);
        for (const auto& record : Records_)
            if (record->Address == address)
                return *record;
        Records_.push_back(std::make_unique<TGaugeRecord>(address));
        return *Records_.back();
    }

private:
    mutable std::mutex Mutex_;
    std::vector<std::unique_ptr<TGaugeRecord>> Records_;
};
