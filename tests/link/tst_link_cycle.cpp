// The poll cycle on the request thread: round-robin over the device list, one cycle per
// resume, the archive of accepted answers only, and a shut-down that never hangs.

#include "tests/support/LinkRig.h"
#include "uBDE.h"
#include "uDataCtrl.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <mutex>
#include <thread>

class TestLinkCycle : public QObject {
    Q_OBJECT
private slots:
    void deviceListAtStartUp();
    void roundRobinBothEnabled();
    void onlyGaugeEnabled();
    void meterEnabledWhilePolling();
    void emptySelectionStillCounts();
    void noDeviceEnabled();
    void resumeWhileRunningDoesNothing();
    void archiveHookOnlyForAcceptedAnswers();
    void archiveOnlyNewReadings();
    void archiveTablesAndTextLines();
    void exclusiveSectionKeepsTheLineFree();
    void shutdownDuringSilentCycle();
    void shutdownWithParsePendingAndNoEventLoop();

private:
    // Records the device name of every finished cycle.
    struct TCycles {
        std::mutex Lock;
        QStringList Names;
        int Count() {
            std::lock_guard g(Lock);
            return Names.size();
        }
        QStringList Get() {
            std::lock_guard g(Lock);
            return Names;
        }
    };
    static void Watch(TLinkRig& rig, TCycles& cycles) {
        rig.Link->CycleDone = [&cycles](const QString& name) {
            std::lock_guard g(cycles.Lock);
            cycles.Names << name;
        };
    }
    // Resumes the thread as the tick does and waits, running events, until the cycle is over.
    static bool RunOneCycle(TLinkRig& rig, TCycles& cycles, int timeoutMs = 5000) {
        const int before = cycles.Count();
        rig.Link->ResumeRequestThread();
        QElapsedTimer clock;
        clock.start();
        while (cycles.Count() == before) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QTest::qWait(2);
        }
        return true;
    }
    static QStringList RequestKinds(const TLinkRig& rig) {
        QStringList kinds;
        for (const TSimRecord& r : rig.Sim->Records())
            kinds << (r.Request.size() == 5 &&
                              r.Request.startsWith(QByteArray("\x01\x00\x01\x00", 4))
                          ? "K"
                          : QString::number(quint8(r.Request.at(1)), 16));
        return kinds;
    }
};

void TestLinkCycle::deviceListAtStartUp() {
    TLinkRig rig;
    QCOMPARE(int(rig.Link->Poller()->DeviceList.size()), 2);
    const TListDevice& gauge = *rig.Link->Poller()->DeviceList[0];
    const TListDevice& meter = *rig.Link->Poller()->DeviceList[1];
    QCOMPARE(gauge.Kind, quint8(0));
    QCOMPARE(gauge.Name, QStringLiteral("УЛМАР-50"));
    QVERIFY(gauge.Enabled.load());
    QCOMPARE(meter.Kind, quint8(1));
    QCOMPARE(meter.Number, 1);
    QCOMPARE(meter.Name, QStringLiteral("КАЛИСТ-1"));
    QVERIFY(!meter.Enabled.load());
    QCOMPARE(rig.Link->Poller()->Timer()->Name(), QStringLiteral("ctReqDevices"));
    QVERIFY(rig.Link->SelectedCommands.Codes().empty());
    QCOMPARE(rig.Link->DisplayRadix.load(), 16);
}

void TestLinkCycle::roundRobinBothEnabled() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Kalist.Enabled = true; });
    rig.Link->Poller()->DeviceList[1]->Enabled = true;
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    for (int i = 0; i < 4; ++i)
        QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(cycles.Get(), (QStringList{"КАЛИСТ-1", "УЛМАР-50", "КАЛИСТ-1", "УЛМАР-50"}));
    QCOMPARE(RequestKinds(rig), (QStringList{"K", "1", "K", "1"}));
    QCOMPARE(rig.Link->Poller()->Position(), 0);
    QVERIFY(rig.Ulmar->CurrentOutput->AsDouble() > 3.9); // the meter's answer was parsed
}

void TestLinkCycle::onlyGaugeEnabled() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    for (int i = 0; i < 3; ++i)
        QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(cycles.Get(), (QStringList{"УЛМАР-50", "УЛМАР-50", "УЛМАР-50"}));
    QCOMPARE(RequestKinds(rig), (QStringList{"1", "2", "1", "2", "1", "2"})); // ascending codes
}

void TestLinkCycle::meterEnabledWhilePolling() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    QVERIFY(RunOneCycle(rig, cycles));
    rig.Link->Poller()->DeviceList[1]->Enabled = true;
    QVERIFY(RunOneCycle(rig, cycles));
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(cycles.Get(), (QStringList{"УЛМАР-50", "КАЛИСТ-1", "УЛМАР-50"}));
}

void TestLinkCycle::emptySelectionStillCounts() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(cycles.Get(), QStringList{"УЛМАР-50"});
    QCOMPARE(rig.Sim->RequestCount(), 0);
}

void TestLinkCycle::noDeviceEnabled() {
    TLinkRig rig;
    rig.Link->Poller()->DeviceList[0]->Enabled = false;
    QVERIFY(!rig.Link->Poller()->AnyDeviceEnabled());
    QCOMPARE(rig.Link->Poller()->NextDevice(), -1);
    QVERIFY(!rig.Link->RunCycle());
    rig.Link->Poller()->DeviceList[1]->Enabled = true;
    QVERIFY(rig.Link->Poller()->AnyDeviceEnabled());
    QCOMPARE(rig.Link->Poller()->NextDevice(), 1);
    QCOMPARE(rig.Link->Poller()->NextDevice(), 1);
}

void TestLinkCycle::resumeWhileRunningDoesNothing() {
    TRigTimeouts t;
    t.ReadTotalConstant = 150;
    t.ReadTotalMultiplier = 0;
    TLinkRig rig(t);
    TCycles cycles;
    Watch(rig, cycles);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {0, 1.0, 0, 0}); });
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelFreeRead);
    rig.Link->ResumeRequestThread();
    QTRY_VERIFY_WITH_TIMEOUT(rig.Link->CycleRunning(), 2000);
    for (int i = 0; i < 5; ++i) {
        rig.Link->ResumeRequestThread();
        QTest::qWait(20);
    }
    QTRY_COMPARE_WITH_TIMEOUT(cycles.Count(), 1, 5000);
    QTest::qWait(300);
    QCOMPARE(cycles.Count(), 1);
    QCOMPARE(rig.Sim->RequestCount(), 2);
}

void TestLinkCycle::archiveHookOnlyForAcceptedAnswers() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    std::mutex lock;
    QList<int> archived;
    rig.Link->ArchiveHook = [&](const TUlmar&, int code) {
        std::lock_guard g(lock);
        archived << code;
    };
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    rig.Link->SelectedCommands.Include(UlmarCmd::VolumeRead);
    rig.Link->SelectedCommands.Include(UlmarCmd::KalistCurrent); // never a gauge exchange
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::BadChecksum, {1, 0, 0, 0}); });
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(rig.Sim->RequestCount(), 2);
    {
        std::lock_guard g(lock);
        QCOMPARE(archived, QList<int>{UlmarCmd::VolumeRead});
    }
    // The meter: archived as 80 when its answer is accepted, not when it is silent.
    rig.Link->Poller()->DeviceList[0]->Enabled = false;
    rig.Link->Poller()->DeviceList[1]->Enabled = true;
    QVERIFY(RunOneCycle(rig, cycles));
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Kalist.Enabled = true; });
    QVERIFY(RunOneCycle(rig, cycles));
    std::lock_guard g(lock);
    QCOMPARE(archived, (QList<int>{UlmarCmd::VolumeRead, UlmarCmd::KalistCurrent}));
}

// A poll whose answer stored no readings is not archived: an error answer of code 5 or more or
// of code 0, and an answer of another kind leave LinkState at 1 from the poll before, whose
// readings must not be archived again under a new stamp.
void TestLinkCycle::archiveOnlyNewReadings() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    std::mutex lock;
    int archived = 0;
    rig.Link->ArchiveHook = [&](const TUlmar&, int) {
        std::lock_guard g(lock);
        ++archived;
    };
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(1));
    const auto archivedNow = [&] {
        std::lock_guard g(lock);
        return archived;
    };
    QCOMPARE(archivedNow(), 1);
    const TSimFaultRule once{1, 0.0, 5, 0};
    rig.Sim->WithSim([&](TGaugeSim& sim) { sim.SetFault(TSimFault::ErrorAnswer, once); });
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(1)); // left from the poll before
    QCOMPARE(archivedNow(), 1);
    rig.Sim->WithSim([&](TGaugeSim& sim) { sim.SetFault(TSimFault::ErrorAnswer, {1, 0.0, 0, 0}); });
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(archivedNow(), 1);
    rig.Sim->WithSim([&](TGaugeSim& sim) {
        sim.SetFault(TSimFault::UnknownCommand, {1, 0.0, 0x60, 0});
    });
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(1));
    QCOMPARE(archivedNow(), 1);
    // A good answer again is archived again.
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(archivedNow(), 2);
}

void TestLinkCycle::archiveTablesAndTextLines() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    const QString root = rig.Dirs.Root.filePath("archive");
    SetArchiveRoot(root);
    rig.Link->ArchiveHook = [](const TUlmar& gauge, int code) { ArchivePollAnswer(gauge, code); };
    rig.FixGauge(6000.0);
    rig.Link->SelectedCommands.Include(UlmarCmd::VolumeRead);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(RunOneCycle(rig, cycles));

    const QString day = ArchiveDayDir(NowDateTime());
    auto lines = [&day](const QString& table) {
        QFile f(JoinPath(day, table + ".txt"));
        if (!f.open(QIODevice::ReadOnly))
            return QStringList();
        return QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    };
    auto decimals = [](const QString& line) {
        const auto m = QRegularExpression(R"([.,](\d+)$)").match(line);
        return m.hasMatch() ? m.captured(1).size() : 0;
    };
    const QStringList v = lines("V");
    QCOMPARE(v.size(), 2);
    QCOMPARE(decimals(v[0]), 1); // command 4
    QCOMPARE(decimals(v[1]), 2); // command 6
    for (const QString table : {"Lt", "Hu", "Lc"}) {
        QCOMPARE(lines(table).size(), 1);
        QCOMPARE(decimals(lines(table)[0]), 1);
    }
    bool ok = false;
    QCOMPARE(int(QueryArchive(day, ArchiveSelectStatement("V", 0, 0), &ok).size()), 2);
    QVERIFY(ok);
    const auto hu = QueryArchive(day, ArchiveSelectStatement("Hu", 0, 0), &ok);
    QCOMPARE(int(hu.size()), 1);
    QCOMPARE(hu[0].V, 6000.0);

    // A cycle whose answers fail adds nothing.
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::BadChecksum, {2, 0, 0, 0}); });
    QVERIFY(RunOneCycle(rig, cycles));
    QCOMPARE(lines("V").size(), 2);
    QCOMPARE(lines("Hu").size(), 1);
    QCOMPARE(int(QueryArchive(day, ArchiveSelectStatement("V", 0, 0), &ok).size()), 2);
}

void TestLinkCycle::exclusiveSectionKeepsTheLineFree() {
    TLinkRig rig;
    TCycles cycles;
    Watch(rig, cycles);
    for (int code = 0; code <= 6; ++code)
        rig.Link->SelectedCommands.Include(code);
    rig.Link->ResumeRequestThread();
    QTRY_VERIFY_WITH_TIMEOUT(rig.Sim->RequestCount() >= 2, 2000); // parses run meanwhile
    qint64 startUs = 0;
    qint64 endUs = 0;
    int nestedCommand = 0;
    bool nestedSection = true;
    bool reopened = false;
    const bool ran = rig.Link->RunExclusive([&] {
        startUs = TSimServer::NowUs();
        rig.Link->Transmitter()->ClosePort();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        nestedCommand = rig.Link->RequestExecUlmar(UlmarCmd::LevelRead); // refused: no deadlock
        nestedSection = rig.Link->RunExclusive([] {});
        reopened = rig.Link->Transmitter()->OpenPort();
        endUs = TSimServer::NowUs();
    });
    QVERIFY(ran);
    QCOMPARE(nestedCommand, -1);
    QVERIFY(!nestedSection);
    QVERIFY(reopened);
    QTRY_COMPARE_WITH_TIMEOUT(cycles.Count(), 1, 5000);
    int inside = 0;
    for (const TSimRecord& r : rig.Sim->Records())
        if (r.FirstByteUs >= startUs && r.FirstByteUs <= endUs)
            ++inside;
    QCOMPARE(inside, 0);
    QCOMPARE(rig.Sim->RequestCount(), 7); // the cycle went on after the section
    QCOMPARE(rig.Ulmar->ErrorCode, 0);
}

void TestLinkCycle::shutdownDuringSilentCycle() {
    TRigTimeouts t;
    t.ReadTotalConstant = 200;
    t.ReadTotalMultiplier = 1;
    auto rig = std::make_unique<TLinkRig>(t);
    rig->Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {0, 1.0, 0, 0}); });
    for (int code = 0; code <= 5; ++code)
        rig->Link->SelectedCommands.Include(code); // about 2.5 s of exchanges
    rig->Link->ResumeRequestThread();
    QTRY_VERIFY_WITH_TIMEOUT(rig->Link->CycleRunning(), 2000);
    QTest::qWait(50);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig->Link->Shutdown());
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(rig->Sim->RequestCount() < 6); // the cycle stopped early
    rig.reset();
}

void TestLinkCycle::shutdownWithParsePendingAndNoEventLoop() {
    auto rig = std::make_unique<TLinkRig>();
    rig->Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    rig->Link->ResumeRequestThread();
    // No events are processed: the request thread now waits for its parse job.
    QVERIFY(rig->Sim->WaitForRequests(1, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QElapsedTimer clock;
    clock.start();
    rig->Link.reset(); // abandons the job and joins
    QVERIFY(clock.elapsed() < 1500);
    QCOMPARE(rig->LogBodies().size(), 1);
    QVERIFY(rig->LogBodies()[0].endsWith("] Error in RequestThread.Synchronize "));
    QCOMPARE(rig->Ulmar->LinkStateCode(), quint8(0)); // never parsed
    rig.reset();
}

QTEST_MAIN(TestLinkCycle)
#include "tst_link_cycle.moc"
