// The program's start-up and shut-down: started with the built-in simulator in temporary
// directories, it builds the device link, runs its window and writes the archive settings back
// at exit, leaving the saved port settings alone.

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "tests/support/TestDirs.h"

#include <QFile>
#include <QProcess>
#include <QTest>

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void startAndQuitWithSimulator();
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

QTEST_MAIN(TestApp)
#include "tst_app.moc"
