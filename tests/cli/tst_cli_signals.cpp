// ulmar-cli interrupted by Ctrl+C (SIGINT) or SIGTERM in the middle of its work, against a
// simulator in this process (so that its records tell what reached the line): params write and
// tare write stop between two exchanges and commit nothing to ROM, tare write also while it
// waits for its answer on the terminal; watch keeps what it printed; decode stops while it
// waits on a pipe; archive export stops between two rows; zero watch keeps every snapshot it
// reported and no other. Each ends with 128 + the signal's number and says "прервано".

#include "tests/support/CliRig.h"
#include "tests/support/JsonSchemaCheck.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include "uSimServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

// Ten rows of a tare file, CR LF line ends.
QByteArray TenRows() {
    QByteArray text = "ten=10\r\n";
    for (int i = 0; i < 10; ++i)
        text += QByteArray::number(i * 1000) + "\t" + QByteArray::number(i * 10) + "\r\n";
    return text + "\r\n";
}

} // namespace

class TestCliSignals : public TCliTest {
    Q_OBJECT

    std::unique_ptr<TSimServer> Server;
    const TJsonSchemaCheck Schema = TJsonSchemaCheck::FromFile(QStringLiteral(ULMAR_CLI_SCHEMA));

    // The simulator answers every request after `delayMs`, so that a sequence is seen running.
    bool StartServer(int delayMs) {
        Server = std::make_unique<TSimServer>();
        Server->SetAnswerDelay(delayMs);
        return Server->Start() && UsePort(Server->PortName());
    }
    int RomSaves() {
        int saves = -1;
        Server->WithSim([&saves](TGaugeSim& sim) { saves = sim.Gauges[0].RomSaves; });
        return saves;
    }
    // Every request the simulator took came whole and got its answer: no exchange was cut.
    void CheckExchangesWhole() {
        QVERIFY(Server->WaitForRequests(Server->RequestCount(), 5000));
        QCOMPARE(Server->DroppedBytes(), 0);
        for (const TSimRecord& record : Server->Records())
            QVERIFY2(!record.Answer.isEmpty(), record.Request.toHex(' ').constData());
    }

    // ulmar-cli started in the test's directories and left running, its input open; Ctrl+C and
    // SIGTERM are not ignored there even when the tests run as a background job, unless asked.
    // A terminal, when given, stands in for its standard input.
    std::unique_ptr<QProcess> StartCli(const QStringList& arguments, bool ignoreCtrlC = false,
                                       const TTestTerminal* input = nullptr) {
        auto p = std::make_unique<QProcess>();
        p->setChildProcessModifier([ignoreCtrlC, input] {
            ::signal(SIGINT, ignoreCtrlC ? SIG_IGN : SIG_DFL);
            ::signal(SIGTERM, SIG_DFL);
            if (input)
                input->Attach(STDIN_FILENO);
        });
        p->start(QStringLiteral(ULMAR_CLI_PATH),
                 QStringList{"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog()} +
                     arguments);
        return p->waitForStarted(5000) ? std::move(p) : nullptr;
    }
    // Sends the signal and waits for the end (Exit -1: it did not end, or the signal killed it).
    static TCliRun Interrupt(QProcess& p, int signal) {
        TCliRun run;
        if (::kill(static_cast<pid_t>(p.processId()), signal) != 0)
            return run;
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished(5000);
            return run;
        }
        return FinishedRun(p);
    }

private slots:
    void init() { NewDirs(); }
    void cleanup() {
        Server.reset();
        DropDirs();
    }

    void paramsWriteCommitsNothing_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl+C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }
    void paramsWriteCommitsNothing() {
        QFETCH(int, signal);
        QVERIFY(StartServer(50));
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        Server->ClearRecords();

        const auto cli = StartCli({"params", "write", file});
        QVERIFY(cli);
        QVERIFY(Server->WaitForRequests(2, 30000));
        const TCliRun run = Interrupt(*cli, signal);
        QCOMPARE(run.Exit, 128 + signal);
        QVERIFY2(
            run.ErrText().contains(QStringLiteral("params write: прервано; в ПЗУ не сохранено")),
            run.Err);
        QCOMPARE(RomSaves(), 0);
        CheckExchangesWhole();
    }

    void tareWriteCommitsNothing() {
        QVERIFY(StartServer(100));
        const QString file = File("ten.txt");
        QVERIFY(WriteAll(file, TenRows()));

        // At the question on the terminal: nothing has been sent, and the wait for the answer
        // ends.
        TTestTerminal terminal;
        QVERIFY(terminal.Valid());
        auto cli = StartCli({"tare", "write", file, "--name", "ten"}, false, &terminal);
        QVERIFY(cli);
        QByteArray asked;
        QTRY_VERIFY_WITH_TIMEOUT((asked += cli->readAllStandardError()).contains("(да/нет)"),
                                 30000);
        TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        QVERIFY2(run.ErrText().contains(QStringLiteral("tare write: прервано")), run.Err);
        QCOMPARE(Server->RequestCount(), 0);

        // Between the parts of the table: no commit follows.
        cli = StartCli({"tare", "write", file, "--name", "ten", "--yes", "--json"});
        QVERIFY(cli);
        QVERIFY(Server->WaitForRequests(1, 30000));
        run = Interrupt(*cli, SIGTERM);
        QCOMPARE(run.Exit, 143);
        const QJsonObject o = run.Json();
        QCOMPARE(Schema.Check(o, "#/$defs/failure"), QStringList());
        QCOMPARE(o["ok"].toBool(true), false);
        QCOMPARE(ErrorCode(o), QStringLiteral("interrupted"));
        QVERIFY(ErrorMessage(o).contains(QStringLiteral("прервано")));
        QCOMPARE(o["signal"].toInt(), SIGTERM);
        QCOMPARE(RomSaves(), 0);
        CheckExchangesWhole();
    }

    // watch keeps its lines and ends with the interrupt's code and object.
    void watchSaysItWasInterrupted() {
        QVERIFY(StartServer(5));
        const auto cli = StartCli({"watch", "--period", "50", "--json"});
        QVERIFY(cli);
        // The signature that names the gauge, then two polls.
        QVERIFY(Server->WaitForRequests(3, 30000));
        const TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        const QList<QJsonObject> lines = run.JsonLines();
        QVERIFY(lines.size() >= 3);
        QCOMPARE(lines.first()["ok"].toBool(), true);
        QCOMPARE(Schema.Check(lines.first(), "#/$defs/watch"), QStringList());
        QCOMPARE(ErrorCode(lines.last()), QStringLiteral("interrupted"));
        QCOMPARE(Schema.Check(lines.last(), "#/$defs/failure"), QStringList());
        CheckExchangesWhole();
    }

    // zero watch stopped between snapshots or in the middle of one: every file in the folder
    // was reported on its line, none is half written, and the last object says "interrupted".
    void zeroWatchKeepsWhatItReported() {
        QVERIFY(StartServer(5));
        const QString folder = File("echo");
        const auto cli = StartCli({"zero", "watch", "--every", "1", "--out", folder, "--json"});
        QVERIFY(cli);
        QTRY_VERIFY_WITH_TIMEOUT(QDir(folder).entryList(QDir::Files).size() >= 2, 30000);
        const TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        const QList<QJsonObject> lines = run.JsonLines();
        QVERIFY(lines.size() >= 3);
        QStringList reported;
        for (const QJsonObject& o : lines.mid(0, lines.size() - 1)) {
            QCOMPARE(Schema.Check(o, "#/$defs/zeroWatch"), QStringList());
            reported << QFileInfo(o["file"].toString()).fileName();
        }
        QCOMPARE(ErrorCode(lines.last()), QStringLiteral("interrupted"));
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files, reported);
        CheckExchangesWhole();
    }

    // An interrupted scan prints its one object all the same: the gauges found so far and the
    // error, never exit code 0.
    void scanSaysItWasInterrupted() {
        QVERIFY(StartServer(5));
        const auto cli = StartCli({"scan", "--json"});
        QVERIFY(cli);
        QVERIFY(Server->WaitForRequests(3, 30000)); // past the gauge at address 1
        const TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        QCOMPARE(run.Lines().size(), 1);
        const QJsonObject o = run.Json();
        QCOMPARE(Schema.Check(o, "#/$defs/scan"), QStringList());
        QCOMPARE(ErrorCode(o), QStringLiteral("interrupted"));
        QCOMPARE(o["gauges"].toArray().size(), 1);
        QCOMPARE(o["signal"].toInt(), SIGINT);
    }

    // An interrupted find keeps the gauges it printed and ends with its summary as the
    // interrupt: the rates tried so far, never exit code 0.
    void findSaysItWasInterrupted() {
        QVERIFY(StartServer(5));
        Server->SetOnlyRate(19200);
        Server->SetLineRate(TSimServer::LinePortRate);
        const auto cli = StartCli({"find", "--json"});
        QVERIFY(cli);
        // Address 255 at the seven rates down to 19200, then 0 and 1 of its scan: the gauge at
        // address 1 is found; the signal comes during the rest of the scan.
        QVERIFY(Server->WaitForRequests(10, 30000));
        const TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        const QList<QJsonObject> lines = run.JsonLines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(Schema.Check(lines[0], "#/$defs/findGauge"), QStringList());
        QCOMPARE(lines[0]["address"].toInt(), 1);
        QCOMPARE(lines[0]["baudRate"].toInt(), 19200);
        const QJsonObject summary = lines[1];
        QCOMPARE(Schema.Check(summary, "#/$defs/findSummary"), QStringList());
        QCOMPARE(ErrorCode(summary), QStringLiteral("interrupted"));
        QCOMPARE(summary["signal"].toInt(), SIGINT);
        QCOMPARE(summary["ratesTried"].toInt(), 7);
        QCOMPARE(summary["gaugesFound"].toInt(), 1);
        QVERIFY2(run.ErrText().contains("проверено скоростей: 7 из 15, найдено приборов: 1"),
                 run.Err);
    }

    // Stopped by a signal, watch and monitor sum their polls up on stderr (not with -q), and so
    // does scan its addresses; a scan cut short never ends as done, whatever it found.
    void summaries_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("said");
        QTest::newRow("watch") << QStringList{"watch", "--period", "20"} << int(SIGINT)
                               << "без ответа: 0 (0 %)"
                               << "watch: прервано";
        QTest::newRow("watch, silent gauge")
            << QStringList{"--address", "9", "watch", "--period", "0"} << int(SIGTERM)
            << "без ответа: %1 (100 %)"
            << "watch: прервано";
        QTest::newRow("watch -q") << QStringList{"-q", "watch", "--period", "20"} << int(SIGTERM)
                                  << QString() << "watch: прервано";
        QTest::newRow("monitor") << QStringList{"monitor", "--period", "20"} << int(SIGTERM)
                                 << "без ответа: 0 (0 %)"
                                 << "monitor: прервано";
        QTest::newRow("scan") << QStringList{"scan"} << int(SIGINT) << "из 255, найдено приборов: 1"
                              << "scan: прервано";
        QTest::newRow("scan --quiet")
            << QStringList{"scan", "--quiet"} << int(SIGTERM) << QString() << "scan: прервано";
    }
    void summaries() {
        QFETCH(QStringList, arguments);
        QFETCH(int, signal);
        QFETCH(QString, summary);
        QFETCH(QString, said);
        QVERIFY(StartServer(5));
        const auto cli = StartCli(arguments);
        QVERIFY(cli);
        // The scan is past the gauge at address 1 by then.
        QVERIFY(Server->WaitForRequests(4, 30000));
        const TCliRun run = Interrupt(*cli, signal);
        QCOMPARE(run.Exit, 128 + signal);
        QVERIFY2(run.ErrText().contains(said), run.Err);
        const QStringList lines = run.ErrText().split('\n', Qt::SkipEmptyParts);
        if (summary.isEmpty()) {
            QCOMPARE(lines.size(), 1);
            return;
        }
        QCOMPARE(lines.size(), 2);
        const QString line = lines.first();
        const QString head = arguments.contains("scan") ? "опрошено адресов: " : "опросов: ";
        QVERIFY2(line.startsWith(head), run.Err);
        const int count = line.mid(head.size()).section(QRegularExpression("\\D"), 0, 0).toInt();
        QVERIFY2(count >= 2, run.Err);
        if (arguments.contains("scan")) {
            QVERIFY2(line.endsWith(summary), run.Err);
            QVERIFY(count < 255);
        } else {
            QVERIFY2(line.endsWith(summary.contains("%1") ? summary.arg(count) : summary), run.Err);
            // One line on stdout per poll of watch.
            if (arguments.contains("watch"))
                QCOMPARE(run.Out.count('\n'), count);
        }
    }

    // Started with Ctrl+C ignored (nohup, a script's background job), it stays ignored.
    void ignoredCtrlCStaysIgnored() {
        QVERIFY(StartServer(5));
        const auto cli = StartCli({"watch", "--period", "50"}, true);
        QVERIFY(cli);
        QVERIFY(Server->WaitForRequests(2, 30000));
        QCOMPARE(::kill(static_cast<pid_t>(cli->processId()), SIGINT), 0);
        QCOMPARE(Interrupt(*cli, SIGTERM).Exit, 143);
    }

    // decode - waits on a pipe that stays open: the signal ends the wait.
    void decodeWaitingOnAPipe() {
        const auto cli = StartCli({"decode", "-"});
        QVERIFY(cli);
        cli->write("не строка обмена\n");
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += cli->readAllStandardOutput()).contains("не разобрана"),
                                 30000);
        const TCliRun run = Interrupt(*cli, SIGTERM);
        QCOMPARE(run.Exit, 143);
        QVERIFY2(run.ErrText().contains(QStringLiteral("decode: прервано")), run.Err);
    }

    // A file on standard input that never ends: the signal ends the wait for it, and the port
    // (none exists here) is never opened.
    void fileOnStandardInputThatNeverEnds() {
        const auto cli = StartCli({"--port", "/dev/ulmar-no-such-port", "params", "write", "-"});
        QVERIFY(cli);
        cli->write("[Ulmar]\r\n");
        QVERIFY(cli->waitForBytesWritten(5000));
        const QString wchan = QStringLiteral("/proc/%1/wchan").arg(cli->processId());
        QTRY_VERIFY_WITH_TIMEOUT(ReadAll(wchan).contains("poll"), 30000);
        const TCliRun run = Interrupt(*cli, SIGTERM);
        QCOMPARE(run.Exit, 143);
        QVERIFY2(run.ErrText().contains(QStringLiteral("прервано")), run.Err);
        QVERIFY2(!run.ErrText().contains(QStringLiteral("ulmar-no-such-port")), run.Err);
    }

    // A day of many rows, its output not read: the export cannot end before the signal comes.
    void archiveExportStopsBetweenRows() {
        const QDate day(2024, 3, 5);
        const TDateTime start = QtToDateTime(QDateTime(day, QTime(0, 0)));
        QVERIFY(AddArchiveRecord("Lt", start, 1.0));
        constexpr int Rows = 200000;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
            db.setDatabaseName(JoinPath(ArchiveDayDir(start), "Lt.db"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY2(
                q.exec(QStringLiteral(
                           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                           "i < %1) INSERT INTO Lt (V, DT) SELECT i, strftime('%Y-%m-%d "
                           "%H:%M:%f', '2024-03-05', '+' || (i * 0.4) || ' seconds') FROM n")
                           .arg(Rows - 1)),
                qPrintable(q.lastError().text()));
            q.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase("fill");

        const auto cli = StartCli(
            {"archive", "export", "--table", "Lt", "--from", "2024-03-05", "--to", "2024-03-05"});
        QVERIFY(cli);
        QVERIFY(cli->waitForReadyRead(30000));
        const QByteArray first = cli->readAllStandardOutput();
        QVERIFY(first.startsWith("\xEF\xBB\xBFtime;value\r\n"));
        const TCliRun run = Interrupt(*cli, SIGINT);
        QCOMPARE(run.Exit, 130);
        QVERIFY2(run.ErrText().contains(QStringLiteral("archive export: прервано")), run.Err);
        QVERIFY((first + run.Out).count('\n') < Rows);
    }
};

QTEST_GUILESS_MAIN(TestCliSignals)
#include "tst_cli_signals.moc"
