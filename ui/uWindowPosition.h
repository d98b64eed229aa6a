#pragma once
// Window positions kept in "WndPos.ini" under the working directory's "INI", one section per
// window named after the window's object name, and the first layout of windows that have no
// saved position yet. User-interface thread.

#include <QList>
#include <QRect>
#include <QSize>

class QWidget;

// Restores the saved position and size of the window; missing keys keep the current geometry.
// A saved position that does not lie whole on the screens (a monitor since removed, a smaller
// screen, a larger scale factor) is brought onto the screen, shrunk to it where it is larger.
void LoadWindowPosition(QWidget* window);
// Saves the window's position and size; failures are swallowed. Nothing for a tool window that
// PlaceToolWindows left closed and that has not been opened since.
void SaveWindowPosition(QWidget* window);
// True when the position file holds a readable left or top edge for the window.
bool HasSavedPosition(const QWidget* window);

// The frame (position and outer size) unchanged when it lies whole on the areas and a
// reasonable part of its title bar shows on one of them; otherwise moved into the area that
// shows most of its title bar, or into primary when none does, its size bounded by the area's.
QRect KeepOnScreen(const QRect& frame, const QList<QRect>& areas, const QRect& primary);

// Where a tool window goes on a first start: beside the main window or below it.
enum class TPlaceSide { Right, Below };

struct TPlaceRequest {
    QSize Size; // the window with its frame
    TPlaceSide Side = TPlaceSide::Right;
};

// First layout of tool windows around the main window inside the area. Each window in turn
// goes to the spot touching the main window, an occupied rectangle or a window placed before
// it where it overlaps nothing, the spot nearest the main window's top right corner (Right) or
// bottom left corner (Below); where every spot overlaps, to the one that overlaps least. Every
// rectangle lies inside the area (sizes bounded by it). Returns the frames in request order.
QList<QRect> PlaceBeside(const QRect& main, const QList<QRect>& occupied,
                         const QList<TPlaceRequest>& windows, const QRect& area);

struct TToolWindow {
    QWidget* Window = nullptr; // null entries are skipped
    TPlaceSide Side = TPlaceSide::Right;
};

// First-start layout: the main window without a saved position goes to the top left corner of
// the primary screen's available area, no wider than it; each tool window without a saved
// position in turn is moved beside the main window (PlaceBeside on the main window's screen),
// clear of the tool windows that keep a saved position and of those placed before it. One that
// goes beside the main window and finds no room may narrow the main window (when it was placed
// here) to make room beside it; one that still finds no room clear of the others within the
// screen, at its minimum size, is hidden instead of opened over them. Windows with a saved
// position are not moved.
void PlaceToolWindows(QWidget* main, const QList<TToolWindow>& windows);
