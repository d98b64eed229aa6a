#pragma once
// The link's one channel for its exchanges: every exchange becomes one TExchangeRecord that the
// exchanging thread publishes once, in the order of the exchanges (the exchange lock orders
// them). The publisher hands it on three ways:
// - the sink (the request log) is called at once on the exchanging thread, so that no line is
//   lost at an orderly exit and the lines keep the order of the exchanges;
// - the ring keeps the last records for the traffic monitor, only while someone listens; a
//   listener copies the new records out and decodes them on its own thread, so the line never
//   waits for a decode;
// - the signal `exchanged` delivers every record on the user-interface thread, in order, once
//   each, while anything is connected to it (the link window): at once when the exchange ran on
//   that thread, through a queued call otherwise.

#include "uExchangeRecord.h"

#include <QObject>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

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

// The link window's statistics: they start at 0, outlive the window (they live as long as the
// link) and are reset only by the window's "Сброс". User-interface thread.
struct TExchangeStatistics {
    qint64 Requests = 0;
    qint64 Answers = 0;
};

// Construct and destroy on the user-interface thread (the thread `exchanged` is delivered on);
// Publish from any thread; the rest as each line says.
class TExchangePublisher : public QObject {
    Q_OBJECT
public:
    // Records waiting for `exchanged` beyond this many drop the oldest first (the user-interface
    // thread then lags more than a ring's worth of exchanges behind the line).
    static constexpr int PendingCapacity = TExchangeRing::DefaultCapacity;

    explicit TExchangePublisher(QObject* parent = nullptr);
    ~TExchangePublisher() override;

    // Any thread, one record per exchange in the order of the exchanges: the sink, then the
    // ring while it has a listener, then `exchanged` while it has a receiver.
    void Publish(TExchangeRecord record);
    // User-interface thread: emits `exchanged` for every record waiting, oldest first. A record
    // published meanwhile (also from inside a receiver) goes out in the same pass.
    void Deliver();

    // Set before the first exchange and not changed while a request thread lives; called on
    // the exchanging thread, must not block for long (the request log's line).
    std::function<void(const TExchangeRecord& record)> Sink;
    // The monitor's ring; shared, so that a listener may outlive the publisher.
    const std::shared_ptr<TExchangeRing>& Ring() const { return Ring_; }
    // The port's parity after the last published exchange that had one; -1 before. Any thread.
    int LastParity() const { return LastParity_.load(); }
    // Records that `exchanged` never delivered because its queue was full; any thread.
    quint64 DroppedCount() const { return Dropped_.load(); }
    // The link window's counters (user-interface thread).
    TExchangeStatistics Statistics;

signals:
    // User-interface thread: every record published while a receiver was connected, once, in
    // order.
    void exchanged(const TExchangeRecord& record);

private slots:
    // The queued call of a Publish from another thread.
    void DeliverQueued();

private:
    bool OnOwnThread() const;
    // Something is connected to `exchanged`.
    bool Received() const;

    const std::shared_ptr<TExchangeRing> Ring_ = std::make_shared<TExchangeRing>();
    std::atomic<int> LastParity_{-1};
    std::atomic<quint64> Dropped_{0};
    std::mutex Mutex_;                    // guards Pending_ and Posted_
    std::deque<TExchangeRecord> Pending_; // waiting for `exchanged`, oldest first
    bool Posted_ = false;                 // a queued Deliver is on its way
    bool Delivering_ = false;             // user-interface thread only
};
