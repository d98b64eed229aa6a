#include "cli/uCliDecode.h"
#include "devicelink/Ulmar.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uRequestDevices.h"
#include "devicelink/uTransmitter.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> StopMonitor{false};

QString Ms(double ms) {
    return QString::number(ms, 'f', 1);
}

QStringList CsvHeader() {
    return DecodedCsvHeader() << QStringLiteral("Строка журнала");
}

// Prints one exchange in the chosen form; csvTail is the last CSV column (the log line).
void Print(TCliOutput& out, bool csv, const TDecodedExchange& d, const TRawExchange& raw,
           const QString& csvTail, int lineNumber) {
    if (csv) {
        out.Line(CsvLine(DecodedCsvFields(d) << csvTail));
    } else if (out.Json()) {
        QJsonObject o = DecodedJson(d, raw);
        if (lineNumber > 0)
            o.insert(QStringLiteral("line"), lineNumber);
        out.Object(o);
    } else {
        out.Line(DecodedText(d));
    }
}

} // namespace

QString DecodedText(const TDecodedExchange& d) {
    QStringList parts;
    const QString time = DecodedTimeText(d.TimeMs);
    if (!time.isEmpty())
        parts << time;
    QString head;
    if (d.Address >= 0)
        head += QStringLiteral("адрес %1 ").arg(d.Address);
    if (d.Code >= 0)
        head += QStringLiteral("код %1 ").arg(d.Code);
    head += d.CommandName.isEmpty() ? QStringLiteral("?") : d.CommandName;
    parts << head;
    if (!d.RequestFields.isEmpty())
        parts << QStringLiteral("запрос: ") + d.RequestFields.join(QStringLiteral(", "));
    if (!d.AnswerFields.isEmpty())
        parts << QStringLiteral("ответ: ") + d.AnswerFields.join(QStringLiteral(", "));
    if (!d.ChecksumVerdict.isEmpty())
        parts << d.ChecksumVerdict;
    parts << QStringLiteral("%1/%2 байт").arg(d.BytesSent).arg(d.BytesReceived);
    if (d.DelayMs >= 0)
        parts << QStringLiteral("задержка %1 мс").arg(Ms(d.DelayMs));
    if (d.DurationMs >= 0)
        parts << QStringLiteral("ответ за %1 мс").arg(Ms(d.DurationMs));
    if (!d.ResultText.isEmpty())
        parts << d.ResultText;
    if (!d.Problem.isEmpty())
        parts << QStringLiteral("причина: ") + d.Problem;
    return (d.Failed ? QStringLiteral("! ") : QStringLiteral("  ")) +
           parts.join(QStringLiteral(" | "));
}

QJsonObject DecodedJson(const TDecodedExchange& d, const TRawExchange& raw) {
    QJsonObject o{{"ok", true},
                  {"time", DecodedTimeText(d.TimeMs)},
                  {"command", d.CommandName},
                  {"request", QJsonArray::fromStringList(d.RequestFields)},
                  {"answer", QJsonArray::fromStringList(d.AnswerFields)},
                  {"checksum", d.ChecksumVerdict},
                  {"bytesSent", d.BytesSent},
                  {"bytesReceived", d.BytesReceived},
                  {"requestHex", ToHexString(raw.Request)},
                  {"answerHex", ToHexString(raw.Answer)},
                  {"failed", d.Failed}};
    o.insert(QStringLiteral("address"), d.Address >= 0 ? QJsonValue(d.Address) : QJsonValue());
    o.insert(QStringLiteral("code"), d.Code >= 0 ? QJsonValue(d.Code) : QJsonValue());
    if (d.DelayMs >= 0)
        o.insert(QStringLiteral("delayMs"), d.DelayMs);
    if (d.DurationMs >= 0)
        o.insert(QStringLiteral("durationMs"), d.DurationMs);
    if (!d.ResultText.isEmpty())
        o.insert(QStringLiteral("result"), d.ResultText);
    if (!d.Problem.isEmpty())
        o.insert(QStringLiteral("problem"), d.Problem);
    return o;
}

int CliDecode(const TCliRequest& r, TCliOutput& out) {
    QFile file(r.File);
    if (!file.open(QIODevice::ReadOnly)) {
        out.Failure(
            QStringLiteral("decode: не читается файл %1: %2").arg(r.File, file.errorString()));
        return ExitBadInput;
    }
    if (r.Csv)
        out.Line(CsvLine(CsvHeader()));
    bool anyRefused = false;
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray bytes = file.readLine();
        ++number;
        QString line = QString::fromUtf8(bytes);
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        TRawExchange raw;
        QString reason;
        if (ParseRequestLogLine(line, raw, reason)) {
            Print(out, r.Csv, DecodeExchange(raw), raw, line, number);
            continue;
        }
        // Not an exchange line: kept as it is, with the reason.
        anyRefused = true;
        const QString why = QStringLiteral("строка %1 не разобрана: %2").arg(number).arg(reason);
        if (r.Csv) {
            TDecodedExchange d;
            d.Failed = true;
            d.Problem = why;
            out.Line(CsvLine(DecodedCsvFields(d) << line));
        } else if (out.Json()) {
            out.Object({{"ok", false}, {"line", number}, {"error", why}, {"text", line}});
        } else {
            out.Line(QStringLiteral("? ") + why + QStringLiteral(" | ") + line);
        }
    }
    if (file.error() != QFileDevice::NoError) {
        out.Failure(QStringLiteral("decode: ошибка чтения %1: %2").arg(r.File, file.errorString()));
        return ExitBadInput;
    }
    return anyRefused ? ExitDifferences : ExitDone;
}

void CliStopMonitor() {
    StopMonitor = true;
}

int CliMonitor(const TCliRequest& r, TCliSession& session, TCliOutput& out) {
    using namespace std::chrono;
    TTransmitter* transmitter = session.Link().Transmitter();
    if (!transmitter) {
        out.Failure(QStringLiteral("monitor: нет порта"));
        return ExitLine;
    }
    // Every exchange of the poll, retries included, as the transmitter saw it.
    std::vector<TRawExchange> exchanges;
    auto earlier = transmitter->OnExchange;
    transmitter->OnExchange = [&exchanges, earlier](TTransmitter* sender, const QByteArray& frame,
                                                    bool answered, const QByteArray& answer) {
        if (earlier)
            earlier(sender, frame, answered, answer);
        TRawExchange raw;
        raw.TimeMs = QDateTime::currentMSecsSinceEpoch();
        raw.Request = frame;
        raw.Answer = answer;
        exchanges.push_back(raw);
    };
    if (r.Csv)
        out.Line(CsvLine(DecodedCsvHeader()));
    const int period =
        r.PeriodMs.value_or(session.Link().Timer() ? session.Link().Timer()->Interval() : 200);
    bool anyFailed = false;
    for (int polls = 0; !StopMonitor && !out.Failed() && (!r.Count || polls < *r.Count); ++polls) {
        const auto start = steady_clock::now();
        exchanges.clear();
        TExchangeReport report;
        session.Link().RequestExecUlmar(UlmarCmd::LevelAllRead, &report);
        const auto gaugeEnd = exchanges.size();
        if (r.Kalist)
            session.Link().RequestExecKalist();
        for (size_t i = 0; i < exchanges.size(); ++i) {
            TRawExchange& raw = exchanges[i];
            const bool kalist = i >= gaugeEnd;
            raw.Device = kalist ? 1 : 0;
            raw.Code = kalist ? UlmarCmd::KalistCurrent : ExchangeCodeOfRequest(raw.Request);
            const TDecodedExchange d = DecodeExchange(raw);
            anyFailed = anyFailed || d.Failed;
            Print(out, r.Csv, d, raw, QString(), 0);
        }
        if (exchanges.empty()) {
            // Nothing reached the line (the port failed before the request went out).
            anyFailed = true;
            out.Failure(QStringLiteral("monitor: запрос не отправлен: ") +
                        session.Ulmar().ErrorText);
        }
        if (r.Count && polls + 1 >= *r.Count)
            break;
        const auto due = start + milliseconds(period);
        while (!StopMonitor && steady_clock::now() < due)
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(milliseconds(20), due - steady_clock::now()));
    }
    transmitter->OnExchange = earlier;
    return anyFailed ? ExitLine : ExitDone;
}
