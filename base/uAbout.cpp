#include "uAbout.h"

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

TUsageOption HelpUsageOption() {
    return {QStringLiteral("-h, --help"), QStringLiteral("эта справка")};
}

TUsageOption VersionUsageOption(const QString& text) {
    return {QStringLiteral("-V, --version"), text};
}

QString UsageText(const QString& usage, const QString& description,
                  const QList<TUsageOption>& options, const QString& notes) {
    // Names longer than this share no line with their text, so that the column stays narrow.
    constexpr qsizetype WidestNames = 22;
    qsizetype width = 0;
    for (const TUsageOption& option : options)
        if (option.Names.size() <= WidestNames)
            width = qMax(width, option.Names.size());
    const QString indent(2 + width + 2, QLatin1Char(' '));
    const QString prefix = QStringLiteral("Использование: ");
    QString text = prefix + usage.split(QLatin1Char('\n'))
                                .join(QLatin1Char('\n') + QString(prefix.size(), QLatin1Char(' ')));
    text += QStringLiteral("\n\n") + description + QStringLiteral("\n\nПараметры:\n");
    for (const TUsageOption& option : options) {
        QString line = QStringLiteral("  ") + option.Names;
        if (option.Names.size() > width)
            line += QLatin1Char('\n') + indent;
        else
            line += QString(width - option.Names.size() + 2, QLatin1Char(' '));
        line += option.Text.split(QLatin1Char('\n')).join(QLatin1Char('\n') + indent);
        text += line + QLatin1Char('\n');
    }
    if (!notes.isEmpty())
        text += QLatin1Char('\n') + notes + (notes.endsWith(QLatin1Char('\n')) ? "" : "\n");
    return text;
}

QString VersionLine(const QString& program) {
    return program + QLatin1Char(' ') + ProgramVersionText();
}
