#pragma once
// The device object: everything the utility knows about the one connected gauge, the request
// builder and the answer parsers. Its fields are read and written directly by the windows and
// commands. BuildRequest runs on the thread that executes the command; the parsers and every
// setter run on the user-interface thread; the archive reads the typed values from the request
// thread right after a parse. The object takes no lock: the exchange lock of the request cycle
// keeps one command between building and parsing.

#include "values/IOData.h"
#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TUlmar;

// Identification answer handler: (sender, address, unit type, plant number, hard, soft).
using TOn32 = std::function<void(TUlmar* sender, quint8 systemAddress, quint8 unitType,
                                 quint16 plantNumber, quint8 hardVersion, quint8 softVersion)>;

// Failure of BuildRequest: a code of 80 or more, or a zero block outside 1..32.
class TUlmarError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TTarePoint {
    double Level = 0.0;
    double Volume = 0.0; // %
};

// One row of the run-test table.
struct TProgonPoint {
    double Ruletka = 0.0;       // tape-measure distance, mm
    double Sample = 0.0;        // reference level, mm
    double Value = 0.0;         // measured level, mm
    double dValue = 0.0;        // mm
    double CurrentSample = 0.0; // mA
    double CurrentValue = 0.0;  // measured current, mA
    double dCurrentValue = 0.0; // mA
};

class TUlmar {
public:
    static constexpr int ZeroArraySize = 256;
    static constexpr int TarePointCount = 32;
    static constexpr int ProgonRowCount = 5;
    static constexpr int MaxRequestCode = 79;

    TUlmar();
    ~TUlmar();
    TUlmar(const TUlmar&) = delete;
    TUlmar& operator=(const TUlmar&) = delete;

    QString Name;
    int Tag = 0;

    // Request frame of a command code 0 to 79 without its checksum (see the command table);
    // records the pending fields. Throws TUlmarError("Ошибка формирования запроса") for 80+
    // and for code 13 with a ZeroBlock outside 1..32.
    QByteArray BuildRequest(int code);
    // Parses a gauge answer into the fields and typed values; never throws.
    void ParseAnswer(const QByteArray& answer);
    // Parses a КАЛИСТ-1 answer into CurrentOutput; never throws.
    void ParseKalistAnswer(const QByteArray& answer);

    void SetLinkError(int code, const QString& text);
    void UpdateRanges();
    // Appends a line to DATA/<day>/BlackBox.txt beside the program; failures are swallowed.
    void WriteBlackBox(quint8 fault);

    void ClearZeroArray();
    void LoadSampleZeroArray();
    void ClearTareTable();
    // Clears the table, then copies at most 32 rows (level, volume) into points 1, 2, ….
    void LoadTareTable(const std::vector<std::array<double, 2>>& rows);
    // The text that the tare table message box shows.
    QString TareTableText() const;

    void FillProgonTemplate();
    void RecalcProgon();
    void RecalcProgonCurrents();

    QString ModeProcessingText() const;
    QString ModeImageText() const;
    QString ModeCurrentOutputText() const;
    QString ModeChannelText() const;
    QString ProgramTypeText() const;
    QString ModeInputFilterText() const;
    QString ModeTermostatText() const;
    QString ModeCalibrText() const;

    // Texts of the device fault codes 1 to 9 and of the error-answer codes 1 to 4.
    static QString FaultText(int fault);      // "Ошибка неизвестна" outside 1 to 9
    static QString ErrorAnswerText(int code); // empty outside 1 to 4

    // --- fields, in declaration order ---
    quint8 UnitType = 17;
    quint8 SystemAddress = 255;
    quint8 SystemAddressNew = 0;
    quint16 PlantNumberNew = 0;
    quint8 PendingReadMode = 0;
    quint8 PendingTarePart = 0;
    quint8 PendingByteParam = 0;
    quint8 PendingWordParam = 0;
    quint8 PendingFloatParam = 0;
    TOn32 On32;
    quint16 FailureCount = 0;

    quint16 ErrorMax() const { return ErrorMax_; }
    // A different value also resets FailureCount.
    void SetErrorMax(quint16 value);

    quint16 PlantNumber = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
    quint16 Usil = 0;

    double Dist1() const { return Dist1_; }
    void SetDist1(double value); // negative or non-finite ignored
    double Dist2() const { return Dist2_; }
    void SetDist2(double value); // negative or non-finite ignored
    qint32 ProgonMode() const { return ProgonMode_; }
    void SetProgonMode(qint32 value); // 1..5; 5 fills the template
    quint16 PPCalc() const { return PPCalc_; }
    void SetPPCalc(quint16 value); // 0..8 and 1000..1008

    double KrPer = 1.0;
    double SmPer = 1.0;
    double KrPerOpCh = 0.0;
    double SmPerOpCh = 0.0;

    double KKalman() const { return KKalman_; }
    void SetKKalman(double value); // 0.0001..1
    double Speed() const { return Speed_; }
    void SetSpeed(double value); // 0..99.999
    double LevelKalibr() const { return LevelKalibr_; }
    void SetLevelKalibr(double value); // 0..Dist2

    // Points 1 to 32 are TareTable[0] to TareTable[31].
    std::array<TTarePoint, TarePointCount> TareTable{};
    double Relay1Ust1 = 0.0;
    double Relay1Ust2 = 0.0;
    double Relay2Ust1 = 0.0;
    double Relay2Ust2 = 0.0;
    quint16 UserPsw = 0;
    quint8 ModeProcessing = 0;
    quint8 ModeImage = 1;
    qint8 TemperCompareTermostat = 35;
    quint8 ModeCurrentOutput = 0;
    quint8 ModeChannel = 0;
    quint8 ProgramType = 0;
    qint8 TemperTermostat = 0;
    quint8 ModeInputFilter = 0;
    quint8 ModeTermostat = 0;
    quint8 ModeCalibr = 0;
    quint8 TypeSVCH = 0;
    quint16 PlantNumberSVCH = 0;
    qint32 ErrorCode = 0;
    QString ErrorText;

    std::unique_ptr<TIOThreeStates> EnabledState;
    std::unique_ptr<TIOThreeStates> LinkState;
    std::unique_ptr<TDescriptionOfValue> Description;
    std::unique_ptr<TIODouble> Level;
    std::unique_ptr<TIODouble> LevelFree;
    std::unique_ptr<TIODouble> Distance;
    std::unique_ptr<TIODouble> Volume;
    std::unique_ptr<TIODouble> Freq;
    std::unique_ptr<TIODouble> FreqOpCh;
    std::unique_ptr<TIODouble> TempSVCH;
    std::unique_ptr<TIOThreeStates> Relay1;
    std::unique_ptr<TIOThreeStates> Relay2;
    std::unique_ptr<TIODouble> CurrentOutput;

    // Entries 1 to 256 are ZeroArray[0] to ZeroArray[255].
    std::array<qint32, ZeroArraySize> ZeroArray{};
    // Block of 8 entries that the next block read (code 13) asks for, 1 to 32.
    qint32 ZeroBlock = 1;

    double FreqCalibr = 0.0;
    double kkk1 = 0.0;
    double kkk2 = 0.0;
    double kkk3 = 0.0;
    std::array<TProgonPoint, ProgonRowCount> ProgonPoints{};
    double ProgonWindow = 300.0;
    QString PPM;
    QString NNZ;

    bool Enabled() const;
    void SetEnabled(bool value);

    // The LinkState code (0 before the first answer, 1 accepted, 2 failure reported).
    quint8 LinkStateCode() const;
    // Counts the parses that stored new readings (distance, level, free space, volume,
    // frequencies, module temperature, current): the archive takes a poll only when this moved.
    quint64 ReadingsStored() const { return ReadingsStored_; }

private:
    void CountSuccess();
    void CountFailure(int code, const QString& text);
    void ParseGaugeAnswer(const QByteArray& answer);
    void ParseKalist(const QByteArray& answer);
    // Fault byte of a reading answer; false when the fault was reported and nothing is stored.
    bool HandleReadingFault(quint8 fault, bool toBlackBox);
    void StoreByteParam(quint8 value);
    void StoreWordParam(quint16 value);
    void StoreFloatParam(double value);

    quint64 ReadingsStored_ = 0;
    quint16 ErrorMax_ = 0;
    double Dist1_ = 1000.0;
    double Dist2_ = 15000.0;
    qint32 ProgonMode_ = 0;
    quint16 PPCalc_ = 0;
    double KKalman_ = 1.0;
    double Speed_ = 0.0;
    double LevelKalibr_ = 0.0;
};

// Command codes by the name of the action that issues them (the request builder's table).
namespace UlmarCmd {
enum : int {
    FreqRead = 0,
    DistanceRead = 1,
    LevelRead = 2,
    LevelFreeRead = 3,
    VolumeRead = 4,
    FreqOpChRead = 5,
    LevelAllRead = 6,
    Echo = 7,
    SignatureRead = 8,
    SystemAddressWrite = 9,
    BootLoader = 10,
    InitReadStart = 11,
    InitReadStop = 12,
    ZeroBlockRead = 13,
    WriteToPZU = 14,
    TaraLevelRead = 15,
    TaraVolumeRead = 16,
    TaraLevelWrite = 17,
    TaraVolumeWrite = 18,
    ModeProcessingWrite = 19,
    ModeImageWrite = 20,
    TemperCompareTermostatWrite = 21,
    ModeCurrentOutputWrite = 22,
    ModeChannelWrite = 23,
    ProgramTypeWrite = 24,
    ModeInputFilterWrite = 25,
    ModeTermostatWrite = 26,
    ModeCalibrWrite = 27,
    TypeSVCHWrite = 28,
    PlantNumberWrite = 29,
    UserPswWrite = 30,
    PlantNumberSVCHWrite = 31,
    KrPerWrite = 32,
    SmPerWrite = 33,
    Dist1Write = 34,
    Dist2Write = 35,
    KKalmanWrite = 36,
    LevelKalibrWrite = 37,
    Relay1Ust1Write = 38,
    Relay1Ust2Write = 39,
    Relay2Ust1Write = 40,
    Relay2Ust2Write = 41,
    KrPerOpChWrite = 42,
    SmPerOpChWrite = 43,
    FreqCalibrWrite = 44,
    KKK1Write = 45,
    KKK2Write = 46,
    KKK3Write = 47,
    SpeedWrite = 48,
    ModeProcessingRead = 49,
    ModeImageRead = 50,
    TemperCompareTermostatRead = 51,
    ModeCurrentOutputRead = 52,
    ModeChannelRead = 53,
    ProgramTypeRead = 54,
    TemperSVChModuleRead = 55,
    TemperTermostatRead = 56,
    ModeInputFilterRead = 57,
    ModeTermostatRead = 58,
    ModeCalibrRead = 59,
    TypeSVCHRead = 60,
    PlantNumberRead = 61,
    UserPswRead = 62,
    PlantNumberSVCHRead = 63,
    KrPerRead = 64,
    SmPerRead = 65,
    Dist1Read = 66,
    Dist2Read = 67,
    KKalmanRead = 68,
    Relay1Ust1Read = 69,
    Relay1Ust2Read = 70,
    Relay2Ust1Read = 71,
    Relay2Ust2Read = 72,
    KrPerOpChRead = 73,
    SmPerOpChRead = 74,
    FreqCalibrRead = 75,
    KKK1Read = 76,
    KKK2Read = 77,
    KKK3Read = 78,
    SpeedRead = 79,
    KalistCurrent = 80 // archive code of the КАЛИСТ-1 reading; not a gauge command
};
} // namespace UlmarCmd
