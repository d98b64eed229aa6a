#pragma once
// Visual bindings: typed double values that write themselves into a window's controls
// whenever their output changes. The binding does not own its controls.
// User-interface thread only.

#include "IOData.h"
#include <QPointer>

class QLabel;
class QWidget;
class TVHistogram;

// Sets the text of any control that has one (label, button, line edit, group box title).
void SetControlText(QWidget* control, const QString& text);

class TIODoubleVisual : public TIODouble {
public:
    TIODoubleVisual(); // routes OnOutChange to Refresh
    // Writes the title, the value (with its tool tip) and the unit into the set controls.
    virtual void Refresh() = 0;

    // Receives Description.Title; none by default.
    QPointer<QWidget> TitleControl;
    // Receives Description.Dimension; none by default.
    QPointer<QWidget> DimensionControl;

protected:
    // "Title\nHint\n<value> <Dimension>": the three lines of the value control's tool tip.
    QString ToolTipText(const QString& printed) const;
    void RefreshTitle();
    void RefreshDimension();
};

// Value shown as text in a label.
class TIODoubleLabel : public TIODoubleVisual {
public:
    void Refresh() override;
    QPointer<QLabel> ValueControl;
};

// Value shown as text in a static text (a framed label).
class TIODoubleStaticText : public TIODoubleVisual {
public:
    void Refresh() override;
    QPointer<QLabel> ValueControl;
};

// Value shown as the bar of a bar gauge; the gauge ignores values outside its range.
class TIODoubleVHistogram : public TIODoubleVisual {
public:
    void Refresh() override;
    QPointer<TVHistogram> ValueControl;
};
