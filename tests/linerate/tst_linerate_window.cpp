// The link window tells which rule ends an answer, and follows a change of the setting.
#include "Ulmar.h"
#include "fReqAns.h"
#include "tests/support/TestDirs.h"
#include "uRequestDevices.h"
#include <QLabel>
#include <QTest>

namespace {

// A port that opens and never answers.
class TQuietPort : public ISerialPort {
public:
    void Open(const TSerialPortSettings&) override { Open_ = true; }
    void Close() noexcept override { Open_ = false; }
    bool IsOpen() const override { return Open_; }
    void SetTimeouts(const TSerialTimeouts&) override {}
    void SetParity(TSerialParity parity) override { Parity_ = parity; }
    TSerialParity Parity() const override { return Parity_; }
    void Purge() override {}
    void Write(const QByteArray&) override {}
    int OutputQueued() override { return 0; }
    bool WaitTransmitted(int) override { return true; }
    QByteArray Read(int) override { return {}; }

private:
    bool Open_ = false;
    TSerialParity Parity_ = TSerialParity::None;
};

} // namespace

class TestLineRateWindow : public QObject {
    Q_OBJECT
private slots:
    void ruleShown();
};

void TestLineRateWindow::ruleShown() {
    TTestDirs dirs;
    TUlmar ulmar;
    TDeviceLink link(&ulmar, std::make_unique<TQuietPort>(), TDeviceLinkOptions());
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
