#pragma once
// Program-wide console state shared by the main window and the windows that run its commands.
// User-interface thread.

// Set once, when the operator confirms exit; the long command sequences stop at their next check.
extern bool AppClosing;
// True while the write-all sequence (or the run test's group of writes) runs: the commit to the
// gauge's ROM then waits for the end of the sequence.
extern bool AllParamWriting;
// Span of the trend actions, days: the range runs from now minus the span to now.
constexpr double TrendSpan = 1.0;
