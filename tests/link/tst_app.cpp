// The program's start-up and shut-down: started with the built-in simulator in temporary
// directories, it builds the device link, runs its window and writes the archive settings back
// at exit, leaving the saved port settings alone.

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "tests/support/PlainUser.h"
#include "tests/support/TestDirs.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <sys/stat.h>

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void startAndQuitWithSimulator();
    void pollsArchiveAndLogReachTheDisk();
    void oddSettingsFilesLeftAlone();
};

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

    const QString day = QDate::currentDate().toString("yyyy/MM/dd");
    const QString dayDir = JoinPath(JoinPath(dirs.Prog(), "DATA"), QDir::toNativeSeparators(day));
    QFile log(JoinPath(dirs.Work(), "rd" + QDate::currentDate().toString("yyMMdd") + ".txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    int polls = 0;
    for (const QByteArray& line : lines)
        if (line.contains("[FF 02 01 81 50] -> [01 02 13") && !line.contains("Error"))
            ++polls;
    QVERIFY2(polls >= 3, qPrintable(QString::number(polls)));
    QVERIFY(lines.last().isEmpty()); // ends with a whole line
    for (const char* table : {"Lt", "Hu", "Lc", "V"}) {
        QFile twin(JoinPath(dayDir, QString::fromLatin1(table) + ".txt"));
        QVERIFY2(twin.open(QIODevice::ReadOnly), table);
        // A poll answered just before the window closed may be logged and not yet archived
        // only if its readings were dropped; nothing is dropped here.
        QCOMPARE(twin.readAll().count('\n'), polls);
        QVERIFY(QFile::exists(JoinPath(dayDir, QString::fromLatin1(table) + ".db")));
    }
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
