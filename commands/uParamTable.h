#pragma once
// The gauge's parameters, one row each: where the value lives in the device object, the read
// and write command codes, the texts of its Change, Read, Write and radio actions, the change
// dialog, the parameter-file key and default, the bulk sets and order, and which actions are
// factory-only or stay available while polling. The main window's actions, the bulk lists, the
// change dialogs, the radio groups and the parameter files are all derived from this table.
// Read-only data: any thread. The value accessors touch the device object: call them where the
// device object may be touched (the user-interface thread, under the exchange lock while a
// poll cycle may run).

#include <QLocale>
#include <QString>
#include <span>
#include <variant>
#include <vector>

class TUlmar;

// One handle per row, in table order.
enum class TParamId : int {
    PlantNumber,
    HardVersion,
    SoftVersion,
    SystemAddress,
    UserPsw,
    PPM,
    NNZ,
    Dist1,
    Dist2,
    KKalman,
    Relay1Ust1,
    Relay1Ust2,
    Relay2Ust1,
    Relay2Ust2,
    ModeImage,
    ModeCurrentOutput,
    ProgramType,
    ModeProcessing,
    ModeInputFilter,
    ModeChannel,
    ModeCalibr,
    ModeTermostat,
    KrPer,
    SmPer,
    KrPerOpCh,
    SmPerOpCh,
    FreqCalibr,
    KKK1,
    KKK2,
    KKK3,
    Speed,
    TemperCompareTermostat,
    PlantNumberSVCH,
    TypeSVCH,
    LevelKalibr,
    Count
};

// A real kept behind a getter and a setter that checks its range.
struct TRealAccessor {
    double (TUlmar::*Get)() const;
    void (TUlmar::*Set)(double);
};

// The field of the device object that holds the parameter; its type is the parameter's kind.
using TParamField = std::variant<quint8 TUlmar::*, quint16 TUlmar::*, qint8 TUlmar::*,
                                 double TUlmar::*, QString TUlmar::*, TRealAccessor>;
enum class TParamKind { Byte, Word, SignedByte, Real, Text };

// The actions of a parameter; bit flags in FactoryOnly and WhilePolling.
enum TParamVerb : unsigned {
    VerbNone = 0,
    VerbChange = 1,
    VerbRead = 2,
    VerbWrite = 4,
    VerbRadio = 8,
    VerbAll = 15
};

// Membership of a bulk sequence: never, always, or only in factory mode.
enum class TParamSet { None, Common, Factory };

struct TParamText {
    const char* Caption = nullptr; // null: no such action
    const char* Hint = nullptr;    // null: the caption; "": no hint
};

// The Change action's dialog: an integer (Decimals < 0), a number with Decimals decimals, or,
// for a text parameter, the one-line text box. MaxIsDist2: the bound is Dist2 when it opens.
struct TChangeDialog {
    const char* Prompt = nullptr;
    int Decimals = -1;
    double Min = 0;
    double Max = 0;
    bool MaxIsDist2 = false;
};

// One radio (or check) item: caption and hint of "act" + Stem + value.
struct TRadioChoice {
    const char* Caption;
    const char* Hint; // "": no hint
};

struct TParamRow {
    TParamId Id;
    const char* Key;  // parameter-file key, the device object's name for it
    const char* Stem; // action names: "act" + Stem + "Change" / "Read" / "Write" / value
    TParamField Field;
    // Change action; ChangeName overrides "act" + Stem + "Change".
    const char* ChangeName = nullptr;
    TParamText Change{};
    TChangeDialog Dialog{};
    // Read and Write actions and their command codes (-1: none).
    int ReadCode = -1;
    TParamText Read{};
    int WriteCode = -1;
    TParamText Write{};
    // The write has dialogs of its own (address, plant number): no plain Write handler.
    bool DialogWrite = false;
    // The write is named by the Change action's hint (progress text and failure message).
    bool WriteNamedByChange = false;
    // A failed write still commits to ROM (and refreshes) as a successful one does.
    bool CommitAfterFailedWrite = false;
    // A successful read sets the value ranges from Dist1 and Dist2.
    bool ReadUpdatesRanges = false;
    // Bulk sequences: membership and position (0: not in them).
    TParamSet ReadSet = TParamSet::None;
    TParamSet WriteSet = TParamSet::None;
    int BulkOrder = 0;
    // Actions shown only in factory mode; actions left enabled while polling runs.
    unsigned FactoryOnly = VerbNone;
    unsigned WhilePolling = VerbNone;
    // Parameter file: stored, read back, and the default of a missing or unreadable key.
    bool InFile = false;
    bool FileRead = false;
    double FileDefault = 0;
    // Radio items "act" + Stem + (RadioFirst + i); check items instead of an exclusive group.
    int RadioFirst = 0;
    std::span<const TRadioChoice> Radio{};
    bool RadioCheck = false;
    // The parameter's name where it has no Change action.
    const char* Title = nullptr;
};

// The main window's menus that list a parameter's Change action (or its radio submenu).
enum class TParamMenu { None, Parameters, Factory };

// How the windows show a parameter, in a table kept beside the rows (one entry per row, in
// handle order): where its actions stand in the main window's menus, and its value row in the
// parameters window.
struct TParamView {
    TParamId Id;
    // The Change action, or the radio submenu where the row has radio items: the menu, the
    // section (a run of items between two separators; sections in increasing order) and the
    // place within the section.
    TParamMenu Menu = TParamMenu::None;
    int MenuSection = 0;
    int MenuOrder = 0;
    // The Read and Write actions in "Считать" and "Записать" (section 0: not listed); sections
    // from AfterBulkSection on come after the bulk commands.
    int ReadWriteSection = 0;
    int ReadWriteOrder = 0;
    // The radio submenu: its hint (null: none), and its items from the last value down.
    const char* RadioMenuHint = nullptr;
    bool RadioMenuDescending = false;
    // The parameters window: the caption of the value's row (null: none), and the value as a
    // number of that width and decimals (Decimals < 0: an integer in plain decimal).
    const char* PanelCaption = nullptr;
    int PanelWidth = 0;
    int PanelDecimals = -1;
};
constexpr int AfterBulkSection = 100;

// One item of a menu derived from the table: a row's action (or radio submenu), or a separator.
struct TParamMenuItem {
    const TParamRow* Row = nullptr; // null: a separator
    TParamVerb Verb = VerbNone;     // VerbChange (the submenu where the row has radio items),
                                    // VerbRead or VerbWrite
};

// True when every row of a table sits at the place of its handle (checked at compile time).
template <class Row, size_t N> constexpr bool RowsInHandleOrder(const Row (&rows)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (static_cast<size_t>(rows[i].Id) != i)
            return false;
    return true;
}

// Every row, in table order (the parameter file's key order).
std::span<const TParamRow> ParamRows();
const TParamRow& ParamRow(TParamId id);
// The parameter's name in ulmar-cli's JSON: camelCase English ("plantNumber" for the file key
// PlantNumber), from a table kept beside the rows.
QString ParamJsonName(const TParamRow& row);
// The row with that file key, without regard to case; null when none.
const TParamRow* FindParam(const QString& key);

// The windows' view of the row.
const TParamView& ParamView(const TParamRow& row);
// The items of a Change menu ("Параметры" or "Заводские"), and of the Read or Write menu before
// or after its bulk commands: in section order, a separator between two sections.
std::vector<TParamMenuItem> ParamMenuItems(TParamMenu menu);
std::vector<TParamMenuItem> ParamMenuItems(TParamVerb verb, bool afterBulk);
// The values of the row's radio items in the order its submenu lists them.
std::vector<int> RadioMenuValues(const TParamRow& row);
enum class TBulkDirection { Read, Write };
// The rows of a bulk read or write in their order: the common set, then (in factory mode) the
// factory set.
std::vector<const TParamRow*> BulkRows(TBulkDirection direction, bool factory);

// Action names and texts.
QString ParamActionName(const TParamRow& row, TParamVerb verb); // empty: the row has none
QString RadioActionName(const TParamRow& row, int value);
const TParamText& ParamActionText(const TParamRow& row, TParamVerb verb);
QString TextCaption(const TParamText& text);
QString TextHint(const TParamText& text);
// The text that names the write in its progress window and failure message.
QString WriteHint(const TParamRow& row);
QString ReadHint(const TParamRow& row);
// The parameter's name as a person reads it: the Change caption, or the title.
QString ParamTitle(const TParamRow& row);

// Values in the device object.
TParamKind ParamKind(const TParamRow& row);
double ParamNumber(const TUlmar& ulmar, const TParamRow& row);  // 0 for a text
QString ParamString(const TUlmar& ulmar, const TParamRow& row); // a text parameter's text
// Integers are kept in the parameter's width (low byte, low word, signed byte); reals go
// through the device object's setter where it has one (which may refuse the value).
void SetParamInteger(TUlmar& ulmar, const TParamRow& row, qint64 value);
void SetParamNumber(TUlmar& ulmar, const TParamRow& row, double value);
void SetParamString(TUlmar& ulmar, const TParamRow& row, const QString& value);
// Copies the parameter's value from one device object to another.
void CopyParam(TUlmar& to, const TUlmar& from, const TParamRow& row);
// The same value as the gauge holds it: reals compared in single precision (the gauge keeps
// IEEE singles), integers in their width, texts exactly.
bool ParamEqual(const TUlmar& a, const TUlmar& b, const TParamRow& row);
// The value as a person reads it: integers in decimal, reals by the shortest text that gives the
// gauge's single back, with the locale's decimal separator and no grouping.
QString FormatParam(const TUlmar& ulmar, const TParamRow& row, const QLocale& locale = QLocale());
// The shortest decimal text that reads back as the same IEEE single, with '.' as separator.
QString ShortestSingle(double value);
// The change dialog's bounds for the parameter with the device object as it is (the set-points
// end at Dist2).
double DialogMax(const TUlmar& ulmar, const TParamRow& row);
