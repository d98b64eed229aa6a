#include "IODescription.h"

#include "uIniFile.h"
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

void SaveOrThrow(TIniFile& ini) {
    if (!ini.Save())
        throw std::runtime_error("cannot write settings file " + ini.FileName().toStdString());
}

// Floats in the shortest general form with up to 15 significant digits, regional separator.
QString FloatToIni(double v) {
    QString s = QString::number(v, 'g', 15);
    s.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return s;
}

// Colours are kept as signed 32-bit integers (0x8000000F reads -2147483633); reading takes the
// low 32 bits, so the unsigned form is accepted too.
qint64 ColorToIni(TColor c) {
    return static_cast<std::int32_t>(c);
}
TColor ColorFromIni(qint64 v) {
    return static_cast<TColor>(v & 0xFFFFFFFF);
}

const char* const StateKeys[3] = {"[tsUnknown]", "[tsFalse]", "[tsTrue]"};

QString StateKey(const char* name, int state) {
    return QLatin1String(name) + QLatin1String(StateKeys[state]);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TDescriptionOfCustomValue, TDescriptionOfValue

TDescriptionOfCustomValue::TDescriptionOfCustomValue()
    : Name(QStringLiteral("DescriptionOfCustomValue")) {}

void TDescriptionOfCustomValue::Assign(const TDescriptionOfCustomValue* source) {
    if (!source)
        return;
    Title = source->Title;
    Hint = source->Hint;
}

void TDescriptionOfCustomValue::AttachTo(const TDescriptionOfCustomValue* parent) {
    if (!parent)
        return;
    Section = parent->Section + QLatin1Char('.') + Name;
    FileName = parent->FileName;
}

void TDescriptionOfCustomValue::Load() {
    const TIniFile ini(FileName);
    Title = ini.ReadString(Section, QStringLiteral("Title"), Title);
    Hint = ini.ReadString(Section, QStringLiteral("Hint"), Hint);
}

void TDescriptionOfCustomValue::Save() {
    TIniFile ini(FileName);
    ini.WriteString(Section, QStringLiteral("Title"), Title);
    ini.WriteString(Section, QStringLiteral("Hint"), Hint);
    SaveOrThrow(ini);
}

TDescriptionOfValue::TDescriptionOfValue() {
    Name = QStringLiteral("DescriptionOfValue");
}

// ---------------------------------------------------------------------------------------------
// TDescriptionOfDouble

TDescriptionOfDouble::TDescriptionOfDouble() = default;

void TDescriptionOfDouble::Assign(const TDescriptionOfCustomValue* source) {
    if (dynamic_cast<const TDescriptionOfValue*>(source))
        TDescriptionOfValue::Assign(source);
    if (const auto* d = dynamic_cast<const TDescriptionOfDouble*>(source)) {
        Dimension = d->Dimension;
        Min_ = d->Min_;
        Max_ = d->Max_;
        Precision = d->Precision;
        Digits = d->Digits;
    }
}

void TDescriptionOfDouble::Load() {
    TDescriptionOfValue::Load();
    const TIniFile ini(FileName);
    const double min = ini.ReadFloat(Section, QStringLiteral("Min"), Min_);
    const double max = ini.ReadFloat(Section, QStringLiteral("Max"), Max_);
    SetRange(min, max);
    Dimension = ini.ReadString(Section, QStringLiteral("Dimension"), Dimension);
    Precision = static_cast<std::uint8_t>(
        ini.ReadInteger(Section, QStringLiteral("Precision"), Precision) & 0xFF);
    Digits = static_cast<std::uint8_t>(ini.ReadInteger(Section, QStringLiteral("Digits"), Digits) &
                                       0xFF);
}

void TDescriptionOfDouble::Save() {
    TDescriptionOfValue::Save();
    TIniFile ini(FileName);
    ini.WriteString(Section, QStringLiteral("Max"), FloatToIni(Max_));
    ini.WriteString(Section, QStringLiteral("Min"), FloatToIni(Min_));
    ini.WriteString(Section, QStringLiteral("Dimension"), Dimension);
    ini.WriteInteger(Section, QStringLiteral("Precision"), Precision);
    ini.WriteInteger(Section, QStringLiteral("Digits"), Digits);
    SaveOrThrow(ini);
}

// NaN is refused by the three setters: a range holding it could no longer be kept ordered.
void TDescriptionOfDouble::SetMin(double x) {
    if (!std::isnan(x) && !(x > Max_))
        Min_ = x;
}

void TDescriptionOfDouble::SetMax(double x) {
    if (!std::isnan(x) && !(x < Min_))
        Max_ = x;
}

void TDescriptionOfDouble::SetRange(double min, double max) {
    if (!std::isnan(min) && !std::isnan(max) && !(min > max)) {
        Min_ = min;
        Max_ = max;
    }
}

QString TDescriptionOfDouble::FormatValue(double value) const {
    return FormatNumber(value, Precision, Digits);
}

QString TDescriptionOfDouble::FormatWithUnit(double value) const {
    const QString number = FormatValue(value);
    return Dimension.isEmpty() ? number : number + QLatin1Char(' ') + Dimension;
}

// ---------------------------------------------------------------------------------------------
// TDescriptionOfThreeStates

TDescriptionOfThreeStates::TDescriptionOfThreeStates() {
    Name = QStringLiteral("DescriptionOfThreeStates");
    SetCaptions(QStringLiteral("Unknown"), QStringLiteral("Off"), QStringLiteral("On"));
    SetColors1(clGray, clRed, clLime);
    SetColors2(clBtnFace, clBtnFace, clBtnFace);
}

void TDescriptionOfThreeStates::Assign(const TDescriptionOfCustomValue* source) {
    if (dynamic_cast<const TDescriptionOfValue*>(source))
        TDescriptionOfValue::Assign(source);
    if (const auto* t = dynamic_cast<const TDescriptionOfThreeStates*>(source)) {
        for (int s = tsUnknown; s <= tsTrue; ++s) {
            Captions[s] = t->Captions[s];
            Color2[s] = t->Color2[s];
            Color1[s] = t->Color1[s];
        }
    }
}

void TDescriptionOfThreeStates::Load() {
    TDescriptionOfValue::Load();
    const TIniFile ini(FileName);
    for (int s = tsUnknown; s <= tsTrue; ++s)
        Captions[s] = ini.ReadString(Section, StateKey("Captions", s), Captions[s]);
    for (int s = tsUnknown; s <= tsTrue; ++s)
        Color1[s] =
            ColorFromIni(ini.ReadInteger(Section, StateKey("Color1", s), ColorToIni(Color1[s])));
    for (int s = tsUnknown; s <= tsTrue; ++s)
        Color2[s] =
            ColorFromIni(ini.ReadInteger(Section, StateKey("Color2", s), ColorToIni(Color2[s])));
}

void TDescriptionOfThreeStates::Save() {
    TDescriptionOfValue::Save();
    TIniFile ini(FileName);
    for (int s = tsUnknown; s <= tsTrue; ++s)
        ini.WriteString(Section, StateKey("Captions", s), Captions[s]);
    for (int s = tsUnknown; s <= tsTrue; ++s)
        ini.WriteInteger(Section, StateKey("Color1", s), ColorToIni(Color1[s]));
    for (int s = tsUnknown; s <= tsTrue; ++s)
        ini.WriteInteger(Section, StateKey("Color2", s), ColorToIni(Color2[s]));
    SaveOrThrow(ini);
}

void TDescriptionOfThreeStates::SetCaptions(const QString& unknown, const QString& off,
                                            const QString& on) {
    Captions = {unknown, off, on};
}

void TDescriptionOfThreeStates::SetCaption(TThreeStates state, const QString& text) {
    if (state <= tsTrue)
        Captions[state] = text;
}

void TDescriptionOfThreeStates::SetColors1(TColor unknown, TColor off, TColor on) {
    Color1 = {unknown, off, on};
}

void TDescriptionOfThreeStates::SetColors2(TColor unknown, TColor off, TColor on) {
    Color2 = {unknown, off, on};
}

QString TDescriptionOfThreeStates::CaptionOf(int code) const {
    return code >= tsUnknown && code <= tsTrue ? Captions[code] : QString();
}

// ---------------------------------------------------------------------------------------------
// Number format

namespace {

// A non-negative number as decimal digits: value = 0.d0 d1 d2 ... * 10^(Exp + 1), that is d0
// stands at the place 10^Exp. Digits holds no trailing zeros; zero has no digits.
struct TDecimal {
    QString Digits;
    int Exp = 0;
};

// The shortest decimal that reads back as the same double, so that 0.005 is five thousandths
// and not the binary neighbour below it.
TDecimal ToDecimal(double magnitude) {
    TDecimal d;
    if (magnitude == 0.0)
        return d;
    const QString e = QString::number(magnitude, 'e', QLocale::FloatingPointShortest);
    const qsizetype ePos = e.indexOf(QLatin1Char('e'));
    d.Digits = e.left(ePos).remove(QLatin1Char('.'));
    d.Exp = e.mid(ePos + 1).toInt();
    while (d.Digits.endsWith(QLatin1Char('0')))
        d.Digits.chop(1);
    return d;
}

// Keeps `keep` leading digits, rounding half away from zero (the digits are a magnitude).
void RoundDigits(TDecimal& d, int keep) {
    if (keep >= d.Digits.size())
        return;
    if (keep < 0) {
        d.Digits.clear();
        return;
    }
    const bool up = d.Digits.at(keep) >= QLatin1Char('5');
    d.Digits.truncate(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.Digits.at(i) == QLatin1Char('9')) {
            d.Digits.chop(1);
            --i;
        }
        if (i < 0) {
            d.Digits = QStringLiteral("1");
            ++d.Exp;
        } else {
            d.Digits[i] = QChar(d.Digits.at(i).unicode() + 1);
        }
    }
    while (d.Digits.endsWith(QLatin1Char('0')))
        d.Digits.chop(1);
}

QChar DigitAt(const TDecimal& d, int place) { // digit standing at 10^place
    const int i = d.Exp - place;
    return i >= 0 && i < d.Digits.size() ? d.Digits.at(i) : QLatin1Char('0');
}

QString GroupThousands(const QString& integer, const QLocale& loc) {
    if (loc.numberOptions() & QLocale::OmitGroupSeparator)
        return integer;
    const QString sep = loc.groupSeparator();
    QString out;
    const qsizetype n = integer.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += sep;
        out += integer.at(i);
    }
    return out;
}

// Mantissa with its trailing zeros dropped, "E", the exponent's sign and at least two digits.
QString Scientific(const TDecimal& d, const QLocale& loc) {
    QString s = d.Digits.left(1);
    if (d.Digits.size() > 1)
        s += loc.decimalPoint() + d.Digits.mid(1);
    s += QLatin1Char('E');
    s += QLatin1Char(d.Exp < 0 ? '-' : '+');
    s += QStringLiteral("%1").arg(std::abs(d.Exp), 2, 10, QLatin1Char('0'));
    return s;
}

QString Fixed(const TDecimal& d, int decimals, bool group, const QLocale& loc) {
    QString integer;
    for (int p = std::max(d.Exp, 0); p >= 0; --p)
        integer += DigitAt(d, p);
    QString s = group ? GroupThousands(integer, loc) : integer;
    if (decimals > 0) {
        s += loc.decimalPoint();
        for (int p = -1; p >= -decimals; --p)
            s += DigitAt(d, p);
    }
    return s;
}

} // namespace

QString FormatNumber(double value, int precision, int digits) {
    const QLocale loc;
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    precision = std::clamp(precision, 1, 17);
    const bool general = digits == 255;
    digits = std::clamp(digits, 0, 18);

    TDecimal d = ToDecimal(std::fabs(value));
    QString text;
    if (general) {
        // Shortest form with `precision` significant digits, scientific for very large or small.
        RoundDigits(d, precision);
        if (d.Digits.isEmpty())
            text = QStringLiteral("0");
        else if (d.Exp >= precision || d.Exp < -5)
            text = Scientific(d, loc);
        else
            text = Fixed(d, std::max(0, static_cast<int>(d.Digits.size()) - 1 - d.Exp), false, loc);
    } else {
        // Whichever keeps fewer digits: the significant digits or the places down to 10^-digits.
        RoundDigits(d, std::min(precision, d.Exp + digits + 1));
        if (!d.Digits.isEmpty() && d.Exp + 1 > precision)
            text = Scientific(d, loc);
        else
            text = Fixed(d, digits, true, loc);
    }
    if (value < 0 && !d.Digits.isEmpty())
        text.prepend(QLatin1Char('-'));
    return text;
}
