#pragma once
// Store and forward to the plant archive: the local day files stay the primary record, and the
// shipper sends their rows to the plant archive's server (uPlantStore.h) in batches, with the
// station's host name, the gauge's plant number, the reading's name (the table) and its time.
//
// Reading. The day tables (root/yyyy/MM/dd/<table>.db) are read while the archive writer
// thread appends to them: each read opens the table as the trend loader does (read-write
// without create and with writes refused, so that the last connection folds the write-ahead
// log back as the writer expects; else read-only), takes one batch of rows after the cursor in
// row number order and closes it again; nothing in a day file is ever changed. A table file
// that is unchanged since it was found fully confirmed is not opened again.
//
// The cursor. Per day table (its day, its name and the file's identity) the last row number
// the server has confirmed, and that row's time, in a small SQLite file of its own in the
// archive folder (PlantShipCursorFile). It is advanced only after the server has committed the
// batch, in one transaction of its own: a crash at any instant leaves at worst a confirmed
// batch to be sent again, which the server's unique key makes a no-op. A table file replaced
// under its name (a damaged one moved aside) has another identity: its rows are read from the
// first again. The cursor belongs to one server (host, port, database): another server gets
// every row.
//
// Rows that cannot be shipped are passed over and counted, never waited for: a row without a
// plant number (a table made before the plant number was kept, or a gauge whose number was not
// known), a null value or an unreadable time.
//
// Time. DT is the station's local time without an offset. It is read as the trend loader reads
// it and turned into UTC with the station's time zone; in the hour that a change back from
// daylight-saving time repeats, a row is taken for the earlier of the two instants unless that
// lies before the previous row of its table (rows are written in time order), then for the
// later one, so the repeated hour's rows stay apart on the server. A time that a change to
// daylight-saving time skips is taken with the offset before the change.

#include "uPlantStore.h"

#include <QString>
#include <QTimeZone>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// The cursor file of an archive folder.
QString PlantShipCursorFile(const QString& archiveRoot);

// Local time without offset (milliseconds since 1970-01-01 00:00 of the local scale, as the
// trend loader reads DT) to UTC milliseconds, in one time zone. One object per thread.
class TLocalToUtc {
public:
    explicit TLocalToUtc(QTimeZone zone = QTimeZone::systemTimeZone());
    // `previousUtcMs` is the UTC time of the table's previous row (or a value below every time
    // when there is none); it settles the repeated hour.
    qint64 Convert(qint64 localMs, qint64 previousUtcMs);

private:
    int OffsetAtUtcS(qint64 utcMs) const;

    QTimeZone Zone_;
    qint64 CachedDay_ = std::numeric_limits<qint64>::min();
    bool CachedConstant_ = false;
    int CachedOffsetS_ = 0;
};

struct TPlantShipOptions {
    // The archive folder (ArchiveRoot()).
    QString ArchiveRoot;
    // The station's name on the server; empty: the host name.
    QString Station;
    // Empty: PlantShipCursorFile(ArchiveRoot).
    QString CursorFile;
    // Rows per batch at most.
    int BatchRows = 5000;
    // Thread: the pause between two passes once everything is shipped.
    int IdleMs = 500;
    // Thread: the pause after a failure, doubled with each further failure up to the most.
    int BackoffFirstMs = 1000;
    int BackoffMaxMs = 30000;
    // A statement on the server that takes longer is cancelled (the server is taken for
    // unavailable); 0 leaves the server's own setting.
    int StatementTimeoutMs = 60000;
    // Test seam: the zone DT is read in; invalid: the system's.
    QTimeZone Zone;
    // Test seam: runs after each batch is confirmed and before its cursor is written.
    std::function<void()> AfterConfirm;
};

// What one pass (or the thread so far) did.
struct TPlantShipCounts {
    qint64 Shipped = 0;  // rows confirmed by the server (sent again after a crash included)
    qint64 Inserted = 0; // of those, rows new to the server
    qint64 Skipped = 0;  // rows passed over: no plant number, a null value, an unreadable time
    qint64 Pending = 0;  // rows in the day tables beyond the cursor, approximately
    qint64 Batches = 0;
    qint64 LastRowUtcMs = 0;  // the time of the newest row confirmed; 0 none yet
    qint64 LastConfirmMs = 0; // wall clock (UTC ms) of the last confirmation; 0 none yet
};

// One pass on the calling thread: ships every row pending in the day tables, oldest day first,
// in batches, until nothing is pending, the server fails or `stop` is set. For ulmar-cli and the
// thread below. One object per thread.
class TPlantShipWork {
public:
    TPlantShipWork(TPlantServerSettings settings, TPlantShipOptions options);
    ~TPlantShipWork();
    TPlantShipWork(const TPlantShipWork&) = delete;
    TPlantShipWork& operator=(const TPlantShipWork&) = delete;

    // True when everything pending was shipped (or there was nothing); false when the server
    // or the cursor file failed (Error()) or `stop` said true (asked between batches). Counts
    // accumulate in Counts().
    bool Pass(const std::function<bool()>& stop = {});

    // The failure's text: "Сервер архива недоступен: ..." as TPlantStore gives it, or the
    // cursor file's; empty after a pass that succeeded.
    const QString& Error() const { return Error_; }
    // The last pass failed on the cursor file, not on the server.
    bool CursorFailed() const { return CursorFailed_; }
    const TPlantShipCounts& Counts() const { return Counts_; }
    const QString& Station() const { return Station_; }
    TPlantStore& Store() { return Store_; }

    // Runs after each batch whose cursor is written (Counts() then hold it).
    std::function<void()> OnBatch;

private:
    struct TImpl;
    std::unique_ptr<TImpl> Impl_;
    TPlantStore Store_;
    QString Station_;
    QString Error_;
    bool CursorFailed_ = false;
    TPlantShipCounts Counts_;
};

// The shipper thread: passes over the archive while the program runs, pausing IdleMs between
// passes and backing off after failures. Never touches the archive writer or the line.
class TPlantShipper {
public:
    static constexpr int DefaultStopMs = 3000;

    // Starts the thread.
    TPlantShipper(TPlantServerSettings settings, TPlantShipOptions options);
    // Stop(DefaultStopMs); a thread that has not ended by then is left to end on its own.
    ~TPlantShipper();
    TPlantShipper(const TPlantShipper&) = delete;
    TPlantShipper& operator=(const TPlantShipper&) = delete;

    // Ends the thread: the batch on its way is cancelled on the server (it is sent again next
    // time). True when the thread has ended within timeoutMs.
    bool Stop(int timeoutMs = DefaultStopMs);

    // Any thread: empty while the rows are shipped; "Сервер архива недоступен: <reason>" while
    // they cannot be.
    QString StatusText() const;
    // Any thread: the counts since the start.
    TPlantShipCounts Counts() const;
    // Any thread: waits until a pass has ended with nothing pending (true) or timeoutMs ran out.
    bool WaitCaughtUp(int timeoutMs) const;

private:
    struct TState;
    std::shared_ptr<TState> State_;
    std::thread Thread_;
};
