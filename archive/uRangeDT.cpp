#include "uRangeDT.h"

#include <cmath>

double DatePart(TDateTime value) {
    return std::floor(value);
}

double TimePart(TDateTime value) {
    return value - std::floor(value);
}

TDateTime DateToDateTime(const QDate& date) {
    static const QDate epoch(1899, 12, 30);
    return date.isValid() ? static_cast<double>(epoch.daysTo(date)) : 0.0;
}

TRangeDT::TRangeDT(TRangeClock clock) : Clock_(clock) {
    const TDateTime now = Now();
    SetStartStop(now - 1.0, now);
}

TDateTime TRangeDT::Now() const {
    return Clock_ ? Clock_() : NowDateTime();
}

TDateTime TRangeDT::Complete(TDateTime value, double defaultDate) const {
    if (!std::isfinite(value))
        value = 0.0;
    const double date = DatePart(value);
    if (date != 0.0)
        return value; // a date with its time as given, midnight included
    const double time = TimePart(value);
    return defaultDate + (time >= OneSecond ? time : TimePart(Now()));
}

void TRangeDT::SetStart(TDateTime value) {
    if (value == RangeStart)
        return;
    RangeStart = Complete(value, DatePart(Now()) - 1.0);
}

void TRangeDT::SetStop(TDateTime value) {
    if (value == RangeStop)
        return;
    RangeStop = Complete(value, DatePart(Now()));
}

void TRangeDT::SetStart(const QDate& date) {
    if (!date.isValid())
        return SetStart(0.0);
    SetStart(DateToDateTime(date) + TimePart(Now()));
}

void TRangeDT::SetStop(const QDate& date) {
    if (!date.isValid())
        return SetStop(0.0);
    SetStop(DateToDateTime(date) + TimePart(Now()));
}

void TRangeDT::SetStartStop(TDateTime start, TDateTime stop) {
    SetStart(start);
    SetStop(stop);
}
