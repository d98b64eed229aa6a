#pragma once
// The gauge finder: which baud rate and address a gauge of unknown settings answers at. Each
// rate of the port settings' list is tried, fastest first: a signature request to address 255,
// which every gauge answers whatever its own address; where anything came back (a signature,
// or the garble of several gauges answering together), the bus scan over a small address range
// tells the gauges of that rate apart. Rates where address 255 stays silent cost one short
// exchange each, so the whole list is covered in seconds rather than minutes.
// One step per request (the address 255 of a rate, or one address of its scan), so that a
// window runs one step per turn of its event loop and stays responsive, while ulmar-cli and the
// tests run the same steps in a loop (Find).
// The port settings the link was found with are put back at the end (the settings file is
// never written); the caller applies a found rate itself. Polling is paused meanwhile, and the
// device object's identity is kept as the bus scan keeps it.
// User-interface thread only (the thread that built the device link).

#include "uBusScan.h"
#include "uGaugeCommands.h"
#include "uPollControl.h"
#include "uTransmitter.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One gauge found: the rate it answered at and its signature.
struct TFoundGauge {
    int BaudRate = 0;
    quint8 SystemAddress = 0;
    quint16 PlantNumber = 0;
    quint8 UnitType = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
};

// What happened at one rate.
struct TFinderRate {
    int BaudRate = 0;
    bool Answered255 = false; // bytes came back to the request to address 255
    bool Garbled255 = false;  // they were not one signature: several gauges answered
    bool PortFailed = false;  // the port would not open at this rate
    int Found = 0;            // gauges found at this rate
    QStringList Notes;        // collisions and other remarks of the scan at this rate
};

struct TFinderReport {
    QString Refusal; // the job did not start: the message for the operator
    bool Stopped = false;
    int Requests = 0;
    qint64 ElapsedMs = 0;
    int From = 0; // the scan range used where address 255 answered
    int To = 0;
    std::vector<TFinderRate> Rates; // in the order tried
    std::vector<TFoundGauge> Gauges;
    // The port's own message when it opened at none of the rates tried; empty otherwise.
    QString PortError;
    // Every rate's notes as "19200 бод: адрес 4: коллизия…", in the order tried.
    QStringList Notes() const;
};

struct TGaugeIdentity;

class TGaugeFinder {
public:
    // The default scan range at a rate where address 255 answered: a line of up to 16 gauges
    // numbered from 1, and address 0; a wider line is named by the caller.
    static constexpr int DefaultFrom = 0;
    static constexpr int DefaultTo = 16;

    // poll: the polling to pause during the job (null: none to pause).
    TGaugeFinder(TGaugeCommands& commands, IPollControl* poll);
    // A job still running is ended: the port, the device object and polling are put back.
    ~TGaugeFinder();
    TGaugeFinder(const TGaugeFinder&) = delete;
    TGaugeFinder& operator=(const TGaugeFinder&) = delete;

    // The rates tried, fastest first: the port settings' list without "Custom".
    static std::vector<int> Rates();
    // The settings of one try: `base` (its port) with the rate, the gauge's framing (8 data
    // bits, 1 stop bit, no flow control; the transmitter sets mark and space parity itself),
    // time-outs short enough for a signature at that rate (the answer's time on the line and a
    // margin for the gauge's delay), and the end of an answer by its length.
    static TTransmitterSettings TrySettings(const TTransmitterSettings& base, int baud);
    // The settings to apply for a found gauge: `base` with its rate (a rate outside the list as
    // "Custom") and the framing it answered with; time-outs as in `base`.
    static TTransmitterSettings SettingsFor(const TTransmitterSettings& base,
                                            const TFoundGauge& gauge);
    // "19200 бод, адрес 3: заводской номер 1003, тип 17, АВ 1, ПВ 3"
    static QString GaugeText(const TFoundGauge& gauge);
    // The addresses to poll for the gauge chosen among those found: every gauge found at its
    // rate, in the order found, each address once (0..254 only).
    static std::vector<quint8> LineOf(const std::vector<TFoundGauge>& found,
                                      const TFoundGauge& chosen);

    // Starts a job over `rates` (all of Rates() when empty) on the port of `port` (the port
    // settings a dialog shows before they are confirmed; null: the link's own). Checks the
    // range, pauses polling, keeps the port settings and the device object's identity.
    // Returns the refusal text (nothing started) or an empty string.
    QString Start(int from = DefaultFrom, int to = DefaultTo, const std::vector<int>& rates = {},
                  const TTransmitterSettings* port = nullptr);
    // One request: address 255 at the next rate, or the next address of the rate's scan.
    // False when the job has ended (finished, or stopped before this step sent anything); the
    // port, the device object and polling are back as they were then.
    bool Step();
    // Ends the job before the next request.
    void Stop() { StopFlag_ = true; }
    // Also asked before every request (a signal handler's flag); may be empty.
    std::function<bool()> StopCheck;
    // Called with each gauge as it is found.
    std::function<void(const TFoundGauge&)> OnGauge;

    bool Running() const { return Running_; }
    // The index in the rate list of the next step's rate, and the list's size.
    int RateIndex() const { return static_cast<int>(Index_); }
    int RateCount() const { return static_cast<int>(List_.size()); }
    // What the next step does: "19200 бод: запрос сигнатуры по адресу 255".
    QString StatusText() const;
    const TFinderReport& Report() const { return Report_; }

    // A whole job in a loop; progress(rate index, status) comes before each request and may
    // call Stop().
    TFinderReport Find(int from = DefaultFrom, int to = DefaultTo,
                       const std::vector<int>& rates = {},
                       const std::function<void(int index, const QString& status)>& progress = {},
                       const TTransmitterSettings* port = nullptr);

private:
    bool Stopping() const;
    // Closes the port and opens it with the settings, between two exchanges; false when it did
    // not open (or, with reopen false, stays closed).
    bool UsePort(const TTransmitterSettings& settings, bool reopen);
    void RestoreIdentity();
    // The request to address 255 at the rate of Index_; starts the scan when anything answered.
    void ProbeRate();
    // The scan of the rate is over: its gauges and notes.
    void EndRate();
    void AddGauge(const TSignature& s);
    void Finish();

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
    bool Running_ = false;
    bool StopFlag_ = false;
    std::vector<int> List_;
    size_t Index_ = 0;
    TTransmitterSettings Base_;     // the port searched on
    TTransmitterSettings KeptPort_; // the link's settings as they were
    bool KeptOpen_ = false;
    std::unique_ptr<TGaugeIdentity> Kept_;
    std::unique_ptr<TPollingPause> Pause_;
    std::unique_ptr<TBusScan> Scan_; // the scan of the current rate, while it runs
    std::optional<TSignature> Seen255_;
    TFinderRate Rate_; // the current rate while its scan runs
    qint64 StartMs_ = 0;
    TFinderReport Report_;
};

// Makes the chosen gauge's line the poll list (TGaugeFinder::LineOf), the chosen gauge the
// current one, and keeps the list in the settings, as the bus scan's "poll the gauges found"
// does. A gauge at 255 (no address of its own) empties the list and is polled at 255.
// False with the reason in `error` when the list was not taken (an exchange in progress) or
// not saved.
bool PollFoundGauge(TDeviceLink& link, const std::vector<TFoundGauge>& found,
                    const TFoundGauge& chosen, QString* error = nullptr);
