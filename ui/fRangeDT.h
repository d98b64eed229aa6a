#pragma once
// The range dialog "Временной диапазон": a date and a time for the start and for the stop, and
// ready-made lengths that end at the stop. User-interface thread.

#include "uRangeDT.h"
#include "uTimeOut.h"
#include <QDialog>

class QComboBox;
class QDateEdit;
class QGroupBox;
class QPushButton;
class QTimeEdit;

class TFormRangeDT : public QDialog {
    Q_OBJECT
public:
    // Items of cmbInterval.
    enum { IntervalFree = 0, IntervalDay, IntervalWeek, IntervalMonth, IntervalYear };
    // Length of an item in days; 0 for the free range.
    static int IntervalDays(int index);

    // `clock` tells what "now" is when a value lacks its date or time (a null clock is the
    // system's).
    explicit TFormRangeDT(QWidget* parent = nullptr, TRangeClock clock = nullptr);

    // Fills the pickers: a value without a date gets yesterday (start) or today (stop); a value
    // that carries a date keeps its time, midnight included; a value of 0 gets the current time
    // of day. Times are cut to the whole second (the pickers show no milliseconds, so they hold
    // none: Start and Stop are whole seconds). The list goes back to "Произвольный период".
    void SetRange(TDateTime start, TDateTime stop);
    TDateTime Start() const;
    TDateTime Stop() const;

    QGroupBox* GroupBoxStart;
    QGroupBox* GroupBoxStop;
    QGroupBox* GroupBoxReport;
    QDateEdit* dtpStartDate;
    QTimeEdit* dtpStartTime;
    QDateEdit* dtpStopDate;
    QTimeEdit* dtpStopTime;
    QComboBox* cmbInterval;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;

private:
    void PickerChanged();
    void IntervalChanged(int index);
    void OKBtnClick();

    TRangeClock Clock_ = nullptr;
    bool SettingPickers_ = false; // the pickers are set by the window, not by the operator
};

// Runs the dialog modally with the given range; on "OK" the chosen range is written back,
// otherwise both stay. Returns the dialog's result (QDialog::Accepted or Rejected). `clock` as
// for TFormRangeDT.
int SelectRange(TDateTime& start, TDateTime& stop, TRangeClock clock = nullptr);
