#pragma once
// The system's one serial port: its settings file, opening and closing, and one exchange at a
// time in the gauge's line discipline (address byte with mark parity, the rest with space
// parity, CRC-16) or the КАЛИСТ-1's (no parity, CRC-8).
// Usable from either thread under the request cycle's exchange lock; takes no lock itself.
// OnExchange and OnMessage are called on the calling thread.

#include "uSerialPosix.h"
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

// Port settings as the settings file holds them (texts of the fixed choices).
struct TTransmitterSettings {
    QString Port = DefaultPortName();
    QString BaudRate = QStringLiteral("9600");    // one of BaudRateNames()
    int CustomBaudRate = 9600;                    // used only when BaudRate is "Custom"
    QString DataBits = QStringLiteral("8");       // one of DataBitsNames()
    QString StopBits = QStringLiteral("1");       // one of StopBitsNames()
    QString Parity = QStringLiteral("None");      // one of ParityNames()
    QString FlowControl = QStringLiteral("None"); // one of FlowControlNames()
    int ReadInterval = 50;
    int ReadTotalConstant = 150;
    int ReadTotalMultiplier = 2;
    int WriteTotalConstant = 100;
    int WriteTotalMultiplier = 2;
    // End of a gauge answer: false, after the inter-byte silence (ReadInterval); true, as soon
    // as the bytes that its length byte announces are in and their checksum holds (the
    // КАЛИСТ-1's fixed 8 bytes with their CRC-8), falling back to the silence otherwise.
    // Key "EndByLength", 0 or 1; a file without the key means false.
    bool EndByLength = false;

    // "COM1" on Windows, "/dev/ttyS0" elsewhere.
    static QString DefaultPortName();
    static const QStringList& BaudRateNames();    // "Custom", "110", … "256000"
    static const QStringList& DataBitsNames();    // "5" … "8"
    static const QStringList& StopBitsNames();    // "1", "1.5", "2"
    static const QStringList& ParityNames();      // "None", "Odd", "Even", "Mark", "Space"
    static const QStringList& FlowControlNames(); // "Hardware", "Software", "None", "Custom"

    TSerialTimeouts Timeouts() const;
    // The port and the rate as the user sees them in a message: "/dev/ttyUSB0, 9600 бод".
    QString LineText() const;
    // The port's settings; "Custom" flow control opens the port without flow control.
    TSerialPortSettings PortSettings() const;
};

// What the link window shows of the port: whether it is open, why it is not, and what the
// device refused of the settings.
struct TPortStatus {
    bool Open = false;
    // Empty while the port works; otherwise "Ошибка активации порта :" + name, a line break and
    // the reason in Russian (the same text as the message box and the request log).
    QString Error;
    bool ParityApplied = true; // false: the device refused mark/space parity
    int RequestedBaud = 0;
    int EffectiveBaud = 0; // 0: not known
    // DefaultPortNote: the port is the default because no settings named one; else empty.
    QString DefaultNote;
};

// The operating system's reason why a port could not be opened or was lost, in Russian, for the
// error number: no such device, no permission (naming the group that owns the device file),
// busy, or the system's own text.
QString PortErrorReason(int error, const QString& portName);

// The length rule of a gauge answer to `request` (the frame as sent) read with up to `count`
// bytes: Complete when the bytes are exactly address, command, length byte L, L - 1 payload
// bytes and a CRC-16 that holds, from the addressed gauge (any, for address 255) and with the
// request's command byte or the error answer's 0xFA (6 bytes); More while a frame with a
// plausible length byte is still arriving; Silence for anything else (a length byte of 0 or
// one that announces more than the read takes, a wrong checksum, surplus bytes).
TAnswerEnd GaugeAnswerEnd(const QByteArray& request, const QByteArray& bytes, int count);
// The КАЛИСТ-1's answer: Complete at exactly 8 bytes whose last is the CRC-8 of the others,
// More below 8, Silence otherwise (a longer answer is left to the silence rule).
TAnswerEnd KalistAnswerEnd(const QByteArray& bytes);
constexpr int KalistAnswerSize = 8;

class TTransmitter {
public:
    // (sender, frame as sent with its checksum or empty, answered, answer bytes)
    using TExchangeEvent = std::function<void(TTransmitter* sender, const QByteArray& request,
                                              bool answered, const QByteArray& answer)>;
    // (caption, text): an error message box for the operator.
    using TMessageEvent = std::function<void(const QString& caption, const QString& text)>;

    static constexpr int GaugeReadCount = 140;
    static constexpr int KalistReadCount = 70;

    // A null port gives the platform's serial port. The settings file path
    // JoinPath(StartIniDir(), "ComPort.ini") is fixed here.
    explicit TTransmitter(std::unique_ptr<ISerialPort> port = {});
    ~TTransmitter();
    TTransmitter(const TTransmitter&) = delete;
    TTransmitter& operator=(const TTransmitter&) = delete;

    QString Name = QStringLiteral("Transmitter"); // also the settings file's section
    const QString& SettingsFile() const { return SettingsFile_; }

    const TTransmitterSettings& Settings() const { return Settings_; }
    // New line settings take effect at the next OpenPort; time-outs at once.
    void SetSettings(const TTransmitterSettings& settings);

    // Reads every key of section "Transmitter" (texts without regard to case; unknown texts
    // read as "9600", "8", "1", "None", "Custom"; a missing key keeps the current value except
    // the five time-outs, which fall back to 50/150/2/100/2). Throws std::runtime_error when
    // the file exists but cannot be read.
    void LoadSettings();
    // Writes every key ("CustomBaudRate" only for the "Custom" rate); false on failure.
    bool SaveSettings();

    // Whether the port in force was chosen: named by the settings file (loaded or saved) or
    // given for this run (NotePortChosen). False while the default name is used because
    // nothing named a port.
    bool PortConfigured() const { return PortConfigured_; }
    // A port given for this run only (a command line's --port, the built-in simulator).
    void NotePortChosen() { PortConfigured_ = true; }
    // "порт не задан в настройках, используется /dev/ttyS0 (по умолчанию)" while no port is
    // configured; empty otherwise.
    QString DefaultPortNote() const;

    // Opens the port with the current settings (an open port is reopened). On failure calls
    // OnMessage("Внимание", "Ошибка активации порта :" + port name + "\n" + the reason) and
    // returns false. A quiet open records the error without the message.
    bool OpenPort(bool quiet = false);
    // Closes the port; never throws; true when the port is closed afterwards.
    bool ClosePort() noexcept;
    bool IsOpen() const;

    // One gauge exchange: CRC-16 appended when appendChecksum, buffers discarded, address byte
    // with mark parity, drain (bounded by the write time-out), >= 3 ms gap, the rest with space
    // parity, read up to count bytes, buffers discarded, OnExchange. Returns whether any byte
    // came back. With EndByLength the read ends as GaugeAnswerEnd allows, and bytes that still
    // trail an answer so ended are let pass and dropped before the next request. A closed port
    // (never opened, or lost with its device) is reopened quietly first; a port lost during the
    // exchange is closed and reported once through OnMessage. Throws std::runtime_error when the
    // port cannot be opened or fails.
    bool SendString(const QByteArray& request, QByteArray& answer, bool appendChecksum,
                    int count = GaugeReadCount);
    // One КАЛИСТ-1 exchange: CRC-8 appended when appendChecksum, no parity, buffers discarded,
    // whole frame written, read up to count bytes, OnExchange. Throws as SendString.
    bool SendKalist(const QByteArray& request, QByteArray& answer, bool appendChecksum,
                    int count = KalistReadCount);

    // Whether the last exchange's answer ended by the length rule (the rule was on and the
    // answer is one complete frame).
    bool LastEndedByLength() const { return LastByLength_; }

    ISerialPort* Port() const { return Port_.get(); }
    // Timings of the last exchange's answer in ms: end of the request (its last write
    // returned) → first answer byte, first → last answer byte; -1 when no answer came or the
    // port does not tell. The thread of the exchange, under the exchange lock.
    double LastDelayMs() const { return LastDelayMs_; }
    double LastDurationMs() const { return LastDurationMs_; }
    // Any thread.
    TPortStatus PortStatus() const;

    // The drain of the address byte: waits until the driver's queue is empty and the byte has
    // left the line, within the write time-out of `bytes` bytes. Throws std::runtime_error at
    // the time-out, so the exchange ends with the transmit error instead of hanging.
    void DrainBounded(qsizetype bytes);

    // Called on the thread of the exchange or of OpenPort; the handler moves it to the
    // user-interface thread if it must.
    TExchangeEvent OnExchange;
    TMessageEvent OnMessage;

private:
    enum class TReport { Quiet, Once, Always };
    // Records a failure to open or a lost port and reports it through OnMessage: Always, Once
    // until the port works again, or not at all.
    void PortFailed(int error, TReport report);
    void PortWorks();
    // A closed port is opened quietly; throws when that fails.
    void EnsureOpen();
    // The device went away during an exchange: closed, asked again at once, reported once.
    void PortLost(int error);
    // Before a request, after a read that the length rule ended.
    void DiscardTrailing();
    // Takes the answer's timings from the port, the request having ended at `sent`.
    void NoteAnswerTimes(std::chrono::steady_clock::time_point sent);

    std::unique_ptr<ISerialPort> Port_;
    TTransmitterSettings Settings_;
    QString SettingsFile_;
    bool PortConfigured_ = false;
    double LastDelayMs_ = -1;
    double LastDurationMs_ = -1;

    mutable std::mutex StatusMutex_; // guards the three fields below
    bool Open_ = false;
    QString PortError_;
    bool Reported_ = false; // the current failure was reported
    bool LastByLength_ = false;
};

// The 3 ms gap after the address byte: a sleep on the monotonic clock, never shorter.
void WaitAddressGap();
