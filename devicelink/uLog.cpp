#include "devicelink/uLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <array>
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

bool AppendLineToFile(const QString& path, const QByteArray& line) {
    if (path.isEmpty())
        return false;
    std::lock_guard lock(AppendLock(path));
    const QFileInfo info(path);
    if (!info.dir().exists() && !QDir().mkpath(info.path()))
        return false;
    // A device or a pipe has no end to look at or to cut back to.
    const bool regular = !info.exists() || info.isFile();
    // Unbuffered: every write goes straight to the file, and nothing is left in a buffer that
    // closing would write after the cut back.
    QFile file(path);
    if (!file.open(regular ? QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered
                           : QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const qint64 before = regular ? file.size() : 0;
    QByteArray bytes;
    if (before > 0) {
        char last = '\n';
        if (!file.seek(before - 1) || !file.getChar(&last))
            return false;
        if (last != '\n')
            bytes = QByteArrayLiteral("\r\n");
    }
    bytes += line;
    if (file.write(bytes) == bytes.size() && file.flush())
        return true;
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
