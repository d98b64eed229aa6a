#pragma once
// The chart of the trend windows: a time axis at the bottom, the value axes left (and right),
// lines drawn from their level-of-detail caches (broken where readings are missing), automatic
// axes that follow the data, zoom and scroll with the limits the windows ask for, the views left
// behind for going back and forward, two measuring cursors, and the mouse gestures (drag a
// rectangle to the right and down to zoom, drag to the left to undo the zoom, drag with the
// right button to pan; with the cursors on, click to place one and drag its line to move it).
// User-interface thread.

#include "uTrendData.h"
#include "uTrendMeasure.h"
#include <QColor>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <qcustomplot.h>
#include <vector>

class QRubberBand;

// One trend line: its points, the line and the point markers drawn from them. Both are curves
// (drawn in the order of their points, not sorted by X), so that each run of the points is
// drawn as it was written and a point with Y not a number breaks the line between runs.
class TTrendSeries {
public:
    TTrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, const QColor& line, const QColor& markers,
                 int markerSize);

    TTrendData Data;
    QCPCurve* Line;    // the line through the points
    QCPCurve* Markers; // the same points with markers, drawn while points are shown

    void SetPointsShown(bool shown);
    bool PointsShown() const { return PointsShown_; }
    // Points the markers stand for: every point while shown, none otherwise.
    std::size_t MarkerCount() const { return PointsShown_ ? Data.Count() : 0; }
    QCPAxis* ValueAxis() const { return Line->valueAxis(); }
    // Puts the points of [x0, x1] (and one each side of every run) on the curves for
    // `columns` columns.
    void Feed(double x0, double x1, int columns);
    // Points on the curves after the last feed (the breaks between runs included).
    int FedCount() const { return Line->dataCount(); }

    // The gap that breaks the line, seconds (0: none): GapPeriods times the line's own step
    // (MedianSpacing), reckoned again while the line is short, then as it grows by an eighth,
    // and whenever its points were replaced.
    double GapLimit() const;
    // The points were replaced (a load): the gap limit is reckoned afresh at the next feed.
    void DataReplaced() { GapStale_ = true; }

private:
    bool PointsShown_ = false;
    mutable double GapLimit_ = 0.0;
    mutable bool GapStale_ = true;
    mutable std::size_t GapCount_ = 0; // points when GapLimit_ was reckoned
    mutable double GapMinX_ = 0.0;     // and the first of them
    std::vector<TTrendPoint> Scratch_;
};

class TTrendChart : public QCustomPlot {
    Q_OBJECT
public:
    // The X span limits: 1 ms to 100 years.
    static constexpr double MinXSpan = 0.001;
    static constexpr double MaxXSpan = 100 * 365.25 * 86400.0;

    explicit TTrendChart(QWidget* parent = nullptr);
    ~TTrendChart() override;

    QCPAxis* Bottom() const { return xAxis; }
    QCPAxis* Left() const { return yAxis; }
    QCPAxis* Right() const { return yAxis2; }

    // A line against the left or right axis.
    TTrendSeries* AddSeries(QCPAxis* valueAxis, const QColor& line, const QColor& markers,
                            int markerSize = 3);
    const std::vector<std::unique_ptr<TTrendSeries>>& Series() const { return Series_; }

    // An automatic axis follows the data at every redraw.
    bool IsAutomatic(const QCPAxis* axis) const;
    void SetAutomatic(QCPAxis* axis, bool automatic);
    // Sets minimum and maximum together and makes the axis not automatic. Ignored (false) when
    // either is not a finite number or min > max. A bottom span is kept within the X span
    // limits around its centre; a value span of zero is widened by a small margin.
    bool SetAxisRange(QCPAxis* axis, double min, double max);

    // X extent of the data of every line; false when there is none.
    bool DataXExtent(double& min, double& max) const;
    // Y extent of the lines on the axis: of every point, or of the points within [x0, x1].
    bool DataYExtent(const QCPAxis* axis, double& min, double& max) const;
    bool VisibleYExtent(const QCPAxis* axis, double x0, double x1, double& min, double& max) const;

    // Moves the axis by `offset` only when there are data beyond its edge in that direction
    // (for the bottom axis: any line; for a value axis: the lines on it within the X view).
    // False when it did not move.
    bool ScrollAxis(QCPAxis* axis, double offset);
    // Narrows (percent above 100) or widens (below 100) every axis by (percent - 100) % of its
    // span at each end, then reports a zoom.
    void ZoomPercent(double percent);
    // Every axis automatic again, then reports an undo-zoom.
    void UndoZoom();

    // --- the views left, to go back and forward through (ZoomPercent, UndoZoom and the mouse
    // gestures record theirs; the windows record a view before their own zoom actions) ---
    TTrendView View() const;
    // Shows a view (its automatic axes follow the data again) and reports a zoom.
    void SetView(const TTrendView& view);
    // Records the view shown now as the one being left.
    void PushView();
    // The view before (after) the one shown; false when there is none.
    bool ViewBack();
    bool ViewForward();
    void ClearViews();
    const TZoomHistory& Views() const { return Views_; }

    // --- two measuring cursors, each a vertical line with a mark on each line's reading ---
    // While on, a click in the plot places cursor 1 (with Shift cursor 2) and a cursor line can
    // be dragged; the chart reports where (CursorPlaced) and the window answers with the marks.
    bool CursorsOn() const { return CursorsOn_; }
    void SetCursorsOn(bool on);
    // Cursor `which` (0 or 1) at x with a mark at each (axis, point); none: hidden.
    void SetCursorMarks(int which, std::optional<double> x,
                        const std::vector<std::pair<QCPAxis*, TTrendPoint>>& marks);
    std::optional<double> CursorX(int which) const;

    // Where an empty chart's time axis ends (now, or the range's stop) and its span, seconds.
    std::function<double()> EmptyAnchor;
    double EmptySpan = 3600.0;

    // The time of an X as the axis labels write it, on one line ("dd.MM.yy hh:mm:ss").
    static QString XLabel(double x);
    static const QString XLabelFormat;

    // Refits the automatic axes, puts the visible points on the graphs and replots now.
    void Redraw();

signals:
    void Zoomed();
    void UndoZoomed();
    void Scrolled();
    // The axis values under the mouse, while it moves over the plot area.
    void MouseValues(double x, double yLeft, double yRight);
    // A cursor clicked or dragged to the time x.
    void CursorPlaced(int which, double x);
    // A view recorded, or gone back or forward to.
    void ViewsChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void BeforeReplot();
    void FitAutomatic();
    QList<QCPAxis*> ValueAxes() const;

    std::vector<std::unique_ptr<TTrendSeries>> Series_;
    bool AutoBottom_ = true;
    bool AutoLeft_ = true;
    bool AutoRight_ = false;
    // Gestures.
    QRubberBand* Band_ = nullptr;
    QPoint PressPos_;
    Qt::MouseButton PressButton_ = Qt::NoButton;
    QPoint LastPanPos_;
    bool PanRecorded_ = false; // the view before this pan is recorded
    int DraggedCursor_ = -1;

    // The cursor whose line lies within reach of the pixel column px; -1 for none.
    int CursorAt(int px) const;
    struct TCursorItems {
        QCPItemStraightLine* Line = nullptr;
        QCPItemText* Label = nullptr;
        std::vector<QCPItemTracer*> Marks;
    };
    bool CursorsOn_ = false;
    std::array<TCursorItems, 2> Cursors_;
    TZoomHistory Views_;
};
