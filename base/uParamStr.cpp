#include "uParamStr.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <stdexcept>

TCommandLineModes ParseCommandLine(const QStringList& arguments) {
    TCommandLineModes modes;
    for (const QString& arg : arguments) {
        if (arg == QLatin1String("/full"))
            modes.Factory = true;
        else if (arg == QLatin1String("/kalist"))
            modes.Kalist = true;
    }
    return modes;
}

QString BytesToString(const QByteArray& bytes) {
    return QString::fromLatin1(bytes);
}

QByteArray StringToBytes(const QString& text) {
    return text.toLatin1();
}

QString ToHexString(const QByteArray& bytes) {
    QStringList parts;
    parts.reserve(bytes.size());
    for (const char c : bytes)
        parts
            << QStringLiteral("%1").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

QString ToDecString(const QByteArray& bytes, bool padded) {
    QStringList parts;
    parts.reserve(bytes.size());
    for (const char c : bytes)
        parts << QStringLiteral("%1").arg(static_cast<quint8>(c), padded ? 3 : 0, 10,
                                          QLatin1Char('0'));
    return parts.join(QLatin1Char(' '));
}

bool InRange(double value, double low, double high) {
    return low <= value && value <= high;
}

QString RepeatString(const QString& text, int n) {
    return n > 0 ? text.repeated(n) : text;
}

QString ArchiveDayPath(TDateTime stamp) {
    // Beyond the years 1 to 9999 (or not a number) there is no day to name.
    if (!std::isfinite(stamp) || stamp < -693593.0 || stamp >= 2958466.0)
        return {};
    // The date of the stamp rounded to the millisecond, split by hand: no local date-time is
    // built, so naming a day needs no time-zone lookup, and a time that a clock change skips
    // keeps the day it was stamped with.
    constexpr qint64 msPerDay = 86400000;
    const qint64 totalMs = qRound64(stamp * static_cast<double>(msPerDay));
    const qint64 days = totalMs / msPerDay - (totalMs % msPerDay < 0 ? 1 : 0);
    const QDate d = QDate(1899, 12, 30).addDays(days);
    const QChar sep = QDir::separator();
    return d.toString(QStringLiteral("yyyy")) + sep + d.toString(QStringLiteral("MM")) + sep +
           d.toString(QStringLiteral("dd"));
}

static bool IsSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QDir::separator();
}

QString JoinPath(const QString& dir, const QString& name) {
    if (dir.isEmpty())
        return name;
    qsizetype start = 0;
    while (start < name.size() && IsSeparator(name.at(start)))
        ++start;
    const QString tail = name.mid(start);
    if (IsSeparator(dir.back()))
        return dir + tail;
    return dir + QDir::separator() + tail;
}

void EnsureFileExists(const QString& path) {
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    if (!QDir(dir).exists() && !QDir().mkpath(dir))
        throw std::runtime_error("cannot create directory " + dir.toStdString());
    if (info.exists()) {
        if (info.isDir())
            throw std::runtime_error("not a file: " + path.toStdString());
        return;
    }
    QFile file(path);
    // NewOnly: a file created meanwhile by someone else is never truncated.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFileInfo::exists(path))
        throw std::runtime_error("cannot create file " + path.toStdString());
}
