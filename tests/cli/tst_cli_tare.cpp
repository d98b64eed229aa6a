// ulmar-cli tare read and tare write against ulmar-sim on a pseudo-terminal: a table written,
// read into a file and written back unchanged; the confirmation asked on the terminal and a
// "no" that sends nothing; a table unfit for the gauge refused before the port opens; a gauge
// that stores another value; a silent gauge that leaves no file.

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "tests/support/CliRig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <memory>
#include <sys/stat.h>

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

        // Written back and read again: the same file, byte for byte.
        run = Cli({"tare", "write", first, "--name", "ttFromUlmar", "--yes", "--json"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Json()["committed"].toBool(), true);
        const QString second = File("second.txt");
        QCOMPARE(Cli({"tare", "read", "--out", second}).Exit, 0);
        QCOMPARE(ReadAll(second), bytes);

        run = Cli({"tare", "read", "--json"});
        QCOMPARE(run.Exit, 0);
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

        TCliRun run = Cli({"tare", "write", source, "--name", "ten", "--trace"}, "n\n");
        QCOMPARE(run.Exit, 1);
        QVERIFY2(run.ErrText().contains(QStringLiteral("ten (строк: 10)?")), run.Err);
        QVERIFY(run.ErrText().contains(QStringLiteral("отменена")));
        const QString after = File("after.txt");
        QCOMPARE(Cli({"tare", "read", "--out", after}).Exit, 0);
        QCOMPARE(ReadAll(after), ReadAll(before));

        // No answer at all (stdin closed) is No as well; "да" is Yes.
        QCOMPARE(Cli({"tare", "write", source, "--name", "ten"}).Exit, 1);
        run = Cli({"tare", "write", source, "--name", "ten"}, "да\n");
        QVERIFY2(run.Exit == 0, run.Err);
        QCOMPARE(Cli({"tare", "read", "--out", after, "--force"}).Exit, 0);
        QVERIFY(ReadAll(after).contains("ttFromUlmar=10\r\n"));
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
        // Nothing left beside it.
        QCOMPARE(QDir(Dirs->Prog()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"link.txt", "tables.txt"}));
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
        const TCliRun run = Cli({"tare", "read", "--out", out});
        QCOMPARE(run.Exit, 2);
        QVERIFY(run.ErrText().contains(QStringLiteral("файл не записан")));
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_GUILESS_MAIN(TestCliTare)
#include "tst_cli_tare.moc"
