#pragma once
// Archive settings: the alias kept for the settings file and the root of the archive tree,
// read from and written to "bde.ini" beside the program (section "BDE").
// Load and Save on the user-interface thread at start and end; the getters and setters are
// guarded and may be called from any thread (the request thread writes the archive while the
// trend windows read it). The values are kept in the process's TProgramPlaces
// (base/uProgramPlaces.h).

#include <QString>

// "dbAlias": read at start and written back at exit; nothing else uses it.
QString ArchiveAlias();
void SetArchiveAlias(const QString& alias);

// "dbPath": the root of the day tree; JoinPath(ProgramDir(), "DATA") while none is set.
QString ArchiveRoot();
// An empty root restores the default.
void SetArchiveRoot(const QString& root);
QString DefaultArchiveRoot();

// JoinPath(ProgramIniDir(), "bde.ini").
QString ArchiveSettingsFile();

// Reads "dbAlias" and "dbPath"; a missing file or key keeps the alias and gives the default
// root, and so does an empty "dbPath".
void LoadArchiveSettings();
// Writes both keys, creating "bde.ini" when missing (not its directory). False when the file
// could not be written.
bool SaveArchiveSettings();
