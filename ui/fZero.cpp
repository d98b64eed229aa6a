#include "fZero.h"
#include "Ulmar.h"
#include "fGraphBase.h"
#include "uChartKeys.h"
#include "uGaugeCommands.h"
#include "uIniFile.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uServiceSession.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace {

const QString FileFilter = QStringLiteral("Массив нулей (*.txt)");
// The left axis: hidden, fixed; the columns are 1 (positions) and 3 (minimum, maximum) high.
constexpr double LeftMax = 3.2;
constexpr double PositionHeight = 1;
constexpr double LimitHeight = 3;
// Columns take this share of their slot (the plot width divided by the columns of the series).
constexpr double ColumnShare = 0.1;
// The bottom axis runs from 1 % to 99 % of the plot area's width; no less than this many pixels
// each side, so that the end labels show whole.
constexpr int MinSideMargin = 24;
// The list column on the right: the array's lines and, under them, what moved.
constexpr int ListWidth = 170;

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The reference's columns: shorter than the shown array's, so that both show where they meet.
constexpr double ReferenceHeight = 0.5;
// Seconds between two snapshots: the default and the bounds of the setting.
constexpr int DefaultInterval = 10;
constexpr int MinInterval = 1;
constexpr int MaxInterval = 3600;
const QString EchoSection = QStringLiteral("Echo");
const QString IntervalKey = QStringLiteral("Interval");

QString SettingsPath() {
    return JoinPath(StartIniDir(), QStringLiteral("fZero.ini"));
}

QString SnapshotTimeText(const QDateTime& time) {
    return time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace

// The face a snapshot read runs behind: no boxes, the window's events taken between two
// exchanges and through the gauge's pause after the start command, so that the window (and the
// rest of the program) stays live while the array is read; the program's closing ends the read.
class TFormZero::TRecordUi : public TZeroRecordUi {
public:
    explicit TRecordUi(TWindowContext* context) : Context_(context) {}
    void Progress(const QString&, int, int) override {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    void Wait(int ms) override {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    }
    bool Closing() const override {
        return (Context_ && Context_->Closing) || TZeroRecordUi::Closing();
    }

private:
    TWindowContext* Context_;
};

TFormZero::TFormZero(TGaugeCommands& commands, TWindowContext* context, QWidget* parent)
    : QMainWindow(parent, Qt::Window), Commands_(commands), Context_(context) {
    setObjectName(QStringLiteral("FormZero"));
    setWindowTitle(QStringLiteral("Массив нулей"));
    setAttribute(Qt::WA_DeleteOnClose);
    RecordUi_ = std::make_unique<TRecordUi>(context);
    TCommandOptions options;
    options.RetryUntilAccepted = true;
    RecordCommands_ = std::make_unique<TGaugeCommands>(commands.Link(), *RecordUi_, options);
    BuildActions();
    BuildLayout();
    BuildEchoBar();
    RecordTimer_.setSingleShot(false);
    connect(&RecordTimer_, &QTimer::timeout, this, [this] { RecordTick(); });
    PlayTimer_.setInterval(ZeroPlayStepMs);
    connect(&PlayTimer_, &QTimer::timeout, this, [this] { PlayTick(); });
    resize(1100, 600);
    // The window sees its keys before its controls do.
    qApp->installEventFilter(this);
    // The main window's exit closes this window too (the program ends with its last window).
    if (parent)
        parent->installEventFilter(this);
    LoadWindowPosition(this);
    Refresh();
}

TFormZero::~TFormZero() {
    qApp->removeEventFilter(this);
}

QAction* TFormZero::NewAction(const QString& name, const QString& caption, const QIcon& icon) {
    auto* action = new QAction(icon, caption, this);
    action->setObjectName(name);
    action->setToolTip(caption);
    action->setIconVisibleInMenu(false);
    Actions_.insert(name, action);
    return action;
}

QAction* TFormZero::Action(const QString& name) const {
    return Actions_.value(name, nullptr);
}

void TFormZero::BuildActions() {
    QStyle* s = style();
    connect(NewAction("actZeroLoadFromFile", QStringLiteral("Загрузить массив нулей из файла"),
                      s->standardIcon(QStyle::SP_DialogOpenButton)),
            &QAction::triggered, this, [this] { LoadFromFile(); });
    connect(NewAction("actZeroSaveToFile", QStringLiteral("Сохранить массив нулей в файл"),
                      s->standardIcon(QStyle::SP_DialogSaveButton)),
            &QAction::triggered, this, [this] { SaveToFile(); });
    connect(NewAction("actZeroClose", QStringLiteral("Закрыть"),
                      s->standardIcon(QStyle::SP_DialogDiscardButton)),
            &QAction::triggered, this, [this] { CloseArray(); });
    connect(NewAction("actZeroRefresh", QStringLiteral("Обновить"),
                      s->standardIcon(QStyle::SP_BrowserReload)),
            &QAction::triggered, this, [this] { Refresh(); });
    connect(NewAction("actUndoZoom", QStringLiteral("Увеличение отменить \"Пробел\""),
                      ChartToolIcon(QStringLiteral("1:1"))),
            &QAction::triggered, this, [this] { UndoZoom(); });
    connect(NewAction("actZoomOut", QStringLiteral("Уменьшить \"-\""),
                      ChartToolIcon(QStringLiteral("−"))),
            &QAction::triggered, this, [this] { ZoomOut(); });
    connect(NewAction("actZoomIn", QStringLiteral("Увеличить \"+\""),
                      ChartToolIcon(QStringLiteral("+"))),
            &QAction::triggered, this, [this] { ZoomIn(); });
    connect(NewAction("actClose", QStringLiteral("Закрыть окно"),
                      s->standardIcon(QStyle::SP_DialogCloseButton)),
            &QAction::triggered, this, [this] { close(); });
}

void TFormZero::BuildLayout() {
    // The main window's zero-array commands, where there is a main window.
    QList<QAction*> mainActions;
    if (Context_)
        for (const char* name : {"actInitReadStart", "actInitReadStop", "actZeroRead"})
            if (QAction* a = Context_->Action(QString::fromLatin1(name)))
                mainActions << a;

    QMenu* array = menuBar()->addMenu(QStringLiteral("Массив"));
    array->addActions(mainActions);
    array->addSeparator();
    for (const char* name :
         {"actZeroLoadFromFile", "actZeroSaveToFile", "actZeroClose", "actZeroRefresh"})
        array->addAction(Action(QString::fromLatin1(name)));
    QMenu* scale = menuBar()->addMenu(QStringLiteral("Масштаб"));
    for (const char* name : {"actUndoZoom", "actZoomOut", "actZoomIn"})
        scale->addAction(Action(QString::fromLatin1(name)));

    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(28, 24));
    ToolBar1->addActions(mainActions);
    ToolBar1->addSeparator();
    for (const char* name :
         {"actZeroLoadFromFile", "actZeroSaveToFile", "actZeroClose", "actZeroRefresh"})
        ToolBar1->addAction(Action(QString::fromLatin1(name)));
    ToolBar1->addSeparator();
    for (const char* name : {"actZoomOut", "actZoomIn", "actUndoZoom"})
        ToolBar1->addAction(Action(QString::fromLatin1(name)));
    ToolBar1->addSeparator();
    ToolBar1->addAction(Action(QStringLiteral("actClose")));

    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(2);
    auto* left = new QVBoxLayout;
    left->setSpacing(0);

    Chart1 = new QCustomPlot(central);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setBackground(Qt::white);
    Chart1->legend->setVisible(false);
    Chart1->setInteractions(QCP::Interactions()); // no mouse zoom, no panning
    QLocale plain;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    Chart1->setLocale(plain);
    Chart1->yAxis->setVisible(false);
    Chart1->yAxis->setRange(0, LeftMax);
    Chart1->xAxis->setRange(0, 65535);
    Chart1->xAxis->grid()->setVisible(false);
    Chart1->yAxis->grid()->setVisible(false);
    Chart1->axisRect()->setAutoMargins(QCP::msTop | QCP::msBottom);
    Chart1->setFocusPolicy(Qt::StrongFocus);
    Series1 = new QCPBars(Chart1->xAxis, Chart1->yAxis);
    Series1->setName(QStringLiteral("Series1"));
    Series1->setPen(Qt::NoPen);
    Series1->setBrush(QColor(Qt::blue));
    Series1->setWidthType(QCPBars::wtAbsolute);
    Series2 = new QCPBars(Chart1->xAxis, Chart1->yAxis);
    Series2->setName(QStringLiteral("Series2"));
    Series2->setPen(Qt::NoPen);
    Series2->setBrush(QColor(Qt::red));
    Series2->setWidthType(QCPBars::wtAbsolute);
    Series3 = new QCPBars(Chart1->xAxis, Chart1->yAxis);
    Series3->setName(QStringLiteral("Series3"));
    Series3->setPen(Qt::NoPen);
    Series3->setBrush(QColor(0, 160, 0));
    Series3->setWidthType(QCPBars::wtAbsolute);
    left->addWidget(Chart1, 1);

    ScrollBar1 = new QScrollBar(Qt::Horizontal, central);
    ScrollBar1->setObjectName(QStringLiteral("ScrollBar1"));
    ScrollBar1->setRange(0, 100);
    ScrollBar1->setPageStep(10);
    connect(ScrollBar1, &QScrollBar::valueChanged, this, [this] { ScrollBarChange(); });
    left->addWidget(ScrollBar1);
    columns->addLayout(left, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    lbZero = new QListWidget(central);
    lbZero->setObjectName(QStringLiteral("lbZero"));
    lbZero->setFixedWidth(ListWidth);
    right->addWidget(lbZero, 3);
    lblDifference = new QLabel(central);
    lblDifference->setObjectName(QStringLiteral("lblDifference"));
    lblDifference->setWordWrap(true);
    lblDifference->setFixedWidth(ListWidth);
    right->addWidget(lblDifference);
    lbDifference = new QListWidget(central);
    lbDifference->setObjectName(QStringLiteral("lbDifference"));
    lbDifference->setFixedWidth(ListWidth);
    right->addWidget(lbDifference, 2);
    lblDifference->hide();
    lbDifference->hide();
    columns->addLayout(right);
    setCentralWidget(central);
}

// --- showing the array ---

void TFormZero::ClearView() {
    Series1->data()->clear();
    Series2->data()->clear();
    Series3->data()->clear();
    for (QCPItemText* label : std::as_const(Labels_))
        Chart1->removeItem(label);
    Labels_.clear();
    lbZero->clear();
    HasData_ = false;
}

void TFormZero::Refresh() {
    ClearView();
    LoadFromZero();
}

void TFormZero::LoadFromZero() {
    ClearView();
    const TUlmar* u = Commands_.Ulmar();
    if (!u)
        return;
    ShownSnapshot_ = -1;
    ShowArray(u->ZeroArray, false);
    SyncSnapshotControls();
}

void TFormZero::ShowArray(const TZeroArray& zero, bool keepView) {
    const TZeroRange view = View();
    ClearView();
    Shown_ = zero;
    HasData_ = true;
    for (double x : ZeroLimits(Shown_)) {
        Series2->addData(x, LimitHeight);
        auto* label = new QCPItemText(Chart1);
        label->setClipToAxisRect(false);
        label->position->setType(QCPItemPosition::ptPlotCoords);
        label->position->setCoords(x, LimitHeight);
        label->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        label->setText(QString::number(static_cast<qint64>(x)));
        label->setColor(Qt::red);
        Labels_ << label;
    }
    for (double x : ZeroPositions(Shown_))
        Series1->addData(x, PositionHeight);
    lbZero->addItems(ZeroListLines(Shown_));
    ShowReference();
    UpdateBarWidths();
    if (keepView) {
        SetView(view);
        SyncScrollBar();
    } else {
        UndoZoom();
    }
}

QStringList TFormZero::LimitLabels() const {
    QStringList texts;
    for (const QCPItemText* label : Labels_)
        texts << label->text();
    return texts;
}

// Columns are a tenth of their slot wide: the plot width shared among the series' columns.
void TFormZero::UpdateBarWidths() {
    const int width = Chart1->axisRect()->width();
    const auto pixels = [width](int columns) {
        return std::max(1.0, ColumnShare * width / std::max(columns, 1));
    };
    Series1->setWidth(pixels(Series1->dataCount()));
    Series2->setWidth(pixels(Series2->dataCount()));
    Series3->setWidth(pixels(std::max(Series1->dataCount(), Series3->dataCount())));
}

void TFormZero::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    // The bottom axis spans 1 % to 99 % of the plot width.
    const int side = std::max(MinSideMargin, Chart1->width() / 100);
    Chart1->axisRect()->setMargins(QMargins(side, 0, side, 0));
    Chart1->replot(QCustomPlot::rpQueuedReplot);
    UpdateBarWidths();
}

// --- view ---

TZeroRange TFormZero::View() const {
    return {Chart1->xAxis->range().lower, Chart1->xAxis->range().upper};
}

TZeroRange TFormZero::LeftView() const {
    return {Chart1->yAxis->range().lower, Chart1->yAxis->range().upper};
}

void TFormZero::SetView(const TZeroRange& view) {
    if (std::isfinite(view.Min) && std::isfinite(view.Max) && view.Min < view.Max)
        Chart1->xAxis->setRange(view.Min, view.Max);
    Chart1->replot(QCustomPlot::rpQueuedReplot);
}

void TFormZero::UndoZoom() {
    if (HasData_)
        SetView(ZeroFullView(Shown_));
    SyncScrollBar();
}

void TFormZero::ZoomIn() {
    SetView(ZeroZoomIn(View()));
    SyncScrollBar();
}

void TFormZero::ZoomOut() {
    SetView(ZeroZoomOut(View()));
    SyncScrollBar();
}

void TFormZero::SyncScrollBar() {
    SyncingScrollBar_ = true;
    const std::optional<int> position =
        HasData_ ? ZeroScrollPosition(View(), ZeroDataExtent(Shown_)) : std::nullopt;
    ScrollBar1->setEnabled(position.has_value());
    if (position)
        ScrollBar1->setValue(*position);
    SyncingScrollBar_ = false;
}

void TFormZero::ScrollBarChange() {
    if (SyncingScrollBar_ || !HasData_)
        return;
    SetView(ZeroScrolledView(ScrollBar1->value(), View(), ZeroDataExtent(Shown_)));
}

void TFormZero::ScrollHorizontal(double fraction) {
    if (!HasData_)
        return;
    TZeroRange view = View();
    if (ZeroScrollAxis(view, view.Size() * fraction, ZeroDataExtent(Shown_)))
        SetView(view);
}

void TFormZero::ScrollVertical(double fraction) {
    if (!HasData_)
        return;
    TZeroRange left = LeftView();
    if (ZeroScrollAxis(left, left.Size() * fraction, {0, LimitHeight}))
        Chart1->yAxis->setRange(left.Min, left.Max);
}

// --- keys ---

bool TFormZero::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched == parent() && Context_ && Context_->Closing) {
        close();
        return false;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (HandleKey(key->key(), key->modifiers()))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TFormZero::HandleKey(int key, Qt::KeyboardModifiers modifiers) {
    const TChartKeyActions actions{[this] { close(); },
                                   [this] { UndoZoom(); },
                                   [this] { ZoomIn(); },
                                   [this] { ZoomOut(); },
                                   [this](double fraction) { ScrollVertical(fraction); },
                                   [this](double fraction) { ScrollHorizontal(fraction); },
                                   [this](int position) { ScrollBar1->setValue(position); }};
    const TChartKeyDone done = RunChartKey(key, modifiers, actions);
    if (done != TChartKeyDone::Scrolled)
        return done == TChartKeyDone::Finished;
    Chart1->setFocus();
    SyncScrollBar();
    return true;
}

// --- files ---

void TFormZero::ErrorBox(const QString& text) {
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

void TFormZero::SaveToFile() {
    QFileDialog dialog(this, QString(), ProgramDir(), FileFilter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The question below asks about a file that exists.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(ZeroFileName(QDateTime::currentDateTime()));
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (QFileInfo::exists(path) && ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                                                  QStringLiteral("Заменить существующий файл ") +
                                                      Native(path) + QStringLiteral(" ?"),
                                                  QMessageBox::Yes | QMessageBox::No,
                                                  QMessageBox::No, this) != QMessageBox::Yes)
        return;
    const TUlmar* u = Commands_.Ulmar();
    QString error;
    // An array read from the gauge is saved with its plant number and the time; one still as
    // loaded from a file keeps that file's comment line.
    const bool fromFile = u && FromFile_ && FromFile_->Array == u->ZeroArray;
    const QByteArray comment = !u ? QByteArray()
                               : fromFile
                                   ? FromFile_->Comment
                                   : ZeroFileComment(u->PlantNumber, QDateTime::currentDateTime());
    if (!u || !SaveZeroFile(path, u->ZeroArray, &error, comment))
        ErrorBox(QStringLiteral("Не удалось сохранить файл\n") + Native(path) +
                 (error.isEmpty() ? QString() : QStringLiteral("\n") + error));
}

std::optional<TZeroLoad> TFormZero::AskZeroFile(const QString& caption, const QString& folder,
                                                QString& path) {
    QFileDialog dialog(this, caption, folder, FileFilter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    path = dialog.selectedFiles().constFirst();
    // Read into a new array: a file that is refused leaves the current one as it was.
    TZeroLoad load = LoadZeroFile(path);
    if (!load.Ok) {
        ErrorBox(QStringLiteral("Не удалось загрузить файл\n") + Native(path) +
                 QStringLiteral("\n") + load.Error);
        return std::nullopt;
    }
    return load;
}

void TFormZero::LoadFromFile() {
    QString path;
    const std::optional<TZeroLoad> loaded = AskZeroFile(QString(), ProgramDir(), path);
    if (!loaded)
        return;
    const TZeroLoad& load = *loaded;
    // Between two exchanges of a running poll cycle; refused only inside an exchange.
    if (!Commands_.Edit([&load](TUlmar& device) { device.ZeroArray = load.Array; })) {
        ErrorBox(QStringLiteral("Не удалось загрузить файл\n") + Native(path) +
                 QStringLiteral("\nИдёт обмен с прибором: массив не изменён"));
        return;
    }
    FromFile_ = TLoadedFile{load.Array, load.Comment};
    LoadFromZero();
}

void TFormZero::CloseArray() {
    ClearView();
    SyncScrollBar();
    Chart1->replot(QCustomPlot::rpQueuedReplot);
    Commands_.Edit([](TUlmar& device) { device.ClearZeroArray(); });
    FromFile_.reset();
}

void TFormZero::closeEvent(QCloseEvent* event) {
    // A snapshot under way ends first (at once when the program closes): the window closes then.
    if (Taking_) {
        CloseAfterTake_ = true;
        StopRecording();
        event->ignore();
        return;
    }
    StopRecording();
    StopPlaying();
    SaveWindowPosition(this);
    event->accept();
    emit Closed();
}

// --- echo snapshots ---

void TFormZero::BuildEchoBar() {
    QStyle* s = style();
    auto* record = NewAction("actZeroRecord", QStringLiteral("Запись"),
                             s->standardIcon(QStyle::SP_DialogNoButton));
    record->setCheckable(true);
    record->setToolTip(QStringLiteral("Записывать снимки массива нулей"));
    connect(record, &QAction::toggled, this, [this](bool on) {
        if (on)
            StartRecording();
        else
            StopRecording();
    });
    connect(NewAction("actZeroOpenRecording", QStringLiteral("Открыть запись…"),
                      s->standardIcon(QStyle::SP_DirOpenIcon)),
            &QAction::triggered, this, [this] {
                QFileDialog dialog(this, QStringLiteral("Открыть запись"),
                                   QDir(RecordingRoot()).exists() ? RecordingRoot() : ProgramDir());
                dialog.setOption(QFileDialog::DontUseNativeDialog);
                dialog.setFileMode(QFileDialog::Directory);
                dialog.setOption(QFileDialog::ShowDirsOnly);
                if (ExecModal(&dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
                    LoadRecording(dialog.selectedFiles().constFirst());
            });
    auto* play = NewAction("actZeroPlay", QStringLiteral("Воспроизвести"),
                           s->standardIcon(QStyle::SP_MediaPlay));
    connect(play, &QAction::triggered, this, [this] {
        if (Playing())
            StopPlaying();
        else
            Play();
    });
    connect(NewAction("actZeroReference", QStringLiteral("Эталон…"),
                      ChartToolIcon(QStringLiteral("Э"))),
            &QAction::triggered, this, [this] { ChooseReference(); });
    connect(NewAction("actZeroReferenceRecord", QStringLiteral("Эталон из протокола"),
                      ChartToolIcon(QStringLiteral("П"))),
            &QAction::triggered, this, [this] { ReferenceFromRecord(); });
    connect(NewAction("actZeroReferenceClear", QStringLiteral("Без эталона"),
                      ChartToolIcon(QStringLiteral("×"))),
            &QAction::triggered, this, [this] { ClearReference(); });

    addToolBarBreak();
    EchoBar = addToolBar(QStringLiteral("EchoBar"));
    EchoBar->setObjectName(QStringLiteral("EchoBar"));
    EchoBar->setMovable(false);
    EchoBar->setIconSize(QSize(28, 24));
    EchoBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    EchoBar->addAction(record);
    seInterval = new QSpinBox(EchoBar);
    seInterval->setObjectName(QStringLiteral("seInterval"));
    seInterval->setRange(MinInterval, MaxInterval);
    seInterval->setSuffix(QStringLiteral(" с"));
    seInterval->setToolTip(QStringLiteral("Интервал между снимками, с"));
    seInterval->setValue(ReadInterval());
    connect(seInterval, &QSpinBox::valueChanged, this, [this](int seconds) {
        SaveInterval(seconds);
        if (RecordTimer_.isActive())
            RecordTimer_.setInterval(seconds * 1000);
    });
    EchoBar->addWidget(seInterval);
    EchoBar->addSeparator();
    EchoBar->addAction(Action(QStringLiteral("actZeroOpenRecording")));
    EchoBar->addAction(play);
    tbSnapshots = new QSlider(Qt::Horizontal, EchoBar);
    tbSnapshots->setObjectName(QStringLiteral("tbSnapshots"));
    tbSnapshots->setFixedWidth(150);
    tbSnapshots->setPageStep(1);
    connect(tbSnapshots, &QSlider::valueChanged, this, [this](int index) {
        if (index != ShownSnapshot_ && index >= 0 && index < int(Snapshots_.size()))
            ShowSnapshot(index);
    });
    EchoBar->addWidget(tbSnapshots);
    lblSnapshot = new QLabel(EchoBar);
    lblSnapshot->setObjectName(QStringLiteral("lblSnapshot"));
    lblSnapshot->setMinimumWidth(215);
    EchoBar->addWidget(lblSnapshot);
    EchoBar->addSeparator();
    EchoBar->addAction(Action(QStringLiteral("actZeroReference")));
    EchoBar->addAction(Action(QStringLiteral("actZeroReferenceClear")));
    SyncSnapshotControls();
}

QString TFormZero::RecordingRoot() {
    return JoinPath(ProgramDir(), QStringLiteral("Echo"));
}

int TFormZero::ReadInterval() const {
    const TIniFile ini(SettingsPath());
    const qint64 seconds = ini.ReadInteger(EchoSection, IntervalKey, DefaultInterval);
    // A value out of bounds (a file edited by hand) is brought within them.
    return int(std::clamp<qint64>(seconds, MinInterval, MaxInterval));
}

void TFormZero::SaveInterval(int seconds) const {
    if (!QDir(StartIniDir()).exists())
        return;
    TIniFile ini(SettingsPath());
    ini.WriteInteger(EchoSection, IntervalKey, seconds);
    ini.Save(false);
}

bool TFormZero::Recording() const {
    return RecordTimer_.isActive();
}

void TFormZero::StartRecording() {
    if (Recording())
        return;
    StopPlaying();
    Folder_ = JoinPath(RecordingRoot(),
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")));
    Snapshots_.clear();
    ShownSnapshot_ = -1;
    RecordTimer_.start(seInterval->value() * 1000);
    if (QAction* record = Action(QStringLiteral("actZeroRecord")); !record->isChecked()) {
        const QSignalBlocker quiet(record);
        record->setChecked(true);
    }
    SyncSnapshotControls();
    // The first snapshot at once, after the click has been handled.
    QTimer::singleShot(0, this, [this] {
        if (Recording())
            RecordTick();
    });
}

void TFormZero::StopRecording() {
    RecordTimer_.stop();
    if (QAction* record = Action(QStringLiteral("actZeroRecord")); record && record->isChecked()) {
        const QSignalBlocker quiet(record);
        record->setChecked(false);
    }
    SyncSnapshotControls();
}

void TFormZero::RecordTick() {
    TakeSnapshot();
}

void TFormZero::LockArrayActions(bool locked) {
    if (!locked) {
        for (QAction* a : std::as_const(Locked_))
            a->setEnabled(true);
        Locked_.clear();
        return;
    }
    QList<QAction*> actions{Action(QStringLiteral("actZeroLoadFromFile")),
                            Action(QStringLiteral("actZeroClose"))};
    if (Context_)
        for (const char* name : {"actInitReadStart", "actInitReadStop", "actZeroRead"})
            if (QAction* a = Context_->Action(QString::fromLatin1(name)))
                actions << a;
    for (QAction* a : actions)
        if (a && a->isEnabled()) {
            a->setEnabled(false);
            Locked_ << a;
        }
}

bool TFormZero::TakeSnapshot() {
    if (Taking_ || !Commands_.Link())
        return false;
    // The main window's own read is under way (it disables its action meanwhile).
    if (Context_)
        if (QAction* read = Context_->Action(QStringLiteral("actZeroRead"));
            read && !read->isEnabled())
            return false;
    if (Folder_.isEmpty())
        Folder_ =
            JoinPath(RecordingRoot(),
                     QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss")));
    Taking_ = true;
    LockArrayActions(true);
    lblSnapshot->setText(QStringLiteral("Чтение массива…"));
    const TZeroTake take = TakeZeroSnapshot(*RecordCommands_, *RecordUi_, Folder_);
    LockArrayActions(false);
    Taking_ = false;
    if (take.Ok) {
        // The slider follows the recording while it shows the last snapshot (or none).
        const bool follow = ShownSnapshot_ < 0 || ShownSnapshot_ == int(Snapshots_.size()) - 1;
        Snapshots_.push_back(take.Snapshot);
        if (follow && !Playing())
            ShowSnapshot(int(Snapshots_.size()) - 1);
        else
            SyncSnapshotControls();
    } else {
        SyncSnapshotControls();
        lblSnapshot->setText(take.Error);
        // A file that cannot be written ends the recording; a gauge that did not answer this
        // time is asked again at the next interval.
        if (!take.NoAnswer && !take.Stopped && Recording()) {
            StopRecording();
            ErrorBox(QStringLiteral("Запись остановлена\n") + take.Error);
        }
    }
    if (take.Stopped)
        StopRecording();
    if (CloseAfterTake_) {
        CloseAfterTake_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
    return take.Ok;
}

bool TFormZero::LoadRecording(const QString& folder) {
    const TZeroRecording recording = LoadZeroRecording(folder);
    if (!recording.Skipped.isEmpty())
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       QStringLiteral("Не все снимки записи загружены\n") + Native(folder),
                       QMessageBox::Ok, QMessageBox::Ok, this, recording.Skipped.join('\n'));
    if (recording.Snapshots.empty())
        return false;
    StopRecording();
    StopPlaying();
    Folder_ = folder;
    Snapshots_ = recording.Snapshots;
    ShownSnapshot_ = -1;
    ShowSnapshot(0);
    return true;
}

void TFormZero::ShowSnapshot(int index) {
    if (index < 0 || index >= int(Snapshots_.size())) {
        LoadFromZero();
        return;
    }
    ShownSnapshot_ = index;
    ShowArray(Snapshots_[std::size_t(index)].Array, true);
    SyncSnapshotControls();
}

void TFormZero::SyncSnapshotControls() {
    if (!tbSnapshots)
        return;
    const int count = int(Snapshots_.size());
    {
        const QSignalBlocker quiet(tbSnapshots);
        tbSnapshots->setRange(0, std::max(count - 1, 0));
        tbSnapshots->setValue(std::max(ShownSnapshot_, 0));
    }
    tbSnapshots->setEnabled(count > 1);
    Action(QStringLiteral("actZeroPlay"))->setEnabled(count > 1);
    if (ShownSnapshot_ >= 0 && ShownSnapshot_ < count)
        lblSnapshot->setText(
            QStringLiteral("Снимок %1 из %2: %3")
                .arg(ShownSnapshot_ + 1)
                .arg(count)
                .arg(SnapshotTimeText(Snapshots_[std::size_t(ShownSnapshot_)].Time)));
    else
        lblSnapshot->setText(count > 0 ? QStringLiteral("Снимков: %1").arg(count)
                                       : QStringLiteral("Снимков нет"));
}

bool TFormZero::Playing() const {
    return PlayTimer_.isActive();
}

void TFormZero::Play() {
    if (Snapshots_.size() < 2)
        return;
    if (ShownSnapshot_ < 0 || ShownSnapshot_ >= int(Snapshots_.size()) - 1)
        ShowSnapshot(0);
    PlayTimer_.start();
    QAction* play = Action(QStringLiteral("actZeroPlay"));
    play->setText(QStringLiteral("Стоп"));
    play->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
}

void TFormZero::StopPlaying() {
    PlayTimer_.stop();
    if (QAction* play = Action(QStringLiteral("actZeroPlay"))) {
        play->setText(QStringLiteral("Воспроизвести"));
        play->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    }
}

void TFormZero::PlayTick() {
    const int next = ShownSnapshot_ + 1;
    if (next >= int(Snapshots_.size())) {
        StopPlaying();
        return;
    }
    ShowSnapshot(next);
    if (next == int(Snapshots_.size()) - 1)
        StopPlaying();
}

void TFormZero::SetReference(const TZeroArray& reference, const QString& caption) {
    Reference_ = reference;
    ReferenceCaption_ = caption;
    ShowReference();
    UpdateBarWidths();
    Chart1->replot(QCustomPlot::rpQueuedReplot);
}

void TFormZero::ClearReference() {
    Reference_.reset();
    ReferenceCaption_.clear();
    ShowReference();
    Chart1->replot(QCustomPlot::rpQueuedReplot);
}

std::optional<TZeroDifference> TFormZero::Difference() const {
    if (!Reference_ || !HasData_)
        return std::nullopt;
    return CompareZeroArrays(*Reference_, Shown_);
}

void TFormZero::ShowReference() {
    Series3->data()->clear();
    lbDifference->clear();
    const std::optional<TZeroDifference> difference = Difference();
    lblDifference->setVisible(Reference_.has_value());
    lbDifference->setVisible(Reference_.has_value());
    Action(QStringLiteral("actZeroReferenceClear"))->setEnabled(Reference_.has_value());
    if (!Reference_)
        return;
    for (double x : ZeroPositions(*Reference_))
        Series3->addData(x, ReferenceHeight);
    lblDifference->setText(QStringLiteral("Эталон: ") + ReferenceCaption_ + QLatin1Char('\n') +
                           (difference ? ZeroDifferenceSummary(*difference) : QString()));
    if (difference)
        lbDifference->addItems(ZeroDifferenceLines(*difference));
}

void TFormZero::ChooseReference() {
    QString path;
    if (const std::optional<TZeroLoad> load =
            AskZeroFile(QStringLiteral("Эталон"), Folder_.isEmpty() ? ProgramDir() : Folder_, path))
        SetReference(load->Array, QFileInfo(path).fileName());
}

bool TFormZero::ReferenceFromRecord(const QString& recordsDir) {
    const TUlmar* u = Commands_.Ulmar();
    const int plant = u ? int(u->PlantNumber) : 0;
    const std::optional<TSessionZero> zero =
        LatestSessionZero(plant, recordsDir.isEmpty() ? ServiceRecordsDir() : recordsDir);
    if (!zero) {
        ShowMessageBox(QMessageBox::Information, QStringLiteral("Эталон"),
                       QStringLiteral("Нет протокола прибора № ") + QString::number(plant) +
                           QStringLiteral(" с массивом нулей."),
                       QMessageBox::Ok, QMessageBox::Ok, this);
        return false;
    }
    TZeroArray reference{};
    std::copy(zero->Array.begin(), zero->Array.end(), reference.begin());
    SetReference(reference, zero->Caption);
    return true;
}

int ShowZero(TWindowSlot<TFormZero>& slot, TGaugeCommands& commands, TWindowContext* context,
             QWidget* parent) {
    if (!slot)
        slot.Set(new TFormZero(commands, context, parent));
    slot->show();
    slot->raise();
    slot->activateWindow();
    return 0;
}
