#pragma once
// The gauge commands that are not parameters: single readings, service commands and the
// sequences, with the name, caption and hint of the main window's action for each and the
// command code it sends (-1 for a sequence of several). Read-only data: any thread.

#include "uParamTable.h"

enum class TCommandId : int {
    DistanceRead,
    LevelFreeRead,
    LevelRead,
    VolumeRead,
    LevelAllRead,
    FreqRead,
    FreqOpChRead,
    TemperSVChModuleRead,
    TemperTermostatRead,
    Echo,
    SignatureRead,
    AllParamRead,
    AllParamWrite,
    WriteToPZU,
    ZeroRead,
    InitReadStart,
    InitReadStop,
    BootLoader,
    Count
};

// How the main window runs the command: once without retry or message, like a parameter read
// (retries, failure message), or as a sequence of its own.
enum class TCommandRun { Once, Retried, Sequence };

struct TCommandRow {
    TCommandId Id;
    const char* Name; // the action's object name
    TParamText Text;
    int Code;
    TCommandRun Run;
};

std::span<const TCommandRow> CommandRows();
const TCommandRow& CommandRow(TCommandId id);
QString CommandName(TCommandId id);
QString CommandHint(TCommandId id);
