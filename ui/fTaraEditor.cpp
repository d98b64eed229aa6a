#include "fTaraEditor.h"
#include "EditNum.h"
#include "IODescription.h"
#include "Ulmar.h"
#include "fMain.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uTara.h"
#include "uTareCommands.h"
#include "uTareFile.h"
#include "uWindowPosition.h"
#include "uWindowSlot.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTextBlock>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>
#include <qcustomplot.h>

namespace {

const QString Caption = QStringLiteral("Редактор тарировочной таблицы");
const QString NoTable = QStringLiteral("Не определено");
// The rows that differ from the gauge's, shown in the comparison's box itself.
constexpr int ShownDifferences = 8;
const QString Filter = QStringLiteral("Тарировочные таблицы (*.txt)");
const QString GaugeFileName = QStringLiteral("ttFromUlmar.txt");

// The grid's columns: row number (fixed), level, volume.
enum TGridColumn { ColN, ColLevel, ColVolume, GridColumns };

// A fixed-pitch font of the given pixel size.
QFont FixedFont(int pixels) {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(pixels);
    return font;
}

// The text with CR LF line ends, as tare files hold it.
QString WithCrLf(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return out;
}

// The text with "\n" line ends (CR LF and a lone CR both end a line).
QString WithLf(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

} // namespace

QString TareFileDir() {
    return JoinPath(ProgramDir(), QStringLiteral("TarTabl"));
}

TFormTaraEditor::TFormTaraEditor(TFormMain* main, QWidget* parent)
    : QMainWindow(parent), Main_(main) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("FormTaraEditor"));
    setWindowTitle(Caption);
    resize(1032, 748);
    Tara_ = new TTara(this);
    CreateActions();
    CreateMenus();
    CreateControls();
    LoadWindowPosition(this);
    enLevel->setEnabled(false);
    enLevel->clear();
    enVolume->clear();
    ResetGrid();
    SetCurrentFile(QString());
}

TFormTaraEditor::~TFormTaraEditor() = default;

// --- building ---

void TFormTaraEditor::CreateActions() {
    auto make = [this](const char* name, const QString& caption, const QString& hint,
                       QStyle::StandardPixmap icon = QStyle::SP_CustomBase) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setStatusTip(hint);
        a->setToolTip(hint.isEmpty() ? caption : hint);
        if (icon != QStyle::SP_CustomBase)
            a->setIcon(style()->standardIcon(icon));
        a->setIconVisibleInMenu(false);
        return a;
    };
    actCreateTaraFile =
        make("actCreateTaraFile", QStringLiteral("Создать"),
             QStringLiteral("Создать файл с тарировочными таблицами"), QStyle::SP_FileIcon);
    actCreateTaraFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    actCreateTypicalTaraFile =
        make("actCreateTypicalTaraFile", QStringLiteral("Создать типовую таблицу"),
             QStringLiteral("Создать файл с типовой тарировочной таблицой"));
    actLoadTaraFile =
        make("actLoadTaraFile", QStringLiteral("Открыть..."),
             QStringLiteral("Открыть файл с тарировочными таблицами"), QStyle::SP_DialogOpenButton);
    actLoadTaraFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    actCloseTaraFile = make("actCloseTaraFile", QStringLiteral("Закрыть"),
                            QStringLiteral("Закрыть файл с тарировочными таблицами"),
                            QStyle::SP_DialogCloseButton);
    actSaveTaraFile = make("actSaveTaraFile", QStringLiteral("Сохранить"),
                           QStringLiteral("Сохранить файл с тарировочными таблицами"),
                           QStyle::SP_DialogSaveButton);
    actSaveTaraFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    actSaveAsTaraFile = make("actSaveAsTaraFile", QStringLiteral("Сохранить как..."),
                             QStringLiteral("Сохранить как"));
    actExit = make("actExit", QStringLiteral("Выход"), QStringLiteral("Выйти из программы"),
                   QStyle::SP_DialogCancelButton);
    actGraphPoints =
        make("actGraphPoints", QStringLiteral("Точки"),
             QStringLiteral("Скрыть/показать узловые точки"), QStyle::SP_DialogYesButton);
    actGraphPoints->setCheckable(true);
    actGraphPoints->setChecked(true);
    actGraphMarks = make("actGraphMarks", QStringLiteral("Маркеры"),
                         QStringLiteral("Скрыть/показать маркеры"), QStyle::SP_FileDialogInfoView);
    actGraphMarks->setCheckable(true);
    actGraphMarks->setChecked(false);
    actSyncMemo = make("actSyncMemo", QString(), QStringLiteral("Показать в редакторе"));
    actOnSelect = make("actOnSelect", QString(), QString());
    actLoadFromUlmar =
        make("actLoadFromUlmar", QStringLiteral("Считать из прибора"),
             QStringLiteral("Считать тарировочную таблицу из прибора"), QStyle::SP_ArrowDown);
    actSaveToUlmar =
        make("actSaveToUlmar", QStringLiteral("Записать в прибор"),
             QStringLiteral("Записать тарировочную таблицу в прибор"), QStyle::SP_ArrowUp);
    actCompareWithUlmar = make("actCompareWithUlmar", QStringLiteral("Сравнить с прибором"),
                               QStringLiteral("Сравнить таблицу с тарировочной таблицей прибора"),
                               QStyle::SP_FileDialogContentsView);

    connect(actCreateTaraFile, &QAction::triggered, this, [this] { CreateFile(false); });
    connect(actCreateTypicalTaraFile, &QAction::triggered, this, [this] { CreateFile(true); });
    connect(actLoadTaraFile, &QAction::triggered, this, [this] { OpenFile(); });
    connect(actCloseTaraFile, &QAction::triggered, this, [this] { CloseFile(); });
    connect(actSaveTaraFile, &QAction::triggered, this, [this] { SaveFile(); });
    connect(actSaveAsTaraFile, &QAction::triggered, this, [this] { SaveAsFile(); });
    connect(actExit, &QAction::triggered, this, &QWidget::close);
    connect(actGraphPoints, &QAction::toggled, this, [this] { UpdateMarks(); });
    connect(actGraphMarks, &QAction::toggled, this, [this] { UpdateMarks(); });
    connect(actSyncMemo, &QAction::triggered, this, [this] { SyncMemo(); });
    connect(actOnSelect, &QAction::triggered, this, [this] { ShowTable(); });
    connect(actLoadFromUlmar, &QAction::triggered, this, [this] { LoadFromUlmar(); });
    connect(actSaveToUlmar, &QAction::triggered, this, [this] { SaveToUlmar(); });
    connect(actCompareWithUlmar, &QAction::triggered, this, [this] { CompareWithUlmar(); });
}

void TFormTaraEditor::CreateMenus() {
    menuBar()->setObjectName(QStringLiteral("MainMenuTara"));
    QMenu* work = menuBar()->addMenu(QStringLiteral("Работа"));
    work->addActions(
        {actCreateTaraFile, actCreateTypicalTaraFile, actLoadTaraFile, actCloseTaraFile});
    work->addSeparator();
    work->addActions({actSaveTaraFile, actSaveAsTaraFile});
    work->addSeparator();
    work->addAction(actExit);
    QMenu* graph = menuBar()->addMenu(QStringLiteral("График"));
    graph->addActions({actGraphPoints, actGraphMarks});
    QMenu* gauge = menuBar()->addMenu(QStringLiteral("УЛМАР"));
    gauge->addActions({actLoadFromUlmar, actSaveToUlmar, actCompareWithUlmar});

    QToolBar* bar = addToolBar(QString());
    bar->setObjectName(QStringLiteral("ToolBar"));
    bar->setMovable(false);
    bar->addActions({actCreateTaraFile, actLoadTaraFile, actSaveTaraFile, actCloseTaraFile});
    bar->addSeparator();
    bar->addActions({actGraphPoints, actGraphMarks});
    bar->addSeparator();
    bar->addActions({actLoadFromUlmar, actSaveToUlmar, actCompareWithUlmar});
    bar->addSeparator();
    bar->addAction(actExit);
}

void TFormTaraEditor::CreateControls() {
    Splitter_ = new QSplitter(Qt::Horizontal, this);
    Splitter_->setHandleWidth(5);
    Splitter_->setChildrenCollapsible(false);

    // Left: the file's text.
    auto* left = new QWidget(Splitter_);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(2, 2, 2, 2);
    leftLayout->addWidget(new QLabel(QStringLiteral("Список таблиц"), left));
    mTaraFile = new QPlainTextEdit(left);
    mTaraFile->setObjectName(QStringLiteral("mTaraFile"));
    mTaraFile->setFont(FixedFont(13));
    mTaraFile->setLineWrapMode(QPlainTextEdit::NoWrap);
    mTaraFile->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mTaraFile->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mTaraFile->setTabChangesFocus(false);
    mTaraFile->setMinimumWidth(200);
    leftLayout->addWidget(mTaraFile, 1);
    connect(mTaraFile, &QPlainTextEdit::textChanged, this, [this] { TextChanged(); });

    // Middle: the table list, the lookup and the grid.
    auto* middle = new QWidget(Splitter_);
    middle->setMinimumWidth(174);
    auto* midLayout = new QVBoxLayout(middle);
    midLayout->setContentsMargins(2, 2, 2, 2);
    midLayout->addWidget(new QLabel(QStringLiteral("Таблица"), middle));
    cbTables = new QComboBox(middle);
    cbTables->setObjectName(QStringLiteral("cbTables"));
    cbTables->addItem(NoTable);
    midLayout->addWidget(cbTables);
    connect(cbTables, &QComboBox::activated, this, [this] {
        actOnSelect->trigger();
        actSyncMemo->trigger();
    });
    auto* lookup = new QGridLayout;
    lookup->addWidget(new QLabel(QStringLiteral("Уровень, мм"), middle), 0, 0);
    lookup->addWidget(new QLabel(QStringLiteral("Объем, %"), middle), 0, 1);
    enLevel = new TEditNum(middle);
    enLevel->setObjectName(QStringLiteral("enLevel"));
    // Levels in millimetres as the gauge holds them, plain digits so the text reads back.
    enLevel->SetFormat(TFloatFormat::ffFixed);
    enLevel->SetPrecision(15);
    enLevel->SetDigits(0);
    enLevel->SetRange(0.0, 50000.0);
    enVolume = new TEditNum(middle);
    enVolume->setObjectName(QStringLiteral("enVolume"));
    enVolume->SetFormat(TFloatFormat::ffNumber);
    enVolume->SetPrecision(15);
    enVolume->SetDigits(2);
    // A display: the volume as looked up, extrapolation included, never clamped.
    enVolume->SetCheckRange(false);
    enVolume->setReadOnly(true);
    enVolume->setEnabled(false);
    lookup->addWidget(enLevel, 1, 0);
    lookup->addWidget(enVolume, 1, 1);
    midLayout->addLayout(lookup);
    connect(enLevel, &QLineEdit::textChanged, this, [this] { LevelLookup(); });

    sgTaraValues = new QTableWidget(1, GridColumns, middle);
    sgTaraValues->setObjectName(QStringLiteral("sgTaraValues"));
    sgTaraValues->setFont(FixedFont(12));
    sgTaraValues->verticalHeader()->hide();
    sgTaraValues->verticalHeader()->setDefaultSectionSize(20);
    sgTaraValues->verticalHeader()->setMinimumSectionSize(12);
    sgTaraValues->horizontalHeader()->setFixedHeight(20);
    // Captions wider than their column show their beginning.
    sgTaraValues->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    sgTaraValues->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgTaraValues->setColumnWidth(ColN, 20);
    sgTaraValues->setColumnWidth(ColLevel, 65);
    sgTaraValues->setColumnWidth(ColVolume, 88);
    midLayout->addWidget(sgTaraValues, 1);

    // Right: the curve.
    ChartTara = new QCustomPlot(Splitter_);
    ChartTara->setObjectName(QStringLiteral("ChartTara"));
    ChartTara->setMinimumWidth(100);
    ChartTara->legend->setVisible(false);
    ChartTara->xAxis->setLabel(QStringLiteral("Уровень, мм"));
    ChartTara->yAxis->setLabel(QStringLiteral("Объем, %"));
    ChartTara->xAxis->setRange(0, 10000);
    ChartTara->yAxis->setRange(0, 100);
    Series1 = ChartTara->addGraph();
    Series1->setName(QStringLiteral("Series1"));
    Series1->setPen(QPen(Qt::red, 1));
    ChartTara->setMouseTracking(true);
    ChartTara->installEventFilter(this);
    connect(ChartTara, &QCustomPlot::mouseMove, this,
            [this](QMouseEvent* e) { StatusPanel->setText(PointerText(e->position().toPoint())); });

    Splitter_->addWidget(left);
    Splitter_->addWidget(middle);
    Splitter_->addWidget(ChartTara);
    Splitter_->setSizes({300, 200, 520});
    Splitter_->setStretchFactor(2, 1);
    setCentralWidget(Splitter_);

    StatusPanel = new QLabel(this);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    statusBar()->addWidget(StatusPanel, 1);
    UpdateMarks();
}

// --- state ---

QString TFormTaraEditor::Text() const {
    QString text = mTaraFile->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

QStringList TFormTaraEditor::Lines() const {
    return Text().split(QLatin1Char('\n'));
}

void TFormTaraEditor::SetCurrentFile(const QString& path) {
    CurrentFile_ = path;
    Tara_->FileName = path;
    const bool open = !path.isEmpty();
    setWindowTitle(open ? Caption + QStringLiteral(" - ") + QDir::toNativeSeparators(path)
                        : Caption);
    for (QAction* a : {actCloseTaraFile, actSaveTaraFile, actSaveAsTaraFile})
        a->setEnabled(open);
    mTaraFile->setEnabled(open);
    cbTables->setEnabled(open);
    actLoadFromUlmar->setEnabled(!open);
    actSaveToUlmar->setEnabled(open);
    actCompareWithUlmar->setEnabled(open);
    Modified_ = false;
}

void TFormTaraEditor::SetProgramText(const QString& text) {
    const bool was = ProgramEdit_;
    ProgramEdit_ = true;
    mTaraFile->setPlainText(WithLf(text));
    ProgramEdit_ = was;
}

void TFormTaraEditor::MarkModified() {
    if (!Modified_)
        setWindowTitle(windowTitle() + QStringLiteral(" *"));
    Modified_ = true;
}

void TFormTaraEditor::TextChanged() {
    // The program's own changes (loading, clearing) rebuild the list themselves.
    if (ProgramEdit_)
        return;
    MarkModified();
    const QStringList lines = Lines(); // once per change: a file may hold 1 MiB
    const QStringList names = TareTableNames(lines);
    bool same = names.size() == cbTables->count() - 1;
    for (int i = 0; same && i < names.size(); ++i)
        same = cbTables->itemText(i + 1) == names[i];
    if (same)
        ShowTable(lines);
    else
        RebuildList(lines);
}

void TFormTaraEditor::RebuildList() {
    RebuildList(Lines());
}

void TFormTaraEditor::RebuildList(const QStringList& lines) {
    const QStringList names = TareTableNames(lines);
    {
        const QSignalBlocker block(cbTables);
        cbTables->clear();
        cbTables->addItem(NoTable);
        cbTables->addItems(names);
        cbTables->setCurrentIndex(names.isEmpty() ? 0 : 1);
    }
    ShowTable(lines);
}

void TFormTaraEditor::ResetGrid() {
    sgTaraValues->clearContents();
    sgTaraValues->setRowCount(1);
    sgTaraValues->setHorizontalHeaderLabels(
        {QStringLiteral("N"), QStringLiteral("Уровень, мм"), QStringLiteral("Объем, %")});
}

void TFormTaraEditor::ShowTable() {
    ShowTable(Lines());
}

void TFormTaraEditor::ShowTable(const QStringList& lines) {
    enLevel->setEnabled(false);
    enLevel->clear();
    enVolume->clear();
    ResetGrid();
    Series1->data()->clear();
    for (QCPItemText* mark : Marks_)
        ChartTara->removeItem(mark);
    Marks_.clear();
    StatusPanel->clear();

    Tara_->TableName = cbTables->currentIndex() > 0 ? cbTables->currentText() : QString();
    const bool loaded = Tara_->LoadFromStrings(lines);
    if (loaded) {
        const TTaraTable& table = Tara_->Table;
        sgTaraValues->setRowCount(std::max<int>(static_cast<int>(table.size()), 1));
        QVector<double> levels;
        QVector<double> volumes;
        for (size_t k = 0; k < table.size(); ++k) {
            const int row = static_cast<int>(k);
            auto* n = new QTableWidgetItem(QString::number(row + 1));
            n->setBackground(palette().button());
            sgTaraValues->setItem(row, ColN, n);
            auto* level = new QTableWidgetItem(FormatNumber(table[k].TaraLevel, 9, 0));
            auto* volume = new QTableWidgetItem(FormatNumber(table[k].TaraVolume, 9, 2));
            level->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            volume->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            sgTaraValues->setItem(row, ColLevel, level);
            sgTaraValues->setItem(row, ColVolume, volume);
            levels << table[k].TaraLevel;
            volumes << table[k].TaraVolume;
        }
        Series1->setData(levels, volumes);
        // The lookup needs two rows: a shorter table leaves the level box off.
        double probe = 0.0;
        enLevel->setEnabled(Tara_->LevelToVolume(0.0, probe));
        if (!table.empty()) {
            ChartTara->rescaleAxes();
            for (QCPAxis* axis : {ChartTara->xAxis, ChartTara->yAxis}) {
                QCPRange r = axis->range();
                const double margin = r.size() > 0 ? r.size() * 0.05 : 1.0;
                axis->setRange(r.lower - margin, r.upper + margin);
            }
        }
    }
    StatusPanel->setText(Tara_->Problems.join(QStringLiteral("; ")));
    UpdateMarks();
}

void TFormTaraEditor::UpdateMarks() {
    Series1->setScatterStyle(actGraphPoints->isChecked()
                                 ? QCPScatterStyle(QCPScatterStyle::ssSquare, Qt::red, Qt::red, 3)
                                 : QCPScatterStyle(QCPScatterStyle::ssNone));
    // The point labels exist only while they are shown: a long table costs nothing per
    // keystroke while they are off.
    if (!actGraphMarks->isChecked()) {
        for (QCPItemText* mark : Marks_)
            ChartTara->removeItem(mark);
        Marks_.clear();
    } else if (Marks_.isEmpty()) {
        for (const TTaraPoint& p : Tara_->Table) {
            auto* mark = new QCPItemText(ChartTara);
            mark->position->setCoords(p.TaraLevel, p.TaraVolume);
            mark->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
            mark->setText(FormatNumber(p.TaraLevel, 9, 0));
            mark->setClipToAxisRect(true);
            Marks_ << mark;
        }
    }
    ChartTara->replot();
}

void TFormTaraEditor::SyncMemo() {
    const QString name = cbTables->currentText();
    if (cbTables->currentIndex() <= 0)
        return;
    const QString header = name + QLatin1Char('=');
    const QStringList lines = Lines();
    for (int i = 0; i < lines.size(); ++i) {
        if (!lines[i].startsWith(header, Qt::CaseSensitive))
            continue;
        // At the end first, then back: the header line scrolls into view at the top.
        QTextCursor cursor = mTaraFile->textCursor();
        cursor.movePosition(QTextCursor::End);
        mTaraFile->setTextCursor(cursor);
        mTaraFile->ensureCursorVisible();
        const QTextBlock block = mTaraFile->document()->findBlockByNumber(i);
        cursor.setPosition(block.position());
        mTaraFile->setTextCursor(cursor);
        mTaraFile->ensureCursorVisible();
        mTaraFile->setFocus();
        return;
    }
}

QString TFormTaraEditor::PointerText(const QPoint& position) const {
    if (CurrentFile_.isEmpty() || cbTables->currentIndex() <= 0)
        return {};
    if (!ChartTara->axisRect()->rect().contains(position))
        return {};
    const double level = ChartTara->xAxis->pixelToCoord(position.x());
    double volume = 0.0;
    if (!Tara_->LevelToVolume(level, volume))
        return {};
    return QStringLiteral("Уровень, мм: ") + FormatNumber(level, 9, 0) + QLatin1Char(' ') +
           QStringLiteral("Объем, %: ") + FormatNumber(volume, 9, 2);
}

void TFormTaraEditor::LevelLookup() {
    double volume = 0.0;
    if (!CurrentFile_.isEmpty() && cbTables->currentIndex() > 0 && enLevel->isEnabled() &&
        enLevel->TextIsNumber() && Tara_->LevelToVolume(enLevel->Value(), volume))
        enVolume->SetValue(volume);
    else
        enVolume->clear();
}

// --- messages and dialogs ---

void TFormTaraEditor::Error(const QString& text) {
    ShowMessageBox(QMessageBox::Critical, QStringLiteral("Ошибка"), text, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

void TFormTaraEditor::Warning(const QString& text) {
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"), text, QMessageBox::Ok,
                   QMessageBox::Ok, this);
}

QString TFormTaraEditor::SaveDialog(const QString& title, const QString& fileName) {
    QDir().mkpath(TareFileDir()); // a failure here shows when the file is written
    QFileDialog dialog(this, title, TareFileDir(), Filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite); // the editor asks itself
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString TFormTaraEditor::OpenDialog() {
    QDir().mkpath(TareFileDir());
    QFileDialog dialog(this, QStringLiteral("Открыть"), TareFileDir(), Filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (ExecModal(&dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

bool TFormTaraEditor::SaveQuestion() {
    if (!Modified_)
        return true;
    const auto answer = ShowMessageBox(
        QMessageBox::Question, QStringLiteral("Внимание"),
        QStringLiteral("Сохранить файл ") + QDir::toNativeSeparators(CurrentFile_) +
            QStringLiteral(" ?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, this);
    if (answer == QMessageBox::Yes)
        return SaveFile(); // a failed save abandons the operation, as Cancel
    return answer == QMessageBox::No;
}

// --- files ---

bool TFormTaraEditor::WriteText(const QString& path) {
    QString error;
    if (WriteTareFile(path, WithCrLf(Text()), error))
        return true;
    // "Не удалось сохранить файл" with the path, and the character that cannot be written.
    Error(error.isEmpty() ? QStringLiteral("Не удалось сохранить файл\r") + path : error);
    return false;
}

bool TFormTaraEditor::LoadText(const QString& path, QString& error) {
    QString text;
    if (!ReadTareFile(path, text, error))
        return false;
    SetProgramText(text);
    return true;
}

void TFormTaraEditor::CloseSteps() {
    SetCurrentFile(QString());
    SetProgramText(QString());
    RebuildList();
    ResetGrid();
}

void TFormTaraEditor::CreateFile(bool typical) {
    if (!SaveQuestion())
        return;
    QString name =
        SaveDialog(typical ? QStringLiteral("Сохранить") : QStringLiteral("Создать"),
                   LastCreateName_.isEmpty() ? QStringLiteral("ttDefault.txt") : LastCreateName_);
    if (name.isEmpty())
        return;
    if (!name.endsWith(QStringLiteral(".txt"), Qt::CaseSensitive))
        name += QStringLiteral(".txt");
    LastCreateName_ = QFileInfo(name).fileName();
    if (QFileInfo::exists(name) &&
        ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                       QStringLiteral("Заменить существующий файл ") +
                           QDir::toNativeSeparators(name) + QStringLiteral(" ?"),
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                       this) != QMessageBox::Yes)
        return;
    // The new file replaces the old one only once it is written whole; until then the editor
    // keeps what it shows.
    QString error;
    if (!WriteTareFile(name, typical ? TypicalTareText() : QString(), error)) {
        Error(QStringLiteral("Не удалось создать файл\r") + name);
        return;
    }
    CloseSteps();
    if (typical && !LoadText(name, error)) {
        Error(QStringLiteral("Не удалось создать файл\r") + name);
        return;
    }
    SetCurrentFile(name);
    RebuildList();
}

void TFormTaraEditor::OpenFile() {
    if (Modified_) {
        if (!SaveQuestion())
            return;
    } else {
        CloseSteps();
    }
    const QString name = OpenDialog();
    if (name.isEmpty())
        return;
    QString error;
    if (!LoadText(name, error)) {
        // The editor stays as it was: its file and text (modified or not) are kept.
        Error(error.isEmpty() ? QStringLiteral("Не удалось загрузить файл\r") + name : error);
        return;
    }
    SetCurrentFile(name);
    RebuildList();
}

void TFormTaraEditor::CloseFile() {
    if (!SaveQuestion())
        return;
    CloseSteps();
}

bool TFormTaraEditor::SaveFile() {
    if (CurrentFile_.isEmpty())
        return SaveAsFile();
    if (!WriteText(CurrentFile_))
        return false;
    if (Modified_ && windowTitle().endsWith(QStringLiteral(" *")))
        setWindowTitle(windowTitle().chopped(2));
    Modified_ = false;
    return true;
}

bool TFormTaraEditor::SaveAsFile() {
    const QString name = SaveDialog(
        QString(), CurrentFile_.isEmpty() ? QString() : QFileInfo(CurrentFile_).fileName());
    if (name.isEmpty())
        return false;
    if (QFileInfo::exists(name) &&
        ShowMessageBox(QMessageBox::Question, QStringLiteral("Внимание"),
                       QStringLiteral("Заменить существующий файл ") +
                           QDir::toNativeSeparators(name) + QStringLiteral(" ?"),
                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
                       this) != QMessageBox::Yes)
        return false;
    if (!WriteText(name))
        return false;
    SetCurrentFile(name);
    RebuildList();
    return true;
}

// --- gauge ---

void TFormTaraEditor::LoadFromUlmar() {
    if (!Main_ || !CurrentFile_.isEmpty() || !Main_->Ulmar())
        return;
    TGaugeCommands& commands = Main_->Commands();
    TTareCommands tare(commands, &Main_->PollControl());
    QString error;
    std::optional<quint16> plant;
    const bool read = tare.ReadFromGauge(&error, nullptr, &plant);
    // The points as read, taken before anything else can run (polling has resumed).
    std::array<TTarePoint, TUlmar::TarePointCount> points{};
    QString pointsText;
    commands.Edit([&](TUlmar& u) {
        points = u.TareTable;
        pointsText = u.TareTableText();
    });
    if (!read)
        Warning(error.isEmpty()
                    ? QStringLiteral("Не выполнена команда\r") + actLoadFromUlmar->statusTip()
                    : error);
    if (Main_)
        Main_->ControlRefresh();
    if (Main_ && Main_->Context().FactoryMode)
        ShowMessageBox(QMessageBox::Information, QStringLiteral("Внимание"), pointsText,
                       QMessageBox::Ok, QMessageBox::Ok, this);
    // Half a table is never written to a file: it would read back as another table.
    if (!read)
        return;
    const QString path = JoinPath(TareFileDir(), GaugeFileName);
    QDir().mkpath(TareFileDir());
    QString writeError;
    const QString text = GaugeTareText(points);
    if (!WriteTareFile(path, text, writeError)) {
        SetCurrentFile(QString());
        Error(QStringLiteral("Не удалось создать файл\r") + path);
        return;
    }
    // The same table kept under the gauge's plant number and the time of the read, so that a
    // later read does not replace it.
    QString kept;
    if (plant) {
        const QString gaugePath =
            GaugeTareFilePath(TareFileDir(), *plant, QDateTime::currentDateTime());
        if (WriteTareFile(gaugePath, text, writeError))
            kept = QStringLiteral("Таблица сохранена также в файле ") +
                   QDir::toNativeSeparators(gaugePath);
        else
            Warning(QStringLiteral("Не удалось создать файл\r") + gaugePath);
    } else {
        kept = QStringLiteral("Заводской номер прибора не считан: файл с номером не создан");
    }
    QString loadError;
    if (!LoadText(path, loadError))
        return;
    SetCurrentFile(path);
    RebuildList();
    // Read, not yet saved by the operator: marked modified.
    MarkModified();
    StatusPanel->setText(kept);
}

void TFormTaraEditor::SaveToUlmar() {
    if (!Main_ || CurrentFile_.isEmpty() || !Main_->Ulmar())
        return;
    const QString table = cbTables->currentIndex() > 0 ? cbTables->currentText() : QString();
    TTareCommands tare(Main_->Commands(), &Main_->PollControl());
    const QStringList lines = Lines();
    const TTareWriteResult result = tare.WriteToGauge(lines, table);
    if (result.Committed || result.Stopped) {
        // Stopped: the program is closing, no box to answer.
        StatusPanel->setText(result.Message);
    } else if (result.Refused) {
        // A table unfit for the gauge is named with its line; a declined confirmation needs no
        // second box.
        if (!TareUnfitForGauge(lines, table).isEmpty())
            Warning(result.Message);
    } else {
        const QString text = result.Message.isEmpty() ? QStringLiteral("Не выполнена команда\r") +
                                                            actSaveToUlmar->statusTip()
                                                      : result.Message;
        if (result.Differences.empty()) {
            Warning(text);
        } else {
            // A few differences in the box, so that it fits the screen; all of them in its
            // details.
            const QLocale locale;
            ShowMessageBox(QMessageBox::Warning, QStringLiteral("Внимание"),
                           text + QLatin1Char('\n') +
                               TareMismatchSummary(result.Differences, locale),
                           QMessageBox::Ok, QMessageBox::Ok, this,
                           TareMismatchList(result.Differences, locale));
        }
    }
    if (Main_)
        Main_->ControlRefresh();
}

void TFormTaraEditor::CompareWithUlmar() {
    if (!Main_ || CurrentFile_.isEmpty() || !Main_->Ulmar())
        return;
    const QString table = cbTables->currentIndex() > 0 ? cbTables->currentText() : QString();
    TTareCommands tare(Main_->Commands(), &Main_->PollControl());
    const TTareCompareResult result = tare.CompareWithGauge(Lines(), table);
    if (Main_ && result.Read)
        Main_->ControlRefresh();
    if (!result.Read) {
        Warning(result.Message.isEmpty()
                    ? QStringLiteral("Не выполнена команда\r") + actLoadFromUlmar->statusTip()
                    : result.Message);
        return;
    }
    StatusPanel->setText(result.Message);
    if (result.Same()) {
        ShowMessageBox(QMessageBox::Information, QStringLiteral("Сравнение с прибором"),
                       result.Message, QMessageBox::Ok, QMessageBox::Ok, this);
        return;
    }
    // The first rows that differ in the box, so that it fits the screen; all of them in its
    // details.
    const QLocale locale;
    const QStringList rows = TareDifferenceLines(result.Differences, locale);
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("Сравнение с прибором"),
                   result.Message + QLatin1Char('\n') + rows.mid(0, ShownDifferences).join('\n') +
                       (rows.size() > ShownDifferences ? QStringLiteral("\n…") : QString()),
                   QMessageBox::Ok, QMessageBox::Ok, this, rows.join(QLatin1Char('\n')));
}

// --- window ---

void TFormTaraEditor::closeEvent(QCloseEvent* event) {
    if (!SaveQuestion()) {
        event->ignore();
        return;
    }
    SaveWindowPosition(this);
    event->accept();
    emit Closed();
}

void TFormTaraEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool TFormTaraEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ChartTara && event->type() == QEvent::Leave)
        StatusPanel->clear();
    // The main window hidden after the operator confirmed the end of the program: the editor
    // closes too (asking to save), so that the program can end. The main window is told by its
    // type, not through Main_: while it is being destroyed it is no longer a TFormMain, and its
    // last events must not be read as one.
    if (event->type() == QEvent::Hide) {
        const auto* main = qobject_cast<const TFormMain*>(watched);
        if (main && main == Main_.get() && main->Context().Closing)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

int ShowTaraEditor(TWindowSlot<TFormTaraEditor>& slot, TFormMain* main) {
    if (!slot) {
        auto* form = new TFormTaraEditor(main);
        if (main)
            main->installEventFilter(form);
        slot.Set(form);
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return 0;
}
