#pragma once
// Modal dialogs that ask the operator for one number: an integer in a spin box, or a
// floating-point number in a TEditNum. User-interface thread.

#include <QDialog>

class QLabel;
class QPushButton;
class QSpinBox;
class TEditNum;

// Frame shared by both dialogs: prompt at the left, entry box on the same line, OK and Cancel
// at the bottom right; the width follows the prompt and box widths.
class TFormInputBase : public QDialog {
    Q_OBJECT
public:
    TFormInputBase(const QString& caption, const QString& prompt, QWidget* box);

    QLabel* lblCaption;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

protected:
    // Clicked OK, or Enter in the box: the dialog decides whether to close as accepted.
    virtual void OKBtnClick() = 0;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Arrange();
    QWidget* Box_;
};

class TFormInputInteger : public TFormInputBase {
    Q_OBJECT
public:
    TFormInputInteger(const QString& caption, const QString& prompt, int value, int min, int max);

    QSpinBox* seValue;
    // The value remembered by OK.
    int Result() const { return Result_; }

protected:
    void OKBtnClick() override;

private:
    int Min_;
    int Max_;
    int Result_;
};

class TFormInputDouble : public TFormInputBase {
    Q_OBJECT
public:
    TFormInputDouble(const QString& caption, const QString& prompt, int digits, double value,
                     double min, double max);

    TEditNum* enValue;

protected:
    void OKBtnClick() override;
};

// The accepted value clamped to [min, max], or `value` when cancelled or when a replaced
// ModalHook fails (reported on the program's log).
int InputInteger(const QString& caption, const QString& prompt, int value, int min, int max);
// As InputInteger; `accepted` tells whether OK closed the dialog.
int InputIntegerConfirm(const QString& caption, const QString& prompt, int value, int min, int max,
                        bool& accepted);
// The accepted number brought into [min, max] (OK and Enter alike), or `value` when cancelled
// (a failed ModalHook as well).
double InputDouble(const QString& caption, const QString& prompt, int digits, double value,
                   double min, double max);
