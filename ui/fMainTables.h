#pragma once
// Texts of the main window's own actions: polling, windows, trends, settings and files. The
// gauge's commands and parameters bring theirs from the command layer (commands/uCommandTable.h,
// commands/uParamTable.h). User-interface thread (read-only data).

struct TActionText {
    const char* Name;
    const char* Caption;
    const char* Hint; // empty: no hint
};
extern const TActionText MainActionTexts[];
extern const int MainActionTextCount;
