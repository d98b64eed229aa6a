#pragma once
// The gauge's command sequences without a window: one command with repeats, a parameter read,
// write then commit to ROM, read all, write all, write and read back, the signature, the zero
// array and the boot loader. Progress, messages and questions go through ICommandUi, so the
// main window shows its progress window and message boxes while ulmar-cli and the tests run the
// same code without a widget.
// User-interface thread only (the thread that built the device link): every exchange goes
// through TDeviceLink::RequestExecUlmar and every change of the device object through
// TDeviceLink::EditDevice, so a poll cycle may run meanwhile.

#include "uCommandTable.h"
#include "uParamTable.h"
#include "uRequestDevices.h"
#include "uStopSignals.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TUlmar;

// How a sequence reports and asks. Called on the thread that runs the commands.
class ICommandUi {
public:
    virtual ~ICommandUi() = default;
    // A step of a long command: text, position 1..total; a display that is already up keeps
    // its first text and total.
    virtual void Progress(const QString& text, int position, int total) = 0;
    virtual void ProgressDone() = 0;
    // A warning to acknowledge (a failed command: "Не выполнена команда" and its hint).
    virtual void Warn(const QString& text) = 0;
    // A yes/no question whose default answer is No; true for Yes.
    virtual bool Ask(const QString& text) = 0;
    // Information to acknowledge, with its caption (the signature).
    virtual void Inform(const QString& caption, const QString& text) = 0;
    // The device object changed: show it again.
    virtual void Refresh() = 0;
    // The program is closing: the long sequences stop at their next check, a retry routine
    // before its next attempt, and nothing more is committed to ROM.
    virtual bool Closing() const = 0;
    // While set, the commit to ROM that follows each write waits for the end of a group of
    // writes, which commits once.
    virtual bool CommitDeferred() const = 0;
    virtual void SetCommitDeferred(bool deferred) = 0;
    // A pause the gauge needs between two steps (the zero array's start before its first
    // block). Without a display the thread sleeps; a window keeps its event loop running.
    virtual void Wait(int ms);
};

// Without anyone to ask: no progress, questions get their default (No), warnings and
// information are kept as text. A stop signal (Ctrl+C, SIGTERM in ulmar-cli) is its closing:
// the long sequences stop at their next check and commit nothing.
class TQuietCommandUi : public ICommandUi {
public:
    void Progress(const QString&, int, int) override {}
    void ProgressDone() override {}
    void Warn(const QString& text) override { Warnings << text; }
    bool Ask(const QString& text) override {
        Questions << text;
        return false;
    }
    void Inform(const QString& caption, const QString& text) override {
        Information << caption + QLatin1Char('|') + text;
    }
    void Refresh() override {}
    bool Closing() const override { return StopSignalReceived(); }
    bool CommitDeferred() const override { return Deferred_; }
    void SetCommitDeferred(bool deferred) override { Deferred_ = deferred; }

    QStringList Warnings;
    QStringList Questions;
    QStringList Information;

private:
    bool Deferred_ = false;
};

// What a step came to: the parser took an answer, an answer came that was refused (an error
// answer, or one the parser did not take), or nothing came back at all.
enum class TOutcome { Accepted, Refused, NoAnswer };

struct TCommandOptions {
    int Attempts = 5;
    // Also repeat a command whose answer the parser refused (a checksum error); the window
    // repeats only when nothing or an error answer came back.
    bool RetryUntilAccepted = false;
};

struct TSignature {
    quint8 SystemAddress = 0;
    quint8 UnitType = 0;
    quint16 PlantNumber = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
};

struct TParamOutcome {
    const TParamRow* Row = nullptr;
    TOutcome Outcome = TOutcome::NoAnswer;
};

// The steps of a bulk sequence as they ran.
struct TBulkReport {
    bool Stopped = false; // the program closed meanwhile
    std::vector<TParamOutcome> Steps;
    bool SignatureRan = false; // read all
    TOutcome Signature = TOutcome::Accepted;
    // Write all and write-and-verify only. A write that failed stops the group and nothing is
    // committed: Commit is then Refused and CommitSkipped true.
    TOutcome Commit = TOutcome::Accepted;
    bool CommitSkipped = false;
    // Write and verify: rows whose written value is not what the gauge reads back, could not be
    // read back, or was not written because an earlier write failed.
    std::vector<const TParamRow*> NotTaken;
    // Write and verify: the rows of NotTaken whose value was not read back (the gauge's value
    // is unknown, the device object holds the written one).
    std::vector<const TParamRow*> NotReadBack;

    // Steps ran and none got an answer: the line or the gauge is silent.
    bool Silent() const;
    // Some step got no answer.
    bool AnyNoAnswer() const;
    bool AllAccepted() const;
};

enum class TZeroReadEnd { Done, StartFailed, Closing };

class TGaugeCommands {
public:
    TGaugeCommands(TDeviceLink* link, ICommandUi& ui, const TCommandOptions& options = {});
    // Detaches the signature handler that a failed signature read left on the device object.
    ~TGaugeCommands();
    TGaugeCommands(const TGaugeCommands&) = delete;
    TGaugeCommands& operator=(const TGaugeCommands&) = delete;

    TUlmar* Ulmar() const;
    TDeviceLink* Link() const { return Link_; }
    ICommandUi& Ui() const { return Ui_; }

    // Changes the device object between two exchanges (under the exchange lock).
    bool Edit(const std::function<void(TUlmar&)>& edit);

    // The retry routine: up to `attempts` exchanges behind the progress ("Повтор команды " +
    // text); true at the first answer (accepted one with RetryUntilAccepted). The report is
    // the last exchange's.
    bool Repeat(int code, const QString& text, int attempts, TExchangeReport* report = nullptr);
    bool Repeat(int code, const QString& text, TExchangeReport* report = nullptr);
    // One exchange, no retry and no message; then a refresh.
    TOutcome Once(int code);

    // A read with retries; a failure is reported with the hint, a success sets the value
    // ranges from dist.1 and dist.2 when asked, then refreshes.
    TOutcome ReadCode(int code, const QString& hint, bool updateRanges = false);
    // A parameter's Read action: as ReadCode, and dist.1 and dist.2 set the value ranges.
    TOutcome ReadParam(const TParamRow& row);
    // A parameter's Write action: the write with retries, then (unless deferred) the commit.
    TOutcome WriteParam(const TParamRow& row);
    // The commit to ROM, unless deferred; then a refresh.
    TOutcome Commit();
    // The signature: the information box comes from the parse; its values go to `signature`.
    TOutcome ReadSignature(TSignature* signature = nullptr);
    // The address change (code 9) with the plant number and new address already in the device
    // object, then the signature.
    TOutcome WriteSystemAddress();
    // The plant number write (code 29) with PlantNumberNew set, the commit, the signature.
    TOutcome WritePlantNumber();

    // Signature, then the bulk read set; a refresh at the end.
    TBulkReport ReadAll(bool factory);
    // The bulk write set with one commit at the end (the question is the caller's). The first
    // write that fails ends the group without a commit, so the gauge's ROM keeps its whole
    // former set.
    TBulkReport WriteAll(bool factory);
    // Writes the rows with the values of `wanted`, commits once, reads them back and lists
    // those that do not read back as written. As WriteAll, a failed write ends the group
    // without a commit and without the read-back; it and the rows after it are not taken.
    TBulkReport WriteAndVerify(const std::vector<const TParamRow*>& rows, const TUlmar& wanted);
    // The rows' Read actions in turn (no signature); a refresh at the end. With stopWhenSilent
    // the reads end at the first one that got no answer at all.
    TBulkReport ReadRows(const std::vector<const TParamRow*>& rows, bool stopWhenSilent = false);

    // The gauge's plant number for the files named after it: the device object's, or, when it
    // holds none (0, no signature came yet), the signature's, asked for once without a box;
    // none when the signature did not come.
    std::optional<quint16> KnownPlantNumber();

    // Start command, the blocks the first one announces, stop command.
    TZeroReadEnd ReadZeroArray();
    // The switch to the boot loader (the question is the caller's); true when it answered.
    bool BootLoader();

    // "Не выполнена команда" and the hint, as every failure is reported.
    static QString FailureText(const QString& hint);
    // The signature's five lines as the information box shows them.
    static QString SignatureText(const TSignature& signature);

private:
    struct TSignatureHandler;
    // Writes the rows in turn with the commit deferred; false at the first write that failed
    // or when the program closes (report.Stopped).
    bool WriteGroup(const std::vector<const TParamRow*>& rows, TBulkReport& report);
    // The group's commit is not sent: the report says so and the user is told.
    void SkipCommit(TBulkReport& report);
    TOutcome Outcome(bool ok, const TExchangeReport& report) const;
    bool RepeatZeroBlockRead();

    TDeviceLink* Link_;
    ICommandUi& Ui_;
    TCommandOptions Options_;
    TSignature LastSignature_;
    bool SignatureSeen_ = false;
    bool HandlerLeft_ = false; // a failed signature read left its handler attached
};
