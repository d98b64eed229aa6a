// ulmar-cli "zero read" against ulmar-sim on a pseudo-terminal: the list as the zero array
// window shows it, the file of --out byte for byte (the plant number comment, 256 lines),
// JSON, an empty array, a silent line (no file written) and the arguments it refuses; "zero
// watch" recording snapshots into a folder.

#include "tests/support/CliRig.h"
#include "tests/support/FileSizeLimit.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <array>
#include <memory>
#include <optional>

namespace {

// The array the simulator keeps with n positions: spread from 400 over 60000, minimum and
// maximum the first and the last position.
std::array<int, 256> SimArray(int n) {
    std::array<int, 256> a{};
    a[0] = n;
    for (int k = 0; k < n; ++k)
        a[3 + k] = 400 + k * 60000 / n;
    a[1] = n ? a[3] : 0;
    a[2] = n ? a[3 + n - 1] : 65535;
    return a;
}

} // namespace

class TestCliZero : public TCliTest {
    Q_OBJECT

private slots:
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    void listAndFile() {
        QVERIFY(StartSim({"--zero", "13"}));
        const std::array<int, 256> a = SimArray(13);
        TCliRun run = Cli({"zero", "read"});
        QCOMPARE(run.Exit, 0);
        QStringList expected{"Кол-во:13", "Min:400", "Max:" + QString::number(a[2])};
        for (int k = 1; k <= 13; ++k)
            expected << QString::number(k) + ") " + QString::number(a[k + 2]);
        QCOMPARE(run.Lines(), expected);

        run = Cli({"zero", "read", "--out", File("Zero.txt")});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Lines().value(0).startsWith("записан файл "), run.Out);
        // Blocks of 8 entries are read as far as the count needs (2 here); the rest keep the
        // cleared values, entry 256 65535.
        QByteArray bytes;
        for (int i = 0; i < 256; ++i)
            bytes += QByteArray::number(i < 16 ? a[i] : i == 255 ? 65535 : 0) + "\r\n";
        // First the comment line with the gauge's plant number and the time of the read.
        const QByteArray file = ReadAll(File("Zero.txt"));
        const qsizetype eol = file.indexOf("\r\n");
        QVERIFY2(file.startsWith(QStringLiteral("# Заводской номер 1001, ").toUtf8()), file);
        QVERIFY2(
            QDateTime::fromString(QString::fromUtf8(file.mid(eol - 19, 19)), "dd.MM.yyyy HH:mm:ss")
                .isValid(),
            file);
        QCOMPARE(file.mid(eol + 2), bytes);
        // "--out -": the same file on standard output, and nothing else there.
        run = Cli({"zero", "read", "--out", "-"});
        QVERIFY2(run.Exit == 0, run.Err);
        QVERIFY(run.Out.startsWith('#'));
        QCOMPARE(run.Out.mid(run.Out.indexOf("\r\n") + 2), bytes);

        run = Cli({"--json", "zero", "read"});
        QCOMPARE(run.Exit, 0);
        const QJsonObject o = run.Json();
        QCOMPARE(o["ok"].toBool(), true);
        QCOMPARE(o["count"].toInt(), 13);
        QCOMPARE(o["min"].toInt(), 400);
        QCOMPARE(o["positions"].toArray().size(), 13);
        QCOMPARE(o["positions"].toArray().last().toInt(), a[15]);
        QCOMPARE(o["entries"].toArray().size(), 256);
    }

    void emptyArray() {
        QVERIFY(StartSim({"--zero", "0"}));
        const TCliRun run = Cli({"zero", "read"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Lines(), (QStringList{"Кол-во:0", "Min:0", "Max:65535"}));
    }

    void silentLineWritesNothing() {
        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        TCliRun run = Cli({"zero", "read", "--out", File("Zero.txt")});
        QCOMPARE(run.Exit, 2);
        QVERIFY(!QFile::exists(File("Zero.txt")));
        run = Cli({"--json", "zero", "read"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(run.Json()["ok"].toBool(true), false);
    }

    // A file that cannot be written in full (a full disk): exit code 3, the former file as it
    // was and nothing left beside it.
    void unwritableFile() {
        QVERIFY(StartSim({"--zero", "5"}));
        QVERIFY(WriteAll(File("Zero.txt"), "former\r\n"));
        QProcess p;
        p.setChildProcessModifier([] {
            static std::optional<TFileSizeLimit> limit;
            limit.emplace(100);
        });
        const TCliRun run = RunProgram(p, QStringLiteral(ULMAR_CLI_PATH),
                                       {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(),
                                        "zero", "read", "--out", File("Zero.txt"), "--force"});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(run.ErrText().contains("не удалось записать файл " + File("Zero.txt")), run.Err);
        QCOMPARE(ReadAll(File("Zero.txt")), QByteArray("former\r\n"));
        QCOMPARE(QDir(Dirs->Prog()).entryList(QDir::Files | QDir::Hidden), QStringList{"Zero.txt"});
    }

    // "zero watch": a snapshot file per line in the folder, times rising, what changed since
    // the one before; the folder is a recording the loader reads back.
    void watchRecordsSnapshots() {
        QVERIFY(StartSim({"--zero", "13"}));
        const QString folder = File("echo");
        TCliRun run =
            Cli({"--json", "zero", "watch", "--every", "1", "--out", folder, "--count", "3"});
        QVERIFY2(run.Exit == 0, run.Err);
        const QList<QByteArray> lines = run.Out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        QDateTime previous;
        for (int i = 0; i < 3; ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(o["ok"].toBool(), true);
            QCOMPARE(o["count"].toInt(), 13);
            QVERIFY(QFile::exists(o["file"].toString()));
            QVERIFY(QFileInfo(o["file"].toString()).fileName().startsWith("Zero"));
            QCOMPARE(o["changed"].isNull(), i == 0);
            if (i > 0)
                QCOMPARE(o["changed"].toInt(), 0);
            const QDateTime time = QDateTime::fromString(o["time"].toString(), Qt::ISODateWithMs);
            QVERIFY(time.isValid());
            // At least a second apart: the interval runs from the start of one read.
            if (previous.isValid())
                QVERIFY(previous.msecsTo(time) >= 900);
            previous = time;
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 3);
        QVERIFY(ReadAll(QDir(folder).filePath(QDir(folder).entryList(QDir::Files).first()))
                    .startsWith(QStringLiteral("# Заводской номер 1001, ").toUtf8()));

        // Text: one line per snapshot with its file.
        run = Cli({"zero", "watch", "--every", "1", "--out", folder, "--count", "1"});
        QVERIFY2(run.Exit == 0, run.Err);
        QCOMPARE(run.Lines().size(), 1);
        QVERIFY2(run.Lines()[0].contains(QStringLiteral("Кол-во: 13")), run.Out);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);

        // A folder that cannot be made: exit 3 at the first snapshot.
        QVERIFY(WriteAll(File("blocked"), "x"));
        run = Cli({"zero", "watch", "--every", "1", "--out", File("blocked") + "/echo"});
        QCOMPARE(run.Exit, 3);
    }

    void arguments() {
        for (const QStringList& args :
             {QStringList{"zero"}, QStringList{"zero", "write"},
              QStringList{"zero", "read", "extra"}, QStringList{"zero", "read", "--out"},
              QStringList{"zero", "read", "--out="}, QStringList{"zero", "read", "--factory"},
              QStringList{"zero", "watch", "--out", "d"},
              QStringList{"zero", "watch", "--every", "1"},
              QStringList{"zero", "watch", "--every", "0", "--out", "d"},
              QStringList{"zero", "watch", "--every", "x", "--out", "d"},
              QStringList{"zero", "watch", "--every", "1", "--out", "-"},
              QStringList{"zero", "watch", "--every", "1", "--out", "d", "--force"},
              QStringList{"zero", "read", "--every", "1"}})
            QVERIFY2(Cli(args).Exit == 3, qPrintable(args.join(' ')));
        QVERIFY(
            QString::fromUtf8(Cli({"--help"}).Out).contains("zero read [--out FILE] [--force]"));
    }
};

QTEST_GUILESS_MAIN(TestCliZero)
#include "tst_cli_zero.moc"
