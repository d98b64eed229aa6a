#pragma once
// ulmar-cli tare read, tare write and tare compare: the tare table sequences of the command layer
// from the command line. The confirmation of a write is asked on the terminal unless --yes is
// given. Main thread only.

#include "uCliSession.h"

#include <QStringList>

// tare write: the file's lines and the table's fitness, checked before the port opens; false
// with the message (exit code 3) when the file cannot be read or the table is unfit.
bool CliLoadTareFile(const TCliRequest& request, QStringList& lines, QString& error);
// tare compare: the file's lines and the table to compare (--name, or the file's only table),
// read whole before the port opens; false with the message otherwise.
bool CliLoadTareCompare(TCliRequest& request, QStringList& lines, QString& error);
int CliTareCompare(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                   const QStringList& lines);
int CliTareRead(const TCliRequest& request, TCliSession& session, TCliOutput& out);
int CliTareWrite(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                 const QStringList& lines);
