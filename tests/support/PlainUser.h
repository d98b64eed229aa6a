#pragma once
// Tests that open a port or write a folder also run as a plain user: root opens a terminal that
// another program holds exclusively and writes where a technician may not. When the tests run
// as root, the work is done as "nobody". Test main thread, or a child process before exec.

#include <QDirIterator>
#include <QProcess>
#include <QString>
#include <grp.h>
#include <unistd.h>

constexpr uid_t PlainUserId = 65534; // nobody

inline bool RunningAsRoot() {
    return ::geteuid() == 0;
}

// Drops this process's groups and becomes the plain user; false when the system refuses.
inline bool BecomePlainUser() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(PlainUserId) == 0 && ::setuid(PlainUserId) == 0;
}

// Makes `p` start its program as the plain user when the tests run as root.
inline void StartAsPlainUser(QProcess& p) {
    if (!RunningAsRoot())
        return;
    p.setChildProcessModifier([] {
        if (!BecomePlainUser())
            ::_exit(126);
    });
}

// Gives a folder and all it holds to the plain user, so that programs started as that user can
// read and write it; true when nothing was refused.
inline bool GiveToPlainUser(const QString& dir) {
    if (!RunningAsRoot())
        return true;
    bool ok = ::chown(dir.toLocal8Bit().constData(), PlainUserId, PlainUserId) == 0;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        ok = ::chown(it.next().toLocal8Bit().constData(), PlainUserId, PlainUserId) == 0 && ok;
    return ok;
}
