// End of a gauge answer by its length byte and the simulator at line speed: the rule over
// bytes, the setting in ComPort.ini, the paced simulator's timing, and real exchanges through
// a pseudo-terminal with good, cut, paused, garbled and trailed answers. Timing checks compare
// orders of magnitude only (the machine may be loaded).

#include "tests/support/TestBytes.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include "uIniFile.h"
#include "uSimServer.h"
#include "uTransmitter.h"
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// All readings (command 0x02) from address 1: a 23-byte answer.
const QByteArray AllRead = Bytes({1, 0x02, 0x01});
constexpr int Silence = 200; // inter-byte time-out of the exchanges below, ms

QByteArray Frame(const QByteArray& body) {
    return TGaugeSim::WithCrc16(body);
}

// A transmitter on the simulator's pseudo-terminal at 9600 baud, silence of 200 ms.
struct TLine {
    TTestDirs Dirs;
    TSimServer Sim{std::make_unique<TGaugeSim>(1)};
    TTransmitter Port;
    bool Ok = false;

    explicit TLine(bool byLength, int lineRate = TSimServer::LinePortRate) {
        Sim.SetAnswerDelay(1);
        Sim.SetLineRate(lineRate);
        if (!Sim.Start())
            return;
        TTransmitterSettings s;
        s.Port = Sim.PortName();
        s.BaudRate = QStringLiteral("9600");
        s.ReadInterval = Silence;
        s.ReadTotalConstant = 1000;
        s.EndByLength = byLength;
        Port.SetSettings(s);
        Ok = Port.OpenPort(true);
    }
    void Fault(TSimFault fault, int value = 0, int position = 0) {
        Sim.WithSim([&](TGaugeSim& g) { g.SetFault(fault, {1, 0.0, value, position}); });
    }
    // One exchange; its wall time in ms.
    qint64 Exchange(QByteArray& answer, const QByteArray& request = AllRead) {
        QElapsedTimer clock;
        clock.start();
        Port.SendString(request, answer, true);
        return clock.elapsed();
    }
    QByteArray LastSent() const {
        const auto records = Sim.Records();
        return records.empty() ? QByteArray() : records.back().Answer;
    }
};

// Plays the gauge on a bare pseudo-terminal: waits for a request, then writes the answer.
struct TBareGauge {
    int Master = -1;
    QString Slave;
    std::thread Thread;

    TBareGauge() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
            return;
        Slave = QString::fromLocal8Bit(::ptsname(Master));
    }
    ~TBareGauge() {
        if (Thread.joinable())
            Thread.join();
        if (Master >= 0)
            ::close(Master);
    }
    void AnswerOnce(const QByteArray& answer) {
        Thread = std::thread([this, answer] {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                return;
            ::usleep(20000); // the rest of the request
            char buffer[64];
            [[maybe_unused]] const ssize_t r = ::read(Master, buffer, sizeof buffer);
            [[maybe_unused]] const ssize_t w = ::write(Master, answer.constData(), answer.size());
        });
    }
};

} // namespace

class TestLineRate : public QObject {
    Q_OBJECT
private slots:
    void gaugeRule();
    void kalistRule();
    void settingRoundTrip();
    void pacedSimulatorTiming();
    void lengthRuleEndsEarly();
    void badAnswersFallBackToSilence();
    void garbledLengthByte();
    void trailingBytesStayInTheirExchange();
    void simulatorProgram();
};

// The rule over bytes: only one whole, good frame of the addressed gauge to the command asked
// ends a read early.
void TestLineRate::gaugeRule() {
    const QByteArray request = Frame(AllRead);
    const QByteArray good = Frame(Bytes({1, 0x02, 0x03, 0x06, 0x10}));
    QCOMPARE(GaugeAnswerEnd(request, good, 140), TAnswerEnd::Complete);
    for (int n = 1; n < good.size(); ++n)
        QCOMPARE(GaugeAnswerEnd(request, good.left(n), 140), TAnswerEnd::More);
    QCOMPARE(GaugeAnswerEnd(request, good + char(0), 140), TAnswerEnd::Silence); // surplus
    QByteArray badCrc = good;
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 1);
    QCOMPARE(GaugeAnswerEnd(request, badCrc, 140), TAnswerEnd::Silence);
    // Length byte 0, or one announcing more than the read takes.
    QCOMPARE(GaugeAnswerEnd(request, Bytes({1, 0x02, 0x00}), 140), TAnswerEnd::Silence);
    QCOMPARE(GaugeAnswerEnd(request, Bytes({1, 0x02, 137}), 140), TAnswerEnd::Silence);
    QCOMPARE(GaugeAnswerEnd(request, Bytes({1, 0x02, 136}), 140), TAnswerEnd::More);
    // A length byte too small for the bytes: its checksum cannot hold.
    QByteArray shortLength = good;
    shortLength[2] = 0x01;
    QCOMPARE(GaugeAnswerEnd(request, shortLength.left(5), 140), TAnswerEnd::Silence);
    // Another gauge, another command: left to the silence (not for the address 255).
    QCOMPARE(GaugeAnswerEnd(request, Frame(Bytes({2, 0x02, 0x02, 6})), 140), TAnswerEnd::Silence);
    QCOMPARE(GaugeAnswerEnd(request, Bytes({2}), 140), TAnswerEnd::Silence);
    QCOMPARE(GaugeAnswerEnd(request, Frame(Bytes({1, 0x01, 0x02, 6})), 140), TAnswerEnd::Silence);
    QCOMPARE(GaugeAnswerEnd(Frame(Bytes({0xFF, 0x20, 0x01})), Frame(Bytes({7, 0x20, 0x01})), 140),
             TAnswerEnd::Complete);
    // The error answer is 6 bytes; 0xFA with another length is not judged early.
    QCOMPARE(GaugeAnswerEnd(request, Frame(Bytes({1, 0xFA, 0x02, 3})), 140), TAnswerEnd::Complete);
    QCOMPARE(GaugeAnswerEnd(request, Frame(Bytes({1, 0xFA, 0x03, 3, 3})), 140),
             TAnswerEnd::Silence);
}

void TestLineRate::kalistRule() {
    QByteArray answer = Bytes({0x01, 0x00, 0x01, 0x04, 0x00, 0x20, 0x03});
    answer.append(char(Crc8(answer)));
    QCOMPARE(KalistAnswerEnd(answer), TAnswerEnd::Complete);
    QCOMPARE(KalistAnswerEnd(answer.left(7)), TAnswerEnd::More);
    QCOMPARE(KalistAnswerEnd(answer + char(0)), TAnswerEnd::Silence);
    answer[5] = 0x21;
    QCOMPARE(KalistAnswerEnd(answer), TAnswerEnd::Silence);
}

// Off when the file or the key is missing, also after it was on; saved and read back as 0/1.
void TestLineRate::settingRoundTrip() {
    TTestDirs dirs;
    TTransmitter t;
    QVERIFY(!t.Settings().EndByLength);
    t.LoadSettings();
    QVERIFY(!t.Settings().EndByLength);
    TTransmitterSettings s = t.Settings();
    s.EndByLength = true;
    t.SetSettings(s);
    QVERIFY(t.SaveSettings());
    QCOMPARE(TIniFile(t.SettingsFile()).ReadString("Transmitter", "EndByLength", "?"),
             QStringLiteral("1"));
    TTransmitter again;
    again.LoadSettings();
    QVERIFY(again.Settings().EndByLength);
    {
        TIniFile ini(t.SettingsFile());
        ini.DeleteKey("Transmitter", "EndByLength");
        QVERIFY(ini.Save(false));
    }
    again.LoadSettings();
    QVERIFY(!again.Settings().EndByLength);
    s.EndByLength = false;
    t.SetSettings(s);
    QVERIFY(t.SaveSettings());
    QCOMPARE(TIniFile(t.SettingsFile()).ReadString("Transmitter", "EndByLength", "?"),
             QStringLiteral("0"));
}

// n bytes at 9600 baud take n × 11 / 9600 s; the rate is the one the client set on the
// pseudo-terminal, or the one given; unpaced answers go out at once.
void TestLineRate::pacedSimulatorTiming() {
    TLine line(false);
    QVERIFY(line.Ok);
    QCOMPARE(line.Sim.PaceRate(), 9600);
    QByteArray answer;
    line.Exchange(answer);
    QCOMPARE(answer.size(), 23);
    auto duration = [&] {
        const TSimRecord r = line.Sim.Records().back();
        return (r.AnswerEndUs - r.AnswerStartUs) / 1000.0;
    };
    const double expected = 23 * 11 * 1000.0 / 9600; // 26.4 ms
    QVERIFY2(duration() > expected * 0.95 && duration() < expected * 1.6,
             qPrintable(QString::number(duration())));

    line.Sim.SetLineRate(1200);
    QCOMPARE(line.Sim.PaceRate(), 1200);
    line.Exchange(answer);
    QVERIFY2(duration() > expected * 8 * 0.95, qPrintable(QString::number(duration())));

    line.Sim.SetLineRate(0);
    QCOMPARE(line.Sim.PaceRate(), 0);
    line.Exchange(answer);
    QVERIFY2(duration() < expected / 4, qPrintable(QString::number(duration())));
}

// A good answer is taken as soon as it is in: well under the 200 ms of silence that the other
// rule waits, and the same bytes as that rule gives.
void TestLineRate::lengthRuleEndsEarly() {
    TLine silence(false);
    QVERIFY(silence.Ok);
    QByteArray slow;
    const qint64 slowMs = silence.Exchange(slow);
    QVERIFY(!silence.Port.LastEndedByLength());
    QVERIFY2(slowMs >= Silence, qPrintable(QString::number(slowMs)));

    TLine length(true);
    QVERIFY(length.Ok);
    QByteArray fast;
    const qint64 fastMs = length.Exchange(fast);
    QVERIFY(length.Port.LastEndedByLength());
    QCOMPARE(fast, length.LastSent());
    QCOMPARE(fast.size(), slow.size());
    QVERIFY(CheckCrc16(fast));
    // 26 ms on the line, 3 ms address gap, 4 ms quiet time; far from the 200 ms of silence.
    QVERIFY2(fastMs >= 26 && fastMs < Silence / 2, qPrintable(QString::number(fastMs)));
}

// A wrong checksum, a cut answer and a paused one are read to the silence, exactly as without
// the rule: the same bytes, and never a prefix taken as whole.
void TestLineRate::badAnswersFallBackToSilence() {
    TLine line(true);
    QVERIFY(line.Ok);
    QByteArray answer;

    line.Fault(TSimFault::BadChecksum);
    qint64 ms = line.Exchange(answer);
    QVERIFY(!line.Port.LastEndedByLength());
    QCOMPARE(answer, line.LastSent());
    QVERIFY(!CheckCrc16(answer));
    QVERIFY2(ms >= Silence, qPrintable(QString::number(ms)));

    line.Fault(TSimFault::Cut, 12);
    ms = line.Exchange(answer);
    QCOMPARE(answer.size(), 12);
    QVERIFY(!line.Port.LastEndedByLength());
    QVERIFY2(ms >= Silence, qPrintable(QString::number(ms)));

    // A pause longer than the silence: the read ends with the first part, which is not taken
    // as a whole answer.
    line.Fault(TSimFault::Pause, 2 * Silence + 100, 10);
    ms = line.Exchange(answer);
    QCOMPARE(answer.size(), 10);
    QVERIFY(!line.Port.LastEndedByLength());
    QVERIFY(!CheckCrc16(answer));
    line.Sim.WaitForRequests(line.Sim.RequestCount(), 2000); // the rest goes out unheard
    // A pause shorter than the silence: both parts make the answer, taken once complete.
    line.Fault(TSimFault::Pause, Silence / 3, 10);
    ms = line.Exchange(answer);
    QCOMPARE(answer.size(), 23);
    QVERIFY(line.Port.LastEndedByLength());
    QVERIFY2(ms < Silence, qPrintable(QString::number(ms)));

    // The next good answer is again taken early.
    ms = line.Exchange(answer);
    QVERIFY(line.Port.LastEndedByLength());
    QVERIFY2(ms < Silence, qPrintable(QString::number(ms)));
}

// A length byte altered on the line: too small (the checksum cannot hold at the announced end)
// or too large (more bytes than come): the whole answer is read to the silence.
void TestLineRate::garbledLengthByte() {
    TTestDirs dirs;
    const QByteArray good = Frame(Bytes({1, 0x02, 0x05, 6, 1, 2, 3}));
    for (const int length : {0x01, 0x03, 0x10, 0xFF}) {
        QByteArray garbled = good;
        garbled[2] = char(length);
        TBareGauge gauge;
        QVERIFY(!gauge.Slave.isEmpty());
        TTransmitter t;
        TTransmitterSettings s;
        s.Port = gauge.Slave;
        s.ReadInterval = 100;
        s.EndByLength = true;
        t.SetSettings(s);
        QVERIFY(t.OpenPort(true));
        gauge.AnswerOnce(garbled);
        QByteArray answer;
        QElapsedTimer clock;
        clock.start();
        t.SendString(AllRead, answer, true);
        const qint64 ms = clock.elapsed();
        QCOMPARE(answer, garbled);
        QVERIFY(!t.LastEndedByLength());
        QVERIFY2(ms >= 100, qPrintable(QString::number(ms)));
    }
}

// Bytes right after a good answer (here a second copy of it) make that answer end by the
// silence with them, so they cannot be the next answer; bytes that come later are discarded
// before the next request.
void TestLineRate::trailingBytesStayInTheirExchange() {
    TLine line(true);
    QVERIFY(line.Ok);
    QByteArray first, second;

    line.Fault(TSimFault::TrailingBytes, 23);
    line.Exchange(first);
    QCOMPARE(first.size(), 46);
    QVERIFY(!line.Port.LastEndedByLength());
    QVERIFY(!CheckCrc16(first) || first.left(23) != first.mid(23));
    const qint64 ms = line.Exchange(second);
    QCOMPARE(second, line.LastSent());
    QCOMPARE(second.size(), 23);
    QVERIFY(line.Port.LastEndedByLength());
    QVERIFY2(ms < Silence, qPrintable(QString::number(ms)));

    // Three bytes 30 ms after the answer: the answer is taken by its length, and the late
    // bytes are gone by the next request, which the request cycle sends 50 ms on.
    line.Fault(TSimFault::TrailingBytes, 3, 30);
    line.Exchange(first);
    QCOMPARE(first.size(), 23);
    QVERIFY(line.Port.LastEndedByLength());
    QTest::qWait(80);
    line.Exchange(second);
    QCOMPARE(second.size(), 23);
    QCOMPARE(second, line.LastSent());
    QVERIFY(line.Port.LastEndedByLength());

    // A long train of late bytes still running when the next request is due: it is let pass
    // and dropped first (the plain discard would leave its rest to be read as the answer).
    line.Fault(TSimFault::TrailingBytes, 60, 10);
    line.Exchange(first);
    QCOMPARE(first.size(), 23);
    QVERIFY(line.Port.LastEndedByLength());
    QTest::qWait(30); // 10 ms of silence, then 69 ms of bytes
    line.Exchange(second);
    QCOMPARE(second.size(), 23);
    QCOMPARE(second, line.LastSent());
    QVERIFY(line.Port.LastEndedByLength());
    // The line is quiet now: the next exchange is not held up.
    const qint64 quietMs = line.Exchange(second);
    QVERIFY(line.Port.LastEndedByLength());
    QVERIFY2(quietMs < Silence, qPrintable(QString::number(quietMs)));

    // The same late bytes before a request sent at once: whatever they do to that exchange,
    // its answer is never taken early unless it is the gauge's own whole frame.
    line.Fault(TSimFault::TrailingBytes, 3, 10);
    line.Exchange(first);
    line.Exchange(second);
    if (line.Port.LastEndedByLength())
        QCOMPARE(second, line.LastSent());
    else
        QVERIFY(!CheckCrc16(second) || second.size() != 23);
}

// ulmar-sim --line-rate paces at the rate the client set on the port, --baud at its own; the
// current meter's answer ends by its fixed length too.
void TestLineRate::simulatorProgram() {
    TTestDirs dirs;
    const QByteArray kalist = Bytes({0x01, 0x00, 0x01, 0x00});
    struct TCase {
        QStringList Options;
        QString PortRate;
        int PacedRate;
    };
    const TCase cases[] = {{{"--line-rate"}, "1200", 1200},
                           {{"--line-rate", "--baud", "2400"}, "1200", 2400},
                           {{}, "1200", 0}};
    for (const TCase& c : cases) {
        QProcess sim;
        sim.start(QStringLiteral(ULMAR_SIM_PATH),
                  QStringList{"--delay", "1", "--kalist"} + c.Options);
        QVERIFY(sim.waitForStarted(5000));
        QVERIFY(sim.waitForReadyRead(5000));
        TTransmitter t;
        TTransmitterSettings s;
        s.Port = QString::fromLocal8Bit(sim.readLine()).trimmed();
        s.BaudRate = c.PortRate;
        s.ReadInterval = 400; // wider than a character at 1200 baud
        s.ReadTotalConstant = 2000;
        s.EndByLength = true;
        t.SetSettings(s);
        QVERIFY(t.OpenPort(true));
        QByteArray answer;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(t.SendString(AllRead, answer, true));
        const qint64 ms = clock.elapsed();
        QCOMPARE(answer.size(), 23);
        QVERIFY(t.LastEndedByLength());
        const double line = c.PacedRate ? 23 * 11 * 1000.0 / c.PacedRate : 0.0;
        QVERIFY2(ms >= line * 0.95 && ms < line + 150, qPrintable(QString::number(ms)));
        QVERIFY(t.SendKalist(kalist, answer, true));
        QCOMPARE(answer.size(), KalistAnswerSize);
        QVERIFY(t.LastEndedByLength());
        t.ClosePort();
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
    }
    QProcess bad;
    bad.start(QStringLiteral(ULMAR_SIM_PATH), {"--baud", "12"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestLineRate)
#include "tst_linerate.moc"
