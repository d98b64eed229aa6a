#pragma once
// The three places where the program keeps files: beside the program (its executable's
// directory), under the working directory taken at start, and the archive root (archive
// settings). The first two are fixed at start-up; tests point them at temporary directories.
// Set on the user-interface thread before other threads start; read from any thread. Kept in
// the process's TProgramPlaces (uProgramPlaces.h).

#include <QString>

// The program's directory; QCoreApplication::applicationDirPath() unless set.
QString ProgramDir();
void SetProgramDir(const QString& dir);

// The working directory at start; QDir::currentPath() at the first call unless set.
QString StartDir();
void SetStartDir(const QString& dir);

// The folder of the request logs rd*.txt; StartDir() unless set to another (an installed
// program's state folder). An empty value follows StartDir() again.
QString LogDir();
void SetLogDir(const QString& dir);

// JoinPath(ProgramDir(), "INI") and JoinPath(StartDir(), "INI").
QString ProgramIniDir();
QString StartIniDir();

// The system's reason for an error number, in the program's words for the usual ones.
QString SystemErrorText(int error);
