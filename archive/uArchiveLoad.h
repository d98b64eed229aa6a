#pragma once
// Bulk reader of the archive for the trend windows: walks the calendar days of a range and
// reads each day's table with SQLite's C API into trend points. Never creates, alters or
// leaves behind a file: a day whose table was not written reads as no rows. Any thread; each
// call opens and closes its own connections.

#include "uTrendData.h"
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

// The calendar dates from the start's date to the stop's date, each once, in order (by date,
// never by steps of 86 400 s); empty when the start is after the stop or either is not a date.
QList<QDate> ArchiveRangeDates(TDateTime start, TDateTime stop);

enum class TDayRead { Read, Missing, Failed, Stopped };

// Which rows of a day table a read takes, by the gauge's plant number (the PN column): every
// row (AllGauges), the rows of no known gauge (UnknownGauge: PN NULL, and every row of a table
// made before the column was kept), or the rows of the gauge with that plant number (0 and up).
constexpr int AllGauges = -2;
constexpr int UnknownGauge = -1;

// Appends to `out` the rows of `table` in the day directory whose DT lies within [start, stop],
// both ends inclusive to the millisecond, in table order (row number order: the order they
// were written). Missing when the directory or the table file does not exist (nothing is opened
// then); Failed when the file cannot be read as that table, or not to its end (a damaged or cut
// file): the rows read before the damage stay in `out`. Rows with an unreadable DT or a null V
// are skipped. `yield` runs every few thousand rows; a set `stop` ends the read there (Stopped,
// the rows read so far kept). `gauge` selects the rows of one gauge (see AllGauges).
TDayRead ReadArchiveDay(const QString& dayDir, const QString& table, TDateTime start,
                        TDateTime stop, std::vector<TTrendPoint>& out,
                        const std::function<void()>& yield = {},
                        const std::atomic<bool>* stopRead = nullptr, int gauge = AllGauges);

// The rows of each gauge in one day table: (plant number or UnknownGauge, rows), ordered by
// plant number with the unknown gauge first; empty when the table is missing or unreadable
// (of a table damaged part-way, the rows before the damage).
// One pass over the PN column; the answer is kept for the process's life while the file and its
// write-ahead log keep their size and time, so a day that is no longer written is read once.
struct TGaugeRows {
    int Gauge = UnknownGauge;
    qint64 Rows = 0;
};
std::vector<TGaugeRows> ArchiveDayGauges(const QString& dayDir, const QString& table);

// The gauges that have rows in any of the tables on the dates of [start, stop] (whole days),
// with their rows summed, in the order of ArchiveDayGauges. `yield` runs after each table.
std::vector<TGaugeRows> ArchiveRangeGauges(const QStringList& tables, TDateTime start,
                                           TDateTime stop, const std::function<void()>& yield = {});

// The greatest row number of the table: an upper bound of its rows (rows are only appended).
// 0 when missing or unreadable.
qint64 ArchiveDayRowBound(const QString& dayDir, const QString& table);

struct TArchiveSource {
    QString Table;
    TTrendData* Data = nullptr;
    // The gauge whose rows the line takes (AllGauges: every row, as a table of one gauge).
    int Gauge = AllGauges;
};

struct TArchiveLoadResult {
    int Days = 0;     // dates walked
    qint64 Rows = 0;  // rows read, all tables
    int Failures = 0; // day tables that could not be read (wholly or in part)
    // The dates of those tables, each once, in date order.
    QList<QDate> FailedDates;
    // The load was cancelled: the dates before the one it stopped at are loaded.
    bool Cancelled = false;
};

// What a load of [start, stop] would hold, counted from the day tables present (their row
// bounds, ArchiveDayRowBound), every table of the sources. `yield` runs after each table.
// For one gauge (not AllGauges) the gauge's rows of each day (ArchiveDayGauges).
qint64 ArchiveRangeRowBound(const QStringList& tables, TDateTime start, TDateTime stop,
                            const std::function<void()>& yield = {}, int gauge = AllGauges);

struct TArchiveLoadHooks {
    // After each date: (index of the date, 0-based; index of the last date).
    std::function<void(int day, int lastDay)> Progress;
    // Called on the calling thread at least every few tens of milliseconds while the days are
    // read, so that a window can keep answering.
    std::function<void()> Yield;
    // Reader threads; 0 takes one per processor core (at most 4).
    int Threads = 0;
    // Asked on the calling thread after each yield and each date: true cancels the load. The
    // readers stop at once; the dates taken before stay appended, nothing after them is.
    std::function<bool()> Cancel;
};

// What one point of a trend line costs in memory while its range loads, bytes: the point (16),
// its share of the level-of-detail cache (1.3) and of the readers' day buffers and the reserve's
// slack, rounded up from the peak that bench_trends measures (19.1 bytes/point on 13 million
// points). A year at the 200 ms poll period, 158 million points, takes about 2.9 GiB.
constexpr double TrendBytesPerPoint = 20.0;
// The memory taken for available when /proc/meminfo cannot be read, bytes.
constexpr qint64 FallbackMemoryBytes = qint64(2) << 30;
// MemAvailable of the meminfo file (what the system can give without swapping), bytes;
// FallbackMemoryBytes when the file or the line cannot be read.
qint64 AvailableMemoryBytes(const QString& meminfo = QStringLiteral("/proc/meminfo"));
// "Диапазон слишком велик…": the estimate (points, bytes) against the limit, in the locale's
// numbers, sizes in ГБ, МБ or КБ (of 1024).
QString LoadTooLargeText(qint64 points, double bytes, qint64 limit);
// "Не читается архив за ДД.ММ.ГГГГ", several dates listed with ", " (beyond ten, "и ещё N").
QString UnreadableDaysText(const QList<QDate>& dates);

// Reads every date of [start, stop] for each source and appends each day's rows to its data in
// one call, day after day in date order, on the calling thread; the day tables themselves are
// read by reader threads, each with its own connections. The space is reserved first from the
// tables' row bounds. Nothing is read when the start is after the stop. A table that cannot be
// read to its end gives the rows before the damage and names its date in FailedDates. Hooks run
// on the calling thread.
TArchiveLoadResult LoadArchiveRange(const std::vector<TArchiveSource>& sources, TDateTime start,
                                    TDateTime stop, const TArchiveLoadHooks& hooks = {});
