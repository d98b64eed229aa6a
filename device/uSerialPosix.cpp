#include "uSerialPosix.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__) || defined(__aarch64__) ||     \
                           defined(__arm__) || defined(__riscv))
// The kernel's termios2 (asm-generic layout). <asm/termbits.h> cannot be included beside
// <termios.h>, so the structure and the request numbers are spelled out here.
#define ULMAR_HAVE_TERMIOS2 1
namespace {
struct TKernelTermios2 {
    unsigned int c_iflag;
    unsigned int c_oflag;
    unsigned int c_cflag;
    unsigned int c_lflag;
    unsigned char c_line;
    unsigned char c_cc[19];
    unsigned int c_ispeed;
    unsigned int c_ospeed;
};
static_assert(sizeof(TKernelTermios2) == 44, "termios2 layout");
constexpr unsigned long KernelTCGETS2 = _IOR('T', 0x2A, TKernelTermios2);
constexpr unsigned long KernelTCSETS2 = _IOW('T', 0x2B, TKernelTermios2);
constexpr unsigned int KernelCBAUD = 0x100F;
constexpr unsigned int KernelBOTHER = 0x1000;
constexpr int KernelIBSHIFT = 16;
} // namespace
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int SafetyLimitMs = SerialSafetyLimitMs;

struct TBaudEntry {
    int Rate;
    speed_t Code;
};

const TBaudEntry StandardRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

const TBaudEntry* ExactRate(int rate) {
    for (const auto& e : StandardRates)
        if (e.Rate == rate)
            return &e;
    return nullptr;
}

const TBaudEntry& NearestRate(int rate) {
    const TBaudEntry* best = &StandardRates[0];
    for (const auto& e : StandardRates)
        if (std::abs(static_cast<long>(e.Rate) - rate) <
            std::abs(static_cast<long>(best->Rate) - rate))
            best = &e;
    return *best;
}

// The c_cflag parity bits for a parity; CMSPAR selects the stick (mark/space) parity.
tcflag_t ParityFlags(TSerialParity parity) {
    switch (parity) {
    case TSerialParity::None:
        return 0;
    case TSerialParity::Odd:
        return PARENB | PARODD;
    case TSerialParity::Even:
        return PARENB;
    case TSerialParity::Mark:
        return PARENB | PARODD | CMSPAR;
    case TSerialParity::Space:
        return PARENB | CMSPAR;
    }
    return 0;
}

constexpr tcflag_t ParityMask = PARENB | PARODD | CMSPAR;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, SafetyLimitMs));
}

// Errors after which the device is gone (an unplugged adapter, a closed pseudo-terminal).
bool DeviceGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

} // namespace

int SerialWriteLimitMs(const TSerialTimeouts& timeouts, qsizetype bytes) {
    const long long limit = static_cast<long long>(timeouts.WriteTotalConstant) +
                            static_cast<long long>(timeouts.WriteTotalMultiplier) * bytes;
    return limit > 0 ? static_cast<int>(std::min<long long>(limit, SafetyLimitMs)) : SafetyLimitMs;
}

TPosixSerialPort::~TPosixSerialPort() {
    Close();
}

void TPosixSerialPort::CheckOpen(const char* operation) const {
    if (Fd_ < 0)
        throw std::runtime_error(std::string(operation) + ": port is not open");
}

void TPosixSerialPort::Fail(const char* operation, int error) const {
    std::string text = std::string(operation) + " " + PortName_.toStdString() + ": ";
    text += error ? std::strerror(error) : "device vanished";
    throw TSerialError(text, error, error == 0 || error == EBADF || DeviceGone(error));
}

void TPosixSerialPort::Open(const TSerialPortSettings& settings) {
    Close();
    PortName_ = settings.Port;
    Timeouts_ = settings.Timeouts;
    const QByteArray path = settings.Port.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Fail("open", errno);
    // A port held by another program of ours counts as busy. Its exclusive flag is that
    // program's, so these failures only close the descriptor.
    auto refuse = [&](const char* operation, int error) {
        ::close(fd);
        Fail(operation, error);
    };
    if (!::isatty(fd))
        refuse("open (not a terminal)", ENOTTY);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        refuse("lock", errno == EWOULDBLOCK ? EBUSY : errno);
    // From here on a failure releases and closes the descriptor before it throws.
    auto fail = [&](const char* operation, int error) {
        ReleaseAndClose(fd);
        Fail(operation, error);
    };
    // Exclusive while we hold it: another program's open fails (root's excepted). The flag
    // belongs to the terminal, not to this descriptor, so ReleaseAndClose clears it again.
    ::ioctl(fd, TIOCEXCL);

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        fail("tcgetattr", errno);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~CSIZE;
    switch (std::clamp(settings.DataBits, 5, 8)) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    // 1.5 stop bits exist only with 5 data bits, where CSTOPB gives them.
    if (settings.StopBits == TSerialStopBits::One)
        tio.c_cflag &= ~CSTOPB;
    else
        tio.c_cflag |= CSTOPB;
    tio.c_cflag &= ~CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (settings.FlowControl == TSerialFlowControl::Hardware)
        tio.c_cflag |= CRTSCTS;
    else if (settings.FlowControl == TSerialFlowControl::Software)
        tio.c_iflag |= IXON | IXOFF;
    // The parity of received bytes is not checked.
    tio.c_iflag &= ~(INPCK | PARMRK);
    tio.c_iflag |= IGNPAR;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const int rate = settings.BaudRate > 0 ? settings.BaudRate : 9600;
    const TBaudEntry* exact = ExactRate(rate);
    bool useTermios2 = false;
#ifdef ULMAR_HAVE_TERMIOS2
    useTermios2 = exact == nullptr;
#endif
    const TBaudEntry& chosen = exact ? *exact : NearestRate(rate);
    ::cfsetispeed(&tio, chosen.Code);
    ::cfsetospeed(&tio, chosen.Code);
    EffectiveBaud_ = chosen.Rate;

    tio.c_cflag = (tio.c_cflag & ~ParityMask) | ParityFlags(settings.Parity);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        // A device that refuses the parity (a pseudo-terminal) is still usable without it.
        tio.c_cflag &= ~ParityMask;
        if (::tcsetattr(fd, TCSANOW, &tio) != 0)
            fail("tcsetattr", errno);
    }
#ifdef ULMAR_HAVE_TERMIOS2
    if (useTermios2) {
        // A driver that refuses the arbitrary rate keeps the nearest standard one set above.
        TKernelTermios2 t2{};
        if (::ioctl(fd, KernelTCGETS2, &t2) == 0) {
            t2.c_cflag &= ~(KernelCBAUD | (KernelCBAUD << KernelIBSHIFT));
            t2.c_cflag |= KernelBOTHER | (KernelBOTHER << KernelIBSHIFT);
            t2.c_ispeed = static_cast<unsigned int>(rate);
            t2.c_ospeed = static_cast<unsigned int>(rate);
            if (::ioctl(fd, KernelTCSETS2, &t2) == 0)
                EffectiveBaud_ = rate;
        }
    }
#endif
    (void)useTermios2;
    ::tcflush(fd, TCIOFLUSH);
    Fd_ = fd;
    Baud_ = EffectiveBaud_;
    Parity_ = settings.Parity;
    termios now{};
    ParityApplied_ =
        ::tcgetattr(fd, &now) == 0 && (now.c_cflag & ParityMask) == ParityFlags(settings.Parity);
}

void TPosixSerialPort::Close() noexcept {
    if (Fd_ >= 0) {
        ReleaseAndClose(Fd_);
        Fd_ = -1;
    }
}

void TPosixSerialPort::ReleaseAndClose(int fd) noexcept {
    // A terminal whose other end stays open (a pseudo-terminal, a line held by a getty) keeps
    // its exclusive flag past our close; left set, it refuses every later open by a plain user.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd); // releases the lock too
}

void TPosixSerialPort::SetParity(TSerialParity parity) {
    CheckOpen("set parity");
    Parity_ = parity;
    termios tio{};
    if (::tcgetattr(Fd_, &tio) != 0)
        Fail("tcgetattr", errno);
    if ((tio.c_cflag & ParityMask) == ParityFlags(parity)) {
        ParityApplied_ = true;
        return;
    }
    tio.c_cflag = (tio.c_cflag & ~ParityMask) | ParityFlags(parity);
    // tcsetattr through glibc keeps a BOTHER rate: the kernel keeps the speed fields that the
    // old request does not carry.
    if (::tcsetattr(Fd_, TCSANOW, &tio) != 0) {
        const int error = errno;
        if (DeviceGone(error) || error == EBADF)
            Fail("set parity", error);
        ParityApplied_ = false; // refused: the exchange goes on with the line as it is
        return;
    }
    termios now{};
    ParityApplied_ =
        ::tcgetattr(Fd_, &now) == 0 && (now.c_cflag & ParityMask) == ParityFlags(parity);
}

void TPosixSerialPort::Purge() {
    CheckOpen("purge");
    if (::tcflush(Fd_, TCIOFLUSH) != 0)
        Fail("purge", errno);
}

void TPosixSerialPort::Write(const QByteArray& bytes) {
    CheckOpen("write");
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(SerialWriteLimitMs(Timeouts_, bytes.size()));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(Fd_, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            Fail("write", errno);
        pollfd p{Fd_, POLLOUT, 0};
        const int wait = RemainingMs(deadline);
        if (wait <= 0)
            throw TSerialError("write " + PortName_.toStdString() + ": time-out", 0);
        const int r = ::poll(&p, 1, wait);
        if (r < 0 && errno != EINTR)
            Fail("poll", errno);
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            Fail("write", 0);
    }
}

int TPosixSerialPort::OutputQueued() {
    CheckOpen("drain");
    int pending = 0;
    if (::ioctl(Fd_, TIOCOUTQ, &pending) != 0) {
        if (DeviceGone(errno))
            Fail("drain", errno);
        return -1;
    }
    return std::max(pending, 0);
}

namespace {

// The signal that ends a tcdrain at its time-out. Its handler does nothing: the point is the
// EINTR it leaves behind, so it is installed without SA_RESTART.
int DrainSignal() {
    static const int signal = [] {
        const int s = SIGRTMIN + 3;
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(s, &action, nullptr);
        return s;
    }();
    return signal;
}

// tcdrain, interrupted after timeoutMs by a one-shot timer that signals this thread only.
// False at the time-out; -1 in error when no timer could be made (tcdrain was not called).
bool TimedDrain(int fd, int timeoutMs, int& error) {
    error = 0;
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = DrainSignal();
    event._sigev_un._tid = static_cast<pid_t>(::gettid());
    timer_t timer{};
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
        // Without a timer tcdrain would have no bound: the caller waits by the clock instead.
        error = -1;
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool done = false;
    for (;;) {
        const int left = RemainingMs(deadline);
        if (left <= 0)
            break;
        itimerspec due{};
        due.it_value.tv_sec = left / 1000;
        due.it_value.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
        ::timer_settime(timer, 0, &due, nullptr);
        if (::tcdrain(fd) == 0) {
            done = true;
            break;
        }
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    const itimerspec off{};
    ::timer_settime(timer, 0, &off, nullptr);
    ::timer_delete(timer);
    return done;
}

} // namespace

bool TPosixSerialPort::WaitTransmitted(int timeoutMs) {
    CheckOpen("drain");
    timeoutMs = std::clamp(timeoutMs, 0, SafetyLimitMs);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Where the driver reports its line status, wait for "transmitter empty" itself.
    unsigned int status = 0;
    if (::ioctl(Fd_, TIOCSERGETLSR, &status) == 0) {
        for (;;) {
            if (status & TIOCSER_TEMT)
                return true;
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (::ioctl(Fd_, TIOCSERGETLSR, &status) != 0)
                break; // the status went away: fall back to tcdrain
        }
    } else if (DeviceGone(errno)) {
        Fail("drain", errno);
    }
    int error = 0;
    if (TimedDrain(Fd_, RemainingMs(deadline), error))
        return true;
    if (error == -1) {
        // The queue is empty: what is left is the byte in the shift register and the device's
        // FIFO. Two character times (11 bits each) at the port's rate cover it.
        const auto charUs = 11LL * 1000000 / std::max(Baud_, 1);
        std::this_thread::sleep_for(std::chrono::microseconds(2 * charUs + 500));
        return true;
    }
    if (error != 0)
        Fail("drain", error);
    return false;
}

int AnswerQuietUs(int baudRate, int readIntervalMs) {
    const long long charUs = 11LL * 1000000 / std::max(baudRate, 1);
    long long quiet = std::max<long long>(2000, charUs * 7 / 2);
    if (readIntervalMs > 0)
        quiet = std::min<long long>(quiet, readIntervalMs * 1000LL);
    return static_cast<int>(std::min<long long>(quiet, SafetyLimitMs * 1000LL));
}

void TPosixSerialPort::DiscardTrailing(int quietMs, int limitMs) {
    CheckOpen("purge");
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(std::clamp(limitMs, 0, SafetyLimitMs));
    int wait = 0; // the first look does not wait: a quiet line costs nothing
    for (;;) {
        pollfd p{Fd_, POLLIN, 0};
        const int r = ::poll(&p, 1, std::min(wait, RemainingMs(deadline)));
        if (r < 0 && errno != EINTR)
            Fail("poll", errno);
        if (r > 0 && (p.revents & POLLNVAL))
            Fail("purge", EBADF);
        if (r > 0 && (p.revents & (POLLERR | POLLHUP)) && !(p.revents & POLLIN))
            Fail("purge", 0);
        if (::tcflush(Fd_, TCIFLUSH) != 0)
            Fail("purge", errno);
        if (r == 0 || Clock::now() >= deadline)
            return;
        wait = std::max(quietMs, 1);
    }
}

QByteArray TPosixSerialPort::Read(int count) {
    return ReadAnswer(count, {});
}

QByteArray TPosixSerialPort::ReadAnswer(int count, const TAnswerEndRule& rule) {
    CheckOpen("read");
    ReadTimes_ = TReadTimes();
    QByteArray result;
    if (count <= 0)
        return result;
    result.reserve(count);
    const auto start = Clock::now();
    const long long total = static_cast<long long>(Timeouts_.ReadTotalConstant) +
                            static_cast<long long>(Timeouts_.ReadTotalMultiplier) * count;
    // No total time-out means none in the driver either; the safety limit still applies.
    const auto totalDeadline =
        start + std::chrono::milliseconds(total > 0 ? std::min<long long>(total, SafetyLimitMs)
                                                    : SafetyLimitMs);
    const int interval = Timeouts_.ReadInterval;
    const auto quiet = std::chrono::microseconds(AnswerQuietUs(Baud_, interval));
    bool byLength = static_cast<bool>(rule); // the length rule may still end the read
    bool complete = false;                   // a whole frame is in, the quiet time runs
    Clock::time_point lastByte{};
    char buffer[256];
    while (result.size() < count) {
        auto deadline = totalDeadline;
        if (!result.isEmpty() && interval > 0)
            deadline = std::min(deadline, lastByte + std::chrono::milliseconds(interval) +
                                              std::chrono::microseconds(500));
        if (complete)
            deadline = std::min(deadline, lastByte + quiet);
        if (Clock::now() >= deadline)
            break;
        const auto waitUs =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        pollfd p{Fd_, POLLIN, 0};
        // Round up so that poll does not wake just before the deadline and spin.
        const int r = ::poll(
            &p, 1,
            static_cast<int>(std::clamp<long long>((waitUs + 999) / 1000, 0, SafetyLimitMs)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            Fail("poll", errno);
        }
        if (r == 0)
            continue; // the loop head decides whether a deadline has passed
        if (p.revents & POLLNVAL)
            Fail("read", EBADF);
        if (p.revents & (POLLIN | POLLERR | POLLHUP)) {
            const int want = std::min<int>(sizeof buffer, count - static_cast<int>(result.size()));
            const ssize_t n = ::read(Fd_, buffer, want);
            if (n > 0) {
                result.append(buffer, n);
                lastByte = Clock::now();
                if (ReadTimes_.First == Clock::time_point())
                    ReadTimes_.First = lastByte;
                ReadTimes_.Last = lastByte;
                if (complete) {
                    // Bytes after a whole frame: the line is not clean, the silence decides.
                    complete = false;
                    byLength = false;
                } else if (byLength) {
                    const TAnswerEnd verdict = rule(result);
                    complete = verdict == TAnswerEnd::Complete;
                    byLength = verdict != TAnswerEnd::Silence;
                }
                continue;
            }
            if (n == 0)
                Fail("read", 0); // end of file on a terminal: the device hung up
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
                if (p.revents & (POLLERR | POLLHUP))
                    Fail("read", 0);
                continue;
            }
            Fail("read", errno);
        }
    }
    return result;
}

std::unique_ptr<ISerialPort> MakeSystemSerialPort() {
    return std::make_unique<TPosixSerialPort>();
}
