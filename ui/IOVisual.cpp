#include "IOVisual.h"
#include "VHistogram.h"

#include <QGroupBox>
#include <QLabel>
#include <QVariant>

void SetControlText(QWidget* control, const QString& text) {
    if (!control)
        return;
    if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
        return;
    }
    if (control->metaObject()->indexOfProperty("text") >= 0)
        control->setProperty("text", text);
    else
        control->setWindowTitle(text);
}

TIODoubleVisual::TIODoubleVisual() {
    OnOutChange = [this](TIOData*) { Refresh(); };
}

QString TIODoubleVisual::ToolTipText(const QString& printed) const {
    // The three lines are separated by line breaks so that the tool tip shows them as lines.
    const QChar br = QLatin1Char('\n');
    return Description()->Title + br + Description()->Hint + br + printed + QLatin1Char(' ') +
           Description()->Dimension;
}

void TIODoubleVisual::RefreshTitle() {
    if (TitleControl)
        SetControlText(TitleControl, Description()->Title);
}

void TIODoubleVisual::RefreshDimension() {
    if (DimensionControl)
        SetControlText(DimensionControl, Description()->Dimension);
}

namespace {

// Writes the printed value and its tool tip into a label.
void ShowInLabel(QLabel* label, const QString& printed, const QString& toolTip) {
    label->setToolTip(toolTip);
    label->setText(printed);
}

} // namespace

void TIODoubleLabel::Refresh() {
    RefreshTitle();
    if (ValueControl) {
        const QString printed = Description()->FormatValue(AsDouble());
        ShowInLabel(ValueControl, printed, ToolTipText(printed));
    }
    RefreshDimension();
}

void TIODoubleStaticText::Refresh() {
    RefreshTitle();
    if (ValueControl) {
        const QString printed = Description()->FormatValue(AsDouble());
        ShowInLabel(ValueControl, printed, ToolTipText(printed));
    }
    RefreshDimension();
}

void TIODoubleVHistogram::Refresh() {
    RefreshTitle();
    if (ValueControl) {
        const double x = AsDouble();
        ValueControl->SetValue(x);
        ValueControl->setToolTip(ToolTipText(Description()->FormatValue(x)));
    }
    RefreshDimension();
}
