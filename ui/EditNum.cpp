#include "EditNum.h"
#include "IODescription.h"

#include <QClipboard>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

// Decimal digits and exponent of |value| rounded to `precision` significant digits:
// |value| = 0.d1d2d3… × 10^(exponent + 1), digits without trailing zeros.
struct TDecimal {
    QString Digits;
    int Exponent = 0;
};

TDecimal Decompose(double value, int precision) {
    // std::to_chars never follows the C library's locale: "%e" would print "1,2e+04" under a
    // Russian LC_NUMERIC and turn 12000 into 1,2.
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::scientific, precision - 1)
                         .ptr;
    const QString s = QString::fromLatin1(buf, end - buf);
    const int e = s.indexOf(QLatin1Char('e'));
    TDecimal d;
    d.Digits = s.left(e).remove(QLatin1Char('.'));
    d.Exponent = s.mid(e + 1).toInt();
    while (d.Digits.size() > 1 && d.Digits.endsWith(QLatin1Char('0')))
        d.Digits.chop(1);
    return d;
}

QString ExponentText(int exponent, int minDigits, bool plusSign) {
    QString text = QString::number(std::abs(exponent)).rightJustified(minDigits, QLatin1Char('0'));
    if (exponent < 0)
        return QStringLiteral("E-") + text;
    return (plusSign ? QStringLiteral("E+") : QStringLiteral("E")) + text;
}

QString Scientific(double value, int precision, int digits, bool general, QChar point) {
    const TDecimal d = Decompose(value, precision);
    QString mantissa = general ? d.Digits : d.Digits.leftJustified(precision, QLatin1Char('0'));
    QString text = mantissa.left(1);
    if (mantissa.size() > 1)
        text += point + mantissa.mid(1);
    const int exponent = value == 0.0 ? 0 : d.Exponent;
    return (value < 0 ? QStringLiteral("-") : QString()) + text +
           ExponentText(exponent, std::clamp(digits, 0, 4), !general);
}

QString General(double value, int precision, int digits, QChar point) {
    if (value == 0.0)
        return QStringLiteral("0");
    const TDecimal d = Decompose(value, precision);
    if (d.Exponent >= precision || std::fabs(value) < 1e-5)
        return Scientific(value, precision, digits, true, point);
    QString text;
    if (d.Exponent >= 0) {
        const QString padded = d.Digits.leftJustified(d.Exponent + 1, QLatin1Char('0'));
        text = padded.left(d.Exponent + 1);
        if (padded.size() > d.Exponent + 1)
            text += point + padded.mid(d.Exponent + 1);
    } else {
        text = QStringLiteral("0") + point + QString(-d.Exponent - 1, QLatin1Char('0')) + d.Digits;
    }
    return (value < 0 ? QStringLiteral("-") : QString()) + text;
}

QString Fixed(double value, int precision, int digits, QChar point) {
    if (value != 0.0 && Decompose(value, precision).Exponent >= precision)
        return Scientific(value, precision, 4, false, point);
    // Rounded to the significant digits first, then printed with the decimals asked for.
    const double rounded = QString::number(value, 'e', precision - 1).toDouble();
    QString text = QString::number(rounded, 'f', std::clamp(digits, 0, 18));
    static const QRegularExpression negativeZero(QStringLiteral("^-[0.]*$"));
    if (negativeZero.match(text).hasMatch())
        text.remove(0, 1); // no "-0,00"
    text.replace(QLatin1Char('.'), point);
    return text;
}

} // namespace

QString FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    const QLocale locale;
    const QChar point =
        locale.decimalPoint().isEmpty() ? QLatin1Char(',') : locale.decimalPoint()[0];
    precision = std::clamp(precision, 1, 17);
    switch (format) {
    case TFloatFormat::ffGeneral:
        return General(value, precision, digits, point);
    case TFloatFormat::ffExponent:
        return Scientific(value, precision, digits, false, point);
    case TFloatFormat::ffFixed:
        return Fixed(value, precision, digits, point);
    case TFloatFormat::ffNumber:
        return FormatNumber(value, precision, std::clamp(digits, 0, 18));
    case TFloatFormat::ffCurrency:
        return locale.toCurrencyString(value, locale.currencySymbol(), std::clamp(digits, 0, 18));
    }
    return General(value, precision, digits, point);
}

TEditNum::TEditNum(QWidget* parent) : QLineEdit(parent) {
    SetValue(0.0);
}

void TEditNum::SetDigits(int digits) {
    if (digits == Digits_)
        return;
    const double v = Value();
    Digits_ = digits;
    SetValue(v);
}

void TEditNum::SetFormat(TFloatFormat format) {
    if (format == Format_)
        return;
    const double v = Value();
    Format_ = format;
    SetValue(v);
}

void TEditNum::SetPrecision(int precision) {
    if (precision == Precision_)
        return;
    const double v = Value();
    Precision_ = precision;
    SetValue(v);
}

bool TEditNum::TextIsNumber() const {
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(text(), &ok);
    return ok && std::isfinite(v);
}

double TEditNum::Value() const {
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = locale.toDouble(text(), &ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

void TEditNum::SetValue(double value) {
    if (CheckRange_) {
        if (value < Minimum_)
            value = Minimum_;
        else if (value > Maximum_)
            value = Maximum_;
    }
    setText(FloatToStrF(value, Format_, Precision_, Digits_));
    setModified(false);
    UpdateLook();
    if (OnFinishEdit)
        OnFinishEdit(this);
}

void TEditNum::SetRange(double min, double max) {
    if (min > max)
        return;
    Minimum_ = min;
    Maximum_ = max;
}

bool TEditNum::OutOfRange() const {
    if (!CheckRange_)
        return false;
    const double v = Value();
    return v < Minimum_ || v > Maximum_;
}

void TEditNum::UpdateLook() {
    QPalette pal = palette();
    pal.setColor(QPalette::Text, OutOfRange() ? QColor(255, 0, 0) : QColor(0, 0, 0));
    setPalette(pal);
    QFont f = font();
    if (f.bold() != isModified()) {
        f.setBold(isModified());
        setFont(f);
    }
}

bool TEditNum::AcceptsCharacter(QChar c) const {
    if (c.isDigit() && c.unicode() < 128)
        return true;
    if (c == QLatin1Char('-')) // the caret of a selection is where the selection starts
        return (hasSelectedText() ? selectionStart() : cursorPosition()) == 0;
    const QString point = QLocale().decimalPoint();
    if (!point.isEmpty() && c == point[0])
        return !text().contains(point);
    return false;
}

QString TEditNum::PastedNumber(QString text) const {
    // A number copied from elsewhere may carry group separators and either decimal mark.
    text = text.trimmed();
    text.remove(QLatin1Char(' ')).remove(QChar(0x00A0)).remove(QChar(0x202F));
    const QString point = QLocale().decimalPoint();
    text.replace(QLatin1Char('.'), point).replace(QLatin1Char(','), point);
    QString result = this->text();
    const int from = hasSelectedText() ? selectionStart() : cursorPosition();
    const int length = hasSelectedText() ? selectedText().size() : 0;
    result.replace(from, length, text);
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    locale.toDouble(result, &ok);
    return ok ? text : QString();
}

void TEditNum::keyPressEvent(QKeyEvent* event) {
    // The usual editing keys: select all, copy, cut, undo and redo as in any edit box; a paste
    // only when the box then holds a plain number.
    if (event == QKeySequence::SelectAll || event == QKeySequence::Copy ||
        event == QKeySequence::Cut || event == QKeySequence::Undo || event == QKeySequence::Redo) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (event == QKeySequence::Paste) {
        const QString pasted = PastedNumber(QGuiApplication::clipboard()->text());
        if (!pasted.isEmpty() && !isReadOnly())
            insert(pasted);
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        SetValue(Value());
        QLineEdit::keyPressEvent(event); // left unaccepted, so a dialog's default button follows
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        QLineEdit::keyPressEvent(event);
        return;
    default:
        break;
    }
    const QString t = event->text();
    if (t.isEmpty()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (AcceptsCharacter(t[0]))
        QLineEdit::keyPressEvent(event);
    else
        event->accept(); // discarded
}

void TEditNum::keyReleaseEvent(QKeyEvent* event) {
    QLineEdit::keyReleaseEvent(event);
    UpdateLook();
}

void TEditNum::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Switching to another window or opening a popup is not leaving the box.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        SetValue(Value());
}
