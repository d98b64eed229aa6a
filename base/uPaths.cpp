#include "uPaths.h"
#include "uParamStr.h"
#include "uProgramPlaces.h"

#include <cerrno>
#include <cstring>

// The folders live in the process's TProgramPlaces; these functions read and set them there.

QString ProgramDir() {
    return ProgramPlaces().ProgramDir();
}

void SetProgramDir(const QString& dir) {
    ProgramPlaces().SetProgramDir(dir);
}

QString StartDir() {
    return ProgramPlaces().StartDir();
}

void SetStartDir(const QString& dir) {
    ProgramPlaces().SetStartDir(dir);
}

QString LogDir() {
    return ProgramPlaces().LogDir();
}

void SetLogDir(const QString& dir) {
    ProgramPlaces().SetLogDir(dir);
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
