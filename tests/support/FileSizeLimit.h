#pragma once
// Lets the process write files only up to a given size while the object lives, as a full disk
// cuts a write short: the write that crosses the limit stores what fits and the next one fails
// (SIGXFSZ ignored meanwhile). Restores the limit and the signal on destruction. The limit
// holds for every thread of the process: keep other writers idle meanwhile.

#include <csignal>
#include <sys/resource.h>

class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        Handler_ = std::signal(SIGXFSZ, SIG_IGN);
        Set_ = getrlimit(RLIMIT_FSIZE, &Saved_) == 0;
        if (Set_) {
            rlimit limit = Saved_;
            limit.rlim_cur = bytes;
            Set_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
    }
    ~TFileSizeLimit() {
        if (Set_)
            setrlimit(RLIMIT_FSIZE, &Saved_);
        std::signal(SIGXFSZ, Handler_);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

    // False when the limit could not be set: the test cannot run.
    bool Active() const { return Set_; }

private:
    rlimit Saved_{};
    bool Set_ = false;
    void (*Handler_)(int) = SIG_DFL;
};
