#pragma once
// The gauge's command set as one table, and the request encoder and answer decoder that read it.
// Each request code 0 to 79 has one row: the command byte, the length byte, the index byte (read
// mode, tare part or parameter index), the type of the value it carries or asks for, and the
// field of the gauge that the value belongs to. Each answer command byte has one row: the layout
// of its payload. Encode and Decode are pure functions over bytes: no device object, no globals,
// callable from any thread. What an answer means is taken from the request it answers.

#include <QByteArray>
#include <QString>
#include <array>
#include <span>
#include <stdexcept>

// Request codes by the name of the action that issues them.
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
constexpr int MaxRequestCode = 79;
} // namespace UlmarCmd

// The gauge's fields that a request carries or an answer fills.
enum class TWireField : quint8 {
    None,
    Freq,
    Distance,
    Level,
    LevelFree,
    Volume,
    FreqOpCh,
    TareLevels,
    TareVolumes,
    ModeProcessing,
    ModeImage,
    TemperCompareTermostat,
    ModeCurrentOutput,
    ModeChannel,
    ProgramType,
    TempSVCH,
    TemperTermostat,
    ModeInputFilter,
    ModeTermostat,
    ModeCalibr,
    TypeSVCH,
    PlantNumber,
    PlantNumberNew,
    UserPsw,
    PlantNumberSVCH,
    KrPer,
    SmPer,
    Dist1,
    Dist2,
    KKalman,
    LevelKalibr,
    Relay1Ust1,
    Relay1Ust2,
    Relay2Ust1,
    Relay2Ust2,
    KrPerOpCh,
    SmPerOpCh,
    FreqCalibr,
    KKK1,
    KKK2,
    KKK3,
    Speed
};

// How a request's payload is laid out after command and length bytes.
enum class TRequestLayout : quint8 {
    Plain,           // nothing
    ReadMode,        // the read mode
    Echo,            // AA 55
    Identity,        // unit type, plant number (word)
    IdentityAddress, // unit type, plant number (word), the new address
    ZeroBlock,       // first entry of the block (0-based), 8 entries
    TareRead,        // the tare part
    TareWrite,       // the tare part, 32 singles (an empty point FF FF FF FF)
    ParamRead,       // the parameter index
    ParamWrite       // the parameter index, the value in its type
};

// The type of a parameter's value on the line.
enum class TWireValue : quint8 { None, Byte, SignedByte, Word, Float };

struct TWireRow {
    int Code;
    quint8 Command;
    quint8 Length; // the request's length byte
    TRequestLayout Layout;
    int Index; // read mode, tare part or parameter index; -1 none
    TWireValue Value;
    TWireField Field;
    double Scale = 1.0;     // the field's unit per unit on the line (volume: 1/100 of a %)
    bool WithFault = false; // a reading whose answer carries the fault byte
};

// How an answer's payload is laid out after address, command and length bytes.
enum class TAnswerLayout : quint8 {
    Reading,     // a single, then the fault byte for distance, level, free space and volume
    AllReadings, // distance, level, free space, volume (singles), relays, fault byte
    Echo,        // 55 AA
    Signature,   // unit type, plant number (word), hardware and software versions
    Confirm,     // nothing; the exchange counts as accepted
    Silent,      // nothing; the exchange records nothing
    ZeroBlock,   // 8 words
    TarePart,    // 32 singles
    ByteValue,   // one byte
    WordValue,   // one word
    FloatValue,  // one single
    ErrorAnswer  // the error code
};

struct TAnswerRow {
    quint8 Command;
    TAnswerLayout Layout;
    int MinLength; // frame length the layout needs, checksum included (readings: see below)
};

// The error answer's command byte.
constexpr quint8 ErrorAnswerCommand = 0xFA;
constexpr int TarePointCount = 32;
constexpr int ZeroArraySize = 256;
constexpr int ZeroBlockSize = 8;
// Volumes travel in hundredths of a percent.
constexpr double VolumeScale = 100.0;

// A request that cannot be encoded (a code outside 0..79, a zero block outside 1..32, values
// missing); what() is the text the operator sees.
class TCodecError : public std::runtime_error {
public:
    TCodecError();
};

// Every request row, in code order 0 to 79.
std::span<const TWireRow> WireRows();
// The row of a code 0 to 79; null for others.
const TWireRow* WireRow(int code);
// The code of the row with that command byte and index (-1: the first row of the command);
// -1 when none.
int WireCode(quint8 command, int index);
// The code that a request's bytes stand for (address, command, length, index…); -1 when none.
int RequestCodeOf(const QByteArray& request);
// The layout of a request's payload by its command byte; false when no row has that command.
bool RequestLayoutOf(quint8 command, TRequestLayout& layout);
// The answer row of a command byte; null for a command no answer carries.
const TAnswerRow* AnswerRowOf(quint8 command);
// True for the command bytes an answer may carry (0x01, 0x02, 0x10, … 0xB6, 0xFA).
bool IsAcceptedAnswerCommand(quint8 command);
// The minimum length of an answer with that command byte; a reading's depends on the read mode
// of its request (with the fault byte 10, a frequency 7, any other 5).
int MinimumAnswerLength(quint8 command, int readMode);

// What a request carries besides its fixed bytes, in the order of its layout: a value write
// one value; the address write unit type, plant number and new address; the boot loader unit
// type and plant number; the zero block read the block 1 to 32; a tare write its 32 points in
// the field's unit (NaN: an empty point).
struct TRequestValues {
    quint8 Address = 255;
    std::array<double, TarePointCount> Values{};
    int Count = 0;
    void Add(double value) {
        if (Count < static_cast<int>(Values.size()))
            Values[Count++] = value;
    }
};

// The request frame of a code without its checksum. Throws TCodecError.
QByteArray Encode(int code, const TRequestValues& values);

// How an answer ended up.
enum class TAnswerStatus : quint8 {
    Ok,
    NoAnswer,    // nothing received
    Cut,         // fewer than 5 bytes (КАЛИСТ-1: fewer than 5, or fewer than 8 after the CRC)
    BadChecksum, // the checksum does not match
    UnknownCommand, // a command byte no answer carries
    Short           // shorter than its command's layout needs
};

// One decoded answer. Values hold readings and parameter values in the field's unit, as the
// gauge's singles widen to double.
struct TAnswer {
    TAnswerStatus Status = TAnswerStatus::NoAnswer;
    TAnswerLayout Layout = TAnswerLayout::Silent;
    quint8 Address = 0;
    quint8 Command = 0;
    int RequestCode = -1; // the code the request stands for; -1 none
    // The field the values fill: from the request when it asked this very command (a reading
    // answer to any other request is a frequency, as the read mode is 0 then); None otherwise.
    TWireField Field = TWireField::None;
    int ReadMode = 0;
    bool HasFault = false;
    quint8 Fault = 0;
    quint8 Relays = 0;
    bool EchoGood = false;
    // Signature: unit type, plant number, versions; the address answer also moves the address.
    quint8 UnitType = 0;
    quint16 PlantNumber = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
    bool SetsAddress = false;
    // Zero block: the first entry asked (0-based), -1 when the request did not ask one.
    int ZeroStart = -1;
    std::array<quint16, ZeroBlockSize> Words{};
    quint8 ErrorCode = 0; // the error answer's code
    quint32 Integer = 0;  // a byte or word parameter as received
    std::array<double, TarePointCount> Values{};
    int Count = 0;
    quint32 EmptyPoints = 0; // bit k: the single of Values[k] arrived as FF FF FF FF (empty)
    std::array<quint8, 2> EchoBytes{};
    // How far the answer's bytes go (DecodeFields): the header bytes present (address, command,
    // length byte: 0 to 3) and the payload fields present in the order of the layout: a reading
    // the value, then the fault byte when it has one; all readings four values, relays, fault
    // byte; the echo its two bytes as one field; the signature unit type, plant number,
    // hardware and software versions; a zero block its 8 words; a tare part its 32 points; a
    // value or an error answer one field; a confirmation none. An Ok answer holds them all.
    int HeaderPresent = 0;
    quint8 LengthByte = 0;
    int FieldsPresent = 0;
};

// Decodes a gauge answer to the request it answers (request bytes as sent, with or without the
// checksum; empty when unknown). Never throws on any bytes. An answer whose status is not Ok
// carries no field (Short and UnknownCommand: the address and command; Short: the layout too).
TAnswer Decode(const QByteArray& request, const QByteArray& answer);
// The same answer read as far as its bytes go, whatever its checksum and length: the status as
// Decode gives it, and every header byte and payload field the bytes hold (HeaderPresent,
// FieldsPresent). The diagnostic view of a cut or garbled answer; Decode is built on it.
TAnswer DecodeFields(const QByteArray& request, const QByteArray& answer);
// Decodes a КАЛИСТ-1 answer: Values[0] the current in mA. Never throws on any bytes.
TAnswer DecodeKalist(const QByteArray& answer);
// The same read as far as the bytes go: the current (FieldsPresent 1) whenever its two bytes
// are there, whatever the checksum and length; the status as DecodeKalist gives it.
TAnswer DecodeKalistFields(const QByteArray& answer);
// The link result code of a failed status (Ok: 0).
int LinkResultOf(TAnswerStatus status);
