#pragma once
// Vertical bar gauge: one value as a bar in a product colour below its level and an "empty"
// colour above, with an optional scale, warning zones near the ends, a caption and a frame.
// Everything is drawn into an off-screen image first. User-interface thread only.

#include "IODescription.h"
#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <vector>

// Colour of the 0x00BBGGRR encoding; 0x80000000 + index gives the desktop's system colour
// (button face and the like taken from the application palette).
QColor ColorToQColor(TColor color);

enum TBorder { bNone, bLower, bUpper };
enum TColorProductType { cptAuto, cptManual };
enum TScaleAlignment { saLeft, saRight };

// One tick of the scale (row, length in pixels) or one number (row, text).
struct TScaleMark {
    double Value = 0.0;
    int Row = 0;
    int Length = 0; // 10 for the long ticks, 5 for the short ones, 0 for a number
    QString Text;   // the number, for Length 0
};

class TVHistogram : public QWidget {
    Q_OBJECT
public:
    explicit TVHistogram(QWidget* parent = nullptr);

    struct TZoneLimit {
        bool Enabled = true;
        double Value = 0.0;
    };

    TBorder Border() const { return Border_; }
    void SetBorder(TBorder border);
    double Value() const { return Value_; }
    void SetValue(double x); // Min <= x <= Max and a new value, else ignored
    double Max() const { return Max_; }
    void SetMax(double x); // x >= Min
    double Min() const { return Min_; }
    void SetMin(double x); // x <= Max
    // Sets both when min <= max; Value is not tested again.
    void SetRange(double min, double max);
    TColor ColorZoneAlarm() const { return ColorZoneAlarm_; }
    void SetColorZoneAlarm(TColor c);
    TColor ColorZoneAttention() const { return ColorZoneAttention_; }
    void SetColorZoneAttention(TColor c);
    int ScaleOffset() const { return ScaleOffset_; }
    void SetScaleOffset(int pixels);
    TColorProductType ColorProductType() const { return ColorProductType_; }
    void SetColorProductType(TColorProductType type);
    TColor ColorProduct() const { return ColorProduct_; }
    void SetColorProduct(TColor c);
    TColor ColorEmpty() const { return ColorEmpty_; }
    void SetColorEmpty(TColor c);
    TColor ColorScale() const { return ColorScale_; }
    void SetColorScale(TColor c);
    TColor ColorValues() const { return ColorValues_; }
    void SetColorValues(TColor c);
    // Stored with their range tests; the drawing chooses its step itself.
    double DValueSmall() const { return DValueSmall_; }
    void SetDValueSmall(double x);
    double DValueBig() const { return DValueBig_; }
    void SetDValueBig(double x);
    int DecimalSign() const { return DecimalSign_; }
    void SetDecimalSign(int n);
    bool ShowScaleMarks() const { return ShowScaleMarks_; }
    void SetShowScaleMarks(bool on);
    bool ShowScaleZones() const { return ShowScaleZones_; }
    void SetShowScaleZones(bool on);
    bool ShowValues() const { return ShowValues_; }
    void SetShowValues(bool on);
    TScaleAlignment ScaleAlignment() const { return ScaleAlignment_; }
    void SetScaleAlignment(TScaleAlignment alignment);
    bool ScaleReverse() const { return ScaleReverse_; }
    void SetScaleReverse(bool on); // stored only; the next drawing uses it
    const QString& Caption() const { return Caption_; }
    void SetCaption(const QString& caption);

    // Zone limits in the order alarm low, attention low, attention high, alarm high.
    const TZoneLimit& ZoneAlarmLow() const { return Zones_[0]; }
    const TZoneLimit& ZoneAttentionLow() const { return Zones_[1]; }
    const TZoneLimit& ZoneAttentionHigh() const { return Zones_[2]; }
    const TZoneLimit& ZoneAlarmHigh() const { return Zones_[3]; }
    int Zone() const { return Zone_; }
    int LevelY() const { return LevelY_; }
    int FrameWidth() const { return FrameWidth_; }

    // Pixel row of a value for the current height and range; -1 when Max = Min or the
    // arithmetic fails.
    int ValueToY(double v) const;
    // The product colour for the current zone and colour mode.
    TColor ProductColor() const;
    // Ticks and numbers of the scale as the next drawing places them (empty without marks).
    std::vector<TScaleMark> ScaleMarks() const;
    // Draws the whole control into an image of its size.
    QImage Render() const;

    // Height - round((v - min) * height / (max - min)), ties to even; -1 on min = max or failure.
    static int ValueToRow(double v, double min, double max, int height);
    // Zone index 0 (alarm high) to 4 (alarm low) of a value for the given limits.
    static int ZoneOf(double value, double alarmLow, double attentionLow, double attentionHigh,
                      double alarmHigh);
    // Scale step for a height and range rounded up to 0.5, 1, 2, 5, … 10000; 0 when the
    // control is too low for a scale (fewer than 10 pixels) or the range is empty.
    static double ScaleStep(double min, double max, int height);

signals:
    void Clicked();
    void DoubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Redraw();
    int ScaleRow(double v) const;
    void DrawZones(class QPainter& p) const;
    void DrawScale(class QPainter& p) const;
    void DrawFrame(class QPainter& p) const;

    TBorder Border_ = bLower;
    double Value_ = 0.0;
    double Max_ = 100.0;
    double Min_ = 0.0;
    TColor ColorZoneAlarm_ = 255;
    TColor ColorZoneAttention_ = 0x00FFFF;
    int ScaleOffset_ = 0;
    TColorProductType ColorProductType_ = cptManual;
    TColor ColorProduct_ = 0x800000;
    TColor ColorEmpty_ = 0xC0C0C0;
    TColor ColorScale_ = 0x808080;
    TColor ColorValues_ = 0x808080;
    double DValueSmall_ = 2.0;
    double DValueBig_ = 10.0;
    int DecimalSign_ = 1;
    bool ShowScaleMarks_ = false;
    bool ShowScaleZones_ = false;
    bool ShowValues_ = false;
    TScaleAlignment ScaleAlignment_ = saLeft;
    bool ScaleReverse_ = false;
    QString Caption_;

    TZoneLimit Zones_[4] = {{true, 15.0}, {true, 20.0}, {true, 80.0}, {true, 85.0}};
    int Zone_ = 0;
    int LevelY_ = 0;
    int FrameWidth_ = 1;
    bool PressedInside_ = false;
};
