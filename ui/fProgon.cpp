#include "fProgon.h"
#include "EditNum.h"
#include "Ulmar.h"
#include "fInput.h"
#include "fMain.h"
#include "uModal.h"
#include "uPaths.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QCloseEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace {

constexpr int RowHeight = 21;
constexpr double FixedScale = 3.5;

QColor ShadeColour(TProgonShade shade) {
    switch (shade) {
    case TProgonShade::Green:
        return QColor(0, 255, 0);
    case TProgonShade::Yellow:
        return QColor(255, 255, 0);
    case TProgonShade::Red:
        return QColor(255, 0, 0);
    default:
        return QColor();
    }
}

// The range of the values with a twentieth of their span (at least 1) added at each end, so
// that the points at the edges show whole.
std::pair<double, double> Padded(double lo, double hi) {
    const double margin = std::max((hi - lo) / 20.0, 1.0);
    return {lo - margin, hi + margin};
}

} // namespace

TFormProgon::TFormProgon(TFormMain* main) : QMainWindow(main, Qt::Window), Main_(main) {
    setObjectName(QStringLiteral("FormProgon"));
    setWindowTitle(QStringLiteral("Прогон"));
    setAttribute(Qt::WA_DeleteOnClose);

    // Actions.
    QAction* start = NewAction("actProgonStart", QStringLiteral("Прогон начать"));
    QAction* stop = NewAction("actProgonStop", QStringLiteral("Прогон остановить"));
    QAction* create = NewAction("actCreateTable", QStringLiteral("Создать шаблон прогона"));
    QAction* report = NewAction("actReport", QStringLiteral("График"), QStringLiteral("Отчет"));
    QAction* pdf = NewAction("actReportPdf", QStringLiteral("Сохранить в PDF…"),
                             QStringLiteral("Сохранить отчет прогона в файл PDF"));
    QAction* close = NewAction("actClose", QStringLiteral("Закрыть окно"));
    QAction* ruletka = NewAction("actRuletkaChange", QStringLiteral("Изменить значение рулетки"));
    QAction* automatic = NewAction("actScaleAuto", QStringLiteral("Разброс автоматический"));
    QAction* fixed = NewAction("actScaleFixed", QStringLiteral("Разброс -3,5 ... +3,5"));
    connect(start, &QAction::triggered, this, [this] { ProgonStart(); });
    connect(stop, &QAction::triggered, this, [this] { ProgonStop(); });
    connect(create, &QAction::triggered, this, [this] { CreateTable(); });
    connect(report, &QAction::triggered, this, [this] { Report(); });
    connect(pdf, &QAction::triggered, this, [this] { ReportPdf(); });
    connect(close, &QAction::triggered, this, &QWidget::close);
    connect(ruletka, &QAction::triggered, this, [this] { RuletkaChange(); });
    connect(automatic, &QAction::triggered, this, [this] { SetScaleAutomatic(true); });
    connect(fixed, &QAction::triggered, this, [this] { SetScaleAutomatic(false); });

    // Menus.
    QMenu* work = menuBar()->addMenu(QStringLiteral("Работа"));
    work->addActions({start, stop});
    work->addSeparator();
    work->addAction(create);
    menuBar()->addMenu(QStringLiteral("Отчеты"))->addActions({report, pdf});
    menuBar()->addMenu(QStringLiteral("Окно"))->addAction(close);

    // Tool bar, with the work-order number at its end.
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->addActions({start, stop});
    ToolBar1->addSeparator();
    ToolBar1->addAction(create);
    ToolBar1->addSeparator();
    ToolBar1->addActions({report, pdf});
    ToolBar1->addSeparator();
    ToolBar1->addAction(close);
    auto* nnzCaption = new QLabel(QStringLiteral("  № Н/З  "), ToolBar1);
    ToolBar1->addWidget(nnzCaption);
    lblNNZ = new QLabel(ToolBar1);
    lblNNZ->setObjectName(QStringLiteral("lblNNZ"));
    lblNNZ->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    lblNNZ->setCursor(Qt::PointingHandCursor);
    lblNNZ->installEventFilter(this);
    ToolBar1->addWidget(lblNNZ);

    // The grid and the button beside it.
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* top = new QHBoxLayout;
    acgProgonPoints = new QTableWidget(TUlmar::ProgonRowCount, ProgonColumnCount, central);
    acgProgonPoints->setObjectName(QStringLiteral("acgProgonPoints"));
    acgProgonPoints->setHorizontalHeaderLabels(ProgonHeaders());
    acgProgonPoints->verticalHeader()->hide();
    acgProgonPoints->verticalHeader()->setDefaultSectionSize(RowHeight);
    acgProgonPoints->setEditTriggers(QAbstractItemView::NoEditTriggers);
    acgProgonPoints->setSelectionBehavior(QAbstractItemView::SelectRows);
    acgProgonPoints->setSelectionMode(QAbstractItemView::SingleSelection);
    acgProgonPoints->setShowGrid(true);
    acgProgonPoints->setColumnWidth(ProgonColNumber, 28);
    acgProgonPoints->horizontalHeader()->setSectionResizeMode(ProgonColNumber, QHeaderView::Fixed);
    for (int c = ProgonColRuletka; c < ProgonColumnCount; ++c)
        acgProgonPoints->setColumnWidth(c, 100);
    acgProgonPoints->horizontalHeader()->setStretchLastSection(true);
    acgProgonPoints->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    acgProgonPoints->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    const int gridHeight = acgProgonPoints->horizontalHeader()->sizeHint().height() +
                           RowHeight * TUlmar::ProgonRowCount + 2 * acgProgonPoints->frameWidth();
    acgProgonPoints->setFixedHeight(gridHeight);
    acgProgonPoints->setMinimumWidth(28 + 6 * 100 + 2 * acgProgonPoints->frameWidth());
    for (int r = 0; r < TUlmar::ProgonRowCount; ++r)
        for (int c = 0; c < ProgonColumnCount; ++c) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            acgProgonPoints->setItem(r, c, item);
        }
    GridMenu = new QMenu(this);
    GridMenu->addActions({create, report, pdf});
    GridMenu->addSeparator();
    GridMenu->addActions({start, stop});
    GridMenu->addSeparator();
    GridMenu->addAction(ruletka);
    GridMenu->addSeparator();
    GridMenu->addAction(close);
    acgProgonPoints->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(acgProgonPoints, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        GridMenu->popup(acgProgonPoints->viewport()->mapToGlobal(p));
    });
    top->addWidget(acgProgonPoints, 1);
    sbtnSetLevelFree = new QPushButton(central);
    sbtnSetLevelFree->setObjectName(QStringLiteral("sbtnSetLevelFree"));
    sbtnSetLevelFree->setFixedSize(140, std::max(gridHeight, 150));
    connect(sbtnSetLevelFree, &QPushButton::clicked, this, [this] { SetLevel(); });
    top->addWidget(sbtnSetLevelFree);
    layout->addLayout(top);

    // The chart.
    Chart1 = new QCustomPlot(central);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    BuildChart();
    ChartMenu = new QMenu(this);
    ChartMenu->addActions({automatic, fixed});
    Chart1->setMouseTracking(true); // the read-out follows the mouse without a button held
    Chart1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Chart1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& p) { ChartMenu->popup(Chart1->mapToGlobal(p)); });
    connect(Chart1, &QCustomPlot::mouseMove, this,
            [this](QMouseEvent* event) { ChartMouseMove(event); });
    layout->addWidget(Chart1, 1);
    setCentralWidget(central);

    // Status bar: the mouse read-out and an empty panel.
    Panel0 = new QLabel(QStringLiteral("Точка на графике"), this);
    Panel0->setFixedWidth(300);
    Panel1 = new QLabel(this);
    Panel1->setFixedWidth(50);
    statusBar()->addWidget(Panel0);
    statusBar()->addWidget(Panel1);

    resize(900, 600);
    LoadWindowPosition(this);
    if (TUlmar* u = Ulmar())
        FillGrid(*u);
}

TFormProgon::~TFormProgon() = default;

QAction* TFormProgon::NewAction(const char* name, const QString& caption, const QString& hint) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QString::fromLatin1(name));
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? caption : hint);
    addAction(action);
    return action;
}

QAction* TFormProgon::Action(const QString& name) const {
    return findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
}

void TFormProgon::BuildChart() {
    Chart1->legend->setVisible(false);
    QCPGraph* graph = Chart1->addGraph();
    graph->setPen(QPen(Qt::red, 2));
    graph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, Qt::red, Qt::red, 3));
    Chart1->yAxis->setLabel(QStringLiteral("Разброс"));
    Chart1->yAxis->setRange(-FixedScale, FixedScale);
    Chart1->yAxis->setNumberFormat(QStringLiteral("f"));
    Chart1->yAxis->setNumberPrecision(1);
    auto ticker = QSharedPointer<QCPAxisTickerFixed>::create();
    ticker->setTickStep(2000);
    Chart1->xAxis->setTicker(ticker);
    Chart1->xAxis->setNumberFormat(QStringLiteral("f"));
    Chart1->xAxis->setNumberPrecision(0);
    Chart1->xAxis->setRange(0, 16000);
}

TUlmar* TFormProgon::Ulmar() const {
    return Main_ ? Main_->Ulmar() : nullptr;
}

std::optional<TProgonCommands> TFormProgon::Commands() const {
    if (!Main_)
        return std::nullopt;
    return std::optional<TProgonCommands>(std::in_place, Main_->Commands(), Main_->PollControl());
}

// --- refresh ---

void TFormProgon::Refresh() {
    const TUlmar* u = Ulmar();
    if (!u)
        return;
    DrawChart(*u);
    FillGrid(*u);
    const double level = u->Level->AsDouble();
    sbtnSetLevelFree->setText(
        ProgonButtonCaption(u->LevelFree->AsDouble(), level, u->CurrentOutput->AsDouble()));
    lblNNZ->setText(u->NNZ.isEmpty() ? QStringLiteral("Нет") : u->NNZ);
}

void TFormProgon::FillGrid(const TUlmar& u) {
    const double level = u.Level->AsDouble();
    const int rows = std::clamp<int>(u.ProgonMode(), 0, TUlmar::ProgonRowCount);
    acgProgonPoints->setRowCount(rows);
    for (int r = 1; r <= rows; ++r)
        for (int c = 0; c < ProgonColumnCount; ++c) {
            QTableWidgetItem* item = acgProgonPoints->item(r - 1, c);
            if (!item)
                continue;
            item->setText(ProgonCellText(u, r, c));
            const TProgonCellLook look = ProgonCellLook(u, level, r, c);
            QFont font = acgProgonPoints->font();
            font.setBold(look.Bold);
            item->setFont(font);
            const QColor colour = ShadeColour(look.Background);
            item->setBackground(colour.isValid() ? QBrush(colour) : QBrush());
        }
}

void TFormProgon::DrawChart(const TUlmar& u) {
    const TProgonChartView view = ProgonChartView(u);
    QVector<double> xs, ys;
    double lo = 0, hi = 0;
    bool outside = false;
    for (const TTrendPoint& p : view.Points) {
        if (!std::isfinite(p.X) || !std::isfinite(p.Y))
            continue;
        xs << p.X;
        ys << p.Y;
        lo = xs.size() == 1 ? p.Y : std::min(lo, p.Y);
        hi = xs.size() == 1 ? p.Y : std::max(hi, p.Y);
        outside = outside || std::fabs(p.Y) > FixedScale;
    }
    Chart1->graph(0)->setData(xs, ys, true);
    if (outside)
        ScaleAutomatic_ = true;
    if (ScaleAutomatic_ && !xs.isEmpty()) {
        const auto [bottom, top] = Padded(lo, hi);
        Chart1->yAxis->setRange(bottom, top);
    } else if (!ScaleAutomatic_) {
        Chart1->yAxis->setRange(-FixedScale, FixedScale);
    }
    if (!xs.isEmpty()) {
        const auto [first, last] = std::minmax_element(xs.begin(), xs.end());
        const auto [left, right] = Padded(*first, *last);
        Chart1->xAxis->setRange(left, right);
    }
    Chart1->replot();
}

void TFormProgon::SetScaleAutomatic(bool automatic) {
    ScaleAutomatic_ = automatic;
    if (!automatic) {
        // Fixed until a refresh finds a point outside.
        Chart1->yAxis->setRange(-FixedScale, FixedScale);
        Chart1->replot();
    } else if (const TUlmar* u = Ulmar()) {
        DrawChart(*u);
    }
}

TProgonChartView TFormProgon::ChartView() const {
    TProgonChartView view;
    if (const TUlmar* u = Ulmar())
        view = ProgonChartView(*u);
    view.Bottom.CopyFrom(Chart1->xAxis);
    view.Left.CopyFrom(Chart1->yAxis);
    view.Markers = Chart1->graph(0)->scatterStyle().shape() != QCPScatterStyle::ssNone;
    return view;
}

QString TFormProgon::ReadoutText(double x, double y) {
    const QLocale locale;
    return QStringLiteral("Сигнал[") + locale.toString(x, 'f', 0) + QStringLiteral("] = ") +
           locale.toString(y, 'f', 0);
}

void TFormProgon::ChartMouseMove(QMouseEvent* event) {
    const QPointF pos = event->position();
    if (!Chart1->axisRect()->rect().contains(pos.toPoint()))
        return;
    Panel0->setText(
        ReadoutText(Chart1->xAxis->pixelToCoord(pos.x()), Chart1->yAxis->pixelToCoord(pos.y())));
}

// --- commands ---

void TFormProgon::SetLevel() {
    auto commands = Commands();
    if (!commands)
        return;
    const TSetPointResult result = commands->SetPoint();
    if (!result.Message.isEmpty())
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), result.Message,
                       QMessageBox::Ok, QMessageBox::Ok, this);
    Refresh();
}

void TFormProgon::CreateTable() {
    if (auto commands = Commands())
        commands->CreateTemplate();
    Refresh();
}

void TFormProgon::RuletkaChange() {
    const TUlmar* u = Ulmar();
    auto commands = Commands();
    const int row = acgProgonPoints->currentRow() + 1;
    if (!u || !commands || row < 1 || row > std::min<int>(u->ProgonMode(), TUlmar::ProgonRowCount))
        return;
    std::optional<double> answer;
    TFormInputDouble dialog(QStringLiteral("Введите"),
                            QString::number(row) + QStringLiteral(") Значение рулетки, мм"), 0,
                            u->ProgonPoints[static_cast<std::size_t>(row - 1)].Ruletka, 0, 20000);
    // Cancel leaves the row as it is.
    if (ExecModal(&dialog) == QDialog::Accepted)
        answer = dialog.enValue->Value();
    commands->ChangeRuletka(row, answer);
    Refresh();
}

void TFormProgon::ProgonStart() {
    if (auto commands = Commands())
        commands->Start();
    Refresh();
}

void TFormProgon::ProgonStop() {
    if (auto commands = Commands())
        commands->Stop();
    Refresh();
}

void TFormProgon::Report() {
    Refresh();
    if (const TUlmar* u = Ulmar())
        PreviewProgonReport(*u, ChartView(), this);
}

bool TFormProgon::SaveReportPdf(const QString& path, QString* error) {
    Refresh();
    const TUlmar* u = Ulmar();
    if (!u) {
        if (error)
            *error = QStringLiteral("нет прибора");
        return false;
    }
    return SaveProgonReportPdf(*u, ChartView(), path, error);
}

void TFormProgon::ReportPdf() {
    const TUlmar* u = Ulmar();
    const QString name = QStringLiteral("Progon_PN%1_%2.pdf")
                             .arg(u ? u->PlantNumber : 0)
                             .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    QFileDialog dialog(this, QStringLiteral("Сохранить в PDF"), ProgramDir(),
                       QStringLiteral("Документ PDF (*.pdf)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    dialog.selectFile(name);
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    QString error;
    if (!SaveReportPdf(path, &error))
        ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"),
                       QStringLiteral("Не удалось сохранить файл\n") +
                           QDir::toNativeSeparators(path) +
                           (error.isEmpty() ? QString() : QStringLiteral("\n") + error),
                       QMessageBox::Ok, QMessageBox::Ok, this);
}

void TFormProgon::NNZClick() {
    if (Main_)
        if (QAction* nnz = Main_->Action(QStringLiteral("actNNZChange")))
            nnz->trigger();
    Refresh();
}

// --- window ---

bool TFormProgon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblNNZ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        NNZClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormProgon::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFormProgon::closeEvent(QCloseEvent* event) {
    SaveWindowPosition(this);
    // Forgotten at once, so that the next ShowProgon creates a new window.
    event->accept();
    emit Closed();
}

int ShowProgon(TWindowSlot<TFormProgon>& slot, TFormMain* main) {
    if (!slot) {
        auto* form = new TFormProgon(main);
        if (main)
            FollowRefresh(&main->Context(), form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    slot->Refresh();
    return 0;
}
