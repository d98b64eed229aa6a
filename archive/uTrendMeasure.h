#pragma once
// Measuring on a trend, without windows: the nearest stored reading to a time, the difference
// and the rate between two cursors, the poll period a line was written at and the breaks where
// readings are missing, the back/forward history of the views, and the texts that name the
// parameter and the gauge (caption, export file name).

#include "uTrendData.h"
#include <QDate>
#include <QString>
#include <cstddef>
#include <functional>
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
// seconds; 0 when the line has fewer than two points in a run. A long line is judged by
// SpacingSamples steps spread evenly over it, so that a month of points costs no more.
constexpr std::size_t SpacingSamples = 65536;
double MedianSpacing(const TTrendData& data);

// A gap longer than this many poll periods is a break in the line, not a ramp.
constexpr double GapPeriods = 3.0;

// Inserts a point with Y not a number between two neighbours of `points` (in X order within
// runs) whose X differ by more than `limit` seconds (limit > 0), at the middle of the gap, so
// that a curve drawn through them stops and starts again. A limit of 0 or less breaks nothing.
void InsertGapBreaks(std::vector<TTrendPoint>& points, std::size_t from, double limit);

// The axes of a view of the chart; an automatic axis follows the data whatever its range.
struct TTrendView {
    double X0 = 0, X1 = 0;
    double Left0 = 0, Left1 = 0;
    double Right0 = 0, Right1 = 0;
    bool AutoX = false, AutoLeft = false, AutoRight = false;
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

// The default name of an export: "<parameter>_<yyyy-MM-dd>.<suffix>" for the day shown,
// "<parameter>_<first day>_<last day>.<suffix>" when the view spans several; the parameter with
// the characters a file name cannot hold (and spaces) replaced by "_", "trend" when empty; no
// date when `first` is not valid.
QString TrendExportFileName(const QString& parameter, const QDate& first, const QDate& last,
                            const QString& suffix);

// The short sign of an archived parameter as the gauge's documents write it ("Hu" -> "Ну",
// "Lt" -> "Lт"); the table name itself for a table without one.
QString ParameterSign(const QString& table);

// The unit of a rate: "<unit>/мин" ("мм/мин"); "/мин" when the line has no unit.
QString RateUnit(const QString& unit);

// A reading's time to the millisecond: "dd.MM.yy hh:mm:ss.zzz" (empty outside the years 1 to
// 9999).
QString ReadingTimeText(double x);
// A time difference: "[-][<days> д ]hh:mm:ss.zzz".
QString DurationText(double seconds);

// How one line writes its part of the cursor read-out.
struct TReadoutFormat {
    QString Name;                          // "Ну"
    QString Unit;                          // "мм"; empty for none
    std::function<QString(double)> Number; // a value or a difference, in the line's own form
    int RateDecimals = 2;
};
// The read-out of one line for the readings under the two cursors (each may be missing):
// "Ну: 1) <time> = <value> мм; 2) <time> = <value> мм; ΔT = <duration>; ΔY = <difference> мм;
// скорость = <rate> мм/мин". The differences come only with both readings, the rate only when
// their times differ.
QString CursorReadoutText(const TReadoutFormat& format, const std::optional<TTrendPoint>& a,
                          const std::optional<TTrendPoint>& b);
