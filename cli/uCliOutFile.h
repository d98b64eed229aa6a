#pragma once
// Where ulmar-cli writes: the file of --out (params read, tare read, zero read) and the texts of
// system errors on its output.
//
// An --out path takes the output only as a new name in an existing folder the user may write,
// or, with --force, as an existing regular file. A symbolic link is refused whatever it points
// at (the file behind a link is never replaced through it: name that file itself), and so are a
// folder, a device, a FIFO and a socket: a device node replaced by a regular file would be lost
// to every program, and a FIFO would hold the command until someone reads it. The path is
// checked before the port opens, so a wrong path costs no exchange with the gauge.
//
// The file is written in full under a hidden name in the same folder and then renamed onto the
// path: a failure halfway leaves no half file and the former file as it was. The rename is made
// to fail when, while the gauge was being read, something appeared at a new path, or a former
// regular file was replaced by anything else.
// Main thread.

#include <QString>
#include <functional>

struct TCliRequest;

// Why `path` may not take a command's output, or empty when it may: "--out PATH: why".
// `replace`: an existing regular file may be replaced (--force).
QString OutputPathRefusal(const QString& path, bool replace);

// OutputPathRefusal for the request's --out, or empty when it has none.
QString CliOutRefusal(const TCliRequest& request);

// Writes the file at `path`: `write` fills the file it is given (new and empty, in the folder of
// `path`, with the modes the result is to have) and returns false with `error` on failure; the
// file is then renamed onto `path`. False with `error` on any failure, the written file removed.
bool WriteOutputFile(const QString& path, bool replace,
                     const std::function<bool(const QString& staged, QString& error)>& write,
                     QString& error);
