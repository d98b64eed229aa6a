#pragma once
// The progress of a long ulmar-cli command (scan, find) on stderr: one line rewritten in place
// while stderr is a terminal, blanked before a result's line and at the end. Main thread only.

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdio>

// One line of progress on a terminal, rewritten in place; nothing when not shown.
class TProgressLine {
public:
    explicit TProgressLine(bool shown) : Shown_(shown) {}
    void Show(const QString& text) {
        if (!Shown_)
            return;
        const QByteArray line = text.toLocal8Bit();
        std::fprintf(stderr, "\r%s%*s", line.constData(), Pad(text.size()), "");
        std::fflush(stderr);
        Width_ = text.size();
    }
    // Blanks the line, so that what follows starts at its beginning.
    void Clear() {
        if (!Shown_ || Width_ == 0)
            return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(Width_), "");
        std::fflush(stderr);
        Width_ = 0;
    }

private:
    int Pad(qsizetype width) const {
        return static_cast<int>(std::max<qsizetype>(Width_ - width, 0));
    }
    bool Shown_;
    qsizetype Width_ = 0;
};
