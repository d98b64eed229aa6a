#pragma once
// ulmar-cli scan: the bus scan of the command layer over an address range, one line (or one
// JSON object of an array) per gauge found, with its flags. Main thread only.

#include "uCliSession.h"

// Exit code 0 when gauges answered and none is flagged, 1 when a row is flagged (a collision,
// an answer from another address, a plant number seen twice), 2 when nothing answered at all.
int CliScan(const TCliRequest& request, TCliSession& session, TCliOutput& out);
