// "Сканирование" opened from the main window against the simulator with several gauges: its
// defaults, a scan that fills the list (a collision among the rows), the window refusing to
// close while the scan runs, "Остановить", the refused ranges, an address write by plant
// numbers and the list saved as CSV.

#include "EditNum.h"
#include "fMain.h"
#include "fScan.h"
#include "tests/console/ConsoleRig.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

class TestFormScan : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;

    // Opens the window from the main window's action; `drive` runs while it is open.
    void OpenScan(const std::function<void(TFormScan*)>& drive) {
        bool opened = false;
        Script->Push([&](QDialog* d) {
            auto* form = qobject_cast<TFormScan*>(d);
            if (!form)
                return int(QDialog::Rejected);
            opened = true;
            form->show();
            drive(form);
            return int(QDialog::Rejected);
        });
        Form->Action("actFormScanShow")->trigger();
        QVERIFY(opened);
        QVERIFY(!Form->Windows().Scan); // destroyed when it closed
    }
    static QString Cell(TFormScan* f, int row, int column) {
        const QTableWidgetItem* item = f->acgDeviceList->item(row, column);
        return item ? item->text() : QString();
    }

private slots:
    void init() {
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        Rig->Ulmar->SystemAddress = 1;
        Rig->Ulmar->PlantNumber = 1001;
        Rig->Sim->WithSim([](TGaugeSim& s) { s.Requests = 0; });
    }
    void cleanup() {
        Form.reset();
        Script.reset();
        Rig.reset();
    }

    void scanFillsTheList() {
        SetSimGauges(*Rig->Sim, {{1, 1001}, {3, 1003}, {3, 1013}, {7, 1007}});
        const QString csv = Rig->Dirs.Work() + "/found.csv";
        OpenScan([&](TFormScan* f) {
            QCOMPARE(f->objectName(), QString("FormScan"));
            QCOMPARE(f->windowTitle(), QString("Сканирование"));
            QVERIFY(f->isModal());
            QCOMPARE(f->enStartSA->text(), QString("0"));
            QCOMPARE(f->enStopSA->text(), QString("254"));
            QCOMPARE(f->enStartPN->text(), QString("1001"));
            QCOMPARE(f->enCountPN->text(), QString("10"));
            QVERIFY(f->pnlStatus->text().isEmpty());
            QVERIFY(!f->btnScanStop->isEnabled() && !f->btnWriteStop->isEnabled());
            QCOMPARE(f->acgDeviceList->columnCount(), 7);
            QCOMPARE(f->acgDeviceList->horizontalHeaderItem(0)->text(), QString("№"));
            QVERIFY(f->acgDeviceList->columnWidth(1) >= 100);
            QCOMPARE(f->acgDeviceList->columnWidth(4), 100);

            f->enStartSA->setText("255"); // ignored: the previous start address 0 stays
            f->enStopSA->setText("8");
            QTest::mouseClick(f->btnScan, Qt::LeftButton);
            QVERIFY(f->JobRunning());
            QCOMPARE(f->enStartSA->text(), QString("0"));
            QVERIFY(!f->btnScan->isEnabled() && !f->btnWrite->isEnabled());
            QVERIFY(f->btnScanStop->isEnabled() && f->btnWriteStop->isEnabled());
            QVERIFY(!f->pbProgress->isHidden());
            QCOMPARE(f->pnlStatus->text(), QString("Чтение сигнатуры по системному адресу 0"));
            // Neither Esc nor the close box closes the window during the scan.
            QTest::keyClick(f, Qt::Key_Escape);
            QVERIFY(!f->close());
            QVERIFY(f->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!f->JobRunning(), 30000);
            QCOMPARE(f->pnlStatus->text(), QString("Сканирование завершено"));
            QVERIFY(f->pbProgress->isHidden());
            QVERIFY(f->btnScan->isEnabled() && !f->btnScanStop->isEnabled());
            QCOMPARE(SimRequests(*Rig->Sim), 9 + 1); // the collision is asked twice

            QCOMPARE(f->acgDeviceList->rowCount(), 3);
            QCOMPARE(Cell(f, 0, 0), QString("1"));
            QCOMPARE(Cell(f, 0, 2), QString("1001"));
            QCOMPARE(Cell(f, 1, 1), QString("3"));
            QCOMPARE(Cell(f, 1, 6), QString("коллизия: два прибора на одном адресе?"));
            QCOMPARE(Cell(f, 2, 0), QString("3"));
            QCOMPARE(Cell(f, 2, 1), QString("7"));
            QCOMPARE(Cell(f, 2, 5), QString("3"));
            QCOMPARE(f->acgDeviceList->currentRow(), 2);
            // The main window goes on with the gauge it had.
            QCOMPARE(int(Rig->Ulmar->SystemAddress), 1);
            QCOMPARE(int(Rig->Ulmar->PlantNumber), 1001);

            if (qEnvironmentVariableIsSet("ULMAR_SCAN_SHOT")) {
                QCoreApplication::sendPostedEvents();
                f->grab().save(qEnvironmentVariable("ULMAR_SCAN_SHOT"));
            }

            Script->Push([&csv](QDialog* d) {
                auto* files = qobject_cast<QFileDialog*>(d);
                if (!files)
                    return int(QDialog::Rejected);
                files->selectFile(csv);
                return int(QDialog::Accepted);
            });
            QVERIFY(f->btnSave->isEnabled());
            QTest::mouseClick(f->btnSave, Qt::LeftButton);
            QTest::keyClick(f, Qt::Key_Escape);
            QVERIFY(!f->isVisible());
        });
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
        QCOMPARE(lines.size(), 5); // header, three rows, the end of the last line
        QCOMPARE(lines[0], QString("\xEF\xBB\xBF№;Системный адрес;Заводской номер;Тип "
                                   "устройства;АВ;ПВ;Примечание"));
        QCOMPARE(lines[2], QString("2;3;;;;;коллизия: два прибора на одном адресе?"));
        QCOMPARE(lines[3], QString("3;7;1007;17;1;3;"));
    }

    void stopAndRefusals() {
        SetSimGauges(*Rig->Sim, {{1, 1001}});
        OpenScan([&](TFormScan* f) {
            f->enStartSA->setText("11");
            f->enStopSA->setText("10");
            QTest::mouseClick(f->btnScan, Qt::LeftButton);
            QVERIFY(!f->JobRunning());
            QCOMPARE(Script->Boxes.size(), 1);
            QCOMPARE(Script->Boxes[0].Text, QString("Начальный системный адрес больше конечного!"));
            QCOMPARE(Script->Boxes[0].Caption, QString("Внимание"));
            QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Warning);

            f->enStartSA->setText("250");
            f->enStartPN->setText("5000");
            f->enCountPN->setText("6");
            QTest::mouseClick(f->btnWrite, Qt::LeftButton);
            QVERIFY(!f->JobRunning());
            QCOMPARE(Script->Boxes.size(), 2);
            QVERIFY(Script->Boxes[1].Text.startsWith("Недостаточно системных адресов"));
            QCOMPARE(SimRequests(*Rig->Sim), 0);

            f->enStartSA->setText("0");
            f->enStopSA->setText("254");
            QTest::mouseClick(f->btnScan, Qt::LeftButton);
            QTRY_VERIFY(SimRequests(*Rig->Sim) >= 2);
            QTest::mouseClick(f->btnScanStop, Qt::LeftButton);
            const int sent = SimRequests(*Rig->Sim);
            QTRY_VERIFY(!f->JobRunning());
            QCOMPARE(SimRequests(*Rig->Sim), sent);
            QCOMPARE(f->pnlStatus->text(), QString("Сканирование завершено"));
            QCOMPARE(f->acgDeviceList->rowCount(), 1);
            QCOMPARE(Cell(f, 0, 1), QString("1"));
        });
    }

    void addressWriteListsPlantNumbers() {
        SetSimGauges(*Rig->Sim, {{1, 1001}, {2, 2001}, {3, 2002}});
        // The main window polls: the job pauses polling and starts it again at its end.
        Form->Action("actOprosStart")->trigger();
        QVERIFY(Rig->Link->Poller()->Running());
        OpenScan([&](TFormScan* f) {
            f->enStartSA->setText("20");
            f->enStartPN->setText("2001");
            f->enCountPN->setText("3");
            QTest::mouseClick(f->btnWrite, Qt::LeftButton);
            QCOMPARE(f->pnlStatus->text(),
                     QString("Запись системного адреса 20 по заводскому номеру 2001"));
            QVERIFY(!Rig->Link->Poller()->Running());
            QVERIFY(!Form->Action("actOprosStop")->isEnabled());
            QTRY_VERIFY_WITH_TIMEOUT(!f->JobRunning(), 30000);
            QVERIFY(Rig->Link->Poller()->Running());
            QCOMPARE(f->pnlStatus->text(), QString("Запись завершена"));
            QCOMPARE(f->acgDeviceList->rowCount(), 3);
            QCOMPARE(Cell(f, 0, 6), QString("записан"));
            QCOMPARE(Cell(f, 1, 1), QString("21"));
            QCOMPARE(Cell(f, 2, 2), QString("2003"));
            QCOMPARE(Cell(f, 2, 6), QString("не отвечает"));
        });
        std::vector<int> addresses;
        Rig->Sim->WithSim([&addresses](TGaugeSim& s) {
            for (const TSimGauge& g : s.Gauges)
                addresses.push_back(g.Address);
        });
        QCOMPARE(addresses, (std::vector<int>{1, 20, 21}));
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 1);
        QCOMPARE(int(Rig->Ulmar->PlantNumber), 1001);
        Form->Action("actOprosStop")->trigger();
    }
};

QTEST_MAIN(TestFormScan)
#include "tst_formscan.moc"
