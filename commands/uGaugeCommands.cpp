#include "uGaugeCommands.h"
#include "Ulmar.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

const QString LineBreak = QStringLiteral("\n");

void Pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

// The device object's identification event while a signature read runs: shows the signature
// from inside the parse, before the command returns. A named type, so that the owner can tell
// its own handler from one that another command attached since.
struct TGaugeCommands::TSignatureHandler {
    TGaugeCommands* Owner;
    void operator()(TUlmar*, quint8 systemAddress, quint8 unitType, quint16 plantNumber,
                    quint8 hardVersion, quint8 softVersion) const {
        TSignature& s = Owner->LastSignature_;
        s = {systemAddress, unitType, plantNumber, hardVersion, softVersion};
        Owner->SignatureSeen_ = true;
        Owner->Ui_.Inform(QStringLiteral("Сигнатура прибора"), SignatureText(s));
    }
};

void ICommandUi::Wait(int ms) {
    Pause(ms);
}

bool TBulkReport::Silent() const {
    const bool stepAnswered = std::any_of(Steps.begin(), Steps.end(), [](const TParamOutcome& s) {
        return s.Outcome != TOutcome::NoAnswer;
    });
    const bool signatureAnswered = SignatureRan && Signature != TOutcome::NoAnswer;
    return (SignatureRan || !Steps.empty()) && !stepAnswered && !signatureAnswered;
}

bool TBulkReport::AnyNoAnswer() const {
    return Signature == TOutcome::NoAnswer || Commit == TOutcome::NoAnswer ||
           std::any_of(Steps.begin(), Steps.end(),
                       [](const TParamOutcome& s) { return s.Outcome == TOutcome::NoAnswer; });
}

bool TBulkReport::AllAccepted() const {
    return !Stopped && Signature == TOutcome::Accepted && Commit == TOutcome::Accepted &&
           NotTaken.empty() && std::all_of(Steps.begin(), Steps.end(), [](const TParamOutcome& s) {
               return s.Outcome == TOutcome::Accepted;
           });
}

TGaugeCommands::TGaugeCommands(TDeviceLink* link, ICommandUi& ui, const TCommandOptions& options)
    : Link_(link), Ui_(ui), Options_(options) {}

TGaugeCommands::~TGaugeCommands() {
    if (!HandlerLeft_)
        return;
    Edit([this](TUlmar& u) {
        const auto* handler = u.On32.target<TSignatureHandler>();
        if (handler && handler->Owner == this)
            u.On32 = nullptr;
    });
}

TUlmar* TGaugeCommands::Ulmar() const {
    return Link_ ? Link_->Ulmar() : nullptr;
}

bool TGaugeCommands::Edit(const std::function<void(TUlmar&)>& edit) {
    return Link_ && Link_->EditDevice(edit);
}

QString TGaugeCommands::FailureText(const QString& hint) {
    return QStringLiteral("Не выполнена команда") + LineBreak + hint;
}

QString TGaugeCommands::SignatureText(const TSignature& s) {
    return QStringLiteral("Системный адрес: ") + QString::number(s.SystemAddress) + LineBreak +
           QStringLiteral("Заводской номер: ") + QString::number(s.PlantNumber) + LineBreak +
           QStringLiteral("Аппаратная версия: ") + QString::number(s.HardVersion) + LineBreak +
           QStringLiteral("Программная версия: ") + QString::number(s.SoftVersion) + LineBreak +
           QStringLiteral("Тип прибора: ") + QString::number(s.UnitType) +
           QStringLiteral(" (17 для УЛМАР-10, УЛМАР-20)");
}

TOutcome TGaugeCommands::Outcome(bool ok, const TExchangeReport& report) const {
    if (ok && report.Accepted)
        return TOutcome::Accepted;
    return report.Answered ? TOutcome::Refused : TOutcome::NoAnswer;
}

// --- single commands ---

bool TGaugeCommands::Repeat(int code, const QString& text, int attempts, TExchangeReport* report) {
    TExchangeReport last;
    bool ok = false;
    for (int attempt = 1; attempt <= attempts && !ok; ++attempt) {
        if (attempt > 1 && Ui_.Closing())
            break; // the exchange on the line has ended; no other follows
        Ui_.Progress(QStringLiteral("Повтор команды ") + text, attempt, attempts);
        const bool answered = Link_ && Link_->RequestExecUlmar(code, &last) == 0;
        ok = answered && (last.Accepted || !Options_.RetryUntilAccepted);
    }
    Ui_.ProgressDone();
    if (report)
        *report = last;
    return ok;
}

bool TGaugeCommands::Repeat(int code, const QString& text, TExchangeReport* report) {
    return Repeat(code, text, Options_.Attempts, report);
}

TOutcome TGaugeCommands::Once(int code) {
    TExchangeReport report;
    const bool ok = Link_ && Link_->RequestExecUlmar(code, &report) == 0;
    Ui_.Refresh();
    return Outcome(ok, report);
}

TOutcome TGaugeCommands::ReadCode(int code, const QString& hint, bool updateRanges) {
    TExchangeReport report;
    if (code < 0 || !Repeat(code, hint, &report)) {
        Ui_.Warn(FailureText(hint));
        return Outcome(false, report);
    }
    if (updateRanges)
        Edit([](TUlmar& u) { u.UpdateRanges(); });
    Ui_.Refresh();
    return Outcome(true, report);
}

TOutcome TGaugeCommands::ReadParam(const TParamRow& row) {
    return ReadCode(row.ReadCode, ReadHint(row), row.ReadUpdatesRanges);
}

TOutcome TGaugeCommands::WriteParam(const TParamRow& row) {
    const QString hint = WriteHint(row);
    TExchangeReport report;
    if (row.WriteCode < 0 || !Repeat(row.WriteCode, hint, &report)) {
        Ui_.Warn(FailureText(hint));
        if (!row.CommitAfterFailedWrite)
            return Outcome(false, report);
        Ui_.Refresh();
        Commit();
        return Outcome(false, report);
    }
    Ui_.Refresh();
    Commit();
    return Outcome(true, report);
}

TOutcome TGaugeCommands::Commit() {
    if (Ui_.CommitDeferred())
        return TOutcome::Accepted;
    // A stopped program leaves the gauge's ROM as it was.
    if (Ui_.Closing())
        return TOutcome::Refused;
    const QString hint = CommandHint(TCommandId::WriteToPZU);
    TExchangeReport report;
    const bool ok = Repeat(UlmarCmd::WriteToPZU, hint, &report);
    if (!ok)
        Ui_.Warn(FailureText(hint));
    Pause(2);
    Ui_.Refresh();
    return Outcome(ok, report);
}

TOutcome TGaugeCommands::ReadSignature(TSignature* signature) {
    SignatureSeen_ = false;
    if (Ulmar()) {
        Edit([this](TUlmar& u) { u.On32 = TSignatureHandler{this}; });
        HandlerLeft_ = true;
    }
    const QString hint = CommandHint(TCommandId::SignatureRead);
    TExchangeReport report;
    if (!Repeat(UlmarCmd::SignatureRead, hint, &report)) {
        Ui_.Warn(FailureText(hint)); // the handler stays attached
        return Outcome(false, report);
    }
    Edit([](TUlmar& u) { u.On32 = nullptr; });
    HandlerLeft_ = false;
    Ui_.Refresh();
    if (signature)
        *signature = LastSignature_;
    // An answer the parser took without an identification is no signature.
    return SignatureSeen_ ? Outcome(true, report) : TOutcome::Refused;
}

TOutcome TGaugeCommands::WriteSystemAddress() {
    const QString hint = WriteHint(ParamRow(TParamId::SystemAddress));
    TExchangeReport report;
    const bool ok = Repeat(UlmarCmd::SystemAddressWrite, hint, &report);
    if (!ok)
        Ui_.Warn(FailureText(hint));
    Ui_.Refresh();
    ReadSignature();
    return Outcome(ok, report);
}

TOutcome TGaugeCommands::WritePlantNumber() {
    const QString hint = WriteHint(ParamRow(TParamId::PlantNumber));
    TExchangeReport report;
    const bool ok = Repeat(UlmarCmd::PlantNumberWrite, hint, &report);
    if (!ok)
        Ui_.Warn(FailureText(hint));
    Commit();
    ReadSignature();
    Ui_.Refresh();
    return Outcome(ok, report);
}

// --- sequences ---

TBulkReport TGaugeCommands::ReadAll(bool factory) {
    TBulkReport report;
    report.SignatureRan = true;
    report.Signature = ReadSignature();
    if (Ui_.Closing()) {
        report.Stopped = true;
        return report;
    }
    for (const TParamRow* row : BulkRows(TBulkDirection::Read, factory)) {
        report.Steps.push_back({row, ReadParam(*row)});
        if (Ui_.Closing()) {
            report.Stopped = true;
            return report;
        }
    }
    Ui_.Refresh();
    return report;
}

TBulkReport TGaugeCommands::ReadRows(const std::vector<const TParamRow*>& rows,
                                     bool stopWhenSilent) {
    TBulkReport report;
    for (const TParamRow* row : rows) {
        report.Steps.push_back({row, ReadParam(*row)});
        if (stopWhenSilent && report.Steps.back().Outcome == TOutcome::NoAnswer)
            return report;
        if (Ui_.Closing()) {
            report.Stopped = true;
            return report;
        }
    }
    Ui_.Refresh();
    return report;
}

TBulkReport TGaugeCommands::WriteAll(bool factory) {
    TBulkReport report;
    Ui_.SetCommitDeferred(true);
    const auto rows = BulkRows(TBulkDirection::Write, factory);
    const bool written = WriteGroup(rows, report);
    Ui_.SetCommitDeferred(false);
    if (report.Stopped)
        return report; // the program is closing or the command was interrupted
    Ui_.Refresh();
    if (!written) {
        SkipCommit(report);
        return report;
    }
    report.Commit = Commit();
    return report;
}

TBulkReport TGaugeCommands::WriteAndVerify(const std::vector<const TParamRow*>& rows,
                                           const TUlmar& wanted) {
    TBulkReport report;
    Edit([&rows, &wanted](TUlmar& u) {
        for (const TParamRow* row : rows)
            CopyParam(u, wanted, *row);
    });
    const bool deferred = Ui_.CommitDeferred();
    Ui_.SetCommitDeferred(true);
    const bool written = WriteGroup(rows, report);
    Ui_.SetCommitDeferred(deferred);
    if (report.Stopped)
        return report;
    if (!written) {
        // The failed row and those after it; the ones before are in the gauge's working memory
        // only, not verified.
        for (auto it = rows.begin() + static_cast<std::ptrdiff_t>(report.Steps.size()) - 1;
             it != rows.end(); ++it) {
            report.NotTaken.push_back(*it);
            report.NotReadBack.push_back(*it);
        }
        SkipCommit(report);
        Ui_.Refresh();
        return report;
    }
    report.Commit = deferred ? TOutcome::Accepted : Commit();
    for (const TParamRow* row : rows) {
        const TOutcome back = ReadParam(*row);
        const TUlmar* u = Ulmar();
        if (back != TOutcome::Accepted || !u || !ParamEqual(*u, wanted, *row))
            report.NotTaken.push_back(row);
        if (back != TOutcome::Accepted || !u)
            report.NotReadBack.push_back(row);
        if (Ui_.Closing()) {
            report.Stopped = true;
            return report;
        }
    }
    Ui_.Refresh();
    return report;
}

bool TGaugeCommands::WriteGroup(const std::vector<const TParamRow*>& rows, TBulkReport& report) {
    for (const TParamRow* row : rows) {
        report.Steps.push_back({row, WriteParam(*row)});
        if (Ui_.Closing()) {
            report.Stopped = true; // the commit stays deferred: nothing more goes to the gauge
            return false;
        }
        if (report.Steps.back().Outcome != TOutcome::Accepted)
            return false;
    }
    return true;
}

void TGaugeCommands::SkipCommit(TBulkReport& report) {
    report.Commit = TOutcome::Refused;
    report.CommitSkipped = true;
    Ui_.Warn(QStringLiteral("Запись параметров остановлена: не записан параметр «") +
             ParamTitle(*report.Steps.back().Row) + QStringLiteral("».") + LineBreak +
             QStringLiteral("Сохранение в ПЗУ не выполнено."));
}

bool TGaugeCommands::RepeatZeroBlockRead() {
    for (int i = 0; i < Options_.Attempts; ++i)
        if (Link_ && Link_->RequestExecUlmar(UlmarCmd::ZeroBlockRead) == 0)
            return true;
    return false;
}

std::optional<quint16> TGaugeCommands::KnownPlantNumber() {
    quint16 plant = 0;
    Edit([&](TUlmar& u) { plant = u.PlantNumber; });
    if (plant != 0)
        return plant;
    TExchangeReport report;
    if (!Repeat(UlmarCmd::SignatureRead, CommandHint(TCommandId::SignatureRead), &report) ||
        !report.Accepted)
        return std::nullopt;
    Edit([&](TUlmar& u) { plant = u.PlantNumber; });
    return plant;
}

TZeroReadEnd TGaugeCommands::ReadZeroArray() {
    TUlmar* u = Ulmar();
    if (u)
        Edit([](TUlmar& device) { device.ClearZeroArray(); });
    const QString startHint = CommandHint(TCommandId::InitReadStart);
    const QString stopHint = CommandHint(TCommandId::InitReadStop);
    if (!u || !Repeat(UlmarCmd::InitReadStart, startHint)) {
        Ui_.Warn(FailureText(startHint));
        return TZeroReadEnd::StartFailed;
    }
    Ui_.Wait(1000);
    int count = 32;
    for (int n = 1; n <= count; ++n) {
        if (Ui_.Closing())
            return TZeroReadEnd::Closing; // no stop command, no refresh
        Ui_.Progress(QStringLiteral("Чтение массива нулей"), n, count);
        Edit([n](TUlmar& device) { device.ZeroBlock = n; });
        const bool ok = RepeatZeroBlockRead();
        const QString lines = FailureText(stopHint) + LineBreak + QStringLiteral("Отсутствует ") +
                              QString::number(n) +
                              QStringLiteral("-й блок массива (один блок=8 байт=4 целых числа)") +
                              LineBreak;
        if (!ok && n == 1) {
            Ui_.Warn(lines + QStringLiteral("Считывание массива прекращено!"));
            break;
        }
        if (!ok) {
            if (Ui_.Ask(lines + QStringLiteral("Прекратить считывание массива?")))
                break;
            continue;
        }
        if (n == 1) {
            // Entry 1 counts the values after the three header entries.
            const qint64 values = u->ZeroArray[0];
            count = static_cast<int>(std::clamp<qint64>((values + 3 + 7) / 8, 1, 32));
        }
    }
    if (!Repeat(UlmarCmd::InitReadStop, stopHint))
        Ui_.Warn(FailureText(stopHint));
    Ui_.ProgressDone();
    Ui_.Refresh();
    return TZeroReadEnd::Done;
}

bool TGaugeCommands::BootLoader() {
    const QString hint = CommandHint(TCommandId::BootLoader);
    if (!Repeat(UlmarCmd::BootLoader, hint)) {
        Ui_.Warn(FailureText(hint));
        return false;
    }
    Ui_.Refresh();
    return true;
}
