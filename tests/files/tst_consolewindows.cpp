// The link window (counts, percentages, radix, port group, exchanges from the request thread)
// and the command selection window (codes of "Выделить все", factory rows, the /kalist start).

#include "Ulmar.h"
#include "fReqAns.h"
#include "fSelectCMD.h"
#include "tests/support/FakePort.h"
#include "tests/support/TestDirs.h"
#include "uParamStr.h"
#include "uRequestDevices.h"
#include "uWindowContext.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QTest>
#include <chrono>
#include <deque>
#include <future>
#include <mutex>

namespace {

// A serial port that answers each read with the next scripted answer (none: silence).

const QByteArray SomeAnswer("\x01\x01\x02\x03\x04", 5);

std::vector<int> Codes(std::initializer_list<int> codes) {
    return std::vector<int>(codes);
}

} // namespace

class TestConsoleWindows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noAnswer_data();
    void noAnswer();
    void otherRadixKeepsTexts();
    void countsAndPercentages();
    void statClear();
    void portGroupParity();
    void closedWindowCountsNothing();
    void exchangesFromRequestThread();
    void previousListenerKept();
    void closeForgetsWindowAtOnce();
    void commandShownAtOnce();
    void commandAfterPollKeepsOrder();

    void creationSelectsLevelAll();
    void reopenShowsSelection_data();
    void reopenShowsSelection();
    void selectAll_data();
    void selectAll();
    void unselectAllWithoutFactory();
    void kalistStart_data();
    void kalistStart();
    void programTypeRefresh();
    void factoryOffKeepsCode();

private:
    TFormReqAns* ShowLink();
    TFormSelectCMD* ShowSelect();
    TFormSelectCMD* StartSelect();
    // The start-up's selection: applied to the selection window when there is one.
    void SelectCmdInit();

    // The windows as the main window keeps them, and the context it hands them.
    TWindowSlot<TFormReqAns> FormReqAns;
    TWindowSlot<TFormSelectCMD> FormSelectCMD;
    TWindowContext* Context = nullptr;
    TTestDirs* Dirs = nullptr;
    TUlmar* Ulmar = nullptr;
    TFakePort* Port = nullptr;
    TDeviceLink* Link = nullptr;
};

void TestConsoleWindows::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestConsoleWindows::init() {
    Dirs = new TTestDirs;
    Ulmar = new TUlmar;
    Ulmar->Name = QStringLiteral("Ulmar");
    Ulmar->SystemAddress = 1;
    auto port = std::make_unique<TFakePort>();
    Port = port.get();
    Link = new TDeviceLink(Ulmar, std::move(port));
    Context = new TWindowContext(Link);
}

void TestConsoleWindows::cleanup() {
    delete FormReqAns;
    delete FormSelectCMD;
    QVERIFY(!FormReqAns && !FormSelectCMD);
    delete Context;
    delete Link;
    delete Ulmar;
    delete Dirs;
    QCoreApplication::processEvents();
}

TFormReqAns* TestConsoleWindows::ShowLink() {
    TFormReqAns* form = ShowFormReqAns(FormReqAns, nullptr, Link, Context);
    return form;
}

TFormSelectCMD* TestConsoleWindows::ShowSelect() {
    TFormSelectCMD* form = ShowFormSelectCMD(FormSelectCMD, nullptr, Context);
    form->Refresh();
    return form;
}

void TestConsoleWindows::SelectCmdInit() {
    if (FormSelectCMD)
        FormSelectCMD->SelectCmdInit();
}

// The selection window as the program's start-up leaves it: created, then SelectCmdInit.
TFormSelectCMD* TestConsoleWindows::StartSelect() {
    TFormSelectCMD* form = ShowSelect();
    SelectCmdInit();
    return form;
}

void TestConsoleWindows::noAnswer_data() {
    QTest::addColumn<int>("radix");
    QTest::addColumn<QString>("request");
    QTest::newRow("hex") << 16 << "01 01 02 02 D0 B9";
    QTest::newRow("decimal, unpadded") << 10 << "1 1 2 2 208 185";
}

void TestConsoleWindows::noAnswer() {
    QFETCH(int, radix);
    QFETCH(QString, request);
    TFormReqAns* form = ShowLink();
    QCOMPARE(form->objectName(), QStringLiteral("FormReqAns"));
    QCOMPARE(form->windowTitle(), QStringLiteral("Связь"));
    QCOMPARE(form->lblReqPercent->text(), QStringLiteral("0,0"));
    Link->DisplayRadix = radix;
    QCOMPARE(Link->RequestExecUlmar(UlmarCmd::LevelRead), -1);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("1"));
    QCOMPARE(form->stxReq->text(), request);
    QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа"));
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("0"));
    QCOMPARE(form->lblReqPercent->text(), QStringLiteral("100,0"));
    QCOMPARE(form->lblAnsPercent->text(), QStringLiteral("0,0"));
}

void TestConsoleWindows::otherRadixKeepsTexts() {
    TFormReqAns* form = ShowLink();
    Port->Script({SomeAnswer});
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->stxAns->text(), QStringLiteral("01 01 02 03 04"));
    Link->DisplayRadix = 8;
    Link->RequestExecKalist();
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("2"));
    QCOMPARE(form->stxReq->text(), QStringLiteral("01 01 02 02 D0 B9"));
    QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа")); // no answer at any radix
}

void TestConsoleWindows::countsAndPercentages() {
    TFormReqAns* form = ShowLink();
    Port->Script({SomeAnswer, QByteArray(), SomeAnswer, SomeAnswer});
    for (int i = 0; i < 4; ++i)
        Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("4"));
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("3"));
    QCOMPARE(form->lblReqPercent->text(), QStringLiteral("100,0"));
    QCOMPARE(form->lblAnsPercent->text(), QStringLiteral("75,0"));
    QCOMPARE(form->stxAns->text(), QStringLiteral("01 01 02 03 04"));

    Port->Script({SomeAnswer, SomeAnswer});
    for (int i = 0; i < 3; ++i)
        Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("7"));
    QCOMPARE(form->lblAnsPercent->text(), QStringLiteral("71,4"));
}

void TestConsoleWindows::statClear() {
    TFormReqAns* form = ShowLink();
    Port->Script({SomeAnswer});
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblAnsCount->text(), QStringLiteral("1"));
    QCOMPARE(form->actStatClear->text(), QStringLiteral("Сброс"));
    QCOMPARE(form->actStatClear->toolTip(), QStringLiteral("Сброс статистики"));
    form->actStatClear->trigger();
    QCOMPARE(Link->Publisher()->Statistics.Requests, qint64(0));
    QCOMPARE(Link->Publisher()->Statistics.Answers, qint64(0));
    QCOMPARE(form->lblReqCount->text(), QStringLiteral("0"));
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("0"));
    QCOMPARE(form->lblReqPercent->text(), QStringLiteral("0,0"));
    QCOMPARE(form->lblAnsPercent->text(), QStringLiteral("0,0"));
    QVERIFY(form->stxReq->text().isEmpty());
    QVERIFY(form->stxAns->text().isEmpty());
}

void TestConsoleWindows::portGroupParity() {
    TFormReqAns* form = ShowLink();
    const TTransmitterSettings& s = Link->Transmitter()->Settings();
    QCOMPARE(form->lblComPort1->text(), s.Port);
    QCOMPARE(form->lblBoudRate1->text(), QStringLiteral("9600"));
    QCOMPARE(form->lblDataBits1->text(), QStringLiteral("8"));
    QCOMPARE(form->lblStopBits1->text(), QStringLiteral("1"));
    QCOMPARE(form->lblParity1->text(), QStringLiteral("None"));
    QCOMPARE(form->lblFlowControl1->text(), QStringLiteral("None"));
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblParity1->text(), QStringLiteral("Space"));
    Link->RequestExecKalist();
    QTRY_COMPARE(form->lblParity1->text(), QStringLiteral("None"));
}

void TestConsoleWindows::closedWindowCountsNothing() {
    TFormReqAns* form = ShowLink();
    Port->Script({SomeAnswer});
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("1"));
    form->close();
    QTRY_VERIFY(FormReqAns == nullptr);
    QFile positions(Dirs->Work() + "/INI/WndPos.ini");
    QVERIFY(positions.open(QIODevice::ReadOnly));
    QVERIFY(positions.readAll().contains("[FormReqAns]"));

    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QCoreApplication::processEvents();
    form = ShowLink();
    QCOMPARE(form->lblReqCount->text(), QStringLiteral("1"));
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("1"));
    QVERIFY(form->stxReq->text().isEmpty());
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("2"));
}

void TestConsoleWindows::exchangesFromRequestThread() {
    TFormReqAns* form = ShowLink();
    Link->SelectedCommands.Include(UlmarCmd::DistanceRead);
    Link->SelectedCommands.Include(UlmarCmd::LevelRead);
    Port->Script({SomeAnswer}); // code 1 answered, code 2 silent
    Link->ResumeRequestThread();
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("2"));
    QTRY_VERIFY(!Link->CycleRunning());
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("1"));
    QCOMPARE(form->lblAnsPercent->text(), QStringLiteral("50,0"));
    // Handled in the order of the exchanges: the last one shown is the silent level read.
    QCOMPARE(form->stxReq->text(), QStringLiteral("01 01 02 02 D0 B9"));
    QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа"));
    form->Refresh();
    QCOMPARE(form->lblParity1->text(), QStringLiteral("Space"));
}

void TestConsoleWindows::previousListenerKept() {
    int seen = 0;
    Link->Transmitter()->OnExchange = [&seen](TTransmitter*, const QByteArray&, bool,
                                              const QByteArray&) { ++seen; };
    TFormReqAns* form = ShowLink();
    form->close();
    QTRY_VERIFY(FormReqAns == nullptr);
    form = ShowLink(); // a second window does not chain a second relay
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QTRY_COMPARE(form->lblReqCount->text(), QStringLiteral("1"));
    QCoreApplication::processEvents();
    QCOMPARE(Link->Publisher()->Statistics.Requests, qint64(1));
    QCOMPARE(seen, 1);
}

// Closing empties the window's reference at once, before the deferred deletion: an exchange
// handled in between is not counted and the next Show builds a new window.
void TestConsoleWindows::closeForgetsWindowAtOnce() {
    QPointer<TFormReqAns> link = ShowLink();
    QPointer<TFormSelectCMD> select = ShowSelect();
    link->close();
    select->close();
    QVERIFY(FormReqAns == nullptr);
    QVERIFY(FormSelectCMD == nullptr);
    Port->Script({SomeAnswer});
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QCoreApplication::processEvents();
    QCOMPARE(Link->Publisher()->Statistics.Requests, qint64(0));
    TFormReqAns* again = ShowLink();
    QVERIFY(again != nullptr && again == FormReqAns);
    QVERIFY(ShowSelect() == FormSelectCMD);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(link.isNull() && select.isNull());
    QVERIFY(FormReqAns == again);
    QCOMPARE(again->lblReqCount->text(), QStringLiteral("0"));
}

// A command on the user-interface thread shows its exchange as soon as it returns, before the
// event loop runs, and is counted once.
void TestConsoleWindows::commandShownAtOnce() {
    TFormReqAns* form = ShowLink();
    Port->Script({SomeAnswer});
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    QCOMPARE(form->stxReq->text(), QStringLiteral("01 01 02 02 D0 B9"));
    QCOMPARE(form->stxAns->text(), QStringLiteral("01 01 02 03 04"));
    QCOMPARE(form->lblAnsCount->text(), QStringLiteral("1"));
    Link->RequestExecKalist();
    QCOMPARE(form->lblReqCount->text(), QStringLiteral("2"));
    QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа"));
    QCoreApplication::processEvents();
    QCOMPARE(Link->Publisher()->Statistics.Requests, qint64(2));
    QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа"));
}

// A poll exchange still waiting for the event loop is handled before the command that follows
// it on the line, so the window ends on the command's exchange and counts each once.
void TestConsoleWindows::commandAfterPollKeepsOrder() {
    auto polled = std::make_shared<std::promise<void>>();
    auto seen = std::make_shared<std::atomic<int>>(0);
    Link->Transmitter()->OnExchange = [polled, seen](TTransmitter*, const QByteArray&, bool,
                                                     const QByteArray&) {
        if ((*seen)++ == 0)
            polled->set_value();
    };
    TFormReqAns* form = ShowLink();
    Link->SelectedCommands.Include(UlmarCmd::DistanceRead);
    Port->Script({SomeAnswer}); // the poll's distance read answered, the command silent
    Link->ResumeRequestThread();
    QVERIFY(polled->get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready);
    Link->RequestExecUlmar(UlmarCmd::LevelRead);
    const auto shown = [form] {
        QCOMPARE(form->lblReqCount->text(), QStringLiteral("2"));
        QCOMPARE(form->lblAnsCount->text(), QStringLiteral("1"));
        QCOMPARE(form->stxReq->text(), QStringLiteral("01 01 02 02 D0 B9"));
        QCOMPARE(form->stxAns->text(), QStringLiteral("Нет ответа"));
    };
    shown();
    if (QTest::currentTestFailed())
        return;
    QTRY_VERIFY(!Link->CycleRunning());
    QCoreApplication::processEvents();
    shown();
    QCOMPARE(seen->load(), 2);
}

void TestConsoleWindows::creationSelectsLevelAll() {
    TFormSelectCMD* form = StartSelect();
    QCOMPARE(form->objectName(), QStringLiteral("FormSelectCMD"));
    QCOMPARE(form->windowTitle(), QStringLiteral("Команды УЛМАР"));
    QCOMPARE(form->chbLevelAll->text(), QStringLiteral("Lт, Lc, Ну,  V, Реле"));
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6}));
    QVERIFY(!Link->Poller()->DeviceList[1]->Enabled);
    QVERIFY(form->chbFreq->isHidden());
    QVERIFY(form->chbCurrentOutput->isHidden());
    QVERIFY(!form->chbTempTermostat->isEnabled());

    // Closed and created again: the selection stays and the boxes show it.
    form->chbEcho->setChecked(true);
    form->close();
    QTRY_VERIFY(FormSelectCMD == nullptr);
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6, 7}));
    form = ShowSelect();
    QVERIFY(form->chbEcho->isChecked());
    QVERIFY(form->chbLevelAll->isChecked());
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6, 7}));
}

// A window created again shows what the link polls and changes none of it: codes chosen in an
// earlier window or elsewhere, hidden factory rows, the КАЛИСТ-1, and an empty selection.
void TestConsoleWindows::reopenShowsSelection_data() {
    QTest::addColumn<bool>("factory");
    QTest::addColumn<int>("type");
    QTest::addColumn<std::vector<int>>("codes");
    QTest::addColumn<bool>("polled");
    QTest::newRow("nothing selected") << false << 0 << Codes({}) << false;
    QTest::newRow("without code 6") << false << 0 << Codes({1, 7, 55}) << false;
    QTest::newRow("hidden factory codes") << false << 0 << Codes({0, 5, 6}) << false;
    QTest::newRow("meter, thermostat") << true << 1 << Codes({2, 56}) << true;
}

void TestConsoleWindows::reopenShowsSelection() {
    QFETCH(bool, factory);
    QFETCH(int, type);
    QFETCH(std::vector<int>, codes);
    QFETCH(bool, polled);
    Context->FactoryMode = factory;
    Ulmar->ProgramType = quint8(type);
    StartSelect()->close();
    QTRY_VERIFY(FormSelectCMD == nullptr);
    Link->SelectedCommands.Clear();
    for (int code : codes)
        Link->SelectedCommands.Include(code);
    Link->Poller()->DeviceList[1]->Enabled = polled;

    TFormSelectCMD* form = ShowSelect();
    const std::pair<QCheckBox*, int> boxes[] = {
        {form->chbFreq, 0},          {form->chbDistance, 1}, {form->chbLevel, 2},
        {form->chbLevelFree, 3},     {form->chbVolume, 4},   {form->chbFreqOpCh, 5},
        {form->chbLevelAll, 6},      {form->chbEcho, 7},     {form->chbTempSVCH, 55},
        {form->chbTempTermostat, 56}};
    for (const auto& [box, code] : boxes)
        QVERIFY2(box->isChecked() == Link->SelectedCommands.Contains(code),
                 qPrintable(box->text()));
    QCOMPARE(form->chbCurrentOutput->isChecked(), polled);
    QVERIFY(!form->chbSelectAll->isChecked());
    QCOMPARE(Link->SelectedCommands.Codes(), codes);
    QCOMPARE(Link->Poller()->DeviceList[1]->Enabled.load(), polled);
}

void TestConsoleWindows::selectAll_data() {
    QTest::addColumn<bool>("factory");
    QTest::addColumn<int>("type");
    QTest::addColumn<std::vector<int>>("codes");
    QTest::addColumn<bool>("kalist");
    QTest::newRow("plain, УЛМАР-10") << false << 0 << Codes({1, 2, 3, 4, 6, 7, 55}) << false;
    QTest::newRow("plain, УЛМАР-20") << false << 1 << Codes({1, 2, 3, 4, 6, 7, 55, 56}) << false;
    QTest::newRow("factory, УЛМАР-10") << true << 0 << Codes({0, 1, 2, 3, 4, 5, 6, 7, 55}) << true;
    QTest::newRow("factory, УЛМАР-20")
        << true << 1 << Codes({0, 1, 2, 3, 4, 5, 6, 7, 55, 56}) << true;
}

void TestConsoleWindows::selectAll() {
    QFETCH(bool, factory);
    QFETCH(int, type);
    QFETCH(std::vector<int>, codes);
    QFETCH(bool, kalist);
    Context->FactoryMode = factory;
    Ulmar->ProgramType = quint8(type);
    TFormSelectCMD* form = StartSelect();
    QCOMPARE(form->chbSelectAll->text(), QStringLiteral("Выделить все"));
    form->chbSelectAll->click();
    QCOMPARE(Link->SelectedCommands.Codes(), codes);
    QCOMPARE(Link->Poller()->DeviceList[1]->Enabled.load(), kalist);

    form->chbSelectAll->click();
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({}));
    QVERIFY(!Link->Poller()->DeviceList[1]->Enabled);
}

void TestConsoleWindows::unselectAllWithoutFactory() {
    Context->FactoryMode = true;
    TFormSelectCMD* form = StartSelect();
    form->chbFreq->click();
    form->chbCurrentOutput->click();
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({0, 6}));
    Context->FactoryMode = false;
    form->Refresh();
    form->chbSelectAll->setChecked(true);
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({1, 2, 3, 4, 6, 7, 55}));
    QVERIFY(!form->chbFreq->isChecked());
    QVERIFY(!Link->Poller()->DeviceList[1]->Enabled);
    form->chbSelectAll->setChecked(false);
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({}));
}

void TestConsoleWindows::kalistStart_data() {
    QTest::addColumn<bool>("factory");
    QTest::addColumn<bool>("kalist");
    QTest::addColumn<bool>("polled");
    QTest::newRow("/full /kalist") << true << true << true;
    QTest::newRow("/kalist") << false << true << false;
    QTest::newRow("/full") << true << false << false;
    QTest::newRow("none") << false << false << false;
}

void TestConsoleWindows::kalistStart() {
    QFETCH(bool, factory);
    QFETCH(bool, kalist);
    QFETCH(bool, polled);
    Context->FactoryMode = factory;
    Context->KalistMode = kalist;
    SelectCmdInit(); // no window yet: nothing happens
    QVERIFY(!Link->Poller()->DeviceList[1]->Enabled);
    TFormSelectCMD* form = ShowSelect();
    SelectCmdInit();
    QCOMPARE(form->chbCurrentOutput->isChecked(), polled);
    QCOMPARE(Link->Poller()->DeviceList[1]->Enabled.load(), polled);
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6}));
}

void TestConsoleWindows::programTypeRefresh() {
    Ulmar->ProgramType = 1;
    TFormSelectCMD* form = StartSelect();
    QVERIFY(form->chbTempTermostat->isEnabled());
    form->chbTempTermostat->click();
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6, 56}));
    Ulmar->ProgramType = 0;
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6, 56})); // until the refresh
    form->Refresh();
    QVERIFY(!form->chbTempTermostat->isChecked());
    QVERIFY(!form->chbTempTermostat->isEnabled());
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({6}));
}

void TestConsoleWindows::factoryOffKeepsCode() {
    Context->FactoryMode = true;
    TFormSelectCMD* form = StartSelect();
    QVERIFY(!form->chbFreq->isHidden());
    form->chbFreq->click();
    Context->FactoryMode = false;
    form->Refresh();
    QVERIFY(form->chbFreq->isHidden());
    QVERIFY(form->chbFreq->isChecked());
    QCOMPARE(Link->SelectedCommands.Codes(), Codes({0, 6}));
}

QTEST_MAIN(TestConsoleWindows)
#include "tst_consolewindows.moc"
