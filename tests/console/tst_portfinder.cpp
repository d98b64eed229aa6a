// "Найти прибор" in the port settings dialog, driven as a technician does through the main
// window's port settings command against the simulator whose gauges answer at one rate only:
// click, wait for the search, read the list, apply, OK. A gauge at 19200 baud is found and
// polled after OK; two gauges of one line are both listed; a silent line says so; the dialog
// holds while the search runs and a stop ends it; the link's port settings are back after every
// search and nothing reaches the settings files before OK.
// With ULMAR_SHOTS naming a folder, the dialog with two gauges found is saved there as
// finder.png.

#include "fMain.h"
#include "fPortSettings.h"
#include "tests/console/ConsoleRig.h"
#include "uIniFile.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

namespace {

QStringList RowCells(const QTableWidget* table, int row) {
    QStringList cells;
    for (int c = 0; c < table->columnCount(); ++c)
        cells << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return cells;
}

} // namespace

class TestPortFinder : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;
    TCommandLineModes Modes;
    QByteArray SavedPort;  // ComPort.ini before the dialog
    QByteArray SavedTimer; // Timer.ini before the dialog

    static QByteArray Contents(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }
    QString TimerPath() const { return Rig->Link->Poller()->Timer()->SettingsPath(); }
    QString PortPath() const { return Rig->Link->Transmitter()->SettingsFile(); }

    // Clicks "Найти прибор", checks that the dialog holds while the search runs, waits for its
    // end; the link's settings and the files are as they were.
    void Find(TFormPortSettings* dialog) {
        dialog->btnFind->click();
        QVERIFY(dialog->Finding());
        QVERIFY(!dialog->OKBtn->isEnabled() && !dialog->CancelBtn->isEnabled());
        QVERIFY(!dialog->cmbBaudRate->isEnabled());
        QVERIFY(dialog->btnFindStop->isEnabled());
        dialog->reject(); // Esc or the window's close: held
        QVERIFY(dialog->Finding());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->Finding(), 60000);
        QVERIFY(dialog->OKBtn->isEnabled());
        QVERIFY(!dialog->btnFindStop->isEnabled());
        CheckLinkAsBefore();
    }
    void CheckLinkAsBefore() {
        const TTransmitterSettings& s = Rig->Link->Transmitter()->Settings();
        QCOMPARE(s.BaudRate, QStringLiteral("9600"));
        QCOMPARE(s.Port, Rig->Sim->PortName());
        QCOMPARE(s.ReadTotalConstant, 100);
        QVERIFY(!s.EndByLength);
        // The port settings command closed the port for the dialog; the search left it so.
        QVERIFY(!Rig->Link->Transmitter()->IsOpen());
        QCOMPARE(Contents(PortPath()), SavedPort);
        QCOMPARE(Contents(TimerPath()), SavedTimer);
    }

private slots:
    void init() {
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Rig->Sim->SetOnlyRate(19200);
        Rig->Sim->SetLineRate(TSimServer::LinePortRate);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), Modes);
        SavedPort = Contents(PortPath());
        SavedTimer = Contents(TimerPath());
        Rig->Sim->ClearRecords();
    }
    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Script.reset();
        Rig.reset();
    }

    // One gauge at 19200 baud: listed with its rate, address, plant number and versions;
    // "Применить" puts 19200 in the rate box, OK saves it and polls the gauge at its address.
    void gaugeAt19200FoundAndApplied() {
        SetSimGauges(*Rig->Sim, {{5, 1005}});
        QStringList row;
        QString status;
        QString rate;
        bool applyEnabled = false;
        bool unsaved = false;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            if (!dialog || !dialog->grbFinder->isVisibleTo(dialog))
                return int(QDialog::Rejected);
            Find(dialog);
            if (dialog->tblFound->rowCount() > 0)
                row = RowCells(dialog->tblFound, 0);
            status = dialog->lblFindStatus->text();
            applyEnabled = dialog->btnApplyFound->isEnabled();
            dialog->btnApplyFound->click();
            rate = dialog->cmbBaudRate->currentText();
            unsaved = Contents(PortPath()) == SavedPort && Contents(TimerPath()) == SavedTimer;
            dialog->OKBtn->click();
            return dialog->result();
        });
        Form->Action("actTransmitterChange")->trigger();
        QCOMPARE(row, (QStringList{"19200", "5", "1005", "17", "1", "3"}));
        QVERIFY2(status.startsWith(QStringLiteral("Найдено приборов: 1 (скоростей проверено: 15")),
                 qPrintable(status));
        QVERIFY(applyEnabled);
        QCOMPARE(rate, QStringLiteral("19200"));
        QVERIFY(unsaved); // nothing saved between "Применить" and OK
        TTransmitter* transmitter = Rig->Link->Transmitter();
        QCOMPARE(transmitter->Settings().BaudRate, QStringLiteral("19200"));
        QCOMPARE(TIniFile(PortPath()).ReadString("Transmitter", "BaudRate", {}),
                 QStringLiteral("19200"));
        QCOMPARE(Rig->Link->Poller()->LoadAddresses(), (std::vector<quint8>{5}));
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 5);
        QVERIFY(transmitter->IsOpen());
        QVERIFY(Script->Boxes.isEmpty());
        // The gauge answers at its rate and address now (the rig's 5 ms silence rule is for
        // answers that come whole, not paced byte by byte).
        Rig->Sim->SetLineRate(0);
        Rig->Sim->ClearRecords();
        TExchangeReport report;
        Rig->Link->RequestExecUlmar(UlmarCmd::SignatureRead, &report);
        QVERIFY(report.Accepted);
        QCOMPARE(int(Rig->Ulmar->PlantNumber), 1005);
    }

    // Two gauges at one rate are both listed; the second applied: both are polled, the second
    // is the current gauge.
    void twoGaugesBothListed() {
        SetSimGauges(*Rig->Sim, {{3, 1003}, {7, 1007}});
        QList<QStringList> rows;
        QString applied;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            Find(dialog);
            for (int r = 0; r < dialog->tblFound->rowCount(); ++r)
                rows << RowCells(dialog->tblFound, r);
            if (rows.size() != 2)
                return int(QDialog::Rejected);
            dialog->tblFound->selectRow(1);
            dialog->btnApplyFound->click();
            applied = dialog->lblFindStatus->text();
            if (const QString dir = qEnvironmentVariable("ULMAR_SHOTS"); !dir.isEmpty()) {
                dialog->show();
                if (QTest::qWaitForWindowExposed(dialog) && QDir().mkpath(dir))
                    dialog->grab().save(QDir(dir).filePath(QStringLiteral("finder.png")));
            }
            dialog->OKBtn->click();
            return dialog->result();
        });
        Form->Action("actTransmitterChange")->trigger();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0], (QStringList{"19200", "3", "1003", "17", "1", "3"}));
        QCOMPARE(rows[1], (QStringList{"19200", "7", "1007", "17", "1", "3"}));
        QVERIFY2(
            applied.endsWith(QStringLiteral("\nПрименено: 19200 бод, адрес 7; сохраняется по OK")),
            qPrintable(applied));
        QCOMPARE(Rig->Link->Poller()->Addresses(), (std::vector<quint8>{3, 7}));
        QCOMPARE(Rig->Link->Poller()->LoadAddresses(), (std::vector<quint8>{3, 7}));
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 7);
        QCOMPARE(Rig->Link->Transmitter()->Settings().BaudRate, QStringLiteral("19200"));
    }

    // Nothing at any rate: an empty list, the reason said, nothing to apply; after Cancel the
    // settings and the link are as they were, the port reopened at its own rate.
    void silentLine() {
        SetSimGauges(*Rig->Sim, {});
        QString status;
        bool applyEnabled = true;
        int rows = -1;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            Find(dialog);
            status = dialog->lblFindStatus->text();
            rows = dialog->tblFound->rowCount();
            applyEnabled = dialog->btnApplyFound->isEnabled() || dialog->ApplyFound();
            dialog->CancelBtn->click();
            return dialog->result();
        });
        Form->Action("actTransmitterChange")->trigger();
        QCOMPARE(rows, 0);
        QVERIFY(!applyEnabled);
        QCOMPARE(status, QStringLiteral("Ни один прибор не ответил ни на одной скорости "
                                        "(адрес 255 и адреса 0..16)"));
        // Address 255 once at each rate of the list, nothing else.
        QCOMPARE(Rig->Sim->RequestCount(), 15);
        // Cancel saves the settings as they were (the command always did), not the search's.
        const TIniFile port(PortPath());
        QCOMPARE(port.ReadString("Transmitter", "BaudRate", {}), QStringLiteral("9600"));
        QCOMPARE(port.ReadInteger("Transmitter", "ReadTotalConstant", -1), qint64(100));
        QCOMPARE(port.ReadInteger("Transmitter", "EndByLength", -1), qint64(0));
        QCOMPARE(Contents(TimerPath()), SavedTimer);
        QCOMPARE(Rig->Link->Transmitter()->Settings().BaudRate, QStringLiteral("9600"));
        QVERIFY(Rig->Link->Transmitter()->IsOpen());
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 1);
    }

    // "Остановить" ends the search between two requests; the rates tried so far are said.
    void stopEndsTheSearch() {
        SetSimGauges(*Rig->Sim, {{5, 1005}});
        QString status;
        bool started = false;
        bool ended = false;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            dialog->btnFind->click();
            started = QTest::qWaitFor([this] { return Rig->Sim->RequestCount() >= 2; }, 10000);
            dialog->btnFindStop->click();
            ended = QTest::qWaitFor([dialog] { return !dialog->Finding(); }, 10000);
            CheckLinkAsBefore();
            status = dialog->lblFindStatus->text();
            dialog->CancelBtn->click();
            return dialog->result();
        });
        Form->Action("actTransmitterChange")->trigger();
        QVERIFY(started && ended);
        QVERIFY2(status.startsWith(QStringLiteral("Поиск остановлен: проверено скоростей ")),
                 qPrintable(status));
        // Stopped before the search got through the list: fewer rates than 15 said, and fewer
        // requests than the 15 + 17 of a whole search.
        const int tried = status.section(QLatin1Char(' '), 4, 4).toInt();
        QVERIFY2(tried >= 2 && tried < 15, qPrintable(status));
        QVERIFY2(status.contains(QStringLiteral(" из 15, найдено приборов: ")), qPrintable(status));
        QVERIFY(Rig->Sim->RequestCount() < 15 + 17);
    }
};

QTEST_MAIN(TestPortFinder)
#include "tst_portfinder.moc"
