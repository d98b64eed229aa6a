#pragma once
// ulmar-cli "zero read [--out FILE]": the gauge's zero array through the command layer's
// zero-array read, printed as the zero array window lists it, or written as its 256-line file.
// Main thread only.

#include "uCliSession.h"

int CliZeroRead(const TCliRequest& request, TCliSession& session, TCliOutput& out);
// "zero watch --every S --out DIR [--count N]": a zero-array snapshot every S seconds kept as a
// zero-array file in DIR (the command layer's TakeZeroSnapshot), one line or JSON object per
// snapshot with what changed since the one before; until a stop signal or N snapshots.
int CliZeroWatch(const TCliRequest& request, TCliSession& session, TCliOutput& out);
