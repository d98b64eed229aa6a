// The run window in the main window against the simulator: opened by the main window's action
// and refreshed by its polling, "Установить" with fresh readings filling the row (marked in the
// grid), refused with a message while polling is stopped, the tape dialog (cancel changes
// nothing), the work-order label, the start sequence from the tool bar, the report preview and
// Esc. With ULMAR_SHOTS_DIR set it also leaves a picture of the window and the report as PDF.

#include "EditNum.h"
#include "fMain.h"
#include "fProgon.h"
#include "fSelectCMD.h"
#include "rProgon.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/ToolWindows.h"
#include "uConsole.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QPrintPreviewDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <cmath>
#include <optional>
#include <qcustomplot.h>

class TestProgonWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;
    TCommandLineModes Modes; // the command line's /full and /kalist

    TFormProgon* Open() {
        Form->Action("actFormProgonShow")->trigger();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "FormProgon")
                return qobject_cast<TFormProgon*>(w);
        return nullptr;
    }
    bool Fresh() const {
        TProgonCommands progon(Form->Commands(), Form->PollControl());
        return progon.Refusal().isEmpty();
    }

private slots:
    void init() {
        Modes.Factory = true;
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), Modes);
        Form->show();
    }
    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!TopLevelWindow(QStringLiteral("FormProgon")));
        Script.reset();
        Rig.reset();
        Modes.Factory = false;
    }

    void opensWithTheTable() {
        TFormProgon* w = Open();
        QVERIFY(w);
        QCOMPARE(w, Form->Windows().Progon.Get());
        QCOMPARE(w->windowTitle(), QStringLiteral("Прогон"));
        QCOMPARE(w->acgProgonPoints->rowCount(), 5);
        QCOMPARE(w->acgProgonPoints->columnCount(), 7);
        QCOMPARE(w->acgProgonPoints->horizontalHeaderItem(6)->text(), QStringLiteral("d Ток, мА"));
        QCOMPARE(w->acgProgonPoints->item(1, 1)->text(), QStringLiteral("4750"));
        QCOMPARE(w->lblNNZ->text(), QStringLiteral("Нет"));
        QVERIFY(w->sbtnSetLevelFree->text().startsWith("Установить\n\nСв.пр-во, мм \n"));
        // A second show keeps the one window.
        QCOMPARE(Open(), w);
        QCOMPARE(ShowProgon(Form->Windows().Progon, Form.get()), 0);
        int windows = 0;
        for (QWidget* t : QApplication::topLevelWidgets())
            windows += t->objectName() == "FormProgon";
        QCOMPARE(windows, 1);
        // Esc closes it; the table stays with the device object.
        Rig->Ulmar->ProgonPoints[2].Value = 7444;
        QTest::keyClick(w, Qt::Key_Escape);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!Form->Windows().Progon);
        QCOMPARE(Rig->Ulmar->ProgonPoints[2].Value, 7444.0);
    }

    // While polling runs (gauge and current meter), "Установить" takes the live level and
    // current into the row the level falls into; the grid marks that row.
    void setLevelWhilePolling() {
        TFormProgon* w = Open();
        QVERIFY(w);
        Rig->FixGauge(11240);
        Rig->Sim->WithSim([](TGaugeSim& s) { s.Kalist.Enabled = true; });
        Form->Windows().SelectCMD->chbCurrentOutput->setChecked(true);
        Form->Action("actOprosStart")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Fresh() && std::fabs(Rig->Ulmar->Level->AsDouble() - 11240) < 1,
                                 15000);
        QTRY_VERIFY(w->sbtnSetLevelFree->text().contains(QLocale().toString(11240.0, 'f', 1)));
        w->sbtnSetLevelFree->click();
        const TProgonPoint& p = Rig->Ulmar->ProgonPoints[1];
        QVERIFY(std::fabs(p.Value - 11240) < 1);
        QVERIFY(p.CurrentValue > 4 && p.CurrentValue < 20);
        QCOMPARE(p.dValue, p.Sample - p.Value);
        QVERIFY(Script->Boxes.isEmpty());
        QTableWidgetItem* value = w->acgProgonPoints->item(1, ProgonColValue);
        QCOMPARE(value->text(), ProgonCellText(*Rig->Ulmar, 2, ProgonColValue));
        QVERIFY(value->font().bold());
        QCOMPARE(value->background().color(), QColor(0, 255, 0));
        QVERIFY(!w->acgProgonPoints->item(0, ProgonColValue)->font().bold());

        // Polling stopped: a message, and the row keeps what it took.
        Form->Action("actOprosStop")->trigger();
        const TProgonPoint kept = p;
        w->sbtnSetLevelFree->click();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Внимание"));
        QCOMPARE(Script->Boxes[0].Text, QStringLiteral("Точка не записана: опрос не запущен."));
        QCOMPARE(p.Value, kept.Value);
        QCOMPARE(p.CurrentValue, kept.CurrentValue);

        // The other rows in turn, as the target moves; row 5 asks to stop (No: nothing sent).
        Form->Action("actOprosStart")->trigger();
        for (const double level : {14990.0, 7480.0, 3760.0, 20.0}) {
            Rig->FixGauge(level);
            QTRY_VERIFY_WITH_TIMEOUT(
                Fresh() && std::fabs(Rig->Ulmar->Level->AsDouble() - level) < 1, 15000);
            w->sbtnSetLevelFree->click();
            const int row = CurrentProgonRow(*Rig->Ulmar, level);
            QVERIFY(std::fabs(Rig->Ulmar->ProgonPoints[row - 1].Value - level) < 1);
        }
        QCOMPARE(Script->Boxes.size(), 2);
        QCOMPARE(Script->Boxes[1].Text, QStringLiteral("Остановить прогон?"));
        QCOMPARE(Script->Boxes[1].Default, QMessageBox::No);
        QVERIFY(!Rig->Codes().contains(UlmarCmd::WriteToPZU));

        if (const QString dir = qEnvironmentVariable("ULMAR_SHOTS_DIR"); !dir.isEmpty()) {
            QDir().mkpath(dir);
            w->resize(900, 600);
            w->Refresh();
            QVERIFY(w->grab().save(dir + "/progon.png"));
            QString error;
            QVERIFY2(SaveProgonReportPdf(*Rig->Ulmar, w->ChartView(), dir + "/progon_report.pdf",
                                         &error),
                     qPrintable(error));
        }
    }

    // The tape dialog of the selected row: cancel changes nothing, OK takes the value.
    void tapeDialog() {
        TFormProgon* w = Open();
        QVERIFY(w);
        TUlmar& u = *Rig->Ulmar;
        u.ProgonPoints[1].Value = 11230;
        u.RecalcProgon();
        const TProgonPoint before = u.ProgonPoints[1];
        w->acgProgonPoints->setCurrentCell(1, 0);
        QString prompt;
        Script->Push([&](QDialog* d) {
            prompt = d->findChild<QLabel*>() ? d->findChild<QLabel*>()->text() : QString();
            d->findChild<TEditNum*>("enValue")->SetValue(5000);
            return int(QDialog::Rejected);
        });
        w->Action("actRuletkaChange")->trigger();
        QCOMPARE(Script->DialogTitles, QStringList{"Введите"});
        QCOMPARE(prompt, QStringLiteral("2) Значение рулетки, мм"));
        QCOMPARE(u.ProgonPoints[1].Ruletka, before.Ruletka);
        QCOMPARE(u.ProgonPoints[1].Value, before.Value);
        QCOMPARE(u.ProgonPoints[1].dValue, before.dValue);

        Script->Push([](QDialog* d) {
            d->findChild<TEditNum*>("enValue")->SetValue(5000);
            return int(QDialog::Accepted);
        });
        w->Action("actRuletkaChange")->trigger();
        QCOMPARE(u.ProgonPoints[1].Ruletka, 5000.0);
        QCOMPARE(u.ProgonPoints[1].Sample, 11000.0);
        // The differences stay those of the last "Установить".
        QCOMPARE(u.ProgonPoints[1].dValue, before.dValue);
        QCOMPARE(w->acgProgonPoints->item(1, ProgonColDValue)->text(),
                 QLocale().toString(20.0, 'f', 3));
        QCOMPARE(w->acgProgonPoints->item(1, ProgonColRuletka)->text(), QStringLiteral("5000"));
        QCOMPARE(w->acgProgonPoints->item(1, ProgonColCurrentSample)->text(),
                 QLocale().toString(14.67, 'f', 2));
    }

    // "График": the report takes the table, the numbers and the window's chart, and its
    // preview opens.
    void reportPreview() {
        TFormProgon* w = Open();
        QVERIFY(w);
        TUlmar& u = *Rig->Ulmar;
        u.PlantNumber = 1234;
        u.NNZ = QStringLiteral("НЗ-77");
        u.ProgonPoints[2].Value = 7496; // 4 mm off: the axis follows the points
        u.RecalcProgon();
        w->Refresh();
        QVERIFY(w->ScaleAutomatic());
        QString title;
        std::optional<TRepProgon> shown; // the layout the preview shows
        Script->Push([&](QDialog* d) {
            title = d->windowTitle();
            if (const auto* layout = dynamic_cast<const TRepProgon*>(TReportLayout::OfPreview(d)))
                shown = *layout;
            return int(QDialog::Rejected);
        });
        w->Action("actReport")->trigger();
        QCOMPARE(title, QStringLiteral("Прогон УЛМАР"));
        QVERIFY(shown);
        const TRepProgon& report = *shown;
        QCOMPARE(report.qrlPlantNumber, QStringLiteral("1234"));
        QCOMPARE(report.qrlNNZ, QStringLiteral("НЗ-77"));
        QCOMPARE(report.qrlValue[2], QLocale().toString(7496.0, 'f', 3));
        QCOMPARE(report.qrlDValue[2], QLocale().toString(4.0, 'f', 3));
        QCOMPARE(report.Series1.Data.Count(), std::size_t(5));
        QVERIFY(report.Left.Max >= 4.0);
        QCOMPARE(report.Left.Title, QStringLiteral("Разброс"));

        // The chart's menu fixes the axis again until a refresh finds the point outside.
        w->Action("actScaleFixed")->trigger();
        QVERIFY(!w->ScaleAutomatic());
        QCOMPARE(w->ChartView().Left.Max, 3.5);
        w->Refresh();
        QVERIFY(w->ScaleAutomatic());
        // The mouse over the plot area writes the read-out.
        w->resize(900, 600);
        w->Chart1->replot();
        QTest::mouseMove(w->Chart1, w->Chart1->axisRect()->rect().center());
        QTRY_VERIFY(w->Panel0->text().startsWith("Сигнал["));
        QCOMPARE(TFormProgon::ReadoutText(8000.4, -2.6),
                 "Сигнал[" + QLocale().toString(8000.0, 'f', 0) + "] = -3");
    }

    // The work-order label asks for the number through the main window's action.
    void workOrderLabel() {
        TFormProgon* w = Open();
        QVERIFY(w);
        Script->Push([](QDialog* d) {
            if (auto* input = qobject_cast<QInputDialog*>(d))
                input->setTextValue(QStringLiteral("А-15"));
            return int(QDialog::Accepted);
        });
        QTest::mouseClick(w->lblNNZ, Qt::LeftButton);
        QCOMPARE(Rig->Ulmar->NNZ, QStringLiteral("А-15"));
        QCOMPARE(w->lblNNZ->text(), QStringLiteral("А-15"));
    }

    // "Прогон начать" from the window with polling stopped: the signature without its box,
    // the template question, the four writes and one commit, polling still stopped; the report
    // then names the gauge.
    void startFromTheWindow() {
        TFormProgon* w = Open();
        QVERIFY(w);
        Rig->Sim->WithSim([](TGaugeSim& s) {
            s.Gauges[0].PlantNumber = 2345;
            s.Gauges[0].SoftVersion = 9;
        });
        Rig->Sim->ClearRecords();
        w->Action("actProgonStart")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text, QStringLiteral("Создать шаблон прогона?"));
        QCOMPARE(Script->Boxes[0].Default, QMessageBox::No);
        QCOMPARE(Rig->Codes(), (QList<int>{8, 34, 35, 22, 20, 14}));
        QVERIFY(!Form->PollControl().PollingRunning());
        QVERIFY(!Form->Context().AllParamWriting);
        std::optional<TRepProgon> shown;
        Script->Push([&shown](QDialog* d) { // the preview
            if (const auto* layout = dynamic_cast<const TRepProgon*>(TReportLayout::OfPreview(d)))
                shown = *layout;
            return int(QDialog::Rejected);
        });
        w->Action("actReport")->trigger();
        QVERIFY(shown);
        QCOMPARE(shown->qrlPlantNumber, QStringLiteral("2345"));
        QCOMPARE(shown->qrlSoftVersion, QStringLiteral("9"));
    }

    // "Сохранить в PDF…": the file chosen in the dialog holds the report; a file that cannot be
    // written gives an error box.
    void reportAsPdf() {
        TFormProgon* w = Open();
        QVERIFY(w);
        const QString path = Rig->Dirs.Root.filePath(QStringLiteral("run.pdf"));
        QString error;
        QVERIFY2(w->SaveReportPdf(path, &error), qPrintable(error));
        QFile direct(path);
        QVERIFY(direct.open(QIODevice::ReadOnly));
        QCOMPARE(direct.read(4), QByteArray("%PDF"));
        direct.close();
        QVERIFY(QFile::remove(path));

        const auto choose = [this](const QString& file) {
            Script->Push([file](QDialog* d) {
                auto* files = qobject_cast<QFileDialog*>(d);
                if (!files)
                    return int(QDialog::Rejected);
                files->selectFile(file);
                return int(QDialog::Accepted);
            });
        };
        choose(path);
        w->Action("actReportPdf")->trigger();
        QCOMPARE(Script->DialogTitles, QStringList{"Сохранить в PDF"});
        QVERIFY(Script->Boxes.isEmpty());
        QVERIFY(QFileInfo(path).size() > 4);
        // A folder that does not exist (under the dialog's folder): an error box naming the file.
        choose(QStringLiteral("none/run.pdf"));
        w->Action("actReportPdf")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Ошибка"));
        QVERIFY2(Script->Boxes[0].Text.startsWith("Не удалось сохранить файл\n") &&
                     Script->Boxes[0].Text.contains(QDir::toNativeSeparators("none/run.pdf")),
                 qPrintable(Script->Boxes[0].Text));
    }
};

QTEST_MAIN(TestProgonWindow)
#include "tst_progon_window.moc"
