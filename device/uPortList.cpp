#include "uPortList.h"

#include "uTransmitter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Device paths in the order a technician counts them: ttyUSB2 before ttyUSB10 (the trailing
// number compared as a number), otherwise as text.
bool DeviceBefore(const QString& a, const QString& b) {
    const auto split = [](const QString& path) {
        qsizetype digits = path.size();
        while (digits > 0 && path.at(digits - 1).isDigit())
            --digits;
        return std::pair<QString, QString>(path.left(digits), path.mid(digits));
    };
    const auto [headA, numberA] = split(a);
    const auto [headB, numberB] = split(b);
    if (headA != headB)
        return headA < headB;
    // Equal heads: the shorter number (leading zeros aside, as device names have none) is less.
    if (numberA.size() != numberB.size())
        return numberA.size() < numberB.size();
    return numberA < numberB;
}

// A small text file of sysfs or a lock file, trimmed; empty when it cannot be read.
QString ReadSmallText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(256)).trimmed();
}

// udev writes characters unsafe in a file name as "\x20"; they are turned back.
QString DecodeUdevName(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 3 < text.size() &&
            text.at(i + 1) == QLatin1Char('x')) {
            bool ok = false;
            const int code = text.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += text.at(i);
    }
    return out;
}

// The canonical path of an existing file, or the path itself.
QString SameDeviceKey(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

// The adapter's maker, product and serial number from sysfs: the USB device is the parent of
// the terminal's device (a CDC-ACM interface) or its grandparent (a USB-serial converter).
void ReadSysAttributes(const TPortRoots& roots, TPortEntry& entry) {
    const QString name = QFileInfo(entry.Device).fileName();
    if (name.isEmpty())
        return;
    const QString device = QDir(roots.SysTty).filePath(name + QStringLiteral("/device"));
    QString dir = QFileInfo(device).canonicalFilePath();
    if (dir.isEmpty())
        return;
    for (int up = 0; up < 2; ++up) {
        dir = QFileInfo(dir).path();
        const QString maker = ReadSmallText(dir + QStringLiteral("/manufacturer"));
        const QString model = ReadSmallText(dir + QStringLiteral("/product"));
        const QString serial = ReadSmallText(dir + QStringLiteral("/serial"));
        if (maker.isEmpty() && model.isEmpty() && serial.isEmpty())
            continue;
        // The attributes are the adapter's own words; the by-id name only guessed the split.
        if (!maker.isEmpty())
            entry.Maker = maker;
        if (!model.isEmpty())
            entry.Model = model;
        if (!serial.isEmpty())
            entry.Serial = serial;
        return;
    }
}

// A legacy UART the kernel reserves without hardware behind it (serial type 0, "unknown").
bool PhantomUart(const QString& sysEntry) {
    const QString type = ReadSmallText(sysEntry + QStringLiteral("/type"));
    return type == QLatin1String("0");
}

// A live process holds the UUCP lock file of the device: its text names the process.
bool LockedByLiveProcess(const TPortRoots& roots, const QString& device, QString& file,
                         qint64& pid) {
    const QString name = QFileInfo(device).fileName(); // "ttyUSB0", as the lock names it
    for (const QString& dir : roots.LockDirs) {
        const QString path = QDir(dir).filePath(QStringLiteral("LCK..") + name);
        if (!QFileInfo::exists(path))
            continue;
        bool ok = false;
        pid = ReadSmallText(path).toLongLong(&ok);
        if (!ok || pid <= 0 || pid > 0x7FFFFFFF)
            continue; // unreadable or stale: the open below decides
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
            file = path;
            return true;
        }
    }
    return false;
}

} // namespace

TPortRoots PortRootsFromEnvironment() {
    TPortRoots roots;
    const QString text = qEnvironmentVariable("ULMAR_PORT_ROOTS");
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = part.left(eq).trimmed();
        const QString dir = part.mid(eq + 1).trimmed();
        if (key == QLatin1String("byid"))
            roots.ById = dir;
        else if (key == QLatin1String("dev"))
            roots.Dev = dir;
        else if (key == QLatin1String("sys"))
            roots.SysTty = dir;
        else if (key == QLatin1String("lock"))
            roots.LockDirs = QStringList{dir};
    }
    return roots;
}

QString TPortEntry::AdapterText() const {
    QString text = Model;
    if (!Maker.isEmpty() && !Model.startsWith(Maker, Qt::CaseInsensitive))
        text = Model.isEmpty() ? Maker : Maker + QLatin1Char(' ') + Model;
    if (!Serial.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + QStringLiteral("(") + Serial +
                QStringLiteral(")");
    if (!Interface.isEmpty() && Interface != QLatin1String("00"))
        text += QStringLiteral(" интерфейс ") + Interface;
    return text;
}

bool TPortEntry::Names(const QString& port) const {
    if (port.isEmpty())
        return false;
    if (port == Device || (!ById.isEmpty() && port == ById))
        return true;
    const QString canonical = QFileInfo(port).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(Device).canonicalFilePath();
}

TPortEntry ParseByIdName(const QString& name) {
    TPortEntry entry;
    static const QRegularExpression pattern(
        QStringLiteral("^usb-(.+)-if([0-9A-Fa-f]+)(?:-port([0-9]+))?$"));
    const QRegularExpressionMatch m = pattern.match(name);
    if (!m.hasMatch())
        return entry;
    entry.Interface = m.captured(2);
    const QStringList words = DecodeUdevName(m.captured(1)).split(QLatin1Char('_'));
    if (words.size() >= 3) {
        entry.Maker = words.first();
        entry.Serial = words.last();
        entry.Model = words.mid(1, words.size() - 2).join(QLatin1Char(' '));
    } else if (words.size() == 2) {
        entry.Maker = words.at(0);
        entry.Model = words.at(1);
    } else {
        entry.Model = words.value(0);
    }
    return entry;
}

QString NoPermissionReason() {
    return QStringLiteral("нет прав: добавьте пользователя в группу dialout "
                          "(sudo usermod -aG dialout $USER, затем войдите заново)");
}

TPortState ProbePort(const QString& device, QString& reason, const TPortRoots& roots) {
    reason.clear();
    QString lockFile;
    qint64 pid = 0;
    if (LockedByLiveProcess(roots, device, lockFile, pid)) {
        reason =
            QStringLiteral("Порт занят другой программой (процесс %1, %2)").arg(pid).arg(lockFile);
        return TPortState::Busy;
    }
    const QByteArray path = device.toLocal8Bit();
    // Never blocks on the carrier line and never becomes this process's terminal.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        switch (error) {
        case EACCES:
        case EPERM:
            reason = NoPermissionReason();
            return TPortState::NoAccess;
        case EBUSY:
            reason = PortErrorReason(EBUSY, device);
            return TPortState::Busy;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case EIO:
            reason = PortErrorReason(error, device);
            return TPortState::Missing;
        default:
            reason = PortErrorReason(error, device);
            return TPortState::NoAccess;
        }
    }
    TPortState state = TPortState::Free;
    if (!::isatty(fd)) {
        reason = PortErrorReason(ENOTTY, device);
        state = TPortState::NoAccess;
    } else {
        // Root's open passes another program's exclusive flag; the flag itself still tells.
#ifdef TIOCGEXCL
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
            reason = PortErrorReason(EBUSY, device);
            state = TPortState::Busy;
        }
#endif
    }
    ::close(fd);
    return state;
}

std::vector<TPortEntry> ListSerialPorts(const TPortRoots& roots, const QString& configured) {
    std::map<QString, TPortEntry> byDevice; // the same device reached by any name
    std::vector<QString> order;
    auto add = [&](TPortEntry entry) {
        const QString key = SameDeviceKey(entry.Device);
        auto found = byDevice.find(key);
        if (found == byDevice.end()) {
            byDevice.emplace(key, std::move(entry));
            order.push_back(key);
        } else if (found->second.ById.isEmpty() && !entry.ById.isEmpty()) {
            found->second.ById = entry.ById;
        }
    };

    // The stable links: each names its device one step on (../../ttyUSB0), which is kept as
    // the device's name rather than whatever that resolves to further.
    const QDir byId(roots.ById);
    const QFileInfoList links =
        byId.entryInfoList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    for (const QFileInfo& link : links) {
        TPortEntry entry = ParseByIdName(link.fileName());
        entry.ById = byId.filePath(link.fileName());
        entry.Device = link.isSymLink() ? link.symLinkTarget() : entry.ById;
        add(std::move(entry));
    }

    // The kernel's terminals with a device behind them.
    const QDir sys(roots.SysTty);
    for (const QString& name :
         sys.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name)) {
        const QString entryDir = sys.filePath(name);
        if (!QFileInfo::exists(entryDir + QStringLiteral("/device")) || PhantomUart(entryDir))
            continue;
        TPortEntry entry;
        entry.Device = QDir(roots.Dev).filePath(name);
        add(std::move(entry));
    }

    std::vector<TPortEntry> ports;
    ports.reserve(order.size() + 1);
    for (const QString& key : order)
        ports.push_back(byDevice.at(key));
    const QString port = configured.trimmed();
    if (!port.isEmpty() && std::none_of(ports.begin(), ports.end(),
                                        [&port](const TPortEntry& e) { return e.Names(port); })) {
        const QFileInfo info(port);
        TPortEntry entry;
        if (info.isSymLink()) {
            entry = ParseByIdName(info.fileName());
            entry.ById = port;
            entry.Device = info.symLinkTarget();
        } else {
            entry.Device = port;
        }
        ports.push_back(entry);
    }
    for (TPortEntry& entry : ports) {
        ReadSysAttributes(roots, entry);
        entry.State = ProbePort(entry.Device, entry.Reason, roots);
    }
    std::sort(ports.begin(), ports.end(), [](const TPortEntry& a, const TPortEntry& b) {
        return DeviceBefore(a.Device, b.Device);
    });
    return ports;
}

QString PortStateKey(TPortState state) {
    switch (state) {
    case TPortState::Free:
        return QStringLiteral("free");
    case TPortState::Busy:
        return QStringLiteral("busy");
    case TPortState::NoAccess:
        return QStringLiteral("noAccess");
    case TPortState::Missing:
        break;
    }
    return QStringLiteral("missing");
}

QString PortStateText(TPortState state) {
    switch (state) {
    case TPortState::Free:
        return QStringLiteral("свободен");
    case TPortState::Busy:
        return QStringLiteral("занят");
    case TPortState::NoAccess:
        return QStringLiteral("нет доступа");
    case TPortState::Missing:
        break;
    }
    return QStringLiteral("нет устройства");
}
