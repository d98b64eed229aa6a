#pragma once
// ulmar-cli ports: the serial ports of this computer with their adapters and whether each can
// be opened now, the port of the settings marked. Opens no session and sends nothing.
// Main thread only.

#include "uCliSession.h"

// Always exit code 0: the list is the answer, whatever the ports' states.
int CliPorts(const TCliRequest& request, TCliOutput& out);
