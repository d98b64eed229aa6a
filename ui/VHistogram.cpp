#include "VHistogram.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <cfenv>
#include <climits>
#include <cmath>

QColor ColorToQColor(TColor color) {
    if (color & 0x80000000u) {
        // System colours: the few that this program uses, taken from the palette.
        const QPalette pal = QApplication::palette();
        switch (color & 0xFF) {
        case 0x05: // window
            return pal.color(QPalette::Base);
        case 0x08: // window text
            return pal.color(QPalette::WindowText);
        case 0x0F: // button face
            return pal.color(QPalette::Button);
        case 0x10: // button shadow
            return pal.color(QPalette::Dark);
        case 0x12: // button text
            return pal.color(QPalette::ButtonText);
        default:
            return pal.color(QPalette::Window);
        }
    }
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

namespace {

constexpr int LongTick = 10;
constexpr int ShortTick = 5;
// Bound on the ticks of one pass, whatever the range holds.
constexpr int MaxTicks = 10000;

// Fills the pixels of the rectangle (x1, y1)-(x2, y2) without its right and bottom edges.
void FillRect(QPainter& p, int x1, int y1, int x2, int y2, TColor color) {
    if (x2 <= x1 || y2 <= y1)
        return;
    p.fillRect(QRect(x1, y1, x2 - x1, y2 - y1), ColorToQColor(color));
}

// Horizontal or vertical line from the first point to the second, without the second point.
void Line(QPainter& p, int x1, int y1, int x2, int y2, TColor color) {
    if (y1 == y2) {
        if (x2 > x1)
            FillRect(p, x1, y1, x2, y1 + 1, color);
        else if (x2 < x1)
            FillRect(p, x2 + 1, y1, x1 + 1, y1 + 1, color);
    } else if (x1 == x2) {
        if (y2 > y1)
            FillRect(p, x1, y1, x1 + 1, y2, color);
        else
            FillRect(p, x1, y2 + 1, x1 + 1, y1 + 1, color);
    }
}

// Dotted horizontal line: one pixel in the dot colour, one in the gap colour.
void DottedLine(QPainter& p, int x1, int x2, int y, TColor dot, TColor gap) {
    const QColor dotColor = ColorToQColor(dot);
    const QColor gapColor = ColorToQColor(gap);
    for (int x = x1; x < x2; ++x)
        p.fillRect(QRect(x, y, 1, 1), ((x - x1) % 2 == 0) ? dotColor : gapColor);
}

} // namespace

TVHistogram::TVHistogram(QWidget* parent) : QWidget(parent) {
    resize(50, 200);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int TVHistogram::ValueToRow(double v, double min, double max, int height) {
    if (max == min)
        return -1;
    const double scaled = (v - min) * height / (max - min);
    if (!std::isfinite(scaled))
        return -1;
    const int oldMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(scaled);
    std::fesetround(oldMode);
    const double row = height - rounded;
    if (!std::isfinite(row) || row < INT_MIN || row > INT_MAX)
        return -1;
    return static_cast<int>(row);
}

int TVHistogram::ZoneOf(double value, double alarmLow, double attentionLow, double attentionHigh,
                        double alarmHigh) {
    if (value >= alarmHigh)
        return 0;
    if (value >= attentionHigh)
        return 1;
    if (value > attentionLow)
        return 2;
    if (value > alarmLow)
        return 3;
    return 4;
}

double TVHistogram::ScaleStep(double min, double max, int height) {
    const int n = height / 10;
    if (n <= 0)
        return 0.0;
    double step = (max - min) / n;
    static const double table[] = {0.5, 1,   2,   5,    10,   20,   50,
                                   100, 200, 500, 1000, 2000, 5000, 10000};
    for (size_t i = 0; i + 1 < std::size(table); ++i) {
        if (step > table[i] && step <= table[i + 1]) {
            step = table[i + 1];
            break;
        }
    }
    return std::isfinite(step) ? step : 0.0;
}

int TVHistogram::ValueToY(double v) const {
    return ValueToRow(v, Min_, Max_, height());
}

int TVHistogram::ScaleRow(double v) const {
    // The reversed scale mirrors the value within the range (the number of Min stands at the
    // row of Max).
    return ValueToY(ScaleReverse_ ? Max_ + Min_ - v : v);
}

TColor TVHistogram::ProductColor() const {
    if (ColorProductType_ == cptManual)
        return ColorProduct_;
    switch (Zone_) {
    case 0:
    case 4:
        return ColorZoneAlarm_;
    case 1:
    case 3:
        return ColorZoneAttention_;
    default:
        return ColorProduct_;
    }
}

std::vector<TScaleMark> TVHistogram::ScaleMarks() const {
    std::vector<TScaleMark> marks;
    if (!ShowScaleMarks_)
        return marks;
    const double step = ScaleStep(Min_, Max_, height());
    // A failure inside one pass ends that pass; the marks found so far stay.
    for (int k = 1; step > 0 && k <= MaxTicks; ++k) {
        const double v = Min_ + k * step;
        if (!(v < Max_))
            break;
        const int y = ScaleRow(v);
        if (y < 0)
            continue;
        marks.push_back({v, y, LongTick, {}});
        if (ShowValues_)
            marks.push_back({v, y, 0, FormatNumber(v, 9, DecimalSign_)});
    }
    const double half = step / 2;
    for (int k = 1; half > 0 && k <= MaxTicks; ++k) {
        const double v = Min_ + k * half;
        if (!(v < Max_))
            break;
        const int y = ScaleRow(v);
        if (y >= 0)
            marks.push_back({v, y, ShortTick, {}});
    }
    return marks;
}

void TVHistogram::DrawZones(QPainter& p) const {
    const int w = width();
    const int h = height();
    const int b = FrameWidth_;
    const int xl = b + ScaleOffset_;
    const int xr = w - b - ScaleOffset_ - 1;
    const int stripLeft = ScaleAlignment_ == saLeft ? xl : xr - 2;
    const int stripRight = ScaleAlignment_ == saLeft ? xl + 3 : xr;
    auto high = [&](const TZoneLimit& zone, TColor color) {
        if (!zone.Enabled)
            return;
        const int y = ValueToY(zone.Value);
        FillRect(p, stripLeft, 1, stripRight, y, color);
        DottedLine(p, 0, w - 1, y, color, ColorEmpty_);
    };
    auto low = [&](const TZoneLimit& zone, TColor color) {
        if (!zone.Enabled)
            return;
        const int y = ValueToY(zone.Value);
        FillRect(p, stripLeft, y, stripRight, h - 1, color);
        DottedLine(p, 0, w - 1, y, color, ColorEmpty_);
    };
    high(ZoneAttentionHigh(), ColorZoneAttention_);
    low(ZoneAttentionLow(), ColorZoneAttention_);
    high(ZoneAlarmHigh(), ColorZoneAlarm_);
    low(ZoneAlarmLow(), ColorZoneAlarm_);
    const int x = ScaleAlignment_ == saLeft ? xl : xr;
    Line(p, x, 1, x, h - 1, ColorScale_);
}

void TVHistogram::DrawScale(QPainter& p) const {
    const int w = width();
    const int b = FrameWidth_;
    const int x0 = b + ScaleOffset_;
    const int xr = w - b - ScaleOffset_ - 1;
    const QFontMetrics fm(font());
    p.setFont(font());
    p.setPen(ColorToQColor(ColorValues_));
    p.setBackgroundMode(Qt::TransparentMode);
    for (const TScaleMark& mark : ScaleMarks()) {
        if (mark.Length > 0) {
            if (ScaleAlignment_ == saLeft)
                Line(p, x0, mark.Row, x0 + mark.Length, mark.Row, ColorScale_);
            else
                Line(p, xr - mark.Length + 1, mark.Row, xr, mark.Row, ColorScale_);
        } else {
            const int tw = fm.horizontalAdvance(mark.Text);
            const int x = ScaleAlignment_ == saLeft ? b + 20 : w - b - 21 - tw;
            const int top = mark.Row - fm.height() / 2;
            p.drawText(QPoint(x, top + fm.ascent()), mark.Text);
        }
    }
}

void TVHistogram::DrawFrame(QPainter& p) const {
    if (Border_ == bNone)
        return;
    const int w = width();
    const int h = height();
    const TColor black = 0x000000;
    const TColor white = 0xFFFFFF;
    const TColor topLeft = Border_ == bLower ? black : white;
    const TColor bottomRight = Border_ == bLower ? white : black;
    Line(p, 0, 0, w - 1, 0, topLeft);
    Line(p, 0, 0, 0, h - 1, topLeft);
    Line(p, w - 1, h - 1, w - 1, 0, bottomRight);
    Line(p, w - 1, h - 1, 0, h - 1, bottomRight);
}

QImage TVHistogram::Render() const {
    const int w = width();
    const int h = height();
    QImage image(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
    image.fill(ColorToQColor(ColorEmpty_));
    QPainter p(&image);
    const int levelY = ValueToY(Value_);
    FillRect(p, 0, 0, w, levelY + 1, ColorEmpty_);
    FillRect(p, 0, levelY, w, h, ProductColor());
    if (ScaleReverse_) {
        DrawScale(p);
    } else {
        if (ShowScaleZones_)
            DrawZones(p);
        DrawScale(p);
    }
    if (!Caption_.isEmpty()) {
        const QFontMetrics fm(font());
        p.setFont(font());
        p.setPen(ColorToQColor(ColorValues_));
        const int tw = fm.horizontalAdvance(Caption_);
        const int top = fm.height() / 2;
        p.drawText(QPoint((w - tw) / 2, top + fm.ascent()), Caption_);
    }
    DrawFrame(p);
    return image;
}

void TVHistogram::paintEvent(QPaintEvent*) {
    if (!isVisible())
        return;
    LevelY_ = ValueToY(Value_);
    const QImage image = Render();
    QPainter p(this);
    p.drawImage(0, 0, image);
}

void TVHistogram::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
}

void TVHistogram::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit DoubleClicked();
}

void TVHistogram::Redraw() {
    update();
}

void TVHistogram::SetBorder(TBorder border) {
    if (border == Border_)
        return;
    Border_ = border;
    FrameWidth_ = border == bNone ? 0 : 1;
    Redraw();
}

void TVHistogram::SetValue(double x) {
    if (!(x >= Min_ && x <= Max_) || x == Value_)
        return;
    Value_ = x;
    Zone_ = ZoneOf(x, Zones_[0].Value, Zones_[1].Value, Zones_[2].Value, Zones_[3].Value);
    LevelY_ = ValueToY(x);
    Redraw();
}

void TVHistogram::SetMax(double x) {
    if (!(x >= Min_) || x == Max_)
        return;
    Max_ = x;
    Redraw();
}

void TVHistogram::SetMin(double x) {
    if (!(x <= Max_) || x == Min_)
        return;
    Min_ = x;
    Redraw();
}

void TVHistogram::SetRange(double min, double max) {
    if (!(min <= max))
        return;
    Min_ = min;
    Max_ = max;
    Redraw();
}

void TVHistogram::SetColorZoneAlarm(TColor c) {
    ColorZoneAlarm_ = c;
    Redraw();
}

void TVHistogram::SetColorZoneAttention(TColor c) {
    ColorZoneAttention_ = c;
    Redraw();
}

namespace {
template <typename T> bool Change(T& field, const T& value) {
    if (field == value)
        return false;
    field = value;
    return true;
}
} // namespace

void TVHistogram::SetScaleOffset(int pixels) {
    if (Change(ScaleOffset_, pixels))
        Redraw();
}

void TVHistogram::SetColorProductType(TColorProductType type) {
    if (Change(ColorProductType_, type))
        Redraw();
}

void TVHistogram::SetColorProduct(TColor c) {
    if (Change(ColorProduct_, c))
        Redraw();
}

void TVHistogram::SetColorEmpty(TColor c) {
    if (Change(ColorEmpty_, c))
        Redraw();
}

void TVHistogram::SetColorScale(TColor c) {
    if (Change(ColorScale_, c))
        Redraw();
}

void TVHistogram::SetColorValues(TColor c) {
    if (Change(ColorValues_, c))
        Redraw();
}

void TVHistogram::SetDValueSmall(double x) {
    if (!(x >= 0 && x >= Min_ && x <= Max_) || x == DValueSmall_)
        return;
    DValueSmall_ = x;
    Redraw();
}

void TVHistogram::SetDValueBig(double x) {
    if (!(x >= 0 && x >= Min_ && x <= Max_) || x == DValueBig_)
        return;
    DValueBig_ = x;
    Redraw();
}

void TVHistogram::SetDecimalSign(int n) {
    if (n < 0 || n == DecimalSign_)
        return;
    DecimalSign_ = n;
    Redraw();
}

void TVHistogram::SetShowScaleMarks(bool on) {
    if (Change(ShowScaleMarks_, on))
        Redraw();
}

void TVHistogram::SetShowScaleZones(bool on) {
    if (Change(ShowScaleZones_, on))
        Redraw();
}

void TVHistogram::SetShowValues(bool on) {
    if (Change(ShowValues_, on))
        Redraw();
}

void TVHistogram::SetScaleAlignment(TScaleAlignment alignment) {
    if (Change(ScaleAlignment_, alignment))
        Redraw();
}

void TVHistogram::SetScaleReverse(bool on) {
    ScaleReverse_ = on;
}

void TVHistogram::SetCaption(const QString& caption) {
    if (Change(Caption_, caption))
        Redraw();
}
