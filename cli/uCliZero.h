#pragma once
// ulmar-cli "zero read [--out FILE]": the gauge's zero array through the command layer's
// zero-array read, printed as the zero array window lists it, or written as its 256-line file.
// Main thread only.

#include "uCliSession.h"

int CliZeroRead(const TCliRequest& request, TCliSession& session, TCliOutput& out);
