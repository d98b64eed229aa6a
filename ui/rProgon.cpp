#include "rProgon.h"

#include "Ulmar.h"
#include "uServiceSession.h"
#include <QDateTime>
#include <QLocale>
#include <algorithm>

namespace {

constexpr double FieldWidth = 19.6;
constexpr double RowTops[5] = {21.2, 27.5, 33.9, 40.2, 46.6};

// A number with the locale's thousand separators and the given decimals.
QString Grouped(double value, int decimals) {
    return QLocale().toString(value, 'f', decimals);
}

} // namespace

TRepProgon::TRepProgon() : TReportLayout(QStringLiteral("RepProgon"), 2.1) {
    Bottom.Min = 2000;
    Bottom.Max = 10000;
    Bottom.TickStep = 2000;
    Bottom.NumberFormat = QStringLiteral("f");
    Bottom.Precision = 0;
    Left.Min = -3.5;
    Left.Max = 3.5;
    Left.NumberFormat = QStringLiteral("f");
    Left.Precision = 1;
    Series1.Color = Qt::red;
    Series1.Width = 2;
    Series1.Markers = true;
    Series1.MarkerSize = 7;
}

void TRepProgon::PaintContent(QCPPainter& painter, double dpm) const {
    const struct {
        const char* Label;
        const QString* Value;
        double Top;
    } numbers[] = {{"Заводской номер", &qrlPlantNumber, 8.5},
                   {"Аппаратная версия", &qrlHardVersion, 14.8},
                   {"Программная версия", &qrlSoftVersion, 21.2},
                   {"№ Н/З", &qrlNNZ, 27.5}};
    for (const auto& n : numbers) {
        Text(painter, dpm, 1.3, n.Top, 0, QString::fromUtf8(n.Label));
        Text(painter, dpm, 60.9, n.Top, FieldWidth, *n.Value, Qt::AlignRight);
    }
    const struct {
        const char* Heading;
        double HeadingLeft;
        const std::array<QString, 5>* Column;
        double Left;
    } columns[] = {{"Рулетка, мм", 144.2, &qrlRuletka, 144.5},
                   {"Уровень, мм", 168.8, &qrlValue, 169.6},
                   {"Разница, мм", 193.4, &qrlDValue, 194.2},
                   {"Ток, мА", 225.7, &qrlCurrentValue, 218.5},
                   {"Разница, мА", 242.1, &qrlDCurrentValue, 242.9}};
    for (const auto& c : columns) {
        Text(painter, dpm, c.HeadingLeft, 14.8, 0, QString::fromUtf8(c.Heading));
        for (int row = 0; row < 5; ++row)
            Text(painter, dpm, c.Left, RowTops[row], FieldWidth, (*c.Column)[row], Qt::AlignRight);
    }
    Text(painter, dpm, 1.3, 40.2, 0, qrlVerdict);
    Text(painter, dpm, 1.3, 46.6, 0, qrlTolerance);
    Chart(painter, dpm, 0, 52.9, 267.0, 116.7, Bottom, Left, nullptr, {&Series1}, {false});
}

TProgonChartView ProgonChartView(const TUlmar& ulmar) {
    TProgonChartView view;
    view.Left.Title = QStringLiteral("Разброс");
    view.Left.Min = -3.5;
    view.Left.Max = 3.5;
    view.Left.NumberFormat = QStringLiteral("f");
    view.Left.Precision = 1;
    view.Bottom.TickStep = 2000;
    view.Bottom.NumberFormat = QStringLiteral("f");
    view.Bottom.Precision = 0;
    for (int r = 0; r < std::min<int>(ulmar.ProgonMode(), TUlmar::ProgonRowCount); ++r) {
        const TProgonPoint& p = ulmar.ProgonPoints[static_cast<std::size_t>(r)];
        view.Points.push_back({p.Sample, p.Sample - p.Value});
    }
    std::sort(view.Points.begin(), view.Points.end(),
              [](const TTrendPoint& a, const TTrendPoint& b) { return a.X < b.X; });
    if (!view.Points.empty()) {
        const auto [lo, hi] = std::minmax_element(
            view.Points.begin(), view.Points.end(),
            [](const TTrendPoint& a, const TTrendPoint& b) { return a.Y < b.Y; });
        // A point outside ±3.5 makes the axis follow the points.
        if (lo->Y < -3.5 || hi->Y > 3.5) {
            view.Left.Min = lo->Y;
            view.Left.Max = hi->Y > lo->Y ? hi->Y : lo->Y + 1;
        }
        view.Bottom.Min = view.Points.front().X;
        view.Bottom.Max = view.Points.back().X > view.Points.front().X ? view.Points.back().X
                                                                       : view.Bottom.Min + 1;
    }
    return view;
}

void FillProgonReport(TRepProgon& report, const TUlmar& ulmar, const TProgonChartView& chart) {
    report.Left.Min = chart.Left.Min;
    report.Left.Max = chart.Left.Max;
    report.Series1.Data.Clear();
    report.Series1.Data.Append(chart.Points);
    report.Title = QStringLiteral("Прогон УЛМАР");
    report.Bottom = chart.Bottom;
    report.Left = chart.Left;
    report.Series1.Markers = chart.Markers;
    report.qrlPlantNumber = QString::number(ulmar.PlantNumber);
    report.qrlHardVersion = QString::number(ulmar.HardVersion);
    report.qrlSoftVersion = QString::number(ulmar.SoftVersion);
    report.qrlNNZ = ulmar.NNZ;
    // The rows "Установить" took, against the tolerance in force; printed as the record
    // prints it, so that the report and the record never disagree.
    const TServiceTolerance tolerance = ReadServiceTolerance(ServiceSettingsFile());
    const TServiceVerdict verdict = ServiceVerdict(
        ServiceRunTestOf(ulmar, ServiceTimeText(QDateTime::currentDateTimeUtc())), tolerance);
    report.qrlVerdict = QStringLiteral("Заключение: ") + ServiceVerdictText(verdict);
    report.qrlTolerance = QStringLiteral("Допуск: ±") + QLocale().toString(tolerance.LevelMm) +
                          QStringLiteral(" мм, ±") + QLocale().toString(tolerance.CurrentMa) +
                          QStringLiteral(" мА");
    for (std::size_t n = 0; n < 5; ++n) {
        const TProgonPoint& p = ulmar.ProgonPoints[n];
        report.qrlRuletka[n] = Grouped(p.Ruletka, 0);
        report.qrlValue[n] = Grouped(p.Value, 3);
        report.qrlDValue[n] = Grouped(p.dValue, 3);
        report.qrlCurrentValue[n] = Grouped(p.CurrentValue, 2);
        report.qrlDCurrentValue[n] = Grouped(p.dCurrentValue, 2);
    }
}

void PreviewProgonReport(const TUlmar& ulmar, const TProgonChartView& chart, QWidget* parent) {
    TRepProgon report;
    FillProgonReport(report, ulmar, chart);
    report.Preview(parent);
}

bool SaveProgonReportPdf(const TUlmar& ulmar, const TProgonChartView& chart, const QString& path,
                         QString* error) {
    TRepProgon report;
    FillProgonReport(report, ulmar, chart);
    return report.SavePdf(path, error);
}
