#pragma once
// Byte renderings, small conversions, path helpers and the command-line switches.
// Any thread.

#include "uTimeOut.h"
#include <QByteArray>
#include <QString>
#include <QStringList>

// The window program's command-line switches (exact, with case): /full the factory mode (factory
// parameters and service windows), /kalist the КАЛИСТ-1 polled too in the factory mode.
struct TCommandLineModes {
    bool Factory = false;
    bool Kalist = false;
};
TCommandLineModes ParseCommandLine(const QStringList& arguments);

// One character per byte and back (Latin-1), for code that keeps byte strings as text.
QString BytesToString(const QByteArray& bytes);
QByteArray StringToBytes(const QString& text);

// "01 A2 FF": two upper-case hex digits per byte, single blanks, no trailing blank.
QString ToHexString(const QByteArray& bytes);
// "001 162 255" when padded to three digits, "1 162 255" otherwise.
QString ToDecString(const QByteArray& bytes, bool padded);

bool InRange(double value, double low, double high);
// n > 0: text repeated n times; otherwise the text once.
QString RepeatString(const QString& text, int n);

// Day path "yyyy/MM/dd" with the platform's separator; empty for a stamp outside the years 1-9999.
QString ArchiveDayPath(TDateTime stamp);
// Directory and name with exactly one separator between them; an empty directory gives the name.
QString JoinPath(const QString& dir, const QString& name);
// Creates the missing directories of the path and an empty file when none exists.
// Throws std::runtime_error when either cannot be created.
void EnsureFileExists(const QString& path);
