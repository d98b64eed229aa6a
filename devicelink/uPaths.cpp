#include "devicelink/uPaths.h"
#include "devicelink/uParamStr.h"

#include <QCoreApplication>
#include <QDir>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {
std::mutex PathsMutex;
QString ProgramDirValue;
QString StartDirValue;
QString LogDirValue;
} // namespace

QString ProgramDir() {
    {
        std::lock_guard lock(PathsMutex);
        if (!ProgramDirValue.isEmpty())
            return ProgramDirValue;
    }
    // Without an application object the executable's directory is unknown: the relative
    // paths then resolve against the working directory.
    if (!QCoreApplication::instance())
        return {};
    return QCoreApplication::applicationDirPath();
}

void SetProgramDir(const QString& dir) {
    std::lock_guard lock(PathsMutex);
    ProgramDirValue = dir;
}

QString StartDir() {
    std::lock_guard lock(PathsMutex);
    if (StartDirValue.isEmpty())
        StartDirValue = QDir::currentPath();
    return StartDirValue;
}

void SetStartDir(const QString& dir) {
    std::lock_guard lock(PathsMutex);
    StartDirValue = dir;
}

QString LogDir() {
    {
        std::lock_guard lock(PathsMutex);
        if (!LogDirValue.isEmpty())
            return LogDirValue;
    }
    return StartDir();
}

void SetLogDir(const QString& dir) {
    std::lock_guard lock(PathsMutex);
    LogDirValue = dir;
}

QString ProgramIniDir() {
    return JoinPath(ProgramDir(), QStringLiteral("INI"));
}

QString StartIniDir() {
    return JoinPath(StartDir(), QStringLiteral("INI"));
}

QString SystemErrorText(int error) {
    switch (error) {
    case ENOSPC:
        return QStringLiteral("нет места на диске");
    case EDQUOT:
        return QStringLiteral("превышена дисковая квота");
    case EFBIG:
        return QStringLiteral("превышен допустимый размер файла");
    case EACCES:
    case EPERM:
        return QStringLiteral("нет прав доступа");
    case EROFS:
        return QStringLiteral("файловая система только для чтения");
    case ENOENT:
        return QStringLiteral("нет такого файла или каталога");
    case ENOTDIR:
        return QStringLiteral("часть пути — не каталог");
    case ENAMETOOLONG:
        return QStringLiteral("слишком длинное имя");
    case EIO:
        return QStringLiteral("ошибка ввода-вывода");
    case EPIPE:
        return QStringLiteral("канал закрыт читающей стороной");
    case EBADF:
        return QStringLiteral("вывод закрыт");
    default:
        return QStringLiteral("системная ошибка %1 (%2)")
            .arg(error)
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}
