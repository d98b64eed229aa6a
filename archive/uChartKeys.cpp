#include "archive/uChartKeys.h"

TChartKey ChartKeyOf(int key, Qt::KeyboardModifiers modifiers) {
    const bool keypad = modifiers & Qt::KeypadModifier;
    auto scroll = [](double vertical, double horizontal) {
        return TChartKey{TChartKey::Scroll, vertical, horizontal};
    };
    switch (key) {
    case Qt::Key_Escape:
        return {TChartKey::Close};
    case Qt::Key_Space:
        return {TChartKey::UndoZoom};
    case Qt::Key_Plus:
        return {keypad ? TChartKey::ZoomIn : TChartKey::None};
    case Qt::Key_Minus:
        return {keypad ? TChartKey::ZoomOut : TChartKey::None};
    case Qt::Key_PageUp:
        return scroll(0.1, 0.0);
    case Qt::Key_PageDown:
        return scroll(-0.1, 0.0);
    case Qt::Key_Up:
        return scroll(0.01, 0.0);
    case Qt::Key_Down:
        return scroll(-0.01, 0.0);
    case Qt::Key_Left:
        return scroll(0.0, -0.01);
    case Qt::Key_Right:
        return scroll(0.0, 0.01);
    case Qt::Key_Home:
        return {TChartKey::ScrollHome};
    case Qt::Key_End:
        return {TChartKey::ScrollEnd};
    default:
        return {};
    }
}
