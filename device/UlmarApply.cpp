// Application of decoded answers to the device object, and the fault log. The answer was
// decoded against its own request (protocol/uWire), so nothing here remembers what was asked.

#include "Ulmar.h"
#include "uFrame.h"
#include "uLog.h"
#include "uParamStr.h"
#include "uPaths.h"

#include <QMetaObject>
#include <QtDebug>
#include <stdexcept>

namespace {

const QString& NormText() {
    static const QString text = QStringLiteral("Норма");
    return text;
}

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

void TUlmar::PostChanged(unsigned what) {
    // One posted call carries every change made until it runs: the exchange that applied the
    // answer has ended by then, so a receiver may start the next one.
    if (ChangedPending_.fetch_or(what) != 0)
        return;
    QMetaObject::invokeMethod(
        this, [this] { emit Changed(ChangedPending_.exchange(0)); }, Qt::QueuedConnection);
}

void TUlmar::NotifyChanged(unsigned what) {
    emit Changed(what);
}

unsigned TUlmar::Apply(const TAnswer& answer) {
    ErrorCode = LinkResult::Ok;
    ErrorText = NormText();
    const unsigned what = ApplyGaugeAnswer(answer) | ChangeLink;
    PostChanged(what);
    return what;
}

unsigned TUlmar::ApplyGaugeAnswer(const TAnswer& a) {
    if (a.Status != TAnswerStatus::Ok) {
        const int code = LinkResultOf(a.Status);
        CountFailure(code, LinkResultText(code));
        return 0;
    }
    switch (a.Layout) {
    case TAnswerLayout::Reading: {
        if (a.HasFault && !HandleReadingFault(a.Fault, true))
            return 0;
        TIODouble* target = nullptr;
        switch (a.Field) {
        case TWireField::Freq:
            target = Freq.get();
            break;
        case TWireField::Distance:
            target = Distance.get();
            break;
        case TWireField::Level:
            target = Level.get();
            break;
        case TWireField::LevelFree:
            target = LevelFree.get();
            break;
        case TWireField::Volume:
            target = Volume.get();
            break;
        case TWireField::FreqOpCh:
            target = FreqOpCh.get();
            break;
        default:
            break;
        }
        unsigned what = 0;
        if (target) {
            target->SetValue(TVariant::FromDouble(a.Values[0]));
            ++ReadingsStored_;
            what = ChangeReadings;
        }
        CountSuccess();
        return what;
    }
    case TAnswerLayout::AllReadings: {
        if (!HandleReadingFault(a.Fault, false))
            return 0;
        Distance->SetValue(TVariant::FromDouble(a.Values[0]));
        Level->SetValue(TVariant::FromDouble(a.Values[1]));
        LevelFree->SetValue(TVariant::FromDouble(a.Values[2]));
        Volume->SetValue(TVariant::FromDouble(a.Values[3]));
        quint8 r1 = tsUnknown;
        quint8 r2 = tsUnknown;
        if (a.Relays <= 3) {
            r1 = (a.Relays & 1) ? tsTrue : tsFalse;
            r2 = (a.Relays & 2) ? tsTrue : tsFalse;
        }
        Relay1->SetValue(TVariant::FromByte(r1));
        Relay2->SetValue(TVariant::FromByte(r2));
        ++ReadingsStored_;
        CountSuccess();
        return ChangeReadings;
    }
    case TAnswerLayout::Echo:
        if (a.EchoGood)
            CountSuccess();
        else
            CountFailure(LinkResult::ReadError, LinkResultText(LinkResult::ReadError));
        return 0;
    case TAnswerLayout::Signature:
        if (a.SetsAddress)
            SystemAddress = a.Address;
        PlantNumber = a.PlantNumber;
        HardVersion = a.HardVersion;
        SoftVersion = a.SoftVersion;
        if (On32)
            On32(this, a.Address, a.UnitType, PlantNumber, HardVersion, SoftVersion);
        CountSuccess();
        return ChangeSignature;
    case TAnswerLayout::Confirm:
        CountSuccess();
        return 0;
    case TAnswerLayout::ZeroBlock: {
        // A block the request did not ask for, or one past the array, has no entries: nothing
        // is stored and nothing recorded.
        if (a.ZeroStart < 0 || a.ZeroStart + ZeroBlockSize > ZeroArraySize)
            return 0;
        for (int k = 0; k < ZeroBlockSize; ++k)
            ZeroArray[a.ZeroStart + k] = a.Words[k];
        CountSuccess();
        return ChangeZeroArray;
    }
    case TAnswerLayout::TarePart:
        // A tare part records no outcome; the part the request did not name is not stored.
        if (a.Field != TWireField::TareLevels && a.Field != TWireField::TareVolumes)
            return 0;
        for (int k = 0; k < TarePointCount; ++k) {
            if (a.Field == TWireField::TareLevels)
                TareTable[k].Level = a.Values[k];
            else
                TareTable[k].Volume = a.Values[k];
        }
        return ChangeTare;
    case TAnswerLayout::ByteValue: {
        const unsigned what = StoreValue(a);
        CountSuccess();
        return what;
    }
    case TAnswerLayout::WordValue:
    case TAnswerLayout::FloatValue:
        // Word and float reads leave the outcome as it was.
        return StoreValue(a);
    case TAnswerLayout::ErrorAnswer: {
        const quint8 code = a.ErrorCode;
        ErrorCode = code;
        if (code == 0) {
            CountSuccess();
            return 0;
        }
        if (FailureCount < 0xFFFF)
            ++FailureCount;
        if (FailureCount >= ErrorMax_ && code <= 4)
            SetLinkError(code, ErrorAnswerText(code));
        return 0;
    }
    case TAnswerLayout::Silent: // accepted, nothing recorded
        break;
    }
    return 0;
}

// Values read from the gauge pass the same setting rules as values typed by the operator. An
// answer to a request that did not ask for this parameter (Field None) stores nothing.
unsigned TUlmar::StoreValue(const TAnswer& a) {
    using F = TWireField;
    const auto byte = static_cast<quint8>(a.Integer);
    const auto word = static_cast<quint16>(a.Integer);
    const double real = a.Values[0];
    switch (a.Field) {
    case F::ModeProcessing:
        ModeProcessing = byte;
        break;
    case F::ModeImage:
        ModeImage = byte;
        break;
    case F::TemperCompareTermostat:
        TemperCompareTermostat = static_cast<qint8>(byte);
        break;
    case F::ModeCurrentOutput:
        ModeCurrentOutput = byte;
        break;
    case F::ModeChannel:
        ModeChannel = byte;
        break;
    case F::ProgramType:
        ProgramType = byte;
        break;
    case F::TempSVCH:
        TempSVCH->SetValue(TVariant::FromDouble(static_cast<qint8>(byte)));
        ++ReadingsStored_;
        return ChangeReadings;
    case F::TemperTermostat:
        TemperTermostat = static_cast<qint8>(byte);
        break;
    case F::ModeInputFilter:
        ModeInputFilter = byte;
        break;
    case F::ModeTermostat:
        ModeTermostat = byte;
        break;
    case F::ModeCalibr:
        ModeCalibr = byte;
        break;
    case F::TypeSVCH:
        TypeSVCH = byte;
        break;
    case F::PlantNumber:
        PlantNumber = word;
        break;
    case F::UserPsw:
        UserPsw = word;
        break;
    case F::PlantNumberSVCH:
        PlantNumberSVCH = word;
        break;
    case F::KrPer:
        KrPer = real;
        break;
    case F::SmPer:
        SmPer = real;
        break;
    case F::Dist1:
        SetDist1(real);
        break;
    case F::Dist2:
        SetDist2(real);
        break;
    case F::KKalman:
        SetKKalman(real);
        break;
    case F::Relay1Ust1:
        Relay1Ust1 = real;
        break;
    case F::Relay1Ust2:
        Relay1Ust2 = real;
        break;
    case F::Relay2Ust1:
        Relay2Ust1 = real;
        break;
    case F::Relay2Ust2:
        Relay2Ust2 = real;
        break;
    case F::KrPerOpCh:
        KrPerOpCh = real;
        break;
    case F::SmPerOpCh:
        SmPerOpCh = real;
        break;
    case F::FreqCalibr:
        FreqCalibr = real;
        break;
    case F::KKK1:
        kkk1 = real;
        break;
    case F::KKK2:
        kkk2 = real;
        break;
    case F::KKK3:
        kkk3 = real;
        break;
    case F::Speed:
        SetSpeed(real);
        break;
    default: // not asked by the request, or no read command (LevelKalibr)
        return 0;
    }
    return ChangeParameters;
}

// --- КАЛИСТ-1 answers ---

unsigned TUlmar::ApplyKalist(const TAnswer& a) {
    ErrorCode = LinkResult::Ok;
    ErrorText = NormText();
    unsigned what = ChangeLink;
    if (a.Status != TAnswerStatus::Ok) {
        const int code = LinkResultOf(a.Status);
        CountFailure(code, LinkResultText(code));
    } else {
        CurrentOutput->SetValue(TVariant::FromDouble(a.Values[0]));
        ++ReadingsStored_;
        CountSuccess();
        what |= ChangeReadings;
    }
    PostChanged(what);
    return what;
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
    } catch (const std::runtime_error& e) {
        // The fault log never stops a parse; its first failure is said on stderr.
        if (!BlackBoxFailed_) {
            BlackBoxFailed_ = true;
            qWarning().noquote() << QStringLiteral("Журнал неисправностей не записан:")
                                 << QString::fromLocal8Bit(e.what());
        }
    }
}
