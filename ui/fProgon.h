#pragma once
// The run test window "Прогон": the run table of the device object in a grid whose colours
// follow the live level, the "Установить" button with the live readings, the chart of the
// level deviations, the start and stop of a run, the template, the tape change and the report
// (previewed or saved as PDF).
// What it does to the gauge and the table runs in TProgonCommands over the main window's
// commands and polling control. Not modal, at most one. User-interface thread.

#include "rProgon.h"
#include "uProgonCommands.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <optional>

class QAction;
class QCustomPlot;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QToolBar;
class TFormMain;
class TUlmar;
template <class W> class TWindowSlot;

class TFormProgon : public QMainWindow {
    Q_OBJECT
public:
    // Over the command layer and polling control of the main window (its parent; may be null:
    // then no device object and no commands).
    explicit TFormProgon(TFormMain* main = nullptr);
    ~TFormProgon() override;

    // Redraws the chart, repaints the grid, rewrites the button caption and the work-order
    // label.
    Q_INVOKABLE void Refresh();

    // The action with that object name, or null.
    QAction* Action(const QString& name) const;

    // The operator's commands, as the actions and the button run them.
    void SetLevel();
    void CreateTable();
    void RuletkaChange();
    void ProgonStart();
    void ProgonStop();
    void Report();
    // "Сохранить в PDF…": the save dialog, then SaveReportPdf; a failure in an error box.
    void ReportPdf();
    // The run report, filled as for the preview, written to a PDF file at `path`; false with
    // the reason in `error` when it could not be written.
    bool SaveReportPdf(const QString& path, QString* error = nullptr);
    void NNZClick();
    void SetScaleAutomatic(bool automatic);

    // The chart as the report takes it: the window's axes and points.
    TProgonChartView ChartView() const;
    // Automatic left axis (the menu's choice, or a point outside ±3.5 at a refresh).
    bool ScaleAutomatic() const { return ScaleAutomatic_; }
    // The mouse read-out for axis values (x, y), as panel 0 shows it.
    static QString ReadoutText(double x, double y);

    QToolBar* ToolBar1 = nullptr;
    QTableWidget* acgProgonPoints = nullptr;
    QPushButton* sbtnSetLevelFree = nullptr;
    QCustomPlot* Chart1 = nullptr;
    QLabel* lblNNZ = nullptr;
    QMenu* GridMenu = nullptr;
    QMenu* ChartMenu = nullptr;
    QLabel* Panel0 = nullptr;
    QLabel* Panel1 = nullptr;

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* NewAction(const char* name, const QString& caption, const QString& hint = {});
    void BuildChart();
    void FillGrid(const TUlmar& ulmar);
    void DrawChart(const TUlmar& ulmar);
    void ChartMouseMove(QMouseEvent* event);
    TUlmar* Ulmar() const;
    // The run commands over the main window's, while there is a main window.
    std::optional<TProgonCommands> Commands() const;

    QPointer<TFormMain> Main_;
    bool ScaleAutomatic_ = false;
};

// Creates the window over the main window when the slot holds none, keeps it there, shows it
// (not modally) and refreshes it; the window follows the main window's refresh. Returns 0.
int ShowProgon(TWindowSlot<TFormProgon>& slot, TFormMain* main);
