#pragma once
// What ulmar-cli prints and the gauge link it talks through. The link is the window program's
// (TDeviceLink over the same settings files: INI/ComPort.ini of the working directory), and the
// commands are the command layer's (TGaugeCommands) with a quiet face.
// Main thread only (it plays the user-interface thread of the link).

#include "uCliArgs.h"
#include "uGaugeCommands.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QTextStream>
#include <memory>

class TDeviceLink;
class TUlmar;

// The error codes of ulmar-cli's JSON objects ("error": {"code", "message"}); each goes with one
// exit code (CliErrorExit). Stable strings: scripts compare them.
namespace CliError {
inline constexpr const char* BadArgument = "badArgument";     // exit 3
inline constexpr const char* BadFile = "badFile";             // exit 3
inline constexpr const char* UnknownTable = "unknownTable";   // exit 3
inline constexpr const char* NeedsYes = "needsYes";           // exit 3
inline constexpr const char* PortNotOpened = "portNotOpened"; // exit 2
inline constexpr const char* NoAnswer = "noAnswer";           // exit 2
inline constexpr const char* OutputFailed = "outputFailed";   // exit 2
inline constexpr const char* Refused = "refused";             // exit 1: refused or not taken
inline constexpr const char* Differences = "differences";     // exit 1
inline constexpr const char* Interrupted = "interrupted";     // exit 130 or 143

// exit 2: the plant archive's server cannot be reached (archive export --source server,
// archive ship).
inline constexpr const char* ServerUnavailable = "serverUnavailable";
} // namespace CliError

// The version of the JSON objects' layout; every object carries it as "schemaVersion".
inline constexpr int CliSchemaVersion = 1;

// The "error" member of an object: {"code": code, "message": text}.
QJsonObject CliErrorJson(const char* code, const QString& text);

// Plain Russian text on stdout and messages on stderr, or JSON on stdout: every object carries
// the envelope "schemaVersion", "ok" and "error" (null when ok).
class TCliOutput {
public:
    explicit TCliOutput(bool json);
    bool Json() const { return Json_; }
    void Line(const QString& text);
    // The object on one line, with the envelope: "ok" true and "error" null unless the object
    // sets them (an object with "ok" false sets "error" with CliErrorJson).
    void Object(const QJsonObject& object);
    // The object with its envelope, as Object prints it (for a caller that writes it itself).
    static QJsonObject Enveloped(const QJsonObject& object);
    // A failure: "ulmar-cli: " + text on stderr; with --json also one object on stdout:
    // {"ok": false, "error": {"code": code, "message": text}} with the details' members.
    void Failure(const char* code, const QString& text, const QJsonObject& details = {});
    // A command's object: as it is when code is null, else a failure that carries it.
    void Result(const QJsonObject& object, const char* code = nullptr, const QString& text = {});
    // JSON objects printed so far through Object, Failure and Result.
    int ObjectsPrinted() const { return Objects_; }
    // "ulmar-cli: " + text on stderr only.
    void ErrorLine(const QString& text);
    // -q: notes, progress and summaries are not shown.
    void SetQuiet(bool quiet) { Quiet_ = quiet; }
    bool Quiet() const { return Quiet_; }
    // A note or a summary on stderr, one line, unless quiet.
    void Note(const QString& text);
    // Bytes as they are on stdout (a file's encoding kept), after what was written before.
    void Bytes(const QByteArray& bytes);
    QTextStream& Out() { return Out_; }
    // True once a write to stdout failed (a full disk, a closed output): a command that writes
    // on and on stops there.
    bool Failed();
    // The exit code to end with: `exit`, or ExitLine with the reason on stderr when anything
    // written to stdout did not reach it (checked after the last flush).
    int Finish(int exit);

private:
    bool Json_;
    bool Quiet_ = false;
    QTextStream Out_;
    QTextStream Err_;
    bool Failed_ = false;
    int FailedErrno_ = 0;
    int Objects_ = 0;
};

// The gauge a session talks to, for the objects of read, watch and monitor: its system address
// and plant number from the signature read once at the start (the plant number null and the
// address the one asked for when it could not be read; null for the broadcast address 255).
struct TCliGauge {
    QJsonValue Address;
    QJsonValue PlantNumber;
    void AddTo(QJsonObject& object) const;
};

class TCliSession {
public:
    // Opens the port of the settings (or --port, --baud) for the gauge at --address (255 when
    // not given). Open() false: the port did not open, OpenError() says which and why.
    explicit TCliSession(const TCliRequest& request);
    ~TCliSession();
    bool Open();
    QString OpenError() const { return OpenError_; }

    TUlmar& Ulmar() const { return *Ulmar_; }
    TDeviceLink& Link() const { return *Link_; }
    TGaugeCommands& Commands() const { return *Commands_; }
    TQuietCommandUi& Ui() { return Ui_; }
    // The last exchange as it went on the line: the frame with its checksum, and the answer.
    QByteArray LastFrame() const { return LastFrame_; }
    QByteArray LastAnswer() const { return LastAnswer_; }
    // Commit frames (to ROM) that went on the line.
    int CommitsSent() const { return CommitsSent_; }

private:
    const TCliRequest& Request_;
    std::unique_ptr<TUlmar> Ulmar_;
    std::unique_ptr<TDeviceLink> Link_;
    TQuietCommandUi Ui_;
    std::unique_ptr<TGaugeCommands> Commands_;
    QString OpenError_;
    QByteArray LastFrame_;
    QByteArray LastAnswer_;
    int CommitsSent_ = 0;
};

// Reads the signature once (with --json only: the text stays as it was) for read, watch and
// monitor.
TCliGauge CliIdentifyGauge(const TCliRequest& request, TCliSession& session);
// A gauge of watch and monitor --addresses as its objects name it: its address, and its plant
// number once its signature was read while polling.
TCliGauge CliLineGauge(TDeviceLink& link, quint8 address);

// The commands that talk to the gauge; each returns the exit code.
int CliRead(const TCliRequest& request, TCliSession& session, TCliOutput& out,
            const TCliGauge& gauge);
int CliWatch(const TCliRequest& request, TCliSession& session, TCliOutput& out,
             const TCliGauge& gauge);
int CliParamsRead(const TCliRequest& request, TCliSession& session, TCliOutput& out);
// The parameter set of a file, checked before the port opens (a bad file is exit code 3).
bool CliLoadParamFile(const TCliRequest& request, TUlmar& into, QString& error);
int CliParamsWrite(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                   const TUlmar& wanted);
int CliParamsDiff(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                  const TUlmar& wanted);
int CliSignature(const TCliRequest& request, TCliSession& session, TCliOutput& out);
// raw: whether the code may be sent as asked (checked before the port opens); empty when so.
QString CliRawRefusal(const TCliRequest& request);
int CliRaw(const TCliRequest& request, TCliSession& session, TCliOutput& out);
