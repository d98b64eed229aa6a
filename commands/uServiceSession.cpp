#include "uServiceSession.h"

#include "Ulmar.h"
#include "uExchangeDecode.h"
#include "uFrame.h"
#include "uLog.h"
#include "uParamFile.h"
#include "uParamStr.h"
#include "uParamTable.h"
#include "uPaths.h"
#include "uRequestDevices.h"
#include "uSmallFile.h"
#include "uTareCommands.h"
#include "uTareFile.h"
#include "uWire.h"
#include "uZeroArray.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The request log a session keeps grows with polling; beyond this it is not read for the writes.
constexpr qint64 RequestsMaxBytes = 512LL * 1024 * 1024;

// The face of a session's steps: progress and refreshes go through to the caller's, the
// warnings and questions of the single commands are gathered as the step's failure. A question
// (a missing zero-array block: stop the read?) is answered Yes, so a broken read ends at once.
class TStepUi : public ICommandUi {
public:
    explicit TStepUi(ICommandUi& inner) : Inner_(inner) {}
    void Progress(const QString& text, int position, int total) override {
        Inner_.Progress(text, position, total);
    }
    void ProgressDone() override { Inner_.ProgressDone(); }
    void Warn(const QString& text) override { Messages << OneLine(text); }
    bool Ask(const QString& text) override {
        Messages << OneLine(text);
        return true;
    }
    void Inform(const QString&, const QString&) override {}
    void Refresh() override { Inner_.Refresh(); }
    bool Closing() const override { return Inner_.Closing(); }
    bool CommitDeferred() const override { return Inner_.CommitDeferred(); }
    void SetCommitDeferred(bool deferred) override { Inner_.SetCommitDeferred(deferred); }
    void Wait(int ms) override { Inner_.Wait(ms); }

    static QString OneLine(const QString& text) {
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral("; "));
    }

    QStringList Messages;

private:
    ICommandUi& Inner_;
};

TCommandOptions StepOptions() {
    TCommandOptions options;
    // A value in the record is one the gauge answered with a good checksum.
    options.RetryUntilAccepted = true;
    return options;
}

QString Now() {
    return ServiceTimeText(QDateTime::currentDateTimeUtc());
}

// A value as the parameter file writes it, with '.' as the decimal separator in any locale.
QString ParamText(const TUlmar& u, const TParamRow& row, std::optional<double>& value) {
    switch (ParamKind(row)) {
    case TParamKind::Text:
        value.reset();
        return ParamString(u, row);
    case TParamKind::Real: {
        const double v = ParamNumber(u, row);
        value = v;
        QString text = ParamFloatToString(v);
        const QString point = QLocale().decimalPoint();
        if (point != QStringLiteral("."))
            text.replace(point, QStringLiteral("."));
        return text;
    }
    default: {
        const double v = ParamNumber(u, row);
        value = v;
        return QString::number(static_cast<qint64>(v));
    }
    }
}

const TParamRow* RowOfWrite(int code) {
    for (const TParamRow& row : ParamRows())
        if (row.WriteCode == code)
            return &row;
    return nullptr;
}

quint8 ByteAt(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes[i]);
}

// The value of a write request as its bytes carry it; empty when the frame is cut.
QString WriteValueText(const TWireRow& row, const QByteArray& request) {
    const int size = static_cast<int>(request.size()) - 2; // without the checksum
    const auto has = [size](int offset, int count) { return offset + count <= size; };
    switch (row.Layout) {
    case TRequestLayout::IdentityAddress:
        return has(6, 1) ? QString::number(ByteAt(request, 6)) : QString();
    case TRequestLayout::TareWrite: {
        QStringList points;
        for (int k = 0; k < TarePointCount && has(4 + 4 * k, 4); ++k) {
            const int at = 4 + 4 * k;
            if (ByteAt(request, at) == 0xFF && ByteAt(request, at + 1) == 0xFF &&
                ByteAt(request, at + 2) == 0xFF && ByteAt(request, at + 3) == 0xFF)
                continue; // an empty point
            const double v = BytesToFloat(ByteAt(request, at), ByteAt(request, at + 1),
                                          ByteAt(request, at + 2), ByteAt(request, at + 3));
            points << ShortestSingle(v / row.Scale);
        }
        return points.join(QStringLiteral("; "));
    }
    case TRequestLayout::ParamWrite:
        switch (row.Value) {
        case TWireValue::Byte:
            return has(4, 1) ? QString::number(ByteAt(request, 4)) : QString();
        case TWireValue::SignedByte:
            return has(4, 1) ? QString::number(static_cast<qint8>(ByteAt(request, 4))) : QString();
        case TWireValue::Word:
            return has(4, 2) ? QString::number(ByteAt(request, 4) << 8 | ByteAt(request, 5))
                             : QString();
        case TWireValue::Float:
            return has(4, 4) ? ShortestSingle(BytesToFloat(ByteAt(request, 4), ByteAt(request, 5),
                                                           ByteAt(request, 6), ByteAt(request, 7)))
                             : QString();
        case TWireValue::None:
            break;
        }
        break;
    default:
        break;
    }
    return QString();
}

TServiceOutcome WriteOutcome(const QByteArray& request, const QByteArray& answer) {
    if (answer.isEmpty())
        return TServiceOutcome::NoAnswer;
    const TAnswer a = Decode(request, answer);
    const bool taken = a.Status == TAnswerStatus::Ok && a.Layout != TAnswerLayout::ErrorAnswer &&
                       request.size() > 1 && a.Command == ByteAt(request, 1);
    return taken ? TServiceOutcome::Accepted : TServiceOutcome::Refused;
}

// The session folders under the records folder: <plant number>/<started>, newest first.
QStringList SessionFolders(const QString& recordsDir, const QString& plantFolder) {
    QStringList folders;
    const QDir plants(recordsDir);
    const QStringList plantNames = plantFolder.isEmpty()
                                       ? plants.entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                       : QStringList{plantFolder};
    for (const QString& plant : plantNames) {
        const QDir dir(plants.filePath(plant));
        for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            folders << dir.filePath(name);
    }
    // yyyy-MM-dd_HH-mm-ss sorts in time order.
    std::sort(folders.begin(), folders.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).fileName() > QFileInfo(b).fileName();
    });
    return folders;
}

} // namespace

// --- the session's request log ---

// Lines kept before a path is set; beyond this the oldest part would be a session's whole
// polling, and the lines after it are dropped (said by Error).
constexpr qsizetype PendingMaxBytes = 4 * 1024 * 1024;

TServiceLogTap::TServiceLogTap(TDeviceLink* link, const QString& path) : Link_(link), Path_(path) {
    if (Link_)
        TapNumber_ = Link_->AddLogTap([this](const QString& text) { Append(text); });
}

TServiceLogTap::~TServiceLogTap() {
    if (Link_)
        Link_->RemoveLogTap(TapNumber_);
}

QString TServiceLogTap::Error() const {
    std::lock_guard lock(Mutex_);
    return Error_;
}

void TServiceLogTap::SetPath(const QString& path) {
    std::lock_guard lock(Mutex_);
    Path_ = path;
    if (!Pending_.isEmpty())
        Write(std::exchange(Pending_, QByteArray()));
}

void TServiceLogTap::Append(const QString& text) {
    const QByteArray line = TLog::FormatLine(text);
    std::lock_guard lock(Mutex_);
    if (!Path_.isEmpty()) {
        Write(line);
    } else if (Pending_.size() + line.size() <= PendingMaxBytes) {
        Pending_ += line;
    } else if (Error_.isEmpty()) {
        Error_ = QStringLiteral("журнал сессии без папки переполнен");
    }
}

void TServiceLogTap::Write(const QByteArray& line) {
    int error = 0;
    if (!AppendLineToFile(Path_, line, &error) && Error_.isEmpty())
        Error_ = FileRefusalText(Path_, SystemErrorText(error));
}

std::vector<TServiceWrite> ServiceWritesFromLog(const QByteArray& log, int address,
                                                int plantNumber) {
    std::vector<TServiceWrite> writes;
    QSet<int> addresses{address, 255};
    for (const QByteArray& bytes : log.split('\n')) {
        TExchangeRecord raw;
        QString reason;
        if (bytes.trimmed().isEmpty() ||
            !ParseRequestLogLine(QString::fromUtf8(bytes), raw, reason))
            continue;
        const TWireRow* row = raw.Device == 0 ? WireRow(raw.Code) : nullptr;
        if (!row || (row->Layout != TRequestLayout::ParamWrite &&
                     row->Layout != TRequestLayout::TareWrite &&
                     row->Layout != TRequestLayout::IdentityAddress))
            continue;
        const QByteArray& request = raw.Request;
        const int to = ByteAt(request, 0);
        // The address change names the gauge by its plant number, whatever address it went to.
        const bool identity = row->Layout == TRequestLayout::IdentityAddress;
        const int named =
            identity && request.size() >= 6 ? (ByteAt(request, 4) << 8 | ByteAt(request, 5)) : -1;
        if (identity ? named != plantNumber : !addresses.contains(to))
            continue;
        TServiceWrite write;
        write.Time = ServiceTimeText(QDateTime::fromMSecsSinceEpoch(raw.TimeMs, Qt::UTC));
        write.Address = to;
        write.Code = raw.Code;
        write.Name = ExchangeCommandName(raw.Code);
        if (const TParamRow* param = RowOfWrite(raw.Code))
            write.Key = QString::fromLatin1(param->Key);
        write.Value = WriteValueText(*row, request);
        write.Outcome = WriteOutcome(request, raw.Answer);
        if (write.Outcome == TServiceOutcome::Accepted) {
            bool ok = false;
            const int value = write.Value.toInt(&ok);
            if (identity && ok)
                addresses.insert(value);
            else if (raw.Code == UlmarCmd::PlantNumberWrite && ok)
                plantNumber = value;
        }
        writes.push_back(write);
    }
    return writes;
}

QString FindOpenSession(int plantNumber, const QString& recordsDir) {
    for (const QString& folder : SessionFolders(recordsDir, QString::number(plantNumber))) {
        TServiceRecord record;
        QString error;
        if (LoadServiceRecord(JoinPath(folder, QString::fromLatin1(ServiceRecordFile)), record,
                              error) &&
            record.State == TServiceState::Open && record.Gauge.PlantNumber == plantNumber)
            return folder;
    }
    return QString();
}

TServiceRunTest ServiceRunTestOf(const TUlmar& ulmar, const QString& recorded) {
    TServiceRunTest test;
    const int rows = std::clamp<int>(ulmar.ProgonMode(), 0, TUlmar::ProgonRowCount);
    for (int i = 0; i < rows; ++i) {
        const TProgonPoint& p = ulmar.ProgonPoints[static_cast<std::size_t>(i)];
        test.Rows.push_back({p.Ruletka, p.Sample, p.Value, p.dValue, p.CurrentSample,
                             p.CurrentValue, p.dCurrentValue, p.Taken});
    }
    test.Recorded = recorded;
    return test;
}

std::optional<TSessionZero> LatestSessionZero(int plantNumber, const QString& recordsDir) {
    for (const QString& folder : SessionFolders(recordsDir, QString::number(plantNumber))) {
        TServiceRecord record;
        QString error;
        if (!LoadServiceRecord(JoinPath(folder, QString::fromLatin1(ServiceRecordFile)), record,
                               error) ||
            record.Gauge.PlantNumber != plantNumber)
            continue;
        const bool left = record.AsLeft.Zero.size() == std::size_t(TUlmar::ZeroArraySize);
        const TServiceSnapshot& snapshot = left ? record.AsLeft : record.AsFound;
        if (snapshot.Zero.size() != std::size_t(TUlmar::ZeroArraySize))
            continue;
        return TSessionZero{
            snapshot.Zero, folder,
            QStringLiteral("протокол ") + QFileInfo(folder).fileName() +
                (left ? QStringLiteral(", после работ") : QStringLiteral(", до работ"))};
    }
    return std::nullopt;
}

QString FindOpenSessionOnPort(const QString& port, int address, const QString& recordsDir) {
    QString newest;
    QString newestStarted;
    for (const QString& folder : SessionFolders(recordsDir, QString())) {
        TServiceRecord record;
        QString error;
        if (!LoadServiceRecord(JoinPath(folder, QString::fromLatin1(ServiceRecordFile)), record,
                               error) ||
            record.State != TServiceState::Open || record.Gauge.Port != port)
            continue;
        if (address >= 0 && address != 255 && record.Gauge.Address != address)
            continue;
        if (newest.isEmpty() || record.Started > newestStarted) {
            newest = folder;
            newestStarted = record.Started;
        }
    }
    return newest;
}

// --- the session ---

TServiceSession::TServiceSession(TGaugeCommands& commands, IPollControl* poll,
                                 TServiceOptions options)
    : Commands_(commands), Poll_(poll), Options_(std::move(options)) {
    const TDeviceLink* link = Commands_.Link();
    const TTransmitter* t = link ? link->Transmitter() : nullptr;
    if (t && Options_.Port.isEmpty())
        Options_.Port = t->Settings().Port;
    if (t && Options_.BaudRate == 0) {
        const TTransmitterSettings s = t->Settings();
        Options_.BaudRate =
            s.BaudRate == QLatin1String("Custom") ? s.CustomBaudRate : s.BaudRate.toInt();
    }
}

TServiceSession::~TServiceSession() = default;

QString TServiceSession::FilePath(const QString& name) const {
    return JoinPath(Folder_, name);
}

bool TServiceSession::Save() {
    QString error;
    if (SaveServiceRecord(FilePath(QString::fromLatin1(ServiceRecordFile)), Record_, error))
        return true;
    return Refuse(TServiceErrorKind::File, QStringLiteral("Протокол не записан: ") + error);
}

void TServiceSession::AttachLog() {
    Tap_ = std::make_unique<TServiceLogTap>(Commands_.Link(),
                                            FilePath(QString::fromLatin1(ServiceRequestsFile)));
}

void TServiceSession::ClearError() {
    Error_.clear();
    Kind_ = TServiceErrorKind::None;
}

bool TServiceSession::Refuse(TServiceErrorKind kind, const QString& reason) {
    Kind_ = kind;
    Error_ = reason;
    return false;
}

void TServiceSession::Fail(TServiceSnapshot& snapshot, TServiceStep step, const QString& reason,
                           TServiceErrorKind kind) {
    // The first kind stays: a file failure after a silent gauge is still a silent gauge.
    if (Kind_ == TServiceErrorKind::None)
        Kind_ = kind;
    snapshot.Done &= ~unsigned(step);
    snapshot.Failed.push_back({ServiceStepName(step), reason});
    if (!Error_.isEmpty())
        Error_ += QStringLiteral("\n");
    Error_ += reason;
}

bool TServiceSession::ReadSignatureStep(TServiceSnapshot& snapshot) {
    TStepUi ui(Commands_.Ui());
    TGaugeCommands commands(Commands_.Link(), ui, StepOptions());
    TSignature s;
    if (commands.ReadSignature(&s) != TOutcome::Accepted) {
        Fail(snapshot, ServiceStepSignature,
             QStringLiteral("Сигнатура не считана: ") +
                 (ui.Messages.isEmpty() ? QStringLiteral("прибор не ответил")
                                        : ui.Messages.join(QStringLiteral("; "))));
        return false;
    }
    TServiceGauge& g = snapshot.Gauge;
    g.Address = s.SystemAddress;
    g.PlantNumber = s.PlantNumber;
    g.UnitType = s.UnitType;
    g.HardVersion = s.HardVersion;
    g.SoftVersion = s.SoftVersion;
    g.Port = Options_.Port;
    g.BaudRate = Options_.BaudRate;
    // Another gauge on the line is never recorded as this one; a plant number written during
    // the session and taken by the gauge is its own.
    const int expected = Record_.Gauge.PlantNumber;
    if (expected >= 0 && g.PlantNumber != expected) {
        bool renamed = false;
        if (!Folder_.isEmpty()) {
            QByteArray log;
            QString reason;
            ReadSmallRegularFile(FilePath(QString::fromLatin1(ServiceRequestsFile)),
                                 RequestsMaxBytes, log, reason);
            for (const TServiceWrite& w :
                 ServiceWritesFromLog(log, Record_.Gauge.Address, expected))
                if (w.Code == UlmarCmd::PlantNumberWrite &&
                    w.Outcome == TServiceOutcome::Accepted &&
                    w.Value == QString::number(g.PlantNumber))
                    renamed = true;
        }
        if (!renamed) {
            Fail(snapshot, ServiceStepSignature,
                 QStringLiteral("На линии другой прибор: заводской номер %1, а сессия прибора %2")
                     .arg(g.PlantNumber)
                     .arg(expected),
                 TServiceErrorKind::OtherGauge);
            return false;
        }
    }
    snapshot.Done |= ServiceStepSignature;
    return true;
}

bool TServiceSession::ReadParamsStep(TServiceSnapshot& snapshot, const TServiceFiles& files) {
    TStepUi ui(Commands_.Ui());
    TGaugeCommands commands(Commands_.Link(), ui, StepOptions());
    const std::vector<const TParamRow*> rows = BulkRows(TBulkDirection::Read, Record_.Factory);
    const TBulkReport report = commands.ReadRows(rows, true);
    const TUlmar* u = Commands_.Ulmar();
    // The parameter file holds the values read and the file defaults for the others.
    TUlmar file;
    file.Name = QStringLiteral("Ulmar");
    file.PlantNumber = static_cast<quint16>(std::max(0, snapshot.Gauge.PlantNumber));
    snapshot.Parameters.clear();
    QStringList missing;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TParamRow& row = *rows[i];
        TServiceParam p;
        p.Key = QString::fromLatin1(row.Key);
        p.Caption = ParamTitle(row);
        p.ReadOk = u && i < report.Steps.size() && report.Steps[i].Outcome == TOutcome::Accepted;
        if (p.ReadOk) {
            p.Text = ParamText(*u, row, p.Value);
            CopyParam(file, *u, row);
        } else {
            missing << p.Caption;
        }
        snapshot.Parameters.push_back(p);
    }
    const QString name = QString::fromLatin1(files.Params);
    snapshot.ParamFile = name;
    if (!WriteParamFile(file, FilePath(name))) {
        Fail(snapshot, ServiceStepParameters,
             QStringLiteral("Файл параметров не записан: ") +
                 QDir::toNativeSeparators(FilePath(name)),
             TServiceErrorKind::File);
        return false;
    }
    if (report.Stopped || !missing.isEmpty()) {
        Fail(snapshot, ServiceStepParameters,
             QStringLiteral("Параметры не считаны (%1 из %2): ")
                     .arg(missing.size())
                     .arg(rows.size()) +
                 missing.join(QStringLiteral(", ")) +
                 (report.Silent() || report.AnyNoAnswer() ? QStringLiteral(" — прибор не ответил")
                                                          : QString()));
        return false;
    }
    snapshot.Done |= ServiceStepParameters;
    return true;
}

bool TServiceSession::ReadTareStep(TServiceSnapshot& snapshot, const TServiceFiles& files) {
    TStepUi ui(Commands_.Ui());
    TGaugeCommands commands(Commands_.Link(), ui, StepOptions());
    TTareCommands tare(commands, nullptr); // polling is stopped for the whole session step
    QString error;
    snapshot.Tare.clear();
    if (!tare.ReadFromGauge(&error)) {
        Fail(snapshot, ServiceStepTare,
             QStringLiteral("Таблица тарировки не считана: ") + TStepUi::OneLine(error));
        return false;
    }
    const auto points = Commands_.Ulmar()->TareTable;
    for (const TTarePoint& p : points)
        if (!TarePointEmpty(p))
            snapshot.Tare.push_back({p.Level, p.Volume});
    const QString name = QString::fromLatin1(files.Tare);
    snapshot.TareFile = name;
    if (!WriteTareFile(FilePath(name), GaugeTareText(points), error)) {
        Fail(snapshot, ServiceStepTare, TStepUi::OneLine(error), TServiceErrorKind::File);
        return false;
    }
    snapshot.Done |= ServiceStepTare;
    return true;
}

bool TServiceSession::ReadZeroStep(TServiceSnapshot& snapshot, const TServiceFiles& files) {
    TStepUi ui(Commands_.Ui());
    TGaugeCommands commands(Commands_.Link(), ui, StepOptions());
    const TZeroReadEnd end = commands.ReadZeroArray();
    snapshot.Zero.clear();
    if (end != TZeroReadEnd::Done || !ui.Messages.isEmpty()) {
        Fail(snapshot, ServiceStepZero,
             QStringLiteral("Массив нулей не считан: ") +
                 (end == TZeroReadEnd::Closing ? QStringLiteral("прервано")
                                               : ui.Messages.join(QStringLiteral("; "))));
        return false;
    }
    const TZeroArray zero = Commands_.Ulmar()->ZeroArray;
    snapshot.Zero.assign(zero.begin(), zero.end());
    const QString name = QString::fromLatin1(files.Zero);
    snapshot.ZeroFile = name;
    QString error;
    if (!SaveZeroFile(FilePath(name), zero, &error)) {
        Fail(snapshot, ServiceStepZero, QStringLiteral("Файл массива нулей не записан: ") + error,
             TServiceErrorKind::File);
        return false;
    }
    snapshot.Done |= ServiceStepZero;
    return true;
}

bool TServiceSession::Snapshot(TServiceSnapshot& snapshot, const TServiceFiles& files) {
    // A step that failed before is tried again; its old failure gives way to the new outcome.
    std::erase_if(snapshot.Failed, [&snapshot](const TServiceFailure& f) {
        for (const TServiceStep step : ServiceSteps)
            if (f.Step == ServiceStepName(step))
                return !snapshot.IsDone(step);
        return false;
    });
    if (snapshot.Taken.isEmpty())
        snapshot.Taken = Now();
    const auto run = [&](TServiceStep step, auto read) {
        if (snapshot.IsDone(step))
            return true;
        if (Commands_.Ui().Closing()) {
            Fail(snapshot, step, QStringLiteral("Прервано: программа закрывается"));
            return false;
        }
        const bool ok = (this->*read)(snapshot, files);
        return Save() && ok;
    };
    if (!snapshot.IsDone(ServiceStepSignature)) {
        const bool ok = ReadSignatureStep(snapshot);
        if (!Save() || !ok)
            return false; // without the gauge's signature nothing else is read from it
    }
    bool ok = run(ServiceStepParameters, &TServiceSession::ReadParamsStep);
    ok = run(ServiceStepTare, &TServiceSession::ReadTareStep) && ok;
    ok = run(ServiceStepZero, &TServiceSession::ReadZeroStep) && ok;
    return ok;
}

bool TServiceSession::Start(const QString& site, const QString& tag, const QString& technician) {
    ClearError();
    if (Open_)
        return Refuse(TServiceErrorKind::State,
                      QStringLiteral("Сессия уже открыта: ") + QDir::toNativeSeparators(Folder_));
    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);
    const QDateTime started = QDateTime::currentDateTimeUtc();
    Record_ = TServiceRecord();
    Folder_.clear();
    // The session's request log starts with its first exchange, before its folder exists.
    Tap_ = std::make_unique<TServiceLogTap>(Commands_.Link(), QString());
    TServiceSnapshot found;
    found.Taken = ServiceTimeText(started);
    if (!ReadSignatureStep(found)) {
        Tap_.reset();
        Error_ = QStringLiteral("Сессия не начата. ") + Error_;
        return false;
    }
    // A session of the gauge left open is not taken over: it stays as it is, and is named.
    if (const QString open = FindOpenSession(found.Gauge.PlantNumber, Options_.RecordsDir);
        !open.isEmpty())
        Notes_ << QStringLiteral("Не завершена прежняя сессия прибора: ") +
                      QDir::toNativeSeparators(open);
    Record_.Site = site;
    Record_.Tag = tag;
    Record_.Technician = technician;
    Record_.Started = ServiceTimeText(started);
    Record_.Gauge = found.Gauge;
    Record_.Factory = Options_.Factory;
    Record_.AsFound = found;
    Record_.Tolerance =
        Options_.Tolerance.value_or(ReadServiceTolerance(ServiceSettingsFile(), &Notes_));
    // Two sessions of one gauge started within a second get folders of their own.
    QString folder = ServiceSessionDir(Options_.RecordsDir, found.Gauge.PlantNumber, started);
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = ServiceSessionDir(Options_.RecordsDir, found.Gauge.PlantNumber, started) +
                 QLatin1Char('_') + QString::number(n);
    if (!QDir().mkpath(folder)) {
        Tap_.reset();
        return Refuse(TServiceErrorKind::File,
                      QStringLiteral("Сессия не начата: не создана папка ") +
                          QDir::toNativeSeparators(folder));
    }
    Folder_ = folder;
    if (!Save()) {
        Tap_.reset();
        return false;
    }
    Tap_->SetPath(FilePath(QString::fromLatin1(ServiceRequestsFile)));
    Open_ = true;
    return Snapshot(Record_.AsFound, ServiceAsFoundFiles);
}

bool TServiceSession::Resume(const QString& folder) {
    ClearError();
    if (Open_)
        return Refuse(TServiceErrorKind::State,
                      QStringLiteral("Сессия уже открыта: ") + QDir::toNativeSeparators(Folder_));
    TServiceRecord record;
    QString error;
    if (!LoadServiceRecord(JoinPath(folder, QString::fromLatin1(ServiceRecordFile)), record,
                           error)) {
        return Refuse(TServiceErrorKind::File, QStringLiteral("Сессия не продолжена: ") + error);
    }
    if (record.State == TServiceState::Finished) {
        return Refuse(TServiceErrorKind::State,
                      QStringLiteral("Сессия уже завершена: ") + QDir::toNativeSeparators(folder));
    }
    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);
    Record_ = record;
    Folder_ = folder;
    // The gauge on the line must be the session's before anything is added to its record.
    TServiceSnapshot check;
    if (!ReadSignatureStep(check)) {
        Error_ = QStringLiteral("Сессия не продолжена. ") + Error_;
        Record_ = TServiceRecord();
        Folder_.clear();
        return false;
    }
    AttachLog();
    Open_ = true;
    return Snapshot(Record_.AsFound, ServiceAsFoundFiles);
}

bool TServiceSession::RecordRunTest() {
    ClearError();
    if (!Open_)
        return Refuse(TServiceErrorKind::State, QStringLiteral("Сессия не открыта"));
    const TUlmar* u = Commands_.Ulmar();
    if (!u)
        return Refuse(TServiceErrorKind::State, QStringLiteral("Нет прибора"));
    Record_.RunTest = ServiceRunTestOf(*u, Now());
    Record_.Tolerance =
        Options_.Tolerance.value_or(ReadServiceTolerance(ServiceSettingsFile(), &Notes_));
    return Save();
}

void TServiceSession::TakeWrites() {
    QByteArray log;
    QString reason;
    const QString path = FilePath(QString::fromLatin1(ServiceRequestsFile));
    if (ReadSmallRegularFile(path, RequestsMaxBytes, log, reason) == TSmallFileRead::Refused)
        Notes_ << FileRefusalText(path, reason);
    Record_.Writes = ServiceWritesFromLog(log, Record_.Gauge.Address, Record_.Gauge.PlantNumber);
    if (Tap_ && !Tap_->Error().isEmpty())
        Notes_ << QStringLiteral("Журнал запросов сессии записан не весь: ") + Tap_->Error();
}

bool TServiceSession::Finish() {
    ClearError();
    if (!Open_)
        return Refuse(TServiceErrorKind::State, QStringLiteral("Сессия не открыта"));
    // A run test done in the session and not recorded yet goes with it.
    if (const TUlmar* u = Commands_.Ulmar(); u && Record_.RunTest.Recorded.isEmpty()) {
        const bool taken = std::any_of(u->ProgonPoints.begin(), u->ProgonPoints.end(),
                                       [](const TProgonPoint& p) { return p.Taken; });
        if (taken && !RecordRunTest())
            return false;
    }
    std::optional<TPollingPause> pause;
    if (Poll_)
        pause.emplace(*Poll_);
    // As left is what the gauge holds at the end: every step is read again.
    Record_.AsLeft = TServiceSnapshot();
    const bool ok = Snapshot(Record_.AsLeft, ServiceAsLeftFiles);
    TakeWrites();
    if (!ok) {
        const QString error = Error_;
        Save();
        Error_ = QStringLiteral("Сессия не завершена. ") + error;
        return false;
    }
    Record_.State = TServiceState::Finished;
    Record_.Finished = Now();
    if (!Save()) {
        Record_.State = TServiceState::Open;
        Record_.Finished.clear();
        return false;
    }
    Tap_.reset();
    Open_ = false;
    return true;
}
