#include "fGraph2.h"

#include "fGraph.h"
#include "rGraph2.h"
#include "uModal.h"
#include "uWindowPosition.h"
#include <QLabel>
#include <cmath>

namespace {

std::unique_ptr<TIODouble> NewValue(const QString& title, const QString& hint) {
    auto value = std::make_unique<TIODouble>();
    TDescriptionOfDouble* d = value->Description();
    d->Title = title;
    d->Hint = hint;
    d->Dimension.clear();
    d->SetRange(0, 100);
    d->Precision = 10;
    d->Digits = 255;
    return value;
}

QString CsvHeader(const TIODouble* value, const QString& table) {
    const TDescriptionOfDouble* d = value ? value->Description() : nullptr;
    if (!d)
        return table;
    return d->Dimension.isEmpty() ? d->Title : d->Title + QStringLiteral(", ") + d->Dimension;
}

} // namespace

TFormGraph2::TFormGraph2()
    : TFormGraphBase(false, {{270, false, "Диапазон с 88.88.88 88:88:88 по: 88.88.88 88:88:88",
                              Qt::ElideMiddle},
                             {250, true, "Интервал", Qt::ElideMiddle},
                             {100, true, "Размах"},
                             {400, false, "Точка на графике"},
                             {50, false, ""}}) {
    setObjectName(QStringLiteral("FormGraph2"));
    Parameter = QStringLiteral("Lт-Расстояние, Температура СВЧ модуля");
    ExportName = ParameterSign(TableName) + u'-' + ParameterSign(TableName2);
    setWindowTitle(Parameter);
    Series1 = Chart1->AddSeries(Chart1->Left(), Qt::blue, Qt::blue, 3);
    Series2 = Chart1->AddSeries(Chart1->Right(), Qt::red, Qt::blue, 3);
    Series1->Line->setName(QStringLiteral("Series1"));
    Series1->Markers->setName(QStringLiteral("Series1Point"));
    Series2->Line->setName(QStringLiteral("Series2"));
    Series2->Markers->setName(QStringLiteral("Series2Point"));
    Lines_ = {Series1, Series2};
    // The right axis: shown, without grid lines, -40 to 80 until the temperature sets it.
    Chart1->Right()->setVisible(true);
    Chart1->Right()->grid()->setVisible(false);
    Chart1->SetAxisRange(Chart1->Right(), -40, 80);
    TrendValue = NewValue(QStringLiteral("Значение 1"), QStringLiteral("Значение параметра 1"));
    TrendValue2 = NewValue(QStringLiteral("Значение 2"), QStringLiteral("Значение параметра 2"));
    AttachLiveHandlers(true);
    PointsShow(false);
    ScanOff();
    LoadWindowPosition(this);
    ArchiveMode = false;
    const TDateTime now = NowDateTime();
    Range->SetStartStop(now - 1.0, now);
    ActionsRefresh();
}

TFormGraph2::~TFormGraph2() {
    AttachLiveHandlers(false);
}

void TFormGraph2::Open(TIODouble* distance, TIODouble* temperature, TDateTime start,
                       TDateTime stop) {
    Range->SetStartStop(start, stop);
    if (distance) {
        TrendValue->Assign(distance);
        TrendValue->Connect(distance, false);
    }
    ApplyDescriptionToAxis(Chart1, Chart1->Left(), TrendValue->Description());
    if (temperature) {
        TrendValue2->Assign(temperature);
        TrendValue2->Connect(temperature, false);
    }
    ApplyDescriptionToAxis(Chart1, Chart1->Right(), TrendValue2->Description());
    LoadArchive();
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

QStringList TFormGraph2::PanelSamples() const {
    QStringList samples = TFormGraphBase::PanelSamples();
    const TDescriptionOfDouble* d1 = TrendValue ? TrendValue->Description() : nullptr;
    const TDescriptionOfDouble* d2 = TrendValue2 ? TrendValue2->Description() : nullptr;
    if (!d1 || !d2)
        return samples;
    // The longer of each description's ends stands for any value.
    const auto longer = [](const TDescriptionOfDouble* d) {
        return TrendNumberText(d, d->Min()).size() > TrendNumberText(d, d->Max()).size() ? d->Min()
                                                                                         : d->Max();
    };
    const double x = TrendXFromDateTime(SampleStamp());
    samples << TrendNumberText(d1, std::fabs(d1->Max() - d1->Min())) + d1->Dimension
            << ReadoutText(x, longer(d1), longer(d2));
    return samples;
}

std::vector<TArchiveSource> TFormGraph2::ArchiveSources() {
    return {{TableName, &Series1->Data}, {TableName2, &Series2->Data}};
}

void TFormGraph2::EmptyDataMessages() {
    const QString text = QStringLiteral("Отсутствуют данные для параметра - ");
    if (Series1->Data.Empty())
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       text + TrendValue->Description()->Title, QMessageBox::Ok, QMessageBox::Ok,
                       this);
    if (Series2->Data.Empty())
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       text + TrendValue2->Description()->Title, QMessageBox::Ok, QMessageBox::Ok,
                       this);
}

void TFormGraph2::DescriptionRanges() {
    for (auto [axis, value] : {std::pair{Chart1->Left(), TrendValue.get()},
                               std::pair{Chart1->Right(), TrendValue2.get()}}) {
        const TDescriptionOfDouble* d = value ? value->Description() : nullptr;
        if (d && d->Min() < d->Max())
            Chart1->SetAxisRange(axis, d->Min(), d->Max());
    }
}

void TFormGraph2::AttachLiveHandlers(bool attach) {
    if (TrendValue)
        TrendValue->OnOutSet =
            attach ? TIOEvent([this](TIOData*) { DistancePointArrived(); }) : TIOEvent();
    if (TrendValue2)
        TrendValue2->OnOutSet =
            attach ? TIOEvent([this](TIOData*) { TemperaturePointArrived(); }) : TIOEvent();
}

void TFormGraph2::DistancePointArrived() {
    if (!TrendValue || Closed_)
        return;
    if (LivePoint(Series1, TrendValue->AsDouble()))
        AfterLivePoint();
}

void TFormGraph2::TemperaturePointArrived() {
    if (!TrendValue2 || Closed_)
        return;
    if (LivePoint(Series2, TrendValue2->AsDouble()))
        AfterLivePoint();
}

void TFormGraph2::AfterLivePoint() {
    if (IsLoading())
        return;
    // Following moves the time axis only; no vertical axis is recentred.
    FollowNewest();
    RefreshSpanPanels();
    SyncScrollBar();
    Chart1->Redraw();
}

void TFormGraph2::RefreshSpanPanels() {
    const QCPRange x = Chart1->Bottom()->range();
    Panel(PanelSpan)->setText(QStringLiteral("c ") + XText(x.lower) + QStringLiteral(" по ") +
                              XText(x.upper));
    const TDescriptionOfDouble* d = TrendValue ? TrendValue->Description() : nullptr;
    Panel(PanelYSpan)
        ->setText(TrendNumberText(d, Chart1->Left()->range().size()) +
                  (d ? d->Dimension : QString()));
}

void TFormGraph2::ShowAllY() {
    const QCPRange x = Chart1->Bottom()->range();
    double min = 0, max = 0;
    // A flat line gives an interval of no width; the axis shows it with a small margin.
    if (Series1->Data.VisibleYExtent(x.lower, x.upper, min, max))
        Chart1->SetAxisRange(Chart1->Left(), min, max);
}

void TFormGraph2::ScrollVertical(double fraction) {
    for (QCPAxis* axis : {Chart1->Left(), Chart1->Right()})
        Chart1->ScrollAxis(axis, axis->range().size() * fraction);
}

void TFormGraph2::MouseReadout(double x, double yLeft, double yRight) {
    if (TrendValue && TrendValue2)
        Panel(PanelPoint)->setText(ReadoutText(x, yLeft, yRight));
}

QString TFormGraph2::ReadoutText(double x, double yLeft, double yRight) const {
    const TDescriptionOfDouble* d1 = TrendValue ? TrendValue->Description() : nullptr;
    const TDescriptionOfDouble* d2 = TrendValue2 ? TrendValue2->Description() : nullptr;
    if (!d1 || !d2)
        return {};
    QString first = TTrendChart::XLabel(x) + u' ';
    if (d1->Digits == 255)
        first += d1->Title + u' ' + PlainNumberText(yLeft);
    else
        first +=
            QStringLiteral("Lт= ") + d1->FormatValue(yLeft) + QStringLiteral(", ") + d1->Dimension;
    QString text = u' ' + first;
    if (d2->Digits == 255)
        text += QStringLiteral("Т= ") + PlainNumberText(yRight);
    else
        text +=
            QStringLiteral("Т=") + d2->FormatValue(yRight) + QStringLiteral(", ") + d2->Dimension;
    return text;
}

QList<TTrendCsvColumn> TFormGraph2::CsvColumns() const {
    return {{CsvHeader(TrendValue.get(), TableName), &Series1->Data},
            {CsvHeader(TrendValue2.get(), TableName2), &Series2->Data}};
}

std::vector<TReadoutFormat> TFormGraph2::ReadoutFormats() const {
    return {TrendReadoutFormat(ParameterSign(TableName),
                               TrendValue ? TrendValue->Description() : nullptr),
            TrendReadoutFormat(ParameterSign(TableName2),
                               TrendValue2 ? TrendValue2->Description() : nullptr)};
}

void TFormGraph2::ReleaseValues() {
    AttachLiveHandlers(false);
    TrendValue.reset();
    TrendValue2.reset();
}

bool TFormGraph2::SavePdf(const QString& path) {
    QString error;
    if (SaveTrend2ReportPdf(*this, path, &error))
        return true;
    ErrorBox(QStringLiteral("Не удалось сохранить файл\n") + path + u'\n' + error);
    return false;
}

void TFormGraph2::ReportPreview() {
    PreviewTrend2Report(*this);
}

int ShowTrend2(TIODouble* distance, TIODouble* temperature, TDateTime start, TDateTime stop,
               int currentGauge, std::function<int(int)> gaugeAddress) {
    TFormGraph2 form;
    form.CurrentGauge = currentGauge;
    form.GaugeAddress = std::move(gaugeAddress);
    form.Open(distance, temperature, start, stop);
    ExecModal(&form);
    form.Finish();
    return 0;
}
