#pragma once
// ulmar-cli find: the gauge finder of the command layer over the port settings' rate list,
// fastest first. One line (one JSON object) per gauge as it is found: its rate, address, plant
// number, type and versions; then the summary (rates tried, time taken) on stderr, or with
// --json as the last object. The port settings file is never written. Main thread only.

#include "uCliSession.h"

// Exit code 0 when gauges were found and nothing needs attention, 1 when a rate's scan flagged
// something (a collision, an answer from another address, several gauges at 255 outside the
// range), 2 when nothing answered at any rate or the port opened at none, 128 + the signal when
// stopped.
int CliFind(const TCliRequest& request, TCliSession& session, TCliOutput& out);
