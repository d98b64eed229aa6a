#include "commands/uExchangeDecode.h"

TDecodedExchange DecodeExchange(const TRawExchange& raw) {
    TDecodedExchange d;
    d.TimeMs = raw.TimeMs;
    d.Code = raw.Code;
    d.BytesSent = raw.Request.size();
    d.BytesReceived = raw.Answer.size();
    d.DelayMs = raw.DelayMs;
    d.DurationMs = raw.DurationMs;
    d.ResultText = raw.ResultText;
    return d;
}

QStringList DecodedCsvHeader() {
    return {};
}

QStringList DecodedCsvFields(const TDecodedExchange&) {
    return {};
}
