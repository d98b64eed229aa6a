#include "IOData.h"

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

bool TIOData::Fire(const TIOEvent& event) {
    if (!event)
        return true;
    // The handlers belong to the windows bound to this value. One that fails ends this value's
    // update at that step (what was done before stays done) and never reaches the code that set
    // the value: a reading must still go on to the other values and windows, the archive and
    // the request cycle. The failure is written to the program's diagnostic output. This is the
    // boundary between the values and whatever the windows hang on them, hence the catch-all.
    try {
        event(this);
        return true;
    } catch (const std::exception& e) {
        qWarning("an event handler of a value failed: %s", e.what());
    } catch (...) {
        qWarning("an event handler of a value failed");
    }
    return false;
}

void TIOData::SetValue(const TVariant& value, TDateTime time) {
    ValueTime_.Time = time == 0.0 ? NowDateTime() : time;
    const TVariant old = InValue_;
    InValue_ = value;
    if (!Active)
        return;
    if (!Fire(OnInSet))
        return;
    if (old != InValue_ && !Fire(OnInChange))
        return;
    TVariant out;
    try {
        out = Convert();
    } catch (const std::invalid_argument&) {
        // An input that does not convert (an empty value, a text that is no number) leaves the
        // output as it was; the input is kept.
        return;
    }
    SetOutValue(out);
}

TVariant TIOData::GetInValue() const {
    return InValue_;
}

TVariant TIOData::GetValue() const {
    return OutValue_;
}

void TIOData::SetOutValue(const TVariant& value) {
    const bool changed = OutValue_ != value;
    OutValue_ = value;
    if (!Fire(OnOutSet))
        return;
    if (changed && !Fire(OnOutChange))
        return;
    NotifySubscribers();
}

void TIOData::NotifySubscribers() {
    // The count goes down again however the walk ends, so that removed subscribers are
    // compacted by the outermost notification.
    struct TNotifying {
        TIOData* Self;
        explicit TNotifying(TIOData* self) : Self(self) { ++Self->Notifying_; }
        ~TNotifying() {
            if (--Self->Notifying_ == 0)
                Self->CompactSubscribers();
        }
    } notifying(this);
    // The list is re-read at each step: a subscriber may connect or disconnect meanwhile.
    for (std::size_t i = 0; i < Subscribers_.size(); ++i)
        if (TIOData* s = Subscribers_[i])
            s->SetValue(OutValue_, ValueTime_.Time);
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
}

void TIOData::Disconnect(TIOData* source) {
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
}

double TIOData::AsDouble() const {
    try {
        return GetValue().ToDouble();
    } catch (const std::invalid_argument&) {
        return 0.0; // no value yet, or a text that is no number
    }
}

// ---------------------------------------------------------------------------------------------
// TCustomIOData and the converting classes

void TCustomIOData::SetValue(const TVariant& value, TDateTime time) {
    TIOData::SetValue(value, time);
}

TVariant TCustomIOData::GetInValue() const {
    return TIOData::GetInValue();
}

void TCustomIOData::Connect(TIOData* source, bool immediately) {
    TIOData::Connect(source, immediately);
}

TVariant TCustomIOData::GetValue() const {
    return TIOData::GetValue();
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
    } catch (const std::invalid_argument&) {
        return tsUnknown; // no state yet, or one that is no number
    }
}
