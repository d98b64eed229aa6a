#pragma once
// The run test report "RepProgon": the gauge's numbers at the left, the five points of the run
// table at the right and the chart of the deviations below. User-interface thread.

#include "rReport.h"
#include <array>
#include <vector>

class TUlmar;

class TRepProgon : public TReportLayout {
public:
    TRepProgon();

    QString qrlPlantNumber;
    QString qrlHardVersion;
    QString qrlSoftVersion;
    QString qrlNNZ;
    // "Заключение: годен / не годен / не выполнен" against the tolerance of the service record's
    // settings, and that tolerance ("Допуск: ±3 мм, ±0,03 мА").
    QString qrlVerdict;
    QString qrlTolerance;
    std::array<QString, 5> qrlRuletka;
    std::array<QString, 5> qrlValue;
    std::array<QString, 5> qrlDValue;
    std::array<QString, 5> qrlCurrentValue;
    std::array<QString, 5> qrlDCurrentValue;
    TReportAxis Bottom; // 2000 to 10 000 in steps of 2000 until filled
    TReportAxis Left;   // -3.5 to 3.5 until filled
    TReportSeries Series1;

protected:
    void PaintContent(QCPPainter& painter, double dotsPerMm) const override;
};

// The run window's chart as the report copies it: its two axes, its points and whether its
// series shows markers.
struct TProgonChartView {
    TReportAxis Bottom;
    TReportAxis Left;
    std::vector<TTrendPoint> Points;
    bool Markers = true;
};

// The chart that the run window draws from the run table: one point per row with X = Sample
// and Y = Sample - Value; the left axis -3.5 to 3.5, or from the points when one lies outside;
// the bottom axis over the points, labelled in steps of 2000.
TProgonChartView ProgonChartView(const TUlmar& ulmar);

// Fills the layout from the device object and the run window's chart.
void FillProgonReport(TRepProgon& report, const TUlmar& ulmar, const TProgonChartView& chart);
// "График" of the run window: fills a layout of its own and opens the preview, which shows that
// layout until it closes.
void PreviewProgonReport(const TUlmar& ulmar, const TProgonChartView& chart, QWidget* parent);
// Fills a layout of its own and writes it as PDF; false with the reason when it could not.
bool SaveProgonReportPdf(const TUlmar& ulmar, const TProgonChartView& chart, const QString& path,
                         QString* error);
