#include "devicelink/uPaths.h"
#include "devicelink/uParamStr.h"

#include <QCoreApplication>
#include <QDir>
#include <mutex>

namespace {
std::mutex PathsMutex;
QString ProgramDirValue;
QString StartDirValue;
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

QString ProgramIniDir() {
    return JoinPath(ProgramDir(), QStringLiteral("INI"));
}

QString StartIniDir() {
    return JoinPath(StartDir(), QStringLiteral("INI"));
}
