#pragma once
// Zero array window "Массив нулей": the device object's zero array as a list and as a strip
// chart of the positions, zoom and scroll along the scale, the array saved to and loaded from a
// text file, and cleared. A view over commands/uZeroArray.h: the arithmetic and the file live
// there. Not modal, at most one; the main window refreshes it after each zero-array read
// through its action "actZeroRefresh".
// Echo snapshots: "Запись" reads the array every few seconds while the window is open and keeps
// each read as a zero-array file in a recording folder (commands/uZeroSnapshots.h); the slider
// shows any snapshot with its time, "Воспроизвести" steps through them as a movie, and a
// reference array ("Эталон…", or SetReference) is drawn over the shown one in green, with what
// moved listed under the array. User-interface thread.

#include "uGaugeCommands.h"
#include "uZeroArray.h"
#include "uZeroSnapshots.h"

#include <QHash>
#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCPBars;
class QCPItemText;
class QCustomPlot;
class QLabel;
class QListWidget;
class QScrollBar;
class QSlider;
class QSpinBox;
class QToolBar;
class TGaugeCommands;
class TWindowContext;
template <class W> class TWindowSlot;

class TFormZero : public QMainWindow {
    Q_OBJECT
public:
    // The window over the command layer (which must outlive it); restores its position and
    // runs "Обновить". The context (which must outlive it; may be null) gives the main window's
    // zero-array commands for the menu and tool bar, and says when the program closes (the
    // window then closes with its parent). Closing the window destroys it; the array stays in
    // the device object.
    explicit TFormZero(TGaugeCommands& commands, TWindowContext* context = nullptr,
                       QWidget* parent = nullptr);
    ~TFormZero() override;

    QListWidget* lbZero = nullptr;
    QCustomPlot* Chart1 = nullptr;
    QCPBars* Series1 = nullptr; // blue: one column of height 1 at each position
    QCPBars* Series2 = nullptr; // red: columns of height 3 at the minimum and the maximum
    QScrollBar* ScrollBar1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    // Echo snapshots.
    QToolBar* EchoBar = nullptr;
    QSpinBox* seInterval = nullptr;      // seconds between two snapshots, kept in the settings
    QSlider* tbSnapshots = nullptr;      // the snapshot shown, 0..count - 1
    QLabel* lblSnapshot = nullptr;       // its number and time
    QCPBars* Series3 = nullptr;          // green: the reference's positions, height 0.5
    QLabel* lblDifference = nullptr;     // the reference's caption and what moved, in one line
    QListWidget* lbDifference = nullptr; // what moved, one entry a line

    // The window's own action with that object name, or null.
    QAction* Action(const QString& name) const;
    // The labels of the red columns, as drawn.
    QStringList LimitLabels() const;
    // The bottom and left axes' spans.
    TZeroRange View() const;
    TZeroRange LeftView() const;

    // --- operations, as the actions and keys run them ---
    // "Обновить": both series and the list cleared, then LoadFromZero.
    void Refresh();
    void LoadFromZero();
    void UndoZoom();
    void ZoomIn();
    void ZoomOut();
    void SyncScrollBar();
    void ScrollBarChange();
    // "Сохранить массив нулей в файл" and "Загрузить массив нулей из файла": dialogs, question
    // and messages. A cancelled or failed load keeps the array.
    void SaveToFile();
    void LoadFromFile();
    // "Закрыть": the chart and the list cleared, the array cleared in the device object.
    void CloseArray();

    // --- echo snapshots ---
    // "Запись" on: a new recording folder (RecordingRoot()/yyyyMMdd_HHmmss), a snapshot at once
    // and then every seInterval seconds; off: no more snapshots (one under way ends first).
    void StartRecording();
    void StopRecording();
    bool Recording() const;
    // A snapshot read now: false when one is under way, the main window reads the array, or
    // there is no gauge link. Runs the exchanges on this thread between the window's events.
    bool TakeSnapshot();
    // "Открыть запись…": a recording folder read back (LoadZeroRecording); files that do not
    // load are named in a box. False when nothing was loaded.
    bool LoadRecording(const QString& folder);
    const std::vector<TZeroSnapshot>& Snapshots() const { return Snapshots_; }
    QString RecordingFolder() const { return Folder_; }
    // Shows snapshot `index` (the slider follows); -1 shows the device object's array again.
    void ShowSnapshot(int index);
    int ShownSnapshot() const { return ShownSnapshot_; }
    // "Воспроизвести": the snapshots from the shown one (from the first when the last is shown)
    // one every ZeroPlayStepMs, then stops; "Стоп" stops where it is.
    void Play();
    void StopPlaying();
    bool Playing() const;
    // The reference drawn over the shown array, with its caption ("Эталон: " + caption). The
    // hook for a reference from elsewhere (a service session's as-left array).
    void SetReference(const TZeroArray& reference, const QString& caption);
    void ClearReference();
    const std::optional<TZeroArray>& Reference() const { return Reference_; }
    // The shown array against the reference; none without a reference or data.
    std::optional<TZeroDifference> Difference() const;
    // "Эталон…": a zero-array file chosen in a dialog becomes the reference.
    void ChooseReference();
    // "Эталон из протокола": the zero array of the current gauge's newest service session (its
    // as-left array, else its as-found one) becomes the reference; false, with a message, when
    // no session of the gauge holds one. Empty `recordsDir`: the program's Records folder.
    bool ReferenceFromRecord(const QString& recordsDir = QString());
    // Where recordings are made: "Echo" in the program's folder.
    static QString RecordingRoot();
    // One movie frame, ms.
    static constexpr int ZeroPlayStepMs = 400;

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A zero-array file chosen in a dialog and read; none when the dialog was cancelled or the
    // file was refused (said in a box). `path` gets the chosen file.
    std::optional<TZeroLoad> AskZeroFile(const QString& caption, const QString& folder,
                                         QString& path);
    void BuildActions();
    void BuildLayout();
    QAction* NewAction(const QString& name, const QString& caption, const QIcon& icon);
    void ClearView();
    void SetView(const TZeroRange& view);
    void UpdateBarWidths();
    bool HandleKey(int key, Qt::KeyboardModifiers modifiers);
    void ScrollVertical(double fraction);
    void ScrollHorizontal(double fraction);
    void ErrorBox(const QString& text);
    void BuildEchoBar();
    // Both series, the labels and the list for an array; the view kept when `keepView`.
    void ShowArray(const TZeroArray& zero, bool keepView);
    void ShowReference();
    void SyncSnapshotControls();
    void RecordTick();
    void PlayTick();
    // The actions that must not run while a snapshot is read (the main window's reads, load,
    // "Закрыть"), disabled or restored.
    void LockArrayActions(bool locked);
    int ReadInterval() const;
    void SaveInterval(int seconds) const;

    TGaugeCommands& Commands_;
    TWindowContext* Context_;
    QHash<QString, QAction*> Actions_;
    QList<QCPItemText*> Labels_;
    // The array as last shown; no data while the view is cleared.
    TZeroArray Shown_{};
    bool HasData_ = false;
    bool SyncingScrollBar_ = false;
    // The array last loaded from a file and its comment line: while the device object still
    // holds it, a save writes that comment, not this gauge's plant number.
    struct TLoadedFile {
        TZeroArray Array{};
        QByteArray Comment;
    };
    std::optional<TLoadedFile> FromFile_;

    // Echo snapshots.
    class TRecordUi;
    std::unique_ptr<TRecordUi> RecordUi_;
    std::unique_ptr<TGaugeCommands> RecordCommands_;
    QTimer RecordTimer_;
    QTimer PlayTimer_;
    QString Folder_;
    std::vector<TZeroSnapshot> Snapshots_;
    int ShownSnapshot_ = -1;
    bool Taking_ = false;
    bool CloseAfterTake_ = false;
    std::optional<TZeroArray> Reference_;
    QString ReferenceCaption_;
    // The actions LockArrayActions disabled, to enable again.
    QList<QAction*> Locked_;
};

// Creates the window over the main window's command layer when the slot holds none, keeps it
// there and shows it (not modally). Returns 0.
int ShowZero(TWindowSlot<TFormZero>& slot, TGaugeCommands& commands, TWindowContext* context,
             QWidget* parent);
