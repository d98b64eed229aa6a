#pragma once
// What the trend window and the two-parameter trend window share: the chart with its scroll bar
// and status panels, the actions, menus and tool bar, the keys, the span presets, live and
// archive modes, the day-by-day archive load behind the progress window, and the settings file
// "fGraph.ini". The windows add their lines, values, read-outs and reports. Modal windows;
// user-interface thread.

#include "uArchiveLoad.h"
#include "uPlantStore.h"
#include "uRangeDT.h"
#include "uStatusPanel.h"
#include "uTrendChart.h"
#include "uTrendExport.h"
#include <QDialog>
#include <QHash>
#include <QIcon>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QLabel;
class QMenuBar;
class QScrollBar;
class QStatusBar;
class QToolBar;
class TIniFile;

// A small picture for a chart window's tool button: the glyph in a frame.
QIcon ChartToolIcon(const QString& glyph);

class TFormGraphBase : public QDialog {
    Q_OBJECT
public:
    struct TPreset {
        const char* Action;
        const char* Caption;
        double Days;
    };
    // The twelve time span presets, index 1 to 12 in this order.
    static const std::array<TPreset, 12> Presets;
    // A stored preset index outside 1 to 12 selects this one ("1 день").
    static constexpr int FallbackStepIndex = 8;
    static constexpr int DefaultStepIndex = 4;

    ~TFormGraphBase() override;

    // --- state (names of the window's fields) ---
    std::unique_ptr<TRangeDT> Range;
    bool ArchiveMode = false;
    bool ShowPoints = false;
    bool Scan = false;
    int dtStepIndex = DefaultStepIndex;
    double StepSpan = 45.0 / 1440; // days
    bool SyncingScrollBar = false;
    QString SettingsFile;

    // --- gauges and the source ---
    // A trend shows one gauge: the rows of the day tables with that plant number (PN), or of
    // no known gauge (UnknownGauge: older files), never several gauges joined into one line.
    // The gauge whose live values the window shows (its plant number), set by the opener before
    // Open; AllGauges when the opener does not say (its live values then join the chosen gauge).
    int CurrentGauge = AllGauges;
    // The gauge the lines show; chosen when a range is loaded: the one chosen before when the
    // range has it, else the current gauge when the range has it, else the first found.
    int Gauge = AllGauges;
    // The gauges the chooser lists: those with rows in the range, and the current gauge.
    std::vector<int> Gauges;
    // The plant archive's settings ([PlantArchive] of bde.ini), read when the window is made.
    // When enabled the window offers "Сервер архива" beside "Локальный архив".
    TPlantServerSettings PlantSettings;
    bool FromServer = false;
    // The text of the server's last failure; empty after a load that reached it.
    QString ServerError;
    // The row above the chart: "Прибор" with its chooser, "Источник" with its; shown when there
    // is a choice (more than one gauge, or the plant archive enabled).
    QWidget* GaugeBar = nullptr;
    QComboBox* GaugeBox = nullptr;
    QComboBox* SourceBox = nullptr;
    // "№ <plant number>", or "неизвестен" for UnknownGauge.
    static QString GaugeText(int gauge);
    // Shows that gauge's lines (loads the range again).
    void ChooseGauge(int gauge);
    // Reads the lines from the server (true) or the local day files (loads the range again).
    void ChooseSource(bool server);
    // "Прибор № 1001" for the printed report; empty when the window shows no one gauge.
    QString GaugeCaption() const;

    // --- the caption: the parameter and the gauge shown (TrendCaption) ---
    // The parameter as the caption names it ("Ну - Уровень") and as export file names begin
    // ("Ну").
    QString Parameter;
    QString ExportName;
    // The address on the line of the gauge with a plant number; -1 when it is not polled.
    // Set by the opener; unset: no address is named.
    std::function<int(int plantNumber)> GaugeAddress;
    // The caption for the parameter and the gauge the lines show; run after every load.
    void RefreshCaption();
    // The default name of an export of the shown span (TrendExportFileName).
    QString ExportFileName(const QString& suffix) const;

    // --- measuring cursors (actCursors) ---
    // Where the cursors were placed (trend X); each snaps to the nearest reading of every line.
    std::array<std::optional<double>, 2> CursorAt;
    // The read-out under the chart: one line per trend line (CursorReadoutText).
    QLabel* CursorPanel = nullptr;
    void SetCursors(bool on);
    void PlaceCursor(int which, double x);
    // Marks and read-out again for the lines as they are now (after a load or a live point).
    void RefreshCursors();
    // The nearest reading of each line (in the order of Lines_) to cursor `which`.
    std::vector<std::optional<TTrendPoint>> CursorReadings(int which) const;

    // --- controls ---
    TTrendChart* Chart1 = nullptr;
    QScrollBar* ScrollBar1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    TStatusPanel* Panel(int index) const;
    int PanelCount() const { return static_cast<int>(Panels_.size()); }
    // The action with that object name; every name is resolved when the window is built.
    QAction* Action(const QString& name) const;

    // --- operations, as the actions and keys run them ---
    void ApplyStep(int index);
    void SyncScrollBar();
    void ScrollBarChange();
    virtual void RefreshSpanPanels() = 0;
    void WritePanel0();
    void ActionsRefresh();
    // refresh: also uncheck the presets, synchronise the scroll bar and refresh the panels.
    void ShowAllX(bool refresh = true);
    virtual void ShowAllY() = 0;
    void ShowAllXY();
    void ZoomIn();
    void ZoomOut();
    void UndoZoom();
    void PointsShow(bool show);
    void ScanOn();
    void ScanOff();
    void CurrentRange();
    void ChooseRange();
    // Loads the range from the archive into empty lines (LoadTrendArchive), behind the progress
    // window with its "Отменить". False, with the lines as they were, when refused: a load is
    // running, or the range would not fit in memory (RangeFitsMemory). A cancelled load keeps
    // the days it read. Days whose tables could not be read are named in a message.
    // checkMemory false: the caller has checked the range already.
    bool LoadArchive(bool checkMemory = true);
    bool IsLoading() const { return Loading_; }
    // Asks a running load to stop (the progress window's "Отменить").
    void CancelLoad();
    // The memory a load may take, bytes; 0 takes what the system has available
    // (AvailableMemoryBytes) and what the lines hold now (let go before a load). Tests set a
    // small limit.
    qint64 MemoryLimitBytes = 0;
    // False, after the message "Диапазон слишком велик…" naming the estimate, when the points
    // of [start, stop] (the rows of the day tables present, every line) times the bytes a point
    // costs exceed the memory limit.
    bool RangeFitsMemory(TDateTime start, TDateTime stop);
    // Moves the vertical axes by a fraction of a span (Page Up 0.1, Down -0.01, ...).
    virtual void ScrollVertical(double fraction) = 0;
    void ScrollHorizontal(double fraction);
    void UncheckPresets();

    void ReadSettings();
    // Never fails outward: a settings file that cannot be written is left as it was.
    void SaveSettings();

    // The shown span as CSV; false with a message box when it could not be written.
    bool SaveCsv(const QString& path);
    virtual bool SavePdf(const QString& path) = 0;
    virtual void ReportPreview() = 0;

    // Where an empty chart ends: now in live mode, the range's stop in archive mode.
    double EmptyAnchor() const;
    // The closing steps (values released, settings and position saved) when the window was not
    // closed through its own close; run once.
    void Finish() { FormClosing(); }

    // The width that shows the tool bar and every status panel whole; first gives each panel
    // its sample text (PanelSamples), the widest it is expected to show.
    int NeededWidth();
    // Widens the window to NeededWidth (a wider window stays as it is), bounded by the available
    // width of its screen, and keeps it on that screen. Run when the window opens.
    void FitOpeningWidth();

protected:
    struct TPanelLayout {
        int Width;
        bool Centred;
        const char* Text;
        // Where the text is shortened when the panel is narrower than it.
        Qt::TextElideMode Elide = Qt::ElideRight;
    };
    // yRangeActions: the one-parameter window's "Изменить диапазон Y" and "Установить
    // диапазон Y".
    TFormGraphBase(bool yRangeActions, const QList<TPanelLayout>& panels);

    // --- what each window adds ---
    virtual std::vector<TArchiveSource> ArchiveSources() = 0;
    // Messages after a load about lines that stayed empty.
    virtual void EmptyDataMessages() = 0;
    // The value axes from the descriptions (after an undo zoom).
    virtual void DescriptionRanges() = 0;
    virtual void AttachLiveHandlers(bool attach) = 0;
    virtual void MouseReadout(double x, double yLeft, double yRight) = 0;
    virtual QList<TTrendCsvColumn> CsvColumns() const = 0;
    // How each line (in the order of Lines_) writes its part of the cursor read-out.
    virtual std::vector<TReadoutFormat> ReadoutFormats() const = 0;
    virtual void ReadExtraSettings(const TIniFile&) {}
    virtual void WriteExtraSettings(TIniFile&) {}
    // Run once when following is switched on.
    virtual void FollowStarted() {}
    // Closing: values disconnected and destroyed.
    virtual void ReleaseValues() = 0;
    // The widest text each panel is expected to show, by panel index (missing or empty: none).
    // Here the range and the span; the windows add theirs.
    virtual QStringList PanelSamples() const;
    // A date-time as wide as any in the panels' font, for their samples.
    static TDateTime SampleStamp();

    // A live point of a line: added now, or kept until a running load has finished. False, and
    // nothing added, when the line shows another gauge than the current one.
    bool LivePoint(TTrendSeries* series, double value);
    // After a live point: follow the newest value when Scan is on.
    void FollowNewest();
    // The closing steps; run once.
    void FormClosing();
    QString FileDialog(const QString& caption, const QString& filter, const QString& suffix);
    void ErrorBox(const QString& text);
    // The date-time text of a trend X (the locale's short date and long time).
    static QString XText(double x);

    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Connects an action to a handler that is skipped while a load runs.
    void On(const QString& name, std::function<void()> handler);

    QList<TTrendSeries*> Lines_;
    bool Closed_ = false;

private:
    void BuildActions(bool yRangeActions);
    void BuildMenus(bool yRangeActions);
    void BuildToolBar(bool yRangeActions);
    // Runs a zoom action of the window after recording the view it leaves.
    void Zooming(const QString& name, std::function<void()> zoom);
    void ViewsRefresh();
    QAction* NewAction(const QString& name, const QString& caption, const QString& hint,
                       const QString& glyph);
    bool HandleKey(int key, Qt::KeyboardModifiers modifiers);
    void ChartZoomed();
    void ChartScrolled();
    void MergePending();

    struct TPending {
        TTrendSeries* Series;
        double X;
        double Y;
    };
    // After a load: the message naming the days that could not be read.
    void UnreadableDaysMessage(const QList<QDate>& dates);
    // The gauges of [start, stop] (local day files or the server), and the gauge that a load of
    // that range shows; false when the server could not be asked (ServerError).
    bool FindGauges(TDateTime start, TDateTime stop, std::vector<int>& gauges, int& gauge,
                    std::vector<TGaugeRows>* rows = nullptr);
    // The chooser's entries from Gauges and Gauge, the bar shown when there is a choice.
    void FillGaugeBar();
    // Live values join the line only when they are the shown gauge's.
    bool LiveGaugeShown() const;
    bool FillingGaugeBar_ = false;
    // A close asked for during a load: the load is cancelled and the window closes after it.
    void CloseAfterLoad();

    QHash<QString, QAction*> Actions_;
    QList<TStatusPanel*> Panels_;
    std::vector<TPending> Pending_;
    bool Loading_ = false;
    bool CancelLoad_ = false;     // the running load is to stop
    bool CloseAfterLoad_ = false; // and the window to close when it has
};
