#pragma once
// Where the programs keep their files when they start.
//
// Started from a folder of its own (an unpacked copy the user can write), the program keeps
// everything as it always has: settings, archive, tare and zero-array files beside the
// executable, port, timer and window settings and request logs under the working directory.
//
// Started from a build tree (the executable's folder lies directly in the build folder, which
// holds CMakeCache.txt), every program of that build keeps all of it in one folder of the build,
// <build folder>/run, whatever the working directory: the window program and ulmar-cli then see
// the same archive and settings, and nothing is written into the source tree. The folder and its
// "INI", "DATA" and "TarTabl" are created on start.
//
// Installed (the executable's folder cannot be written, or it belongs to an installation, which
// has the package's default files in <executable folder>/../share/ulmar), or asked with
// --user-dirs, the program directory is the user's data folder $XDG_DATA_HOME/ulmar (default
// ~/.local/share/ulmar) and the working directory is the user's config folder
// $XDG_CONFIG_HOME/ulmar (default ~/.config/ulmar); the request logs rd*.txt go to the user's
// state folder $XDG_STATE_HOME/ulmar (default ~/.local/state/ulmar) unless --work-dir is given.
// The data folder is created on first start and seeded with the package's default files
// ("INI/TypeSVCH.ini"); files already there are never replaced. --program-dir and --work-dir,
// when given, always win.
//
// Set on the user-interface thread at start, before other threads start; read from any thread.
// The places in force are kept in the process's TProgramPlaces (uProgramPlaces.h).

#include <QString>
#include <QStringList>
#include <functional>

// What the choice is made from; read from the process by DataPlaceInputsFromProcess.
struct TDataPlaceInputs {
    QString ExecutableDir;       // the folder of the running executable
    QString BuildRoot;           // the build folder the executable lies in; empty when none
    QString CurrentDir;          // the working directory at start
    QString ProgramDirOption;    // --program-dir, empty when not given
    QString WorkDirOption;       // --work-dir, empty when not given
    bool UserDirsOption = false; // --user-dirs
    QString Home;                // $HOME
    QString XdgDataHome;         // $XDG_DATA_HOME, as set (may be empty or relative: then unused)
    QString XdgConfigHome;       // $XDG_CONFIG_HOME, likewise
    QString XdgStateHome;        // $XDG_STATE_HOME, likewise
    // Whether a folder can be written by this process; access(2) unless replaced (tests).
    std::function<bool(const QString&)> CanWrite;
};

struct TDataPlaces {
    bool PerUser = false;    // installed or --user-dirs: the per-user folders are the defaults
    bool UserData = false;   // ProgramDir is the user's data folder (no --program-dir)
    bool UserConfig = false; // WorkDir is the user's config folder (no --work-dir)
    bool UserState = false;  // LogDir is the user's state folder (per-user, no --work-dir)
    bool BuildTree = false;  // started from a build tree: its run folder is the default
    bool MakeData = false;   // ProgramDir is chosen here (not given) and created on start
    bool MakeWork = false;   // WorkDir likewise
    QString ProgramDir;      // absolute
    QString WorkDir;         // absolute
    QString LogDir;          // the request logs rd*.txt (absolute): WorkDir unless UserState
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

// The build folder for an executable folder: its parent when that holds CMakeCache.txt, else
// empty.
QString BuildRootOf(const QString& executableDir);

// The inputs of this process: the executable's folder (QCoreApplication, or
// /proc/self/exe) and its build folder, the working directory, the environment and the given
// options.
TDataPlaceInputs DataPlaceInputsFromProcess(const QString& programDirOption,
                                            const QString& workDirOption, bool userDirsOption);

// Creates the folders chosen here (MakeData: "INI", "DATA" and "TarTabl" in ProgramDir;
// MakeWork: "INI" in WorkDir; UserState: LogDir) and copies every default file that the user's
// data folder lacks. Nothing for the executable's own folder or those given by option. Returns
// the problems as lines, empty when all went well.
QStringList PrepareDataPlaces(const TDataPlaces& places);

// Chooses for this process, prepares, and sets ProgramDir(), StartDir() and LogDir(). Returns the
// problems of PrepareDataPlaces, for the caller to show.
QStringList ApplyDataPlaces(const QString& programDirOption, const QString& workDirOption,
                            bool userDirsOption);

// The places in force (after ApplyDataPlaces; before it, those of the process's defaults).
TDataPlaces CurrentDataPlaces();

// Three lines naming the folders in force, as the about box and --version show them:
// "Данные: DIR", "Настройки: DIR" and "Журналы: DIR", each followed by " (папка пользователя)"
// when it is the user's data, config or state folder.
QStringList DataPlaceLines(const TDataPlaces& places);
