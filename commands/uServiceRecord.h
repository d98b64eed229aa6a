#pragma once
// The service session's record ("Протокол") as data: who serviced which gauge and when, the
// gauge's parameters, tare table and zero array as found and as left, the run test, and the
// writes that went to the gauge meanwhile. Saved as one JSON file (session.json) in the
// session's folder beside the files of each step; numbers are JSON numbers, never locale text.
// No exchange with the gauge here (uServiceSession.h does that): pure data, file I/O and the
// run test's verdict. Any thread; one object per thread.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The version of session.json's layout that this program writes and reads.
constexpr int ServiceRecordFormat = 1;
// session.json beyond this size is not one and is not read.
constexpr qint64 ServiceRecordMaxBytes = 16 * 1024 * 1024;

enum class TServiceState { Open, Finished };

// What became of a request: the gauge took it, refused it (an error answer, a garbled or
// foreign answer), or nothing came back.
enum class TServiceOutcome { Accepted, Refused, NoAnswer };

// The gauge as the session's signature read found it. -1: not known.
struct TServiceGauge {
    int Address = -1;
    int BaudRate = 0;
    QString Port;
    int PlantNumber = -1;
    int UnitType = -1;
    int HardVersion = -1;
    int SoftVersion = -1;
};

// One parameter of the bulk read set: its parameter-file key, caption, and value as the gauge
// answered it. Text: the value as the parameter file writes it, with '.' as the decimal
// separator whatever the locale; Value: the same as a number (none for a text parameter).
struct TServiceParam {
    QString Key;
    QString Caption;
    QString Text;
    std::optional<double> Value;
    bool ReadOk = false;
};

struct TServiceTarePoint {
    double Level = 0;  // mm
    double Volume = 0; // %
};

// A step of a snapshot that did not come through, and why (in the program's words).
struct TServiceFailure {
    QString Step;
    QString Reason;
};

// The steps of a snapshot, in the order they run; bit flags of TServiceSnapshot::Done.
enum TServiceStep : unsigned {
    ServiceStepSignature = 1,
    ServiceStepParameters = 2,
    ServiceStepTare = 4,
    ServiceStepZero = 8,
    ServiceStepsAll = 15
};
// Every step, in the order a snapshot runs them.
inline constexpr TServiceStep ServiceSteps[] = {ServiceStepSignature, ServiceStepParameters,
                                                ServiceStepTare, ServiceStepZero};
// "signature", "parameters", "tare", "zero": the step's name in the JSON.
QString ServiceStepName(TServiceStep step);
// The step as the windows, the PDF and ulmar-cli name it: "сигнатура", "параметры",
// "тарировочная таблица", "массив нулей"; a JSON name (ServiceStepName) as it stands when
// it names no step.
QString ServiceStepCaption(TServiceStep step);
QString ServiceStepCaption(const QString& name);

// The gauge as read at one moment (as found, as left). A step is in Done once it has run to
// its end and its file is saved; a step that failed is in Failed (and not in Done), so that a
// resumed session runs it again.
struct TServiceSnapshot {
    QString Taken; // UTC (ServiceTimeText); empty before the first step
    unsigned Done = 0;
    TServiceGauge Gauge; // the signature as this snapshot read it (port and rate not used)
    std::vector<TServiceParam> Parameters; // in the bulk read order
    QString ParamFile;                     // file name within the session folder
    std::vector<TServiceTarePoint> Tare;   // the points that are not empty, in point order
    QString TareFile;
    std::vector<qint32> Zero; // entries 1..256 (empty until read)
    QString ZeroFile;
    std::vector<TServiceFailure> Failed;

    bool IsDone(TServiceStep step) const { return (Done & step) != 0; }
    bool Complete() const { return (Done & ServiceStepsAll) == ServiceStepsAll; }
    // The parameter with that file key; null when none.
    const TServiceParam* Param(const QString& key) const;
};

// One row of the run test: tape, reference level, measured level, difference (mm); reference
// current, measured current, difference (mA). Filled: "Установить" took the row's readings.
struct TServiceRunRow {
    double Tape = 0;
    double ReferenceLevel = 0;
    double MeasuredLevel = 0;
    double LevelDifference = 0;
    double ReferenceCurrent = 0;
    double MeasuredCurrent = 0;
    double CurrentDifference = 0;
    bool Filled = false;
};

struct TServiceRunTest {
    QString Recorded; // UTC (ServiceTimeText); empty: not recorded
    std::vector<TServiceRunRow> Rows;
};

// How far a run test's differences may go: |level difference| <= LevelMm and |current
// difference| <= CurrentMa pass.
struct TServiceTolerance {
    double LevelMm = 3.0;
    double CurrentMa = 0.03;
};

// One write request that went on the line during the session, from the session's request log.
struct TServiceWrite {
    QString Time; // UTC (ServiceTimeText), from the log line's stamp
    int Address = -1;
    int Code = -1;
    QString Name;  // the command's or the parameter's name
    QString Key;   // the parameter-file key; empty for writes without one (tare, address)
    QString Value; // the value decoded from the request's bytes (C locale)
    TServiceOutcome Outcome = TServiceOutcome::NoAnswer;
};

struct TServiceRecord {
    int Format = ServiceRecordFormat;
    QString Site;
    QString Tag;
    QString Technician;
    QString Started;  // UTC (ServiceTimeText)
    QString Finished; // empty while open
    TServiceState State = TServiceState::Open;
    TServiceGauge Gauge;
    bool Factory = false; // the parameters are the bulk read set of factory mode
    TServiceSnapshot AsFound;
    TServiceSnapshot AsLeft;
    TServiceRunTest RunTest;
    TServiceTolerance Tolerance; // the one in force when the run test was recorded
    std::vector<TServiceWrite> Writes;
};

// --- JSON ---

QJsonObject ServiceRecordToJson(const TServiceRecord& record);
// Reads a record; false with the reason ("поле «asFound.parameters[3].value»: не число", ...)
// when a field is missing, of the wrong kind or out of range, or the format is newer than this
// program's. Never throws; `record` is left default on failure.
bool ServiceRecordFromJson(const QJsonObject& json, TServiceRecord& record, QString& error);

// session.json's bytes (indented UTF-8 JSON).
QByteArray ServiceRecordBytes(const TServiceRecord& record);
// Writes the file through a temporary file, a flush to the disk and a rename, so that a crash
// at any moment leaves the former file or the new one, never a part of one. False with the
// reason.
bool SaveServiceRecord(const QString& path, const TServiceRecord& record, QString& error);
// Reads and checks the file; false with "<path>: <reason>" (missing, no regular file, too large,
// not JSON, a field garbled).
bool LoadServiceRecord(const QString& path, TServiceRecord& record, QString& error);

// --- the verdict ---

enum class TRowVerdict { NotFilled, Pass, Fail };

struct TServiceVerdict {
    std::vector<TRowVerdict> Rows; // one per run-test row
    bool Done = false;             // the run test was recorded with every row filled
    bool Pass = false;             // done, and every row passed
};

// The differences are compared as the run window shows them (level to 3 decimals, current to
// 3 decimals), so that a difference displayed exactly at the tolerance passes whatever binary
// floating point made of it. A row not filled is not done, never a pass; a difference that is
// no finite number fails.
TServiceVerdict ServiceVerdict(const TServiceRunTest& runTest, const TServiceTolerance& tolerance);
// "годен" / "не годен" / "не выполнен".
QString ServiceVerdictText(const TServiceVerdict& verdict);

// --- settings ---

// The tolerance from section [Record] of the settings file (LevelToleranceMm,
// CurrentToleranceMa; '.' or ',' as the decimal separator). A missing key gives the default; a
// value that is not a positive finite number gives the default and a line in `problems`.
TServiceTolerance ReadServiceTolerance(const QString& settingsFile,
                                       QStringList* problems = nullptr);
// The settings file of the service record: Record.ini in the working directory's "INI".
QString ServiceSettingsFile();

// --- the folder ---

// <program directory>/Records: the sessions' folders, one a plant number.
QString ServiceRecordsDir();
// <records>/<plant number>/<yyyy-MM-dd_HH-mm-ss> (local time of the start).
QString ServiceSessionDir(const QString& recordsDir, int plantNumber, const QDateTime& started);
// The session folder's files.
inline const char* const ServiceRecordFile = "session.json";
inline const char* const ServiceRequestsFile = "requests.txt";

// "yyyy-MM-ddTHH:mm:ss.zzz+00:00" of a moment in UTC; the record's time stamps.
QString ServiceTimeText(const QDateTime& at);
