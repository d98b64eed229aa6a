#pragma once
// The time range of a trend window: its first and last moment as day counts (date as the whole
// part, time of day as the fraction). A value without a date (whole part 0) takes a default day
// (yesterday for the start, today for the stop); a value with neither date nor time (0) also
// takes the current time of day. A value that carries a date keeps its time exactly as given,
// midnight included; a caller that has a date alone passes a QDate and gets the current time
// of day. User-interface thread (one object per window).

#include "uTimeOut.h"
#include <QDate>

// One second as a day count.
constexpr double OneSecond = 1.0 / 86400.0;

// The clock of the range rules; a null clock is NowDateTime. The windows use the system's
// clock; a test hands in its own.
using TRangeClock = TDateTime (*)();

// The whole day part and the time-of-day part of a day count (floor, so the time part is
// never negative).
double DatePart(TDateTime value);
double TimePart(TDateTime value);
TDateTime DateToDateTime(const QDate& date);

class TRangeDT {
public:
    // The 24 hours up to now; `clock` tells what "now" is for this range's rules.
    explicit TRangeDT(TRangeClock clock = nullptr);

    TDateTime GetStart() const { return RangeStart; }
    TDateTime GetStop() const { return RangeStop; }

    // Nothing changes when the value equals the stored start exactly.
    void SetStart(TDateTime value);
    void SetStop(TDateTime value);
    // A date alone: that date at the current time of day.
    void SetStart(const QDate& date);
    void SetStop(const QDate& date);
    // SetStart, then SetStop.
    void SetStartStop(TDateTime start, TDateTime stop);

    // The range loads rows only when its start is not after its stop.
    bool IsEmpty() const { return RangeStart > RangeStop; }

private:
    TDateTime Now() const;
    TDateTime Complete(TDateTime value, double defaultDate) const;

    TRangeClock Clock_ = nullptr;
    TDateTime RangeStart = 0.0;
    TDateTime RangeStop = 0.0;
};
