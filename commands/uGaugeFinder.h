#pragma once
// The gauge finder: which baud rate and address a gauge of unknown settings answers at. Each
// rate of the port settings' list is tried, fastest first: a signature request to address 255,
// which every gauge answers whatever its own address; where anything came back (a signature,
// or the garble of several gauges answering together), the bus scan over a small address range
// tells the gauges of that rate apart. Rates where address 255 stays silent cost one short
// exchange each, so the whole list is covered in seconds rather than minutes.
// The port settings the link was found with are put back at the end (the settings file is
// never written); the caller applies a found rate itself. Polling is paused meanwhile, and the
// device object's identity is kept as the bus scan keeps it.
// User-interface thread only (the thread that built the device link).

#include "uBusScan.h"
#include "uGaugeCommands.h"
#include "uPollControl.h"
#include "uTransmitter.h"

#include <QString>
#include <functional>
#include <vector>

// One gauge found: the rate it answered at and its signature.
struct TFoundGauge {
    int BaudRate = 0;
    QString BaudRateName; // the rate as the port settings name it ("19200")
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
    std::vector<TFinderRate> Rates; // in the order tried
    std::vector<TFoundGauge> Gauges;
};

class TGaugeFinder {
public:
    // The default scan range at a rate where address 255 answered: a line of up to 16 gauges
    // numbered from 1, and address 0; a wider line is named by the caller.
    static constexpr int DefaultFrom = 0;
    static constexpr int DefaultTo = 16;

    // poll: the polling to pause during the job (null: none to pause).
    TGaugeFinder(TGaugeCommands& commands, IPollControl* poll);

    // The rates tried, fastest first: the port settings' list without "Custom".
    static std::vector<int> Rates();
    // The settings of one try: the link's own settings with the rate and time-outs short enough
    // for a signature at that rate (the answer's time on the line and a margin for the gauge's
    // delay), and the end of an answer by its length.
    static TTransmitterSettings TrySettings(const TTransmitterSettings& base, int baud);

    // Tries the rates in order (all of Rates() when `rates` is empty). progress(rate index,
    // status) comes before each rate and each address and may call Stop(). OnGauge is called
    // with each gauge as it is found.
    TFinderReport Find(int from = DefaultFrom, int to = DefaultTo,
                       const std::vector<int>& rates = {},
                       const std::function<void(int index, const QString& status)>& progress = {});
    void Stop() { StopFlag_ = true; }
    // Also asked before every request (a signal handler's flag); may be empty.
    std::function<bool()> StopCheck;
    std::function<void(const TFoundGauge&)> OnGauge;

    // The settings to apply for a found gauge: `base` with its rate (a rate outside the list
    // as "Custom").
    static TTransmitterSettings SettingsFor(const TTransmitterSettings& base,
                                            const TFoundGauge& gauge);
    // "19200 бод, адрес 3: заводской номер 1003, тип 17, АВ 1, ПВ 3"
    static QString GaugeText(const TFoundGauge& gauge);

private:
    bool Stopping() const;
    // Closes the port and opens it with the settings, between two exchanges; false when it did
    // not open.
    bool UsePort(const TTransmitterSettings& settings, bool reopen);
    void TryRate(int baud, int from, int to, TFinderReport& report,
                 const std::function<void(const QString&)>& status);

    TGaugeCommands& Commands_;
    IPollControl* Poll_;
    bool StopFlag_ = false;
};
