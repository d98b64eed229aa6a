// The range dialog: its controls, filling from a range, the ready-made lengths and their reset
// by the operator's edits, "Неверный диапазон", and SelectRange's confirm and cancel.

#include "fRangeDT.h"
#include "tests/trends/TrendRig.h"
#include "uModal.h"
#include "uRangeDT.h"

#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimeEdit>

namespace {

TDateTime FakeNow = 0.0;
TDateTime Clock() {
    return FakeNow;
}

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QtToDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

} // namespace

class TestFormRangeDT : public QObject {
    Q_OBJECT

    QList<TSeenBox> Boxes;
    // Drives the range dialog when it opens; message boxes are recorded and answered OK.
    std::function<int(TFormRangeDT*)> Drive;

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        ModalHook = [this](QDialog* dialog) {
            if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
                Boxes.append({box->windowTitle(), box->text()});
                return int(QMessageBox::Ok);
            }
            if (auto* form = qobject_cast<TFormRangeDT*>(dialog))
                return Drive ? Drive(form) : int(QDialog::Rejected);
            return int(QDialog::Rejected);
        };
    }
    void cleanupTestCase() { ModalHook = nullptr; }
    void init() {
        FakeNow = At(2024, 3, 10, 14, 20, 0);
        Boxes.clear();
        Drive = nullptr;
    }

    void controls() {
        TFormRangeDT form(nullptr, &Clock);
        QCOMPARE(form.objectName(), QStringLiteral("FormRangeDT"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Временной диапазон"));
        QCOMPARE(form.GroupBoxStart->title(), QStringLiteral(" Начало периода "));
        QCOMPARE(form.GroupBoxStop->title(), QStringLiteral(" Конец периода "));
        QCOMPARE(form.GroupBoxReport->title(), QStringLiteral("Интервал"));
        QStringList items;
        for (int i = 0; i < form.cmbInterval->count(); ++i)
            items << form.cmbInterval->itemText(i);
        QCOMPARE(items, (QStringList{"Произвольный период", "Сутки", "Неделя", "Месяц", "Год"}));
        QCOMPARE(form.OKBtn->text(), QStringLiteral("OK"));
        QVERIFY(form.OKBtn->isDefault());
        QCOMPARE(form.CancelBtn->text(), QStringLiteral("Отменить"));
        QStringList labels;
        for (const QLabel* l : form.GroupBoxStart->findChildren<QLabel*>())
            labels << l->text();
        QCOMPARE(labels, (QStringList{"Дата:", "Время:"}));
    }

    void fillsFromRange() {
        TFormRangeDT form(nullptr, &Clock);
        form.SetRange(0.0, At(2024, 2, 1));
        QCOMPARE(form.dtpStartDate->date(), QDate(2024, 3, 9)); // no date: yesterday
        QCOMPARE(form.dtpStartTime->time(), QTime(14, 20, 0));  // nor time: now
        QCOMPARE(form.dtpStopDate->date(), QDate(2024, 2, 1));
        QCOMPARE(form.dtpStopTime->time(), QTime(0, 0, 0)); // midnight as given
        QCOMPARE(form.cmbInterval->currentIndex(), 0);
    }

    void intervalItems_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QDate>("startDate");
        QTest::newRow("Сутки") << 1 << QDate(2024, 3, 9);
        QTest::newRow("Неделя") << 2 << QDate(2024, 3, 3);
        QTest::newRow("Месяц") << 3 << QDate(2024, 2, 9);
        QTest::newRow("Год") << 4 << QDate(2023, 3, 11);
    }
    void intervalItems() {
        QFETCH(int, item);
        QFETCH(QDate, startDate);
        TFormRangeDT form(nullptr, &Clock);
        form.SetRange(At(2024, 1, 1, 8), At(2024, 3, 10, 14, 20, 0));
        form.cmbInterval->setCurrentIndex(item);
        QCOMPARE(form.dtpStartDate->date(), startDate);
        QCOMPARE(form.dtpStartTime->time(), QTime(14, 20, 0));
        QCOMPARE(form.cmbInterval->currentIndex(), item); // set by the list: kept
        form.dtpStartTime->setTime(QTime(14, 21, 0));     // the operator edits
        QCOMPARE(form.cmbInterval->currentIndex(), 0);
        form.cmbInterval->setCurrentIndex(0); // the free range changes nothing
        QCOMPARE(form.dtpStartTime->time(), QTime(14, 21, 0));
    }

    void eachPickerResetsList() {
        TFormRangeDT form(nullptr, &Clock);
        form.SetRange(At(2024, 3, 3, 14, 20), At(2024, 3, 10, 14, 20));
        const auto edits = QList<std::function<void()>>{
            [&] { form.dtpStartDate->setDate(QDate(2024, 3, 2)); },
            [&] { form.dtpStartTime->setTime(QTime(1, 2, 3)); },
            [&] { form.dtpStopDate->setDate(QDate(2024, 3, 11)); },
            [&] { form.dtpStopTime->setTime(QTime(4, 5, 6)); },
        };
        for (const auto& edit : edits) {
            form.cmbInterval->setCurrentIndex(1);
            edit();
            QCOMPARE(form.cmbInterval->currentIndex(), 0);
        }
    }

    void invertedRangeStaysOpen() {
        TFormRangeDT form(nullptr, &Clock);
        form.SetRange(At(2024, 3, 10, 14, 20, 1), At(2024, 3, 10, 14, 20, 0));
        QSignalSpy accepted(&form, &QDialog::accepted);
        form.OKBtn->click();
        QCOMPARE(accepted.count(), 0);
        QCOMPARE(Boxes.size(), 1);
        QCOMPARE(Boxes.at(0).Caption, QStringLiteral("Внимание"));
        QCOMPARE(Boxes.at(0).Text, QStringLiteral("Неверный диапазон"));
        form.dtpStartTime->setTime(QTime(14, 20, 0)); // equal ends are accepted
        form.OKBtn->click();
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(Boxes.size(), 1);
    }

    void selectRangeConfirmKeepsMidnight() {
        TDateTime start = At(2024, 3, 1, 9);
        TDateTime stop = At(2024, 3, 2, 9);
        Drive = [](TFormRangeDT* form) {
            form->dtpStartTime->setTime(QTime(0, 0, 0));
            form->dtpStopDate->setDate(QDate(2024, 3, 3));
            form->dtpStopTime->setTime(QTime(0, 0, 0));
            form->OKBtn->click();
            return form->result();
        };
        QCOMPARE(SelectRange(start, stop, &Clock), int(QDialog::Accepted));
        QCOMPARE(start, At(2024, 3, 1));
        QCOMPARE(stop, At(2024, 3, 3));
        // Stored by a window's range, midnight stays midnight.
        TRangeDT range(&Clock);
        range.SetStartStop(start, stop);
        QCOMPARE(range.GetStart(), At(2024, 3, 1));
        QCOMPARE(range.GetStop(), At(2024, 3, 3));
    }

    // The pickers show whole seconds and hold nothing more: a range with milliseconds (a live
    // range ends at the moment it was taken) is cut to the second it shows, and a time typed
    // over it is that time exactly, not that time plus the milliseconds it was shown with.
    void pickersHoldWholeSeconds() {
        FakeNow = At(2024, 3, 10, 14, 20, 0, 567);
        TFormRangeDT form(nullptr, &Clock);
        form.SetRange(At(2024, 3, 9, 14, 20, 0, 567), At(2024, 3, 10, 14, 20, 0, 567));
        for (const QTimeEdit* t : {form.dtpStartTime, form.dtpStopTime})
            QCOMPARE(t->time(), QTime(14, 20, 0));
        QCOMPARE(form.Start(), At(2024, 3, 9, 14, 20, 0));
        QCOMPARE(form.Stop(), At(2024, 3, 10, 14, 20, 0));
        TypeTime(form.dtpStartTime, QStringLiteral("00:00:00"));
        QCOMPARE(form.dtpStartTime->text(), QStringLiteral("00:00:00"));
        QCOMPARE(form.dtpStartTime->time(), QTime(0, 0, 0));
        QCOMPARE(form.Start(), At(2024, 3, 9));
        // A range without a date or time takes "now", cut to its second too.
        form.SetRange(0.0, 0.0);
        QCOMPARE(form.dtpStartTime->time(), QTime(14, 20, 0));
        QCOMPARE(form.Stop(), At(2024, 3, 10, 14, 20, 0));
        // Ready-made lengths copy the stop's whole second.
        form.cmbInterval->setCurrentIndex(TFormRangeDT::IntervalWeek);
        QCOMPARE(form.Start(), At(2024, 3, 3, 14, 20, 0));
    }

    // The whole path of item "a typed 00:00:00 is 00:00:00.567": a window's range with
    // milliseconds, midnight typed in the dialog, confirmed, stored by the window's range.
    void typedMidnightIsMidnight() {
        FakeNow = At(2024, 3, 10, 14, 20, 0, 567);
        TRangeDT live(&Clock); // the last 24 hours, to the millisecond
        TDateTime start = live.GetStart();
        TDateTime stop = live.GetStop();
        QCOMPARE(DateTimeToQt(stop).time().msec(), 567);
        Drive = [](TFormRangeDT* form) {
            TypeTime(form->dtpStartTime, QStringLiteral("00:00:00"));
            form->OKBtn->click();
            return form->result();
        };
        QCOMPARE(SelectRange(start, stop, &Clock), int(QDialog::Accepted));
        QCOMPARE(start, At(2024, 3, 9));
        QCOMPARE(stop, At(2024, 3, 10, 14, 20, 0));
        TRangeDT chosen(&Clock);
        chosen.SetStartStop(start, stop);
        QCOMPARE(DateTimeToQt(chosen.GetStart()), QDateTime(QDate(2024, 3, 9), QTime(0, 0)));
        QCOMPARE(DateTimeToQt(chosen.GetStop()), QDateTime(QDate(2024, 3, 10), QTime(14, 20)));
    }

    void selectRangeCancelKeepsValues() {
        TDateTime start = At(2024, 3, 1, 9);
        TDateTime stop = At(2024, 3, 2, 9);
        Drive = [](TFormRangeDT* form) {
            form->dtpStartDate->setDate(QDate(2020, 1, 1));
            form->CancelBtn->click();
            return form->result();
        };
        QCOMPARE(SelectRange(start, stop, &Clock), int(QDialog::Rejected));
        QCOMPARE(start, At(2024, 3, 1, 9));
        QCOMPARE(stop, At(2024, 3, 2, 9));
    }

    // The dialog that SelectRange opens fills a range without date or time from the clock it
    // was given.
    void selectRangeTakesItsClock() {
        TDateTime start = 0.0;
        TDateTime stop = 0.0;
        Drive = [](TFormRangeDT* form) {
            form->OKBtn->click();
            return form->result();
        };
        QCOMPARE(SelectRange(start, stop, &Clock), int(QDialog::Accepted));
        QCOMPARE(start, At(2024, 3, 9, 14, 20, 0));
        QCOMPARE(stop, At(2024, 3, 10, 14, 20, 0));
    }
};

QTEST_MAIN(TestFormRangeDT)
#include "tst_formrangedt.moc"
