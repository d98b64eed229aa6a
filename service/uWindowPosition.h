#pragma once
// Window positions kept in "WndPos.ini" under the working directory's "INI", one section per
// window named after the window's object name. User-interface thread.

#include <QList>
#include <QRect>

class QWidget;

// Restores the saved position and size of the window; missing keys keep the current geometry.
// A saved position whose title bar would show on no screen (a monitor since removed) is moved
// onto the primary screen with its size, shrunk to that screen where it is larger.
void LoadWindowPosition(QWidget* window);
// Saves the window's position and size; failures are swallowed.
void SaveWindowPosition(QWidget* window);

// The frame (position and outer size) unchanged when a reasonable part of its title bar shows
// on one of the areas; otherwise moved into primary, its size bounded by primary's.
QRect KeepOnScreen(const QRect& frame, const QList<QRect>& areas, const QRect& primary);
