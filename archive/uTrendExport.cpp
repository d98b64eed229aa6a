#include "uTrendExport.h"

#include "uArchiveLoad.h"
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

    // Each column's points within [x0, x1] in writing order, run after run; the columns are
    // merged by time, so that runs that step back (a repeated hour) follow one another.
    struct TCursor {
        const TTrendData* Data = nullptr;
        std::vector<TIndexRange> Parts;
        std::size_t Part = 0;
        std::size_t Next = 0;
        bool Done() const { return Part >= Parts.size(); }
        const TTrendPoint& Head() const { return Data->At(Next); }
        void Step() {
            if (++Next >= Parts[Part].Last && ++Part < Parts.size())
                Next = Parts[Part].First;
        }
    };
    std::vector<TCursor> cursors(columns.size());
    for (std::size_t c = 0; c < cursors.size(); ++c) {
        TCursor& cur = cursors[c];
        cur.Data = columns.at(static_cast<qsizetype>(c)).Data;
        if (cur.Data)
            cur.Parts = cur.Data->VisibleRanges(x0, x1);
        if (!cur.Parts.empty())
            cur.Next = cur.Parts.front().First;
    }
    for (;;) {
        double x = std::numeric_limits<double>::infinity();
        for (const TCursor& cur : cursors) {
            if (!cur.Done())
                x = std::min(x, cur.Head().X);
        }
        if (!std::isfinite(x))
            break;
        QString line = TrendCsvStamp(x);
        for (TCursor& cur : cursors) {
            line += u';';
            if (!cur.Done() && cur.Head().X == x) {
                line += CsvValue(cur.Head().Y);
                cur.Step();
            }
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
