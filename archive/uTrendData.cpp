#include "uTrendData.h"

#include "uTrendMeasure.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Day count of 1 January 1970.
constexpr double UnixEpochDays = 25569.0;

bool ByX(const TTrendPoint& a, const TTrendPoint& b) {
    return a.X < b.X;
}

bool Finite(const TTrendPoint& p) {
    return std::isfinite(p.X) && std::isfinite(p.Y);
}

} // namespace

double TrendXFromDateTime(TDateTime value) {
    return std::round((value - UnixEpochDays) * 86400000.0) / 1000.0;
}

TDateTime DateTimeFromTrendX(double x) {
    return x / 86400.0 + UnixEpochDays;
}

bool SplitTrendX(double x, QDate& date, QTime& time) {
    // Years 1 to 9999 on the naive scale.
    if (!std::isfinite(x) || x < -62135596800.0 || x >= 253402300800.0)
        return false;
    const auto ms = static_cast<std::int64_t>(std::llround(x * 1000.0));
    std::int64_t days = ms / 86400000;
    std::int64_t rest = ms % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    date = QDate(1970, 1, 1).addDays(days);
    time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(rest));
    return date.isValid() && time.isValid();
}

TIndexRange TTrendData::Run(std::size_t run) const {
    if (run >= RunCount())
        return {Points_.size(), Points_.size()};
    return {run == 0 ? 0 : RunStarts_[run - 1],
            run < RunStarts_.size() ? RunStarts_[run] : Points_.size()};
}

void TTrendData::Clear() {
    Points_.clear();
    Points_.shrink_to_fit();
    RunStarts_.clear();
    RunStarts_.shrink_to_fit();
    Levels_.clear();
}

std::size_t TTrendData::MemoryBytes() const {
    std::size_t bytes =
        Points_.capacity() * sizeof(TTrendPoint) + RunStarts_.capacity() * sizeof(std::size_t);
    for (const auto& level : Levels_)
        bytes += level.capacity() * sizeof(TBlock);
    return bytes;
}

void TTrendData::Touch(const TTrendPoint& p) {
    if (Points_.size() == 1) {
        MinX_ = MaxX_ = p.X;
        MinY_ = MaxY_ = p.Y;
        return;
    }
    MinX_ = std::min(MinX_, p.X);
    MaxX_ = std::max(MaxX_, p.X);
    MinY_ = std::min(MinY_, p.Y);
    MaxY_ = std::max(MaxY_, p.Y);
}

void TTrendData::Grow(std::size_t extra) {
    const std::size_t need = Points_.size() + extra;
    if (need <= Points_.capacity())
        return;
    Points_.reserve(std::max(need, Points_.capacity() + Points_.capacity() / 8 + 4096));
}

void TTrendData::Push(const TTrendPoint& p) {
    if (!Points_.empty() && p.X < Points_.back().X)
        RunStarts_.push_back(Points_.size()); // the clock stepped back: a new pass
    Points_.push_back(p);
    Touch(p);
}

void TTrendData::Add(double x, double y) {
    const TTrendPoint p{x, y};
    if (!Finite(p))
        return;
    Grow(1);
    Push(p);
}

void TTrendData::Append(const TTrendPoint* points, std::size_t count) {
    const std::size_t old = Points_.size();
    Grow(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (Finite(points[i]))
            Push(points[i]);
    }
    // The cache grows with each batch, so that the first drawing after a load does not wait.
    if (Points_.size() != old)
        ExtendCache();
}

void TTrendData::AssignRange(const TTrendData& other, std::size_t from, std::size_t to) {
    to = std::min(to, other.Count());
    from = std::min(from, to);
    Clear();
    Append(other.Points_.data() + from, to - from);
}

void TTrendData::AssignShown(const TTrendData& other, double x0, double x1) {
    Clear();
    const std::vector<TIndexRange> parts = other.ShownRanges(x0, x1);
    std::size_t total = 0;
    for (const TIndexRange& part : parts)
        total += part.Last - part.First;
    Points_.reserve(total);
    // A part always begins before the end of the part before it: the runs stay apart.
    for (const TIndexRange& part : parts)
        Append(other.Points_.data() + part.First, part.Last - part.First);
}

bool TTrendData::YExtent(double& min, double& max) const {
    if (Points_.empty())
        return false;
    min = MinY_;
    max = MaxY_;
    return true;
}

std::size_t TTrendData::BlockSize(std::size_t level) const {
    std::size_t size = Base;
    for (std::size_t i = 0; i < level; ++i)
        size *= Fanout;
    return size;
}

void TTrendData::ExtendCache() const {
    const std::size_t n = Points_.size();
    // Block entries hold 32-bit indices.
    if (n > 0xFFFFFFFFu)
        return;
    if (Levels_.empty())
        Levels_.emplace_back();
    for (std::size_t b = Levels_[0].size(); (b + 1) * Base <= n; ++b) {
        TBlock block;
        block.Min = block.Max = static_cast<std::uint32_t>(b * Base);
        for (std::size_t i = b * Base + 1; i < (b + 1) * Base; ++i) {
            const double y = Points_[i].Y;
            if (y < Points_[block.Min].Y)
                block.Min = static_cast<std::uint32_t>(i);
            if (y > Points_[block.Max].Y)
                block.Max = static_cast<std::uint32_t>(i);
        }
        Levels_[0].push_back(block);
    }
    for (std::size_t level = 1; Levels_[level - 1].size() >= Fanout; ++level) {
        if (Levels_.size() <= level)
            Levels_.emplace_back();
        const std::vector<TBlock>& lower = Levels_[level - 1];
        std::vector<TBlock>& upper = Levels_[level];
        for (std::size_t b = upper.size(); (b + 1) * Fanout <= lower.size(); ++b) {
            TBlock block = lower[b * Fanout];
            for (std::size_t k = 1; k < Fanout; ++k) {
                const TBlock& part = lower[b * Fanout + k];
                if (Points_[part.Min].Y < Points_[block.Min].Y)
                    block.Min = part.Min;
                if (Points_[part.Max].Y > Points_[block.Max].Y)
                    block.Max = part.Max;
            }
            upper.push_back(block);
        }
    }
}

template <typename BlockFn, typename PointFn>
void TTrendData::Walk(std::size_t from, std::size_t to, int maxLevel, BlockFn&& block,
                      PointFn&& point) const {
    ExtendCache();
    const int top = std::min(maxLevel, static_cast<int>(Levels_.size()) - 1);
    std::size_t i = from;
    while (i < to) {
        bool done = false;
        for (int level = top; level >= 0 && !done; --level) {
            const std::size_t size = BlockSize(static_cast<std::size_t>(level));
            const std::size_t b = i / size;
            if (i % size == 0 && i + size <= to && b < Levels_[level].size()) {
                block(Levels_[level][b]);
                i += size;
                done = true;
            }
        }
        if (!done) {
            point(i);
            ++i;
        }
    }
}

bool TTrendData::YExtent(std::size_t from, std::size_t to, double& min, double& max) const {
    to = std::min(to, Points_.size());
    if (from >= to)
        return false;
    if (from == 0 && to == Points_.size())
        return YExtent(min, max);
    min = max = Points_[from].Y;
    Walk(
        from, to, 64,
        [&](const TBlock& b) {
            min = std::min(min, Points_[b.Min].Y);
            max = std::max(max, Points_[b.Max].Y);
        },
        [&](std::size_t i) {
            min = std::min(min, Points_[i].Y);
            max = std::max(max, Points_[i].Y);
        });
    return true;
}

bool TTrendData::VisibleYExtent(double x0, double x1, double& min, double& max) const {
    bool any = false;
    for (const TIndexRange& part : VisibleRanges(x0, x1)) {
        double lo = 0, hi = 0;
        if (!YExtent(part.First, part.Last, lo, hi))
            continue;
        min = any ? std::min(min, lo) : lo;
        max = any ? std::max(max, hi) : hi;
        any = true;
    }
    return any;
}

TIndexRange TTrendData::Within(const TIndexRange& run, double x0, double x1) const {
    const auto begin = Points_.begin() + static_cast<std::ptrdiff_t>(run.First);
    const auto end = Points_.begin() + static_cast<std::ptrdiff_t>(run.Last);
    const auto first = std::lower_bound(begin, end, TTrendPoint{x0, 0.0}, ByX);
    const auto last = std::upper_bound(first, end, TTrendPoint{x1, 0.0}, ByX);
    return {static_cast<std::size_t>(first - Points_.begin()),
            static_cast<std::size_t>(last - Points_.begin())};
}

std::vector<TIndexRange> TTrendData::VisibleRanges(double x0, double x1) const {
    std::vector<TIndexRange> parts;
    for (std::size_t r = 0; r < RunCount(); ++r)
        if (const TIndexRange part = Within(Run(r), x0, x1); !part.Empty())
            parts.push_back(part);
    return parts;
}

std::vector<TIndexRange> TTrendData::ShownRanges(double x0, double x1) const {
    std::vector<TIndexRange> parts;
    for (std::size_t r = 0; r < RunCount(); ++r) {
        const TIndexRange run = Run(r);
        const TIndexRange in = Within(run, x0, x1);
        // Nothing inside and nothing on both sides: the run does not cross the interval.
        if (in.Empty() && (in.First == run.First || in.First == run.Last))
            continue;
        parts.push_back({in.First == run.First ? in.First : in.First - 1,
                         in.Last == run.Last ? in.Last : in.Last + 1});
    }
    return parts;
}

bool TTrendData::DecimateRun(std::size_t from, std::size_t to, std::size_t perColumn,
                             std::vector<TTrendPoint>& out) const {
    const std::size_t count = to - from;
    if (count <= 4 * perColumn) {
        out.insert(out.end(), Points_.begin() + static_cast<std::ptrdiff_t>(from),
                   Points_.begin() + static_cast<std::ptrdiff_t>(to));
        return false;
    }
    // The finest blocks that hold at least half a column's share of points: two points per
    // block, at most four per column, and no block wider than a column.
    const std::size_t share = count / (2 * perColumn);
    ExtendCache();
    int maxLevel = 0;
    while (maxLevel + 1 < static_cast<int>(Levels_.size()) &&
           BlockSize(static_cast<std::size_t>(maxLevel)) < share)
        ++maxLevel;
    out.reserve(out.size() + 4 * perColumn + 256);
    out.push_back(Points_[from]);
    Walk(
        from + 1, to - 1, maxLevel,
        [&](const TBlock& b) {
            const std::uint32_t a = std::min(b.Min, b.Max);
            const std::uint32_t c = std::max(b.Min, b.Max);
            out.push_back(Points_[a]);
            if (c != a)
                out.push_back(Points_[c]);
        },
        [&](std::size_t i) { out.push_back(Points_[i]); });
    out.push_back(Points_[to - 1]);
    return true;
}

void TTrendData::Decimate(double x0, double x1, int columns, std::vector<TTrendPoint>& out,
                          double gapLimit) const {
    out.clear();
    const std::size_t perColumn = static_cast<std::size_t>(std::max(columns, 1));
    // Neighbours of a thinned stretch lie up to two blocks apart, each no wider than a column.
    const double columnSpan = std::fabs(x1 - x0) / static_cast<double>(perColumn);
    for (const TIndexRange& part : ShownRanges(x0, x1)) {
        // The break lies inside the interval, so that a chart clipping at its edges keeps it.
        if (!out.empty())
            out.push_back({std::clamp(Points_[part.First].X, std::min(x0, x1), std::max(x0, x1)),
                           std::numeric_limits<double>::quiet_NaN()});
        const std::size_t start = out.size();
        const bool thinned = DecimateRun(part.First, part.Last, perColumn, out);
        if (gapLimit > 0)
            InsertGapBreaks(out, start, thinned ? std::max(gapLimit, 2.5 * columnSpan) : gapLimit);
    }
}
