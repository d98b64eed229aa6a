#pragma once
// The progress window shown while a command is retried, the zero array is read or the archive
// is loaded: a percentage in its caption and a bar. At most one exists. User-interface thread.

#include <QDialog>
#include <functional>

class QProgressBar;
class QPushButton;

class TFormProgress : public QDialog {
    Q_OBJECT
public:
    TFormProgress(const QString& text, int total);

    // Nothing for p < 0 or a total of 0; otherwise the percent round(p * 100 / total), ties to
    // even; a changed percent moves the bar, sets the caption and processes pending events.
    void SetPosition(int position);
    int Percent() const;
    const QString& Text() const { return Text_; }
    int Total() const { return Total_; }

    // Shows "Отменить" under the bar: a click, or Esc, runs onCancel (once; the button is then
    // disabled). Without it, the window offers no cancel.
    void OfferCancel(std::function<void()> onCancel);

    QProgressBar* pbProgress;
    QPushButton* CancelBtn = nullptr; // created by OfferCancel

protected:
    void reject() override;

private:
    void CancelClicked();

    QString Text_;
    int Total_;
    std::function<void()> OnCancel_;
};

// Creates the window with text and total when none exists (an existing one keeps its first
// text and total), sets the position, shows it and brings it forward.
void ProgressShow(const QString& text, int position, int total);
// Offers "Отменить" in the progress window, if one exists (TFormProgress::OfferCancel).
void ProgressOfferCancel(std::function<void()> onCancel);
// Destroys the progress window, if one exists.
void ProgressClose();
// The progress window while it exists, otherwise null.
TFormProgress* ProgressWindow();

// Called after every move of the bar with the new caption and percent; skipped when unassigned.
extern std::function<void(const QString& caption, int percent)> OnProgressMove;
