// ulmar-cli's record start killed with SIGKILL while it reads the gauge as found: whatever the
// moment, the session folder holds a whole session.json (the last step saved), and record
// finish goes on from there, reading the steps the killed run did not save. Run as a plain
// user, as a technician runs it.

#include "tests/support/CliRig.h"
#include "uServiceRecord.h"

#include <QDir>
#include <QDirIterator>
#include <QTest>
#include <QThread>

namespace {

// The session folders under the program folder's Records.
QStringList SessionFolders(const QString& prog) {
    QStringList folders;
    QDirIterator it(prog + QStringLiteral("/Records"), {QStringLiteral("session.json")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        folders << QFileInfo(it.next()).path();
    return folders;
}

} // namespace

class TestRecordCli : public TCliTest {
    Q_OBJECT

    // Starts record start as the plain user and kills it once `killed` says so, or after
    // `afterMs`; false when it ended on its own first.
    bool KillStart(int afterMs, const std::function<bool()>& killNow = {}) {
        QProcess p;
        StartAsPlainUser(p);
        p.start(QStringLiteral(ULMAR_CLI_PATH),
                {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(), "record", "start",
                 "--technician", QStringLiteral("Иванов")});
        if (!p.waitForStarted(5000))
            return false;
        const QDeadlineTimer deadline(afterMs);
        while (!deadline.hasExpired() && !(killNow && killNow()))
            if (p.waitForFinished(5))
                return false;
        p.kill();
        p.waitForFinished(5000);
        // The killed program's exclusive flag stays on a pseudo-terminal (a serial port drops it
        // at its last close): the gauge is served on a fresh one.
        return SlowGauge();
    }
    bool SlowGauge() {
        // Slow answers, so that the read as found takes a few seconds.
        return StartSim({"--delay", "15", "--plant", "4321"}) && GiveToPlainUser(Dirs->Root.path());
    }

private slots:
    void init() {
        NewDirs();
        PlainUser = true;
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        QVERIFY(SlowGauge());
    }
    void cleanup() { DropDirs(); }

    void killedMidwayResumes();
    void killedAtAnyMomentLeavesWholeJson();
};

void TestRecordCli::killedMidwayResumes() {
    // Killed once the tare table is saved: the zero array's read is under way.
    const auto tareSaved = [this] {
        const QStringList folders = SessionFolders(Dirs->Prog());
        TServiceRecord rec;
        QString error;
        return !folders.isEmpty() &&
               LoadServiceRecord(folders[0] + QStringLiteral("/session.json"), rec, error) &&
               rec.AsFound.IsDone(ServiceStepTare);
    };
    QVERIFY(KillStart(30000, tareSaved));
    const QStringList folders = SessionFolders(Dirs->Prog());
    QCOMPARE(folders.size(), 1);
    TServiceRecord rec;
    QString error;
    QVERIFY2(LoadServiceRecord(folders[0] + QStringLiteral("/session.json"), rec, error),
             qPrintable(error));
    QCOMPARE(rec.State, TServiceState::Open);
    QVERIFY(!rec.AsFound.IsDone(ServiceStepZero));
    QCOMPARE(rec.Technician, QStringLiteral("Иванов"));

    const TCliRun run = Cli({"--json", "record", "finish", folders[0]});
    QVERIFY2(run.Exit == 0, run.Err);
    const QJsonObject record = run.Json()["record"].toObject();
    QCOMPARE(record["state"].toString(), QStringLiteral("finished"));
    QVERIFY(LoadServiceRecord(folders[0] + QStringLiteral("/session.json"), rec, error));
    QVERIFY(rec.AsFound.Complete());
    QVERIFY(rec.AsLeft.Complete());
    QCOMPARE(rec.AsFound.Zero, rec.AsLeft.Zero);
    QVERIFY(QFile::exists(folders[0] + QStringLiteral("/zeroAsFound.txt")));
}

void TestRecordCli::killedAtAnyMomentLeavesWholeJson() {
    int killed = 0;
    for (int ms = 150; ms <= 1950; ms += 300)
        killed += KillStart(ms) ? 1 : 0;
    QVERIFY(killed >= 5);
    const QStringList folders = SessionFolders(Dirs->Prog());
    QVERIFY(!folders.isEmpty());
    for (const QString& folder : folders) {
        TServiceRecord rec;
        QString error;
        QVERIFY2(LoadServiceRecord(folder + QStringLiteral("/session.json"), rec, error),
                 qPrintable(error));
        QCOMPARE(rec.Gauge.PlantNumber, 4321);
        // No temporary file of a save left beside it is taken for the record.
        for (const QString& name : QDir(folder).entryList(QDir::Files))
            QVERIFY2(!name.endsWith(QStringLiteral(".json")) || name == "session.json",
                     qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(TestRecordCli)
#include "tst_record_cli.moc"
