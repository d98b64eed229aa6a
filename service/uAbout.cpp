#include "service/uAbout.h"

#include <QStringList>

#ifndef ULMAR_VERSION
#define ULMAR_VERSION ""
#endif

QString VersionTextFrom(const QString& recorded) {
    const QString text = recorded.trimmed();
    return text.isEmpty() ? QStringLiteral("1.0.0.0") : text;
}

QString ProgramVersionText() {
    return VersionTextFrom(QStringLiteral(ULMAR_VERSION));
}

std::optional<QDateTime> ParseBuildStamp(const QString& date, const QString& time) {
    static const QStringList months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QStringList parts = date.simplified().split(QLatin1Char(' '));
    if (parts.size() != 3)
        return std::nullopt;
    const int month = static_cast<int>(months.indexOf(parts[0])) + 1;
    bool dayOk = false;
    bool yearOk = false;
    const int day = parts[1].toInt(&dayOk);
    const int year = parts[2].toInt(&yearOk);
    const QDate d(year, month, day);
    const QTime t = QTime::fromString(time.trimmed(), QStringLiteral("HH:mm:ss"));
    if (month < 1 || !dayOk || !yearOk || parts[2].size() != 4 || !d.isValid() || !t.isValid())
        return std::nullopt;
    return QDateTime(d, t);
}

std::optional<QDateTime> ProgramBuildTime() {
    // The stamp of this unit's compilation, which every build of the program runs through.
    return ParseBuildStamp(QStringLiteral(__DATE__), QStringLiteral(__TIME__));
}
