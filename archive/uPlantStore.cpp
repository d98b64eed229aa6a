#include "uPlantStore.h"

#include "uBDE.h"
#include "uIniFile.h"

#include <QDate>
#include <QDeadlineTimer>
#include <QtEndian>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <libpq-fe.h>
#include <memory>
#include <poll.h>
#include <utility>

namespace {

const QString Section = QStringLiteral("PlantArchive");

const QString UnavailablePrefix = QStringLiteral("Сервер архива недоступен: ");
const QString RefusedPrefix = QStringLiteral("Сервер архива отклонил запрос: ");

// Taken by every session that makes or upgrades the schema or makes a partition: an arbitrary
// constant of this program ("ULMA" in ASCII).
constexpr qint64 SchemaLockKey = 0x554C4D41;

// Milliseconds between 1970-01-01 and 2000-01-01 (UTC): the server counts time from 2000.
constexpr qint64 ServerEpochMs = 946684800000LL;
// 0001-01-01 00:00:00.000 and 9999-12-31 23:59:59.999 UTC.
constexpr qint64 FirstPlantMs = -62135596800000LL;
constexpr qint64 LastPlantMs = 253402300799999LL;

constexpr qint64 DayMs = 86400000LL;
// Julian day of 1970-01-01.
constexpr qint64 UnixJulianDay = 2440588;

// The steps of the schema, one per version: the statements that bring version n - 1 to n.
// Foreign keys are left out of the readings table on purpose: every row gets its ids from the
// lookup tables within the statement that stores it, and a trigger per row would halve the
// speed of a batch. The unique key leads with (gauge, parameter, time), so that it also serves
// the look-ups of a trend; the station closes it. The key's index also holds the value, so that
// a trend is read from the index alone, without visiting the table.
const std::vector<std::vector<const char*>>& SchemaSteps() {
    static const std::vector<std::vector<const char*>> steps = {
        {
            "CREATE TABLE stations ("
            " id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
            " host_name text NOT NULL UNIQUE,"
            " first_seen timestamptz NOT NULL DEFAULT now())",
            "CREATE TABLE gauges ("
            " id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
            " plant_number integer NOT NULL UNIQUE)",
            "CREATE TABLE parameters ("
            " id smallint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
            " name text NOT NULL UNIQUE)",
            "CREATE TABLE readings ("
            " station_id integer NOT NULL,"
            " gauge_id integer NOT NULL,"
            " parameter_id smallint NOT NULL,"
            " time timestamptz NOT NULL,"
            " value double precision NOT NULL,"
            " CONSTRAINT readings_key UNIQUE (gauge_id, parameter_id, time, station_id)"
            " INCLUDE (value))"
            " PARTITION BY RANGE (time)",
        },
    };
    return steps;
}

// The reason libpq gives, on one line.
QString Reason(const pg_conn* conn) {
    const QString text = QString::fromUtf8(PQerrorMessage(conn)).simplified();
    return text.isEmpty() ? QStringLiteral("нет ответа") : text;
}

struct TResultFree {
    void operator()(PGresult* r) const { PQclear(r); }
};
using TResult = std::unique_ptr<PGresult, TResultFree>;

void IgnoreNotice(void*, const char*) {}

// Month number (year * 12 + month - 1) of a time in UTC.
int MonthOf(qint64 timeMs) {
    qint64 days = timeMs / DayMs;
    if (timeMs % DayMs < 0)
        --days;
    const QDate date = QDate::fromJulianDay(UnixJulianDay + days);
    return date.year() * 12 + date.month() - 1;
}

QString MonthStartText(int month) {
    const int year = month / 12;
    const int m = month % 12 + 1;
    return QStringLiteral("%1-%2-01 00:00:00+00")
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'));
}

QString PartitionName(int month) {
    return QStringLiteral("readings_y%1m%2")
        .arg(month / 12, 4, 10, QLatin1Char('0'))
        .arg(month % 12 + 1, 2, 10, QLatin1Char('0'));
}

bool IsShippable(const TPlantRow& row) {
    return IsPlantTime(row.TimeMs) && !row.Parameter.isEmpty() &&
           !row.Parameter.contains(QChar(u'\0'));
}

qint64 ServerMicros(qint64 timeMs) {
    return (timeMs - ServerEpochMs) * 1000;
}

// Server microseconds to milliseconds, rounded down (the program stores milliseconds only).
qint64 FromServerMicros(qint64 micros) {
    qint64 ms = micros / 1000;
    if (micros % 1000 < 0)
        --ms;
    return ms + ServerEpochMs;
}

template <typename T> void AppendBig(QByteArray& out, T value) {
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T> T ReadBig(const char* bytes) {
    return qFromBigEndian<T>(bytes);
}

} // namespace

// --- settings ---------------------------------------------------------------------------------

void TPlantServerSettings::Load(const QString& fileName) {
    const TIniFile ini(fileName);
    *this = TPlantServerSettings();
    Enabled = ini.ReadBool(Section, QStringLiteral("Enabled"), false);
    Host = ini.ReadString(Section, QStringLiteral("Host"), Host).trimmed();
    const qint64 port = ini.ReadInteger(Section, QStringLiteral("Port"), DefaultPort);
    Port = port >= 1 && port <= 65535 ? int(port) : DefaultPort;
    Database = ini.ReadString(Section, QStringLiteral("Database"), Database).trimmed();
    User = ini.ReadString(Section, QStringLiteral("User"), User).trimmed();
    Service = ini.ReadString(Section, QStringLiteral("Service"), Service).trimmed();
    const qint64 timeout =
        ini.ReadInteger(Section, QStringLiteral("ConnectTimeout"), DefaultConnectTimeoutS);
    ConnectTimeoutS = timeout >= 2 && timeout <= 300 ? int(timeout) : DefaultConnectTimeoutS;
}

bool TPlantServerSettings::Save(const QString& fileName) const {
    TIniFile ini(fileName);
    ini.WriteInteger(Section, QStringLiteral("Enabled"), Enabled ? 1 : 0);
    ini.WriteString(Section, QStringLiteral("Host"), Host);
    ini.WriteInteger(Section, QStringLiteral("Port"), Port);
    ini.WriteString(Section, QStringLiteral("Database"), Database);
    ini.WriteString(Section, QStringLiteral("User"), User);
    ini.WriteString(Section, QStringLiteral("Service"), Service);
    ini.WriteInteger(Section, QStringLiteral("ConnectTimeout"), ConnectTimeoutS);
    while (ini.ValueExists(Section, QStringLiteral("Password")))
        ini.DeleteKey(Section, QStringLiteral("Password"));
    return ini.Save(true);
}

QString PlantSettingsFile() {
    return ArchiveSettingsFile();
}

bool IsPlantTime(qint64 timeMs) {
    return timeMs >= FirstPlantMs && timeMs <= LastPlantMs;
}

// --- store ------------------------------------------------------------------------------------

TPlantStore::TPlantStore(TPlantServerSettings settings) : Settings_(std::move(settings)) {}

TPlantStore::~TPlantStore() {
    Disconnect();
}

void TPlantStore::Disconnect() {
    {
        std::lock_guard lock(CancelMutex_);
        if (Cancel_)
            PQfreeCancel(Cancel_);
        Cancel_ = nullptr;
    }
    if (Conn_)
        PQfinish(Conn_);
    Conn_ = nullptr;
    SchemaChecked_ = false;
    GaugeIds_.clear();
    ParameterIds_.clear();
}

bool TPlantStore::IsConnected() const {
    return Conn_ && PQstatus(Conn_) == CONNECTION_OK;
}

bool TPlantStore::Connect() {
    Disconnect();
    const QByteArray host = Settings_.Host.toUtf8();
    const QByteArray port = QByteArray::number(Settings_.Port);
    const QByteArray database = Settings_.Database.toUtf8();
    const QByteArray user = Settings_.User.toUtf8();
    const QByteArray service = Settings_.Service.toUtf8();
    const QByteArray timeout = QByteArray::number(qMax(2, Settings_.ConnectTimeoutS));
    std::vector<const char*> keys;
    std::vector<const char*> values;
    auto add = [&](const char* key, const QByteArray& value) {
        if (value.isEmpty())
            return;
        keys.push_back(key);
        values.push_back(value.constData());
    };
    add("host", host);
    add("port", port);
    add("dbname", database);
    add("user", user);
    add("service", service);
    add("connect_timeout", timeout);
    static const QByteArray utf8 = QByteArrayLiteral("UTF8");
    static const QByteArray application = QByteArrayLiteral("ulmar");
    // A dead link is noticed within a minute or so instead of the system's two hours.
    static const QByteArray one = QByteArrayLiteral("1");
    static const QByteArray idle = QByteArrayLiteral("30");
    static const QByteArray interval = QByteArrayLiteral("10");
    static const QByteArray count = QByteArrayLiteral("3");
    // A batch counts as confirmed only once its commit is written: a server set to commit
    // without waiting would lose confirmed rows when it crashes, and the shipper would never
    // send them again.
    // Just-in-time compilation costs more than it saves on these short, simple statements
    // (about a third of a month's trend read).
    QByteArray options = QByteArrayLiteral("-c synchronous_commit=on -c jit=off");
    if (StatementTimeoutMs_ > 0)
        options += " -c statement_timeout=" + QByteArray::number(StatementTimeoutMs_);
    add("options", options);
    add("client_encoding", utf8);
    add("application_name", application);
    add("keepalives", one);
    add("keepalives_idle", idle);
    add("keepalives_interval", interval);
    add("keepalives_count", count);
    keys.push_back(nullptr);
    values.push_back(nullptr);
    // expand_dbname 0: a database name is only a name, never a connection string that could
    // bring a password or another server with it.
    // Connected step by step, so that Abort from another thread ends the wait at once; the
    // steps end after connect_timeout, as libpq's own wait would.
    Conn_ = PQconnectStartParams(keys.data(), values.data(), 0);
    if (!Conn_) {
        LastError_ = UnavailablePrefix + QStringLiteral("недостаточно памяти");
        return false;
    }
    QDeadlineTimer deadline(qint64(qMax(2, Settings_.ConnectTimeoutS)) * 1000);
    PostgresPollingStatusType step =
        PQstatus(Conn_) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (step != PGRES_POLLING_OK && step != PGRES_POLLING_FAILED) {
        if (Aborted_.load()) {
            LastError_ = UnavailablePrefix + QStringLiteral("соединение прервано");
            Disconnect();
            return false;
        }
        if (deadline.hasExpired()) {
            LastError_ = UnavailablePrefix + QStringLiteral("timeout expired");
            Disconnect();
            return false;
        }
        pollfd p{PQsocket(Conn_), short(step == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        const int ready =
            ::poll(&p, 1, int(qMin<qint64>(100, qMax<qint64>(0, deadline.remainingTime()))));
        if (ready > 0 || p.fd < 0)
            step = PQconnectPoll(Conn_);
    }
    if (step == PGRES_POLLING_FAILED || PQstatus(Conn_) != CONNECTION_OK) {
        LastError_ = UnavailablePrefix + Reason(Conn_);
        Disconnect();
        return false;
    }
    PQsetNoticeProcessor(Conn_, IgnoreNotice, nullptr);
    {
        std::lock_guard lock(CancelMutex_);
        Cancel_ = PQgetCancel(Conn_);
    }
    LastError_.clear();
    return true;
}

void TPlantStore::Abort() {
    Aborted_ = true;
}

void TPlantStore::CancelRequest() {
    std::lock_guard lock(CancelMutex_);
    if (!Cancel_)
        return;
    char error[256];
    PQcancel(Cancel_, error, int(sizeof error));
}

void TPlantStore::Fail(const QString& what) {
    if (!Conn_) {
        LastError_ = UnavailablePrefix + what;
        return;
    }
    if (PQstatus(Conn_) != CONNECTION_OK) {
        LastError_ = UnavailablePrefix + Reason(Conn_);
        Disconnect();
        return;
    }
    LastError_ = RefusedPrefix + what;
}

bool TPlantStore::Exec(const char* statement) {
    TResult r(PQexec(Conn_, statement));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return true;
    Fail(Reason(Conn_));
    return false;
}

void TPlantStore::Rollback() {
    if (Conn_ && PQstatus(Conn_) == CONNECTION_OK && PQtransactionStatus(Conn_) != PQTRANS_IDLE) {
        TResult r(PQexec(Conn_, "ROLLBACK"));
    }
}

int TPlantStore::ServerSchemaVersion() {
    if (!IsConnected() && !Connect())
        return -1;
    // Two queries: a statement naming a missing table fails as a whole.
    TResult exists(PQexec(Conn_, "SELECT to_regclass('schema_version') IS NOT NULL"));
    if (!exists || PQresultStatus(exists.get()) != PGRES_TUPLES_OK ||
        PQntuples(exists.get()) != 1) {
        Fail(Reason(Conn_));
        return -1;
    }
    if (PQgetvalue(exists.get(), 0, 0)[0] != 't')
        return 0;
    TResult r(PQexec(Conn_, "SELECT coalesce(max(version), 0) FROM schema_version"));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
        Fail(Reason(Conn_));
        return -1;
    }
    return QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
}

bool TPlantStore::EnsureSchema() {
    // A schema at this program's version is only read: a user who may read and not write
    // (a trend window's account) gets this far.
    const int current = ServerSchemaVersion();
    if (current < 0)
        return false;
    if (current == SchemaVersion) {
        SchemaChecked_ = true;
        LastError_.clear();
        return true;
    }
    const QByteArray lock =
        "SELECT pg_advisory_xact_lock(" + QByteArray::number(SchemaLockKey) + ")";
    if (!Exec("BEGIN") || !Exec(lock.constData()) ||
        !Exec("CREATE TABLE IF NOT EXISTS schema_version ("
              " version integer PRIMARY KEY,"
              " applied timestamptz NOT NULL DEFAULT now())")) {
        Rollback();
        return false;
    }
    TResult r(PQexec(Conn_, "SELECT coalesce(max(version), 0) FROM schema_version"));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
        Fail(Reason(Conn_));
        Rollback();
        return false;
    }
    const int version = QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
    const auto& steps = SchemaSteps();
    if (version > int(steps.size())) {
        Rollback();
        LastError_ =
            RefusedPrefix + QStringLiteral("схема архива на сервере версии %1 новее этой программы "
                                           "(версия %2); обновите программу")
                                .arg(version)
                                .arg(steps.size());
        return false;
    }
    for (int v = version + 1; v <= int(steps.size()); ++v) {
        for (const char* statement : steps[size_t(v - 1)]) {
            if (!Exec(statement)) {
                Rollback();
                return false;
            }
        }
        const QByteArray mark =
            "INSERT INTO schema_version (version) VALUES (" + QByteArray::number(v) + ")";
        if (!Exec(mark.constData())) {
            Rollback();
            return false;
        }
    }
    if (!Exec("COMMIT")) {
        Rollback();
        return false;
    }
    SchemaChecked_ = true;
    LastError_.clear();
    return true;
}

bool TPlantStore::Ready() {
    if (!IsConnected() && !Connect())
        return false;
    return SchemaChecked_ || EnsureSchema();
}

bool TPlantStore::EnsurePartitions(const std::vector<TPlantRow>& rows) {
    QSet<int> wanted;
    for (const TPlantRow& row : rows)
        if (IsShippable(row))
            wanted.insert(MonthOf(row.TimeMs));
    for (const int month : std::as_const(wanted)) {
        if (Months_.contains(month))
            continue;
        const QByteArray name = PartitionName(month).toLatin1();
        const QByteArray probe = "SELECT to_regclass('" + name + "') IS NOT NULL";
        TResult r(PQexec(Conn_, probe.constData()));
        if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
            Fail(Reason(Conn_));
            return false;
        }
        if (PQgetvalue(r.get(), 0, 0)[0] != 't') {
            // Made in a short transaction of its own: making a partition locks the whole
            // readings table, which must not last as long as a batch.
            const QByteArray lock =
                "SELECT pg_advisory_xact_lock(" + QByteArray::number(SchemaLockKey) + ")";
            const QByteArray create = "CREATE TABLE IF NOT EXISTS " + name +
                                      " PARTITION OF readings FOR VALUES FROM ('" +
                                      MonthStartText(month).toLatin1() + "') TO ('" +
                                      MonthStartText(month + 1).toLatin1() + "')";
            if (!Exec("BEGIN") || !Exec(lock.constData()) || !Exec(create.constData()) ||
                !Exec("COMMIT")) {
                Rollback();
                return false;
            }
        }
        Months_.insert(month);
    }
    return true;
}

bool TPlantStore::EnsureStation(const QString& station, int* id) {
    if (StationId_ != 0 && station == StationName_) {
        *id = StationId_;
        return true;
    }
    const QByteArray name = station.toUtf8();
    const char* params[1] = {name.constData()};
    // Only a new station takes a number: the insert is tried only when the name is missing.
    TResult insert(PQexecParams(Conn_,
                                "INSERT INTO stations (host_name) SELECT $1::text"
                                " WHERE NOT EXISTS (SELECT 1 FROM stations WHERE host_name = $1)"
                                " ON CONFLICT (host_name) DO NOTHING",
                                1, nullptr, params, nullptr, nullptr, 0));
    if (!insert || PQresultStatus(insert.get()) != PGRES_COMMAND_OK) {
        Fail(Reason(Conn_));
        return false;
    }
    TResult r(PQexecParams(Conn_, "SELECT id FROM stations WHERE host_name = $1", 1, nullptr,
                           params, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
        Fail(Reason(Conn_));
        return false;
    }
    StationName_ = station;
    StationId_ = QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
    *id = StationId_;
    return true;
}

bool TPlantStore::LookUpId(const char* insert, const char* select, const QByteArray& key, int* id) {
    const char* params[1] = {key.constData()};
    TResult added(PQexecParams(Conn_, insert, 1, nullptr, params, nullptr, nullptr, 0));
    if (!added || PQresultStatus(added.get()) != PGRES_COMMAND_OK) {
        Fail(Reason(Conn_));
        return false;
    }
    TResult r(PQexecParams(Conn_, select, 1, nullptr, params, nullptr, nullptr, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1) {
        Fail(Reason(Conn_));
        return false;
    }
    *id = QByteArray(PQgetvalue(r.get(), 0, 0)).toInt();
    return true;
}

bool TPlantStore::EnsureIds(const std::vector<TPlantRow>& rows) {
    // Gauges and parameters new to this connection: made on the server where missing, each in
    // a statement of its own outside the batch's transaction, so that a known number is never
    // one a rolled-back batch took. Only a missing one is inserted, so that the identity numbers
    // are not used up by rows that bring nothing new (a smallint would run out).
    for (const TPlantRow& row : rows) {
        if (!IsShippable(row))
            continue;
        if (!GaugeIds_.contains(row.PlantNumber)) {
            int id = 0;
            if (!LookUpId("INSERT INTO gauges (plant_number) SELECT $1::integer WHERE NOT EXISTS"
                          " (SELECT 1 FROM gauges WHERE plant_number = $1::integer)"
                          " ON CONFLICT (plant_number) DO NOTHING",
                          "SELECT id FROM gauges WHERE plant_number = $1::integer",
                          QByteArray::number(row.PlantNumber), &id))
                return false;
            GaugeIds_.insert(row.PlantNumber, id);
        }
        if (!ParameterIds_.contains(row.Parameter)) {
            int id = 0;
            if (!LookUpId("INSERT INTO parameters (name) SELECT $1::text WHERE NOT EXISTS"
                          " (SELECT 1 FROM parameters WHERE name = $1::text)"
                          " ON CONFLICT (name) DO NOTHING",
                          "SELECT id FROM parameters WHERE name = $1::text", row.Parameter.toUtf8(),
                          &id))
                return false;
            ParameterIds_.insert(row.Parameter, id);
        }
    }
    return true;
}

bool TPlantStore::StoreBatch(int stationId, const std::vector<TPlantRow>& rows, qint64* inserted) {
    auto fail = [this] {
        Rollback();
        return false;
    };
    if (!EnsureIds(rows))
        return false;
    // The rows go in with their gauge's and parameter's numbers, so that the insert into the
    // readings needs no look-up per row.
    if (!Exec("BEGIN") || !Exec("CREATE TEMP TABLE IF NOT EXISTS plant_rows ("
                                " gauge_id integer NOT NULL,"
                                " parameter_id smallint NOT NULL,"
                                " time timestamptz NOT NULL,"
                                " value double precision NOT NULL) ON COMMIT DELETE ROWS"))
        return fail();
    {
        TResult r(PQexec(Conn_, "COPY plant_rows FROM STDIN (FORMAT binary)"));
        if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN) {
            Fail(Reason(Conn_));
            return fail();
        }
    }
    // The binary COPY format: a signature, flags and header extension, then per row the number
    // of fields and each field as its length and its bytes, big-endian; -1 closes it.
    QByteArray chunk;
    chunk.reserve(1 << 20);
    chunk.append("PGCOPY\n\377\r\n\0", 11);
    AppendBig<qint32>(chunk, 0);
    AppendBig<qint32>(chunk, 0);
    auto send = [&] {
        if (chunk.isEmpty())
            return true;
        const bool sent = PQputCopyData(Conn_, chunk.constData(), int(chunk.size())) == 1;
        chunk.clear();
        return sent;
    };
    // Consecutive rows mostly share their gauge or parameter: looked up again only on a change.
    int lastPlant = 0;
    int gaugeId = -1;
    QString lastName;
    int parameterId = -1;
    for (const TPlantRow& row : rows) {
        if (!IsShippable(row))
            continue;
        if (gaugeId < 0 || row.PlantNumber != lastPlant) {
            lastPlant = row.PlantNumber;
            gaugeId = GaugeIds_.value(lastPlant);
        }
        if (parameterId < 0 || row.Parameter != lastName) {
            lastName = row.Parameter;
            parameterId = ParameterIds_.value(lastName);
        }
        AppendBig<qint16>(chunk, 4);
        AppendBig<qint32>(chunk, 4);
        AppendBig<qint32>(chunk, gaugeId);
        AppendBig<qint32>(chunk, 2);
        AppendBig<qint16>(chunk, qint16(parameterId));
        AppendBig<qint32>(chunk, 8);
        AppendBig<qint64>(chunk, ServerMicros(row.TimeMs));
        AppendBig<qint32>(chunk, 8);
        quint64 bits;
        std::memcpy(&bits, &row.Value, sizeof bits);
        AppendBig<quint64>(chunk, bits);
        if (chunk.size() >= (1 << 20) && !send())
            break;
    }
    AppendBig<qint16>(chunk, -1);
    const bool sent = send();
    if (PQputCopyEnd(Conn_, sent ? nullptr : "the batch was not sent whole") != 1) {
        Fail(Reason(Conn_));
        return fail();
    }
    bool copied = true;
    while (PGresult* raw = PQgetResult(Conn_)) {
        TResult r(raw);
        if (PQresultStatus(raw) != PGRES_COMMAND_OK && copied) {
            copied = false;
            Fail(Reason(Conn_));
        }
    }
    if (!copied || !sent) {
        if (copied)
            Fail(Reason(Conn_));
        return fail();
    }
    const QByteArray station = QByteArray::number(stationId);
    const QByteArray insert =
        "INSERT INTO readings (station_id, gauge_id, parameter_id, time, value)"
        " SELECT " +
        station + ", gauge_id, parameter_id, time, value FROM plant_rows ON CONFLICT DO NOTHING";
    TResult r(PQexec(Conn_, insert.constData()));
    if (!r || PQresultStatus(r.get()) != PGRES_COMMAND_OK) {
        Fail(Reason(Conn_));
        return fail();
    }
    const qint64 count = QByteArray(PQcmdTuples(r.get())).toLongLong();
    if (!Exec("COMMIT"))
        return fail();
    *inserted = count;
    return true;
}

TPlantShipResult TPlantStore::ShipBatch(const QString& station,
                                        const std::vector<TPlantRow>& rows) {
    TPlantShipResult result;
    for (const TPlantRow& row : rows)
        if (!IsShippable(row))
            ++result.Refused;
    if (station.trimmed().isEmpty() || station.contains(QChar(u'\0'))) {
        LastError_ = RefusedPrefix + QStringLiteral("у станции нет имени");
        result.Error = LastError_;
        return result;
    }
    // A connection that was there before this call may have been dropped by the server since
    // (a restart): then one more try on a new connection.
    const bool hadConnection = IsConnected();
    for (int attempt = 0; attempt < 2; ++attempt) {
        qint64 inserted = 0;
        int stationId = 0;
        const bool stored =
            Ready() && EnsurePartitions(rows) && EnsureStation(station, &stationId) &&
            (qint64(rows.size()) == result.Refused || StoreBatch(stationId, rows, &inserted));
        if (stored) {
            result.Confirmed = true;
            result.Inserted = inserted;
            LastError_.clear();
            return result;
        }
        Months_.clear();
        StationId_ = 0;
        GaugeIds_.clear();
        ParameterIds_.clear();
        if (!(attempt == 0 && hadConnection && !IsConnected()))
            break;
    }
    result.Error = LastError_;
    return result;
}

namespace {

// A time as the server reads it whatever its DateStyle: ISO 8601 in UTC, to the millisecond.
QByteArray UtcLiteral(qint64 timeMs) {
    qint64 days = timeMs / DayMs;
    qint64 ms = timeMs % DayMs;
    if (ms < 0) {
        --days;
        ms += DayMs;
    }
    const QDate date = QDate::fromJulianDay(UnixJulianDay + days);
    char text[48];
    std::snprintf(text, sizeof text, "'%04d-%02d-%02d %02d:%02d:%02d.%03d+00'", date.year(),
                  date.month(), date.day(), int(ms / 3600000), int(ms / 60000 % 60),
                  int(ms / 1000 % 60), int(ms % 1000));
    return QByteArray(text);
}

// Reads the rows of a binary COPY of (timestamptz, double precision) as they arrive: a header
// (signature, flags, extension), then per row the field count, and each field as its length and
// its bytes, big-endian; a field count of -1 ends it. A row may span two messages.
class TCopyPointParser {
public:
    explicit TCopyPointParser(std::vector<TPlantPoint>& out) : Out_(out) {}

    // False when the stream is not such a COPY.
    bool Feed(const char* data, int size) {
        if (Bad_ || Done_)
            return !Bad_;
        const char* p = data;
        const char* end = data + size;
        if (!Pending_.isEmpty()) {
            Pending_.append(data, size);
            p = Pending_.constData();
            end = p + Pending_.size();
        }
        if (!Header_) {
            constexpr int Fixed = 19; // signature 11, flags 4, extension length 4
            if (end - p < Fixed)
                return Keep(p, end);
            if (std::memcmp(p, "PGCOPY\n\377\r\n\0", 11) != 0)
                return Fail();
            const qint32 extension = ReadBig<qint32>(p + 15);
            if (extension < 0)
                return Fail();
            if (end - p < Fixed + extension)
                return Keep(p, end);
            p += Fixed + extension;
            Header_ = true;
        }
        constexpr int Row = 2 + 4 + 8 + 4 + 8;
        while (end - p >= 2) {
            const qint16 fields = ReadBig<qint16>(p);
            if (fields == -1) {
                Done_ = true;
                Pending_.clear();
                return true;
            }
            if (fields != 2)
                return Fail();
            if (end - p < Row)
                break;
            if (ReadBig<qint32>(p + 2) != 8 || ReadBig<qint32>(p + 14) != 8)
                return Fail();
            TPlantPoint point;
            point.TimeMs = FromServerMicros(ReadBig<qint64>(p + 6));
            const quint64 bits = ReadBig<quint64>(p + 18);
            std::memcpy(&point.Value, &bits, sizeof bits);
            Out_.push_back(point);
            p += Row;
        }
        return Keep(p, end);
    }

    bool Done() const { return Done_; }

private:
    bool Keep(const char* p, const char* end) {
        // The unread tail may lie in Pending_ itself: copied before it is replaced.
        QByteArray rest(p, end - p);
        Pending_ = std::move(rest);
        return true;
    }
    bool Fail() {
        Bad_ = true;
        return false;
    }

    std::vector<TPlantPoint>& Out_;
    QByteArray Pending_;
    bool Header_ = false;
    bool Done_ = false;
    bool Bad_ = false;
};

struct TCopyBufferFree {
    void operator()(char* buffer) const { PQfreemem(buffer); }
};

} // namespace

bool TPlantStore::LookUpIds(int plantNumber, const QString& parameter, qint64* gaugeId,
                            qint64* parameterId, bool* ok) {
    *ok = false;
    char plant[4];
    qToBigEndian<qint32>(plantNumber, plant);
    const QByteArray name = parameter.toUtf8();
    const Oid types[2] = {23, 25};
    const char* values[2] = {plant, name.constData()};
    const int lengths[2] = {4, int(name.size())};
    const int formats[2] = {1, 1};
    TResult r(PQexecParams(Conn_,
                           "SELECT (SELECT id FROM gauges WHERE plant_number = $1),"
                           " (SELECT id FROM parameters WHERE name = $2)",
                           2, types, values, lengths, formats, 0));
    if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK || PQntuples(r.get()) != 1 ||
        PQnfields(r.get()) != 2) {
        Fail(Reason(Conn_));
        return false;
    }
    *ok = true;
    if (PQgetisnull(r.get(), 0, 0) || PQgetisnull(r.get(), 0, 1))
        return false;
    *gaugeId = QByteArray(PQgetvalue(r.get(), 0, 0)).toLongLong();
    *parameterId = QByteArray(PQgetvalue(r.get(), 0, 1)).toLongLong();
    return true;
}

bool TPlantStore::CopyRange(qint64 gaugeId, qint64 parameterId, qint64 fromMs, qint64 toMs,
                            std::vector<TPlantPoint>& points) {
    // A binary COPY of the query: the rows stream in as they are found, in the order of the
    // key's index (gauge, parameter, time, station), and are parsed straight into the points,
    // with no result set held by the client library in between. COPY takes no parameters: the
    // ids are numbers and the times literals made here.
    const QByteArray statement =
        "COPY (SELECT time, value FROM readings WHERE gauge_id = " + QByteArray::number(gaugeId) +
        " AND parameter_id = " + QByteArray::number(parameterId) +
        " AND time >= " + UtcLiteral(fromMs) + " AND time <= " + UtcLiteral(toMs) +
        " ORDER BY time, station_id) TO STDOUT (FORMAT binary)";
    {
        TResult r(PQexec(Conn_, statement.constData()));
        if (!r || PQresultStatus(r.get()) != PGRES_COPY_OUT) {
            Fail(Reason(Conn_));
            return false;
        }
    }
    TCopyPointParser parser(points);
    bool parsed = true;
    int size;
    char* raw = nullptr;
    while ((size = PQgetCopyData(Conn_, &raw, 0)) > 0) {
        std::unique_ptr<char, TCopyBufferFree> buffer(raw);
        if (parsed)
            parsed = parser.Feed(buffer.get(), size);
    }
    bool finished = size == -1;
    while (PGresult* rest = PQgetResult(Conn_)) {
        TResult r(rest);
        if (PQresultStatus(rest) != PGRES_COMMAND_OK)
            finished = false;
    }
    if (!finished) {
        Fail(Reason(Conn_));
        return false;
    }
    if (!parsed || !parser.Done()) {
        Fail(QStringLiteral("ответ сервера не читается"));
        return false;
    }
    return true;
}

std::vector<TPlantPoint> TPlantStore::ReadRange(int plantNumber, const QString& parameter,
                                                qint64 fromMs, qint64 toMs, bool* ok) {
    std::vector<TPlantPoint> points;
    if (ok)
        *ok = false;
    fromMs = qBound(FirstPlantMs, fromMs, LastPlantMs);
    toMs = qBound(FirstPlantMs, toMs, LastPlantMs);
    const bool hadConnection = IsConnected();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (Ready()) {
            qint64 gaugeId = 0;
            qint64 parameterId = 0;
            bool asked = false;
            const bool known = LookUpIds(plantNumber, parameter, &gaugeId, &parameterId, &asked);
            if (asked && (!known || fromMs > toMs)) {
                LastError_.clear();
                if (ok)
                    *ok = true;
                return points;
            }
            if (asked) {
                if (CopyRange(gaugeId, parameterId, fromMs, toMs, points)) {
                    LastError_.clear();
                    if (ok)
                        *ok = true;
                    return points;
                }
                points.clear();
            }
        }
        if (!(attempt == 0 && hadConnection && !IsConnected()))
            break;
    }
    return points;
}

std::vector<int> TPlantStore::ListGauges(const QStringList& parameters, qint64 fromMs, qint64 toMs,
                                         bool* ok) {
    std::vector<int> gauges;
    if (ok)
        *ok = false;
    fromMs = qBound(FirstPlantMs, fromMs, LastPlantMs);
    toMs = qBound(FirstPlantMs, toMs, LastPlantMs);
    char from[8];
    char to[8];
    qToBigEndian<qint64>(ServerMicros(fromMs), from);
    qToBigEndian<qint64>(ServerMicros(toMs), to);
    const bool hadConnection = IsConnected();
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool asked = Ready();
        QSet<int> found;
        for (int i = 0; asked && i < parameters.size(); ++i) {
            // Per gauge one look into the key's index: does it have a row in the range?
            const QByteArray name = parameters.at(i).toUtf8();
            const Oid types[3] = {25, 1184, 1184};
            const char* values[3] = {name.constData(), from, to};
            const int lengths[3] = {int(name.size()), 8, 8};
            const int formats[3] = {1, 1, 1};
            TResult r(
                PQexecParams(Conn_,
                             "SELECT g.plant_number FROM gauges g, parameters p WHERE p.name = $1"
                             " AND EXISTS (SELECT 1 FROM readings r WHERE r.gauge_id = g.id"
                             " AND r.parameter_id = p.id AND r.time >= $2 AND r.time <= $3)",
                             3, types, values, lengths, formats, 0));
            if (!r || PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
                Fail(Reason(Conn_));
                asked = false;
                break;
            }
            for (int row = 0; row < PQntuples(r.get()); ++row)
                found.insert(QByteArray(PQgetvalue(r.get(), row, 0)).toInt());
        }
        if (asked) {
            gauges.assign(found.cbegin(), found.cend());
            std::sort(gauges.begin(), gauges.end());
            LastError_.clear();
            if (ok)
                *ok = true;
            return gauges;
        }
        if (!(attempt == 0 && hadConnection && !IsConnected()))
            break;
    }
    return gauges;
}
