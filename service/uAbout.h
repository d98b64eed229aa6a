#pragma once
// What the about box shows of the program itself: its version and the date and time of its
// build, both compiled into the program (the project's version and the compiler's build stamp).
// Pure functions; any thread.

#include <QDateTime>
#include <QString>
#include <optional>

// The program's version, e.g. "1.0.2.6"; "1.0.0.0" when the build recorded none.
QString ProgramVersionText();
// The date and time the program was built (local time of the build machine); none when the
// stamp cannot be read.
std::optional<QDateTime> ProgramBuildTime();

// The version text of a recorded version: trimmed, or "1.0.0.0" when empty.
QString VersionTextFrom(const QString& recorded);
// A compiler build stamp: date as "Mmm dd yyyy" (day padded with a blank), time as "hh:mm:ss".
std::optional<QDateTime> ParseBuildStamp(const QString& date, const QString& time);
