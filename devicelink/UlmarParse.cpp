// Answer parsers of the device object and the fault log. Every byte is read only after the
// answer's length has been checked against the minimum length of its command.

#include "devicelink/Ulmar.h"
#include "devicelink/uFrame.h"
#include "devicelink/uLog.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"

namespace {

const QString& NormText() {
    static const QString text = QStringLiteral("Норма");
    return text;
}

// Indexed view of an answer; callers check the length first.
class TAnswer {
public:
    explicit TAnswer(const QByteArray& bytes) : Bytes(bytes) {}
    int Size() const { return static_cast<int>(Bytes.size()); }
    quint8 At(int i) const { return static_cast<quint8>(Bytes[i]); }
    quint16 Word(int i) const { return static_cast<quint16>(At(i) << 8 | At(i + 1)); }
    double Float(int i) const { return BytesToFloat(At(i), At(i + 1), At(i + 2), At(i + 3)); }

private:
    const QByteArray& Bytes;
};

} // namespace

// --- outcome bookkeeping ---

void TUlmar::CountSuccess() {
    FailureCount = 0;
    LinkState->SetValue(TVariant::FromByte(1)); // 1: the last answer was accepted
}

void TUlmar::CountFailure(int code, const QString& text) {
    if (FailureCount < 0xFFFF)
        ++FailureCount;
    if (FailureCount >= ErrorMax_)
        SetLinkError(code, text);
}

bool TUlmar::HandleReadingFault(quint8 fault, bool toBlackBox) {
    ErrorCode = fault;
    if (fault == 0)
        return true;
    if (toBlackBox)
        WriteBlackBox(fault);
    if (fault <= 9) {
        if (FailureCount < 0xFFFF)
            ++FailureCount;
        if (FailureCount < ErrorMax_)
            return true;
        SetLinkError(fault, FaultText(fault));
        return false;
    }
    SetLinkError(255, FaultText(255));
    return true;
}

// --- gauge answers ---

void TUlmar::ParseAnswer(const QByteArray& answer) {
    try {
        ErrorCode = LinkResult::Ok;
        ErrorText = NormText();
        ParseGaugeAnswer(answer);
    } catch (...) {
        // A parse never fails outward; whatever was recorded before stays recorded.
    }
}

void TUlmar::ParseGaugeAnswer(const QByteArray& bytes) {
    const TAnswer a(bytes);
    const int n = a.Size();
    auto fail = [this](int code) { CountFailure(code, LinkResultText(code)); };

    if (n == 0)
        return fail(LinkResult::NoAnswer);
    if (n < 5)
        return fail(LinkResult::ReadError);
    if (!CheckCrc16(bytes))
        return fail(LinkResult::ChecksumError);
    const quint8 command = a.At(1);
    if (!IsAcceptedAnswerCommand(command))
        return fail(LinkResult::CommandMismatch);

    switch (command) {
    case 0x01: {
        const quint8 mode = PendingReadMode;
        const bool withFault = mode == 1 || mode == 2 || mode == 3 || mode == 6;
        // Frequency reads (modes 0, 7) need the float at offsets 3..6: shorter is a read error.
        const int minimum = withFault ? 10 : (mode == 0 || mode == 7) ? 7 : 5;
        if (n < minimum)
            return fail(LinkResult::ReadError);
        if (withFault && !HandleReadingFault(a.At(7), true))
            return;
        TIODouble* target = nullptr;
        double scale = 1.0;
        switch (mode) {
        case 0:
            target = Freq.get();
            break;
        case 1:
            target = Distance.get();
            break;
        case 2:
            target = Level.get();
            break;
        case 3:
            target = LevelFree.get();
            break;
        case 6:
            target = Volume.get();
            scale = 100.0;
            break;
        case 7:
            target = FreqOpCh.get();
            break;
        default:
            break;
        }
        if (target) {
            target->SetValue(TVariant::FromDouble(a.Float(3) / scale));
            ++ReadingsStored_;
        }
        return CountSuccess();
    }
    case 0x02: {
        if (n < 23)
            return fail(LinkResult::ReadError);
        if (!HandleReadingFault(a.At(20), false))
            return;
        Distance->SetValue(TVariant::FromDouble(a.Float(3)));
        Level->SetValue(TVariant::FromDouble(a.Float(7)));
        LevelFree->SetValue(TVariant::FromDouble(a.Float(11)));
        Volume->SetValue(TVariant::FromDouble(a.Float(15) / 100.0));
        const quint8 relays = a.At(19);
        quint8 r1 = tsUnknown;
        quint8 r2 = tsUnknown;
        if (relays <= 3) {
            r1 = (relays & 1) ? tsTrue : tsFalse;
            r2 = (relays & 2) ? tsTrue : tsFalse;
        }
        Relay1->SetValue(TVariant::FromByte(r1));
        Relay2->SetValue(TVariant::FromByte(r2));
        ++ReadingsStored_;
        return CountSuccess();
    }
    case 0x10:
        if (n < 7)
            return fail(LinkResult::ReadError);
        if (a.At(3) == 0x55 || a.At(4) == 0xAA)
            return CountSuccess();
        return fail(LinkResult::ReadError);
    case 0x20:
    case 0x25:
        if (n < 10)
            return fail(LinkResult::ReadError);
        if (command == 0x25)
            SystemAddress = a.At(0);
        PlantNumber = a.Word(4);
        HardVersion = a.At(6);
        SoftVersion = a.At(7);
        if (On32)
            On32(this, a.At(0), a.At(3), PlantNumber, HardVersion, SoftVersion);
        return CountSuccess();
    case 0x60:
    case 0xA6:
    case 0xB1:
    case 0xB2:
    case 0xB3:
        return CountSuccess();
    case 0x83: {
        if (n < 21)
            return fail(LinkResult::ReadError);
        // A block outside 1..32 has no entries: nothing is stored and nothing recorded.
        if (ZeroBlock < 1 || ZeroBlock > ZeroArraySize / 8)
            return;
        const int first = (ZeroBlock - 1) * 8;
        for (int k = 0; k < 8; ++k)
            ZeroArray[first + k] = a.Word(3 + 2 * k);
        return CountSuccess();
    }
    case 0xA5:
        if (n < 133)
            return fail(LinkResult::ReadError);
        for (int k = 0; k < TarePointCount; ++k) {
            if (PendingTarePart == 0)
                TareTable[k].Level = a.Float(3 + 4 * k);
            else if (PendingTarePart == 1)
                TareTable[k].Volume = a.Float(3 + 4 * k) / 100.0;
        }
        return;
    case 0xB4:
        if (n < 6)
            return fail(LinkResult::ReadError);
        StoreByteParam(a.At(3));
        return CountSuccess();
    case 0xB5:
        if (n < 7)
            return fail(LinkResult::ReadError);
        return StoreWordParam(a.Word(3));
    case 0xB6:
        if (n < 9)
            return fail(LinkResult::ReadError);
        return StoreFloatParam(a.Float(3));
    case ErrorAnswerCommand: {
        if (n < 6)
            return fail(LinkResult::ReadError);
        const quint8 code = a.At(3);
        ErrorCode = code;
        if (code == 0)
            return CountSuccess();
        if (FailureCount < 0xFFFF)
            ++FailureCount;
        if (FailureCount >= ErrorMax_ && code <= 4)
            SetLinkError(code, ErrorAnswerText(code));
        return;
    }
    default: // 0x81, 0x82, 0xA2, 0xA8: accepted, nothing recorded
        return;
    }
}

void TUlmar::StoreByteParam(quint8 value) {
    switch (PendingByteParam) {
    case 0:
        ModeProcessing = value;
        break;
    case 1:
        ModeImage = value;
        break;
    case 2:
        TemperCompareTermostat = static_cast<qint8>(value);
        break;
    case 3:
        ModeCurrentOutput = value;
        break;
    case 4:
        ModeChannel = value;
        break;
    case 5:
        ProgramType = value;
        break;
    case 6:
        TempSVCH->SetValue(TVariant::FromDouble(static_cast<qint8>(value)));
        ++ReadingsStored_;
        break;
    case 7:
        TemperTermostat = static_cast<qint8>(value);
        break;
    case 8:
        ModeInputFilter = value;
        break;
    case 9:
        ModeTermostat = value;
        break;
    case 10:
        ModeCalibr = value;
        break;
    case 11:
        TypeSVCH = value;
        break;
    default:
        break;
    }
}

void TUlmar::StoreWordParam(quint16 value) {
    switch (PendingWordParam) {
    case 0:
        PlantNumber = value;
        break;
    case 1:
        UserPsw = value;
        break;
    case 2:
        PlantNumberSVCH = value;
        break;
    default:
        break;
    }
}

// Values read from the gauge pass the same setting rules as values typed by the operator.
void TUlmar::StoreFloatParam(double value) {
    switch (PendingFloatParam) {
    case 0:
        KrPer = value;
        break;
    case 1:
        SmPer = value;
        break;
    case 2:
        SetDist1(value);
        break;
    case 3:
        SetDist2(value);
        break;
    case 4:
        SetKKalman(value);
        break;
    case 11:
        Relay1Ust1 = value;
        break;
    case 12:
        Relay1Ust2 = value;
        break;
    case 13:
        Relay2Ust1 = value;
        break;
    case 14:
        Relay2Ust2 = value;
        break;
    case 15:
        KrPerOpCh = value;
        break;
    case 16:
        SmPerOpCh = value;
        break;
    case 17:
        FreqCalibr = value;
        break;
    case 18:
        kkk1 = value;
        break;
    case 19:
        kkk2 = value;
        break;
    case 20:
        kkk3 = value;
        break;
    case 21:
        SetSpeed(value);
        break;
    default: // 5 to 10 have no read command
        break;
    }
}

// --- КАЛИСТ-1 answers ---

void TUlmar::ParseKalistAnswer(const QByteArray& answer) {
    try {
        ErrorCode = LinkResult::Ok;
        ErrorText = NormText();
        ParseKalist(answer);
    } catch (...) {
        // A parse never fails outward.
    }
}

void TUlmar::ParseKalist(const QByteArray& bytes) {
    const TAnswer a(bytes);
    const int n = a.Size();
    auto fail = [this](int code) { CountFailure(code, LinkResultText(code)); };
    if (n == 0)
        return fail(LinkResult::NoAnswer);
    if (n < 5)
        return fail(LinkResult::ReadError);
    if (!CheckCrc8(bytes))
        return fail(LinkResult::ChecksumError);
    if (n < 8)
        return fail(LinkResult::ReadError);
    // Hundredths of a milliampere, signed, low byte first.
    const auto raw = static_cast<qint16>(static_cast<quint16>(a.At(5) | a.At(6) << 8));
    CurrentOutput->SetValue(TVariant::FromDouble(raw / 100.0));
    ++ReadingsStored_;
    CountSuccess();
}

// --- fault log ---

void TUlmar::WriteBlackBox(quint8 fault) {
    try {
        const QString dir =
            JoinPath(JoinPath(ProgramDir(), QStringLiteral("DATA")), ArchiveDayPath(NowDateTime()));
        TLog log;
        log.SetFileName(JoinPath(dir, QStringLiteral("BlackBox.txt")));
        const QString text =
            (fault >= 1 && fault <= 9) ? FaultText(fault) : QStringLiteral("Не известно");
        log.Add(QString::asprintf("%2d ", fault) + text);
    } catch (...) {
        // The fault log never stops a parse.
    }
}
