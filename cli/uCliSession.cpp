#include "uCliSession.h"
#include "Ulmar.h"
#include "uCliFormat.h"
#include "uCliOutFile.h"
#include "uCliSignals.h"
#include "uExchangeDecode.h"
#include "uParamFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uRequestDevices.h"

#include <QDateTime>
#include <QDir>
#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace {

// A reading or a real parameter as the gauge holds it: the shortest text of its single.
QString Number(double value) {
    return ShortestSingle(value).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QJsonValue JsonNumber(double value) {
    if (!std::isfinite(value))
        return QJsonValue();
    return ShortestSingle(value).toDouble();
}

QJsonValue JsonParam(const TUlmar& u, const TParamRow& row) {
    switch (ParamKind(row)) {
    case TParamKind::Text:
        return ParamString(u, row);
    case TParamKind::Real:
        return JsonNumber(ParamNumber(u, row));
    default:
        return static_cast<qint64>(ParamNumber(u, row));
    }
}

// A relay's state: tsTrue on, tsFalse off, anything else unknown.
QJsonValue JsonRelay(const TIOThreeStates& relay) {
    const qint64 code = relay.GetValue().ToInt();
    return code == tsTrue ? QJsonValue(true) : code == tsFalse ? QJsonValue(false) : QJsonValue();
}

QString TextRelay(const TIOThreeStates& relay) {
    const qint64 code = relay.GetValue().ToInt();
    return code == tsTrue    ? QStringLiteral("вкл")
           : code == tsFalse ? QStringLiteral("выкл")
                             : QStringLiteral("?");
}

QJsonObject Readings(const TUlmar& u) {
    return {{"distance", JsonNumber(u.Distance->AsDouble())},
            {"level", JsonNumber(u.Level->AsDouble())},
            {"levelFree", JsonNumber(u.LevelFree->AsDouble())},
            {"volume", JsonNumber(u.Volume->AsDouble())},
            {"relay1", JsonRelay(*u.Relay1)},
            {"relay2", JsonRelay(*u.Relay2)}};
}

QStringList ReadingLines(const TUlmar& u) {
    return {QStringLiteral("Lт = ") + Number(u.Distance->AsDouble()) + QStringLiteral(" мм"),
            QStringLiteral("Ну = ") + Number(u.Level->AsDouble()) + QStringLiteral(" мм"),
            QStringLiteral("Lс = ") + Number(u.LevelFree->AsDouble()) + QStringLiteral(" мм"),
            QStringLiteral("V = ") + Number(u.Volume->AsDouble()) + QStringLiteral(" %"),
            QStringLiteral("Реле 1 = ") + TextRelay(*u.Relay1),
            QStringLiteral("Реле 2 = ") + TextRelay(*u.Relay2)};
}

// The gauge did not answer (or not usably): exit code 2 with the link's words.
int LineFailure(TCliOutput& out, const TUlmar& u, const QString& what) {
    // A retry routine cut short by a stop signal is no fault of the line.
    if (CliInterrupted())
        return CliReportInterrupt(out, what.section(QLatin1Char(':'), 0, 0));
    out.Failure(CliError::NoAnswer, what + QStringLiteral(": ") + u.ErrorText);
    return ExitLine;
}

// A parameter in JSON: {"name", "fileKey", "value"}.
QJsonObject ParamJson(const TParamRow& row, const QJsonValue& value) {
    return {
        {"name", ParamJsonName(row)}, {"fileKey", QString::fromLatin1(row.Key)}, {"value", value}};
}

// Parameters named without a value: {"name", "fileKey"} each.
QJsonArray ParamNames(const std::vector<const TParamRow*>& rows) {
    QJsonArray names;
    for (const TParamRow* row : rows)
        names.append(
            QJsonObject{{"name", ParamJsonName(*row)}, {"fileKey", QString::fromLatin1(row->Key)}});
    return names;
}

// The КАЛИСТ-1 current, up to five exchanges; false when none was accepted.
bool ReadKalist(TCliSession& session) {
    for (int attempt = 0; attempt < 5 && (attempt == 0 || !CliInterrupted()); ++attempt)
        if (session.Link().RequestExecKalist() == 0 && session.Ulmar().LinkStateCode() == 1)
            return true;
    return false;
}

QString ParamLine(const TUlmar& u, const TParamRow& row) {
    return QString::fromLatin1(row.Key) + QStringLiteral(" = ") + FormatParam(u, row) +
           QStringLiteral("  (") + ParamTitle(row) + QLatin1Char(')');
}

QJsonObject SignatureJson(const TSignature& s) {
    return {{"systemAddress", s.SystemAddress},
            {"unitType", s.UnitType},
            {"plantNumber", s.PlantNumber},
            {"hardVersion", s.HardVersion},
            {"softVersion", s.SoftVersion}};
}

QString Keys(const std::vector<const TParamRow*>& rows) {
    QStringList keys;
    for (const TParamRow* row : rows)
        keys << QString::fromLatin1(row->Key);
    return keys.join(QStringLiteral(", "));
}

std::vector<const TParamRow*> StepsWith(const TBulkReport& report, TOutcome outcome) {
    std::vector<const TParamRow*> rows;
    for (const TParamOutcome& step : report.Steps)
        if (step.Outcome == outcome)
            rows.push_back(step.Row);
    return rows;
}

} // namespace

// --- output ---

TCliOutput::TCliOutput(bool json) : Json_(json), Out_(stdout), Err_(stderr) {}

void TCliOutput::Line(const QString& text) {
    Out_ << text << '\n';
    Out_.flush();
    Failed();
}

QJsonObject CliErrorJson(const char* code, const QString& text) {
    return {{"code", QLatin1String(code)}, {"message", text}};
}

QJsonObject TCliOutput::Enveloped(const QJsonObject& object) {
    QJsonObject o = object;
    o.insert(QStringLiteral("schemaVersion"), CliSchemaVersion);
    if (!o.contains(QStringLiteral("ok")))
        o.insert(QStringLiteral("ok"), true);
    if (!o.contains(QStringLiteral("error")))
        o.insert(QStringLiteral("error"), QJsonValue());
    return o;
}

void TCliOutput::Object(const QJsonObject& object) {
    Out_ << QString::fromUtf8(QJsonDocument(Enveloped(object)).toJson(QJsonDocument::Compact))
         << '\n';
    ++Objects_;
    Out_.flush();
    Failed();
}

bool TCliOutput::Failed() {
    // The stream's status stays failed once a write did not go through; errno still holds
    // the reason right after it.
    if (!Failed_ && Out_.status() != QTextStream::Ok) {
        Failed_ = true;
        FailedErrno_ = errno;
    }
    return Failed_;
}

int TCliOutput::Finish(int exit) {
    Out_.flush();
    Failed();
    errno = 0;
    if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && !Failed_) {
        Failed_ = true;
        FailedErrno_ = errno;
    }
    if (!Failed_)
        return exit;
    const QString reason = FailedErrno_    ? SystemErrorText(FailedErrno_)
                           : Out_.device() ? Out_.device()->errorString()
                                           : QString();
    Err_ << QStringLiteral("ulmar-cli: не удалось записать в стандартный вывод: ") << reason
         << '\n';
    Err_.flush();
    return ExitLine;
}

void TCliOutput::ErrorLine(const QString& text) {
    Err_ << QStringLiteral("ulmar-cli: ") << text << '\n';
    Err_.flush();
}

void TCliOutput::Failure(const char* code, const QString& text, const QJsonObject& details) {
    ErrorLine(text);
    if (!Json_)
        return;
    QJsonObject o = details;
    o.insert(QStringLiteral("ok"), false);
    o.insert(QStringLiteral("error"), CliErrorJson(code, text));
    Object(o);
}

void TCliOutput::Result(const QJsonObject& object, const char* code, const QString& text) {
    if (code)
        Failure(code, text, object);
    else
        Object(object);
}

void TCliGauge::AddTo(QJsonObject& object) const {
    object.insert(QStringLiteral("address"), Address);
    object.insert(QStringLiteral("plantNumber"), PlantNumber);
}

TCliGauge CliIdentifyGauge(const TCliRequest& request, TCliSession& session) {
    TCliGauge gauge;
    const int asked = request.Address.value_or(255);
    gauge.Address = asked == 255 ? QJsonValue() : QJsonValue(asked);
    if (!request.Json)
        return gauge;
    TSignature s;
    if (session.Commands().ReadSignature(&s) == TOutcome::Accepted) {
        gauge.Address = s.SystemAddress;
        gauge.PlantNumber = s.PlantNumber;
    }
    // The signature's handler is not left on the device object for the command's exchanges.
    session.Commands().Edit([](TUlmar& d) { d.On32 = nullptr; });
    return gauge;
}

void TCliOutput::Note(const QString& text) {
    if (Quiet_)
        return;
    Err_ << text << '\n';
    Err_.flush();
}

void TCliOutput::Bytes(const QByteArray& bytes) {
    Out_.flush();
    QIODevice* device = Out_.device();
    if (Failed() || !device)
        return;
    errno = 0;
    auto* file = qobject_cast<QFileDevice*>(device);
    if ((device->write(bytes) != bytes.size() || (file && !file->flush())) && !Failed_) {
        Failed_ = true;
        FailedErrno_ = errno;
    }
}

// --- session ---

TCliSession::TCliSession(const TCliRequest& request) : Request_(request) {}

TCliSession::~TCliSession() {
    Commands_.reset();
    Link_.reset();
    Ulmar_.reset();
}

// The program's and the working directory are set by the caller (ApplyDataPlaces).
bool TCliSession::Open() {
    Ulmar_ = std::make_unique<TUlmar>();
    Ulmar_->Name = QStringLiteral("Ulmar");
    Ulmar_->SetErrorMax(1);
    Ulmar_->Description->Title = QStringLiteral("УЛМАР-50");
    Ulmar_->SystemAddress = static_cast<quint8>(Request_.Address.value_or(255));
    TDeviceLinkOptions options;
    options.PortName = Request_.Port.trimmed();
    options.OnMessage = [this](const QString&, const QString& text) { OpenError_ = text; };
    if (Request_.Baud) {
        const QString baud = QString::number(*Request_.Baud);
        options.AdjustSettings = [baud](TTransmitterSettings& s) {
            const bool listed = TTransmitterSettings::BaudRateNames().contains(baud);
            s.BaudRate = listed ? baud : QStringLiteral("Custom");
            s.CustomBaudRate = baud.toInt();
        };
    }
    Link_ = std::make_unique<TDeviceLink>(Ulmar_.get(), std::unique_ptr<ISerialPort>(), options);
    // No request log file from the command line: the exchanges go to stderr with --trace.
    if (Request_.Trace)
        Link_->LogSink = [](const QString& text) {
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        };
    else
        Link_->LogSink = [](const QString&) {};
    // The command line runs its own loops; the pacing timer stays stopped.
    Link_->Poller()->Stop();
    TCommandOptions commandOptions;
    commandOptions.RetryUntilAccepted = true;
    Commands_ = std::make_unique<TGaugeCommands>(Link_.get(), Ui_, commandOptions);
    TTransmitter* transmitter = Link_->Transmitter();
    if (!transmitter)
        return false;
    // Which port is used when no settings file names one: the default may not be the adapter.
    const QString note = transmitter->DefaultPortNote();
    if (!note.isEmpty())
        std::fprintf(stderr, "ulmar-cli: %s\n", note.toLocal8Bit().constData());
    transmitter->OnExchange = [this](TTransmitter*, const QByteArray& frame, bool,
                                     const QByteArray& answer) {
        LastFrame_ = frame;
        LastAnswer_ = answer;
        if (ExchangeCodeOfRequest(frame) == UlmarCmd::WriteToPZU)
            ++CommitsSent_;
    };
    if (transmitter->IsOpen())
        return true;
    if (OpenError_.isEmpty())
        OpenError_ = transmitter->PortStatus().Error;
    return false;
}

// --- commands ---

int CliRead(const TCliRequest& request, TCliSession& session, TCliOutput& out,
            const TCliGauge& gauge) {
    TUlmar& u = session.Ulmar();
    TExchangeReport report;
    const QString time = IsoTimeText(QDateTime::currentDateTime());
    if (!session.Commands().Repeat(UlmarCmd::LevelAllRead, CommandHint(TCommandId::LevelAllRead),
                                   &report))
        return LineFailure(out, u, QStringLiteral("read"));
    QJsonObject o = Readings(u);
    o.insert(QStringLiteral("time"), time);
    gauge.AddTo(o);
    QStringList lines = ReadingLines(u);
    if (request.Kalist) {
        if (!ReadKalist(session))
            return LineFailure(out, u, QStringLiteral("read --kalist"));
        o.insert(QStringLiteral("current"), JsonNumber(u.CurrentOutput->AsDouble()));
        lines << QStringLiteral("I = ") + Number(u.CurrentOutput->AsDouble()) +
                     QStringLiteral(" мА");
    }
    if (out.Json()) {
        out.Object(o);
    } else {
        for (const QString& line : lines)
            out.Line(line);
    }
    return ExitDone;
}

TCliGauge CliLineGauge(TDeviceLink& link, quint8 address) {
    TCliGauge gauge;
    gauge.Address = address;
    const TUlmar* model = link.GaugeModel(address);
    if (model && link.SignatureKnown(address))
        gauge.PlantNumber = model->PlantNumber;
    return gauge;
}

namespace {

// Waits until `due` or an interrupt.
void PaceUntil(std::chrono::steady_clock::time_point due) {
    using namespace std::chrono;
    while (!CliInterrupted() && steady_clock::now() < due)
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(milliseconds(20), due - steady_clock::now()));
}

// watch --addresses: a round over the gauges per period (the signature of each first, once),
// one line or object per gauge and round.
int CliWatchLine(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    using namespace std::chrono;
    TDeviceLink& link = session.Link();
    link.SetPollAddresses(request.Addresses);
    const int period = request.PeriodMs.value_or(link.Poller()->Interval());
    bool anyFailed = false;
    int done = 0;
    int unanswered = 0;
    for (int round = 0;
         !CliInterrupted() && !out.Failed() && (!request.Count || round < *request.Count);
         ++round) {
        const auto start = steady_clock::now();
        for (const quint8 address : request.Addresses) {
            if (CliInterrupted() || out.Failed())
                break;
            const QDateTime now = QDateTime::currentDateTime();
            TExchangeReport report;
            link.PollGauge(address, &report);
            ++done;
            unanswered += report.Accepted ? 0 : 1;
            const TUlmar* g = link.GaugeModel(address);
            if (!g)
                continue;
            const bool ok = report.Accepted;
            QJsonObject o;
            QStringList parts;
            if (ok) {
                o = Readings(*g);
                parts << QStringLiteral("Lт=") + Number(g->Distance->AsDouble())
                      << QStringLiteral("Ну=") + Number(g->Level->AsDouble())
                      << QStringLiteral("Lс=") + Number(g->LevelFree->AsDouble())
                      << QStringLiteral("V=") + Number(g->Volume->AsDouble())
                      << QStringLiteral("Реле1=") + TextRelay(*g->Relay1)
                      << QStringLiteral("Реле2=") + TextRelay(*g->Relay2);
            } else {
                parts << g->ErrorText;
            }
            anyFailed = anyFailed || !ok;
            o.insert(QStringLiteral("time"), IsoTimeText(now));
            const TCliGauge gauge = CliLineGauge(link, address);
            gauge.AddTo(o);
            const bool refusal = !report.Accepted && report.Answered && report.Result != 0;
            if (out.Json()) {
                out.Result(o,
                           ok        ? nullptr
                           : refusal ? CliError::Refused
                                     : CliError::NoAnswer,
                           QStringLiteral("watch: адрес ") + QString::number(address) +
                               QStringLiteral(": ") + g->ErrorText);
            } else {
                QString who = QStringLiteral("адрес ") + QString::number(address);
                if (gauge.PlantNumber.isDouble())
                    who += QStringLiteral(" №") + QString::number(gauge.PlantNumber.toInt());
                out.Line(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
                         QStringLiteral("  ") + who + QStringLiteral("  ") +
                         parts.join(QLatin1Char(' ')));
            }
        }
        if (request.Count && round + 1 >= *request.Count)
            break;
        PaceUntil(start + milliseconds(period));
    }
    if (CliInterrupted()) {
        out.Note(CliPollSummary(done, unanswered));
        return CliReportInterrupt(out, QStringLiteral("watch"));
    }
    return anyFailed ? ExitLine : ExitDone;
}

} // namespace

int CliWatch(const TCliRequest& request, TCliSession& session, TCliOutput& out,
             const TCliGauge& gauge) {
    using namespace std::chrono;
    if (!request.Addresses.empty())
        return CliWatchLine(request, session, out);
    TUlmar& u = session.Ulmar();
    const int period = request.PeriodMs.value_or(session.Link().Poller()->Interval());
    bool anyFailed = false;
    int done = 0;
    int unanswered = 0;
    for (int polls = 0;
         !CliInterrupted() && !out.Failed() && (!request.Count || polls < *request.Count);
         ++polls) {
        const auto start = steady_clock::now();
        const QDateTime now = QDateTime::currentDateTime();
        const QString time = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        TExchangeReport report;
        session.Link().RequestExecUlmar(UlmarCmd::LevelAllRead, &report);
        ++done;
        unanswered += report.Accepted ? 0 : 1;
        bool ok = report.Accepted;
        QJsonObject o;
        QStringList parts;
        if (ok) {
            o = Readings(u);
            parts << QStringLiteral("Lт=") + Number(u.Distance->AsDouble())
                  << QStringLiteral("Ну=") + Number(u.Level->AsDouble())
                  << QStringLiteral("Lс=") + Number(u.LevelFree->AsDouble())
                  << QStringLiteral("V=") + Number(u.Volume->AsDouble())
                  << QStringLiteral("Реле1=") + TextRelay(*u.Relay1)
                  << QStringLiteral("Реле2=") + TextRelay(*u.Relay2);
            if (request.Kalist) {
                ok = session.Link().RequestExecKalist() == 0 && u.LinkStateCode() == 1;
                o.insert(QStringLiteral("current"),
                         ok ? JsonNumber(u.CurrentOutput->AsDouble()) : QJsonValue());
                parts << QStringLiteral("I=") +
                             (ok ? Number(u.CurrentOutput->AsDouble()) : u.ErrorText);
            }
        } else {
            parts << u.ErrorText;
        }
        anyFailed = anyFailed || !ok;
        o.insert(QStringLiteral("time"), IsoTimeText(now));
        gauge.AddTo(o);
        // An error answer is the gauge's refusal; silence, a garbled answer or a silent
        // КАЛИСТ-1 the line's.
        const bool refusal = !report.Accepted && report.Answered && report.Result != 0;
        if (out.Json())
            out.Result(o,
                       ok        ? nullptr
                       : refusal ? CliError::Refused
                                 : CliError::NoAnswer,
                       QStringLiteral("watch: ") + u.ErrorText);
        else
            out.Line(time + QStringLiteral("  ") + parts.join(QLatin1Char(' ')));
        if (request.Count && polls + 1 >= *request.Count)
            break;
        const auto due = start + milliseconds(period);
        while (!CliInterrupted() && steady_clock::now() < due)
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(milliseconds(20), due - steady_clock::now()));
    }
    if (CliInterrupted()) {
        out.Note(CliPollSummary(done, unanswered));
        return CliReportInterrupt(out, QStringLiteral("watch"));
    }
    return anyFailed ? ExitLine : ExitDone;
}

int CliSignature(const TCliRequest&, TCliSession& session, TCliOutput& out) {
    TSignature s;
    if (session.Commands().ReadSignature(&s) != TOutcome::Accepted)
        return LineFailure(out, session.Ulmar(), QStringLiteral("signature"));
    if (out.Json()) {
        out.Object(SignatureJson(s));
    } else {
        out.Line(TGaugeCommands::SignatureText(s));
    }
    return ExitDone;
}

int CliParamsRead(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TUlmar& u = session.Ulmar();
    TGaugeCommands& commands = session.Commands();
    TSignature signature;
    if (commands.ReadSignature(&signature) != TOutcome::Accepted)
        return LineFailure(out, u, QStringLiteral("params read"));
    // The file names the gauge by the address it answered from.
    commands.Edit([&signature](TUlmar& d) { d.SystemAddress = signature.SystemAddress; });
    const TBulkReport report =
        commands.ReadRows(BulkRows(TBulkDirection::Read, request.Factory), true);
    if (report.Stopped)
        return CliReportInterrupt(out, QStringLiteral("params read"),
                                  request.File.isEmpty() ? QString()
                                                         : QStringLiteral("файл не записан"));
    const auto silent = StepsWith(report, TOutcome::NoAnswer);
    if (!silent.empty())
        return LineFailure(out, u,
                           QStringLiteral("params read: ") + Keys(silent) +
                               QStringLiteral(" — нет ответа"));
    const auto refused = StepsWith(report, TOutcome::Refused);
    const auto read = StepsWith(report, TOutcome::Accepted);
    QJsonArray params;
    QStringList lines;
    for (const TParamRow* row :
         {&ParamRow(TParamId::PlantNumber), &ParamRow(TParamId::SystemAddress),
          &ParamRow(TParamId::HardVersion), &ParamRow(TParamId::SoftVersion)}) {
        params.append(ParamJson(*row, JsonParam(u, *row)));
        lines << ParamLine(u, *row);
    }
    for (const TParamRow* row : read) {
        params.append(ParamJson(*row, JsonParam(u, *row)));
        lines << ParamLine(u, *row);
    }
    int exit = ExitDone;
    QString message;
    if (!refused.empty()) {
        // A set with refused parameters is not saved: their keys would hold stale values.
        exit = ExitDifferences;
        message = QStringLiteral("не считаны: ") + Keys(refused) +
                  (request.File.isEmpty() ? QString() : QStringLiteral("; файл не записан"));
    } else if (!request.File.isEmpty()) {
        QString error;
        const auto write = [&u](const QString& staged, QString&) {
            return WriteParamFile(u, staged);
        };
        if (!CliWriteOut(request, out, write, error)) {
            out.Failure(CliError::BadFile, error);
            return ExitBadInput;
        }
        if (!CliStandardStream(request.File))
            message = QStringLiteral("записан файл ") + QDir::toNativeSeparators(request.File);
    }
    if (out.Json()) {
        QJsonObject o{
            {"ok", refused.empty()},
            {"signature", SignatureJson(signature)},
            {"parameters", params},
            {"refused", ParamNames(refused)},
            {"file", request.File.isEmpty() || !refused.empty() ? QJsonValue() : request.File}};
        out.Result(o, refused.empty() ? nullptr : CliError::Refused,
                   QStringLiteral("params read: ") + message);
    } else {
        if (request.File.isEmpty() || !refused.empty())
            for (const QString& line : lines)
                out.Line(line);
        if (!message.isEmpty())
            out.Line(message);
    }
    return exit;
}

bool CliLoadParamFile(const TCliRequest& request, TUlmar& into, QString& error) {
    into.Name = QStringLiteral("Ulmar");
    const TCliInputFile file(request.File, ParamFileMaxBytes);
    if (file.Path().isEmpty()) {
        error = file.Error();
        return false;
    }
    const bool loaded =
        LoadParamSet(file.Path(), BulkRows(TBulkDirection::Write, request.Factory), into, error);
    error = file.Shown(error);
    return loaded;
}

int CliParamsWrite(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                   const TUlmar& wanted) {
    TUlmar& u = session.Ulmar();
    const auto rows = BulkRows(TBulkDirection::Write, request.Factory);
    const TBulkReport report = session.Commands().WriteAndVerify(rows, wanted);
    if (report.Stopped)
        return CliReportInterrupt(out, QStringLiteral("params write"),
                                  session.CommitsSent()
                                      ? QStringLiteral("сохранено в ПЗУ, проверка не закончена")
                                      : QStringLiteral("в ПЗУ не сохранено"));
    if (report.Silent() || report.Commit == TOutcome::NoAnswer)
        return LineFailure(out, u, QStringLiteral("params write"));
    const auto silent = StepsWith(report, TOutcome::NoAnswer);
    const auto written = StepsWith(report, TOutcome::Accepted);
    const auto has = [](const std::vector<const TParamRow*>& rows, const TParamRow* row) {
        return std::find(rows.begin(), rows.end(), row) != rows.end();
    };
    QJsonArray notTaken;
    QStringList lines;
    for (const TParamRow* row : report.NotTaken) {
        const bool wrote = has(written, row);
        const bool readBack = !has(report.NotReadBack, row);
        QJsonObject entry = ParamJson(*row, JsonParam(wanted, *row));
        entry.insert(QStringLiteral("gaugeValue"), readBack ? JsonParam(u, *row) : QJsonValue());
        entry.insert(QStringLiteral("written"), wrote);
        notTaken.append(entry);
        // The device object holds the file's value for a row not read back: never shown as
        // the gauge's.
        const QString state = !wrote ? QStringLiteral(": не записано (в файле ") +
                                           FormatParam(wanted, *row) + QLatin1Char(')')
                              : readBack
                                  ? QStringLiteral(": записано ") + FormatParam(wanted, *row) +
                                        QStringLiteral(", в приборе ") + FormatParam(u, *row)
                                  : QStringLiteral(": записано ") + FormatParam(wanted, *row) +
                                        QStringLiteral(", в приборе не считано");
        lines << QString::fromLatin1(row->Key) + state + QStringLiteral("  (") + ParamTitle(*row) +
                     QLatin1Char(')');
    }
    const bool committed = report.Commit == TOutcome::Accepted;
    if (report.CommitSkipped)
        lines << QStringLiteral("запись остановлена на ") +
                     QString::fromLatin1(report.Steps.back().Row->Key) +
                     QStringLiteral(", сохранение в ПЗУ не выполнено");
    else if (!committed)
        lines << QStringLiteral("сохранение в ПЗУ не выполнено");
    const bool clean = report.NotTaken.empty() && committed;
    if (out.Json()) {
        QJsonObject o{{"ok", clean},
                      {"written", static_cast<int>(written.size())},
                      {"committed", committed},
                      {"notTaken", notTaken},
                      {"unanswered", ParamNames(silent)}};
        if (!silent.empty())
            out.Result(o, CliError::NoAnswer,
                       QStringLiteral("params write: ") + Keys(silent) +
                           QStringLiteral(" — нет ответа"));
        else
            out.Result(o, clean ? nullptr : CliError::Refused,
                       QStringLiteral("params write: ") + lines.join(QStringLiteral("; ")));
    } else {
        for (const QString& line : lines)
            out.Line(line);
        out.Line(clean ? QStringLiteral("записано параметров: ") + QString::number(rows.size()) +
                             QStringLiteral(", сохранено в ПЗУ, проверено")
                       : QStringLiteral("не приняты: ") + Keys(report.NotTaken));
    }
    if (!silent.empty())
        return ExitLine;
    return clean ? ExitDone : ExitDifferences;
}

int CliParamsDiff(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                  const TUlmar& wanted) {
    TUlmar& u = session.Ulmar();
    const auto rows = BulkRows(TBulkDirection::Write, request.Factory);
    const TBulkReport report = session.Commands().ReadRows(rows, true);
    if (report.Stopped)
        return CliReportInterrupt(out, QStringLiteral("params diff"));
    const auto silent = StepsWith(report, TOutcome::NoAnswer);
    if (!silent.empty())
        return LineFailure(out, u,
                           QStringLiteral("params diff: ") + Keys(silent) +
                               QStringLiteral(" — нет ответа"));
    QJsonArray differences;
    QStringList lines;
    for (const TParamOutcome& step : report.Steps) {
        const TParamRow& row = *step.Row;
        const bool read = step.Outcome == TOutcome::Accepted;
        if (read && ParamEqual(u, wanted, row))
            continue;
        QJsonObject d = ParamJson(row, JsonParam(wanted, row));
        d.insert(QStringLiteral("gaugeValue"), read ? JsonParam(u, row) : QJsonValue());
        differences.append(d);
        lines << QString::fromLatin1(row.Key) + QStringLiteral(": прибор ") +
                     (read ? FormatParam(u, row) : QStringLiteral("не считан")) +
                     QStringLiteral(", файл ") + FormatParam(wanted, row) + QStringLiteral("  (") +
                     ParamTitle(row) + QLatin1Char(')');
    }
    // A parameter the gauge refused to give leaves the comparison incomplete: no verdict of
    // "different" or "equal" can be drawn for it.
    const auto unread = StepsWith(report, TOutcome::Refused);
    if (out.Json()) {
        QJsonObject o{{"ok", unread.empty() && differences.isEmpty()},
                      {"equal", differences.isEmpty()},
                      {"compared", static_cast<int>(rows.size())},
                      {"differences", differences},
                      {"unread", ParamNames(unread)}};
        // Unread parameters end the command with exit code 2, as a silent gauge does.
        if (!unread.empty())
            out.Result(o, CliError::NoAnswer,
                       QStringLiteral("params diff: не считаны ") + Keys(unread) +
                           QStringLiteral(" — сравнение неполное"));
        else
            out.Result(o, differences.isEmpty() ? nullptr : CliError::Differences,
                       QStringLiteral("params diff: отличий ") +
                           QString::number(differences.size()));
    } else {
        for (const QString& line : lines)
            out.Line(line);
        if (lines.isEmpty())
            out.Line(QStringLiteral("отличий нет (параметров: ") + QString::number(rows.size()) +
                     QLatin1Char(')'));
        if (!unread.empty())
            out.Failure(CliError::NoAnswer, QStringLiteral("params diff: не считаны ") +
                                                Keys(unread) +
                                                QStringLiteral(" — сравнение неполное"));
    }
    if (!unread.empty())
        return ExitLine;
    return differences.isEmpty() ? ExitDone : ExitDifferences;
}

// --- raw ---

namespace {

const TParamRow* RowWithCode(int code, bool write) {
    for (const TParamRow& row : ParamRows())
        if ((write ? row.WriteCode : row.ReadCode) == code)
            return &row;
    return nullptr;
}

// Codes whose request carries the device object's own data, which the command line does not
// set: the address change, the boot loader, the tare table writes.
bool ForbiddenRaw(int code) {
    return code == UlmarCmd::SystemAddressWrite || code == UlmarCmd::BootLoader ||
           code == UlmarCmd::TaraLevelWrite || code == UlmarCmd::TaraVolumeWrite;
}

// The value of --value for the row, checked as a parameter file's value is.
std::optional<double> RawValue(const TParamRow& row, const QString& text, QString& error) {
    bool ok = false;
    const QString t = text.trimmed();
    double value = 0;
    if (ParamKind(row) == TParamKind::Real)
        value = QString(t).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    else
        value = static_cast<double>(t.toLongLong(&ok, 0));
    if (!ok || !std::isfinite(value)) {
        error = QStringLiteral("--value: ") + t + QStringLiteral(" — не число");
        return std::nullopt;
    }
    const double low = row.Dialog.Prompt                          ? row.Dialog.Min
                       : ParamKind(row) == TParamKind::SignedByte ? -128
                                                                  : 0;
    const double high = row.Dialog.Prompt ? (row.Dialog.MaxIsDist2 ? 50000 : row.Dialog.Max)
                        : ParamKind(row) == TParamKind::Word       ? 65535
                        : ParamKind(row) == TParamKind::SignedByte ? 127
                                                                   : 255;
    if (value < low || value > high) {
        error = QStringLiteral("--value: ") + t + QStringLiteral(" вне пределов [") +
                QLocale::c().toString(low, 'g', 10) + QStringLiteral(", ") +
                QLocale::c().toString(high, 'g', 10) + QLatin1Char(']');
        return std::nullopt;
    }
    return value;
}

} // namespace

QString CliRawRefusal(const TCliRequest& request) {
    const int code = request.Code;
    if (ForbiddenRaw(code))
        return QStringLiteral("raw ") + QString::number(code) +
               QStringLiteral(": команда берёт данные, которых нет в командной строке (адрес, "
                              "загрузчик, тарировочная таблица)");
    const TParamRow* write = RowWithCode(code, true);
    const bool takesValue = write || code == UlmarCmd::ZeroBlockRead;
    if (!takesValue && !request.Value.isEmpty())
        return QStringLiteral("raw ") + QString::number(code) + QStringLiteral(": без --value");
    if (write && request.Value.isEmpty())
        return QStringLiteral("raw ") + QString::number(code) +
               QStringLiteral(": нужно --value (") + QString::fromLatin1(write->Key) +
               QLatin1Char(')');
    QString error;
    if (write && !RawValue(*write, request.Value, error))
        return error;
    if (code == UlmarCmd::ZeroBlockRead && !request.Value.isEmpty()) {
        bool ok = false;
        const int block = request.Value.toInt(&ok);
        if (!ok || block < 1 || block > 32)
            return QStringLiteral("--value: блок 1..32");
    }
    return QString();
}

int CliRaw(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TUlmar& u = session.Ulmar();
    const int code = request.Code;
    const TParamRow* write = RowWithCode(code, true);
    if (write) {
        QString error;
        const double value = *RawValue(*write, request.Value, error);
        session.Commands().Edit([write, value](TUlmar& d) {
            if (write->Id == TParamId::PlantNumber)
                d.PlantNumberNew = static_cast<quint16>(value);
            else
                SetParamNumber(d, *write, value);
        });
    }
    if (code == UlmarCmd::ZeroBlockRead) {
        const int block = request.Value.isEmpty() ? 1 : request.Value.toInt();
        session.Commands().Edit([block](TUlmar& d) { d.ZeroBlock = block; });
    }
    TSignature signature;
    bool signed_ = false;
    session.Commands().Edit([&](TUlmar& d) {
        d.On32 = [&](TUlmar*, quint8 a, quint8 t, quint16 p, quint8 h, quint8 s) {
            signature = {a, t, p, h, s};
            signed_ = true;
        };
    });
    TExchangeReport report;
    const QString time = IsoTimeText(QDateTime::currentDateTime());
    session.Link().RequestExecUlmar(code, &report);
    session.Commands().Edit([](TUlmar& d) { d.On32 = nullptr; });

    QJsonObject o{{"code", code},
                  {"time", time},
                  {"request", ToHexString(session.LastFrame())},
                  {"answer", ToHexString(session.LastAnswer())}};
    QStringList lines{QStringLiteral("Запрос: ") + ToHexString(session.LastFrame()),
                      QStringLiteral("Ответ:  ") + ToHexString(session.LastAnswer())};
    if (!report.Accepted) {
        // An error answer is the gauge's refusal; silence or a garbled answer is the line's.
        const bool refusal = report.Answered && report.Result != 0;
        const char* error = refusal ? CliError::Refused : CliError::NoAnswer;
        const QString text =
            u.ErrorText.isEmpty() ? QStringLiteral("ответ не принят") : u.ErrorText;
        if (!out.Json())
            for (const QString& line : lines)
                out.Line(line);
        out.Failure(error, text, o);
        return refusal ? ExitDifferences : ExitLine;
    }
    QJsonObject decoded;
    if (code <= UlmarCmd::FreqOpChRead) {
        const TIODouble* values[] = {u.Freq.get(),      u.Distance.get(), u.Level.get(),
                                     u.LevelFree.get(), u.Volume.get(),   u.FreqOpCh.get()};
        const char* names[] = {"freq", "distance", "level", "levelFree", "volume", "freqOpCh"};
        decoded.insert(QLatin1String(names[code]), JsonNumber(values[code]->AsDouble()));
        lines << QLatin1String(names[code]) + QStringLiteral(" = ") +
                     Number(values[code]->AsDouble());
    } else if (code == UlmarCmd::LevelAllRead) {
        decoded = Readings(u);
        lines << ReadingLines(u);
    } else if (signed_) {
        decoded = SignatureJson(signature);
        lines << TGaugeCommands::SignatureText(signature).split(QLatin1Char('\n'));
    } else if (code == UlmarCmd::ZeroBlockRead) {
        QJsonArray entries;
        QStringList texts;
        const int first = (u.ZeroBlock - 1) * 8;
        for (int k = 0; k < 8; ++k) {
            entries.append(u.ZeroArray[first + k]);
            texts << QString::number(u.ZeroArray[first + k]);
        }
        decoded.insert(QStringLiteral("block"), u.ZeroBlock);
        decoded.insert(QStringLiteral("entries"), entries);
        lines << QStringLiteral("блок ") + QString::number(u.ZeroBlock) + QStringLiteral(": ") +
                     texts.join(QLatin1Char(' '));
    } else if (code == UlmarCmd::TaraLevelRead || code == UlmarCmd::TaraVolumeRead) {
        QJsonArray points;
        QStringList texts;
        for (const TTarePoint& p : u.TareTable) {
            const double v = code == UlmarCmd::TaraLevelRead ? p.Level : p.Volume;
            points.append(JsonNumber(v));
            texts << Number(v);
        }
        decoded.insert(code == UlmarCmd::TaraLevelRead ? QStringLiteral("levels")
                                                       : QStringLiteral("volumes"),
                       points);
        lines << texts.join(QLatin1Char(' '));
    } else if (code == UlmarCmd::TemperSVChModuleRead) {
        decoded.insert(QStringLiteral("tempSvch"), JsonNumber(u.TempSVCH->AsDouble()));
        lines << QStringLiteral("T СВЧ = ") + Number(u.TempSVCH->AsDouble());
    } else if (code == UlmarCmd::TemperTermostatRead) {
        decoded.insert(QStringLiteral("temperTermostat"), u.TemperTermostat);
        lines << QStringLiteral("T термостата = ") + QString::number(u.TemperTermostat);
    } else if (const TParamRow* read = RowWithCode(code, false)) {
        decoded.insert(ParamJsonName(*read), JsonParam(u, *read));
        lines << ParamLine(u, *read);
    } else if (write) {
        decoded.insert(ParamJsonName(*write), write->Id == TParamId::PlantNumber
                                                  ? QJsonValue(u.PlantNumberNew)
                                                  : JsonParam(u, *write));
        lines << QStringLiteral("подтверждено: ") + QString::fromLatin1(write->Key);
    } else {
        lines << QStringLiteral("подтверждено");
    }
    if (out.Json()) {
        o.insert(QStringLiteral("decoded"), decoded);
        out.Object(o);
    } else {
        for (const QString& line : lines)
            out.Line(line);
    }
    return ExitDone;
}
