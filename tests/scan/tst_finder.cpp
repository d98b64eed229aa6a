// The gauge finder of the command layer against the simulator on a pseudo-terminal, the
// simulated gauges answering only at their own rate: one gauge at 19200 baud found over the
// whole rate list, two gauges at one rate both reported, a gauge outside the scan range found
// by its answer to address 255, a silent line, a port that opens at no rate, a stop between
// rates and inside a rate's scan, the found gauge made the one polled, and the link's port
// settings and device object as they were afterwards.

#include "tests/support/LinkRig.h"
#include "uGaugeFinder.h"

#include <QTest>

class TestGaugeFinder : public QObject {
    Q_OBJECT

    std::unique_ptr<TLinkRig> Rig;
    std::unique_ptr<TQuietCommandUi> Ui;
    std::unique_ptr<TGaugeCommands> Commands;

    void CheckLinkAsBefore() {
        const TTransmitterSettings& s = Rig->Link->Transmitter()->Settings();
        QCOMPARE(s.BaudRate, QString("9600"));
        QCOMPARE(s.ReadInterval, 5);
        QCOMPARE(s.ReadTotalConstant, 100);
        QCOMPARE(s.ReadTotalMultiplier, 1);
        QVERIFY(!s.EndByLength);
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 1);
        // The answers to 255 and to the range did not become the current gauge's identity.
        QCOMPARE(int(Rig->Ulmar->PlantNumber), 777);
        QCOMPARE(int(Rig->Ulmar->SoftVersion), 9);
        QVERIFY(!Rig->Ulmar->On32);
        QCOMPARE(Rig->Link->Transmitter()->IsOpen(), WasOpen);
    }
    bool WasOpen = false;

private slots:
    void init() {
        Rig = std::make_unique<TLinkRig>();
        QVERIFY(Rig->SimStarted);
        Rig->Sim->SetOnlyRate(19200);
        Rig->Sim->SetLineRate(TSimServer::LinePortRate);
        Ui = std::make_unique<TQuietCommandUi>();
        Commands = std::make_unique<TGaugeCommands>(Rig->Link.get(), *Ui);
        Rig->Link->Transmitter()->LoadSettings();
        Rig->Ulmar->PlantNumber = 777;
        Rig->Ulmar->SoftVersion = 9;
        WasOpen = Rig->Link->Transmitter()->IsOpen();
    }
    void cleanup() {
        Commands.reset();
        Ui.reset();
        Rig.reset();
    }

    void rateListFastestFirst() {
        const std::vector<int> rates = TGaugeFinder::Rates();
        QCOMPARE(rates.size(), size_t(15));
        QCOMPARE(rates.front(), 256000);
        QCOMPARE(rates.back(), 110);
        QVERIFY(std::is_sorted(rates.rbegin(), rates.rend()));
        // The slowest rate still waits for a whole signature answer, and writes are bounded
        // past the characters' own time.
        const TTransmitterSettings slow = TGaugeFinder::TrySettings({}, 110);
        QVERIFY(slow.ReadTotalConstant >= 16 * 100);
        QVERIFY(slow.ReadInterval >= 200);
        QVERIFY(slow.WriteTotalConstant + 8 * slow.WriteTotalMultiplier > 8 * 100);
        TFoundGauge odd;
        odd.BaudRate = 250000;
        const TTransmitterSettings custom = TGaugeFinder::SettingsFor({}, odd);
        QCOMPARE(custom.BaudRate, QString("Custom"));
        QCOMPARE(custom.CustomBaudRate, 250000);
    }

    // One gauge at 19200 baud, the whole list tried: found once, at its rate only.
    void oneGaugeAt19200() {
        SetSimGauges(*Rig->Sim, {{5, 1005}});
        TGaugeFinder finder(*Commands, nullptr);
        std::vector<TFoundGauge> shown;
        finder.OnGauge = [&shown](const TFoundGauge& g) { shown.push_back(g); };
        const TFinderReport report = finder.Find();
        QVERIFY(report.Refusal.isEmpty());
        QVERIFY(!report.Stopped);
        QCOMPARE(report.Rates.size(), size_t(15));
        for (const TFinderRate& r : report.Rates) {
            QVERIFY(!r.PortFailed);
            QCOMPARE(r.Answered255, r.BaudRate == 19200);
        }
        QCOMPARE(report.Gauges.size(), size_t(1));
        const TFoundGauge& g = report.Gauges[0];
        QCOMPARE(g.BaudRate, 19200);
        QCOMPARE(int(g.SystemAddress), 5);
        QCOMPARE(int(g.PlantNumber), 1005);
        QCOMPARE(int(g.UnitType), 17);
        QCOMPARE(shown.size(), size_t(1));
        QCOMPARE(TGaugeFinder::GaugeText(g),
                 QString("19200 бод, адрес 5: заводской номер 1005, тип 17, АВ 1, ПВ 3"));
        // One request per rate to address 255, and the range at the one rate that answered.
        QCOMPARE(report.Requests, 15 + 17);
        QCOMPARE(Rig->Sim->RequestCount(), 15 + 17);
        CheckLinkAsBefore();
        // The link polls at its own rate again: the gauge at 19200 is silent to it.
        TExchangeReport after;
        Rig->Link->RequestExecUlmar(UlmarCmd::SignatureRead, &after);
        QVERIFY(!after.Answered);
        qInfo("finder over %d rates: %lld ms", int(report.Rates.size()), report.ElapsedMs);
    }

    // Two gauges at one rate garble the answer to 255; the scan finds both.
    void twoGaugesBothReported() {
        SetSimGauges(*Rig->Sim, {{3, 1003}, {7, 1007}});
        TGaugeFinder finder(*Commands, nullptr);
        const TFinderReport report = finder.Find(0, 16, {38400, 19200, 9600});
        QCOMPARE(report.Rates.size(), size_t(3));
        QVERIFY(report.Rates[1].Answered255 && report.Rates[1].Garbled255);
        QVERIFY(report.Notes().isEmpty());
        QCOMPARE(report.Rates[1].Found, 2);
        QCOMPARE(report.Gauges.size(), size_t(2));
        QCOMPARE(int(report.Gauges[0].SystemAddress), 3);
        QCOMPARE(int(report.Gauges[0].PlantNumber), 1003);
        QCOMPARE(int(report.Gauges[1].SystemAddress), 7);
        QCOMPARE(int(report.Gauges[1].PlantNumber), 1007);
        QVERIFY(!report.Rates[0].Answered255 && !report.Rates[2].Answered255);
        CheckLinkAsBefore();

        // Applying the second: the line of both becomes the poll list, kept in the settings,
        // and the chosen one the current gauge.
        QVERIFY(PollFoundGauge(*Rig->Link, report.Gauges, report.Gauges[1]));
        QCOMPARE(Rig->Link->Poller()->Addresses(), (std::vector<quint8>{3, 7}));
        QCOMPARE(Rig->Link->Poller()->LoadAddresses(), (std::vector<quint8>{3, 7}));
        QCOMPARE(int(Rig->Ulmar->SystemAddress), 7);
        // A gauge found alone at another rate does not bring the others into its line.
        TFoundGauge alone = report.Gauges[0];
        alone.BaudRate = 9600;
        alone.SystemAddress = 12;
        std::vector<TFoundGauge> mixed = report.Gauges;
        mixed.push_back(alone);
        QCOMPARE(TGaugeFinder::LineOf(mixed, alone), (std::vector<quint8>{12}));
    }

    // Nothing at any rate: every rate tried once, nothing found, no note, the link as before;
    // a port that does not exist fails at every rate and says why.
    void silentLineAndMissingPort() {
        SetSimGauges(*Rig->Sim, {});
        TGaugeFinder finder(*Commands, nullptr);
        TFinderReport report = finder.Find();
        QVERIFY(!report.Stopped);
        QVERIFY(report.Gauges.empty());
        QCOMPARE(report.Rates.size(), size_t(15));
        QCOMPARE(report.Requests, 15);
        QVERIFY(report.Notes().isEmpty());
        QVERIFY(report.PortError.isEmpty());
        CheckLinkAsBefore();

        TTransmitterSettings missing = Rig->Link->Transmitter()->Settings();
        missing.Port = Rig->Dirs.Work() + "/no-such-port";
        report = finder.Find(0, 16, {19200, 9600}, {}, &missing);
        QCOMPARE(report.Rates.size(), size_t(2));
        QVERIFY(report.Rates[0].PortFailed && report.Rates[1].PortFailed);
        QCOMPARE(report.Requests, 0);
        QVERIFY2(report.PortError.contains("no-such-port"), qPrintable(report.PortError));
        QCOMPARE(report.Notes().size(), qsizetype(2));
        // The link's own port is the one it keeps.
        QCOMPARE(Rig->Link->Transmitter()->Settings().Port, Rig->Sim->PortName());
        CheckLinkAsBefore();
    }

    // A gauge beyond the range is still named by its own answer to 255; two such gauges are
    // told as a note, not as a gauge.
    void outsideTheRange() {
        SetSimGauges(*Rig->Sim, {{40, 1040}});
        TGaugeFinder finder(*Commands, nullptr);
        TFinderReport report = finder.Find(0, 4, {19200});
        QCOMPARE(report.Gauges.size(), size_t(1));
        QCOMPARE(int(report.Gauges[0].SystemAddress), 40);
        QCOMPARE(int(report.Gauges[0].PlantNumber), 1040);

        SetSimGauges(*Rig->Sim, {{40, 1040}, {41, 1041}});
        report = finder.Find(0, 4, {19200});
        QVERIFY(report.Gauges.empty());
        QCOMPARE(report.Rates[0].Notes.size(), qsizetype(1));
        QVERIFY(report.Rates[0].Notes[0].contains("несколько приборов"));
        CheckLinkAsBefore();
    }

    void stopAndRefusal() {
        SetSimGauges(*Rig->Sim, {{5, 1005}});
        TGaugeFinder finder(*Commands, nullptr);
        int calls = 0;
        const TFinderReport report =
            finder.Find(0, 16, {}, [&finder, &calls](int index, const QString&) {
                ++calls;
                if (index == 1)
                    finder.Stop();
            });
        QVERIFY(report.Stopped);
        QCOMPARE(calls, 2);
        QCOMPARE(report.Rates.size(), size_t(1)); // stopped before the second rate's request
        QCOMPARE(report.Requests, 1);
        CheckLinkAsBefore();

        // A stop in the middle of a rate's scan keeps what it found so far.
        SetSimGauges(*Rig->Sim, {{1, 1001}, {2, 1002}, {5, 1005}});
        Rig->Sim->ClearRecords();
        QVERIFY(finder.Start(0, 16, {19200}).isEmpty());
        std::vector<TFoundGauge> shown;
        finder.OnGauge = [&shown](const TFoundGauge& g) { shown.push_back(g); };
        int steps = 0;
        int atStop = -1;
        while (finder.Step()) {
            if (++steps == 4) { // 255, then addresses 0, 1 and 2
                finder.Stop();
                atStop = Rig->Sim->RequestCount();
            }
        }
        QVERIFY(!finder.Running());
        QVERIFY(finder.Report().Stopped);
        QCOMPARE(finder.Report().Gauges.size(), size_t(2));
        QCOMPARE(shown.size(), size_t(2));
        // Nothing went on the line after the stop (a garbled answer may have been asked twice).
        QCOMPARE(Rig->Sim->RequestCount(), atStop);
        QCOMPARE(finder.Report().Requests, atStop);
        CheckLinkAsBefore();

        const TFinderReport refused = finder.Find(10, 3);
        QCOMPARE(refused.Refusal, QString("Начальный системный адрес больше конечного!"));
        QCOMPARE(refused.Requests, 0);
        QVERIFY(!finder.Start(0, 16, {19200, 0}).isEmpty());
        QVERIFY(!finder.Running());
    }
};

QTEST_GUILESS_MAIN(TestGaugeFinder)
#include "tst_finder.moc"
