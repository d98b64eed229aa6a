#include "rGraph.h"

#include "fGraph.h"
#include "uDataCtrl.h"

TRepGraph::TRepGraph() : TReportLayout(QStringLiteral("RepGraph"), 0.0) {
    Bottom.DateTime = true;
    Bottom.DateTimeFormat = QStringLiteral("dd.MM.yy hh:mm:ss");
    Series1.Color = Qt::blue;
    Series1.MarkerSize = 3;
}

void TRepGraph::PaintContent(QCPPainter& painter, double dpm) const {
    Text(painter, dpm, 1.3, 8.5, 0, FilterDescribe);
    Chart(painter, dpm, 0, 12.7, 267.0, 156.9, Bottom, Left, nullptr, {&Series1}, {false});
}

QString ReportSpanText(double x0, double x1) {
    return QStringLiteral("с ") + ArchiveTextStamp(DateTimeFromTrendX(x0)) +
           QStringLiteral(" по ") + ArchiveTextStamp(DateTimeFromTrendX(x1));
}

QString ReportGaugePrefix(const TFormGraphBase& window) {
    return window.Gauge >= 0 ? window.GaugeCaption() + QStringLiteral(", ") : QString();
}

void CopyShownPoints(const TTrendData& from, double x0, double x1, TTrendData& to) {
    to.AssignShown(from, x0, x1);
}

void FillTrendReport(TRepGraph& report, const TFormGraph& window) {
    const QCPAxis* bottom = window.Chart1->Bottom();
    const QCPAxis* left = window.Chart1->Left();
    report.Left.CopyFrom(left);
    report.Series1.Data.Clear();
    CopyShownPoints(window.Series1->Data, bottom->range().lower, bottom->range().upper,
                    report.Series1.Data);
    report.Series1.Markers = window.ShowPoints;
    // Breaks where the window breaks the line (the shown points alone would judge otherwise).
    report.Series1.GapLimit = window.Series1->GapLimit();
    report.Title = window.windowTitle();
    report.Bottom.CopyFrom(bottom);
    report.FilterDescribe =
        ReportGaugePrefix(window) + ReportSpanText(bottom->range().lower, bottom->range().upper);
}

void PreviewTrendReport(const TFormGraph& window) {
    TRepGraph report;
    FillTrendReport(report, window);
    report.Preview(const_cast<TFormGraph*>(&window));
}

bool SaveTrendReportPdf(const TFormGraph& window, const QString& path, QString* error) {
    TRepGraph report;
    FillTrendReport(report, window);
    return report.SavePdf(path, error);
}
