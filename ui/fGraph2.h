#pragma once
// The two-parameter trend window "FormGraph2": the distance Lт against the left axis and the
// temperature of the microwave module against the right axis, on one time axis. Modal;
// user-interface thread.

#include "IOData.h"
#include "fGraphBase.h"

class TFormGraph2 : public TFormGraphBase {
    Q_OBJECT
public:
    // Status panels.
    enum { PanelRange = 0, PanelSpan, PanelYSpan, PanelPoint, PanelEmpty };

    TFormGraph2();
    ~TFormGraph2() override;

    // The opening steps of ShowTrend2 up to showing the window: the values connected to their
    // sources (either may be null) and the axes set from their descriptions, the archive load,
    // settings, point markers, follow marks, all along X and the stored preset.
    void Open(TIODouble* distance, TIODouble* temperature, TDateTime start, TDateTime stop);

    QString TableName = QStringLiteral("Lt");
    QString TableName2 = QStringLiteral("TempSVCH");
    std::unique_ptr<TIODouble> TrendValue;  // the distance
    std::unique_ptr<TIODouble> TrendValue2; // the temperature
    TTrendSeries* Series1 = nullptr;        // distance, markers "Series1Point"
    TTrendSeries* Series2 = nullptr;        // temperature, markers "Series2Point"

    void ShowAllY() override;
    // Each vertical axis moves by the fraction of its own span, when data lie beyond its edge.
    void ScrollVertical(double fraction) override;
    void RefreshSpanPanels() override;
    void DistancePointArrived();
    void TemperaturePointArrived();
    // Panel 3's text for the point under the mouse (distance yLeft, temperature yRight).
    QString ReadoutText(double x, double yLeft, double yRight) const;

    bool SavePdf(const QString& path) override;
    void ReportPreview() override;

protected:
    std::vector<TArchiveSource> ArchiveSources() override;
    void EmptyDataMessages() override;
    void DescriptionRanges() override;
    void AttachLiveHandlers(bool attach) override;
    void MouseReadout(double x, double yLeft, double yRight) override;
    QList<TTrendCsvColumn> CsvColumns() const override;
    std::vector<TReadoutFormat> ReadoutFormats() const override;
    void ReleaseValues() override;
    QStringList PanelSamples() const override;

private:
    void AfterLivePoint();
};

// Opens the two-parameter trend window modally and returns 0 when it is closed.
// currentGauge: the plant number of the gauge whose values the sources carry; gaugeAddress: the
// address of a gauge by its plant number.
int ShowTrend2(TIODouble* distance, TIODouble* temperature, TDateTime start, TDateTime stop,
               int currentGauge = AllGauges, std::function<int(int)> gaugeAddress = {});
