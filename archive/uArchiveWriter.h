#pragma once
// The archive writer thread: writes the readings of the polls and the request log's lines off
// the line. The request thread copies a poll's readings under the exchange lock
// (CaptureArchiveBatch) and posts them; it posts its log lines already formatted
// (TLog::FormatLine). One writer thread takes the items in the order they were posted and
// writes them: per reading the row, then the text twin line; a poll's rows are committed before
// the next item is taken. The queue is bounded: when it is full the oldest waiting item is
// dropped and counted, so a stalled disk never holds up a poster; once the writer has caught up
// it writes one line about the drops into the log file.
//
// Failures. A table, a text twin or the log file that cannot be written costs one attempt per
// item and never holds up the others. A table that waits for another connection waits the busy
// time-out once; until it is written again every attempt waits only briefly. A table file that
// is no database or is damaged (not one that is merely busy) is renamed beside itself to
// "<table>.db.damaged-yyyyMMdd-HHmmss" (with "-2", "-3", ... where that name is taken), which no
// reader takes for a table, and a new table file is started for the day's later rows; the log
// file gets a line about it. From the first failure until everything that failed has been
// written again (and the drops are reported) an episode runs: Health() tells the windows, the
// log file gets one line when it begins ("Архив не записывается: Hu: нет места на диске") and
// one when it ends, with what was lost. A line for the log file that cannot be written waits
// and is tried again after the next items, so the episode is recorded once there is room.
// Open tables in write-ahead mode keep their log small (ArchiveWalLimitBytes).
//
// Threads. The owner (the program's start-up and shut-down, user-interface thread) constructs,
// calls Stop and destroys. PostRows, PostLine, SetLogFile, WaitIdle, Health and the counters
// may be called from any thread, also during and after Stop. The writer thread alone opens,
// uses and closes the day's table connections (a connection belongs to the thread that opened
// it); it keeps them open until the day directory changes or it ends.

#include "uDataCtrl.h"
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

// The archive writer's state for the windows, taken at one moment.
struct TArchiveHealth {
    // An episode of failures runs: something failed and has not been written since, or items
    // were dropped from the full queue and not yet reported.
    bool Failing = false;
    // While failing: the table ("Hu"), text file ("Hu.txt", "rd241209.txt") that failed first
    // among those still failing, empty when only the queue overflowed; and why, in words
    // ("нет места на диске", "файл не является базой данных", "таблица занята", ...).
    QString Table;
    QString Reason;
    // Lost in the running episode (or the last one): readings not stored, lines not written,
    // failed or dropped from the queue.
    quint64 LostRows = 0;
    quint64 LostLines = 0;
    // Episodes begun since the writer started.
    quint64 Episodes = 0;
};

// The windows' text for the state: "Архив не записывается: Hu: нет места на диске" (without
// the table where only the queue overflowed); empty while the archive is written.
QString ArchiveHealthText(const TArchiveHealth& health);

// The most a table's write-ahead log takes on the disk while the writer keeps it open (it is
// checkpointed every few dozen rows and cut back to this size).
constexpr qint64 ArchiveWalLimitBytes = 256 * 1024;

class TArchiveWriter {
public:
    // Several minutes of polling: every exchange posts its log line, every archived poll its
    // readings.
    static constexpr std::size_t DefaultCapacity = 4096;
    static constexpr int DefaultStopMs = 5000;

    // Starts the writer thread; at most `capacity` items wait (at least one). `beforeItem` and
    // `media` are test seams: `beforeItem` runs on the writer thread before each item and may
    // block as a stalled disk would; `media` acts out a network share (uDataCtrl.h).
    explicit TArchiveWriter(std::size_t capacity = DefaultCapacity,
                            std::function<void()> beforeItem = {}, const TArchiveMedia& media = {});
    // Stop(DefaultStopMs); a writer thread that has not ended by then is left to end on its own
    // (it holds its own state).
    ~TArchiveWriter();
    TArchiveWriter(const TArchiveWriter&) = delete;
    TArchiveWriter& operator=(const TArchiveWriter&) = delete;

    // Any thread: queues the readings of one poll and returns at once; an empty batch queues
    // nothing. False, and the readings counted as dropped, once Stop has been called.
    bool PostRows(TArchiveBatch batch);
    // Any thread: queues one whole line (line end included) for the file at `path`, written
    // with AppendLineToFile. False, and counted as dropped, once Stop has been called.
    bool PostLine(const QString& path, QByteArray line);
    // Any thread: the file that receives the writer's own lines (the request log): dropped
    // items, a failure episode's beginning and end, a damaged table moved aside. Empty writes
    // no line; the counters and Health still count.
    void SetLogFile(const QString& path);

    // Any thread but the writer's: waits until everything posted before the call has been
    // written or dropped, and a drop line that fell due has been written (lines for the log file
    // that could not be written and wait for room are not waited for). False when timeoutMs
    // ran out or when Stop gave up on waiting items.
    bool WaitIdle(int timeoutMs);
    // Owner: takes no more items, writes those that wait, closes the tables and ends the
    // thread, all within timeoutMs; true when the thread has ended. When the time runs out the
    // waiting items are dropped (and counted), the thread ends after its current item, and the
    // result is false; a later call waits again.
    bool Stop(int timeoutMs = DefaultStopMs);

    // Any thread: readings and lines dropped from a full queue or posted after Stop.
    quint64 DroppedRows() const;
    quint64 DroppedLines() const;
    // Any thread: readings whose row was not stored and lines (text twins, log lines, the drop
    // line) that were not written, for disk or database errors.
    quint64 FailedRows() const;
    quint64 FailedLines() const;
    // Any thread: the failure state for the windows.
    TArchiveHealth Health() const;

private:
    struct TState;
    std::shared_ptr<TState> State_; // shared with the writer thread, which may outlive this
    std::thread Thread_;            // last: starts when the state exists
};
