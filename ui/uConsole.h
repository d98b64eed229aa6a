#pragma once
// Console constants shared by the main window and the windows that run its commands (the
// console's flags live in the main window's TWindowContext). User-interface thread.

// Span of the trend actions, days: the range runs from now minus the span to now.
constexpr double TrendSpan = 1.0;
