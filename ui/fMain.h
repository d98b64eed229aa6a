#pragma once
// Main window "УЛМАР": the menus and tool bar that carry every operator command, polling
// control, the refresh of every open window, factory mode and the shut-down question.
// The gauge's parameter actions are made from the parameter table and its other commands from
// the command table; what they send runs in the command layer (TGaugeCommands).
// User-interface thread.

#include "uCommandTable.h"
#include "uParamStr.h"
#include "uParamTable.h"
#include "uPollControl.h"
#include "uWindowContext.h"
#include "uWindowSlot.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class TDeviceLink;
class TFormLine;
class TFormProgon;
class TFormRecord;
class TFormReqAns;
class TFormScan;
class TFormSelectCMD;
class TFormTaraEditor;
class TFormUlmar;
class TFormUlmarPar;
class TFormZero;
class TGaugeCommands;
class TPoller;
class TUlmar;
class TWindowCommandUi;

// The main window's tool windows, one of each at most; a slot is empty once its window closed.
struct TToolWindows {
    TWindowSlot<TFormUlmar> Ulmar;
    TWindowSlot<TFormUlmarPar> UlmarPar;
    TWindowSlot<TFormReqAns> ReqAns;
    TWindowSlot<TFormSelectCMD> SelectCMD;
    TWindowSlot<TFormZero> Zero;
    TWindowSlot<TFormProgon> Progon;
    TWindowSlot<TFormTaraEditor> TaraEditor;
    TWindowSlot<TFormLine> Line;
    TWindowSlot<TFormRecord> Record;
    QPointer<TFormScan> Scan;
};

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // Builds the actions, menus and tool bar and runs the start-up: window position, hex
    // display, factory mode, the key hook, the poller's signals, polling stopped, the four
    // tool windows (laid out beside the main window where no position is saved), the initial
    // poll selection, value ranges and a first refresh. Every action name that a menu, the
    // tool bar or the window's own code uses is resolved here: a missing one ends the program.
    // A null link leaves every command without an answer. The factory and КАЛИСТ modes start
    // as the command line set them.
    explicit TFormMain(TDeviceLink* link, const TCommandLineModes& modes = {},
                       QWidget* parent = nullptr);
    ~TFormMain() override;

    // Refreshes every open tool window (the context's Refreshed), then the radio groups of the
    // mode parameters and the archive's state in the status bar.
    Q_INVOKABLE void ControlRefresh();
    // Runs the command up to `attempts` times behind the progress window ("Повтор команды " +
    // text); true at the first answer.
    Q_INVOKABLE bool RepeatCommand(int code, const QString& text, int attempts);
    // Enables the commands that need polling stopped exactly while the poller is stopped.
    void OprosStateRefresh();
    // Shows the factory menus and commands exactly while factory mode is on.
    void FactoryModeRefresh();

    // The action with that object name, or null.
    QAction* Action(const QString& name) const;
    // Typed handles: a parameter's Change, Read or Write action (null where it has none), its
    // radio item for a value, and a gauge command's action.
    QAction* ParamAction(TParamId id, TParamVerb verb) const;
    QAction* RadioAction(TParamId id, int value) const;
    QAction* CommandAction(TCommandId id) const;
    // The enabled state as set (a hidden action still reports its own state here).
    static bool ActionEnabled(const QAction* action);
    // Sets the enabled state that ActionEnabled reports.
    static void SetActionEnabled(QAction* action, bool enabled);
    // The hint of an action: its status text.
    static QString Hint(const QAction* action);
    // The menu (top level or submenu) with that title, or null.
    QMenu* Menu(const QString& title) const;
    const QList<QMenu*>& Menus() const { return Menus_; }
    // The names of the actions on the tool bar, "|" for a separator.
    QStringList ToolBarLayout() const;

    TDeviceLink* Link() const { return Link_; }
    // What the tool windows share with this window: the refresh they follow, the actions their
    // links run and the console's modes (factory, КАЛИСТ, closing, writing all).
    TWindowContext& Context() { return Context_; }
    const TWindowContext& Context() const { return Context_; }
    // The open tool windows.
    const TToolWindows& Windows() const { return Windows_; }
    TToolWindows& Windows() { return Windows_; }
    TUlmar* Ulmar() const;
    // The link's poller, or null without a link.
    TPoller* Poller() const;
    // The command layer behind the gauge actions.
    TGaugeCommands& Commands() const { return *Commands_; }
    // Polling as the service tools stop and restart it: the link's poller, whose state the start
    // and stop actions and the edit commands follow.
    IPollControl& PollControl() { return PollControl_; }
    // Closes the program as its close command does (window positions and the parameter file
    // saved, the tool windows closed), without the question: a stop signal's close.
    void CloseUnasked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Building.
    void CreateActions();
    QAction* NewAction(const QString& name, const QString& caption, const QString& hint);
    // The action of a name the window's own code or layout uses; ends the program when there
    // is none, so that a misspelt name fails at start-up.
    QAction* Require(const QString& name) const;
    void CreateMenus();
    QMenu* AddMenu(QMenu* parent, const QString& title, const QString& hint,
                   const QStringList& items);
    void CreateToolBar();
    void CreateRadioGroups();
    void BindHandlers();
    void BindParameterCommands();
    void BindBulkCommands();
    // The service tools' windows (tare table editor, zero array, run test, bus scan, about).
    void BindServiceTools();
    void StartUp();

    // Polling and settings.
    // The poller's runningChanged: the start and stop actions, the edit commands, and on a stop
    // the refresh of every window.
    void PollingStateChanged(bool running);
    void TimerParametersChange();
    void TransmitterChange();
    void SetRadix(int radix);
    void RadioGroupsRefresh();
    // The status bar's "Архив не записывается: ..." while the archive writer fails.
    void ArchiveStatusRefresh();
    // The status bar says which port is used while no settings name one.
    void PortNoteRefresh();
    void ShowToolWindows();
    void CloseToolWindows();
    void ToggleFactoryMode();

    // Changes the device object between two exchanges of a running poll cycle (under the link's
    // exchange lock), so the request thread never reads a field while it changes.
    void EditDevice(const std::function<void(TUlmar&)>& edit);

    // Commands that need a dialog or a window of their own around the command layer.
    void ChangeParam(const TParamRow& row);
    void SystemAddressWrite();
    void PlantNumberWrite();
    void AllParamWrite();
    void ZeroRead();
    void BootLoader();
    void CompareWithFile();

    TDeviceLink* Link_;
    TWindowContext Context_;
    TToolWindows Windows_;
    std::unique_ptr<TWindowCommandUi> Ui_;
    std::unique_ptr<TGaugeCommands> Commands_;
    QHash<QString, QAction*> Actions_;
    std::array<std::array<QAction*, 3>, static_cast<size_t>(TParamId::Count)> ParamActions_{};
    std::array<QAction*, static_cast<size_t>(TCommandId::Count)> CommandActions_{};
    QList<QMenu*> Menus_;
    // The menus whose commands follow the polling state (enabled only while it is stopped),
    // and those shown only in factory mode; kept when made.
    QList<QMenu*> PollingMenus_;
    QList<QMenu*> FactoryMenus_;
    QStringList ToolBar_;
    QList<QActionGroup*> RadioGroups_;
    // The window's own actions that its code triggers or switches.
    QAction* actOprosStart_ = nullptr;
    QAction* actOprosStop_ = nullptr;
    QAction* act10_ = nullptr;
    QAction* act16_ = nullptr;
    QAction* actClose_ = nullptr;
    QLabel* lblArchiveStatus_ = nullptr; // in the status bar, object name "lblArchiveStatus"
    QLabel* lblPortNote_ = nullptr;      // in the status bar, object name "lblPortNote"
    bool Closed_ = false;
    bool Unasked_ = false; // the next close asks nothing
    TTimerPollControl PollControl_{Link_};
};
