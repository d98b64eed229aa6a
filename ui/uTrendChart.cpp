#include "uTrendChart.h"

#include <QRubberBand>
#include <QTimeZone>
#include <cmath>

namespace {

constexpr int DragThreshold = 4; // pixels a drag must cover to count as a gesture
constexpr int CursorReach = 5;   // pixels either side of a cursor line that grab it
const QColor CursorColours[2] = {QColor(0, 140, 0), QColor(200, 0, 160)};

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

double TTrendSeries::GapLimit() const {
    const std::size_t n = Data.Count();
    // The median is reckoned again while the line is short, and then as it grows by an eighth
    // (live points), never at every drawing of a long line; other points (another gauge, another
    // range) always.
    const bool grown =
        n != GapCount_ && (n < 4096 || n < GapCount_ || n > GapCount_ + GapCount_ / 8);
    if (GapStale_ || grown || (n > 0 && Data.MinX() != GapMinX_)) {
        GapLimit_ = GapPeriods * MedianSpacing(Data);
        GapCount_ = n;
        GapMinX_ = n > 0 ? Data.MinX() : 0.0;
        GapStale_ = false;
    }
    return GapLimit_;
}

void TTrendSeries::Feed(double x0, double x1, int columns) {
    Data.Decimate(x0, x1, columns, Scratch_, GapLimit());
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
    PushView();
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
    PushView();
    AutoBottom_ = AutoLeft_ = AutoRight_ = true;
    emit UndoZoomed();
    Redraw();
}

TTrendView TTrendChart::View() const {
    TTrendView v;
    v.X0 = xAxis->range().lower;
    v.X1 = xAxis->range().upper;
    v.Left0 = yAxis->range().lower;
    v.Left1 = yAxis->range().upper;
    v.Right0 = yAxis2->range().lower;
    v.Right1 = yAxis2->range().upper;
    v.AutoX = AutoBottom_;
    v.AutoLeft = AutoLeft_;
    v.AutoRight = AutoRight_;
    return v;
}

void TTrendChart::SetView(const TTrendView& view) {
    SetAxisRange(xAxis, view.X0, view.X1);
    SetAxisRange(yAxis, view.Left0, view.Left1);
    SetAxisRange(yAxis2, view.Right0, view.Right1);
    AutoBottom_ = view.AutoX;
    AutoLeft_ = view.AutoLeft;
    AutoRight_ = view.AutoRight;
    emit Zoomed();
    Redraw();
}

void TTrendChart::PushView() {
    Views_.Push(View());
    emit ViewsChanged();
}

bool TTrendChart::ViewBack() {
    const std::optional<TTrendView> view = Views_.Back(View());
    if (view)
        SetView(*view);
    emit ViewsChanged();
    return view.has_value();
}

bool TTrendChart::ViewForward() {
    const std::optional<TTrendView> view = Views_.Forward(View());
    if (view)
        SetView(*view);
    emit ViewsChanged();
    return view.has_value();
}

void TTrendChart::ClearViews() {
    Views_.Clear();
    emit ViewsChanged();
}

void TTrendChart::SetCursorsOn(bool on) {
    CursorsOn_ = on;
    if (!on) {
        SetCursorMarks(0, std::nullopt, {});
        SetCursorMarks(1, std::nullopt, {});
    }
}

void TTrendChart::SetCursorMarks(int which, std::optional<double> x,
                                 const std::vector<std::pair<QCPAxis*, TTrendPoint>>& marks) {
    if (which < 0 || which > 1)
        return;
    TCursorItems& c = Cursors_[static_cast<std::size_t>(which)];
    const QColor colour = CursorColours[which];
    if (!c.Line) {
        c.Line = new QCPItemStraightLine(this);
        c.Line->setPen(QPen(colour, 1, Qt::DashLine));
        c.Line->setSelectable(false);
        c.Label = new QCPItemText(this);
        c.Label->setText(QString::number(which + 1));
        c.Label->setColor(colour);
        c.Label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        c.Label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        c.Label->setSelectable(false);
    }
    const bool shown = x.has_value() && std::isfinite(*x);
    c.Line->setVisible(shown);
    c.Label->setVisible(shown);
    if (shown) {
        c.Line->point1->setCoords(*x, 0);
        c.Line->point2->setCoords(*x, 1);
        c.Label->position->setCoords(*x, 0.0);
        c.Label->setPadding(QMargins(3, 2, 0, 0));
    }
    while (c.Marks.size() < marks.size()) {
        auto* mark = new QCPItemTracer(this);
        mark->setStyle(QCPItemTracer::tsCircle);
        mark->setSize(9);
        mark->setPen(QPen(colour, 2));
        mark->setBrush(Qt::NoBrush);
        mark->setSelectable(false);
        c.Marks.push_back(mark);
    }
    for (std::size_t i = 0; i < c.Marks.size(); ++i) {
        QCPItemTracer* mark = c.Marks[i];
        mark->setVisible(shown && i < marks.size());
        if (i < marks.size()) {
            mark->position->setAxes(xAxis, marks[i].first);
            mark->position->setCoords(marks[i].second.X, marks[i].second.Y);
        }
    }
}

std::optional<double> TTrendChart::CursorX(int which) const {
    if (which < 0 || which > 1)
        return std::nullopt;
    const TCursorItems& c = Cursors_[static_cast<std::size_t>(which)];
    if (!c.Line || !c.Line->visible())
        return std::nullopt;
    return c.Line->point1->coords().x();
}

int TTrendChart::CursorAt(int px) const {
    if (!CursorsOn_)
        return -1;
    int best = -1;
    double bestDistance = CursorReach + 1;
    for (int i = 0; i < 2; ++i) {
        const std::optional<double> x = CursorX(i);
        if (!x)
            continue;
        const double d = std::fabs(xAxis->coordToPixel(*x) - px);
        if (d <= CursorReach && d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
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
    PanRecorded_ = false;
    DraggedCursor_ = PressButton_ == Qt::LeftButton ? CursorAt(pos.x()) : -1;
    if (PressButton_ == Qt::LeftButton && DraggedCursor_ < 0) {
        if (!Band_)
            Band_ = new QRubberBand(QRubberBand::Rectangle, this);
        Band_->setGeometry(QRect(pos, QSize()));
        Band_->show();
    }
}

void TTrendChart::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    const QPoint pos = event->position().toPoint();
    if (PressButton_ == Qt::LeftButton && DraggedCursor_ >= 0) {
        emit CursorPlaced(DraggedCursor_, xAxis->pixelToCoord(pos.x()));
        Redraw();
    } else if (PressButton_ == Qt::LeftButton && Band_) {
        Band_->setGeometry(QRect(PressPos_, pos).normalized());
    } else if (PressButton_ == Qt::RightButton && pos != LastPanPos_) {
        if (!PanRecorded_) {
            PushView();
            PanRecorded_ = true;
        }
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
    const int dragged = DraggedCursor_;
    DraggedCursor_ = -1;
    if (button != Qt::LeftButton || event->button() != Qt::LeftButton)
        return;
    if (Band_)
        Band_->hide();
    const QPoint pos = event->position().toPoint();
    const int dx = pos.x() - PressPos_.x();
    const int dy = pos.y() - PressPos_.y();
    if (dragged >= 0) {
        emit CursorPlaced(dragged, xAxis->pixelToCoord(pos.x()));
        Redraw();
    } else if (CursorsOn_ && std::abs(dx) <= DragThreshold && std::abs(dy) <= DragThreshold) {
        // A click: cursor 1 where it was clicked, cursor 2 with Shift.
        emit CursorPlaced(event->modifiers() & Qt::ShiftModifier ? 1 : 0,
                          xAxis->pixelToCoord(pos.x()));
        Redraw();
    } else if (dx > DragThreshold && dy > DragThreshold) {
        PushView();
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
