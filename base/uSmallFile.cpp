#include "uSmallFile.h"
#include "uProgramPlaces.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const QString NotRegular = QStringLiteral("не обычный файл");

QString Reason(int error) {
    if (error == EACCES || error == EPERM)
        return QStringLiteral("нет прав на чтение");
    return qt_error_string(error);
}

} // namespace

QString FileRefusalText(const QString& path, const QString& reason) {
    return QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason;
}

QString FileTooLargeReason(qint64 maxBytes) {
    return QStringLiteral("больше ") + QString::number(maxBytes / 1024) + QStringLiteral(" КБ");
}

TSmallFileRead ReadSmallRegularFile(const QString& path, qint64 maxBytes, QByteArray& bytes,
                                    QString& error) {
    bytes.clear();
    error.clear();
    if (path.isEmpty())
        return TSmallFileRead::Missing;
    const QByteArray name = QFile::encodeName(path);
    // The kind is looked at before the open: opening a device may act on it (a serial port
    // raises its lines), and a FIFO opened for reading waits for a writer.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return TSmallFileRead::Missing;
        error = Reason(e);
        return TSmallFileRead::Refused;
    }
    if (!S_ISREG(st.st_mode)) {
        error = NotRegular;
        return TSmallFileRead::Refused;
    }
    if (st.st_size > maxBytes) {
        error = FileTooLargeReason(maxBytes);
        return TSmallFileRead::Refused;
    }
    // Non-blocking, so that a FIFO put in the file's place meanwhile cannot hold the open; the
    // open file's own kind and size decide.
    int fd = -1;
    do
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return TSmallFileRead::Missing;
        error = Reason(e);
        return TSmallFileRead::Refused;
    }
    TSmallFileRead result = TSmallFileRead::Read;
    if (::fstat(fd, &st) != 0) {
        error = Reason(errno);
        result = TSmallFileRead::Refused;
    } else if (!S_ISREG(st.st_mode)) {
        error = NotRegular;
        result = TSmallFileRead::Refused;
    } else {
        // Up to one byte more than allowed: a file that grew since is refused all the same.
        const qint64 want = maxBytes + 1;
        bytes.resize(std::min<qint64>(st.st_size, maxBytes) + 1);
        qint64 have = 0;
        while (have < want) {
            if (have == bytes.size())
                bytes.resize(std::min<qint64>(want, bytes.size() * 2));
            const ssize_t n = ::read(fd, bytes.data() + have, size_t(bytes.size() - have));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = Reason(errno);
                result = TSmallFileRead::Refused;
                break;
            }
            if (n == 0)
                break;
            have += n;
        }
        bytes.resize(have);
        if (result == TSmallFileRead::Read && have > maxBytes) {
            error = FileTooLargeReason(maxBytes);
            result = TSmallFileRead::Refused;
        }
    }
    ::close(fd);
    if (result != TSmallFileRead::Read)
        bytes.clear();
    return result;
}

bool MaySaveOver(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return S_ISREG(st.st_mode);
}

// The refused files are kept in the process's TProgramPlaces, with the folders they were read
// from.
void NoteRefusedSettingsFile(const QString& text) {
    ProgramPlaces().NoteRefusedSettingsFile(text);
}

QStringList WatchRefusedSettingsFiles(std::function<void(const QString&)> handler) {
    return ProgramPlaces().WatchRefusedSettingsFiles(std::move(handler));
}
