#include "uTransmitter.h"

#include "uFrame.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <grp.h>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace {

const QString Section = QStringLiteral("Transmitter");

// The entry of the list equal to text without regard to case, or fallback.
QString MatchChoice(const QStringList& choices, const QString& text, const QString& fallback) {
    for (const QString& c : choices)
        if (c.compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return c;
    return fallback;
}

// A time-out from the file: the fixed default when missing, unreadable or negative.
int ReadTimeout(const TIniFile& ini, const char* key, int fixed) {
    const qint64 v = ini.ReadInteger(Section, QString::fromLatin1(key), fixed);
    return v >= 0 && v <= 3600000 ? static_cast<int>(v) : fixed;
}

// The name of the group that owns the file, or empty.
QString OwnerGroup(const QString& path) {
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0)
        return QString();
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (::getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found)
        return QString();
    return QString::fromLocal8Bit(found->gr_name);
}

} // namespace

void WaitAddressGap() {
    timespec until{};
    ::clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += 3000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_nsec -= 1000000000L;
        ++until.tv_sec;
    }
    // An absolute deadline: a sleep cut short by a signal goes on to the same moment.
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

QString PortErrorReason(int error, const QString& portName) {
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("Нет такого устройства");
    case EACCES:
    case EPERM: {
        const QString group = OwnerGroup(portName);
        return group.isEmpty()
                   ? QStringLiteral("Нет прав доступа к порту: пользователь должен входить в "
                                    "группу, которой принадлежит устройство")
                   : QStringLiteral("Нет прав доступа к порту: пользователь должен входить в "
                                    "группу «%1», которой принадлежит устройство")
                         .arg(group);
    }
    case EBUSY:
    case EWOULDBLOCK:
        return QStringLiteral("Порт занят другой программой");
    case ENOTTY:
        return QStringLiteral("Устройство не является последовательным портом");
    case EIO:
        return QStringLiteral("Ошибка ввода-вывода: устройство отключено");
    case 0:
        return QStringLiteral("Устройство отключено");
    default:
        return QStringLiteral("Системная ошибка %1 (%2)")
            .arg(error)
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

TAnswerEnd GaugeAnswerEnd(const QByteArray& request, const QByteArray& bytes, int count) {
    const auto at = [](const QByteArray& b, int i) { return static_cast<quint8>(b.at(i)); };
    if (request.size() < 2 || bytes.isEmpty())
        return request.size() < 2 ? TAnswerEnd::Silence : TAnswerEnd::More;
    // An answer from another gauge is not judged early: the line may carry two answers.
    if (at(request, 0) != 0xFF && at(bytes, 0) != at(request, 0))
        return TAnswerEnd::Silence;
    if (bytes.size() < 3)
        return TAnswerEnd::More;
    const int length = at(bytes, 2); // counts itself and the payload
    const int total = length + 4;    // address, command, length and payload, CRC-16
    if (length < 1 || total > count)
        return TAnswerEnd::Silence;
    if (bytes.size() < total)
        return TAnswerEnd::More;
    if (bytes.size() > total || !CheckCrc16(bytes))
        return TAnswerEnd::Silence;
    const quint8 command = at(bytes, 1);
    if (command == 0xFA)
        return length == 2 ? TAnswerEnd::Complete : TAnswerEnd::Silence;
    return command == at(request, 1) ? TAnswerEnd::Complete : TAnswerEnd::Silence;
}

TAnswerEnd KalistAnswerEnd(const QByteArray& bytes) {
    if (bytes.size() < KalistAnswerSize)
        return TAnswerEnd::More;
    return bytes.size() == KalistAnswerSize && CheckCrc8(bytes) ? TAnswerEnd::Complete
                                                                : TAnswerEnd::Silence;
}

QString TTransmitterSettings::DefaultPortName() {
#ifdef Q_OS_WIN
    return QStringLiteral("COM1");
#else
    return QStringLiteral("/dev/ttyS0");
#endif
}

const QStringList& TTransmitterSettings::BaudRateNames() {
    static const QStringList names{"Custom", "110",    "300",    "600",   "1200",  "2400",
                                   "4800",   "9600",   "14400",  "19200", "38400", "56000",
                                   "57600",  "115200", "128000", "256000"};
    return names;
}

const QStringList& TTransmitterSettings::DataBitsNames() {
    static const QStringList names{"5", "6", "7", "8"};
    return names;
}

const QStringList& TTransmitterSettings::StopBitsNames() {
    static const QStringList names{"1", "1.5", "2"};
    return names;
}

const QStringList& TTransmitterSettings::ParityNames() {
    static const QStringList names{"None", "Odd", "Even", "Mark", "Space"};
    return names;
}

const QStringList& TTransmitterSettings::FlowControlNames() {
    static const QStringList names{"Hardware", "Software", "None", "Custom"};
    return names;
}

TSerialTimeouts TTransmitterSettings::Timeouts() const {
    TSerialTimeouts t;
    t.ReadInterval = ReadInterval;
    t.ReadTotalConstant = ReadTotalConstant;
    t.ReadTotalMultiplier = ReadTotalMultiplier;
    t.WriteTotalConstant = WriteTotalConstant;
    t.WriteTotalMultiplier = WriteTotalMultiplier;
    return t;
}

QString TTransmitterSettings::LineText() const {
    return Port + QStringLiteral(", ") + QString::number(PortSettings().BaudRate) +
           QStringLiteral(" бод");
}

TSerialPortSettings TTransmitterSettings::PortSettings() const {
    TSerialPortSettings s;
    s.Port = Port;
    const QString baud = MatchChoice(BaudRateNames(), BaudRate, QStringLiteral("9600"));
    s.BaudRate = baud == QLatin1String("Custom") ? CustomBaudRate : baud.toInt();
    s.DataBits = MatchChoice(DataBitsNames(), DataBits, QStringLiteral("8")).toInt();
    const QString stop = MatchChoice(StopBitsNames(), StopBits, QStringLiteral("1"));
    s.StopBits = stop == QLatin1String("2")     ? TSerialStopBits::Two
                 : stop == QLatin1String("1.5") ? TSerialStopBits::OnePointFive
                                                : TSerialStopBits::One;
    static const TSerialParity parities[] = {TSerialParity::None, TSerialParity::Odd,
                                             TSerialParity::Even, TSerialParity::Mark,
                                             TSerialParity::Space};
    s.Parity = parities[ParityNames().indexOf(MatchChoice(ParityNames(), Parity, "None"))];
    const QString flow = MatchChoice(FlowControlNames(), FlowControl, QStringLiteral("Custom"));
    s.FlowControl = flow == QLatin1String("Hardware")   ? TSerialFlowControl::Hardware
                    : flow == QLatin1String("Software") ? TSerialFlowControl::Software
                                                        : TSerialFlowControl::None;
    s.Timeouts = Timeouts();
    return s;
}

TTransmitter::TTransmitter(std::unique_ptr<ISerialPort> port)
    : Port_(port ? std::move(port) : MakeSystemSerialPort()),
      SettingsFile_(JoinPath(StartIniDir(), QStringLiteral("ComPort.ini"))) {
    Port_->SetTimeouts(Settings_.Timeouts());
}

TTransmitter::~TTransmitter() {
    ClosePort();
}

void TTransmitter::SetSettings(const TTransmitterSettings& settings) {
    Settings_ = settings;
    Port_->SetTimeouts(Settings_.Timeouts());
}

void TTransmitter::LoadSettings() {
    // A file that is no regular file, too large or unreadable keeps the settings in force.
    const TIniFile ini(SettingsFile_);
    if (!ini.ReadError().isEmpty())
        throw std::runtime_error(ini.ReadError().toStdString());
    TTransmitterSettings s = Settings_;
    auto has = [&](const char* key) { return ini.ValueExists(Section, QString::fromLatin1(key)); };
    auto text = [&](const char* key) {
        return ini.ReadString(Section, QString::fromLatin1(key), QString());
    };
    // An empty name is no choice: the port in force stays.
    const QString port = text("Port").trimmed();
    if (!port.isEmpty()) {
        s.Port = port;
        PortConfigured_ = true;
    }
    if (has("BaudRate"))
        s.BaudRate = MatchChoice(TTransmitterSettings::BaudRateNames(), text("BaudRate"),
                                 QStringLiteral("9600"));
    if (s.BaudRate == QLatin1String("Custom")) {
        const qint64 rate = ini.ReadInteger(Section, QStringLiteral("CustomBaudRate"), -1);
        if (rate > 0 && rate <= 100000000)
            s.CustomBaudRate = static_cast<int>(rate);
    }
    if (has("DataBits"))
        s.DataBits = MatchChoice(TTransmitterSettings::DataBitsNames(), text("DataBits"),
                                 QStringLiteral("8"));
    if (has("StopBits"))
        s.StopBits = MatchChoice(TTransmitterSettings::StopBitsNames(), text("StopBits"),
                                 QStringLiteral("1"));
    if (has("Parity"))
        s.Parity = MatchChoice(TTransmitterSettings::ParityNames(), text("Parity"),
                               QStringLiteral("None"));
    if (has("FlowControl"))
        s.FlowControl = MatchChoice(TTransmitterSettings::FlowControlNames(), text("FlowControl"),
                                    QStringLiteral("Custom"));
    s.ReadInterval = ReadTimeout(ini, "ReadInterval", 50);
    s.ReadTotalConstant = ReadTimeout(ini, "ReadTotalConstant", 150);
    s.ReadTotalMultiplier = ReadTimeout(ini, "ReadTotalMultiplier", 2);
    s.WriteTotalConstant = ReadTimeout(ini, "WriteTotalConstant", 100);
    s.WriteTotalMultiplier = ReadTimeout(ini, "WriteTotalMultiplier", 2);
    // Off unless the file says 1: the line behaves as it always did.
    s.EndByLength = ini.ReadInteger(Section, QStringLiteral("EndByLength"), 0) == 1;
    SetSettings(s);
}

bool TTransmitter::SaveSettings() {
    TIniFile ini(SettingsFile_);
    const TTransmitterSettings& s = Settings_;
    ini.WriteString(Section, QStringLiteral("Port"), s.Port);
    ini.WriteString(Section, QStringLiteral("BaudRate"), s.BaudRate);
    if (s.BaudRate.compare(QLatin1String("Custom"), Qt::CaseInsensitive) == 0)
        ini.WriteInteger(Section, QStringLiteral("CustomBaudRate"), s.CustomBaudRate);
    ini.WriteString(Section, QStringLiteral("DataBits"), s.DataBits);
    ini.WriteString(Section, QStringLiteral("StopBits"), s.StopBits);
    ini.WriteString(Section, QStringLiteral("Parity"), s.Parity);
    ini.WriteString(Section, QStringLiteral("FlowControl"), s.FlowControl);
    ini.WriteInteger(Section, QStringLiteral("ReadInterval"), s.ReadInterval);
    ini.WriteInteger(Section, QStringLiteral("ReadTotalConstant"), s.ReadTotalConstant);
    ini.WriteInteger(Section, QStringLiteral("ReadTotalMultiplier"), s.ReadTotalMultiplier);
    ini.WriteInteger(Section, QStringLiteral("WriteTotalConstant"), s.WriteTotalConstant);
    ini.WriteInteger(Section, QStringLiteral("WriteTotalMultiplier"), s.WriteTotalMultiplier);
    ini.WriteInteger(Section, QStringLiteral("EndByLength"), s.EndByLength ? 1 : 0);
    const bool saved = ini.Save(true);
    if (saved)
        PortConfigured_ = true;
    return saved;
}

QString TTransmitter::DefaultPortNote() const {
    if (PortConfigured_)
        return QString();
    return QStringLiteral("порт не задан в настройках, используется ") + Settings_.Port +
           QStringLiteral(" (по умолчанию)");
}

bool TTransmitter::OpenPort(bool quiet) {
    try {
        Port_->Open(Settings_.PortSettings());
        PortWorks();
        return true;
    } catch (const TSerialError& e) {
        Port_->Close();
        PortFailed(e.Error, quiet ? TReport::Quiet : TReport::Always);
    } catch (const std::exception&) {
        Port_->Close();
        PortFailed(EIO, quiet ? TReport::Quiet : TReport::Always);
    }
    return false;
}

bool TTransmitter::ClosePort() noexcept {
    Port_->Close();
    {
        std::lock_guard lock(StatusMutex_);
        Open_ = false;
    }
    return !Port_->IsOpen();
}

bool TTransmitter::IsOpen() const {
    return Port_->IsOpen();
}

void TTransmitter::PortWorks() {
    std::lock_guard lock(StatusMutex_);
    Open_ = true;
    PortError_.clear();
    Reported_ = false;
}

void TTransmitter::PortFailed(int error, TReport report) {
    const QString text = QStringLiteral("Ошибка активации порта :") + Settings_.Port +
                         QStringLiteral("\n") + PortErrorReason(error, Settings_.Port);
    bool show = false;
    {
        std::lock_guard lock(StatusMutex_);
        Open_ = false;
        PortError_ = text;
        show = report == TReport::Always || (report == TReport::Once && !Reported_);
        if (report != TReport::Quiet)
            Reported_ = true;
    }
    if (!show || !OnMessage)
        return;
    // The message box belongs to the user-interface thread; the request thread only posts it
    // and goes on.
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() != app->thread()) {
        QMetaObject::invokeMethod(
            app, [handler = OnMessage, text] { handler(QStringLiteral("Внимание"), text); },
            Qt::QueuedConnection);
        return;
    }
    OnMessage(QStringLiteral("Внимание"), text);
}

void TTransmitter::EnsureOpen() {
    if (Port_->IsOpen())
        return;
    if (!OpenPort(true))
        throw std::runtime_error("port is not open");
}

void TTransmitter::PortLost(int error) {
    Port_->Close();
    // Asked at once, the system tells why: an unplugged adapter has no device file any more.
    try {
        Port_->Open(Settings_.PortSettings());
        PortWorks();
        return;
    } catch (const TSerialError& e) {
        error = e.Error;
    } catch (const std::exception&) {
    }
    Port_->Close();
    PortFailed(error, TReport::Once);
}

void TTransmitter::NoteAnswerTimes(std::chrono::steady_clock::time_point sent) {
    const ISerialPort::TReadTimes times = Port_->LastReadTimes();
    if (times.First == std::chrono::steady_clock::time_point())
        return;
    using Ms = std::chrono::duration<double, std::milli>;
    LastDelayMs_ = std::max(0.0, Ms(times.First - sent).count());
    LastDurationMs_ = std::max(0.0, Ms(times.Last - times.First).count());
}

TPortStatus TTransmitter::PortStatus() const {
    TPortStatus status;
    {
        std::lock_guard lock(StatusMutex_);
        status.Open = Open_;
        status.Error = PortError_;
    }
    status.ParityApplied = Port_->ParityApplied();
    status.EffectiveBaud = Port_->EffectiveBaudRate();
    status.RequestedBaud = Settings_.PortSettings().BaudRate;
    status.DefaultNote = DefaultPortNote();
    return status;
}

void TTransmitter::DrainBounded(qsizetype bytes) {
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(SerialWriteLimitMs(Settings_.Timeouts(), bytes));
    auto left = [&] {
        return static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                   .count()));
    };
    for (;;) {
        const int queued = Port_->OutputQueued();
        if (queued <= 0)
            break; // empty, or the port cannot tell: the line itself is asked next
        if (Clock::now() >= deadline)
            throw TSerialError("drain " + Settings_.Port.toStdString() + ": time-out", 0);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!Port_->WaitTransmitted(left()))
        throw TSerialError("drain " + Settings_.Port.toStdString() + ": time-out", 0);
}

void TTransmitter::DiscardTrailing() {
    // The last read ended without waiting for the silence: bytes that still trail its answer
    // are let pass and dropped, so that they cannot be read as the next answer. A quiet line
    // costs nothing here.
    if (LastByLength_) {
        LastByLength_ = false;
        const int quiet = Settings_.ReadInterval > 0 ? Settings_.ReadInterval : 50;
        Port_->DiscardTrailing(quiet, quiet + Settings_.ReadTotalConstant +
                                          Settings_.ReadTotalMultiplier * GaugeReadCount);
    }
}

bool TTransmitter::SendString(const QByteArray& request, QByteArray& answer, bool appendChecksum,
                              int count) {
    QByteArray frame = request;
    if (appendChecksum) {
        const quint16 crc = Crc16(request);
        frame.append(static_cast<char>(crc & 0xFF));
        frame.append(static_cast<char>(crc >> 8));
    }
    answer.clear();
    LastDelayMs_ = LastDurationMs_ = -1;
    EnsureOpen();
    try {
        DiscardTrailing();
        Port_->Purge();
        if (!frame.isEmpty()) {
            Port_->SetParity(TSerialParity::Mark);
            Port_->Write(frame.left(1));
            DrainBounded(1);
            WaitAddressGap();
            Port_->SetParity(TSerialParity::Space);
            Port_->Write(frame.mid(1));
        }
        const auto sent = std::chrono::steady_clock::now();
        if (Settings_.EndByLength && frame.size() >= 2) {
            const TAnswerEndRule rule = [&frame, count](const QByteArray& bytes) {
                return GaugeAnswerEnd(frame, bytes, count);
            };
            answer = Port_->ReadAnswer(count, rule);
            LastByLength_ = rule(answer) == TAnswerEnd::Complete;
        } else {
            answer = Port_->Read(count);
        }
        NoteAnswerTimes(sent);
        Port_->Purge();
    } catch (const TSerialError& e) {
        if (e.Gone)
            PortLost(e.Error);
        throw;
    }
    const bool answered = !answer.isEmpty();
    if (OnExchange)
        OnExchange(this, appendChecksum ? frame : QByteArray(), answered, answer);
    return answered;
}

bool TTransmitter::SendKalist(const QByteArray& request, QByteArray& answer, bool appendChecksum,
                              int count) {
    QByteArray frame = request;
    if (appendChecksum)
        frame.append(static_cast<char>(Crc8(request)));
    answer.clear();
    LastDelayMs_ = LastDurationMs_ = -1;
    EnsureOpen();
    try {
        Port_->SetParity(TSerialParity::None);
        DiscardTrailing();
        Port_->Purge();
        Port_->Write(frame);
        const auto sent = std::chrono::steady_clock::now();
        if (Settings_.EndByLength) {
            answer = Port_->ReadAnswer(count, KalistAnswerEnd);
            LastByLength_ = KalistAnswerEnd(answer) == TAnswerEnd::Complete;
            if (LastByLength_)
                Port_->Purge(); // what may trail the answer is not the next one's
        } else {
            answer = Port_->Read(count);
        }
        NoteAnswerTimes(sent);
    } catch (const TSerialError& e) {
        if (e.Gone)
            PortLost(e.Error);
        throw;
    }
    const bool answered = !answer.isEmpty();
    if (OnExchange)
        OnExchange(this, appendChecksum ? frame : QByteArray(), answered, answer);
    return answered;
}
