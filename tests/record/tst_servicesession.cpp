// A service session against the gauge simulator on a pseudo-terminal: as found, two parameter
// writes (one refused once by the gauge) and a tare table, the run test, as left; then
// session.json and the folder's files read back and the writes list checked against the
// requests the simulator received. A session cut short after any step resumes in a fresh
// object; a finished session is not reopened, another gauge on the line is not recorded.

#include "tests/support/LinkRig.h"
#include "uExchangeDecode.h"
#include "uParamFile.h"
#include "uParamTable.h"
#include "uServiceSession.h"
#include "uTareCommands.h"
#include "uTareFile.h"
#include "uZeroArray.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

class TYesUi : public TQuietCommandUi {
public:
    bool Ask(const QString& text) override {
        Questions << text;
        return true;
    }
};

void Fault(TSimServer& sim, TSimFault fault, int count, double probability = 0, int value = 0) {
    TSimFaultRule rule;
    rule.Count = count;
    rule.Probability = probability;
    rule.Value = value;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

// A gauge with a known set-up: plant number 1001 at address 1, a tare table of 5 points and a
// zero array of 20 positions.
void SetUpGauge(TLinkRig& rig) {
    rig.Sim->WithSim([](TGaugeSim& s) {
        TSimGauge& g = s.Gauges[0];
        g.Floats[TSimGauge::Dist1] = 1000;
        g.Floats[TSimGauge::Dist2] = 15000;
        g.Floats[TSimGauge::Relay1Ust1] = 2000;
        g.FillLinearTare(5);
        g.FillZeroArray(20);
    });
}

TServiceOptions Options(const TLinkRig& rig) {
    TServiceOptions o;
    o.RecordsDir = rig.Dirs.Prog() + QStringLiteral("/Records");
    o.Tolerance = TServiceTolerance{3.0, 0.03};
    return o;
}

// The write requests the simulator received (parameter writes 0xB1..0xB3, tare parts 0xA6, the
// address change 0x25), each with whether its answer was the same command's confirmation.
struct TSeenWrite {
    quint8 Command;
    quint8 Index;
    bool Confirmed;
    bool operator==(const TSeenWrite&) const = default;
};
std::vector<TSeenWrite> SeenWrites(const TSimServer& sim) {
    std::vector<TSeenWrite> seen;
    for (const TSimRecord& r : sim.Records()) {
        if (r.Request.size() < 4)
            continue;
        const quint8 command = static_cast<quint8>(r.Request[1]);
        if (command != 0xB1 && command != 0xB2 && command != 0xB3 && command != 0xA6 &&
            command != 0x25)
            continue;
        const bool confirmed = r.Answer.size() > 1 && static_cast<quint8>(r.Answer[1]) == command;
        seen.push_back({command, static_cast<quint8>(r.Request[3]), confirmed});
    }
    return seen;
}

QString SessionJson(const QString& folder) {
    return folder + QStringLiteral("/session.json");
}

// A session started and then left as a killed program leaves it: open, its object gone.
// Returns its folder, empty when the start failed.
QString StartedAndLeft(TGaugeCommands& commands, const TLinkRig& rig) {
    TServiceSession first(commands, nullptr, Options(rig));
    return first.Start({}, {}, {}) ? first.Folder() : QString();
}

} // namespace

class TestServiceSession : public QObject {
    Q_OBJECT
private slots:
    void wholeSession();
    void resumedAfterEachStep_data();
    void resumedAfterEachStep();
    void notReopenedNorAnotherGauge();
    void silentGaugeIsNoSuccess();
    void twoLogsOnOneLink();
};

void TestServiceSession::wholeSession() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    SetUpGauge(rig);
    TYesUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TServiceSession session(commands, nullptr, Options(rig));
    QVERIFY2(
        session.Start(QStringLiteral("Парк 2"), QStringLiteral("LT-7"), QStringLiteral("Иванов")),
        qPrintable(session.Error()));
    QVERIFY(session.IsOpen());
    QVERIFY(session.Folder().startsWith(rig.Dirs.Prog() + QStringLiteral("/Records/1001/")));
    const TServiceSnapshot& found = session.Record().AsFound;
    QVERIFY(found.Complete());
    QVERIFY(found.Failed.empty());
    QCOMPARE(found.Param(QStringLiteral("Dist1"))->Text, QStringLiteral("1000"));
    QCOMPARE(found.Tare.size(), std::size_t(5));
    QCOMPARE(found.Zero[0], 20);
    // Every exchange on the line so far was the session's.
    const std::size_t startExchanges = rig.Sim->Records().size();
    rig.Sim->ClearRecords();

    // The technician's work: dist.1 written, the first set-point refused once by the gauge and
    // taken on the repeat, a tare table of three points.
    rig.Ulmar->SetDist1(1234.5);
    QCOMPARE(commands.WriteParam(ParamRow(TParamId::Dist1)), TOutcome::Accepted);
    rig.Ulmar->Relay1Ust1 = 2500.25;
    Fault(*rig.Sim, TSimFault::ErrorAnswer, 1, 0, 2);
    QCOMPARE(commands.WriteParam(ParamRow(TParamId::Relay1Ust1)), TOutcome::Accepted);
    TTareCommands tare(commands, nullptr);
    const TTareWriteResult written =
        tare.WriteToGauge({QStringLiteral("three=3"), QStringLiteral("0\t0"),
                           QStringLiteral("5000\t33,3"), QStringLiteral("14000\t100")},
                          QStringLiteral("three"));
    QVERIFY2(written.Committed, qPrintable(written.Message));
    const std::vector<TSeenWrite> seen = SeenWrites(*rig.Sim);
    // The run test as "Установить" leaves it, the last row at the tolerance's edge.
    rig.Ulmar->SetProgonMode(5);
    for (int i = 0; i < 5; ++i) {
        TProgonPoint& p = rig.Ulmar->ProgonPoints[i];
        p.Value = p.Sample - (i == 4 ? 3.0 : 0.5);
        p.CurrentValue = p.CurrentSample + 0.01;
        p.Taken = true;
    }
    rig.Ulmar->RecalcProgon();
    QVERIFY(session.RecordRunTest());

    QVERIFY2(session.Finish(), qPrintable(session.Error()));
    QVERIFY(!session.IsOpen());

    TServiceRecord rec;
    QString error;
    QVERIFY2(LoadServiceRecord(SessionJson(session.Folder()), rec, error), qPrintable(error));
    QCOMPARE(rec.State, TServiceState::Finished);
    QCOMPARE(rec.Technician, QStringLiteral("Иванов"));
    QCOMPARE(rec.Gauge.PlantNumber, 1001);
    QCOMPARE(rec.Gauge.Address, 1);
    QVERIFY(rec.AsLeft.Complete());
    // As found and as left differ in the written parameters alone, each as the gauge answered.
    QStringList changed;
    QCOMPARE(rec.AsLeft.Parameters.size(), rec.AsFound.Parameters.size());
    for (std::size_t i = 0; i < rec.AsFound.Parameters.size(); ++i) {
        QVERIFY(rec.AsLeft.Parameters[i].ReadOk);
        if (rec.AsFound.Parameters[i].Text != rec.AsLeft.Parameters[i].Text)
            changed << rec.AsFound.Parameters[i].Key;
    }
    QCOMPARE(changed, QStringList({"Dist1", "Relay1Ust1"}));
    QCOMPARE(rec.AsLeft.Param("Dist1")->Text, QStringLiteral("1234.5"));
    QCOMPARE(*rec.AsLeft.Param("Relay1Ust1")->Value, 2500.25);
    QCOMPARE(rec.AsLeft.Tare.size(), std::size_t(3));
    QCOMPARE(rec.AsLeft.Tare[1].Level, 5000.0);
    QCOMPARE(float(rec.AsLeft.Tare[1].Volume), 33.3f);
    QCOMPARE(rec.AsLeft.Zero, rec.AsFound.Zero);

    // The writes: exactly those that went on the line, in order, with the gauge's answer.
    QCOMPARE(seen.size(), std::size_t(5));
    QCOMPARE(rec.Writes.size(), seen.size());
    const QList<int> codes = {UlmarCmd::Dist1Write, UlmarCmd::Relay1Ust1Write,
                              UlmarCmd::Relay1Ust1Write, UlmarCmd::TaraLevelWrite,
                              UlmarCmd::TaraVolumeWrite};
    const QStringList values = {"1234.5", "2500.25", "2500.25", "0; 5000; 14000", "0; 33.3; 100"};
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const TServiceWrite& w = rec.Writes[i];
        QCOMPARE(w.Code, codes[int(i)]);
        QCOMPARE(w.Value, values[int(i)]);
        QCOMPARE(w.Outcome == TServiceOutcome::Accepted, seen[i].Confirmed);
        QCOMPARE(w.Address, 1);
        QVERIFY(QDateTime::fromString(w.Time, Qt::ISODateWithMs).isValid());
    }
    QCOMPARE(rec.Writes[1].Outcome, TServiceOutcome::Refused);
    QCOMPARE(rec.Writes[0].Key, QStringLiteral("Dist1"));
    QVERIFY(rec.Writes[3].Key.isEmpty());

    // The run test and its verdict: the last row exactly at 3 mm passes.
    QCOMPARE(rec.RunTest.Rows.size(), std::size_t(5));
    const TServiceVerdict verdict = ServiceVerdict(rec.RunTest, rec.Tolerance);
    QVERIFY(verdict.Done);
    QVERIFY(verdict.Pass);

    // The files read back as the program reads them.
    TUlmar asFound;
    QVERIFY(ReadParamFile(asFound, session.FilePath(rec.AsFound.ParamFile), &error));
    QCOMPARE(asFound.Dist1(), 1000.0);
    TUlmar asLeft;
    QVERIFY(ReadParamFile(asLeft, session.FilePath(rec.AsLeft.ParamFile), &error));
    QCOMPARE(asLeft.Dist1(), 1234.5);
    QString text;
    QVERIFY(ReadTareFile(session.FilePath(rec.AsLeft.TareFile), text, error));
    QVERIFY(text.contains(QStringLiteral("ttFromUlmar=3")));
    const TZeroLoad zero = LoadZeroFile(session.FilePath(rec.AsFound.ZeroFile));
    QVERIFY(zero.Ok);
    QCOMPARE(std::vector<qint32>(zero.Array.begin(), zero.Array.end()), rec.AsFound.Zero);
    // The session's request log holds a line for every exchange of the session, from the first
    // signature request on, as the request log writes it.
    QFile requests(session.FilePath(QStringLiteral("requests.txt")));
    QVERIFY(requests.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = requests.readAll().split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    QCOMPARE(std::size_t(lines.size()), startExchanges + rig.Sim->Records().size());
    TExchangeRecord raw;
    QVERIFY(ParseRequestLogLine(QString::fromUtf8(lines.first()), raw, error));
    QCOMPARE(raw.Code, int(UlmarCmd::SignatureRead));
}

void TestServiceSession::resumedAfterEachStep_data() {
    QTest::addColumn<unsigned>("done");
    QTest::newRow("after the signature") << unsigned(ServiceStepSignature);
    QTest::newRow("after the parameters") << unsigned(ServiceStepSignature | ServiceStepParameters);
    QTest::newRow("after the tare table")
        << unsigned(ServiceStepSignature | ServiceStepParameters | ServiceStepTare);
}

// A program killed after step k left session.json as saved after that step: a fresh object
// resumes and reads only the steps not done.
void TestServiceSession::resumedAfterEachStep() {
    QFETCH(unsigned, done);
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    SetUpGauge(rig);
    TYesUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    const QString folder = StartedAndLeft(commands, rig);
    QVERIFY(!folder.isEmpty());
    TServiceRecord rec;
    QString error;
    QVERIFY(LoadServiceRecord(SessionJson(folder), rec, error));
    rec.AsFound.Done = done;
    QVERIFY(SaveServiceRecord(SessionJson(folder), rec, error));
    QCOMPARE(FindOpenSession(1001, Options(rig).RecordsDir), folder);

    rig.Sim->ClearRecords();
    TServiceSession resumed(commands, nullptr, Options(rig));
    QVERIFY2(resumed.Resume(folder), qPrintable(resumed.Error()));
    QVERIFY(resumed.Record().AsFound.Complete());
    std::map<quint8, int> asked;
    for (const TSimRecord& r : rig.Sim->Records())
        ++asked[static_cast<quint8>(r.Request[1])];
    QCOMPARE(asked[0xB6] > 0, !(done & ServiceStepParameters)); // float parameter reads
    QCOMPARE(asked[0xA5] > 0, !(done & ServiceStepTare));
    QVERIFY(asked[0x83] > 0); // zero blocks
    QVERIFY(LoadServiceRecord(SessionJson(folder), rec, error));
    QVERIFY(rec.AsFound.Complete());
    QCOMPARE(rec.AsFound.Zero.size(), std::size_t(256));
}

void TestServiceSession::notReopenedNorAnotherGauge() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    SetUpGauge(rig);
    TYesUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    const QString folder = StartedAndLeft(commands, rig);
    QVERIFY(!folder.isEmpty());
    // Another gauge answers at the address: nothing of it goes into this session's record.
    rig.Sim->WithSim([](TGaugeSim& s) {
        s.Gauges[0].PlantNumber = 2002;
        s.Gauges[0].Words[0] = 2002;
    });
    TServiceSession other(commands, nullptr, Options(rig));
    QVERIFY(!other.Resume(folder));
    QVERIFY2(other.Error().contains(QStringLiteral("другой прибор")), qPrintable(other.Error()));
    QVERIFY(!other.IsOpen());

    rig.Sim->WithSim([](TGaugeSim& s) {
        s.Gauges[0].PlantNumber = 1001;
        s.Gauges[0].Words[0] = 1001;
    });
    TServiceSession again(commands, nullptr, Options(rig));
    QVERIFY(again.Resume(folder));
    QVERIFY(again.Finish());
    QCOMPARE(FindOpenSession(1001, Options(rig).RecordsDir), QString());
    TServiceSession closed(commands, nullptr, Options(rig));
    QVERIFY(!closed.Resume(folder));
    QVERIFY(closed.Error().contains(QStringLiteral("уже завершена")));
}

// A gauge that falls silent mid-way: the step is recorded as failed with its reason, the session
// stays open, and Finish refuses to close it.
void TestServiceSession::silentGaugeIsNoSuccess() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    SetUpGauge(rig);
    TYesUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TServiceSession session(commands, nullptr, Options(rig));
    QVERIFY(session.Start({}, {}, {}));
    Fault(*rig.Sim, TSimFault::Silence, 0, 1.0);
    QVERIFY(!session.Finish());
    QVERIFY(session.IsOpen());
    TServiceRecord rec;
    QString error;
    QVERIFY(LoadServiceRecord(SessionJson(session.Folder()), rec, error));
    QCOMPARE(rec.State, TServiceState::Open);
    QVERIFY(!rec.AsLeft.IsDone(ServiceStepSignature));
    QVERIFY(!rec.AsLeft.Failed.empty());
    QCOMPARE(rec.AsLeft.Failed[0].Step, QStringLiteral("signature"));
    QVERIFY(rec.AsLeft.Parameters.empty());

    // The line comes back: the finish goes through.
    rig.Sim->WithSim([](TGaugeSim& s) { s.ClearFaults(); });
    QVERIFY2(session.Finish(), qPrintable(session.Error()));
    QVERIFY(LoadServiceRecord(SessionJson(session.Folder()), rec, error));
    QVERIFY(rec.AsLeft.Failed.empty());
    QCOMPARE(rec.State, TServiceState::Finished);
}

// Two sessions' logs on one link (two gauges of a line): each gets every line while it lives,
// and the one removed first leaves the other in place.
void TestServiceSession::twoLogsOnOneLink() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TYesUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    const QString first = rig.Dirs.Work() + QStringLiteral("/first.txt");
    const QString second = rig.Dirs.Work() + QStringLiteral("/second.txt");
    const auto lines = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : -1;
    };
    auto a = std::make_unique<TServiceLogTap>(rig.Link.get(), first);
    {
        TServiceLogTap b(rig.Link.get(), QString());
        QCOMPARE(commands.Once(UlmarCmd::SignatureRead), TOutcome::Accepted);
        b.SetPath(second); // the line kept until now goes in first
        QCOMPARE(commands.Once(UlmarCmd::Dist1Read), TOutcome::Accepted);
        QCOMPARE(lines(second), 2);
    }
    QCOMPARE(commands.Once(UlmarCmd::Dist2Read), TOutcome::Accepted);
    a.reset();
    QCOMPARE(commands.Once(UlmarCmd::Dist2Read), TOutcome::Accepted);
    QCOMPARE(lines(first), 3);
    QCOMPARE(lines(second), 2);
}

QTEST_GUILESS_MAIN(TestServiceSession)
#include "tst_servicesession.moc"
