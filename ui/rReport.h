#pragma once
// The page of the printed reports: A4 landscape, margins 20 mm top, bottom and left and 10 mm
// right, a frame round the printable area, one title band with "Отчет создан:", the date and
// time of printing and the title; what a layout adds is placed in millimetres from the band's
// top-left corner. A layout holds plain data (texts, axes, points) and builds its chart only
// while it paints. User-interface thread.

#include "uTrendData.h"
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QString>

class QCPAxis;
class QCPPainter;
class QCustomPlot;
class QPrinter;
class QWidget;

// An axis of a report chart, as copied from a window's chart.
struct TReportAxis {
    double Min = 0.0;
    double Max = 100.0;
    QString Title;
    QString NumberFormat = QStringLiteral("gb");
    int Precision = 6;
    bool Visible = true;
    bool Grid = true;
    // A time axis: labels from DateTimeFormat (naive local times, see uTrendData.h).
    bool DateTime = false;
    QString DateTimeFormat;
    // Fixed label step; 0 lets the chart choose.
    double TickStep = 0.0;

    // Takes range, title and label format of a chart axis.
    void CopyFrom(const QCPAxis* axis);
    void ApplyTo(QCPAxis* axis) const;
};

// A line of a report chart.
struct TReportSeries {
    TTrendData Data;
    QColor Color = Qt::blue;
    int Width = 1;
    bool Markers = false;
    int MarkerSize = 3;
    // Two neighbours further apart than this (X units, > 0) are drawn with a break between
    // them, not a ramp; 0 joins every neighbour. The trend reports take the window's line's.
    double GapLimit = 0.0;
};

class TReportLayout {
public:
    // The band, mm.
    static constexpr double BandWidth = 267.2;
    static constexpr double BandHeight = 169.6;

    TReportLayout(const QString& formName, double titleTop);
    virtual ~TReportLayout() = default;

    QString FormName;
    QString Title = QStringLiteral("График");
    // The moment shown as the date and time of printing; the current time when not set.
    QDateTime PrintedAt;

    // A4 landscape with the layout's margins, at screen resolution (lines and text stay
    // vector drawings).
    static void SetupPrinter(QPrinter& printer);
    // Paints the page on the printer; false, with the reason, when it could not.
    bool Print(QPrinter& printer, QString* error = nullptr) const;
    bool SavePdf(const QString& path, QString* error = nullptr) const;
    // The preview window with printing (modal); a failed print is reported in a message box.
    void Preview(QWidget* parent) const;
    // The layout that a preview window opened by Preview shows, while it is open; null for any
    // other widget. For whoever answers the modal window in its place (ExecModal's hook).
    static const TReportLayout* OfPreview(const QWidget* preview);
    // Paints the page on a painter whose origin is the top-left corner of the printable area,
    // with `dotsPerMm` device pixels to the millimetre.
    void Paint(QCPPainter& painter, double dotsPerMm) const;

    // Texts of the common header as painted.
    QString DateText() const;
    QString TimeText() const;

protected:
    virtual void PaintContent(QCPPainter& painter, double dotsPerMm) const = 0;

    // Text in a box at (left, top) mm; width 0 sizes the box to the text.
    void Text(QCPPainter& painter, double dotsPerMm, double left, double top, double width,
              const QString& text, Qt::Alignment align = Qt::AlignLeft,
              bool bottomLine = false) const;
    // A chart in the box (left, top, width, height) mm.
    void Chart(QCPPainter& painter, double dotsPerMm, double left, double top, double width,
               double height, const TReportAxis& bottom, const TReportAxis& leftAxis,
               const TReportAxis* rightAxis, const std::vector<const TReportSeries*>& lines,
               const std::vector<bool>& onRight) const;

    double TitleTop;
    QFont BaseFont;
};
