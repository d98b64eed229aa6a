// ulmar-cli as a script runs it: against ulmar-sim on a pseudo-terminal, every command in text
// and in JSON (parsed back), the parameter file it writes, a locked gauge, the archive export's
// bounds, and the exit codes of a silent line, a bad port name, a malformed file and bad
// arguments.

#include "Ulmar.h"
#include "tests/support/CliRig.h"
#include "tests/support/DayFiles.h"
#include "tests/support/FakePortTree.h"
#include "tests/support/FileSizeLimit.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uSerialPosix.h"
#include "uTransmitter.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTest>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// Replaces the value of one key in a parameter file.
bool SetKey(const QString& path, const QByteArray& key, const QByteArray& value) {
    QByteArray text = ReadAll(path);
    const qsizetype at = text.indexOf("\n" + key + "=");
    if (at < 0)
        return false;
    const qsizetype end = text.indexOf('\r', at + 1);
    text.replace(at + 1, end - at - 1, key + "=" + value);
    return WriteAll(path, text);
}

const QString NoPort = QStringLiteral("/dev/ulmar-no-such-port");

} // namespace

class TestCli : public TCliTest {
    Q_OBJECT

private slots:
    void init() {
        NewDirs();
        SimBase = QStringList{"--delay", "1", "--plant", "4321", "--level", "7500"};
    }
    void cleanup() { DropDirs(); }

    void readings() {
        QVERIFY(StartSim({"--kalist"}));
        TCliRun run = Cli({"read"});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Text().contains("Ну = 7500 мм"), run.Out);
        QVERIFY(run.Text().contains("Реле 1 = выкл"));
        run = Cli({"read", "--kalist", "--json"});
        QCOMPARE(run.Exit, 0);
        const QJsonObject o = run.Json();
        QCOMPARE(o["ok"].toBool(), true);
        QCOMPARE(o["level"].toDouble(), 7500.0);
        QCOMPARE(o["distance"].toDouble(), 8500.0);
        QCOMPARE(o["volume"].toDouble(), 50.0);
        QCOMPARE(o["relay2"].toBool(true), false);
        QCOMPARE(o["current"].toDouble(), 12.0); // 4 + 16 × 7500 / 15000 mA
        // The gauge is named by the signature read at the start.
        QCOMPARE(o["address"].toInt(), 1);
        QCOMPARE(o["plantNumber"].toInt(), 4321);

        run = Cli({"watch", "--count", "3", "--period", "0", "--json"});
        QCOMPARE(run.Exit, 0);
        const QList<QJsonObject> lines = run.JsonLines();
        QCOMPARE(lines.size(), 3);
        for (const QJsonObject& line : lines) {
            QVERIFY(line["ok"].toBool());
            QCOMPARE(line["level"].toDouble(), 7500.0);
            QVERIFY(
                line["time"].toString().startsWith(QString::number(QDate::currentDate().year())));
            QCOMPARE(line["plantNumber"].toInt(), 4321);
        }
        run = Cli({"watch", "--count", "2", "--period", "0"});
        QCOMPARE(run.Text().count("Ну=7500"), 2);
    }

    void signature() {
        QVERIFY(StartSim());
        TCliRun run = Cli({"signature", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["plantNumber"].toInt(), 4321);
        QCOMPARE(run.Json()["unitType"].toInt(), 17);
        run = Cli({"signature"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Text().split('\n', Qt::SkipEmptyParts).value(1),
                 QStringLiteral("Заводской номер: 4321"));
    }

    // The file has the window program's format: Windows-1251, its keys in its order.
    void paramsReadWritesTheFile() {
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        TCliRun run = Cli({"params", "read", "--out", file});
        QCOMPARE(run.Exit, 0);
        const QByteArray bytes = ReadAll(file);
        QVERIFY2(
            bytes.startsWith("[Ulmar]\r\nPlantNumber=4321\r\nHardVersion=1\r\nSoftVersion=3\r\n"
                             "SystemAddress=1\r\nUserPsw=0\r\nPPM=\r\nNNZ=\r\nDist1=1000\r\n"
                             "Dist2=15000\r\nKKalman=1\r\n"),
            bytes.left(200));
        QVERIFY(bytes.contains("[UlmarCurrentOutput5]\r\n"));

        run = Cli({"params", "read", "--factory", "--json"});
        QCOMPARE(run.Exit, 0);
        const QJsonArray p = run.Json()["parameters"].toArray();
        QCOMPARE(JsonParamNamed(p, "dist2")["value"].toDouble(), 15000.0);
        QCOMPARE(JsonParamNamed(p, "plantNumber")["value"].toInt(), 4321);
        QCOMPARE(JsonParamNamed(p, "plantNumber")["fileKey"].toString(), "PlantNumber");
        QCOMPARE(JsonParamNamed(p, "temperCompareTermostat")["value"].toInt(), 35);
        QVERIFY(!JsonParamNamed(p, "kkk3").isEmpty());
        QVERIFY(
            JsonParamNamed(Cli({"params", "read", "--json"}).Json()["parameters"].toArray(), "kkk3")
                .isEmpty());
    }

    void paramsDiffAndWrite() {
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        TCliRun run = Cli({"params", "diff", file, "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["equal"].toBool(), true);

        QVERIFY(SetKey(file, "Dist1", "1500,5"));
        QVERIFY(SetKey(file, "ModeImage", "3"));
        run = Cli({"params", "diff", file, "--json"});
        QCOMPARE(run.Exit, 1);
        const QJsonArray d = run.Json()["differences"].toArray();
        QCOMPARE(d.size(), 2);
        QCOMPARE(d[0].toObject()["fileKey"].toString(), QStringLiteral("Dist1"));
        QCOMPARE(d[0].toObject()["gaugeValue"].toDouble(), 1000.0);
        QCOMPARE(d[0].toObject()["value"].toDouble(), 1500.5);
        QCOMPARE(d[1].toObject()["name"].toString(), QStringLiteral("modeImage"));
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("differences"));
        QVERIFY(Cli({"params", "diff", file}).Text().contains("Dist1: прибор 1000, файл 1500"));

        run = Cli({"params", "write", file, "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["committed"].toBool(), true);
        QVERIFY(run.Json()["notTaken"].toArray().isEmpty());
        QCOMPARE(Cli({"params", "diff", file}).Exit, 0);
        run = Cli({"raw", "66", "--json"});
        QCOMPARE(run.Json()["decoded"].toObject()["dist1"].toDouble(), 1500.5);
    }

    // "-": the file read from standard input, and written to standard output byte for byte
    // as to a file (Windows-1251), with nothing named "-" left in the working directory.
    void paramsThroughStandardStreams() {
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        QProcess p;
        p.setWorkingDirectory(Dirs->Prog());
        TCliRun run = RunProgram(p, QStringLiteral(ULMAR_CLI_PATH),
                                 {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(),
                                  "params", "read", "--out", "-"});
        QVERIFY2(run.Exit == 0, run.Err);
        QCOMPARE(run.Out, ReadAll(file));
        QVERIFY(run.Out.contains("PlantNumber=4321\r\n"));
        QVERIFY(!QFile::exists(File("-")));

        QVERIFY(SetKey(file, "Dist1", "1500,5"));
        run = Cli({"params", "diff", "-"}, ReadAll(file));
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.Text().contains("Dist1: прибор 1000, файл 1500"), run.Out);
        run = Cli({"params", "write", "-", "--json"}, ReadAll(file));
        QCOMPARE(run.Exit, 0);
        QCOMPARE(Cli({"params", "diff", file}).Exit, 0);

        // What is wrong with the input is said of standard input; neither is the port opened.
        run = Cli({"--port", NoPort, "params", "write", "-"}, "[Ulmar]\r\nDist1=1\r\n");
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("стандартный ввод: нет ключа"), run.Err);
        run = Cli({"--port", NoPort, "params", "diff", "-"}, QByteArray(70 * 1024, 'x'));
        QCOMPARE(run.Exit, 3);
        QCOMPARE(Cli({"--port", NoPort, "params", "read", "--out", "-", "--json"}).Exit, 3);

        // The same as the plain user, whose own the temporary files are.
        PlainUser = true;
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        QVERIFY(StartSim());
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        run = Cli({"params", "read", "--out", "-"});
        QVERIFY2(run.Exit == 0, run.Err);
        QVERIFY(run.Out.contains("PlantNumber=4321\r\n"));
        run = Cli({"params", "diff", "-"}, run.Out);
        QVERIFY2(run.Exit == 0, run.Err);
    }

    // A parameter the gauge refused to read leaves the comparison incomplete: exit code 2, not
    // "different" (1), with the keys named.
    void paramsDiffWithUnreadParameters() {
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        QVERIFY(StartSim({"--fault-error", "prob=1"}));
        TCliRun run = Cli({"params", "diff", file, "--json"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(run.Json()["ok"].toBool(true), false);
        QVERIFY(!JsonParamNamed(run.Json()["unread"].toArray(), "dist1").isEmpty());
        run = Cli({"params", "diff", file});
        QCOMPARE(run.Exit, 2);
        QVERIFY2(run.ErrText().contains("сравнение неполное"), run.Err);
    }

    // A locked gauge takes every write but keeps dist.2: the write reports it, exit code 1.
    void lockedGauge() {
        QVERIFY(StartSim({"--fault-locked", "prob=1,value=0xB303"}));
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        QVERIFY(SetKey(file, "Dist2", "12000"));
        QVERIFY(SetKey(file, "Dist1", "900"));
        TCliRun run = Cli({"params", "write", file, "--json"});
        QCOMPARE(run.Exit, 1);
        const QJsonArray notTaken = run.Json()["notTaken"].toArray();
        QCOMPARE(notTaken.size(), 1);
        QCOMPARE(notTaken[0].toObject()["fileKey"].toString(), QStringLiteral("Dist2"));
        QCOMPARE(notTaken[0].toObject()["gaugeValue"].toDouble(), 15000.0);
        QCOMPARE(notTaken[0].toObject()["value"].toDouble(), 12000.0);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("refused"));
        QCOMPARE(run.Json()["committed"].toBool(), true);
        run = Cli({"params", "write", file});
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.Text().contains("Dist2: записано 12000, в приборе 15000"), run.Out);
    }

    // A gauge that refuses every write: the set stops at the first one and nothing is
    // committed; the rows are listed as not written, none with a value "in the gauge".
    void refusingGaugeCommitsNothing() {
        QVERIFY(StartSim());
        const QString file = File("gauge.ini");
        QCOMPARE(Cli({"params", "read", "--out", file}).Exit, 0);
        QVERIFY(StartSim({"--fault-error", "prob=1"}));
        TCliRun run = Cli({"params", "write", file, "--json"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Json()["committed"].toBool(true), false);
        QCOMPARE(run.Json()["written"].toInt(), 0);
        const QJsonArray notTaken = run.Json()["notTaken"].toArray();
        QVERIFY(!notTaken.isEmpty());
        for (const QJsonValue& row : notTaken) {
            QCOMPARE(row.toObject()["written"].toBool(true), false);
            QVERIFY(row.toObject()["gaugeValue"].isNull());
        }
        run = Cli({"params", "write", file});
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.Text().contains("Dist1: не записано (в файле 1000)"), run.Out);
        QVERIFY2(run.Text().contains("запись остановлена на Dist1, сохранение в ПЗУ не выполнено"),
                 run.Out);
        QVERIFY(!run.Text().contains("в приборе"));
    }

    void raw() {
        QVERIFY(StartSim());
        TCliRun run = Cli({"raw", "34", "--value", "1200", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["request"].toString().left(12), QStringLiteral("FF B3 06 02 "));
        run = Cli({"raw", "66"});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Text().contains("Запрос: FF B6 02 02"), run.Out);
        QVERIFY(run.Text().contains("Dist1 = 1200"));
        run = Cli({"raw", "13", "--value", "1", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["decoded"].toObject()["entries"].toArray().first().toInt(), 13);
        run = Cli({"raw", "7", "--address", "1"});
        QCOMPARE(run.Exit, 0);
        QVERIFY(run.Text().contains("подтверждено"));
        // Codes whose request would carry values nobody gave are refused before the port.
        for (const QStringList& args :
             {QStringList{"raw", "34"}, QStringList{"raw", "9"}, QStringList{"raw", "17"},
              QStringList{"raw", "80"}, QStringList{"raw", "34", "--value", "-5"},
              QStringList{"raw", "66", "--value", "1"}})
            QVERIFY2(Cli(args).Exit == 3, qPrintable(args.join(' ')));
    }

    void silentLine() {
        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        TCliRun run = Cli({"read", "--json"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(run.Json()["ok"].toBool(true), false);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("noAnswer"));
        QCOMPARE(ErrorMessage(run.Json()), QStringLiteral("read: Нет ответа от устройства (") +
                                               Sim->Port + QStringLiteral(", 9600 бод)"));
        QCOMPARE(Cli({"params", "read", "--out", File("none.ini")}).Exit, 2);
        QVERIFY(!QFile::exists(File("none.ini")));
        QCOMPARE(Cli({"watch", "--count", "1", "--period", "0"}).Exit, 2);
        QCOMPARE(Cli({"signature"}).Exit, 2);
    }

    // ports over a fake tree, as a plain user: the adapter by its by-id name with the port of
    // the settings marked, a file the user may not open, a port held by another program; then
    // without a port in the settings, the default named on stderr. No gauge command is sent.
    void portsListed() {
        const QString ftdi = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        PlainUser = true;
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        QVERIFY(StartSim());
        TFakePortTree tree;
        QVERIFY(tree.Device("ttyUSB0", Sim->Port) && tree.Link(ftdi, "ttyUSB0"));
        QVERIFY(tree.Sys("ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI"));
        QVERIFY(WriteAll(tree.Path("locked"), "x"));
        QVERIFY(tree.Device("ttyUSB3", tree.Path("locked")));
        QVERIFY(tree.Link("usb-Acme_Bridge_7-if00-port0", "ttyUSB3"));
        QVERIFY(UsePort(tree.ById(ftdi)));
        QVERIFY(GiveToPlainUser(Dirs->Root.path()) && GiveToPlainUser(tree.Root.path()));
        QVERIFY(QFile::setPermissions(tree.Path("locked"), {}));
        Environment = {{"ULMAR_PORT_ROOTS", tree.Env()}};

        TCliRun run = Cli({"ports", "--json"});
        QVERIFY2(run.Exit == 0, run.Err);
        QJsonObject o = run.Json();
        QCOMPARE(o["schemaVersion"].toInt(), 1);
        QCOMPARE(o["ok"].toBool(false), true);
        QVERIFY(o["error"].isNull());
        QCOMPARE(o["port"].toString(), tree.ById(ftdi));
        QCOMPARE(o["portIsDefault"].toBool(true), false);
        const QJsonArray ports = o["ports"].toArray();
        QCOMPARE(ports.size(), 2);
        const QJsonObject adapter = ports[0].toObject();
        QCOMPARE(adapter["device"].toString(), tree.Dev("ttyUSB0"));
        QCOMPARE(adapter["byId"].toString(), tree.ById(ftdi));
        QCOMPARE(adapter["maker"].toString(), QStringLiteral("FTDI"));
        QCOMPARE(adapter["model"].toString(), QStringLiteral("FT232R USB UART"));
        QCOMPARE(adapter["serial"].toString(), QStringLiteral("A50285BI"));
        QCOMPARE(adapter["state"].toString(), QStringLiteral("free"));
        QVERIFY(adapter["reason"].isNull());
        QCOMPARE(adapter["configured"].toBool(false), true);
        const QJsonObject denied = ports[1].toObject();
        QCOMPARE(denied["device"].toString(), tree.Dev("ttyUSB3"));
        QCOMPARE(denied["state"].toString(), QStringLiteral("noAccess"));
        QCOMPARE(denied["reason"].toString(), NoPermissionReason());
        QCOMPARE(denied["configured"].toBool(true), false);
        QVERIFY(Sim->Process.state() == QProcess::Running);

        run = Cli({"ports"});
        QCOMPARE(run.Lines().value(0),
                 tree.Dev("ttyUSB0") + QStringLiteral("  FTDI FT232R USB UART (A50285BI)  ") +
                     tree.ById(ftdi) + QStringLiteral("  свободен  (в настройках)"));
        QVERIFY(run.ErrText().isEmpty());

        // Held by another program: busy, with the reason.
        TPosixSerialPort held;
        TSerialPortSettings settings;
        settings.Port = tree.ById(ftdi);
        held.Open(settings);
        run = Cli({"ports", "--json"});
        QCOMPARE(run.Json()["ports"].toArray()[0].toObject()["state"].toString(),
                 QStringLiteral("busy"));
        QCOMPARE(run.Json()["ports"].toArray()[0].toObject()["reason"].toString(),
                 PortErrorReason(EBUSY, tree.Dev("ttyUSB0")));
        held.Close();

        // No port in the settings: the default is used and said to be.
        QVERIFY(QFile::remove(JoinPath(JoinPath(Dirs->Work(), "INI"), "ComPort.ini")));
        run = Cli({"ports", "--json"});
        QCOMPARE(run.Exit, 0);
        const QString port = TTransmitterSettings::DefaultPortName();
        QCOMPARE(run.ErrText(), QStringLiteral("ulmar-cli: порт не задан в настройках, "
                                               "используется ") +
                                    port + QStringLiteral(" (по умолчанию)\n"));
        QCOMPARE(run.Json()["port"].toString(), port);
        QCOMPARE(run.Json()["portIsDefault"].toBool(false), true);
        bool listed = false;
        for (const QJsonValue& v : run.Json()["ports"].toArray())
            listed = listed || (v.toObject()["device"].toString() == port &&
                                v.toObject()["configured"].toBool(false));
        QVERIFY(listed);
        // A command that opens the port says the same before anything else. Only as the plain
        // user, which the system's own port refuses: a real line is never opened here.
        if (RunningAsRoot()) {
            run = Cli({"read"});
            QCOMPARE(run.Exit, 2);
            QVERIFY2(run.ErrText().startsWith(QStringLiteral("ulmar-cli: порт не задан в "
                                                             "настройках, используется ") +
                                              port + QStringLiteral(" (по умолчанию)\n")),
                     run.Err);
        }
    }

    // The port is free again after each run: a plain user reads the same gauge three times
    // over while the simulator keeps its end of the line open.
    void readAgainAsPlainUser() {
        PlainUser = true;
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        QVERIFY(StartSim());
        QVERIFY(GiveToPlainUser(Dirs->Root.path())); // ComPort.ini written since
        for (int i = 0; i < 3; ++i) {
            const TCliRun run = Cli({"read"});
            QVERIFY2(run.Exit == 0, run.Err);
            QVERIFY(run.Text().contains("Ну = 7500 мм"));
        }
    }

    // --out takes a new name in an existing folder or, with --force, a regular file; anything
    // else is refused with the path and the reason before the port opens (the port here does
    // not exist: it would be exit code 2), and what lies at the path is left as it was.
    void outPathRefusedBeforeThePort() {
        QVERIFY(QDir(Dirs->Prog()).mkdir("folder"));
        QVERIFY(WriteAll(File("kept.txt"), "kept\r\n"));
        QVERIFY(QFile::link(File("kept.txt"), File("link.txt")));
        QVERIFY(mkfifo(QFile::encodeName(File("fifo")).constData(), 0644) == 0);
        QStringList paths{File("folder"), File("fifo"), File("link.txt"), File("kept.txt"),
                          File("none/x.txt")};
        // A device node of its own (the null device's numbers) where the system lets one make it.
        if (mknod(QFile::encodeName(File("null")).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
            paths << File("null");
        for (const char* command : {"params", "tare", "zero"}) {
            for (const QString& path : paths) {
                const TCliRun run = Cli({"--port", NoPort, command, "read", "--out", path});
                QVERIFY2(run.Exit == 3, qPrintable(QString(command) + " " + path));
                QVERIFY2(run.ErrText().contains("--out " + path + ": "), run.Err);
            }
            // --force replaces a regular file only.
            for (const QString& path : {File("folder"), File("fifo"), File("link.txt")})
                QCOMPARE(Cli({"--port", NoPort, command, "read", "--out", path, "--force"}).Exit,
                         3);
            QCOMPARE(
                Cli({"--port", NoPort, command, "read", "--out", File("kept.txt"), "--force"}).Exit,
                2);
        }
        QCOMPARE(ReadAll(File("kept.txt")), QByteArray("kept\r\n"));
        QVERIFY(QFileInfo(File("link.txt")).isSymLink());
        QVERIFY(QFileInfo(File("fifo")).exists() && !QFileInfo(File("fifo")).isFile());
        QVERIFY(Cli({"--port", NoPort, "params", "read", "--out", File("folder")})
                    .ErrText()
                    .contains("это каталог"));
        QVERIFY(Cli({"--port", NoPort, "params", "read", "--out", File("kept.txt")})
                    .ErrText()
                    .contains("--force"));
        QCOMPARE(Cli({"--port", NoPort, "read", "--force"}).Exit, 3);
        QCOMPARE(Cli({"--port", NoPort, "tare", "read", "--force"}).Exit, 3);
    }

    // A plain user's --out in a folder it may not write: refused before the port opens.
    void outPathInAFolderThePlainUserCannotWrite() {
        PlainUser = true;
        QVERIFY(QDir(Dirs->Prog()).mkdir("locked"));
        QVERIFY(GiveToPlainUser(Dirs->Root.path()));
        QVERIFY(QFile::setPermissions(File("locked"), QFile::ReadOwner | QFile::ExeOwner |
                                                          QFile::ReadOther | QFile::ExeOther));
        if (RunningAsRoot())
            QVERIFY(::chown(QFile::encodeName(File("locked")).constData(), 0, 0) == 0);
        const TCliRun run = Cli({"--port", NoPort, "zero", "read", "--out", File("locked/Z.txt")});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("нет права записи в каталог"), run.Err);
    }

    // What does not reach stdout (a full disk, a closed output) ends the command with exit
    // code 2 and the reason on stderr, whatever the command.
    void outputThatCannotBeWritten() {
        QVERIFY(StartSim());
        const auto toFull = [this](const QStringList& arguments) {
            QProcess p;
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
            return RunProgram(
                p, QStringLiteral(ULMAR_CLI_PATH),
                QStringList{"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog()} + arguments);
        };
        for (const QStringList& arguments :
             {QStringList{"--version"}, QStringList{"--help"}, QStringList{"read", "--json"},
              QStringList{"read"}, QStringList{"watch", "--period", "0"}}) {
            const TCliRun run = toFull(arguments);
            QVERIFY2(run.Exit == 2, qPrintable(arguments.join(' ')));
            QVERIFY2(run.ErrText().contains("не удалось записать в стандартный вывод: "), run.Err);
        }
    }

    // An export cut short by a full disk stops at the first write that failed: the day after it
    // (a damaged table here) is never read.
    void archiveExportOntoAFullDisk() {
        const QDate day(2024, 3, 5);
        QVERIFY(!WriteDayTable("Lt", EvenRows(QDateTime(day, QTime(0, 0)), 20000, 100)).isEmpty());
        const QString next = ArchiveDayDir(QtToDateTime(QDateTime(day.addDays(1), QTime(0, 0))));
        QVERIFY(QDir().mkpath(next) && WriteAll(JoinPath(next, "Lt.db"), "not a database"));
        const QString file = Dirs->Root.filePath("export.csv");
        QProcess p;
        p.setStandardOutputFile(file);
        p.setChildProcessModifier([] {
            static std::optional<TFileSizeLimit> limit;
            limit.emplace(64 * 1024);
        });
        const TCliRun run =
            RunProgram(p, QStringLiteral(ULMAR_CLI_PATH),
                       {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(), "archive",
                        "export", "--table", "Lt", "--from", "2024-03-05", "--to", "2024-03-06"});
        QCOMPARE(run.Exit, 2);
        QVERIFY2(run.ErrText().contains("не удалось записать в стандартный вывод: превышен "
                                        "допустимый размер файла"),
                 run.Err);
        QVERIFY2(!run.ErrText().contains("не читается"), run.Err);
        QVERIFY(ReadAll(file).startsWith(
            CsvText({"time;value", IsoLocal(QDateTime(QDate(2024, 3, 5), QTime(0, 0))) + ";0"})));
    }

    void badPortName() {
        TCliRun run = Cli({"--port", "/dev/ulmar-no-such-port", "read"});
        QCOMPARE(run.Exit, 2);
        const QString err = QString::fromUtf8(run.Err);
        QVERIFY2(err.contains("/dev/ulmar-no-such-port") && err.contains("Нет такого устройства"),
                 run.Err);
        run = Cli({"--port", "/dev/ulmar-no-such-port", "--json", "signature"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("portNotOpened"));
        QVERIFY(ErrorMessage(run.Json()).contains("Нет такого устройства"));
    }

    // A file that would put defaults or unchecked values on the gauge is refused before the
    // port opens (the port here does not even exist).
    void malformedFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a parameter file") << QByteArray("hello\r\n") << "нет раздела";
        QTest::newRow("a key missing") << QByteArray("[Ulmar]\r\nDist1=1000\r\n") << "нет ключа";
        QTest::newRow("binary") << QByteArray("\x00\x01\xFF[Ulmar", 9) << "нет раздела";
    }
    void malformedFile() {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QVERIFY(WriteAll(File("bad.ini"), content));
        for (const char* command : {"write", "diff"}) {
            const TCliRun run =
                Cli({"--port", "/dev/ulmar-no-such-port", "params", command, File("bad.ini")});
            QCOMPARE(run.Exit, 3);
            QVERIFY2(QString::fromUtf8(run.Err).contains(reason), run.Err);
        }
        QCOMPARE(Cli({"params", "write", File("missing.ini")}).Exit, 3);
    }

    void arguments() {
        TCliRun run = Cli({"--help"});
        QCOMPARE(run.Exit, 0);
        QVERIFY(run.Text().startsWith("Использование: ulmar-cli"));
        for (const QStringList& args :
             {QStringList{"frobnicate"}, QStringList{"read", "--bogus"},
              QStringList{"read", "--factory"}, QStringList{"--baud", "fast", "read"},
              QStringList{"--address", "256", "read"}, QStringList{"params"},
              QStringList{"params", "write"}, QStringList{"watch", "--count", "0"},
              QStringList{"read", "extra"}})
            QVERIFY2(Cli(args).Exit == 3, qPrintable(args.join(' ')));
        run = Cli({"--json", "frobnicate"});
        QCOMPARE(run.Json()["ok"].toBool(true), false);
        QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("badArgument"));

        // No command: the usage on stderr, nothing on stdout, exit code 3; with --json the
        // error object as well.
        run = Cli({});
        QCOMPARE(run.Exit, 3);
        QVERIFY(run.Out.isEmpty());
        QVERIFY2(run.ErrText().startsWith("Использование: ulmar-cli"), run.Err);
        run = Cli({"--json"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("badArgument"));
        for (const char* help : {"help", "-h", "--help"}) {
            run = Cli({help});
            QCOMPARE(run.Exit, 0);
            QVERIFY(run.Text().startsWith("Использование: ulmar-cli"));
        }
        QVERIFY(run.Text().contains("archive list"));
        QVERIFY(run.Text().contains("-q, --quiet"));

        // The short forms: -V is --version, -q is taken by every command; others are refused.
        run = Cli({"-V"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Out, Cli({"--version"}).Out);
        QVERIFY(run.Text().startsWith("ulmar-cli "));
        QCOMPARE(Cli({"-q", "--port", NoPort, "read"}).Exit, 2);
        QCOMPARE(Cli({"--port", NoPort, "read", "--quiet"}).Exit, 2);
        QCOMPARE(Cli({"-x", "read"}).Exit, 3);
    }

    // The range's bounds count to the millisecond, across days; a day without the table adds
    // nothing.
    void archiveExport() {
        const QDate day(2024, 3, 5);
        const auto at = [](const QDate& d, int h, int m, int s, int ms) {
            return QtToDateTime(QDateTime(d, QTime(h, m, s, ms)));
        };
        QVERIFY(AddArchiveRecord("Lt", at(day, 23, 59, 59, 999), 1.0));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 0, 0, 0, 0), 2.0));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 10, 0, 0, 500), 3.25));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 10, 0, 0, 501), 4.0));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(3), 8, 0, 0, 0), 5.0));
        QVERIFY(AddArchiveRecord("Hu", at(day.addDays(1), 9, 0, 0, 0), 6.0));

        TCliRun run = Cli({"archive", "export", "--table", "Lt", "--from", "2024-03-06", "--to",
                           "2024-03-06 10:00:00.500"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Out,
                 CsvText({"time;value", IsoLocal(QDateTime(day.addDays(1), QTime(0, 0))) + ";2",
                          IsoLocal(QDateTime(day.addDays(1), QTime(10, 0, 0, 500))) + ";3.25"}));
        run = Cli({"archive", "export", "--json", "--table", "Lt", "--from", "2024-03-05", "--to",
                   "2024-03-08"});
        QCOMPARE(run.Exit, 0);
        const QList<QJsonObject> rows = run.JsonLines();
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0]["time"].toString(), IsoLocal(QDateTime(day, QTime(23, 59, 59, 999))));
        QCOMPARE(rows[4]["value"].toDouble(), 5.0);
        QCOMPARE(rows[4]["table"].toString(), QStringLiteral("Lt"));
        run = Cli({"archive", "export", "--table", "Lt", "--from", "2024-03-06 10:00:00.501",
                   "--to", "2024-03-06T10:00:00.501", "--csv"});
        QCOMPARE(run.Out,
                 CsvText({"time;value",
                          IsoLocal(QDateTime(day.addDays(1), QTime(10, 0, 0, 501))) + ";4"}));
        QCOMPARE(Cli({"archive", "export", "--table", "Lt", "--from", "2020-01-01", "--to",
                      "2020-01-02", "--captions"})
                     .Out,
                 CsvText({"Время;Значение"}));

        // A day table that cannot be read is named; the others are still written.
        QVERIFY(WriteAll(JoinPath(ArchiveDayDir(at(day.addDays(3), 0, 0, 0, 0)), "Lt.db"),
                         "not a database"));
        run = Cli(
            {"archive", "export", "--table", "Lt", "--from", "2024-03-05", "--to", "2024-03-08"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(run.Text().count('\n'), 5);
        QVERIFY(QString::fromUtf8(run.Err).contains("Lt.db"));
        run = Cli({"archive", "export", "--json", "--table", "Lt", "--from", "2024-03-05", "--to",
                   "2024-03-08"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(run.JsonLines().size(), 5); // four rows and the error
        QCOMPARE(ErrorCode(run.JsonLines().last()), QStringLiteral("badFile"));
        QVERIFY(
            run.JsonLines().last()["unreadable"].toArray().first().toString().endsWith("Lt.db"));

        // An archive folder that cannot be made is a wrong folder, not an empty range; one not
        // made yet in a real folder is an empty range.
        QVERIFY(WriteAll(File("plain"), "x"));
        const QStringList range{"archive", "export",     "--table", "Lt",
                                "--from",  "2024-03-05", "--to",    "2024-03-08"};
        run = Cli(QStringList{"--program-dir", File("plain")} + range);
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("каталог архива " + File("plain") + "/DATA"), run.Err);
        QVERIFY(run.Out.isEmpty());
        QVERIFY(QDir().mkpath(File("fresh")));
        run = Cli(QStringList{"--program-dir", File("fresh")} + range);
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Err.isEmpty(), run.Err);
        // Nor is an archive the plain user may not read.
        if (RunningAsRoot()) {
            QVERIFY(GiveToPlainUser(Dirs->Root.path()));
            QVERIFY(::chown(QFile::encodeName(ArchiveRoot()).constData(), 0, 0) == 0);
            QVERIFY(QFile::setPermissions(ArchiveRoot(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            PlainUser = true;
            run = Cli({"archive", "export", "--table", "Lt", "--from", "2024-03-05", "--to",
                       "2024-03-08"});
            PlainUser = false;
            QCOMPARE(run.Exit, 3);
            QVERIFY2(run.ErrText().contains("не читается"), run.Err);
        }

        // A table the archive does not keep is refused, naming those it keeps.
        run = Cli(
            {"archive", "export", "--table", "Lx", "--from", "2024-03-05", "--to", "2024-03-06"});
        QCOMPARE(run.Exit, 3);
        QVERIFY(run.Out.isEmpty());
        QVERIFY2(run.ErrText().contains("Lx") && run.ErrText().contains("Hu, Lt, Lc, V"), run.Err);
        run = Cli({"archive", "export", "--table", "Lx", "--from", "2024-03-05", "--to",
                   "2024-03-06", "--json"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("unknownTable"));

        for (const QStringList& args :
             {QStringList{"archive", "export", "--table", "L;t", "--from", "2024-03-05", "--to",
                          "2024-03-06"},
              QStringList{"archive", "export", "--table", "Lt", "--from", "2024-03-06", "--to",
                          "2024-03-05"},
              QStringList{"archive", "export", "--table", "Lt", "--from", "5.3.2024", "--to",
                          "2024-03-06"},
              QStringList{"archive", "export", "--table", "Lt", "--from", "2024-03-05"}})
            QVERIFY2(Cli(args).Exit == 3, qPrintable(args.join(' ')));
    }

    // --plant-number: only that gauge's rows of tables shared by several gauges; a day file made
    // before the number was archived holds none of them and is no error. --source server needs
    // the number.
    void archiveExportOneGauge() {
        const QDate day(2024, 3, 5);
        const auto at = [](const QDate& d, int h, int m, int s, int ms) {
            return QtToDateTime(QDateTime(d, QTime(h, m, s, ms)));
        };
        // The old day: V and DT only.
        QVERIFY(!WriteGaugeDayTable("Lt", {{QDateTime(day, QTime(12, 0)), 1.5, 1001}}, false)
                     .isEmpty());
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 9, 0, 0, 0), 2.0, {}, 1001));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 9, 0, 0, 250), 3.0, {}, 1002));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 9, 0, 0, 500), 4.5, {}, 1001));
        QVERIFY(AddArchiveRecord("Lt", at(day.addDays(1), 9, 0, 0, 750), 5.0));

        const QStringList range{"archive", "export",     "--table", "Lt",
                                "--from",  "2024-03-05", "--to",    "2024-03-06"};
        TCliRun run = Cli(range + QStringList{"--plant-number", "1001"});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Err.isEmpty(), run.Err);
        QCOMPARE(
            run.Out,
            CsvText({"time;value", IsoLocal(QDateTime(day.addDays(1), QTime(9, 0, 0, 0))) + ";2",
                     IsoLocal(QDateTime(day.addDays(1), QTime(9, 0, 0, 500))) + ";4.5"}));
        run = Cli(range + QStringList{"--plant-number", "1002", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.JsonLines().size(), 1);
        QCOMPARE(run.JsonLines()[0]["value"].toDouble(), 3.0);
        // Without the number: every row, the old day's included, as always.
        run = Cli(range);
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Text().count('\n'), 1 + 5);
        QCOMPARE(Cli(range + QStringList{"--plant-number", "1003"}).Out, CsvText({"time;value"}));

        for (const QStringList& wrong :
             {QStringList{"--plant-number", "-1"}, QStringList{"--plant-number", "65536"},
              QStringList{"--plant-number", "x"}, QStringList{"--source", "elsewhere"}}) {
            run = Cli(range + wrong);
            QVERIFY2(run.Exit == 3, qPrintable(wrong.join(' ')));
            QVERIFY(run.Out.isEmpty());
        }
        run = Cli(range + QStringList{"--source", "server"});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("--plant-number"), run.Err);
        run = Cli(range + QStringList{"--source", "server", "--json"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(ErrorCode(run.Json()), QStringLiteral("badArgument"));
    }

    // archive list: every table with the days its file lies in, oldest first; folders that name
    // no day are passed over, and a program folder without an archive stays as it was.
    void archiveList() {
        const auto at = [](int y, int m, int d) {
            return QtToDateTime(QDateTime(QDate(y, m, d), QTime(12, 0)));
        };
        QVERIFY(AddArchiveRecord("Hu", at(2026, 12, 9), 1.0));
        QVERIFY(AddArchiveRecord("Hu", at(2025, 1, 31), 1.0));
        QVERIFY(AddArchiveRecord("Lt", at(2026, 12, 9), 1.0));
        QVERIFY(AddArchiveRecord("TempSVCH", at(2026, 2, 1), 1.0));
        const QString root = ArchiveRoot();
        QVERIFY(QDir().mkpath(root + "/2026/13/01") && QDir().mkpath(root + "/20xx/01/01") &&
                QDir().mkpath(root + "/2026/02/30"));
        QVERIFY(WriteAll(root + "/2026/13/01/Hu.db", "x") &&
                WriteAll(root + "/2026/02/30/Hu.db", "x"));
        // A folder of a day without a table file, and a folder named as a table file.
        QVERIFY(QDir().mkpath(root + "/2026/03/03") && QDir().mkpath(root + "/2026/03/04/V.db"));

        TCliRun run = Cli({"archive", "list", "--json"});
        QVERIFY2(run.Exit == 0, run.Err);
        const QJsonObject o = run.Json();
        QCOMPARE(o["schemaVersion"].toInt(), 1);
        QCOMPARE(o["ok"].toBool(), true);
        QVERIFY(o["error"].isNull());
        QMap<QString, QStringList> days;
        QStringList names;
        for (const QJsonValue& t : o["tables"].toArray()) {
            const QJsonObject table = t.toObject();
            names << table["name"].toString();
            QVERIFY(!table["caption"].toString().isEmpty());
            for (const QJsonValue& day : table["days"].toArray())
                days[table["name"].toString()] << day.toString();
        }
        QCOMPARE(names.value(0), QStringLiteral("Hu"));
        QVERIFY(names.contains("CurrentOutput") && names.contains("V"));
        QCOMPARE(days.value("Hu"), (QStringList{"2025-01-31", "2026-12-09"}));
        QCOMPARE(days.value("Lt"), QStringList{"2026-12-09"});
        QCOMPARE(days.value("TempSVCH"), QStringList{"2026-02-01"});
        QVERIFY(days.value("V").isEmpty());

        run = Cli({"archive", "list"});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Text().contains("Hu (") && run.Text().contains("2025-01-31, 2026-12-09"),
                 run.Out);

        // Every table a poll answer archives is among those listed.
        TUlmar ulmar;
        for (int code = 0; code < 128; ++code)
            for (const TArchiveReading& reading : CaptureArchiveBatch(ulmar, code, at(2026, 1, 1)))
                QVERIFY2(names.contains(reading.Table), qPrintable(reading.Table));

        QVERIFY(QDir().mkpath(File("fresh")));
        run = Cli({"--program-dir", File("fresh"), "archive", "list"});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Err.isEmpty(), run.Err);
        QVERIFY(QDir(File("fresh")).isEmpty());
        QVERIFY(WriteAll(File("plain"), "x"));
        run = Cli({"--program-dir", File("plain"), "archive", "list", "--json"});
        QCOMPARE(run.Exit, 3);
        QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("badFile"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
