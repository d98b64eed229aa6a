// Single exchanges through a real pseudo-terminal with the simulator: the bytes on the line,
// the parse into the device object, time-outs, cut and error answers, the request log.

#include "tests/support/LinkRig.h"
#include "uFrame.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>

class TestLinkExchange : public QObject {
    Q_OBJECT
private slots:
    void requestOnTheLine_data();
    void requestOnTheLine();
    void answersParsed();
    void silentGaugeAfterTotalTimeout();
    void pausedAnswerIsCutAndFailsChecksum();
    void errorAnswerGivesMinusOne();
    void unknownCodeSendsAndLogsNothing_data();
    void unknownCodeSendsAndLogsNothing();
    void logLines_data();
    void logLines();
    void logLineWithAnswer();
    void closedPort();
    void kalistExchange();
    void commandFromAnotherThreadIsParsedOnUiThread();
};

void TestLinkExchange::requestOnTheLine_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("expected"); // empty: the builder's frame with its CRC-16
    QTest::newRow("level read") << 2 << QByteArray::fromHex("010102 02D0B9");
    QTest::newRow("all readings") << 6 << QByteArray();
    QTest::newRow("dist.1 read") << int(UlmarCmd::Dist1Read) << QByteArray();
    QTest::newRow("echo") << int(UlmarCmd::Echo) << QByteArray();
}

void TestLinkExchange::requestOnTheLine() {
    QFETCH(int, code);
    QFETCH(QByteArray, expected);
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    if (expected.isEmpty()) {
        TUlmar builder;
        builder.SystemAddress = 1;
        expected = TGaugeSim::WithCrc16(EncodeRequest(builder, code));
    }
    QCOMPARE(rig.Link->RequestExecUlmar(code), 0);
    QCOMPARE(rig.Sim->RequestCount(), 1);
    QCOMPARE(rig.LastRequest().toHex(' '), expected.toHex(' '));
}

void TestLinkExchange::answersParsed() {
    TLinkRig rig;
    rig.FixGauge(5432.5);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].Floats[TSimGauge::Dist1] = 1234.5; });
    TSimGauge reference;
    reference.SetLevel(5432.5);
    reference.Floats[TSimGauge::Dist1] = 1234.5;

    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QCOMPARE(rig.Ulmar->Level->AsDouble(), 5432.5);
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(1));
    QCOMPARE(rig.Ulmar->ErrorCode, 0);
    QCOMPARE(rig.Ulmar->ErrorText, QStringLiteral("Норма"));

    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelAllRead), 0);
    QCOMPARE(rig.Ulmar->Distance->AsDouble(), reference.Distance(0));
    QCOMPARE(rig.Ulmar->LevelFree->AsDouble(), reference.LevelFree(0));
    QVERIFY(qAbs(rig.Ulmar->Volume->AsDouble() - reference.Volume(0)) < 1e-3);

    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::Dist1Read), 0);
    QCOMPARE(rig.Ulmar->Dist1(), 1234.5);
}

void TestLinkExchange::silentGaugeAfterTotalTimeout() {
    TRigTimeouts t;
    t.ReadTotalConstant = 100;
    t.ReadTotalMultiplier = 1; // 100 + 1 * 140 ms without a byte
    TLinkRig rig(t);
    rig.Link->RequestExecUlmar(UlmarCmd::LevelRead); // a first answer, so LinkState moves
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {1, 0, 0, 0}); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), -1);
    QVERIFY2(clock.elapsed() >= 235, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.Ulmar->ErrorCode, -1);
    QCOMPARE(rig.Ulmar->ErrorText, rig.NoAnswerText());
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(2));
}

void TestLinkExchange::pausedAnswerIsCutAndFailsChecksum() {
    TRigTimeouts t;
    t.ReadInterval = 30;
    TLinkRig rig(t);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Pause, {1, 0, 80, 0}); });
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0); // bytes came back
    QCOMPARE(rig.Ulmar->ErrorCode, -4);
    QCOMPARE(rig.Ulmar->ErrorText, QStringLiteral("Ошибка контрольной суммы"));
    QCOMPARE(rig.Ulmar->LinkStateCode(), quint8(2));
    const QByteArray whole = rig.LastAnswer();
    const QStringList log = rig.LogBodies();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.last(),
             "[01 01 02 02 D0 B9] -> [" + ToHexString(whole.left(whole.size() / 2)) + "]");
    // The rest of the paused answer is not taken for the next answer.
    QTest::qWait(100);
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0);
    QCOMPARE(rig.Ulmar->ErrorCode, 0);
}

void TestLinkExchange::errorAnswerGivesMinusOne() {
    TLinkRig rig;
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::ErrorAnswer, {1, 0, 5, 0}); });
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), -1);
    QCOMPARE(rig.LastAnswer().size(), 6);
    QCOMPARE(quint8(rig.LastAnswer().at(1)), quint8(0xFA));
    QCOMPARE(rig.Ulmar->ErrorCode, 5);
    QCOMPARE(rig.LogBodies().size(), 1); // an error answer is still logged
}

void TestLinkExchange::unknownCodeSendsAndLogsNothing_data() {
    QTest::addColumn<int>("code");
    QTest::newRow("80") << 80;
    QTest::newRow("255") << 255;
    QTest::newRow("-1") << -1;
}

void TestLinkExchange::unknownCodeSendsAndLogsNothing() {
    QFETCH(int, code);
    TLinkRig rig;
    rig.Ulmar->ErrorText = "before";
    QCOMPARE(rig.Link->RequestExecUlmar(code), -1);
    QTest::qWait(30);
    QCOMPARE(rig.Sim->RequestCount(), 0);
    QVERIFY(!QFile::exists(rig.LogPath()));
    QCOMPARE(rig.Ulmar->ErrorText, QStringLiteral("before")); // nothing parsed
}

void TestLinkExchange::logLines_data() {
    QTest::addColumn<int>("radix");
    QTest::addColumn<QString>("body"); // empty: no line
    QTest::newRow("hex") << 16 << "[01 01 02 02 D0 B9] -> []";
    QTest::newRow("decimal") << 10 << "[001 001 002 002 208 185] -> []";
    QTest::newRow("other radix") << 8 << QString();
}

void TestLinkExchange::logLines() {
    QFETCH(int, radix);
    QFETCH(QString, body);
    TRigTimeouts t;
    t.ReadTotalConstant = 20;
    t.ReadTotalMultiplier = 0;
    TLinkRig rig(t);
    rig.Link->DisplayRadix = radix;
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.SetFault(TSimFault::Silence, {1, 0, 0, 0}); });
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), -1);
    QCOMPARE(rig.LogBodies(), body.isEmpty() ? QStringList() : QStringList{body});
    if (!body.isEmpty()) {
        QFile f(rig.LogPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray line = f.readAll();
        QVERIFY(QRegularExpression(R"(^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d,\d{3} \[)")
                    .match(QString::fromUtf8(line))
                    .hasMatch());
        QVERIFY(line.endsWith("\r\n"));
    }
}

void TestLinkExchange::logLineWithAnswer() {
    TLinkRig rig;
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0);
    rig.Link->DisplayRadix = 10;
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), 0);
    const auto records = rig.Sim->Records();
    QCOMPARE(int(records.size()), 2);
    QCOMPARE(rig.LogBodies(),
             (QStringList{"[01 01 02 02 D0 B9] -> [" + ToHexString(records[0].Answer) + "]",
                          "[001 001 002 002 208 185] -> [" + ToDecString(records[1].Answer, true) +
                              "]"}));
}

void TestLinkExchange::closedPort() {
    TLinkRig rig({}, 1, "/nonexistent/ttyULMAR");
    // The start-up message keeps its first line and gives the system's reason on the next.
    QCOMPARE(rig.Messages, QStringList{"Внимание|Ошибка активации порта :/nonexistent/ttyULMAR\n"
                                       "Нет такого устройства"});
    QCOMPARE(rig.Link->RequestExecUlmar(UlmarCmd::LevelRead), -1);
    // The silence is told with the port and the rate it was listened for on.
    QCOMPARE(rig.Ulmar->ErrorText,
             QStringLiteral("Нет ответа от устройства (/nonexistent/ttyULMAR, 9600 бод)"));
    // The request log says the same; polling retries quietly.
    QCOMPARE(rig.LogBodies(),
             QStringList{"[01 01 02 02 D0 B9] -> [] Error in Transmitter.SendString "
                         "Ошибка активации порта :/nonexistent/ttyULMAR Нет такого устройства"});
    QCOMPARE(rig.Messages.size(), 1);
    // The meter's exchange fails before its parse: no log line.
    QCOMPARE(rig.Link->RequestExecKalist(), -1);
    QCOMPARE(rig.LogBodies().size(), 1);
}

void TestLinkExchange::kalistExchange() {
    TLinkRig rig;
    rig.FixGauge(7500.0);
    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Kalist.Enabled = true; });
    QCOMPARE(rig.Link->RequestExecKalist(), 0);
    QCOMPARE(rig.Ulmar->CurrentOutput->AsDouble(), 12.0);
    QByteArray request = KalistRequest();
    request.append(char(Crc8(request)));
    QCOMPARE(rig.LastRequest(), request);
    QCOMPARE(rig.LogBodies(), QStringList{"[" + ToHexString(request) + "] -> [" +
                                          ToHexString(rig.LastAnswer()) + "]"});

    rig.Sim->WithSim([](TGaugeSim& sim) { sim.Kalist.Enabled = false; });
    QCOMPARE(rig.Link->RequestExecKalist(), -1);
    QCOMPARE(rig.Ulmar->ErrorText, rig.NoAnswerText());
    QCOMPARE(rig.LogBodies().size(), 1); // no line for an unanswered meter
}

void TestLinkExchange::commandFromAnotherThreadIsParsedOnUiThread() {
    TLinkRig rig;
    rig.FixGauge(4321.0);
    const Qt::HANDLE ui = QThread::currentThreadId();
    std::atomic<bool> parsedOnUi{false};
    rig.Ulmar->Level->OnInSet = [&](TIOData*) { parsedOnUi = QThread::currentThreadId() == ui; };
    std::atomic<int> result{1};
    std::thread worker([&] { result = rig.Link->RequestExecUlmar(UlmarCmd::LevelRead); });
    QTRY_COMPARE_WITH_TIMEOUT(result.load(), 0, 5000); // the wait runs the queued parse
    worker.join();
    QVERIFY(parsedOnUi.load());
    QCOMPARE(rig.Ulmar->Level->AsDouble(), 4321.0);
}

QTEST_MAIN(TestLinkExchange)
#include "tst_link_exchange.moc"
