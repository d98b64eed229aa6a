#pragma once
// The bus scan and the address write by plant numbers, without a window: one step per system
// address (or plant number), so that a window can run one step per turn of its event loop and
// stay responsive, while ulmar-cli and the tests run the same steps in a loop.
// Polling is stopped for a job and started again afterwards when it ran; the device object's
// address, plant number, type and versions are put back when the job ends, so the main window
// goes on polling the gauge it polled before and names its parameter file as before.
// User-interface thread only (the thread that built the device link).

#include "uGaugeCommands.h"
#include "uPollControl.h"

#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// One line of the device list: a gauge found by the scan, or a plant number of an address
// write with its outcome.
struct TScanRow {
    int Number = 0;           // running number of the row, from 1
    quint8 Asked = 0;         // the system address asked
    bool Identified = false;  // a signature came: the five fields below are the gauge's
    quint8 SystemAddress = 0; // the answer's address byte (the asked address when none)
    bool PlantKnown = false;  // identified, or the plant number an address write used
    quint16 PlantNumber = 0;
    quint8 UnitType = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
    bool Collision = false;      // garbled twice: two gauges at one address?
    bool WrongAddress = false;   // the answer came from another address than the one asked
    bool DuplicatePlant = false; // the plant number was seen at an earlier address
    bool WriteFailed = false;    // address write: skipped, not answering or not verified
    QString Note;                // the flags or the write outcome as text

    bool Flagged() const { return Collision || WrongAddress || DuplicatePlant || WriteFailed; }
};

enum class TBusJobKind { None, Scan, AddressWrite };

// What an address write came to for one plant number.
enum class TAddressWriteOutcome { Written, AlreadyThere, Skipped, NotAnswering, NotVerified };

struct TBusJobReport {
    QString Refusal; // the job did not start: the message for the operator
    bool Stopped = false;
    int Requests = 0; // requests sent
    std::vector<TScanRow> Rows;
    std::vector<TAddressWriteOutcome> Outcomes; // address write: one per row
};

struct TGaugeIdentity;

class TBusScan {
public:
    // poll: the polling to pause during a job (null: none to pause).
    TBusScan(TGaugeCommands& commands, IPollControl* poll);
    // A job still running is ended: the device object and polling are put back.
    ~TBusScan();
    TBusScan(const TBusScan&) = delete;
    TBusScan& operator=(const TBusScan&) = delete;

    // The refusal text of a range, empty when the job may run.
    static QString ScanRangeRefusal(int from, int to);
    static QString WriteRangeRefusal(int startAddress, int startPlantNumber, int count);

    // Starts a job: checks the range, stops polling, keeps the device object's identity.
    // Returns the refusal text (nothing started) or an empty string.
    QString StartScan(int from, int to);
    QString StartAddressWrite(int startAddress, int startPlantNumber, int count);

    // One address or plant number: its requests, its row. False when the job has ended
    // (finished, or stopped before this step sent anything); the device object and polling are
    // back as they were then.
    bool Step();
    // Ends the job before the next step sends a request.
    void Stop() { StopFlag_ = true; }
    // Also asked before every step (a signal handler's flag); may be empty.
    std::function<bool()> StopCheck;

    bool Running() const { return Kind_ != TBusJobKind::None; }
    TBusJobKind Kind() const { return Kind_; }
    // The address (scan) or plant number (write) of the next step, its status text, and the
    // job's first and last position.
    int Position() const { return Position_; }
    int First() const { return First_; }
    int Last() const { return Last_; }
    QString StatusText() const;

    // Called with each row as it is made.
    std::function<void(const TScanRow&)> OnRow;
    const TBusJobReport& Report() const { return Report_; }

    // Whole jobs in a loop; progress(position, status) is called before each step and may
    // call Stop().
    using TProgress = std::function<void(int position, const QString& status)>;
    TBusJobReport Scan(int from, int to, const TProgress& progress = {});
    TBusJobReport WriteAddresses(int startAddress, int startPlantNumber, int count,
                                 const TProgress& progress = {});

    static QString OutcomeText(TAddressWriteOutcome outcome);
    static QString CollisionText();

private:
    // What one address gave: nothing, a signature, or only garbled answers.
    struct TProbe {
        bool Answered = false;
        bool Garbled = false;
        std::optional<TSignature> Signature;
    };
    QString Begin(TBusJobKind kind, int first, int last);
    void Finish();
    bool Stopping() const;
    // A signature read at the address; a garbled answer is asked once more.
    TProbe Probe(quint8 address);
    // One exchange with the device object as edit left it; the signature when the parse gave
    // one.
    TExchangeReport Exchange(int code, const std::function<void(TUlmar&)>& edit,
                             std::optional<TSignature>* signature);
    void ScanStep();
    void WriteStep();
    void AddRow(TScanRow row, std::optional<TAddressWriteOutcome> outcome = std::nullopt);

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
    TBusJobKind Kind_ = TBusJobKind::None;
    int First_ = 0;
    int Last_ = -1;
    int Position_ = 0;
    int StartAddress_ = 0; // address write: the address of the first plant number
    bool StopFlag_ = false;
    std::unique_ptr<TPollingPause> Pause_;
    std::unique_ptr<TGaugeIdentity> Kept_;
    std::optional<TSignature> Seen_;   // filled by the identification event
    std::map<quint16, quint8> Plants_; // plant number → address where it was first seen
    TBusJobReport Report_;
};

// The device list as CSV: separator ";", UTF-8 with a byte order mark, a header row with the
// column titles, written through a temporary file so a failure leaves no half file. False with
// the reason in error.
bool SaveScanCsv(const QString& fileName, const std::vector<TScanRow>& rows, QString* error);
// The column titles of the device list (and of the CSV): №, address, plant number, type, the
// two versions and the note.
const QStringList& ScanColumnTitles();
// The addresses of the gauges a scan found, in the order found, for the poll list: rows with a
// signature, not marked as a collision or an answer from another address; each address once.
std::vector<quint8> FoundAddresses(const std::vector<TScanRow>& rows);
// The row's cells in the columns' order.
QStringList ScanRowCells(const TScanRow& row);
