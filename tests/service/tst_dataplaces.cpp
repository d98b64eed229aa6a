// Where the program keeps its files: its own folder, one run folder of a build tree for every
// program of that build, the user's data, config and state folders when installed, the options
// always first; the folders chosen created, the user's seeded without ever replacing a file.

#include "uDataPlaces.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

TDataPlaceInputs Inputs(const QString& exeDir, bool writable) {
    TDataPlaceInputs in;
    in.ExecutableDir = exeDir;
    in.CurrentDir = QStringLiteral("/srv/here");
    in.Home = QStringLiteral("/home/tech");
    in.CanWrite = [writable](const QString&) { return writable; };
    return in;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TDataPlacesTest : public QObject {
    Q_OBJECT
private slots:
    void OwnFolderKeepsTheOldPlaces() {
        QTemporaryDir build;
        const TDataPlaces p = ChooseDataPlaces(Inputs(build.path(), true));
        QVERIFY(!p.PerUser);
        QCOMPARE(p.ProgramDir, build.path());
        QCOMPARE(p.WorkDir, QStringLiteral("/srv/here"));
        // Nothing is created for the program's own folders.
        QVERIFY(PrepareDataPlaces(p).isEmpty());
        QCOMPARE(QDir(build.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
    }

    void InstalledUsesTheUserFolders() {
        // A folder the process cannot write.
        TDataPlaces p = ChooseDataPlaces(Inputs(QStringLiteral("/usr/bin"), false));
        QVERIFY(p.PerUser);
        QCOMPARE(p.ProgramDir, QStringLiteral("/home/tech/.local/share/ulmar"));
        QCOMPARE(p.WorkDir, QStringLiteral("/home/tech/.config/ulmar"));
        QCOMPARE(p.DefaultsDir, QStringLiteral("/usr/share/ulmar"));

        // A folder root can write, but with the package's files beside it.
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/share/ulmar")));
        p = ChooseDataPlaces(Inputs(root.filePath(QStringLiteral("usr/bin")), true));
        QVERIFY(p.PerUser);
        QCOMPARE(p.DefaultsDir, root.filePath(QStringLiteral("usr/share/ulmar")));

        // --user-dirs from a build tree.
        TDataPlaceInputs in = Inputs(QStringLiteral("/work/build/app"), true);
        in.UserDirsOption = true;
        QVERIFY(ChooseDataPlaces(in).PerUser);
    }

    void XdgFoldersAndOptions() {
        TDataPlaceInputs in = Inputs(QStringLiteral("/usr/bin"), false);
        in.XdgDataHome = QStringLiteral("/data/xdg/");
        in.XdgConfigHome = QStringLiteral("relative/config"); // not absolute: unused
        TDataPlaces p = ChooseDataPlaces(in);
        QCOMPARE(p.ProgramDir, QStringLiteral("/data/xdg/ulmar"));
        QCOMPARE(p.WorkDir, QStringLiteral("/home/tech/.config/ulmar"));

        // The options win over both rules, relative to the working directory at start.
        in.ProgramDirOption = QStringLiteral("mine/../prog");
        in.WorkDirOption = QStringLiteral("/abs/work");
        p = ChooseDataPlaces(in);
        QVERIFY(p.PerUser);
        QCOMPARE(p.ProgramDir, QStringLiteral("/srv/here/prog"));
        QCOMPARE(p.WorkDir, QStringLiteral("/abs/work"));
        // Folders given by option are not the user's: not marked, not created, not seeded.
        QVERIFY(!p.UserData && !p.UserConfig);
        QCOMPARE(DataPlaceLines(p).at(1), QStringLiteral("Настройки: /abs/work"));
        in.ProgramDirOption.clear();
        p = ChooseDataPlaces(in);
        QVERIFY(p.UserData && !p.UserConfig);
        in = Inputs(QStringLiteral("/work/build/app"), true);
        in.WorkDirOption = QStringLiteral("w");
        p = ChooseDataPlaces(in);
        QVERIFY(!p.PerUser);
        QCOMPARE(p.ProgramDir, QStringLiteral("/work/build/app"));
        QCOMPARE(p.WorkDir, QStringLiteral("/srv/here/w"));
    }

    void PrepareCreatesAndSeedsOnce() {
        QTemporaryDir root;
        const QString bin = root.filePath(QStringLiteral("usr/bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString defaults = root.filePath(QStringLiteral("usr/share/ulmar"));
        QVERIFY(Write(defaults + "/INI/TypeSVCH.ini", "ППМ-A1\nППМ-A2\n"));
        // Installed files are read-only; the user's copy must still be the user's to edit.
        QVERIFY(QFile::setPermissions(defaults + "/INI/TypeSVCH.ini",
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        TDataPlaceInputs in = Inputs(bin, false);
        in.Home = root.filePath(QStringLiteral("home"));
        const TDataPlaces p = ChooseDataPlaces(in);

        QCOMPARE(PrepareDataPlaces(p), QStringList());
        for (const char* sub : {"INI", "DATA", "TarTabl"})
            QVERIFY2(QFileInfo(p.ProgramDir + "/" + sub).isDir(), sub);
        QVERIFY(QFileInfo(p.WorkDir + "/INI").isDir());
        const QString seeded = p.ProgramDir + "/INI/TypeSVCH.ini";
        QCOMPARE(Read(seeded), QByteArray("ППМ-A1\nППМ-A2\n"));
        QVERIFY(QFileInfo(seeded).permissions() & QFile::WriteOwner);

        // The user's own file, even an empty one, is never replaced on the next start.
        QVERIFY(Write(seeded, ""));
        QCOMPARE(PrepareDataPlaces(p), QStringList());
        QCOMPARE(Read(seeded), QByteArray());
        // A deleted default file comes back.
        QVERIFY(QFile::remove(seeded));
        QCOMPARE(PrepareDataPlaces(p), QStringList());
        QCOMPARE(Read(seeded), QByteArray("ППМ-A1\nППМ-A2\n"));
    }

    void GivenFoldersAreLeftAsTheyAre() {
        QTemporaryDir root;
        TDataPlaceInputs in = Inputs(QStringLiteral("/usr/bin"), false);
        in.Home = root.filePath(QStringLiteral("home"));
        in.ProgramDirOption = root.filePath(QStringLiteral("prog"));
        in.WorkDirOption = root.filePath(QStringLiteral("work"));
        QCOMPARE(PrepareDataPlaces(ChooseDataPlaces(in)), QStringList());
        QCOMPARE(QDir(root.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 0);
    }

    void FoldersThatCannotBeMadeAreSaid() {
        QTemporaryDir root;
        // HOME/.local is a file: the data and state folders cannot be made; the config folder
        // still is.
        const QString home = root.filePath(QStringLiteral("home"));
        QVERIFY(Write(home + "/.local", "not a folder"));
        TDataPlaceInputs in = Inputs(QStringLiteral("/usr/bin"), false);
        in.Home = home;
        const TDataPlaces p = ChooseDataPlaces(in);
        const QStringList problems = PrepareDataPlaces(p);
        QCOMPARE(problems.size(), 2);
        for (const QString& problem : problems)
            QVERIFY2(problem.startsWith(QStringLiteral("Не удалось создать папку ")),
                     qPrintable(problem));
        QVERIFY(problems.first().contains(p.ProgramDir));
        QVERIFY(problems.last().contains(p.LogDir));
        QVERIFY(QFileInfo(p.WorkDir + "/INI").isDir());
    }

    void InstalledLogsGoToTheStateFolder() {
        TDataPlaceInputs in = Inputs(QStringLiteral("/usr/bin"), false);
        TDataPlaces p = ChooseDataPlaces(in);
        QVERIFY(p.UserState);
        QCOMPARE(p.LogDir, QStringLiteral("/home/tech/.local/state/ulmar"));
        in.XdgStateHome = QStringLiteral("/state/");
        QCOMPARE(ChooseDataPlaces(in).LogDir, QStringLiteral("/state/ulmar"));
        in.XdgStateHome = QStringLiteral("rel"); // not absolute: unused
        QCOMPARE(ChooseDataPlaces(in).LogDir, QStringLiteral("/home/tech/.local/state/ulmar"));
        // With --work-dir the logs stay in the given working directory.
        in.WorkDirOption = QStringLiteral("/abs/work");
        p = ChooseDataPlaces(in);
        QVERIFY(!p.UserState);
        QCOMPARE(p.LogDir, QStringLiteral("/abs/work"));
        // The program's own folder: the logs under the working directory, as always.
        p = ChooseDataPlaces(Inputs(QStringLiteral("/opt/copy"), true));
        QCOMPARE(p.LogDir, QStringLiteral("/srv/here"));

        // The state folder is made on start with the others.
        QTemporaryDir root;
        in = Inputs(QStringLiteral("/usr/bin"), false);
        in.Home = root.filePath(QStringLiteral("home"));
        p = ChooseDataPlaces(in);
        QCOMPARE(PrepareDataPlaces(p), QStringList());
        QVERIFY(QFileInfo(root.filePath(QStringLiteral("home/.local/state/ulmar"))).isDir());
    }

    void BuildTreeUsesItsRunFolder() {
        QTemporaryDir build;
        QVERIFY(Write(build.filePath(QStringLiteral("CMakeCache.txt")), "# cache\n"));
        for (const char* program : {"app", "cli"})
            QVERIFY(QDir(build.path()).mkpath(QString::fromLatin1(program)));
        QCOMPARE(BuildRootOf(build.filePath(QStringLiteral("app"))), build.path());
        // The tests' own folders, one level deeper, are no program folders of the build.
        QVERIFY(QDir(build.path()).mkpath(QStringLiteral("tests/cli")));
        QCOMPARE(BuildRootOf(build.filePath(QStringLiteral("tests/cli"))), QString());

        // The window program and ulmar-cli, each in its own output folder, share one folder
        // under the build folder whatever the working directory.
        const QString run = build.filePath(QStringLiteral("run"));
        for (const char* program : {"app", "cli"}) {
            TDataPlaceInputs in = Inputs(build.filePath(QString::fromLatin1(program)), true);
            in.BuildRoot = BuildRootOf(in.ExecutableDir);
            const TDataPlaces p = ChooseDataPlaces(in);
            QVERIFY(p.BuildTree && !p.PerUser);
            QCOMPARE(p.ProgramDir, run);
            QCOMPARE(p.WorkDir, run);
            QCOMPARE(p.LogDir, run);
            QCOMPARE(DataPlaceLines(p).at(0), "Данные: " + run);
        }
        TDataPlaceInputs in = Inputs(build.filePath(QStringLiteral("app")), true);
        in.BuildRoot = build.path();
        QCOMPARE(PrepareDataPlaces(ChooseDataPlaces(in)), QStringList());
        for (const char* sub : {"INI", "DATA", "TarTabl"})
            QVERIFY2(QFileInfo(run + "/" + sub).isDir(), sub);
        // Options still win, and a folder given is not made.
        in.WorkDirOption = QStringLiteral("w");
        in.ProgramDirOption = QStringLiteral("/abs/prog");
        const TDataPlaces p = ChooseDataPlaces(in);
        QCOMPARE(p.WorkDir, QStringLiteral("/srv/here/w"));
        QCOMPARE(p.LogDir, QStringLiteral("/srv/here/w"));
        QCOMPARE(p.ProgramDir, QStringLiteral("/abs/prog"));
        QVERIFY(!p.MakeData && !p.MakeWork);
        // Installed beats the build tree; --user-dirs too.
        in = Inputs(build.filePath(QStringLiteral("app")), true);
        in.BuildRoot = build.path();
        in.UserDirsOption = true;
        QCOMPARE(ChooseDataPlaces(in).ProgramDir, QStringLiteral("/home/tech/.local/share/ulmar"));
    }

    void LinesNameTheFolders() {
        TDataPlaces p;
        p.ProgramDir = QStringLiteral("/opt/u");
        p.WorkDir = QStringLiteral("/tmp/w");
        p.LogDir = QStringLiteral("/tmp/w");
        QCOMPARE(DataPlaceLines(p),
                 QStringList({QStringLiteral("Данные: /opt/u"), QStringLiteral("Настройки: /tmp/w"),
                              QStringLiteral("Журналы: /tmp/w")}));
        p.PerUser = true;
        p.UserConfig = true;
        p.UserState = true;
        p.LogDir = QStringLiteral("/home/t/.local/state/ulmar");
        QCOMPARE(DataPlaceLines(p),
                 QStringList({QStringLiteral("Данные: /opt/u"),
                              QStringLiteral("Настройки: /tmp/w (папка пользователя)"),
                              QStringLiteral("Журналы: /home/t/.local/state/ulmar "
                                             "(папка пользователя)")}));
    }
};

QTEST_GUILESS_MAIN(TDataPlacesTest)
#include "tst_dataplaces.moc"
