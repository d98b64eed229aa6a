#include "rReport.h"

#include "uModal.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPageLayout>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTimeZone>
#include <qcustomplot.h>

namespace {

// Header positions, mm from the band's top-left corner.
constexpr double HeaderTop = 2.1;
constexpr double LabelLeft = 1.3;
constexpr double DateLeft = 25.4;
constexpr double DateWidth = 21.4;
constexpr double TimeLeft = 47.6;
constexpr double TimeWidth = 11.1;

// The property of a preview window that holds the layout it shows.
const char* const PreviewLayoutProperty = "ulmarReportLayout";

} // namespace

void TReportAxis::CopyFrom(const QCPAxis* axis) {
    Min = axis->range().lower;
    Max = axis->range().upper;
    Title = axis->label();
    NumberFormat = axis->numberFormat();
    Precision = axis->numberPrecision();
    Visible = axis->visible();
    Grid = axis->grid()->visible();
    const auto dt = axis->ticker().dynamicCast<QCPAxisTickerDateTime>();
    DateTime = !dt.isNull();
    if (DateTime)
        DateTimeFormat = dt->dateTimeFormat();
    const auto fixed = axis->ticker().dynamicCast<QCPAxisTickerFixed>();
    TickStep = fixed ? fixed->tickStep() : 0.0;
}

void TReportAxis::ApplyTo(QCPAxis* axis) const {
    axis->setRange(Min, Max);
    axis->setLabel(Title);
    axis->setNumberFormat(NumberFormat);
    axis->setNumberPrecision(Precision);
    axis->setVisible(Visible);
    axis->grid()->setVisible(Grid);
    if (DateTime) {
        auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
        ticker->setDateTimeFormat(DateTimeFormat);
        ticker->setTimeZone(QTimeZone::utc());
        axis->setTicker(ticker);
    } else if (TickStep > 0) {
        auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
        ticker->setTickStep(TickStep);
        axis->setTicker(ticker);
    }
}

TReportLayout::TReportLayout(const QString& formName, double titleTop)
    : FormName(formName), TitleTop(titleTop) {
    BaseFont = QFont(QStringLiteral("Arial"));
    BaseFont.setPointSizeF(10);
}

void TReportLayout::SetupPrinter(QPrinter& printer) {
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                      QMarginsF(20, 20, 10, 20), QPageLayout::Millimeter));
    printer.setFullPage(false);
}

QString TReportLayout::DateText() const {
    const QDateTime at = PrintedAt.isValid() ? PrintedAt : QDateTime::currentDateTime();
    return QLocale().toString(at.date(), QLocale::ShortFormat);
}

QString TReportLayout::TimeText() const {
    const QDateTime at = PrintedAt.isValid() ? PrintedAt : QDateTime::currentDateTime();
    return at.time().toString(QStringLiteral("HH:mm:ss"));
}

void TReportLayout::Text(QCPPainter& painter, double dpm, double left, double top, double width,
                         const QString& text, Qt::Alignment align, bool bottomLine) const {
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double needed = metrics.horizontalAdvance(text) + 2;
    // A field too narrow for its text in this font grows away from its aligned side.
    const double w = std::max(width * dpm, needed);
    double x = left * dpm;
    if (align & Qt::AlignRight)
        x -= w - width * dpm;
    const QRectF box(x, top * dpm, w, metrics.height());
    painter.drawText(box, static_cast<int>(align | Qt::AlignVCenter), text);
    if (bottomLine)
        painter.drawLine(box.bottomLeft(), box.bottomRight());
}

void TReportLayout::Chart(QCPPainter& painter, double dpm, double left, double top, double width,
                          double height, const TReportAxis& bottom, const TReportAxis& leftAxis,
                          const TReportAxis* rightAxis,
                          const std::vector<const TReportSeries*>& lines,
                          const std::vector<bool>& onRight) const {
    const int w = static_cast<int>(width * dpm);
    const int h = static_cast<int>(height * dpm);
    QCustomPlot plot;
    plot.setLocale(QLocale());
    plot.setBackground(Qt::white);
    plot.legend->setVisible(false);
    plot.resize(w, h);
    bottom.ApplyTo(plot.xAxis);
    leftAxis.ApplyTo(plot.yAxis);
    if (rightAxis)
        rightAxis->ApplyTo(plot.yAxis2);
    plot.yAxis2->setVisible(rightAxis != nullptr);
    std::vector<TTrendPoint> points;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const TReportSeries* s = lines[i];
        const bool right = i < onRight.size() && onRight[i];
        // A curve keeps the points' order: each run of the line drawn apart (uTrendData.h).
        auto* graph = new QCPCurve(plot.xAxis, right ? plot.yAxis2 : plot.yAxis);
        graph->setPen(QPen(s->Color, s->Width));
        if (s->Markers)
            graph->setScatterStyle(
                QCPScatterStyle(QCPScatterStyle::ssSquare, s->Color, s->MarkerSize));
        s->Data.Decimate(bottom.Min, bottom.Max, std::max(w, 100), points, s->GapLimit);
        QVector<QCPCurveData> data;
        data.reserve(static_cast<qsizetype>(points.size()));
        for (const TTrendPoint& p : points)
            data.append(QCPCurveData(static_cast<double>(data.size()), p.X, p.Y));
        graph->data()->set(data, true);
    }
    painter.save();
    painter.translate(left * dpm, top * dpm);
    plot.toPainter(&painter, w, h);
    painter.restore();
}

void TReportLayout::Paint(QCPPainter& painter, double dpm) const {
    painter.save();
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.setFont(BaseFont);
    Text(painter, dpm, LabelLeft, HeaderTop, 0, QStringLiteral("Отчет создан:"));
    Text(painter, dpm, DateLeft, HeaderTop, DateWidth, DateText(), Qt::AlignHCenter, true);
    Text(painter, dpm, TimeLeft, HeaderTop, TimeWidth, TimeText(), Qt::AlignHCenter, true);
    QFont titleFont = BaseFont;
    titleFont.setPointSizeF(12);
    titleFont.setBold(true);
    painter.setFont(titleFont);
    Text(painter, dpm, 0, TitleTop, BandWidth, Title, Qt::AlignHCenter);
    painter.setFont(BaseFont);
    PaintContent(painter, dpm);
    // The frame last: the chart's white background must not cover it.
    painter.setPen(QPen(Qt::black, 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(0, 0, BandWidth * dpm, BandHeight * dpm));
    painter.restore();
}

bool TReportLayout::Print(QPrinter& printer, QString* error) const {
    QCPPainter painter;
    if (!painter.begin(&printer)) {
        if (error)
            *error = QStringLiteral("печать не началась");
        return false;
    }
    Paint(painter, printer.resolution() / 25.4);
    painter.end();
    if (printer.printerState() == QPrinter::Error || printer.printerState() == QPrinter::Aborted) {
        if (error)
            *error = QStringLiteral("печать прервана");
        return false;
    }
    return true;
}

bool TReportLayout::SavePdf(const QString& path, QString* error) const {
    // Written beside the target and renamed into place, so a failure leaves no half file.
    const QFileInfo target(path);
    const QString temp = target.absoluteFilePath() + QStringLiteral(".part");
    bool ok = false;
    {
        QPrinter printer(QPrinter::ScreenResolution);
        SetupPrinter(printer);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(temp);
        printer.setCreator(QStringLiteral("УЛМАР"));
        printer.setDocName(Title);
        ok = target.absoluteDir().exists() && Print(printer, error);
    }
    if (ok) {
        QFile::remove(path);
        ok = QFile::rename(temp, path);
        if (!ok && error)
            *error = QStringLiteral("файл не записан");
    } else if (error && error->isEmpty()) {
        *error = QStringLiteral("файл не записан");
    }
    if (!ok)
        QFile::remove(temp);
    return ok;
}

void TReportLayout::Preview(QWidget* parent) const {
    QPrinter printer(QPrinter::ScreenResolution);
    SetupPrinter(printer);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(Title);
    dialog.resize(1100, 800);
    dialog.setProperty(PreviewLayoutProperty,
                       QVariant::fromValue(const_cast<void*>(static_cast<const void*>(this))));
    bool reported = false;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [this, &reported, &dialog](QPrinter* target) {
                         QString error;
                         if (Print(*target, &error) || reported)
                             return;
                         reported = true;
                         ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                                        QStringLiteral("Отчет не напечатан: ") + error,
                                        QMessageBox::Ok, QMessageBox::Ok, &dialog);
                     });
    ExecModal(&dialog);
}

const TReportLayout* TReportLayout::OfPreview(const QWidget* preview) {
    if (!preview)
        return nullptr;
    const QVariant layout = preview->property(PreviewLayoutProperty);
    return layout.metaType() == QMetaType::fromType<void*>()
               ? static_cast<const TReportLayout*>(layout.value<void*>())
               : nullptr;
}
