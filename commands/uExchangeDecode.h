#pragma once
// Decoding of one gauge or КАЛИСТ-1 exchange into readable fields: the command name from the
// command table, the request's fields, the answer decoded (readings with units, parameter value,
// fault byte, error answer, zero-array block, tare part, signature, current), the checksum
// verdict. Pure functions over a copy of the bytes: they read no device object and may run on
// any thread. A garbled or cut frame is decoded as far as it goes and says why it stopped.

#include "uExchangeRecord.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TDecodedExchange {
    qint64 TimeMs = 0;
    int Address = -1; // from the request
    int Code = -1;
    QString CommandName;       // from the parameter/command tables
    QStringList RequestFields; // "name = value" texts of the request's fields
    QStringList AnswerFields;  // readings with units, parameter value, fault byte + text,
                               // error answer + text, zero-array block, tare part, …
    QString ChecksumVerdict; // "CRC верна" / "CRC неверна" / "нет ответа" / "обрезан"
    int BytesSent = 0, BytesReceived = 0;
    double DelayMs = -1, DurationMs = -1;
    QString ResultText;
    bool Failed = false; // the row stands out
    QString Problem;     // why it could not be decoded (never dropped)
};

// Checksum verdicts.
namespace DecodeVerdict {
inline const char* const Good = "CRC верна";
inline const char* const Bad = "CRC неверна";
inline const char* const NoAnswer = "нет ответа";
inline const char* const Cut = "обрезан";
} // namespace DecodeVerdict

TDecodedExchange DecodeExchange(const TExchangeRecord& raw);
// The same row as CSV fields (header via DecodedCsvHeader()).
QStringList DecodedCsvHeader();
QStringList DecodedCsvFields(const TDecodedExchange& d);
// One CSV line of fields separated by ';', a field with ';', '"' or a line end in quotes.
QString CsvLine(const QStringList& fields);
// "dd.MM.yyyy hh:mm:ss,zzz" in local time; empty for 0.
QString DecodedTimeText(qint64 timeMs);

// The name of a request code (0..79, 80 the КАЛИСТ-1 reading); empty for others.
QString ExchangeCommandName(int code);
// The request code that a gauge request's bytes stand for; -1 when none.
int ExchangeCodeOfRequest(const QByteArray& request);

// One line of the request log ("dd.MM.yyyy hh:mm:ss,zzz [request] -> [answer]errors", bytes in
// padded decimal or in hexadecimal) as an exchange record: the time, the bytes, the code taken from
// the request, the error part as ResultText. False with the reason when the line is not one.
bool ParseRequestLogLine(const QString& line, TExchangeRecord& raw, QString& reason);
