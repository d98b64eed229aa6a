// The link window's port status: why the port does not work, and what the open port refused of
// the settings (mark/space parity, the exact rate); and the archive writer's trouble, in the link
// window and in the main window's status bar.

#include "Ulmar.h"
#include "fMain.h"
#include "fReqAns.h"
#include "tests/support/ChildRun.h"
#include "tests/support/FakePort.h"
#include "tests/support/TestDirs.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uRequestDevices.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <optional>
#include <sys/resource.h>

namespace {

// A port that opens, refuses the stick parity and runs at 9600 Bd whatever is asked.
std::unique_ptr<TFakePort> StubbornPort() {
    auto port = std::make_unique<TFakePort>();
    port->AppliesParity = false;
    port->Baud = 9600;
    return port;
}

} // namespace

class TestLinkStatus : public QObject {
    Q_OBJECT
private slots:
    void statusTexts();
    void windowShowsTheTrouble();
    void archiveTroubleIsShown();
    void defaultPortNamed();
    void requestThreadNotCreated();
};

void TestLinkStatus::statusTexts() {
    TPortStatus ok;
    ok.Open = true;
    ok.RequestedBaud = 9600;
    ok.EffectiveBaud = 9600;
    QCOMPARE(PortStatusText(ok), QString());
    TPortStatus refused = ok;
    refused.ParityApplied = false;
    refused.RequestedBaud = 14400;
    QCOMPARE(PortStatusText(refused),
             QStringLiteral("Порт не принял контроль четности Mark/Space\n"
                            "Скорость 14400 недоступна, установлена 9600"));
    // A closed port tells only why it is closed.
    TPortStatus closed;
    closed.ParityApplied = false;
    closed.Error = QStringLiteral("Ошибка активации порта :/dev/ttyUSB0\nНет такого устройства");
    QCOMPARE(PortStatusText(closed), closed.Error);
    // The reasons, in Russian.
    QCOMPARE(PortErrorReason(ENOENT, "/dev/ttyUSB0"), QStringLiteral("Нет такого устройства"));
    QCOMPARE(PortErrorReason(EBUSY, "/dev/ttyUSB0"),
             QStringLiteral("Порт занят другой программой"));
    // The group that owns the device file is named: /dev/null's group exists on every system.
    const QString denied = PortErrorReason(EACCES, "/dev/null");
    QVERIFY2(denied.startsWith(QStringLiteral("Нет прав доступа к порту: пользователь должен "
                                              "входить в группу «")),
             qPrintable(denied));
    QVERIFY(denied.endsWith(QStringLiteral("», которой принадлежит устройство")));
}

void TestLinkStatus::windowShowsTheTrouble() {
    TTestDirs dirs;
    TUlmar ulmar;
    auto port = StubbornPort();
    TFakePort* stubborn = port.get();
    stubborn->FailWith = EACCES;
    TDeviceLinkOptions options;
    QStringList messages;
    options.OnMessage = [&](const QString&, const QString& text) { messages << text; };
    options.PortName = QStringLiteral("/dev/null");
    {
        TDeviceLink link(&ulmar, std::move(port), options);
        QCOMPARE(messages.size(), 1);
        TFormReqAns form(nullptr, &link);
        form.Refresh();
        QVERIFY(form.lblPortStatus->isVisibleTo(&form));
        QCOMPARE(form.lblPortStatus->text(), messages.at(0));
        QVERIFY(form.lblPortStatus->text().contains(QStringLiteral("Нет прав доступа")));

        // The port opens on the next exchange; then the refusals show instead.
        stubborn->FailWith = 0;
        QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), -1); // silent, but the port is open
        form.Refresh();
        QCOMPARE(form.lblPortStatus->text(),
                 QStringLiteral("Порт не принял контроль четности Mark/Space"));
        QCOMPARE(messages.size(), 1); // the reopen was quiet
    }
}

// A text twin on a full device: while it fails, the link window and the main window's status bar
// say so with the file and the reason; once it is written again both are clear.
void TestLinkStatus::archiveTroubleIsShown() {
    TTestDirs dirs;
    SetArchiveRoot(QString());
    const TDateTime now = NowDateTime();
    const QString day = ArchiveDayDir(now);
    QVERIFY(QDir().mkpath(day));
    QVERIFY(QFile::link("/dev/full", JoinPath(day, "Lt.txt")));
    TArchiveWriter writer;
    QVERIFY(writer.PostRows({{"Lt", now, 1.0, 1}}));
    QVERIFY(writer.WaitIdle(60000));

    TUlmar ulmar;
    TDeviceLinkOptions options;
    options.OnMessage = [](const QString&, const QString&) {};
    options.PortName = QStringLiteral("/dev/null");
    TDeviceLink link(&ulmar, StubbornPort(), options);
    link.ArchiveStatus = [&writer] { return ArchiveHealthText(writer.Health()); };
    {
        TFormMain form(&link);
        TFormReqAns* FormReqAns = form.Windows().ReqAns;
        QVERIFY(FormReqAns);
        auto* bar = form.findChild<QLabel*>(QStringLiteral("lblArchiveStatus"));
        QVERIFY(bar);
        const QString text = QStringLiteral("Архив не записывается: Lt.txt: нет места на диске");
        QCOMPARE(FormReqAns->lblArchiveStatus->text(), text);
        QVERIFY(FormReqAns->lblArchiveStatus->isVisibleTo(FormReqAns));
        QCOMPARE(bar->text(), text);
        QVERIFY(bar->isVisibleTo(&form));

        QVERIFY(QFile::remove(JoinPath(day, "Lt.txt")));
        QVERIFY(writer.PostRows({{"Lt", now, 2.0, 1}}));
        QVERIFY(writer.WaitIdle(60000));
        form.ControlRefresh();
        QVERIFY(FormReqAns->lblArchiveStatus->text().isEmpty());
        QVERIFY(!FormReqAns->lblArchiveStatus->isVisibleTo(FormReqAns));
        QVERIFY(bar->text().isEmpty());
        QVERIFY(!bar->isVisibleTo(&form));
    }
}

// A settings file without a port (or none at all): the link window and the main window's status
// bar say which port is used and that it is the default; a saved port ends the note.
void TestLinkStatus::defaultPortNamed() {
    TTestDirs dirs;
    TIniFile ini(JoinPath(JoinPath(dirs.Work(), "INI"), "ComPort.ini"));
    ini.WriteString("Transmitter", "Port", "  ");
    ini.WriteString("Transmitter", "BaudRate", "19200");
    QVERIFY(ini.Save(false));
    TUlmar ulmar;
    TDeviceLinkOptions options;
    options.OnMessage = [](const QString&, const QString&) {};
    {
        TDeviceLink link(&ulmar, StubbornPort(), options);
        TTransmitter* t = link.Transmitter();
        QCOMPARE(t->Settings().BaudRate, QStringLiteral("19200")); // the file was read
        const QString note = QStringLiteral("Порт не задан в настройках, используется ") +
                             TTransmitterSettings::DefaultPortName() +
                             QStringLiteral(" (по умолчанию)");
        QCOMPARE(t->DefaultPortNote(), note.left(1).toLower() + note.mid(1));
        {
            TFormMain form(&link);
            TFormReqAns* FormReqAns = form.Windows().ReqAns;
            QVERIFY(FormReqAns);
            FormReqAns->Refresh();
            QVERIFY(FormReqAns->lblPortStatus->text().split(u'\n').contains(note));
            auto* bar = form.findChild<QLabel*>(QStringLiteral("lblPortNote"));
            QVERIFY(bar);
            QCOMPARE(bar->text(), note);
            QVERIFY(bar->isVisibleTo(&form));

            TTransmitterSettings s = t->Settings();
            s.Port =
                QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
            link.ApplyPortSettings(s);
            form.ControlRefresh();
            FormReqAns->Refresh();
            QVERIFY(t->DefaultPortNote().isEmpty());
            QVERIFY(!FormReqAns->lblPortStatus->text().contains(note));
            QVERIFY(!bar->isVisibleTo(&form));
            QCOMPARE(TIniFile(t->SettingsFile()).ReadString("Transmitter", "Port", {}), s.Port);
        }
        QVERIFY(QFile::remove(t->SettingsFile()));
    }
    // A port given for the run is no default either.
    options.PortName = QStringLiteral("/dev/null");
    TDeviceLink given(&ulmar, StubbornPort(), options);
    QVERIFY(given.Transmitter()->DefaultPortNote().isEmpty());
}

QTEST_MAIN(TestLinkStatus)
// A user at the limit of processes gets no request thread: the link says why, once, for the
// program's start-up message, and the commands of the user-interface thread still reach the port.
void TestLinkStatus::requestThreadNotCreated() {
#if defined(__SANITIZE_THREAD__)
    QSKIP("the thread checker's own threads count against the limit of processes");
#endif
    TTestDirs dirs;
    const std::optional<QByteArray> out = RunInChild(
        [] {
            const rlimit none{0, 0};
            if (::setrlimit(RLIMIT_NPROC, &none) != 0)
                return QByteArray("setrlimit failed");
            TUlmar ulmar;
            ulmar.SystemAddress = 1;
            TDeviceLinkOptions options;
            options.OnMessage = [](const QString&, const QString&) {};
            options.PortName = QStringLiteral("/dev/null");
            TDeviceLink link(&ulmar, std::make_unique<TFakePort>(), options);
            QByteArray said = link.StartError().toUtf8();
            link.ResumeRequestThread(); // nothing to resume: no crash, no cycle
            said += link.CycleRunning() ? "|running" : "|idle";
            return said;
        },
        true);
    QVERIFY(out);
    QVERIFY2(out->startsWith(QByteArray("Поток опроса не создан: ")), out->constData());
    QVERIFY(out->endsWith("|idle"));
}

#include "tst_linkstatus.moc"
