#include "uServiceRecord.h"

#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uSmallFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>
#include <cmath>
#include <limits>

namespace {

QString StateName(TServiceState state) {
    return state == TServiceState::Finished ? QStringLiteral("finished") : QStringLiteral("open");
}

QString OutcomeName(TServiceOutcome outcome) {
    switch (outcome) {
    case TServiceOutcome::Accepted:
        return QStringLiteral("accepted");
    case TServiceOutcome::Refused:
        return QStringLiteral("refused");
    case TServiceOutcome::NoAnswer:
        break;
    }
    return QStringLiteral("noAnswer");
}

// A number that may be no finite number (a run-test value): null stands for it in the JSON.
QJsonValue Number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

// --- writing ---

QJsonObject GaugeToJson(const TServiceGauge& g) {
    return QJsonObject{
        {"address", g.Address},         {"baudRate", g.BaudRate}, {"port", g.Port},
        {"plantNumber", g.PlantNumber}, {"unitType", g.UnitType}, {"hardVersion", g.HardVersion},
        {"softVersion", g.SoftVersion}};
}

QJsonObject SnapshotToJson(const TServiceSnapshot& s) {
    QJsonArray done;
    for (const TServiceStep step : ServiceSteps)
        if (s.IsDone(step))
            done.append(ServiceStepName(step));
    QJsonArray params;
    for (const TServiceParam& p : s.Parameters)
        params.append(QJsonObject{{"key", p.Key},
                                  {"caption", p.Caption},
                                  {"text", p.Text},
                                  {"value", p.Value ? Number(*p.Value) : QJsonValue()},
                                  {"readOk", p.ReadOk}});
    QJsonArray tare;
    for (const TServiceTarePoint& t : s.Tare)
        tare.append(QJsonObject{{"level", Number(t.Level)}, {"volume", Number(t.Volume)}});
    QJsonArray zero;
    for (const qint32 z : s.Zero)
        zero.append(z);
    QJsonArray failed;
    for (const TServiceFailure& f : s.Failed)
        failed.append(QJsonObject{{"step", f.Step}, {"reason", f.Reason}});
    return QJsonObject{{"taken", s.Taken},
                       {"done", done},
                       {"gauge", GaugeToJson(s.Gauge)},
                       {"parameters", params},
                       {"paramFile", s.ParamFile},
                       {"tare", tare},
                       {"tareFile", s.TareFile},
                       {"zero", zero},
                       {"zeroFile", s.ZeroFile},
                       {"failed", failed}};
}

QJsonObject RunTestToJson(const TServiceRunTest& r) {
    QJsonArray rows;
    for (const TServiceRunRow& row : r.Rows)
        rows.append(QJsonObject{{"tape", Number(row.Tape)},
                                {"referenceLevel", Number(row.ReferenceLevel)},
                                {"measuredLevel", Number(row.MeasuredLevel)},
                                {"levelDifference", Number(row.LevelDifference)},
                                {"referenceCurrent", Number(row.ReferenceCurrent)},
                                {"measuredCurrent", Number(row.MeasuredCurrent)},
                                {"currentDifference", Number(row.CurrentDifference)},
                                {"filled", row.Filled}});
    return QJsonObject{{"recorded", r.Recorded}, {"rows", rows}};
}

// --- reading: each field by its path, the first fault named ---

class TReader {
public:
    explicit TReader(QString& error) : Error_(error) {}
    bool Failed() const { return !Error_.isEmpty(); }

    void Fail(const QString& path, const QString& reason) {
        if (Error_.isEmpty())
            Error_ = QStringLiteral("поле «") + path + QStringLiteral("»: ") + reason;
    }
    QJsonValue Field(const QJsonObject& o, const QString& path, const char* key) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            Fail(Join(path, key), QStringLiteral("нет"));
        return v;
    }
    QString Text(const QJsonObject& o, const QString& path, const char* key) {
        const QJsonValue v = Field(o, path, key);
        if (!v.isUndefined() && !v.isString())
            Fail(Join(path, key), QStringLiteral("не текст"));
        return v.toString();
    }
    bool Bool(const QJsonObject& o, const QString& path, const char* key) {
        const QJsonValue v = Field(o, path, key);
        if (!v.isUndefined() && !v.isBool())
            Fail(Join(path, key), QStringLiteral("не true/false"));
        return v.toBool();
    }
    // A number, or null for a value that is no finite number when nullable.
    double Real(const QJsonObject& o, const QString& path, const char* key, bool nullable) {
        const QJsonValue v = Field(o, path, key);
        if (v.isNull() && nullable)
            return std::numeric_limits<double>::quiet_NaN();
        if (!v.isUndefined() && !v.isDouble())
            Fail(Join(path, key), QStringLiteral("не число"));
        return v.toDouble();
    }
    int Integer(const QJsonObject& o, const QString& path, const char* key, qint64 min,
                qint64 max) {
        const QJsonValue v = Field(o, path, key);
        if (v.isUndefined())
            return 0;
        const double d = v.toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!v.isDouble() || d != std::floor(d) || d < double(min) || d > double(max)) {
            Fail(Join(path, key), QStringLiteral("не целое от %1 до %2").arg(min).arg(max));
            return 0;
        }
        return static_cast<int>(d);
    }
    QJsonObject Object(const QJsonObject& o, const QString& path, const char* key) {
        const QJsonValue v = Field(o, path, key);
        if (!v.isUndefined() && !v.isObject())
            Fail(Join(path, key), QStringLiteral("не объект"));
        return v.toObject();
    }
    QJsonArray Array(const QJsonObject& o, const QString& path, const char* key) {
        const QJsonValue v = Field(o, path, key);
        if (!v.isUndefined() && !v.isArray())
            Fail(Join(path, key), QStringLiteral("не массив"));
        return v.toArray();
    }
    // The i-th element as an object.
    QJsonObject Element(const QJsonArray& a, const QString& path, qsizetype i) {
        if (!a.at(i).isObject())
            Fail(Index(path, i), QStringLiteral("не объект"));
        return a.at(i).toObject();
    }
    static QString Join(const QString& path, const char* key) {
        return path.isEmpty() ? QString::fromLatin1(key)
                              : path + QLatin1Char('.') + QLatin1String(key);
    }
    static QString Index(const QString& path, qsizetype i) {
        return path + QLatin1Char('[') + QString::number(i) + QLatin1Char(']');
    }

private:
    QString& Error_;
};

TServiceGauge GaugeFromJson(TReader& r, const QJsonObject& g, const QString& gp) {
    TServiceGauge gauge;
    gauge.Address = r.Integer(g, gp, "address", -1, 255);
    gauge.BaudRate = r.Integer(g, gp, "baudRate", 0, 100000000);
    gauge.Port = r.Text(g, gp, "port");
    gauge.PlantNumber = r.Integer(g, gp, "plantNumber", -1, 65535);
    gauge.UnitType = r.Integer(g, gp, "unitType", -1, 255);
    gauge.HardVersion = r.Integer(g, gp, "hardVersion", -1, 255);
    gauge.SoftVersion = r.Integer(g, gp, "softVersion", -1, 255);
    return gauge;
}

TServiceSnapshot SnapshotFromJson(TReader& r, const QJsonObject& o, const QString& path) {
    TServiceSnapshot s;
    s.Taken = r.Text(o, path, "taken");
    s.Gauge = GaugeFromJson(r, r.Object(o, path, "gauge"), TReader::Join(path, "gauge"));
    const QJsonArray done = r.Array(o, path, "done");
    for (qsizetype i = 0; i < done.size(); ++i) {
        bool known = false;
        for (const TServiceStep step : ServiceSteps)
            if (done.at(i).toString() == ServiceStepName(step)) {
                s.Done |= step;
                known = true;
            }
        if (!known)
            r.Fail(TReader::Index(TReader::Join(path, "done"), i),
                   QStringLiteral("неизвестный шаг"));
    }
    const QString paramsPath = TReader::Join(path, "parameters");
    const QJsonArray params = r.Array(o, path, "parameters");
    for (qsizetype i = 0; i < params.size() && !r.Failed(); ++i) {
        const QString at = TReader::Index(paramsPath, i);
        const QJsonObject p = r.Element(params, paramsPath, i);
        TServiceParam param;
        param.Key = r.Text(p, at, "key");
        param.Caption = r.Text(p, at, "caption");
        param.Text = r.Text(p, at, "text");
        if (const double v = r.Real(p, at, "value", true); !std::isnan(v))
            param.Value = v;
        param.ReadOk = r.Bool(p, at, "readOk");
        s.Parameters.push_back(param);
    }
    s.ParamFile = r.Text(o, path, "paramFile");
    const QString tarePath = TReader::Join(path, "tare");
    const QJsonArray tare = r.Array(o, path, "tare");
    if (tare.size() > 32)
        r.Fail(tarePath, QStringLiteral("больше 32 точек"));
    for (qsizetype i = 0; i < tare.size() && !r.Failed(); ++i) {
        const QString at = TReader::Index(tarePath, i);
        const QJsonObject t = r.Element(tare, tarePath, i);
        s.Tare.push_back({r.Real(t, at, "level", false), r.Real(t, at, "volume", false)});
    }
    s.TareFile = r.Text(o, path, "tareFile");
    const QString zeroPath = TReader::Join(path, "zero");
    const QJsonArray zero = r.Array(o, path, "zero");
    if (!zero.isEmpty() && zero.size() != 256)
        r.Fail(zeroPath, QStringLiteral("не 256 элементов"));
    for (qsizetype i = 0; i < zero.size() && !r.Failed(); ++i) {
        const double z = zero.at(i).toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!zero.at(i).isDouble() || z != std::floor(z) || z < -2147483648.0 || z > 2147483647.0)
            r.Fail(TReader::Index(zeroPath, i), QStringLiteral("не целое 32 бита"));
        s.Zero.push_back(static_cast<qint32>(z));
    }
    s.ZeroFile = r.Text(o, path, "zeroFile");
    const QString failedPath = TReader::Join(path, "failed");
    const QJsonArray failed = r.Array(o, path, "failed");
    for (qsizetype i = 0; i < failed.size() && !r.Failed(); ++i) {
        const QString at = TReader::Index(failedPath, i);
        const QJsonObject f = r.Element(failed, failedPath, i);
        s.Failed.push_back({r.Text(f, at, "step"), r.Text(f, at, "reason")});
    }
    return s;
}

TServiceRunTest RunTestFromJson(TReader& r, const QJsonObject& o) {
    TServiceRunTest t;
    const QString path = QStringLiteral("runTest");
    t.Recorded = r.Text(o, path, "recorded");
    const QString rowsPath = QStringLiteral("runTest.rows");
    const QJsonArray rows = r.Array(o, path, "rows");
    if (rows.size() > 5)
        r.Fail(rowsPath, QStringLiteral("больше 5 строк"));
    for (qsizetype i = 0; i < rows.size() && !r.Failed(); ++i) {
        const QString at = TReader::Index(rowsPath, i);
        const QJsonObject row = r.Element(rows, rowsPath, i);
        TServiceRunRow x;
        x.Tape = r.Real(row, at, "tape", true);
        x.ReferenceLevel = r.Real(row, at, "referenceLevel", true);
        x.MeasuredLevel = r.Real(row, at, "measuredLevel", true);
        x.LevelDifference = r.Real(row, at, "levelDifference", true);
        x.ReferenceCurrent = r.Real(row, at, "referenceCurrent", true);
        x.MeasuredCurrent = r.Real(row, at, "measuredCurrent", true);
        x.CurrentDifference = r.Real(row, at, "currentDifference", true);
        x.Filled = r.Bool(row, at, "filled");
        t.Rows.push_back(x);
    }
    return t;
}

std::optional<TServiceOutcome> OutcomeOf(const QString& name) {
    for (const TServiceOutcome o :
         {TServiceOutcome::Accepted, TServiceOutcome::Refused, TServiceOutcome::NoAnswer})
        if (name == OutcomeName(o))
            return o;
    return std::nullopt;
}

// Rounded to the run window's three decimals, as the technician reads the difference.
double Shown(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

} // namespace

QString ServiceStepName(TServiceStep step) {
    switch (step) {
    case ServiceStepSignature:
        return QStringLiteral("signature");
    case ServiceStepParameters:
        return QStringLiteral("parameters");
    case ServiceStepTare:
        return QStringLiteral("tare");
    case ServiceStepZero:
        return QStringLiteral("zero");
    default:
        return QString();
    }
}

QString ServiceStepCaption(TServiceStep step) {
    switch (step) {
    case ServiceStepSignature:
        return QStringLiteral("сигнатура");
    case ServiceStepParameters:
        return QStringLiteral("параметры");
    case ServiceStepTare:
        return QStringLiteral("тарировочная таблица");
    case ServiceStepZero:
        return QStringLiteral("массив нулей");
    default:
        return QString();
    }
}

QString ServiceStepCaption(const QString& name) {
    for (const TServiceStep step : ServiceSteps)
        if (name == ServiceStepName(step))
            return ServiceStepCaption(step);
    return name;
}

const TServiceParam* TServiceSnapshot::Param(const QString& key) const {
    for (const TServiceParam& p : Parameters)
        if (p.Key == key)
            return &p;
    return nullptr;
}

QJsonObject ServiceRecordToJson(const TServiceRecord& rec) {
    QJsonArray writes;
    for (const TServiceWrite& w : rec.Writes)
        writes.append(QJsonObject{{"time", w.Time},
                                  {"address", w.Address},
                                  {"code", w.Code},
                                  {"name", w.Name},
                                  {"key", w.Key},
                                  {"value", w.Value},
                                  {"outcome", OutcomeName(w.Outcome)}});
    return QJsonObject{{"format", rec.Format},
                       {"site", rec.Site},
                       {"tag", rec.Tag},
                       {"technician", rec.Technician},
                       {"started", rec.Started},
                       {"finished", rec.Finished},
                       {"state", StateName(rec.State)},
                       {"gauge", GaugeToJson(rec.Gauge)},
                       {"factory", rec.Factory},
                       {"asFound", SnapshotToJson(rec.AsFound)},
                       {"asLeft", SnapshotToJson(rec.AsLeft)},
                       {"runTest", RunTestToJson(rec.RunTest)},
                       {"tolerance", QJsonObject{{"levelMm", rec.Tolerance.LevelMm},
                                                 {"currentMa", rec.Tolerance.CurrentMa}}},
                       {"writes", writes}};
}

bool ServiceRecordFromJson(const QJsonObject& json, TServiceRecord& record, QString& error) {
    error.clear();
    record = TServiceRecord();
    TReader r(error);
    TServiceRecord rec;
    rec.Format = r.Integer(json, QString(), "format", 1, 1000000);
    if (!r.Failed() && rec.Format > ServiceRecordFormat) {
        error = QStringLiteral("формат %1 новее, чем читает эта программа (%2)")
                    .arg(rec.Format)
                    .arg(ServiceRecordFormat);
        return false;
    }
    rec.Site = r.Text(json, QString(), "site");
    rec.Tag = r.Text(json, QString(), "tag");
    rec.Technician = r.Text(json, QString(), "technician");
    rec.Started = r.Text(json, QString(), "started");
    rec.Finished = r.Text(json, QString(), "finished");
    const QString state = r.Text(json, QString(), "state");
    if (state == StateName(TServiceState::Finished))
        rec.State = TServiceState::Finished;
    else if (state != StateName(TServiceState::Open))
        r.Fail(QStringLiteral("state"), QStringLiteral("не open и не finished"));
    rec.Gauge = GaugeFromJson(r, r.Object(json, QString(), "gauge"), QStringLiteral("gauge"));
    // Absent in a record that never read the factory set.
    if (json.contains(QLatin1String("factory")))
        rec.Factory = r.Bool(json, QString(), "factory");
    if (!r.Failed())
        rec.AsFound =
            SnapshotFromJson(r, r.Object(json, QString(), "asFound"), QStringLiteral("asFound"));
    if (!r.Failed())
        rec.AsLeft =
            SnapshotFromJson(r, r.Object(json, QString(), "asLeft"), QStringLiteral("asLeft"));
    if (!r.Failed())
        rec.RunTest = RunTestFromJson(r, r.Object(json, QString(), "runTest"));
    const QString tp = QStringLiteral("tolerance");
    const QJsonObject t = r.Object(json, QString(), "tolerance");
    rec.Tolerance.LevelMm = r.Real(t, tp, "levelMm", false);
    rec.Tolerance.CurrentMa = r.Real(t, tp, "currentMa", false);
    const QString wp = QStringLiteral("writes");
    const QJsonArray writes = r.Array(json, QString(), "writes");
    for (qsizetype i = 0; i < writes.size() && !r.Failed(); ++i) {
        const QString at = TReader::Index(wp, i);
        const QJsonObject w = r.Element(writes, wp, i);
        TServiceWrite write;
        write.Time = r.Text(w, at, "time");
        write.Address = r.Integer(w, at, "address", -1, 255);
        write.Code = r.Integer(w, at, "code", -1, 255);
        write.Name = r.Text(w, at, "name");
        write.Key = r.Text(w, at, "key");
        write.Value = r.Text(w, at, "value");
        const QString outcome = r.Text(w, at, "outcome");
        if (const auto o = OutcomeOf(outcome))
            write.Outcome = *o;
        else
            r.Fail(at + QStringLiteral(".outcome"), QStringLiteral("неизвестный итог"));
        rec.Writes.push_back(write);
    }
    if (r.Failed())
        return false;
    record = std::move(rec);
    return true;
}

QByteArray ServiceRecordBytes(const TServiceRecord& record) {
    return QJsonDocument(ServiceRecordToJson(record)).toJson(QJsonDocument::Indented);
}

bool SaveServiceRecord(const QString& path, const TServiceRecord& record, QString& error) {
    if (!MaySaveOver(path)) {
        error = FileRefusalText(path, QStringLiteral("не обычный файл"));
        return false;
    }
    // QSaveFile writes a temporary file beside it, flushes it to the disk and renames it over
    // the old one at commit: a crash at any moment leaves one whole file.
    QSaveFile file(path);
    const QByteArray bytes = ServiceRecordBytes(record);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = FileRefusalText(path, file.errorString());
        return false;
    }
    return true;
}

bool LoadServiceRecord(const QString& path, TServiceRecord& record, QString& error) {
    record = TServiceRecord();
    QByteArray bytes;
    QString reason;
    switch (ReadSmallRegularFile(path, ServiceRecordMaxBytes, bytes, reason)) {
    case TSmallFileRead::Missing:
        error = FileRefusalText(path, QStringLiteral("нет файла"));
        return false;
    case TSmallFileRead::Refused:
        error = FileRefusalText(path, reason);
        return false;
    case TSmallFileRead::Read:
        break;
    }
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        error = FileRefusalText(
            path,
            QStringLiteral("не JSON (%1, позиция %2)").arg(parse.errorString()).arg(parse.offset));
        return false;
    }
    if (!doc.isObject()) {
        error = FileRefusalText(path, QStringLiteral("не объект JSON"));
        return false;
    }
    if (!ServiceRecordFromJson(doc.object(), record, reason)) {
        error = FileRefusalText(path, reason);
        return false;
    }
    return true;
}

TServiceVerdict ServiceVerdict(const TServiceRunTest& runTest, const TServiceTolerance& tolerance) {
    TServiceVerdict v;
    const double levelLimit = Shown(tolerance.LevelMm);
    const double currentLimit = Shown(tolerance.CurrentMa);
    bool allFilled = !runTest.Rows.empty() && !runTest.Recorded.isEmpty();
    bool allPass = true;
    for (const TServiceRunRow& row : runTest.Rows) {
        if (!row.Filled) {
            v.Rows.push_back(TRowVerdict::NotFilled);
            allFilled = false;
            continue;
        }
        const double level = std::fabs(Shown(row.LevelDifference));
        const double current = std::fabs(Shown(row.CurrentDifference));
        // A difference that is no number compares false and so fails.
        const bool pass = level <= levelLimit && current <= currentLimit;
        v.Rows.push_back(pass ? TRowVerdict::Pass : TRowVerdict::Fail);
        allPass = allPass && pass;
    }
    v.Done = allFilled;
    v.Pass = allFilled && allPass;
    return v;
}

QString ServiceVerdictText(const TServiceVerdict& verdict) {
    if (!verdict.Done)
        return QStringLiteral("не выполнен");
    return verdict.Pass ? QStringLiteral("годен") : QStringLiteral("не годен");
}

TServiceTolerance ReadServiceTolerance(const QString& settingsFile, QStringList* problems) {
    TServiceTolerance tolerance;
    const TIniFile ini(settingsFile);
    const QString section = QStringLiteral("Record");
    const auto read = [&](const char* key, double& value) {
        const QString k = QString::fromLatin1(key);
        if (!ini.ValueExists(section, k))
            return;
        const QString text = ini.ReadString(section, k, QString());
        // ReadFloat takes '.' and ',' whatever the locale; a NaN default tells an unreadable one.
        const double v = ini.ReadFloat(section, k, std::numeric_limits<double>::quiet_NaN());
        if (std::isfinite(v) && v > 0) {
            value = v;
            return;
        }
        if (problems)
            *problems << QStringLiteral("%1: [Record] %2=%3 не положительное число, взято %4")
                             .arg(QDir::toNativeSeparators(settingsFile), k, text,
                                  QString::number(value));
    };
    read("LevelToleranceMm", tolerance.LevelMm);
    read("CurrentToleranceMa", tolerance.CurrentMa);
    return tolerance;
}

QString ServiceSettingsFile() {
    return JoinPath(StartIniDir(), QStringLiteral("Record.ini"));
}

QString ServiceRecordsDir() {
    return JoinPath(ProgramDir(), QStringLiteral("Records"));
}

QString ServiceSessionDir(const QString& recordsDir, int plantNumber, const QDateTime& started) {
    return JoinPath(JoinPath(recordsDir, QString::number(plantNumber)),
                    started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")));
}

QString ServiceTimeText(const QDateTime& at) {
    // The offset written out, as every time the program's JSON carries.
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("+00:00");
}
