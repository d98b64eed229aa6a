// The link window's traffic monitor: the link's exchange ring (the last 2 000 in order, nothing
// recorded while nobody listens), the answer timings, a polling run against the simulator
// filling the panel with decoded rows, injected faults giving rows that stand out, pause,
// clear and the filters, the CSV file byte for byte, and the link window's "Монитор" button.
// With ULMAR_SHOTS set to a folder, the polling run saves the window there as monitor.png.

#include "fMonitorPanel.h"
#include "fReqAns.h"
#include "tests/support/LinkRig.h"
#include "uExchangePublisher.h"
#include "uFrame.h"
#include "uParamStr.h"

#include <QApplication>
#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <functional>

namespace {

TExchangeRecord Record(int code, const QByteArray& answer = QByteArray("\x01\x02", 2)) {
    TExchangeRecord r;
    r.TimeMs = QDateTime::currentMSecsSinceEpoch();
    r.Code = code;
    r.Request = QByteArray("\x01\x01\x02\x02\xD0\xB9", 6);
    r.Answer = answer;
    r.Result = answer.isEmpty() ? -1 : 0;
    r.Accepted = !answer.isEmpty();
    return r;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
    return true;
}

int FailedRows(const TMonitorModel& model) {
    int failed = 0;
    for (int i = 0; i < model.rowCount(); ++i)
        failed += model.Row(i).Failed ? 1 : 0;
    return failed;
}

} // namespace

class TestMonitor : public QObject {
    Q_OBJECT

private slots:
    void ringKeepsTheLastInOrder();
    void modelKeepsTheLastInOrder();
    void hiddenPanelRecordsNothing();
    void answerTimings();
    void pollingWithFaults();
    void pauseClearFilter();
    void csvByteForByte();
    void linkWindowShowsAndHides();
};

void TestMonitor::ringKeepsTheLastInOrder() {
    TExchangeRing ring;
    QCOMPARE(ring.Capacity(), 2000);
    for (int i = 0; i < 2500; ++i)
        ring.Add(Record(i));
    QCOMPARE(ring.Size(), 2000);
    const auto all = ring.Snapshot();
    QCOMPARE(all.front().Code, 500);
    QCOMPARE(all.back().Code, 2499);
    for (size_t i = 1; i < all.size(); ++i)
        QCOMPARE(all[i].Sequence, all[i - 1].Sequence + 1);

    // Incremental copies hand out each record once, in order.
    quint64 after = 0;
    QCOMPARE(ring.TakeSince(after).size(), size_t(2000));
    QCOMPARE(after, quint64(2500));
    QVERIFY(ring.TakeSince(after).empty());
    ring.Add(Record(7));
    ring.Add(Record(8));
    const auto fresh = ring.TakeSince(after);
    QCOMPARE(fresh.size(), size_t(2));
    QCOMPARE(fresh[0].Code, 7);
    QCOMPARE(fresh[1].Code, 8);
    // A reader that fell further behind than the ring holds gets what is left.
    after = 10;
    QCOMPARE(ring.TakeSince(after).front().Code, 502);

    // Listeners are counted; an extra removal never makes the count negative.
    QVERIFY(!ring.Enabled());
    {
        auto shared = std::make_shared<TExchangeRing>(3);
        TExchangeListener a(shared);
        TExchangeListener b(shared);
        QVERIFY(shared->Enabled());
        shared->RemoveListener();
        shared->RemoveListener();
        shared->RemoveListener();
        QVERIFY(!shared->Enabled());
    }
}

void TestMonitor::modelKeepsTheLastInOrder() {
    TMonitorModel model;
    std::vector<TMonitorRow> rows;
    for (int i = 0; i < 1500; ++i) {
        TMonitorRow row;
        row.Sequence = i;
        rows.push_back(row);
    }
    model.Append(rows);
    model.Append(rows); // 3 000 in all: the first 1 000 dropped
    QCOMPARE(model.rowCount(), 2000);
    QCOMPARE(model.Row(0).Sequence, quint64(1000));
    QCOMPARE(model.Row(499).Sequence, quint64(1499));
    QCOMPARE(model.Row(500).Sequence, quint64(0));
    QCOMPARE(model.Row(1999).Sequence, quint64(1499));
    QCOMPARE(model.columnCount(), 12);
}

void TestMonitor::hiddenPanelRecordsNothing() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TDeviceLink& link = *rig.Link;
    TMonitorPanel panel(nullptr, &link);
    QVERIFY(!panel.Listening());
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QCOMPARE(link.Publisher()->Ring()->Size(), 0);
    QCOMPARE(link.Publisher()->Ring()->LastSequence(), quint64(0));

    panel.show();
    QVERIFY(panel.Listening());
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::DistanceRead), 0);
    QCOMPARE(link.Publisher()->Ring()->Size(), 2);
    QVERIFY(WaitFor([&] { return panel.Model()->rowCount() == 2; }));
    QCOMPARE(panel.Model()->Row(0).Decoded.Code, int(UlmarCmd::LevelRead));
    QCOMPARE(panel.Model()->Row(1).Decoded.Code, int(UlmarCmd::DistanceRead));

    panel.hide();
    QVERIFY(!panel.Listening());
    QVERIFY(!link.Publisher()->Ring()->Enabled());
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QCOMPARE(link.Publisher()->Ring()->LastSequence(), quint64(2));
}

void TestMonitor::answerTimings() {
    TRigTimeouts t;
    t.ReadInterval = 20;
    t.ReadTotalConstant = 400;
    TLinkRig rig(t, 30); // the simulator answers after 30 ms
    QVERIFY(rig.SimStarted);
    TExchangeListener listen(rig.Link->Publisher()->Ring());
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelAllRead), 0);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {1, 0.0, 0, 0}); });
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelAllRead), -1);
    const auto records = rig.Link->Publisher()->Ring()->Snapshot();
    QCOMPARE(records.size(), size_t(2));
    const TExchangeRecord& good = records[0];
    QVERIFY2(good.DelayMs >= 25 && good.DelayMs < 300, qPrintable(QString::number(good.DelayMs)));
    QVERIFY(good.DurationMs >= 0 && good.DurationMs < 100);
    QCOMPARE(good.Request, rig.Sim->Records().front().Request);
    QCOMPARE(good.Answer, rig.Sim->Records().front().Answer);
    QCOMPARE(good.Result, 0);
    QVERIFY(good.Accepted);
    QVERIFY(good.TimeMs > 0);
    const TExchangeRecord& silent = records[1];
    QCOMPARE(silent.DelayMs, -1.0);
    QCOMPARE(silent.DurationMs, -1.0);
    QVERIFY(silent.Answer.isEmpty());
    QCOMPARE(silent.Result, -1);
    QVERIFY(!silent.Accepted);
    QVERIFY(!silent.ResultText.isEmpty());

    // The current meter's exchange is recorded too, as device 1.
    rig.Link->RequestExecKalist();
    const auto all = rig.Link->Publisher()->Ring()->Snapshot();
    QCOMPARE(all.size(), size_t(3));
    QCOMPARE(all[2].Device, 1);
    QCOMPARE(all[2].Code, int(UlmarCmd::KalistCurrent));
    QVERIFY(!all[2].Request.isEmpty());
}

void TestMonitor::pollingWithFaults() {
    TRigTimeouts t;
    t.ReadInterval = 5;
    t.ReadTotalConstant = 100;
    TLinkRig rig(t, 2);
    QVERIFY(rig.SimStarted);
    TDeviceLink& link = *rig.Link;
    link.SelectedCommands.Include(UlmarCmd::LevelAllRead);
    link.SelectedCommands.Include(UlmarCmd::LevelRead);
    TFormReqAns window(nullptr, &link);
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    window.btnMonitor->click();
    TMonitorPanel& panel = *window.Monitor;
    QVERIFY(panel.Listening());

    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 50);
    QVERIFY(WaitFor([&] { return panel.Model()->rowCount() >= 6; }));
    auto fault = [&](TSimFault f, int value = 0) {
        rig.Sim->WithSim([&](TGaugeSim& sim) { sim.SetFault(f, {1, 0.0, value, 0}); });
        const int before = panel.Model()->rowCount();
        QVERIFY(WaitFor([&] { return panel.Model()->rowCount() >= before + 3; }));
    };
    fault(TSimFault::BadChecksum);
    fault(TSimFault::Silence);
    fault(TSimFault::ErrorAnswer, 3);
    QVERIFY(WaitFor([&] { return panel.Model()->rowCount() >= 20; }));
    if (!qEnvironmentVariableIsEmpty("ULMAR_SHOTS")) {
        window.resize(1400, 760);
        // The frames of the newest failed row in the detail pane.
        for (int i = panel.Model()->rowCount() - 1; i >= 0; --i)
            if (panel.Model()->Row(i).Failed) {
                panel.tblRows->selectRow(i);
                break;
            }
        QCoreApplication::processEvents();
        QDir().mkpath(qEnvironmentVariable("ULMAR_SHOTS"));
        window.grab().save(QDir(qEnvironmentVariable("ULMAR_SHOTS")).filePath("monitor.png"));
    }
    link.Poller()->Stop();
    QVERIFY(link.WaitCycleEnd());

    const TMonitorModel& model = *panel.Model();
    QVERIFY2(FailedRows(model) >= 3, qPrintable(QString::number(FailedRows(model))));
    bool sawChecksum = false, sawSilence = false, sawError = false, sawGood = false;
    for (int i = 0; i < model.rowCount(); ++i) {
        const TMonitorRow& row = model.Row(i);
        const TDecodedExchange& d = row.Decoded;
        QCOMPARE(d.Address, 1);
        QVERIFY(d.Code == UlmarCmd::LevelAllRead || d.Code == UlmarCmd::LevelRead);
        QVERIFY(!d.CommandName.isEmpty());
        QCOMPARE(d.BytesSent, row.Request.size());
        QCOMPARE(d.BytesReceived, row.Answer.size());
        const QVariant background =
            model.data(model.index(i, TMonitorModel::ColResult), Qt::BackgroundRole);
        QCOMPARE(background.isValid(), row.Failed);
        if (row.Answer.isEmpty()) {
            sawSilence = true;
            QVERIFY(row.Failed);
        } else if (row.Answer.size() == 6 && quint8(row.Answer[1]) == 0xFA) {
            sawError = true;
            QVERIFY(row.Failed);
        } else if (Crc16(row.Answer.left(row.Answer.size() - 2)) !=
                   (quint8(row.Answer[row.Answer.size() - 2]) |
                    quint8(row.Answer[row.Answer.size() - 1]) << 8)) {
            sawChecksum = true;
            QVERIFY(row.Failed);
            QCOMPARE(d.ChecksumVerdict, QString::fromUtf8(DecodeVerdict::Bad));
        } else {
            sawGood = true;
            QVERIFY(!row.Failed);
            QVERIFY(!d.AnswerFields.isEmpty());
            QCOMPARE(d.ChecksumVerdict, QString::fromUtf8(DecodeVerdict::Good));
            QVERIFY(d.DelayMs >= 0);
        }
    }
    QVERIFY(sawChecksum);
    QVERIFY(sawSilence);
    QVERIFY(sawError);
    QVERIFY(sawGood);

    // The frames of the selected row, in hexadecimal.
    panel.tblRows->selectRow(0);
    QVERIFY(panel.txtFrames->toPlainText().contains(ToHexString(model.Row(0).Request)));
    window.close();
}

void TestMonitor::pauseClearFilter() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TDeviceLink& link = *rig.Link;
    TMonitorPanel panel(nullptr, &link);
    panel.show();
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), 0);
    panel.Pull();
    QCOMPARE(panel.Model()->rowCount(), 1);

    // Paused: nothing new shown, but the link keeps recording; resumed, it all comes in.
    panel.chkPause->setChecked(true);
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::DistanceRead), 0);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {1, 0.0, 0, 0}); });
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), -1);
    QTest::qWait(450);
    panel.Pull();
    QCOMPARE(panel.Model()->rowCount(), 1);
    panel.chkPause->setChecked(false);
    QCOMPARE(panel.Model()->rowCount(), 3);

    // The command list offers the commands seen.
    QCOMPARE(panel.cmbCommand->count(), 3);
    panel.cmbCommand->setCurrentIndex(panel.cmbCommand->findData(int(UlmarCmd::DistanceRead)));
    QCOMPARE(panel.Filter()->rowCount(), 1);
    panel.cmbCommand->setCurrentIndex(panel.cmbCommand->findData(int(UlmarCmd::LevelRead)));
    QCOMPARE(panel.Filter()->rowCount(), 2);
    panel.cmbResult->setCurrentIndex(1); // failed only
    QCOMPARE(panel.Filter()->rowCount(), 1);
    panel.cmbCommand->setCurrentIndex(0);
    QCOMPARE(panel.Filter()->rowCount(), 1);
    panel.cmbResult->setCurrentIndex(0);
    QCOMPARE(panel.Filter()->rowCount(), 3);
    // A text of any cell or of the frames.
    panel.edtText->setText(ToHexString(panel.Model()->Row(1).Request));
    QCOMPARE(panel.Filter()->rowCount(), 1);
    panel.edtText->setText("no such text at all");
    QCOMPARE(panel.Filter()->rowCount(), 0);
    panel.edtText->clear();
    QCOMPARE(panel.Filter()->rowCount(), 3);

    // Cleared: the rows go, and what the link recorded before is not shown again.
    panel.btnClear->click();
    QCOMPARE(panel.Model()->rowCount(), 0);
    panel.Pull();
    QCOMPARE(panel.Model()->rowCount(), 0);
    QCOMPARE(link.RequestExecUlmar(UlmarCmd::LevelRead), 0);
    panel.Pull();
    QCOMPARE(panel.Model()->rowCount(), 1);
}

void TestMonitor::csvByteForByte() {
    TMonitorPanel panel;
    std::vector<TMonitorRow> rows(3);
    for (int i = 0; i < 3; ++i) {
        rows[i].Decoded.Code = i;
        rows[i].Decoded.ResultText = QStringLiteral("итог %1").arg(i);
        rows[i].Failed = i == 1;
    }
    rows[2].Decoded.ResultText = QStringLiteral("a;b \"c\"");
    panel.Model()->Append(rows);
    panel.cmbResult->setCurrentIndex(0);
    const QString path = QDir(QDir::tempPath()).filePath("ulmar_monitor_test.csv");
    QFile::remove(path);

    auto line = [](const QStringList& cells) {
        QStringList out;
        for (QString c : cells) {
            if (c.contains(';') || c.contains('"') || c.contains('\n') || c.contains('\r'))
                c = '"' + c.replace("\"", "\"\"") + '"';
            out << c;
        }
        return out.join(';') + "\r\n";
    };
    QVERIFY(panel.SaveCsvTo(path));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    f.close();
    QString expected = line(DecodedCsvHeader());
    for (const TMonitorRow& row : rows)
        expected += line(DecodedCsvFields(row.Decoded));
    QCOMPARE(bytes, QByteArray("\xEF\xBB\xBF") + expected.toUtf8());
    if (DecodedCsvFields(rows[2].Decoded).contains(rows[2].Decoded.ResultText))
        QVERIFY(bytes.contains("\"a;b \"\"c\"\"\""));

    // Only the shown rows: failed only leaves the second.
    panel.cmbResult->setCurrentIndex(1);
    QVERIFY(panel.SaveCsvTo(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(),
             QByteArray("\xEF\xBB\xBF") +
                 (line(DecodedCsvHeader()) + line(DecodedCsvFields(rows[1].Decoded))).toUtf8());
    f.close();
    QFile::remove(path);

    // A folder that cannot hold the file: false with a reason, nothing left behind.
    QString error;
    QVERIFY(!panel.SaveCsvTo(QDir(QDir::tempPath()).filePath("no/such/dir/m.csv"), &error));
    QVERIFY(!error.isEmpty());
}

void TestMonitor::linkWindowShowsAndHides() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TFormReqAns window(nullptr, rig.Link.get());
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.show();
    QVERIFY(window.btnMonitor);
    QVERIFY(!window.Monitor->isVisible());
    QVERIFY(!rig.Link->Publisher()->Ring()->Enabled());
    const QSize small = window.size();

    window.btnMonitor->click();
    QVERIFY(window.Monitor->isVisible());
    QVERIFY(rig.Link->Publisher()->Ring()->Enabled());
    QVERIFY(window.width() > small.width());
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QVERIFY(WaitFor([&] { return window.Monitor->Model()->rowCount() == 1; }));

    window.btnMonitor->click();
    QVERIFY(!window.Monitor->isVisible());
    QVERIFY(!rig.Link->Publisher()->Ring()->Enabled());
    QTRY_COMPARE(window.size(), small);

    // Closing the window while the monitor shows stops the recording too.
    window.ShowMonitor(true);
    QVERIFY(rig.Link->Publisher()->Ring()->Enabled());
    window.close();
    QVERIFY(!rig.Link->Publisher()->Ring()->Enabled());
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"
