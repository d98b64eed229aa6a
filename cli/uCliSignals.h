#pragma once
// ulmar-cli and the stop signals. Ctrl+C (SIGINT) and SIGTERM are only noted
// (base/uStopSignals.h); every command looks at the note between two exchanges, so a frame
// on the line is never cut short, a sequence that stops commits nothing more to the gauge's ROM
// (the command layer's quiet face reports the note as the program closing), and the program
// ends with 128 + the signal's number: 130 for Ctrl+C, 143 for SIGTERM. The same signal a
// second time ends the program at once. Main thread only.

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class TCliOutput;

// Installs the handlers for SIGINT and SIGTERM.
void InstallCliSignals();
// A stop signal came.
bool CliInterrupted();
// 128 + the first stop signal's number; 0 while none came.
int CliInterruptExit();
// Says that the command was interrupted and returns CliInterruptExit(): on stderr
// "ulmar-cli: [what: ]прервано[; note]", with --json also {"ok": false, "error":
// {"code": "interrupted", "message": the same text}, "signal": its number} with the details'
// members (a command that prints one object puts what it got so far there).
int CliReportInterrupt(TCliOutput& out, const QString& what = {}, const QString& note = {},
                       const QJsonObject& details = {});

enum class TCliLineRead { Line, End, Interrupted };
// One line from fd without its line end (at most `limit` bytes kept), read byte by byte so that
// nothing after it is taken; a wait for the line ends at a stop signal.
TCliLineRead CliReadLine(int fd, QByteArray& line, int limit = 4096);

// The summary of polls that a stop signal ended: "опросов: N, без ответа: M (P %)", the share
// rounded to a whole percent.
QString CliPollSummary(int polls, int unanswered);
