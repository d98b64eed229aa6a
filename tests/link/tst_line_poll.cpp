// Several gauges on one line: the poll list's round robin (order, one reading poll per gauge
// per round, the signature once), a gauge falling silent in the middle of the list, the current
// gauge switched while polling runs, each gauge archived with its own plant number, and the
// list as typed and kept in the settings.

#include "tests/support/LinkRig.h"
#include "uPoller.h"

#include <QTest>
#include <mutex>
#include <set>

namespace {

// (address, command byte) of every request the simulator saw, in order.
std::vector<std::pair<int, int>> Requests(const TSimServer& sim) {
    std::vector<std::pair<int, int>> requests;
    for (const TSimRecord& record : sim.Records())
        if (record.Request.size() >= 2)
            requests.emplace_back(quint8(record.Request[0]), quint8(record.Request[1]));
    return requests;
}

std::vector<quint8> Range(int first, int last) {
    std::vector<quint8> addresses;
    for (int a = first; a <= last; ++a)
        addresses.push_back(static_cast<quint8>(a));
    return addresses;
}

constexpr int SignatureCommand = 0x20;

} // namespace

class TestLinePoll : public QObject {
    Q_OBJECT
private slots:
    void roundRobinOverTheList_data();
    void roundRobinOverTheList();
    void gaugeFallsSilentInTheMiddle();
    void currentGaugeSwitchedWhilePolling();
    void everyGaugeArchivedWithItsPlantNumber();
    void oneGaugeListPollsAsWithout();
    void listTypedAndKept();
};

void TestLinePoll::roundRobinOverTheList_data() {
    QTest::addColumn<int>("gauges");
    QTest::newRow("1") << 1;
    QTest::newRow("4") << 4;
    QTest::newRow("32") << 32;
}

void TestLinePoll::roundRobinOverTheList() {
    QFETCH(int, gauges);
    TLinkRig rig({}, 1, {}, gauges);
    QVERIFY(rig.SimStarted);
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(rig.Link->SetPollAddresses(Range(1, gauges)));
    rig.Sim->ClearRecords();
    constexpr int Rounds = 3;
    for (int round = 0; round < Rounds; ++round)
        QVERIFY(rig.Link->RunCycle());
    const auto requests = Requests(*rig.Sim);
    // The first round asks each gauge its signature, then its readings; later rounds only the
    // readings; always in the list's order. A single gauge gets no signature: as without a list.
    std::vector<std::pair<int, int>> expected;
    for (int round = 0; round < Rounds; ++round)
        for (int a = 1; a <= gauges; ++a) {
            if (round == 0 && gauges > 1)
                expected.emplace_back(a, SignatureCommand);
            expected.emplace_back(a, 0x01);
        }
    QCOMPARE(requests.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        QCOMPARE(requests[i].first, expected[i].first);
        if (expected[i].second == SignatureCommand)
            QCOMPARE(requests[i].second, SignatureCommand);
        else
            QVERIFY2(requests[i].second != SignatureCommand, qPrintable(QString::number(i)));
    }
    for (int a = 1; a <= gauges; ++a) {
        const TGaugeStats stats = rig.Link->GaugeStats(static_cast<quint8>(a));
        QCOMPARE(stats.Good, stats.Polls);
        QVERIFY(!stats.Silent);
        const TUlmar* model = rig.Link->GaugeModel(static_cast<quint8>(a));
        QVERIFY(model);
        if (gauges > 1)
            QCOMPARE(int(model->PlantNumber), 1000 + a);
    }
    QCOMPARE(rig.Link->Ulmar()->SystemAddress, quint8(1));
}

void TestLinePoll::gaugeFallsSilentInTheMiddle() {
    TLinkRig rig({}, 1, {}, 4);
    QVERIFY(rig.SimStarted);
    QVERIFY(rig.Link->SetPollAddresses(Range(1, 4)));
    QVERIFY(rig.Link->RunCycle());
    const TGaugeStats before = rig.Link->GaugeStats(3);
    QVERIFY(before.LastGoodMs > 0);
    // Gauge 3 leaves the line (its address no longer answers).
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[2].Address = 200; });
    rig.Sim->ClearRecords();
    QVERIFY(rig.Link->RunCycle());
    const TGaugeStats silent = rig.Link->GaugeStats(3);
    QVERIFY(silent.Silent);
    QCOMPARE(silent.Good, before.Good);
    QCOMPARE(silent.Polls, before.Polls + 1);
    QCOMPARE(silent.LastGoodMs, before.LastGoodMs);
    // The round goes on past it: gauge 4 was polled after the silent one and answered.
    const auto requests = Requests(*rig.Sim);
    QCOMPARE(requests.size(), size_t(4));
    QCOMPARE(requests.back().first, 4);
    QVERIFY(!rig.Link->GaugeStats(4).Silent);
    QVERIFY(!rig.Link->GaugeStats(2).Silent);
    QVERIFY(rig.Link->GaugeModel(3)->ErrorCode != 0);
    // Back on the line: marked good again at its next poll.
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[2].Address = 3; });
    QVERIFY(rig.Link->RunCycle());
    QVERIFY(!rig.Link->GaugeStats(3).Silent);
    QCOMPARE(rig.Link->GaugeModel(3)->ErrorCode, 0);
}

void TestLinePoll::currentGaugeSwitchedWhilePolling() {
    TLinkRig rig({}, 1, {}, 3);
    QVERIFY(rig.SimStarted);
    rig.Sim->WithSim([](TGaugeSim& sim) {
        for (int i = 0; i < 3; ++i) {
            sim.Gauges[size_t(i)].LevelMid = 1000.0 * (i + 1);
            sim.Gauges[size_t(i)].LevelSwing = 0.0;
        }
    });
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(rig.Link->SetPollAddresses(Range(1, 3)));
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 20);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 10000);
    TUlmar& model = *rig.Ulmar;
    QCOMPARE(model.PlantNumber, quint16(1001));
    QCOMPARE(model.Level->AsDouble(), 1000.0);

    QVERIFY(rig.Link->SelectGauge(2));
    // At once: the windows' model shows gauge 2 from what its own model knew.
    QCOMPARE(model.SystemAddress, quint8(2));
    QCOMPARE(model.PlantNumber, quint16(1002));
    QCOMPARE(model.Level->AsDouble(), 2000.0);
    // Gauge 1 keeps its own state.
    QCOMPARE(rig.Link->GaugeModel(1)->PlantNumber, quint16(1001));
    QCOMPARE(rig.Link->GaugeModel(1)->Level->AsDouble(), 1000.0);

    // Polling went on for all three; nothing of another gauge reached the current model.
    const quint64 polls1 = rig.Link->GaugeStats(1).Polls;
    const quint64 polls3 = rig.Link->GaugeStats(3).Polls;
    const int seen = cycles.load();
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= seen + 3, 10000);
    QVERIFY(rig.Link->GaugeStats(1).Polls > polls1);
    QVERIFY(rig.Link->GaugeStats(3).Polls > polls3);
    QCOMPARE(model.PlantNumber, quint16(1002));
    QCOMPARE(model.Level->AsDouble(), 2000.0);
    QCOMPARE(rig.Link->GaugeModel(3)->Level->AsDouble(), 3000.0);
    rig.Link->Poller()->Stop();
}

void TestLinePoll::everyGaugeArchivedWithItsPlantNumber() {
    TLinkRig rig({}, 1, {}, 3);
    QVERIFY(rig.SimStarted);
    std::mutex lock;
    std::multiset<int> archived;
    rig.Link->ArchiveHook = [&](const TUlmar& gauge, int code) {
        if (code == UlmarCmd::LevelAllRead) {
            std::lock_guard g(lock);
            archived.insert(gauge.PlantNumber);
        }
    };
    rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
    QVERIFY(rig.Link->SetPollAddresses(Range(1, 3)));
    QVERIFY(rig.Link->RunCycle());
    QVERIFY(rig.Link->RunCycle());
    std::lock_guard g(lock);
    QCOMPARE(archived, (std::multiset<int>{1001, 1001, 1002, 1002, 1003, 1003}));
}

void TestLinePoll::oneGaugeListPollsAsWithout() {
    std::vector<QByteArray> frames[2];
    for (int withList = 0; withList < 2; ++withList) {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        rig.Link->SelectedCommands.Include(UlmarCmd::LevelAllRead);
        rig.Link->SelectedCommands.Include(UlmarCmd::DistanceRead);
        if (withList)
            QVERIFY(rig.Link->SetPollAddresses({1}));
        rig.Sim->ClearRecords();
        QVERIFY(rig.Link->RunCycle());
        QVERIFY(rig.Link->RunCycle());
        for (const TSimRecord& record : rig.Sim->Records())
            frames[withList].push_back(record.Request);
    }
    QCOMPARE(frames[1], frames[0]);
}

void TestLinePoll::listTypedAndKept() {
    QCOMPARE(ParsePollAddresses(" 1, 3;7  3 ").value(), (std::vector<quint8>{1, 3, 7}));
    QCOMPARE(ParsePollAddresses("").value(), std::vector<quint8>());
    QCOMPARE(ParsePollAddresses("0,254").value(), (std::vector<quint8>{0, 254}));
    for (const char* bad : {"255", "1,x", "-1", "1.5", "300", "1,,2a"})
        QVERIFY2(!ParsePollAddresses(QString::fromLatin1(bad)), bad);

    TLinkRig rig({}, 1, {}, 2);
    QVERIFY(rig.Link->SetPollAddresses({2, 1}));
    // The current gauge (address 1) is in the list: it stays current.
    QCOMPARE(rig.Ulmar->SystemAddress, quint8(1));
    QVERIFY(rig.Link->Poller()->SaveAddresses());
    QCOMPARE(rig.Link->Poller()->LoadAddresses(), (std::vector<quint8>{2, 1}));
    // A list without the current gauge makes its first gauge the current one.
    QVERIFY(rig.Link->SetPollAddresses({2}));
    QCOMPARE(rig.Ulmar->SystemAddress, quint8(2));
    QVERIFY(!rig.Link->SelectGauge(255));
}

QTEST_MAIN(TestLinePoll)
#include "tst_line_poll.moc"
