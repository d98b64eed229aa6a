#include "uLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <array>
#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace {

// Appends to one file never overlap within the process: the check of the last byte, the write
// and a cut back belong together. Paths share a few locks by their hash.
std::mutex& AppendLock(const QString& path) {
    static std::array<std::mutex, 16> locks;
    return locks[qHash(path) % locks.size()];
}

} // namespace

bool AppendLineToFile(const QString& path, const QByteArray& line, int* systemError) {
    int unused = 0;
    int& error = systemError ? *systemError : unused;
    error = 0;
    if (path.isEmpty())
        return false;
    std::lock_guard lock(AppendLock(path));
    const QFileInfo info(path);
    errno = 0;
    if (!info.dir().exists() && !QDir().mkpath(info.path())) {
        error = errno;
        return false;
    }
    // A device or a pipe has no end to look at or to cut back to.
    const bool regular = !info.exists() || info.isFile();
    // Unbuffered: every write goes straight to the file, and nothing is left in a buffer that
    // closing would write after the cut back.
    QFile file(path);
    errno = 0;
    if (!file.open(regular ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered
                           : QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        error = errno;
        return false;
    }
    const qint64 before = regular ? file.size() : 0;
    QByteArray bytes;
    if (before > 0) {
        char last = '\n';
        errno = 0;
        if (!file.seek(before - 1) || !file.getChar(&last)) {
            error = errno;
            return false;
        }
        if (last != '\n')
            bytes = QByteArrayLiteral("\r\n");
    }
    bytes += line;
    errno = 0;
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
    // The write's own error, before the cut back can change it.
    error = errno;
    if (regular)
        file.resize(before);
    return false;
}

void TLog::SetFileName(const QString& name) {
    if (!name.isEmpty())
        FileName_ = name;
}

QByteArray TLog::FormatLine(const QString& text) {
    return (QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz")) +
            QLatin1Char(' ') + text + QStringLiteral("\r\n"))
        .toUtf8();
}

void TLog::Add(const QString& text) const {
    if (!AppendLineToFile(FileName_, FormatLine(text)))
        throw std::runtime_error("cannot write log file " + FileName_.toStdString());
}
