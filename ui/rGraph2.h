#pragma once
// The two-parameter trend report "RepGraph2": as the one-parameter report, with the
// temperature line (red) against a right axis. User-interface thread.

#include "rGraph.h"

class TFormGraph2;

class TRepGraph2 : public TReportLayout {
public:
    TRepGraph2();

    QString FilterDescribe;
    TReportAxis Bottom;
    TReportAxis Left;
    TReportAxis Right; // -40 to 80 without grid lines until filled
    TReportSeries Series1;
    TReportSeries Series2;

protected:
    void PaintContent(QCPPainter& painter, double dotsPerMm) const override;
};

// As FillTrendReport, PreviewTrendReport and SaveTrendReportPdf.
void FillTrend2Report(TRepGraph2& report, const TFormGraph2& window);
void PreviewTrend2Report(const TFormGraph2& window);
bool SaveTrend2ReportPdf(const TFormGraph2& window, const QString& path, QString* error);
