#pragma once
// One-line edit box for a floating-point number: display format, range with colouring, a
// character filter and an event whenever a value is committed. User-interface thread.

#include <QLineEdit>
#include <functional>

enum class TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// The number printed in the given format with the default locale's separators:
// ffGeneral shortest form with up to precision significant digits (digits = minimum exponent
// digits), ffExponent scientific, ffFixed digits decimals, ffNumber the grouped number format of
// the value descriptions, ffCurrency the locale's currency form with digits decimals.
QString FloatToStrF(double value, TFloatFormat format, int precision, int digits);

class TEditNum : public QLineEdit {
    Q_OBJECT
public:
    explicit TEditNum(QWidget* parent = nullptr);

    int Digits() const { return Digits_; }
    void SetDigits(int digits);
    TFloatFormat Format() const { return Format_; }
    void SetFormat(TFloatFormat format);
    int Precision() const { return Precision_; }
    void SetPrecision(int precision);

    // The text read with the regional decimal separator; 0 when it is not a plain number.
    double Value() const;
    // Commit: brought into the range when CheckRange is set, printed, modified flag cleared,
    // look updated, OnFinishEdit fired.
    void SetValue(double value);
    // True when the text reads as a plain number.
    bool TextIsNumber() const;

    double Minimum() const { return Minimum_; }
    void SetMinimum(double value) { Minimum_ = value; }
    double Maximum() const { return Maximum_; }
    void SetMaximum(double value) { Maximum_ = value; }
    bool CheckRange() const { return CheckRange_; }
    void SetCheckRange(bool check) { CheckRange_ = check; }
    // Ignored when min > max; nothing is reformatted.
    void SetRange(double min, double max);

    // Red text while out of range, bold while modified since the last commit.
    void UpdateLook();
    bool OutOfRange() const;

    std::function<void(TEditNum* sender)> OnFinishEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool AcceptsCharacter(QChar c) const;
    // The clipboard's text as it would be pasted, or empty when the box would then not hold a
    // plain number.
    QString PastedNumber(QString text) const;

    int Digits_ = 4;
    TFloatFormat Format_ = TFloatFormat::ffGeneral;
    int Precision_ = 15;
    double Minimum_ = 0.0;
    double Maximum_ = 100.0;
    bool CheckRange_ = true;
};
