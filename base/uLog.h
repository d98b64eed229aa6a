#pragma once
// Text log writer: one time-stamped line per Add, the file opened and closed for each line.
// Any thread; each call stands alone.

#include <QByteArray>
#include <QString>

// Appends one whole line (its bytes as given, line end included) to the file at `path`,
// creating missing directories. A file that does not end with '\n' first gets "\r\n", so the
// line starts on its own. The line goes out in one write; when any step fails the file is cut
// back to its size before the call, so it never keeps part of a line. False on failure; then
// `systemError`, when given, gets the system's error number of the failed step (ENOSPC on a full
// disk), or 0 where none is known. Any thread; appends to one path are serialised within the
// process.
bool AppendLineToFile(const QString& path, const QByteArray& line, int* systemError = nullptr);

class TLog {
public:
    TLog() = default;

    const QString& FileName() const { return FileName_; }
    // An empty name is ignored.
    void SetFileName(const QString& name);
    void Assign(const TLog& other) { FileName_ = other.FileName_; }

    // "dd.MM.yyyy hh:mm:ss,zzz <text>\r\n" with the time of the call, in UTF-8: the line that
    // Add writes, for callers that hand the writing to another thread.
    static QByteArray FormatLine(const QString& text);

    // Appends FormatLine(text) with AppendLineToFile.
    // Throws std::runtime_error when the directory or the file cannot be created or written.
    void Add(const QString& text) const;

private:
    QString FileName_ = QStringLiteral("log.txt");
};
