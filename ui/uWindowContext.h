#pragma once
// What the main window shares with the windows it opens, in place of program-wide variables:
// the device link, the refresh that every open window follows, the actions that the windows'
// links run, and the console's modes. One object, owned by the main window (or by a test that
// opens a window on its own), handed to each window when it is made. User-interface thread only.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QAction;
class TDeviceLink;
class TUlmar;

class TWindowContext : public QObject {
    Q_OBJECT
public:
    // A null link: the windows edit the device object directly.
    explicit TWindowContext(TDeviceLink* link = nullptr, QObject* parent = nullptr);

    TDeviceLink* Link() const { return Link_; }
    // Changes the device object between two exchanges of a running poll cycle (under the
    // link's exchange lock) when it is the link's, otherwise directly.
    void EditDevice(TUlmar& ulmar, const std::function<void(TUlmar&)>& edit) const;

    // The action that a window's link runs, looked up once, when the link is built; null when
    // there is none (the link then runs nothing).
    using TActionLookup = std::function<QAction*(const QString& name)>;
    void SetActionLookup(TActionLookup lookup) { Lookup_ = std::move(lookup); }
    QAction* Action(const QString& name) const;

    // Asks the owner to refresh every open window (RefreshRequested, answered by the main
    // window's ControlRefresh); false when no owner listens, so the caller refreshes itself.
    bool RequestRefresh();
    // The owner's refresh: every open window connected to Refreshed shows the device object.
    void Refresh() { emit Refreshed(); }

    // The console's modes: the factory menus and rows are shown; the current meter (КАЛИСТ)
    // is polled with the gauge. Set from the command line at start; factory mode toggles with
    // Ctrl+F.
    bool FactoryMode = false;
    bool KalistMode = false;
    // Set once, when the operator confirms exit; the long command sequences stop at their
    // next check.
    bool Closing = false;
    // True while the write-all sequence (or the run test's group of writes) runs: the commit to
    // the gauge's ROM then waits for the end of the sequence.
    bool AllParamWriting = false;

signals:
    void RefreshRequested();
    void Refreshed();

private:
    TDeviceLink* Link_;
    TActionLookup Lookup_;
};
