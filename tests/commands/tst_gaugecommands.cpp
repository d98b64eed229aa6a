// The command layer without a widget, against the gauge simulator on a pseudo-terminal: write
// and read back through the table, a locked gauge's refused parameter, one commit to ROM per
// group of writes, a file compared with the gauge, a silent gauge, repeats of a garbled answer,
// the signature handler, and all of it while the poll cycle runs.

#include "tests/support/LinkRig.h"
#include "uGaugeCommands.h"
#include "uParamFile.h"

#include <QCoreApplication>
#include <QTest>
#include <algorithm>
#include <atomic>

namespace {

// For every parameter of the write set a value three quarters into its change dialog's range
// (the last radio item where it has no dialog): inside what the gauge takes, and other than
// the simulator's and a fresh device object's.
void FillWanted(TUlmar& u) {
    u.Name = "Ulmar";
    for (const TParamRow* row : BulkRows(TBulkDirection::Write, true)) {
        const double value = row->Dialog.Prompt
                                 ? row->Dialog.Min + 0.75 * (DialogMax(u, *row) - row->Dialog.Min)
                                 : row->RadioFirst + static_cast<double>(row->Radio.size()) - 1;
        SetParamNumber(u, *row, value);
    }
}

QList<quint8> Commands(const TSimServer& sim) {
    QList<quint8> bytes;
    for (const TSimRecord& r : sim.Records())
        bytes << static_cast<quint8>(r.Request.at(1));
    return bytes;
}

void Lock(TSimServer& sim, int parameter) {
    TSimFaultRule rule;
    rule.Value = parameter;
    rule.Probability = 1;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(TSimFault::LockedWrite, rule); });
}

void Fault(TSimServer& sim, TSimFault fault, int count, double probability = 0) {
    TSimFaultRule rule;
    rule.Count = count;
    rule.Probability = probability;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

} // namespace

class TestGaugeCommands : public QObject {
    Q_OBJECT
private slots:
    void writeThenReadBack_data() {
        QTest::addColumn<bool>("factory");
        QTest::newRow("common set") << false;
        QTest::newRow("with the factory set") << true;
    }
    // Every parameter of the set goes to the gauge and comes back into a device object that
    // held other values: the table's codes and fields agree with the gauge's.
    void writeThenReadBack() {
        QFETCH(bool, factory);
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TQuietCommandUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TUlmar wanted;
        FillWanted(wanted);
        const auto writeSet = BulkRows(TBulkDirection::Write, factory);
        const TBulkReport written = commands.WriteAndVerify(writeSet, wanted);
        QVERIFY(written.AllAccepted());
        QVERIFY(ui.Warnings.isEmpty());
        rig.Sim->WithSim([](TGaugeSim& s) {
            QCOMPARE(s.Gauges[0].Floats[TSimGauge::Dist1], 37500.0);
            QCOMPARE(s.Gauges[0].Words[1], quint16(49151)); // the password
        });

        // A fresh device object on the same line reads them all back.
        rig.Link->EditDevice([](TUlmar& u) {
            TUlmar fresh;
            for (const TParamRow& row : ParamRows())
                if (row.ReadCode >= 0)
                    CopyParam(u, fresh, row);
        });
        rig.Sim->ClearRecords();
        const TBulkReport read = commands.ReadAll(factory);
        QVERIFY(read.AllAccepted());
        QCOMPARE(read.Steps.size(), BulkRows(TBulkDirection::Read, factory).size());
        for (const TParamRow* row : writeSet)
            QVERIFY2(ParamEqual(*rig.Ulmar, wanted, *row), row->Key);
        QCOMPARE(Commands(*rig.Sim).first(), quint8(0x20)); // the signature first
        QCOMPARE(ui.Information.size(), 1);
        QVERIFY(ui.Information[0].startsWith("Сигнатура прибора|Системный адрес: 1\n"));
        QVERIFY(!rig.Ulmar->On32);
    }

    // The locked gauge acknowledges dist.2 but keeps it: the read-back names exactly that
    // parameter, the others took, and the group is committed once, between the writes and
    // the reads.
    void lockedGaugeRefusesOne() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        Lock(*rig.Sim, 0xB303);
        TQuietCommandUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TUlmar wanted;
        FillWanted(wanted);
        const auto rows = BulkRows(TBulkDirection::Write, false);
        const TBulkReport report = commands.WriteAndVerify(rows, wanted);
        QCOMPARE(report.NotTaken, (std::vector<const TParamRow*>{&ParamRow(TParamId::Dist2)}));
        QCOMPARE(report.Commit, TOutcome::Accepted);
        QVERIFY(std::all_of(report.Steps.begin(), report.Steps.end(), [](const TParamOutcome& s) {
            return s.Outcome == TOutcome::Accepted;
        }));
        QCOMPARE(rig.Ulmar->Dist2(), 15000.0); // read back: the gauge's own value
        QCOMPARE(rig.Ulmar->Dist1(), 37500.0);
        const QList<quint8> sent = Commands(*rig.Sim);
        QCOMPARE(sent.count(0xA2), 1);
        const qsizetype commit = sent.indexOf(0xA2);
        QCOMPARE(commit, qsizetype(rows.size()));
        QCOMPARE(sent.size(), qsizetype(2 * rows.size() + 1));
        rig.Sim->WithSim([](TGaugeSim& s) { QCOMPARE(s.Gauges[0].RomSaves, 1); });
        QVERIFY(!ui.CommitDeferred());
    }

    void failedWriteCommitsNothing_data() {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("fault");
        QTest::newRow("write all, refused") << false << int(TSimFault::ErrorAnswer);
        QTest::newRow("write all, silent") << false << int(TSimFault::Silence);
        QTest::newRow("write and verify, refused") << true << int(TSimFault::ErrorAnswer);
        QTest::newRow("write and verify, silent") << true << int(TSimFault::Silence);
    }
    // A gauge that refuses or does not answer the writes: the group stops at the first failed
    // write, its five attempts, and no commit goes to ROM (dist.1's own commit-after-failure
    // included); the unwritten rows are not taken and not shown as read back.
    void failedWriteCommitsNothing() {
        QFETCH(bool, verify);
        QFETCH(int, fault);
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        Fault(*rig.Sim, static_cast<TSimFault>(fault), 0, 1);
        TQuietCommandUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        const auto rows = BulkRows(TBulkDirection::Write, false);
        TUlmar wanted;
        FillWanted(wanted);
        const TBulkReport report =
            verify ? commands.WriteAndVerify(rows, wanted) : commands.WriteAll(false);
        QCOMPARE(report.Steps.size(), size_t(1));
        QVERIFY(report.Steps.front().Outcome != TOutcome::Accepted);
        QVERIFY(report.CommitSkipped);
        QVERIFY(report.Commit != TOutcome::Accepted);
        QVERIFY(!report.AllAccepted());
        QCOMPARE(rig.Sim->RequestCount(), 5);
        QVERIFY(!Commands(*rig.Sim).contains(0xA2));
        rig.Sim->WithSim([](TGaugeSim& s) { QCOMPARE(s.Gauges[0].RomSaves, 0); });
        QCOMPARE(ui.Warnings.size(), 2);
        QVERIFY(ui.Warnings[1].contains("Сохранение в ПЗУ не выполнено"));
        if (verify) {
            QCOMPARE(report.NotTaken, rows);
            QCOMPARE(report.NotReadBack, rows);
        }
        QVERIFY(!ui.CommitDeferred());
    }

    // The writes take and the read-back goes unanswered: every row is not taken and not read
    // back, so no report shows the written value as the gauge's.
    void readBackUnansweredIsNotRead() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        struct TSilenceAtReadBack : TQuietCommandUi {
            TSimServer* Sim = nullptr;
            void Progress(const QString& text, int, int) override {
                if (text.startsWith(QStringLiteral("Повтор команды Считать")))
                    Fault(*Sim, TSimFault::Silence, 0, 1);
            }
        } ui;
        ui.Sim = rig.Sim.get();
        TGaugeCommands commands(rig.Link.get(), ui);
        const auto rows = BulkRows(TBulkDirection::Write, false);
        TUlmar wanted;
        FillWanted(wanted);
        const TBulkReport report = commands.WriteAndVerify(rows, wanted);
        QVERIFY(!report.CommitSkipped);
        QCOMPARE(report.Commit, TOutcome::Accepted);
        QCOMPARE(report.NotTaken, rows);
        QCOMPARE(report.NotReadBack, rows);
    }

    // The file's set beside the gauge's: exactly the parameters changed on the gauge differ.
    void fileComparedWithGauge() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TQuietCommandUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        const auto rows = BulkRows(TBulkDirection::Write, true);
        TUlmar wanted;
        FillWanted(wanted);
        QVERIFY(commands.WriteAndVerify(rows, wanted).AllAccepted());
        const QString file = rig.Dirs.Prog() + "/gauge.ini";
        QVERIFY(WriteParamFile(wanted, file));
        rig.Sim->WithSim([](TGaugeSim& s) {
            s.Gauges[0].Floats[TSimGauge::Relay2Ust2] = 4500;
            s.Gauges[0].Bytes[2] = static_cast<quint8>(-13); // TemperCompareTermostat
        });
        TUlmar fromFile;
        fromFile.Name = "Ulmar";
        QString error;
        QVERIFY2(LoadParamSet(file, rows, fromFile, error), qPrintable(error));
        const TBulkReport read = commands.ReadRows(rows);
        QVERIFY(read.AllAccepted());
        QStringList differ;
        for (const TParamRow* row : rows)
            if (!ParamEqual(*rig.Ulmar, fromFile, *row))
                differ << row->Key;
        QCOMPARE(differ, (QStringList{"Relay2Ust2", "TemperCompareTermostat"}));
    }

    // A silent gauge: the reads end at the first one, after its five attempts.
    void silentGaugeEndsTheReads() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        Fault(*rig.Sim, TSimFault::Silence, 0, 1);
        TQuietCommandUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        const TBulkReport report = commands.ReadRows(BulkRows(TBulkDirection::Read, false), true);
        QCOMPARE(report.Steps.size(), size_t(1));
        QVERIFY(report.Silent());
        QCOMPARE(rig.Sim->RequestCount(), 5);
        QCOMPARE(ui.Warnings.size(), 1);
        QCOMPARE(rig.Ulmar->ErrorText, rig.NoAnswerText());
    }

    void garbledAnswerRepeated_data() {
        QTest::addColumn<bool>("untilAccepted");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("outcome");
        QTest::newRow("as the window does") << false << 1 << int(TOutcome::Refused);
        QTest::newRow("until the parser takes it") << true << 3 << int(TOutcome::Accepted);
    }
    // Two answers with a wrong checksum: the window takes the first answer as the end of its
    // repeats (and the outcome says the parser refused it), the command line repeats.
    void garbledAnswerRepeated() {
        QFETCH(bool, untilAccepted);
        QFETCH(int, requests);
        QFETCH(int, outcome);
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        Fault(*rig.Sim, TSimFault::BadChecksum, 2);
        TQuietCommandUi ui;
        TCommandOptions options;
        options.RetryUntilAccepted = untilAccepted;
        TGaugeCommands commands(rig.Link.get(), ui, options);
        QCOMPARE(int(commands.ReadParam(ParamRow(TParamId::Dist1))), outcome);
        QCOMPARE(rig.Sim->RequestCount(), requests);
        QVERIFY(ui.Warnings.isEmpty());
    }

    // A failed signature read leaves its handler on the device object; the command layer takes
    // it away when it goes, so a later identification answer reaches nothing that is gone.
    void signatureHandlerLeftIsTakenAway() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        {
            TQuietCommandUi ui;
            TGaugeCommands commands(rig.Link.get(), ui);
            Fault(*rig.Sim, TSimFault::Silence, 5);
            QCOMPARE(commands.ReadSignature(), TOutcome::NoAnswer);
            QVERIFY(rig.Ulmar->On32);
        }
        QVERIFY(!rig.Ulmar->On32);
        QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::SignatureRead), 0);

        // A handler another command set since stays.
        TQuietCommandUi ui;
        auto commands = std::make_unique<TGaugeCommands>(rig.Link.get(), ui);
        Fault(*rig.Sim, TSimFault::Silence, 5);
        commands->ReadSignature();
        int seen = 0;
        rig.Link->EditDevice([&seen](TUlmar& u) {
            u.On32 = [&seen](TUlmar*, quint8, quint8, quint16, quint8, quint8) { ++seen; };
        });
        commands.reset();
        QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::SignatureRead), 0);
        QCOMPARE(seen, 1);
        rig.Ulmar->On32 = nullptr;
    }

    // The sequences while the poll cycle runs: every exchange gets its turn, none overlaps on
    // the line, and what is written reads back.
    void sequencesWhilePolling() {
        TRigTimeouts t;
        t.ReadInterval = 3;
        t.ReadTotalConstant = 300;
        TLinkRig rig(t, 0);
        QVERIFY(rig.SimStarted);
        TDeviceLink& link = *rig.Link;
        link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
        std::atomic<int> cycles{0};
        rig.StartPolling(cycles);
        TQuietCommandUi ui;
        TGaugeCommands commands(&link, ui);
        TUlmar wanted;
        FillWanted(wanted);
        for (int round = 0; round < 3; ++round) {
            wanted.SetDist1(1000 + round);
            const TBulkReport written =
                commands.WriteAndVerify(BulkRows(TBulkDirection::Write, true), wanted);
            QVERIFY(written.AllAccepted());
            QVERIFY(commands.ReadAll(true).AllAccepted());
            QCOMPARE(rig.Ulmar->Dist1(), 1000.0 + round);
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 10000);
        link.Poller()->Stop();
        QVERIFY(link.WaitCycleEnd(10000));
        QCOMPARE(rig.Sim->OverlapCount(), 0);
        QVERIFY(ui.Warnings.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestGaugeCommands)
#include "tst_gaugecommands.moc"
