// The wire table of the gauge's command set and its reader: the request encoder and the answer
// decoder. Every byte of an answer is read only after the answer's length has been checked
// against the minimum length of its command.

#include "uWire.h"
#include "uFrame.h"

#include <algorithm>
#include <cmath>

namespace {

using L = TRequestLayout;
using V = TWireValue;
using F = TWireField;

// One row per request code, in code order (checked at compile time below).
constexpr TWireRow Rows[] = {
    {0, 0x01, 0x02, L::ReadMode, 0, V::Float, F::Freq},
    {1, 0x01, 0x02, L::ReadMode, 1, V::Float, F::Distance, 1.0, true},
    {2, 0x01, 0x02, L::ReadMode, 2, V::Float, F::Level, 1.0, true},
    {3, 0x01, 0x02, L::ReadMode, 3, V::Float, F::LevelFree, 1.0, true},
    {4, 0x01, 0x02, L::ReadMode, 6, V::Float, F::Volume, VolumeScale, true},
    {5, 0x01, 0x02, L::ReadMode, 7, V::Float, F::FreqOpCh},
    {6, 0x02, 0x01, L::Plain, -1, V::None, F::None},
    {7, 0x10, 0x03, L::Echo, -1, V::None, F::None},
    {8, 0x20, 0x01, L::Plain, -1, V::None, F::None},
    {9, 0x25, 0x05, L::IdentityAddress, -1, V::None, F::None},
    {10, 0x60, 0x04, L::Identity, -1, V::None, F::None},
    {11, 0x81, 0x01, L::Plain, -1, V::None, F::None},
    {12, 0x82, 0x01, L::Plain, -1, V::None, F::None},
    {13, 0x83, 0x03, L::ZeroBlock, -1, V::None, F::None},
    {14, 0xA2, 0x01, L::Plain, -1, V::None, F::None},
    {15, 0xA5, 0x02, L::TareRead, 0, V::Float, F::TareLevels},
    {16, 0xA5, 0x02, L::TareRead, 1, V::Float, F::TareVolumes, VolumeScale},
    {17, 0xA6, 0x82, L::TareWrite, 0, V::Float, F::TareLevels},
    {18, 0xA6, 0x82, L::TareWrite, 1, V::Float, F::TareVolumes, VolumeScale},
    {19, 0xB1, 0x03, L::ParamWrite, 0, V::Byte, F::ModeProcessing},
    {20, 0xB1, 0x03, L::ParamWrite, 1, V::Byte, F::ModeImage},
    {21, 0xB1, 0x03, L::ParamWrite, 2, V::SignedByte, F::TemperCompareTermostat},
    {22, 0xB1, 0x03, L::ParamWrite, 3, V::Byte, F::ModeCurrentOutput},
    {23, 0xB1, 0x03, L::ParamWrite, 4, V::Byte, F::ModeChannel},
    {24, 0xB1, 0x03, L::ParamWrite, 5, V::Byte, F::ProgramType},
    {25, 0xB1, 0x03, L::ParamWrite, 8, V::Byte, F::ModeInputFilter},
    {26, 0xB1, 0x03, L::ParamWrite, 9, V::Byte, F::ModeTermostat},
    {27, 0xB1, 0x03, L::ParamWrite, 10, V::Byte, F::ModeCalibr},
    {28, 0xB1, 0x03, L::ParamWrite, 11, V::Byte, F::TypeSVCH},
    {29, 0xB2, 0x04, L::ParamWrite, 0, V::Word, F::PlantNumberNew},
    {30, 0xB2, 0x04, L::ParamWrite, 1, V::Word, F::UserPsw},
    {31, 0xB2, 0x04, L::ParamWrite, 2, V::Word, F::PlantNumberSVCH},
    {32, 0xB3, 0x06, L::ParamWrite, 0, V::Float, F::KrPer},
    {33, 0xB3, 0x06, L::ParamWrite, 1, V::Float, F::SmPer},
    {34, 0xB3, 0x06, L::ParamWrite, 2, V::Float, F::Dist1},
    {35, 0xB3, 0x06, L::ParamWrite, 3, V::Float, F::Dist2},
    {36, 0xB3, 0x06, L::ParamWrite, 4, V::Float, F::KKalman},
    {37, 0xB3, 0x06, L::ParamWrite, 10, V::Float, F::LevelKalibr},
    {38, 0xB3, 0x06, L::ParamWrite, 11, V::Float, F::Relay1Ust1},
    {39, 0xB3, 0x06, L::ParamWrite, 12, V::Float, F::Relay1Ust2},
    {40, 0xB3, 0x06, L::ParamWrite, 13, V::Float, F::Relay2Ust1},
    {41, 0xB3, 0x06, L::ParamWrite, 14, V::Float, F::Relay2Ust2},
    {42, 0xB3, 0x06, L::ParamWrite, 15, V::Float, F::KrPerOpCh},
    {43, 0xB3, 0x06, L::ParamWrite, 16, V::Float, F::SmPerOpCh},
    {44, 0xB3, 0x06, L::ParamWrite, 17, V::Float, F::FreqCalibr},
    {45, 0xB3, 0x06, L::ParamWrite, 18, V::Float, F::KKK1},
    {46, 0xB3, 0x06, L::ParamWrite, 19, V::Float, F::KKK2},
    {47, 0xB3, 0x06, L::ParamWrite, 20, V::Float, F::KKK3},
    {48, 0xB3, 0x06, L::ParamWrite, 21, V::Float, F::Speed},
    {49, 0xB4, 0x02, L::ParamRead, 0, V::Byte, F::ModeProcessing},
    {50, 0xB4, 0x02, L::ParamRead, 1, V::Byte, F::ModeImage},
    {51, 0xB4, 0x02, L::ParamRead, 2, V::SignedByte, F::TemperCompareTermostat},
    {52, 0xB4, 0x02, L::ParamRead, 3, V::Byte, F::ModeCurrentOutput},
    {53, 0xB4, 0x02, L::ParamRead, 4, V::Byte, F::ModeChannel},
    {54, 0xB4, 0x02, L::ParamRead, 5, V::Byte, F::ProgramType},
    {55, 0xB4, 0x02, L::ParamRead, 6, V::SignedByte, F::TempSVCH},
    {56, 0xB4, 0x02, L::ParamRead, 7, V::SignedByte, F::TemperTermostat},
    {57, 0xB4, 0x02, L::ParamRead, 8, V::Byte, F::ModeInputFilter},
    {58, 0xB4, 0x02, L::ParamRead, 9, V::Byte, F::ModeTermostat},
    {59, 0xB4, 0x02, L::ParamRead, 10, V::Byte, F::ModeCalibr},
    {60, 0xB4, 0x02, L::ParamRead, 11, V::Byte, F::TypeSVCH},
    {61, 0xB5, 0x02, L::ParamRead, 0, V::Word, F::PlantNumber},
    {62, 0xB5, 0x02, L::ParamRead, 1, V::Word, F::UserPsw},
    {63, 0xB5, 0x02, L::ParamRead, 2, V::Word, F::PlantNumberSVCH},
    // Float reads skip the indexes 5 to 10, which have no read command.
    {64, 0xB6, 0x02, L::ParamRead, 0, V::Float, F::KrPer},
    {65, 0xB6, 0x02, L::ParamRead, 1, V::Float, F::SmPer},
    {66, 0xB6, 0x02, L::ParamRead, 2, V::Float, F::Dist1},
    {67, 0xB6, 0x02, L::ParamRead, 3, V::Float, F::Dist2},
    {68, 0xB6, 0x02, L::ParamRead, 4, V::Float, F::KKalman},
    {69, 0xB6, 0x02, L::ParamRead, 11, V::Float, F::Relay1Ust1},
    {70, 0xB6, 0x02, L::ParamRead, 12, V::Float, F::Relay1Ust2},
    {71, 0xB6, 0x02, L::ParamRead, 13, V::Float, F::Relay2Ust1},
    {72, 0xB6, 0x02, L::ParamRead, 14, V::Float, F::Relay2Ust2},
    {73, 0xB6, 0x02, L::ParamRead, 15, V::Float, F::KrPerOpCh},
    {74, 0xB6, 0x02, L::ParamRead, 16, V::Float, F::SmPerOpCh},
    {75, 0xB6, 0x02, L::ParamRead, 17, V::Float, F::FreqCalibr},
    {76, 0xB6, 0x02, L::ParamRead, 18, V::Float, F::KKK1},
    {77, 0xB6, 0x02, L::ParamRead, 19, V::Float, F::KKK2},
    {78, 0xB6, 0x02, L::ParamRead, 20, V::Float, F::KKK3},
    {79, 0xB6, 0x02, L::ParamRead, 21, V::Float, F::Speed},
};

constexpr bool RowsInCodeOrder() {
    int code = 0;
    for (const TWireRow& row : Rows)
        if (row.Code != code++)
            return false;
    return code == UlmarCmd::MaxRequestCode + 1;
}
static_assert(RowsInCodeOrder(), "one wire row per request code, in code order");

using A = TAnswerLayout;

constexpr TAnswerRow Answers[] = {
    {0x01, A::Reading, 5},    {0x02, A::AllReadings, 23},
    {0x10, A::Echo, 7},       {0x20, A::Signature, 10},
    {0x25, A::Signature, 10}, {0x60, A::Confirm, 5},
    {0x81, A::Silent, 5},     {0x82, A::Silent, 5},
    {0x83, A::ZeroBlock, 21}, {0xA2, A::Silent, 5},
    {0xA5, A::TarePart, 133}, {0xA6, A::Confirm, 5},
    {0xA8, A::Silent, 5},     {0xB1, A::Confirm, 5},
    {0xB2, A::Confirm, 5},    {0xB3, A::Confirm, 5},
    {0xB4, A::ByteValue, 6},  {0xB5, A::WordValue, 7},
    {0xB6, A::FloatValue, 9}, {ErrorAnswerCommand, A::ErrorAnswer, 6},
};

quint8 At(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes[i]);
}
quint16 WordAt(const QByteArray& bytes, int i) {
    return static_cast<quint16>(At(bytes, i) << 8 | At(bytes, i + 1));
}
double FloatAt(const QByteArray& bytes, int i) {
    return BytesToFloat(At(bytes, i), At(bytes, i + 1), At(bytes, i + 2), At(bytes, i + 3));
}

void AppendFloat(QByteArray& frame, double x) {
    for (quint8 b : FloatToBytes(x))
        frame.append(static_cast<char>(b));
}

// An empty tare point holds a NaN; it travels as the all-ones single FF FF FF FF.
void AppendTareFloat(QByteArray& frame, double x) {
    if (std::isnan(x))
        frame.append(4, static_cast<char>(0xFF));
    else
        AppendFloat(frame, x);
}

void AppendWord(QByteArray& frame, quint16 w) {
    frame.append(static_cast<char>(w >> 8));
    frame.append(static_cast<char>(w & 0xFF));
}

// An integer value as the device object holds it (exact in a double), cut to its width.
qint64 Integer(double x) {
    return std::isfinite(x) ? static_cast<qint64>(x) : 0;
}

double Need(const TRequestValues& values, int i) {
    if (i >= values.Count)
        throw TCodecError();
    return values.Values[i];
}

// The read mode a request asks for: its mode byte when it is a reading request, 0 otherwise
// (every request that is no reading asks mode 0).
int ReadModeOf(const QByteArray& request) {
    if (request.size() >= 4 && At(request, 1) == 0x01)
        return At(request, 3);
    return 0;
}

// The row of the read mode; null for a mode no reading has.
const TWireRow* ReadingRow(int mode) {
    const int code = WireCode(0x01, mode);
    return code >= 0 && mode >= 0 ? WireRow(code) : nullptr;
}

} // namespace

TCodecError::TCodecError() : std::runtime_error("Ошибка формирования запроса") {}

std::span<const TWireRow> WireRows() {
    return Rows;
}

const TWireRow* WireRow(int code) {
    if (code < 0 || code > UlmarCmd::MaxRequestCode)
        return nullptr;
    return &Rows[code];
}

int WireCode(quint8 command, int index) {
    for (const TWireRow& row : Rows)
        if (row.Command == command && (index < 0 || row.Index < 0 || row.Index == index))
            return row.Code;
    return -1;
}

int RequestCodeOf(const QByteArray& request) {
    if (request.size() < 2)
        return -1;
    const quint8 command = At(request, 1);
    for (const TWireRow& row : Rows) {
        if (row.Command != command)
            continue;
        if (row.Index < 0)
            return row.Code;
        if (request.size() < 4)
            return -1;
        if (row.Index == At(request, 3))
            return row.Code;
    }
    return -1;
}

bool RequestLayoutOf(quint8 command, TRequestLayout& layout) {
    for (const TWireRow& row : Rows)
        if (row.Command == command) {
            layout = row.Layout;
            return true;
        }
    return false;
}

const TAnswerRow* AnswerRowOf(quint8 command) {
    for (const TAnswerRow& row : Answers)
        if (row.Command == command)
            return &row;
    return nullptr;
}

bool IsAcceptedAnswerCommand(quint8 command) {
    return AnswerRowOf(command) != nullptr;
}

int MinimumAnswerLength(quint8 command, int readMode) {
    const TAnswerRow* row = AnswerRowOf(command);
    if (!row)
        return 5;
    if (row->Layout != TAnswerLayout::Reading)
        return row->MinLength;
    // A frequency needs the single at offsets 3..6, a reading with a fault byte offset 7 too.
    const TWireRow* reading = ReadingRow(readMode);
    return !reading ? 5 : reading->WithFault ? 10 : 7;
}

QByteArray Encode(int code, const TRequestValues& values) {
    const TWireRow* row = WireRow(code);
    if (!row)
        throw TCodecError();
    QByteArray frame;
    frame.reserve(4 + 4 * TarePointCount);
    frame.append(static_cast<char>(values.Address));
    frame.append(static_cast<char>(row->Command));
    frame.append(static_cast<char>(row->Length));
    auto byte = [&frame](qint64 b) { frame.append(static_cast<char>(static_cast<quint8>(b))); };

    switch (row->Layout) {
    case L::Plain:
        break;
    case L::ReadMode:
    case L::TareRead:
    case L::ParamRead:
        byte(row->Index);
        break;
    case L::Echo:
        byte(0xAA);
        byte(0x55);
        break;
    case L::Identity:
    case L::IdentityAddress:
        byte(Integer(Need(values, 0)));
        AppendWord(frame, static_cast<quint16>(Integer(Need(values, 1))));
        if (row->Layout == L::IdentityAddress)
            byte(Integer(Need(values, 2)));
        break;
    case L::ZeroBlock: {
        // A block outside 1..32 would address entries outside the zero array: refused.
        const double block = Need(values, 0);
        if (!(block >= 1 && block <= ZeroArraySize / ZeroBlockSize))
            throw TCodecError();
        byte((Integer(block) - 1) * ZeroBlockSize % 256);
        byte(ZeroBlockSize);
        break;
    }
    case L::TareWrite:
        byte(row->Index);
        for (int k = 0; k < TarePointCount; ++k)
            AppendTareFloat(frame, Need(values, k) * row->Scale);
        break;
    case L::ParamWrite: {
        byte(row->Index);
        const double value = Need(values, 0);
        if (row->Value == V::Word)
            AppendWord(frame, static_cast<quint16>(Integer(value)));
        else if (row->Value == V::Float)
            AppendFloat(frame, value);
        else
            byte(Integer(value));
        break;
    }
    }
    return frame;
}

int LinkResultOf(TAnswerStatus status) {
    switch (status) {
    case TAnswerStatus::Ok:
        return LinkResult::Ok;
    case TAnswerStatus::NoAnswer:
        return LinkResult::NoAnswer;
    case TAnswerStatus::BadChecksum:
        return LinkResult::ChecksumError;
    case TAnswerStatus::UnknownCommand:
        return LinkResult::CommandMismatch;
    case TAnswerStatus::Cut:
    case TAnswerStatus::Short:
        break;
    }
    return LinkResult::ReadError;
}

namespace {

// The status of a gauge answer: its length, checksum, command byte and the length that command
// needs at the read mode of the request.
TAnswerStatus StatusOf(const QByteArray& answer, int readMode) {
    const int n = static_cast<int>(answer.size());
    if (n == 0)
        return TAnswerStatus::NoAnswer;
    if (n < 5)
        return TAnswerStatus::Cut;
    if (!CheckCrc16(answer))
        return TAnswerStatus::BadChecksum;
    if (!IsAcceptedAnswerCommand(At(answer, 1)))
        return TAnswerStatus::UnknownCommand;
    if (n < MinimumAnswerLength(At(answer, 1), readMode))
        return TAnswerStatus::Short;
    return TAnswerStatus::Ok;
}

// Reads the fields of an answer in the order of its layout and stops at the first one its
// bytes do not hold; FieldsPresent counts the fields read.
class TFieldReader {
public:
    TFieldReader(const QByteArray& bytes, TAnswer& answer)
        : Bytes(bytes), Answer(answer), Size(static_cast<int>(bytes.size())) {}
    // True when the next field, count bytes at offset, is there; false from the first missing
    // field on.
    bool Next(int offset, int count) {
        if (Stopped || offset > Size - count) {
            Stopped = true;
            return false;
        }
        ++Answer.FieldsPresent;
        return true;
    }
    quint8 Byte(int i) const { return At(Bytes, i); }
    quint16 Word(int i) const { return WordAt(Bytes, i); }
    // The single at offset i as Values[k] in the field's unit; an all-ones single marks the
    // point empty.
    void Value(int k, int i, double scale) {
        Answer.Values[k] = FloatAt(Bytes, i) / scale;
        if (Byte(i) == 0xFF && Byte(i + 1) == 0xFF && Byte(i + 2) == 0xFF && Byte(i + 3) == 0xFF)
            Answer.EmptyPoints |= quint32(1) << k;
    }

private:
    const QByteArray& Bytes;
    TAnswer& Answer;
    const int Size;
    bool Stopped = false;
};

} // namespace

TAnswer DecodeFields(const QByteArray& request, const QByteArray& answer) {
    TAnswer a;
    a.RequestCode = RequestCodeOf(request);
    a.ReadMode = ReadModeOf(request);
    a.Status = StatusOf(answer, a.ReadMode);
    const int n = static_cast<int>(answer.size());
    a.HeaderPresent = std::min(n, 3);
    if (n >= 1)
        a.Address = At(answer, 0);
    if (n >= 2)
        a.Command = At(answer, 1);
    if (n < 3)
        return a;
    a.LengthByte = At(answer, 2);
    const TAnswerRow* row = AnswerRowOf(a.Command);
    if (!row)
        return a;
    a.Layout = row->Layout;
    // The request's own row, when it asked this very command.
    const TWireRow* asked = WireRow(a.RequestCode);
    if (asked && asked->Command != a.Command)
        asked = nullptr;

    TFieldReader f(answer, a);
    switch (a.Layout) {
    case A::Reading:
        if (const TWireRow* reading = ReadingRow(a.ReadMode)) {
            a.Field = reading->Field;
            a.HasFault = reading->WithFault;
            if (f.Next(3, 4)) {
                f.Value(0, 3, reading->Scale);
                a.Count = 1;
            }
            if (a.HasFault && f.Next(7, 1))
                a.Fault = f.Byte(7);
        } else if (f.Next(3, 4)) {
            // A read mode no reading has: the value as it came, for no field.
            f.Value(0, 3, 1.0);
            a.Count = 1;
        }
        break;
    case A::AllReadings:
        a.HasFault = true;
        for (int k = 0; k < 4 && f.Next(3 + 4 * k, 4); ++k) {
            f.Value(k, 3 + 4 * k, k == 3 ? VolumeScale : 1.0);
            a.Count = k + 1;
        }
        if (f.Next(19, 1))
            a.Relays = f.Byte(19);
        if (f.Next(20, 1))
            a.Fault = f.Byte(20);
        break;
    case A::Echo:
        if (f.Next(3, 2)) {
            a.EchoBytes = {f.Byte(3), f.Byte(4)};
            a.EchoGood = a.EchoBytes[0] == 0x55 || a.EchoBytes[1] == 0xAA;
        }
        break;
    case A::Signature:
        a.SetsAddress = a.Command == 0x25;
        if (f.Next(3, 1))
            a.UnitType = f.Byte(3);
        if (f.Next(4, 2))
            a.PlantNumber = f.Word(4);
        if (f.Next(6, 1))
            a.HardVersion = f.Byte(6);
        if (f.Next(7, 1))
            a.SoftVersion = f.Byte(7);
        break;
    case A::ZeroBlock:
        // The first entry comes from the request's start byte; a request cut before it asks none.
        if (asked && request.size() >= 4)
            a.ZeroStart = At(request, 3);
        for (int k = 0; k < ZeroBlockSize && f.Next(3 + 2 * k, 2); ++k)
            a.Words[k] = f.Word(3 + 2 * k);
        break;
    case A::TarePart:
        if (asked)
            a.Field = asked->Field;
        for (int k = 0; k < TarePointCount && f.Next(3 + 4 * k, 4); ++k) {
            f.Value(k, 3 + 4 * k, asked ? asked->Scale : 1.0);
            a.Count = k + 1;
        }
        break;
    case A::ByteValue:
        if (f.Next(3, 1))
            a.Integer = f.Byte(3);
        break;
    case A::WordValue:
        if (f.Next(3, 2))
            a.Integer = f.Word(3);
        break;
    case A::FloatValue:
        if (f.Next(3, 4)) {
            f.Value(0, 3, 1.0);
            a.Count = 1;
        }
        break;
    case A::ErrorAnswer:
        if (f.Next(3, 1))
            a.ErrorCode = f.Byte(3);
        break;
    case A::Confirm:
    case A::Silent:
        break;
    }
    if (asked && a.FieldsPresent == 1 &&
        (a.Layout == A::ByteValue || a.Layout == A::WordValue || a.Layout == A::FloatValue)) {
        a.Field = asked->Field;
        if (a.Layout == A::ByteValue && asked->Value == V::SignedByte)
            a.Values[0] = static_cast<qint8>(a.Integer);
        else if (a.Layout != A::FloatValue)
            a.Values[0] = a.Integer;
        a.Count = 1;
    }
    return a;
}

TAnswer Decode(const QByteArray& request, const QByteArray& answer) {
    TAnswer all = DecodeFields(request, answer);
    if (all.Status == TAnswerStatus::Ok)
        return all;
    // A failed answer carries no field: nothing of it may reach the gauge's state.
    TAnswer a;
    a.Status = all.Status;
    a.RequestCode = all.RequestCode;
    if (a.Status == TAnswerStatus::UnknownCommand || a.Status == TAnswerStatus::Short) {
        a.Address = all.Address;
        a.Command = all.Command;
    }
    if (a.Status == TAnswerStatus::Short) {
        a.Layout = all.Layout;
        a.ReadMode = all.ReadMode;
    }
    return a;
}

TAnswer DecodeKalistFields(const QByteArray& answer) {
    TAnswer a;
    const int n = static_cast<int>(answer.size());
    if (n == 0)
        return a;
    a.Status = n < 5                ? TAnswerStatus::Cut
               : !CheckCrc8(answer) ? TAnswerStatus::BadChecksum
               : n < 8              ? TAnswerStatus::Cut
                                    : TAnswerStatus::Ok;
    if (n >= 7) {
        // Hundredths of a milliampere, signed, low byte first.
        const auto raw =
            static_cast<qint16>(static_cast<quint16>(At(answer, 5) | At(answer, 6) << 8));
        a.Values[0] = raw / 100.0;
        a.Count = 1;
        a.FieldsPresent = 1;
    }
    return a;
}

TAnswer DecodeKalist(const QByteArray& answer) {
    TAnswer all = DecodeKalistFields(answer);
    if (all.Status == TAnswerStatus::Ok)
        return all;
    TAnswer a;
    a.Status = all.Status;
    return a;
}
