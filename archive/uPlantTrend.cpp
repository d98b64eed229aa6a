#include "uPlantTrend.h"

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr qint64 QuarterHourMs = 900000;
// The calling thread answers at least this often while the server is asked, ms.
constexpr int YieldEveryMs = 20;

qint64 FloorDiv(qint64 a, qint64 b) {
    qint64 q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0))
        --q;
    return q;
}

// Runs `work` on a thread of its own and waits for it, running `yield` meanwhile.
void RunAside(const std::function<void()>& work, const std::function<void()>& yield) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread worker([&] {
        work();
        std::lock_guard lock(mutex);
        done = true;
        finished.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(YieldEveryMs),
                                  [&] { return done; })) {
            lock.unlock();
            if (yield)
                yield();
            lock.lock();
        }
    }
    worker.join();
}

} // namespace

double TUtcToTrendX::operator()(qint64 utcMs) {
    // Zone changes fall on whole quarter hours: the offset at the start of a quarter holds for
    // all of it.
    const qint64 bucket = FloorDiv(utcMs, QuarterHourMs);
    if (bucket != Bucket_) {
        Bucket_ = bucket;
        OffsetMs_ =
            qint64(QDateTime::fromMSecsSinceEpoch(bucket * QuarterHourMs).offsetFromUtc()) * 1000;
    }
    return static_cast<double>(utcMs + OffsetMs_) / 1000.0;
}

qint64 UtcMsFromDateTime(TDateTime value) {
    return DateTimeToQt(value).toMSecsSinceEpoch();
}

TPlantLoadResult ListPlantGauges(const TPlantServerSettings& settings, const QStringList& tables,
                                 TDateTime start, TDateTime stop, std::vector<int>& gauges,
                                 const std::function<void()>& yield) {
    TPlantLoadResult result;
    gauges.clear();
    const qint64 from = UtcMsFromDateTime(start);
    const qint64 to = UtcMsFromDateTime(stop);
    RunAside(
        [&] {
            TPlantStore store(settings);
            bool ok = false;
            gauges = store.ListGauges(tables, from, to, &ok);
            result.Ok = ok;
            result.Error = store.LastError();
        },
        yield);
    return result;
}

TPlantLoadResult LoadPlantRange(const TPlantServerSettings& settings,
                                const std::vector<TArchiveSource>& sources, TDateTime start,
                                TDateTime stop, const std::function<void()>& yield,
                                const std::function<bool()>& cancel) {
    TPlantLoadResult result;
    const qint64 from = UtcMsFromDateTime(start);
    const qint64 to = UtcMsFromDateTime(stop);
    std::atomic<bool> stop_{false};
    std::vector<std::vector<TTrendPoint>> lines(sources.size());
    bool ok = true;
    QString error;
    const auto ask = [&] {
        if (!stop_ && cancel && cancel())
            stop_ = true;
        if (yield)
            yield();
    };
    RunAside(
        [&] {
            TPlantStore store(settings);
            // The connection first: a server that cannot be reached says so once.
            if (!store.Connect()) {
                ok = false;
                error = store.LastError();
                return;
            }
            for (std::size_t i = 0; i < sources.size() && !stop_; ++i) {
                const TArchiveSource& source = sources[i];
                if (!source.Data || source.Gauge < 0)
                    continue;
                bool read = false;
                const std::vector<TPlantPoint> points =
                    store.ReadRange(source.Gauge, source.Table, from, to, &read);
                if (!read) {
                    ok = false;
                    error = store.LastError();
                    return;
                }
                TUtcToTrendX x;
                std::vector<TTrendPoint>& line = lines[i];
                line.reserve(points.size());
                for (const TPlantPoint& p : points)
                    line.push_back({x(p.TimeMs), p.Value});
            }
        },
        ask);
    result.Cancelled = stop_;
    result.Ok = ok;
    result.Error = error;
    if (!ok)
        return result;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i].Data || lines[i].empty())
            continue;
        result.Rows += qint64(lines[i].size());
        sources[i].Data->Reserve(sources[i].Data->Count() + lines[i].size());
        sources[i].Data->Append(lines[i]);
        lines[i] = {};
    }
    return result;
}
