#include "uGaugeSim.h"

#include "uFrame.h"
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

namespace {

constexpr quint8 ErrUnknownCommand = 1;
constexpr quint8 ErrBadData = 3;

void AppendFloat(QByteArray& out, double value) {
    for (quint8 b : FloatToBytes(value))
        out.append(static_cast<char>(b));
}

void AppendWord(QByteArray& out, quint16 value) {
    out.append(static_cast<char>(value >> 8));
    out.append(static_cast<char>(value & 0xFF));
}

quint8 At(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes.at(i));
}

float FloatAt(const QByteArray& bytes, int i) {
    return static_cast<float>(
        BytesToFloat(At(bytes, i), At(bytes, i + 1), At(bytes, i + 2), At(bytes, i + 3)));
}

double Wave(qint64 ms, qint64 periodMs) {
    if (periodMs <= 0)
        return 0.0;
    return std::sin(2.0 * std::numbers::pi * static_cast<double>(ms % periodMs) /
                    static_cast<double>(periodMs));
}

bool Between(double value, double a, double b) {
    if (a == 0.0 && b == 0.0)
        return false;
    return value >= std::min(a, b) && value <= std::max(a, b);
}

// Replaces the last two bytes by the CRC-16 of the rest.
void Recrc(QByteArray& frame) {
    if (frame.size() < 3)
        return;
    frame.chop(2);
    frame = TGaugeSim::WithCrc16(frame);
}

} // namespace

TSimGauge::TSimGauge(quint8 address, quint16 plantNumber)
    : Address(address), PlantNumber(plantNumber) {
    Bytes[1] = 1;  // ModeImage
    Bytes[2] = 35; // TemperCompareTermostat
    Words[0] = plantNumber;
    Floats[KrPer] = 1.0;
    Floats[SmPer] = 1.0;
    Floats[Dist1] = 1000.0;
    Floats[Dist2] = 15000.0;
    Floats[KKalman] = 1.0;
    FillLinearTare(11);
    FillZeroArray(13);
}

void TSimGauge::FillZeroArray(int n) {
    n = std::clamp(n, 0, ZeroArraySize - 3);
    ZeroArray.fill(0);
    ZeroArray[0] = static_cast<quint16>(n);
    for (int k = 0; k < n; ++k)
        ZeroArray[3 + k] = static_cast<quint16>(400 + (k * 60000) / std::max(n, 1));
    ZeroArray[1] = n ? ZeroArray[3] : 0;
    ZeroArray[2] = n ? ZeroArray[3 + n - 1] : 65535;
}

void TSimGauge::FillLinearTare(int n) {
    const float empty = std::bit_cast<float>(0xFFFFFFFFu);
    TareLevels.fill(empty);
    TareVolumes.fill(empty);
    n = std::clamp(n, 0, TarePointCount);
    for (int k = 0; k < n; ++k) {
        const double share = n > 1 ? static_cast<double>(k) / (n - 1) : 0.0;
        TareLevels[k] = static_cast<float>(Floats[Dist2] * share);
        TareVolumes[k] = static_cast<float>(100.0 * share);
    }
}

void TSimGauge::SetLevel(double mm) {
    LevelMid = mm;
    LevelSwing = 0.0;
}

double TSimGauge::Level(qint64 ms) const {
    const double level = LevelMid + LevelSwing * Wave(ms, LevelPeriodMs);
    return std::clamp(level, 0.0, std::max(Floats[Dist2], 0.0));
}

double TSimGauge::Distance(qint64 ms) const {
    return Floats[Dist1] + Floats[Dist2] - Level(ms);
}

double TSimGauge::LevelFree(qint64 ms) const {
    return Floats[Dist2] - Level(ms);
}

double TSimGauge::Volume(qint64 ms) const {
    const double level = Level(ms);
    std::vector<std::pair<double, double>> points;
    for (int k = 0; k < TarePointCount; ++k)
        if (std::isfinite(TareLevels[k]) && std::isfinite(TareVolumes[k]))
            points.emplace_back(TareLevels[k], TareVolumes[k]);
    std::sort(points.begin(), points.end());
    if (points.size() < 2 || points.front().first == points.back().first)
        return Floats[Dist2] > 0 ? level / Floats[Dist2] * 100.0 : 0.0;
    if (level <= points.front().first)
        return points.front().second;
    for (size_t i = 1; i < points.size(); ++i) {
        const auto& [l0, v0] = points[i - 1];
        const auto& [l1, v1] = points[i];
        if (level <= l1)
            return l1 > l0 ? v0 + (v1 - v0) * (level - l0) / (l1 - l0) : v1;
    }
    return points.back().second;
}

double TSimGauge::Freq(qint64 ms) const {
    return Floats[KrPer] != 0.0 ? (Distance(ms) - Floats[SmPer]) / Floats[KrPer] : 0.0;
}

qint8 TSimGauge::TempSVCH(qint64 ms) const {
    return static_cast<qint8>(25 + std::lround(3.0 * Wave(ms, 120000)));
}

qint8 TSimGauge::TemperTermostat(qint64 ms) const {
    return static_cast<qint8>(static_cast<qint8>(Bytes[2]) + std::lround(Wave(ms, 90000)));
}

bool TSimGauge::Relay1(qint64 ms) const {
    return Between(Level(ms), Floats[Relay1Ust1], Floats[Relay1Ust2]);
}

bool TSimGauge::Relay2(qint64 ms) const {
    return Between(Level(ms), Floats[Relay2Ust1], Floats[Relay2Ust2]);
}

double TSimGauge::Current(qint64 ms) const {
    const double span = Floats[Dist2];
    return span > 0 ? 4.0 + 16.0 * Level(ms) / span : 4.0;
}

TGaugeSim::TGaugeSim(int gaugeCount, unsigned seed) : Random_(seed) {
    for (int i = 0; i < std::max(gaugeCount, 0); ++i)
        Gauges.emplace_back(static_cast<quint8>(i + 1), static_cast<quint16>(1001 + i));
}

void TGaugeSim::SetFault(TSimFault fault, const TSimFaultRule& rule) {
    Faults_[static_cast<int>(fault)] = rule;
}

const TSimFaultRule& TGaugeSim::Fault(TSimFault fault) const {
    return Faults_[static_cast<int>(fault)];
}

void TGaugeSim::ClearFaults() {
    Faults_.fill(TSimFaultRule{});
}

QByteArray TGaugeSim::WithCrc16(QByteArray frame) {
    const quint16 crc = Crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

bool TGaugeSim::Triggered(TSimFault fault) {
    TSimFaultRule& rule = Faults_[static_cast<int>(fault)];
    if (rule.Count > 0) {
        --rule.Count;
        return true;
    }
    if (rule.Probability > 0.0)
        return std::uniform_real_distribution<double>(0.0, 1.0)(Random_) < rule.Probability;
    return false;
}

bool TGaugeSim::WriteLocked(quint8 command, quint8 index) {
    const TSimFaultRule& rule = Fault(TSimFault::LockedWrite);
    return rule.Value == ((command << 8) | index) && Triggered(TSimFault::LockedWrite);
}

TSimAnswer TGaugeSim::Exchange(const QByteArray& request) {
    ++Requests;
    TSimAnswer answer;
    QByteArray kalist = KalistRequest();
    kalist.append(static_cast<char>(Crc8(kalist)));
    if (request == kalist) {
        ++KalistRequests;
        if (!Kalist.Enabled)
            return answer;
        answer.Bytes = KalistAnswer();
        ApplyFaults(answer, false, false);
    } else {
        if (request.size() < 5 || request.size() != At(request, 2) + 4 || !CheckCrc16(request)) {
            ++BadRequests;
            return answer;
        }
        const quint8 address = At(request, 0);
        const quint8 command = At(request, 1);
        ++CommandCounts[command];
        const bool broadcast = address == 255;
        for (TSimGauge& g : Gauges)
            if (broadcast || g.Address == address)
                answer.Bytes += GaugeAnswer(g, request);
        if (answer.Silent())
            return answer;
        const bool reading = (command == 0x02 || (command == 0x01 && request.size() > 5 &&
                                                  (At(request, 3) == 1 || At(request, 3) == 2 ||
                                                   At(request, 3) == 3 || At(request, 3) == 6))) &&
                             At(answer.Bytes, 1) == command;
        ApplyFaults(answer, true, reading);
    }
    if (!answer.Silent())
        ++Answers;
    return answer;
}

void TGaugeSim::ApplyFaults(TSimAnswer& answer, bool gauge, bool reading) {
    QByteArray& b = answer.Bytes;
    if (Triggered(TSimFault::Silence)) {
        b.clear();
        return;
    }
    if (gauge && Triggered(TSimFault::ErrorAnswer)) {
        const quint8 code = static_cast<quint8>(Fault(TSimFault::ErrorAnswer).Value);
        b = WithCrc16(QByteArray{b.left(1) + QByteArray("\xFA\x02", 2) +
                                 QByteArray(1, static_cast<char>(code))});
        reading = false;
    }
    if (gauge && b.size() >= 5 && Triggered(TSimFault::UnknownCommand)) {
        const int value = Fault(TSimFault::UnknownCommand).Value;
        b[1] = static_cast<char>(value ? value : 0x30);
        Recrc(b);
    }
    if (gauge && reading && Triggered(TSimFault::DeviceFault)) {
        const int offset = At(b, 1) == 0x02 ? 20 : 7;
        if (offset < b.size() - 2) {
            b[offset] = static_cast<char>(Fault(TSimFault::DeviceFault).Value);
            Recrc(b);
        }
    }
    if (gauge && b.size() >= 5 && Triggered(TSimFault::WrongAddress)) {
        const int value = Fault(TSimFault::WrongAddress).Value;
        b[0] = static_cast<char>(value ? value : At(b, 0) + 1);
        Recrc(b);
    }
    if (Triggered(TSimFault::BadChecksum))
        b[b.size() - 1] = static_cast<char>(At(b, b.size() - 1) ^ 0x5A);
    if (b.size() > 1 && Triggered(TSimFault::Cut)) {
        const int keep = Fault(TSimFault::Cut).Value;
        b.truncate(keep > 0 && keep < b.size() ? keep : b.size() / 2);
    }
    if (b.size() > 1 && Triggered(TSimFault::Pause)) {
        const TSimFaultRule& rule = Fault(TSimFault::Pause);
        answer.PauseAfter =
            rule.Position > 0 && rule.Position < b.size() ? rule.Position : b.size() / 2;
        answer.PauseMs = rule.Value > 0 ? rule.Value : 100;
    }
    if (!b.isEmpty() && Triggered(TSimFault::TrailingBytes)) {
        const TSimFaultRule& rule = Fault(TSimFault::TrailingBytes);
        const int n = rule.Value > 0 ? std::min(rule.Value, 1024) : 3;
        const qsizetype size = b.size();
        if (rule.Position > 0 && answer.PauseAfter < 0) {
            answer.PauseAfter = static_cast<int>(size);
            answer.PauseMs = rule.Position;
        }
        for (int i = 0; i < n; ++i)
            b.append(b.at(i % size));
    }
}

QByteArray TGaugeSim::KalistAnswer() const {
    double current = 0.0;
    if (Kalist.Gauge >= 0 && Kalist.Gauge < static_cast<int>(Gauges.size()))
        current = Gauges[Kalist.Gauge].Current(ClockMs_);
    current += Kalist.Offset;
    const long hundredths = std::clamp(std::lround(current * 100.0), -32768L, 32767L);
    const auto raw = static_cast<quint16>(static_cast<qint16>(hundredths));
    QByteArray b("\x01\x00\x01\x04\x00", 5);
    b.append(static_cast<char>(raw & 0xFF));
    b.append(static_cast<char>(raw >> 8));
    b.append(static_cast<char>(Crc8(b)));
    return b;
}

QByteArray TGaugeSim::GaugeAnswer(TSimGauge& g, const QByteArray& request) {
    const quint8 command = At(request, 1);
    const QByteArray p = request.mid(3, At(request, 2) - 1); // payload
    const qint64 t = ClockMs_;
    auto frame = [&](quint8 cmd, const QByteArray& payload) {
        QByteArray f;
        f.append(static_cast<char>(g.Address));
        f.append(static_cast<char>(cmd));
        f.append(static_cast<char>(payload.size() + 1));
        return WithCrc16(f + payload);
    };
    auto error = [&](quint8 code) { return frame(0xFA, QByteArray(1, static_cast<char>(code))); };
    auto matches = [&]() {
        return p.size() >= 3 && At(p, 0) == g.UnitType &&
               ((At(p, 1) << 8) | At(p, 2)) == g.PlantNumber;
    };
    QByteArray out;
    switch (command) {
    case 0x01: {
        if (p.isEmpty())
            return error(ErrBadData);
        const quint8 mode = At(p, 0);
        switch (mode) {
        case 0:
            AppendFloat(out, g.Freq(t));
            break;
        case 7:
            AppendFloat(out, g.FreqOpCh);
            break;
        case 1:
        case 2:
        case 3:
        case 6: {
            const double v = mode == 1   ? g.Distance(t)
                             : mode == 2 ? g.Level(t)
                             : mode == 3 ? g.LevelFree(t)
                                         : g.Volume(t) * 100.0;
            AppendFloat(out, v);
            out.append('\0'); // fault byte
            break;
        }
        default:
            return error(ErrBadData);
        }
        return frame(command, out);
    }
    case 0x02:
        AppendFloat(out, g.Distance(t));
        AppendFloat(out, g.Level(t));
        AppendFloat(out, g.LevelFree(t));
        AppendFloat(out, g.Volume(t) * 100.0);
        out.append(static_cast<char>((g.Relay1(t) ? 1 : 0) | (g.Relay2(t) ? 2 : 0)));
        out.append('\0');
        return frame(command, out);
    case 0x10:
        return frame(command, QByteArray("\x55\xAA", 2));
    case 0x20:
        out.append(static_cast<char>(g.UnitType));
        AppendWord(out, g.PlantNumber);
        out.append(static_cast<char>(g.HardVersion));
        out.append(static_cast<char>(g.SoftVersion));
        return frame(command, out);
    case 0x25:
        if (p.size() < 4 || !matches())
            return {}; // another gauge's plant number: silence, so that 255 stays usable
        if (At(p, 3) == 255)
            return error(ErrBadData);
        g.Address = At(p, 3);
        out.append(static_cast<char>(g.UnitType));
        AppendWord(out, g.PlantNumber);
        out.append(static_cast<char>(g.HardVersion));
        out.append(static_cast<char>(g.SoftVersion));
        return frame(command, out);
    case 0x60:
        if (!matches())
            return {};
        g.BootMode = true;
        return frame(command, {});
    case 0x81:
    case 0x82:
        return frame(command, {});
    case 0xA2:
        ++g.RomSaves;
        return frame(command, {});
    case 0x83: {
        if (p.size() < 2 || At(p, 1) < 1 || At(p, 1) > 16)
            return error(ErrBadData);
        for (int k = 0; k < At(p, 1); ++k)
            AppendWord(out, g.ZeroArray[(At(p, 0) + k) % TSimGauge::ZeroArraySize]);
        return frame(command, out);
    }
    case 0xA5:
        if (p.isEmpty() || At(p, 0) > 1)
            return error(ErrBadData);
        for (int k = 0; k < TSimGauge::TarePointCount; ++k)
            AppendFloat(out,
                        At(p, 0) == 0 ? double(g.TareLevels[k]) : double(g.TareVolumes[k]) * 100.0);
        return frame(command, out);
    case 0xA6:
        if (p.size() != 1 + 4 * TSimGauge::TarePointCount || At(p, 0) > 1)
            return error(ErrBadData);
        if (WriteLocked(command, At(p, 0)))
            return frame(command, {});
        for (int k = 0; k < TSimGauge::TarePointCount; ++k) {
            const float v = FloatAt(p, 1 + 4 * k);
            if (At(p, 0) == 0)
                g.TareLevels[k] = v;
            else
                g.TareVolumes[k] = std::isfinite(v) ? double(v) / 100.0 : double(v);
        }
        if (Triggered(TSimFault::TareStoreOther)) {
            const int value = Fault(TSimFault::TareStoreOther).Value;
            const int k = value >= 1 && value <= TSimGauge::TarePointCount ? value - 1 : 0;
            if (At(p, 0) == 0)
                g.TareLevels[k] = std::isfinite(g.TareLevels[k]) ? g.TareLevels[k] + 1.0f : 0.0f;
            else
                g.TareVolumes[k] = std::isfinite(g.TareVolumes[k]) ? g.TareVolumes[k] + 1.0 : 0.0;
        }
        return frame(command, {});
    case 0xB1:
        if (p.size() < 2 || At(p, 0) >= TSimGauge::ByteParamCount ||
            At(p, 0) == TSimGauge::TempSVCHIndex || At(p, 0) == TSimGauge::TemperTermostatIndex)
            return error(ErrBadData);
        if (!WriteLocked(command, At(p, 0)))
            g.Bytes[At(p, 0)] = At(p, 1);
        return frame(command, {});
    case 0xB2: {
        if (p.size() < 3 || At(p, 0) >= TSimGauge::WordParamCount)
            return error(ErrBadData);
        const auto w = static_cast<quint16>((At(p, 1) << 8) | At(p, 2));
        if (WriteLocked(command, At(p, 0)))
            return frame(command, {});
        g.Words[At(p, 0)] = w;
        if (At(p, 0) == 0)
            g.PlantNumber = w;
        return frame(command, {});
    }
    case 0xB3: {
        const int idx = p.isEmpty() ? -1 : At(p, 0);
        if (p.size() < 5 || idx >= TSimGauge::FloatParamCount || (idx >= 5 && idx <= 9))
            return error(ErrBadData);
        const float v = FloatAt(p, 1);
        const bool bad =
            !std::isfinite(v) ||
            ((idx == TSimGauge::Dist1 || idx == TSimGauge::Dist2) && v < 0.0f) ||
            (idx == TSimGauge::KKalman && (v < 0.0001f || v > 1.0f)) ||
            (idx == TSimGauge::Speed && (v < 0.0f || v > 99.999f)) ||
            (idx == TSimGauge::LevelKalibr && (v < 0.0f || v > g.Floats[TSimGauge::Dist2]));
        if (bad)
            return error(ErrBadData);
        if (!WriteLocked(command, static_cast<quint8>(idx)))
            g.Floats[idx] = v;
        return frame(command, {});
    }
    case 0xB4: {
        if (p.isEmpty() || At(p, 0) >= TSimGauge::ByteParamCount)
            return error(ErrBadData);
        const int idx = At(p, 0);
        const quint8 v = idx == TSimGauge::TempSVCHIndex ? static_cast<quint8>(g.TempSVCH(t))
                         : idx == TSimGauge::TemperTermostatIndex
                             ? static_cast<quint8>(g.TemperTermostat(t))
                             : g.Bytes[idx];
        return frame(command, QByteArray(1, static_cast<char>(v)));
    }
    case 0xB5:
        if (p.isEmpty() || At(p, 0) >= TSimGauge::WordParamCount)
            return error(ErrBadData);
        AppendWord(out, At(p, 0) == 0 ? g.PlantNumber : g.Words[At(p, 0)]);
        return frame(command, out);
    case 0xB6: {
        const int idx = p.isEmpty() ? -1 : At(p, 0);
        if (idx < 0 || idx >= TSimGauge::FloatParamCount || (idx >= 5 && idx <= 10))
            return error(ErrBadData);
        AppendFloat(out, g.Floats[idx]);
        return frame(command, out);
    }
    default:
        return error(ErrUnknownCommand);
    }
}
