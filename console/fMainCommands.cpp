// The device commands of the main window: Change, radio, Read, Write and single readings, and
// the sequences (read all, write all, commit, signature, zero array, boot loader).

#include "console/fMain.h"
#include "console/fMainTables.h"
#include "console/uConsole.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uRequestDevices.h"
#include "values/fInput.h"
#include "values/fProgress.h"
#include "values/uModal.h"

#include <QAction>
#include <QApplication>
#include <QThread>
#include <algorithm>
#include <cmath>

namespace {

const QString LineBreak = QStringLiteral("\n");

struct TReadCommand {
    const char* Name;
    int Code;
    bool UpdateRanges;
};

const TReadCommand ReadCommands[] = {
    {"actPlantNumberRead", UlmarCmd::PlantNumberRead, false},
    {"actTypeSVCHRead", UlmarCmd::TypeSVCHRead, false},
    {"actPlantNumberSVCHRead", UlmarCmd::PlantNumberSVCHRead, false},
    {"actDist1Read", UlmarCmd::Dist1Read, true},
    {"actDist2Read", UlmarCmd::Dist2Read, true},
    {"actRelay1Ust1Read", UlmarCmd::Relay1Ust1Read, false},
    {"actRelay1Ust2Read", UlmarCmd::Relay1Ust2Read, false},
    {"actRelay2Ust1Read", UlmarCmd::Relay2Ust1Read, false},
    {"actRelay2Ust2Read", UlmarCmd::Relay2Ust2Read, false},
    {"actKKalmanRead", UlmarCmd::KKalmanRead, false},
    {"actSpeedRead", UlmarCmd::SpeedRead, false},
    {"actUserPswRead", UlmarCmd::UserPswRead, false},
    {"actModeImageRead", UlmarCmd::ModeImageRead, false},
    {"actModeCurrentOutputRead", UlmarCmd::ModeCurrentOutputRead, false},
    {"actProgramTypeRead", UlmarCmd::ProgramTypeRead, false},
    {"actModeProcessingRead", UlmarCmd::ModeProcessingRead, false},
    {"actModeInputFilterRead", UlmarCmd::ModeInputFilterRead, false},
    {"actModeChannelRead", UlmarCmd::ModeChannelRead, false},
    {"actModeCalibrRead", UlmarCmd::ModeCalibrRead, false},
    {"actModeTermostatRead", UlmarCmd::ModeTermostatRead, false},
    {"actTemperCompareTermostatRead", UlmarCmd::TemperCompareTermostatRead, false},
    {"actKrPerRead", UlmarCmd::KrPerRead, false},
    {"actSmPerRead", UlmarCmd::SmPerRead, false},
    {"actKrPerOpChRead", UlmarCmd::KrPerOpChRead, false},
    {"actSmPerOpChRead", UlmarCmd::SmPerOpChRead, false},
    {"actFreqCalibrRead", UlmarCmd::FreqCalibrRead, false},
    {"actKKK1Read", UlmarCmd::KKK1Read, false},
    {"actKKK2Read", UlmarCmd::KKK2Read, false},
    {"actKKK3Read", UlmarCmd::KKK3Read, false},
    // The two temperatures behave like reads.
    {"actTemperSVChModuleRead", UlmarCmd::TemperSVChModuleRead, false},
    {"actTemperTermostatRead", UlmarCmd::TemperTermostatRead, false},
};

struct TWriteCommand {
    const char* Name;
    int Code;
    // The action whose hint names the command in the progress window and the failure message;
    // null: the write action's own hint.
    const char* HintOf;
};

const TWriteCommand WriteCommands[] = {
    {"actTypeSVCHWrite", UlmarCmd::TypeSVCHWrite, nullptr},
    {"actPlantNumberSVCHWrite", UlmarCmd::PlantNumberSVCHWrite, nullptr},
    {"actDist1Write", UlmarCmd::Dist1Write, nullptr},
    {"actDist2Write", UlmarCmd::Dist2Write, nullptr},
    {"actRelay1Ust1Write", UlmarCmd::Relay1Ust1Write, "actRelay1Ust1"},
    {"actRelay1Ust2Write", UlmarCmd::Relay1Ust2Write, "actRelay1Ust2"},
    {"actRelay2Ust1Write", UlmarCmd::Relay2Ust1Write, "actRelay2Ust1"},
    {"actRelay2Ust2Write", UlmarCmd::Relay2Ust2Write, "actRelay2Ust2"},
    {"actKKalmanWrite", UlmarCmd::KKalmanWrite, nullptr},
    {"actSpeedWrite", UlmarCmd::SpeedWrite, nullptr},
    {"actUserPswWrite", UlmarCmd::UserPswWrite, nullptr},
    {"actLevelKalibrWrite", UlmarCmd::LevelKalibrWrite, nullptr},
    {"actModeImageWrite", UlmarCmd::ModeImageWrite, nullptr},
    {"actModeCurrentOutputWrite", UlmarCmd::ModeCurrentOutputWrite, nullptr},
    {"actProgramTypeWrite", UlmarCmd::ProgramTypeWrite, nullptr},
    {"actModeProcessingWrite", UlmarCmd::ModeProcessingWrite, nullptr},
    {"actModeInputFilterWrite", UlmarCmd::ModeInputFilterWrite, nullptr},
    {"actModeChannelWrite", UlmarCmd::ModeChannelWrite, nullptr},
    {"actModeCalibrWrite", UlmarCmd::ModeCalibrWrite, nullptr},
    {"actModeTermostatWrite", UlmarCmd::ModeTermostatWrite, nullptr},
    {"actTemperCompareTermostatWrite", UlmarCmd::TemperCompareTermostatWrite, nullptr},
    {"actKrPerWrite", UlmarCmd::KrPerWrite, nullptr},
    {"actSmPerWrite", UlmarCmd::SmPerWrite, nullptr},
    {"actKrPerOpChWrite", UlmarCmd::KrPerOpChWrite, nullptr},
    {"actSmPerOpChWrite", UlmarCmd::SmPerOpChWrite, nullptr},
    {"actFreqCalibrWrite", UlmarCmd::FreqCalibrWrite, nullptr},
    {"actKKK1Write", UlmarCmd::KKK1Write, nullptr},
    {"actKKK2Write", UlmarCmd::KKK2Write, nullptr},
    {"actKKK3Write", UlmarCmd::KKK3Write, nullptr},
};

// Single readings and service commands sent once, without retry or message.
struct TOnceCommand {
    const char* Name;
    int Code;
};

const TOnceCommand OnceCommands[] = {
    {"actDistanceRead", UlmarCmd::DistanceRead},   {"actLevelFreeRead", UlmarCmd::LevelFreeRead},
    {"actLevelRead", UlmarCmd::LevelRead},         {"actVolumeRead", UlmarCmd::VolumeRead},
    {"actLevelAllRead", UlmarCmd::LevelAllRead},   {"actFreqRead", UlmarCmd::FreqRead},
    {"actFreqOpChRead", UlmarCmd::FreqOpChRead},   {"actEcho", UlmarCmd::Echo},
    {"actInitReadStart", UlmarCmd::InitReadStart}, {"actInitReadStop", UlmarCmd::InitReadStop},
};

// Radio and check items: the parameter and the value each item sets.
struct TRadioGroup {
    const char* Stem;
    int First;
    int Count;
    quint8 TUlmar::*Field;
};

const TRadioGroup RadioGroups[] = {
    {"actModeImage", 1, 4, &TUlmar::ModeImage},
    {"actModeCurrentOutput", 0, 3, &TUlmar::ModeCurrentOutput},
    {"actProgramType", 0, 2, &TUlmar::ProgramType},
    {"actModeInputFilter", 0, 2, &TUlmar::ModeInputFilter},
    {"actModeChannel", 0, 2, &TUlmar::ModeChannel},
    {"actModeCalibr", 0, 2, &TUlmar::ModeCalibr},
    {"actModeTermostat", 0, 2, &TUlmar::ModeTermostat},
    {"actTypeSVCH", 0, 5, &TUlmar::TypeSVCH},
};

const QString Caption = QStringLiteral("Введите");

} // namespace

void TFormMain::BindParameterCommands() {
    auto on = [this](const QString& name, auto handler) {
        if (QAction* action = Action(name))
            connect(action, &QAction::triggered, this, handler);
        else
            qWarning("TFormMain: no action %s", qPrintable(name));
    };
    for (int i = 0; i < ChangeCommandCount; ++i) {
        const TChangeCommand* c = &ChangeCommands[i];
        on(QString::fromLatin1(c->Name), [this, c] {
            TUlmar* u = Ulmar();
            if (!u)
                return;
            const double max = c->MaxIsDist2 ? u->Dist2() : c->Max;
            const QString prompt = QString::fromUtf8(c->Prompt);
            const double value =
                c->Decimals < 0
                    ? InputInteger(Caption, prompt, static_cast<int>(c->Get(*u)),
                                   static_cast<int>(c->Min), static_cast<int>(max))
                    : InputDouble(Caption, prompt, c->Decimals, c->Get(*u), c->Min, max);
            EditDevice([c, value](TUlmar& device) { c->Set(device, value); });
            ControlRefresh();
        });
    }
    on(QStringLiteral("actPPMChange"), [this] {
        if (TUlmar* u = Ulmar()) {
            const QString text = InputBox(Caption, QStringLiteral("Номер ППМ"), u->PPM);
            EditDevice([&text](TUlmar& device) { device.PPM = text; });
        }
    });
    on(QStringLiteral("actNNZChange"), [this] {
        if (TUlmar* u = Ulmar()) {
            const QString text = InputBox(Caption, QStringLiteral("Номер Н/З"), u->NNZ);
            EditDevice([&text](TUlmar& device) { device.NNZ = text; });
        }
    });
    for (const TRadioGroup& g : RadioGroups) {
        for (int v = g.First; v < g.First + g.Count; ++v) {
            auto field = g.Field;
            on(QString::fromLatin1(g.Stem) + QString::number(v), [this, field, v] {
                EditDevice([field, v](TUlmar& device) { device.*field = static_cast<quint8>(v); });
                ControlRefresh();
            });
        }
    }
    for (const TReadCommand& r : ReadCommands) {
        const QString name = QString::fromLatin1(r.Name);
        const int code = r.Code;
        const bool ranges = r.UpdateRanges;
        on(name, [this, name, code, ranges] { RunRead(name, code, ranges); });
    }
    for (const TWriteCommand& w : WriteCommands) {
        const QString hintOf = QString::fromLatin1(w.HintOf ? w.HintOf : w.Name);
        const int code = w.Code;
        on(QString::fromLatin1(w.Name), [this, hintOf, code] {
            RunWrite(code, Hint(Action(hintOf)), code == UlmarCmd::Dist1Write);
        });
    }
    for (const TOnceCommand& o : OnceCommands) {
        const int code = o.Code;
        on(QString::fromLatin1(o.Name), [this, code] { RunOnce(code); });
    }
    on(QStringLiteral("actSystemAddressWrite"), [this] { SystemAddressWrite(); });
    on(QStringLiteral("actPlantNumberWrite"), [this] { PlantNumberWrite(); });
}

void TFormMain::BindBulkCommands() {
    auto on = [this](const char* name, auto handler) {
        if (QAction* action = Action(QString::fromLatin1(name)))
            connect(action, &QAction::triggered, this, handler);
    };
    on("actAllParamRead", [this] { AllParamRead(); });
    on("actAllParamWrite", [this] { AllParamWrite(); });
    on("actWriteToPZU", [this] { WriteToPZU(); });
    on("actSignatureRead", [this] { SignatureRead(); });
    on("actZeroRead", [this] { ZeroRead(); });
    on("actBootLoader", [this] { BootLoader(); });
}

// --- the retry routine and the families ---

void TFormMain::EditDevice(const std::function<void(TUlmar&)>& edit) {
    if (Link_) {
        Link_->EditDevice(edit);
        return;
    }
    if (TUlmar* u = Ulmar())
        edit(*u);
}

bool TFormMain::RepeatCommand(int code, const QString& text, int attempts) {
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        ProgressShow(QStringLiteral("Повтор команды ") + text, attempt, attempts);
        if (Link_ && Link_->RequestExecUlmar(code) == 0) {
            ProgressClose();
            return true;
        }
    }
    ProgressClose();
    return false;
}

void TFormMain::ReportFailure(const QString& hint) {
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                   QStringLiteral("Не выполнена команда") + LineBreak + hint, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

void TFormMain::RunRead(const QString& name, int code, bool updateRanges) {
    const QString hint = Hint(Action(name));
    if (!RepeatCommand(code, hint, 5)) {
        ReportFailure(hint);
        return;
    }
    if (updateRanges)
        EditDevice([](TUlmar& device) { device.UpdateRanges(); });
    ControlRefresh();
}

void TFormMain::RunWrite(int code, const QString& hint, bool commitAfterFailure) {
    if (!RepeatCommand(code, hint, 5)) {
        ReportFailure(hint);
        if (!commitAfterFailure)
            return;
    }
    ControlRefresh();
    Execute(QStringLiteral("actWriteToPZU"));
}

void TFormMain::RunOnce(int code) {
    if (Link_)
        Link_->RequestExecUlmar(code);
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
    const QString hint = QStringLiteral("Записать системный адрес в прибор");
    if (!RepeatCommand(UlmarCmd::SystemAddressWrite, hint, 5))
        ReportFailure(hint);
    ControlRefresh();
    Execute(QStringLiteral("actSignatureRead"));
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
    const QString hint = QStringLiteral("Записать заводской номер в прибор");
    if (!RepeatCommand(UlmarCmd::PlantNumberWrite, hint, 5))
        ReportFailure(hint);
    Execute(QStringLiteral("actWriteToPZU"));
    Execute(QStringLiteral("actSignatureRead"));
    ControlRefresh();
}

// --- sequences ---

void TFormMain::AllParamRead() {
    static const char* const common[] = {
        "actSignatureRead",  "actDist1Read",      "actDist2Read",      "actRelay1Ust1Read",
        "actRelay1Ust2Read", "actRelay2Ust1Read", "actRelay2Ust2Read", "actKKalmanRead",
        "actSpeedRead",      "actUserPswRead",    "actModeImageRead",  "actModeCurrentOutputRead",
        "actProgramTypeRead"};
    static const char* const factory[] = {"actModeProcessingRead",
                                          "actModeInputFilterRead",
                                          "actModeChannelRead",
                                          "actModeCalibrRead",
                                          "actModeTermostatRead",
                                          "actTemperCompareTermostatRead",
                                          "actKrPerRead",
                                          "actSmPerRead",
                                          "actKrPerOpChRead",
                                          "actSmPerOpChRead",
                                          "actFreqCalibrRead",
                                          "actKKK1Read",
                                          "actKKK2Read",
                                          "actKKK3Read",
                                          "actPlantNumberSVCHRead",
                                          "actTypeSVCHRead"};
    for (const char* name : common)
        if (!Step(QString::fromLatin1(name)))
            return;
    if (FactoryMode)
        for (const char* name : factory)
            if (!Step(QString::fromLatin1(name)))
                return;
    ControlRefresh();
}

void TFormMain::AllParamWrite() {
    static const char* const common[] = {"actDist1Write",
                                         "actDist2Write",
                                         "actRelay1Ust1Write",
                                         "actRelay1Ust2Write",
                                         "actRelay2Ust1Write",
                                         "actRelay2Ust2Write",
                                         "actKKalmanWrite",
                                         "actSpeedWrite",
                                         "actUserPswWrite",
                                         "actModeImageWrite",
                                         "actModeCurrentOutputWrite"};
    static const char* const factory[] = {"actProgramTypeWrite",
                                          "actModeProcessingWrite",
                                          "actModeInputFilterWrite",
                                          "actModeChannelWrite",
                                          "actModeCalibrWrite",
                                          "actModeTermostatWrite",
                                          "actTemperCompareTermostatWrite",
                                          "actKrPerWrite",
                                          "actSmPerWrite",
                                          "actKrPerOpChWrite",
                                          "actSmPerOpChWrite",
                                          "actFreqCalibrWrite",
                                          "actKKK1Write",
                                          "actKKK2Write",
                                          "actKKK3Write",
                                          "actPlantNumberSVCHWrite",
                                          "actTypeSVCHWrite"};
    const auto answer = ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                                       QStringLiteral("Записать все параметры?"),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No, this);
    if (answer != QMessageBox::Yes)
        return;
    AllParamWriting = true;
    for (const char* name : common)
        if (!Step(QString::fromLatin1(name)))
            return;
    if (FactoryMode)
        for (const char* name : factory)
            if (!Step(QString::fromLatin1(name)))
                return;
    AllParamWriting = false;
    ControlRefresh();
    Execute(QStringLiteral("actWriteToPZU"));
}

void TFormMain::WriteToPZU() {
    if (AllParamWriting)
        return;
    const QString hint = QStringLiteral("Сохранить параметры в ПЗУ");
    if (!RepeatCommand(UlmarCmd::WriteToPZU, hint, 5))
        ReportFailure(hint);
    QThread::msleep(2);
    ControlRefresh();
}

void TFormMain::SignatureRead() {
    TUlmar* u = Ulmar();
    const QString hint = QStringLiteral("Считать сигнатуру прибора");
    if (u) {
        // Shown from the parse, while the command still runs.
        u->On32 = [](TUlmar*, quint8 systemAddress, quint8 unitType, quint16 plantNumber,
                     quint8 hardVersion, quint8 softVersion) {
            const QString text =
                QStringLiteral("Системный адрес: ") + QString::number(systemAddress) + LineBreak +
                QStringLiteral("Заводской номер: ") + QString::number(plantNumber) + LineBreak +
                QStringLiteral("Аппаратная версия: ") + QString::number(hardVersion) + LineBreak +
                QStringLiteral("Программная версия: ") + QString::number(softVersion) + LineBreak +
                QStringLiteral("Тип прибора: ") + QString::number(unitType) +
                QStringLiteral(" (17 для УЛМАР-10, УЛМАР-20)");
            ShowMessageBox(QMessageBox::Information, QStringLiteral("Сигнатура прибора"), text);
        };
    }
    if (!RepeatCommand(UlmarCmd::SignatureRead, hint, 5)) {
        ReportFailure(hint); // the handler stays attached
        return;
    }
    if (u)
        u->On32 = nullptr;
    ControlRefresh();
}

bool TFormMain::RepeatZeroBlockRead(int attempts) {
    for (int i = 0; i < attempts; ++i)
        if (Link_ && Link_->RequestExecUlmar(UlmarCmd::ZeroBlockRead) == 0)
            return true;
    return false;
}

void TFormMain::ZeroRead() {
    const QStringList names = {QStringLiteral("actZeroRead"), QStringLiteral("actInitReadStart"),
                               QStringLiteral("actInitReadStop")};
    for (const QString& name : names)
        SetActionEnabled(Action(name), false);
    TUlmar* u = Ulmar();
    if (u)
        EditDevice([](TUlmar& device) { device.ClearZeroArray(); });
    const QString startHint = QStringLiteral("Инициализация чтения массива данных");
    const QString stopHint = QStringLiteral("Завершение чтения массива данных");
    if (!u || !RepeatCommand(UlmarCmd::InitReadStart, startHint, 5)) {
        ReportFailure(startHint);
    } else {
        QThread::msleep(1000);
        int count = 32;
        for (int n = 1; n <= count; ++n) {
            if (AppClosing)
                return; // no stop command, no refresh; the actions stay disabled
            ProgressShow(QStringLiteral("Чтение массива нулей"), n, count);
            EditDevice([n](TUlmar& device) { device.ZeroBlock = n; });
            const bool ok = RepeatZeroBlockRead(5);
            const QString lines = QStringLiteral("Не выполнена команда") + LineBreak + stopHint +
                                  LineBreak + QStringLiteral("Отсутствует ") + QString::number(n) +
                                  QStringLiteral("-й блок массива (один блок=8 байт=4 целых "
                                                 "числа)") +
                                  LineBreak;
            if (!ok && n == 1) {
                ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                               lines + QStringLiteral("Cчитывание массива прекращено!"),
                               QMessageBox::Ok, QMessageBox::Ok, this);
                break;
            }
            if (!ok) {
                const auto answer =
                    ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                                   lines + QStringLiteral("Прекратить считывание массива?"),
                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No, this);
                if (answer == QMessageBox::Yes)
                    break;
                continue;
            }
            if (n == 1) {
                // Entry 1 counts the values after the three header entries.
                const qint64 values = u->ZeroArray[0];
                const qint64 blocks = (values + 3 + 7) / 8;
                count = static_cast<int>(std::clamp<qint64>(blocks, 1, 32));
            }
        }
        if (!RepeatCommand(UlmarCmd::InitReadStop, stopHint, 5))
            ReportFailure(stopHint);
        ProgressClose();
        ControlRefresh();
    }
    for (const QString& name : names)
        SetActionEnabled(Action(name), true);
    // The zero array window shows the new array.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("FormZero"))
            if (auto* refresh = w->findChild<QAction*>(QStringLiteral("actZeroRefresh")))
                refresh->trigger();
}

void TFormMain::BootLoader() {
    const auto answer = ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                                       QStringLiteral("Перевести прибор в режим программирования?"),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No, this);
    if (answer != QMessageBox::Yes)
        return;
    const QString hint = Hint(Action(QStringLiteral("actBootLoader")));
    if (!RepeatCommand(UlmarCmd::BootLoader, hint, 5)) {
        ReportFailure(hint);
        return;
    }
    ControlRefresh();
    Execute(QStringLiteral("actClose"));
}
