// Exchange exclusion. One exchange lock (ExchangeBusy_ under GateMutex_) covers build -> send
// -> read -> parse -> publish, whichever thread runs the exchange, so the port, the device object's
// pending fields and the parser see one command at a time. Parses run on the user-interface
// thread: the request thread, holding the lock, queues a parse job, wakes the user-interface
// thread with a queued call and waits for the job. The user-interface thread never blocks
// plainly on the lock: while it waits for it (and while it joins the request thread at
// shut-down) it runs the queued jobs itself, so a job can never wait for a thread that waits
// for the job's lock. A nested exchange on the user-interface thread (from inside a parse or
// an exchange already on its stack) is refused with -1. At shut-down queued jobs are abandoned
// and the request thread leaves after its current exchange.

#include "uRequestDevices.h"
#include "uFrame.h"
#include "uParamStr.h"
#include "uPaths.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QtDebug>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <system_error>

using namespace std::chrono_literals;

namespace {

constexpr int PolledCodeLast = 80;
constexpr int PollPauseMs = 50;
constexpr auto UiWaitSlice = 20ms; // the user-interface thread re-checks the parse queue this often

// An answer that counts as none: empty, or the 6-byte error answer.
bool IsFailedAnswer(const QByteArray& answer) {
    return answer.isEmpty() ||
           (answer.size() == 6 && static_cast<quint8>(answer.at(1)) == ErrorAnswerCommand);
}

} // namespace

// Receives the queued wake-up on the user-interface thread and runs the parse jobs.
class TUiWaker : public QObject {
    Q_OBJECT
public:
    explicit TUiWaker(std::function<void()> drain) : Drain_(std::move(drain)) {}
    // Any thread: queues one call of the drain on the user-interface thread's event loop.
    void Wake() { QMetaObject::invokeMethod(this, "DrainJobs", Qt::QueuedConnection); }

public slots:
    void DrainJobs() { Drain_(); }

private:
    std::function<void()> Drain_;
};

// --- TSelectedCommands ---

bool TSelectedCommands::Contains(int code) const {
    return code >= 0 && code < Size && Flags_[code].load();
}

void TSelectedCommands::Include(int code) {
    if (code >= 0 && code < Size)
        Flags_[code] = true;
}

void TSelectedCommands::Exclude(int code) {
    if (code >= 0 && code < Size)
        Flags_[code] = false;
}

void TSelectedCommands::Clear() {
    for (auto& flag : Flags_)
        flag = false;
}

std::vector<int> TSelectedCommands::Codes() const {
    std::vector<int> codes;
    for (int code = 0; code < Size; ++code)
        if (Flags_[code].load())
            codes.push_back(code);
    return codes;
}

// --- TRequestThread ---

// The worker that runs one poll cycle per resume. Started at once, it waits for a resume; a
// resume while a cycle runs does nothing. Created and ended by TDeviceLink on the
// user-interface thread.
class TRequestThread {
public:
    explicit TRequestThread(TDeviceLink* link) : Link_(link), Worker_([this] { Body(); }) {}
    ~TRequestThread() { Join(); }
    TRequestThread(const TRequestThread&) = delete;
    TRequestThread& operator=(const TRequestThread&) = delete;

    void Resume() {
        std::lock_guard lock(Mutex_);
        if (Terminated_ || Running_)
            return;
        Resumed_ = true;
        Cv_.notify_all();
    }
    void Terminate() {
        std::lock_guard lock(Mutex_);
        Terminated_ = true;
        Cv_.notify_all();
    }
    bool Terminated() const {
        std::lock_guard lock(Mutex_);
        return Terminated_;
    }
    bool Running() const { return Running_.load(); }
    // A cycle runs, or a resume has been given that starts one.
    bool Busy() const {
        std::lock_guard lock(Mutex_);
        return Running_ || Resumed_;
    }
    bool Finished() const { return Finished_.load(); }
    // Waits ms or until terminated; false when terminated.
    bool Pause(int ms) {
        std::unique_lock lock(Mutex_);
        return !Cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Terminated_; });
    }
    bool IsWorker() const { return std::this_thread::get_id() == Worker_.get_id(); }
    void Join() {
        if (Worker_.joinable())
            Worker_.join();
    }
    void Detach() {
        if (Worker_.joinable())
            Worker_.detach();
    }

    // Kind of the device of the last exchange: 0 gauge, 1 КАЛИСТ-1.
    std::atomic<qint32> LastKind{0};
    // Kind whose parser the cycle's answers go to; set by the cycle from the device list.
    std::atomic<quint8> CurrentKind{0};
    // The last answer; written under the exchange lock.
    QByteArray AnswerBuffer;

private:
    void Body() {
        for (;;) {
            {
                std::unique_lock lock(Mutex_);
                Cv_.wait(lock, [this] { return Resumed_ || Terminated_; });
                if (Terminated_)
                    break;
                Resumed_ = false;
                Running_ = true;
            }
            Link_->RunCycle();
            {
                std::lock_guard lock(Mutex_);
                Running_ = false;
            }
            // A user-interface thread waiting for the end of the cycle waits on the gate.
            { std::lock_guard lock(Link_->GateMutex_); }
            Link_->GateCv_.notify_all();
        }
        Finished_ = true;
        // A user-interface thread joining at shut-down waits on the gate's condition.
        { std::lock_guard lock(Link_->GateMutex_); }
        Link_->GateCv_.notify_all();
    }

    TDeviceLink* Link_;
    mutable std::mutex Mutex_;
    std::condition_variable Cv_;
    bool Resumed_ = false;
    bool Terminated_ = false;
    std::atomic<bool> Running_{false};
    std::atomic<bool> Finished_{false};
    std::thread Worker_; // last: starts when everything above exists
};

// --- TDeviceLink ---

struct TDeviceLink::TParseJob {
    TUlmar* Target = nullptr; // the device model the answer is applied to
    quint8 Kind = 0;
    QByteArray Request;
    QByteArray Answer;
    TParseResult Result;
    bool Done = false;
    bool Failed = false; // abandoned at shut-down
};

namespace {
// Releases the exchange lock when an exchange leaves its scope.
class TExchangeGuard {
public:
    TExchangeGuard(std::function<void()> release) : Release_(std::move(release)) {}
    ~TExchangeGuard() { Release_(); }
    TExchangeGuard(const TExchangeGuard&) = delete;
    TExchangeGuard& operator=(const TExchangeGuard&) = delete;

private:
    std::function<void()> Release_;
};
} // namespace

TDeviceLink::TDeviceLink(TUlmar* ulmar, std::unique_ptr<ISerialPort> port,
                         const TDeviceLinkOptions& options)
    : Ulmar_(ulmar), UiThread_(std::this_thread::get_id()) {
    UiContext_ = std::make_unique<TUiWaker>([this] {
        std::unique_lock lock(GateMutex_);
        RunParseJobs(lock);
    });
    // 1. Poller (pacing timer with its saved settings) and its poll list; the publisher, whose
    // sink is the request log.
    Poller_ = std::make_unique<TPoller>(this);
    Publisher_ = std::make_unique<TExchangePublisher>();
    Publisher_->Sink = [this](const TExchangeRecord& record) { WriteExchangeLog(record); };
    auto gauge = std::make_unique<TListDevice>();
    gauge->Kind = 0;
    gauge->Number = 0;
    gauge->Enabled = Ulmar_ && Ulmar_->Enabled();
    if (Ulmar_ && Ulmar_->Description)
        gauge->Name = Ulmar_->Description->Title;
    auto meter = std::make_unique<TListDevice>();
    meter->Kind = 1;
    meter->Number = 1;
    meter->Enabled = false;
    meter->Name = QStringLiteral("КАЛИСТ-1");
    Poller_->DeviceList.push_back(std::move(gauge));
    Poller_->DeviceList.push_back(std::move(meter));
    // 2. Transmitter: settings, then the port. A broken settings file still lets a given port
    // name open.
    Transmitter_ = std::make_unique<TTransmitter>(std::move(port));
    Transmitter_->Name = QStringLiteral("Transmitter");
    Transmitter_->OnMessage = options.OnMessage;
    try {
        Transmitter_->LoadSettings();
    } catch (const std::runtime_error&) {
        // A refused ComPort.ini: the program names it once among the settings files it could
        // not read (see the program's places), and the port settings in force stay.
    }
    if (!options.PortName.isEmpty() || options.AdjustSettings) {
        TTransmitterSettings settings = Transmitter_->Settings();
        if (!options.PortName.isEmpty()) {
            settings.Port = options.PortName;
            Transmitter_->NotePortChosen();
        }
        if (options.AdjustSettings)
            options.AdjustSettings(settings);
        Transmitter_->SetSettings(settings);
    }
    // A port that does not open says so through OnMessage and is opened again by each exchange.
    Transmitter_->OpenPort();
    // 3. Request thread, waiting for its first resume. Without it nothing can poll: the reason
    // is kept for the program to say once.
    try {
        Thread_ = std::make_unique<TRequestThread>(this);
    } catch (const std::system_error& e) {
        StartError_ = QStringLiteral("Поток опроса не создан: ") + QString::fromLocal8Bit(e.what());
    }
    // 4. Request log, named once for the whole run.
    RequestLog_.SetFileName(JoinPath(
        LogDir(), QStringLiteral("rd") + QDate::currentDate().toString(QStringLiteral("yyMMdd")) +
                      QStringLiteral(".txt")));
}

TDeviceLink::~TDeviceLink() {
    if (Shutdown())
        return;
    // Every port operation has a bound, so the thread leaves within the longest exchange.
    if (Shutdown(LongestExchangeMs() + 5000))
        return;
    // A driver holds the thread past every bound: it is detached, and what it uses is left to
    // the process exit rather than freed under it.
    if (Thread_) {
        Thread_->Detach();
        (void)Thread_.release();
    }
    (void)Transmitter_.release();
    (void)Poller_.release();
    (void)Publisher_.release();
    (void)UiContext_.release();
}

int TDeviceLink::LongestExchangeMs() const {
    TSerialTimeouts t;
    if (Transmitter_)
        t = Transmitter_->Settings().Timeouts();
    const auto read = [&](int count) {
        const long long total = static_cast<long long>(t.ReadTotalConstant) +
                                static_cast<long long>(t.ReadTotalMultiplier) * count;
        return total > 0 ? std::min<long long>(total, SerialSafetyLimitMs) : SerialSafetyLimitMs;
    };
    // Address byte written and drained, the rest written, the answer read, the pause after.
    const long long ms = 2LL * SerialWriteLimitMs(t, 1) +
                         SerialWriteLimitMs(t, TTransmitter::GaugeReadCount) +
                         read(TTransmitter::GaugeReadCount) + PollPauseMs + 10;
    return static_cast<int>(std::min<long long>(ms, 4LL * SerialSafetyLimitMs));
}

bool TDeviceLink::Shutdown(int timeoutMs) {
    if (ShutDown_)
        return true;
    // 1. No more ticks; the poller itself is freed once the thread, which takes its entries
    // from the poll list, has ended.
    Poller_->HoldTicks(true);
    Poller_->Timer()->SetEnabled(false);
    // 2. End the request thread.
    if (Thread_) {
        if (!EndRequestThread(timeoutMs))
            return false;
        Thread_.reset();
    }
    ShutDown_ = true;
    // 3. The request log holds nothing open. 4. Port and transmitter.
    if (Transmitter_)
        Transmitter_->ClosePort();
    Transmitter_.reset();
    // 5. The poll list and the wake-up receiver. The poller (its ticks held) and the publisher
    // stay until the link goes: a window may still read them.
    Poller_->DeviceList.clear();
    UiContext_.reset();
    return true;
}

bool TDeviceLink::EndRequestThread(int timeoutMs) {
    {
        std::lock_guard lock(GateMutex_);
        Closing_ = true;
        for (auto& job : ParseJobs_) {
            job->Done = true;
            job->Failed = true;
        }
        ParseJobs_.clear();
    }
    GateCv_.notify_all();
    Thread_->Terminate();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    {
        std::unique_lock lock(GateMutex_);
        while (!Thread_->Finished()) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            GateCv_.wait_for(lock, UiWaitSlice);
        }
    }
    Thread_->Join();
    return true;
}

// --- exchange gate ---

bool TDeviceLink::AcquireExchange(bool ui) {
    std::unique_lock lock(GateMutex_);
    if (ui) {
        if (UiDepth_ > 0)
            return false;
        const auto free = [this] { return !ExchangeBusy_ && !WorkerTurn_; };
        for (;;) {
            RunParseJobs(lock);
            if (free())
                break;
            GateCv_.wait_for(lock, UiWaitSlice, [&] { return free() || !ParseJobs_.empty(); });
        }
        ++UiDepth_;
    } else {
        ++WorkersWaiting_;
        GateCv_.wait(lock, [this] { return !ExchangeBusy_ || Closing_; });
        --WorkersWaiting_;
        if (WorkersWaiting_ == 0 || !Closing_)
            WorkerTurn_ = false;
        if (Closing_) {
            GateCv_.notify_all();
            return false;
        }
    }
    ExchangeBusy_ = true;
    return true;
}

void TDeviceLink::ReleaseExchange(bool ui) {
    {
        std::lock_guard lock(GateMutex_);
        ExchangeBusy_ = false;
        if (ui) {
            --UiDepth_;
            // Commands fired back to back must not starve the poll cycle.
            WorkerTurn_ = WorkersWaiting_ > 0;
        }
    }
    GateCv_.notify_all();
}

void TDeviceLink::RunParseJobs(std::unique_lock<std::mutex>& lock) {
    while (!ParseJobs_.empty()) {
        std::shared_ptr<TParseJob> job = ParseJobs_.front();
        ParseJobs_.pop_front();
        lock.unlock();
        // Decoding never throws, and applying an answer only stores values: the job always ends.
        ++UiDepth_;
        const TParseResult result =
            ParseMeasured(job->Target, job->Kind, job->Request, job->Answer);
        --UiDepth_;
        lock.lock();
        job->Done = true;
        job->Result = result;
        GateCv_.notify_all();
    }
}

TDeviceLink::TParseResult TDeviceLink::ParseMeasured(TUlmar* target, quint8 kind,
                                                     const QByteArray& request,
                                                     const QByteArray& answer) {
    TParseResult result;
    const quint64 stored = target ? target->ReadingsStored() : 0;
    const quint16 failures = target ? target->FailureCount : 0;
    DispatchAnswer(target, kind, request, answer);
    // Silence is told with the port and the rate it was heard on: a wrong port or rate is the
    // usual cause, and an adapter renumbered by the system shows here.
    if (target && answer.isEmpty() && target->ErrorCode == LinkResult::NoAnswer && Transmitter_)
        target->ErrorText = LinkResultText(LinkResult::NoAnswer) + QStringLiteral(" (") +
                            Transmitter_->Settings().LineText() + QStringLiteral(")");
    if (target) {
        result.LinkState = target->LinkStateCode();
        result.Stored = target->ReadingsStored() != stored;
        // A failure counts one up (it stays at its top); a success resets the count, an answer
        // that records nothing leaves it.
        result.Failed = target->FailureCount > failures ||
                        (failures == 0xFFFF && target->FailureCount == failures);
    }
    return result;
}

bool TDeviceLink::HandOverParse(TUlmar* target, bool ui, quint8 kind, const QByteArray& request,
                                const QByteArray& answer, TParseResult& result) {
    result = TParseResult();
    if (ui) {
        result = ParseMeasured(target, kind, request, answer);
        return true;
    }
    auto job = std::make_shared<TParseJob>();
    job->Target = target;
    job->Kind = kind;
    job->Request = request;
    job->Answer = answer;
    std::unique_lock lock(GateMutex_);
    if (Closing_)
        return false;
    ParseJobs_.push_back(job);
    GateCv_.notify_all(); // a user-interface thread waiting for the lock runs it at once
    if (auto* waker = static_cast<TUiWaker*>(UiContext_.get()))
        waker->Wake();
    GateCv_.wait(lock, [&job] { return job->Done; });
    result = job->Result;
    return !job->Failed;
}

void TDeviceLink::DispatchAnswer(TUlmar* target, quint8 kind, const QByteArray& request,
                                 const QByteArray& answer) {
    if (!target)
        return;
    if (kind == 0)
        target->Apply(Decode(request, answer));
    else if (kind == 1)
        target->ApplyKalist(DecodeKalist(answer));
}

// --- exchanges ---

int TDeviceLink::RequestExecUlmar(int code, TExchangeReport* report) {
    int linkState = -1;
    return ExecUlmar(code, linkState, false, report);
}

TUlmar* TDeviceLink::ModelOf(int address) const {
    if (!Ulmar_ || address < 0 || address == Ulmar_->SystemAddress)
        return Ulmar_;
    const TGaugeRecord* record = Gauges_.Find(static_cast<quint8>(address));
    return record ? record->Model.get() : nullptr;
}

TUlmar* TDeviceLink::ModelFor(int address) {
    if (TUlmar* model = ModelOf(address))
        return model;
    if (address < 0 || address > 254)
        return nullptr;
    // A gauge of the list without a model (the current gauge's address was changed by a
    // command meanwhile) gets one on the user-interface thread, so that a model is only ever
    // made and moved there (holding the lock) and read there or under the lock. Polled from
    // another thread, the gauge misses this round.
    const auto gauge = static_cast<quint8>(address);
    if (OnUiThread()) {
        TGaugeRecord& record = Gauges_.Get(gauge);
        record.Model = std::make_unique<TUlmar>();
        record.Model->SystemAddress = gauge;
        return record.Model.get();
    }
    if (!UiContext_)
        return nullptr;
    QMetaObject::invokeMethod(
        UiContext_.get(),
        [this, gauge] {
            RunExclusive([this, gauge] {
                TGaugeRecord& record = Gauges_.Get(gauge);
                if (record.Model || !Ulmar_ || Ulmar_->SystemAddress == gauge)
                    return;
                record.Model = std::make_unique<TUlmar>();
                record.Model->SystemAddress = gauge;
            });
        },
        Qt::QueuedConnection);
    return nullptr;
}

int TDeviceLink::RequestExecKalist() {
    int linkState = -1;
    return ExecKalist(linkState);
}

int TDeviceLink::ExecUlmar(int code, int& linkState, bool archive, TExchangeReport* report,
                           int address) {
    linkState = -1;
    if (report)
        *report = TExchangeReport();
    if (!Ulmar_ || code < 0 || code > 255)
        return -1;
    const bool ui = OnUiThread();
    if (!AcquireExchange(ui))
        return -1;
    TExchangeGuard guard([this, ui] { ReleaseExchange(ui); });
    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();
    // The gauge is chosen under the lock: the current one may change between two exchanges.
    TUlmar* const gauge = ModelFor(address);
    if (!gauge)
        return -1;

    QByteArray request;
    try {
        request = EncodeRequest(*gauge, code);
    } catch (const TCodecError&) {
        return -1; // unknown code: nothing sent, parsed or published
    }

    TExchangeOutcome outcome;
    outcome.Logged = true;
    QString& errors = outcome.Errors;
    QByteArray answer;
    try {
        if (!Transmitter_)
            throw std::runtime_error("no transmitter");
        Transmitter_->SendString(request, answer, true, TTransmitter::GaugeReadCount);
        outcome.Transmitted = true;
    } catch (const std::runtime_error&) {
        // TSerialError and a port that did not open: the exchange failed on the line.
        errors += QStringLiteral(" Error in Transmitter.SendString ");
        // The port's own trouble, in the words of the link window.
        if (Transmitter_) {
            const QString portError = Transmitter_->PortStatus().Error;
            if (!portError.isEmpty())
                errors += QString(portError).replace(u'\n', u' ');
        }
        answer.clear();
    }

    if (Thread_) {
        Thread_->LastKind = 0;
        Thread_->CurrentKind = 0;
        Thread_->AnswerBuffer = answer;
    }
    TParseResult parsed;
    const bool handed = HandOverParse(gauge, ui, 0, request, answer, parsed);
    if (!handed)
        errors += QStringLiteral(" Error in RequestThread.Synchronize ");
    linkState = parsed.LinkState;
    // Only readings this very answer stored are archived, never an earlier poll's again.
    if (archive && parsed.Stored && linkState == 1)
        ArchiveAccepted(*gauge, code);

    const int result = IsFailedAnswer(answer) ? -1 : 0;
    outcome.Result = result;
    outcome.Accepted = result == 0 && handed && !parsed.Failed;
    if (report) {
        report->Result = result;
        report->Answered = !answer.isEmpty();
        report->Accepted = outcome.Accepted;
        report->AnswerCommand = answer.size() >= 2 ? static_cast<quint8>(answer[1]) : -1;
    }
    QByteArray frame = request;
    const quint16 crc = Crc16(request);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    PublishExchange(startedMs, 0, code, frame, answer, outcome, gauge);
    Gauges_.Get(gauge->SystemAddress).Count(outcome.Accepted, QDateTime::currentMSecsSinceEpoch());
    return result;
}

int TDeviceLink::ExecKalist(int& linkState, bool archive) {
    linkState = -1;
    const bool ui = OnUiThread();
    if (!AcquireExchange(ui))
        return -1;
    TExchangeGuard guard([this, ui] { ReleaseExchange(ui); });

    const qint64 startedMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray request = KalistRequest();
    QByteArray frame = request;
    frame.append(static_cast<char>(Crc8(request)));
    QByteArray answer;
    TExchangeOutcome outcome;
    try {
        if (!Transmitter_)
            return -1;
        Transmitter_->SendKalist(request, answer, true, TTransmitter::KalistReadCount);
    } catch (const std::runtime_error&) {
        // No parse, no log line; the monitor still shows the failed exchange.
        outcome.Errors = QStringLiteral(" Error in Transmitter.SendKalist ");
        PublishExchange(startedMs, 1, UlmarCmd::KalistCurrent, frame, QByteArray(), outcome,
                        Ulmar_);
        return -1;
    }
    outcome.Transmitted = true;
    // The answer always goes to the meter's parser, whatever a command in between set.
    if (Thread_) {
        Thread_->LastKind = 1;
        Thread_->CurrentKind = 1;
        Thread_->AnswerBuffer = answer;
    }
    TParseResult parsed;
    if (!HandOverParse(Ulmar_, ui, 1, request, answer, parsed)) {
        outcome.Errors = QStringLiteral(" Error in RequestThread.Synchronize ");
        PublishExchange(startedMs, 1, UlmarCmd::KalistCurrent, frame, answer, outcome, Ulmar_);
        return -1;
    }
    linkState = parsed.LinkState;
    if (archive && parsed.Stored && linkState == 1)
        ArchiveAccepted(*Ulmar_, UlmarCmd::KalistCurrent);
    const int result = answer.isEmpty() || IsFailedAnswer(answer) ? -1 : 0;
    outcome.Result = result;
    outcome.Accepted = result == 0 && !parsed.Failed;
    // Silence has no line in the request log.
    outcome.Logged = !answer.isEmpty();
    PublishExchange(startedMs, 1, UlmarCmd::KalistCurrent, frame, answer, outcome, Ulmar_);
    return result;
}

void TDeviceLink::WriteExchangeLog(const TExchangeRecord& record) {
    if (!record.Logged)
        return;
    const int radix = DisplayRadix.load();
    const bool logged = radix == 10 || radix == 16;
    const bool tapped = HasLogTap_.load(std::memory_order_acquire);
    if (!logged && !tapped)
        return;
    QString sent;
    QString received;
    if (radix == 10) {
        sent = ToDecString(record.Request, true);
        received = ToDecString(record.Answer, true);
    } else {
        sent = ToHexString(record.Request);
        received = ToHexString(record.Answer);
    }
    const QString text = QStringLiteral("[") + sent + QStringLiteral("] -> [") + received +
                         QStringLiteral("]") + record.LinkErrors;
    if (tapped) {
        std::lock_guard lock(TapMutex_);
        for (const auto& [number, tap] : LogTaps_)
            tap(text);
    }
    if (!logged)
        return;
    try {
        if (LogSink)
            LogSink(text);
        else
            RequestLog_.Add(text);
    } catch (const std::runtime_error& e) {
        // A full disk or a folder gone: polling goes on; the first failure is said on stderr.
        if (!LogFailed_.exchange(true))
            qWarning().noquote() << QStringLiteral("Журнал запросов не записан:")
                                 << QString::fromLocal8Bit(e.what());
    }
}

quint64 TDeviceLink::AddLogTap(std::function<void(const QString& text)> tap) {
    std::lock_guard lock(TapMutex_);
    if (!tap)
        return 0;
    LogTaps_.emplace_back(++LastTap_, std::move(tap));
    HasLogTap_.store(true, std::memory_order_release);
    return LastTap_;
}

void TDeviceLink::RemoveLogTap(quint64 number) {
    std::lock_guard lock(TapMutex_);
    std::erase_if(LogTaps_, [number](const auto& tap) { return tap.first == number; });
    HasLogTap_.store(!LogTaps_.empty(), std::memory_order_release);
}

int TDeviceLink::PortParity() const {
    const ISerialPort* port = Transmitter_ ? Transmitter_->Port() : nullptr;
    return port ? int(port->Parity()) : -1;
}

void TDeviceLink::PublishExchange(qint64 timeMs, int device, int code, const QByteArray& frame,
                                  const QByteArray& answer, const TExchangeOutcome& outcome,
                                  const TUlmar* gauge) {
    // Two implicitly shared byte arrays and a few numbers: the decode happens on the
    // listener's thread from this copy.
    TExchangeRecord record;
    record.TimeMs = timeMs;
    record.Device = device;
    record.Code = code;
    record.Request = frame;
    record.Answer = answer;
    if (Transmitter_) {
        record.DelayMs = Transmitter_->LastDelayMs();
        record.DurationMs = Transmitter_->LastDurationMs();
    }
    record.Result = outcome.Result;
    record.Accepted = outcome.Accepted;
    if (gauge) {
        record.ErrorCode = gauge->ErrorCode;
        record.ResultText = gauge->ErrorText;
    }
    const QString own = outcome.Errors.simplified();
    if (!own.isEmpty())
        record.ResultText =
            record.ResultText.isEmpty() ? own : record.ResultText + QStringLiteral("; ") + own;
    record.Transmitted = outcome.Transmitted;
    record.Logged = outcome.Logged;
    record.LinkErrors = outcome.Errors;
    if (outcome.Transmitted)
        record.Parity = PortParity();
    Publisher_->Publish(std::move(record));
}

void TDeviceLink::ArchiveAccepted(const TUlmar& gauge, int code) {
    if (!ArchiveHook)
        return;
    // Called with the exchange lock held: the values are the ones this exchange's parse stored.
    ArchiveHook(gauge, code);
}

// --- poll cycle ---

bool TDeviceLink::RunCycle() {
    // The request thread's outer boundary: a cycle that fails in any way ends as a failed cycle,
    // and the thread waits for the next tick instead of taking the program down with it.
    try {
        const int i = Poller_->NextDevice();
        if (i < 0)
            return false;
        const TListDevice& device = *Poller_->DeviceList[i];
        if (Thread_)
            Thread_->CurrentKind = device.Kind;
        if (device.Kind == 0)
            PollUlmar();
        else if (device.Kind == 1)
            PollKalist();
        if (CycleDone)
            CycleDone(device.Name);
        return true;
    } catch (...) {
        return false;
    }
}

void TDeviceLink::PollUlmar() {
    const std::vector<quint8> addresses = Poller_->Addresses();
    if (addresses.empty()) {
        PollSelected(-1);
        return;
    }
    // One round over the line: the current gauge with every selected code (a reading poll when
    // none is selected), each other gauge with one reading poll, back to back. A list of one
    // gauge, the current one, polls it exactly as without a list.
    const bool worker = Thread_ && Thread_->IsWorker();
    const bool several = addresses.size() > 1;
    for (const quint8 address : addresses) {
        if (worker && Thread_->Terminated())
            return;
        if (!IsCurrentGauge(address)) {
            PollGauge(address, nullptr, true);
            continue;
        }
        if (several && !SignatureKnown(address))
            ReadGaugeSignature(address);
        if (SelectedCommands.Codes().empty()) {
            int linkState = -1;
            ExecUlmar(UlmarCmd::LevelAllRead, linkState, true, nullptr, address);
        } else {
            PollSelected(address);
        }
    }
}

bool TDeviceLink::IsCurrentGauge(quint8 address) {
    const bool ui = OnUiThread();
    if (!Ulmar_ || !AcquireExchange(ui))
        return false;
    const bool current = Ulmar_->SystemAddress == address;
    ReleaseExchange(ui);
    return current;
}

bool TDeviceLink::SignatureKnown(quint8 address) const {
    const TGaugeRecord* record = Gauges_.Find(address);
    return record && record->SignatureKnown.load();
}

bool TDeviceLink::ReadGaugeSignature(quint8 address, TExchangeReport* report) {
    int linkState = -1;
    TExchangeReport own;
    TExchangeReport& r = report ? *report : own;
    ExecUlmar(UlmarCmd::SignatureRead, linkState, false, &r, address);
    if (r.Accepted)
        Gauges_.Get(address).SignatureKnown = true;
    return r.Accepted;
}

int TDeviceLink::PollGauge(quint8 address, TExchangeReport* report, bool archive) {
    if (!SignatureKnown(address)) {
        TExchangeReport signature;
        ReadGaugeSignature(address, &signature);
        // A gauge that is silent to its signature is silent to its readings too: one time-out
        // per round is enough for it.
        if (!signature.Answered) {
            if (report)
                *report = signature;
            return -1;
        }
    }
    int linkState = -1;
    return ExecUlmar(UlmarCmd::LevelAllRead, linkState, archive, report, address);
}

void TDeviceLink::PollSelected(int address) {
    const bool worker = Thread_ && Thread_->IsWorker();
    for (int code = 0; code <= PolledCodeLast; ++code) {
        if (worker && Thread_->Terminated())
            return;
        if (!SelectedCommands.Contains(code))
            continue;
        int linkState = -1;
        ExecUlmar(code, linkState, true, nullptr, address);
        if (worker) {
            if (!Thread_->Pause(PollPauseMs))
                return;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(PollPauseMs));
        }
    }
}

void TDeviceLink::PollKalist() {
    int linkState = -1;
    ExecKalist(linkState, true);
}

void TDeviceLink::ResumeRequestThread() {
    std::lock_guard lock(RequestLock);
    if (Thread_)
        Thread_->Resume();
}

bool TDeviceLink::RunExclusive(const std::function<void()>& action) {
    const bool ui = OnUiThread();
    if (!AcquireExchange(ui))
        return false;
    TExchangeGuard guard([this, ui] { ReleaseExchange(ui); });
    if (action)
        action();
    return true;
}

bool TDeviceLink::CycleRunning() const {
    return Thread_ && Thread_->Busy();
}

bool TDeviceLink::WaitCycleEnd(int timeoutMs) {
    if (!Thread_ || !OnUiThread())
        return !CycleRunning();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock lock(GateMutex_);
    for (;;) {
        // The cycle may be waiting for this thread to parse its answer.
        RunParseJobs(lock);
        if (!Thread_->Busy())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        GateCv_.wait_for(lock, UiWaitSlice);
    }
}

QString TDeviceLink::ArchiveStatusText() const {
    return ArchiveStatus ? ArchiveStatus() : QString();
}

bool TDeviceLink::EditDevice(const std::function<void(TUlmar&)>& edit) {
    if (!Ulmar_ || !edit)
        return false;
    return RunExclusive([&] { edit(*Ulmar_); });
}

// --- the gauges of the line ---

TUlmar* TDeviceLink::GaugeModel(quint8 address) const {
    return ModelOf(address);
}

TGaugeStats TDeviceLink::GaugeStats(quint8 address) const {
    const TGaugeRecord* record = Gauges_.Find(address);
    return record ? record->Stats() : TGaugeStats();
}

bool TDeviceLink::SetPollAddresses(const std::vector<quint8>& addresses) {
    if (!Ulmar_)
        return false;
    bool currentListed = addresses.empty();
    const bool taken = RunExclusive([&] {
        for (const quint8 address : addresses) {
            TGaugeRecord& record = Gauges_.Get(address);
            if (address == Ulmar_->SystemAddress) {
                currentListed = true;
            } else if (!record.Model) {
                // Made here, on the user-interface thread: the model's change notices are
                // posted to the thread that made it.
                record.Model = std::make_unique<TUlmar>();
                record.Model->SystemAddress = address;
            }
        }
        Poller_->SetAddresses(addresses);
    });
    if (!taken)
        return false;
    return currentListed || SelectGauge(addresses.front());
}

bool TDeviceLink::SelectGauge(quint8 address) {
    if (!Ulmar_ || address == 255)
        return false;
    bool moved = false;
    const bool taken = RunExclusive([&] {
        const quint8 previous = Ulmar_->SystemAddress;
        if (previous == address)
            return;
        // The gauge that stops being current keeps what is known of it in a model of its own,
        // and the chosen one brings its own into the windows' model (a gauge never polled
        // brings the state of a fresh model: nothing known yet).
        TGaugeRecord& left = Gauges_.Get(previous);
        if (!left.Model)
            left.Model = std::make_unique<TUlmar>();
        CopyGaugeState(*Ulmar_, *left.Model);
        left.Model->SystemAddress = previous;
        TGaugeRecord& chosen = Gauges_.Get(address);
        if (chosen.Model) {
            CopyGaugeState(*chosen.Model, *Ulmar_);
            chosen.Model.reset();
        } else {
            const TUlmar fresh;
            CopyGaugeState(fresh, *Ulmar_);
        }
        Ulmar_->SystemAddress = address;
        moved = true;
    });
    if (moved)
        Ulmar_->NotifyChanged(TUlmar::ChangeReadings | TUlmar::ChangeParameters |
                              TUlmar::ChangeSignature | TUlmar::ChangeZeroArray |
                              TUlmar::ChangeTare | TUlmar::ChangeLink);
    return taken;
}

bool TDeviceLink::ApplyPortSettings(const TTransmitterSettings& settings) {
    if (!Transmitter_)
        return false;
    bool opened = false;
    RunExclusive([&] {
        Transmitter_->ClosePort();
        Transmitter_->SetSettings(settings);
        Transmitter_->SaveSettings();
        opened = Transmitter_->OpenPort();
    });
    return opened;
}

#include "uRequestDevices.moc"
