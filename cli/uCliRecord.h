#pragma once
// ulmar-cli "record start | resume DIR | finish DIR | show DIR": a gauge's service session
// through the command layer's TServiceSession, one object with the session's folder, its record
// (the layout of session.json) and the run test's verdict. While a session of the gauge is open,
// the other commands that talk to it append their exchanges to the session's request log.
// Main thread only.

#include "uCliSession.h"

#include <memory>

class TServiceLogTap;
struct TServiceRecord;

int CliRecordStart(const TCliRequest& request, TCliSession& session, TCliOutput& out);
int CliRecordResume(const TCliRequest& request, TCliSession& session, TCliOutput& out);
int CliRecordFinish(const TCliRequest& request, TCliSession& session, TCliOutput& out);
// Reads the folder only; no port is opened.
int CliRecordShow(const TCliRequest& request, TCliOutput& out);
// The run test's verdict as the record commands print it: done, pass, text and each row's.
QJsonObject CliRecordVerdictJson(const TServiceRecord& record);
// The request log of the open session of the gauge on this port and address, attached to the
// link for the command's life (a note on stderr says so); null when there is none.
std::unique_ptr<TServiceLogTap> CliAttachOpenSession(const TCliRequest& request,
                                                     TCliSession& session, TCliOutput& out);
