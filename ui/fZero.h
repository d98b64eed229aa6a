#pragma once
// Zero array window "Массив нулей": the device object's zero array as a list and as a strip
// chart of the positions, zoom and scroll along the scale, the array saved to and loaded from a
// text file, and cleared. A view over commands/uZeroArray.h: the arithmetic and the file live
// there. Not modal, at most one; the main window refreshes it after each zero-array read
// through its action "actZeroRefresh". User-interface thread.

#include "uZeroArray.h"

#include <QHash>
#include <QMainWindow>
#include <optional>

class QAction;
class QCPBars;
class QCPItemText;
class QCustomPlot;
class QListWidget;
class QScrollBar;
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

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
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
};

// Creates the window over the main window's command layer when the slot holds none, keeps it
// there and shows it (not modally). Returns 0.
int ShowZero(TWindowSlot<TFormZero>& slot, TGaugeCommands& commands, TWindowContext* context,
             QWidget* parent);
