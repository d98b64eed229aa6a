// Numeric edit box, the integer and number input dialogs and the progress window.

#include "EditNum.h"
#include "fInput.h"
#include "fProgress.h"
#include "tests/support/TestDirs.h"
#include "uModal.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <clocale>

namespace {

QColor TextColour(const QLineEdit* box) {
    return box->palette().color(QPalette::Text);
}
QColor BaseColour(const QLineEdit* box) {
    return box->palette().color(QPalette::Base);
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void cleanup() {
        ModalHook = nullptr;
        OnProgressMove = nullptr;
        ProgressClose();
    }

    void floatFormats_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("text");
        const int g = int(TFloatFormat::ffGeneral), e = int(TFloatFormat::ffExponent),
                  f = int(TFloatFormat::ffFixed);
        QTest::newRow("general zero") << 0.0 << g << 15 << 4 << "0";
        QTest::newRow("general integer") << 150.0 << g << 15 << 4 << "150";
        QTest::newRow("general fraction") << 3.14159 << g << 15 << 4 << "3,14159";
        QTest::newRow("general negative") << -0.25 << g << 15 << 4 << "-0,25";
        QTest::newRow("general small") << 0.000012 << g << 15 << 4 << "0,000012";
        QTest::newRow("general tiny") << 0.0000012 << g << 15 << 0 << "1,2E-6";
        QTest::newRow("general precision") << 2.0 / 3.0 << g << 4 << 0 << "0,6667";
        QTest::newRow("general too long") << 123456.0 << g << 4 << 2 << "1,235E05";
        QTest::newRow("exponent") << 1234.6 << e << 4 << 2 << "1,235E+03";
        QTest::newRow("fixed") << 3.14159 << f << 15 << 2 << "3,14";
        QTest::newRow("fixed rounds") << 2.0 / 3.0 << f << 15 << 2 << "0,67";
        QTest::newRow("fixed negative zero") << -0.001 << f << 15 << 2 << "0,00";
        QTest::newRow("fixed nine digits") << 1500.0 << f << 9 << 0 << "1500";
    }
    void floatFormats() {
        QFETCH(double, value);
        QFETCH(int, format);
        QFETCH(int, precision);
        QFETCH(int, digits);
        QFETCH(QString, text);
        QCOMPARE(FloatToStrF(value, TFloatFormat(format), precision, digits), text);
    }

    void editNumOutOfRangeCommitsToBound() {
        TEditNum box;
        int finished = 0;
        box.OnFinishEdit = [&](TEditNum*) { ++finished; };
        box.show();
        box.setFocus();
        box.selectAll();
        QTest::keyClicks(&box, "150");
        QVERIFY(box.isModified());
        QCOMPARE(TextColour(&box), QColor(255, 0, 0));
        QVERIFY(box.font().bold());
        QTest::keyClick(&box, Qt::Key_Return);
        QCOMPARE(box.text(), QStringLiteral("100"));
        QCOMPARE(box.Value(), 100.0);
        QVERIFY(!box.font().bold());
        QCOMPARE(TextColour(&box), QColor(0, 0, 0));
        QCOMPARE(finished, 1);
    }

    void editNumFilter_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("result");
        QTest::newRow("second separator") << "1,5" << 3 << ","
                                          << "1,5";
        QTest::newRow("letter") << "12" << 2 << "a"
                                << "12";
        QTest::newRow("minus inside") << "12" << 1 << "-"
                                      << "12";
        QTest::newRow("minus at start") << "12" << 0 << "-"
                                        << "-12";
        QTest::newRow("minus over all selected") << "12" << -1 << "-5"
                                                 << "-5";
        QTest::newRow("point is not the separator") << "12" << 2 << "."
                                                    << "12";
        QTest::newRow("digit") << "12" << 2 << "7"
                               << "127";
        QTest::newRow("first separator") << "12" << 2 << ","
                                         << "12,";
    }
    void editNumFilter() {
        QFETCH(QString, start);
        QFETCH(int, caret);
        QFETCH(QString, typed);
        QFETCH(QString, result);
        TEditNum box;
        box.setText(start);
        if (caret < 0)
            box.selectAll(); // the caret stands after the text, the selection starts at 0
        else
            box.setCursorPosition(caret);
        QTest::keyClicks(&box, typed);
        QCOMPARE(box.text(), result);
    }

    // On a Russian desktop the C library prints "%e" with a decimal comma; what the boxes
    // show and read must not change with it.
    void numbersUnderRussianCLibrary_data() {
        QTest::addColumn<int>("decimals");
        QTest::addColumn<double>("initial");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<double>("result");
        QTest::newRow("dist.2") << 0 << 15000.0 << "12000"
                                << "15000" << 12000.0;
        QTest::newRow("dist.1") << 0 << 1000.0 << "1500"
                                << "1000" << 1500.0;
        QTest::newRow("fraction") << 1 << 1000.0 << "1500,5"
                                  << "1000,0" << 1500.5;
        QTest::newRow("scan to") << 0 << 254.0 << "254"
                                 << "254" << 254.0;
        QTest::newRow("tape") << 0 << 1.0 << "8000"
                              << "1" << 8000.0;
    }
    void numbersUnderRussianCLibrary() {
        QFETCH(int, decimals);
        QFETCH(double, initial);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(double, result);
        const QByteArray saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"))
            QSKIP("the locale ru_RU.UTF-8 is not installed (test.sh makes it)");
        QString initialText;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputDouble*>(d);
            initialText = dialog->enValue->text();
            dialog->enValue->selectAll();
            QTest::keyClicks(dialog->enValue, typed);
            QTest::keyClick(dialog->enValue, Qt::Key_Return);
            return dialog->result();
        };
        const double got = InputDouble("Введите", "p", decimals, initial, 0, 60000);
        TEditNum box;
        box.SetCheckRange(false);
        box.SetValue(result);
        const QString boxText = box.text();
        const double boxValue = box.Value();
        std::setlocale(LC_NUMERIC, saved.constData());
        QCOMPARE(initialText, shown);
        QCOMPARE(got, result);
        QCOMPARE(boxValue, result);
        QCOMPARE(boxText, typed);
    }

    // Select all, copy and paste work as in any edit box; a paste that would not leave a plain
    // number is refused, and a copied number keeps its value whatever its separators.
    void editNumEditingKeys() {
        TEditNum box;
        box.SetCheckRange(false);
        box.SetValue(1500.5);
        box.setCursorPosition(0);
        QTest::keyClick(&box, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(box.selectedText(), QStringLiteral("1500,5"));
        QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1500,5"));
        QGuiApplication::clipboard()->setText(QStringLiteral("12 000.25"));
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), QStringLiteral("12000,25"));
        QGuiApplication::clipboard()->setText(QStringLiteral("abc"));
        box.selectAll();
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), QStringLiteral("12000,25"));
        QTest::keyClick(&box, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(box.text(), QStringLiteral("1500,5"));
    }

    void editNumReadsPlainNumbersOnly_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("minus") << "-" << 0.0;
        QTest::newRow("grouped") << QStringLiteral("1\u00A0000") << 0.0;
        QTest::newRow("plain") << "-12,5" << -12.5;
    }
    void editNumReadsPlainNumbersOnly() {
        QFETCH(QString, text);
        QFETCH(double, value);
        TEditNum box;
        box.setText(text);
        QCOMPARE(box.Value(), value);
    }

    void editNumDigitsReformat() {
        TEditNum box;
        box.SetFormat(TFloatFormat::ffFixed);
        box.SetValue(3.14159);
        QCOMPARE(box.text(), QStringLiteral("3,1416"));
        box.SetDigits(2);
        QCOMPARE(box.text(), QStringLiteral("3,14"));
    }

    void editNumRangeChecks() {
        TEditNum box;
        box.SetRange(5, 1); // ignored
        QCOMPARE(box.Minimum(), 0.0);
        QCOMPARE(box.Maximum(), 100.0);
        box.SetCheckRange(false);
        box.SetValue(150);
        QCOMPARE(box.text(), QStringLiteral("150"));
    }

    void editNumCommitsOnFocusLoss() {
        QWidget window;
        auto* box = new TEditNum(&window);
        auto* other = new QLineEdit(&window);
        other->move(0, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        box->setFocus();
        box->setText("-5");
        other->setFocus();
        QCOMPARE(box->text(), QStringLiteral("0"));
    }

    void inputIntegerClampsTypedText_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enter");
        QTest::addColumn<int>("result");
        QTest::newRow("below, OK") << "5" << false << 100;
        QTest::newRow("below, Enter") << "5" << true << 100;
        QTest::newRow("inside, OK") << "250" << false << 250;
    }
    void inputIntegerClampsTypedText() {
        QFETCH(QString, typed);
        QFETCH(bool, enter);
        QFETCH(int, result);
        QString title, prompt;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            title = dialog->windowTitle();
            prompt = dialog->lblCaption->text();
            QLineEdit* edit = dialog->seValue->findChild<QLineEdit*>();
            edit->setText(typed);
            if (enter)
                QTest::keyClick(edit, Qt::Key_Return);
            else
                dialog->OKBtn->click();
            return dialog->result();
        };
        bool accepted = false;
        QCOMPARE(InputIntegerConfirm("Введите", "Период опроса, мс [100, 60000]", 200, 100, 60000,
                                     accepted),
                 result);
        QVERIFY(accepted);
        QCOMPARE(title, QStringLiteral("Введите"));
        QCOMPARE(prompt, QStringLiteral("Период опроса, мс [100, 60000]"));
    }

    // Keystrokes that take the number out of the bounds are kept; OK, Enter and the focus loss
    // bring it to the nearer bound.
    void inputIntegerTypedOutsideBounds_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("how"); // 0 OK, 1 Enter, 2 focus to OK then OK
        QTest::addColumn<int>("result");
        QTest::newRow("period above, Enter") << "70000" << 100 << 60000 << 1 << 60000;
        QTest::newRow("period above, OK") << "70000" << 100 << 60000 << 0 << 60000;
        QTest::newRow("temperature above, OK") << "90" << -40 << 80 << 0 << 80;
        QTest::newRow("temperature below, OK") << "-50" << -40 << 80 << 0 << -40;
        QTest::newRow("temperature above, focus lost") << "95" << -40 << 80 << 2 << 80;
        QTest::newRow("letters refused") << "1x2" << 0 << 255 << 0 << 12;
        QTest::newRow("negative below zero") << "-5" << 0 << 255 << 0 << 0;
    }
    void inputIntegerTypedOutsideBounds() {
        QFETCH(QString, typed);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, how);
        QFETCH(int, result);
        QString shown;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            QLineEdit* edit = dialog->seValue->findChild<QLineEdit*>();
            dialog->show();
            if (!QTest::qWaitForWindowActive(dialog))
                return int(QDialog::Rejected);
            edit->selectAll();
            QTest::keyClicks(edit, typed);
            if (how == 2) {
                dialog->CancelBtn->setFocus();
                shown = edit->text();
            }
            if (how == 1)
                QTest::keyClick(edit, Qt::Key_Return);
            else
                dialog->OKBtn->click();
            return dialog->result();
        };
        QCOMPARE(InputInteger("Введите", "p", min, min, max), result);
        if (how == 2)
            QCOMPARE(shown, QString::number(result));
    }

    void inputIntegerCancelled() {
        ModalHook = [](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            dialog->seValue->setValue(7);
            dialog->CancelBtn->click();
            return dialog->result();
        };
        bool accepted = true;
        QCOMPARE(InputIntegerConfirm("Введите", "x", 3, 0, 10, accepted), 3);
        QVERIFY(!accepted);
        QCOMPARE(InputInteger("Введите", "x", 3, 0, 10), 3);
    }

    void inputIntegerShowsNegativeInitial() {
        int shown = 0;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            shown = dialog->seValue->value();
            dialog->seValue->findChild<QLineEdit*>()->setText("-40");
            dialog->OKBtn->click();
            return dialog->result();
        };
        QCOMPARE(InputInteger("Введите", "t", -10, -40, 80), -40);
        QCOMPARE(shown, -10);
    }

    void inputDoubleRefusesText() {
        int rounds = 0;
        bool stayedOpen = false;
        QColor red;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputDouble*>(d);
            ++rounds;
            dialog->enValue->setText("abc");
            dialog->OKBtn->click();
            stayedOpen = dialog->result() != QDialog::Accepted;
            red = BaseColour(dialog->enValue);
            dialog->enValue->setText("12,5");
            dialog->OKBtn->click();
            return dialog->result();
        };
        QCOMPARE(InputDouble("Введите", "p", 0, 1.0, 0, 100), 12.5);
        QCOMPARE(rounds, 1);
        QVERIFY(stayedOpen);
        QCOMPARE(red, QColor(255, 0, 0));
    }

    // A number confirmed with Enter is brought into the bounds, as with OK.
    void inputDoubleBoundsWithEnterAndOk_data() {
        QTest::addColumn<bool>("enter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("result");
        QTest::newRow("Enter above") << true << "70000" << 50000.0;
        QTest::newRow("OK above") << false << "70000" << 50000.0;
        QTest::newRow("Enter below") << true << "-3" << 0.0;
        QTest::newRow("Enter inside") << true << "1234,5" << 1234.5;
    }
    void inputDoubleBoundsWithEnterAndOk() {
        QFETCH(bool, enter);
        QFETCH(QString, typed);
        QFETCH(double, result);
        QString initial;
        ModalHook = [&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputDouble*>(d);
            initial = dialog->enValue->text();
            dialog->enValue->setText(typed);
            if (enter)
                QTest::keyClick(dialog->enValue, Qt::Key_Return);
            else
                dialog->OKBtn->click();
            return dialog->result();
        };
        QCOMPARE(InputDouble("Введите", "dist", 0, 60000.0, 0, 50000), result);
        QCOMPARE(initial, QStringLiteral("60000")); // shown unchanged, also outside the range
    }

    void inputDoubleCancelledAndFailing() {
        ModalHook = [](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputDouble*>(d);
            dialog->enValue->setText("5");
            dialog->CancelBtn->click();
            return dialog->result();
        };
        QCOMPARE(InputDouble("Введите", "p", 2, 1.5, 0, 100), 1.5);
        ModalHook = [](QDialog*) -> int { throw std::runtime_error("broken"); };
        QCOMPARE(InputDouble("Введите", "p", 2, 1.5, 0, 100), 1.5);
        bool accepted = true;
        QCOMPARE(InputIntegerConfirm("Введите", "p", 4, 0, 10, accepted), 4);
        QVERIFY(!accepted);
    }

    void messageBoxThroughHook() {
        QString caption, text;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        ModalHook = [&](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            caption = box->windowTitle();
            text = box->text();
            defaultButton = box->standardButton(box->defaultButton());
            return int(QMessageBox::Yes);
        };
        QCOMPARE(ShowMessageBox(QMessageBox::Question, "Внимание", "Завершить работу?",
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No),
                 QMessageBox::Yes);
        QCOMPARE(caption, QStringLiteral("Внимание"));
        QCOMPARE(text, QStringLiteral("Завершить работу?"));
        QCOMPARE(defaultButton, QMessageBox::No);
    }

    void progressPercentages() {
        QList<int> percents;
        QStringList captions;
        OnProgressMove = [&](const QString& caption, int percent) {
            captions << caption;
            percents << percent;
        };
        QVERIFY(!ProgressWindow());
        ProgressClose(); // nothing to close
        ProgressShow("Повтор команды", 1, 5);
        ProgressShow("ignored text", 2, 99); // keeps the first text and total
        QCOMPARE(percents, (QList<int>{20, 40}));
        QCOMPARE(captions.last(), QStringLiteral("Повтор команды 40%"));
        QVERIFY(ProgressWindow()->isVisible());
        ProgressShow("x", -1, 5); // a negative position changes nothing
        QCOMPARE(ProgressWindow()->Percent(), 40);
        ProgressClose();
        QVERIFY(!ProgressWindow());
        ProgressShow("Чтение", 1, 3);
        QCOMPARE(ProgressWindow()->Percent(), 33);
        ProgressClose();
        ProgressShow("Чтение", 1, 8); // 12.5 rounds to even
        QCOMPARE(ProgressWindow()->Percent(), 12);
        ProgressClose();
        ProgressShow("Ноль", 3, 0);
        QCOMPARE(ProgressWindow()->Percent(), 0);
        QCOMPARE(ProgressWindow()->windowTitle(), QStringLiteral("Ноль 0%"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
