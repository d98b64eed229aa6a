#include "uExchangePublisher.h"

#include <QMetaMethod>
#include <QThread>
#include <algorithm>

// --- TExchangeRing ---

TExchangeRing::TExchangeRing(int capacity) : Capacity_(std::max(1, capacity)) {}

void TExchangeRing::AddListener() {
    Listeners_.fetch_add(1);
}

void TExchangeRing::RemoveListener() {
    // Never below zero, whatever an unbalanced caller does.
    int current = Listeners_.load();
    while (current > 0 && !Listeners_.compare_exchange_weak(current, current - 1)) {
    }
}

void TExchangeRing::Add(TExchangeRecord record) {
    std::lock_guard lock(Mutex_);
    record.Sequence = Next_++;
    if (static_cast<int>(Records_.size()) >= Capacity_)
        Records_.pop_front();
    Records_.push_back(std::move(record));
}

std::vector<TExchangeRecord> TExchangeRing::TakeSince(quint64& after) const {
    std::vector<TExchangeRecord> out;
    std::lock_guard lock(Mutex_);
    if (Records_.empty() || Records_.back().Sequence <= after)
        return out;
    // Sequences are consecutive within the ring: the first new record is found by arithmetic.
    const quint64 first = Records_.front().Sequence;
    const size_t start = after < first ? 0 : static_cast<size_t>(after - first + 1);
    out.reserve(Records_.size() - start);
    for (size_t i = start; i < Records_.size(); ++i)
        out.push_back(Records_[i]);
    after = Records_.back().Sequence;
    return out;
}

std::vector<TExchangeRecord> TExchangeRing::Snapshot() const {
    std::lock_guard lock(Mutex_);
    return std::vector<TExchangeRecord>(Records_.begin(), Records_.end());
}

void TExchangeRing::Clear() {
    std::lock_guard lock(Mutex_);
    Records_.clear();
}

int TExchangeRing::Size() const {
    std::lock_guard lock(Mutex_);
    return static_cast<int>(Records_.size());
}

quint64 TExchangeRing::LastSequence() const {
    std::lock_guard lock(Mutex_);
    return Next_ - 1;
}

// --- TExchangePublisher ---

TExchangePublisher::TExchangePublisher(QObject* parent) : QObject(parent) {}

TExchangePublisher::~TExchangePublisher() = default;

bool TExchangePublisher::OnOwnThread() const {
    return QThread::currentThread() == thread();
}

bool TExchangePublisher::Received() const {
    // Qt's own lock-free check, the one every emit makes: any thread.
    static const QMetaMethod signal = QMetaMethod::fromSignal(&TExchangePublisher::exchanged);
    return isSignalConnected(signal);
}

void TExchangePublisher::Publish(TExchangeRecord record) {
    if (record.Parity >= 0)
        LastParity_ = record.Parity;
    if (Sink)
        Sink(record);
    if (Ring_->Enabled())
        Ring_->Add(record);
    if (!Received())
        return;
    bool post = false;
    {
        std::lock_guard lock(Mutex_);
        if (static_cast<int>(Pending_.size()) >= PendingCapacity) {
            Pending_.pop_front();
            Dropped_.fetch_add(1);
        }
        Pending_.push_back(std::move(record));
        if (!Posted_ && !OnOwnThread()) {
            Posted_ = true;
            post = true;
        }
    }
    // On its own thread the record goes out now, after any that the request thread published
    // before it; from another thread one queued call delivers everything waiting by then.
    if (OnOwnThread())
        Deliver();
    else if (post)
        // By name, not with a functor: nothing allocated here is read on the other thread.
        QMetaObject::invokeMethod(this, "DeliverQueued", Qt::QueuedConnection);
}

void TExchangePublisher::DeliverQueued() {
    {
        std::lock_guard lock(Mutex_);
        Posted_ = false;
    }
    Deliver();
}

void TExchangePublisher::Deliver() {
    if (Delivering_)
        return; // the pass further up the stack takes what was added
    Delivering_ = true;
    struct TReset {
        bool& Flag;
        ~TReset() { Flag = false; }
    } reset{Delivering_};
    for (;;) {
        TExchangeRecord record;
        {
            std::lock_guard lock(Mutex_);
            if (Pending_.empty())
                break;
            record = std::move(Pending_.front());
            Pending_.pop_front();
        }
        emit exchanged(record);
    }
}
