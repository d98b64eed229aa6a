#pragma once
// The keys of a chart window with zoom and a scroll bar (trend windows, zero array): Esc closes,
// Space undoes the zoom, keypad plus and minus zoom in and out, Page Up/Down and Up/Down scroll
// the vertical axes by a tenth or a hundredth of their span, Left/Right the horizontal axes by
// a hundredth of the bottom axis span, Home and End put the scroll bar at 0 and 100.
// Any thread (pure).

#include <Qt>

struct TChartKey {
    enum TAction { None, Close, UndoZoom, ZoomIn, ZoomOut, Scroll, ScrollHome, ScrollEnd };
    TAction Action = None;
    double Vertical = 0.0;   // Scroll: fraction of the vertical span
    double Horizontal = 0.0; // Scroll: fraction of the bottom axis span
};

TChartKey ChartKeyOf(int key, Qt::KeyboardModifiers modifiers);
