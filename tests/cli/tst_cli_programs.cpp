// The three programs' command lines alike: -h/--help in one layout, -V/--version with the
// version and (window program and ulmar-cli) the folders, unknown options refused with exit 2;
// in a build tree the window program and ulmar-cli keep their files in one folder of the build,
// whatever the working directory, so that ulmar-cli exports what the window program archived;
// installed, the window program's request logs go to the user's state folder.

#include "tests/support/CliRig.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Version = QStringLiteral(ULMAR_PROJECT_VERSION);

QString TodaysLog() {
    return "rd" + QDate::currentDate().toString("yyMMdd") + ".txt";
}

TCliRun Run(const QString& program, const QStringList& arguments, const QString& dir = {},
            const QHash<QString, QString>& extraEnv = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    if (!dir.isEmpty())
        p.setWorkingDirectory(dir);
    return RunProgram(p, program, arguments);
}

// The column where the texts of the option list begin, or -1 when they do not all share one.
int OptionTextColumn(const QStringList& lines) {
    const qsizetype start = lines.indexOf(QStringLiteral("Параметры:"));
    if (start < 0)
        return -1;
    int column = -1;
    for (qsizetype i = start + 1; i < lines.size() && lines.at(i).startsWith(QLatin1String("  "));
         ++i) {
        const QString& line = lines.at(i);
        // "  NAMES  text" (a line of names alone has its text on the next line) or a
        // continuation, indented to the text.
        qsizetype at = 2;
        if (line.at(2) != QLatin1Char(' ')) {
            const qsizetype gap = line.indexOf(QLatin1String("  "), 2);
            if (gap < 0)
                continue;
            at = gap;
        }
        while (at < line.size() && line.at(at) == QLatin1Char(' '))
            ++at;
        if (column < 0)
            column = int(at);
        else if (at != column)
            return -1;
    }
    return column;
}

} // namespace

class TCliProgramsTest : public QObject {
    Q_OBJECT
private slots:
    void HelpAndVersionAlike_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folders");
        QTest::newRow("ulmar") << QStringLiteral(ULMAR_APP_PATH) << "ulmar" << true;
        QTest::newRow("ulmar-cli") << QStringLiteral(ULMAR_CLI_PATH) << "ulmar-cli" << true;
        QTest::newRow("ulmar-sim") << QStringLiteral(ULMAR_SIM_PATH) << "ulmar-sim" << false;
    }
    void HelpAndVersionAlike() {
        QFETCH(QString, program);
        QFETCH(QString, name);
        QFETCH(bool, folders);
        for (const QString& help : {QStringLiteral("-h"), QStringLiteral("--help")}) {
            const TCliRun run = Run(program, {help});
            QCOMPARE(run.Exit, 0);
            QVERIFY2(run.Text().startsWith("Использование: " + name + " "), qPrintable(run.Text()));
            if (name != QLatin1String("ulmar-cli")) {
                const QStringList lines = run.Text().split(QLatin1Char('\n'));
                QVERIFY2(!lines.value(2).isEmpty() && lines.value(3).isEmpty(),
                         qPrintable(run.Text())); // the one-line description
                QVERIFY(run.Text().contains(QStringLiteral("\n  -h, --help ")));
                QVERIFY(run.Text().contains(QStringLiteral("\n  -V, --version ")));
                QVERIFY2(OptionTextColumn(lines) > 0, qPrintable(run.Text()));
            }
        }
        for (const QString& version : {QStringLiteral("-V"), QStringLiteral("--version")}) {
            const TCliRun run = Run(program, {version});
            QCOMPARE(run.Exit, 0);
            const QStringList lines = run.Lines();
            QCOMPARE(lines.value(0), name + " " + Version);
            if (folders) {
                QCOMPARE(lines.size(), 4);
                QVERIFY(lines.at(1).startsWith(QStringLiteral("Данные: ")));
                QVERIFY(lines.at(2).startsWith(QStringLiteral("Настройки: ")));
                QVERIFY(lines.at(3).startsWith(QStringLiteral("Журналы: ")));
            } else {
                QCOMPARE(lines.size(), 1);
            }
        }
    }

    void UnknownOptionsRefused_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString app = QStringLiteral(ULMAR_APP_PATH);
        const QString sim = QStringLiteral(ULMAR_SIM_PATH);
        QTest::newRow("ulmar unknown") << app << "ulmar" << QStringList{"--simulator", "--bogus"}
                                       << "неизвестный параметр --bogus";
        QTest::newRow("ulmar -v") << app << "ulmar" << QStringList{"-v"}
                                  << "неизвестный параметр -v";
        QTest::newRow("ulmar no value")
            << app << "ulmar" << QStringList{"--work-dir"} << "нет значения у --work-dir";
        QTest::newRow("ulmar bad value")
            << app << "ulmar" << QStringList{"--quit-after", "soon"} << "--quit-after";
        QTest::newRow("ulmar-sim unknown")
            << sim << "ulmar-sim" << QStringList{"--bogus"} << "неизвестный параметр --bogus";
        QTest::newRow("ulmar-sim -v")
            << sim << "ulmar-sim" << QStringList{"-v"} << "неизвестный параметр -v";
        QTest::newRow("ulmar-sim no value")
            << sim << "ulmar-sim" << QStringList{"--delay"} << "нет значения у --delay";
        QTest::newRow("ulmar-sim switch value")
            << sim << "ulmar-sim" << QStringList{"--kalist=1"} << "у --kalist нет значения";
    }
    void UnknownOptionsRefused() {
        QFETCH(QString, program);
        QFETCH(QString, name);
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const TCliRun run = Run(program, arguments);
        QCOMPARE(run.Exit, 2);
        QVERIFY(run.Out.isEmpty());
        QVERIFY2(run.ErrText().startsWith(name + ": ") && run.ErrText().contains(message),
                 qPrintable(run.ErrText()));
        QVERIFY2(run.ErrText().contains("Справка: " + name + " --help"), qPrintable(run.ErrText()));
    }

    // Qt's own options stay the window program's; the simulator takes --name=value.
    void KnownOptionsPass() {
        TCliRun run = Run(QStringLiteral(ULMAR_APP_PATH),
                          {"-platform", "offscreen", "-style=fusion", "/full", "--version"});
        QCOMPARE(run.Exit, 0);
        run = Run(QStringLiteral(ULMAR_SIM_PATH), {"--delay=3", "--seed", "4", "--kalist", "-V"});
        QCOMPARE(run.Exit, 0);
        QCOMPARE(run.Lines().value(0), "ulmar-sim " + Version);
    }

    // A copy of the build's window program and ulmar-cli laid out as in the build folder:
    // the window program polls its built-in simulator and archives; ulmar-cli, started from
    // another folder, exports those rows; nothing lands in the working directories.
    void BuildTreeSharesOneFolder() {
        QTemporaryDir build;
        QTemporaryDir elsewhere;
        const QString app = build.filePath(QStringLiteral("app/ulmar"));
        const QString cli = build.filePath(QStringLiteral("cli/ulmar-cli"));
        QVERIFY(QDir(build.path()).mkpath(QStringLiteral("app")));
        QVERIFY(QDir(build.path()).mkpath(QStringLiteral("cli")));
        QVERIFY(QFile::copy(QStringLiteral(ULMAR_APP_PATH), app));
        QVERIFY(QFile::copy(QStringLiteral(ULMAR_CLI_PATH), cli));
        QVERIFY(WriteAll(build.filePath(QStringLiteral("CMakeCache.txt")), "# CMake cache\n"));
        const QString run = build.filePath(QStringLiteral("run"));

        TCliRun ran = Run(app, {"--version"}, elsewhere.path());
        QCOMPARE(ran.Lines().value(1), "Данные: " + run);
        QCOMPARE(ran.Lines().value(2), "Настройки: " + run);
        ran = Run(cli, {"--version"}, build.filePath(QStringLiteral("cli")));
        QCOMPARE(ran.Lines().value(1), "Данные: " + run);
        QCOMPARE(ran.Lines().value(3), "Журналы: " + run);

        ran = Run(app, {"--simulator", "--poll", "--quit-after", "2500"}, elsewhere.path());
        QVERIFY2(ran.Exit == 0, qPrintable(ran.ErrText()));
        QVERIFY(QFileInfo::exists(JoinPath(run, TodaysLog())));
        QVERIFY(QFileInfo::exists(run + "/INI/WndPos.ini"));
        const QString today = QDate::currentDate().toString(Qt::ISODate);
        ran = Run(cli, {"archive", "export", "--table", "Hu", "--from", today, "--to", today},
                  elsewhere.path());
        QVERIFY2(ran.Exit == 0, qPrintable(ran.ErrText()));
        QVERIFY2(ran.Lines().size() >= 2, qPrintable(ran.Text())); // a header and the rows
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
        QCOMPARE(QDir(build.filePath(QStringLiteral("app")))
                     .entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList{QStringLiteral("ulmar")});
    }

    // A copy of the window program laid out as a package installs it, with HOME and
    // XDG_STATE_HOME of the test: the request log goes to the state folder, the settings to
    // the config folder, and the about box's lines (as --version prints them) name all three.
    void InstalledLogsInTheStateFolder() {
        QTemporaryDir root;
        const QString app = root.filePath(QStringLiteral("usr/bin/ulmar"));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/bin")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("usr/share/ulmar/INI")));
        QVERIFY(QDir(root.path()).mkpath(QStringLiteral("home")));
        QVERIFY(QFile::copy(QStringLiteral(ULMAR_APP_PATH), app));
        const QString home = root.filePath(QStringLiteral("home"));
        const QString state = root.filePath(QStringLiteral("state"));
        const QHash<QString, QString> env{{"HOME", home},
                                          {"XDG_STATE_HOME", state},
                                          {"XDG_CONFIG_HOME", ""},
                                          {"XDG_DATA_HOME", ""}};
        TCliRun ran = Run(app, {"-V"}, root.path(), env);
        QCOMPARE(ran.Lines().value(3), "Журналы: " + state + "/ulmar (папка пользователя)");
        ran = Run(app, {"--simulator", "--poll", "--quit-after", "2500"}, root.path(), env);
        QVERIFY2(ran.Exit == 0, qPrintable(ran.ErrText()));
        QVERIFY(QFileInfo(state + "/ulmar/" + TodaysLog()).size() > 0);
        QVERIFY(QFileInfo::exists(home + "/.config/ulmar/INI/WndPos.ini"));
        QVERIFY(!QFileInfo::exists(home + "/.config/ulmar/" + TodaysLog()));
        // With --work-dir the log stays in the working directory, as before.
        const QString work = root.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        ran = Run(app, {"--work-dir", work, "--simulator", "--poll", "--quit-after", "2500"},
                  root.path(), env);
        QVERIFY2(ran.Exit == 0, qPrintable(ran.ErrText()));
        QVERIFY(QFileInfo::exists(JoinPath(work, TodaysLog())));
    }
};

QTEST_GUILESS_MAIN(TCliProgramsTest)
#include "tst_cli_programs.moc"
