#pragma once
// The device object: everything the utility knows about the one connected gauge, and the
// application of a decoded answer to it. Its fields are read and written directly by the windows
// and commands. The values a request carries are read on the thread that executes the command
// (RequestValues); Apply and every setter run on the user-interface thread; the archive reads the
// typed values from the request thread right after an apply. The object takes no lock: the
// exchange lock of the request cycle keeps one command between encoding and applying.

#include "IOData.h"
#include "uWire.h"
#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class TUlmar;

// Identification answer handler: (sender, address, unit type, plant number, hard, soft).
using TOn32 = std::function<void(TUlmar* sender, quint8 systemAddress, quint8 unitType,
                                 quint16 plantNumber, quint8 hardVersion, quint8 softVersion)>;

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
    // "Установить" took the row's readings since the template, the tape value or a parameter
    // file last set the row: a service record counts only such rows as measured.
    bool Taken = false;
};

class TUlmar : public QObject {
    Q_OBJECT
public:
    static constexpr int ZeroArraySize = ::ZeroArraySize;
    static constexpr int TarePointCount = ::TarePointCount;
    static constexpr int ProgonRowCount = 5;
    static constexpr int MaxRequestCode = UlmarCmd::MaxRequestCode;

    // What an apply or an edit changed; bit flags of Changed.
    enum TChange : unsigned {
        ChangeReadings = 1,
        ChangeParameters = 2,
        ChangeSignature = 4,
        ChangeZeroArray = 8,
        ChangeTare = 16,
        ChangeLink = 32
    };

    TUlmar();
    ~TUlmar() override;
    TUlmar(const TUlmar&) = delete;
    TUlmar& operator=(const TUlmar&) = delete;

    QString Name;
    int Tag = 0;

    // Applies a decoded gauge answer to the fields and typed values and counts the exchange's
    // outcome (ErrorCode, ErrorText, FailureCount, LinkState). Returns what it changed, and posts
    // Changed with it to the object's thread: the signal arrives after the exchange has ended,
    // so a receiver may start another exchange. Never throws on any answer.
    unsigned Apply(const TAnswer& answer);
    // The same for a decoded КАЛИСТ-1 answer (CurrentOutput).
    unsigned ApplyKalist(const TAnswer& answer);
    // Emits Changed at once, for edits made outside Apply (dialogs, parameter files).
    void NotifyChanged(unsigned what);

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

    // The value of a field as a request carries it (integers exact in a double).
    double WireValue(TWireField field) const;

signals:
    // Emitted on the object's thread after Apply (posted) and by NotifyChanged (at once).
    void Changed(unsigned what);

private:
    friend void CopyGaugeState(const TUlmar& from, TUlmar& to);
    void CountSuccess();
    void CountFailure(int code, const QString& text);
    unsigned ApplyGaugeAnswer(const TAnswer& answer);
    // Fault byte of a reading answer; false when the fault was reported and nothing is stored.
    bool HandleReadingFault(quint8 fault, bool toBlackBox);
    // Stores a parameter value read from the gauge; returns what it changed.
    unsigned StoreValue(const TAnswer& answer);
    void PostChanged(unsigned what);

    std::atomic<unsigned> ChangedPending_{0};
    bool BlackBoxFailed_ = false; // a fault log write has failed and been said
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

// The values that the request of a code carries, taken from the device object; the address is
// the object's SystemAddress. Read it where the object may be read (under the exchange lock).
TRequestValues RequestValues(const TUlmar& ulmar, int code);
// The request frame of a code without its checksum, with the device object's values. Throws
// TCodecError("Ошибка формирования запроса") for codes outside 0..79 and for code 13 with a
// ZeroBlock outside 1..32.
QByteArray EncodeRequest(const TUlmar& ulmar, int code);

// Moves what is known of one gauge from one device object to another when the current gauge of
// the line changes: identity, readings with their times, the fault and link state, parameters,
// the tare table and the zero array. The address, the run-test table (the technician's own
// work) and the КАЛИСТ-1 current (the line's meter, not a gauge's) stay with `to`. Emits
// nothing; the caller tells the windows.
void CopyGaugeState(const TUlmar& from, TUlmar& to);
