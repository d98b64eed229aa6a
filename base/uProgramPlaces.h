#pragma once
// What the program settles at start-up about its files, kept in one object: the program's
// directory, the working directory taken at start, the folder of the request logs, the data
// places chosen at start (uDataPlaces.h), the archive's alias and root (archive/uBDE.h), and the
// settings files that were refused when read (uSmallFile.h). One lock inside guards all of it;
// every member may be called from any thread.
//
// The process has one instance, ProgramPlaces(), and the free functions of uPaths.h,
// uDataPlaces.h, uSmallFile.h and archive/uBDE.h read and set it. These values are fixed at
// start-up (tests point them at temporary directories) and read by nearly every part of every
// program: the settings files, the archive writer and readers, the request logs, the windows.
// Handing an object to each of those readers would change the signatures of most of the code
// for values that do not change while the program runs.

#include "uDataPlaces.h"
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>
#include <optional>

class TProgramPlaces {
public:
    TProgramPlaces() = default;
    TProgramPlaces(const TProgramPlaces&) = delete;
    TProgramPlaces& operator=(const TProgramPlaces&) = delete;

    // The program's directory: as set, else QCoreApplication::applicationDirPath(), else (no
    // application object) empty, so that relative paths resolve against the working directory.
    QString ProgramDir() const;
    void SetProgramDir(const QString& dir);

    // The working directory at start: as set, else QDir::currentPath() taken at the first call
    // and kept.
    QString StartDir();
    void SetStartDir(const QString& dir);

    // The folder of the request logs: as set, else StartDir(). An empty value follows
    // StartDir() again.
    QString LogDir();
    void SetLogDir(const QString& dir);

    // Sets the program's directory, the working directory and the log folder from the chosen
    // places at once (the log folder only where it is the user's state folder; elsewhere the
    // logs follow the working directory), and keeps the places for AppliedDataPlaces.
    void ApplyDataPlaces(const TDataPlaces& places);
    // The places given to ApplyDataPlaces; none before.
    std::optional<TDataPlaces> AppliedDataPlaces() const;

    // The archive settings as read from or given to the program: the alias ("dbAlias") and the
    // root ("dbPath", empty while the default applies).
    QString ArchiveAlias() const;
    void SetArchiveAlias(const QString& alias);
    QString ArchiveRootSetting() const;
    void SetArchiveRoot(const QString& root);

    // A settings file that was refused (its FileRefusalText): each text is passed on once per
    // instance, to the handler given to WatchRefusedSettingsFiles (called on the noting thread,
    // outside the lock), or kept until one is given.
    void NoteRefusedSettingsFile(const QString& text);
    // From now on hands every new refusal to `handler`, and returns the ones noted before. An
    // empty handler keeps them again.
    QStringList WatchRefusedSettingsFiles(std::function<void(const QString&)> handler);

private:
    mutable std::mutex Mutex_;
    QString ProgramDir_;
    QString StartDir_;
    QString LogDir_;
    std::optional<TDataPlaces> Applied_;
    QString ArchiveAlias_;
    QString ArchiveRoot_; // empty: the default
    QSet<QString> RefusedSeen_;
    QStringList RefusedPending_;
    std::function<void(const QString&)> RefusedHandler_;
};

// The instance of this process.
TProgramPlaces& ProgramPlaces();
