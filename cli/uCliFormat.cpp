#include "uCliFormat.h"

namespace {

QString Digits(int value, int width) {
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

} // namespace

QString IsoTimeText(const QDateTime& time) {
    if (!time.isValid())
        return QString();
    const QDate d = time.date();
    const QTime t = time.time();
    const int offset = time.offsetFromUtc() / 60; // minutes east of UTC
    const int magnitude = offset < 0 ? -offset : offset;
    return Digits(d.year(), 4) + QLatin1Char('-') + Digits(d.month(), 2) + QLatin1Char('-') +
           Digits(d.day(), 2) + QLatin1Char('T') + Digits(t.hour(), 2) + QLatin1Char(':') +
           Digits(t.minute(), 2) + QLatin1Char(':') + Digits(t.second(), 2) + QLatin1Char('.') +
           Digits(t.msec(), 3) + QLatin1Char(offset < 0 ? '-' : '+') + Digits(magnitude / 60, 2) +
           QLatin1Char(':') + Digits(magnitude % 60, 2);
}

QString IsoTimeTextMs(qint64 msSinceEpoch) {
    if (msSinceEpoch <= 0)
        return QString();
    return IsoTimeText(QDateTime::fromMSecsSinceEpoch(msSinceEpoch));
}

QString TCliCsv::Field(const QString& text) {
    const bool quote = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
                       text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quote)
        return text;
    QString q = text;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString TCliCsv::Line(const QStringList& fields) {
    QStringList written;
    written.reserve(fields.size());
    for (const QString& field : fields)
        written << Field(field);
    return written.join(QLatin1Char(';'));
}

void TCliCsv::Header(const QList<TCsvColumn>& columns) {
    QStringList names;
    for (const TCsvColumn& c : columns)
        names << (Captions_ ? QString::fromUtf8(c.Caption) : QString::fromLatin1(c.Key));
    Out_ << QChar(0xFEFF);
    Row(names);
}

void TCliCsv::Row(const QStringList& fields) {
    Out_ << Line(fields) << "\r\n";
    Out_.flush();
}
