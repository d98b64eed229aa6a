#pragma once
// Links from the tool windows to the main window, and the Esc key of the tool windows: its actions
// are found at run time by object name (the main window's object name is "FormMain"), so this layer
// needs no link to the console. User-interface thread only.

#include <QLabel>
#include <QString>
#include <functional>

class QAction;
class QWidget;

// The top-level window named "FormMain", or null.
QWidget* FindMainWindow();
// The main window's action with that object name, or null (also searched in the other
// top-level windows when no main window exists).
QAction* FindMainAction(const QString& name);
// Triggers the named action; a disabled or missing action does nothing. True when triggered.
bool ExecuteMainAction(const QString& name);

// Set by the main window to its ControlRefresh (refresh of every open window).
extern std::function<void()> ControlRefreshHook;
// Runs ControlRefreshHook, or the main window's invokable "ControlRefresh"; false when neither
// exists.
bool RunControlRefresh();

// True while polling is stopped: the program's poller's state; without a device link, the enabled
// state of the main window's "actOprosStart"; without either, stopped.
bool PollingStopped();

// Closes the window when Esc is pressed in any of its controls (the window sees the key first).
void InstallEscClose(QWidget* window);

// A label that runs a main-window action when clicked with the left button.
class TActionLabel : public QLabel {
    Q_OBJECT
public:
    enum class TStyle { Plain, Link, Black };
    // Link: blue and underlined; Black: black, not underlined. Both show a hand cursor and are
    // right-aligned. An empty action name makes the label run nothing.
    TActionLabel(const QString& actionName, TStyle style, QWidget* parent = nullptr);
    const QString& ActionName() const { return ActionName_; }

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString ActionName_;
    bool Pressed_ = false;
};
