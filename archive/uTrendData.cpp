#include "archive/uTrendData.h"

#include <algorithm>
#include <cmath>

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

void TTrendData::Clear() {
    Points_.clear();
    Points_.shrink_to_fit();
    Levels_.clear();
    YValid_ = false;
}

std::size_t TTrendData::MemoryBytes() const {
    std::size_t bytes = Points_.capacity() * sizeof(TTrendPoint);
    for (const auto& level : Levels_)
        bytes += level.capacity() * sizeof(TBlock);
    return bytes;
}

void TTrendData::Touch(double y) {
    if (!YValid_) {
        MinY_ = MaxY_ = y;
        YValid_ = true;
        return;
    }
    MinY_ = std::min(MinY_, y);
    MaxY_ = std::max(MaxY_, y);
}

void TTrendData::Grow(std::size_t extra) {
    const std::size_t need = Points_.size() + extra;
    if (need <= Points_.capacity())
        return;
    Points_.reserve(std::max(need, Points_.capacity() + Points_.capacity() / 8 + 4096));
}

void TTrendData::Add(double x, double y) {
    const TTrendPoint p{x, y};
    if (!Finite(p))
        return;
    Grow(1);
    if (Points_.empty() || x >= Points_.back().X) {
        Points_.push_back(p);
    } else {
        // The clock stepped back: the point goes to its X place.
        const auto at = std::upper_bound(Points_.begin(), Points_.end(), p, ByX);
        const std::size_t index = static_cast<std::size_t>(at - Points_.begin());
        Points_.insert(at, p);
        InvalidateFrom(index);
    }
    Touch(y);
}

void TTrendData::Append(const TTrendPoint* points, std::size_t count) {
    const std::size_t old = Points_.size();
    Grow(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (Finite(points[i]))
            Points_.push_back(points[i]);
    }
    if (Points_.size() == old)
        return;
    const auto mid = Points_.begin() + static_cast<std::ptrdiff_t>(old);
    // The batch counts as sorted only once it has been checked.
    if (!std::is_sorted(mid, Points_.end(), ByX))
        std::stable_sort(mid, Points_.end(), ByX);
    if (old > 0 && mid->X < (mid - 1)->X) {
        const auto at = std::upper_bound(Points_.begin(), mid, *mid, ByX);
        const std::size_t index = static_cast<std::size_t>(at - Points_.begin());
        std::inplace_merge(at, mid, Points_.end(), ByX);
        InvalidateFrom(index);
    }
    for (auto it = Points_.begin() + static_cast<std::ptrdiff_t>(old); it != Points_.end(); ++it)
        Touch(it->Y);
    // The cache grows with each batch, so that the first drawing after a load does not wait.
    ExtendCache();
}

void TTrendData::AssignRange(const TTrendData& other, std::size_t from, std::size_t to) {
    to = std::min(to, other.Count());
    from = std::min(from, to);
    Points_.assign(other.Points_.begin() + static_cast<std::ptrdiff_t>(from),
                   other.Points_.begin() + static_cast<std::ptrdiff_t>(to));
    Levels_.clear();
    YValid_ = false;
    for (const TTrendPoint& p : Points_)
        Touch(p.Y);
}

bool TTrendData::YExtent(double& min, double& max) const {
    if (!YValid_ || Points_.empty())
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

void TTrendData::InvalidateFrom(std::size_t index) {
    for (std::size_t level = 0; level < Levels_.size(); ++level) {
        const std::size_t keep = index / BlockSize(level);
        if (Levels_[level].size() > keep)
            Levels_[level].resize(keep);
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

std::size_t TTrendData::LowerIndex(double x) const {
    const auto it = std::lower_bound(Points_.begin(), Points_.end(), TTrendPoint{x, 0.0}, ByX);
    return static_cast<std::size_t>(it - Points_.begin());
}

std::size_t TTrendData::UpperIndex(double x) const {
    const auto it = std::upper_bound(Points_.begin(), Points_.end(), TTrendPoint{x, 0.0}, ByX);
    return static_cast<std::size_t>(it - Points_.begin());
}

void TTrendData::VisibleRange(double x0, double x1, std::size_t& first, std::size_t& last) const {
    first = LowerIndex(x0);
    last = std::max(first, UpperIndex(x1));
}

void TTrendData::Decimate(double x0, double x1, int columns, std::vector<TTrendPoint>& out) const {
    out.clear();
    if (Points_.empty())
        return;
    std::size_t first = 0;
    std::size_t last = 0;
    VisibleRange(x0, x1, first, last);
    const std::size_t from = first > 0 ? first - 1 : 0;
    const std::size_t to = std::min(last + 1, Points_.size());
    const std::size_t count = to - from;
    const std::size_t perColumn = static_cast<std::size_t>(std::max(columns, 1));
    if (count <= 4 * perColumn) {
        out.assign(Points_.begin() + static_cast<std::ptrdiff_t>(from),
                   Points_.begin() + static_cast<std::ptrdiff_t>(to));
        return;
    }
    // The finest blocks that hold at least half a column's share of points: two points per
    // block, at most four per column, and no block wider than a column.
    const std::size_t share = count / (2 * perColumn);
    ExtendCache();
    int maxLevel = 0;
    while (maxLevel + 1 < static_cast<int>(Levels_.size()) &&
           BlockSize(static_cast<std::size_t>(maxLevel)) < share)
        ++maxLevel;
    out.reserve(4 * perColumn + 256);
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
}
