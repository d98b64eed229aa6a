#include "uTrendMeasure.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::optional<TTrendPoint> NearestReading(const TTrendData& data, double x) {
    if (data.Empty() || std::isnan(x))
        return std::nullopt;
    std::optional<TTrendPoint> best;
    double bestDistance = 0;
    const auto consider = [&](const TTrendPoint& p) {
        const double d = std::fabs(p.X - x);
        if (!best || d < bestDistance) {
            best = p;
            bestDistance = d;
        }
    };
    const std::vector<TTrendPoint>& points = data.Points();
    // Each run is in X order: its candidates are the points either side of x.
    for (std::size_t r = 0; r < data.RunCount(); ++r) {
        const TIndexRange run = data.Run(r);
        const auto begin = points.begin() + static_cast<std::ptrdiff_t>(run.First);
        const auto end = points.begin() + static_cast<std::ptrdiff_t>(run.Last);
        const auto at =
            std::lower_bound(begin, end, x, [](const TTrendPoint& p, double v) { return p.X < v; });
        if (at != begin)
            consider(*(at - 1));
        if (at != end)
            consider(*at);
    }
    return best;
}

TCursorMeasure MeasureCursors(const TTrendPoint& a, const TTrendPoint& b) {
    TCursorMeasure m;
    m.A = a;
    m.B = b;
    m.DeltaT = b.X - a.X;
    m.DeltaY = b.Y - a.Y;
    if (m.DeltaT != 0)
        m.RatePerMinute = m.DeltaY / (m.DeltaT / 60.0);
    return m;
}

double MedianSpacing(const TTrendData& data) {
    std::vector<double> steps;
    steps.reserve(data.Count());
    for (std::size_t r = 0; r < data.RunCount(); ++r) {
        const TIndexRange run = data.Run(r);
        for (std::size_t i = run.First + 1; i < run.Last; ++i)
            steps.push_back(data.At(i).X - data.At(i - 1).X);
    }
    if (steps.empty())
        return 0.0;
    const auto middle = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return *middle;
}

void InsertGapBreaks(std::vector<TTrendPoint>& points, std::size_t from, double limit) {
    if (!(limit > 0) || from >= points.size())
        return;
    std::size_t gaps = 0;
    for (std::size_t i = from + 1; i < points.size(); ++i)
        if (points[i].X - points[i - 1].X > limit)
            ++gaps;
    if (gaps == 0)
        return;
    // Moved from the back, so that each point is moved once.
    std::size_t write = points.size() + gaps;
    points.resize(write);
    for (std::size_t read = points.size() - gaps; read-- > from + 1;) {
        const TTrendPoint right = points[read];
        const TTrendPoint left = points[read - 1];
        points[--write] = right;
        if (right.X - left.X > limit)
            points[--write] = {left.X / 2 + right.X / 2, std::numeric_limits<double>::quiet_NaN()};
    }
}

void TZoomHistory::Push(const TTrendView& left) {
    if (!Back_.empty() && Back_.back() == left)
        return;
    Back_.push_back(left);
    if (Back_.size() > Limit)
        Back_.erase(Back_.begin());
    Forward_.clear();
}

std::optional<TTrendView> TZoomHistory::Back(const TTrendView& current) {
    if (Back_.empty())
        return std::nullopt;
    const TTrendView view = Back_.back();
    Back_.pop_back();
    Forward_.push_back(current);
    return view;
}

std::optional<TTrendView> TZoomHistory::Forward(const TTrendView& current) {
    if (Forward_.empty())
        return std::nullopt;
    const TTrendView view = Forward_.back();
    Forward_.pop_back();
    Back_.push_back(current);
    return view;
}

void TZoomHistory::Clear() {
    Back_.clear();
    Forward_.clear();
}

QString TrendCaption(const QString& parameter, int plantNumber, int address) {
    if (plantNumber < 0)
        return parameter;
    QString text = parameter + QStringLiteral(" — прибор № ") + QString::number(plantNumber);
    if (address >= 0)
        text += QStringLiteral(", адрес ") + QString::number(address);
    return text;
}

QString TrendExportFileName(const QString& parameter, const QDate& date, const QString& suffix) {
    QString name;
    for (const QChar c : parameter.trimmed()) {
        const bool bad = c.unicode() < 32 || QStringLiteral("\\/:*?\"<>|").contains(c);
        name += bad || c.isSpace() ? QChar(u'_') : c;
    }
    if (name.isEmpty())
        name = QStringLiteral("trend");
    if (date.isValid())
        name += u'_' + date.toString(QStringLiteral("yyyy-MM-dd"));
    return name + u'.' + suffix;
}

QString RateUnit(const QString& unit) {
    return unit + QStringLiteral("/мин");
}
