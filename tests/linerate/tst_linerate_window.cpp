// The link window tells which rule ends an answer, and follows a change of the setting.
#include "Ulmar.h"
#include "fReqAns.h"
#include "tests/support/FakePort.h"
#include "tests/support/TestDirs.h"
#include "uRequestDevices.h"
#include <QLabel>
#include <QTest>

namespace {

// A port that opens and never answers.

} // namespace

class TestLineRateWindow : public QObject {
    Q_OBJECT
private slots:
    void ruleShown();
};

void TestLineRateWindow::ruleShown() {
    TTestDirs dirs;
    TUlmar ulmar;
    TDeviceLink link(&ulmar, std::make_unique<TFakePort>(), TDeviceLinkOptions());
    TFormReqAns form(nullptr, &link);
    form.Refresh();
    auto* label = form.findChild<QLabel*>(QStringLiteral("lblAnswerEnd"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("по паузе"));
    TTransmitterSettings s = link.Transmitter()->Settings();
    s.EndByLength = true;
    link.Transmitter()->SetSettings(s);
    form.Refresh();
    QCOMPARE(label->text(), QStringLiteral("по длине"));
}

QTEST_MAIN(TestLineRateWindow)
#include "tst_linerate_window.moc"
