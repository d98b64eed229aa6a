#include "uTrendMeasure.h"

#include <QLocale>
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
    std::size_t total = 0;
    for (std::size_t r = 0; r < data.RunCount(); ++r)
        total += data.Run(r).Last - data.Run(r).First - 1;
    if (total == 0)
        return 0.0;
    // Every step while there are few, else every stride-th step of the line (a step being a
    // point and the one before it in its run).
    const std::size_t stride = (total + SpacingSamples - 1) / SpacingSamples;
    std::vector<double> steps;
    steps.reserve(std::min(total, SpacingSamples));
    std::size_t k = 0;
    for (std::size_t r = 0; r < data.RunCount(); ++r) {
        const TIndexRange run = data.Run(r);
        for (std::size_t i = run.First + 1; i < run.Last; ++i, ++k)
            if (k % stride == 0)
                steps.push_back(data.At(i).X - data.At(i - 1).X);
    }
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

QString TrendExportFileName(const QString& parameter, const QDate& first, const QDate& last,
                            const QString& suffix) {
    QString name;
    for (const QChar c : parameter.trimmed()) {
        const bool bad = c.unicode() < 32 || QStringLiteral("\\/:*?\"<>|").contains(c);
        name += bad || c.isSpace() ? QChar(u'_') : c;
    }
    if (name.isEmpty())
        name = QStringLiteral("trend");
    const QString format = QStringLiteral("yyyy-MM-dd");
    if (first.isValid()) {
        name += u'_' + first.toString(format);
        if (last.isValid() && last != first)
            name += u'_' + last.toString(format);
    }
    return name + u'.' + suffix;
}

QString ParameterSign(const QString& table) {
    static const std::pair<const char*, const char*> signs[] = {
        {"Hu", "Ну"}, {"Lt", "Lт"}, {"Lc", "Lс"}, {"TempSVCH", "Т"}, {"CurrentOutput", "I"}};
    for (const auto& [name, sign] : signs)
        if (table == QLatin1String(name))
            return QString::fromUtf8(sign);
    return table;
}

QString RateUnit(const QString& unit) {
    return unit + QStringLiteral("/мин");
}

QString ReadingTimeText(double x) {
    QDate date;
    QTime time;
    if (!SplitTrendX(x, date, time))
        return {};
    return date.toString(QStringLiteral("dd.MM.yy")) + u' ' +
           time.toString(QStringLiteral("hh:mm:ss.zzz"));
}

QString DurationText(double seconds) {
    const double whole = std::round(std::fabs(seconds) * 1000.0);
    // Beyond any trend's span (a hundred years): the seconds as a number.
    if (!std::isfinite(whole) || whole > 1e13)
        return QString::number(seconds, 'g', 6) + QStringLiteral(" с");
    auto ms = static_cast<qint64>(whole);
    const qint64 days = ms / 86400000;
    ms %= 86400000;
    QString text = seconds < 0 && whole > 0 ? QStringLiteral("-") : QString();
    if (days > 0)
        text += QString::number(days) + QStringLiteral(" д ");
    const auto two = [](qint64 v, int width) {
        return QStringLiteral("%1").arg(v, width, 10, QChar(u'0'));
    };
    return text + two(ms / 3600000, 2) + u':' + two(ms / 60000 % 60, 2) + u':' +
           two(ms / 1000 % 60, 2) + u'.' + two(ms % 1000, 3);
}

QString CursorReadoutText(const TReadoutFormat& format, const std::optional<TTrendPoint>& a,
                          const std::optional<TTrendPoint>& b) {
    const QString unit = format.Unit.isEmpty() ? QString() : u' ' + format.Unit;
    const auto number = [&format](double v) {
        return format.Number ? format.Number(v) : QString::number(v, 'g', 15);
    };
    const auto reading = [&](int index, const std::optional<TTrendPoint>& p) {
        const QString label = QString::number(index) + QStringLiteral(") ");
        return p ? label + ReadingTimeText(p->X) + QStringLiteral(" = ") + number(p->Y) + unit
                 : label + QStringLiteral("—");
    };
    QString text =
        format.Name + QStringLiteral(": ") + reading(1, a) + QStringLiteral("; ") + reading(2, b);
    if (!a || !b)
        return text;
    const TCursorMeasure m = MeasureCursors(*a, *b);
    text += QStringLiteral("; ΔT = ") + DurationText(m.DeltaT) + QStringLiteral("; ΔY = ") +
            number(m.DeltaY) + unit;
    if (m.RatePerMinute)
        text += QStringLiteral("; скорость = ") +
                QLocale().toString(*m.RatePerMinute, 'f', format.RateDecimals) + u' ' +
                RateUnit(format.Unit);
    return text;
}
