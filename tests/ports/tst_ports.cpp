// The serial port list: by-id names parsed, links resolved, sysfs attributes read, busy and
// inaccessible ports told with their reasons, and a port saved by its by-id name that keeps
// working when the adapter comes back under another tty name.

#include "tests/support/ChildRun.h"
#include "tests/support/FakePortTree.h"
#include "tests/support/FileBytes.h"
#include "tests/support/PlainUser.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include "uPortList.h"
#include "uSerialPosix.h"
#include "uSimServer.h"
#include "uTransmitter.h"

#include <QFileInfo>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Ftdi = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

QByteArray Exchange() {
    return QByteArray::fromHex("012001");
}

// The state and reason of a device as a plain user's probe sees them: "state|reason".
QByteArray ProbeAsPlainUser(const QString& device, const TPortRoots& roots) {
    const auto out = RunInChild(
        [&] {
            QString reason;
            const TPortState state = ProbePort(device, reason, roots);
            return (PortStateKey(state) + QLatin1Char('|') + reason).toUtf8();
        },
        true);
    return out.value_or(QByteArray("child failed"));
}

} // namespace

class TestPorts : public QObject {
    Q_OBJECT
private slots:
    // The parts of a by-id name: maker, model, serial number, interface; udev's escapes.
    void byIdNamesParsed() {
        const TPortEntry ftdi = ParseByIdName(Ftdi);
        QCOMPARE(ftdi.Maker, QStringLiteral("FTDI"));
        QCOMPARE(ftdi.Model, QStringLiteral("FT232R USB UART"));
        QCOMPARE(ftdi.Serial, QStringLiteral("A50285BI"));
        QCOMPARE(ftdi.Interface, QStringLiteral("00"));
        QCOMPARE(ftdi.AdapterText(), QStringLiteral("FTDI FT232R USB UART (A50285BI)"));
        const TPortEntry ch340 = ParseByIdName("usb-1a86_USB2.0-Serial-if00-port0");
        QCOMPARE(ch340.Maker, QStringLiteral("1a86"));
        QCOMPARE(ch340.Model, QStringLiteral("USB2.0-Serial"));
        QVERIFY(ch340.Serial.isEmpty());
        const TPortEntry quad = ParseByIdName("usb-FTDI_Quad\\x20RS485_FT4X-if02-port0");
        QCOMPARE(quad.Model, QStringLiteral("Quad RS485"));
        QCOMPARE(quad.AdapterText(), QStringLiteral("FTDI Quad RS485 (FT4X) интерфейс 02"));
        QVERIFY(ParseByIdName("pci-0000:00:16.3").AdapterText().isEmpty());
    }

    // A fake tree: the by-id link names its device and adapter, sysfs corrects the guess,
    // a legacy UART without hardware is left out, a link without its device is missing, and
    // a port held by the transmitter or by a lock file is busy.
    void fakeTreeListed() {
        TTestDirs dirs;
        TFakePortTree tree;
        TSimServer sim(std::make_unique<TGaugeSim>(1));
        QVERIFY(sim.Start());
        QVERIFY(tree.Device("ttyUSB0", sim.SlavePath()));
        QVERIFY(tree.Link(Ftdi, "ttyUSB0"));
        QVERIFY(tree.Sys("ttyUSB0", "FTDI Ltd", "FT232R USB UART", "A50285BI"));
        QVERIFY(tree.Link("usb-Prolific_PL2303_77-if00-port0", "ttyUSB7")); // unplugged
        QVERIFY(tree.Sys("ttyS3", {}, {}, {}, "0"));                        // no UART there
        QVERIFY(tree.Sys("ttyACM0", "Acme", "RS-485 bridge", "42"));
        QVERIFY(tree.Device("ttyACM0", sim.SlavePath() + QStringLiteral("-gone")));

        std::vector<TPortEntry> ports = ListSerialPorts(tree.Roots());
        QCOMPARE(ports.size(), size_t(3));
        const TPortEntry* ftdi = FindPort(ports, tree.ById(Ftdi));
        QVERIFY(ftdi);
        QCOMPARE(ftdi->Device, tree.Dev("ttyUSB0")); // the link's own step, not the pty
        QCOMPARE(ftdi->Maker, QStringLiteral("FTDI Ltd"));
        QCOMPARE(ftdi->Serial, QStringLiteral("A50285BI"));
        QCOMPARE(ftdi->State, TPortState::Free);
        QVERIFY(ftdi->Reason.isEmpty());
        QVERIFY(ftdi->Names(sim.SlavePath())); // the same device by its own name
        const TPortEntry* gone = FindPort(ports, tree.Dev("ttyUSB7"));
        QVERIFY(gone);
        QCOMPARE(gone->State, TPortState::Missing);
        QCOMPARE(gone->Reason, QStringLiteral("Нет такого устройства"));
        const TPortEntry* acm = FindPort(ports, tree.Dev("ttyACM0"));
        QVERIFY(acm && acm->ById.isEmpty());
        QCOMPARE(acm->AdapterText(), QStringLiteral("Acme RS-485 bridge (42)"));
        QCOMPARE(acm->State, TPortState::Missing);
        QVERIFY(!FindPort(ports, tree.Dev("ttyS3")));

        // A configured port that is nowhere in the tree is listed as it is.
        const QString typed = tree.Dev("ttyUSB9");
        ports = ListSerialPorts(tree.Roots(), typed);
        QVERIFY(FindPort(ports, typed) && FindPort(ports, typed)->State == TPortState::Missing);

        // Held by the transmitter through its by-id name: busy, for root and for a plain user.
        TPosixSerialPort port;
        TSerialPortSettings s;
        s.Port = tree.ById(Ftdi);
        port.Open(s);
        ports = ListSerialPorts(tree.Roots());
        QCOMPARE(FindPort(ports, tree.ById(Ftdi))->State, TPortState::Busy);
        QCOMPARE(FindPort(ports, tree.ById(Ftdi))->Reason,
                 QStringLiteral("Порт занят другой программой"));
        QVERIFY(GiveToPlainUser(tree.Root.path()));
        ::chmod(sim.SlavePath().toLocal8Bit().constData(), 0666);
        QCOMPARE(ProbeAsPlainUser(tree.ById(Ftdi), tree.Roots()),
                 QByteArray("busy|") + QStringLiteral("Порт занят другой программой").toUtf8());
        port.Close();
        QCOMPARE(FindPort(ListSerialPorts(tree.Roots()), tree.ById(Ftdi))->State, TPortState::Free);

        // A live program's lock file; a stale one is no hold.
        QVERIFY(WriteAll(tree.Path("lock/LCK..ttyUSB0"),
                         QByteArray::number(qint64(::getpid())) + '\n'));
        ports = ListSerialPorts(tree.Roots());
        QCOMPARE(FindPort(ports, tree.ById(Ftdi))->State, TPortState::Busy);
        QVERIFY(FindPort(ports, tree.ById(Ftdi))->Reason.contains(tree.Path("lock/LCK..ttyUSB0")));
        QVERIFY(WriteAll(tree.Path("lock/LCK..ttyUSB0"), "2147483646\n"));
        QCOMPARE(FindPort(ListSerialPorts(tree.Roots()), tree.ById(Ftdi))->State, TPortState::Free);
    }

    // Ports in the order they are counted: ttyUSB2 before ttyUSB10, ttyACM before ttyUSB.
    void listedInCountingOrder() {
        TFakePortTree tree;
        for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB1"})
            QVERIFY(tree.Link(QStringLiteral("usb-Acme_Bridge_%1-if00-port0").arg(name), name));
        QStringList order;
        for (const TPortEntry& e : ListSerialPorts(tree.Roots()))
            order << QFileInfo(e.Device).fileName();
        QCOMPARE(order, QStringList({"ttyACM0", "ttyUSB1", "ttyUSB2", "ttyUSB10"}));
    }

    // A file the user may not open says how to get the right; a file that is no terminal is
    // no port.
    void noAccessTold() {
        TFakePortTree tree;
        const QString locked = tree.Path("locked");
        const QString plain = tree.Path("plain");
        QVERIFY(WriteAll(locked, "x") && WriteAll(plain, "x"));
        QVERIFY(tree.Device("ttyUSB3", locked) && tree.Link("usb-A_B_C-if00-port0", "ttyUSB3"));
        QVERIFY(GiveToPlainUser(tree.Root.path()));
        QVERIFY(QFile::setPermissions(locked, {}));
        QCOMPARE(ProbeAsPlainUser(tree.ById("usb-A_B_C-if00-port0"), tree.Roots()),
                 QByteArray("noAccess|") + NoPermissionReason().toUtf8());
        QVERIFY(NoPermissionReason().startsWith(
            QStringLiteral("нет прав: добавьте пользователя в группу dialout")));
        QString reason;
        QCOMPARE(ProbePort(plain, reason, tree.Roots()), TPortState::NoAccess);
        QCOMPARE(reason, PortErrorReason(ENOTTY, plain));
    }

    // The adapter comes back as another tty: the by-id name, saved as the port, stays; the
    // list follows it to the new device and the transmitter reopens through it.
    void byIdSurvivesRenumbering() {
        TTestDirs dirs;
        TFakePortTree tree;
        TSimServer first(std::make_unique<TGaugeSim>(1));
        TSimServer second(std::make_unique<TGaugeSim>(1));
        QVERIFY(first.Start() && second.Start());
        QVERIFY(tree.Device("ttyUSB0", first.SlavePath()) && tree.Link(Ftdi, "ttyUSB0"));

        TTransmitter transmitter;
        TTransmitterSettings s;
        s.Port = FindPort(ListSerialPorts(tree.Roots()), tree.ById(Ftdi))->SettingsName();
        QCOMPARE(s.Port, tree.ById(Ftdi));
        transmitter.SetSettings(s);
        QVERIFY(transmitter.SaveSettings());
        transmitter.LoadSettings();
        QCOMPARE(transmitter.Settings().Port, tree.ById(Ftdi)); // not resolved when kept
        QByteArray answer;
        QVERIFY(transmitter.SendString(Exchange(), answer, true));

        first.Unplug();
        QVERIFY(QFile::remove(tree.Dev("ttyUSB0")));
        try {
            transmitter.SendString(Exchange(), answer, true);
        } catch (const std::runtime_error&) {
        }
        QVERIFY(!transmitter.IsOpen());
        QVERIFY(tree.Device("ttyUSB1", second.SlavePath()) && tree.Link(Ftdi, "ttyUSB1"));
        const std::vector<TPortEntry> ports = ListSerialPorts(tree.Roots(), s.Port);
        QCOMPARE(ports.size(), size_t(1));
        QCOMPARE(ports[0].Device, tree.Dev("ttyUSB1"));
        QVERIFY(ports[0].Names(transmitter.Settings().Port));
        QVERIFY(transmitter.SendString(Exchange(), answer, true));
        QVERIFY(CheckCrc16(answer));
        QCOMPARE(transmitter.Settings().Port, tree.ById(Ftdi));
        QVERIFY(second.WaitForRequests(1, 5000));
    }

    // The roots of the environment: a test's tree, the system's folders for what it omits.
    void rootsFromEnvironment() {
        qputenv("ULMAR_PORT_ROOTS", "byid=/x/by-id;sys=/x/sys");
        const TPortRoots roots = PortRootsFromEnvironment();
        qunsetenv("ULMAR_PORT_ROOTS");
        QCOMPARE(roots.ById, QStringLiteral("/x/by-id"));
        QCOMPARE(roots.SysTty, QStringLiteral("/x/sys"));
        QCOMPARE(roots.Dev, QStringLiteral("/dev"));
        QCOMPARE(PortRootsFromEnvironment().ById, QStringLiteral("/dev/serial/by-id"));
    }
};

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
