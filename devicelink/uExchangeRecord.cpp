#include "devicelink/uExchangeRecord.h"

#include <algorithm>

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
