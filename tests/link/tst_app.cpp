// The program's start-up and shut-down: started with the built-in simulator in temporary
// directories, it builds the device link, runs its window and writes the archive settings back
// at exit, leaving the saved port settings alone; SIGTERM closes it as its close command does.

#include "tests/support/PlainUser.h"
#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void startAndQuitWithSimulator();
    void pollsArchiveAndLogReachTheDisk();
    void stopSignalClosesAsTheCloseCommand();
    void oddSettingsFilesLeftAlone();
};

namespace {

QString RequestLogPath(const TTestDirs& dirs) {
    return JoinPath(dirs.Work(), "rd" + QDate::currentDate().toString("yyMMdd") + ".txt");
}

// The level polls the request log holds, answered and not in error.
int LoggedPolls(const TTestDirs& dirs) {
    QFile log(RequestLogPath(dirs));
    if (!log.open(QIODevice::ReadOnly))
        return 0;
    int polls = 0;
    for (const QByteArray& line : log.readAll().split('\n'))
        if (line.contains("[FF 02 01 81 50] -> [01 02 13") && !line.contains("Error"))
            ++polls;
    return polls;
}

// After the program ended: every logged level poll has its four archive rows and the log's
// last exchange is whole.
void CheckLogAndArchiveWhole(const TTestDirs& dirs) {
    const QString day = QDate::currentDate().toString("yyyy/MM/dd");
    const QString dayDir = JoinPath(JoinPath(dirs.Prog(), "DATA"), QDir::toNativeSeparators(day));
    QFile log(RequestLogPath(dirs));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().endsWith('\n')); // ends with a whole line
    const int polls = LoggedPolls(dirs);
    QVERIFY2(polls >= 3, qPrintable(QString::number(polls)));
    for (const char* table : {"Lt", "Hu", "Lc", "V"}) {
        QFile twin(JoinPath(dayDir, QString::fromLatin1(table) + ".txt"));
        QVERIFY2(twin.open(QIODevice::ReadOnly), table);
        // A poll answered just before the window closed may be logged and not yet archived
        // only if its readings were dropped; nothing is dropped here.
        QCOMPARE(twin.readAll().count('\n'), polls);
        QVERIFY(QFile::exists(JoinPath(dayDir, QString::fromLatin1(table) + ".db")));
    }
}

} // namespace

void TestApp::startAndQuitWithSimulator() {
    TTestDirs dirs;
    const QString comPort = JoinPath(JoinPath(dirs.Work(), "INI"), "ComPort.ini");
    {
        TIniFile ini(comPort);
        ini.WriteString("Transmitter", "Port", "/dev/ttyUSB7");
        QVERIFY(ini.Save(false));
    }
    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(ULMAR_APP, {"--simulator", "/full", "--program-dir", dirs.Prog(), "--work-dir",
                          dirs.Work(), "--quit-after", "1000"});
    QVERIFY(app.waitForStarted(10000));
    QVERIFY2(app.waitForFinished(60000), "the program did not end");
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    // Archive settings written back at exit, beside the program.
    const TIniFile bde(JoinPath(JoinPath(dirs.Prog(), "INI"), "bde.ini"));
    QVERIFY(bde.FileExisted());
    QCOMPARE(bde.ReadString("BDE", "dbPath", ""), JoinPath(dirs.Prog(), "DATA"));
    // The pacing timer read its settings under the working directory given.
    QVERIFY(QFile::exists(JoinPath(JoinPath(dirs.Work(), "INI"), "Timer.ini")));
    // The simulator's port was used without being saved.
    QCOMPARE(TIniFile(comPort).ReadString("Transmitter", "Port", ""),
             QStringLiteral("/dev/ttyUSB7"));
}

// Polling with the built-in simulator: the readings and the request log go through the writer
// thread, and what is still waiting at exit is written before the program ends: every logged
// level poll has its four rows and the log's last exchange is whole.
void TestApp::pollsArchiveAndLogReachTheDisk() {
    TTestDirs dirs;
    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(ULMAR_APP, {"--simulator", "--poll", "--program-dir", dirs.Prog(), "--work-dir",
                          dirs.Work(), "--quit-after", "2500"});
    QVERIFY(app.waitForStarted(10000));
    QVERIFY2(app.waitForFinished(60000), "the program did not end");
    QCOMPARE(app.exitCode(), 0);
    CheckLogAndArchiveWhole(dirs);
}

// SIGTERM while polling, as a session's end or a service manager sends it: the main window
// closes without its question, saving the window positions, the archive writer's queue reaches
// the disk, the archive settings are written and the program ends with 0.
void TestApp::stopSignalClosesAsTheCloseCommand() {
    TTestDirs dirs;
    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(ULMAR_APP,
              {"--simulator", "--poll", "--program-dir", dirs.Prog(), "--work-dir", dirs.Work()});
    QVERIFY(app.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(LoggedPolls(dirs) >= 3, 60000);
    QCOMPARE(::kill(static_cast<pid_t>(app.processId()), SIGTERM), 0);
    QVERIFY2(app.waitForFinished(60000), "the program did not end");
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    const TIniFile positions(JoinPath(JoinPath(dirs.Work(), "INI"), "WndPos.ini"));
    QVERIFY(positions.FileExisted());
    QVERIFY(positions.ReadInteger("FormMain", "Width", 0) > 0);
    QVERIFY(TIniFile(JoinPath(JoinPath(dirs.Prog(), "INI"), "bde.ini")).FileExisted());
    CheckLogAndArchiveWhole(dirs);
}

// Settings files of the wrong kind or size, or that the user cannot read, neither hold up the
// start nor are saved over: the program starts on their defaults, names each file with its
// reason and ends as usual. Run as the plain user, as a technician starts it.
void TestApp::oddSettingsFilesLeftAlone() {
    TTestDirs dirs;
    // Before the link to /dev/zero is made: the change of owner follows links.
    QVERIFY(GiveToPlainUser(dirs.Root.path()));
    const QString work = JoinPath(dirs.Work(), "INI");
    const QString timer = JoinPath(work, "Timer.ini");
    const QString positions = JoinPath(work, "WndPos.ini");
    const QString port = JoinPath(work, "ComPort.ini");
    const QString bde = JoinPath(JoinPath(dirs.Prog(), "INI"), "bde.ini");
    QCOMPARE(::mkfifo(QFile::encodeName(timer).constData(), 0644), 0);
    QVERIFY(QFile::link("/dev/zero", bde));
    const QByteArray big = "[FormMain]\r\nLeft=10\r\n;" + QByteArray(IniFileMaxBytes, 'x');
    const QByteArray portText = "[Transmitter]\r\nPort=/dev/ttyUSB7\r\n";
    for (const auto& [path, bytes] : {std::pair{positions, big}, std::pair{port, portText}}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    QVERIFY(QFile::setPermissions(port, QFile::WriteOwner)); // the plain user cannot read it

    QProcess app;
    app.setProcessChannelMode(QProcess::MergedChannels);
    StartAsPlainUser(app);
    app.start(ULMAR_APP, {"--simulator", "--program-dir", dirs.Prog(), "--work-dir", dirs.Work(),
                          "--quit-after", "1000"});
    QVERIFY(app.waitForStarted(10000));
    const bool ended = app.waitForFinished(60000);
    if (!ended)
        app.kill();
    QVERIFY2(ended, "the program did not end");
    const QString output = QString::fromUtf8(app.readAll());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    for (const QString& said : {timer + ": не обычный файл", bde + ": не обычный файл",
                                positions + ": больше 1024 КБ", port + ": нет прав на чтение"})
        QVERIFY2(output.contains("ulmar: " + QDir::toNativeSeparators(said)), qPrintable(output));

    struct stat st {};
    QVERIFY(::lstat(QFile::encodeName(timer).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    QCOMPARE(QFileInfo(bde).symLinkTarget(), QStringLiteral("/dev/zero"));
    QVERIFY(QFile::setPermissions(port, QFile::ReadOwner | QFile::WriteOwner));
    for (const auto& [path, bytes] : {std::pair{positions, big}, std::pair{port, portText}}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY2(f.readAll() == bytes, qPrintable(path));
    }
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
