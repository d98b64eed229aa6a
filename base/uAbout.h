#pragma once
// What the about box shows of the program itself: its version and the date and time of its
// build, both compiled into the program (the project's version and the compiler's build stamp);
// and the layout that the three programs' -h/--help and -V/--version share.
// Pure functions; any thread.

#include <QDateTime>
#include <QList>
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

// One entry of a program's option list: its names as typed ("-h, --help", "--delay MS") and
// what it does, further lines after '\n'.
struct TUsageOption {
    QString Names;
    QString Text;
};

// The -h/--help entries every program lists: "-h, --help" and "-V, --version" (its text says
// what the version output names beside the version).
TUsageOption HelpUsageOption();
TUsageOption VersionUsageOption(const QString& text);

// The programs' --help: "Использование: " + usage (further lines after '\n' indented under it),
// an empty line, the one-line description, an empty line, "Параметры:" with one entry an
// option, the texts in one column two spaces after the longest names (names that do not
// leave room put their text on the next line), and the notes after an empty line when given.
QString UsageText(const QString& usage, const QString& description,
                  const QList<TUsageOption>& options, const QString& notes = {});

// The first line of -V/--version: "<program> <version>".
QString VersionLine(const QString& program);

// The exit code of a program refused its command line (unknown option, missing or bad value)
// by the window program and ulmar-sim.
constexpr int ExitBadArguments = 2;
