#include "fMain.h"
#include "fGraph.h"
#include "fGraph2.h"
#include "fInput.h"
#include "fLine.h"
#include "fMainTables.h"
#include "fPortSettings.h"
#include "fProgon.h"
#include "fRecord.h"
#include "fReqAns.h"
#include "fSelectCMD.h"
#include "fTaraEditor.h"
#include "fUlmar.h"
#include "fUlmarPar.h"
#include "fZero.h"
#include "uActionLink.h"
#include "uConsole.h"
#include "uGaugeCommands.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uUlmar.h"
#include "uWindowCommandUi.h"
#include "uWindowPosition.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QSet>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

namespace {

// The address on the line of the gauge with that plant number: the current gauge's, or a gauge
// of the poll list whose signature has been read; -1 when none is polled. A trend caption names
// it.
int AddressOfGauge(const TDeviceLink* link, int plantNumber) {
    if (!link || plantNumber < 0)
        return -1;
    if (const TUlmar* current = link->Ulmar();
        current && current->PlantNumber == plantNumber && current->SystemAddress != 255)
        return current->SystemAddress;
    for (const quint8 address : link->Poller()->Addresses())
        if (const TUlmar* gauge = link->GaugeModel(address);
            gauge && link->SignatureKnown(address) && gauge->PlantNumber == plantNumber)
            return address;
    return -1;
}

const char* const EnabledProperty = "ulmarEnabled";

// A small tool-bar picture: a standard one where the desktop has it, otherwise a short label.
QIcon GlyphIcon(const QString& glyph, QColor colour) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(150));
    painter.setBrush(colour.lighter(170));
    painter.drawRoundedRect(QRectF(1.5, 1.5, 21, 21), 4, 4);
    QFont font = painter.font();
    font.setPixelSize(glyph.size() > 2 ? 8 : 11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(colour.darker(200));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, glyph);
    return QIcon(pixmap);
}

struct TToolIcon {
    const char* Name;
    QStyle::StandardPixmap Standard; // SP_CustomBase: use the glyph
    const char* Glyph;
};

const TToolIcon ToolIcons[] = {
    {"actOprosStart", QStyle::SP_MediaPlay, ""},
    {"actOprosStop", QStyle::SP_MediaStop, ""},
    {"act10", QStyle::SP_CustomBase, "Dec"},
    {"act16", QStyle::SP_CustomBase, "Hex"},
    {"actUlmarLoad", QStyle::SP_DialogOpenButton, ""},
    {"actUlmarSave", QStyle::SP_DialogSaveButton, ""},
    {"actReqAnsShow", QStyle::SP_CustomBase, "⇄"},
    {"actUlmarShow", QStyle::SP_CustomBase, "▮"},
    {"actUlmarParShow", QStyle::SP_CustomBase, "P"},
    {"actSelectCmdShow", QStyle::SP_CustomBase, "☑"},
    {"actTaraEditor", QStyle::SP_CustomBase, "T"},
    {"actFormZeroShow", QStyle::SP_CustomBase, "0"},
    {"actFormProgonShow", QStyle::SP_CustomBase, "Пр"},
    {"actDistanceRead", QStyle::SP_CustomBase, "Lт"},
    {"actLevelFreeRead", QStyle::SP_CustomBase, "Lс"},
    {"actLevelRead", QStyle::SP_CustomBase, "Ну"},
    {"actVolumeRead", QStyle::SP_CustomBase, "V"},
    {"actLevelAllRead", QStyle::SP_CustomBase, "Все"},
    {"actTemperSVChModuleRead", QStyle::SP_CustomBase, "t°"},
    {"actTemperTermostatRead", QStyle::SP_CustomBase, "tт"},
    {"actEcho", QStyle::SP_CustomBase, "Эх"},
    {"actSignatureRead", QStyle::SP_CustomBase, "ID"},
    {"actAllParamRead", QStyle::SP_ArrowDown, ""},
    {"actAllParamWrite", QStyle::SP_ArrowUp, ""},
    {"actClose", QStyle::SP_DialogCloseButton, ""},
};

// A menu item: an action name, "-" for a separator, or a submenu
// ">" + title + "|" + hint + "|" + comma-separated action names.
QString SubMenu(const QString& title, const QString& hint, const QString& items) {
    return QStringLiteral(">") + title + QLatin1Char('|') + hint + QLatin1Char('|') + items;
}

// The menu items of the parameter table's part of a menu: action names, "-" between sections,
// and a submenu of radio items for a parameter that has them.
QStringList TableItems(const std::vector<TParamMenuItem>& items) {
    QStringList names;
    for (const TParamMenuItem& item : items) {
        if (!item.Row) {
            names << QStringLiteral("-");
            continue;
        }
        const TParamRow& row = *item.Row;
        if (item.Verb == VerbChange && !row.Radio.empty()) {
            QStringList radio;
            for (int value : RadioMenuValues(row))
                radio << RadioActionName(row, value);
            const char* hint = ParamView(row).RadioMenuHint;
            names << SubMenu(ParamTitle(row), hint ? QString::fromUtf8(hint) : QString(),
                             radio.join(QLatin1Char(',')));
        } else {
            names << ParamActionName(row, item.Verb);
        }
    }
    return names;
}

// The submenu of the menu that holds the action, or null.
QMenu* SubMenuHolding(const QMenu* menu, const QAction* item) {
    for (QAction* a : menu->actions())
        if (a->menu() && a->menu()->actions().contains(item))
            return a->menu();
    return nullptr;
}

} // namespace

TFormMain::TFormMain(TDeviceLink* link, const TCommandLineModes& modes, QWidget* parent)
    : QMainWindow(parent), Link_(link), Context_(link),
      Ui_(std::make_unique<TWindowCommandUi>(this, Context_)),
      Commands_(std::make_unique<TGaugeCommands>(link, *Ui_)) {
    setObjectName(QStringLiteral("FormMain"));
    setWindowTitle(QStringLiteral("УЛМАР"));
    Context_.FactoryMode = modes.Factory;
    Context_.KalistMode = modes.Kalist;
    Context_.SetActionLookup([this](const QString& name) { return Action(name); });
    connect(&Context_, &TWindowContext::RefreshRequested, this, &TFormMain::ControlRefresh);
    // An answer applied to the device object shows in every open window at once (the signal
    // comes after the exchange, from the event loop).
    if (TUlmar* ulmar = Ulmar())
        connect(ulmar, &TUlmar::Changed, &Context_, &TWindowContext::Refresh);
    CreateActions();
    CreateMenus();
    CreateToolBar();
    CreateRadioGroups();
    BindHandlers();
    // Only the menu and the tool bar: no client area below them.
    auto* client = new QWidget(this);
    client->setFixedHeight(0);
    setCentralWidget(client);
    // The status bar shows the actions' hints and, while it lasts, the archive's trouble.
    lblArchiveStatus_ = new QLabel(this);
    lblArchiveStatus_->setObjectName(QStringLiteral("lblArchiveStatus"));
    lblArchiveStatus_->setStyleSheet(QStringLiteral("color: #c00000;"));
    lblArchiveStatus_->setVisible(false);
    statusBar()->addPermanentWidget(lblArchiveStatus_, 1);
    lblPortNote_ = new QLabel(this);
    lblPortNote_->setObjectName(QStringLiteral("lblPortNote"));
    lblPortNote_->setStyleSheet(QStringLiteral("color: #9a5b00;"));
    lblPortNote_->setVisible(false);
    statusBar()->addPermanentWidget(lblPortNote_);
    resize(sizeHint());
    StartUp();
}

TFormMain::~TFormMain() {
    qApp->removeEventFilter(this);
    if (TPoller* poller = Poller())
        poller->HoldTicks(true);
    if (!Closed_)
        CloseToolWindows();
    Commands_.reset();
}

TUlmar* TFormMain::Ulmar() const {
    return Link_ ? Link_->Ulmar() : nullptr;
}

TPoller* TFormMain::Poller() const {
    return Link_ ? Link_->Poller() : nullptr;
}

// --- building ---

QAction* TFormMain::NewAction(const QString& name, const QString& caption, const QString& hint) {
    if (Actions_.contains(name))
        qFatal("TFormMain: action %s made twice", qPrintable(name));
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? caption : hint);
    action->setIconVisibleInMenu(false);
    Actions_.insert(name, action);
    SetActionEnabled(action, true);
    return action;
}

QAction* TFormMain::Require(const QString& name) const {
    QAction* action = Action(name);
    if (!action)
        qFatal("TFormMain: no action %s", qPrintable(name));
    return action;
}

void TFormMain::CreateActions() {
    for (int i = 0; i < MainActionTextCount; ++i) {
        const TActionText& t = MainActionTexts[i];
        NewAction(QString::fromLatin1(t.Name), QString::fromUtf8(t.Caption),
                  QString::fromUtf8(t.Hint));
    }
    for (const TCommandRow& c : CommandRows())
        CommandActions_[static_cast<size_t>(c.Id)] =
            NewAction(QString::fromLatin1(c.Name), TextCaption(c.Text), TextHint(c.Text));
    const TParamVerb verbs[] = {VerbChange, VerbRead, VerbWrite};
    for (const TParamRow& row : ParamRows()) {
        for (size_t v = 0; v < std::size(verbs); ++v) {
            const QString name = ParamActionName(row, verbs[v]);
            const TParamText& text = ParamActionText(row, verbs[v]);
            if (!name.isEmpty())
                ParamActions_[static_cast<size_t>(row.Id)][v] =
                    NewAction(name, TextCaption(text), TextHint(text));
        }
        for (size_t i = 0; i < row.Radio.size(); ++i)
            NewAction(RadioActionName(row, row.RadioFirst + static_cast<int>(i)),
                      QString::fromUtf8(row.Radio[i].Caption),
                      QString::fromUtf8(row.Radio[i].Hint));
    }
    actOprosStart_ = Require(QStringLiteral("actOprosStart"));
    actOprosStop_ = Require(QStringLiteral("actOprosStop"));
    act10_ = Require(QStringLiteral("act10"));
    act16_ = Require(QStringLiteral("act16"));
    actClose_ = Require(QStringLiteral("actClose"));
    for (const TToolIcon& icon : ToolIcons) {
        QAction* action = Require(QString::fromLatin1(icon.Name));
        if (icon.Standard != QStyle::SP_CustomBase)
            action->setIcon(style()->standardIcon(icon.Standard));
        else
            action->setIcon(GlyphIcon(QString::fromUtf8(icon.Glyph), QColor(60, 110, 170)));
    }
}

QMenu* TFormMain::AddMenu(QMenu* parent, const QString& title, const QString& hint,
                          const QStringList& items) {
    QMenu* menu = parent ? parent->addMenu(title) : menuBar()->addMenu(title);
    menu->setToolTipsVisible(true);
    menu->menuAction()->setStatusTip(hint);
    if (!hint.isEmpty())
        menu->menuAction()->setToolTip(hint);
    SetActionEnabled(menu->menuAction(), true);
    Menus_.append(menu);
    for (const QString& item : items) {
        if (item == QLatin1String("-")) {
            menu->addSeparator();
        } else if (item.startsWith(QLatin1Char('>'))) {
            const QStringList parts = item.mid(1).split(QLatin1Char('|'));
            AddMenu(menu, parts.value(0), parts.value(1),
                    parts.value(2).split(QLatin1Char(','), Qt::SkipEmptyParts));
        } else {
            menu->addAction(Require(item));
        }
    }
    return menu;
}

void TFormMain::CreateMenus() {
    AddMenu(nullptr, QStringLiteral("Работа"), {},
            {"actOprosStart", "actOprosStop", "-", "actBootLoader", "-", "act10", "act16", "-",
             "actClose"});
    // The parameters' items come from the parameter table; the window's own commands stand
    // around them.
    QMenu* parameters =
        AddMenu(nullptr, QStringLiteral("Параметры"), {},
                QStringList{"actTransmitterChange", "actTimerParametersChange", "-"} +
                    TableItems(ParamMenuItems(TParamMenu::Parameters)) +
                    QStringList{"-", "actUlmarLoad", "actUlmarSave", "actUlmarCompare"});
    QMenu* factory = AddMenu(nullptr, QStringLiteral("Заводские"), {},
                             TableItems(ParamMenuItems(TParamMenu::Factory)));
    AddMenu(nullptr, QStringLiteral("Показания"), {},
            {"actDistanceRead", "actLevelFreeRead", "actLevelRead", "actVolumeRead",
             "actLevelAllRead", "-", "actTemperSVChModuleRead", "actTemperTermostatRead",
             "actFreqRead", "actFreqOpChRead", "-", "actEcho"});
    QMenu* read =
        AddMenu(nullptr, QStringLiteral("Считать"), {},
                QStringList{"actSignatureRead"} + TableItems(ParamMenuItems(VerbRead, false)) +
                    QStringList{"-", "actAllParamRead"});
    QMenu* write = AddMenu(nullptr, QStringLiteral("Записать"), {},
                           TableItems(ParamMenuItems(VerbWrite, false)) +
                               QStringList{"-", "actAllParamWrite", "actWriteToPZU", "-"} +
                               TableItems(ParamMenuItems(VerbWrite, true)));
    AddMenu(nullptr, QStringLiteral("График"), {},
            {"actGraphDistance", "actGraphLevelFree", "actGraphLevel", "actGraphVolume",
             "actLevelFromTemp", "actGraphCurrentOutput"});
    QMenu* array = AddMenu(nullptr, QStringLiteral("Массив"), {},
                           {"actInitReadStart", "actInitReadStop", "actZeroRead"});
    AddMenu(nullptr, QStringLiteral("Окна"), {},
            {"actReqAnsShow", "actUlmarShow", "actUlmarParShow", "actSelectCmdShow",
             "actTaraEditor", "actFormZeroShow", "actFormProgonShow", "actFormScanShow",
             "actFormLineShow", "actFormRecordShow", "actFormAboutShow"});
    // The about box also where it is looked for first; the same action as under "Окна".
    AddMenu(nullptr, QStringLiteral("Справка"), {}, {"actFormAboutShow"});
    PollingMenus_ = {parameters, factory, read, write, array};
    FactoryMenus_ = {factory, array,
                     SubMenuHolding(parameters, RadioAction(TParamId::ProgramType, 0))};
    if (FactoryMenus_.contains(nullptr))
        qFatal("TFormMain: no program type menu");
}

void TFormMain::CreateToolBar() {
    ToolBar_ = {"actOprosStart",
                "actOprosStop",
                "|",
                "act10",
                "act16",
                "|",
                "actUlmarLoad",
                "actUlmarSave",
                "|",
                "actReqAnsShow",
                "actUlmarShow",
                "actUlmarParShow",
                "actSelectCmdShow",
                "actTaraEditor",
                "actFormZeroShow",
                "actFormProgonShow",
                "|",
                "actDistanceRead",
                "actLevelFreeRead",
                "actLevelRead",
                "actVolumeRead",
                "actLevelAllRead",
                "|",
                "actTemperSVChModuleRead",
                "actTemperTermostatRead",
                "|",
                "actEcho",
                "actSignatureRead",
                "|",
                "actAllParamRead",
                "actAllParamWrite",
                "|",
                "actClose"};
    QToolBar* bar = addToolBar(QStringLiteral("Панель"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(24, 24));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    for (const QString& item : ToolBar_) {
        if (item == QLatin1String("|"))
            bar->addSeparator();
        else
            bar->addAction(Require(item));
    }
}

void TFormMain::CreateRadioGroups() {
    // One exclusive group per mode parameter, or check items where the table says so; every
    // item shows the parameter's value after each refresh.
    const auto group = [this](const QList<QAction*>& actions) {
        auto* g = new QActionGroup(this);
        g->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
        for (QAction* action : actions)
            g->addAction(action);
        RadioGroups_.append(g);
    };
    for (const TParamRow& row : ParamRows()) {
        QList<QAction*> items;
        for (size_t i = 0; i < row.Radio.size(); ++i) {
            QAction* action = RadioAction(row.Id, row.RadioFirst + static_cast<int>(i));
            action->setCheckable(true);
            items << action;
        }
        if (!items.isEmpty() && !row.RadioCheck)
            group(items);
    }
    act10_->setCheckable(true);
    act16_->setCheckable(true);
    group({act10_, act16_});
}

void TFormMain::BindHandlers() {
    auto on = [this](const char* name, auto handler) {
        connect(Require(QString::fromLatin1(name)), &QAction::triggered, this, handler);
    };
    // The poller tells its state back through runningChanged; without one polling stays stopped.
    on("actOprosStart", [this] {
        if (TPoller* poller = Poller())
            poller->Start();
        else
            PollingStateChanged(false);
    });
    on("actOprosStop", [this] {
        if (TPoller* poller = Poller())
            poller->Stop();
        else
            PollingStateChanged(false);
    });
    on("actTimerParametersChange", [this] { TimerParametersChange(); });
    on("actTransmitterChange", [this] { TransmitterChange(); });
    on("act10", [this] { SetRadix(10); });
    on("act16", [this] { SetRadix(16); });
    on("actClose", [this] { close(); });
    on("actUlmarShow", [this] {
        if (Ulmar())
            ShowFormUlmar(Windows_.Ulmar, Ulmar(), &Context_);
    });
    on("actUlmarParShow", [this] {
        if (Ulmar())
            ShowFormUlmarPar(Windows_.UlmarPar, Ulmar(), &Context_);
    });
    on("actReqAnsShow", [this] { ShowFormReqAns(Windows_.ReqAns, nullptr, Link_, &Context_); });
    on("actSelectCmdShow", [this] { ShowFormSelectCMD(Windows_.SelectCMD, nullptr, &Context_); });
    on("actUlmarLoad", [this] {
        if (Ulmar())
            LoadParamFile(*Ulmar(), this, Link_);
        ControlRefresh();
    });
    on("actUlmarSave", [this] {
        if (Ulmar())
            SaveParamFile(*Ulmar());
        ControlRefresh();
    });
    BindParameterCommands();
    BindBulkCommands();
    BindServiceTools();

    // Trends: modal windows over the last TrendSpan days, charting the device's readings live.
    // The caption names the parameter as the menu does, and the gauge with its address.
    const auto address = [this](int plantNumber) { return AddressOfGauge(Link_, plantNumber); };
    const auto trend = [this, address](const char* action, const char* table,
                                       std::unique_ptr<TIODouble> TUlmar::*value) {
        const TDateTime now = NowDateTime();
        // The current gauge's trend by default; its live values join only its own line.
        ShowTrend(QString::fromLatin1(table), Ulmar() ? (Ulmar()->*value).get() : nullptr,
                  Require(QString::fromLatin1(action))->text().trimmed(), now - TrendSpan, now,
                  Ulmar() ? int(Ulmar()->PlantNumber) : AllGauges, address);
    };
    on("actGraphDistance", [trend] { trend("actGraphDistance", "Lt", &TUlmar::Distance); });
    on("actGraphLevelFree", [trend] { trend("actGraphLevelFree", "Lc", &TUlmar::LevelFree); });
    on("actGraphLevel", [trend] { trend("actGraphLevel", "Hu", &TUlmar::Level); });
    on("actGraphVolume", [trend] { trend("actGraphVolume", "V", &TUlmar::Volume); });
    on("actGraphCurrentOutput",
       [trend] { trend("actGraphCurrentOutput", "CurrentOutput", &TUlmar::CurrentOutput); });
    on("actLevelFromTemp", [this, address] {
        const TDateTime now = NowDateTime();
        TUlmar* ulmar = Ulmar();
        ShowTrend2(ulmar ? ulmar->Distance.get() : nullptr, ulmar ? ulmar->TempSVCH.get() : nullptr,
                   now - TrendSpan, now, ulmar ? int(ulmar->PlantNumber) : AllGauges, address);
    });
}

// --- start-up ---

void TFormMain::StartUp() {
    LoadWindowPosition(this);
    act16_->trigger();
    FactoryModeRefresh();
    qApp->installEventFilter(this);
    if (TPoller* poller = Poller()) {
        connect(poller, &TPoller::runningChanged, this, &TFormMain::PollingStateChanged);
        // Every tick that started a cycle refreshes the windows.
        connect(poller, &TPoller::ticked, this, &TFormMain::ControlRefresh);
        poller->HoldTicks(false);
    }
    if (Link_ && Link_->Transmitter() && !Link_->Transmitter()->OnMessage)
        Link_->Transmitter()->OnMessage = [](const QString& caption, const QString& text) {
            ShowMessageBox(QMessageBox::Critical, caption, text);
        };
    actOprosStop_->trigger();
    ShowToolWindows();
    if (Windows_.SelectCMD)
        Windows_.SelectCMD->SelectCmdInit();
    if (Ulmar())
        Ulmar()->UpdateRanges();
    ControlRefresh();
}

void TFormMain::ShowToolWindows() {
    for (const char* name :
         {"actUlmarShow", "actUlmarParShow", "actReqAnsShow", "actSelectCmdShow"})
        Require(QString::fromLatin1(name))->trigger();
    // On a first start nothing is saved: readings and parameters go beside the main window,
    // the link and the command selection below it, instead of all on top of each other.
    PlaceToolWindows(this, {{Windows_.Ulmar, TPlaceSide::Right},
                            {Windows_.UlmarPar, TPlaceSide::Right},
                            {Windows_.ReqAns, TPlaceSide::Below},
                            {Windows_.SelectCMD, TPlaceSide::Below}});
}

// --- polling ---

void TFormMain::PollingStateChanged(bool running) {
    SetActionEnabled(actOprosStart_, !running);
    SetActionEnabled(actOprosStop_, running);
    OprosStateRefresh();
    if (!running)
        ControlRefresh();
}

void TFormMain::TimerParametersChange() {
    TPoller* poller = Poller();
    if (!poller)
        return;
    const int interval =
        InputInteger(QStringLiteral("Введите"), QStringLiteral("Период опроса, мс [100, 60000]"),
                     poller->Interval(), 100, 60000);
    poller->ChangeInterval(interval);
}

void TFormMain::TransmitterChange() {
    TTransmitter* transmitter = Link_ ? Link_->Transmitter() : nullptr;
    if (transmitter) {
        // The port is closed and reopened only while no exchange is on the line: a cycle that
        // was started before polling stopped finishes its exchange first.
        QString loadError;
        Link_->RunExclusive([&] {
            transmitter->ClosePort();
            try {
                transmitter->LoadSettings();
            } catch (const std::exception& e) {
                loadError = QString::fromUtf8(e.what());
            }
        });
        if (!loadError.isEmpty())
            ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), loadError);
        // The dialog edits a copy; the link applies it, saves it and reopens the port in one
        // exclusive section (also on Cancel, which reopens the port as it was). A gauge that
        // the finder found and "Применить" took becomes the one polled, with the other gauges
        // found at its rate, and the poll list is saved with the port settings.
        TTransmitterSettings settings = transmitter->Settings();
        std::optional<TFoundGauge> applied;
        std::vector<TFoundGauge> search;
        EditTransmitterSettings(settings, *Commands_, &PollControl_, applied, search, this);
        Link_->ApplyPortSettings(settings);
        QString pollError;
        if (applied && !PollFoundGauge(*Link_, search, *applied, &pollError))
            ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), pollError);
    }
    ControlRefresh();
}

void TFormMain::SetRadix(int radix) {
    if (Link_)
        Link_->DisplayRadix = radix;
    act10_->setChecked(radix == 10);
    act16_->setChecked(radix == 16);
}

// --- refresh ---

void TFormMain::ControlRefresh() {
    Context_.Refresh();
    RadioGroupsRefresh();
    ArchiveStatusRefresh();
    PortNoteRefresh();
}

void TFormMain::PortNoteRefresh() {
    const TTransmitter* t = Link_ ? Link_->Transmitter() : nullptr;
    const QString note = t ? t->DefaultPortNote() : QString();
    const QString text = note.isEmpty() ? QString() : note.left(1).toUpper() + note.mid(1);
    if (lblPortNote_->text() != text)
        lblPortNote_->setText(text);
    lblPortNote_->setVisible(!text.isEmpty());
}

void TFormMain::ArchiveStatusRefresh() {
    const QString text = Link_ ? Link_->ArchiveStatusText() : QString();
    if (lblArchiveStatus_->text() != text)
        lblArchiveStatus_->setText(text);
    lblArchiveStatus_->setVisible(!text.isEmpty());
}

void TFormMain::RadioGroupsRefresh() {
    const TUlmar* u = Ulmar();
    if (!u)
        return;
    // A value outside the items leaves every item of its group unchecked.
    for (const TParamRow& row : ParamRows()) {
        const double value = ParamNumber(*u, row);
        for (size_t i = 0; i < row.Radio.size(); ++i) {
            const int item = row.RadioFirst + static_cast<int>(i);
            RadioAction(row.Id, item)->setChecked(item == value);
        }
    }
    SetActionEnabled(CommandAction(TCommandId::TemperTermostatRead), u->ProgramType == 1);
}

void TFormMain::OprosStateRefresh() {
    const bool stopped = !(Poller() && Poller()->Running());
    // The parameter actions that stay available while polling; the mode Change actions that no
    // menu shows follow the menus.
    QSet<const QAction*> excepted;
    QList<QAction*> unlisted;
    for (const TParamRow& row : ParamRows()) {
        for (const TParamVerb verb : {VerbChange, VerbRead, VerbWrite})
            if (QAction* a = ParamAction(row.Id, verb); a && (row.WhilePolling & verb))
                excepted << a;
        for (size_t i = 0; i < row.Radio.size(); ++i)
            if (row.WhilePolling & VerbRadio)
                excepted << RadioAction(row.Id, row.RadioFirst + static_cast<int>(i));
        if (!row.Radio.empty())
            if (QAction* change = ParamAction(row.Id, VerbChange))
                unlisted << change;
    }
    // A submenu follows too unless every item of it stays available while polling (the module
    // type's radio items).
    std::function<void(QMenu*)> walk = [&](QMenu* menu) {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator())
                continue;
            if (QMenu* sub = a->menu()) {
                walk(sub);
                const QList<QAction*> items = sub->actions();
                if (!std::all_of(items.begin(), items.end(),
                                 [&](const QAction* i) { return excepted.contains(i); }))
                    SetActionEnabled(a, stopped);
                continue;
            }
            if (!excepted.contains(a))
                SetActionEnabled(a, stopped);
        }
    };
    for (QMenu* menu : std::as_const(PollingMenus_)) {
        SetActionEnabled(menu->menuAction(), stopped);
        walk(menu);
    }
    for (const char* name : {"actTaraEditor", "actFormZeroShow", "actBootLoader"})
        unlisted << Require(QString::fromLatin1(name));
    for (QAction* a : unlisted)
        SetActionEnabled(a, stopped);
}

void TFormMain::FactoryModeRefresh() {
    const bool f = Context_.FactoryMode;
    for (QMenu* menu : std::as_const(FactoryMenus_))
        menu->menuAction()->setVisible(f);
    QList<QAction*> factory;
    for (const char* name :
         {"actFormProgonShow", "actLevelFromTemp", "actFormZeroShow", "actFreqRead",
          "actFreqOpChRead", "actGraphCurrentOutput", "actFormScanShow"})
        factory << Require(QString::fromLatin1(name));
    for (const TParamRow& row : ParamRows())
        for (const TParamVerb verb : {VerbChange, VerbRead, VerbWrite})
            if (QAction* a = ParamAction(row.Id, verb); a && (row.FactoryOnly & verb))
                factory << a;
    for (QAction* a : factory)
        a->setVisible(f);
    SetActionEnabled(ParamAction(TParamId::PlantNumber, VerbChange), f);
}

// --- keyboard and shut-down ---

void TFormMain::ToggleFactoryMode() {
    Context_.FactoryMode = !Context_.FactoryMode;
    FactoryModeRefresh();
    ControlRefresh();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    // Every key press reaches exactly one window object first (shortcuts already taken out):
    // the application-wide keys are looked at there and never consumed.
    if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // The F key in the Latin and in the Russian layout (where it carries "А").
        const bool keyF = key->key() == Qt::Key_F || key->key() == 0x0410;
        if (keyF && (key->modifiers() & Qt::ControlModifier)) {
            ToggleFactoryMode();
        } else if (key->key() == Qt::Key_F12 && !Closed_) {
            show();
            raise();
            activateWindow();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TFormMain::CloseUnasked() {
    Unasked_ = true;
    // Nobody is there to answer: the questions of the close (the parameter file's) take their
    // default answers without being shown.
    const TModalHook asking = ModalHook;
    ModalHook = [](QDialog* dialog) {
        const auto* box = qobject_cast<QMessageBox*>(dialog);
        if (!box)
            return int(QDialog::Rejected);
        return box->defaultButton() ? int(box->standardButton(box->defaultButton()))
                                    : int(QMessageBox::NoButton);
    };
    close();
    ModalHook = asking;
}

void TFormMain::closeEvent(QCloseEvent* event) {
    if (Closed_) {
        event->accept();
        return;
    }
    if (!Unasked_ &&
        ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                       QStringLiteral("Завершить работу?"), QMessageBox::Yes | QMessageBox::No,
                       QMessageBox::No, this) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    Context_.Closing = true;
    Closed_ = true;
    // From now on a tick of the pacing timer pauses it and starts nothing.
    if (TPoller* poller = Poller())
        poller->HoldTicks(true);
    SaveWindowPosition(this);
    if (Ulmar())
        SaveParamFile(*Ulmar());
    CloseToolWindows();
    event->accept();
}

void TFormMain::CloseToolWindows() {
    // Each closes itself and empties its slot.
    if (Windows_.SelectCMD)
        Windows_.SelectCMD->close();
    if (Windows_.Ulmar)
        Windows_.Ulmar->close();
    if (Windows_.UlmarPar)
        Windows_.UlmarPar->close();
    if (Windows_.ReqAns)
        Windows_.ReqAns->close();
    if (Windows_.Progon)
        Windows_.Progon->close();
    if (Windows_.Line)
        Windows_.Line->close();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("FormGraph"))
            w->close();
    if (Windows_.TaraEditor)
        Windows_.TaraEditor->close();
    if (Windows_.Zero)
        Windows_.Zero->close();
    if (Windows_.Record)
        Windows_.Record->close();
}

// --- lookup ---

QAction* TFormMain::Action(const QString& name) const {
    return Actions_.value(name, nullptr);
}

bool TFormMain::ActionEnabled(const QAction* action) {
    if (!action)
        return false;
    const QVariant v = action->property(EnabledProperty);
    return v.isValid() ? v.toBool() : action->isEnabled();
}

void TFormMain::SetActionEnabled(QAction* action, bool enabled) {
    if (!action)
        return;
    action->setProperty(EnabledProperty, enabled);
    action->setEnabled(enabled);
}

QString TFormMain::Hint(const QAction* action) {
    return action ? action->statusTip() : QString();
}

QMenu* TFormMain::Menu(const QString& title) const {
    for (QMenu* menu : Menus_)
        if (menu->title() == title)
            return menu;
    return nullptr;
}

QStringList TFormMain::ToolBarLayout() const {
    return ToolBar_;
}

QAction* TFormMain::ParamAction(TParamId id, TParamVerb verb) const {
    const size_t index = verb == VerbChange ? 0 : verb == VerbRead ? 1 : verb == VerbWrite ? 2 : 3;
    if (index > 2 || id == TParamId::Count)
        return nullptr;
    return ParamActions_[static_cast<size_t>(id)][index];
}

QAction* TFormMain::RadioAction(TParamId id, int value) const {
    return Action(RadioActionName(ParamRow(id), value));
}

QAction* TFormMain::CommandAction(TCommandId id) const {
    return id == TCommandId::Count ? nullptr : CommandActions_[static_cast<size_t>(id)];
}
