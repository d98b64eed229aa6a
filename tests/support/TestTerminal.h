#pragma once
// A pseudo-terminal for a program that a test starts: its slave side takes the place of the
// program's standard input or error (Attach, from a child process modifier), so that the
// program finds a terminal there; the test types through the master side and reads there what
// the program showed. Test main thread, and the child before exec.

#include <QByteArray>
#include <QDeadlineTimer>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

class TTestTerminal {
public:
    TTestTerminal() {
        Master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master_ < 0 || ::grantpt(Master_) != 0 || ::unlockpt(Master_) != 0)
            return;
        const char* name = ::ptsname(Master_);
        if (name)
            Slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~TTestTerminal() {
        if (Slave_ >= 0)
            ::close(Slave_);
        if (Master_ >= 0)
            ::close(Master_);
    }
    TTestTerminal(const TTestTerminal&) = delete;
    TTestTerminal& operator=(const TTestTerminal&) = delete;

    bool Valid() const { return Master_ >= 0 && Slave_ >= 0; }
    // In the child: the terminal in place of `fd` (0 or 2), kept open across exec.
    void Attach(int fd) const { ::dup2(Slave_, fd); }
    // Keys typed on the terminal ("\x04" at the start of a line ends the input).
    bool Type(const QByteArray& keys) const {
        return ::write(Master_, keys.constData(), size_t(keys.size())) == keys.size();
    }
    // What the program showed (and the terminal echoed) since the last call, waiting up to
    // `waitMs` for the first bytes.
    QByteArray Shown(int waitMs = 0) {
        QByteArray shown;
        QDeadlineTimer deadline(waitMs);
        for (;;) {
            pollfd p{Master_, POLLIN, 0};
            const int wait = shown.isEmpty() ? int(deadline.remainingTime()) : 0;
            if (::poll(&p, 1, wait) <= 0 || !(p.revents & POLLIN))
                return shown;
            char buffer[4096];
            const ssize_t n = ::read(Master_, buffer, sizeof buffer);
            if (n <= 0)
                return shown;
            shown.append(buffer, n);
        }
    }

private:
    int Master_ = -1;
    int Slave_ = -1;
};
