#include "uBDE.h"

#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uProgramPlaces.h"

namespace {

const QString Section = QStringLiteral("BDE");
const QString AliasKey = QStringLiteral("dbAlias");
const QString PathKey = QStringLiteral("dbPath");

} // namespace

// The alias and the root are kept in the process's TProgramPlaces, shared between the request
// thread (writer) and the user-interface thread (queries).

QString ArchiveAlias() {
    return ProgramPlaces().ArchiveAlias();
}

void SetArchiveAlias(const QString& alias) {
    ProgramPlaces().SetArchiveAlias(alias);
}

QString DefaultArchiveRoot() {
    return JoinPath(ProgramDir(), QStringLiteral("DATA"));
}

QString ArchiveRoot() {
    const QString root = ProgramPlaces().ArchiveRootSetting();
    return root.isEmpty() ? DefaultArchiveRoot() : root;
}

void SetArchiveRoot(const QString& root) {
    ProgramPlaces().SetArchiveRoot(root);
}

QString ArchiveSettingsFile() {
    return JoinPath(ProgramIniDir(), QStringLiteral("bde.ini"));
}

void LoadArchiveSettings() {
    const TIniFile ini(ArchiveSettingsFile());
    SetArchiveAlias(ini.ReadString(Section, AliasKey, ArchiveAlias()));
    const QString root = ini.ReadString(Section, PathKey, DefaultArchiveRoot());
    SetArchiveRoot(root.isEmpty() ? DefaultArchiveRoot() : root);
}

bool SaveArchiveSettings() {
    TIniFile ini(ArchiveSettingsFile());
    ini.WriteString(Section, AliasKey, ArchiveAlias());
    ini.WriteString(Section, PathKey, ArchiveRoot());
    return ini.Save(false);
}
