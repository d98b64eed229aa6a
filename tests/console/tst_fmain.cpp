// The main window against the gauge simulator: start-up state, commands enabled by polling state
// and factory mode, the application-wide keys, the retry routine and its failure message, the
// write-all and zero array sequences as they appear on the line, and the shut-down question.

#include "EditNum.h"
#include "fInput.h"
#include "fMain.h"
#include "fPortSettings.h"
#include "fProgress.h"
#include "fReqAns.h"
#include "fSelectCMD.h"
#include "fUlmar.h"
#include "fUlmarPar.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/FakePortTree.h"
#include "uConsole.h"
#include "uUlmar.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QWindow>
#include <clocale>

namespace {

const QStringList StoppedOnlyMenus = {"Параметры", "Заводские", "Считать", "Записать", "Массив"};
const QStringList AlwaysMenus = {"Работа", "Показания", "График", "Окна", "Справка"};

QList<int> Repeat(int code, int n) {
    return QList<int>(n, code);
}

} // namespace

class TestFormMain : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;
    TCommandLineModes Modes; // the command line's /full and /kalist

    void Open(bool timerSavedEnabled = false) {
        Rig = std::make_unique<TConsoleRig>(timerSavedEnabled);
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), Modes);
        Rig->Sim->ClearRecords();
    }
    QAction* A(const char* name) const {
        QAction* a = Form->Action(QString::fromLatin1(name));
        if (!a)
            qFatal("no action %s", name);
        return a;
    }
    bool Enabled(const char* name) const { return TFormMain::ActionEnabled(A(name)); }
    bool MenuEnabled(const QString& title) const {
        return TFormMain::ActionEnabled(Form->Menu(title)->menuAction());
    }
    void PressInWindow(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QTest::keyClick(w->windowHandle(), key, modifiers);
    }
    // Answers the next number dialog with the typed text and remembers its bounds.
    void AnswerDouble(const QString& typed, double* maximum = nullptr) {
        Script->Push([typed, maximum](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputDouble*>(d);
            if (!dialog)
                return int(QDialog::Rejected);
            if (maximum)
                *maximum = dialog->enValue->Maximum();
            dialog->enValue->setText(typed);
            dialog->OKBtn->click();
            return dialog->result();
        });
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void init() {
        Modes.Factory = false;
        Modes.Kalist = false;
    }

    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Script.reset();
        OnProgressMove = nullptr;
        ProgressClose();
        Rig.reset();
    }

    void startUpState_data() {
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("kalist");
        QTest::addColumn<bool>("meterPolled");
        QTest::newRow("plain") << false << false << false;
        QTest::newRow("kalist without full") << false << true << false;
        QTest::newRow("full and kalist") << true << true << true;
    }
    void startUpState() {
        QFETCH(bool, full);
        QFETCH(bool, kalist);
        QFETCH(bool, meterPolled);
        Modes.Factory = full;
        Modes.Kalist = kalist;
        Open(true); // the saved timer state says "running"
        QCOMPARE(Form->objectName(), QStringLiteral("FormMain"));
        QCOMPARE(Form->windowTitle(), QStringLiteral("УЛМАР"));
        QVERIFY(!Rig->Link->Poller()->Timer()->IsRunning());
        QVERIFY(!Rig->Link->Poller()->Running());
        QVERIFY(Enabled("actOprosStart"));
        QVERIFY(!Enabled("actOprosStop"));
        QVERIFY(Form->Windows().Ulmar);
        QVERIFY(Form->Windows().UlmarPar);
        QVERIFY(Form->Windows().ReqAns);
        QVERIFY(Form->Windows().SelectCMD);
        QCOMPARE(Rig->Link->SelectedCommands.Codes(), (std::vector<int>{6}));
        QCOMPARE(Rig->Link->Poller()->DeviceList.at(1)->Enabled.load(), meterPolled);
        QCOMPARE(Rig->Link->DisplayRadix.load(), 16);
        QVERIFY(A("act16")->isChecked());
        QVERIFY(!A("act10")->isChecked());
        QVERIFY(Rig->Codes().isEmpty()); // start-up sends nothing
        A("act10")->trigger();
        QCOMPARE(Rig->Link->DisplayRadix.load(), 10);
        QVERIFY(!A("act16")->isChecked());
    }

    // Every action is reachable from a menu or the tool bar, except the mode Change actions and
    // the two texts, which other windows execute.
    void menusReachEveryAction() {
        Open();
        QStringList titles;
        for (QAction* a : Form->menuBar()->actions())
            titles << a->text();
        QCOMPARE(titles, (QStringList{"Работа", "Параметры", "Заводские", "Показания", "Считать",
                                      "Записать", "График", "Массив", "Окна", "Справка"}));
        // The about box under "Справка" is the same action as under "Окна".
        QCOMPARE(Form->Menu("Справка")->actions(), QList<QAction*>{A("actFormAboutShow")});
        QVERIFY(Form->Menu("Окна")->actions().contains(A("actFormAboutShow")));
        QSet<QString> reached;
        for (QMenu* menu : Form->Menus())
            for (QAction* a : menu->actions())
                if (!a->isSeparator() && !a->menu())
                    reached << a->objectName();
        for (const QString& name : Form->ToolBarLayout())
            if (name != QLatin1String("|")) {
                QVERIFY2(Form->Action(name), qPrintable(name));
                QVERIFY2(!Form->Action(name)->icon().isNull(), qPrintable(name));
                reached << name;
            }
        QSet<QString> unreached;
        for (QAction* a : Form->findChildren<QAction*>())
            if (a->objectName().startsWith(QLatin1String("act")) &&
                !reached.contains(a->objectName()))
                unreached << a->objectName();
        QCOMPARE(unreached,
                 (QSet<QString>{"actModeImageChange", "actModeCurrentOutputChange",
                                "actProgramTypeChange", "actModeInputFilterChange",
                                "actModeChannelChange", "actModeCalibrChange",
                                "actModeTermostatChange", "actPPMChange", "actNNZChange"}));
        const QList<QAction*> thermostat = Form->Menu("Режим работы термостата")->actions();
        QCOMPARE(thermostat.value(0)->objectName(), QStringLiteral("actModeTermostat1"));
        QVERIFY(thermostat.value(0)->isCheckable());
        QCOMPARE(A("actTypeSVCH3")->actionGroup()->actions().size(), 5);
        QCOMPARE(Form->Menu("Режим отображения")->menuAction()->statusTip(),
                 QStringLiteral("Изменить режим отображения"));
    }

    void captionsAndHints_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("hint");
        QTest::newRow("link window") << "actReqAnsShow"
                                     << "Связь"
                                     << "Открыть окно \"Связь\"";
        QTest::newRow("dec") << "act10"
                             << "Dec"
                             << "";
        QTest::newRow("port") << "actTransmitterChange"
                              << "СОМ-порт"
                              << "Изменить параметры СОМ-порта";
        QTest::newRow("kkk1 read: first") << "actKKK1Read"
                                          << "Считать первый коэффициент квадратичной калибровки"
                                          << "Считать первый коэффициент квадратичной калибровки";
        QTest::newRow("kkk2 read: second") << "actKKK2Read"
                                           << "Считать второй коэффициент квадратичной калибровки"
                                           << "Считать второй коэффициент квадратичной калибровки";
        QTest::newRow("kkk3 read") << "actKKK3Read"
                                   << "Считать третий коэффициент квадратичной калибровки"
                                   << "Считать третий коэффициент квадратичной калибровки";
        QTest::newRow("write differs") << "actKKalmanWrite"
                                       << "Записать Ку - коэффициент усреднения"
                                       << "Записать Ку - коэффициент усреднения в прибор";
        QTest::newRow("write all") << "actAllParamWrite"
                                   << "Записать все параметры "
                                   << "Записать все параметры в прибор";
        QTest::newRow("volume") << "actVolumeRead"
                                << "Считать V - текущий объем "
                                << "Считать V - текущий объем";
        QTest::newRow("radio") << "actModeCurrentOutput1"
                               << "4... 20 mA"
                               << "4... 20 mA - Режим работы токового выхода";
    }
    void captionsAndHints() {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QString, hint);
        Open();
        QAction* a = Form->Action(name);
        QVERIFY(a);
        QCOMPARE(a->text(), caption);
        QCOMPARE(TFormMain::Hint(a), hint);
    }

    void pollingDisablesParameterCommands() {
        Open();
        A("actOprosStart")->trigger();
        QVERIFY(Rig->Link->Poller()->Running());
        QVERIFY(!Enabled("actOprosStart"));
        QVERIFY(Enabled("actOprosStop"));
        for (const QString& title : StoppedOnlyMenus)
            QVERIFY2(!MenuEnabled(title), qPrintable(title));
        for (const QString& title : AlwaysMenus)
            QVERIFY2(MenuEnabled(title), qPrintable(title));
        for (const char* name :
             {"actDist1Read", "actDist1Change", "actAllParamWrite", "actWriteToPZU", "actZeroRead",
              "actModeImageChange", "actModeImage2", "actTaraEditor", "actFormZeroShow",
              "actBootLoader", "actUlmarSave", "actTransmitterChange", "actSignatureRead"})
            QVERIFY2(!Enabled(name), name);
        for (const char* name : {"actEcho", "actDistanceRead", "actLevelAllRead", "actSpeedRead",
                                 "actTypeSVCH0", "actUlmarShow", "actGraphLevel", "actClose"})
            QVERIFY2(Enabled(name), name);
        QVERIFY(!MenuEnabled("Режим отображения"));
        QVERIFY(MenuEnabled("Тип СВЧ модуля"));

        // Executing a disabled action does nothing: no dialog opens.
        A("actDist1Change")->trigger();
        QVERIFY(Script->DialogTitles.isEmpty());

        // The ticks poll the selected reading.
        QVERIFY(QTest::qWaitFor([&] { return Rig->Codes().count(6) >= 2; }, 5000));

        A("actOprosStop")->trigger();
        QVERIFY(!Rig->Link->Poller()->Running());
        // The edit commands come back only after the cycle in flight has ended.
        QVERIFY(!Rig->Link->CycleRunning());
        for (const QString& title : StoppedOnlyMenus)
            QVERIFY2(MenuEnabled(title), qPrintable(title));
        QVERIFY(Enabled("actDist1Change"));
        QVERIFY(Enabled("actOprosStart"));
        QVERIFY(!Enabled("actOprosStop"));
    }

    // The menus that follow the polling state and factory mode are the window's own: a changed
    // caption does not let them escape either.
    void stateMenusKeptWhenRenamed() {
        Open();
        QList<QMenu*> stoppedOnly;
        for (const QString& title : StoppedOnlyMenus)
            stoppedOnly << Form->Menu(title);
        QMenu* modeImage = Form->Menu("Режим отображения");
        QMenu* programType = Form->Menu("Тип программы");
        QVERIFY(!stoppedOnly.contains(nullptr) && modeImage && programType);
        for (QMenu* menu : Form->Menus())
            menu->setTitle(menu->title() + QStringLiteral(" (переименовано)"));
        A("actOprosStart")->trigger();
        for (QMenu* menu : stoppedOnly)
            QVERIFY2(!TFormMain::ActionEnabled(menu->menuAction()), qPrintable(menu->title()));
        QVERIFY(!TFormMain::ActionEnabled(modeImage->menuAction()));
        A("actOprosStop")->trigger();
        for (QMenu* menu : stoppedOnly)
            QVERIFY2(TFormMain::ActionEnabled(menu->menuAction()), qPrintable(menu->title()));
        QVERIFY(!programType->menuAction()->isVisible());
        PressInWindow(Form.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(programType->menuAction()->isVisible());
        QVERIFY(stoppedOnly[1]->menuAction()->isVisible()); // "Заводские"
    }

    void tickWithoutDeviceStopsPolling() {
        Open();
        Rig->Link->Poller()->DeviceList.at(0)->Enabled = false;
        A("actOprosStart")->trigger();
        QVERIFY(QTest::qWaitFor([&] { return Enabled("actOprosStart"); }, 3000));
        QVERIFY(!Rig->Link->Poller()->Running());
        QVERIFY(MenuEnabled("Считать"));
        QVERIFY(Script->Boxes.isEmpty());
    }

    void factoryModeKeys() {
        Open();
        QVERIFY(!Form->Menu("Заводские")->menuAction()->isVisible());
        QVERIFY(!Form->Menu("Массив")->menuAction()->isVisible());
        QVERIFY(!Form->Menu("Тип программы")->menuAction()->isVisible());
        QVERIFY(!A("actKrPerRead")->isVisible());
        QVERIFY(!A("actFormScanShow")->isVisible());
        QVERIFY(!Enabled("actPlantNumberChange"));
        QVERIFY(A("actDist1Read")->isVisible());

        PressInWindow(Form.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(Form->Context().FactoryMode);
        QVERIFY(Form->Menu("Заводские")->menuAction()->isVisible());
        QVERIFY(A("actKrPerRead")->isVisible());
        QVERIFY(A("actTemperCompareTermostatWrite")->isVisible());
        QVERIFY(Enabled("actPlantNumberChange"));

        // From another window of the program, with Shift held as well.
        PressInWindow(Form->Windows().Ulmar, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!Form->Context().FactoryMode);
        QVERIFY(!Form->Menu("Массив")->menuAction()->isVisible());
        QVERIFY(!A("actFreqRead")->isVisible());

        // The same key in the Russian layout.
        for (bool expected : {true, false}) {
            QTest::sendKeyEvent(QTest::Click, Form->Windows().Ulmar->windowHandle(),
                                Qt::Key(0x0410), QStringLiteral("А"), Qt::ControlModifier);
            QCOMPARE(Form->Context().FactoryMode, expected);
        }

        // F without Ctrl does nothing; F12 brings the main window back.
        PressInWindow(Form->Windows().Ulmar, Qt::Key_F, Qt::NoModifier);
        QVERIFY(!Form->Context().FactoryMode);
        Form->hide();
        PressInWindow(Form->Windows().Ulmar, Qt::Key_F12, Qt::NoModifier);
        QVERIFY(Form->isVisible());
    }

    void radioGroupsFollowParameters() {
        Open();
        A("actProgramType0")->trigger();
        QCOMPARE(Rig->Ulmar->ProgramType, quint8(0));
        QVERIFY(!Enabled("actTemperTermostatRead"));
        A("actProgramType1")->trigger();
        QCOMPARE(Rig->Ulmar->ProgramType, quint8(1));
        QVERIFY(Enabled("actTemperTermostatRead"));
        QVERIFY(A("actProgramType1")->isChecked());
        QVERIFY(!A("actProgramType0")->isChecked());

        Rig->Ulmar->ModeImage = 3;
        Rig->Ulmar->ModeCalibr = 1;
        Form->ControlRefresh();
        QVERIFY(A("actModeImage3")->isChecked());
        QVERIFY(A("actModeCalibr1")->isChecked());
        QVERIFY(!A("actModeCalibr0")->isChecked());
        Rig->Ulmar->ModeImage = 0; // as a gauge may report it
        Form->ControlRefresh();
        for (const char* name :
             {"actModeImage1", "actModeImage2", "actModeImage3", "actModeImage4"})
            QVERIFY2(!A(name)->isChecked(), name);
        QVERIFY(Rig->Codes().isEmpty()); // radio items send nothing
    }

    void writeAllSendsOneCommit_data() {
        QTest::addColumn<bool>("factory");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("factory off")
            << false << QList<int>{34, 35, 38, 39, 40, 41, 36, 48, 30, 20, 22, 14};
        QTest::newRow("factory on")
            << true << QList<int>{34, 35, 38, 39, 40, 41, 36, 48, 30, 20, 22, 24, 19, 25, 23,
                                  27, 26, 21, 32, 33, 42, 43, 44, 45, 46, 47, 31, 28, 14};
    }
    void writeAllSendsOneCommit() {
        QFETCH(bool, factory);
        QFETCH(QList<int>, codes);
        Modes.Factory = factory;
        Open();
        Script->PushButton(QMessageBox::Yes);
        A("actAllParamWrite")->trigger();
        QCOMPARE(Rig->Codes(), codes);
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text, QStringLiteral("Записать все параметры?"));
        QCOMPARE(Script->Boxes[0].Default, QMessageBox::No);
        QVERIFY(!Form->Context().AllParamWriting);
    }

    // What each command puts on the line when the gauge answers everything; question boxes are
    // answered Yes, input dialogs with OK and their initial value.
    void commandSequences_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("factory");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("read all") << "actAllParamRead" << false
                                  << QList<int>{8, 66, 67, 69, 70, 71, 72, 68, 79, 62, 50, 52, 54};
        QTest::newRow("read all, factory")
            << "actAllParamRead" << true
            << QList<int>{8,  66, 67, 69, 70, 71, 72, 68, 79, 62, 50, 52, 54, 49, 57,
                          53, 59, 58, 51, 64, 65, 73, 74, 75, 76, 77, 78, 63, 60};
        QTest::newRow("write commits") << "actDist2Write" << false << QList<int>{35, 14};
        QTest::newRow("set-point write") << "actRelay1Ust2Write" << false << QList<int>{39, 14};
        QTest::newRow("plant number") << "actPlantNumberWrite" << true << QList<int>{29, 14, 8};
        QTest::newRow("system address") << "actSystemAddressWrite" << false << QList<int>{9, 8};
        QTest::newRow("boot loader") << "actBootLoader" << false << QList<int>{10};
        QTest::newRow("echo") << "actEcho" << false << QList<int>{7};
        QTest::newRow("level") << "actLevelRead" << false << QList<int>{2};
        QTest::newRow("temperature") << "actTemperSVChModuleRead" << false << QList<int>{55};
    }
    void commandSequences() {
        QFETCH(QString, action);
        QFETCH(bool, factory);
        QFETCH(QList<int>, codes);
        Modes.Factory = factory;
        Open();
        // The address and boot commands name the gauge by its plant number.
        Rig->Sim->WithSim([this](TGaugeSim& sim) {
            Rig->Ulmar->PlantNumber = sim.Gauges[0].PlantNumber;
            Rig->Ulmar->SystemAddressNew = sim.Gauges[0].Address;
        });
        ModalHook = [](QDialog* d) {
            if (auto* box = qobject_cast<QMessageBox*>(d))
                return int(box->text() == QStringLiteral("Завершить работу?") ? QMessageBox::No
                           : box->standardButtons() & QMessageBox::Yes        ? QMessageBox::Yes
                                                                              : QMessageBox::Ok);
            if (auto* dialog = qobject_cast<TFormInputInteger*>(d))
                dialog->OKBtn->click();
            return d->result();
        };
        Form->Action(action)->trigger();
        QCOMPARE(Rig->Codes(), codes);
        QVERIFY(Form->isVisible() || !Form->Context().Closing);
    }

    void writeAllAnsweredNoSendsNothing() {
        Open();
        Script->PushButton(QMessageBox::No);
        A("actAllParamWrite")->trigger();
        QVERIFY(Rig->Codes().isEmpty());
    }

    // A write the gauge refuses ends write-all after its five attempts, and nothing is
    // committed: the ROM keeps its whole former set.
    void writeAllStopsAtARefusedWrite() {
        Open();
        Rig->Fault(TSimFault::ErrorAnswer, 5);
        Script->PushButton(QMessageBox::Yes);
        A("actAllParamWrite")->trigger();
        QCOMPARE(Rig->Codes(), Repeat(34, 5));
        QCOMPARE(Script->Boxes.size(), 3);
        QCOMPARE(Script->Boxes[1].Text,
                 QStringLiteral("Не выполнена команда\nЗаписать dist.1 - Неизмеряемый участок"));
        QCOMPARE(Script->Boxes[2].Icon, QMessageBox::Warning);
        QVERIFY(Script->Boxes[2].Text.endsWith(QStringLiteral("Сохранение в ПЗУ не выполнено.")));
        QVERIFY(!Form->Context().AllParamWriting);
    }

    void readRetriesBehindProgress() {
        Open();
        QList<int> percents;
        QStringList captions;
        OnProgressMove = [&](const QString& caption, int percent) {
            percents << percent;
            captions << caption;
        };
        Rig->Fault(TSimFault::Silence, 4);
        A("actDist1Read")->trigger();
        QCOMPARE(percents, (QList<int>{20, 40, 60, 80, 100}));
        QCOMPARE(captions.first(),
                 QStringLiteral("Повтор команды Считать dist.1 - Неизмеряемый участок 20%"));
        QVERIFY(Script->Boxes.isEmpty());
        QCOMPARE(Rig->Codes(), Repeat(66, 5));
        QVERIFY(!ProgressWindow());
    }

    void failedWriteReportsItsHint_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("commits");
        QTest::newRow("Ку") << "actKKalmanWrite"
                            << "Записать Ку - коэффициент усреднения в прибор" << 36 << false;
        QTest::newRow("relay 2 set-point 1")
            << "actRelay2Ust1Write"
            << "Изменить значение: Реле 2 - Уставка 1" << 40 << false;
        QTest::newRow("dist.1 commits anyway")
            << "actDist1Write"
            << "Записать dist.1 - Неизмеряемый участок" << 34 << true;
        QTest::newRow("kkk1 read names the first")
            << "actKKK1Read"
            << "Считать первый коэффициент квадратичной калибровки" << 76 << false;
    }
    void failedWriteReportsItsHint() {
        QFETCH(QString, action);
        QFETCH(QString, hint);
        QFETCH(int, code);
        QFETCH(bool, commits);
        Modes.Factory = true;
        Open();
        Rig->Fault(TSimFault::ErrorAnswer, 5, 1);
        Form->Action(action)->trigger();
        QList<int> expected = Repeat(code, 5);
        if (commits)
            expected << 14;
        QCOMPARE(Rig->Codes(), expected);
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Внимание"));
        QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Warning);
        QCOMPARE(Script->Boxes[0].Text, QStringLiteral("Не выполнена команда\n") + hint);
    }

    void zeroArrayReadsReportedBlocks() {
        Modes.Factory = true;
        Open();
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillZeroArray(13); });
        A("actZeroRead")->trigger();
        QCOMPARE(Rig->Codes(), (QList<int>{11, 13, 13, 12}));
        const QList<QByteArray> requests = Rig->Requests();
        QCOMPARE(quint8(requests[1][3]), quint8(0)); // block 1: entries 1 to 8
        QCOMPARE(quint8(requests[2][3]), quint8(8)); // block 2: entries 9 to 16
        QCOMPARE(Rig->Ulmar->ZeroArray[0], 13);
        QVERIFY(Script->Boxes.isEmpty());
        for (const char* name : {"actZeroRead", "actInitReadStart", "actInitReadStop"})
            QVERIFY2(Enabled(name), name);
        QVERIFY(!ProgressWindow());
    }

    void zeroArrayMissingFirstBlock() {
        Modes.Factory = true;
        Open();
        // Block 1 stays unanswered: the gauge falls silent once the block reads begin.
        bool faulted = false;
        OnProgressMove = [this, &faulted](const QString& caption, int) {
            if (!faulted && caption.startsWith(QStringLiteral("Чтение массива нулей"))) {
                faulted = true;
                Rig->Fault(TSimFault::Silence, 5);
            }
        };
        A("actZeroRead")->trigger();
        QList<int> expected{11};
        expected << Repeat(13, 5) << 12;
        QCOMPARE(Rig->Codes(), expected);
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text,
                 QStringLiteral("Не выполнена команда\nЗавершение чтения массива данных\n"
                                "Отсутствует 1-й блок массива (один блок=8 байт=4 целых числа)\n"
                                "Считывание массива прекращено!"));
    }

    void changeDialogsUseCurrentBounds() {
        Open();
        AnswerDouble("8000");
        A("actDist2Change")->trigger();
        QCOMPARE(Rig->Ulmar->Dist2(), 8000.0);
        double maximum = 0;
        AnswerDouble("9000", &maximum);
        A("actRelay1Ust1")->trigger();
        QCOMPARE(maximum, 8000.0);
        QCOMPARE(Rig->Ulmar->Relay1Ust1, 8000.0);

        Rig->Ulmar->TemperCompareTermostat = -10;
        int shown = 0;
        Script->Push([&shown](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            shown = dialog->seValue->value();
            dialog->seValue->findChild<QLineEdit*>()->setText("-40");
            dialog->OKBtn->click();
            return dialog->result();
        });
        Form->Context().FactoryMode = true;
        Form->FactoryModeRefresh();
        A("actTemperCompareTermostatChange")->trigger();
        QCOMPARE(shown, -10);
        QCOMPARE(Rig->Ulmar->TemperCompareTermostat, qint8(-40));

        A("actKKalmanChange")->trigger(); // cancelled: the value stays
        QCOMPARE(Rig->Ulmar->KKalman(), 1.0);
        QCOMPARE(Script->DialogTitles, (QStringList(4, QStringLiteral("Введите"))));
        QVERIFY(Rig->Codes().isEmpty());
    }

    // Typed on a Russian desktop, keystroke by keystroke, and written: the gauge holds what was
    // typed (the C library's decimal comma once turned 12000 into 1,2).
    void typedNumbersReachTheGauge() {
        const QByteArray saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"))
            QSKIP("the locale ru_RU.UTF-8 is not installed (test.sh makes it)");
        Open();
        const auto type = [this](const QString& typed) {
            Script->Push([typed](QDialog* d) {
                auto* dialog = qobject_cast<TFormInputDouble*>(d);
                if (!dialog)
                    return int(QDialog::Rejected);
                dialog->enValue->selectAll();
                QTest::keyClicks(dialog->enValue, typed);
                QTest::keyClick(dialog->enValue, Qt::Key_Return);
                return dialog->result();
            });
        };
        type("12000");
        A("actDist2Change")->trigger();
        A("actDist2Write")->trigger();
        type("1500,5");
        A("actDist1Change")->trigger();
        A("actDist1Write")->trigger();
        double dist1 = 0, dist2 = 0;
        Rig->Sim->WithSim([&](TGaugeSim& sim) {
            dist1 = sim.Gauges.front().Floats[TSimGauge::Dist1];
            dist2 = sim.Gauges.front().Floats[TSimGauge::Dist2];
        });
        if (qEnvironmentVariableIsSet("ULMAR_SHOTS_DIR")) {
            ShowFormUlmarPar(Form->Windows().UlmarPar, Rig->Ulmar.get(), &Form->Context());
            Form->show();
            QCoreApplication::sendPostedEvents();
            Form->grab().save(qEnvironmentVariable("ULMAR_SHOTS_DIR") + "/main_ru.png");
            Form->Windows().UlmarPar->grab().save(qEnvironmentVariable("ULMAR_SHOTS_DIR") +
                                                  "/params_ru.png");
        }
        std::setlocale(LC_NUMERIC, saved.constData());
        QCOMPARE(dist2, 12000.0);
        QCOMPARE(dist1, 1500.5);
        QVERIFY(Script->Boxes.isEmpty());
    }

    void systemAddressWriteCancelled() {
        Open();
        A("actSystemAddressWrite")->trigger(); // the first dialog is cancelled
        QCOMPARE(Script->DialogTitles.size(), 1);
        QVERIFY(Script->Boxes.isEmpty());
        QVERIFY(Rig->Codes().isEmpty());
    }

    void signatureShowsBox() {
        Open();
        A("actSignatureRead")->trigger();
        QCOMPARE(Rig->Codes(), (QList<int>{8}));
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Сигнатура прибора"));
        const QStringList lines = Script->Boxes[0].Text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("Системный адрес: 1"));
        QVERIFY(lines[1].startsWith(QStringLiteral("Заводской номер: ")));
        QCOMPARE(lines[4], QStringLiteral("Тип прибора: 17 (17 для УЛМАР-10, УЛМАР-20)"));
        QVERIFY(!Rig->Ulmar->On32);
    }

    void pollingPeriodDialog_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("interval");
        QTest::newRow("below the range") << "50" << true << 100;
        QTest::newRow("inside") << "750" << true << 750;
        QTest::newRow("cancelled") << "750" << false << 100; // the rig's saved interval
    }
    void pollingPeriodDialog() {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(int, interval);
        Open();
        QString prompt;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormInputInteger*>(d);
            prompt = dialog->lblCaption->text();
            dialog->seValue->findChild<QLineEdit*>()->setText(typed);
            (ok ? dialog->OKBtn : dialog->CancelBtn)->click();
            return dialog->result();
        });
        A("actTimerParametersChange")->trigger();
        QCOMPARE(prompt, QStringLiteral("Период опроса, мс [100, 60000]"));
        QCOMPARE(Rig->Link->Poller()->Interval(), interval);
        TIniFile saved(Rig->Link->Poller()->Timer()->SettingsPath());
        QCOMPARE(saved.ReadInteger("ctReqDevices", "Interval", -1), qint64(interval));
    }

    // Each choice of the port settings dialog carries its own caption.
    void portSettingsCaptions() {
        TFormPortSettings dialog{TTransmitterSettings()};
        auto* form = dialog.findChild<QFormLayout*>();
        QVERIFY(form);
        const std::pair<QWidget*, QString> rows[] = {
            {dialog.cmbPort, "Порт:"},
            {dialog.cmbBaudRate, "Скорость:"},
            {dialog.cmbDataBits, "Кол-во бит данных:"},
            {dialog.cmbStopBits, "Стоп бит:"},
            {dialog.cmbParity, "Бит четности:"},
            {dialog.cmbFlowControl, "Управление потоком:"}};
        for (const auto& [field, caption] : rows) {
            auto* label = qobject_cast<QLabel*>(form->labelForField(field));
            QVERIFY2(label, qPrintable(caption));
            QCOMPARE(label->text(), caption);
        }
    }

    // The port list shows the adapter beside the device and marks a port that cannot be used;
    // the saved name stays as saved, a chosen adapter comes by its by-id name, a typed path is
    // taken as typed. With ULMAR_SHOTS naming a folder, the dialog is saved there as
    // port_dialog.png.
    void portDialogListsAdapters() {
        const QString ftdi = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        TSimServer sim(std::make_unique<TGaugeSim>(1));
        QVERIFY(sim.Start());
        TFakePortTree tree;
        QVERIFY(tree.Device("ttyUSB0", sim.SlavePath()) && tree.Link(ftdi, "ttyUSB0"));
        QVERIFY(tree.Link("usb-Prolific_PL2303_77-if00-port0", "ttyUSB1"));
        TTransmitterSettings settings;
        settings.Port = tree.Dev("ttyUSB0");
        TFormPortSettings dialog(settings, nullptr, tree.Roots());
        QCOMPARE(dialog.cmbPort->count(), 2);
        QCOMPARE(dialog.cmbPort->itemText(0),
                 tree.Dev("ttyUSB0") + QStringLiteral(" — FTDI FT232R USB UART (A50285BI)"));
        QCOMPARE(dialog.cmbPort->itemText(1), tree.Dev("ttyUSB1") +
                                                  QStringLiteral(" — Prolific PL2303 (77)") +
                                                  QStringLiteral(" [нет устройства]"));
        QVERIFY(dialog.cmbPort->itemData(1, Qt::ToolTipRole)
                    .toString()
                    .contains(QStringLiteral("Нет такого устройства")));
        QCOMPARE(dialog.cmbPort->currentText(), tree.Dev("ttyUSB0"));
        QCOMPARE(dialog.lblPortState->text(), QStringLiteral("FTDI FT232R USB UART (A50285BI), ") +
                                                  tree.Dev("ttyUSB0") +
                                                  QStringLiteral(" — свободен"));
        QCOMPARE(dialog.Settings().Port, tree.Dev("ttyUSB0"));
        if (const QString dir = qEnvironmentVariable("ULMAR_SHOTS"); !dir.isEmpty()) {
            dialog.cmbPort->setEditText(tree.ById(ftdi));
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QVERIFY(QDir().mkpath(dir));
            QVERIFY(dialog.grab().save(QDir(dir).filePath(QStringLiteral("port_dialog.png"))));
        }

        dialog.cmbPort->setCurrentIndex(1);
        QCOMPARE(dialog.cmbPort->currentText(), tree.ById("usb-Prolific_PL2303_77-if00-port0"));
        QVERIFY(dialog.lblPortState->text().endsWith(
            QStringLiteral("нет устройства: Нет такого устройства")));
        dialog.cmbPort->setCurrentIndex(0);
        QCOMPARE(dialog.cmbPort->currentText(), tree.ById(ftdi));
        QCOMPARE(dialog.Settings().Port, tree.ById(ftdi));
        dialog.cmbPort->setEditText(QStringLiteral("/dev/ttyUSB9"));
        QCOMPARE(dialog.Settings().Port, QStringLiteral("/dev/ttyUSB9"));
        QVERIFY(dialog.lblPortState->text().isEmpty());
    }

    // Through the port settings command: the adapter chosen in the list is saved by its by-id
    // name, and the port opened through it carries commands.
    void portChosenByIdSaved() {
        Open();
        const QString ftdi = QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        TFakePortTree tree;
        QVERIFY(tree.Device("ttyUSB0", Rig->Sim->PortName()) && tree.Link(ftdi, "ttyUSB0"));
        qputenv("ULMAR_PORT_ROOTS", tree.Env().toLocal8Bit());
        QString listed;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            listed = dialog->cmbPort->itemText(0);
            dialog->cmbPort->setCurrentIndex(-1);
            dialog->cmbPort->setCurrentIndex(0);
            dialog->OKBtn->click();
            return dialog->result();
        });
        A("actTransmitterChange")->trigger();
        qunsetenv("ULMAR_PORT_ROOTS");
        QCOMPARE(listed,
                 tree.Dev("ttyUSB0") + QStringLiteral(" — FTDI FT232R USB UART (A50285BI)"));
        TTransmitter* transmitter = Rig->Link->Transmitter();
        QCOMPARE(transmitter->Settings().Port, tree.ById(ftdi));
        QCOMPARE(TIniFile(transmitter->SettingsFile()).ReadString("Transmitter", "Port", {}),
                 tree.ById(ftdi));
        QVERIFY(transmitter->IsOpen());
        A("actSignatureRead")->trigger();
        QCOMPARE(Rig->Codes(), (QList<int>{8}));
    }

    // The port settings command closes the port, shows the dialog, saves and reopens the port.
    void portSettingsSavedAndReopened() {
        Open();
        const QString port = Rig->Sim->PortName();
        bool endByLengthShown = true;
        Script->Push([&](QDialog* d) {
            auto* dialog = qobject_cast<TFormPortSettings*>(d);
            dialog->cmbPort->setEditText(QStringLiteral("  ") + port); // a typed name
            dialog->cmbBaudRate->setCurrentText(QStringLiteral("19200"));
            dialog->cmbParity->setCurrentText(QStringLiteral("Even"));
            endByLengthShown = dialog->chkEndByLength->isChecked();
            dialog->chkEndByLength->setChecked(true);
            dialog->OKBtn->click();
            return dialog->result();
        });
        A("actTransmitterChange")->trigger();
        TTransmitter* transmitter = Rig->Link->Transmitter();
        QVERIFY(transmitter->IsOpen());
        QCOMPARE(transmitter->Settings().Port, port);
        TIniFile saved(transmitter->SettingsFile());
        QCOMPARE(saved.ReadString("Transmitter", "BaudRate", {}), QStringLiteral("19200"));
        QCOMPARE(saved.ReadString("Transmitter", "Parity", {}), QStringLiteral("Even"));
        QVERIFY(!endByLengthShown); // off unless chosen
        QCOMPARE(saved.ReadInteger("Transmitter", "EndByLength", -1), 1);
        QVERIFY(transmitter->Settings().EndByLength);
        QVERIFY(Rig->Messages.isEmpty());
        A("actSignatureRead")->trigger(); // the reopened port carries commands
        QCOMPARE(Rig->Codes(), (QList<int>{8}));

        // Cancelled: the settings are saved as they were and the port reopened all the same.
        A("actTransmitterChange")->trigger();
        QVERIFY(transmitter->IsOpen());
        QCOMPARE(TIniFile(transmitter->SettingsFile()).ReadString("Transmitter", "BaudRate", {}),
                 QStringLiteral("19200"));
    }

    void shutDownQuestion() {
        Open();
        Form->show();
        Script->PushButton(QMessageBox::No);
        QVERIFY(!Form->close());
        QVERIFY(Form->isVisible());
        QVERIFY(!Form->Context().Closing);
        QCOMPARE(Script->Boxes.last().Text, QStringLiteral("Завершить работу?"));
        QCOMPARE(Script->Boxes.last().Default, QMessageBox::No);
        QVERIFY(Form->Windows().Ulmar);

        Script->PushButton(QMessageBox::Yes);
        QTest::keyClick(Form.get(), Qt::Key_Escape);
        QVERIFY(!Form->isVisible());
        QVERIFY(Form->Context().Closing);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!Form->Windows().Ulmar);
        QVERIFY(!Form->Windows().UlmarPar);
        QVERIFY(!Form->Windows().ReqAns);
        QVERIFY(!Form->Windows().SelectCMD);
    }
};

QTEST_MAIN(TestFormMain)
#include "tst_fmain.moc"
