// The serial transport: line discipline on a scripted port, then real exchanges through a
// pseudo-terminal with the simulator, settings file rules and a vanishing port.

#include "tests/support/PlainUser.h"
#include "tests/support/TestBytes.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include "uIniFile.h"
#include "uSerialPosix.h"
#include "uSimServer.h"
#include "uTransmitter.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Records every call with its time; Read returns the scripted answer.
class TScriptPort : public ISerialPort {
public:
    struct TCall {
        QString What;
        QByteArray Data;
        Clock::time_point At;
    };
    std::vector<TCall>* Calls;
    QByteArray Answer;
    bool Open_ = true;
    bool FailRead = false;

    explicit TScriptPort(std::vector<TCall>* calls) : Calls(calls) {}
    void Log(const QString& what, const QByteArray& data = {}) {
        Calls->push_back({what, data, Clock::now()});
    }
    void Open(const TSerialPortSettings& s) override {
        Log("open " + s.Port);
        Open_ = true;
    }
    void Close() noexcept override { Open_ = false; }
    bool IsOpen() const override { return Open_; }
    void SetTimeouts(const TSerialTimeouts&) override {}
    void SetParity(TSerialParity p) override {
        Parity_ = p;
        Log(QStringLiteral("parity %1").arg(int(p)));
    }
    TSerialParity Parity() const override { return Parity_; }
    void Purge() override { Log("purge"); }
    void Write(const QByteArray& b) override { Log("write", b); }
    // The driver's queue: "drain" each time it is asked; QueueLeft bytes stay in it for ever
    // (a port held back by flow control) when set.
    int OutputQueued() override {
        Log("drain");
        return QueueLeft;
    }
    bool WaitTransmitted(int timeoutMs) override {
        WaitLimits.push_back(timeoutMs);
        return !LineStuck;
    }
    int QueueLeft = 0;
    bool LineStuck = false;
    std::vector<int> WaitLimits;
    QByteArray Read(int count) override {
        Log(QStringLiteral("read %1").arg(count));
        if (FailRead)
            throw std::runtime_error("read failed");
        return Answer;
    }
    TSerialParity Parity_ = TSerialParity::None;
};

QStringList Names(const std::vector<TScriptPort::TCall>& calls) {
    QStringList names;
    for (const auto& c : calls)
        names << (c.Data.isEmpty() ? c.What : c.What + " " + c.Data.toHex(' '));
    return names;
}

const QString Mark = QStringLiteral("parity %1").arg(int(TSerialParity::Mark));
const QString Space = QStringLiteral("parity %1").arg(int(TSerialParity::Space));
const QString NoParity = QStringLiteral("parity %1").arg(int(TSerialParity::None));

// A pseudo-terminal whose master end stays open, as a line held by another program: the
// terminal and its exclusive flag outlive every open and close of the slave end.
struct TPtyPair {
    int Master = -1;
    QString Slave;
    TPtyPair() {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master >= 0 && ::grantpt(Master) == 0 && ::unlockpt(Master) == 0)
            Slave = QString::fromLocal8Bit(::ptsname(Master));
    }
    ~TPtyPair() {
        if (Master >= 0)
            ::close(Master);
    }
    // The terminal's exclusive flag seen through a descriptor of our own, or -1.
    int Exclusive() const {
        const int fd = ::open(Slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return -1;
        int flag = -1;
        if (::ioctl(fd, TIOCGEXCL, &flag) != 0)
            flag = -1;
        ::close(fd);
        return flag;
    }
};

// Opens and closes the port on its own pseudo-terminal three times; the number of opens that
// worked.
int OpenThreeTimes() {
    TPtyPair pty;
    if (pty.Slave.isEmpty())
        return -1;
    TPosixSerialPort port;
    TSerialPortSettings s;
    s.Port = pty.Slave;
    int opened = 0;
    for (int i = 0; i < 3; ++i) {
        try {
            port.Open(s);
            ++opened;
        } catch (const std::exception&) {
        }
        port.Close();
    }
    return opened;
}

} // namespace

class TestTransport : public QObject {
    Q_OBJECT
private slots:
    void gaugeLineDiscipline();
    void kalistLineDiscipline();
    void readErrorPropagates();
    void drainNeverEndingQueue();
    void drainBoundIsTheWriteTimeout();
    void addressGapSleeps();
    void settingsFile_data();
    void settingsFile();
    void settingsKeepCurrentValues();
    void settingsRoundTrip();
    void settingsUnreadable();
    void openMissingPort();
    void closedPortThrows();
    void exclusiveOnlyWhileOpen();
    void reopenAsPlainUser();
    void exactBytesOnLine();
    void kalistOnLine();
    void silentGaugeTimesOut();
    void pausedAnswerArrivesCut();
    void noOverlapOnLine();
    void customBaudOnPty();
    void unpluggedAdapter();
    void adapterBackReopensAlone();
    void simulatorKeepsBoundedRecords();
    void simulatorProgram();
};

void TestTransport::gaugeLineDiscipline() {
    TTestDirs dirs;
    std::vector<TScriptPort::TCall> calls;
    auto* port = new TScriptPort(&calls);
    port->Answer = Bytes({1, 0x20, 0x06, 17, 0x03, 0xE9, 1, 3, 0, 0});
    TTransmitter t{std::unique_ptr<ISerialPort>(port)};
    QByteArray reported, reportedAnswer;
    bool reportedAnswered = false;
    TTransmitter* sender = nullptr;
    t.OnExchange = [&](TTransmitter* s, const QByteArray& r, bool a, const QByteArray& ans) {
        sender = s;
        reported = r;
        reportedAnswered = a;
        reportedAnswer = ans;
    };
    QByteArray answer("stale");
    QVERIFY(t.SendString(Bytes({0xFF, 0x20, 0x01}), answer, true, 140));
    QCOMPARE(answer, port->Answer);
    // One byte with mark parity, then four with space parity; buffers purged around it.
    QCOMPARE(Names(calls), QStringList({"purge", Mark, "write ff", "drain", Space,
                                        "write 20 01 99 f0", "read 140", "purge"}));
    // At least 3 ms between the drained address byte and the parity change.
    QVERIFY(calls[4].At - calls[3].At >= std::chrono::milliseconds(3));
    QCOMPARE(sender, &t);
    QCOMPARE(reported, Bytes({0xFF, 0x20, 0x01, 0x99, 0xF0}));
    QVERIFY(reportedAnswered);
    QCOMPARE(reportedAnswer, port->Answer);

    // Without the checksum the frame goes as given and the report carries no frame.
    calls.clear();
    port->Answer.clear();
    QVERIFY(!t.SendString(Bytes({1, 2, 1}), answer, false, 140));
    QVERIFY(answer.isEmpty());
    QVERIFY(calls[2].Data == Bytes({1}) && calls[5].Data == Bytes({2, 1}));
    QVERIFY(reported.isEmpty());
    QVERIFY(!reportedAnswered);
}

void TestTransport::kalistLineDiscipline() {
    TTestDirs dirs;
    std::vector<TScriptPort::TCall> calls;
    auto* port = new TScriptPort(&calls);
    port->Answer = Bytes({1, 0, 1, 4, 0, 0xB0, 0x04, 0x55});
    TTransmitter t{std::unique_ptr<ISerialPort>(port)};
    QByteArray answer;
    QVERIFY(t.SendKalist(KalistRequest(), answer, true, 70));
    // No parity, purge, the whole frame, read; no purge afterwards.
    QCOMPARE(Names(calls), QStringList({NoParity, "purge", "write 01 00 01 00 a0", "read 70"}));
    QCOMPARE(answer, port->Answer);
}

void TestTransport::readErrorPropagates() {
    TTestDirs dirs;
    std::vector<TScriptPort::TCall> calls;
    auto* port = new TScriptPort(&calls);
    port->FailRead = true;
    TTransmitter t{std::unique_ptr<ISerialPort>(port)};
    int reports = 0;
    t.OnExchange = [&](TTransmitter*, const QByteArray&, bool, const QByteArray&) { ++reports; };
    QByteArray answer;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.SendString(Bytes({1, 2, 1}), answer, true));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.SendKalist(KalistRequest(), answer, true));
    QCOMPARE(reports, 0);
}

void TestTransport::settingsFile_data() {
    QTest::addColumn<QString>("file"); // content of ComPort.ini; "-" for no file
    QTest::addColumn<QString>("baud");
    QTest::addColumn<int>("rate"); // effective rate of the port settings
    QTest::addColumn<QString>("dataBits");
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QList<int>>("timeouts");
    const QList<int> fixed{50, 150, 2, 100, 2};
    QTest::newRow("no file") << "-"
                             << "9600" << 9600 << "8"
                             << "1"
                             << "None"
                             << "None" << fixed;
    QTest::newRow("custom lower case") << "[Transmitter]\nBaudRate=custom\nCustomBaudRate=250000\n"
                                       << "Custom" << 250000 << "8"
                                       << "1"
                                       << "None"
                                       << "None" << fixed;
    QTest::newRow("1000 is not a rate") << "[transmitter]\nbaudrate=1000\n"
                                        << "9600" << 9600 << "8"
                                        << "1"
                                        << "None"
                                        << "None" << fixed;
    QTest::newRow("custom rate ignored for 19200")
        << "[Transmitter]\nBaudRate=19200\nCustomBaudRate=250000\n"
        << "19200" << 19200 << "8"
        << "1"
        << "None"
        << "None" << fixed;
    QTest::newRow("texts without case")
        << "[Transmitter]\nDataBits=7\nStopBits=1.5\nParity=EVEN\nFlowControl=hardware\n"
        << "9600" << 9600 << "7"
        << "1.5"
        << "Even"
        << "Hardware" << fixed;
    QTest::newRow("unknown texts")
        << "[Transmitter]\nBaudRate=fast\nDataBits=9\nStopBits=3\nParity=odd-ish\n"
           "FlowControl=magic\n"
        << "9600" << 9600 << "8"
        << "1"
        << "None"
        << "Custom" << fixed;
    QTest::newRow("time-outs") << "[Transmitter]\nReadInterval=20\nReadTotalConstant=300\n"
                                  "ReadTotalMultiplier=1\nWriteTotalConstant=500\n"
                                  "WriteTotalMultiplier=3\n"
                               << "9600" << 9600 << "8"
                               << "1"
                               << "None"
                               << "None" << QList<int>{20, 300, 1, 500, 3};
    QTest::newRow("bad time-outs") << "[Transmitter]\nReadInterval=abc\nReadTotalConstant=-5\n"
                                   << "9600" << 9600 << "8"
                                   << "1"
                                   << "None"
                                   << "None" << fixed;
}

void TestTransport::settingsFile() {
    QFETCH(QString, file);
    QFETCH(QString, baud);
    QFETCH(int, rate);
    QFETCH(QString, dataBits);
    QFETCH(QString, stopBits);
    QFETCH(QString, parity);
    QFETCH(QString, flow);
    QFETCH(QList<int>, timeouts);
    TTestDirs dirs;
    TTransmitter t;
    QCOMPARE(t.SettingsFile(), QDir(dirs.Work()).filePath("INI/ComPort.ini"));
    if (file != "-") {
        QFile f(t.SettingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.toUtf8());
    }
    t.LoadSettings();
    const TTransmitterSettings& s = t.Settings();
    QCOMPARE(s.Port, QStringLiteral("/dev/ttyS0"));
    QCOMPARE(s.BaudRate, baud);
    QCOMPARE(s.PortSettings().BaudRate, rate);
    QCOMPARE(s.DataBits, dataBits);
    QCOMPARE(s.StopBits, stopBits);
    QCOMPARE(s.Parity, parity);
    QCOMPARE(s.FlowControl, flow);
    QCOMPARE((QList<int>{s.ReadInterval, s.ReadTotalConstant, s.ReadTotalMultiplier,
                         s.WriteTotalConstant, s.WriteTotalMultiplier}),
             timeouts);
}

void TestTransport::settingsKeepCurrentValues() {
    TTestDirs dirs;
    TTransmitter t;
    TTransmitterSettings s;
    s.Port = "/dev/ttyUSB3";
    s.Parity = "Mark";
    s.ReadInterval = 77;
    s.WriteTotalConstant = 999;
    t.SetSettings(s);
    TIniFile ini(t.SettingsFile());
    ini.WriteString("Transmitter", "BaudRate", "57600");
    QVERIFY(ini.Save(true));
    t.LoadSettings();
    // Missing line keys keep the current values; missing time-outs take the fixed numbers.
    QCOMPARE(t.Settings().Port, QStringLiteral("/dev/ttyUSB3"));
    QCOMPARE(t.Settings().Parity, QStringLiteral("Mark"));
    QCOMPARE(t.Settings().BaudRate, QStringLiteral("57600"));
    QCOMPARE(t.Settings().ReadInterval, 50);
    QCOMPARE(t.Settings().WriteTotalConstant, 100);
}

void TestTransport::settingsRoundTrip() {
    TTestDirs dirs;
    QFile::remove(QDir(dirs.Work()).filePath("INI/ComPort.ini"));
    QDir(dirs.Work()).rmdir("INI"); // SaveSettings creates the directory
    TTransmitterSettings s;
    s.Port = "/dev/ttyUSB0";
    s.BaudRate = "Custom";
    s.CustomBaudRate = 31250;
    s.StopBits = "2";
    s.ReadInterval = 30;
    {
        TTransmitter t;
        t.SetSettings(s);
        QVERIFY(t.SaveSettings());
    }
    TTransmitter t;
    t.LoadSettings();
    QCOMPARE(t.Settings().Port, s.Port);
    QCOMPARE(t.Settings().BaudRate, QStringLiteral("Custom"));
    QCOMPARE(t.Settings().CustomBaudRate, 31250);
    QCOMPARE(t.Settings().StopBits, QStringLiteral("2"));
    QCOMPARE(t.Settings().ReadInterval, 30);
    // A standard rate writes no CustomBaudRate key.
    s.BaudRate = "115200";
    QFile::remove(t.SettingsFile());
    t.SetSettings(s);
    QVERIFY(t.SaveSettings());
    const TIniFile ini(t.SettingsFile());
    QVERIFY(!ini.ValueExists("Transmitter", "CustomBaudRate"));
    QCOMPARE(ini.ReadString("Transmitter", "BaudRate", ""), QStringLiteral("115200"));
}

void TestTransport::settingsUnreadable() {
    TTestDirs dirs;
    TTransmitter t;
    QVERIFY(QDir().mkpath(t.SettingsFile())); // a directory where the file should be
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.LoadSettings());
}

// A port held back by flow control: its queue never empties. The exchange ends with the
// transmit error within the write time-out instead of hanging, and nothing is reported as sent.
void TestTransport::drainNeverEndingQueue() {
    TTestDirs dirs;
    std::vector<TScriptPort::TCall> calls;
    auto* port = new TScriptPort(&calls);
    port->QueueLeft = 1;
    TTransmitter t{std::unique_ptr<ISerialPort>(port)};
    TTransmitterSettings s;
    s.WriteTotalConstant = 30;
    s.WriteTotalMultiplier = 2;
    t.SetSettings(s);
    int reports = 0;
    t.OnExchange = [&](TTransmitter*, const QByteArray&, bool, const QByteArray&) { ++reports; };
    QByteArray answer;
    const auto start = Clock::now();
    QVERIFY_THROWS_EXCEPTION(TSerialError, t.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    // The space-parity part never went out and nothing was read.
    QVERIFY(!Names(calls).contains(Space));
    QVERIFY(std::none_of(calls.begin(), calls.end(),
                         [](const auto& c) { return c.What.startsWith("read"); }));
    QCOMPARE(reports, 0);
    // The queue was asked for about the write time-out of one byte (32 ms), not for ever.
    QVERIFY(Clock::now() - start >= std::chrono::milliseconds(32));

    // The queue empties but the last byte never leaves the line: the same error.
    port->QueueLeft = 0;
    port->LineStuck = true;
    QVERIFY_THROWS_EXCEPTION(TSerialError, t.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QCOMPARE(reports, 0);
}

// One rule bounds the write and the drain: constant + multiplier x bytes, with the 60 s
// fallback when that is 0 (a drain limit of 1 ms would fail every exchange on a USB adapter).
void TestTransport::drainBoundIsTheWriteTimeout() {
    TSerialTimeouts timeouts;
    timeouts.WriteTotalConstant = 100;
    timeouts.WriteTotalMultiplier = 2;
    QCOMPARE(SerialWriteLimitMs(timeouts, 1), 102);
    QCOMPARE(SerialWriteLimitMs(timeouts, 10), 120);
    timeouts.WriteTotalConstant = 0;
    timeouts.WriteTotalMultiplier = 0;
    QCOMPARE(SerialWriteLimitMs(timeouts, 1), SerialSafetyLimitMs);
    timeouts.WriteTotalMultiplier = 1000000;
    QCOMPARE(SerialWriteLimitMs(timeouts, 1000), SerialSafetyLimitMs);

    TTestDirs dirs;
    std::vector<TScriptPort::TCall> calls;
    auto* port = new TScriptPort(&calls);
    port->Answer = Bytes({1, 0x20, 0x06, 17, 0x03, 0xE9, 1, 3, 0, 0});
    TTransmitter t{std::unique_ptr<ISerialPort>(port)};
    TTransmitterSettings s;
    s.WriteTotalConstant = 0;
    s.WriteTotalMultiplier = 0;
    t.SetSettings(s);
    QByteArray answer;
    QVERIFY(t.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QCOMPARE(port->WaitLimits.size(), size_t(1));
    QVERIFY2(port->WaitLimits[0] > SerialSafetyLimitMs - 1000,
             qPrintable(QString::number(port->WaitLimits[0])));
    s.WriteTotalConstant = 100;
    s.WriteTotalMultiplier = 2;
    t.SetSettings(s);
    QVERIFY(t.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QVERIFY(port->WaitLimits[1] <= 102 && port->WaitLimits[1] > 50);
}

// The 3 ms address gap is never shorter, and it sleeps: the thread spends next to no processor
// time in it.
void TestTransport::addressGapSleeps() {
    constexpr int gaps = 40;
    timespec cpu0{}, cpu1{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    const auto start = Clock::now();
    for (int i = 0; i < gaps; ++i) {
        const auto before = Clock::now();
        WaitAddressGap();
        QVERIFY(Clock::now() - before >= std::chrono::milliseconds(3));
    }
    const auto wallUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    const qint64 cpuUs =
        (cpu1.tv_sec - cpu0.tv_sec) * 1000000LL + (cpu1.tv_nsec - cpu0.tv_nsec) / 1000;
    QVERIFY(wallUs >= gaps * 3000);
    QVERIFY2(cpuUs * 4 < wallUs,
             qPrintable(QStringLiteral("cpu %1 us of %2 us").arg(cpuUs).arg(wallUs)));
}

void TestTransport::openMissingPort() {
    TTestDirs dirs;
    TTransmitter t;
    TTransmitterSettings s;
    s.Port = "/dev/ulmar-no-such-port";
    t.SetSettings(s);
    QStringList messages;
    t.OnMessage = [&](const QString& caption, const QString& text) { messages << caption << text; };
    QVERIFY(!t.OpenPort());
    QVERIFY(!t.IsOpen());
    // The reason stands on the next line, in Russian.
    QCOMPARE(messages, QStringList({QStringLiteral("Внимание"),
                                    QStringLiteral("Ошибка активации порта :/dev/ulmar-no-such-port"
                                                   "\nНет такого устройства")}));
    QCOMPARE(t.PortStatus().Error, messages.at(1));
    QVERIFY(!t.PortStatus().Open);
    // A file that is no terminal is refused as well.
    s.Port = QDir(dirs.Work()).filePath("INI");
    t.SetSettings(s);
    QVERIFY(!t.OpenPort());
    QCOMPARE(messages.size(), 4);
    QVERIFY(t.ClosePort());
}

void TestTransport::closedPortThrows() {
    TTestDirs dirs;
    TTransmitter t;
    TTransmitterSettings s;
    s.Port = "/dev/ulmar-no-such-port";
    t.SetSettings(s);
    int messages = 0;
    t.OnMessage = [&](const QString&, const QString&) { ++messages; };
    QByteArray answer;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.SendString(Bytes({1, 2, 1}), answer, true));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, t.SendKalist(KalistRequest(), answer, true));
    // Each exchange tries to open the port again, quietly.
    QCOMPARE(messages, 0);
    QVERIFY(t.PortStatus().Error.endsWith(QStringLiteral("Нет такого устройства")));
}

void TestTransport::exclusiveOnlyWhileOpen() {
    TPtyPair pty;
    QVERIFY(!pty.Slave.isEmpty());
    TPosixSerialPort port;
    TSerialPortSettings s;
    s.Port = pty.Slave;
    port.Open(s);
    QCOMPARE(pty.Exclusive(), 1);
    port.Close();
    QCOMPARE(pty.Exclusive(), 0);
    // A second program of ours finds the port busy and must not free it for the holder.
    TPosixSerialPort holder;
    holder.Open(s);
    TPosixSerialPort other;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, other.Open(s));
    QCOMPARE(pty.Exclusive(), 1);
    holder.Close();
    QCOMPARE(pty.Exclusive(), 0);
}

void TestTransport::reopenAsPlainUser() {
    if (::geteuid() != 0) {
        QCOMPARE(OpenThreeTimes(), 3);
        return;
    }
    // Root opens an exclusive terminal regardless, so the opens are made by "nobody".
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (!BecomePlainUser())
            ::_exit(100);
        ::_exit(OpenThreeTimes() == 3 ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    if (WEXITSTATUS(status) == 100)
        QSKIP("cannot become a plain user here");
    QCOMPARE(WEXITSTATUS(status), 0);
}

// A transmitter opened on the simulator's pseudo-terminal.
struct TLine {
    TTestDirs Dirs;
    TSimServer Server;
    TTransmitter Transmitter;
    explicit TLine(int gauges = 1, const QString& link = {})
        : Server(std::make_unique<TGaugeSim>(gauges)) {
        if (!Server.Start(link.isEmpty() ? QString() : QDir(Dirs.Work()).filePath(link)))
            qFatal("pseudo-terminal unavailable");
        TTransmitterSettings s;
        s.Port = Server.PortName();
        Transmitter.SetSettings(s);
    }
};

void TestTransport::exactBytesOnLine() {
    TLine line;
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    QVERIFY(line.Transmitter.SendString(Bytes({0xFF, 0x20, 0x01}), answer, true));
    QVERIFY(CheckCrc16(answer));
    QCOMPARE(answer.size(), 10);
    const auto records = line.Server.Records();
    QCOMPARE(records.size(), size_t(1));
    QCOMPARE(records[0].Request, Bytes({0xFF, 0x20, 0x01, 0x99, 0xF0}));
    QCOMPARE(records[0].Answer, answer);
    // (The 3 ms gap is checked on the scripted port: a pseudo-terminal delivers bytes through
    // a kernel work queue, so their arrival times do not show the gap reliably.)
    // The pseudo-terminal refuses or ignores stick parity; the request went out all the same.
    QCOMPARE(line.Transmitter.Port()->Parity(), TSerialParity::Space);
}

void TestTransport::kalistOnLine() {
    TLine line;
    line.Server.WithSim([](TGaugeSim& sim) {
        sim.Kalist.Enabled = true;
        sim.Gauges[0].SetLevel(3750);
    });
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    QVERIFY(line.Transmitter.SendKalist(KalistRequest(), answer, true));
    QCOMPARE(line.Server.Records().at(0).Request, Bytes({1, 0, 1, 0, 0xA0}));
    QVERIFY(CheckCrc8(answer));
    QCOMPARE(qint16(MakeWord(quint8(answer[5]), quint8(answer[6]))), qint16(800)); // 8 mA
}

void TestTransport::silentGaugeTimesOut() {
    TLine line;
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer("x");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!line.Transmitter.SendString(Bytes({7, 0x20, 0x01}), answer, true)); // nobody at 7
    const qint64 elapsed = timer.elapsed();
    QVERIFY(answer.isEmpty());
    // 150 + 2 x 140 ms, with room for a loaded machine.
    QVERIFY2(elapsed >= 425 && elapsed < 1500, qPrintable(QString::number(elapsed)));
    QCOMPARE(line.Server.RequestCount(), 1);
}

void TestTransport::pausedAnswerArrivesCut() {
    TLine line;
    line.Server.SetAnswerDelay(60);
    line.Server.WithSim([](TGaugeSim& sim) {
        sim.SetFault(TSimFault::Pause, TSimFaultRule{1, 0.0, 80, 8});
    });
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x02, 0x01}), answer, true));
    QCOMPARE(answer.size(), 8);
    QVERIFY(!CheckCrc16(answer));
    // The late rest is discarded before the next exchange, whose answer is whole.
    QTest::qWait(150);
    line.Server.SetAnswerDelay(5);
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x02, 0x01}), answer, true));
    QCOMPARE(answer.size(), 23);
    QVERIFY(CheckCrc16(answer));
}

void TestTransport::noOverlapOnLine() {
    TLine line(2);
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    int answered = 0;
    // A request nobody answers must have reached the simulator before the next one purges the
    // line: on a pseudo-terminal the purge also empties what the simulator has not read yet,
    // which a loaded machine can delay past the short current-meter time-out.
    int sent = 0;
    for (int i = 0; i < 40; ++i) {
        const int address = 1 + i % 3; // address 3 is nobody
        answered += line.Transmitter.SendString(Bytes({address, 0x02, 0x01}), answer, true);
        QVERIFY(line.Server.WaitForRequests(++sent, 2000));
        if (i % 5 == 0) {
            answered += line.Transmitter.SendKalist(KalistRequest(), answer, true);
            QVERIFY(line.Server.WaitForRequests(++sent, 2000));
        }
    }
    QCOMPARE(answered, 27); // addresses 1 and 2; the current meter is switched off
    QCOMPARE(line.Server.OverlapCount(), 0);
    const auto records = line.Server.Records();
    QCOMPARE(records.size(), size_t(48));
    for (size_t i = 1; i < records.size(); ++i)
        if (!records[i - 1].Answer.isEmpty())
            QVERIFY(records[i].FirstByteUs > records[i - 1].AnswerEndUs);
    QCOMPARE(line.Server.DroppedBytes(), 0);
}

void TestTransport::customBaudOnPty() {
    TLine line;
    TTransmitterSettings s = line.Transmitter.Settings();
    s.BaudRate = "Custom";
    s.CustomBaudRate = 250000;
    s.Parity = "Mark";
    line.Transmitter.SetSettings(s);
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x10, 0x03, 0xAA, 0x55}), answer, true));
    QCOMPARE(answer.mid(3, 2), Bytes({0x55, 0xAA}));
}

void TestTransport::unpluggedAdapter() {
    TLine line(1, "ttyULMAR");
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    line.Server.Unplug();
    // Every exchange now fails at once (error or no answer), without hanging.
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i) {
        bool answered = true;
        try {
            answered = line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true);
        } catch (const std::runtime_error&) {
            answered = false;
        }
        QVERIFY(!answered);
        try {
            answered = line.Transmitter.SendKalist(KalistRequest(), answer, true);
        } catch (const std::runtime_error&) {
            answered = false;
        }
        QVERIFY(!answered);
    }
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(line.Transmitter.ClosePort());
    // Plugged in again: the same port name opens and answers.
    QVERIFY(line.Server.Replug());
    QVERIFY(line.Transmitter.OpenPort());
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QVERIFY(CheckCrc16(answer));
}

// An adapter pulled while polling is reported once, in the words of the start-up message with
// the system's reason; the port comes back by itself when the device is there again.
void TestTransport::adapterBackReopensAlone() {
    TLine line(1, "ttyULMAR");
    QStringList messages;
    line.Transmitter.OnMessage = [&](const QString&, const QString& text) { messages << text; };
    QByteArray answer;
    // Never opened: the first exchange opens the port quietly.
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QVERIFY(line.Transmitter.PortStatus().Open);
    QVERIFY(messages.isEmpty());
    line.Server.Unplug();
    QFile::remove(line.Server.PortName()); // the device file goes with the adapter
    for (int i = 0; i < 4; ++i) {
        try {
            QVERIFY(!line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
        } catch (const std::runtime_error&) {
        }
    }
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0), QStringLiteral("Ошибка активации порта :") + line.Server.PortName() +
                                 QStringLiteral("\nНет такого устройства"));
    QCOMPARE(line.Transmitter.PortStatus().Error, messages.at(0));
    QVERIFY(!line.Transmitter.PortStatus().Open);
    // Plugged in again under the same name: the next exchange reopens the port and answers.
    QVERIFY(line.Server.Replug());
    QVERIFY(line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QVERIFY(CheckCrc16(answer));
    QVERIFY(line.Transmitter.PortStatus().Error.isEmpty());
    QCOMPARE(messages.size(), 1);
    // Pulled a second time: reported again, once.
    line.Server.Unplug();
    QFile::remove(line.Server.PortName());
    for (int i = 0; i < 3; ++i) {
        try {
            line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true);
        } catch (const std::runtime_error&) {
        }
    }
    QCOMPARE(messages.size(), 2);
}

// The simulator keeps the newest requests only.
void TestTransport::simulatorKeepsBoundedRecords() {
    TLine line;
    line.Server.SetRecordLimit(5);
    QVERIFY(line.Transmitter.OpenPort());
    QByteArray answer;
    for (int i = 0; i < 12; ++i)
        QVERIFY(line.Transmitter.SendString(Bytes({1, 0x20, 0x01}), answer, true));
    QVERIFY(line.Server.WaitForRequests(12, 5000));
    QCOMPARE(line.Server.RequestCount(), 12);
    const auto records = line.Server.Records();
    QCOMPARE(records.size(), size_t(5));
    // The newest ones, each with its answer and times.
    for (const TSimRecord& r : records)
        QVERIFY(!r.Answer.isEmpty() && r.AnswerEndUs >= r.AnswerStartUs && r.AnswerStartUs > 0);
    line.Server.ClearRecords();
    QCOMPARE(line.Server.RequestCount(), 0);
}

void TestTransport::simulatorProgram() {
    TTestDirs dirs;
    QProcess sim;
    sim.start(QStringLiteral(ULMAR_SIM_PATH),
              {"--gauges", "2", "--address", "5,6", "--plant", "100,200", "--kalist", "--delay",
               "1", "--fault-error", "count=1,value=2"});
    QVERIFY(sim.waitForStarted(5000));
    QVERIFY(sim.waitForReadyRead(5000));
    const QString port = QString::fromLocal8Bit(sim.readLine()).trimmed();
    QVERIFY(port.startsWith("/dev/"));
    TTransmitter t;
    TTransmitterSettings s;
    s.Port = port;
    t.SetSettings(s);
    QVERIFY(t.OpenPort());
    QByteArray answer;
    QVERIFY(t.SendString(Bytes({5, 0x20, 0x01}), answer, true));
    QCOMPARE(answer, TGaugeSim::WithCrc16(Bytes({5, 0xFA, 0x02, 2})));
    QVERIFY(t.SendString(Bytes({5, 0x20, 0x01}), answer, true));
    QCOMPARE(answer.mid(3, 3), Bytes({17, 0, 100}));
    QVERIFY(t.SendString(Bytes({6, 0x20, 0x01}), answer, true));
    QCOMPARE(answer.mid(3, 3), Bytes({17, 0, 200}));
    QVERIFY(t.SendKalist(KalistRequest(), answer, true));
    QVERIFY(CheckCrc8(answer));
    t.ClosePort();
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    // A bad option value ends the program with an error.
    QProcess bad;
    bad.start(QStringLiteral(ULMAR_SIM_PATH), {"--fault-cut", "count=x"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestTransport)
#include "tst_transport.moc"
