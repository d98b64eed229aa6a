#include "archive/uTrendExport.h"

#include "archive/uArchiveLoad.h"
#include <QLocale>
#include <QSaveFile>
#include <cmath>
#include <limits>

QString TrendCsvStamp(double x) {
    const QLocale locale;
    QDate date;
    QTime time;
    if (!SplitTrendX(x, date, time))
        return {};
    return locale.toString(date, QLocale::ShortFormat) + u' ' +
           time.toString(QStringLiteral("HH:mm:ss")) + locale.decimalPoint() +
           time.toString(QStringLiteral("zzz"));
}

namespace {

QString CsvValue(double y) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(y, 'g', 15);
}

QString CsvField(QString text) {
    if (text.contains(u';') || text.contains(u'"') || text.contains(u'\n')) {
        text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        text = u'"' + text + u'"';
    }
    return text;
}

} // namespace

bool WriteTrendCsv(const QString& path, const QList<TTrendCsvColumn>& columns, double x0, double x1,
                   QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    QStringList header{QStringLiteral("Время")};
    for (const TTrendCsvColumn& c : columns)
        header << CsvField(c.Header);
    // A byte-order mark, so that spreadsheet programs read the Cyrillic headers as UTF-8.
    QByteArray out = QByteArrayLiteral("\xEF\xBB\xBF") + header.join(u';').toUtf8() + "\r\n";

    const int n = static_cast<int>(columns.size());
    std::vector<std::size_t> next(n), end(n);
    for (int c = 0; c < n; ++c) {
        const TTrendData* data = columns.at(c).Data;
        if (data)
            data->VisibleRange(x0, x1, next[c], end[c]);
        else
            next[c] = end[c] = 0;
    }
    for (;;) {
        double x = std::numeric_limits<double>::infinity();
        for (int c = 0; c < n; ++c) {
            if (next[c] < end[c])
                x = std::min(x, columns.at(c).Data->At(next[c]).X);
        }
        if (!std::isfinite(x))
            break;
        QString line = TrendCsvStamp(x);
        for (int c = 0; c < n; ++c) {
            line += u';';
            if (next[c] < end[c] && columns.at(c).Data->At(next[c]).X == x)
                line += CsvValue(columns.at(c).Data->At(next[c]++).Y);
        }
        out += line.toUtf8() + "\r\n";
        if (out.size() > (1 << 20)) {
            if (file.write(out) != out.size())
                break;
            out.clear();
        }
    }
    if (file.write(out) != out.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool ExportArchiveCsv(const QString& table, TDateTime from, TDateTime to, const QString& path,
                      QString* error, qint64* rows) {
    TTrendData data;
    const TArchiveLoadResult result = LoadArchiveRange({{table, &data}}, from, to);
    if (rows)
        *rows = result.Rows;
    return WriteTrendCsv(path, {{table, &data}}, TrendXFromDateTime(from), TrendXFromDateTime(to),
                         error);
}
