// ulmar-cli as an installed program: a copy of it laid out as a package installs it
// (<root>/usr/bin with <root>/usr/share/ulmar beside it) keeps its settings in the user's config
// folder and its data in the user's data folder, and names the state folder of the window
// program's request logs; from the build tree everything stays in the build's run folder.

#include "tests/support/CliRig.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct TInstalled {
    QTemporaryDir Root;
    QString Cli() const { return Root.filePath(QStringLiteral("usr/bin/ulmar-cli")); }
    QString Home() const { return Root.filePath(QStringLiteral("home")); }
    QString Data() const { return Home() + QStringLiteral("/.local/share/ulmar"); }
    QString Config() const { return Home() + QStringLiteral("/.config/ulmar"); }
    QString State() const { return Home() + QStringLiteral("/.local/state/ulmar"); }

    bool Lay() {
        QDir root(Root.path());
        return root.mkpath(QStringLiteral("usr/bin")) &&
               root.mkpath(QStringLiteral("usr/share/ulmar/INI")) &&
               root.mkpath(QStringLiteral("home")) &&
               QFile::copy(QStringLiteral(ULMAR_CLI_PATH), Cli()) &&
               WriteAll(Root.filePath(QStringLiteral("usr/share/ulmar/INI/TypeSVCH.ini")),
                        "ППМ-X1\n");
    }

    // The copy run with HOME in the temporary root and no XDG folders set.
    TCliRun Run(const QStringList& arguments, const QString& program = {}) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), Home());
        env.remove(QStringLiteral("XDG_DATA_HOME"));
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.remove(QStringLiteral("XDG_STATE_HOME"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(Root.path());
        return RunProgram(p, program.isEmpty() ? Cli() : program, arguments);
    }
};

} // namespace

class TCliPlacesTest : public TCliTest {
    Q_OBJECT
private slots:
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    void InstalledCopyUsesTheUserFolders() {
        TInstalled inst;
        QVERIFY(inst.Lay());
        TCliRun run = inst.Run({QStringLiteral("--version")});
        QCOMPARE(run.Exit, 0);
        QVERIFY2(run.Lines().value(0).startsWith(QStringLiteral("ulmar-cli ")),
                 qPrintable(run.Text()));
        QCOMPARE(run.Lines().value(1), "Данные: " + inst.Data() + " (папка пользователя)");
        QCOMPARE(run.Lines().value(2), "Настройки: " + inst.Config() + " (папка пользователя)");
        QCOMPARE(run.Lines().value(3), "Журналы: " + inst.State() + " (папка пользователя)");
        // --version only names the folders.
        QVERIFY(!QFileInfo::exists(inst.Data()));

        QVERIFY(StartSim());
        run = inst.Run({QStringLiteral("--port"), Sim->Port, QStringLiteral("read")});
        QVERIFY2(run.Exit == 0, qPrintable(run.Text() + run.ErrText()));
        QCOMPARE(ReadAll(inst.Data() + "/INI/TypeSVCH.ini"), QByteArray("ППМ-X1\n"));
        QVERIFY(QFileInfo(inst.Data() + "/DATA").isDir());
        QVERIFY(QFileInfo::exists(inst.Config() + "/INI/Timer.ini"));
        // Nothing beside the program or in the working directory.
        QCOMPARE(QDir(inst.Root.filePath(QStringLiteral("usr/bin")))
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("ulmar-cli")});
        QCOMPARE(QDir(inst.Root.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList({QStringLiteral("home"), QStringLiteral("usr")}));
    }

    void OptionsStillWin() {
        TInstalled inst;
        QVERIFY(inst.Lay());
        const QString work = inst.Root.filePath(QStringLiteral("work"));
        TCliRun run = inst.Run({QStringLiteral("--work-dir"), work, QStringLiteral("--json"),
                                QStringLiteral("--version")});
        QCOMPARE(run.Exit, 0);
        const QJsonObject o = run.Json();
        QCOMPARE(o.value("workDir").toString(), work);
        QCOMPARE(o.value("programDir").toString(), inst.Data());
        QVERIFY(o.value("perUser").toBool());
    }

    void BuildTreeKeepsItsRunFolder() {
        TInstalled inst; // only its HOME is used
        QVERIFY(inst.Lay());
        TCliRun run = inst.Run({QStringLiteral("--version")}, QStringLiteral(ULMAR_CLI_PATH));
        QCOMPARE(run.Exit, 0);
        // The build folder's run folder, not the working directory.
        const QString folder =
            QDir::cleanPath(QFileInfo(QStringLiteral(ULMAR_CLI_PATH)).absolutePath() + "/../run");
        QCOMPARE(run.Lines().value(1), "Данные: " + folder);
        QCOMPARE(run.Lines().value(2), "Настройки: " + folder);
        // Asked for, the per-user folders are used from the build tree too.
        run = inst.Run({QStringLiteral("--user-dirs"), QStringLiteral("--version")},
                       QStringLiteral(ULMAR_CLI_PATH));
        QCOMPARE(run.Lines().value(1), "Данные: " + inst.Data() + " (папка пользователя)");
    }

    void FolderThatCannotBeMadeIsReported() {
        TInstalled inst;
        QVERIFY(inst.Lay());
        QVERIFY(WriteAll(inst.Home() + "/.config", "a file, not a folder"));
        QVERIFY(StartSim());
        const TCliRun run = inst.Run({QStringLiteral("--port"), Sim->Port, QStringLiteral("read")});
        QVERIFY2(run.ErrText().contains("Не удалось создать папку " + inst.Config()),
                 qPrintable(run.ErrText()));
        // The gauge is still read; only what would be stored is lost, and that was said.
        QCOMPARE(run.Exit, 0);
    }
};

QTEST_GUILESS_MAIN(TCliPlacesTest)
#include "tst_cli_places.moc"
