#pragma once
// Where the programs keep their files when they start.
//
// Started from a folder of its own (a build tree or an unpacked copy the user can write), the
// program keeps everything as it always has: settings, archive, tare and zero-array files beside
// the executable, port, timer and window settings and request logs under the working directory.
//
// Installed (the executable's folder cannot be written, or it belongs to an installation, which
// has the package's default files in <executable folder>/../share/ulmar), or asked with
// --user-dirs, the program directory is the user's data folder $XDG_DATA_HOME/ulmar (default
// ~/.local/share/ulmar) and the working directory is the user's config folder
// $XDG_CONFIG_HOME/ulmar (default ~/.config/ulmar). The data folder is created on first start and
// seeded with the package's default files ("INI/TypeSVCH.ini"); files already there are never
// replaced. --program-dir and --work-dir, when given, always win.
//
// Set on the user-interface thread at start, before other threads start; read from any thread.

#include <QString>
#include <QStringList>
#include <functional>

// What the choice is made from; read from the process by DataPlaceInputsFromProcess.
struct TDataPlaceInputs {
    QString ExecutableDir;       // the folder of the running executable
    QString CurrentDir;          // the working directory at start
    QString ProgramDirOption;    // --program-dir, empty when not given
    QString WorkDirOption;       // --work-dir, empty when not given
    bool UserDirsOption = false; // --user-dirs
    QString Home;                // $HOME
    QString XdgDataHome;         // $XDG_DATA_HOME, as set (may be empty or relative: then unused)
    QString XdgConfigHome;       // $XDG_CONFIG_HOME, likewise
    // Whether a folder can be written by this process; access(2) unless replaced (tests).
    std::function<bool(const QString&)> CanWrite;
};

struct TDataPlaces {
    bool PerUser = false;    // installed or --user-dirs: the per-user folders are the defaults
    bool UserData = false;   // ProgramDir is the user's data folder (no --program-dir)
    bool UserConfig = false; // WorkDir is the user's config folder (no --work-dir)
    QString ProgramDir;      // absolute
    QString WorkDir;         // absolute
    QString DefaultsDir;     // the package's default files (absolute; may not exist)
};

// The package's default files for an executable folder: <dir>/../share/ulmar.
QString PackageDefaultsDir(const QString& executableDir);

// The executable runs from an installation: its folder cannot be written, or the package's
// default files lie beside it.
bool RunsInstalled(const QString& executableDir,
                   const std::function<bool(const QString&)>& canWrite);

// The folders for these inputs. Pure apart from the CanWrite call and a look for the defaults.
TDataPlaces ChooseDataPlaces(const TDataPlaceInputs& inputs);

// The inputs of this process: the executable's folder (QCoreApplication, or
// /proc/self/exe), the working directory, the environment and the given options.
TDataPlaceInputs DataPlaceInputsFromProcess(const QString& programDirOption,
                                            const QString& workDirOption, bool userDirsOption);

// Creates the per-user folders in use ("INI", "DATA" and "TarTabl" in the data folder, "INI" in
// the config folder) and copies every default file that the data folder lacks. Nothing for the
// program's own folders or those given by option. Returns the problems as lines, empty when
// all went well.
QStringList PrepareDataPlaces(const TDataPlaces& places);

// Chooses for this process, prepares, and sets ProgramDir() and StartDir(). Returns the
// problems of PrepareDataPlaces, for the caller to show.
QStringList ApplyDataPlaces(const QString& programDirOption, const QString& workDirOption,
                            bool userDirsOption);

// The places in force (after ApplyDataPlaces; before it, those of the process's defaults).
TDataPlaces CurrentDataPlaces();

// Two lines naming the folders in force, as the about box and ulmar-cli --version show them:
// "Данные: DIR" and "Настройки: DIR", each followed by " (папка пользователя)" when it is the
// user's data or config folder.
QStringList DataPlaceLines(const TDataPlaces& places);
