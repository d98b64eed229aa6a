// The bus scan and the address write of the command layer against the gauge simulator with
// several gauges on a pseudo-terminal: rows and their numbers, a collision of two gauges at one
// address, an answer from another address, a plant number seen twice, stop before the next
// request, polling paused and resumed, the device object put back, the range refusals, the
// address write with its check of the target address and its verification.

#include "tests/support/LinkRig.h"
#include "uBusScan.h"

#include <QFile>
#include <QTest>
#include <atomic>

namespace {

std::vector<int> SimAddresses(TSimServer& sim) {
    std::vector<int> addresses;
    sim.WithSim([&addresses](TGaugeSim& s) {
        for (const TSimGauge& g : s.Gauges)
            addresses.push_back(g.Address);
    });
    return addresses;
}

void Fault(TSimServer& sim, TSimFault fault, int count, int value = 0) {
    TSimFaultRule rule;
    rule.Count = count;
    rule.Value = value;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

} // namespace

class TestBusScan : public QObject {
    Q_OBJECT

    std::unique_ptr<TLinkRig> Rig;
    std::unique_ptr<TQuietCommandUi> Ui;
    std::unique_ptr<TGaugeCommands> Commands;

    // The identity the main window works with before a job.
    void SetIdentity() {
        TUlmar& u = *Rig->Ulmar;
        u.SystemAddress = 1;
        u.SystemAddressNew = 42;
        u.PlantNumber = 777;
        u.UnitType = 17;
        u.HardVersion = 9;
        u.SoftVersion = 8;
    }
    void CheckIdentity() {
        const TUlmar& u = *Rig->Ulmar;
        QCOMPARE(int(u.SystemAddress), 1);
        QCOMPARE(int(u.SystemAddressNew), 42);
        QCOMPARE(int(u.PlantNumber), 777);
        QCOMPARE(int(u.UnitType), 17);
        QCOMPARE(int(u.HardVersion), 9);
        QCOMPARE(int(u.SoftVersion), 8);
        QVERIFY(!u.On32);
    }

private slots:
    void init() {
        Rig = std::make_unique<TLinkRig>();
        QVERIFY(Rig->SimStarted);
        Ui = std::make_unique<TQuietCommandUi>();
        Commands = std::make_unique<TGaugeCommands>(Rig->Link.get(), *Ui);
        SetIdentity();
    }
    void cleanup() {
        Commands.reset();
        Ui.reset();
        Rig.reset();
    }

    void scanListsGaugesInOrder() {
        SetSimGauges(*Rig->Sim, {{7, 1007}, {3, 1003}});
        TBusScan scan(*Commands, nullptr);
        QStringList statuses;
        std::vector<int> shown;
        scan.OnRow = [&shown](const TScanRow& row) { shown.push_back(row.Number); };
        const TBusJobReport report =
            scan.Scan(0, 10, [&statuses](int, const QString& text) { statuses << text; });
        QVERIFY(report.Refusal.isEmpty());
        QVERIFY(!report.Stopped);
        QCOMPARE(report.Requests, 11); // one signature request per address
        QCOMPARE(SimRequests(*Rig->Sim), 11);
        QCOMPARE(statuses.size(), 11);
        QCOMPARE(statuses.first(), QString("Чтение сигнатуры по системному адресу 0"));
        QCOMPARE(statuses.last(), QString("Чтение сигнатуры по системному адресу 10"));
        QCOMPARE(report.Rows.size(), size_t(2));
        QCOMPARE(shown, (std::vector<int>{1, 2}));
        const TScanRow& a = report.Rows[0];
        const TScanRow& b = report.Rows[1];
        QCOMPARE(a.Number, 1);
        QCOMPARE(int(a.SystemAddress), 3);
        QCOMPARE(int(a.PlantNumber), 1003);
        QCOMPARE(int(a.UnitType), 17);
        QCOMPARE(int(a.HardVersion), 1);
        QCOMPARE(int(a.SoftVersion), 3);
        QCOMPARE(b.Number, 2);
        QCOMPARE(int(b.SystemAddress), 7);
        QCOMPARE(int(b.PlantNumber), 1007);
        QVERIFY(!a.Collision && !a.WrongAddress && !a.DuplicatePlant && a.Note.isEmpty());
        QCOMPARE(ScanRowCells(b), (QStringList{"2", "7", "1007", "17", "1", "3", QString()}));
        CheckIdentity();
        QVERIFY(!scan.Running());
    }

    void oneAddressAndRefusedRange() {
        SetSimGauges(*Rig->Sim, {{10, 1010}});
        TBusScan scan(*Commands, nullptr);
        TBusJobReport report = scan.Scan(10, 10);
        QCOMPARE(report.Requests, 1);
        QCOMPARE(report.Rows.size(), size_t(1));
        report = scan.Scan(11, 10);
        QCOMPARE(report.Refusal, QString("Начальный системный адрес больше конечного!"));
        QCOMPARE(report.Requests, 0);
        QVERIFY(!scan.StartScan(255, 255).isEmpty());
        QVERIFY(!scan.StartScan(-1, 3).isEmpty());
        QCOMPARE(SimRequests(*Rig->Sim), 1);
        CheckIdentity();
    }

    // Two gauges at one address answer together: garbled twice, listed as a collision. A single
    // disturbed answer reads right when asked again.
    void collisionAndRetry() {
        SetSimGauges(*Rig->Sim, {{5, 1005}, {5, 1006}, {6, 1016}});
        Fault(*Rig->Sim, TSimFault::BadChecksum, 0);
        TBusScan scan(*Commands, nullptr);
        TBusJobReport report = scan.Scan(4, 6);
        QCOMPARE(report.Requests, 1 + 2 + 1);
        QCOMPARE(report.Rows.size(), size_t(2));
        const TScanRow& c = report.Rows[0];
        QVERIFY(c.Collision);
        QVERIFY(!c.Identified);
        QCOMPARE(int(c.SystemAddress), 5);
        QCOMPARE(c.Note, QString("коллизия: два прибора на одном адресе?"));
        QCOMPARE(ScanRowCells(c).mid(2, 4), (QStringList{"", "", "", ""}));
        QVERIFY(!report.Rows[1].Collision);
        QCOMPARE(int(report.Rows[1].PlantNumber), 1016);

        Fault(*Rig->Sim, TSimFault::BadChecksum, 1);
        report = scan.Scan(6, 6);
        QCOMPARE(report.Requests, 2);
        QCOMPARE(report.Rows.size(), size_t(1));
        QVERIFY(!report.Rows[0].Collision);
        QCOMPARE(int(report.Rows[0].PlantNumber), 1016);

        Fault(*Rig->Sim, TSimFault::Cut, 2);
        report = scan.Scan(6, 6);
        QVERIFY(report.Rows[0].Collision);
        CheckIdentity();
    }

    void wrongAddressAndDuplicatePlant() {
        SetSimGauges(*Rig->Sim, {{2, 500}, {4, 500}, {6, 600}});
        Fault(*Rig->Sim, TSimFault::WrongAddress, 1, 9);
        TBusScan scan(*Commands, nullptr);
        const TBusJobReport report = scan.Scan(2, 6);
        QCOMPARE(report.Rows.size(), size_t(3));
        const TScanRow& first = report.Rows[0];
        QVERIFY(first.WrongAddress);
        QCOMPARE(int(first.Asked), 2);
        QCOMPARE(int(first.SystemAddress), 9);
        QCOMPARE(first.Note, QString("ответ с адреса 9 на запрос по адресу 2"));
        const TScanRow& second = report.Rows[1];
        QVERIFY(!second.WrongAddress);
        QVERIFY(second.DuplicatePlant);
        QCOMPARE(second.Note, QString("тот же заводской номер, что по адресу 2"));
        QVERIFY(!report.Rows[2].DuplicatePlant);
    }

    // A stop asked while the status of an address is shown sends nothing more.
    void stopBeforeTheNextRequest() {
        SetSimGauges(*Rig->Sim, {{1, 1001}, {3, 1003}});
        TBusScan scan(*Commands, nullptr);
        const TBusJobReport report = scan.Scan(0, 20, [&scan](int position, const QString&) {
            if (position == 4)
                scan.Stop();
        });
        QVERIFY(report.Stopped);
        QCOMPARE(report.Requests, 4);
        QCOMPARE(SimRequests(*Rig->Sim), 4);
        QCOMPARE(report.Rows.size(), size_t(2));
        CheckIdentity();

        // Stepwise, as the window runs it: a stop between two steps.
        QVERIFY(scan.StartScan(0, 20).isEmpty());
        QVERIFY(scan.Step());
        QCOMPARE(scan.Position(), 1);
        scan.Stop();
        QVERIFY(!scan.Step());
        QVERIFY(!scan.Running());
        QCOMPARE(SimRequests(*Rig->Sim), 5);
        QVERIFY(scan.Report().Stopped);
        CheckIdentity();

        bool flag = true;
        scan.StopCheck = [&flag] { return flag; };
        QVERIFY(scan.Scan(0, 3).Stopped);
        QCOMPARE(SimRequests(*Rig->Sim), 5);
    }

    void pollingPausedAndResumed() {
        std::atomic<int> cycles{0};
        Rig->Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
        Rig->StartPolling(cycles, 50);
        TTimerPollControl poll(Rig->Link.get());
        QVERIFY(poll.PollingRunning());
        QTRY_VERIFY(cycles.load() > 0);
        TBusScan scan(*Commands, &poll);
        bool runningDuringJob = false;
        int cyclesAtStart = -1;
        const TBusJobReport report = scan.Scan(0, 3, [&](int position, const QString&) {
            runningDuringJob = runningDuringJob || poll.PollingRunning();
            if (position == 0)
                cyclesAtStart = cycles.load();
        });
        QVERIFY(!runningDuringJob);
        QCOMPARE(cycles.load(), cyclesAtStart); // no poll cycle ran meanwhile
        QCOMPARE(report.Rows.size(), size_t(1));
        QVERIFY(poll.PollingRunning());
        CheckIdentity();

        poll.StopPolling();
        scan.Scan(0, 1);
        QVERIFY(!poll.PollingRunning());
    }

    void addressWriteAssignsConsecutiveAddresses() {
        SetSimGauges(*Rig->Sim, {{1, 2001}, {2, 2002}, {3, 2003}, {4, 2004}, {5, 2005}});
        TBusScan scan(*Commands, nullptr);
        QStringList statuses;
        TBusJobReport report = scan.WriteAddresses(
            250, 2001, 5, [&statuses](int, const QString& text) { statuses << text; });
        QVERIFY(report.Refusal.isEmpty());
        QCOMPARE(statuses.first(),
                 QString("Запись системного адреса 250 по заводскому номеру 2001"));
        QCOMPARE(SimAddresses(*Rig->Sim), (std::vector<int>{250, 251, 252, 253, 254}));
        QCOMPARE(report.Rows.size(), size_t(5));
        for (size_t i = 0; i < 5; ++i) {
            QCOMPARE(report.Outcomes[i], TAddressWriteOutcome::Written);
            QCOMPARE(int(report.Rows[i].SystemAddress), 250 + int(i));
            QCOMPARE(int(report.Rows[i].PlantNumber), 2001 + int(i));
            QCOMPARE(report.Rows[i].Note, QString("записан"));
        }
        // Check, write, verify for each plant number.
        QCOMPARE(report.Requests, 15);
        CheckIdentity();

        // Written again: each gauge is already at its address, nothing is written.
        report = scan.WriteAddresses(250, 2001, 5);
        QCOMPARE(report.Requests, 5);
        QCOMPARE(report.Outcomes[0], TAddressWriteOutcome::AlreadyThere);

        report = scan.WriteAddresses(250, 2001, 6);
        QVERIFY(report.Refusal.startsWith("Недостаточно системных адресов (от 0 до 254)!\n"
                                          "Начальный системный адрес = 250\n"
                                          "Количество приборов = 6"));
        QCOMPARE(report.Requests, 0);
        QVERIFY(TBusScan::WriteRangeRefusal(0, 65530, 6).isEmpty());
        QVERIFY(TBusScan::WriteRangeRefusal(0, 65530, 7)
                    .startsWith("Недостаточно заводских номеров (от 0 до 65535)!"));
        QVERIFY(!TBusScan::WriteRangeRefusal(0, 1, 0).isEmpty());
        QVERIFY(!TBusScan::WriteRangeRefusal(255, 1, 1).isEmpty());
        CheckIdentity();
    }

    // A target address where another gauge answers is skipped, a plant number nobody has is
    // not answering, and two gauges with one plant number both move and fail the verification.
    void addressWriteChecksAndVerifies() {
        SetSimGauges(*Rig->Sim, {{1, 3001}, {2, 3002}, {11, 9999}, {3, 3004}, {4, 3004}});
        TBusScan scan(*Commands, nullptr);
        const TBusJobReport report = scan.WriteAddresses(10, 3001, 4);
        QCOMPARE(report.Outcomes,
                 (std::vector<TAddressWriteOutcome>{
                     TAddressWriteOutcome::Written, TAddressWriteOutcome::Skipped,
                     TAddressWriteOutcome::NotAnswering, TAddressWriteOutcome::NotVerified}));
        QCOMPARE(SimAddresses(*Rig->Sim), (std::vector<int>{10, 2, 11, 13, 13}));
        QCOMPARE(report.Rows[1].Note, QString("пропущен: адрес занят (заводской номер 9999)"));
        QCOMPARE(report.Rows[2].Note, QString("не отвечает"));
        QCOMPARE(report.Rows[3].Note, QString("не подтверждён"));
        QCOMPARE(ScanRowCells(report.Rows[2]).mid(1, 3), (QStringList{"12", "3003", ""}));
        CheckIdentity();
    }

    void stopDuringAddressWrite() {
        SetSimGauges(*Rig->Sim, {{1, 4001}, {2, 4002}, {3, 4003}});
        TBusScan scan(*Commands, nullptr);
        const TBusJobReport report =
            scan.WriteAddresses(20, 4001, 3, [&scan](int position, const QString&) {
                if (position == 4002)
                    scan.Stop();
            });
        QVERIFY(report.Stopped);
        QCOMPARE(report.Rows.size(), size_t(1));
        QCOMPARE(SimAddresses(*Rig->Sim), (std::vector<int>{20, 2, 3}));
        QCOMPARE(SimRequests(*Rig->Sim), 3);
    }

    void csvFile() {
        std::vector<TScanRow> rows(2);
        rows[0].Number = 1;
        rows[0].SystemAddress = 3;
        rows[0].Identified = rows[0].PlantKnown = true;
        rows[0].PlantNumber = 1003;
        rows[0].UnitType = 17;
        rows[0].HardVersion = 1;
        rows[0].SoftVersion = 3;
        rows[1].Number = 2;
        rows[1].SystemAddress = 5;
        rows[1].Collision = true;
        rows[1].Note = "коллизия; \"два\"";
        const QString path = Rig->Dirs.Work() + "/list.csv";
        QString error;
        QVERIFY(SaveScanCsv(path, rows, &error));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("\xEF\xBB\xBF") +
                     QString("№;Системный адрес;Заводской номер;Тип устройства;АВ;ПВ;Примечание\r\n"
                             "1;3;1003;17;1;3;\r\n"
                             "2;5;;;;;\"коллизия; \"\"два\"\"\"\r\n")
                         .toUtf8());
        QVERIFY(!SaveScanCsv(Rig->Dirs.Work() + "/no/such/dir/list.csv", rows, &error));
        QVERIFY(!error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBusScan)
#include "tst_busscan.moc"
