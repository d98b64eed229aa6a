#include "rGraph2.h"

#include "fGraph2.h"

TRepGraph2::TRepGraph2() : TReportLayout(QStringLiteral("RepGraph2"), 0.0) {
    Bottom.DateTime = true;
    Bottom.DateTimeFormat = QStringLiteral("dd.MM.yy hh:mm:ss");
    Right.Min = -40;
    Right.Max = 80;
    Right.Grid = false;
    Series1.Color = Qt::blue;
    Series1.MarkerSize = 3;
    Series2.Color = Qt::red;
    Series2.MarkerSize = 3;
}

void TRepGraph2::PaintContent(QCPPainter& painter, double dpm) const {
    Text(painter, dpm, 1.3, 8.5, 0, FilterDescribe);
    Chart(painter, dpm, 0, 12.7, 267.0, 156.9, Bottom, Left, &Right, {&Series1, &Series2},
          {false, true});
}

void FillTrend2Report(TRepGraph2& report, const TFormGraph2& window) {
    const QCPAxis* bottom = window.Chart1->Bottom();
    const double x0 = bottom->range().lower;
    const double x1 = bottom->range().upper;
    report.Left.CopyFrom(window.Chart1->Left());
    report.Series1.Data.Clear();
    CopyShownPoints(window.Series1->Data, x0, x1, report.Series1.Data);
    report.Series1.Markers = window.ShowPoints;
    report.Series1.GapLimit = window.Series1->GapLimit();
    report.Title = window.windowTitle();
    report.Bottom.CopyFrom(bottom);
    report.FilterDescribe = ReportGaugePrefix(window) + ReportSpanText(x0, x1);
    report.Right.CopyFrom(window.Chart1->Right());
    report.Series2.Data.Clear();
    CopyShownPoints(window.Series2->Data, x0, x1, report.Series2.Data);
    report.Series2.Markers = window.ShowPoints;
    report.Series2.GapLimit = window.Series2->GapLimit();
}

void PreviewTrend2Report(const TFormGraph2& window) {
    TRepGraph2 report;
    FillTrend2Report(report, window);
    report.Preview(const_cast<TFormGraph2*>(&window));
}

bool SaveTrend2ReportPdf(const TFormGraph2& window, const QString& path, QString* error) {
    TRepGraph2 report;
    FillTrend2Report(report, window);
    return report.SavePdf(path, error);
}
