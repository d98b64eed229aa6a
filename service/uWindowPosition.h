#pragma once
// Window positions kept in "WndPos.ini" under the working directory's "INI", one section per
// window named after the window's object name. User-interface thread.

class QWidget;

// Restores the saved position and size of the window; missing keys keep the current geometry.
void LoadWindowPosition(QWidget* window);
// Saves the window's position and size; failures are swallowed.
void SaveWindowPosition(QWidget* window);
