// The pacing timer: its settings file, Start/Stop/SetBusy and the ticks.

#include "tests/support/TestDirs.h"
#include "uCustomTimer.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include <QFile>
#include <QTest>
#include <memory>

class TestTimer : public QObject {
    Q_OBJECT
private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() { Dirs.reset(); }

    void defaults();
    void loadCreatesEmptyFile();
    void loadWithoutSectionKeepsDefaults();
    void loadReadsSection();
    void loadRejectsBadInterval();
    void missingIniDirKeepsDefaults();
    void saveWritesSectionAndKeepsOthers();
    void startStopAndStateChange();
    void setBusyDoesNotNotify();
    void ticksWhileEnabled();

private:
    QString IniPath() const { return JoinPath(JoinPath(Dirs->Work(), "INI"), "Timer.ini"); }
    void WriteIni(const QByteArray& text) {
        QFile f(IniPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    std::unique_ptr<TTestDirs> Dirs;
};

void TestTimer::defaults() {
    TCustomTimer t;
    QCOMPARE(t.Name(), QStringLiteral("CustomTimer"));
    QCOMPARE(t.Interval(), 200);
    QVERIFY(!t.Enabled());
    QVERIFY(!t.IsRunning());
    QCOMPARE(t.SettingsFileName(), QStringLiteral("Timer.ini"));
    QCOMPARE(t.Tag.load(), 0);
    QCOMPARE(t.SettingsPath(), IniPath());
}

void TestTimer::loadCreatesEmptyFile() {
    TCustomTimer t;
    t.LoadSettings();
    QVERIFY(QFile::exists(IniPath()));
    QCOMPARE(QFileInfo(IniPath()).size(), 0);
    QVERIFY(!t.Enabled());
    QCOMPARE(t.Interval(), 200);
}

void TestTimer::loadWithoutSectionKeepsDefaults() {
    WriteIni("[Other]\r\nEnabled=1\r\nInterval=500\r\n");
    TCustomTimer t;
    t.SetInterval(900);
    t.LoadSettings();
    QVERIFY(!t.Enabled());
    QCOMPARE(t.Interval(), 200);
}

void TestTimer::loadReadsSection() {
    WriteIni("[ctReqDevices]\r\nenabled=1\r\nINTERVAL=350\r\n");
    TCustomTimer t;
    t.SetName("ctReqDevices");
    t.LoadSettings();
    QVERIFY(t.Enabled());
    QCOMPARE(t.Interval(), 350);
    t.Stop();
}

void TestTimer::loadRejectsBadInterval() {
    WriteIni("[CustomTimer]\r\nEnabled=yes\r\nInterval=0\r\n");
    TCustomTimer t;
    t.LoadSettings();
    QVERIFY(!t.Enabled());
    QCOMPARE(t.Interval(), 200);
    WriteIni("[CustomTimer]\r\nInterval=99999999999\r\n");
    t.LoadSettings();
    QCOMPARE(t.Interval(), 200);
}

void TestTimer::missingIniDirKeepsDefaults() {
    QVERIFY(QDir(JoinPath(Dirs->Work(), "INI")).removeRecursively());
    TCustomTimer t;
    t.SetInterval(1000);
    t.SetEnabled(true);
    t.LoadSettings();
    QVERIFY(!t.Enabled());
    QCOMPARE(t.Interval(), 200);
    t.SetInterval(700);
    t.SaveSettings();
    QVERIFY(!QDir(JoinPath(Dirs->Work(), "INI")).exists());
}

void TestTimer::saveWritesSectionAndKeepsOthers() {
    WriteIni("; timers\r\n[Other]\r\nInterval=5\r\n");
    TCustomTimer t;
    t.SetName("ctReqDevices");
    t.SetInterval(1500);
    t.SetEnabled(true);
    t.SaveSettings();
    t.SetEnabled(false);
    QFile f(IniPath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("; timers\r\n[Other]\r\nInterval=5\r\n"
                                     "[ctReqDevices]\r\nEnabled=1\r\nInterval=1500\r\n"));
    TCustomTimer back;
    back.SetName("ctReqDevices");
    back.LoadSettings();
    QVERIFY(back.Enabled());
    QCOMPARE(back.Interval(), 1500);
    back.Stop();
}

void TestTimer::startStopAndStateChange() {
    TCustomTimer t;
    QList<bool> seen;
    t.OnStateChange = [&](TCustomTimer* sender) {
        QCOMPARE(sender, &t);
        seen << sender->IsRunning();
    };
    t.Start();
    QVERIFY(t.IsRunning());
    t.Stop();
    QVERIFY(!t.IsRunning());
    QCOMPARE(seen, (QList<bool>{true, false}));
    t.OnStateChange = nullptr;
    t.Start(); // unassigned listener is skipped
    QVERIFY(t.IsRunning());
    t.Stop();
}

void TestTimer::setBusyDoesNotNotify() {
    TCustomTimer t;
    int calls = 0;
    t.OnStateChange = [&](TCustomTimer*) { ++calls; };
    t.Start();
    t.SetBusy(true);
    QVERIFY(!t.IsRunning());
    t.SetBusy(false);
    QVERIFY(t.IsRunning());
    QCOMPARE(calls, 1);
    t.Stop();
}

void TestTimer::ticksWhileEnabled() {
    TCustomTimer t;
    int ticks = 0;
    t.OnTimer = [&](TCustomTimer* sender) {
        QCOMPARE(sender, &t);
        ++ticks;
    };
    t.SetInterval(5);
    t.Start();
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
    t.SetBusy(true);
    QTest::qWait(20); // a tick already queued may still arrive
    const int paused = ticks;
    QTest::qWait(60);
    QCOMPARE(ticks, paused);
    t.SetBusy(false);
    QTRY_VERIFY_WITH_TIMEOUT(ticks > paused, 5000);
    t.Stop();
    t.SetInterval(0); // ignored
    QCOMPARE(t.Interval(), 5);
}

QTEST_GUILESS_MAIN(TestTimer)
#include "tst_timer.moc"
