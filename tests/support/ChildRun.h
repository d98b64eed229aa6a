#pragma once
// Runs a piece of a test in a child process, so that a reading that blocks (a FIFO) or never
// ends (/dev/zero) ends that child instead of hanging the suite: the parent waits a bounded
// time, then kills it. The child may drop to the plain user first (PlainUser.h). Test main
// thread, with no other thread of the test running.

#include "tests/support/PlainUser.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <functional>
#include <optional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

// What `work` returned in the child, or nothing when the child did not end within limitMs, did
// not end normally, or could not become the plain user when asked to.
inline std::optional<QByteArray> RunInChild(const std::function<QByteArray()>& work,
                                            bool asPlainUser = false, int limitMs = 15000) {
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        ::close(fds[0]);
        if (asPlainUser && RunningAsRoot() && !BecomePlainUser())
            ::_exit(126);
        const QByteArray out = work();
        qsizetype done = 0;
        while (done < out.size()) {
            const ssize_t n = ::write(fds[1], out.constData() + done, size_t(out.size() - done));
            if (n <= 0)
                ::_exit(125);
            done += n;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray out;
    QDeadlineTimer deadline(limitMs);
    bool ended = false;
    while (!deadline.hasExpired()) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 1000)));
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, n);
        } else if (n == 0) {
            ended = true;
            break;
        }
    }
    ::close(fds[0]);
    if (!ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return out;
}
