#include "uSimServer.h"

#include "uFrame.h"
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

// The rate a terminal is set to, in baud; 0 when it cannot be told.
int TerminalRate(int fd) {
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return 0;
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) ||     \
                           defined(__arm__) || defined(__riscv))
    // An arbitrary rate (BOTHER) is only told by the kernel's termios2, whose asm-generic
    // layout is spelled out here (its header cannot be included beside <termios.h>).
    struct {
        unsigned int Flags[4];
        unsigned char Line;
        unsigned char Cc[19];
        unsigned int InputSpeed;
        unsigned int OutputSpeed;
    } t2{};
    static_assert(sizeof t2 == 44, "termios2 layout");
    constexpr unsigned int KernelCBAUD = 0x100F;
    constexpr unsigned int KernelBOTHER = 0x1000;
    if (::ioctl(fd, _IOR('T', 0x2A, decltype(t2)), &t2) == 0 &&
        (t2.Flags[2] & KernelCBAUD) == KernelBOTHER && t2.OutputSpeed > 0)
        return static_cast<int>(t2.OutputSpeed);
#endif
    static const std::pair<speed_t, int> rates[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
        {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
        {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    const speed_t code = ::cfgetospeed(&tio);
    for (const auto& [c, rate] : rates)
        if (c == code)
            return rate;
    return 0;
}

// t + ns on the monotonic clock.
timespec AddNs(timespec t, long long ns) {
    const long long total = t.tv_nsec + ns;
    t.tv_sec += static_cast<time_t>(total / 1000000000LL);
    t.tv_nsec = static_cast<long>(total % 1000000000LL);
    return t;
}

// Sleeps until the absolute monotonic time, also when a signal interrupts the sleep.
void SleepUntil(const timespec& until) {
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool IsKalistStart(const QByteArray& rx) {
    // No gauge command is 0x00: 01 00 … starts the fixed КАЛИСТ-1 request.
    return rx.size() >= 2 && rx.at(0) == 0x01 && rx.at(1) == 0x00;
}

void SetError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

} // namespace

TSimServer::TSimServer(std::unique_ptr<TGaugeSim> sim)
    : Sim_(sim ? std::move(sim) : std::make_unique<TGaugeSim>()) {}

TSimServer::~TSimServer() {
    Stop();
    if (!LinkPath_.isEmpty() && QFileInfo(LinkPath_).isSymLink())
        QFile::remove(LinkPath_);
}

qint64 TSimServer::NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool TSimServer::Start(const QString& linkPath, QString* error) {
    if (Running_)
        return true;
    LinkPath_ = linkPath;
    StartUs_ = NowUs();
    return Replug(error);
}

bool TSimServer::OpenPty(QString* error) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        SetError(error, QStringLiteral("posix_openpt: ") + QString::fromLocal8Bit(strerror(errno)));
        if (master >= 0)
            ::close(master);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0) {
        SetError(error, QStringLiteral("ptsname failed"));
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0) {
        SetError(error, QStringLiteral("open ") + QString::fromLocal8Bit(name));
        ::close(master);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    Master_ = master;
    Slave_ = slave;
    SlavePath_ = QString::fromLocal8Bit(name);
    if (!LinkPath_.isEmpty()) {
        if (QFileInfo(LinkPath_).isSymLink())
            QFile::remove(LinkPath_);
        if (!QFile::link(SlavePath_, LinkPath_)) {
            SetError(error, QStringLiteral("cannot link ") + LinkPath_);
            ClosePty();
            return false;
        }
    }
    return true;
}

void TSimServer::ClosePty() {
    if (Master_ >= 0)
        ::close(Master_);
    if (Slave_ >= 0)
        ::close(Slave_);
    Master_ = Slave_ = -1;
}

bool TSimServer::Replug(QString* error) {
    if (Running_)
        return true;
    if (::pipe2(WakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        SetError(error, QStringLiteral("pipe failed"));
        return false;
    }
    if (!OpenPty(error)) {
        ::close(WakePipe_[0]);
        ::close(WakePipe_[1]);
        WakePipe_[0] = WakePipe_[1] = -1;
        return false;
    }
    Rx_.clear();
    Pending_.clear();
    StopFlag_ = false;
    Running_ = true;
    Thread_ = std::thread([this] { Run(); });
    return true;
}

void TSimServer::Unplug() {
    if (!Running_)
        return;
    StopFlag_ = true;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakePipe_[1], &c, 1);
    if (Thread_.joinable())
        Thread_.join();
    ClosePty();
    ::close(WakePipe_[0]);
    ::close(WakePipe_[1]);
    WakePipe_[0] = WakePipe_[1] = -1;
    Running_ = false;
}

void TSimServer::Stop() {
    Unplug();
}

QString TSimServer::SlavePath() const {
    return SlavePath_;
}

QString TSimServer::PortName() const {
    return LinkPath_.isEmpty() ? SlavePath_ : LinkPath_;
}

void TSimServer::WithSim(const std::function<void(TGaugeSim&)>& f) {
    std::lock_guard<std::mutex> guard(Lock_);
    f(*Sim_);
}

std::vector<TSimRecord> TSimServer::Records() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return std::vector<TSimRecord>(Records_.begin(), Records_.end());
}

void TSimServer::SetRecordLimit(size_t limit) {
    std::lock_guard<std::mutex> guard(Lock_);
    RecordLimit_ = std::max<size_t>(limit, 1);
}

size_t TSimServer::RecordLimit() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return RecordLimit_;
}

void TSimServer::ClearRecords() {
    std::lock_guard<std::mutex> guard(Lock_);
    Cleared_ += Records_.size(); // pending answers keep absolute record numbers
    Records_.clear();
    Forgotten_ = 0;
}

int TSimServer::RequestCount() const {
    std::lock_guard<std::mutex> guard(Lock_);
    return static_cast<int>(Forgotten_ + Records_.size());
}

bool TSimServer::WaitForRequests(int n, int timeoutMs) const {
    const qint64 end = NowUs() + qint64(timeoutMs) * 1000;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(Lock_);
            int done = static_cast<int>(Forgotten_);
            for (const TSimRecord& r : Records_)
                if (r.Answer.isEmpty() || r.AnswerEndUs >= 0)
                    ++done;
            if (done >= n)
                return true;
        }
        if (NowUs() >= end)
            return false;
        ::usleep(2000);
    }
}

void TSimServer::Run() {
    char buffer[512];
    while (!StopFlag_) {
        qint64 now = NowUs();
        // Wake for the next answer due, or to drop a stale partial request.
        qint64 wakeUs = now + 200000;
        for (const TPending& p : Pending_)
            wakeUs = std::min(wakeUs, p.DueUs);
        if (!Rx_.isEmpty())
            wakeUs = std::min(wakeUs, RxLastUs_ + qint64(FrameGapMs_) * 1000);
        const int waitMs = static_cast<int>(std::max<qint64>(0, (wakeUs - now + 999) / 1000));
        pollfd fds[2] = {{Master_, POLLIN, 0}, {WakePipe_[0], POLLIN, 0}};
        const int r = ::poll(fds, 2, waitMs);
        if (r < 0 && errno != EINTR)
            break;
        now = NowUs();
        if (r > 0 && (fds[0].revents & POLLIN)) {
            for (;;) {
                const ssize_t n = ::read(Master_, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                OnBytes(buffer, static_cast<int>(n), now);
            }
        } else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            ::usleep(1000); // no slave side open for a moment
        }
        if (!Rx_.isEmpty() && now - RxLastUs_ > qint64(FrameGapMs_) * 1000) {
            Dropped_ += static_cast<int>(Rx_.size());
            Rx_.clear();
        }
        if (!SendDue(NowUs()))
            break;
    }
}

void TSimServer::OnBytes(const char* data, int n, qint64 nowUs) {
    for (int i = 0; i < n; ++i) {
        if (Rx_.isEmpty()) {
            RxFirstUs_ = nowUs;
            if (!Pending_.empty())
                ++Overlaps_;
        }
        Rx_.append(data[i]);
        RxLastUs_ = nowUs;
        Dispatch(nowUs);
    }
}

void TSimServer::Dispatch(qint64 nowUs) {
    int need = 0;
    if (IsKalistStart(Rx_))
        need = 5;
    else if (Rx_.size() >= 3)
        need = static_cast<quint8>(Rx_.at(2)) + 4;
    if (need == 0 || Rx_.size() < need)
        return;
    const QByteArray request = Rx_.left(need);
    Rx_.remove(0, need);
    TSimRecord record;
    record.Request = request;
    record.FirstByteUs = RxFirstUs_;
    record.LastByteUs = nowUs;
    RxFirstUs_ = nowUs;
    const int only = OnlyRate_;
    const bool heard = only <= 0 || TerminalRate(Slave_) == only;
    std::lock_guard<std::mutex> guard(Lock_);
    Sim_->SetClockMs((nowUs - StartUs_) / 1000);
    const TSimAnswer answer = heard ? Sim_->Exchange(request) : TSimAnswer();
    record.Answer = answer.Bytes;
    Records_.push_back(record);
    while (Records_.size() > RecordLimit_) {
        Records_.pop_front();
        ++Cleared_;
        ++Forgotten_;
    }
    if (answer.Silent())
        return;
    const qint64 due = nowUs + qint64(AnswerDelayMs_) * 1000;
    const size_t index = Cleared_ + Records_.size() - 1;
    if (answer.PauseAfter > 0 && answer.PauseAfter < answer.Bytes.size()) {
        Pending_.push_back({answer.Bytes.left(answer.PauseAfter), due, index, false});
        Pending_.push_back({answer.Bytes.mid(answer.PauseAfter),
                            due + qint64(answer.PauseMs) * 1000, index, true});
    } else {
        Pending_.push_back({answer.Bytes, due, index, true});
    }
}

int TSimServer::PaceRate() const {
    const int rate = LineRate_;
    if (rate == LinePortRate)
        return TerminalRate(Slave_);
    return std::max(rate, 0);
}

bool TSimServer::WriteAnswer(const QByteArray& bytes, int baud) {
    auto writeAll = [this](const char* data, qsizetype size) {
        qsizetype done = 0;
        while (done < size && !StopFlag_) {
            const ssize_t n = ::write(Master_, data + done, size - done);
            if (n > 0) {
                done += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd f{Master_, POLLOUT, 0};
                ::poll(&f, 1, 10);
            } else {
                return false;
            }
        }
        return true;
    };
    if (baud <= 0)
        return writeAll(bytes.constData(), bytes.size());
    // Absolute times from the answer's start, so that the time spent writing does not add up.
    const long long charNs = 11LL * 1000000000LL / baud;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (qsizetype k = 0; k < bytes.size() && !StopFlag_; ++k) {
        SleepUntil(AddNs(start, k * charNs));
        if (!writeAll(bytes.constData() + k, 1))
            return false;
    }
    // The last character's own time on the line.
    SleepUntil(AddNs(start, bytes.size() * charNs));
    return true;
}

bool TSimServer::SendDue(qint64 nowUs) {
    while (!Pending_.empty() && Pending_.front().DueUs <= nowUs) {
        TPending p = Pending_.front();
        Pending_.erase(Pending_.begin());
        const qint64 startUs = NowUs();
        if (!WriteAnswer(p.Bytes, PaceRate()))
            return false;
        const qint64 endUs = NowUs();
        std::lock_guard<std::mutex> guard(Lock_);
        if (p.Record >= Cleared_ && p.Record - Cleared_ < Records_.size()) {
            TSimRecord& r = Records_[p.Record - Cleared_];
            if (r.AnswerStartUs < 0)
                r.AnswerStartUs = startUs;
            if (p.Last)
                r.AnswerEndUs = endUs;
        }
        // A later part of a paused answer is due relative to when the first part went out.
        if (!p.Last && !Pending_.empty())
            Pending_.front().DueUs += endUs - p.DueUs;
    }
    return true;
}
