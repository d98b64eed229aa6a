#pragma once
// Measuring on a trend, without windows: the nearest stored reading to a time, the difference
// and the rate between two cursors, the poll period a line was written at and the breaks where
// readings are missing, the back/forward history of the views, and the texts that name the
// parameter and the gauge (caption, export file name).

#include "uTrendData.h"
#include <QDate>
#include <QString>
#include <cstddef>
#include <optional>
#include <vector>

// The stored point of a line closest in time to x (any run; on a tie the earlier one).
// Empty when the line has no point or x is not a number.
std::optional<TTrendPoint> NearestReading(const TTrendData& data, double x);

// Two cursors on a line, each snapped to its nearest reading.
struct TCursorMeasure {
    TTrendPoint A;
    TTrendPoint B;
    double DeltaT = 0.0; // B.X - A.X, seconds
    double DeltaY = 0.0; // B.Y - A.Y
    // DeltaY per minute; empty when both readings have the same time.
    std::optional<double> RatePerMinute;
};
TCursorMeasure MeasureCursors(const TTrendPoint& a, const TTrendPoint& b);

// The spacing of the middle of the line's steps (the median of the X steps within runs), in
// seconds; 0 when the line has fewer than two points in a run.
double MedianSpacing(const TTrendData& data);

// A gap longer than this many poll periods is a break in the line, not a ramp.
constexpr double GapPeriods = 3.0;

// Inserts a point with Y not a number between two neighbours of `points` (in X order within
// runs) whose X differ by more than `limit` seconds (limit > 0), at the middle of the gap, so
// that a curve drawn through them stops and starts again. A limit of 0 or less breaks nothing.
void InsertGapBreaks(std::vector<TTrendPoint>& points, std::size_t from, double limit);

// The axes of a view of the chart.
struct TTrendView {
    double X0 = 0, X1 = 0;
    double Left0 = 0, Left1 = 0;
    double Right0 = 0, Right1 = 0;
    bool operator==(const TTrendView&) const = default;
};

// The views left by zooming and panning, to go back and forward through them as a browser
// does: Push records the view being left (dropping what lay ahead of it), Back returns the
// view before the current one and Forward the one after. At most Limit views are kept.
class TZoomHistory {
public:
    static constexpr std::size_t Limit = 100;
    // The view `left` is being replaced by a new one.
    void Push(const TTrendView& left);
    // The view to show instead of `current`, which is kept for Forward; empty when none.
    std::optional<TTrendView> Back(const TTrendView& current);
    std::optional<TTrendView> Forward(const TTrendView& current);
    bool CanBack() const { return !Back_.empty(); }
    bool CanForward() const { return !Forward_.empty(); }
    void Clear();

private:
    std::vector<TTrendView> Back_;
    std::vector<TTrendView> Forward_;
};

// "<parameter> — прибор № <plant number>, адрес <address>"; the gauge part is left out when
// the plant number is not known (below 0), the address when it is not (below 0).
QString TrendCaption(const QString& parameter, int plantNumber, int address);

// The default name of an export: "<parameter>_<yyyy-MM-dd>.<suffix>", the parameter with the
// characters a file name cannot hold replaced by "_"; "trend" when the parameter is empty.
QString TrendExportFileName(const QString& parameter, const QDate& date, const QString& suffix);

// The unit of a rate: "<unit>/мин" ("мм/мин"); "/мин" when the line has no unit.
QString RateUnit(const QString& unit);
