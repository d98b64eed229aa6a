#pragma once
// What a search of the line overwrites in the device object: the answers to signature requests
// land in its addresses, plant number, type and versions, and the search hangs its own
// signature handler on it. The bus scan and the gauge finder keep this before they start and
// put it back when they end, so that the current gauge is the same one afterwards.

#include "Ulmar.h"

struct TGaugeIdentity {
    quint8 SystemAddress = 0;
    quint8 SystemAddressNew = 0;
    quint16 PlantNumber = 0;
    quint8 UnitType = 0;
    quint8 HardVersion = 0;
    quint8 SoftVersion = 0;
    TOn32 On32;

    static TGaugeIdentity Of(const TUlmar& u) {
        return {u.SystemAddress, u.SystemAddressNew, u.PlantNumber, u.UnitType,
                u.HardVersion,   u.SoftVersion,      u.On32};
    }
    void ApplyTo(TUlmar& u) const {
        u.SystemAddress = SystemAddress;
        u.SystemAddressNew = SystemAddressNew;
        u.PlantNumber = PlantNumber;
        u.UnitType = UnitType;
        u.HardVersion = HardVersion;
        u.SoftVersion = SoftVersion;
        u.On32 = On32;
    }
};
