#pragma once
// The link's record of its exchanges for the traffic monitor: one record per exchange (the
// bytes as sent and as received, the timings, the outcome) kept in a bounded ring. The
// exchanging thread adds a record only while someone listens; a listener copies the new
// records out and decodes them on its own thread, so the line never waits for a decode.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// One exchange as the link saw it.
struct TExchangeRecord {
    quint64 Sequence = 0;   // 1, 2, … in the order of the exchanges; set by the ring
    qint64 TimeMs = 0;      // wall clock at the request, ms since the epoch
    int Device = 0;         // 0 gauge, 1 КАЛИСТ-1 current meter
    int Code = -1;          // the request code (TUlmar::BuildRequest code), -1 unknown
    QByteArray Request;     // bytes sent (checksum included)
    QByteArray Answer;      // bytes received (may be empty, cut or garbled)
    double DelayMs = -1;    // end of the request → first answer byte; -1 none
    double DurationMs = -1; // first → last answer byte; -1 none
    int Result = -1;        // the exchange's result: 0 an answer that is not an error answer
    int ErrorCode = 0;      // the device object's error code after the parse
    bool Accepted = false;  // the parser took the answer without recording a failure
    QString ResultText;     // the device object's result text, then the link's own errors
};

// The last Capacity records, oldest first. Add and the copies are safe from any thread.
class TExchangeRing {
public:
    static constexpr int DefaultCapacity = 2000;
    explicit TExchangeRing(int capacity = DefaultCapacity);

    // A listener counts while it wants records (a shown monitor panel, a benchmark); with no
    // listener the exchanging thread skips the record entirely (one atomic load).
    void AddListener();
    void RemoveListener();
    bool Enabled() const { return Listeners_.load(std::memory_order_relaxed) > 0; }

    // Stores a copy at the end, dropping the oldest beyond the capacity; sets its Sequence.
    void Add(TExchangeRecord record);
    // The records newer than `after` (a Sequence), oldest first; `after` becomes the newest
    // Sequence handed out. Records dropped before the call are lost to the caller.
    std::vector<TExchangeRecord> TakeSince(quint64& after) const;
    // Every record held, oldest first.
    std::vector<TExchangeRecord> Snapshot() const;
    void Clear();
    int Size() const;
    int Capacity() const { return Capacity_; }
    // The Sequence of the newest record ever added (0 before the first).
    quint64 LastSequence() const;

private:
    const int Capacity_;
    std::atomic<int> Listeners_{0};
    mutable std::mutex Mutex_;
    std::deque<TExchangeRecord> Records_;
    quint64 Next_ = 1;
};

// RAII listener: enables the ring for its lifetime and keeps it alive meanwhile.
class TExchangeListener {
public:
    explicit TExchangeListener(std::shared_ptr<TExchangeRing> ring) : Ring_(std::move(ring)) {
        if (Ring_)
            Ring_->AddListener();
    }
    ~TExchangeListener() {
        if (Ring_)
            Ring_->RemoveListener();
    }
    TExchangeListener(const TExchangeListener&) = delete;
    TExchangeListener& operator=(const TExchangeListener&) = delete;
    TExchangeRing* Ring() const { return Ring_.get(); }

private:
    std::shared_ptr<TExchangeRing> Ring_;
};
