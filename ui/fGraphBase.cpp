#include "fGraphBase.h"
#include "uChartKeys.h"

#include "fProgress.h"
#include "fRangeDT.h"
#include "uDataCtrl.h"
#include "uIniFile.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uPlantTrend.h"
#include "uWindowPosition.h"
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

const QString Section = QStringLiteral("Parameters");
constexpr double SecondsPerDay = 86400.0;
// The window answers at least this often while a load runs, ms.
constexpr int AnswerEveryMs = 30;
// Left and right borders of a window frame, before the window system has drawn it, px.
constexpr int AssumedFrameWidth = 16;

} // namespace

QIcon ChartToolIcon(const QString& glyph) {
    QPixmap pm(28, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(QColor(250, 250, 250));
    p.drawRoundedRect(QRectF(0.5, 0.5, 27, 23), 3, 3);
    QFont f = p.font();
    f.setPixelSize(glyph.size() > 2 ? 9 : 12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(0, 0, 160));
    p.drawText(QRect(0, 0, 28, 24), Qt::AlignCenter, glyph);
    return QIcon(pm);
}

const std::array<TFormGraphBase::TPreset, 12> TFormGraphBase::Presets = {{
    {"actSet5Min", "5 минут", 5.0 / 1440},
    {"actSet15Min", "15 минут", 15.0 / 1440},
    {"actSet30Min", "30 минут", 30.0 / 1440},
    {"actSet45Min", "45 минут", 45.0 / 1440},
    {"actSetOneHour", "1 час", 1.0 / 24},
    {"actSetSixHour", "6 часов", 6.0 / 24},
    {"actSetTwelveHour", "12 часов", 12.0 / 24},
    {"actSetOneDay", "1 день", 1.0},
    {"actSetThreeDay", "3 дня", 3.0},
    {"actSetOneWeek", "7 дней", 7.0},
    {"actSetTenDay", "10 дней", 10.0},
    {"actSetOneMonth", "1 месяц", 30.0},
}};

TFormGraphBase::TFormGraphBase(bool yRangeActions, const QList<TPanelLayout>& panels) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    SettingsFile = JoinPath(ProgramIniDir(), QStringLiteral("fGraph.ini"));
    resize(1000, 650);

    Chart1 = new TTrendChart(this);
    Chart1->EmptyAnchor = [this] { return EmptyAnchor(); };
    ScrollBar1 = new QScrollBar(Qt::Horizontal, this);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar1->setRange(0, 100);
    ScrollBar1->setPageStep(10);
    ScrollBar1->setEnabled(false);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    for (const TPanelLayout& panel : panels) {
        auto* label =
            new TStatusPanel(QString::fromUtf8(panel.Text), panel.Width, panel.Elide, StatusBar1);
        label->setObjectName(QStringLiteral("Panel%1").arg(Panels_.size()));
        if (panel.Centred)
            label->setAlignment(Qt::AlignCenter);
        // Panel 1 (the visible span) takes the width the others leave.
        StatusBar1->addWidget(label, Panels_.size() == 1 ? 1 : 0);
        Panels_.append(label);
    }
    BuildActions(yRangeActions);
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    BuildMenus(yRangeActions);
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(28, 24));
    BuildToolBar(yRangeActions);

    // The gauge and source choosers, in a row of their own under the tool bar (which keeps its
    // width); hidden while there is nothing to choose.
    PlantSettings.Load(PlantSettingsFile());
    GaugeBar = new QWidget(this);
    GaugeBar->setObjectName(QStringLiteral("GaugeBar"));
    auto* bar = new QHBoxLayout(GaugeBar);
    bar->setContentsMargins(6, 2, 6, 2);
    auto* gaugeLabel = new QLabel(QStringLiteral("Прибор"), GaugeBar);
    GaugeBox = new QComboBox(GaugeBar);
    GaugeBox->setObjectName(QStringLiteral("GaugeBox"));
    GaugeBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    gaugeLabel->setBuddy(GaugeBox);
    auto* sourceLabel = new QLabel(QStringLiteral("Источник"), GaugeBar);
    sourceLabel->setObjectName(QStringLiteral("SourceLabel"));
    SourceBox = new QComboBox(GaugeBar);
    SourceBox->setObjectName(QStringLiteral("SourceBox"));
    SourceBox->addItems({QStringLiteral("Локальный архив"), QStringLiteral("Сервер архива")});
    SourceBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    sourceLabel->setVisible(PlantSettings.Enabled);
    SourceBox->setVisible(PlantSettings.Enabled);
    auto* serverState = new QLabel(GaugeBar);
    serverState->setObjectName(QStringLiteral("ServerState"));
    serverState->setStyleSheet(QStringLiteral("color: #b00000"));
    serverState->setVisible(false);
    bar->addWidget(gaugeLabel);
    bar->addWidget(GaugeBox);
    bar->addSpacing(12);
    bar->addWidget(sourceLabel);
    bar->addWidget(SourceBox);
    bar->addSpacing(12);
    bar->addWidget(serverState, 1);
    bar->addStretch(0);
    GaugeBar->setVisible(false);
    connect(GaugeBox, &QComboBox::activated, this, [this](int index) {
        if (!FillingGaugeBar_ && index >= 0)
            ChooseGauge(GaugeBox->itemData(index).toInt());
    });
    connect(SourceBox, &QComboBox::activated, this, [this](int index) {
        if (!FillingGaugeBar_ && index >= 0)
            ChooseSource(index == 1);
    });

    CursorPanel = new QLabel(this);
    CursorPanel->setObjectName(QStringLiteral("CursorPanel"));
    CursorPanel->setWordWrap(true);
    CursorPanel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    CursorPanel->setContentsMargins(6, 2, 6, 2);
    // A long read-out wraps: it never widens the window.
    CursorPanel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    CursorPanel->setVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(ToolBar1);
    layout->addWidget(GaugeBar);
    layout->addWidget(Chart1, 1);
    layout->addWidget(CursorPanel);
    layout->addWidget(ScrollBar1);
    layout->addWidget(StatusBar1);

    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBarChange(); });
    connect(Chart1, &TTrendChart::Zoomed, this, [this] { ChartZoomed(); });
    connect(Chart1, &TTrendChart::UndoZoomed, this, [this] { ChartZoomed(); });
    connect(Chart1, &TTrendChart::Scrolled, this, [this] { ChartScrolled(); });
    connect(Chart1, &TTrendChart::MouseValues, this,
            [this](double x, double yl, double yr) { MouseReadout(x, yl, yr); });
    connect(Chart1, &TTrendChart::CursorPlaced, this,
            [this](int which, double x) { PlaceCursor(which, x); });
    connect(Chart1, &TTrendChart::ViewsChanged, this, [this] { ViewsRefresh(); });
    ViewsRefresh();
    // The window sees its keys before its controls do.
    qApp->installEventFilter(this);

    Range = std::make_unique<TRangeDT>();
}

TFormGraphBase::~TFormGraphBase() {
    qApp->removeEventFilter(this);
    if (ProgressWindow() && Loading_)
        ProgressClose();
}

TStatusPanel* TFormGraphBase::Panel(int index) const {
    return Panels_.value(index, nullptr);
}

TDateTime TFormGraphBase::SampleStamp() {
    // Every digit of the font is as wide as the others; 8 stands for any.
    return QtToDateTime(QDateTime(QDate(2088, 8, 28), QTime(20, 8, 28)));
}

QStringList TFormGraphBase::PanelSamples() const {
    const TDateTime stamp = SampleStamp();
    const QString text = ArchiveTextStamp(stamp);
    const QString x = XText(TrendXFromDateTime(stamp));
    return {QStringLiteral("Диапазон c ") + text + QStringLiteral(" по ") + text,
            QStringLiteral("c ") + x + QStringLiteral(" по ") + x};
}

int TFormGraphBase::NeededWidth() {
    const QStringList samples = PanelSamples();
    for (int i = 0; i < Panels_.size(); ++i)
        Panels_.at(i)->SetSample(samples.value(i));
    // The panels' layout in the status bar (spacing and margins included) at their hints; its
    // nested layouts forget their cached hints only when it is activated.
    int panels = StatusBar1->sizeHint().width();
    if (QLayout* bar = StatusBar1->layout()) {
        bar->activate();
        panels = bar->totalSizeHint().width();
    }
    const QMargins m = layout() ? layout()->contentsMargins() : QMargins();
    return std::max(ToolBar1->sizeHint().width(), panels) + m.left() + m.right();
}

void TFormGraphBase::FitOpeningWidth() {
    const QScreen* screen = QGuiApplication::screenAt(geometry().center());
    if (!screen)
        screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    // The window frame beside the client area: as the window system drew it, or before the
    // window is framed, room for a usual one.
    const int framed = frameGeometry().width() - width();
    const int frame = framed > 0 ? framed : AssumedFrameWidth;
    int width = std::max(this->width(), NeededWidth());
    if (!area.isEmpty())
        width = std::min(width, area.width() - frame);
    if (width != this->width())
        resize(width, height());
    if (!area.isEmpty()) {
        const int right = area.left() + area.width() - (width + frame);
        move(std::clamp(x(), area.left(), std::max(area.left(), right)), y());
    }
}

QAction* TFormGraphBase::Action(const QString& name) const {
    return Actions_.value(name, nullptr);
}

QAction* TFormGraphBase::NewAction(const QString& name, const QString& caption, const QString& hint,
                                   const QString& glyph) {
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setToolTip(hint);
    action->setStatusTip(hint);
    if (!glyph.isEmpty())
        action->setIcon(ChartToolIcon(glyph));
    Actions_.insert(name, action);
    return action;
}

void TFormGraphBase::On(const QString& name, std::function<void()> handler) {
    QAction* action = Action(name);
    Q_ASSERT(action);
    // Nothing runs inside a load: the progress window lets the window's events through.
    connect(action, &QAction::triggered, this, [this, handler = std::move(handler)] {
        if (!Loading_)
            handler();
    });
}

void TFormGraphBase::BuildActions(bool yRangeActions) {
    const auto same = [this](const char* name, const char* caption, const char* glyph) {
        const QString text = QString::fromUtf8(caption);
        return NewAction(QLatin1String(name), text, text, QString::fromUtf8(glyph));
    };
    NewAction(QStringLiteral("actCurrent"), QStringLiteral("Текущие показания"),
              QStringLiteral("Показания за последние сутки"), QStringLiteral("Тек"));
    same("actStartStopDT", "Временной диапазон", "Д");
    const char* glyphs[] = {"5м",  "15м", "30м", "45м", "1ч",  "6ч",
                            "12ч", "1д",  "3д",  "7д",  "10д", "1М"};
    for (std::size_t i = 0; i < Presets.size(); ++i)
        same(Presets[i].Action, Presets[i].Caption, glyphs[i]);
    if (yRangeActions) {
        same("actYRangeChange", "Изменить диапазон Y", "");
        same("actYRangeSet", "Установить диапазон Y", "↕Y");
        same("actSet4Milimeters", "Размах 4 мм", "");
    }
    same("actUndoZoom", "Увеличение отменить \"Пробел\"", "1:1");
    NewAction(QStringLiteral("actZoomMinus"), QStringLiteral("Уменьшить \"-\""),
              QStringLiteral("Уменьшить график. Кнопка \"Серый минус\""), QStringLiteral("−"));
    NewAction(QStringLiteral("actZoomPlus"), QStringLiteral("Увеличить \"+\""),
              QStringLiteral("Увеличить график. Кнопка \"Серый плюс\""), QStringLiteral("+"));
    NewAction(QStringLiteral("actViewBack"), QStringLiteral("Предыдущий вид \"Alt+←\""),
              QStringLiteral("Вернуться к предыдущему масштабу. Кнопки \"Alt+←\""),
              QStringLiteral("←"));
    NewAction(QStringLiteral("actViewForward"), QStringLiteral("Следующий вид \"Alt+→\""),
              QStringLiteral("Снова к масштабу, от которого вернулись. Кнопки \"Alt+→\""),
              QStringLiteral("→"));
    same("actShowAllX", "Показать все по X", "↔X");
    same("actShowAllY", "Показать все по Y", "↕");
    NewAction(QStringLiteral("actShowAllXY"), QStringLiteral("Показать все"),
              QStringLiteral("Показать все данные"), QStringLiteral("Все"));
    same("actPointsTrue", "Точки показать", "•");
    same("actPointsFalse", "Точки скрыть", "—");
    NewAction(QStringLiteral("actCursors"), QStringLiteral("Курсоры"),
              QStringLiteral("Курсоры: щелчок - курсор 1, Shift+щелчок - курсор 2, линию курсора "
                             "можно перетащить"),
              QStringLiteral("К"));
    Action(QStringLiteral("actCursors"))->setCheckable(true);
    same("actScanEndOn", "Следить за значением", "→|");
    same("actScanEndOff", "Не следить за значением", "||");
    NewAction(QStringLiteral("actReportPreview"), QStringLiteral("Просмотр/Печать"),
              QStringLiteral("Открыть окно предварительного просмотра графика перед печатью"),
              QStringLiteral("Печ"));
    same("actSaveCsv", "Сохранить в CSV…", "CSV");
    same("actSavePdf", "Сохранить в PDF…", "PDF");
    same("actClose", "Закрыть окно", "X");

    // Check groups: the range pair, the presets, the point pair and the follow pair.
    const auto group = [this](const QStringList& names) {
        auto* g = new QActionGroup(this);
        g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (const QString& n : names) {
            Action(n)->setCheckable(true);
            g->addAction(Action(n));
        }
    };
    group({QStringLiteral("actCurrent"), QStringLiteral("actStartStopDT")});
    QStringList presets;
    for (const TPreset& p : Presets)
        presets << QLatin1String(p.Action);
    group(presets);
    group({QStringLiteral("actPointsTrue"), QStringLiteral("actPointsFalse")});
    group({QStringLiteral("actScanEndOn"), QStringLiteral("actScanEndOff")});

    On(QStringLiteral("actCurrent"), [this] { CurrentRange(); });
    On(QStringLiteral("actStartStopDT"), [this] { ChooseRange(); });
    for (int i = 1; i <= static_cast<int>(Presets.size()); ++i)
        Zooming(QLatin1String(Presets[i - 1].Action), [this, i] { ApplyStep(i); });
    // The chart records the view left by its own zooms.
    On(QStringLiteral("actUndoZoom"), [this] { UndoZoom(); });
    On(QStringLiteral("actZoomMinus"), [this] { ZoomOut(); });
    On(QStringLiteral("actZoomPlus"), [this] { ZoomIn(); });
    On(QStringLiteral("actViewBack"), [this] { Chart1->ViewBack(); });
    On(QStringLiteral("actViewForward"), [this] { Chart1->ViewForward(); });
    Zooming(QStringLiteral("actShowAllX"), [this] { ShowAllX(); });
    Zooming(QStringLiteral("actShowAllY"), [this] {
        ShowAllY();
        RefreshSpanPanels();
        Chart1->Redraw();
    });
    Zooming(QStringLiteral("actShowAllXY"), [this] { ShowAllXY(); });
    QAction* cursors = Action(QStringLiteral("actCursors"));
    connect(cursors, &QAction::toggled, this, [this](bool on) {
        if (on != Chart1->CursorsOn())
            SetCursors(on);
    });
    On(QStringLiteral("actPointsTrue"), [this] { PointsShow(true); });
    On(QStringLiteral("actPointsFalse"), [this] { PointsShow(false); });
    On(QStringLiteral("actScanEndOn"), [this] { ScanOn(); });
    On(QStringLiteral("actScanEndOff"), [this] { ScanOff(); });
    On(QStringLiteral("actReportPreview"), [this] { ReportPreview(); });
    On(QStringLiteral("actSaveCsv"), [this] {
        const QString path = FileDialog(QStringLiteral("Сохранить в CSV"),
                                        QStringLiteral("CSV (*.csv)"), QStringLiteral("csv"));
        if (!path.isEmpty())
            SaveCsv(path);
    });
    On(QStringLiteral("actSavePdf"), [this] {
        const QString path = FileDialog(QStringLiteral("Сохранить в PDF"),
                                        QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"));
        if (!path.isEmpty())
            SavePdf(path);
    });
    On(QStringLiteral("actClose"), [this] { close(); });
}

void TFormGraphBase::Zooming(const QString& name, std::function<void()> zoom) {
    On(name, [this, zoom = std::move(zoom)] {
        Chart1->PushView();
        zoom();
    });
}

void TFormGraphBase::ViewsRefresh() {
    Action(QStringLiteral("actViewBack"))->setEnabled(Chart1->Views().CanBack());
    Action(QStringLiteral("actViewForward"))->setEnabled(Chart1->Views().CanForward());
}

void TFormGraphBase::BuildMenus(bool yRangeActions) {
    const auto menu = [this](const QString& title, const QStringList& items) {
        QMenu* m = MainMenu1->addMenu(title);
        for (const QString& item : items) {
            if (item == QLatin1String("-"))
                m->addSeparator();
            else
                m->addAction(Action(item));
        }
    };
    menu(QStringLiteral("Диапазон"), {"actCurrent", "actStartStopDT"});
    QStringList interval;
    if (yRangeActions)
        interval << "actYRangeChange"
                 << "actYRangeSet"
                 << "-";
    for (const TPreset& p : Presets)
        interval << QLatin1String(p.Action);
    menu(QStringLiteral("Интервал"), interval);
    menu(QStringLiteral("Масштаб"),
         {"actUndoZoom", "actZoomMinus", "actZoomPlus", "actShowAllX", "actShowAllY",
          "actShowAllXY", "-", "actViewBack", "actViewForward"});
    menu(QStringLiteral("График"),
         {"actPointsTrue", "actPointsFalse", "-", "actCursors", "-", "actScanEndOn",
          "actScanEndOff", "-", "actReportPreview", "actSavePdf", "actSaveCsv"});
    menu(QStringLiteral("Окно"), {"actClose"});
}

void TFormGraphBase::BuildToolBar(bool yRangeActions) {
    QStringList items{"actCurrent", "actStartStopDT", "|"};
    for (const TPreset& p : Presets)
        items << QLatin1String(p.Action);
    items << "|"
          << "actUndoZoom"
          << "actZoomMinus"
          << "actZoomPlus"
          << "actShowAllX"
          << "actShowAllY";
    if (yRangeActions)
        items << "actYRangeSet";
    items << "actShowAllXY"
          << "actViewBack"
          << "actViewForward"
          << "|"
          << "actPointsTrue"
          << "actPointsFalse"
          << "actCursors"
          << "|"
          << "actScanEndOn"
          << "actScanEndOff"
          << "|"
          << "actReportPreview"
          << "actSavePdf"
          << "actSaveCsv"
          << "actClose";
    for (const QString& item : items) {
        if (item == QLatin1String("|"))
            ToolBar1->addSeparator();
        else
            ToolBar1->addAction(Action(item));
    }
}

// --- span presets, scroll bar, panels ---

double TFormGraphBase::EmptyAnchor() const {
    if (ArchiveMode && Range)
        return TrendXFromDateTime(Range->GetStop());
    return TrendXFromDateTime(NowDateTime());
}

void TFormGraphBase::UncheckPresets() {
    for (const TPreset& p : Presets)
        Action(QLatin1String(p.Action))->setChecked(false);
}

void TFormGraphBase::ApplyStep(int index) {
    if (index < 1 || index > static_cast<int>(Presets.size()))
        return;
    dtStepIndex = index;
    StepSpan = Presets[index - 1].Days;
    const double span = StepSpan * SecondsPerDay;
    Chart1->EmptySpan = span;
    double min = 0, max = 0;
    double right = Chart1->Bottom()->range().upper;
    // An empty chart anchors at now (or the range's stop), wherever its axis was moved.
    if (!Chart1->DataXExtent(min, max))
        right = EmptyAnchor();
    else if (Chart1->IsAutomatic(Chart1->Bottom()))
        right = max;
    Chart1->SetAxisRange(Chart1->Bottom(), right - span, right);
    RefreshSpanPanels();
    SyncScrollBar();
    UncheckPresets();
    Action(QLatin1String(Presets[index - 1].Action))->setChecked(true);
    Chart1->Redraw();
}

void TFormGraphBase::SyncScrollBar() {
    SyncingScrollBar = true;
    double min = 0, max = 0;
    const bool any = Chart1->DataXExtent(min, max);
    // Without data, or with one moment only, there is nothing to scroll through.
    if (Chart1->IsAutomatic(Chart1->Bottom()) || !any || !(max > min)) {
        ScrollBar1->setEnabled(false);
    } else {
        ScrollBar1->setEnabled(true);
        const double w = max - min;
        const double position = 100 - std::round((max - Chart1->Bottom()->range().upper) * 100 / w);
        ScrollBar1->setValue(static_cast<int>(std::clamp(position, 0.0, 100.0)));
    }
    SyncingScrollBar = false;
}

void TFormGraphBase::ScrollBarChange() {
    if (SyncingScrollBar)
        return;
    double min = 0, max = 0;
    if (!Chart1->DataXExtent(min, max))
        return;
    const double w = max - min;
    const double right = max - w * (100 - ScrollBar1->value()) / 100;
    const double span = Chart1->Bottom()->range().size();
    Chart1->SetAxisRange(Chart1->Bottom(), right - span, right);
    RefreshSpanPanels();
    Chart1->Redraw();
}

QString TFormGraphBase::XText(double x) {
    return ArchiveTextStamp(DateTimeFromTrendX(x));
}

void TFormGraphBase::WritePanel0() {
    if (!Range || Panels_.isEmpty())
        return;
    QString text = QStringLiteral("Диапазон c ") + ArchiveTextStamp(Range->GetStart());
    if (ArchiveMode)
        text += QStringLiteral(" по ") + ArchiveTextStamp(Range->GetStop());
    Panels_.at(0)->setText(text);
}

void TFormGraphBase::ActionsRefresh() {
    Action(QStringLiteral("actCurrent"))->setChecked(!ArchiveMode);
    Action(QStringLiteral("actStartStopDT"))->setChecked(ArchiveMode);
    Action(QStringLiteral("actScanEndOn"))->setEnabled(!ArchiveMode);
}

// --- axes ---

void TFormGraphBase::ShowAllX(bool refresh) {
    double min = 0, max = 0;
    if (Chart1->DataXExtent(min, max))
        Chart1->SetAxisRange(Chart1->Bottom(), min, max);
    if (refresh) {
        UncheckPresets();
        SyncScrollBar();
        RefreshSpanPanels();
    }
    Chart1->Redraw();
}

void TFormGraphBase::ShowAllXY() {
    double min = 0, max = 0;
    if (Chart1->DataXExtent(min, max))
        Chart1->SetAxisRange(Chart1->Bottom(), min, max);
    if (Chart1->DataYExtent(Chart1->Left(), min, max))
        Chart1->SetAxisRange(Chart1->Left(), min, max);
    UncheckPresets();
    SyncScrollBar();
    RefreshSpanPanels();
    Chart1->Redraw();
}

void TFormGraphBase::ZoomIn() {
    Chart1->ZoomPercent(110);
    UncheckPresets();
}

void TFormGraphBase::ZoomOut() {
    Chart1->ZoomPercent(90);
    UncheckPresets();
}

void TFormGraphBase::UndoZoom() {
    Chart1->UndoZoom();
    DescriptionRanges();
    UncheckPresets();
    SyncScrollBar();
    RefreshSpanPanels();
    Chart1->Redraw();
}

void TFormGraphBase::ChartZoomed() {
    UncheckPresets();
    RefreshSpanPanels();
    SyncScrollBar();
}

void TFormGraphBase::ChartScrolled() {
    RefreshSpanPanels();
    SyncScrollBar();
}

void TFormGraphBase::ScrollHorizontal(double fraction) {
    Chart1->ScrollAxis(Chart1->Bottom(), Chart1->Bottom()->range().size() * fraction);
}

// --- points and following ---

void TFormGraphBase::PointsShow(bool show) {
    ShowPoints = show;
    for (TTrendSeries* s : Lines_)
        s->SetPointsShown(show);
    Action(QStringLiteral("actPointsTrue"))->setChecked(show);
    Action(QStringLiteral("actPointsFalse"))->setChecked(!show);
    Chart1->Redraw();
}

void TFormGraphBase::ScanOn() {
    if (ArchiveMode)
        return;
    Scan = true;
    Action(QStringLiteral("actScanEndOn"))->setChecked(true);
    Action(QStringLiteral("actScanEndOff"))->setChecked(false);
    FollowStarted();
}

void TFormGraphBase::ScanOff() {
    Scan = false;
    Action(QStringLiteral("actScanEndOn"))->setChecked(false);
    Action(QStringLiteral("actScanEndOff"))->setChecked(true);
}

bool TFormGraphBase::LiveGaugeShown() const {
    return CurrentGauge == AllGauges || Gauge == AllGauges || Gauge == CurrentGauge;
}

bool TFormGraphBase::LivePoint(TTrendSeries* series, double value) {
    // Another gauge's line never takes the current gauge's values.
    if (!LiveGaugeShown())
        return false;
    const double x = TrendXFromDateTime(NowDateTime());
    if (Loading_) {
        Pending_.push_back({series, x, value});
        return true;
    }
    series->Data.Add(x, value);
    // A cursor near the newest reading may now stand nearer to this one.
    if (CursorAt[0] || CursorAt[1])
        RefreshCursors();
    return true;
}

void TFormGraphBase::FollowNewest() {
    if (!Scan || Loading_)
        return;
    ScrollBar1->setValue(100);
    ScrollBarChange();
}

// --- modes and the archive load ---

void TFormGraphBase::CurrentRange() {
    if (Loading_)
        return;
    ArchiveMode = false;
    const TDateTime now = NowDateTime();
    Range->SetStartStop(now - 1.0, now);
    ActionsRefresh();
    AttachLiveHandlers(true);
    LoadArchive();
    PointsShow(ShowPoints);
    ScanOff();
    ShowAllX(false);
    ApplyStep(dtStepIndex);
    ActionsRefresh();
    WritePanel0();
}

void TFormGraphBase::ChooseRange() {
    if (Loading_)
        return;
    TDateTime start = Range->GetStart();
    TDateTime stop = Range->GetStop();
    if (SelectRange(start, stop) == QDialog::Accepted) {
        // A range refused for memory changes nothing: the window keeps its range and points.
        TRangeDT chosen = *Range;
        chosen.SetStartStop(start, stop);
        if (!chosen.IsEmpty() && !RangeFitsMemory(chosen.GetStart(), chosen.GetStop())) {
            ActionsRefresh();
            WritePanel0();
            return;
        }
        ArchiveMode = true;
        Range->SetStartStop(start, stop);
        AttachLiveHandlers(false);
        LoadArchive(false);
        PointsShow(ShowPoints);
        ScanOff();
        ShowAllX(false);
        ApplyStep(dtStepIndex);
    }
    ActionsRefresh();
    WritePanel0();
}

bool TFormGraphBase::RangeFitsMemory(TDateTime start, TDateTime stop) {
    // The server's rows are not counted ahead: a trend of one gauge from it is read as it comes.
    if (FromServer)
        return true;
    QStringList tables;
    for (const TArchiveSource& source : ArchiveSources())
        tables << source.Table;
    // The rows of the gauge that the load would show, of every line.
    std::vector<int> gauges;
    std::vector<TGaugeRows> rows;
    int gauge = AllGauges;
    FindGauges(start, stop, gauges, gauge, &rows);
    qint64 points = 0;
    if (gauge == AllGauges)
        points = ArchiveRangeRowBound(tables, start, stop);
    for (const TGaugeRows& g : rows)
        if (g.Gauge == gauge)
            points += g.Rows;
    // The lines' present points are let go before a load: their memory counts as available.
    qint64 held = 0;
    for (const TTrendSeries* s : Lines_)
        held += static_cast<qint64>(s->Data.MemoryBytes());
    const qint64 limit = MemoryLimitBytes > 0 ? MemoryLimitBytes : AvailableMemoryBytes() + held;
    const double bytes = static_cast<double>(points) * TrendBytesPerPoint;
    if (bytes <= static_cast<double>(limit))
        return true;
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                   LoadTooLargeText(points, bytes, limit), QMessageBox::Ok, QMessageBox::Ok, this);
    return false;
}

void TFormGraphBase::CancelLoad() {
    if (Loading_)
        CancelLoad_ = true;
}

bool TFormGraphBase::LoadArchive(bool checkMemory) {
    if (Loading_)
        return false;
    if (checkMemory && Range && !Range->IsEmpty() &&
        !RangeFitsMemory(Range->GetStart(), Range->GetStop()))
        return false;
    Loading_ = true;
    CancelLoad_ = false;
    Pending_.clear();
    // Views of other points mean nothing for the lines about to be read.
    Chart1->ClearViews();
    for (TTrendSeries* s : Lines_)
        s->Data.Clear();
    std::vector<TArchiveSource> sources = ArchiveSources();
    ServerError.clear();
    TArchiveLoadHooks hooks;
    const QString text = QStringLiteral("Загрузка архива");
    hooks.Progress = [&text](int day, int lastDay) { ProgressShow(text, day, lastDay); };
    QElapsedTimer answered;
    answered.start();
    hooks.Yield = [&answered] {
        if (answered.elapsed() >= AnswerEveryMs) {
            QCoreApplication::processEvents();
            answered.restart();
        }
    };
    hooks.Cancel = [this] { return CancelLoad_; };
    TArchiveLoadResult result;
    if (Range && !Range->IsEmpty()) {
        const auto days = ArchiveRangeDates(Range->GetStart(), Range->GetStop()).size();
        ProgressShow(text, 0, static_cast<int>(days) - 1);
        ProgressOfferCancel([this] { CancelLoad(); });
        // One gauge per load: every line takes the rows of the gauge chosen for the range.
        if (FindGauges(Range->GetStart(), Range->GetStop(), Gauges, Gauge)) {
            for (TArchiveSource& source : sources)
                source.Gauge = Gauge;
            if (FromServer) {
                const TPlantLoadResult read =
                    LoadPlantRange(PlantSettings, sources, Range->GetStart(), Range->GetStop(),
                                   hooks.Yield, hooks.Cancel);
                if (!read.Ok)
                    ServerError = read.Error;
                result.Rows = read.Rows;
                result.Cancelled = read.Cancelled;
            } else {
                result = LoadArchiveRange(sources, Range->GetStart(), Range->GetStop(), hooks);
            }
        }
    }
    ProgressClose();
    Loading_ = false;
    CancelLoad_ = false;
    FillGaugeBar();
    RefreshCaption();
    MergePending();
    for (TTrendSeries* s : Lines_)
        s->DataReplaced();
    SyncScrollBar();
    RefreshSpanPanels();
    RefreshCursors();
    Chart1->Redraw();
    if (CloseAfterLoad_) {
        // The window was asked to close meanwhile: it does, once the caller has finished.
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
        return true;
    }
    if (!ServerError.isEmpty()) {
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), ServerError,
                       QMessageBox::Ok, QMessageBox::Ok, this);
        return true;
    }
    UnreadableDaysMessage(result.FailedDates);
    // A load the operator cancelled shows what it read, without "Отсутствуют данные".
    if (!result.Cancelled)
        EmptyDataMessages();
    return true;
}

// --- gauges and the source ---

QString TFormGraphBase::GaugeText(int gauge) {
    return gauge < 0 ? QStringLiteral("неизвестен") : QStringLiteral("№ ") + QString::number(gauge);
}

QString TFormGraphBase::GaugeCaption() const {
    return Gauge == AllGauges ? QString() : QStringLiteral("Прибор ") + GaugeText(Gauge);
}

void TFormGraphBase::RefreshCaption() {
    const int gauge = Gauge >= 0 ? Gauge : -1;
    const int address = gauge >= 0 && GaugeAddress ? GaugeAddress(gauge) : -1;
    setWindowTitle(TrendCaption(Parameter, gauge, address));
}

QString TFormGraphBase::ExportFileName(const QString& suffix) const {
    const QCPRange r = Chart1->Bottom()->range();
    QDate first, last;
    QTime time;
    if (!SplitTrendX(r.lower, first, time) || !SplitTrendX(r.upper, last, time))
        first = last = QDate();
    return TrendExportFileName(ExportName, first, last, suffix);
}

// --- cursors ---

void TFormGraphBase::SetCursors(bool on) {
    CursorAt = {};
    Chart1->SetCursorsOn(on);
    Action(QStringLiteral("actCursors"))->setChecked(on);
    CursorPanel->setVisible(on);
    RefreshCursors();
    Chart1->Redraw();
}

void TFormGraphBase::PlaceCursor(int which, double x) {
    if (which < 0 || which > 1 || !std::isfinite(x) || !Chart1->CursorsOn())
        return;
    CursorAt[static_cast<std::size_t>(which)] = x;
    RefreshCursors();
}

std::vector<std::optional<TTrendPoint>> TFormGraphBase::CursorReadings(int which) const {
    std::vector<std::optional<TTrendPoint>> readings;
    const std::optional<double> at = CursorAt[static_cast<std::size_t>(which)];
    for (const TTrendSeries* s : Lines_)
        readings.push_back(at ? NearestReading(s->Data, *at) : std::nullopt);
    return readings;
}

void TFormGraphBase::RefreshCursors() {
    if (!Chart1->CursorsOn()) {
        CursorPanel->clear();
        return;
    }
    const std::vector<TReadoutFormat> formats = ReadoutFormats();
    std::array<std::vector<std::optional<TTrendPoint>>, 2> readings;
    for (int which = 0; which < 2; ++which) {
        readings[which] = CursorReadings(which);
        const std::optional<double> at = CursorAt[static_cast<std::size_t>(which)];
        // The line stands on the first line's reading, where the read-out says it is.
        std::optional<double> lineX = at;
        std::vector<std::pair<QCPAxis*, TTrendPoint>> marks;
        for (qsizetype i = 0; i < Lines_.size(); ++i) {
            const std::optional<TTrendPoint>& p = readings[which][static_cast<std::size_t>(i)];
            if (!p)
                continue;
            if (marks.empty())
                lineX = p->X;
            marks.push_back({Lines_.at(i)->ValueAxis(), *p});
        }
        Chart1->SetCursorMarks(which, lineX, marks);
    }
    if (!CursorAt[0] && !CursorAt[1]) {
        CursorPanel->setText(
            QStringLiteral("Щелчок на графике - курсор 1, Shift+щелчок - курсор 2"));
        return;
    }
    QStringList text;
    for (std::size_t i = 0; i < formats.size() && i < readings[0].size(); ++i)
        text << CursorReadoutText(formats[i], readings[0][i], readings[1][i]);
    CursorPanel->setText(text.join(u'\n'));
}

bool TFormGraphBase::FindGauges(TDateTime start, TDateTime stop, std::vector<int>& gauges,
                                int& gauge, std::vector<TGaugeRows>* rows) {
    QStringList tables;
    for (const TArchiveSource& source : ArchiveSources())
        tables << source.Table;
    gauges.clear();
    bool found = true;
    if (FromServer) {
        QElapsedTimer answered;
        answered.start();
        const TPlantLoadResult listed =
            ListPlantGauges(PlantSettings, tables, start, stop, gauges, [&answered] {
                if (answered.elapsed() >= AnswerEveryMs) {
                    QCoreApplication::processEvents();
                    answered.restart();
                }
            });
        if (!listed.Ok) {
            ServerError = listed.Error;
            found = false;
        }
    } else {
        const std::vector<TGaugeRows> counted = ArchiveRangeGauges(tables, start, stop);
        for (const TGaugeRows& g : counted)
            gauges.push_back(g.Gauge);
        if (rows)
            *rows = counted;
    }
    const auto has = [&gauges](int g) {
        return std::find(gauges.begin(), gauges.end(), g) != gauges.end();
    };
    if (Gauge != AllGauges && has(Gauge))
        gauge = Gauge;
    else if (CurrentGauge != AllGauges && has(CurrentGauge))
        gauge = CurrentGauge;
    else if (!gauges.empty()) {
        // A known gauge before the rows of no known one.
        const auto known = std::find_if(gauges.begin(), gauges.end(), [](int g) { return g >= 0; });
        gauge = known != gauges.end() ? *known : gauges.front();
    } else
        gauge = CurrentGauge;
    // The current gauge is always offered: its live values join its line.
    if (CurrentGauge != AllGauges && !has(CurrentGauge))
        gauges.insert(std::lower_bound(gauges.begin(), gauges.end(), CurrentGauge), CurrentGauge);
    return found;
}

void TFormGraphBase::FillGaugeBar() {
    FillingGaugeBar_ = true;
    GaugeBox->clear();
    for (const int g : Gauges)
        GaugeBox->addItem(GaugeText(g), g);
    GaugeBox->setCurrentIndex(GaugeBox->findData(Gauge));
    SourceBox->setCurrentIndex(FromServer ? 1 : 0);
    SourceBox->setVisible(PlantSettings.Enabled);
    if (auto* label = GaugeBar->findChild<QLabel*>(QStringLiteral("SourceLabel")))
        label->setVisible(PlantSettings.Enabled);
    if (auto* state = GaugeBar->findChild<QLabel*>(QStringLiteral("ServerState"))) {
        state->setText(ServerError);
        state->setVisible(!ServerError.isEmpty());
    }
    GaugeBar->setVisible(PlantSettings.Enabled || Gauges.size() > 1);
    FillingGaugeBar_ = false;
}

void TFormGraphBase::ChooseGauge(int gauge) {
    if (Loading_ || gauge == Gauge)
        return;
    const int before = Gauge;
    Gauge = gauge;
    if (!LoadArchive()) {
        // Refused (the range would not fit): the window keeps what it shows.
        Gauge = before;
        FillGaugeBar();
        return;
    }
    PointsShow(ShowPoints);
    ShowAllX(false);
    ApplyStep(dtStepIndex);
    WritePanel0();
}

void TFormGraphBase::ChooseSource(bool server) {
    if (Loading_ || server == FromServer || (server && !PlantSettings.Enabled))
        return;
    FromServer = server;
    if (!LoadArchive()) {
        FromServer = !server;
        FillGaugeBar();
        return;
    }
    PointsShow(ShowPoints);
    ShowAllX(false);
    ApplyStep(dtStepIndex);
    WritePanel0();
}

void TFormGraphBase::UnreadableDaysMessage(const QList<QDate>& dates) {
    if (dates.isEmpty())
        return;
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), UnreadableDaysText(dates),
                   QMessageBox::Ok, QMessageBox::Ok, this);
}

void TFormGraphBase::MergePending() {
    // Points that arrived during the load and are newer than what it read.
    for (const TPending& p : Pending_) {
        if (p.Series->Data.Empty() || p.X > p.Series->Data.MaxX())
            p.Series->Data.Add(p.X, p.Y);
    }
    Pending_.clear();
}

// --- settings ---

void TFormGraphBase::ReadSettings() {
    const TIniFile ini(SettingsFile);
    const qint64 index = ini.ReadInteger(Section, QStringLiteral("dtStepIndex"), DefaultStepIndex);
    dtStepIndex = index >= 1 && index <= static_cast<qint64>(Presets.size())
                      ? static_cast<int>(index)
                      : FallbackStepIndex;
    StepSpan = Presets[dtStepIndex - 1].Days;
    ShowPoints = ini.ReadBool(Section, QStringLiteral("Points"), false);
    Scan = ini.ReadBool(Section, QStringLiteral("Scan"), false);
    ReadExtraSettings(ini);
}

void TFormGraphBase::SaveSettings() {
    try {
        EnsureFileExists(SettingsFile);
        TIniFile ini(SettingsFile);
        ini.WriteInteger(Section, QStringLiteral("dtStepIndex"), dtStepIndex);
        ini.WriteBool(Section, QStringLiteral("Points"), ShowPoints);
        ini.WriteBool(Section, QStringLiteral("Scan"), Scan);
        WriteExtraSettings(ini);
        ini.Save();
    } catch (const std::runtime_error&) {
        // The settings folder or file could not be made: the window closes all the same and the
        // file keeps what it had.
    }
}

// --- files ---

QString TFormGraphBase::FileDialog(const QString& caption, const QString& filter,
                                   const QString& suffix) {
    QFileDialog dialog(this, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(suffix);
    dialog.selectFile(ExportFileName(suffix));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void TFormGraphBase::ErrorBox(const QString& text) {
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

bool TFormGraphBase::SaveCsv(const QString& path) {
    const QCPRange r = Chart1->Bottom()->range();
    QString error;
    if (WriteTrendCsv(path, CsvColumns(), r.lower, r.upper, &error))
        return true;
    ErrorBox(QStringLiteral("Не удалось сохранить файл\n") + path + u'\n' + error);
    return false;
}

// --- keys and closing ---

bool TFormGraphBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (HandleKey(key->key(), key->modifiers()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TFormGraphBase::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
    if (Loading_) {
        // Nothing runs inside a load; Esc asks to close, which cancels the load.
        if (key == Qt::Key_Escape)
            CloseAfterLoad();
        return true;
    }
    if (modifiers & Qt::AltModifier && (key == Qt::Key_Left || key == Qt::Key_Right)) {
        if (key == Qt::Key_Left)
            Chart1->ViewBack();
        else
            Chart1->ViewForward();
        return true;
    }
    const TChartKeyActions actions{[this] { close(); },
                                   [this] { UndoZoom(); },
                                   [this] { ZoomIn(); },
                                   [this] { ZoomOut(); },
                                   [this](double fraction) { ScrollVertical(fraction); },
                                   [this](double fraction) { ScrollHorizontal(fraction); },
                                   [this](int position) {
                                       ScrollBar1->setValue(position);
                                       ScrollBarChange();
                                   }};
    const TChartKeyDone done = RunChartKey(key, modifiers, actions);
    if (done != TChartKeyDone::Scrolled)
        return done == TChartKeyDone::Finished;
    Chart1->setFocus();
    RefreshSpanPanels();
    SyncScrollBar();
    Chart1->Redraw();
    return true;
}

void TFormGraphBase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    WritePanel0();
}

void TFormGraphBase::CloseAfterLoad() {
    CloseAfterLoad_ = true;
    CancelLoad();
}

void TFormGraphBase::closeEvent(QCloseEvent* event) {
    if (Loading_) {
        // The load is unwound first (its caller still runs); the window closes right after it.
        event->ignore();
        CloseAfterLoad();
        return;
    }
    FormClosing();
    QDialog::closeEvent(event);
}

void TFormGraphBase::reject() {
    if (Loading_) {
        CloseAfterLoad();
        return;
    }
    FormClosing();
    QDialog::reject();
}

void TFormGraphBase::FormClosing() {
    if (Closed_)
        return;
    Closed_ = true;
    AttachLiveHandlers(false);
    ReleaseValues();
    SaveSettings();
    SaveWindowPosition(this);
    Range.reset();
}
