#include "archive/uRangeDT.h"

#include <cmath>

namespace {
TRangeClock Clock = nullptr;
} // namespace

void SetRangeClock(TRangeClock clock) {
    Clock = clock;
}

TDateTime RangeNow() {
    return Clock ? Clock() : NowDateTime();
}

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

TRangeDT::TRangeDT() {
    const TDateTime now = RangeNow();
    SetStartStop(now - 1.0, now);
}

TDateTime TRangeDT::Complete(TDateTime value, double defaultDate) {
    if (!std::isfinite(value))
        value = 0.0;
    const double date = DatePart(value);
    if (date != 0.0)
        return value; // a date with its time as given, midnight included
    const double time = TimePart(value);
    return defaultDate + (time >= OneSecond ? time : TimePart(RangeNow()));
}

void TRangeDT::SetStart(TDateTime value) {
    if (value == RangeStart)
        return;
    RangeStart = Complete(value, DatePart(RangeNow()) - 1.0);
}

void TRangeDT::SetStop(TDateTime value) {
    if (value == RangeStop)
        return;
    RangeStop = Complete(value, DatePart(RangeNow()));
}

void TRangeDT::SetStart(const QDate& date) {
    if (!date.isValid())
        return SetStart(0.0);
    SetStart(DateToDateTime(date) + TimePart(RangeNow()));
}

void TRangeDT::SetStop(const QDate& date) {
    if (!date.isValid())
        return SetStop(0.0);
    SetStop(DateToDateTime(date) + TimePart(RangeNow()));
}

void TRangeDT::SetStartStop(TDateTime start, TDateTime stop) {
    SetStart(start);
    SetStop(stop);
}
