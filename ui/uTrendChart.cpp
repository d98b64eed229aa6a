#include "uTrendChart.h"

#include <QRubberBand>
#include <QTimeZone>
#include <cmath>

namespace {

constexpr int DragThreshold = 4; // pixels a drag must cover to count as a gesture

bool Finite(double a, double b) {
    return std::isfinite(a) && std::isfinite(b);
}

// A value span of zero widened so that the axis can show it.
void WidenFlat(double& min, double& max) {
    if (max - min > std::max(std::fabs(min), std::fabs(max)) * 1e-12)
        return;
    const double margin = std::max(0.01, std::fabs(min) * 1e-9);
    min -= margin;
    max += margin;
}

double NaiveNow() {
    return TrendXFromDateTime(NowDateTime());
}

} // namespace

const QString TTrendChart::XLabelFormat = QStringLiteral("dd.MM.yy\nhh:mm:ss");

TTrendSeries::TTrendSeries(QCPAxis* keyAxis, QCPAxis* valueAxis, const QColor& line,
                           const QColor& markers, int markerSize) {
    Line = new QCPCurve(keyAxis, valueAxis);
    Line->setPen(QPen(line, 1));
    Line->setLineStyle(QCPCurve::lsLine);
    // Markers only: the line itself is drawn by Line, in its own colour.
    Markers = new QCPCurve(keyAxis, valueAxis);
    Markers->setPen(QPen(markers, 1));
    Markers->setLineStyle(QCPCurve::lsNone);
    Markers->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, markers, markerSize));
    Markers->setVisible(false);
}

void TTrendSeries::SetPointsShown(bool shown) {
    PointsShown_ = shown;
    Markers->setVisible(shown);
    if (!shown)
        Markers->data()->clear();
}

void TTrendSeries::Feed(double x0, double x1, int columns) {
    Data.Decimate(x0, x1, columns, Scratch_);
    QVector<QCPCurveData> points;
    points.reserve(static_cast<qsizetype>(Scratch_.size()));
    // The curve keeps the points in this order (t is the index).
    for (const TTrendPoint& p : Scratch_)
        points.append(QCPCurveData(static_cast<double>(points.size()), p.X, p.Y));
    if (PointsShown_)
        Markers->data()->set(points, true);
    Line->data()->set(points, true);
}

TTrendChart::TTrendChart(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("Chart1"));
    setLocale(QLocale());
    setBackground(Qt::white);
    legend->setVisible(false);
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeFormat(XLabelFormat);
    // The points carry naive local times: labels are written without any zone shift.
    ticker->setTimeZone(QTimeZone::utc());
    xAxis->setTicker(ticker);
    const double now = NaiveNow();
    xAxis->setRange(now - EmptySpan, now);
    yAxis->setRange(0, 100);
    yAxis2->setRange(-40, 80);
    yAxis2->setVisible(false);
    yAxis2->grid()->setVisible(false);
    setNoAntialiasingOnDrag(true);
    setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    setMouseTracking(true);
    connect(this, &QCustomPlot::beforeReplot, this, [this] { BeforeReplot(); });
}

TTrendChart::~TTrendChart() = default;

TTrendSeries* TTrendChart::AddSeries(QCPAxis* valueAxis, const QColor& line, const QColor& markers,
                                     int markerSize) {
    Series_.push_back(std::make_unique<TTrendSeries>(xAxis, valueAxis, line, markers, markerSize));
    return Series_.back().get();
}

bool TTrendChart::IsAutomatic(const QCPAxis* axis) const {
    if (axis == xAxis)
        return AutoBottom_;
    if (axis == yAxis)
        return AutoLeft_;
    if (axis == yAxis2)
        return AutoRight_;
    return false;
}

void TTrendChart::SetAutomatic(QCPAxis* axis, bool automatic) {
    if (axis == xAxis)
        AutoBottom_ = automatic;
    else if (axis == yAxis)
        AutoLeft_ = automatic;
    else if (axis == yAxis2)
        AutoRight_ = automatic;
}

bool TTrendChart::SetAxisRange(QCPAxis* axis, double min, double max) {
    if (!axis || !Finite(min, max) || min > max)
        return false;
    if (axis == xAxis) {
        const double centre = min / 2 + max / 2;
        const double span = std::clamp(max - min, MinXSpan, MaxXSpan);
        min = centre - span / 2;
        max = centre + span / 2;
    } else {
        WidenFlat(min, max);
    }
    const QCPRange range(min, max);
    if (!QCPRange::validRange(range))
        return false;
    axis->setRange(range);
    SetAutomatic(axis, false);
    return true;
}

QList<QCPAxis*> TTrendChart::ValueAxes() const {
    return {yAxis, yAxis2};
}

bool TTrendChart::DataXExtent(double& min, double& max) const {
    bool any = false;
    for (const auto& s : Series_) {
        if (s->Data.Empty())
            continue;
        min = any ? std::min(min, s->Data.MinX()) : s->Data.MinX();
        max = any ? std::max(max, s->Data.MaxX()) : s->Data.MaxX();
        any = true;
    }
    return any;
}

bool TTrendChart::DataYExtent(const QCPAxis* axis, double& min, double& max) const {
    bool any = false;
    for (const auto& s : Series_) {
        double lo = 0, hi = 0;
        if (s->ValueAxis() != axis || !s->Data.YExtent(lo, hi))
            continue;
        min = any ? std::min(min, lo) : lo;
        max = any ? std::max(max, hi) : hi;
        any = true;
    }
    return any;
}

bool TTrendChart::VisibleYExtent(const QCPAxis* axis, double x0, double x1, double& min,
                                 double& max) const {
    bool any = false;
    for (const auto& s : Series_) {
        double lo = 0, hi = 0;
        if (s->ValueAxis() != axis || !s->Data.VisibleYExtent(x0, x1, lo, hi))
            continue;
        min = any ? std::min(min, lo) : lo;
        max = any ? std::max(max, hi) : hi;
        any = true;
    }
    return any;
}

bool TTrendChart::ScrollAxis(QCPAxis* axis, double offset) {
    if (!axis || offset == 0 || !std::isfinite(offset))
        return false;
    double min = 0, max = 0;
    const bool any = axis == xAxis ? DataXExtent(min, max) : DataYExtent(axis, min, max);
    const QCPRange range = axis->range();
    if (!any || (offset > 0 && !(max > range.upper)) || (offset < 0 && !(min < range.lower)))
        return false;
    return SetAxisRange(axis, range.lower + offset, range.upper + offset);
}

void TTrendChart::ZoomPercent(double percent) {
    QList<QPair<QCPAxis*, QCPRange>> next;
    for (QCPAxis* axis : {xAxis, yAxis, yAxis2}) {
        const QCPRange r = axis->range();
        const double d = (r.upper - r.lower) * (percent - 100) / 100;
        next.append({axis, QCPRange(r.lower + d, r.upper - d)});
    }
    for (const auto& [axis, r] : next) {
        // A value axis that is not shown keeps its own range.
        if (axis->visible())
            SetAxisRange(axis, r.lower, r.upper);
    }
    emit Zoomed();
    Redraw();
}

void TTrendChart::UndoZoom() {
    AutoBottom_ = AutoLeft_ = AutoRight_ = true;
    emit UndoZoomed();
    Redraw();
}

QString TTrendChart::XLabel(double x) {
    QDate date;
    QTime time;
    if (!SplitTrendX(x, date, time))
        return {};
    return date.toString(QStringLiteral("dd.MM.yy")) + u' ' +
           time.toString(QStringLiteral("hh:mm:ss"));
}

void TTrendChart::FitAutomatic() {
    if (AutoBottom_) {
        double min = 0, max = 0;
        if (!DataXExtent(min, max)) {
            max = EmptyAnchor ? EmptyAnchor() : NaiveNow();
            if (!std::isfinite(max))
                max = NaiveNow();
            min = max - EmptySpan;
        } else if (max - min < MinXSpan) {
            min -= 30;
            max += 30;
        }
        xAxis->setRange(min, max);
    }
    for (QCPAxis* axis : ValueAxes()) {
        double min = 0, max = 0;
        if (!IsAutomatic(axis) || !DataYExtent(axis, min, max))
            continue;
        WidenFlat(min, max);
        axis->setRange(min, max);
    }
}

void TTrendChart::BeforeReplot() {
    FitAutomatic();
    const QCPRange r = xAxis->range();
    const int columns = std::max(axisRect()->width(), 100);
    for (const auto& s : Series_)
        s->Feed(r.lower, r.upper, columns);
}

void TTrendChart::Redraw() {
    replot(QCustomPlot::rpImmediateRefresh);
}

void TTrendChart::mousePressEvent(QMouseEvent* event) {
    QCustomPlot::mousePressEvent(event);
    const QPoint pos = event->position().toPoint();
    if (!axisRect()->rect().contains(pos))
        return;
    PressPos_ = LastPanPos_ = pos;
    PressButton_ = event->button();
    if (PressButton_ == Qt::LeftButton) {
        if (!Band_)
            Band_ = new QRubberBand(QRubberBand::Rectangle, this);
        Band_->setGeometry(QRect(pos, QSize()));
        Band_->show();
    }
}

void TTrendChart::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    if (PressButton_ == Qt::LeftButton && Band_) {
        Band_->setGeometry(QRect(PressPos_, pos).normalized());
    } else if (PressButton_ == Qt::RightButton && pos != LastPanPos_) {
        // The view follows the mouse: every shown axis moves by the distance dragged.
        const double dx = xAxis->pixelToCoord(LastPanPos_.x()) - xAxis->pixelToCoord(pos.x());
        const QCPRange xr = xAxis->range();
        SetAxisRange(xAxis, xr.lower + dx, xr.upper + dx);
        for (QCPAxis* axis : ValueAxes()) {
            if (!axis->visible())
                continue;
            const double dy = axis->pixelToCoord(LastPanPos_.y()) - axis->pixelToCoord(pos.y());
            const QCPRange yr = axis->range();
            SetAxisRange(axis, yr.lower + dy, yr.upper + dy);
        }
        LastPanPos_ = pos;
        emit Scrolled();
        Redraw();
    }
    if (axisRect()->rect().contains(pos))
        emit MouseValues(xAxis->pixelToCoord(pos.x()), yAxis->pixelToCoord(pos.y()),
                         yAxis2->pixelToCoord(pos.y()));
}

void TTrendChart::mouseReleaseEvent(QMouseEvent* event) {
    QCustomPlot::mouseReleaseEvent(event);
    const Qt::MouseButton button = PressButton_;
    PressButton_ = Qt::NoButton;
    if (button != Qt::LeftButton || event->button() != Qt::LeftButton)
        return;
    if (Band_)
        Band_->hide();
    const QPoint pos = event->position().toPoint();
    const int dx = pos.x() - PressPos_.x();
    const int dy = pos.y() - PressPos_.y();
    if (dx > DragThreshold && dy > DragThreshold) {
        const double x0 = xAxis->pixelToCoord(PressPos_.x());
        const double x1 = xAxis->pixelToCoord(pos.x());
        QList<QPair<QCPAxis*, QCPRange>> next;
        for (QCPAxis* axis : ValueAxes())
            next.append(
                {axis, QCPRange(axis->pixelToCoord(pos.y()), axis->pixelToCoord(PressPos_.y()))});
        SetAxisRange(xAxis, x0, x1);
        for (const auto& [axis, r] : next) {
            if (axis->visible())
                SetAxisRange(axis, r.lower, r.upper);
        }
        emit Zoomed();
        Redraw();
    } else if (dx < -DragThreshold) {
        UndoZoom();
    }
}
