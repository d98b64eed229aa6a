#pragma once
// Export of the shown part of a trend as CSV in the regional format: one line per time stamp,
// "date time,milliseconds;value[;value]", ";" between the fields, the locale's decimal
// separator and no digit grouping. Any thread (the file is written whole or not at all).

#include "uTimeOut.h"
#include "uTrendData.h"
#include <QList>
#include <QString>

struct TTrendCsvColumn {
    QString Header;
    const TTrendData* Data = nullptr;
};

// The locale's short date, a blank and "HH:mm:ss" with the locale's decimal separator and the
// milliseconds.
QString TrendCsvStamp(double x);

// Writes a header line ("Время" and the column headers) and the points of every column with
// x0 <= X <= x1, merged by X: a line carries the values of the columns that have a point at that
// X and leaves the others empty. A column's runs (uTrendData.h) are written in their order, so a
// repeated hour comes as its first pass, then its second. False, with the reason, when the file
// could not be written.
bool WriteTrendCsv(const QString& path, const QList<TTrendCsvColumn>& columns, double x0, double x1,
                   QString* error = nullptr);

// For the command-line tool: reads [from, to] of one archive table (both ends inclusive) and
// writes it as WriteTrendCsv does. The row count through `rows`.
bool ExportArchiveCsv(const QString& table, TDateTime from, TDateTime to, const QString& path,
                      QString* error = nullptr, qint64* rows = nullptr);
