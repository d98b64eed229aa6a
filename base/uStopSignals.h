#pragma once
// The stop signals (SIGINT from Ctrl+C, SIGTERM, SIGHUP) as a flag that the programs look at
// between two steps of their work, and a byte in a pipe that wakes a wait on it (poll in
// ulmar-cli, a socket notifier in the window program's event loop). The handler does only what
// is safe in a signal handler: an atomic store and one write(2).
// Installed without SA_RESTART, so that a read blocked on a terminal or a pipe ends with EINTR,
// and with SA_RESETHAND: the same signal a second time takes its default action and ends the
// program at once, for a user who will not wait for the exchange on the line to end.
// No Qt: any thread, and the programs without widgets.

#include <initializer_list>

// Installs the handler for each signal that is not ignored (a signal ignored from the start, as
// nohup or a script's background job leave SIGHUP and SIGINT, stays ignored); false when the
// pipe or a handler could not be set up. The pipe is made once; a later call adds signals.
bool InstallStopSignals(std::initializer_list<int> numbers);
// The first stop signal's number; 0 while none came.
int StopSignal();
inline bool StopSignalReceived() {
    return StopSignal() != 0;
}
// The read end of the pipe (non-blocking, closed on exec): readable from the first stop signal
// on, and never emptied, so every later wait on it ends at once. -1 before InstallStopSignals.
int StopSignalFd();
// Waits until fd can be read, or fails, or a stop signal came; false for the signal.
bool WaitReadableOrStop(int fd);
