#include "devicelink/uLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <stdexcept>

void TLog::SetFileName(const QString& name) {
    if (!name.isEmpty())
        FileName_ = name;
}

void TLog::Add(const QString& text) const {
    // Only a name with a directory part has a directory to create.
    const QString name = QDir::fromNativeSeparators(FileName_);
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const QString dir = name.left(slash);
        if (!QDir(dir).exists() && !QDir().mkpath(dir))
            throw std::runtime_error("cannot create log directory " + dir.toStdString());
    }
    const QByteArray line =
        (QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss,zzz")) +
         QLatin1Char(' ') + text + QStringLiteral("\r\n"))
            .toUtf8();
    QFile file(FileName_);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw std::runtime_error("cannot open log file " + FileName_.toStdString());
    // One write of the whole line, so that lines from two threads do not interleave.
    if (file.write(line) != line.size() || !file.flush())
        throw std::runtime_error("cannot write log file " + FileName_.toStdString());
    file.close();
}
