#pragma once
// Value descriptions: title, hint, unit, range and number format of a typed value, or the
// captions and colours of a three-state value; kept in ini files under a section of their own.
// User-interface thread.

#include <QString>
#include <array>
#include <cstdint>

// Three-state codes held as an unsigned byte.
enum TThreeStates : std::uint8_t { tsUnknown = 0, tsFalse = 1, tsTrue = 2 };

// Colours: 0x00BBGGRR, or 0x80000000 + a system colour index.
using TColor = std::uint32_t;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBlack = 0x000000;
constexpr TColor clGray = 8421504;
constexpr TColor clRed = 255;
constexpr TColor clLime = 65280;

class TDescriptionOfCustomValue {
public:
    TDescriptionOfCustomValue();
    virtual ~TDescriptionOfCustomValue() = default;
    TDescriptionOfCustomValue(const TDescriptionOfCustomValue&) = delete;
    TDescriptionOfCustomValue& operator=(const TDescriptionOfCustomValue&) = delete;

    // Copies Title and Hint from any description.
    virtual void Assign(const TDescriptionOfCustomValue* source);
    // Section := parent's Section + "." + Name; FileName := parent's FileName.
    virtual void AttachTo(const TDescriptionOfCustomValue* parent);
    // Missing file or keys leave the fields as they were.
    virtual void Load();
    // Throws std::runtime_error when the file cannot be written.
    virtual void Save();
    virtual void SetName(const QString& name) { Name = name; }
    virtual void SetFileName(const QString& name) { FileName = name; }
    virtual void SetSection(const QString& section) { Section = section; }

    QString Title;
    QString Hint;
    QString Name;
    QString FileName;
    QString Section;
};

class TDescriptionOfValue : public TDescriptionOfCustomValue {
public:
    TDescriptionOfValue();
};

class TDescriptionOfDouble : public TDescriptionOfValue {
public:
    TDescriptionOfDouble();

    void Assign(const TDescriptionOfCustomValue* source) override;
    void Load() override;
    void Save() override;

    double Min() const { return Min_; }
    double Max() const { return Max_; }
    void SetMin(double x);                 // ignored when x > Max or x is NaN
    void SetMax(double x);                 // ignored when x < Min or x is NaN
    void SetRange(double min, double max); // ignored when min > max or either is NaN

    // The number format: rounded half away from zero to Precision significant digits or to
    // Digits decimals, whichever keeps fewer; fixed point with the regional thousands and
    // decimal separators and exactly Digits decimals; scientific when the integer part has
    // more digits than Precision, as mantissa, "E", sign and two or more exponent digits
    // ("1,2346E+10"). Digits 255 prints the general form (Precision significant digits, no
    // grouping). Precision is taken as 1 to 17, Digits as 0 to 18.
    QString FormatValue(double value) const;
    // FormatValue, a blank and Dimension (no blank when Dimension is empty).
    QString FormatWithUnit(double value) const;

    QString Dimension;
    std::uint8_t Precision = 9;
    std::uint8_t Digits = 2;

private:
    double Min_ = 0.0;
    double Max_ = 100.0;
};

class TDescriptionOfThreeStates : public TDescriptionOfValue {
public:
    TDescriptionOfThreeStates();

    void Assign(const TDescriptionOfCustomValue* source) override;
    void Load() override;
    void Save() override;

    void SetCaptions(const QString& unknown, const QString& off, const QString& on);
    void SetCaption(TThreeStates state, const QString& text);
    void SetColors1(TColor unknown, TColor off, TColor on);
    void SetColors2(TColor unknown, TColor off, TColor on);
    // Caption of a code; codes above 2 give an empty text.
    QString CaptionOf(int code) const;

    std::array<QString, 3> Captions;
    std::array<TColor, 3> Color1{};
    std::array<TColor, 3> Color2{};
};

// Number format shared with views that have no description at hand: value rounded to
// `precision` significant digits and `digits` decimals, regional separators, thousands grouped.
QString FormatNumber(double value, int precision, int digits);
