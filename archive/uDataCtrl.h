#pragma once
// The archive writer and reader. Every table is one SQLite file "<name>.db" in its day
// directory (root/yyyy/MM/dd), holding one table of that name with the columns V (REAL) and
// DT (text "yyyy-MM-dd HH:mm:ss.zzz", local time, so that text order is time order); beside it
// the text twin "<name>.txt" with one line per reading.
// Any thread: each call opens its own connection (named per thread and call), uses it and
// closes it. On local file systems the tables use write-ahead logging, so a query and an insert
// never wait for each other; on network shares the rollback journal (ArchiveUsesWal). The
// "-wal" and "-shm" files exist only while a connection is open and vanish with the last one.
// The archive writer thread (uArchiveWriter.h) keeps the day's tables open and returns them to
// the rollback journal when it closes them. A busy time-out covers the short waits.

#include "uTimeOut.h"
#include <QByteArray>
#include <QSqlDatabase>
class QSqlQuery;
#include <QString>
#include <vector>

class TUlmar;

// How long a connection waits for a table that another connection holds.
constexpr int ArchiveBusyTimeoutMs = 2000;
// Significant digits of a text twin's reading.
constexpr int ArchiveTextPrecision = 9;

// How the archive layer takes the media its tables lie on. The program leaves both false, and
// the file system itself tells; a test sets them to act out media it cannot mount.
struct TArchiveMedia {
    // Every directory counts as a network share: ArchiveUsesWal gives false.
    bool NetworkShare = false;
    // QueryArchive takes every directory for read-only media, and its first open fails as it
    // does there.
    bool ReadOnlyOpenFails = false;
};

// A table name must be a plain identifier (letters, digits, underscore): it names a file and
// goes into the statements.
bool IsArchiveTableName(const QString& name);

// A table the archive fills: its name (the file "<name>.db" of a day) and what it holds.
struct TArchiveTable {
    QString Name;
    QString Caption;
};
// Every table a poll answer may archive, the level first. Any thread.
const std::vector<TArchiveTable>& ArchiveTables();
// The table of that name (exact), or null.
const TArchiveTable* FindArchiveTable(const QString& name);

// The day directory of a stamp: JoinPath(ArchiveRoot(), ArchiveDayPath(stamp)).
QString ArchiveDayDir(TDateTime stamp);

// DT as stored, and as the date literals of a query must be written: "yyyy-MM-dd HH:mm:ss.zzz".
QString ArchiveDTText(TDateTime stamp);

// The trend windows' statement for one table: "SELECT DT, V", "FROM <table>", "WHERE" and the
// conditions "(DT>='start')" "AND" "(DT<='stop')" (a zero stamp leaves its condition out),
// "ORDER BY DT", one per line. A plant number of 0 or more adds the condition "(PN=<number>)":
// the rows of that gauge only (a table without the PN column cannot run it).
QString ArchiveSelectStatement(const QString& table, TDateTime start, TDateTime stop,
                               int plantNumber = -1);

// The reading as the text twin writes it: rounded once to `precision` significant digits or
// `decimals` decimals, whichever keeps fewer, fixed point with exactly `decimals` decimals,
// the locale's decimal separator and no grouping; scientific when the integer part has more
// digits than `precision`; "NAN", "INF", "-INF" for values that are not numbers.
QString FormatArchiveValue(double value, int precision, int decimals);

// The stamp as the text twin writes it: the locale's short date, a blank and its long time
// without the time zone (always with the time, midnight included).
QString ArchiveTextStamp(TDateTime stamp);

// Creates the table file at `path` (trimmed) anew and empty, replacing an existing one: built
// beside it under a temporary name and renamed into place, so a reader never meets a file
// without its table. False on any failure. The journal mode follows ArchiveUsesWal(media).
// The table has the columns V (the value), DT (the time) and PN (the gauge's plant number);
// files made before the plant number was kept have V and DT only, and their rows belong to
// a gauge not known.
bool CreateArchiveTable(const QString& path, const TArchiveMedia& media = {});

// Appends one row (V = value, DT = stamp, PN = plantNumber) to the table `name` of the stamp's
// day, creating the directories and the table when missing; a plant number below 0 is stored as
// not known (NULL), and a file without the PN column takes V and DT only. False when the row
// was not stored. The journal mode follows ArchiveUsesWal(media).
bool AddArchiveRecord(const QString& name, TDateTime stamp, double value,
                      const TArchiveMedia& media = {}, int plantNumber = -1);

// Prepares the insert of one row into `table` of an open archive file: with the plant number
// where the table has the PN column (withPlantNumber true), otherwise V and DT only. False
// when neither can be prepared (the error is the query's).
bool PrepareArchiveInsert(QSqlQuery& insert, const QString& table, bool& withPlantNumber);
// Binds one row to an insert prepared by PrepareArchiveInsert.
void BindArchiveRow(QSqlQuery& insert, bool withPlantNumber, double value, const QString& dt,
                    int plantNumber);

// The text twin's line of a reading: ArchiveTextStamp, a blank, FormatArchiveValue, "\r\n",
// in UTF-8. Empty for a stamp outside the years 1 to 9999.
QByteArray ArchiveTextLine(TDateTime stamp, double value, int precision, int decimals);

// Appends ArchiveTextLine to the text twin `name` of the stamp's day (AppendLineToFile: the
// line whole or not at all); never touches the table. False when the line was not written.
bool AddArchiveText(const QString& name, TDateTime stamp, double value, int precision,
                    int decimals);

// One reading of a poll: its table, its time stamp, the value and the decimals of its text
// twin line.
struct TArchiveReading {
    QString Table;
    TDateTime Stamp = 0.0;
    double Value = 0.0;
    int Decimals = 0;
    int PlantNumber = -1; // the gauge's plant number; below 0 not known
};
// The readings of one poll, in writing order.
using TArchiveBatch = std::vector<TArchiveReading>;

// The readings that the poll answer `code` (code & 127) archives, copied from the device
// object's typed values with the one stamp of the poll; empty for codes without readings.
// Cheap: the request thread makes this copy under the exchange lock and hands it to the
// archive writer thread. Any thread that may read the device object.
TArchiveBatch CaptureArchiveBatch(const TUlmar& ulmar, int code, TDateTime stamp);

// Writes a batch on the calling thread: per reading the row, then the text line.
void WriteArchiveBatch(const TArchiveBatch& batch);

// Archives the readings of one accepted poll answer at once on the calling thread:
// CaptureArchiveBatch with the time of the call, then WriteArchiveBatch.
void ArchivePollAnswer(const TUlmar& ulmar, int code);

// Adds a SQLite connection to the table file `file` under a name of its own, to be opened as a
// URI with `parameters` ("mode=rw", "mode=ro&immutable=1") and the busy time-out; not opened
// yet. Within the archive layer; the thread that opens it owns it, and removes it by its
// connectionName().
QSqlDatabase AddArchiveConnection(const QString& file, const QString& parameters);

// True when tables under `dir` (or its nearest existing parent) may use write-ahead logging:
// a local file system. Network shares (NFS, SMB, CIFS) and FUSE mounts, where SQLite's shared
// memory is not reliable, keep the rollback journal; so does every directory where
// media.NetworkShare is set.
bool ArchiveUsesWal(const QString& dir, const TArchiveMedia& media = {});

struct TArchiveRow {
    TDateTime DT = 0.0;
    double V = 0.0;
};

// Runs a select on the table that the statement names after FROM, in the day directory
// `dayDir`, and returns DT and V of every row in order. A missing directory or table, a bad
// statement or any engine error gives no rows and, through ok, false. Rows with an unreadable
// DT or a null V are skipped. The table is opened read-only, or read-write for a read-only
// statement where a table in write-ahead mode lies in a writable directory; on read-only media,
// where SQLite cannot create the "-wal" and "-shm" files, it is read as immutable, without
// locks. No file is created or left behind. media.ReadOnlyOpenFails acts out such media.
std::vector<TArchiveRow> QueryArchive(const QString& dayDir, const QString& statement,
                                      bool* ok = nullptr, const TArchiveMedia& media = {});
