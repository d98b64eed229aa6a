// The device commands of the main window: the Change, radio, Read and Write actions of every
// parameter (from the parameter table), the single readings and service commands (from the
// command table), and the sequences. The exchanges and sequences run in the command layer;
// this file adds the dialogs around them and the window's own states.

#include "fCompare.h"
#include "fInput.h"
#include "fMain.h"
#include "fProgress.h"
#include "fZero.h"
#include "uConsole.h"
#include "uGaugeCommands.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uUlmar.h"
#include "uWindowCommandUi.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QTimer>

namespace {

const QString Caption = QStringLiteral("Введите");
const QString Caution = QStringLiteral("Внимание");

} // namespace

// --- the window's face of the command layer ---

void TWindowCommandUi::Progress(const QString& text, int position, int total) {
    ProgressShow(text, position, total);
}

void TWindowCommandUi::ProgressDone() {
    ProgressClose();
}

void TWindowCommandUi::Warn(const QString& text) {
    ShowMessageBox(QMessageBox::Warning, Caution, text, QMessageBox::Ok, QMessageBox::Ok, Parent_);
}

bool TWindowCommandUi::Ask(const QString& text) {
    return ShowMessageBox(QMessageBox::Question, Caution, text, QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::No, Parent_) == QMessageBox::Yes;
}

void TWindowCommandUi::Inform(const QString& caption, const QString& text) {
    ShowMessageBox(QMessageBox::Information, caption, text);
}

void TWindowCommandUi::Refresh() {
    Context_.RequestRefresh();
}

bool TWindowCommandUi::Closing() const {
    return Context_.Closing;
}

void TWindowCommandUi::Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

bool TWindowCommandUi::CommitDeferred() const {
    return Context_.AllParamWriting;
}

void TWindowCommandUi::SetCommitDeferred(bool deferred) {
    Context_.AllParamWriting = deferred;
}

// --- binding ---

void TFormMain::BindParameterCommands() {
    for (const TParamRow& row : ParamRows()) {
        const TParamRow* r = &row;
        if (QAction* change = ParamAction(row.Id, VerbChange))
            connect(change, &QAction::triggered, this, [this, r] { ChangeParam(*r); });
        if (QAction* read = ParamAction(row.Id, VerbRead))
            connect(read, &QAction::triggered, this, [this, r] { Commands_->ReadParam(*r); });
        if (QAction* write = ParamAction(row.Id, VerbWrite); write && !row.DialogWrite)
            connect(write, &QAction::triggered, this, [this, r] { Commands_->WriteParam(*r); });
        for (int i = 0; i < static_cast<int>(row.Radio.size()); ++i) {
            const int value = row.RadioFirst + i;
            connect(RadioAction(row.Id, value), &QAction::triggered, this, [this, r, value] {
                EditDevice([r, value](TUlmar& device) { SetParamInteger(device, *r, value); });
                ControlRefresh();
            });
        }
    }
    connect(ParamAction(TParamId::SystemAddress, VerbWrite), &QAction::triggered, this,
            [this] { SystemAddressWrite(); });
    connect(ParamAction(TParamId::PlantNumber, VerbWrite), &QAction::triggered, this,
            [this] { PlantNumberWrite(); });
    for (const TCommandRow& c : CommandRows()) {
        const int code = c.Code;
        const QString hint = TextHint(c.Text);
        if (c.Run == TCommandRun::Once)
            connect(CommandAction(c.Id), &QAction::triggered, this,
                    [this, code] { Commands_->Once(code); });
        else if (c.Run == TCommandRun::Retried)
            connect(CommandAction(c.Id), &QAction::triggered, this,
                    [this, code, hint] { Commands_->ReadCode(code, hint); });
    }
}

void TFormMain::BindBulkCommands() {
    const auto on = [this](TCommandId id, auto handler) {
        connect(CommandAction(id), &QAction::triggered, this, handler);
    };
    on(TCommandId::AllParamRead, [this] { Commands_->ReadAll(Context_.FactoryMode); });
    on(TCommandId::AllParamWrite, [this] { AllParamWrite(); });
    on(TCommandId::WriteToPZU, [this] { Commands_->Commit(); });
    on(TCommandId::SignatureRead, [this] { Commands_->ReadSignature(); });
    on(TCommandId::ZeroRead, [this] { ZeroRead(); });
    on(TCommandId::BootLoader, [this] { BootLoader(); });
    connect(Require(QStringLiteral("actUlmarCompare")), &QAction::triggered, this,
            [this] { CompareWithFile(); });
}

// --- commands with dialogs ---

void TFormMain::EditDevice(const std::function<void(TUlmar&)>& edit) {
    if (Link_) {
        Link_->EditDevice(edit);
        return;
    }
    if (TUlmar* u = Ulmar())
        edit(*u);
}

bool TFormMain::RepeatCommand(int code, const QString& text, int attempts) {
    return Commands_->Repeat(code, text, attempts);
}

void TFormMain::ChangeParam(const TParamRow& row) {
    TUlmar* u = Ulmar();
    if (!u)
        return;
    const QString prompt = QString::fromUtf8(row.Dialog.Prompt);
    if (ParamKind(row) == TParamKind::Text) {
        // The texts are stored without a refresh.
        const QString text = InputBox(Caption, prompt, ParamString(*u, row));
        EditDevice([&row, &text](TUlmar& device) { SetParamString(device, row, text); });
        return;
    }
    const double max = DialogMax(*u, row);
    const double current = ParamNumber(*u, row);
    const double value =
        row.Dialog.Decimals < 0
            ? InputInteger(Caption, prompt, static_cast<int>(current),
                           static_cast<int>(row.Dialog.Min), static_cast<int>(max))
            : InputDouble(Caption, prompt, row.Dialog.Decimals, current, row.Dialog.Min, max);
    EditDevice([&row, value](TUlmar& device) { SetParamNumber(device, row, value); });
    ControlRefresh();
}

void TFormMain::SystemAddressWrite() {
    TUlmar* u = Ulmar();
    if (!u)
        return;
    bool accepted = false;
    const auto plantNumber = static_cast<quint16>(InputIntegerConfirm(
        Caption, QStringLiteral("Заводской номер"), u->PlantNumber, 0, 65535, accepted));
    EditDevice([plantNumber](TUlmar& device) { device.PlantNumber = plantNumber; });
    if (!accepted)
        return;
    const auto address = static_cast<quint8>(
        InputIntegerConfirm(Caption, QStringLiteral("Новый системный адрес [0..254]"),
                            u->SystemAddressNew, 0, 254, accepted));
    EditDevice([address](TUlmar& device) { device.SystemAddressNew = address; });
    if (!accepted)
        return;
    Commands_->WriteSystemAddress();
}

void TFormMain::PlantNumberWrite() {
    TUlmar* u = Ulmar();
    if (!u)
        return;
    bool accepted = false;
    const auto plantNumber = static_cast<quint16>(
        InputIntegerConfirm(Caption, QStringLiteral("Новый заводской номер [0..65535]"),
                            u->PlantNumberNew, 0, 65535, accepted));
    EditDevice([plantNumber](TUlmar& device) { device.PlantNumberNew = plantNumber; });
    if (!accepted)
        return;
    Commands_->WritePlantNumber();
}

void TFormMain::AllParamWrite() {
    if (!Ui_->Ask(QStringLiteral("Записать все параметры?")))
        return;
    Commands_->WriteAll(Context_.FactoryMode);
}

void TFormMain::ZeroRead() {
    const TCommandId arrayCommands[] = {TCommandId::ZeroRead, TCommandId::InitReadStart,
                                        TCommandId::InitReadStop};
    for (TCommandId id : arrayCommands)
        SetActionEnabled(CommandAction(id), false);
    if (Commands_->ReadZeroArray() == TZeroReadEnd::Closing)
        return; // the three actions stay disabled
    for (TCommandId id : arrayCommands)
        SetActionEnabled(CommandAction(id), true);
    // The zero array window shows the new array.
    if (Windows_.Zero)
        if (auto* refresh = Windows_.Zero->findChild<QAction*>(QStringLiteral("actZeroRefresh")))
            refresh->trigger();
}

void TFormMain::BootLoader() {
    if (!Ui_->Ask(QStringLiteral("Перевести прибор в режим программирования?")))
        return;
    if (Commands_->BootLoader())
        actClose_->trigger();
}

void TFormMain::CompareWithFile() {
    TUlmar* u = Ulmar();
    if (!u)
        return;
    const QString dir = ParamFileDir(u->ProgramType);
    if (dir.isEmpty())
        return;
    const QString fileName = OpenParamFileDialog(this, dir);
    if (fileName.isEmpty())
        return;
    RunParamCompare(*Commands_, fileName, Context_.FactoryMode, this);
    ControlRefresh();
}
