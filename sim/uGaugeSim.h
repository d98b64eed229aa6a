#pragma once
// A virtual gauge set and a virtual КАЛИСТ-1 current meter that answer request frames as the
// devices on the line would. Pure over bytes: a request frame in, the answer bytes out, with
// the clock given by the caller. Not thread-safe: one thread at a time (TSimServer locks).

#include <QByteArray>
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

// One virtual gauge: identity, every parameter, tare table, zero array and product level.
struct TSimGauge {
    static constexpr int ByteParamCount = 12;
    static constexpr int WordParamCount = 3;
    static constexpr int FloatParamCount = 22;
    static constexpr int TarePointCount = 32;
    static constexpr int ZeroArraySize = 256;

    // Float parameter indexes.
    enum : int {
        KrPer = 0,
        SmPer = 1,
        Dist1 = 2,
        Dist2 = 3,
        KKalman = 4,
        LevelKalibr = 10,
        Relay1Ust1 = 11,
        Relay1Ust2 = 12,
        Relay2Ust1 = 13,
        Relay2Ust2 = 14,
        KrPerOpCh = 15,
        SmPerOpCh = 16,
        FreqCalibr = 17,
        kkk1 = 18,
        kkk2 = 19,
        kkk3 = 20,
        Speed = 21
    };
    // Byte parameter indexes with a meaning of their own in the model.
    enum : int { TempSVCHIndex = 6, TemperTermostatIndex = 7 };

    TSimGauge(quint8 address = 1, quint16 plantNumber = 1);

    quint8 Address = 1;
    quint8 UnitType = 17;
    quint16 PlantNumber = 1; // word parameter 0
    quint8 HardVersion = 1;
    quint8 SoftVersion = 3;
    std::array<quint8, ByteParamCount> Bytes{};   // 6 and 7 are measured temperatures
    std::array<quint16, WordParamCount> Words{};  // index 0 mirrors PlantNumber
    std::array<double, FloatParamCount> Floats{}; // indexes 5 to 9 unused
    std::array<float, TarePointCount> TareLevels{};
    // %, the received single / 100 kept in double so that it reads back as the same single;
    // NaN (FF FF FF FF) marks an empty point.
    std::array<double, TarePointCount> TareVolumes{};
    std::array<quint16, ZeroArraySize> ZeroArray{}; // entry 1 is ZeroArray[0]

    // Product level: LevelMid + LevelSwing * sin(2 pi t / LevelPeriodMs), mm, kept in 0..Dist2.
    double LevelMid = 7500.0;
    double LevelSwing = 2000.0;
    qint64 LevelPeriodMs = 600000;
    double FreqOpCh = 10000.0;

    // Set while the gauge is in its boot loader (after 0x60); it still answers.
    bool BootMode = false;
    int RomSaves = 0; // answers to 0xA2

    // Zero array with n positions: entry 1 = n, entry 2 = minimum, entry 3 = maximum, then the
    // n positions rising over the scale.
    void FillZeroArray(int n);
    // Tare table with a linear course from (0, 0 %) to (Dist2, 100 %) over n points, the rest
    // empty.
    void FillLinearTare(int n);
    // Fixes the level at the value (no motion).
    void SetLevel(double mm);

    // Readings at a time (ms since the simulator's start).
    double Level(qint64 ms) const;
    double Distance(qint64 ms) const;  // Dist1 + Dist2 - Level
    double LevelFree(qint64 ms) const; // Dist2 - Level
    double Volume(qint64 ms) const;    // % through the tare table, else Level / Dist2
    double Freq(qint64 ms) const;      // (Distance - SmPer) / KrPer
    qint8 TempSVCH(qint64 ms) const;
    qint8 TemperTermostat(qint64 ms) const;
    // Relay k is on while the level lies between its two set-points (both 0: off).
    bool Relay1(qint64 ms) const;
    bool Relay2(qint64 ms) const;
    // Current output 4..20 mA following the level over 0..Dist2.
    double Current(qint64 ms) const;
};

// The КАЛИСТ-1 current meter reading one gauge's current output.
struct TSimKalist {
    bool Enabled = false;
    int Gauge = 0;       // index of the gauge whose current it measures
    double Offset = 0.0; // mA added to the measured current
};

enum class TSimFault {
    Silence,        // no answer at all
    BadChecksum,    // last checksum byte altered
    Cut,            // answer cut short: Value bytes kept (0: half)
    Pause,          // answer paused for Value ms after Position bytes (0: half)
    ErrorAnswer,    // gauge answers 0xFA with code Value
    DeviceFault,    // reading answers (0x01 modes 1, 2, 3, 6 and 0x02) carry fault byte Value
    UnknownCommand, // the answer's command byte becomes Value (0: 0x30)
    // A locked gauge: a write of the parameter Value (command byte × 256 + index, 0xB302 for
    // dist.1; 0xA600 the tare levels, 0xA601 the tare volumes) is acknowledged but the old
    // value stays (Probability 1: every such write).
    LockedWrite,
    // The answer's address byte becomes Value (0: the address byte + 1), its checksum right: an
    // answer that seems to come from another gauge.
    WrongAddress,
    // A tare table write (0xA6) is acknowledged but point Value (1..32; 0: point 1) of the part
    // written is stored altered: one more (an empty point becomes 0).
    TareStoreOther,
    // Value bytes (0: 3) follow the answer: the answer's own bytes from its start, repeated, so
    // Value = the answer's size sends it twice. Position: ms of silence before them (0: none).
    TrailingBytes
};
constexpr int SimFaultCount = 11;

// A fault for the next Count answers, or for each answer with Probability (0..1).
struct TSimFaultRule {
    int Count = 0;
    double Probability = 0.0;
    int Value = 0;
    int Position = 0;
};

// The bytes to send back; a pause splits them (PauseAfter bytes, then PauseMs ms, the rest).
struct TSimAnswer {
    QByteArray Bytes;
    int PauseAfter = -1;
    int PauseMs = 0;
    bool Silent() const { return Bytes.isEmpty(); }
};

class TGaugeSim {
public:
    // gaugeCount gauges with addresses 1, 2, … and plant numbers 1001, 1002, …
    explicit TGaugeSim(int gaugeCount = 1, unsigned seed = 1);

    std::vector<TSimGauge> Gauges;
    TSimKalist Kalist;

    // The clock of the readings, ms since the start.
    void SetClockMs(qint64 ms) { ClockMs_ = ms; }
    qint64 ClockMs() const { return ClockMs_; }

    void SetFault(TSimFault fault, const TSimFaultRule& rule);
    const TSimFaultRule& Fault(TSimFault fault) const;
    void ClearFaults();

    // Answers one complete request frame (checksum included). A frame that is malformed, has a
    // bad checksum or reaches no device gives silence. Several gauges reached by address 255
    // answer at once: their answers run together on the line.
    TSimAnswer Exchange(const QByteArray& request);

    // Counters.
    int Requests = 0;    // frames handed in
    int BadRequests = 0; // malformed or bad checksum
    int Answers = 0;     // non-silent answers
    int KalistRequests = 0;
    std::map<quint8, int> CommandCounts; // gauge requests by command byte

    // A gauge frame (without checksum) with the checksum appended.
    static QByteArray WithCrc16(QByteArray frame);

private:
    QByteArray GaugeAnswer(TSimGauge& g, const QByteArray& request);
    QByteArray KalistAnswer() const;
    bool Triggered(TSimFault fault);
    // The write of that parameter is to be acknowledged and dropped (LockedWrite).
    bool WriteLocked(quint8 command, quint8 index);
    void ApplyFaults(TSimAnswer& answer, bool gauge, bool reading);

    qint64 ClockMs_ = 0;
    std::array<TSimFaultRule, SimFaultCount> Faults_{};
    std::mt19937 Random_;
};
