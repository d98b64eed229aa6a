#pragma once
// Points the program's directory and the working directory at fresh temporary directories for
// the life of a test object, so that no test writes into the source or build tree.

#include "uPaths.h"
#include <QDir>
#include <QTemporaryDir>

class TTestDirs {
public:
    TTestDirs() {
        QDir(Root.path()).mkpath(QStringLiteral("prog/INI"));
        QDir(Root.path()).mkpath(QStringLiteral("work/INI"));
        SetProgramDir(Root.filePath(QStringLiteral("prog")));
        SetStartDir(Root.filePath(QStringLiteral("work")));
    }
    QString Prog() const { return Root.filePath(QStringLiteral("prog")); }
    QString Work() const { return Root.filePath(QStringLiteral("work")); }
    QTemporaryDir Root;
};
