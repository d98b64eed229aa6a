#include "uCliOutFile.h"
#include "uCliArgs.h"
#include "uCliSession.h"
#include "uPaths.h"
#include "uStopSignals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Shown(const QString& path) {
    return QStringLiteral("--out ") + QDir::toNativeSeparators(path) + QStringLiteral(": ");
}

// Why the folder of a new or replaced file cannot take it, or empty when it can.
QString FolderRefusal(const QString& shown, const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    const QString native = QDir::toNativeSeparators(folder);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT ? shown + QStringLiteral("нет каталога ") + native
                               : shown + QStringLiteral("каталог ") + native +
                                     QStringLiteral(": ") + SystemErrorText(errno);
    if (!S_ISDIR(st.st_mode))
        return shown + native + QStringLiteral(" — не каталог");
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return errno == EACCES ? shown + QStringLiteral("нет права записи в каталог ") + native
                               : shown + QStringLiteral("каталог ") + native +
                                     QStringLiteral(": ") + SystemErrorText(errno);
    return QString();
}

// Renames the written file onto the path; 0, or the error number. rename(2) replaces a link at
// the path itself, never the file it points at.
int MoveIntoPlace(const QByteArray& staged, const QByteArray& target, bool replace) {
    struct stat st {};
    if (replace) {
        // The former file was checked before the port opened; the same look again just before.
        if (::lstat(target.constData(), &st) == 0 && !S_ISREG(st.st_mode))
            return EEXIST;
        return ::rename(staged.constData(), target.constData()) == 0 ? 0 : errno;
    }
    if (::renameat2(AT_FDCWD, staged.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without that rename: a hard link is refused as well when the name is taken.
    if (::link(staged.constData(), target.constData()) == 0) {
        ::unlink(staged.constData());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor hard links (FAT): one more look just before the rename.
    if (::lstat(target.constData(), &st) == 0)
        return EEXIST;
    return ::rename(staged.constData(), target.constData()) == 0 ? 0 : errno;
}

} // namespace

QString OutputPathRefusal(const QString& path, bool replace) {
    const QString shown = Shown(path);
    const QFileInfo info(path);
    if (info.fileName().isEmpty())
        return shown + QStringLiteral("нет имени файла");
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT ? FolderRefusal(shown, info.absolutePath())
                               : shown + SystemErrorText(errno);
    if (S_ISLNK(st.st_mode))
        return shown + QStringLiteral("символическая ссылка; файл по ссылке не заменяется — "
                                      "укажите сам файл");
    if (S_ISDIR(st.st_mode))
        return shown + QStringLiteral("это каталог");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return shown + QStringLiteral("это устройство, а не обычный файл");
    if (S_ISFIFO(st.st_mode))
        return shown + QStringLiteral("это канал (FIFO), а не обычный файл");
    if (!S_ISREG(st.st_mode))
        return shown + QStringLiteral("это не обычный файл");
    if (!replace)
        return shown + QStringLiteral("файл уже есть; чтобы заменить его, добавьте --force");
    if (::access(name.constData(), W_OK) != 0)
        return errno == EACCES ? shown + QStringLiteral("файл только для чтения")
                               : shown + SystemErrorText(errno);
    return FolderRefusal(shown, info.absolutePath());
}

QString CliOutRefusal(const TCliRequest& request) {
    const bool writes = request.Command == TCliCommand::ParamsRead ||
                        request.Command == TCliCommand::TareRead ||
                        request.Command == TCliCommand::ZeroRead;
    if (!writes || request.File.isEmpty() || CliStandardStream(request.File))
        return QString();
    return OutputPathRefusal(request.File, request.Force);
}

bool WriteOutputFile(const QString& path, bool replace,
                     const std::function<bool(const QString& staged, QString& error)>& write,
                     QString& error) {
    // Looked at again: the gauge was read since the first look.
    error = OutputPathRefusal(path, replace);
    if (!error.isEmpty())
        return false;
    const QString shown = Shown(path);
    const QByteArray target = QFile::encodeName(path);
    struct stat former {};
    const bool replacing = ::lstat(target.constData(), &former) == 0;

    // A new hidden file beside the path: created here, so that the user's umask gives a new
    // file its modes; a replacing file takes the former one's.
    const QDir folder = QFileInfo(path).absoluteDir();
    QString staged;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        staged = folder.filePath(QStringLiteral(".ulmar-cli-") +
                                 QString::number(QRandomGenerator::global()->generate(), 16));
        fd = ::open(QFile::encodeName(staged).constData(),
                    O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = shown + SystemErrorText(errno);
        return false;
    }
    if (replacing)
        ::fchmod(fd, former.st_mode & 07777);
    ::close(fd);
    const QByteArray stagedName = QFile::encodeName(staged);

    QString why;
    if (!write(staged, why)) {
        ::unlink(stagedName.constData());
        // The messages name the file asked for, not the hidden one.
        error = why.replace(QDir::toNativeSeparators(staged), QDir::toNativeSeparators(path));
        if (error.isEmpty())
            error = QStringLiteral("не удалось записать файл ") + QDir::toNativeSeparators(path);
        return false;
    }
    const int moved = MoveIntoPlace(stagedName, target, replace);
    if (moved == 0)
        return true;
    ::unlink(stagedName.constData());
    error = shown + (moved == EEXIST ? QStringLiteral("пока читался прибор, на этом месте "
                                                      "появилось другое; оно не заменено")
                                     : SystemErrorText(moved));
    return false;
}

bool CliWriteOut(const TCliRequest& request, TCliOutput& out,
                 const std::function<bool(const QString& staged, QString& error)>& write,
                 QString& error) {
    if (!CliStandardStream(request.File))
        return WriteOutputFile(request.File, request.Force, write, error);
    const QString shown = QStringLiteral("стандартный вывод");
    QTemporaryDir dir;
    if (!dir.isValid()) {
        error =
            QStringLiteral("--out -: не удалось создать временный каталог: ") + dir.errorString();
        return false;
    }
    const QString staged = dir.filePath(QStringLiteral("out"));
    QString why;
    if (!write(staged, why)) {
        error = why.replace(QDir::toNativeSeparators(staged), shown);
        if (error.isEmpty())
            error = QStringLiteral("--out -: не удалось подготовить вывод");
        return false;
    }
    QFile file(staged);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("--out -: ") + file.errorString();
        return false;
    }
    out.Bytes(file.readAll());
    return true;
}

QString CliStandardInputName() {
    return QStringLiteral("стандартный ввод");
}

TCliInputFile::TCliInputFile(const QString& file, qint64 limit) {
    if (!CliStandardStream(file)) {
        Path_ = file;
        return;
    }
    struct stat input {};
    if (::fstat(STDIN_FILENO, &input) != 0) {
        Error_ = CliStandardInputName() + QStringLiteral(" закрыт");
        return;
    }
    if (S_ISDIR(input.st_mode)) {
        Error_ = CliStandardInputName() + QStringLiteral(" — каталог, а не файл");
        return;
    }
    Dir_ = std::make_unique<QTemporaryDir>();
    if (!Dir_->isValid()) {
        Error_ = CliStandardInputName() +
                 QStringLiteral(": не удалось создать временный каталог: ") + Dir_->errorString();
        return;
    }
    QByteArray bytes;
    char buffer[16384];
    while (bytes.size() <= limit) {
        if (!WaitReadableOrStop(STDIN_FILENO))
            return; // a stop signal: the caller says "прервано"
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0) {
            Error_ = CliStandardInputName() + QStringLiteral(": ") + SystemErrorText(errno);
            return;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    const QString path = Dir_->filePath(QStringLiteral("input"));
    QFile staged(path);
    if (!staged.open(QIODevice::WriteOnly) ||
        staged.write(bytes.left(limit + 1)) != qMin<qint64>(bytes.size(), limit + 1) ||
        !staged.flush()) {
        Error_ = CliStandardInputName() + QStringLiteral(": не удалось сохранить: ") +
                 staged.errorString();
        return;
    }
    Path_ = path;
}

TCliInputFile::~TCliInputFile() = default;

QString TCliInputFile::Shown(const QString& message) const {
    if (!Dir_ || Path_.isEmpty())
        return message;
    return QString(message).replace(QDir::toNativeSeparators(Path_), CliStandardInputName());
}
