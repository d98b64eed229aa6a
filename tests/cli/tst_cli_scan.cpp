// ulmar-cli scan against ulmar-sim with several gauges on a pseudo-terminal: one line per gauge
// in text, a JSON array, a collision of two gauges at one address, a silent range, and the
// refused ranges; find over the rate list in text.

#include "tests/support/CliRig.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <memory>
#include <unistd.h>

class TestCliScan : public TCliTest {
    Q_OBJECT

private slots:
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    void gaugesInTextAndJson() {
        QVERIFY(StartSim({"--gauges", "2", "--address", "3,7", "--plant", "1003,1007"}));
        TCliRun run = Cli({"scan", "--from", "0", "--to", "10"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Text(), QString("адрес 3: заводской номер 1003, тип 17, АВ 1, ПВ 3\n"
                                     "адрес 7: заводской номер 1007, тип 17, АВ 1, ПВ 3\n"));
        run = Cli({"scan", "--from=2", "--to=7", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Lines().size(), 1);
        const QJsonArray rows = run.Json()["gauges"].toArray();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].toObject()["number"].toInt(), 1);
        QCOMPARE(rows[1].toObject()["systemAddress"].toInt(), 7);
        QCOMPARE(rows[1].toObject()["plantNumber"].toInt(), 1007);
        QCOMPARE(rows[1].toObject()["collision"].toBool(true), false);
    }

    // The progress goes to stderr only when it is a terminal, one line rewritten in place and
    // blanked before a gauge's line and at the end; -q drops it, and a pipe never gets it.
    void progressOnATerminalOnly() {
        QVERIFY(StartSim({"--gauges", "2", "--address", "3,7", "--plant", "1003,1007"}));
        const QStringList scan{"scan", "--from", "0", "--to", "10"};
        TTestTerminal terminal;
        QVERIFY(terminal.Valid());
        QByteArray shown;
        TCliRun run = CliOnTerminal(terminal, STDERR_FILENO, scan, &shown);
        QCOMPARE(run.Exit, 0);
        const QString text = QString::fromUtf8(shown);
        for (int k = 1; k <= 11; ++k)
            QVERIFY2(text.contains(QStringLiteral("\rадрес %1 из 11…").arg(k)), shown);
        QVERIFY2(text.endsWith(QLatin1Char('\r')) && text.section('\r', -2, -2).trimmed().isEmpty(),
                 shown);
        QCOMPARE(run.Lines().size(), 2);
        QVERIFY(run.Lines().first().startsWith("адрес 3: "));

        shown.clear();
        TTestTerminal quiet;
        QVERIFY(quiet.Valid());
        run = CliOnTerminal(quiet, STDERR_FILENO, QStringList{"-q"} + scan, &shown);
        QCOMPARE(run.Exit, 0);
        QVERIFY2(shown.isEmpty(), shown);
        run = Cli(scan);
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Err.isEmpty(), run.Err);
    }

    void collisionIsFlagged() {
        QVERIFY(StartSim({"--gauges", "3", "--address", "4,4,5", "--plant", "1,2,1"}));
        TCliRun run = Cli({"scan", "--from", "4", "--to", "5"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Text(), QString("адрес 4: коллизия: два прибора на одном адресе?\n"
                                     "адрес 5: заводской номер 1, тип 17, АВ 1, ПВ 3\n"));
        run = Cli({"scan", "--from", "4", "--to", "5", "--json"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("differences"));
        const QJsonArray rows = run.Json()["gauges"].toArray();
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows[0].toObject()["collision"].toBool());
        QVERIFY(rows[0].toObject()["plantNumber"].isNull());
    }

    void nothingAnswersAndBadRanges() {
        QVERIFY(StartSim({"--address", "9"}));
        TCliRun run = Cli({"scan", "--from", "0", "--to", "2"});
        QCOMPARE(run.Exit, 2);
        QVERIFY(run.Out.isEmpty());
        QVERIFY2(QString::fromUtf8(run.Err).contains("ни один прибор не ответил"), run.Err);
        run = Cli({"scan", "--from", "0", "--to", "2", "--json"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("noAnswer"));
        QVERIFY(run.Json()["gauges"].isArray());
        QCOMPARE(run.Json()["gauges"].toArray().size(), 0);
        QCOMPARE(Cli({"scan", "--from", "11", "--to", "10"}).Exit, 3);
        QCOMPARE(Cli({"scan", "--from", "0", "--to", "255"}).Exit, 3);
        QCOMPARE(Cli({"scan", "--table", "x"}).Exit, 3);
        QVERIFY(Cli({"--help"}).Text().contains("scan [--from A] [--to B]"));
    }

    // find in text: a line per gauge at the one rate it answers at, the summary on stderr; a
    // silent line is exit code 2 with the reason; a bad range is refused before the port.
    void findInText() {
        QVERIFY(StartSim({"--gauges", "2", "--address", "4,6", "--plant", "1004,1006",
                          "--only-rate", "2400", "--line-rate"}));
        TCliRun run = Cli({"find", "--from", "3", "--to", "6"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Text(),
                 QString("2400 бод, адрес 4: заводской номер 1004, тип 17, АВ 1, ПВ 3\n"
                         "2400 бод, адрес 6: заводской номер 1006, тип 17, АВ 1, ПВ 3\n"));
        QVERIFY2(run.ErrText().contains("проверено скоростей: 15 из 15, найдено приборов: 2"),
                 run.Err);
        QVERIFY(Cli({"-q", "find", "--from", "3", "--to", "6"}).Err.isEmpty());

        // Two gauges at one address: the third is found, the collision is told and makes the
        // exit code 1, in text and in JSON.
        QVERIFY(StartSim({"--gauges", "3", "--address", "4,4,5", "--plant", "1,2,1005",
                          "--only-rate", "57600", "--line-rate"}));
        run = Cli({"find", "--from", "4", "--to", "5"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Text(),
                 QString("57600 бод, адрес 5: заводской номер 1005, тип 17, АВ 1, ПВ 3\n"));
        QVERIFY2(run.ErrText().contains("57600 бод: адрес 4: коллизия"), run.Err);
        run = Cli({"find", "--from", "4", "--to", "5", "--json"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Lines().size(), 2);
        const QJsonObject summary = run.JsonLines().last();
        QCOMPARE(ErrorCode(summary), QStringLiteral("differences"));

        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        run = Cli({"find"});
        QCOMPARE(run.Exit, 2);
        QVERIFY(run.Out.isEmpty());
        QVERIFY2(run.ErrText().contains("ни один прибор не ответил ни на одной скорости"), run.Err);
        QCOMPARE(Cli({"find", "--to", "255"}).Exit, 3);
        QCOMPARE(Cli({"find", "--from", "7", "--to", "6"}).Exit, 3);
        QVERIFY(Cli({"--help"}).Text().contains("find [--from A] [--to B]"));
    }
};

QTEST_GUILESS_MAIN(TestCliScan)
#include "tst_cli_scan.moc"
