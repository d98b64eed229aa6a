#include "values/IOData.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

// ---------------------------------------------------------------------------------------------
// TVariant

TVariant TVariant::FromByte(std::uint8_t v) {
    TVariant r;
    r.Kind_ = Kind::Byte;
    r.Int_ = v;
    return r;
}

TVariant TVariant::FromInt(qint64 v) {
    TVariant r;
    r.Kind_ = Kind::Int;
    r.Int_ = v;
    return r;
}

TVariant TVariant::FromDouble(double v) {
    TVariant r;
    r.Kind_ = Kind::Double;
    r.Number_ = v;
    return r;
}

TVariant TVariant::FromBool(bool v) {
    TVariant r;
    r.Kind_ = Kind::Bool;
    r.Int_ = v ? 1 : 0;
    return r;
}

TVariant TVariant::FromText(const QString& v) {
    TVariant r;
    r.Kind_ = Kind::Text;
    r.Text_ = v;
    return r;
}

bool TVariant::IsNumeric() const {
    return Kind_ == Kind::Byte || Kind_ == Kind::Int || Kind_ == Kind::Double ||
           Kind_ == Kind::Bool;
}

namespace {

// A number written with '.' or ',' as the decimal separator; throws when it is none.
double ParseNumber(const QString& text) {
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        throw std::invalid_argument("text is not a number");
    return v;
}

qint64 RoundToInt(double v) {
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(v) || std::round(v) >= limit || std::round(v) < -limit)
        throw std::invalid_argument("number does not fit an integer");
    return static_cast<qint64>(std::round(v)); // std::round: half away from zero
}

} // namespace

double TVariant::ToDouble() const {
    switch (Kind_) {
    case Kind::Byte:
    case Kind::Int:
    case Kind::Bool:
        return static_cast<double>(Int_);
    case Kind::Double:
        return Number_;
    case Kind::Text:
        return ParseNumber(Text_);
    case Kind::Empty:
        break;
    }
    throw std::invalid_argument("empty value");
}

qint64 TVariant::ToInt() const {
    switch (Kind_) {
    case Kind::Byte:
    case Kind::Int:
    case Kind::Bool:
        return Int_;
    case Kind::Double:
        return RoundToInt(Number_);
    case Kind::Text: {
        bool ok = false;
        const qint64 v = Text_.trimmed().toLongLong(&ok);
        return ok ? v : RoundToInt(ParseNumber(Text_));
    }
    case Kind::Empty:
        break;
    }
    throw std::invalid_argument("empty value");
}

QString TVariant::ToText() const {
    switch (Kind_) {
    case Kind::Byte:
    case Kind::Int:
        return QString::number(Int_);
    case Kind::Double:
        return QString::number(Number_, 'g', 15);
    case Kind::Bool:
        return Int_ ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Text:
        return Text_;
    case Kind::Empty:
        break;
    }
    return QString();
}

bool TVariant::operator==(const TVariant& other) const {
    if (IsNumeric() && other.IsNumeric()) {
        if (Kind_ != Kind::Double && other.Kind_ != Kind::Double)
            return Int_ == other.Int_;
        return ToDouble() == other.ToDouble();
    }
    if (Kind_ != other.Kind_)
        return false;
    if (Kind_ == Kind::Text)
        return Text_ == other.Text_;
    return true; // both empty
}

// ---------------------------------------------------------------------------------------------
// TIOData

TIOData::TIOData() = default;

TIOData::~TIOData() {
    Disconnect(Source_);
    SetSource(nullptr);
    // The values that name this one as their source must not reach back to it once it is gone.
    for (TIOData* r : Referrers_)
        r->Source_ = nullptr;
}

void TIOData::SetSource(TIOData* source) {
    if (Source_) {
        auto& refs = Source_->Referrers_;
        refs.erase(std::remove(refs.begin(), refs.end(), this), refs.end());
    }
    Source_ = source;
    if (source)
        source->Referrers_.push_back(this);
}

void TIOData::Assign(const TIOData* source) {
    if (source)
        Active = source->Active;
}

void TIOData::Fire(const TIOEvent& event) {
    if (event)
        event(this);
}

void TIOData::SetValue(const TVariant& value, TDateTime time) {
    try {
        ValueTime_.Time = time == 0.0 ? NowDateTime() : time;
        const TVariant old = InValue_;
        InValue_ = value;
        if (!Active)
            return;
        Fire(OnInSet);
        if (old != InValue_)
            Fire(OnInChange);
        const TVariant out = Convert();
        SetOutValue(out);
    } catch (...) {
        // A failed step ends the update; what was done before stays done.
    }
}

TVariant TIOData::GetInValue() const {
    try {
        return InValue_;
    } catch (...) {
        return TVariant();
    }
}

TVariant TIOData::GetValue() const {
    try {
        return OutValue_;
    } catch (...) {
        return TVariant();
    }
}

void TIOData::SetOutValue(const TVariant& value) {
    try {
        const bool changed = OutValue_ != value;
        OutValue_ = value;
        Fire(OnOutSet);
        if (changed)
            Fire(OnOutChange);
        NotifySubscribers();
    } catch (...) {
    }
}

void TIOData::NotifySubscribers() {
    try {
        ++Notifying_;
        // The list is re-read at each step: a subscriber may connect or disconnect meanwhile.
        for (std::size_t i = 0; i < Subscribers_.size(); ++i) {
            TIOData* s = Subscribers_[i];
            if (!s)
                continue;
            try {
                s->SetValue(OutValue_, ValueTime_.Time);
            } catch (...) {
            }
        }
        --Notifying_;
        if (Notifying_ == 0)
            CompactSubscribers();
    } catch (...) {
        Notifying_ = 0;
    }
}

void TIOData::CompactSubscribers() {
    Subscribers_.erase(std::remove(Subscribers_.begin(), Subscribers_.end(), nullptr),
                       Subscribers_.end());
}

bool TIOData::FeedsInto(const TIOData* value) const {
    // Walks up from value along the links that are still live (value in its source's list).
    for (const TIOData* cur = value; cur;) {
        if (cur == this)
            return true;
        const TIOData* up = cur->Source_;
        if (!up || std::find(up->Subscribers_.begin(), up->Subscribers_.end(), cur) ==
                       up->Subscribers_.end())
            return false;
        cur = up;
    }
    return false;
}

void TIOData::Connect(TIOData* source, bool immediately) {
    try {
        if (Source_)
            Disconnect(Source_);
        // A loop of connected values would push a reading round for ever.
        if (source && FeedsInto(source))
            source = nullptr;
        SetSource(source);
        if (!source)
            return;
        source->Subscribers_.push_back(this);
        if (immediately)
            SetValue(source->OutValue_, source->ValueTime_.Time);
    } catch (...) {
    }
}

void TIOData::Disconnect(TIOData* source) {
    try {
        if (!source)
            return;
        auto& list = source->Subscribers_;
        const auto it = std::find(list.begin(), list.end(), this);
        if (it == list.end())
            return;
        if (source->Notifying_ > 0)
            *it = nullptr; // removed once the running notification has ended
        else
            list.erase(it);
    } catch (...) {
    }
}

double TIOData::AsDouble() const {
    try {
        return GetValue().ToDouble();
    } catch (...) {
        return 0.0;
    }
}

// ---------------------------------------------------------------------------------------------
// TCustomIOData and the converting classes

void TCustomIOData::SetValue(const TVariant& value, TDateTime time) {
    try {
        TIOData::SetValue(value, time);
    } catch (...) {
    }
}

TVariant TCustomIOData::GetInValue() const {
    try {
        return TIOData::GetInValue();
    } catch (...) {
        return TVariant();
    }
}

void TCustomIOData::Connect(TIOData* source, bool immediately) {
    try {
        TIOData::Connect(source, immediately);
    } catch (...) {
    }
}

TVariant TCustomIOData::GetValue() const {
    try {
        return TIOData::GetValue();
    } catch (...) {
        return TVariant();
    }
}

TVariant TCustomIOData::Convert() const {
    return GetInValue();
}

TVariant TiodDoubleToDouble::Convert() const {
    return TVariant::FromDouble(GetInValue().ToDouble());
}

TVariant TiodThreeStatesToThreeStates::Convert() const {
    const TVariant in = GetInValue();
    if (in.GetKind() == TVariant::Kind::Bool)
        return TVariant::FromByte(in.ToInt() ? tsTrue : tsFalse);
    return TVariant::FromByte(static_cast<std::uint8_t>(in.ToInt() & 0xFF));
}

// ---------------------------------------------------------------------------------------------
// Concrete values

TIODouble::TIODouble() : Description_(std::make_unique<TDescriptionOfDouble>()) {}

TIODouble::~TIODouble() = default;

void TIODouble::Assign(const TIOData* source) {
    if (dynamic_cast<const TiodDoubleToDouble*>(source))
        TIOData::Assign(source);
    if (const auto* d = dynamic_cast<const TIODouble*>(source))
        Description_->Assign(d->Description());
}

TIOThreeStates::TIOThreeStates() {
    SetValue(TVariant::FromByte(tsUnknown), 0.0);
    Description_ = std::make_unique<TDescriptionOfThreeStates>();
}

TIOThreeStates::~TIOThreeStates() = default;

void TIOThreeStates::Assign(const TIOData* source) {
    if (dynamic_cast<const TiodThreeStatesToThreeStates*>(source))
        TIOData::Assign(source);
    if (const auto* t = dynamic_cast<const TIOThreeStates*>(source))
        Description_->Assign(t->Description());
}

std::uint8_t TIOThreeStates::State() const {
    try {
        return static_cast<std::uint8_t>(GetValue().ToInt() & 0xFF);
    } catch (...) {
        return tsUnknown;
    }
}
