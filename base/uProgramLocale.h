#pragma once
// The program's locale, set once at start on the user-interface thread, before any window.

// Numbers on screen use Russian separators (decimal comma, a space between thousands) while
// the program's texts are Russian, whatever the desktop's locale; the C library's numeric
// locale goes back to "C", so that no library's printf or strtod sees a decimal comma.
void UseProgramLocale();
