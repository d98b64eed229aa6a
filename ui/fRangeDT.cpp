#include "fRangeDT.h"

#include "uModal.h"
#include "uRangeDT.h"
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

QDate DateOf(TDateTime value) {
    return QDate(1899, 12, 30).addDays(static_cast<qint64>(DatePart(value)));
}

// The time of day cut to its whole second: the pickers show seconds and hold nothing finer,
// so that a time typed over a shown one is exactly what was typed.
QTime TimeOf(TDateTime value) {
    const qint64 ms = std::llround(TimePart(value) * 86400000.0);
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::min<qint64>(ms / 1000, 86399)) *
                                           1000);
}

// A date as the day count of its midnight plus a time of day, in whole seconds.
TDateTime Join(const QDate& date, const QTime& time) {
    return DateToDateTime(date) + (time.msecsSinceStartOfDay() / 1000) / 86400.0;
}

QGroupBox* PickerGroup(const QString& caption, QDateEdit*& date, QTimeEdit*& time,
                       QWidget* parent) {
    auto* box = new QGroupBox(caption, parent);
    date = new QDateEdit(box);
    date->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
    date->setCalendarPopup(false);
    date->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    time = new QTimeEdit(box);
    time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    time->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    auto* grid = new QGridLayout(box);
    grid->addWidget(new QLabel(QStringLiteral("Дата:"), box), 0, 0);
    grid->addWidget(date, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Время:"), box), 1, 0);
    grid->addWidget(time, 1, 1);
    return box;
}

} // namespace

int TFormRangeDT::IntervalDays(int index) {
    switch (index) {
    case IntervalDay:
        return 1;
    case IntervalWeek:
        return 7;
    case IntervalMonth:
        return 30;
    case IntervalYear:
        return 365;
    default:
        return 0;
    }
}

TFormRangeDT::TFormRangeDT(QWidget* parent, TRangeClock clock) : QDialog(parent), Clock_(clock) {
    setObjectName(QStringLiteral("FormRangeDT"));
    setWindowTitle(QStringLiteral("Временной диапазон"));
    GroupBoxStart =
        PickerGroup(QStringLiteral(" Начало периода "), dtpStartDate, dtpStartTime, this);
    GroupBoxStop = PickerGroup(QStringLiteral(" Конец периода "), dtpStopDate, dtpStopTime, this);
    GroupBoxReport = new QGroupBox(QStringLiteral("Интервал"), this);
    cmbInterval = new QComboBox(GroupBoxReport);
    cmbInterval->addItems({QStringLiteral("Произвольный период"), QStringLiteral("Сутки"),
                           QStringLiteral("Неделя"), QStringLiteral("Месяц"),
                           QStringLiteral("Год")});
    (new QVBoxLayout(GroupBoxReport))->addWidget(cmbInterval);
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Отменить"), this);

    GroupBoxStart->setObjectName(QStringLiteral("GroupBoxStart"));
    GroupBoxStop->setObjectName(QStringLiteral("GroupBoxStop"));
    GroupBoxReport->setObjectName(QStringLiteral("GroupBoxReport"));
    dtpStartDate->setObjectName(QStringLiteral("dtpStartDate"));
    dtpStartTime->setObjectName(QStringLiteral("dtpStartTime"));
    dtpStopDate->setObjectName(QStringLiteral("dtpStopDate"));
    dtpStopTime->setObjectName(QStringLiteral("dtpStopTime"));
    cmbInterval->setObjectName(QStringLiteral("cmbInterval"));
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    auto* layout = new QVBoxLayout(this);
    auto* pickers = new QHBoxLayout;
    pickers->addWidget(GroupBoxStart);
    pickers->addWidget(GroupBoxStop);
    layout->addLayout(pickers);
    layout->addWidget(GroupBoxReport);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (QDateEdit* d : {dtpStartDate, dtpStopDate})
        connect(d, &QDateEdit::dateChanged, this, [this] { PickerChanged(); });
    for (QTimeEdit* t : {dtpStartTime, dtpStopTime})
        connect(t, &QTimeEdit::timeChanged, this, [this] { PickerChanged(); });
    connect(cmbInterval, &QComboBox::currentIndexChanged, this,
            [this](int index) { IntervalChanged(index); });
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormRangeDT::SetRange(TDateTime start, TDateTime stop) {
    // The range's own rules fill in what is missing; a given time stays as it is.
    TRangeDT range(Clock_);
    range.SetStartStop(start, stop);
    SettingPickers_ = true;
    dtpStartDate->setDate(DateOf(range.GetStart()));
    dtpStartTime->setTime(TimeOf(range.GetStart()));
    dtpStopDate->setDate(DateOf(range.GetStop()));
    dtpStopTime->setTime(TimeOf(range.GetStop()));
    cmbInterval->setCurrentIndex(IntervalFree);
    SettingPickers_ = false;
}

TDateTime TFormRangeDT::Start() const {
    return Join(dtpStartDate->date(), dtpStartTime->time());
}

TDateTime TFormRangeDT::Stop() const {
    return Join(dtpStopDate->date(), dtpStopTime->time());
}

void TFormRangeDT::PickerChanged() {
    if (SettingPickers_)
        return;
    SettingPickers_ = true;
    cmbInterval->setCurrentIndex(IntervalFree);
    SettingPickers_ = false;
}

void TFormRangeDT::IntervalChanged(int index) {
    const int days = IntervalDays(index);
    if (days == 0 || SettingPickers_)
        return;
    SettingPickers_ = true;
    dtpStartDate->setDate(dtpStopDate->date().addDays(-days));
    dtpStartTime->setTime(dtpStopTime->time());
    SettingPickers_ = false;
}

void TFormRangeDT::OKBtnClick() {
    const QDate startDate = dtpStartDate->date();
    const QDate stopDate = dtpStopDate->date();
    if (!startDate.isValid() || !stopDate.isValid() || !dtpStartTime->time().isValid() ||
        !dtpStopTime->time().isValid())
        return;
    if (Start() > Stop()) {
        ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                       QStringLiteral("Неверный диапазон"), QMessageBox::Ok, QMessageBox::Ok, this);
        return;
    }
    accept();
}

int SelectRange(TDateTime& start, TDateTime& stop, TRangeClock clock) {
    TFormRangeDT dialog(nullptr, clock);
    dialog.SetRange(start, stop);
    const int result = ExecModal(&dialog);
    if (result == QDialog::Accepted) {
        start = dialog.Start();
        stop = dialog.Stop();
    }
    return result;
}
