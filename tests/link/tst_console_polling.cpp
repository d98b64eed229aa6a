// The console's edit commands while the poll cycle runs: an address change, a parameter file
// loaded, the port settings applied, read-all and write-all, all on the user-interface thread
// while the pacing timer keeps resuming the request thread. Run under ThreadSanitizer, a field
// changed outside the exchange lock shows up as a data race; on the line, no exchange may
// overlap another and every command must get its answer.

#include "tests/support/LinkRig.h"
#include "uUlmar.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>

class TestConsolePolling : public QObject {
    Q_OBJECT
private slots:
    void editCommandsWhilePolling();
    void stopWaitsForTheCycle();
};

namespace {

// The read-all and write-all sequences of the main window, as codes (signature first, the
// commit to ROM last).
const int ReadAll[] = {
    UlmarCmd::SignatureRead,         UlmarCmd::Dist1Read,      UlmarCmd::Dist2Read,
    UlmarCmd::Relay1Ust1Read,        UlmarCmd::Relay1Ust2Read, UlmarCmd::Relay2Ust1Read,
    UlmarCmd::KKalmanRead,           UlmarCmd::UserPswRead,    UlmarCmd::ModeImageRead,
    UlmarCmd::ModeCurrentOutputRead, UlmarCmd::ProgramTypeRead};
const int WriteAll[] = {UlmarCmd::Dist1Write,      UlmarCmd::Dist2Write,
                        UlmarCmd::Relay1Ust1Write, UlmarCmd::Relay1Ust2Write,
                        UlmarCmd::Relay2Ust1Write, UlmarCmd::Relay2Ust2Write,
                        UlmarCmd::KKalmanWrite,    UlmarCmd::UserPswWrite,
                        UlmarCmd::ModeImageWrite,  UlmarCmd::ModeCurrentOutputWrite,
                        UlmarCmd::WriteToPZU};

} // namespace

void TestConsolePolling::editCommandsWhilePolling() {
    TRigTimeouts t;
    t.ReadInterval = 3;
    t.ReadTotalConstant = 300;
    TLinkRig rig(t, 0);
    QVERIFY(rig.SimStarted);
    TDeviceLink& link = *rig.Link;
    TUlmar& ulmar = *rig.Ulmar;
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    link.SelectedCommands.Include(UlmarCmd::LevelRead);
    std::atomic<int> archived{0};
    link.ArchiveHook = [&archived](const TUlmar&, int) { archived.fetch_add(1); };
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles);

    const QString file = QDir(rig.Dirs.Prog()).filePath("params.ini");
    QVERIFY(WriteParamFile(ulmar, file));
    int commands = 0;
    int failed = 0;
    const auto run = [&](int code) {
        ++commands;
        if (link.RequestExecUlmar(code) != 0)
            ++failed;
        QCoreApplication::processEvents();
    };
    // Edits in a burst, the user-interface thread touching nothing else meanwhile, while the
    // request thread builds its requests from the same fields.
    QElapsedTimer burst;
    burst.start();
    for (int i = 0; burst.elapsed() < 400; ++i) {
        QVERIFY(link.EditDevice([i](TUlmar& u) {
            u.SystemAddress = 1;
            u.PlantNumber = static_cast<quint16>(i);
        }));
        if (i % 50 == 0)
            ReadParamFile(ulmar, file, &link);
        // The tick, as the pacing timer gives it; the parses run now and then.
        link.ResumeRequestThread();
        if (i % 20 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 1, 10000);
    for (int round = 0; round < 6; ++round) {
        // The change dialogs: the address and a distance, between two exchanges.
        QVERIFY(link.EditDevice([round](TUlmar& u) {
            u.SystemAddress = 1;
            u.SetDist1(1000.0 + round);
        }));
        run(UlmarCmd::Dist1Write);
        // A parameter file written and loaded back into the device object.
        QVERIFY(WriteParamFile(ulmar, file));
        ReadParamFile(ulmar, file, &link);
        QCOMPARE(ulmar.Dist1(), 1000.0 + round);
        // The port settings command: the port closed, changed and reopened in one section.
        if (round % 2 == 0) {
            TTransmitterSettings s = link.Transmitter()->Settings();
            s.ReadTotalConstant = 300 + round;
            QVERIFY(link.ApplyPortSettings(s));
        }
        for (int code : ReadAll)
            run(code);
        for (int code : WriteAll)
            run(code);
    }
    // Polling kept running meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 3, 10000);
    link.Poller()->Stop();
    QVERIFY(link.WaitCycleEnd(10000));
    QCOMPARE(failed, 0);
    QVERIFY(commands > 100);
    QCOMPARE(rig.Sim->OverlapCount(), 0);
    QVERIFY(archived.load() > 0);
}

// Stopping polling waits for the cycle in flight: afterwards no exchange of it is on the line.
void TestConsolePolling::stopWaitsForTheCycle() {
    TRigTimeouts t;
    TLinkRig rig(t, 20); // each answer takes 20 ms: a cycle of three codes is long
    QVERIFY(rig.SimStarted);
    TDeviceLink& link = *rig.Link;
    link.SelectedCommands.Include(UlmarCmd::DistanceRead);
    link.SelectedCommands.Include(UlmarCmd::LevelRead);
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles);
    for (int i = 0; i < 5; ++i) {
        QTRY_VERIFY_WITH_TIMEOUT(link.CycleRunning(), 5000);
        link.Poller()->Stop();
        QVERIFY(link.WaitCycleEnd(10000));
        QVERIFY(!link.CycleRunning());
        const int seen = rig.Sim->RequestCount();
        QTest::qWait(150); // nothing of the cycle comes after its end
        QCOMPARE(rig.Sim->RequestCount(), seen);
        link.Poller()->Start();
    }
    link.Poller()->Stop();
    QVERIFY(link.WaitCycleEnd(10000));
}

QTEST_GUILESS_MAIN(TestConsolePolling)
#include "tst_console_polling.moc"
