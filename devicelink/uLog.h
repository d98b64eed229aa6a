#pragma once
// Text log writer: one time-stamped line per Add, the file opened and closed for each line.
// Any thread; each call stands alone.

#include <QString>

class TLog {
public:
    TLog() = default;

    const QString& FileName() const { return FileName_; }
    // An empty name is ignored.
    void SetFileName(const QString& name);
    void Assign(const TLog& other) { FileName_ = other.FileName_; }

    // Appends "dd.MM.yyyy hh:mm:ss,zzz <text>\r\n", creating missing directories.
    // Throws std::runtime_error when the directory or the file cannot be created or written.
    void Add(const QString& text) const;

private:
    QString FileName_ = QStringLiteral("log.txt");
};
