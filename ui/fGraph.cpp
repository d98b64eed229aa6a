#include "fGraph.h"

#include "EditNum.h"
#include "fInput.h"
#include "rGraph.h"
#include "uIniFile.h"
#include "uModal.h"
#include "uWindowPosition.h"
#include <QAction>
#include <QLabel>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

namespace {

const QString Section = QStringLiteral("Parameters");

void InitialDescription(TIODouble& value, const QString& title, const QString& hint) {
    TDescriptionOfDouble* d = value.Description();
    d->Title = title;
    d->Hint = hint;
    d->Dimension.clear();
    d->SetRange(0, 100);
    d->Precision = 10;
    d->Digits = 255;
}

} // namespace

QString PlainNumberText(double value) {
    return FormatNumber(value, 15, 255);
}

QString TrendNumberText(const TDescriptionOfDouble* d, double value) {
    if (!d)
        return PlainNumberText(value);
    return d->Digits == 255 ? PlainNumberText(value) : d->FormatValue(value);
}

void ApplyDescriptionToAxis(TTrendChart* chart, QCPAxis* axis, const TDescriptionOfDouble* d) {
    if (!d)
        return;
    axis->setLabel(d->Title + QStringLiteral(", ") + d->Dimension);
    if (d->Min() < d->Max())
        chart->SetAxisRange(axis, d->Min(), d->Max());
    else
        chart->SetAutomatic(axis, true); // a range of no width: follow the data instead
    if (d->Digits == 255) {
        axis->setNumberFormat(QStringLiteral("g"));
        axis->setNumberPrecision(15);
    } else {
        axis->setNumberFormat(QStringLiteral("f"));
        axis->setNumberPrecision(d->Digits > 0 ? d->Digits : 1);
    }
}

TFormGraph::TFormGraph()
    : TFormGraphBase(true, {{270, false, "Диапазон с 88.88.88 88:88:88 по: 88.88.88 88:88:88",
                             Qt::ElideMiddle},
                            {210, true, "Интервал", Qt::ElideMiddle},
                            {100, true, "Размах"},
                            {100, true, "Текущее значение"},
                            {300, false, "Точка на графике"},
                            {50, false, ""}}) {
    setObjectName(QStringLiteral("FormGraph"));
    Series1 = Chart1->AddSeries(Chart1->Left(), Qt::blue, Qt::blue, 3);
    Series1->Line->setName(QStringLiteral("Series1"));
    Series1->Markers->setName(QStringLiteral("Series2"));
    Lines_ = {Series1};
    TrendValue = std::make_unique<TIODouble>();
    InitialDescription(*TrendValue, QStringLiteral("Значение"),
                       QStringLiteral("Значение параметра"));
    AttachLiveHandlers(true);
    PointsShow(false);
    ScanOff();
    LoadWindowPosition(this);
    ArchiveMode = false;
    const TDateTime now = NowDateTime();
    Range->SetStartStop(now - 1.0, now);
    ActionsRefresh();
    On(QStringLiteral("actYRangeChange"), [this] { YRangeChange(); });
    On(QStringLiteral("actYRangeSet"), [this] { YRangeSet(); });
    On(QStringLiteral("actSet4Milimeters"), [this] { Set4Milimeters(); });
}

TFormGraph::~TFormGraph() {
    if (TrendValue)
        TrendValue->OnOutSet = nullptr;
}

void TFormGraph::Open(const QString& table, TIODouble* source, const QString& caption,
                      TDateTime start, TDateTime stop) {
    YRange = 0;
    Parameter = caption;
    ExportName = ParameterSign(table);
    setWindowTitle(caption);
    TableName = table;
    Range->SetStartStop(start, stop);
    LoadArchive();
    if (source) {
        TrendValue->Assign(source);
        TrendValue->Connect(source, false);
    }
    SetLeftAxisFromDescription();
    ReadSettings();
    PointsShow(ShowPoints);
    if (Scan)
        ScanOn();
    else
        ScanOff();
    ShowAllX(false);
    ApplyStep(dtStepIndex);
    WritePanel0();
    FitOpeningWidth();
}

QStringList TFormGraph::PanelSamples() const {
    QStringList samples = TFormGraphBase::PanelSamples();
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    if (!d)
        return samples;
    // The longer of the description's ends stands for any value.
    const QString low = TrendNumberText(d, d->Min());
    const QString high = TrendNumberText(d, d->Max());
    const bool lowLonger = low.size() > high.size();
    const double x = TrendXFromDateTime(SampleStamp());
    samples << TrendNumberText(d, std::fabs(d->Max() - d->Min())) + d->Dimension // Y span
            << (d->Digits == 255 ? QString()
                : lowLonger      ? low
                                 : high)                             // value
            << ReadoutText(x, lowLonger ? d->Min() : d->Max()); // read-out
    return samples;
}

void TFormGraph::SetLeftAxisFromDescription() {
    ApplyDescriptionToAxis(Chart1, Chart1->Left(), TrendValue->Description());
    Chart1->Redraw();
}

std::vector<TArchiveSource> TFormGraph::ArchiveSources() {
    return {{TableName, &Series1->Data}};
}

void TFormGraph::EmptyDataMessages() {
    if (Series1->Data.Empty())
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       QStringLiteral("Отсутствуют данные"), QMessageBox::Ok, QMessageBox::Ok,
                       this);
}

void TFormGraph::DescriptionRanges() {
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    if (d && d->Min() < d->Max())
        Chart1->SetAxisRange(Chart1->Left(), d->Min(), d->Max());
}

void TFormGraph::AttachLiveHandlers(bool attach) {
    if (!TrendValue)
        return;
    if (attach)
        TrendValue->OnOutSet = [this](TIOData*) { LivePointArrived(); };
    else
        TrendValue->OnOutSet = nullptr;
}

void TFormGraph::LivePointArrived() {
    if (!TrendValue || Closed_)
        return;
    const TDescriptionOfDouble* d = TrendValue->Description();
    const double value = TrendValue->AsDouble();
    Panel(PanelValue)->setText(d->Digits == 255 ? QString() : d->FormatValue(value));
    if (!LivePoint(Series1, value) || IsLoading())
        return;
    FollowNewest();
    if (Scan)
        Set4Milimeters();
    RefreshSpanPanels();
    SyncScrollBar();
    Chart1->Redraw();
}

void TFormGraph::RefreshSpanPanels() {
    const QCPRange x = Chart1->Bottom()->range();
    Panel(PanelSpan)->setText(QStringLiteral("c ") + XText(x.lower) + QStringLiteral(" по ") +
                              XText(x.upper));
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    Panel(PanelYSpan)
        ->setText(TrendNumberText(d, Chart1->Left()->range().size()) +
                  (d ? d->Dimension : QString()));
}

void TFormGraph::ShowAllY() {
    const QCPRange x = Chart1->Bottom()->range();
    double min = 0, max = 0;
    if (!Series1->Data.VisibleYExtent(x.lower, x.upper, min, max))
        return;
    if (min == max) {
        min -= 0.01;
        max += 0.01;
    }
    Chart1->SetAxisRange(Chart1->Left(), min, max);
}

void TFormGraph::ScrollVertical(double fraction) {
    Chart1->ScrollAxis(Chart1->Left(), Chart1->Left()->range().size() * fraction);
}

void TFormGraph::YRangeChange() {
    const TDescriptionOfDouble* d = TrendValue->Description();
    const double span = d->Max() - d->Min();
    double answer = YRange;
    {
        TFormInputDouble dialog(QStringLiteral("Введите"), QStringLiteral("Диапазон Y"),
                                d->Digits == 255 ? 0 : d->Digits, YRange, 0, span);
        // Digits 255: the number in its general form, not with 255 decimals.
        if (d->Digits == 255)
            dialog.enValue->setText(FloatToStrF(YRange, TFloatFormat::ffGeneral, 15, 0));
        if (ExecModal(&dialog) == QDialog::Accepted)
            answer = dialog.enValue->Value();
    }
    if (std::isfinite(answer) && answer > 0 && answer <= span)
        YRange = answer;
}

void TFormGraph::YRangeSet() {
    const double v = TrendValue->AsDouble();
    // With no span set, the current span is kept around the value.
    const double span = YRange > 0 ? YRange : Chart1->Left()->range().size();
    Chart1->SetAxisRange(Chart1->Left(), v - span / 2, v + span / 2);
    UncheckPresets();
    SyncScrollBar();
    RefreshSpanPanels();
    Chart1->Redraw();
}

void TFormGraph::Set4Milimeters() {
    const double v = TrendValue->AsDouble();
    const QCPRange y = Chart1->Left()->range();
    if (!(v > y.upper || v < y.lower))
        return;
    const double h = y.size() / 2;
    Chart1->SetAxisRange(Chart1->Left(), v - h, v + h);
    UncheckPresets();
    SyncScrollBar();
    RefreshSpanPanels();
    Chart1->Redraw();
}

void TFormGraph::FollowStarted() {
    Set4Milimeters();
}

QString TFormGraph::ReadoutText(double x, double y) const {
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    if (!d)
        return {};
    QString text = TTrendChart::XLabel(x) + u' ' + d->Title + u' ';
    if (d->Digits == 255)
        text += PlainNumberText(y);
    else
        text += d->FormatValue(y) + QStringLiteral(", ") + d->Dimension;
    return text;
}

void TFormGraph::MouseReadout(double x, double yLeft, double) {
    if (TrendValue)
        Panel(PanelPoint)->setText(ReadoutText(x, yLeft));
}

QList<TTrendCsvColumn> TFormGraph::CsvColumns() const {
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    QString header = d ? d->Title : TableName;
    if (d && !d->Dimension.isEmpty())
        header += QStringLiteral(", ") + d->Dimension;
    return {{header, &Series1->Data}};
}

TReadoutFormat TrendReadoutFormat(const QString& sign, const TDescriptionOfDouble* d) {
    TReadoutFormat f;
    f.Name = sign;
    if (!d)
        return f;
    f.Unit = d->Dimension;
    // As TrendNumberText, without holding on to the description.
    f.Number = [precision = d->Precision, digits = d->Digits](double v) {
        return digits == 255 ? PlainNumberText(v) : FormatNumber(v, precision, digits);
    };
    // Two decimals beyond the value's own: a slow change still shows.
    f.RateDecimals = d->Digits == 255 ? 4 : std::min(d->Digits + 2, 6);
    return f;
}

std::vector<TReadoutFormat> TFormGraph::ReadoutFormats() const {
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    // A table without a sign of its own goes by its description's title.
    const QString sign = ExportName != TableName || !d ? ExportName : d->Title;
    return {TrendReadoutFormat(sign, d)};
}

void TFormGraph::ReadExtraSettings(const TIniFile& ini) {
    const double value = ini.ReadFloat(Section, QStringLiteral("YRange"), 0.0);
    const TDescriptionOfDouble* d = TrendValue->Description();
    // A span that the entry dialog could not have given is not taken.
    YRange = std::isfinite(value) && value >= 0 && value <= d->Max() - d->Min() ? value : 0.0;
}

void TFormGraph::WriteExtraSettings(TIniFile& ini) {
    ini.WriteString(Section, QStringLiteral("YRange"), QString::number(YRange, 'g', 15));
}

void TFormGraph::ReleaseValues() {
    if (!TrendValue)
        return;
    TrendValue->OnOutSet = nullptr;
    TrendValue.reset();
}

bool TFormGraph::SavePdf(const QString& path) {
    QString error;
    if (SaveTrendReportPdf(*this, path, &error))
        return true;
    ErrorBox(QStringLiteral("Не удалось сохранить файл\n") + path + u'\n' + error);
    return false;
}

void TFormGraph::ReportPreview() {
    PreviewTrendReport(*this);
}

int ShowTrend(const QString& table, TIODouble* source, const QString& caption, TDateTime start,
              TDateTime stop, int currentGauge, std::function<int(int)> gaugeAddress) {
    TFormGraph form;
    form.CurrentGauge = currentGauge;
    form.GaugeAddress = std::move(gaugeAddress);
    form.Open(table, source, caption, start, stop);
    ExecModal(&form);
    form.Finish();
    return 0;
}
