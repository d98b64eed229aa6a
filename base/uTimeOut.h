#pragma once
// Date-times as the system keeps them: days since 30 December 1899 with the time of day as the
// fraction, local time. Header-only so that every layer can use it. Any thread.

#include <QDateTime>

using TDateTime = double;

// Converts a local date-time to the day count; an invalid date-time gives 0.
inline TDateTime QtToDateTime(const QDateTime& dt) {
    if (!dt.isValid())
        return 0.0;
    static const QDate epoch(1899, 12, 30);
    const qint64 days = epoch.daysTo(dt.date());
    const double msOfDay = dt.time().msecsSinceStartOfDay();
    // Days before the epoch keep the fraction positive, as the day count does.
    return static_cast<double>(days) + msOfDay / 86400000.0;
}

// Converts a day count back to a local date-time, rounded to the millisecond; a value that is
// not a number or lies outside the years 1 to 9999 gives an invalid date-time.
inline QDateTime DateTimeToQt(TDateTime value) {
    static const QDate epoch(1899, 12, 30);
    if (!(value > -693593.0 && value < 2958466.0))
        return QDateTime();
    qint64 totalMs = qRound64(value * 86400000.0);
    qint64 days = totalMs / 86400000;
    qint64 ms = totalMs % 86400000;
    if (ms < 0) {
        ms += 86400000;
        --days;
    }
    return QDateTime(epoch.addDays(days), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

inline TDateTime NowDateTime() {
    return QtToDateTime(QDateTime::currentDateTime());
}

// Time-stamp holder: Time is set to now when the object is created.
class TTimeOut {
public:
    TTimeOut() : Time(NowDateTime()) {}
    TDateTime Time;
};
