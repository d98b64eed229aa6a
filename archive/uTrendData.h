#pragma once
// The points of one trend line, kept in X order, with a min/max level-of-detail cache so that a
// chart of millions of points is drawn from a few thousand. User-interface thread (one object
// per line; the archive loader fills a separate one and hands it over).
//
// X is the local wall-clock time in seconds since 1 January 1970 00:00, read as if no time zone
// applied: archived and live points share this one scale, a daylight-saving change neither
// shifts nor stretches it, and a repeated autumn hour overlaps instead of jumping.

#include "devicelink/uTimeOut.h"
#include <QDate>
#include <QTime>
#include <cstddef>
#include <cstdint>
#include <vector>

struct TTrendPoint {
    double X = 0.0;
    double Y = 0.0;
};

// The trend X of a day count and back (rounded to the millisecond).
double TrendXFromDateTime(TDateTime value);
TDateTime DateTimeFromTrendX(double x);
// The local date and time of day of an X (valid for every X of the years 1 to 9999, also for a
// time that a daylight-saving change skips). False when X is outside them.
bool SplitTrendX(double x, QDate& date, QTime& time);
// X of a stamp given as days since 1970-01-01 and the millisecond of the day.
inline double TrendXFromParts(std::int64_t days, std::int64_t msOfDay) {
    return static_cast<double>(days * 86400000 + msOfDay) / 1000.0;
}

class TTrendData {
public:
    std::size_t Count() const { return Points_.size(); }
    bool Empty() const { return Points_.empty(); }
    const TTrendPoint& At(std::size_t i) const { return Points_[i]; }
    const std::vector<TTrendPoint>& Points() const { return Points_; }

    void Clear();
    void Reserve(std::size_t count) { Points_.reserve(count); }
    std::size_t Capacity() const { return Points_.capacity(); }
    // Bytes held by the points and the cache.
    std::size_t MemoryBytes() const;

    // Adds one point in its X place (after the points of equal X). A point whose X or Y is not
    // a finite number is dropped. O(1) when it is the newest.
    void Add(double x, double y);
    // Adds a batch: its order is checked and, when it is not ascending, it is sorted (stable);
    // a batch that begins before the newest point is merged in. Points that are not finite are
    // dropped.
    void Append(const TTrendPoint* points, std::size_t count);
    void Append(const std::vector<TTrendPoint>& points) { Append(points.data(), points.size()); }
    // Replaces the content by the points [from, to) of another line.
    void AssignRange(const TTrendData& other, std::size_t from, std::size_t to);

    double MinX() const { return Points_.front().X; }
    double MaxX() const { return Points_.back().X; }
    // Y extent of all points; false when empty.
    bool YExtent(double& min, double& max) const;
    // Y extent of the points [from, to); false when the interval holds no point.
    bool YExtent(std::size_t from, std::size_t to, double& min, double& max) const;

    // Index of the first point with X >= x, and of the first with X > x.
    std::size_t LowerIndex(double x) const;
    std::size_t UpperIndex(double x) const;
    // Indices [first, last) of the points with x0 <= X <= x1.
    void VisibleRange(double x0, double x1, std::size_t& first, std::size_t& last) const;

    // The points to draw for the X interval [x0, x1] on `columns` pixel columns: the visible
    // points and one neighbour each side; when they are many, the lowest and the highest point
    // of each block of the cache, in X order, so that every peak stays visible.
    void Decimate(double x0, double x1, int columns, std::vector<TTrendPoint>& out) const;

private:
    struct TBlock {
        std::uint32_t Min = 0; // index of the lowest point of the block
        std::uint32_t Max = 0; // index of the highest
    };
    static constexpr std::size_t Base = 16; // points per block of level 0
    static constexpr std::size_t Fanout = 2;

    std::size_t BlockSize(std::size_t level) const;
    // Builds the blocks that are complete but not yet cached.
    void ExtendCache() const;
    // Drops the cached blocks that hold a point at or after `index`.
    void InvalidateFrom(std::size_t index);
    void Touch(double y);
    // Room for `extra` more points, growing by an eighth at a time: a line of millions of
    // points is never doubled for a few live ones.
    void Grow(std::size_t extra);
    // Visits [from, to) as the largest cached blocks up to `maxLevel` (-1: points only).
    template <typename BlockFn, typename PointFn>
    void Walk(std::size_t from, std::size_t to, int maxLevel, BlockFn&& block,
              PointFn&& point) const;

    std::vector<TTrendPoint> Points_;
    mutable std::vector<std::vector<TBlock>> Levels_;
    double MinY_ = 0.0;
    double MaxY_ = 0.0;
    bool YValid_ = false; // MinY_ and MaxY_ hold the extent of every point
};
