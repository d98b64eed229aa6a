#pragma once
// A fake tree of serial ports for the port list (device/uPortList.h): by-id links, device
// links to pseudo-terminals or plain files, sysfs attributes and lock files, all under one
// temporary folder. Test main thread.

#include "tests/support/FileBytes.h"
#include "uPortList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TFakePortTree {
public:
    TFakePortTree() {
        QDir root(Root.path());
        root.mkpath(QStringLiteral("dev/serial/by-id"));
        root.mkpath(QStringLiteral("sys"));
        root.mkpath(QStringLiteral("lock"));
    }
    QString Path(const QString& relative) const { return Root.filePath(relative); }
    QString Dev(const QString& name) const { return Path(QStringLiteral("dev/") + name); }
    QString ById(const QString& link) const {
        return Path(QStringLiteral("dev/serial/by-id/") + link);
    }
    TPortRoots Roots() const {
        TPortRoots r;
        r.ById = Path(QStringLiteral("dev/serial/by-id"));
        r.Dev = Path(QStringLiteral("dev"));
        r.SysTty = Path(QStringLiteral("sys"));
        r.LockDirs = QStringList{Path(QStringLiteral("lock"))};
        return r;
    }
    // The value of ULMAR_PORT_ROOTS for these roots.
    QString Env() const {
        const TPortRoots r = Roots();
        return QStringLiteral("byid=%1;dev=%2;sys=%3;lock=%4")
            .arg(r.ById, r.Dev, r.SysTty, r.LockDirs.first());
    }
    // dev/<name> as a link to `target` (a pseudo-terminal, a plain file), replacing an older one.
    bool Device(const QString& name, const QString& target) const {
        QFile::remove(Dev(name));
        return QFile::link(target, Dev(name));
    }
    // by-id/<link> pointing to ../../<name>, as udev makes it, replacing an older one.
    bool Link(const QString& link, const QString& name) const {
        QFile::remove(ById(link));
        return QFile::link(QStringLiteral("../../") + name, ById(link));
    }
    // sys/<name>/device and the adapter's attributes beside it; `type` as a legacy UART has it.
    bool Sys(const QString& name, const QByteArray& maker, const QByteArray& product,
             const QByteArray& serial, const QByteArray& type = {}) const {
        const QString dir = Path(QStringLiteral("sys/") + name);
        if (!QDir().mkpath(dir + QStringLiteral("/device")))
            return false;
        const auto put = [&dir](const char* file, const QByteArray& text) {
            return text.isEmpty() ||
                   WriteAll(dir + QLatin1Char('/') + QLatin1String(file), text + '\n');
        };
        return put("manufacturer", maker) && put("product", product) && put("serial", serial) &&
               put("type", type);
    }
    QTemporaryDir Root;
};

// The entry of a list whose by-id link or device is `name`, or null.
inline const TPortEntry* FindPort(const std::vector<TPortEntry>& ports, const QString& name) {
    for (const TPortEntry& e : ports)
        if (e.ById == name || e.Device == name)
            return &e;
    return nullptr;
}
