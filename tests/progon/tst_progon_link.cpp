// The run test's commands against the gauge simulator on a pseudo-terminal: the start and stop
// sequences on the line (dist.1, dist.2, current-output mode, display mode, one commit to ROM),
// polling stopped around them and restarted only when it ran, a failed step that commits
// nothing and ends in one message; "Установить" refused without fresh readings and taking them
// while polling runs; the tape change and the template.

#include "tests/support/LinkRig.h"
#include "uProgonCommands.h"

#include <QCoreApplication>
#include <QHash>
#include <QTest>
#include <atomic>
#include <cmath>
#include <deque>

namespace {

// Questions answered from a script (No when it has run out); everything else as the quiet one.
class TScriptUi : public TQuietCommandUi {
public:
    bool Ask(const QString& text) override {
        Questions << text;
        if (Answers.empty())
            return false;
        const bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    std::deque<bool> Answers;
};

// Polling as the test says it is, without a timer.
class TFakePoll : public IPollControl {
public:
    bool PollingRunning() const override { return Running; }
    void StopPolling() override { Running = false; }
    void StartPolling() override { Running = true; }
    bool Running = false;
};

// The command code of a request frame: its command byte and, for the parameter families, the
// byte that selects the parameter.
int CodeOf(const QByteArray& frame) {
    static const auto key = [](const QByteArray& f) {
        if (f.size() < 2)
            return QByteArray();
        const quint8 command = static_cast<quint8>(f[1]);
        const bool selected = command == 0x01 || command == 0xA5 || command == 0xA6 ||
                              (command >= 0xB1 && command <= 0xB6);
        return selected ? f.mid(1, 3) : f.mid(1, 1);
    };
    static const QHash<QByteArray, int> codes = [] {
        QHash<QByteArray, int> k;
        TUlmar probe;
        probe.SystemAddress = 1;
        for (int code = 0; code <= TUlmar::MaxRequestCode; ++code)
            k.insert(key(EncodeRequest(probe, code)), code);
        return k;
    }();
    return codes.value(key(frame), -1);
}

QList<int> Codes(const TSimServer& sim) {
    QList<int> codes;
    for (const TSimRecord& r : sim.Records())
        codes << CodeOf(r.Request);
    return codes;
}

// The codes other than the poll's all-readings request.
QList<int> CommandCodes(const TSimServer& sim) {
    QList<int> codes = Codes(sim);
    codes.removeAll(UlmarCmd::LevelAllRead);
    return codes;
}

const QList<int> SequenceCodes = {UlmarCmd::Dist1Write, UlmarCmd::Dist2Write,
                                  UlmarCmd::ModeCurrentOutputWrite, UlmarCmd::ModeImageWrite,
                                  UlmarCmd::WriteToPZU};
// A start reads the signature first.
const QList<int> StartCodes = QList<int>{UlmarCmd::SignatureRead} + SequenceCodes;

void Fault(TSimServer& sim, TSimFault fault, int count, int value = 0) {
    TSimFaultRule rule;
    rule.Count = count;
    rule.Value = value;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

// Readings as a parse would leave them, aged by ageMs.
void Readings(TUlmar& u, double level, double current, int levelAgeMs, int currentAgeMs) {
    const TDateTime now = NowDateTime();
    u.LinkState->SetValue(TVariant::FromByte(1));
    u.Level->SetValue(TVariant::FromDouble(level), now - levelAgeMs / 86400000.0);
    u.CurrentOutput->SetValue(TVariant::FromDouble(current), now - currentAgeMs / 86400000.0);
}

bool SameTable(const TUlmar& a, const std::array<TProgonPoint, 5>& b) {
    for (std::size_t i = 0; i < 5; ++i) {
        const TProgonPoint &x = a.ProgonPoints[i], &y = b[i];
        if (x.Ruletka != y.Ruletka || x.Sample != y.Sample || x.Value != y.Value ||
            x.dValue != y.dValue || x.CurrentSample != y.CurrentSample ||
            x.CurrentValue != y.CurrentValue || x.dCurrentValue != y.dCurrentValue)
            return false;
    }
    return true;
}

} // namespace

class TestProgonLink : public QObject {
    Q_OBJECT
private slots:
    // With polling running: stopped before the first write, the four writes and one commit in
    // order with no poll between them, polling running again afterwards; the gauge holds the
    // run configuration. The template's currents are those of dist.2 15 000, not of the 30 000
    // the device object held before.
    void startWhilePolling() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TDeviceLink& link = *rig.Link;
        link.Poller()->DeviceList[0]->Enabled = true;
        link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
        rig.Ulmar->SetDist2(30000);
        std::atomic<int> cycles{0};
        rig.StartPolling(cycles);
        QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 10000);

        TScriptUi ui;
        ui.Answers = {true}; // the template
        TGaugeCommands commands(&link, ui);
        TTimerPollControl poll(&link);
        TProgonCommands progon(commands, poll);
        rig.Sim->WithSim([](TGaugeSim& s) {
            s.Gauges[0].PlantNumber = 4321;
            s.Gauges[0].HardVersion = 2;
            s.Gauges[0].SoftVersion = 7;
        });
        rig.Sim->ClearRecords();
        const TProgonRunReport report = progon.Start();
        QList<int> during = Codes(*rig.Sim);
        // A poll already on the line when the records were cleared may come before the run
        // test's first request; none may come after it.
        while (!during.isEmpty() && during.first() == UlmarCmd::LevelAllRead)
            during.removeFirst();
        QVERIFY(report.Ok());
        QVERIFY(report.PollingWasRunning);
        QVERIFY(report.TemplateFilled);
        QCOMPARE(ui.Questions, QStringList{"Создать шаблон прогона?"});
        QVERIFY(ui.Warnings.isEmpty());
        QCOMPARE(during, StartCodes);
        // The signature is taken for the report without its box.
        QVERIFY(ui.Information.isEmpty());
        QCOMPARE(rig.Ulmar->PlantNumber, quint16(4321));
        QCOMPARE(rig.Ulmar->HardVersion, quint8(2));
        QCOMPARE(rig.Ulmar->SoftVersion, quint8(7));
        QVERIFY(link.Poller()->Running());
        const int before = cycles.load();
        QTRY_VERIFY_WITH_TIMEOUT(cycles.load() > before, 10000);
        link.Poller()->Stop();
        QVERIFY(link.WaitCycleEnd(10000));

        QCOMPARE(CommandCodes(*rig.Sim), StartCodes);
        rig.Sim->WithSim([](TGaugeSim& s) {
            const TSimGauge& g = s.Gauges[0];
            QCOMPARE(g.Floats[TSimGauge::Dist1], 1000.0);
            QCOMPARE(g.Floats[TSimGauge::Dist2], 15000.0);
            QCOMPARE(g.RomSaves, 1);
        });
        const TUlmar& u = *rig.Ulmar;
        QCOMPARE(u.Dist2(), 15000.0);
        QCOMPARE(u.ModeCurrentOutput, quint8(2));
        QCOMPARE(u.ModeImage, quint8(2));
        QCOMPARE(u.ProgonPoints[1].CurrentSample, 15.0);
        QCOMPARE(u.ProgonPoints[0].CurrentSample, 20.0);
        QVERIFY(!ui.CommitDeferred());
    }

    // Polling stopped before stays stopped; no template when the question is answered No.
    void stopWithPollingStopped() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TTimerPollControl poll(rig.Link.get());
        TProgonCommands progon(commands, poll);
        rig.Ulmar->ProgonPoints[2].Value = 7400;
        rig.Ulmar->RecalcProgon();
        const auto table = rig.Ulmar->ProgonPoints;

        const TProgonRunReport started = progon.Start();
        QVERIFY(started.Ok());
        QVERIFY(!started.TemplateFilled);
        QVERIFY(SameTable(*rig.Ulmar, table));
        QVERIFY(!rig.Link->Poller()->Running());

        rig.Sim->ClearRecords();
        const TProgonRunReport stopped = progon.Stop();
        QVERIFY(stopped.Ok());
        QVERIFY(!stopped.PollingWasRunning);
        QCOMPARE(ui.Questions, QStringList{"Создать шаблон прогона?"}); // Start's only
        QCOMPARE(Codes(*rig.Sim), SequenceCodes);
        QVERIFY(!rig.Link->Poller()->Running());
        rig.Sim->WithSim([](TGaugeSim& s) {
            const TSimGauge& g = s.Gauges[0];
            QCOMPARE(g.Floats[TSimGauge::Dist2], 30000.0);
            QCOMPARE(g.RomSaves, 2);
        });
        QCOMPARE(rig.Ulmar->ModeCurrentOutput, quint8(1));
        QCOMPARE(rig.Ulmar->ModeImage, quint8(1));
        // The run's table is kept for the report: the working dist.2 does not recompute it.
        QVERIFY(SameTable(*rig.Ulmar, table));
    }

    // A gauge silent to the signature: told, and the run configuration still written and
    // committed.
    void signatureFailureTold() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TTimerPollControl poll(rig.Link.get());
        TProgonCommands progon(commands, poll);
        Fault(*rig.Sim, TSimFault::Silence, 5);
        const TProgonRunReport report = progon.Start();
        QVERIFY(!report.SignatureRead);
        QVERIFY(!report.Ok());
        QVERIFY(report.Committed);
        QCOMPARE(ui.Warnings, QStringList{TProgonCommands::SignatureFailureText()});
        QCOMPARE(Codes(*rig.Sim), QList<int>(5, UlmarCmd::SignatureRead) + SequenceCodes);
    }

    // A step whose every attempt fails: the other writes still go, nothing is committed, and
    // one message lists the failed step.
    void failedStepNoCommit_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("failing"); // 0 dist.1, 1 dist.2
        QTest::newRow("silent dist.1") << int(TSimFault::Silence) << 0;
        QTest::newRow("error answers to dist.2") << int(TSimFault::ErrorAnswer) << 1;
    }
    void failedStepNoCommit() {
        QFETCH(int, fault);
        QFETCH(int, failing);
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        const QString failedHint = failing == 0 ? "Записать dist.1 - Неизмеряемый участок"
                                                : "Записать dist.2 - Максимальный уровень";
        // The fault is armed when the failing write starts, for its five attempts.
        struct TArmingUi : TScriptUi {
            std::function<void()> Arm;
            QString Step;
            void Progress(const QString& text, int, int) override {
                if (Arm && text.endsWith(Step)) {
                    Arm();
                    Arm = nullptr;
                }
            }
        } ui;
        ui.Step = failedHint;
        ui.Arm = [&] { Fault(*rig.Sim, TSimFault(fault), 5, 1); };
        TGaugeCommands commands(rig.Link.get(), ui);
        TTimerPollControl poll(rig.Link.get());
        TProgonCommands progon(commands, poll);
        rig.Sim->ClearRecords();
        const TProgonRunReport report = progon.Start();
        QVERIFY(!report.Ok());
        QVERIFY(!report.Committed);
        QCOMPARE(report.Failed, QStringList{failedHint});
        QCOMPARE(ui.Warnings, QStringList{TProgonCommands::FailureText({failedHint})});
        const QList<int> codes = Codes(*rig.Sim);
        QVERIFY(!codes.contains(UlmarCmd::WriteToPZU));
        QCOMPARE(codes.count(failing == 0 ? UlmarCmd::Dist1Write : UlmarCmd::Dist2Write), 5);
        QCOMPARE(codes.count(UlmarCmd::ModeImageWrite), 1);
        rig.Sim->WithSim([](TGaugeSim& s) { QCOMPARE(s.Gauges[0].RomSaves, 0); });
        QVERIFY(!ui.CommitDeferred());
    }

    // Without polling, with a silent gauge, with a level or a current older than the limit:
    // a message and the table unchanged. Fresh readings fill the row and its differences.
    void setPointNeedsFreshReadings() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TFakePoll poll;
        TProgonCommands progon(commands, poll);
        TUlmar& u = *rig.Ulmar;
        const auto table = u.ProgonPoints;
        const int limit = progon.FreshnessLimitMs();
        QVERIFY(limit >= 2 * rig.Link->Poller()->Interval());

        Readings(u, 11200, 14.9, 0, 0);
        TSetPointResult r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::PollingOff);
        QCOMPARE(r.Message, QStringLiteral("Точка не записана: опрос не запущен."));
        QVERIFY(SameTable(u, table));

        poll.Running = true;
        u.LinkState->SetValue(TVariant::FromByte(2));
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::LinkDown);
        QCOMPARE(r.Message, QStringLiteral("Точка не записана: прибор не отвечает (") +
                                rig.Link->Transmitter()->Settings().Port +
                                QStringLiteral(", 9600 бод)."));
        QVERIFY(SameTable(u, table));

        Readings(u, 11200, 14.9, limit + 500, 0);
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::Stale);
        QCOMPARE(r.Message, QStringLiteral("Точка не записана: уровень не обновлялся дольше ") +
                                QString::number(limit) + QStringLiteral(" мс."));
        Readings(u, 11200, 14.9, 0, limit + 500);
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::Stale);
        QVERIFY(r.Message.startsWith("Точка не записана: ток не обновлялся дольше "));
        // A time stamp ahead of the clock is no fresher.
        Readings(u, 11200, 14.9, -(limit + 500), 0);
        QCOMPARE(progon.SetPoint().End, TSetPointEnd::Stale);
        QVERIFY(SameTable(u, table));
        QVERIFY(ui.Questions.isEmpty());

        // Outside every row: nothing, and no message.
        Readings(u, 10900, 14.9, 0, 0);
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::NoRow);
        QVERIFY(r.Message.isEmpty());
        QVERIFY(SameTable(u, table));

        Readings(u, 11200, 14.9, limit / 4, limit / 4);
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::Recorded);
        QCOMPARE(r.Row, 2);
        const TProgonPoint& p = u.ProgonPoints[1];
        QCOMPARE(p.Value, 11200.0);
        QCOMPARE(p.CurrentValue, 14.9);
        QCOMPARE(p.dValue, 50.0);
        QCOMPARE(p.CurrentSample, 11200 * 20 / 15000.0);
        QCOMPARE(p.dCurrentValue, 11200 * 20 / 15000.0 - 14.9);
        QVERIFY(!r.StopAsked);

        // Row 5 asks to stop; No keeps the gauge as it is (nothing on the line).
        rig.Sim->ClearRecords();
        Readings(u, 120, 0.3, 0, 0);
        r = progon.SetPoint();
        QCOMPARE(r.Row, 5);
        QVERIFY(r.StopAsked);
        QVERIFY(!r.StopRan);
        QCOMPARE(ui.Questions, QStringList{"Остановить прогон?"});
        QVERIFY(rig.Sim->Records().empty());

        // dist.2 of 0: the differences stay finite.
        u.SetDist2(0);
        Readings(u, 7450, 9.9, 0, 0);
        QCOMPARE(progon.SetPoint().Row, 3);
        for (const TProgonPoint& q : u.ProgonPoints)
            QVERIFY(std::isfinite(q.CurrentSample) && std::isfinite(q.dCurrentValue));
    }

    // Row 5 and Yes: the stop sequence runs.
    void lastRowStops() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        ui.Answers = {true};
        TGaugeCommands commands(rig.Link.get(), ui);
        TFakePoll poll;
        poll.Running = true;
        TProgonCommands progon(commands, poll);
        rig.Sim->ClearRecords();
        Readings(*rig.Ulmar, 10, 0.1, 0, 0);
        const TSetPointResult r = progon.SetPoint();
        QVERIFY(r.StopRan);
        QCOMPARE(Codes(*rig.Sim), SequenceCodes);
        QVERIFY(poll.Running); // restarted: it ran before
        QCOMPARE(rig.Ulmar->Dist2(), 30000.0);
    }

    // Real polling of the gauge and the КАЛИСТ-1: the readings are fresh and the row takes
    // them; polling the gauge alone leaves the current stale.
    void setPointWhilePolling() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TDeviceLink& link = *rig.Link;
        rig.FixGauge(3800);
        rig.Sim->WithSim([](TGaugeSim& s) { s.Kalist.Enabled = true; });
        link.Poller()->DeviceList[0]->Enabled = true;
        link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
        TScriptUi ui;
        TGaugeCommands commands(&link, ui);
        TTimerPollControl poll(&link);
        TProgonCommands progon(commands, poll);
        std::atomic<int> cycles{0};
        rig.StartPolling(cycles);
        QTRY_VERIFY_WITH_TIMEOUT(rig.Ulmar->LinkStateCode() == 1 &&
                                     std::fabs(rig.Ulmar->Level->AsDouble() - 3800) < 1,
                                 10000);
        // The current meter has never answered.
        QTest::qWait(progon.FreshnessLimitMs() + 200);
        TSetPointResult r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::Stale);

        link.Poller()->DeviceList[1]->Enabled = true;
        const int start = cycles.load();
        QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= start + 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(progon.Refusal().isEmpty(), 10000);
        r = progon.SetPoint();
        QCOMPARE(r.End, TSetPointEnd::Recorded);
        QCOMPARE(r.Row, 4);
        const TProgonPoint& p = rig.Ulmar->ProgonPoints[3];
        QVERIFY(std::fabs(p.Value - 3800) < 1);
        QVERIFY(p.CurrentValue > 4 && p.CurrentValue < 20);
        QCOMPARE(p.dValue, p.Sample - p.Value);
        link.Poller()->Stop();
        QVERIFY(link.WaitCycleEnd(10000));
    }

    // Row 2's tape to 5000: Sample and Value 11 000, reference current 14.667; the differences
    // stay those of the last "Установить"; no value (a cancelled dialog) changes nothing.
    void tapeChange() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TFakePoll poll;
        TProgonCommands progon(commands, poll);
        TUlmar& u = *rig.Ulmar;
        u.ProgonPoints[1].Value = 11230;
        u.ProgonPoints[1].CurrentValue = 14.9;
        u.RecalcProgon();
        const auto table = u.ProgonPoints;
        QVERIFY(!progon.ChangeRuletka(2, std::nullopt));
        QVERIFY(!progon.ChangeRuletka(2, 20001));
        QVERIFY(!progon.ChangeRuletka(6, 5000));
        QVERIFY(SameTable(u, table));

        QVERIFY(progon.ChangeRuletka(2, 5000));
        const TProgonPoint& p = u.ProgonPoints[1];
        QCOMPARE(p.Ruletka, 5000.0);
        QCOMPARE(p.Sample, 11000.0);
        QCOMPARE(p.Value, 11000.0);
        QCOMPARE(std::round(p.CurrentSample * 1000) / 1000, 14.667);
        QCOMPARE(p.dValue, table[1].dValue);
        QCOMPARE(p.dValue, 20.0);
        QCOMPARE(p.dCurrentValue, table[1].dCurrentValue);
        QVERIFY(rig.Sim->Records().empty());
    }

    void createTemplate() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TScriptUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TFakePoll poll;
        TProgonCommands progon(commands, poll);
        TUlmar& u = *rig.Ulmar;
        u.ProgonPoints[0].Value = 14990;
        u.RecalcProgon();
        const auto table = u.ProgonPoints;
        QVERIFY(!progon.CreateTemplate()); // No
        QVERIFY(SameTable(u, table));
        ui.Answers = {true};
        QVERIFY(progon.CreateTemplate());
        QCOMPARE(u.ProgonPoints[0].Value, 15000.0);
        QCOMPARE(ui.Questions, (QStringList{"Создать шаблон прогона?", "Создать шаблон прогона?"}));
    }
};

QTEST_GUILESS_MAIN(TestProgonLink)
#include "tst_progon_link.moc"
