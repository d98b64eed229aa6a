#include "archive/uBDE.h"

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"
#include <QMutex>
#include <QMutexLocker>

namespace {

const QString Section = QStringLiteral("BDE");
const QString AliasKey = QStringLiteral("dbAlias");
const QString PathKey = QStringLiteral("dbPath");

// Shared between the request thread (writer) and the user-interface thread (queries).
QMutex SettingsMutex;
QString AliasValue;
QString RootValue; // empty: the default

} // namespace

QString ArchiveAlias() {
    QMutexLocker lock(&SettingsMutex);
    return AliasValue;
}

void SetArchiveAlias(const QString& alias) {
    QMutexLocker lock(&SettingsMutex);
    AliasValue = alias;
}

QString DefaultArchiveRoot() {
    return JoinPath(ProgramDir(), QStringLiteral("DATA"));
}

QString ArchiveRoot() {
    QString root;
    {
        QMutexLocker lock(&SettingsMutex);
        root = RootValue;
    }
    return root.isEmpty() ? DefaultArchiveRoot() : root;
}

void SetArchiveRoot(const QString& root) {
    QMutexLocker lock(&SettingsMutex);
    RootValue = root;
}

QString ArchiveSettingsFile() {
    return JoinPath(ProgramIniDir(), QStringLiteral("bde.ini"));
}

void LoadArchiveSettings() {
    try {
        const TIniFile ini(ArchiveSettingsFile());
        SetArchiveAlias(ini.ReadString(Section, AliasKey, ArchiveAlias()));
        const QString root = ini.ReadString(Section, PathKey, DefaultArchiveRoot());
        SetArchiveRoot(root.isEmpty() ? DefaultArchiveRoot() : root);
    } catch (...) {
        SetArchiveRoot(DefaultArchiveRoot());
    }
}

bool SaveArchiveSettings() {
    try {
        TIniFile ini(ArchiveSettingsFile());
        ini.WriteString(Section, AliasKey, ArchiveAlias());
        ini.WriteString(Section, PathKey, ArchiveRoot());
        return ini.Save(false);
    } catch (...) {
        return false;
    }
}
