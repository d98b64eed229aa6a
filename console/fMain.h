#pragma once
// Main window "УЛМАР": the menus and tool bar that carry every operator command, polling
// control, the refresh of every open window, factory mode and the shut-down question.
// User-interface thread.

#include <QHash>
#include <QMainWindow>
#include <QStringList>
#include <functional>

class QAction;
class QActionGroup;
class QMenu;
class TDeviceLink;
class TUlmar;

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // Builds the actions, menus and tool bar and runs the start-up: window position, hex
    // display, factory mode, the key hook, the pacing timer's tick, polling stopped, the four
    // tool windows (laid out beside the main window where no position is saved), the initial
    // poll selection, value ranges and a first refresh.
    // A null link leaves every command without an answer.
    explicit TFormMain(TDeviceLink* link, QWidget* parent = nullptr);
    ~TFormMain() override;

    // Refreshes every open tool window, then the radio groups of the mode parameters.
    Q_INVOKABLE void ControlRefresh();
    // Runs the command up to `attempts` times behind the progress window ("Повтор команды " +
    // text); true at the first answer.
    Q_INVOKABLE bool RepeatCommand(int code, const QString& text, int attempts);
    // Enables the commands that need polling stopped exactly while it is stopped.
    void OprosStateRefresh();
    // Shows the factory menus and commands exactly while FactoryMode is on.
    void FactoryModeRefresh();
    // One tick of the pacing timer: pause it, start one request cycle, refresh, resume it.
    void OprosTimerTick();

    // The action with that object name, or null.
    QAction* Action(const QString& name) const;
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
    TUlmar* Ulmar() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Building.
    void CreateActions();
    QAction* NewAction(const QString& name, const QString& caption, const QString& hint);
    void CreateMenus();
    QMenu* AddMenu(QMenu* parent, const QString& title, const QString& hint,
                   const QStringList& items);
    void CreateToolBar();
    void CreateRadioGroups();
    void BindHandlers();
    void BindParameterCommands();
    void BindBulkCommands();
    void StartUp();

    // Polling and settings.
    void OprosStart();
    void OprosStop();
    void TimerParametersChange();
    void TransmitterChange();
    void SetRadix(int radix);
    void RadioGroupsRefresh();
    void ShowToolWindows();
    void CloseToolWindows();
    void ToggleFactoryMode();

    // Changes the device object between two exchanges of a running poll cycle (under the link's
    // exchange lock), so the request thread never reads a field while it changes.
    void EditDevice(const std::function<void(TUlmar&)>& edit);

    // Commands of the parameter families.
    void ReportFailure(const QString& hint);
    void RunRead(const QString& name, int code, bool updateRanges);
    void RunWrite(int code, const QString& hint, bool commitAfterFailure);
    void RunOnce(int code);
    void SystemAddressWrite();
    void PlantNumberWrite();

    // Bulk commands.
    void AllParamRead();
    void AllParamWrite();
    void WriteToPZU();
    void SignatureRead();
    void ZeroRead();
    bool RepeatZeroBlockRead(int attempts);
    void BootLoader();
    // Executes the named action (nothing when it is disabled); false when AppClosing is set
    // afterwards.
    bool Step(const QString& name);
    void Execute(const QString& name);

    TDeviceLink* Link_;
    QHash<QString, QAction*> Actions_;
    QList<QMenu*> Menus_;
    QStringList ToolBar_;
    QList<QActionGroup*> RadioGroups_;
    bool SignatureHandlerAttached_ = false;
    bool Closed_ = false;
};

// The main window while it exists, otherwise null.
extern TFormMain* FormMain;
