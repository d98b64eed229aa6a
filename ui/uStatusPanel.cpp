#include "uStatusPanel.h"

#include <QPainter>
#include <QStyle>
#include <algorithm>

TStatusPanel::TStatusPanel(const QString& text, int width, Qt::TextElideMode elide, QWidget* parent)
    : QLabel(text, parent), Declared_(width), Elide_(elide) {
    setTextFormat(Qt::PlainText);
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    setMinimumWidth(width);
}

void TStatusPanel::SetSample(const QString& sample) {
    if (sample == Sample_)
        return;
    Sample_ = sample;
    updateGeometry();
}

int TStatusPanel::Padding() const {
    return fontMetrics().horizontalAdvance(u'x') / 2 + margin();
}

int TStatusPanel::WidthFor(const QString& text) const {
    const QMargins m = contentsMargins();
    return fontMetrics().horizontalAdvance(text) + 2 * Padding() + m.left() + m.right();
}

QSize TStatusPanel::sizeHint() const {
    const int width = std::max({Declared_, WidthFor(text()), WidthFor(Sample_)});
    return {width, QLabel::sizeHint().height()};
}

QSize TStatusPanel::minimumSizeHint() const {
    return {Declared_, QLabel::minimumSizeHint().height()};
}

QString TStatusPanel::ShownText() const {
    const int room = contentsRect().width() - 2 * Padding();
    return fontMetrics().elidedText(text(), Elide_, std::max(room, 0));
}

void TStatusPanel::UpdateToolTip(bool elided) {
    const QString tip = elided ? text() : QString();
    if (toolTip() != tip)
        setToolTip(tip);
}

void TStatusPanel::paintEvent(QPaintEvent* event) {
    // The frame as a frame draws it; the text shortened to the room inside it.
    QFrame::paintEvent(event);
    const QString shown = ShownText();
    UpdateToolTip(shown != text());
    QPainter painter(this);
    const QRect room = contentsRect().adjusted(Padding(), 0, -Padding(), 0);
    style()->drawItemText(&painter, room, static_cast<int>(alignment()), palette(), isEnabled(),
                          shown, foregroundRole());
}
