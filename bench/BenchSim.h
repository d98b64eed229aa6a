#pragma once
// The rig the benchmarks against one simulated gauge share: a throw-away program and working
// folder set for the process, and the simulator of one gauge on a pseudo-terminal.

#include "uPaths.h"
#include "uSimServer.h"

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>

struct TBenchSim {
    QTemporaryDir Root;
    TSimServer Sim{std::make_unique<TGaugeSim>(1)};

    // False, said on stderr, when the simulator does not start.
    bool Start() {
        QDir(Root.path()).mkpath("prog/INI");
        QDir(Root.path()).mkpath("work/INI");
        SetProgramDir(Root.filePath("prog"));
        SetStartDir(Root.filePath("work"));
        QString error;
        if (!Sim.Start({}, &error)) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
            return false;
        }
        return true;
    }
};
