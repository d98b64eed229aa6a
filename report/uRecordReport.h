#pragma once
// The service record as a printed document, "Протокол пусконаладки уровнемера УЛМАР", on A4
// portrait. First a model of its pages built from the record alone: heading lines, tables whose
// rows may be marked, charts as series of points, each block placed in millimetres, so that the
// content and the page count are known without drawing. Then the painter that draws a page of
// the model on any QPainter: a PDF (QPdfWriter), a printer (the windows), a picture (QImage).
// Numbers are written the Russian way (decimal comma) whatever the locale of the machine.
// Qt Core and Qt Gui only. Any thread, one document per thread; painting text needs a
// QGuiApplication.

#include "uServiceRecord.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <vector>

class QPagedPaintDevice;
class QPainter;

// The sheet, mm: A4 portrait, the text area within the margins, the foot below it.
namespace RecordPage {
constexpr double Width = 210.0;
constexpr double Height = 297.0;
constexpr double Left = 18.0;
constexpr double Top = 12.0;
constexpr double TextWidth = 180.0;
constexpr double TextHeight = 263.0;
constexpr double FootTop = 282.0;
} // namespace RecordPage

enum class TRecordBlockKind { Title, Heading, Text, Table, Chart };

struct TRecordRow {
    QStringList Cells;
    // Drawn bold: a changed parameter, a tare point that differs, a failed run-test row, a
    // write the gauge did not take.
    bool Marked = false;
};

// A table's part on one page: the header is repeated on every page the table runs over.
struct TRecordTable {
    QStringList Header;
    std::vector<double> Widths; // mm, one per column
    std::vector<TRecordRow> Rows;
};

enum class TRecordSeriesStyle {
    Line, // points joined in order, with markers
    Ticks // a vertical stroke at each X, TickHeight of the chart's height
};

struct TRecordSeries {
    QString Name;
    QColor Color;
    TRecordSeriesStyle Style = TRecordSeriesStyle::Line;
    double TickHeight = 1.0;
    bool Dashed = false;
    std::vector<QPointF> Points;
};

struct TRecordChart {
    QString XTitle;
    QString YTitle;
    std::vector<TRecordSeries> Series;
};

struct TRecordBlock {
    TRecordBlockKind Kind = TRecordBlockKind::Text;
    QString Text; // Title, Heading, Text
    bool Bold = false;
    TRecordTable Table;
    TRecordChart Chart;
    double Top = 0;    // mm below the top of the text area
    double Height = 0; // mm
};

struct TRecordPageModel {
    std::vector<TRecordBlock> Blocks;
};

struct TRecordDocument {
    QString PlantNumber; // the gauge's plant number as the foot shows it ("—" when not known)
    QString Verdict;     // "Годен", "Не годен" or "Прогон не выполнен"
    std::vector<TRecordPageModel> Pages;

    int PageCount() const { return static_cast<int>(Pages.size()); }
    // "Протокол УЛМАР, зав. № 1234" and "стр. k из n" of the page (0-based).
    QString FootLeft() const;
    QString FootRight(int page) const;
};

// The document of a record, in order: title, site, tag, technician, dates; the gauge; the
// parameters as found and as left with the changes marked and the reads that failed; the tare
// tables side by side with their curves; the run test with each row's verdict, the overall
// verdict and the tolerance; the zero arrays' header entries and positions overlaid; the writes
// made to the gauge; the technician's signature line.
TRecordDocument BuildRecordDocument(const TServiceRecord& record);

// "Годен" / "Не годен" / "Прогон не выполнен": the verdict as the document says it.
QString RecordVerdictText(const TServiceRecord& record);

// Draws page `page` of the document with the painter's origin at the sheet's top-left corner
// and `dotsPerMm` device pixels to the millimetre.
void PaintRecordPage(QPainter& painter, double dotsPerMm, const TRecordDocument& document,
                     int page);

// Draws every page on a paged device (a PDF writer, a printer) whose painter origin is the
// sheet's corner: the page layout is set to A4 portrait without margins. False with the reason
// when the device cannot be painted on.
bool PaintRecordDocument(QPagedPaintDevice& device, const TRecordDocument& document,
                         QString* error);

// Writes the record's document as a PDF through a temporary file renamed at the end, so that a
// failure leaves a former file as it was. False with the reason; `pages` gets the page count.
bool WriteRecordPdf(const TServiceRecord& record, const QString& path, QString* error,
                    int* pages = nullptr);

// A page as a picture on white, `dotsPerMm` pixels to the millimetre.
QImage RecordPageImage(const TRecordDocument& document, int page, double dotsPerMm);
