#pragma once
// Looks at an archive tree the way a technician would: which files lie there, what a text file
// holds, which journal a table file asks for.

#include "uTimeOut.h"
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>

inline TDateTime Stamp(int y, int mo, int d, int h, int mi, int s, int ms) {
    return QtToDateTime(QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms)));
}

// Every file under the directory, relative to it, sorted.
inline QStringList FilesUnder(const QString& dir) {
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(dir).relativeFilePath(it.next());
    files.sort();
    return files;
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The read version in a SQLite file's header: 1 rollback journal, 2 write-ahead log; 0 when
// the file is missing or too short.
inline int JournalVersion(const QString& dbFile) {
    const QByteArray header = ReadBytes(dbFile);
    return header.size() >= 100 ? header.at(19) : 0;
}
