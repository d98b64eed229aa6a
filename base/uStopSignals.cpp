#include "uStopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// What the handler and the waits share. It must be process-wide: a signal handler gets no
// argument, so the state it writes can only be reached through a variable of the process, and
// it may touch lock-free atomics alone.
struct TStopState {
    std::atomic<int> First{0};     // the first stop signal's number, 0 while none came
    std::atomic<int> WakeRead{-1}; // the pipe's read end, -1 before it is made
    std::atomic<int> WakeWrite{-1};
};
TStopState State;

static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

// The first signal is kept (its number gives the exit code), and the pipe gets a byte.
void OnStopSignal(int signal) {
    const int saved = errno;
    int none = 0;
    State.First.compare_exchange_strong(none, signal);
    const int fd = State.WakeWrite.load();
    if (fd >= 0) {
        // One byte is enough; a full pipe (thousands of signals) is readable all the same.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

bool MakePipe() {
    if (State.WakeRead.load() >= 0)
        return true;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    State.WakeRead = fds[0];
    State.WakeWrite = fds[1];
    return true;
}

} // namespace

bool InstallStopSignals(std::initializer_list<int> numbers) {
    bool ok = MakePipe();
    for (int signal : numbers) {
        // A signal ignored from the start stays ignored, as whoever started the program asked
        // (nohup, a background job of a script).
        struct sigaction before {};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND; // no SA_RESTART: a blocked read ends with EINTR
        ok = ::sigaction(signal, &action, nullptr) == 0 && ok;
    }
    return ok;
}

int StopSignal() {
    return State.First.load();
}

int StopSignalFd() {
    return State.WakeRead.load();
}

bool WaitReadableOrStop(int fd) {
    for (;;) {
        if (StopSignalReceived())
            return false;
        pollfd fds[2] = {{fd, POLLIN, 0}, {StopSignalFd(), POLLIN, 0}};
        const int r = ::poll(fds, fds[1].fd >= 0 ? 2 : 1, -1);
        if (r < 0 && errno != EINTR)
            return true; // the read that follows tells what is wrong
        if (StopSignalReceived())
            return false;
        if (r > 0 && fds[0].revents != 0)
            return true;
    }
}
