#include "uCliDecode.h"
#include "Ulmar.h"
#include "uCliFormat.h"
#include "uCliSignals.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uStopSignals.h"
#include "uTransmitter.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The longest log line decoded. The link's lines are a few hundred bytes (a frame of at most
// 255 bytes, twice, in padded decimal, and the error text); a longer one is no exchange, and
// only its first bytes are kept while the rest is read and dropped.
constexpr int MaxLogLine = 65536;
// Characters of an overlong line shown after its reason.
constexpr int ShownOfLongLine = 120;

// Text for a terminal: the control characters a log line may carry (C0 but the tab, DEL, C1)
// as \xNN, so that they are seen and never act on the terminal.
QString TerminalSafe(const QString& text) {
    const auto control = [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F);
    };
    if (std::none_of(text.begin(), text.end(), control))
        return text;
    QString safe;
    safe.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (control(c))
            safe += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            safe += c;
    }
    return safe;
}

// A compact JSON line with DEL and the C1 characters escaped as well (the writer escapes only
// C0): the same value, nothing that acts on a terminal.
QString SafeJson(const QJsonObject& object) {
    const QByteArray json =
        QJsonDocument(TCliOutput::Enveloped(object)).toJson(QJsonDocument::Compact);
    QByteArray safe;
    safe.reserve(json.size());
    for (qsizetype i = 0; i < json.size(); ++i) {
        const auto b = static_cast<unsigned char>(json[i]);
        const auto next = i + 1 < json.size() ? static_cast<unsigned char>(json[i + 1]) : 0;
        if (b == 0x7F) {
            safe += "\\u007f";
        } else if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
            safe += "\\u00" + QByteArray::number(next, 16);
            ++i;
        } else {
            safe += static_cast<char>(b);
        }
    }
    return QString::fromUtf8(safe);
}

// A request log read to its end, line by line: a file, a pipe or standard input (which have no
// size to go by). At most MaxLogLine bytes of a line are held; a wait for more input ends at a
// stop signal.
class TLogReader {
public:
    enum class TResult { Line, End, Interrupted, Error };
    TLogReader(int fd, bool regular) : Fd_(fd), Regular_(regular), Buffer_(64 * 1024) {}
    // The next line without its line end; `length` is its whole length in bytes, of which
    // `line` holds the first MaxLogLine.
    TResult Next(QByteArray& line, qint64& length) {
        line.clear();
        length = 0;
        bool any = false;
        for (;;) {
            if (Pos_ == Len_) {
                const TResult filled = Fill();
                if (filled != TResult::Line)
                    return filled == TResult::End && any ? TResult::Line : filled;
            }
            const char* start = Buffer_.data() + Pos_;
            const auto* end = static_cast<const char*>(std::memchr(start, '\n', Len_ - Pos_));
            const qsizetype n = end ? end - start : Len_ - Pos_;
            const qsizetype room = MaxLogLine - line.size();
            if (room > 0)
                line.append(start, std::min(n, room));
            length += n;
            any = true;
            Pos_ += n + (end ? 1 : 0);
            if (end)
                break;
        }
        if (line.endsWith('\r') && length == line.size()) {
            line.chop(1);
            --length;
        }
        return TResult::Line;
    }
    int Error() const { return Error_; }

private:
    TResult Fill() {
        for (;;) {
            if (StopSignalReceived() || (!Regular_ && !WaitReadableOrStop(Fd_)))
                return TResult::Interrupted;
            const ssize_t n = ::read(Fd_, Buffer_.data(), Buffer_.size());
            if (n > 0) {
                Pos_ = 0;
                Len_ = n;
                return TResult::Line;
            }
            if (n == 0)
                return TResult::End;
            if (errno != EINTR && errno != EAGAIN) {
                Error_ = errno;
                return TResult::Error;
            }
        }
    }

    int Fd_;
    bool Regular_;
    std::vector<char> Buffer_;
    qsizetype Pos_ = 0;
    qsizetype Len_ = 0;
    int Error_ = 0;
};

// The log to decode: "-" is standard input, and so is a path that names it (/dev/stdin); a
// regular file or a pipe (<(zcat …)) is opened. A directory or another device is refused with
// the reason. `owned` tells whether fd is to be closed.
QString OpenLog(const QString& path, int& fd, bool& regular, bool& owned) {
    fd = -1;
    owned = false;
    struct stat input {};
    const bool haveInput = ::fstat(STDIN_FILENO, &input) == 0;
    const auto useInput = [&] {
        fd = STDIN_FILENO;
        regular = S_ISREG(input.st_mode);
        return QString();
    };
    if (path == QLatin1String("-")) {
        if (!haveInput)
            return QStringLiteral("decode: стандартный ввод закрыт");
        if (S_ISDIR(input.st_mode))
            return QStringLiteral("decode: стандартный ввод — каталог, а не журнал запросов");
        return useInput();
    }
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        return QStringLiteral("decode: не читается файл %1: %2").arg(path, qt_error_string(errno));
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("decode: %1 — каталог, а не журнал запросов").arg(path);
    if (haveInput && info.st_dev == input.st_dev && info.st_ino == input.st_ino)
        return useInput();
    if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode))
        return QStringLiteral("decode: %1 — устройство, а не журнал запросов (годятся файл, канал "
                              "или «-», стандартный ввод)")
            .arg(path);
    do
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR && !StopSignalReceived());
    if (fd < 0)
        return QStringLiteral("decode: не читается файл %1: %2").arg(path, qt_error_string(errno));
    regular = S_ISREG(info.st_mode);
    owned = true;
    return QString();
}

QString Ms(double ms) {
    return QString::number(ms, 'f', 1);
}

// The CSV columns of an exchange (decode adds the log line).
const QList<TCsvColumn> ExchangeColumns{{"time", "Время"},
                                        {"address", "Адрес"},
                                        {"code", "Код"},
                                        {"command", "Команда"},
                                        {"requestFields", "Запрос"},
                                        {"answerFields", "Ответ"},
                                        {"crcOk", "CRC верна"},
                                        {"bytesSent", "Отправлено, байт"},
                                        {"bytesReceived", "Принято, байт"},
                                        {"delayMs", "Задержка, мс"},
                                        {"durationMs", "Длительность, мс"},
                                        {"resultText", "Результат"},
                                        {"failed", "Сбой"},
                                        {"problem", "Причина"}};
const TCsvColumn LogLineColumn{"logLine", "Строка журнала"};

// The checksum verdict as a boolean: null when there is no answer to check.
QJsonValue CrcOk(const TDecodedExchange& d) {
    if (d.ChecksumVerdict == QString::fromUtf8(DecodeVerdict::Good))
        return true;
    if (d.ChecksumVerdict == QString::fromUtf8(DecodeVerdict::Bad) ||
        d.ChecksumVerdict == QString::fromUtf8(DecodeVerdict::Cut))
        return false;
    return QJsonValue();
}

QString MsField(double ms) {
    return ms < 0 ? QString() : QString::number(ms, 'f', 1);
}

// An exchange's CSV fields, every one terminal-safe.
QStringList CsvFields(const TDecodedExchange& d) {
    const QJsonValue crc = CrcOk(d);
    QStringList fields{IsoTimeTextMs(d.TimeMs),
                       d.Address >= 0 ? QString::number(d.Address) : QString(),
                       d.Code >= 0 ? QString::number(d.Code) : QString(),
                       d.CommandName,
                       d.RequestFields.join(QStringLiteral("; ")),
                       d.AnswerFields.join(QStringLiteral("; ")),
                       crc.isBool() ? CsvBool(crc.toBool()) : QString(),
                       QString::number(d.BytesSent),
                       QString::number(d.BytesReceived),
                       MsField(d.DelayMs),
                       MsField(d.DurationMs),
                       d.ResultText,
                       CsvBool(d.Failed),
                       d.Problem};
    for (QString& field : fields)
        field = TerminalSafe(field);
    return fields;
}

// Prints one exchange in the chosen form; csvTail is the log line's column (decode only).
void Print(TCliOutput& out, TCliCsv* csv, const TDecodedExchange& d, const TExchangeRecord& raw,
           const QString* csvTail, const QJsonObject& extra, bool live) {
    if (csv) {
        QStringList fields = CsvFields(d);
        if (csvTail)
            fields << TerminalSafe(*csvTail);
        csv->Row(fields);
        out.Failed();
    } else if (out.Json()) {
        QJsonObject o = DecodedJson(d, raw);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            o.insert(it.key(), it.value());
        // A failed exchange on the line now (monitor) is an error of that record; one in a log
        // (decode) is a record decoded as it was.
        if (live && d.Failed) {
            const QString why = !d.ResultText.isEmpty() ? d.ResultText
                                : !d.Problem.isEmpty()  ? d.Problem
                                                        : d.ChecksumVerdict;
            const QString text = TerminalSafe(QStringLiteral("monitor: ") + d.CommandName +
                                              QStringLiteral(": ") + why);
            std::fprintf(stderr, "ulmar-cli: %s\n", text.toLocal8Bit().constData());
            o.insert(QStringLiteral("ok"), false);
            o.insert(QStringLiteral("error"), CliErrorJson(CliError::NoAnswer, text));
        }
        out.Line(SafeJson(o));
    } else {
        out.Line(TerminalSafe(DecodedText(d)));
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

QJsonObject DecodedJson(const TDecodedExchange& d, const TExchangeRecord& raw) {
    const auto orNull = [](bool known, const QJsonValue& value) {
        return known ? value : QJsonValue();
    };
    return {{"time", orNull(d.TimeMs > 0, IsoTimeTextMs(d.TimeMs))},
            {"address", orNull(d.Address >= 0, d.Address)},
            {"code", orNull(d.Code >= 0, d.Code)},
            {"command", d.CommandName},
            {"request", ToHexString(raw.Request)},
            {"answer", ToHexString(raw.Answer)},
            {"requestFields", QJsonArray::fromStringList(d.RequestFields)},
            {"answerFields", QJsonArray::fromStringList(d.AnswerFields)},
            {"crcOk", CrcOk(d)},
            {"bytesSent", d.BytesSent},
            {"bytesReceived", d.BytesReceived},
            {"delayMs", orNull(d.DelayMs >= 0, d.DelayMs)},
            {"durationMs", orNull(d.DurationMs >= 0, d.DurationMs)},
            {"resultText", orNull(!d.ResultText.isEmpty(), d.ResultText)},
            {"failed", d.Failed},
            {"problem", orNull(!d.Problem.isEmpty(), d.Problem)}};
}

int CliDecode(const TCliRequest& r, TCliOutput& out) {
    int fd = -1;
    bool regular = false;
    bool owned = false;
    const QString refusal = OpenLog(r.File, fd, regular, owned);
    if (!refusal.isEmpty()) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("decode"));
        out.Failure(CliError::BadFile, refusal);
        return ExitBadInput;
    }
    struct TClose {
        int Fd;
        ~TClose() {
            if (Fd >= 0)
                ::close(Fd);
        }
    } closeAtEnd{owned ? fd : -1};
    TCliCsv csvWriter(out.Out(), r.Captions);
    TCliCsv* csv = r.Csv ? &csvWriter : nullptr;
    if (csv)
        csv->Header(ExchangeColumns + QList<TCsvColumn>{LogLineColumn});
    TLogReader reader(fd, regular);
    bool anyRefused = false;
    int number = 0;
    QByteArray bytes;
    qint64 length = 0;
    for (;;) {
        const TLogReader::TResult read = reader.Next(bytes, length);
        if (read == TLogReader::TResult::End)
            break;
        if (read == TLogReader::TResult::Interrupted)
            return CliReportInterrupt(out, QStringLiteral("decode"));
        if (read == TLogReader::TResult::Error) {
            out.Failure(CliError::BadFile, QStringLiteral("decode: ошибка чтения %1: %2")
                                               .arg(r.File, qt_error_string(reader.Error())));
            return ExitBadInput;
        }
        ++number;
        const bool overlong = length > MaxLogLine;
        QString line = QString::fromUtf8(overlong ? bytes.left(ShownOfLongLine) : bytes);
        while (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (overlong)
            line += QStringLiteral("…");
        else if (line.trimmed().isEmpty())
            continue;
        TExchangeRecord raw;
        QString reason;
        if (overlong)
            reason = QStringLiteral("строка длиннее %1 байт").arg(MaxLogLine);
        else if (ParseRequestLogLine(line, raw, reason)) {
            Print(out, csv, DecodeExchange(raw), raw, &line, {{"line", number}}, false);
            continue;
        }
        // Not an exchange line: kept as it is (an overlong one by its start), with the reason.
        anyRefused = true;
        const QString why = QStringLiteral("строка %1 не разобрана: %2").arg(number).arg(reason);
        if (csv) {
            TDecodedExchange d;
            d.Failed = true;
            d.Problem = why;
            csv->Row(CsvFields(d) << TerminalSafe(line));
        } else if (out.Json()) {
            std::fprintf(stderr, "ulmar-cli: %s\n", TerminalSafe(why).toLocal8Bit().constData());
            out.Line(SafeJson({{"ok", false},
                               {"error", CliErrorJson(CliError::BadFile, why)},
                               {"line", number},
                               {"text", line}}));
        } else {
            out.Line(TerminalSafe(QStringLiteral("? ") + why + QStringLiteral(" | ") + line));
        }
    }
    return anyRefused ? ExitDifferences : ExitDone;
}

int CliMonitor(const TCliRequest& r, TCliSession& session, TCliOutput& out,
               const TCliGauge& gauge) {
    using namespace std::chrono;
    TTransmitter* transmitter = session.Link().Transmitter();
    if (!transmitter) {
        out.Failure(CliError::PortNotOpened, QStringLiteral("monitor: нет порта"));
        return ExitLine;
    }
    // Every exchange of the poll, retries included, as the transmitter saw it.
    std::vector<TExchangeRecord> exchanges;
    auto earlier = transmitter->OnExchange;
    transmitter->OnExchange = [&exchanges, earlier](TTransmitter* sender, const QByteArray& frame,
                                                    bool answered, const QByteArray& answer) {
        if (earlier)
            earlier(sender, frame, answered, answer);
        TExchangeRecord raw;
        raw.TimeMs = QDateTime::currentMSecsSinceEpoch();
        raw.Request = frame;
        raw.Answer = answer;
        exchanges.push_back(raw);
    };
    TCliCsv csvWriter(out.Out(), r.Captions);
    TCliCsv* csv = r.Csv ? &csvWriter : nullptr;
    if (csv)
        csv->Header(ExchangeColumns);
    // Every object names the gauge of the session and which device the exchange went to.
    QJsonObject gaugeJson;
    gauge.AddTo(gaugeJson);
    const int period = r.PeriodMs.value_or(session.Link().Poller()->Interval());
    bool anyFailed = false;
    int done = 0;
    int unanswered = 0;
    // With --addresses a round polls each gauge of the line in turn, each object naming it.
    const bool line = !r.Addresses.empty();
    if (line)
        session.Link().SetPollAddresses(r.Addresses);
    const std::vector<int> gauges =
        line ? std::vector<int>(r.Addresses.begin(), r.Addresses.end()) : std::vector<int>{-1};
    for (int polls = 0; !CliInterrupted() && !out.Failed() && (!r.Count || polls < *r.Count);
         ++polls) {
        const auto start = steady_clock::now();
        for (const int address : gauges) {
            if (CliInterrupted() || out.Failed())
                break;
            exchanges.clear();
            TExchangeReport report;
            if (line) {
                session.Link().PollGauge(static_cast<quint8>(address), &report);
                gaugeJson = QJsonObject();
                CliLineGauge(session.Link(), static_cast<quint8>(address)).AddTo(gaugeJson);
            } else {
                session.Link().RequestExecUlmar(UlmarCmd::LevelAllRead, &report);
            }
            ++done;
            unanswered += report.Accepted ? 0 : 1;
            const auto gaugeEnd = exchanges.size();
            if (r.Kalist)
                session.Link().RequestExecKalist();
            for (size_t i = 0; i < exchanges.size(); ++i) {
                TExchangeRecord& raw = exchanges[i];
                const bool kalist = i >= gaugeEnd;
                raw.Device = kalist ? 1 : 0;
                raw.Code = kalist ? UlmarCmd::KalistCurrent : ExchangeCodeOfRequest(raw.Request);
                const TDecodedExchange d = DecodeExchange(raw);
                anyFailed = anyFailed || d.Failed;
                QJsonObject extra = gaugeJson;
                extra.insert(QStringLiteral("device"),
                             kalist ? QStringLiteral("kalist") : QStringLiteral("gauge"));
                Print(out, csv, d, raw, nullptr, extra, true);
            }
            if (exchanges.empty()) {
                // Nothing reached the line (the port failed before the request went out).
                anyFailed = true;
                out.Failure(CliError::NoAnswer, QStringLiteral("monitor: запрос не отправлен: ") +
                                                    session.Ulmar().ErrorText);
            }
        }
        if (r.Count && polls + 1 >= *r.Count)
            break;
        const auto due = start + milliseconds(period);
        while (!CliInterrupted() && steady_clock::now() < due)
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(milliseconds(20), due - steady_clock::now()));
    }
    transmitter->OnExchange = earlier;
    if (CliInterrupted()) {
        out.Note(CliPollSummary(done, unanswered));
        return CliReportInterrupt(out, QStringLiteral("monitor"));
    }
    return anyFailed ? ExitLine : ExitDone;
}
