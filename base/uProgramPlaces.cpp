#include "uProgramPlaces.h"

#include <QCoreApplication>
#include <QDir>
#include <utility>

namespace {

// The one instance of the process. It must be process-wide: the folders and the archive
// settings are settled once at start and read from every thread of every part of the program
// through the free functions of uPaths.h, uDataPlaces.h, uSmallFile.h and archive/uBDE.h, and
// a settings file refused anywhere must reach the one message of the window program.
TProgramPlaces Places;

} // namespace

TProgramPlaces& ProgramPlaces() {
    return Places;
}

QString TProgramPlaces::ProgramDir() const {
    {
        std::lock_guard lock(Mutex_);
        if (!ProgramDir_.isEmpty())
            return ProgramDir_;
    }
    // Without an application object the executable's directory is unknown: the relative
    // paths then resolve against the working directory.
    if (!QCoreApplication::instance())
        return {};
    return QCoreApplication::applicationDirPath();
}

void TProgramPlaces::SetProgramDir(const QString& dir) {
    std::lock_guard lock(Mutex_);
    ProgramDir_ = dir;
}

QString TProgramPlaces::StartDir() {
    std::lock_guard lock(Mutex_);
    if (StartDir_.isEmpty())
        StartDir_ = QDir::currentPath();
    return StartDir_;
}

void TProgramPlaces::SetStartDir(const QString& dir) {
    std::lock_guard lock(Mutex_);
    StartDir_ = dir;
}

QString TProgramPlaces::LogDir() {
    {
        std::lock_guard lock(Mutex_);
        if (!LogDir_.isEmpty())
            return LogDir_;
    }
    return StartDir();
}

void TProgramPlaces::SetLogDir(const QString& dir) {
    std::lock_guard lock(Mutex_);
    LogDir_ = dir;
}

void TProgramPlaces::ApplyDataPlaces(const TDataPlaces& places) {
    std::lock_guard lock(Mutex_);
    ProgramDir_ = places.ProgramDir;
    StartDir_ = places.WorkDir;
    // Elsewhere the logs follow the working directory, as they always have.
    LogDir_ = places.UserState ? places.LogDir : QString();
    Applied_ = places;
}

std::optional<TDataPlaces> TProgramPlaces::AppliedDataPlaces() const {
    std::lock_guard lock(Mutex_);
    return Applied_;
}

QString TProgramPlaces::ArchiveAlias() const {
    std::lock_guard lock(Mutex_);
    return ArchiveAlias_;
}

void TProgramPlaces::SetArchiveAlias(const QString& alias) {
    std::lock_guard lock(Mutex_);
    ArchiveAlias_ = alias;
}

QString TProgramPlaces::ArchiveRootSetting() const {
    std::lock_guard lock(Mutex_);
    return ArchiveRoot_;
}

void TProgramPlaces::SetArchiveRoot(const QString& root) {
    std::lock_guard lock(Mutex_);
    ArchiveRoot_ = root;
}

void TProgramPlaces::NoteRefusedSettingsFile(const QString& text) {
    std::function<void(const QString&)> handler;
    {
        std::lock_guard lock(Mutex_);
        if (RefusedSeen_.contains(text))
            return;
        RefusedSeen_.insert(text);
        if (!RefusedHandler_) {
            RefusedPending_ << text;
            return;
        }
        handler = RefusedHandler_;
    }
    handler(text);
}

QStringList TProgramPlaces::WatchRefusedSettingsFiles(std::function<void(const QString&)> handler) {
    std::lock_guard lock(Mutex_);
    RefusedHandler_ = std::move(handler);
    if (!RefusedHandler_)
        return {};
    return std::exchange(RefusedPending_, {});
}
