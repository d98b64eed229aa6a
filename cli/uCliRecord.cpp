#include "uCliRecord.h"
#include "uCliSignals.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uServiceSession.h"
#include "uSmallFile.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>

namespace {

QString VerdictRowName(TRowVerdict row) {
    switch (row) {
    case TRowVerdict::Pass:
        return QStringLiteral("pass");
    case TRowVerdict::Fail:
        return QStringLiteral("fail");
    case TRowVerdict::NotFilled:
        break;
    }
    return QStringLiteral("notFilled");
}

QJsonObject VerdictJson(const TServiceRecord& record) {
    const TServiceVerdict v = ServiceVerdict(record.RunTest, record.Tolerance);
    QJsonArray rows;
    for (const TRowVerdict row : v.Rows)
        rows.append(VerdictRowName(row));
    return QJsonObject{
        {"done", v.Done}, {"pass", v.Pass}, {"text", ServiceVerdictText(v)}, {"rows", rows}};
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// A record's time as the terminal shows it: local time.
QString LocalTime(const QString& utc) {
    const QDateTime at = QDateTime::fromString(utc, Qt::ISODateWithMs);
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")) : utc;
}

// The snapshot in one line: which steps are done and why the others are not.
QString SnapshotLine(const QString& caption, const TServiceSnapshot& s) {
    QStringList done;
    for (const TServiceStep step : ServiceSteps)
        if (s.IsDone(step))
            done << ServiceStepCaption(step);
    QString line = caption + QStringLiteral(": ") +
                   (done.isEmpty() ? QStringLiteral("ничего не считано")
                                   : QStringLiteral("считаны ") + done.join(QStringLiteral(", ")));
    for (const TServiceFailure& f : s.Failed)
        line += QStringLiteral("; ") + f.Reason;
    return line;
}

// The session's object, or its lines in text.
void PrintRecord(TCliOutput& out, const QString& folder, const TServiceRecord& record,
                 const QStringList& notes, const char* code = nullptr, const QString& error = {}) {
    if (out.Json()) {
        out.Result(QJsonObject{{"folder", folder},
                               {"record", ServiceRecordToJson(record)},
                               {"verdict", VerdictJson(record)},
                               {"notes", QJsonArray::fromStringList(notes)}},
                   code, error);
        return;
    }
    const TServiceGauge& g = record.Gauge;
    out.Line(QStringLiteral("Папка: ") + Native(folder));
    out.Line(QStringLiteral("Прибор: заводской номер %1, адрес %2, тип %3, версии %4/%5")
                 .arg(g.PlantNumber)
                 .arg(g.Address)
                 .arg(g.UnitType)
                 .arg(g.HardVersion)
                 .arg(g.SoftVersion));
    out.Line(QStringLiteral("Сессия: ") +
             (record.State == TServiceState::Finished
                  ? QStringLiteral("завершена ") + LocalTime(record.Finished)
                  : QStringLiteral("открыта с ") + LocalTime(record.Started)));
    out.Line(SnapshotLine(QStringLiteral("Как найдено"), record.AsFound));
    if (!record.AsLeft.Taken.isEmpty())
        out.Line(SnapshotLine(QStringLiteral("Как оставлено"), record.AsLeft));
    const TServiceVerdict v = ServiceVerdict(record.RunTest, record.Tolerance);
    out.Line(QStringLiteral("Прогон: ") + ServiceVerdictText(v));
    out.Line(QStringLiteral("Записей в прибор: ") + QString::number(record.Writes.size()));
    for (const QString& note : notes)
        out.Note(note);
    if (code)
        out.Failure(code, error);
}

const char* ErrorCode(TServiceErrorKind kind) {
    switch (kind) {
    case TServiceErrorKind::File:
        return CliError::BadFile;
    case TServiceErrorKind::OtherGauge:
    case TServiceErrorKind::State:
        return CliError::Refused;
    case TServiceErrorKind::Line:
    case TServiceErrorKind::None:
        break;
    }
    return CliError::NoAnswer;
}

int ExitOf(const char* code) {
    if (code == CliError::BadFile)
        return ExitBadInput;
    if (code == CliError::Refused)
        return ExitDifferences;
    return ExitLine;
}

// The end of a session command: the record when the session has a folder, the failure.
int Report(const char* what, bool ok, const TServiceSession& s, TCliOutput& out) {
    if (CliInterrupted() && !ok)
        return CliReportInterrupt(out, QString::fromLatin1(what),
                                  QStringLiteral("сессия открыта, её можно продолжить"));
    const char* code = ok ? nullptr : ErrorCode(s.ErrorKind());
    const QString error =
        ok ? QString() : QString::fromLatin1(what) + QStringLiteral(": ") + s.Error();
    if (s.Folder().isEmpty()) {
        out.Failure(code, error);
        return ExitOf(code);
    }
    PrintRecord(out, s.Folder(), s.Record(), s.Notes(), code, error);
    return ok ? ExitDone : ExitOf(code);
}

TServiceOptions Options(const TCliRequest& request) {
    TServiceOptions options;
    options.Factory = request.Factory;
    return options;
}

} // namespace

QJsonObject CliRecordVerdictJson(const TServiceRecord& record) {
    return VerdictJson(record);
}

int CliRecordStart(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TServiceSession s(session.Commands(), nullptr, Options(request));
    const bool ok = s.Start(request.Site, request.Tag, request.Technician);
    return Report("record start", ok, s, out);
}

int CliRecordResume(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TServiceSession s(session.Commands(), nullptr, Options(request));
    const bool ok = s.Resume(request.File);
    return Report("record resume", ok, s, out);
}

int CliRecordFinish(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TServiceSession s(session.Commands(), nullptr, Options(request));
    // An as-found step that still fails does not keep the session from being finished; it is
    // said, and the exit status tells it.
    bool ok = s.Resume(request.File);
    if (!s.IsOpen())
        return Report("record finish", false, s, out);
    const QString asFound = ok ? QString() : s.Error();
    ok = s.Finish();
    if (ok && !asFound.isEmpty()) {
        PrintRecord(out, s.Folder(), s.Record(), s.Notes(), CliError::NoAnswer,
                    QStringLiteral("record finish: сессия завершена, но «как найдено» считано не "
                                   "всё: ") +
                        asFound);
        return ExitLine;
    }
    return Report("record finish", ok, s, out);
}

int CliRecordShow(const TCliRequest& request, TCliOutput& out) {
    const QString folder = request.File;
    TServiceRecord record;
    QString error;
    if (!LoadServiceRecord(JoinPath(folder, QString::fromLatin1(ServiceRecordFile)), record,
                           error)) {
        out.Failure(CliError::BadFile, QStringLiteral("record show: ") + error);
        return ExitBadInput;
    }
    QStringList notes;
    // An open session's writes so far, from its request log.
    if (record.State == TServiceState::Open) {
        const QString path = JoinPath(folder, QString::fromLatin1(ServiceRequestsFile));
        QByteArray log;
        QString reason;
        if (ReadSmallRegularFile(path, 512LL * 1024 * 1024, log, reason) == TSmallFileRead::Refused)
            notes << FileRefusalText(path, reason);
        record.Writes = ServiceWritesFromLog(log, record.Gauge.Address, record.Gauge.PlantNumber);
    }
    PrintRecord(out, folder, record, notes);
    return ExitDone;
}

std::unique_ptr<TServiceLogTap> CliAttachOpenSession(const TCliRequest& request,
                                                     TCliSession& session, TCliOutput& out) {
    const TTransmitter* t = session.Link().Transmitter();
    if (!t)
        return nullptr;
    const QString folder = FindOpenSessionOnPort(t->Settings().Port, request.Address.value_or(255));
    if (folder.isEmpty())
        return nullptr;
    out.Note(QStringLiteral("обмены записываются в журнал открытой сессии ") + Native(folder));
    return std::make_unique<TServiceLogTap>(
        &session.Link(), JoinPath(folder, QString::fromLatin1(ServiceRequestsFile)));
}
