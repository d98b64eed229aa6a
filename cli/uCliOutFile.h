#pragma once
// Where ulmar-cli writes: the file of --out (params read, tare read, zero read) and the texts of
// system errors on its output; and "-" in place of a file: standard input for a file to read,
// standard output for --out.
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
#include <memory>

class QTemporaryDir;
class TCliOutput;
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

// The --out of the request written by `write` (as WriteOutputFile calls it): in place, or for
// "-" into a private temporary file whose bytes then go to standard output whole, so that a
// failure halfway sends nothing. False with `error` on any failure.
bool CliWriteOut(const TCliRequest& request, TCliOutput& out,
                 const std::function<bool(const QString& staged, QString& error)>& write,
                 QString& error);

// A file to read given as "-": standard input read to its end into a private temporary file,
// so that the file's own reader checks it as it checks any file. At most `limit` + 1 bytes are
// kept, enough for the reader to refuse it as too large; a wait for input ends at a stop
// signal. Any other name is the file itself.
class TCliInputFile {
public:
    TCliInputFile(const QString& file, qint64 limit);
    ~TCliInputFile();
    // The file to read; empty when standard input could not be taken (Error says why, or a
    // stop signal came).
    QString Path() const { return Path_; }
    QString Error() const { return Error_; }
    // A reader's message with the temporary file named as standard input.
    QString Shown(const QString& message) const;

private:
    std::unique_ptr<QTemporaryDir> Dir_;
    QString Path_;
    QString Error_;
};

// How messages name standard input in place of a file.
QString CliStandardInputName();
