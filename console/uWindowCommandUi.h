#pragma once
// The command layer's face in the main window: progress window, message boxes with the caption
// "Внимание", the signature's information box, the refresh of every window, and the console
// flags AppClosing and AllParamWriting. User-interface thread.

#include "commands/uGaugeCommands.h"

#include <QPointer>
#include <QWidget>

class TWindowCommandUi : public ICommandUi {
public:
    // Message boxes are parented to `parent` (the main window, or a dialog of it).
    explicit TWindowCommandUi(QWidget* parent) : Parent_(parent) {}

    void Progress(const QString& text, int position, int total) override;
    void ProgressDone() override;
    void Warn(const QString& text) override;
    bool Ask(const QString& text) override;
    void Inform(const QString& caption, const QString& text) override;
    void Refresh() override;
    bool Closing() const override;
    bool CommitDeferred() const override;
    void SetCommitDeferred(bool deferred) override;

private:
    QPointer<QWidget> Parent_;
};
