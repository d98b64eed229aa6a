#pragma once
// The plant archive: readings of every station of the plant on one PostgreSQL server, beside
// the local day files (which stay the primary record). This is the server side: the settings of
// the server, the connection, the schema (made and upgraded by the program), the shipping of a
// batch of readings and the reading of a range for a trend.
//
// A batch is stored in one transaction: the rows go into a temporary table with a binary COPY
// (no number is ever formatted as text, so neither the C library's locale nor rounding touches
// a value), then into the readings table with ON CONFLICT DO NOTHING on the key (station, gauge,
// parameter, time). A batch that was stored already stores nothing again and is still
// confirmed, so a shipper may send a batch again whenever it does not know whether the server
// took it.
//
// The password is never part of the settings: libpq takes it from its own password file
// (~/.pgpass or PGPASSFILE) or from the service file named by Service (or PGSERVICE).
//
// One TPlantStore per thread; the object keeps its connection between calls and makes a new
// one when the server has dropped it.

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_cancel;

// Section "PlantArchive" of the archive settings file (bde.ini).
struct TPlantServerSettings {
    static constexpr int DefaultPort = 5432;
    static constexpr int DefaultConnectTimeoutS = 10;

    // Off unless the settings say 1 (or true): nothing is sent to a server.
    bool Enabled = false;
    // Host name, address, or a directory holding the server's Unix socket; empty for libpq's
    // default.
    QString Host;
    int Port = DefaultPort;
    QString Database = QStringLiteral("ulmar");
    // Empty: libpq's default (the system user's name).
    QString User;
    // A service of libpq's service file (pg_service.conf); empty for none.
    QString Service;
    // Seconds to wait for the server to answer a connection; at least 2 (libpq's least).
    int ConnectTimeoutS = DefaultConnectTimeoutS;

    // Reads the section; a missing key keeps its default, a port outside 1..65535 or a time-out
    // outside 2..300 s gives the default. A "Password" key is never read.
    void Load(const QString& fileName);
    // Writes the section, and takes out a "Password" key that someone put there by hand, so
    // that the settings file holds no password. False when the file could not be written.
    bool Save(const QString& fileName) const;
};

// The archive settings file (ArchiveSettingsFile(), bde.ini beside the program).
QString PlantSettingsFile();

// One reading for the server.
struct TPlantRow {
    int PlantNumber = 0;
    // The reading's name: the local table's name ("Level", ...).
    QString Parameter;
    // Milliseconds since 1970-01-01 00:00 UTC.
    qint64 TimeMs = 0;
    double Value = 0.0;
};

struct TPlantPoint {
    qint64 TimeMs = 0; // UTC, as TPlantRow
    double Value = 0.0;
};

struct TPlantShipResult {
    // The server committed the batch (or holds every row of it already). False: nothing of the
    // batch is stored by this call, and it may be sent again.
    bool Confirmed = false;
    // Rows that were new to the server.
    qint64 Inserted = 0;
    // Rows that no server can hold and that were left out of the batch: a time outside the
    // years 1 to 9999, an empty parameter name or one holding a zero character.
    qint64 Refused = 0;
    // Empty when confirmed; otherwise the operator's text.
    QString Error;
};

// Times a batch may carry: the first and last millisecond of the years 1 to 9999 (UTC).
bool IsPlantTime(qint64 timeMs);

class TPlantStore {
public:
    // The version of the schema this program makes and reads.
    static constexpr int SchemaVersion = 1;

    explicit TPlantStore(TPlantServerSettings settings);
    ~TPlantStore();
    TPlantStore(const TPlantStore&) = delete;
    TPlantStore& operator=(const TPlantStore&) = delete;

    const TPlantServerSettings& Settings() const { return Settings_; }

    // Connects (again) to the server. False when it cannot: LastError() then says
    // "Сервер архива недоступен: " and the server's or libpq's reason.
    bool Connect();
    void Disconnect();
    bool IsConnected() const;

    // Makes the schema, or brings an older one up to SchemaVersion, in one transaction under an
    // advisory lock (two stations starting together do not both make it). A schema already at
    // SchemaVersion is left alone. A schema newer than this program is refused. Connects when
    // not connected.
    bool EnsureSchema();
    // The version the server's schema has: 0 without one, -1 when it cannot be asked.
    int ServerSchemaVersion();

    // Stores a batch of readings of the station `station` (its host name) in one transaction,
    // making the month partitions the batch needs. Connects and makes the schema when needed;
    // when the connection was lost since the last call, connects once more and sends the batch
    // again (which is harmless: a stored row is not stored twice).
    TPlantShipResult ShipBatch(const QString& station, const std::vector<TPlantRow>& rows);

    // Every reading of a gauge's parameter from `fromMs` to `toMs` (both included), of every
    // station, ordered by time. Nothing and ok false when the server cannot be asked
    // (LastError()); an unknown gauge or parameter gives nothing and ok true.
    std::vector<TPlantPoint> ReadRange(int plantNumber, const QString& parameter, qint64 fromMs,
                                       qint64 toMs, bool* ok = nullptr);

    // The plant numbers of the gauges that have readings of any of `parameters` from `fromMs` to
    // `toMs` (both included), of any station, ascending. Nothing and ok false when the server
    // cannot be asked (LastError()).
    std::vector<int> ListGauges(const QStringList& parameters, qint64 fromMs, qint64 toMs,
                                bool* ok = nullptr);

    // The text of the last failure, for the operator; empty after a call that succeeded.
    const QString& LastError() const { return LastError_; }

    // A statement that runs longer is cancelled by the server; 0 (the default) leaves the
    // server's setting. Takes effect with the next connection.
    void SetStatementTimeoutMs(int ms) { StatementTimeoutMs_ = ms > 0 ? ms : 0; }
    // Any thread: asks the server to cancel the statement the owning thread waits for, if any;
    // that call then fails as a lost request.
    void CancelRequest();
    // Any thread: every later connection attempt, and one under way, fails at once (with
    // CancelRequest, for the end of the program).
    void Abort();

private:
    bool Ready();
    bool Exec(const char* statement);
    bool EnsurePartitions(const std::vector<TPlantRow>& rows);
    bool EnsureStation(const QString& station, int* id);
    bool StoreBatch(int stationId, const std::vector<TPlantRow>& rows, qint64* inserted);
    bool EnsureIds(const std::vector<TPlantRow>& rows);
    bool LookUpId(const char* insert, const char* select, const QByteArray& key, int* id);
    void Fail(const QString& what);
    void Rollback();
    // The ids of a gauge and a parameter on the server; false with ok true when either is
    // unknown there.
    bool LookUpIds(int plantNumber, const QString& parameter, qint64* gaugeId, qint64* parameterId,
                   bool* ok);
    bool CopyRange(qint64 gaugeId, qint64 parameterId, qint64 fromMs, qint64 toMs,
                   std::vector<TPlantPoint>& points);

    TPlantServerSettings Settings_;
    pg_conn* Conn_ = nullptr;
    bool SchemaChecked_ = false;
    // Months (year * 12 + month - 1) whose partitions are known to exist; cleared when a batch
    // fails, so that a partition dropped meanwhile is made again.
    QSet<int> Months_;
    QString StationName_;
    int StationId_ = 0;
    // The server's numbers of the gauges (by plant number) and parameters (by name) known on
    // this connection; cleared with the partitions.
    QHash<int, int> GaugeIds_;
    QHash<QString, int> ParameterIds_;
    QString LastError_;
    int StatementTimeoutMs_ = 0;
    // The connection's cancel handle, for CancelRequest from another thread.
    std::mutex CancelMutex_;
    pg_cancel* Cancel_ = nullptr;
    std::atomic<bool> Aborted_{false};
};
