#pragma once
// A service session of the current gauge ("Протокол"): Start reads the gauge as found
// (signature, every parameter of the bulk read set, the tare table, the zero array) into a new
// folder <records>/<plant number>/<yyyy-MM-dd_HH-mm-ss>/, saving each step's file and
// session.json as it goes, so that a crash loses at most the step in flight and Resume goes on
// from there. While the session object lives, every exchange's request log line is also
// appended to the folder's requests.txt. Finish reads the gauge again (as left), lists the
// writes that went to the gauge from requests.txt, and closes the session.
// User-interface thread only (as TGaugeCommands).

#include "uGaugeCommands.h"
#include "uPollControl.h"
#include "uServiceRecord.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class TDeviceLink;

// The files of a session folder besides session.json and requests.txt.
struct TServiceFiles {
    const char* Params;
    const char* Tare;
    const char* Zero;
};
inline constexpr TServiceFiles ServiceAsFoundFiles{"asFound.ini", "tareAsFound.txt",
                                                   "zeroAsFound.txt"};
inline constexpr TServiceFiles ServiceAsLeftFiles{"asLeft.ini", "tareAsLeft.txt", "zeroAsLeft.txt"};

// Appends every request log line of the link to a file (the line as the request log writes it,
// time stamp included) for its lifetime. Without a path yet (a session whose folder is made
// once the gauge has named itself) the lines are kept until SetPath. The lines are written on
// the exchanging thread; a failed write is kept as the reason, never thrown. Construct and
// destroy on the user-interface thread.
class TServiceLogTap {
public:
    TServiceLogTap(TDeviceLink* link, const QString& path);
    ~TServiceLogTap();
    TServiceLogTap(const TServiceLogTap&) = delete;
    TServiceLogTap& operator=(const TServiceLogTap&) = delete;
    // Any thread: the file from now on; the lines kept so far go into it first.
    void SetPath(const QString& path);
    // The first failed write's reason; empty while every line went in. Any thread.
    QString Error() const;

private:
    void Append(const QString& text);
    // Mutex_ held.
    void Write(const QByteArray& line);

    TDeviceLink* Link_;
    quint64 TapNumber_ = 0;
    mutable std::mutex Mutex_; // guards the members below; held while a line is written
    QString Path_;
    QByteArray Pending_;
    QString Error_;
};

// The writes to the gauge among request log lines: the parameter writes, both tare parts and
// the address change, decoded from the request's bytes, with what the answer came to. Only
// requests to `address` (the broadcast address 255 included) count, and to the address an
// accepted address change of the gauge with `plantNumber` gave it. Lines that are not request
// log lines are skipped.
std::vector<TServiceWrite> ServiceWritesFromLog(const QByteArray& log, int address,
                                                int plantNumber);

// The run test as the device object holds it (the rows of its run mode), recorded at `recorded`
// (UTC, ISO 8601; empty: not recorded, and so no verdict but "не выполнен").
TServiceRunTest ServiceRunTestOf(const TUlmar& ulmar, const QString& recorded);

// The newest session folder of the plant number that is still open; empty when none.
QString FindOpenSession(int plantNumber, const QString& recordsDir = ServiceRecordsDir());
// The newest open session of the gauge reached through `port` at `address` (-1 or 255: any
// address); empty when none.
QString FindOpenSessionOnPort(const QString& port, int address,
                              const QString& recordsDir = ServiceRecordsDir());

// The zero array of the newest session of the plant number that holds one, as a reference for
// the echo: the as-left array when the session read one, else its as-found array. The caption
// names the session's folder and which array it is. None when no session of that gauge holds
// a whole array (a session.json that cannot be read is passed over).
struct TSessionZero {
    std::vector<qint32> Array; // entries 1..256
    QString Folder;
    QString Caption;
};
std::optional<TSessionZero> LatestSessionZero(int plantNumber,
                                              const QString& recordsDir = ServiceRecordsDir());

// What kind of failure the last one was, so that a caller picks its exit code or message.
enum class TServiceErrorKind {
    None,
    Line,       // the gauge did not answer or refused a step
    File,       // a file of the session could not be read or written
    OtherGauge, // another gauge answers than the session's
    State       // not open, already open, already finished
};

struct TServiceOptions {
    QString RecordsDir = ServiceRecordsDir();
    // Start: the bulk read set of factory mode (the factory parameters as well). A resumed
    // session reads the set it was started with.
    bool Factory = false;
    // The run test's tolerance; by default from the settings file (ReadServiceTolerance).
    std::optional<TServiceTolerance> Tolerance;
    // The port and the baud rate to record; by default from the link's transmitter.
    QString Port;
    int BaudRate = 0;
};

class TServiceSession {
public:
    // poll may be null (no polling to stop). The commands' link is the gauge's.
    TServiceSession(TGaugeCommands& commands, IPollControl* poll, TServiceOptions options = {});
    // Detaches the session's request log; an open session stays open on the disk.
    ~TServiceSession();
    TServiceSession(const TServiceSession&) = delete;
    TServiceSession& operator=(const TServiceSession&) = delete;

    // Reads the signature (refused when the gauge does not answer: no folder is made), creates
    // the folder and reads as found. True when the session is open; the steps that failed are
    // in Record().AsFound.Failed and Error() says them.
    bool Start(const QString& site, const QString& tag, const QString& technician);
    // Loads an open session's folder, attaches its request log and reads the as-found steps not
    // done yet. False (nothing changed) when the folder holds no readable session, the session
    // is finished, or another gauge answers.
    bool Resume(const QString& folder);
    // Copies the run-test table of the device object into the record with the tolerance in
    // force, and saves.
    bool RecordRunTest();
    // Reads the gauge as left, lists the writes from requests.txt, closes the session. False,
    // the session still open, when an as-left step failed (Error() says which); the writes and
    // the as-left read so far are saved. A session whose as-found read is not complete is
    // finished all the same (its failed steps stay in the record): the caller says so.
    bool Finish();

    bool IsOpen() const { return Open_; }
    const TServiceRecord& Record() const { return Record_; }
    const QString& Folder() const { return Folder_; }
    // The reason of the last failure in the program's words; empty after a success.
    const QString& Error() const { return Error_; }
    TServiceErrorKind ErrorKind() const { return Kind_; }
    // Notes along the way that are no failure (a bad tolerance setting, a request log line
    // that could not be written).
    const QStringList& Notes() const { return Notes_; }
    // The files of the session folder.
    QString FilePath(const QString& name) const;

private:
    // The steps of a snapshot not done yet; true when all are done.
    bool Snapshot(TServiceSnapshot& snapshot, const TServiceFiles& files);
    bool ReadSignatureStep(TServiceSnapshot& snapshot);
    bool ReadParamsStep(TServiceSnapshot& snapshot, const TServiceFiles& files);
    bool ReadTareStep(TServiceSnapshot& snapshot, const TServiceFiles& files);
    bool ReadZeroStep(TServiceSnapshot& snapshot, const TServiceFiles& files);
    void Fail(TServiceSnapshot& snapshot, TServiceStep step, const QString& reason,
              TServiceErrorKind kind = TServiceErrorKind::Line);
    // Starts an operation: no failure yet.
    void ClearError();
    bool Refuse(TServiceErrorKind kind, const QString& reason);
    bool Save();
    void AttachLog();
    void TakeWrites();

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
    TServiceOptions Options_;
    TServiceRecord Record_;
    QString Folder_;
    bool Open_ = false;
    QString Error_;
    TServiceErrorKind Kind_ = TServiceErrorKind::None;
    QStringList Notes_;
    std::unique_ptr<TServiceLogTap> Tap_;
};
