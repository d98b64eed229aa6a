#pragma once
// Texts of the main window's actions and the dialogs of the Change actions. User-interface
// thread (read-only data).

class TUlmar;

struct TActionText {
    const char* Name;
    const char* Caption;
    const char* Hint; // empty: no hint
};
extern const TActionText MainActionTexts[];
extern const int MainActionTextCount;

// A Change action with a number dialog: Decimals < 0 asks for an integer, otherwise for a
// number with that many decimals shown. MaxIsDist2: the upper bound is Dist2 when the dialog
// opens.
struct TChangeCommand {
    const char* Name;
    const char* Prompt;
    int Decimals;
    double Min;
    double Max;
    bool MaxIsDist2;
    double (*Get)(const TUlmar& u);
    void (*Set)(TUlmar& u, double v);
};
extern const TChangeCommand ChangeCommands[];
extern const int ChangeCommandCount;
