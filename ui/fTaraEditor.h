#pragma once
// Tare table editor "Редактор тарировочной таблицы": a tare file edited as free text, its
// tables listed, the selected one shown as a grid and a curve with the level to volume lookup,
// the gauge's table read into "ttFromUlmar.txt" (and a file named after the gauge), the selected
// table written into the gauge or compared with the gauge's.
// Files are written through a temporary file and a rename; a failed save keeps the window,
// its text and its modified mark. The gauge sequences run in the command layer
// (TTareCommands), which stops polling around them. User-interface thread.

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

class QAction;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTableWidget;
class QCustomPlot;
class QCPGraph;
class QCPItemText;
class TEditNum;
class TTara;

class TFormMain;
template <class W> class TWindowSlot;

class TFormTaraEditor : public QMainWindow {
    Q_OBJECT
public:
    // Restores the window position, disables and clears the level boxes, creates the table
    // reader, resets the grid and starts without a file. Deletes itself when closed. The main
    // window (may be null: no gauge commands) gives the command layer, the polling control, the
    // refresh and the modes; the editor closes with it when the program ends.
    explicit TFormTaraEditor(TFormMain* main = nullptr, QWidget* parent = nullptr);
    ~TFormTaraEditor() override;

    // Actions (object names as the captions' commands are known by).
    QAction* actCreateTaraFile = nullptr;
    QAction* actCreateTypicalTaraFile = nullptr;
    QAction* actLoadTaraFile = nullptr;
    QAction* actCloseTaraFile = nullptr;
    QAction* actSaveTaraFile = nullptr;
    QAction* actSaveAsTaraFile = nullptr;
    QAction* actExit = nullptr;
    QAction* actGraphPoints = nullptr;
    QAction* actGraphMarks = nullptr;
    QAction* actSyncMemo = nullptr;
    QAction* actOnSelect = nullptr;
    QAction* actLoadFromUlmar = nullptr;
    QAction* actSaveToUlmar = nullptr;
    QAction* actCompareWithUlmar = nullptr;

    // Controls.
    QPlainTextEdit* mTaraFile = nullptr;
    QComboBox* cbTables = nullptr;
    TEditNum* enLevel = nullptr;
    TEditNum* enVolume = nullptr;
    QTableWidget* sgTaraValues = nullptr;
    QCustomPlot* ChartTara = nullptr;
    QCPGraph* Series1 = nullptr;
    QLabel* StatusPanel = nullptr;

    // The state the window shows.
    QString CurrentFile() const { return CurrentFile_; }
    bool Modified() const { return Modified_; }
    const TTara& Reader() const { return *Tara_; }
    // The text of the text box with "\n" line ends.
    QString Text() const;
    // The text's lines, as the table reader and the gauge check read them.
    QStringList Lines() const;

    // The status text for the chart's pointer at a widget position: the level under it and
    // its volume looked up in the table; empty outside the plot area or without a lookup.
    QString PointerText(const QPoint& position) const;
    // The level box changed: its volume in the volume box, or the volume box cleared when there
    // is no lookup (no file, no table, a table of fewer than 2 rows, no number).
    void LevelLookup();

signals:
    // The close was accepted: the window is on its way to deletion.
    void Closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateControls();

    // File operations.
    void CreateFile(bool typical);
    void OpenFile();
    void CloseFile();
    bool SaveFile();
    bool SaveAsFile();
    // The Close steps without a question: no file, empty text, list and grid reset.
    void CloseSteps();
    // Asked while modified: true to go on (No, or Yes and the save succeeded).
    bool SaveQuestion();
    // Writes the text to the path; on failure the error box naming the path.
    bool WriteText(const QString& path);
    // Loads a file into the text box without marking it modified; false (and the reason) when
    // the file cannot be read.
    bool LoadText(const QString& path, QString& error);
    // The file dialogs: the chosen path, or empty when cancelled.
    QString SaveDialog(const QString& title, const QString& fileName);
    QString OpenDialog();

    void SetCurrentFile(const QString& path);
    void SetProgramText(const QString& text);
    void MarkModified();
    void TextChanged();
    // The list and the table from the text, or from its lines already split.
    void RebuildList();
    void RebuildList(const QStringList& lines);
    void ShowTable();
    void ShowTable(const QStringList& lines);
    void ResetGrid();
    void SyncMemo();
    void UpdateMarks();

    // Gauge.
    void LoadFromUlmar();
    void SaveToUlmar();
    // "Сравнить с прибором": the selected table against the gauge's, row by row, in a box.
    void CompareWithUlmar();

    void Error(const QString& text);
    void Warning(const QString& text);

    TTara* Tara_ = nullptr;
    QString CurrentFile_;
    bool Modified_ = false;
    // Set while the program itself changes the text: such a change marks nothing modified.
    bool ProgramEdit_ = false;
    // The name field of the create dialogs: the last name chosen.
    QString LastCreateName_;
    QList<QCPItemText*> Marks_;
    QSplitter* Splitter_ = nullptr;
    QPointer<TFormMain> Main_;
};

// actTaraEditor: creates the window over the main window when the slot holds none, keeps it there
// and shows it non-modally; returns 0.
int ShowTaraEditor(TWindowSlot<TFormTaraEditor>& slot, TFormMain* main);

// The folder tare files are kept in: "TarTabl" beside the program.
QString TareFileDir();
