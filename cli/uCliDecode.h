#pragma once
// ulmar-cli decode (a saved request log, every line decoded or kept with the reason) and
// ulmar-cli monitor (polls like watch and prints every exchange on the line decoded).
// Main thread only.

#include "uCliSession.h"
#include "uExchangeDecode.h"

// decode FILE [--json|--csv]: no port is opened. Exit 0 when every line was decoded, 1 when some
// line was not (it is printed as it is, with the reason), 3 when the file cannot be read.
int CliDecode(const TCliRequest& request, TCliOutput& out);
// monitor [--count N] [--period MS] [--kalist] [--json|--csv].
int CliMonitor(const TCliRequest& request, TCliSession& session, TCliOutput& out,
               const TCliGauge& gauge);
// One decoded exchange as the text line, the JSON object and the CSV line that both commands
// print.
QString DecodedText(const TDecodedExchange& d);
QJsonObject DecodedJson(const TDecodedExchange& d, const TExchangeRecord& raw);
