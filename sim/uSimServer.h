#pragma once
// Serves a TGaugeSim on a pseudo-terminal: a thread reads the master side, frames each request
// by its length byte (or the fixed КАЛИСТ-1 request), answers after a delay and records every
// request with its times. Start, Stop, Unplug and Replug from one controlling thread; the
// other operations from any thread.

#include "uGaugeSim.h"
#include <QByteArray>
#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One request as the simulator saw it; times in µs of TSimServer::NowUs(), -1 when not yet.
struct TSimRecord {
    QByteArray Request;
    QByteArray Answer; // as sent, empty for silence
    qint64 FirstByteUs = -1;
    qint64 LastByteUs = -1;
    qint64 AnswerStartUs = -1;
    qint64 AnswerEndUs = -1;
};

class TSimServer {
public:
    explicit TSimServer(std::unique_ptr<TGaugeSim> sim = {});
    ~TSimServer(); // stops the thread and closes the pseudo-terminal
    TSimServer(const TSimServer&) = delete;
    TSimServer& operator=(const TSimServer&) = delete;

    // Opens a pseudo-terminal and starts serving. When linkPath is given, a symbolic link to
    // the slave is made there (replacing an older link), so the port name survives Replug.
    bool Start(const QString& linkPath = {}, QString* error = nullptr);
    void Stop();
    // Closes the master side, as an adapter pulled from its socket; the client's port fails.
    void Unplug();
    // A fresh pseudo-terminal after Unplug; the link (if any) points to the new slave.
    bool Replug(QString* error = nullptr);
    bool Running() const { return Running_; }

    // The slave device's path, and the name to open: the link when there is one.
    QString SlavePath() const;
    QString PortName() const;

    // Delay between the last request byte and the answer.
    void SetAnswerDelay(int ms) { AnswerDelayMs_ = ms; }
    // Silence after which a partial request is dropped.
    void SetFrameGap(int ms) { FrameGapMs_ = ms; }
    // Line speed: 0 (the default) writes each answer at once; a rate in baud paces the answer
    // bytes as a line at that rate would carry them, 11 bits a character (byte k of an answer
    // leaves k × 11 / rate s after its first, and the answer ends n × 11 / rate s after it
    // began); LinePortRate paces at the rate the client set on the pseudo-terminal.
    static constexpr int LinePortRate = -1;
    void SetLineRate(int baud) { LineRate_ = baud; }
    int LineRate() const { return LineRate_; }
    // The rate answers are paced at now: 0 when not paced.
    int PaceRate() const;
    // A gauge set to one rate: with a rate above 0, requests arriving while the client's
    // pseudo-terminal is set to another rate are recorded and left unanswered, as a gauge
    // hears only noise at a wrong rate; 0 (the default) answers at any rate.
    void SetOnlyRate(int baud) { OnlyRate_ = baud; }
    int OnlyRate() const { return OnlyRate_; }

    // Runs f on the simulator under the server's lock (configuration, faults, state).
    void WithSim(const std::function<void(TGaugeSim&)>& f);

    // The newest requests, at most RecordLimit() (older ones are forgotten, so a simulator
    // left running for days keeps a bounded memory).
    static constexpr size_t DefaultRecordLimit = 4096;
    void SetRecordLimit(size_t limit);
    size_t RecordLimit() const;
    std::vector<TSimRecord> Records() const;
    void ClearRecords();
    // Request bytes that arrived before the previous answer had been written completely.
    int OverlapCount() const { return Overlaps_; }
    // Bytes dropped as parts of requests that never completed.
    int DroppedBytes() const { return Dropped_; }
    // Requests since the start or the last ClearRecords, forgotten ones included.
    int RequestCount() const;
    // Waits until at least n requests have been answered or left silent; false on time-out.
    bool WaitForRequests(int n, int timeoutMs) const;

    // Monotonic µs shared with the records.
    static qint64 NowUs();

private:
    struct TPending {
        QByteArray Bytes;
        qint64 DueUs = 0;
        size_t Record = 0; // absolute record number
        bool Last = true;
    };

    bool OpenPty(QString* error);
    void ClosePty();
    void Run();
    void OnBytes(const char* data, int n, qint64 nowUs);
    void Dispatch(qint64 nowUs);
    bool SendDue(qint64 nowUs);
    // Writes all bytes, paced at rate baud when it is above 0; false when the master failed.
    bool WriteAnswer(const QByteArray& bytes, int baud);

    std::unique_ptr<TGaugeSim> Sim_;
    mutable std::mutex Lock_;
    std::deque<TSimRecord> Records_;
    size_t Cleared_ = 0;   // records removed by ClearRecords or forgotten by the ring
    size_t Forgotten_ = 0; // records forgotten by the ring since the last ClearRecords
    size_t RecordLimit_ = DefaultRecordLimit;
    std::vector<TPending> Pending_; // server thread only
    QByteArray Rx_;                 // server thread only
    qint64 RxLastUs_ = 0;
    qint64 RxFirstUs_ = 0;
    qint64 StartUs_ = 0;

    int Master_ = -1;
    int Slave_ = -1; // kept open so that the master does not see a hang-up between clients
    int WakePipe_[2] = {-1, -1};
    QString SlavePath_;
    QString LinkPath_;
    std::thread Thread_;
    std::atomic<bool> Running_{false};
    std::atomic<bool> StopFlag_{false};
    std::atomic<int> AnswerDelayMs_{5};
    std::atomic<int> FrameGapMs_{100};
    std::atomic<int> LineRate_{0};
    std::atomic<int> OnlyRate_{0};
    std::atomic<int> Overlaps_{0};
    std::atomic<int> Dropped_{0};
};
