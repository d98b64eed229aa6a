#pragma once
// Bulk reader of the archive for the trend windows: walks the calendar days of a range and
// reads each day's table with SQLite's C API into trend points. Never creates, alters or
// leaves behind a file: a day whose table was not written reads as no rows. Any thread; each
// call opens and closes its own connections.

#include "archive/uTrendData.h"
#include <QDate>
#include <QList>
#include <QString>
#include <functional>
#include <vector>

// The calendar dates from the start's date to the stop's date, each once, in order (by date,
// never by steps of 86 400 s); empty when the start is after the stop or either is not a date.
QList<QDate> ArchiveRangeDates(TDateTime start, TDateTime stop);

enum class TDayRead { Read, Missing, Failed };

// Appends to `out` the rows of `table` in the day directory whose DT lies within [start, stop],
// both ends inclusive to the millisecond, in table order. Missing when the directory or the
// table file does not exist (nothing is opened then), Failed when the file cannot be read as
// that table; rows with an unreadable DT or a null V are skipped.
// `yield` runs every few thousand rows.
TDayRead ReadArchiveDay(const QString& dayDir, const QString& table, TDateTime start,
                        TDateTime stop, std::vector<TTrendPoint>& out,
                        const std::function<void()>& yield = {});

// The greatest row number of the table: an upper bound of its rows (rows are only appended).
// 0 when missing or unreadable.
qint64 ArchiveDayRowBound(const QString& dayDir, const QString& table);

struct TArchiveSource {
    QString Table;
    TTrendData* Data = nullptr;
};

struct TArchiveLoadResult {
    int Days = 0;     // dates walked
    qint64 Rows = 0;  // rows read, all tables
    int Failures = 0; // day tables that could not be read
};

struct TArchiveLoadHooks {
    // After each date: (index of the date, 0-based; index of the last date).
    std::function<void(int day, int lastDay)> Progress;
    // Called on the calling thread at least every few tens of milliseconds while the days are
    // read, so that a window can keep answering.
    std::function<void()> Yield;
    // Reader threads; 0 takes one per processor core (at most 4).
    int Threads = 0;
};

// Reads every date of [start, stop] for each source and appends each day's rows to its data in
// one call, day after day in date order, on the calling thread; the day tables themselves are
// read by reader threads, each with its own connections. The space is reserved first from the
// tables' row bounds. Nothing is read when the start is after the stop. Hooks run on the calling
// thread.
TArchiveLoadResult LoadArchiveRange(const std::vector<TArchiveSource>& sources, TDateTime start,
                                    TDateTime stop, const TArchiveLoadHooks& hooks = {});
