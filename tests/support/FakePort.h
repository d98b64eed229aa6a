#pragma once
// A serial port without a line, for the tests of the link and of the windows: it opens (or
// refuses with a given errno), keeps the parity last asked, writes nowhere and answers from a
// script, one answer per read (nothing once the script is used up). The script may be fed
// from the test's thread while the request thread reads.

#include "uSerialPosix.h"

#include <QByteArray>
#include <deque>
#include <initializer_list>
#include <mutex>

class TFakePort : public ISerialPort {
public:
    void Open(const TSerialPortSettings& s) override {
        if (FailWith)
            throw TSerialError("open", FailWith);
        Open_ = true;
        Parity_ = s.Parity;
    }
    void Close() noexcept override { Open_ = false; }
    bool IsOpen() const override { return Open_; }
    void SetTimeouts(const TSerialTimeouts&) override {}
    void SetParity(TSerialParity parity) override { Parity_ = parity; }
    TSerialParity Parity() const override { return Parity_; }
    void Purge() override {}
    void Write(const QByteArray&) override {}
    int OutputQueued() override { return 0; }
    bool WaitTransmitted(int) override { return true; }
    QByteArray Read(int) override {
        std::lock_guard lock(Mutex_);
        if (Answers_.empty())
            return {};
        QByteArray answer = Answers_.front();
        Answers_.pop_front();
        return answer;
    }
    bool ParityApplied() const override { return AppliesParity; }
    int EffectiveBaudRate() const override { return Open_ ? Baud : 0; }

    // The answers of the next reads, in order.
    void Script(std::initializer_list<QByteArray> answers) {
        std::lock_guard lock(Mutex_);
        Answers_.insert(Answers_.end(), answers);
    }

    int FailWith = 0;          // errno of a refused open; 0: the port opens
    bool AppliesParity = true; // false: a device that cannot set mark and space parity
    int Baud = 0;              // the rate the device says it runs at once open; 0: unknown

private:
    bool Open_ = false;
    TSerialParity Parity_ = TSerialParity::None;
    std::mutex Mutex_;
    std::deque<QByteArray> Answers_;
};
