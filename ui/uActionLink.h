#pragma once
// Links from the tool windows to the main window's actions, the polling state as the tool windows
// read it, and the Esc key of the tool windows. User-interface thread only.

#include <QLabel>
#include <QPointer>
#include <QString>

class QAction;
class QWidget;

// The top-level window named "FormMain", or null.
QWidget* FindMainWindow();
// The main window's action with that object name, or null (also searched in the other
// top-level windows when no main window exists).
QAction* FindMainAction(const QString& name);

class TDeviceLink;
// True while polling is stopped: the link's poller's state; without a device link, the enabled
// state of the main window's "actOprosStart"; without either, stopped.
bool PollingStopped(const TDeviceLink* link);

// Closes the window when Esc is pressed in any of its controls (the window sees the key first).
void InstallEscClose(QWidget* window);

// A label that runs an action (the main window's) when clicked with the left button; a disabled
// or deleted action does nothing.
class TActionLabel : public QLabel {
    Q_OBJECT
public:
    enum class TStyle { Plain, Link, Black };
    // Link: blue and underlined; Black: black, not underlined. Both show a hand cursor and are
    // right-aligned. A null action makes the label run nothing.
    TActionLabel(QAction* action, TStyle style, QWidget* parent = nullptr);
    QAction* Action() const { return Action_; }

signals:
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPointer<QAction> Action_;
    bool Pressed_ = false;
};
