#pragma once
// archive export: the readings of one archive table over a range, bounds included to the
// millisecond, as CSV or JSON on a stream. The days are walked by calendar date and each day's
// rows are written before the next day is read, so a month of readings never sits in memory
// at once. Built on the archive's day query (QueryArchive over ArchiveSelectStatement), the one
// the trend window uses; kept apart so that it can move onto the trend loader.
// Any thread that may open archive connections.

#include "uDataCtrl.h"
#include "uPlantStore.h"

#include <QDateTime>
#include <QString>
#include <QTextStream>
#include <optional>
#include <vector>

struct TArchiveExportRange {
    QDateTime From; // local time, to the millisecond
    QDateTime To;
};

// "yyyy-MM-dd" (from: the day's start, to: its last millisecond), "yyyy-MM-dd HH:mm",
// "yyyy-MM-dd HH:mm:ss" or "yyyy-MM-dd HH:mm:ss.zzz" ('T' may stand for the blank).
std::optional<QDateTime> ParseExportTime(const QString& text, bool endOfRange);

struct TArchiveExportResult {
    qint64 Rows = 0;
    // Day tables that exist but could not be read, as "<file>" each.
    QStringList Unreadable;
    // A stop signal ended the export between two rows.
    bool Interrupted = false;
    // A write to `out` failed: the export stopped there.
    bool WriteFailed = false;
    // The plant archive's server could not be asked ("Сервер архива недоступен: …"): the
    // export stopped there.
    QString ServerError;
};

// Why the archive root cannot be read (a file in its path, not a folder, no access), or empty
// when it can; a root not made yet in a real folder is an empty archive.
QString ArchiveRootRefusal();

// Writes the rows of `table` in the range to `out`: CSV rows "time;value" (the dialect of
// uCliFormat.h, the header in captions with `captions`), or JSON Lines, one object per row
// {"schemaVersion", "ok", "error", "table", "time", "value"}. The time is the stored DT as ISO
// 8601 local time with its offset, the value the shortest text of the gauge's single where the
// stored number is one, otherwise the shortest text that reads back as it. The archive
// root is the archive settings' (LoadArchiveSettings first). A stop signal (Ctrl+C, SIGTERM)
// ends it between two rows; it also stops at the first write that fails.
// With a plant number, only the rows of that gauge (the PN column); a day table made before
// the plant number was kept holds no known gauge's rows and gives none.
TArchiveExportResult ExportArchive(const QString& table, const TArchiveExportRange& range,
                                   bool json, bool captions, QTextStream& out,
                                   std::optional<int> plantNumber = std::nullopt);

// As ExportArchive, from the plant archive on the server named by `settings`: the rows of the
// gauge with that plant number from every station, day by day in time order, the times shown
// in local time as ExportArchive shows them.
TArchiveExportResult ExportPlantArchive(const TPlantServerSettings& settings, const QString& table,
                                        const TArchiveExportRange& range, int plantNumber,
                                        bool json, bool captions, QTextStream& out);

// One table of the archive and the days whose folder (root/yyyy/MM/dd) holds its file, oldest
// first.
struct TArchiveTableDays {
    TArchiveTable Table;
    std::vector<QDate> Days;
};
// Every table of ArchiveTables with its days under the archive root (LoadArchiveSettings
// first). Only looks: nothing is created. Folders that name no date are passed over.
std::vector<TArchiveTableDays> ListArchiveDays();
