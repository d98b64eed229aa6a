#include "uDataPlaces.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uProgramPlaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <optional>
#include <unistd.h>

namespace {

const QString AppFolder = QStringLiteral("ulmar");
// The folder of a build tree where its programs keep their files.
const QString BuildRunFolder = QStringLiteral("run");

bool AccessWrite(const QString& dir) {
    return ::access(QFile::encodeName(dir).constData(), W_OK) == 0;
}

// An option's folder, absolute against the working directory at start.
QString Absolute(const QString& currentDir, const QString& path) {
    return QDir::cleanPath(QDir(currentDir).absoluteFilePath(path));
}

// $XDG_..._HOME when it is an absolute path (the rule for these variables), else HOME/fallback.
QString XdgFolder(const QString& value, const QString& home, const QString& fallback) {
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + QLatin1Char('/') + fallback);
}

bool MakeFolder(const QString& path, QStringList& problems) {
    if (QDir().mkpath(path) && QFileInfo(path).isDir())
        return true;
    problems << QStringLiteral("Не удалось создать папку %1").arg(QDir::toNativeSeparators(path));
    return false;
}

// Copies each default file the data folder lacks; an existing file, even an empty one, is the
// user's and stays.
void SeedDefaults(const QString& defaultsDir, const QString& dataDir, QStringList& problems) {
    if (defaultsDir.isEmpty() || !QFileInfo(defaultsDir).isDir())
        return;
    const QDir from(defaultsDir);
    QDirIterator it(defaultsDir, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = QDir(dataDir).filePath(from.relativeFilePath(source));
        if (QFileInfo::exists(target) || QFileInfo(target).isSymLink())
            continue;
        if (!MakeFolder(QFileInfo(target).absolutePath(), problems))
            continue;
        // QFile::copy goes through a temporary file, so a failed copy leaves no cut file.
        if (!QFile::copy(source, target)) {
            problems << QStringLiteral("Не удалось скопировать %1 в %2")
                            .arg(QDir::toNativeSeparators(source),
                                 QDir::toNativeSeparators(target));
            continue;
        }
        // The copy is the user's own file, whatever the installed file's modes.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    }
}

} // namespace

QString PackageDefaultsDir(const QString& executableDir) {
    return QDir::cleanPath(executableDir + QStringLiteral("/../share/") + AppFolder);
}

bool RunsInstalled(const QString& executableDir,
                   const std::function<bool(const QString&)>& canWrite) {
    if (executableDir.isEmpty())
        return false;
    if (!(canWrite ? canWrite(executableDir) : AccessWrite(executableDir)))
        return true;
    // Root can write a system folder: the package's files beside the program still say that
    // this is an installation, whose folders are no place for a user's archive.
    return QFileInfo(PackageDefaultsDir(executableDir)).isDir();
}

TDataPlaces ChooseDataPlaces(const TDataPlaceInputs& in) {
    TDataPlaces places;
    places.DefaultsDir =
        in.ExecutableDir.isEmpty() ? QString() : PackageDefaultsDir(in.ExecutableDir);
    places.PerUser = in.UserDirsOption || RunsInstalled(in.ExecutableDir, in.CanWrite);
    places.BuildTree = !places.PerUser && !in.BuildRoot.isEmpty();
    if (places.PerUser) {
        places.ProgramDir =
            JoinPath(XdgFolder(in.XdgDataHome, in.Home, QStringLiteral(".local/share")), AppFolder);
        places.WorkDir =
            JoinPath(XdgFolder(in.XdgConfigHome, in.Home, QStringLiteral(".config")), AppFolder);
    } else if (places.BuildTree) {
        places.ProgramDir = JoinPath(QDir::cleanPath(in.BuildRoot), BuildRunFolder);
        places.WorkDir = places.ProgramDir;
    } else {
        places.ProgramDir = in.ExecutableDir;
        places.WorkDir = in.CurrentDir;
    }
    places.UserData = places.PerUser && in.ProgramDirOption.isEmpty();
    places.UserConfig = places.PerUser && in.WorkDirOption.isEmpty();
    places.UserState = places.UserConfig;
    places.MakeData = (places.PerUser || places.BuildTree) && in.ProgramDirOption.isEmpty();
    places.MakeWork = (places.PerUser || places.BuildTree) && in.WorkDirOption.isEmpty();
    if (!in.ProgramDirOption.isEmpty())
        places.ProgramDir = Absolute(in.CurrentDir, in.ProgramDirOption);
    if (!in.WorkDirOption.isEmpty())
        places.WorkDir = Absolute(in.CurrentDir, in.WorkDirOption);
    // Installed, the request logs are neither settings nor data: they go to the state folder.
    places.LogDir =
        places.UserState
            ? JoinPath(XdgFolder(in.XdgStateHome, in.Home, QStringLiteral(".local/state")),
                       AppFolder)
            : places.WorkDir;
    return places;
}

QString BuildRootOf(const QString& executableDir) {
    if (executableDir.isEmpty())
        return {};
    const QString parent = QDir::cleanPath(executableDir + QStringLiteral("/.."));
    return QFileInfo(JoinPath(parent, QStringLiteral("CMakeCache.txt"))).isFile() ? parent
                                                                                  : QString();
}

TDataPlaceInputs DataPlaceInputsFromProcess(const QString& programDirOption,
                                            const QString& workDirOption, bool userDirsOption) {
    TDataPlaceInputs in;
    if (QCoreApplication::instance())
        in.ExecutableDir = QCoreApplication::applicationDirPath();
    else
        in.ExecutableDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    in.BuildRoot = BuildRootOf(in.ExecutableDir);
    in.CurrentDir = QDir::currentPath();
    in.ProgramDirOption = programDirOption;
    in.WorkDirOption = workDirOption;
    in.UserDirsOption = userDirsOption;
    in.Home = qEnvironmentVariable("HOME");
    if (in.Home.isEmpty())
        in.Home = QDir::homePath();
    in.XdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    in.XdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    in.XdgStateHome = qEnvironmentVariable("XDG_STATE_HOME");
    return in;
}

QStringList PrepareDataPlaces(const TDataPlaces& places) {
    QStringList problems;
    if (places.MakeData && MakeFolder(places.ProgramDir, problems)) {
        for (const char* sub : {"INI", "DATA", "TarTabl"})
            MakeFolder(JoinPath(places.ProgramDir, QString::fromLatin1(sub)), problems);
        if (places.UserData)
            SeedDefaults(places.DefaultsDir, places.ProgramDir, problems);
    }
    if (places.MakeWork && MakeFolder(places.WorkDir, problems))
        MakeFolder(JoinPath(places.WorkDir, QStringLiteral("INI")), problems);
    if (places.UserState)
        MakeFolder(places.LogDir, problems);
    return problems;
}

QStringList ApplyDataPlaces(const QString& programDirOption, const QString& workDirOption,
                            bool userDirsOption) {
    const TDataPlaces places = ChooseDataPlaces(
        DataPlaceInputsFromProcess(programDirOption, workDirOption, userDirsOption));
    const QStringList problems = PrepareDataPlaces(places);
    ProgramPlaces().ApplyDataPlaces(places);
    return problems;
}

TDataPlaces CurrentDataPlaces() {
    if (const std::optional<TDataPlaces> applied = ProgramPlaces().AppliedDataPlaces())
        return *applied;
    TDataPlaces places;
    places.ProgramDir = ProgramDir();
    places.WorkDir = StartDir();
    places.LogDir = LogDir();
    return places;
}

QStringList DataPlaceLines(const TDataPlaces& places) {
    const auto mark = [](bool users) {
        return users ? QStringLiteral(" (папка пользователя)") : QString();
    };
    return {QStringLiteral("Данные: ") + QDir::toNativeSeparators(places.ProgramDir) +
                mark(places.UserData),
            QStringLiteral("Настройки: ") + QDir::toNativeSeparators(places.WorkDir) +
                mark(places.UserConfig),
            QStringLiteral("Журналы: ") + QDir::toNativeSeparators(places.LogDir) +
                mark(places.UserState)};
}
