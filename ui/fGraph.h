#pragma once
// The trend window "FormGraph": one reading against time, from the archive and live. Modal;
// user-interface thread.

#include "IOData.h"
#include "fGraphBase.h"

class TFormGraph : public TFormGraphBase {
    Q_OBJECT
public:
    // Status panels.
    enum { PanelRange = 0, PanelSpan, PanelYSpan, PanelValue, PanelPoint, PanelEmpty };

    TFormGraph();
    ~TFormGraph() override;

    // The opening steps of ShowTrend up to showing the window: the parameter (`caption`, which
    // the window's caption names with the gauge), table, range, archive load, the source's
    // description, settings, point markers, follow marks, all along X and the stored preset. A
    // null source leaves the window without live points.
    void Open(const QString& table, TIODouble* source, const QString& caption, TDateTime start,
              TDateTime stop);

    QString TableName;
    std::unique_ptr<TIODouble> TrendValue;
    double YRange = 0.0;
    TTrendSeries* Series1 = nullptr; // the line; its markers are the marker series "Series2"

    // Left axis from the description: title, range (when Min is below Max; otherwise the axis
    // follows the data), label format.
    void SetLeftAxisFromDescription();
    void ShowAllY() override;
    void ScrollVertical(double fraction) override;
    void RefreshSpanPanels() override;
    void YRangeChange();
    void YRangeSet();
    // actSet4Milimeters: recentre the left axis on the newest value when it left the view.
    void Set4Milimeters();
    // The live-point handler (OnOutSet of TrendValue).
    void LivePointArrived();
    // Panel 4's text for the point (x, y) under the mouse.
    QString ReadoutText(double x, double y) const;

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
    void ReadExtraSettings(const TIniFile& ini) override;
    void WriteExtraSettings(TIniFile& ini) override;
    void FollowStarted() override;
    void ReleaseValues() override;
    QStringList PanelSamples() const override;
};

// Number texts of the trend windows for a description: the number format, or the plain number
// text (shortest general form, up to 15 significant digits) when Digits is 255.
QString TrendNumberText(const TDescriptionOfDouble* d, double value);
QString PlainNumberText(double value);
// Applies a description to a value axis: title "Title, Dimension", the range when Min < Max
// (else the axis follows the data), labels with Digits decimals (1 when 0; the general form when
// 255).
void ApplyDescriptionToAxis(TTrendChart* chart, QCPAxis* axis, const TDescriptionOfDouble* d);

// The cursor read-out's form for a line of that description: its sign (or title), unit and
// number texts.
TReadoutFormat TrendReadoutFormat(const QString& sign, const TDescriptionOfDouble* d);

// Opens the trend window modally and returns 0 when it is closed. currentGauge: the plant
// number of the gauge whose values `source` carries (TFormGraphBase::CurrentGauge);
// gaugeAddress: the address of a gauge by its plant number (TFormGraphBase::GaugeAddress).
int ShowTrend(const QString& table, TIODouble* source, const QString& caption, TDateTime start,
              TDateTime stop, int currentGauge = AllGauges,
              std::function<int(int)> gaugeAddress = {});
