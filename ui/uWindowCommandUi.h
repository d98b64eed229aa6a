#pragma once
// The command layer's face in the main window: progress window, message boxes with the caption
// "Внимание", the signature's information box, the refresh of every window, and the console's
// closing and writing-all flags (kept in the main window's context). User-interface thread.

#include "uGaugeCommands.h"
#include "uWindowContext.h"

#include <QPointer>
#include <QWidget>

class TWindowCommandUi : public ICommandUi {
public:
    // Message boxes are parented to `parent` (the main window, or a dialog of it); the refresh
    // and the flags are the context's (which must outlive this object).
    TWindowCommandUi(QWidget* parent, TWindowContext& context)
        : Parent_(parent), Context_(context) {}

    void Progress(const QString& text, int position, int total) override;
    void ProgressDone() override;
    void Warn(const QString& text) override;
    bool Ask(const QString& text) override;
    void Inform(const QString& caption, const QString& text) override;
    void Refresh() override;
    bool Closing() const override;
    bool CommitDeferred() const override;
    void SetCommitDeferred(bool deferred) override;
    // The window stays drawn and the link's answers keep being taken meanwhile; the user's
    // input waits until the pause is over.
    void Wait(int ms) override;

private:
    QPointer<QWidget> Parent_;
    TWindowContext& Context_;
};
