#pragma once
// A panel of a trend window's status bar: a framed label that keeps its whole text (text()) and,
// when it is narrower than that text, draws it shortened (in the middle or at the right) with
// the whole text as its tooltip. Its size hint fits its text and a sample text (the widest it is
// expected to show), and is never below its declared width, which is also its minimum.
// User-interface thread.

#include <QLabel>

class TStatusPanel : public QLabel {
    Q_OBJECT
public:
    TStatusPanel(const QString& text, int width, Qt::TextElideMode elide,
                 QWidget* parent = nullptr);

    int DeclaredWidth() const { return Declared_; }
    // The widest text the panel is expected to show; empty for none.
    void SetSample(const QString& sample);
    const QString& Sample() const { return Sample_; }
    // Width of the label that shows `text` whole (frame and padding included).
    int WidthFor(const QString& text) const;
    // The text as drawn at the current width, and whether it is shortened.
    QString ShownText() const;
    bool Elided() const { return ShownText() != text(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Space left and right of the text inside the frame.
    int Padding() const;
    void UpdateToolTip(bool elided);

    int Declared_;
    Qt::TextElideMode Elide_;
    QString Sample_;
};
