// The poller (pacing timer, running state, poll list) against the simulator, and the exchange
// publisher's delivery across threads: once each, in order, on the user-interface thread,
// bounded while that thread does not come round.

#include "tests/support/LinkRig.h"
#include "uExchangePublisher.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <mutex>
#include <thread>
#include <vector>

class TestPoller : public QObject {
    Q_OBJECT
private slots:
    void startAndStopTellTheirState();
    void nothingEnabledStopsPolling();
    void heldTicksStartNothing();
    void deadPortKeepsTheState();
    void publishedOnceInOrderAcrossThreads();
    void waitingRecordsAreBounded();
    void nothingQueuedWithoutReceiver();
};

namespace {

QList<bool> States(const QSignalSpy& spy) {
    QList<bool> states;
    for (const QList<QVariant>& args : spy)
        states << args.at(0).toBool();
    return states;
}

TExchangeRecord Numbered(int code) {
    TExchangeRecord record;
    record.Code = code;
    record.Request = QByteArray(1, char(code & 0xFF));
    return record;
}

} // namespace

void TestPoller::startAndStopTellTheirState() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TPoller& poller = *rig.Link->Poller();
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    QSignalSpy changed(&poller, &TPoller::runningChanged);
    QSignalSpy ticked(&poller, &TPoller::ticked);
    QVERIFY(!poller.Running());

    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 50);
    QVERIFY(poller.Running());
    QVERIFY(poller.Timer()->IsRunning());
    QCOMPARE(States(changed), QList<bool>{true});
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 5000);
    QVERIFY(ticked.count() >= 2);
    // While a tick refreshes, polling still runs: the pause of the timer is not a stop.
    bool runningInTick = false;
    connect(&poller, &TPoller::ticked, this, [&] { runningInTick = poller.Running(); });
    QTRY_VERIFY_WITH_TIMEOUT(runningInTick, 5000);

    // Stop returns once the cycle in flight has ended: nothing of it comes afterwards.
    QTRY_VERIFY_WITH_TIMEOUT(rig.Link->CycleRunning(), 5000);
    poller.Stop();
    QVERIFY(!rig.Link->CycleRunning());
    QVERIFY(!poller.Running());
    QVERIFY(!poller.Timer()->IsRunning());
    const int seen = rig.Sim->RequestCount();
    QTest::qWait(200);
    QCOMPARE(rig.Sim->RequestCount(), seen);
    // A stop while stopped tells the state again; a new start polls again.
    poller.Stop();
    QCOMPARE(States(changed), (QList<bool>{true, false, false}));
    const int before = cycles.load();
    poller.Start();
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() > before, 5000);
    poller.Stop();
    QCOMPARE(States(changed), (QList<bool>{true, false, false, true, false}));
}

void TestPoller::nothingEnabledStopsPolling() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TPoller& poller = *rig.Link->Poller();
    for (auto& device : poller.DeviceList)
        device->Enabled = false;
    QVERIFY(!poller.AnyDeviceEnabled());
    QCOMPARE(poller.NextDevice(), -1);
    QSignalSpy changed(&poller, &TPoller::runningChanged);
    QSignalSpy ticked(&poller, &TPoller::ticked);
    poller.Timer()->SetInterval(20);
    poller.Start();
    QTRY_VERIFY_WITH_TIMEOUT(!poller.Running(), 3000);
    QCOMPARE(States(changed), (QList<bool>{true, false}));
    QVERIFY(!poller.Timer()->IsRunning());
    QCOMPARE(ticked.count(), 0);
    QCOMPARE(rig.Sim->RequestCount(), 0);
}

void TestPoller::heldTicksStartNothing() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TPoller& poller = *rig.Link->Poller();
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 20);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 1, 5000);
    poller.HoldTicks(true);
    // The tick after the hold pauses the timer; the state stays "running".
    QTRY_VERIFY_WITH_TIMEOUT(!poller.Timer()->IsRunning(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.Link->CycleRunning(), 5000);
    const int seen = rig.Sim->RequestCount();
    QTest::qWait(150);
    QCOMPARE(rig.Sim->RequestCount(), seen);
    QVERIFY(poller.Running());
    poller.HoldTicks(false);
    poller.Stop();
    QVERIFY(!poller.Running());
}

void TestPoller::deadPortKeepsTheState() {
    TLinkRig rig({}, 1, QStringLiteral("/dev/ulmar-no-such-port"));
    TPoller& poller = *rig.Link->Poller();
    QVERIFY(!rig.Link->Transmitter()->IsOpen());
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    QSignalSpy changed(&poller, &TPoller::runningChanged);
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 20);
    // Cycles go on while every exchange fails on the port; polling stays on until stopped.
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 5000);
    QVERIFY(poller.Running());
    QVERIFY(rig.Link->Ulmar()->ErrorCode != 0);
    poller.Stop();
    QVERIFY(!poller.Running());
    QCOMPARE(States(changed), (QList<bool>{true, false}));
}

void TestPoller::publishedOnceInOrderAcrossThreads() {
    TExchangePublisher publisher;
    std::vector<int> sunk;
    bool sinkOffOrder = false;
    publisher.Sink = [&](const TExchangeRecord& record) {
        // The sink runs on the publishing thread, under the caller's exchange order.
        sinkOffOrder = sinkOffOrder || record.Code != int(sunk.size());
        sunk.push_back(record.Code);
    };
    std::vector<int> delivered;
    bool offThread = false;
    connect(&publisher, &TExchangePublisher::exchanged, this, [&](const TExchangeRecord& record) {
        offThread = offThread || QThread::currentThread() != thread();
        delivered.push_back(record.Code);
    });
    // Exchanges of the request thread and of this thread, one at a time as the exchange lock
    // lets them, numbered in the order they took place.
    constexpr int Total = 1500;
    std::mutex exchangeLock;
    int next = 0;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (;;) {
            std::lock_guard lock(exchangeLock);
            if (next >= Total)
                break;
            publisher.Publish(Numbered(next++));
        }
        done = true;
    });
    int ownPublished = 0;
    bool ownAtOnce = true;
    while (!done.load()) {
        {
            std::lock_guard lock(exchangeLock);
            if (next < Total) {
                publisher.Publish(Numbered(next++));
                ++ownPublished;
                // This thread's own exchange goes out at once, after every earlier one.
                ownAtOnce = ownAtOnce && !delivered.empty() && delivered.back() == next - 1;
            }
        }
        QCoreApplication::processEvents();
    }
    worker.join();
    QVERIFY(ownAtOnce);
    QTRY_COMPARE(int(delivered.size()), Total);
    QCoreApplication::processEvents();
    QCOMPARE(int(delivered.size()), Total);
    for (int i = 0; i < Total; ++i)
        QCOMPARE(delivered[size_t(i)], i);
    QVERIFY(!offThread);
    QCOMPARE(int(sunk.size()), Total);
    QVERIFY(!sinkOffOrder);
    QCOMPARE(publisher.DroppedCount(), quint64(0));
    qInfo("%d of %d published on the user-interface thread", ownPublished, Total);
}

void TestPoller::waitingRecordsAreBounded() {
    TExchangePublisher publisher;
    std::vector<int> delivered;
    connect(&publisher, &TExchangePublisher::exchanged, this,
            [&](const TExchangeRecord& record) { delivered.push_back(record.Code); });
    TExchangeListener listener(publisher.Ring());
    const int extra = 300;
    const int total = TExchangePublisher::PendingCapacity + extra;
    // The user-interface thread does not come round meanwhile.
    std::thread worker([&] {
        for (int i = 0; i < total; ++i)
            publisher.Publish(Numbered(i));
    });
    worker.join();
    QCOMPARE(publisher.DroppedCount(), quint64(extra));
    QCOMPARE(publisher.Ring()->Size(), publisher.Ring()->Capacity());
    QTRY_COMPARE(int(delivered.size()), TExchangePublisher::PendingCapacity);
    // The newest are kept, in order.
    for (size_t i = 0; i < delivered.size(); ++i)
        QCOMPARE(delivered[i], extra + int(i));
}

void TestPoller::nothingQueuedWithoutReceiver() {
    TExchangePublisher publisher;
    int sunk = 0;
    publisher.Sink = [&](const TExchangeRecord&) { ++sunk; };
    std::thread worker([&] {
        for (int i = 0; i < 10; ++i)
            publisher.Publish(Numbered(i));
    });
    worker.join();
    QCOMPARE(sunk, 10);
    QCOMPARE(publisher.Ring()->Size(), 0); // no listener: the ring keeps nothing
    int delivered = 0;
    connect(&publisher, &TExchangePublisher::exchanged, this,
            [&](const TExchangeRecord&) { ++delivered; });
    QTest::qWait(50);
    QCOMPARE(delivered, 0);
    publisher.Publish(Numbered(10)); // this thread: delivered at once
    QCOMPARE(delivered, 1);
    // Disconnected, nothing more comes.
    disconnect(&publisher, &TExchangePublisher::exchanged, this, nullptr);
    publisher.Publish(Numbered(11));
    QTest::qWait(20);
    QCOMPARE(delivered, 1);
}

QTEST_GUILESS_MAIN(TestPoller)
#include "tst_poller.moc"
