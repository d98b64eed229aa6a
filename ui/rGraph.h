#pragma once
// The one-parameter trend report "RepGraph": the common header, the shown span under it
// (FilterDescribe) and the chart of the trend window as shown. User-interface thread.

#include "rReport.h"

class TFormGraph;
class TFormGraphBase;

class TRepGraph : public TReportLayout {
public:
    TRepGraph();

    QString FilterDescribe;
    TReportAxis Bottom;
    TReportAxis Left;
    TReportSeries Series1;

protected:
    void PaintContent(QCPPainter& painter, double dotsPerMm) const override;
};

// "с " + the start + " по " + the stop of a shown span (the с is Cyrillic).
QString ReportSpanText(double x0, double x1);
// "Прибор № <plant number>, " before the span when the window shows a gauge known by its plant
// number; empty otherwise (the rows of no known gauge, as before the number was archived).
QString ReportGaugePrefix(const TFormGraphBase& window);
// The points of a line within [x0, x1] and one point each side of it, run by run.
void CopyShownPoints(const TTrendData& from, double x0, double x1, TTrendData& to);

// Fills the layout from the window as it is now: axes, title, the shown span, the points of
// that span, markers as the window shows them.
void FillTrendReport(TRepGraph& report, const TFormGraph& window);
// "Просмотр/Печать": fills a layout of its own and opens the preview, which shows that layout
// until it closes.
void PreviewTrendReport(const TFormGraph& window);
// Fills a layout of its own and writes it as PDF; false with the reason when it could not.
bool SaveTrendReportPdf(const TFormGraph& window, const QString& path, QString* error);
