#pragma once
// The serial ports of this computer as the port settings dialog and `ulmar-cli ports` list
// them: each with its device path, the stable name udev gives a USB adapter under
// /dev/serial/by-id (with the maker, model, serial number and interface read from it and from
// the adapter's sysfs attributes), and whether the port can be opened now.
// No widgets; any thread. Probing opens a device without blocking and without becoming its
// controlling terminal, and closes it at once; it never takes a lock another program would see.

#include <QString>
#include <QStringList>
#include <vector>

// The folders the list is read from; tests give a fake tree.
struct TPortRoots {
    QString ById = QStringLiteral("/dev/serial/by-id"); // stable links to the adapters
    QString Dev = QStringLiteral("/dev");               // device files
    QString SysTty = QStringLiteral("/sys/class/tty");  // the kernel's terminals
    // Lock files "LCK..ttyUSB0" of programs that follow the UUCP convention.
    QStringList LockDirs{QStringLiteral("/var/lock"), QStringLiteral("/run/lock")};
};

// The roots in force: the system's, or those of the environment variable ULMAR_PORT_ROOTS
// ("byid=DIR;dev=DIR;sys=DIR;lock=DIR", any of them; a test's fake tree). Keys it does not
// name keep the system's folder.
TPortRoots PortRootsFromEnvironment();

enum class TPortState {
    Free,     // opens: no other program holds it
    Busy,     // held by another program (exclusive open, a live lock file)
    NoAccess, // exists but cannot be opened by this user, or is no serial port
    Missing   // the device file is not there (an unplugged adapter behind its link)
};

struct TPortEntry {
    QString Device;    // the device file, e.g. /dev/ttyUSB0
    QString ById;      // the stable link, e.g. /dev/serial/by-id/usb-…-if00-port0; empty if none
    QString Maker;     // e.g. "FTDI"; empty when not known
    QString Model;     // e.g. "FT232R USB UART"
    QString Serial;    // e.g. "A50285BI"
    QString Interface; // the USB interface number of a multi-port adapter, e.g. "00"
    TPortState State = TPortState::Missing;
    QString Reason; // why the port is busy or cannot be opened; empty when free

    // The name to keep in the settings: the stable link when there is one, else the device.
    QString SettingsName() const { return ById.isEmpty() ? Device : ById; }
    // "FTDI FT232R USB UART (A50285BI)"; empty when nothing is known of the adapter.
    QString AdapterText() const;
    // Whether `port` (a settings name) names this entry: its device, its link, or a path that
    // leads to the same device.
    bool Names(const QString& port) const;
};

// Maker, model, serial number and interface from a by-id link's name
// ("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"). The parts udev joined with "_" cannot all
// be told apart: the first word is taken as the maker and the last as the serial number when
// there are three or more.
TPortEntry ParseByIdName(const QString& name);

// How a device can be opened now: Free with an empty reason, or the state and its reason.
// Opens the file O_NONBLOCK | O_NOCTTY and closes it at once.
TPortState ProbePort(const QString& device, QString& reason, const TPortRoots& roots = {});

// Every serial port: the by-id links (resolved to their devices) and the terminals of the sysfs
// tree that have a device behind them (legacy UARTs without hardware left out), sorted by
// device path. `configured`, when not empty, is the port of the settings: when no entry names
// it, an entry for it is added, so that a configured port that is not there is listed as such.
std::vector<TPortEntry> ListSerialPorts(const TPortRoots& roots = {},
                                        const QString& configured = {});

// "free", "busy", "noAccess", "missing" (the command line's JSON).
QString PortStateKey(TPortState state);
// "свободен", "занят", "нет доступа", "нет устройства".
QString PortStateText(TPortState state);

// The reason shown when this user may not open a port.
QString NoPermissionReason();
