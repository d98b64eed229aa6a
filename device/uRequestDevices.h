#pragma once
// The request cycle and the device link: poller (pacing timer, running state, poll list), serial
// transport, request thread and the exchange publisher (request log, link window, monitor),
// built at start-up and torn down at program end.
// Construct, destroy and call the public operations from the user-interface thread, except
// where a line says otherwise. Exactly one TDeviceLink exists while the program runs.
//
// Who owns what while polling runs:
// - The device object's fields and typed values, and the transmitter's settings, are read by
//   the request thread only under the exchange lock (building a request, capturing readings for
//   the archive). The parse that writes them runs under the same lock on the user-interface
//   thread. Every other write (a change dialog, a parameter file, the port settings) goes
//   through EditDevice or ApplyPortSettings, which take the lock, so it lands between two
//   exchanges, never inside one.
// - SelectedCommands, the poll list's Enabled flags and DisplayRadix are atomics: any thread.
// - ArchiveHook, LogSink and the publisher's Sink are set before polling starts and not changed
//   while the request thread lives; they must not block (they hand their work to the archive
//   writer).
// - Every exchange is published once, under the exchange lock, from the thread that ran it.

#include "Ulmar.h"
#include "uExchangePublisher.h"
#include "uGaugeSet.h"
#include "uLog.h"
#include "uPoller.h"
#include "uTransmitter.h"
#include <QString>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

// Gauge command codes polled by a gauge cycle (0 to 87; codes 0 to 80 are polled).
class TSelectedCommands {
public:
    static constexpr int Size = 88;
    bool Contains(int code) const;
    void Include(int code);
    void Exclude(int code);
    void Clear();
    std::vector<int> Codes() const; // ascending

private:
    std::array<std::atomic<bool>, Size> Flags_{};
};

class TRequestThread;

// What one gauge exchange came to, beyond RequestExecUlmar's result.
struct TExchangeReport {
    int Result = -1;       // RequestExecUlmar's result
    bool Answered = false; // bytes came back (an error answer included)
    // An answer that is not an error answer and that the parser took: no failure recorded
    // while it was parsed (checksum, length, command byte, device fault).
    bool Accepted = false;
    // The answer's command byte; -1 when fewer than two bytes came back. A sequence that must
    // tell an answer of another command from its own checks it.
    int AnswerCommand = -1;
};

// Start-up choices of the device link beyond the saved settings.
struct TDeviceLinkOptions {
    // When not empty, the transmitter opens this port instead of the saved one; the settings
    // file is not changed (the built-in simulator's pseudo-terminal).
    QString PortName;
    // Error message boxes of the transmitter ("Ошибка активации порта :" …); none by default.
    std::function<void(const QString& caption, const QString& text)> OnMessage;
    // When set, changes the loaded port settings before the port opens (a command line's port
    // and baud rate); the settings file is not changed.
    std::function<void(TTransmitterSettings& settings)> AdjustSettings;
};

class TDeviceLink {
public:
    // Start-up steps of the device link, each guarded on its own: the poller (pacing timer
    // "ctReqDevices" with its settings, stopped) and its poll list (the gauge, the current
    // meter), the exchange publisher with the request log as its sink, transmitter (settings
    // loaded, port opened), request thread (suspended), request log "rd" + yymmdd + ".txt" in
    // LogDir().
    // A null port gives the real serial port of the platform.
    TDeviceLink(TUlmar* ulmar, std::unique_ptr<ISerialPort> port = {},
                const TDeviceLinkOptions& options = {});
    // Shut-down: ticks stopped, thread ended (bounded wait), log released, port closed, poller
    // freed. False when the request thread did not end within timeoutMs: the link is then
    // still in use by that thread and must be left alive (the program leaks it at exit).
    bool Shutdown(int timeoutMs = 5000);
    // Runs Shutdown; should the thread not have ended, waits once more, bounded by the longest
    // exchange the time-outs allow (every port operation has a bound), then leaves. A thread
    // that a driver still holds after that is detached with what it uses.
    ~TDeviceLink();
    TDeviceLink(const TDeviceLink&) = delete;
    TDeviceLink& operator=(const TDeviceLink&) = delete;

    // One gauge exchange: build, send, hand the answer to the user-interface thread for the
    // parse, publish. 0 when an answer came that is not an error answer, -1 otherwise; the report,
    // when given, tells whether bytes came and whether the parser took them.
    // Any thread; exchanges never overlap (see the exclusion in the implementation).
    int RequestExecUlmar(int code, TExchangeReport* report = nullptr);
    // One КАЛИСТ-1 exchange, as above. Any thread.
    int RequestExecKalist();

    // Request thread: one poll cycle over the poller's next enabled entry; false when anything
    // failed.
    bool RunCycle();
    // The gauge entry's cycle: with an empty poll list the current gauge with every selected
    // code (as always); otherwise one round over the poll list's addresses.
    void PollUlmar();
    void PollKalist();

    // --- the gauges of the line ---
    // The device model that holds the gauge at `address`: Ulmar() for the current gauge, the
    // gauge's own model for another gauge of the poll list, null for any other address.
    // User-interface thread.
    TUlmar* GaugeModel(quint8 address) const;
    // What the exchanges with the gauge at `address` came to (all zero before the first).
    // Any thread.
    TGaugeStats GaugeStats(quint8 address) const;
    // User-interface thread: takes a poll list (addresses 0..254, in order, no repeats) between
    // two exchanges; each gauge of it gets a model of its own, and when the current gauge is
    // not in the list, its first gauge becomes the current one. An empty list polls the
    // current gauge alone. The caller keeps the list in the settings (TPoller::SaveAddresses).
    bool SetPollAddresses(const std::vector<quint8>& addresses);
    // User-interface thread: makes the gauge at `address` the current one between two
    // exchanges: the windows' model takes what is known of it, the gauge left keeps its own;
    // then Changed tells the windows. Polling of the others goes on. False for 255 or when
    // called from inside an exchange.
    bool SelectGauge(quint8 address);
    // Any thread: one reading poll (command 6) of a gauge with its own model, preceded by its
    // signature while that is unknown (a gauge silent to it is not asked for readings in the
    // same call). Archived when `archive`. 0 when the readings came.
    int PollGauge(quint8 address, TExchangeReport* report = nullptr, bool archive = false);
    // The gauge's signature (plant number, versions) has been read while it was polled from the
    // list. Any thread.
    bool SignatureKnown(quint8 address) const;

    // The poller's tick: resumes the request thread under RequestLock. A resume while a cycle
    // runs does nothing.
    void ResumeRequestThread();
    // True while a poll cycle runs or a resume is about to start one.
    bool CycleRunning() const;
    // User-interface thread: waits until the cycle in flight (if any) has ended, running the
    // queued parses meanwhile; false after timeoutMs. Stopping polling waits here before the
    // edit commands come back.
    bool WaitCycleEnd(int timeoutMs = 10000);
    // User-interface thread: changes the device object under the exchange lock, between two
    // exchanges of a running cycle. False (nothing changed) when called from inside an exchange.
    bool EditDevice(const std::function<void(TUlmar&)>& edit);
    // User-interface thread: the port settings command's last step, in one exclusive section:
    // close the port, take the settings, save them, open the port again (its message on failure).
    // False when the port did not open.
    bool ApplyPortSettings(const TTransmitterSettings& settings);
    // The longest one gauge exchange can take with the current time-outs, in ms.
    int LongestExchangeMs() const;
    // Runs the action under the exchange lock, so that no exchange of the poll cycle is on the
    // line meanwhile (the port settings command closes and reopens the port in it). Waiting for
    // the lock runs the queued parses. False, and nothing run, when called from inside an
    // exchange or a parse. User-interface thread.
    bool RunExclusive(const std::function<void()>& action);

    TUlmar* Ulmar() const { return Ulmar_; }
    // Polling: the pacing timer, the running state and the poll list. Never null.
    TPoller* Poller() const { return Poller_.get(); }
    // The exchanges as they happen (request log, link window, monitor). Never null.
    TExchangePublisher* Publisher() const { return Publisher_.get(); }
    TTransmitter* Transmitter() const { return Transmitter_.get(); }
    const TLog& RequestLog() const { return RequestLog_; }

    TSelectedCommands SelectedCommands;
    // Number base of the request log and the link window: 10 or 16; other values log nothing.
    std::atomic<int> DisplayRadix{16};
    // Called by the poll cycle under the exchange lock right after a parse that stored new
    // readings with LinkState 1 (request thread): copies them, with the gauge's plant number,
    // for the archive writer. `gauge` is the model of the gauge polled.
    std::function<void(const TUlmar& gauge, int code)> ArchiveHook;
    // When set, the request log's lines (without their time stamp) go here instead of to the
    // request log file, on the exchanging thread, in exchange order (the publisher's sink).
    std::function<void(const QString& text)> LogSink;
    // More receivers of the request log's lines besides the file (or LogSink): a service
    // session's own copy. Each is called on the exchanging thread, under the exchange lock, with
    // the line's text without its time stamp (in hexadecimal when DisplayRadix logs nothing); it
    // must not block for long. Any thread may add or remove one; once removed it is not called
    // after RemoveLogTap returns. AddLogTap returns the number that removes it.
    quint64 AddLogTap(std::function<void(const QString& text)> tap);
    void RemoveLogTap(quint64 number);
    // Called after every cycle with the polled device's name (request thread); unassigned.
    std::function<void(const QString& deviceName)> CycleDone;
    // The archive writer's trouble as the windows show it ("Архив не записывается: ..."), empty
    // while the archive is written; set at start-up, read by the windows' refresh
    // (user-interface thread). Unassigned without an archive writer.
    std::function<QString()> ArchiveStatus;
    // ArchiveStatus's text; empty when unassigned.
    QString ArchiveStatusText() const;
    // Why the link cannot poll, said once by the program at start-up (the request thread could
    // not be created); empty when it can.
    QString StartError() const { return StartError_; }

private:
    struct TParseJob;
    friend class TRequestThread;

    bool OnUiThread() const { return std::this_thread::get_id() == UiThread_; }
    // Takes the exchange lock. On the user-interface thread it runs the queued parse jobs while
    // it waits and refuses a nested exchange; elsewhere false once the link is closing.
    bool AcquireExchange(bool ui);
    void ReleaseExchange(bool ui);
    // User-interface thread, GateMutex_ held by lock: runs every queued parse job.
    void RunParseJobs(std::unique_lock<std::mutex>& lock);
    // What a parse left behind: the LinkState code after it, whether it stored new readings,
    // whether it recorded a failure.
    struct TParseResult {
        int LinkState = -1;
        bool Stored = false;
        bool Failed = false;
    };
    // Decodes the answer to its request and applies it on the user-interface thread, and waits.
    // False when the hand-over failed (the link is closing).
    bool HandOverParse(TUlmar* target, bool ui, quint8 kind, const QByteArray& request,
                       const QByteArray& answer, TParseResult& result);
    // User-interface thread: decodes and applies the answer and measures what it did.
    TParseResult ParseMeasured(TUlmar* target, quint8 kind, const QByteArray& request,
                               const QByteArray& answer);
    // User-interface thread: the decoder of the kind (0 gauge, 1 КАЛИСТ-1), applied to the
    // target model.
    void DispatchAnswer(TUlmar* target, quint8 kind, const QByteArray& request,
                        const QByteArray& answer);
    // The exchanges; linkState is the LinkState code right after this exchange's own parse,
    // -1 when nothing was parsed. With archive, readings that the parse stored go to the
    // ArchiveHook before the lock is released.
    // `address` -1 is the current gauge; another picks that gauge's model (ModelOf).
    int ExecUlmar(int code, int& linkState, bool archive = false, TExchangeReport* report = nullptr,
                  int address = -1);
    // Under the exchange lock or on the user-interface thread: the model of the gauge at
    // `address` (-1: the current gauge), null for an address without one.
    TUlmar* ModelOf(int address) const;
    // Under the exchange lock: ModelOf; for a gauge address without a model, null, and the
    // model is made on the user-interface thread for the next round.
    TUlmar* ModelFor(int address);
    // The current gauge with every selected code, pausing between commands (`address` -1: at
    // whatever address the current gauge has).
    void PollSelected(int address);
    bool IsCurrentGauge(quint8 address);
    bool ReadGaugeSignature(quint8 address, TExchangeReport* report = nullptr);
    int ExecKalist(int& linkState, bool archive = false);
    // The publisher's sink: the request log's line of a record that has one.
    void WriteExchangeLog(const TExchangeRecord& record);
    // What one exchange came to, beyond its bytes.
    struct TExchangeOutcome {
        int Result = -1;
        bool Accepted = false;
        bool Transmitted = false;
        bool Logged = false;
        QString Errors; // the link's own error words, as the request log writes them
    };
    // Under the exchange lock, after the parse: the exchange as one record to the publisher.
    void PublishExchange(qint64 timeMs, int device, int code, const QByteArray& frame,
                         const QByteArray& answer, const TExchangeOutcome& outcome,
                         const TUlmar* gauge);
    // The port's parity now (a TSerialParity value), -1 without an open port.
    int PortParity() const;
    // The archive of an accepted reading, under the exchange lock.
    void ArchiveAccepted(const TUlmar& gauge, int code);
    // Waits for the request thread to end while abandoning parse jobs; false on time-out.
    bool EndRequestThread(int timeoutMs);

    TUlmar* Ulmar_;
    TGaugeSet Gauges_;
    std::unique_ptr<TPoller> Poller_;
    std::unique_ptr<TExchangePublisher> Publisher_;
    std::unique_ptr<TTransmitter> Transmitter_;
    std::unique_ptr<TRequestThread> Thread_;
    TLog RequestLog_;
    std::atomic<bool> LogFailed_{false}; // a request log write has failed and been said
    std::mutex TapMutex_; // guards LogTaps_ and LastTap_ (no other lock is taken under it)
    std::vector<std::pair<quint64, std::function<void(const QString& text)>>> LogTaps_;
    quint64 LastTap_ = 0;
    std::atomic<bool> HasLogTap_{false};
    QString StartError_;

    std::thread::id UiThread_;
    std::unique_ptr<QObject> UiContext_; // receiver of the queued parse wake-ups
    std::mutex RequestLock;              // held only around a resume of the request thread
    bool ShutDown_ = false;

    // The exchange gate: ExchangeBusy_ is the exchange lock, GateMutex_ guards it, the parse
    // queue and Closing_; GateCv_ signals a release, a queued job, a finished job.
    std::mutex GateMutex_;
    std::condition_variable GateCv_;
    bool ExchangeBusy_ = false;
    bool Closing_ = false;
    int WorkersWaiting_ = 0;  // other threads waiting for the lock
    bool WorkerTurn_ = false; // the user-interface thread lets a waiting worker go first
    std::deque<std::shared_ptr<TParseJob>> ParseJobs_;
    int UiDepth_ = 0; // user-interface thread only: exchanges and parse jobs on its stack
};
