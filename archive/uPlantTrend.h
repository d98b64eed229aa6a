#pragma once
// Trend lines from the plant archive on the server: the gauges that have readings in a range
// and the readings of one gauge, as trend points on the local wall-clock scale of the archive's
// own lines (uTrendData.h), so that a line read from the server and one read from the local day
// files of the same readings are alike. The server is asked on a thread of its own while the
// calling thread keeps answering (the yield hook); a server that does not answer within the
// settings' connection time-out gives its failure text, never an endless wait.

#include "uArchiveLoad.h"
#include "uPlantStore.h"

#include <functional>
#include <limits>
#include <vector>

// The trend X (local wall clock, uTrendData.h) of a time given in milliseconds since 1970 UTC.
// Converts a run of times quickly: the offset of the local zone is taken once per quarter hour.
class TUtcToTrendX {
public:
    double operator()(qint64 utcMs);

private:
    qint64 Bucket_ = std::numeric_limits<qint64>::min();
    qint64 OffsetMs_ = 0;
};

// Milliseconds since 1970 UTC of a local day count (TDateTime).
qint64 UtcMsFromDateTime(TDateTime value);

struct TPlantLoadResult {
    bool Ok = false;
    // The operator's text when not Ok ("Сервер архива недоступен: …").
    QString Error;
    qint64 Rows = 0;
    bool Cancelled = false;
};

// Gauges (plant numbers, ascending) with readings of any of the tables from `start` to `stop`
// (local day counts), any station. `yield` runs on the calling thread while the server is asked.
TPlantLoadResult ListPlantGauges(const TPlantServerSettings& settings, const QStringList& tables,
                                 TDateTime start, TDateTime stop, std::vector<int>& gauges,
                                 const std::function<void()>& yield = {});

// Appends to each source's data the readings of its gauge (Gauge 0 or more; AllGauges and
// UnknownGauge read nothing: the server keeps no rows without a gauge) and table from `start`
// to `stop`, any station, in time order. `cancel`, asked on the calling thread between yields,
// leaves the sources not yet read empty.
TPlantLoadResult LoadPlantRange(const TPlantServerSettings& settings,
                                const std::vector<TArchiveSource>& sources, TDateTime start,
                                TDateTime stop, const std::function<void()>& yield = {},
                                const std::function<bool()>& cancel = {});
