// The values a request carries, read from the device object by the wire table's field, and the
// request frame encoded with them.

#include "Ulmar.h"

double TUlmar::WireValue(TWireField field) const {
    using F = TWireField;
    switch (field) {
    case F::ModeProcessing:
        return ModeProcessing;
    case F::ModeImage:
        return ModeImage;
    case F::TemperCompareTermostat:
        return TemperCompareTermostat;
    case F::ModeCurrentOutput:
        return ModeCurrentOutput;
    case F::ModeChannel:
        return ModeChannel;
    case F::ProgramType:
        return ProgramType;
    case F::TemperTermostat:
        return TemperTermostat;
    case F::ModeInputFilter:
        return ModeInputFilter;
    case F::ModeTermostat:
        return ModeTermostat;
    case F::ModeCalibr:
        return ModeCalibr;
    case F::TypeSVCH:
        return TypeSVCH;
    case F::PlantNumber:
        return PlantNumber;
    case F::PlantNumberNew:
        return PlantNumberNew;
    case F::UserPsw:
        return UserPsw;
    case F::PlantNumberSVCH:
        return PlantNumberSVCH;
    case F::KrPer:
        return KrPer;
    case F::SmPer:
        return SmPer;
    case F::Dist1:
        return Dist1_;
    case F::Dist2:
        return Dist2_;
    case F::KKalman:
        return KKalman_;
    case F::LevelKalibr:
        return LevelKalibr_;
    case F::Relay1Ust1:
        return Relay1Ust1;
    case F::Relay1Ust2:
        return Relay1Ust2;
    case F::Relay2Ust1:
        return Relay2Ust1;
    case F::Relay2Ust2:
        return Relay2Ust2;
    case F::KrPerOpCh:
        return KrPerOpCh;
    case F::SmPerOpCh:
        return SmPerOpCh;
    case F::FreqCalibr:
        return FreqCalibr;
    case F::KKK1:
        return kkk1;
    case F::KKK2:
        return kkk2;
    case F::KKK3:
        return kkk3;
    case F::Speed:
        return Speed_;
    default: // readings and tables are no single value
        return 0.0;
    }
}

TRequestValues RequestValues(const TUlmar& ulmar, int code) {
    TRequestValues values;
    values.Address = ulmar.SystemAddress;
    const TWireRow* row = WireRow(code);
    if (!row)
        return values;
    switch (row->Layout) {
    case TRequestLayout::IdentityAddress:
    case TRequestLayout::Identity:
        values.Add(ulmar.UnitType);
        values.Add(ulmar.PlantNumber);
        if (row->Layout == TRequestLayout::IdentityAddress)
            values.Add(ulmar.SystemAddressNew);
        break;
    case TRequestLayout::ZeroBlock:
        values.Add(ulmar.ZeroBlock);
        break;
    case TRequestLayout::TareWrite:
        for (const TTarePoint& p : ulmar.TareTable)
            values.Add(row->Field == TWireField::TareLevels ? p.Level : p.Volume);
        break;
    case TRequestLayout::ParamWrite:
        values.Add(ulmar.WireValue(row->Field));
        break;
    default: // the request carries nothing of the object's
        break;
    }
    return values;
}

QByteArray EncodeRequest(const TUlmar& ulmar, int code) {
    return Encode(code, RequestValues(ulmar, code));
}
