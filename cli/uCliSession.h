#pragma once
// What ulmar-cli prints and the gauge link it talks through. The link is the window program's
// (TDeviceLink over the same settings files: INI/ComPort.ini of the working directory), and the
// commands are the command layer's (TGaugeCommands) with a quiet face.
// Main thread only (it plays the user-interface thread of the link).

#include "cli/uCliArgs.h"
#include "commands/uGaugeCommands.h"

#include <QJsonObject>
#include <QTextStream>
#include <memory>

class TDeviceLink;
class TUlmar;

// Plain Russian text on stdout and messages on stderr, or one JSON object per line on stdout.
class TCliOutput {
public:
    explicit TCliOutput(bool json);
    bool Json() const { return Json_; }
    void Line(const QString& text);
    void Object(const QJsonObject& object);
    // A failure: "ulmar-cli: " + text on stderr, or {"ok": false, "error": text, …} on stdout.
    void Failure(const QString& text, const QJsonObject& details = {});
    // A failure with its stable code ("badArgument", "needsYes", "unknownTable", …): as above,
    // with --json {"ok": false, "error": {"code": code, "message": text}, …}.
    void Failure(const char* code, const QString& text, const QJsonObject& details = {});
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

// The commands that talk to the gauge; each returns the exit code.
int CliRead(const TCliRequest& request, TCliSession& session, TCliOutput& out);
int CliWatch(const TCliRequest& request, TCliSession& session, TCliOutput& out);
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
