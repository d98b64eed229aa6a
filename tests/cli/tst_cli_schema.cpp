// Every ulmar-cli command with --json, against ulmar-sim, checked line by line against
// docs/cli-json-schema.json: the results and the failures of every kind a script meets (a bad
// argument, a bad file, a port that does not open, a silent gauge, a refusing gauge,
// differences). Every line is one JSON object with the envelope, fits its command's definition,
// carries its times as ISO 8601 with the offset, and a failure's error code goes with the exit
// code and is said on stderr as well. So the documented schema and the program cannot drift
// apart.

#include "tests/support/CliRig.h"
#include "tests/support/FakePortTree.h"
#include "tests/support/JsonSchemaCheck.h"
#include "tests/support/ServiceRecordSample.h"
#include "uDataCtrl.h"
#include "uIniFile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString NoPort = QStringLiteral("/dev/ulmar-no-such-port");

// The exit code that goes with each error code.
int ExitOf(const QString& code) {
    if (code == "badArgument" || code == "badFile" || code == "unknownTable" || code == "needsYes")
        return 3;
    if (code == "portNotOpened" || code == "noAnswer" || code == "outputFailed" ||
        code == "serverUnavailable")
        return 2;
    if (code == "refused" || code == "differences")
        return 1;
    return -1; // interrupted: 128 + the signal
}

// Every "time" member at any depth.
void CollectTimes(const QJsonValue& value, QStringList& times) {
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            if (it.key() == QLatin1String("time") && it.value().isString())
                times << it.value().toString();
            CollectTimes(it.value(), times);
        }
    } else if (value.isArray()) {
        for (const QJsonValue& v : value.toArray())
            CollectTimes(v, times);
    }
}

} // namespace

class TestCliSchema : public TCliTest {
    Q_OBJECT

    std::unique_ptr<TJsonSchemaCheck> Schema;

    enum TShape { One, Stream };

    // Runs the command and checks its stdout line by line against the definition `def`; the
    // objects it printed.
    QList<QJsonObject> Expect(const QStringList& args, const char* def, int exit,
                              TShape shape = One, const QByteArray& input = {}) {
        const TCliRun run = Cli(QStringList{"--json"} + args, input);
        const QString what = args.join(' ');
        QList<QJsonObject> objects;
        [&] {
            QVERIFY2(run.Exit == exit, qPrintable(what + ": exit " + QString::number(run.Exit) +
                                                  "\n" + run.ErrText() + run.Text()));
            QVERIFY2(run.Out.endsWith('\n'), qPrintable(what));
            const QList<QByteArray> lines = run.Out.chopped(1).split('\n');
            QVERIFY2(shape == Stream || lines.size() == 1, qPrintable(what + "\n" + run.Text()));
            for (const QByteArray& line : lines) {
                QJsonParseError parsed{};
                const QJsonDocument doc = QJsonDocument::fromJson(line, &parsed);
                QVERIFY2(parsed.error == QJsonParseError::NoError && doc.isObject(),
                         qPrintable(what + ": not one JSON object: " + QString::fromUtf8(line)));
                const QJsonObject o = doc.object();
                objects << o;
                // The envelope, and the command's object (or $defs/failure: a failure before
                // the command had anything of its own).
                QStringList faults = Schema->Check(o);
                faults << Schema->Check(o, QStringLiteral("#/$defs/") + def);
                QVERIFY2(faults.isEmpty(), qPrintable(what + ": " + faults.join("\n") + "\n" +
                                                      QString::fromUtf8(line)));
                QStringList times;
                CollectTimes(o, times);
                static const QRegularExpression iso(
                    R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)");
                for (const QString& t : times)
                    QVERIFY2(iso.match(t).hasMatch(), qPrintable(what + ": time " + t));
                if (!o["ok"].toBool()) {
                    const QString message = ErrorMessage(o);
                    QVERIFY2(
                        run.ErrText().contains("ulmar-cli: " + message),
                        qPrintable(what + ": not on stderr: " + message + "\n" + run.ErrText()));
                }
            }
            // The one object's error says the exit code.
            if (shape == One) {
                const QJsonObject& o = objects.first();
                QCOMPARE(o["ok"].toBool(), exit == 0);
                if (exit != 0)
                    QVERIFY2(ExitOf(ErrorCode(o)) == exit, qPrintable(what + ": " + ErrorCode(o)));
            }
        }();
        if (QTest::currentTestFailed())
            return {};
        return objects;
    }

private slots:
    void initTestCase() {
        Schema = std::make_unique<TJsonSchemaCheck>(
            TJsonSchemaCheck::FromFile(QStringLiteral(ULMAR_CLI_SCHEMA)));
        QVERIFY(Schema->Loaded());
    }
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    // The schema asks only for what the validator checks, and what it describes is checked:
    // a read without its time, a parameter without its file key, an unknown error code fail.
    void schemaIsCheckable() {
        QCOMPARE(Schema->UnknownKeywords(), QStringList());
        const QJsonObject read = QJsonDocument::fromJson(R"({"schemaVersion":1,"ok":true,
            "error":null,"time":"2026-12-10T05:19:43.583+03:00","address":1,"plantNumber":null,
            "distance":8500,"level":7500,"levelFree":6500,"volume":50,"relay1":false,
            "relay2":null})")
                                     .object();
        QCOMPARE(Schema->Check(read, "#/$defs/read"), QStringList());
        QJsonObject late = read;
        late.remove("time");
        QVERIFY(!Schema->Check(late, "#/$defs/read").isEmpty());
        const QJsonObject params = QJsonDocument::fromJson(R"({"schemaVersion":1,"ok":true,
            "error":null,"signature":{"systemAddress":1,"unitType":17,"plantNumber":4321,
            "hardVersion":1,"softVersion":3},"parameters":[{"name":"dist1","value":1}],
            "refused":[],"file":null})")
                                       .object();
        QVERIFY(!Schema->Check(params, "#/$defs/paramsRead").isEmpty());
        const QJsonObject odd = QJsonDocument::fromJson(
                                    R"({"schemaVersion":1,"ok":false,"error":{"code":"oops",
                                    "message":"x"}})")
                                    .object();
        QVERIFY(!Schema->Check(odd).isEmpty());
        QVERIFY(!Schema->Check(QJsonObject{{"ok", true}, {"error", QJsonValue()}}).isEmpty());
    }

    // Every command's result.
    void resultsFitTheSchema() {
        QVERIFY(StartSim({"--kalist", "--plant", "4321"}));
        const auto read = Expect({"read", "--kalist"}, "read", 0);
        QCOMPARE(read.value(0)["plantNumber"].toInt(), 4321);
        Expect({"watch", "--count", "2", "--period", "0", "--kalist"}, "watch", 0, Stream);
        const auto monitor =
            Expect({"monitor", "--count", "1", "--period", "0", "--kalist"}, "monitor", 0, Stream);
        QCOMPARE(monitor.size(), 2);
        QCOMPARE(monitor.last()["device"].toString(), QStringLiteral("kalist"));
        Expect({"signature"}, "signature", 0);
        Expect({"params", "read", "--factory"}, "paramsRead", 0);
        const QString file = File("gauge.ini");
        QCOMPARE(Expect({"params", "read", "--out", file}, "paramsRead", 0).value(0)["file"],
                 QJsonValue(file));
        Expect({"params", "diff", file}, "paramsDiff", 0);
        Expect({"params", "write", file}, "paramsWrite", 0);
        for (const QStringList& raw :
             {QStringList{"raw", "6"}, QStringList{"raw", "66"}, QStringList{"raw", "8"},
              QStringList{"raw", "2"}, QStringList{"raw", "13", "--value", "2"}})
            QVERIFY(!Expect(raw, "raw", 0).value(0)["decoded"].toObject().isEmpty());
        Expect({"scan", "--from", "0", "--to", "2"}, "scan", 0);
        Expect({"zero", "read"}, "zeroRead", 0);
        Expect({"zero", "watch", "--every", "1", "--out", File("echo"), "--count", "2"},
               "zeroWatch", 0, Stream);
        const QString tare = File("tare.txt");
        Expect({"tare", "read", "--out", tare}, "tareRead", 0);
        Expect({"tare", "write", tare, "--name", "ttFromUlmar", "--yes"}, "tareWrite", 0);
        Expect({"tare", "compare", tare}, "tareCompare", 0);
        QVERIFY(WriteAll(tare, "t=2\r\n0 0\r\n1 1\r\n"));
        Expect({"tare", "compare", tare, "--name", "t"}, "tareCompare", 1);
        // A service session from start to finish; a finished one is not finished again.
        const QString dir =
            Expect({"record", "start", "--site", "Парк 2", "--technician", "Иванов"}, "record", 0)
                .value(0)["folder"]
                .toString();
        QVERIFY(dir.startsWith(Dirs->Prog() + "/Records/4321/"));
        Expect({"raw", "34", "--value", "1500"}, "raw", 0);
        QCOMPARE(Expect({"record", "show", dir}, "record", 0)
                     .value(0)["record"]
                     .toObject()["writes"]
                     .toArray()
                     .size(),
                 1);
        Expect({"record", "resume", dir}, "record", 0);
        const QJsonObject finished = Expect({"record", "finish", dir}, "record", 0).value(0);
        QCOMPARE(finished["record"].toObject()["state"].toString(), QStringLiteral("finished"));
        QCOMPARE(finished["verdict"].toObject()["text"].toString(), QStringLiteral("не выполнен"));
        QCOMPARE(ErrorCode(Expect({"record", "finish", dir}, "failure", 1).value(0)),
                 QStringLiteral("refused"));
        Expect({"--version"}, "version", 0);
        TFakePortTree tree;
        QVERIFY(tree.Device("ttyUSB0", Sim->Port) &&
                tree.Link("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0"));
        Environment = {{"ULMAR_PORT_ROOTS", tree.Env()}};
        QCOMPARE(Expect({"ports"}, "ports", 0).value(0)["ports"].toArray().size(), 1);
        Environment.clear();

        // A log of this session's exchanges, with times, and a line that is no exchange.
        const TCliRun traced = Cli({"--trace", "read"});
        QByteArray log;
        for (const QByteArray& line : traced.Err.split('\n'))
            if (line.startsWith('['))
                log += "10.12.2026 02:19:57,833 " + line + "\r\n";
        QVERIFY2(!log.isEmpty(), traced.Err);
        log += "не строка обмена\r\n";
        const auto decoded = Expect({"decode", "-"}, "decode", 1, Stream, log);
        QCOMPARE(decoded.first()["crcOk"], QJsonValue(true));
        QCOMPARE(ErrorCode(decoded.last()), QStringLiteral("badFile"));

        const auto at = [](int h, int ms) {
            return QtToDateTime(QDateTime(QDate(2026, 12, 10), QTime(h, 0, 0, ms)));
        };
        QVERIFY(AddArchiveRecord("Lt", at(1, 5), 1.5));
        QVERIFY(AddArchiveRecord("Lt", at(2, 0), 2.0));
        const auto rows = Expect(
            {"archive", "export", "--table", "Lt", "--from", "2026-12-10", "--to", "2026-12-10"},
            "archiveExport", 0, Stream);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0]["time"].toString(),
                 IsoLocal(QDateTime(QDate(2026, 12, 10), QTime(1, 0, 0, 5))));
        const QJsonObject list = Expect({"archive", "list"}, "archiveList", 0).value(0);
        bool listed = false;
        for (const QJsonValue& t : list["tables"].toArray())
            if (t["name"] == QJsonValue("Lt"))
                listed = t["days"].toArray().contains(QJsonValue("2026-12-10"));
        QVERIFY(listed);
    }

    // find: one object per gauge as found, then the summary; a silent line ends with the
    // summary as noAnswer, a port that does not open before anything is tried.
    void findFitsTheSchema() {
        QVERIFY(StartSim({"--gauges", "2", "--address", "3,7", "--plant", "1003,1007",
                          "--only-rate", "19200", "--line-rate"}));
        const auto found = Expect({"find", "--to", "8"}, "find", 0, Stream);
        QCOMPARE(found.size(), 3);
        QCOMPARE(found[0]["baudRate"].toInt(), 19200);
        QCOMPARE(found[0]["address"].toInt(), 3);
        QCOMPARE(found[1]["address"].toInt(), 7);
        QCOMPARE(found[1]["plantNumber"].toInt(), 1007);
        const QJsonObject summary = found[2];
        QVERIFY(summary["ok"].toBool());
        QCOMPARE(summary["ratesTried"].toInt(), 15);
        QCOMPARE(summary["gaugesFound"].toInt(), 2);
        QCOMPARE(summary["to"].toInt(), 8);
        QVERIFY(summary["elapsedMs"].toInt() > 0);
        // Address 255 at each of the 15 rates, then one request for each of 0..8 at 19200.
        QCOMPARE(summary["requests"].toInt(), 15 + 9);
        QVERIFY(Schema->Check(summary, "#/$defs/findGauge").size() > 0);

        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        const auto silent = Expect({"find"}, "find", 2, Stream);
        QCOMPARE(silent.size(), 1);
        QCOMPARE(ErrorCode(silent[0]), QStringLiteral("noAnswer"));
        QCOMPARE(silent[0]["gaugesFound"].toInt(), 0);
        QCOMPARE(ErrorCode(Expect({"--port", NoPort, "find"}, "failure", 2).value(0)),
                 QStringLiteral("portNotOpened"));
        QCOMPARE(ErrorCode(Expect({"find", "--from", "9", "--to", "2"}, "failure", 3).value(0)),
                 QStringLiteral("badArgument"));
    }

    // record pdf: a kept session folder (no port, no display), the PDF in it or at --out; a
    // folder without its session.json or with a garbled one is a bad file and leaves no PDF.
    void recordPdfFitsTheSchema() {
        const QString folder = Dirs->Prog() + "/Records/4711/2026-03-05_10-12-40";
        QVERIFY(QDir().mkpath(folder));
        QString error;
        TServiceRecord record = SampleServiceRecord();
        QVERIFY2(SaveServiceRecord(folder + "/session.json", record, error), qPrintable(error));
        Environment = {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
        const QJsonObject made = Expect({"record", "pdf", folder}, "recordPdf", 0).value(0);
        QCOMPARE(made["pdf"].toString(), folder + "/record.pdf");
        QCOMPARE(made["verdict"]["pass"], QJsonValue(true));
        QCOMPARE(made["verdict"]["rows"].toArray().size(), 5);
        QVERIFY(made["pages"].toInt() >= 2);
        QVERIFY(ReadAll(folder + "/record.pdf").startsWith("%PDF-"));
        // Made again over its own file, options between the command's words; --out elsewhere
        // needs --force for an existing file.
        QCOMPARE(Cli({"record", "-q", "pdf", folder}).Exit, 0);
        const QString out = File("copy.pdf");
        QVERIFY(WriteAll(out, "kept"));
        QCOMPARE(ErrorCode(Expect({"record", "pdf", folder, "--out", out}, "failure", 3).value(0)),
                 QStringLiteral("badArgument"));
        QCOMPARE(ReadAll(out), QByteArray("kept"));
        record.RunTest.Rows[2].CurrentDifference = 0.05;
        QVERIFY(SaveServiceRecord(folder + "/session.json", record, error));
        const QJsonObject failed =
            Expect({"record", "pdf", folder, "--out", out, "--force"}, "recordPdf", 0).value(0);
        QCOMPARE(failed["verdict"]["text"].toString(), QStringLiteral("не годен"));
        QCOMPARE(failed["verdict"]["rows"][2].toString(), QStringLiteral("fail"));
        QVERIFY(ReadAll(out).startsWith("%PDF-"));
        const TCliRun text = Cli({"record", "pdf", folder});
        QCOMPARE(text.Exit, 0);
        QVERIFY2(text.Text().contains(QStringLiteral("заключение: Не годен")), text.Out);

        QVERIFY(QFile::remove(folder + "/record.pdf"));
        QVERIFY(WriteAll(folder + "/session.json", "{\"format\": 1, \"site\": "));
        const QJsonObject garbled = Expect({"record", "pdf", folder}, "failure", 3).value(0);
        QCOMPARE(ErrorCode(garbled), QStringLiteral("badFile"));
        QVERIFY(ErrorMessage(garbled).contains(QStringLiteral("не JSON")));
        QVERIFY(WriteAll(folder + "/session.json", "{\"format\": 1, \"site\": 5}"));
        QCOMPARE(ErrorCode(Expect({"record", "pdf", folder}, "failure", 3).value(0)),
                 QStringLiteral("badFile"));
        QVERIFY(QFile::remove(folder + "/session.json"));
        QCOMPARE(ErrorCode(Expect({"record", "pdf", folder}, "failure", 3).value(0)),
                 QStringLiteral("badFile"));
        QCOMPARE(ErrorCode(Expect({"record", "pdf", File("nowhere")}, "failure", 3).value(0)),
                 QStringLiteral("badFile"));
        QVERIFY(!QFile::exists(folder + "/record.pdf"));
        QCOMPARE(ErrorCode(Expect({"record", "pdf"}, "failure", 3).value(0)),
                 QStringLiteral("badArgument"));
    }

    // Failures a script meets, each with its error code, exit code and stderr line.
    // watch and monitor over a line of gauges: each object names its gauge; one of the list
    // does not answer, and the others go on in every round.
    void lineOfGaugesFitsTheSchema() {
        QVERIFY(StartSim({"--gauges", "2"}));
        const auto watch = Expect(
            {"watch", "--addresses", "1,3,2", "--count", "2", "--period", "0"}, "watch", 2, Stream);
        QCOMPARE(watch.size(), 6);
        const int order[] = {1, 3, 2, 1, 3, 2};
        for (int i = 0; i < 6; ++i) {
            const QJsonObject& o = watch[i];
            QCOMPARE(o["address"].toInt(), order[i]);
            QCOMPARE(o["ok"].toBool(), order[i] != 3);
            if (order[i] == 3)
                QVERIFY(o["plantNumber"].isNull());
            else
                QCOMPARE(o["plantNumber"].toInt(), 1000 + order[i]);
        }
        const auto monitor =
            Expect({"monitor", "--addresses", "2,1", "--count", "1", "--period", "0"}, "monitor", 0,
                   Stream);
        // Per gauge its signature (first round) and its readings.
        QCOMPARE(monitor.size(), 4);
        QCOMPARE(monitor[0]["address"].toInt(), 2);
        QCOMPARE(monitor[3]["address"].toInt(), 1);
        QCOMPARE(monitor[3]["plantNumber"].toInt(), 1001);
        // --kalist is for the one gauge of --address.
        QCOMPARE(Cli({"watch", "--addresses", "1,2", "--kalist"}).Exit, 3);
        QCOMPARE(Cli({"watch", "--addresses", "1,255"}).Exit, 3);
    }

    void failuresFitTheSchema() {
        for (const QStringList& args :
             {QStringList{"frobnicate"}, QStringList{"read", "--bogus"}, QStringList{"raw", "34"},
              QStringList{"watch", "--count", "0"}, QStringList{"decode", "--captions", "x"},
              QStringList{"record", "show"}, QStringList{"record", "stop"},
              QStringList{"record", "finish", "x", "--site", "s"},
              QStringList{"archive", "export", "--table", "L;t", "--from", "2026-12-10", "--to",
                          "2026-12-10"}})
            QCOMPARE(ErrorCode(Expect(args, "failure", 3).value(0)), QStringLiteral("badArgument"));
        for (const QStringList& args :
             {QStringList{"params", "diff", File("none.ini")},
              QStringList{"tare", "write", File("none.txt"), "--name", "t", "--yes"},
              QStringList{"tare", "compare", File("none.txt")}, QStringList{"decode", Dirs->Work()},
              QStringList{"record", "show", Dirs->Work()}})
            QCOMPARE(ErrorCode(Expect(args, "failure", 3).value(0)), QStringLiteral("badFile"));
        QCOMPARE(ErrorCode(Expect({"archive", "export", "--table", "Nope", "--from", "2026-12-10",
                                   "--to", "2026-12-10"},
                                  "failure", 3)
                               .value(0)),
                 QStringLiteral("unknownTable"));
        // The plant archive off in the settings: nothing to ship to.
        QCOMPARE(ErrorCode(Expect({"archive", "ship"}, "failure", 3).value(0)),
                 QStringLiteral("badFile"));
        // A plant archive whose server is not there (a socket folder without a server).
        QVERIFY(WriteAll(Dirs->Prog() + "/INI/bde.ini",
                         "[PlantArchive]\r\nEnabled=1\r\nHost=" + File("no-server").toUtf8() +
                             "\r\nConnectTimeout=2\r\n"));
        const QJsonObject unavailable =
            Expect({"archive", "export", "--source", "server", "--plant-number", "1001", "--table",
                    "Lt", "--from", "2026-12-10", "--to", "2026-12-10"},
                   "failure", 2)
                .value(0);
        QCOMPARE(ErrorCode(unavailable), QStringLiteral("serverUnavailable"));
        QVERIFY(ErrorMessage(unavailable).contains(QStringLiteral("Сервер архива недоступен: ")));
        QCOMPARE(
            ErrorCode(Expect({"tare", "write", "-", "--name", "t"}, "failure", 3, One, "0 0\r\n")
                          .value(0)),
            QStringLiteral("needsYes"));
        for (const QStringList& args :
             {QStringList{"read"}, QStringList{"watch"}, QStringList{"monitor"},
              QStringList{"signature"}, QStringList{"params", "read"}, QStringList{"raw", "6"},
              QStringList{"scan"}, QStringList{"zero", "read"}, QStringList{"tare", "read"}})
            QCOMPARE(ErrorCode(Expect(QStringList{"--port", NoPort} + args, "failure", 2).value(0)),
                     QStringLiteral("portNotOpened"));

        // The plant archive's shipping: a server that is not there.
        {
            TIniFile ini(JoinPath(JoinPath(Dirs->Prog(), "INI"), "bde.ini"));
            ini.WriteInteger("PlantArchive", "Enabled", 1);
            ini.WriteString("PlantArchive", "Host", JoinPath(Dirs->Work(), "no-server"));
            QVERIFY(ini.Save(false));
        }
        const QJsonObject ship = Expect({"archive", "ship"}, "archiveShip", 2).value(0);
        QCOMPARE(ErrorCode(ship), QStringLiteral("serverUnavailable"));
        QVERIFY(ship["error"]["message"].toString().startsWith("Сервер архива недоступен: "));

        // A silent gauge.
        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        for (const QStringList& args :
             {QStringList{"read"}, QStringList{"signature"}, QStringList{"params", "read"},
              QStringList{"zero", "read"}, QStringList{"tare", "read"},
              QStringList{"record", "start"}})
            QCOMPARE(ErrorCode(Expect(args, "failure", 2).value(0)), QStringLiteral("noAnswer"));
        QCOMPARE(ErrorCode(Expect({"raw", "6"}, "raw", 2).value(0)), QStringLiteral("noAnswer"));
        QCOMPARE(ErrorCode(Expect({"zero", "watch", "--every", "1", "--out", File("silent"),
                                   "--count", "1"},
                                  "zeroWatch", 2, Stream)
                               .value(0)),
                 QStringLiteral("noAnswer"));
        QCOMPARE(ErrorCode(Expect({"scan", "--from", "0", "--to", "1"}, "scan", 2).value(0)),
                 QStringLiteral("noAnswer"));
        const auto polls = Expect({"watch", "--count", "1"}, "watch", 2, Stream);
        QCOMPARE(ErrorCode(polls.value(0)), QStringLiteral("noAnswer"));
        QVERIFY(polls.value(0)["plantNumber"].isNull());
        const auto exchanges = Expect({"monitor", "--count", "1"}, "monitor", 2, Stream);
        QCOMPARE(ErrorCode(exchanges.value(0)), QStringLiteral("noAnswer"));

        // A gauge that refuses, and one that differs from the file.
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        QVERIFY(StartSim({"--fault-error", "prob=1"}));
        QCOMPARE(ErrorCode(Expect({"raw", "66"}, "raw", 1).value(0)), QStringLiteral("refused"));
        QCOMPARE(ErrorCode(Expect({"params", "write", file}, "paramsWrite", 1).value(0)),
                 QStringLiteral("refused"));
        QCOMPARE(ErrorCode(Expect({"params", "diff", file}, "paramsDiff", 2).value(0)),
                 QStringLiteral("noAnswer"));
        QVERIFY(StartSim());
        QByteArray text = ReadAll(file);
        QVERIFY(text.contains("\nDist1=1000\r"));
        QVERIFY(WriteAll(file, text.replace("\nDist1=1000\r", "\nDist1=1500\r")));
        const auto diff = Expect({"params", "diff", file}, "paramsDiff", 1);
        QCOMPARE(ErrorCode(diff.value(0)), QStringLiteral("differences"));
        QCOMPARE(diff.value(0)["differences"].toArray().first().toObject()["name"].toString(),
                 QStringLiteral("dist1"));
    }
};

QTEST_GUILESS_MAIN(TestCliSchema)
#include "tst_cli_schema.moc"
