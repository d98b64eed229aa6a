#include "fInput.h"
#include "EditNum.h"
#include "uModal.h"

#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>
#include <climits>
#include <stdexcept>

namespace {
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int BoxWidth = 121;

// Spin box that keeps a typed whole number outside its bounds (the OK button and the focus
// loss bring it to the nearer bound) instead of refusing the keystroke that leaves the range.
class TIntegerBox : public QSpinBox {
public:
    QValidator::State validate(QString& input, int& pos) const override {
        const QValidator::State state = QSpinBox::validate(input, pos);
        if (state != QValidator::Invalid)
            return state;
        const QString text = input.trimmed();
        if (text == QLatin1String("-") || text == QLatin1String("+"))
            return QValidator::Intermediate;
        bool ok = false;
        Read(input, ok);
        return ok ? QValidator::Intermediate : QValidator::Invalid;
    }
    void fixup(QString& input) const override {
        bool ok = false;
        const int v = Read(input, ok);
        if (ok)
            input = textFromValue(std::clamp(v, minimum(), maximum()));
        else
            QSpinBox::fixup(input);
    }
    // The typed text as a whole number in the box's locale or plain digits.
    int Read(const QString& input, bool& ok) const {
        const QString text = input.trimmed();
        int v = locale().toInt(text, &ok);
        if (!ok)
            v = text.toInt(&ok);
        return v;
    }
};
} // namespace

TFormInputBase::TFormInputBase(const QString& caption, const QString& prompt, QWidget* box)
    : Box_(box) {
    setWindowTitle(caption);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    lblCaption = new QLabel(prompt, this);
    lblCaption->setObjectName(QStringLiteral("lblCaption"));
    box->setParent(this);
    box->resize(BoxWidth, box->sizeHint().height());
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    OKBtn->setAutoDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Отменить"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setAutoDefault(false);
    // A click on a button leaves the focus in the box; Tab still reaches the buttons.
    OKBtn->setFocusPolicy(Qt::TabFocus);
    CancelBtn->setFocusPolicy(Qt::TabFocus);
    connect(OKBtn, &QPushButton::clicked, this, [this] { OKBtnClick(); });
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    Arrange();
    box->setFocus();
}

void TFormInputBase::Arrange() {
    lblCaption->adjustSize();
    const int labelWidth = lblCaption->width();
    const int boxWidth = Box_->width();
    const int a = labelWidth + boxWidth + 15;
    const int b = 2 * ButtonWidth + 15;
    const int c = std::max(a, b);
    const int rowHeight = std::max(Box_->sizeHint().height(), lblCaption->height());
    lblCaption->move(5, 8 + (rowHeight - lblCaption->height()) / 2);
    Box_->setGeometry(b < a ? labelWidth + 10 : c - boxWidth - 5, 8, boxWidth, rowHeight);
    const int width = c + 8;
    const int height = 8 + rowHeight + 12 + ButtonHeight + 8;
    CancelBtn->setGeometry(width - 8 - ButtonWidth, height - 8 - ButtonHeight, ButtonWidth,
                           ButtonHeight);
    OKBtn->setGeometry(CancelBtn->x() - 5 - ButtonWidth, CancelBtn->y(), ButtonWidth, ButtonHeight);
    setFixedSize(width, height);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(width / 2, height / 2));
}

bool TFormInputBase::eventFilter(QObject* watched, QEvent* event) {
    // Enter and Esc in the box act as OK and Cancel before the box handles the key itself.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OKBtnClick();
            return true;
        }
        if (key == Qt::Key_Escape) {
            reject();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

TFormInputInteger::TFormInputInteger(const QString& caption, const QString& prompt, int value,
                                     int min, int max)
    : TFormInputBase(caption, prompt, new TIntegerBox), Min_(min), Max_(max), Result_(value) {
    seValue = findChild<QSpinBox*>();
    seValue->setObjectName(QStringLiteral("seValue"));
    seValue->setSingleStep(1);
    seValue->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    if (min < max) {
        seValue->setRange(min, max);
        value = std::clamp(value, min, max);
    } else {
        seValue->setRange(INT_MIN, INT_MAX); // equal bounds: no bound in the box
    }
    seValue->setValue(value);
    seValue->installEventFilter(this);
    seValue->findChild<QLineEdit*>()->installEventFilter(this);
}

void TFormInputInteger::OKBtnClick() {
    // The text as typed: the box has not corrected it when Enter pressed OK.
    bool ok = false;
    int v = static_cast<TIntegerBox*>(seValue)->Read(seValue->cleanText(), ok);
    if (!ok)
        v = Min_;
    if (v > Max_)
        v = Max_;
    if (v < Min_)
        v = Min_;
    Result_ = v;
    accept();
}

TFormInputDouble::TFormInputDouble(const QString& caption, const QString& prompt, int digits,
                                   double value, double min, double max)
    : TFormInputBase(caption, prompt, new TEditNum) {
    enValue = findChild<TEditNum*>();
    enValue->setObjectName(QStringLiteral("enValue"));
    enValue->SetFormat(TFloatFormat::ffGeneral);
    enValue->SetPrecision(15);
    enValue->SetDigits(4);
    enValue->SetMinimum(0);
    enValue->SetMaximum(100);
    enValue->SetCheckRange(true);
    enValue->SetRange(min, max);
    // Shown as given, also outside the range; the commit at OK brings it into the range.
    enValue->setText(FloatToStrF(value, TFloatFormat::ffFixed, 9, digits));
    enValue->UpdateLook();
    enValue->installEventFilter(this);
}

void TFormInputDouble::OKBtnClick() {
    QPalette pal = enValue->palette();
    if (!enValue->TextIsNumber()) {
        pal.setColor(QPalette::Base, QColor(255, 0, 0));
        enValue->setPalette(pal);
        return;
    }
    pal.setColor(QPalette::Base, QColor(255, 255, 255));
    enValue->setPalette(pal);
    // OK and Enter alike commit the number, which brings it into the range.
    enValue->SetValue(enValue->Value());
    accept();
}

int InputIntegerConfirm(const QString& caption, const QString& prompt, int value, int min, int max,
                        bool& accepted) {
    accepted = false;
    try {
        TFormInputInteger dialog(caption, prompt, value, min, max);
        if (ExecModal(&dialog) == QDialog::Accepted) {
            accepted = true;
            return dialog.Result();
        }
    } catch (const std::exception& e) {
        // Only a replaced ModalHook can fail here (the dialog itself does not throw): the
        // question counts as cancelled.
        qWarning().noquote() << "input dialog failed:" << e.what();
        accepted = false;
    }
    return value;
}

int InputInteger(const QString& caption, const QString& prompt, int value, int min, int max) {
    bool accepted = false;
    return InputIntegerConfirm(caption, prompt, value, min, max, accepted);
}

double InputDouble(const QString& caption, const QString& prompt, int digits, double value,
                   double min, double max) {
    try {
        TFormInputDouble dialog(caption, prompt, digits, value, min, max);
        if (ExecModal(&dialog) == QDialog::Accepted)
            return dialog.enValue->Value();
    } catch (const std::exception& e) {
        // As in InputIntegerConfirm: a failed ModalHook counts as a cancel.
        qWarning().noquote() << "input dialog failed:" << e.what();
    }
    return value;
}
