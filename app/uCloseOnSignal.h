#pragma once
// SIGTERM, SIGINT and SIGHUP end the window program as its close command does: the main window
// closes without its question (window positions and the parameter file saved, tool windows
// closed), a dialog left open gets its default answer, the event loop ends, and the shut-down
// drains the archive writer and saves the archive settings; the exit code is 0. The handler only
// notes the signal (base/uStopSignals.h); a socket notifier on its pipe brings it into the
// event loop. The same signal a second time ends the program at once. User-interface thread.

class TFormMain;

// Installs the handlers; a signal that comes before the event loop runs waits in the pipe.
void InstallCloseSignals();
// From the event loop on: the first stop signal closes `window` and ends the loop.
void CloseOnStopSignal(TFormMain* window);
