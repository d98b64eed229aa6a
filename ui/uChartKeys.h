#pragma once
// The keys of a chart window with zoom and a scroll bar (trend windows, zero array): Esc closes,
// Space undoes the zoom, keypad plus and minus zoom in and out, Page Up/Down and Up/Down scroll
// the vertical axes by a tenth or a hundredth of their span, Left/Right the horizontal axes by
// a hundredth of the bottom axis span, Home and End put the scroll bar at 0 and 100.
// Any thread (pure).

#include <Qt>
#include <functional>

struct TChartKey {
    enum TAction { None, Close, UndoZoom, ZoomIn, ZoomOut, Scroll, ScrollHome, ScrollEnd };
    TAction Action = None;
    double Vertical = 0.0;   // Scroll: fraction of the vertical span
    double Horizontal = 0.0; // Scroll: fraction of the bottom axis span
};

TChartKey ChartKeyOf(int key, Qt::KeyboardModifiers modifiers);

// What a chart window does for each key.
struct TChartKeyActions {
    std::function<void()> Close;
    std::function<void()> UndoZoom;
    std::function<void()> ZoomIn;
    std::function<void()> ZoomOut;
    std::function<void(double fraction)> ScrollVertical;
    std::function<void(double fraction)> ScrollHorizontal;
    std::function<void(int position)> ScrollTo; // the scroll bar: 0 (Home) or 100 (End)
};

enum class TChartKeyDone {
    NotMine,  // not a chart key
    Finished, // closed or zoomed: nothing more to do
    Scrolled  // the view moved: the window puts the focus on the chart and syncs its scroll bar
};

// Runs what the key does through the window's actions.
TChartKeyDone RunChartKey(int key, Qt::KeyboardModifiers modifiers,
                          const TChartKeyActions& actions);
