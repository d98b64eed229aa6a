#pragma once
// The forms ulmar-cli writes values in, whatever the C library's locale: times as ISO 8601
// local time with milliseconds and the UTC offset, and the one CSV dialect of every --csv
// (';' between fields, UTF-8 with a byte order mark, CR LF line ends, a header row of the JSON
// key names or of Russian captions, a decimal point, quotes only where a field needs them).
// Any thread.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTextStream>

// "2026-12-10T05:19:43.583+03:00": the local time and its offset from UTC ("Z" never; an
// offset of zero is "+00:00"). Built digit by digit, so no locale can change it. Empty for an
// invalid time.
QString IsoTimeText(const QDateTime& time);
// The same for a wall-clock time in ms since the epoch; empty for 0 or less.
QString IsoTimeTextMs(qint64 msSinceEpoch);

// One CSV column: the JSON key name of the value and its Russian caption.
struct TCsvColumn {
    const char* Key;
    const char* Caption;
};

// Rows in the CSV dialect on a text stream: the byte order mark and the header row first.
class TCliCsv {
public:
    TCliCsv(QTextStream& out, bool captions) : Out_(out), Captions_(captions) {}
    // The byte order mark and the header row of the columns.
    void Header(const QList<TCsvColumn>& columns);
    // One row of fields, in the columns' order.
    void Row(const QStringList& fields);
    // A field as written: in quotes (with '"' doubled) when it holds ';', '"' or a line end.
    static QString Field(const QString& text);
    // A row as written, without its line end.
    static QString Line(const QStringList& fields);

private:
    QTextStream& Out_;
    bool Captions_;
};

// A boolean in a CSV field: "true" or "false", as in JSON.
inline QString CsvBool(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}
