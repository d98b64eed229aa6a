#pragma once
// The serial-port interface that the transport drives, and its POSIX termios implementation.
// One thread at a time: the caller (the transport under the exchange lock) serialises calls.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

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

struct TSerialPortSettings {
    QString Port;
    int BaudRate = 9600; // bits per second; any positive rate
    int DataBits = 8;    // 5 to 8
    TSerialStopBits StopBits = TSerialStopBits::One;
    TSerialParity Parity = TSerialParity::None;
    TSerialFlowControl FlowControl = TSerialFlowControl::None;
    TSerialTimeouts Timeouts;
};

class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    // Opens and configures the port; an open port is closed first.
    // Throws std::runtime_error when the port cannot be opened or configured.
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
    // Waits until every written byte has left the port. Throws std::runtime_error on an error.
    virtual void Drain() = 0;
    // Reads up to count bytes within the read time-outs and returns what arrived (possibly
    // nothing). Throws std::runtime_error on a port error, a vanished device or a closed port.
    virtual QByteArray Read(int count) = 0;
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
    void Drain() override;
    QByteArray Read(int count) override;

    // The baud rate the device was actually set to (the nearest standard rate on platforms
    // without arbitrary rates).
    int EffectiveBaudRate() const { return EffectiveBaud_; }
    // False when the device refused the last parity change (for example a pseudo-terminal).
    bool ParityApplied() const { return ParityApplied_; }

private:
    void CheckOpen(const char* operation) const;
    [[noreturn]] void Fail(const char* operation, int error) const;

    int Fd_ = -1;
    QString PortName_;
    TSerialTimeouts Timeouts_;
    std::atomic<TSerialParity> Parity_{TSerialParity::None}; // read by the link window
    bool ParityApplied_ = true;
    int EffectiveBaud_ = 0;
};

// The platform's serial port: a TPosixSerialPort.
std::unique_ptr<ISerialPort> MakeSystemSerialPort();
