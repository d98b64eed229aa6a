// Operator commands fired without pause on the user-interface thread while the pacing timer
// keeps the poll cycle running: thousands of exchanges, never two on the line at once, every
// command parsed from its own answer, every exchange logged, no deadlock.

#include "tests/support/LinkRig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>

class TestLinkStress : public QObject {
    Q_OBJECT
private slots:
    void commandsWhilePolling();
};

namespace {
struct TCommandCase {
    int Code;
    double TUlmar::*Field;
    int SimIndex;
    double Value;
};
} // namespace

void TestLinkStress::commandsWhilePolling() {
    constexpr int TargetExchanges = 2000;
    constexpr double Level = 6250.0;
    TRigTimeouts t;
    t.ReadInterval = 3;
    // A wait long enough that a machine busy with other work does not turn a late answer into
    // a timed-out one: what is counted here are answers crossed or lost, which time out at any
    // limit.
    t.ReadTotalConstant = 1000;
    TLinkRig rig(t, 0);
    QVERIFY(rig.SimStarted);

    const TCommandCase cases[] = {
        {UlmarCmd::Relay1Ust1Read, &TUlmar::Relay1Ust1, TSimGauge::Relay1Ust1, 111.25},
        {UlmarCmd::Relay1Ust2Read, &TUlmar::Relay1Ust2, TSimGauge::Relay1Ust2, 222.5},
        {UlmarCmd::Relay2Ust1Read, &TUlmar::Relay2Ust1, TSimGauge::Relay2Ust1, 333.75},
        {UlmarCmd::KrPerOpChRead, &TUlmar::KrPerOpCh, TSimGauge::KrPerOpCh, 0.5},
        {UlmarCmd::SmPerOpChRead, &TUlmar::SmPerOpCh, TSimGauge::SmPerOpCh, 7.25},
    };
    rig.FixGauge(Level);
    rig.Sim->WithSim([&cases](TGaugeSim& sim) {
        for (const TCommandCase& c : cases)
            sim.Gauges[0].Floats[c.SimIndex] = c.Value;
    });

    TDeviceLink& link = *rig.Link;
    std::atomic<int> archived{0};
    link.ArchiveHook = [&archived](const TUlmar&, int) { archived.fetch_add(1); };
    link.SelectedCommands.Include(UlmarCmd::LevelRead);
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    link.SelectedCommands.Include(UlmarCmd::TemperSVChModuleRead);
    // The poller's tick: pause the timer, resume the thread, go on.
    link.Poller()->Timer()->SetInterval(20);
    link.Poller()->Start();

    int commands = 0;
    int wrongResult = 0;
    int wrongValue = 0;
    int wrongState = 0;
    int wrongLevel = 0;
    QElapsedTimer clock;
    clock.start();
    while (rig.Sim->RequestCount() < TargetExchanges && clock.elapsed() < 400000) {
        const TCommandCase& c = cases[commands % std::size(cases)];
        rig.Ulmar.get()->*c.Field = -1.0; // only this command's answer can set it back
        if (link.RequestExecUlmar(c.Code) != 0)
            ++wrongResult;
        if (rig.Ulmar.get()->*c.Field != c.Value)
            ++wrongValue;
        // A parameter read leaves LinkState as it was: 0 until the first reading, then 1.
        if (rig.Ulmar->ErrorCode != 0 || rig.Ulmar->LinkStateCode() == 2)
            ++wrongState;
        const double level = rig.Ulmar->Level->AsDouble();
        if (level != 0.0 && level != Level)
            ++wrongLevel;
        ++commands;
        // Half the time the queued parse jobs wait for the event loop, half the time the next
        // command's wait for the exchange lock runs them.
        if (commands % 2 == 0)
            QCoreApplication::processEvents();
    }
    link.Poller()->Stop();
    QTRY_VERIFY_WITH_TIMEOUT(!link.CycleRunning(), 10000);

    const int exchanges = rig.Sim->RequestCount();
    qInfo("%d exchanges (%d commands) in %lld ms, %d archived", exchanges, commands,
          static_cast<long long>(clock.elapsed()), archived.load());
    QVERIFY2(exchanges >= TargetExchanges, qPrintable(QString::number(exchanges)));
    QCOMPARE(wrongResult, 0);
    QCOMPARE(wrongValue, 0);
    QCOMPARE(wrongState, 0);
    QCOMPARE(wrongLevel, 0);
    QCOMPARE(rig.Ulmar->Level->AsDouble(), Level);

    // The line: one request at a time, each complete, each answered before the next began.
    QCOMPARE(rig.Sim->OverlapCount(), 0);
    QCOMPARE(rig.Sim->DroppedBytes(), 0);
    int bad = -1;
    rig.Sim->WithSim([&bad](TGaugeSim& sim) { bad = sim.BadRequests; });
    QCOMPARE(bad, 0);
    const auto records = rig.Sim->Records();
    int silent = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].Answer.isEmpty())
            ++silent;
        if (i > 0 && records[i - 1].AnswerEndUs >= 0)
            QVERIFY(records[i].FirstByteUs > records[i - 1].AnswerEndUs);
    }
    QCOMPARE(silent, 0);
    // Both sides really ran side by side, and every poll answer was accepted and archived.
    const int polls = exchanges - commands;
    QVERIFY2(polls >= 100, qPrintable(QString::number(polls)));
    QVERIFY(commands >= 500);
    QCOMPARE(archived.load(), polls);
    QCOMPARE(rig.LogBodies().size(), exchanges);
}

QTEST_MAIN(TestLinkStress)
#include "tst_link_stress.moc"
