#pragma once
// The serial-port interface that the transport drives, and its POSIX termios implementation.
// One thread at a time: the caller (the transport under the exchange lock) serialises calls.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>

enum class TSerialParity { None, Odd, Even, Mark, Space };
enum class TSerialStopBits { One, OnePointFive, Two };
enum class TSerialFlowControl { None, Hardware, Software };

// Read and write time-outs in ms, with the semantics of the transport's settings:
// a read of n bytes ends at n bytes, after more than ReadInterval ms between two received
// bytes (from the first byte on), or ReadTotalConstant + ReadTotalMultiplier * n ms after it
// began; a write of n bytes fails after WriteTotalConstant + WriteTotalMultiplier * n ms.
struct TSerialTimeouts {
    int ReadInterval = 50;
    int ReadTotalConstant = 150;
    int ReadTotalMultiplier = 2;
    int WriteTotalConstant = 100;
    int WriteTotalMultiplier = 2;
};

// A read or write whose time-outs add up to 0 still ends after this long, so that no exchange
// hangs: the fallback of every time-out.
constexpr int SerialSafetyLimitMs = 60000;

// The bound of a write of `bytes` bytes, and of waiting for them to leave the port:
// WriteTotalConstant + WriteTotalMultiplier * bytes, the fallback when that is 0 or less, never
// more than the fallback.
int SerialWriteLimitMs(const TSerialTimeouts& timeouts, qsizetype bytes);

// A port failure with the operating system's error number (0 when there is none: a time-out,
// a device that hung up). Gone: the device itself went away (unplugged adapter, closed
// pseudo-terminal); the port must be closed and opened again.
class TSerialError : public std::runtime_error {
public:
    TSerialError(const std::string& text, int error, bool gone = false)
        : std::runtime_error(text), Error(error), Gone(gone) {}
    int Error;
    bool Gone;
};

struct TSerialPortSettings {
    QString Port;
    int BaudRate = 9600; // bits per second; any positive rate
    int DataBits = 8;    // 5 to 8
    TSerialStopBits StopBits = TSerialStopBits::One;
    TSerialParity Parity = TSerialParity::None;
    TSerialFlowControl FlowControl = TSerialFlowControl::None;
    TSerialTimeouts Timeouts;
};

// What the bytes read so far say about the end of an answer: More (not complete yet, the
// silence rule still runs), Complete (a whole frame: the read may end once the line stays
// quiet for a few character times) or Silence (the bytes cannot be judged by their length:
// the read ends by the silence rule alone, as without a rule).
enum class TAnswerEnd { More, Complete, Silence };
using TAnswerEndRule = std::function<TAnswerEnd(const QByteArray& bytes)>;

// The quiet time after a complete frame before a read ends by the length rule: 3.5 character
// times of 11 bits at the rate, at least 2 ms, never more than the inter-byte time-out (when
// there is one).
int AnswerQuietUs(int baudRate, int readIntervalMs);

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens and configures the port; an open port is closed first.
    // Throws TSerialError when the port cannot be opened or configured.
    virtual void Open(const TSerialPortSettings& settings) = 0;
    // Closes the port; closing a closed port does nothing.
    virtual void Close() noexcept = 0;
    virtual bool IsOpen() const = 0;
    // Takes effect for reads and writes that start afterwards.
    virtual void SetTimeouts(const TSerialTimeouts& timeouts) = 0;
    // Parity of the next byte written; the caller drains before changing it mid-frame.
    // Throws std::runtime_error on a closed port or a port error.
    virtual void SetParity(TSerialParity parity) = 0;
    // The parity last requested (also when the device could not apply it).
    virtual TSerialParity Parity() const = 0;
    // Discards the input and the output buffer. Throws std::runtime_error on a closed port.
    virtual void Purge() = 0;
    // Writes all bytes within the write time-out. Throws std::runtime_error on an error, a
    // time-out or a closed port.
    virtual void Write(const QByteArray& bytes) = 0;
    // Bytes written but still waiting in the driver's output queue; -1 when the port cannot
    // tell. Throws std::runtime_error on a vanished device or a closed port.
    virtual int OutputQueued() = 0;
    // Waits, at most timeoutMs, until the last written byte has left the line (the driver's
    // queue is already empty). False at the time-out. Throws std::runtime_error on an error.
    virtual bool WaitTransmitted(int timeoutMs) = 0;
    // Reads up to count bytes within the read time-outs and returns what arrived (possibly
    // nothing). Throws std::runtime_error on a port error, a vanished device or a closed port.
    virtual QByteArray Read(int count) = 0;
    // As Read, and the read also ends as soon as rule says Complete and no further byte
    // arrives within AnswerQuietUs; a byte in that time, or Silence, leaves the rest of the read
    // to the time-outs. A port without its own implementation reads as Read does.
    virtual QByteArray ReadAnswer(int count, const TAnswerEndRule& rule) {
        (void)rule;
        return Read(count);
    }
    // Discards the input; when bytes were waiting, goes on discarding until none has come for
    // quietMs, at most limitMs in all (bytes that still trail an answer). Throws as Purge.
    virtual void DiscardTrailing(int quietMs, int limitMs) {
        (void)quietMs;
        (void)limitMs;
        Purge();
    }
    // False when the device refused the last parity change (a pseudo-terminal, an adapter
    // without mark/space parity). Any thread.
    virtual bool ParityApplied() const { return true; }
    // The rate the device was set to at the last Open; 0 when not known. Any thread.
    virtual int EffectiveBaudRate() const { return 0; }
    // Steady-clock times of the first and the last byte the last Read returned; both empty
    // when it returned nothing or the port does not keep them (the exchange monitor's timings).
    struct TReadTimes {
        std::chrono::steady_clock::time_point First{}, Last{};
    };
    virtual TReadTimes LastReadTimes() const { return {}; }
};

// Serial port on a POSIX terminal device (termios). Mark and space parity use CMSPAR; a rate
// that is not a standard termios rate is set with the Linux termios2 BOTHER call where the
// platform has it, otherwise the nearest standard rate is used. A device that refuses a
// parity setting (a pseudo-terminal carries no parity bit) keeps working without it.
// A vanished device (EIO, ENXIO, hang-up) makes the operations throw; Open works again later.
class TPosixSerialPort : public ISerialPort {
public:
    TPosixSerialPort() = default;
    ~TPosixSerialPort() override;
    TPosixSerialPort(const TPosixSerialPort&) = delete;
    TPosixSerialPort& operator=(const TPosixSerialPort&) = delete;

    void Open(const TSerialPortSettings& settings) override;
    void Close() noexcept override;
    bool IsOpen() const override { return Fd_ >= 0; }
    void SetTimeouts(const TSerialTimeouts& timeouts) override { Timeouts_ = timeouts; }
    void SetParity(TSerialParity parity) override;
    TSerialParity Parity() const override { return Parity_; }
    void Purge() override;
    void Write(const QByteArray& bytes) override;
    int OutputQueued() override;
    // The line status register's "transmitter empty" where the driver reports it; otherwise
    // tcdrain, interrupted by a timer signal at the time-out, so that flow control holding the
    // port back can never block the exchange for ever.
    bool WaitTransmitted(int timeoutMs) override;
    QByteArray Read(int count) override;
    QByteArray ReadAnswer(int count, const TAnswerEndRule& rule) override;
    void DiscardTrailing(int quietMs, int limitMs) override;

    // The baud rate the device was actually set to (the nearest standard rate on platforms
    // without arbitrary rates).
    int EffectiveBaudRate() const override { return EffectiveBaud_; }
    bool ParityApplied() const override { return ParityApplied_; }
    TReadTimes LastReadTimes() const override { return ReadTimes_; }

private:
    void CheckOpen(const char* operation) const;
    [[noreturn]] void Fail(const char* operation, int error) const;

    static void ReleaseAndClose(int fd) noexcept;

    int Fd_ = -1;
    QString PortName_;
    TSerialTimeouts Timeouts_;
    std::atomic<TSerialParity> Parity_{TSerialParity::None}; // read by the link window
    std::atomic<bool> ParityApplied_{true};                  // read by the link window
    std::atomic<int> EffectiveBaud_{0};
    int Baud_ = 9600; // the rate of the open port, for the time of one character
    TReadTimes ReadTimes_;
};

// The platform's serial port: a TPosixSerialPort.
std::unique_ptr<ISerialPort> MakeSystemSerialPort();
