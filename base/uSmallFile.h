#pragma once
// Reading the program's small text files whole (settings, parameter, tare, zero-array and type
// list files), in one place. Only a regular file is read (a symbolic link to one is followed);
// a FIFO, a device, a socket or a directory is refused without a blocking open, since a FIFO
// would wait for a writer forever and a device such as /dev/zero never ends. A file larger than
// its kind allows is refused before it is read. Any thread.
//
// Settings files that were refused are gathered here as well (in the process's TProgramPlaces,
// uProgramPlaces.h): the program goes on with the defaults of such a file, never saves over it,
// and says once which file it was and why.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

enum class TSmallFileRead {
    Read,    // `bytes` holds the whole file
    Missing, // nothing at the path (or a folder on the way is missing)
    Refused // `error` says why: "не обычный файл", "больше N КБ", "нет прав на чтение", ...
};

// Reads the file at `path` into `bytes` when it is a regular file of at most maxBytes bytes.
// On refusal `error` is the reason alone; FileRefusalText adds the path.
TSmallFileRead ReadSmallRegularFile(const QString& path, qint64 maxBytes, QByteArray& bytes,
                                    QString& error);

// "<path>: <reason>", the path as the system writes it.
QString FileRefusalText(const QString& path, const QString& reason);

// "больше N КБ" for a limit of maxBytes (N = maxBytes / 1024).
QString FileTooLargeReason(qint64 maxBytes);

// True when a save may put a new file at `path`: nothing is there yet, or a regular file (a
// symbolic link to one included). A FIFO, a device or a directory in its place is left alone.
bool MaySaveOver(const QString& path);

// Records a settings file that was refused (FileRefusalText); each text is passed on once per
// run: to the handler given to WatchRefusedSettingsFiles, or kept until one is given.
void NoteRefusedSettingsFile(const QString& text);
// From now on hands every new refusal to `handler` (on the thread that read the file), and
// returns the ones noted before. An empty handler keeps them again.
QStringList WatchRefusedSettingsFiles(std::function<void(const QString&)> handler);
