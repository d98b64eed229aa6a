#pragma once
// The points of one trend line, kept in writing order as runs in X order, with a min/max
// level-of-detail cache so that a chart of millions of points is drawn from a few thousand.
// User-interface thread (one object per line; the archive loader fills a separate one and hands it
// over).
//
// X is the local wall-clock time in seconds since 1 January 1970 00:00, read as if no time zone
// applied: archived and live points share this one scale, a daylight-saving change neither
// shifts nor stretches it, and a repeated autumn hour overlaps instead of jumping: its second
// pass is a run of its own (TTrendData), drawn apart from the first.

#include "uTimeOut.h"
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

// Indices [First, Last) of a stretch of points.
struct TIndexRange {
    std::size_t First = 0;
    std::size_t Last = 0;
    bool Empty() const { return First >= Last; }
};

// The points of a line in the order they were written, as runs: a point whose X lies before
// the previous point's starts a new run (the clock was set back, and the repeated autumn hour
// is a second pass over the same times), so each run is in X order and the runs follow one
// another as written. Searches go run by run; a drawing draws each run as its own line.
class TTrendData {
public:
    std::size_t Count() const { return Points_.size(); }
    bool Empty() const { return Points_.empty(); }
    const TTrendPoint& At(std::size_t i) const { return Points_[i]; }
    // Every point, run after run.
    const std::vector<TTrendPoint>& Points() const { return Points_; }

    // Runs: 0 when empty, otherwise 1 plus the number of steps back.
    std::size_t RunCount() const { return Points_.empty() ? 0 : RunStarts_.size() + 1; }
    TIndexRange Run(std::size_t run) const;

    void Clear();
    void Reserve(std::size_t count) { Points_.reserve(count); }
    std::size_t Capacity() const { return Points_.capacity(); }
    // Bytes held by the points, the run starts and the cache.
    std::size_t MemoryBytes() const;

    // Adds one point after the newest; an X before the newest point's starts a new run. A point
    // whose X or Y is not a finite number is dropped. O(1).
    void Add(double x, double y);
    // Adds a batch in its order, each point as Add does.
    void Append(const TTrendPoint* points, std::size_t count);
    void Append(const std::vector<TTrendPoint>& points) { Append(points.data(), points.size()); }
    // Replaces the content by the points [from, to) of another line.
    void AssignRange(const TTrendData& other, std::size_t from, std::size_t to);
    // Replaces the content by what another line shows on [x0, x1]: of each run the visible
    // points and one neighbour each side (VisibleRanges widened by one), runs kept apart.
    void AssignShown(const TTrendData& other, double x0, double x1);

    // X extent of all points (any run).
    double MinX() const { return MinX_; }
    double MaxX() const { return MaxX_; }
    // Y extent of all points; false when empty.
    bool YExtent(double& min, double& max) const;
    // Y extent of the points [from, to); false when the interval holds no point.
    bool YExtent(std::size_t from, std::size_t to, double& min, double& max) const;
    // Y extent of the points with x0 <= X <= x1, every run; false when there is none.
    bool VisibleYExtent(double x0, double x1, double& min, double& max) const;

    // Of each run, the indices [First, Last) of its points with x0 <= X <= x1; runs without
    // such a point are left out. In run order.
    std::vector<TIndexRange> VisibleRanges(double x0, double x1) const;

    // The points to draw for the X interval [x0, x1] on `columns` pixel columns, run by run: of
    // each run that shows on [x0, x1] its visible points and one neighbour each side; when they
    // are many, the lowest and the highest point of each block of the cache, in X order, so that
    // every peak stays visible. Between two runs a point with Y not a number (at the X of the
    // next run's first point) breaks the line.
    // gapLimit > 0: within a run, two drawn neighbours more than gapLimit seconds apart have
    // such a break between them as well (no reading there: a break, not a ramp); where the
    // points are thinned out, only a gap wider than two and a half columns is seen as one.
    void Decimate(double x0, double x1, int columns, std::vector<TTrendPoint>& out,
                  double gapLimit = 0.0) const;

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
    void Touch(const TTrendPoint& p);
    // Appends a finite point, starting a run when it steps back.
    void Push(const TTrendPoint& p);
    // Room for `extra` more points, growing by an eighth at a time: a line of millions of
    // points is never doubled for a few live ones.
    void Grow(std::size_t extra);
    // The points of one run with x0 <= X <= x1 (empty where none, placed where they would be).
    TIndexRange Within(const TIndexRange& run, double x0, double x1) const;
    // Of each run that reaches into [x0, x1], its visible points and a neighbour each side.
    std::vector<TIndexRange> ShownRanges(double x0, double x1) const;
    // Visits [from, to) as the largest cached blocks up to `maxLevel` (-1: points only).
    template <typename BlockFn, typename PointFn>
    void Walk(std::size_t from, std::size_t to, int maxLevel, BlockFn&& block,
              PointFn&& point) const;
    // Decimates the stretch [from, to) of one run into out.
    // Returns false when every point of the stretch went out (not thinned).
    bool DecimateRun(std::size_t from, std::size_t to, std::size_t perColumn,
                     std::vector<TTrendPoint>& out) const;

    std::vector<TTrendPoint> Points_;
    std::vector<std::size_t> RunStarts_; // first index of every run but the first
    mutable std::vector<std::vector<TBlock>> Levels_;
    double MinX_ = 0.0;
    double MaxX_ = 0.0;
    double MinY_ = 0.0;
    double MaxY_ = 0.0;
};
