// ulmar-cli tare read and tare write against ulmar-sim on a pseudo-terminal: a table written,
// read into a file and written back unchanged; the confirmation asked on the terminal and a
// "no" that sends nothing; a table unfit for the gauge refused before the port opens; a gauge
// that stores another value; a silent gauge that leaves no file; the copy named after the gauge;
// a table compared with the gauge's.

#include "tests/support/CliRig.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Ten rows with volumes that need their decimals, CR LF line ends.
QByteArray TenRows() {
    QByteArray text = "* ten\r\nten=10\r\n";
    for (int i = 0; i < 10; ++i)
        text += QByteArray::number(i * 1234) + "\t" + QByteArray::number(i * 11) + ",37\r\n";
    return text + "\r\n";
}

} // namespace

class TestCliTare : public TCliTest {
    Q_OBJECT

    // The files named after the gauge ("<plant number>_<date-time>.txt") in the program folder.
    QStringList GaugeFiles() const {
        static const QRegularExpression name(QStringLiteral("^\\d+_\\d{8}-\\d{6}(-\\d+)?\\.txt$"));
        return QDir(Dirs->Prog()).entryList(QDir::Files).filter(name);
    }

private slots:
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    void writeReadWriteBack() {
        QVERIFY(StartSim());
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));
        TCliRun run = Cli({"tare", "write", source, "--name", "TEN", "--yes"});
        QVERIFY2(run.Exit == 0, run.Err);
        QVERIFY(run.Text().contains(QStringLiteral("записана в прибор")));

        const QString first = File("first.txt");
        run = Cli({"tare", "read", "--out", first});
        QVERIFY2(run.Exit == 0, run.Err);
        const QByteArray bytes = ReadAll(first);
        QVERIFY2(bytes.contains("\r\nttFromUlmar=10\r\n0 0,37\r\n1234 11,37\r\n"), bytes);
        QVERIFY(bytes.endsWith("11106 99,37\r\n\r\n"));
        // The same table beside it, under the gauge's plant number and the time of the read.
        const QStringList kept = GaugeFiles();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(ReadAll(Dirs->Prog() + "/" + kept[0]), bytes);
        QVERIFY2(run.Text().contains(kept[0]), run.Out);

        // Written back and read again: the same file, byte for byte.
        run = Cli({"tare", "write", first, "--name", "ttFromUlmar", "--yes", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["committed"].toBool(), true);
        const QString second = File("second.txt");
        QCOMPARE(Cli({"tare", "read", "--out", second}).Exit, 0);
        QCOMPARE(ReadAll(second), bytes);

        run = Cli({"tare", "read", "--out", File("third.txt"), "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(GaugeFiles().size(), 3);
        QVERIFY(GaugeFiles().contains(QFileInfo(run.Json()["gaugeFile"].toString()).fileName()));
        run = Cli({"tare", "read", "--json"});
        QCOMPARE(run.Exit, 0);
        QVERIFY(run.Json()["gaugeFile"].isNull());
        const QJsonArray points = run.Json()["points"].toArray();
        QCOMPARE(points.size(), 10);
        QCOMPARE(points[1].toObject()["level"].toDouble(), 1234.0);
    }

    void confirmationOnTheTerminal() {
        QVERIFY(StartSim());
        const QString before = File("before.txt");
        QCOMPARE(Cli({"tare", "read", "--out", before}).Exit, 0);
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));

        const QStringList write{"tare", "write", source, "--name", "ten"};
        TTestTerminal no;
        QVERIFY(no.Valid() && no.Type("n\n"));
        TCliRun run = CliOnTerminal(no, STDIN_FILENO, write + QStringList{"--trace"});
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.ErrText().contains(QStringLiteral("ten (строк: 10)?")), run.Err);
        QVERIFY(run.ErrText().contains(QStringLiteral("отменена")));
        const QString after = File("after.txt");
        QCOMPARE(Cli({"tare", "read", "--out", after}).Exit, 0);
        QCOMPARE(ReadAll(after), ReadAll(before));

        // The input ended without an answer is No as well; "да" is Yes.
        TTestTerminal ended;
        QVERIFY(ended.Valid() && ended.Type("\x04"));
        QCOMPARE(CliOnTerminal(ended, STDIN_FILENO, write).Exit, 1);
        TTestTerminal yes;
        QVERIFY(yes.Valid() && yes.Type("да\n"));
        run = CliOnTerminal(yes, STDIN_FILENO, write);
        QVERIFY2(run.Exit == 0, run.Err);
        QCOMPARE(Cli({"tare", "read", "--out", after, "--force"}).Exit, 0);
        QVERIFY(ReadAll(after).contains("ttFromUlmar=10\r\n"));
    }

    // Without a terminal to answer on (a script, a pipe, or the file itself on standard input)
    // the question is never asked: refused at once, before the port opens (none exists here).
    void noTerminalNeedsYes() {
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));
        const QString noPort = QStringLiteral("/dev/ulmar-no-such-port");
        for (const QStringList& args : {QStringList{"tare", "write", source, "--name", "ten"},
                                        QStringList{"tare", "write", "-", "--name", "ten"}}) {
            TCliRun run = Cli(QStringList{"--port", noPort} + args, "да\n");
            QCOMPARE(run.Exit, 3);
            QVERIFY2(run.ErrText().contains(QStringLiteral("нужно --yes")), run.Err);
            run = Cli(QStringList{"--port", noPort, "--json"} + args, "да\n");
            QCOMPARE(run.Exit, 3);
            QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("needsYes"));
        }
        // A terminal takes the file on standard input but cannot answer after it.
        TTestTerminal terminal;
        QVERIFY(terminal.Valid() && terminal.Type(TenRows() + "\x04"));
        const TCliRun run = CliOnTerminal(
            terminal, STDIN_FILENO, {"--port", noPort, "tare", "write", "-", "--name", "ten"});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains(QStringLiteral("нужно --yes")), run.Err);
    }

    // "-": the table written from standard input, the gauge's table to standard output as the
    // file would hold it, and nothing named "-" left in the working directory.
    void standardInputAndOutput() {
        QVERIFY(StartSim());
        TCliRun run = Cli({"tare", "write", "-", "--name", "ten", "--yes"}, TenRows());
        QVERIFY2(run.Exit == 0, run.Err);
        const QString file = File("gauge.txt");
        QCOMPARE(Cli({"tare", "read", "--out", file}).Exit, 0);
        QProcess p;
        p.setWorkingDirectory(Dirs->Prog());
        run = RunProgram(p, QStringLiteral(ULMAR_CLI_PATH),
                         {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(), "tare", "read",
                          "--out", "-"});
        QVERIFY2(run.Exit == 0, run.Err);
        QCOMPARE(run.Out, ReadAll(file));
        QVERIFY(run.Out.contains("\r\nttFromUlmar=10\r\n0 0,37\r\n"));
        QVERIFY(!QFile::exists(File("-")));
        QCOMPARE(Cli({"tare", "read", "--out", "-", "--json"}).Exit, 3);

        // A table unfit for the gauge is named as standard input's.
        run = Cli({"tare", "write", "-", "--name", "none", "--yes"}, TenRows());
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains(QStringLiteral("стандартный ввод")), run.Err);
    }

    // A tare file holds many tables: the gauge's one replaces it only with --force, and keeps
    // the former file's modes; a link is not followed onto the file it names.
    void existingFileReplacedOnlyWithForce() {
        QVERIFY(StartSim());
        const QString file = File("tables.txt");
        const QByteArray tables = TenRows() + TenRows().replace("ten", "eleven");
        QVERIFY(WriteAll(file, tables));
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        TCliRun run = Cli({"tare", "read", "--out", file});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("--force"), run.Err);
        QCOMPARE(ReadAll(file), tables);
        QVERIFY(QFile::link(file, File("link.txt")));
        QCOMPARE(Cli({"tare", "read", "--out", File("link.txt"), "--force"}).Exit, 3);
        QCOMPARE(ReadAll(file), tables);

        run = Cli({"tare", "read", "--out", file, "--force"});
        QVERIFY2(run.Exit == 0, run.Err);
        QVERIFY(ReadAll(file).contains("\r\nttFromUlmar="));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(file).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0640u);
        // Nothing left beside it but the copy named after the gauge.
        QStringList files = QDir(Dirs->Prog()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(GaugeFiles().size(), 1);
        files.removeOne(GaugeFiles().constFirst());
        QCOMPARE(files, (QStringList{"link.txt", "tables.txt"}));
    }

    void refusedBeforeThePortOpens() {
        // No simulator: a refused table never reaches the line, so the port is not needed.
        QByteArray forty = "forty=40\r\n";
        for (int i = 0; i < 40; ++i)
            forty += QByteArray::number(i * 100) + " " + QByteArray::number(i) + "\r\n";
        const QString source = File("forty.txt");
        QVERIFY(WriteAll(source, forty));
        TCliRun run = Cli({"tare", "write", source, "--name", "forty", "--yes"});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains(QStringLiteral("Строка 34: ")), run.Err);

        QCOMPARE(Cli({"tare", "write", File("none.txt"), "--name", "t", "--yes"}).Exit, 3);
        QVERIFY(WriteAll(source, QByteArray("t=2\r\n0 0\r\n1 1\0", 14)));
        run = Cli({"tare", "write", source, "--name", "t", "--yes"});
        QCOMPARE(run.Exit, 3);
        QVERIFY(run.ErrText().contains(QStringLiteral("Не удалось загрузить файл")));
        QCOMPARE(Cli({"tare", "write", source, "--yes"}).Exit, 3);
        QCOMPARE(Cli({"tare", "read", "--name", "t"}).Exit, 3);
    }

    void gaugeStoresAnotherValue() {
        QVERIFY(StartSim({"--fault-tare", "count=1,value=4"}));
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));
        const TCliRun run = Cli({"tare", "write", source, "--name", "ten", "--yes"});
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.Text().contains(QStringLiteral("Точка 4: уровень записан 3702, считан 3703")),
                 run.Out);
        QVERIFY(run.ErrText().contains(QStringLiteral("в ПЗУ не сохранено")));
    }

    void silentGaugeLeavesNoFile() {
        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        const QString out = File("gauge.txt");
        TCliRun run = Cli({"tare", "read", "--out", out});
        QCOMPARE(run.Exit, 2);
        QVERIFY(run.ErrText().contains(QStringLiteral("файл не записан")));
        QVERIFY(!QFile::exists(out));
        QVERIFY(GaugeFiles().isEmpty());
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));
        run = Cli({"tare", "compare", source});
        QCOMPARE(run.Exit, 2);
    }

    // tare compare: the same table (exit 0), rows that differ (exit 1, each named), a table the
    // file does not hold or a file of several tables without --name (exit 3, port not opened).
    void compareWithTheGauge() {
        QVERIFY(StartSim());
        const QString source = File("ten.txt");
        QVERIFY(WriteAll(source, TenRows()));
        QCOMPARE(Cli({"tare", "write", source, "--name", "ten", "--yes"}).Exit, 0);
        TCliRun run = Cli({"tare", "compare", source});
        QVERIFY2(run.Exit == 0, run.Err);
        QVERIFY2(run.Text().contains(QStringLiteral("совпадает")), run.Out);
        run = Cli({"tare", "compare", source, "--name", "ten", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["same"].toBool(), true);
        QCOMPARE(run.Json()["rows"].toInt(), 10);
        QCOMPARE(run.Json()["differences"].toArray().size(), 0);

        // Row 3's volume changed, and an eleventh row the gauge does not hold.
        QByteArray changed = TenRows();
        changed.replace("2468\t22,37", "2468\t22,5");
        changed.replace("11106\t99,37\r\n", "11106\t99,37\r\n12000\t100\r\n");
        changed.replace("ten=10", "ten=11");
        QVERIFY(WriteAll(source, changed));
        run = Cli({"tare", "compare", source});
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.Text().contains(QStringLiteral(
                     "Строка 3: в таблице 2468 мм, 22.5 %; в приборе 2468 мм, 22.37 %")),
                 run.Out);
        QVERIFY2(run.Text().contains(
                     QStringLiteral("Строка 11: в таблице 12000 мм, 100 %; в приборе нет строки")),
                 run.Out);
        run = Cli({"tare", "compare", source, "--json"});
        QCOMPARE(run.Exit, 1);
        QCOMPARE(run.Json()["error"].toObject()["code"].toString(), QStringLiteral("differences"));
        const QJsonArray rows = run.Json()["differences"].toArray();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].toObject()["row"].toInt(), 3);
        QCOMPARE(rows[0].toObject()["volume"].toDouble(), 22.5);
        QVERIFY(rows[1].toObject()["gaugeLevel"].isNull());
        QCOMPARE(run.Json()["gaugeRows"].toInt(), 10);

        // Refused before the port opens: no such table, or which one of two.
        const QString noPort = QStringLiteral("/dev/ulmar-no-such-port");
        QCOMPARE(Cli({"--port", noPort, "tare", "compare", source, "--name", "none"}).Exit, 3);
        QVERIFY(WriteAll(source, TenRows() + TenRows().replace("ten", "eleven")));
        run = Cli({"--port", noPort, "tare", "compare", source});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("--name"), run.Err);
        QCOMPARE(Cli({"--port", noPort, "tare", "compare"}).Exit, 3);
    }
};

QTEST_GUILESS_MAIN(TestCliTare)
#include "tst_cli_tare.moc"
