#include "uChartKeys.h"

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

TChartKeyDone RunChartKey(int key, Qt::KeyboardModifiers modifiers,
                          const TChartKeyActions& actions) {
    const TChartKey k = ChartKeyOf(key, modifiers);
    switch (k.Action) {
    case TChartKey::None:
        return TChartKeyDone::NotMine;
    case TChartKey::Close:
        actions.Close();
        return TChartKeyDone::Finished;
    case TChartKey::UndoZoom:
        actions.UndoZoom();
        return TChartKeyDone::Finished;
    case TChartKey::ZoomIn:
        actions.ZoomIn();
        return TChartKeyDone::Finished;
    case TChartKey::ZoomOut:
        actions.ZoomOut();
        return TChartKeyDone::Finished;
    case TChartKey::Scroll:
        if (k.Vertical != 0.0)
            actions.ScrollVertical(k.Vertical);
        if (k.Horizontal != 0.0)
            actions.ScrollHorizontal(k.Horizontal);
        return TChartKeyDone::Scrolled;
    case TChartKey::ScrollHome:
    case TChartKey::ScrollEnd:
        actions.ScrollTo(k.Action == TChartKey::ScrollHome ? 0 : 100);
        return TChartKeyDone::Scrolled;
    }
    return TChartKeyDone::NotMine;
}
