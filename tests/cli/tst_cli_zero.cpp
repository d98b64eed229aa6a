// ulmar-cli "zero read" against ulmar-sim on a pseudo-terminal: the list as the zero array
// window shows it, the 256-line file of --out byte for byte, JSON, an empty array, a silent line
// (no file written) and the arguments it refuses.

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "tests/support/TestDirs.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <array>
#include <memory>

namespace {

class TSimProcess {
public:
    explicit TSimProcess(const QStringList& options) {
        Process.start(QStringLiteral(ULMAR_SIM_PATH), QStringList{"--delay", "1"} + options);
        if (Process.waitForStarted(5000) && Process.waitForReadyRead(5000))
            Port = QString::fromLocal8Bit(Process.readLine()).trimmed();
    }
    ~TSimProcess() {
        Process.terminate();
        Process.waitForFinished(5000);
    }
    QProcess Process;
    QString Port;
};

struct TRun {
    int Exit = -1;
    QByteArray Out;
    QByteArray Err;
    QStringList Lines() const {
        return QString::fromUtf8(Out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QJsonObject Json() const { return QJsonDocument::fromJson(Out).object(); }
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

class TestCliZero : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestDirs> Dirs;
    std::unique_ptr<TSimProcess> Sim;

    bool StartSim(const QStringList& options) {
        Sim = std::make_unique<TSimProcess>(options);
        if (!Sim->Port.startsWith(QLatin1String("/dev/")))
            return false;
        TIniFile ini(JoinPath(JoinPath(Dirs->Work(), "INI"), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", Sim->Port);
        ini.WriteInteger("Transmitter", "ReadInterval", 5);
        ini.WriteInteger("Transmitter", "ReadTotalConstant", 100);
        ini.WriteInteger("Transmitter", "ReadTotalMultiplier", 1);
        return ini.Save(false);
    }
    TRun Cli(const QStringList& arguments) {
        QProcess p;
        p.start(QStringLiteral(ULMAR_CLI_PATH),
                QStringList{"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog()} + arguments);
        TRun run;
        if (!p.waitForFinished(60000))
            return run;
        run.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        run.Out = p.readAllStandardOutput();
        run.Err = p.readAllStandardError();
        return run;
    }
    QString File(const char* name) const { return Dirs->Prog() + "/" + name; }

private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() {
        Sim.reset();
        Dirs.reset();
    }

    void listAndFile() {
        QVERIFY(StartSim({"--zero", "13"}));
        const std::array<int, 256> a = SimArray(13);
        TRun run = Cli({"zero", "read"});
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
        QCOMPARE(ReadAll(File("Zero.txt")), bytes);

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
        const TRun run = Cli({"zero", "read"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Lines(), (QStringList{"Кол-во:0", "Min:0", "Max:65535"}));
    }

    void silentLineWritesNothing() {
        QVERIFY(StartSim({"--fault-silence", "prob=1"}));
        TRun run = Cli({"zero", "read", "--out", File("Zero.txt")});
        QCOMPARE(run.Exit, 2);
        QVERIFY(!QFile::exists(File("Zero.txt")));
        run = Cli({"--json", "zero", "read"});
        QCOMPARE(run.Exit, 2);
        QCOMPARE(run.Json()["ok"].toBool(true), false);
    }

    // A file that cannot be written: exit code 3, and no former file is touched.
    void unwritableFile() {
        QVERIFY(StartSim({"--zero", "5"}));
        const TRun run = Cli({"zero", "read", "--out", File("none/Zero.txt")});
        QCOMPARE(run.Exit, 3);
        QVERIFY2(QString::fromUtf8(run.Err).contains("не удалось записать файл"), run.Err);
    }

    void arguments() {
        for (const QStringList& args :
             {QStringList{"zero"}, QStringList{"zero", "write"},
              QStringList{"zero", "read", "extra"}, QStringList{"zero", "read", "--out"},
              QStringList{"zero", "read", "--out="}, QStringList{"zero", "read", "--factory"}})
            QVERIFY2(Cli(args).Exit == 3, qPrintable(args.join(' ')));
        QVERIFY(QString::fromUtf8(Cli({"--help"}).Out).contains("zero read [--out FILE]"));
    }
};

QTEST_GUILESS_MAIN(TestCliZero)
#include "tst_cli_zero.moc"
