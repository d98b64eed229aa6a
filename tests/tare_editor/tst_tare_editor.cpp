// The tare table editor as the operator drives it, beside the main window and against the gauge
// simulator: create, open, save and close with the save question; the table list, grid, chart
// and level lookup that follow the text; reading the gauge's table into a file (and one named
// after the gauge), writing a table into the gauge and comparing one with the gauge's.

#include "EditNum.h"
#include "IODescription.h"
#include "fMain.h"
#include "fTaraEditor.h"
#include "tests/console/ConsoleRig.h"
#include "uConsole.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uTara.h"
#include "uTareFile.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTableWidget>
#include <QTest>
#include <bit>
#include <cmath>
#include <qcustomplot.h>

namespace {

const QString Caption = QStringLiteral("Редактор тарировочной таблицы");

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void Put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// A tare table text (CR LF) with `rows` rows of rising levels and volumes.
QByteArray TableText(const QString& name, int rows) {
    QByteArray text = name.toLatin1() + "=" + QByteArray::number(rows) + "\r\n";
    for (int k = 0; k < rows; ++k)
        text += QByteArray::number(k * 100) + " " + QByteArray::number(k) + ",50\r\n";
    return text;
}

// True when the file can be replaced through a temporary file (as every save is); the file
// keeps its bytes either way.
bool Saveable(const QString& path) {
    const QByteArray content = Bytes(path);
    QSaveFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.commit();
}

} // namespace

class TestTaraEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;
    TCommandLineModes Modes; // the command line's /full and /kalist
    QStringList ChosenNames; // the name field of each file dialog when it opened

    TFormTaraEditor* Open() {
        Rig = std::make_unique<TConsoleRig>();
        if (!Rig->SimStarted)
            return nullptr;
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), Modes);
        Rig->Sim->ClearRecords();
        Form->Action(QStringLiteral("actTaraEditor"))->trigger();
        return Form->Windows().TaraEditor;
    }
    QString Dir() const { return TareFileDir(); }
    QString InDir(const QString& name) const { return Dir() + QLatin1Char('/') + name; }

    // The next file dialog picks the path (or is cancelled for an empty one).
    void AnswerFile(const QString& path) {
        Script->Push([this, path](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files || path.isEmpty())
                return int(QDialog::Rejected);
            const QStringList shown = files->selectedFiles();
            ChosenNames << (shown.isEmpty() ? QString() : QFileInfo(shown.first()).fileName());
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
    }
    void OpenFile(TFormTaraEditor* ed, const QString& path) {
        AnswerFile(path);
        ed->actLoadTaraFile->trigger();
    }
    // Operator's typing at the end of the text.
    static void TypeAtEnd(TFormTaraEditor* ed, const QString& text) {
        ed->mTaraFile->moveCursor(QTextCursor::End);
        for (const QChar c : text) {
            if (c == QLatin1Char('\n'))
                QTest::keyClick(ed->mTaraFile, Qt::Key_Return);
            else if (c.unicode() < 128)
                QTest::keyClicks(ed->mTaraFile, QString(c));
            else
                QTest::sendKeyEvent(QTest::KeyAction::Click, ed->mTaraFile, Qt::Key_unknown,
                                    QString(c), Qt::NoModifier);
        }
    }
    static QStringList Items(const QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    }
    static QString Cell(const TFormTaraEditor* ed, int row, int column) {
        const QTableWidgetItem* item = ed->sgTaraValues->item(row, column);
        return item ? item->text() : QString();
    }
    static void TypeLevel(TFormTaraEditor* ed, const QString& text) {
        ed->enLevel->selectAll();
        QTest::keyClicks(ed->enLevel, text);
    }
    static void Select(TFormTaraEditor* ed, const QString& table) {
        const int index = ed->cbTables->findText(table);
        QVERIFY(index > 0);
        ed->cbTables->setCurrentIndex(index);
        emit ed->cbTables->activated(index);
    }
    // A path of an existing file that no save can replace: a read-only folder, or (where the
    // test runs with the rights to write anyway) a name so long that the temporary file beside
    // it cannot be made.
    QString Unsaveable(const QByteArray& content) {
        const QString locked = Rig->Dirs.Root.filePath(QStringLiteral("locked"));
        QDir().mkpath(locked);
        QString path = locked + QStringLiteral("/keep.txt");
        Put(path, content);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
        if (Saveable(path)) {
            QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            path =
                locked + QLatin1Char('/') + QString(251, QLatin1Char('k')) + QStringLiteral(".txt");
            Put(path, content);
        }
        if (Saveable(path))
            qWarning("no place where a save fails");
        return path;
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void init() {
        Modes.Factory = false;
        ChosenNames.clear();
    }

    void cleanup() {
        if (Form)
            delete Form->Windows().TaraEditor.Get();
        if (Rig)
            QFile::setPermissions(Rig->Dirs.Root.filePath(QStringLiteral("locked")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Script.reset();
        Rig.reset();
    }

    // One window from the main window's action, with its menus, tool tips and shortcuts;
    // without a file only reading from the gauge is possible.
    void windowFromMainWindow() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        QCOMPARE(ed->objectName(), QStringLiteral("FormTaraEditor"));
        QCOMPARE(ed->windowTitle(), Caption);
        QVERIFY(ed->isVisible());
        QVERIFY(!ed->isModal());
        Form->Action(QStringLiteral("actTaraEditor"))->trigger();
        QCOMPARE(Form->Windows().TaraEditor.Get(), ed);
        QCOMPARE(ShowTaraEditor(Form->Windows().TaraEditor, Form.get()), 0);
        QCOMPARE(Form->Windows().TaraEditor.Get(), ed);

        QStringList menus;
        for (QAction* a : ed->menuBar()->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"Работа", "График", "УЛМАР"}));
        QCOMPARE(ed->actCreateTaraFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+N")));
        QCOMPARE(ed->actLoadTaraFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
        QCOMPARE(ed->actSaveTaraFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QCOMPARE(ed->actCreateTypicalTaraFile->statusTip(),
                 QStringLiteral("Создать файл с типовой тарировочной таблицой"));
        QCOMPARE(ed->actSaveToUlmar->toolTip(),
                 QStringLiteral("Записать тарировочную таблицу в прибор"));
        QVERIFY(ed->actGraphPoints->isChecked());
        QVERIFY(!ed->actGraphMarks->isChecked());
        QCOMPARE(Items(ed->cbTables), QStringList{"Не определено"});
        QCOMPARE(ed->sgTaraValues->horizontalHeaderItem(1)->text(), QStringLiteral("Уровень, мм"));

        for (QAction* a :
             {ed->actCloseTaraFile, ed->actSaveTaraFile, ed->actSaveAsTaraFile, ed->actSaveToUlmar})
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        QVERIFY(ed->actLoadFromUlmar->isEnabled());
        QVERIFY(!ed->mTaraFile->isEnabled());
        QVERIFY(!ed->cbTables->isEnabled());
        QVERIFY(!ed->enLevel->isEnabled());
        QVERIFY(!ed->enVolume->isEnabled());
    }

    // "tables" becomes tables.txt, "TABLES.TXT" TABLES.TXT.txt; the name field starts with
    // ttDefault.txt and then holds the last name chosen. Creating asks nothing while unmodified.
    void createAppendsTxt() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        AnswerFile(InDir("tables"));
        ed->actCreateTaraFile->trigger();
        const QString tables = InDir("tables.txt");
        QCOMPARE(Bytes(tables), QByteArray());
        QCOMPARE(ed->CurrentFile(), tables);
        QCOMPARE(ed->windowTitle(), Caption + " - " + QDir::toNativeSeparators(tables));
        QVERIFY(!ed->Modified());
        QVERIFY(!ed->actLoadFromUlmar->isEnabled());
        QVERIFY(ed->actSaveToUlmar->isEnabled());
        QVERIFY(ed->mTaraFile->isEnabled());

        AnswerFile(InDir("TABLES.TXT"));
        ed->actCreateTaraFile->trigger();
        QCOMPARE(ed->CurrentFile(), InDir("TABLES.TXT.txt"));
        QVERIFY(QFileInfo::exists(InDir("TABLES.TXT.txt")));
        QCOMPARE(Script->DialogTitles, (QStringList{"Создать", "Создать"}));
        QCOMPARE(ChosenNames, (QStringList{"ttDefault.txt", "tables.txt"}));
        QVERIFY(Script->Boxes.isEmpty());
    }

    // An existing file is replaced only after Yes, and only once the new one is written: a
    // create that cannot write leaves the old file and the editor as they were.
    void createReplacesOnlyWhenWritten() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QByteArray old = TableText("old", 2);
        const QString path = InDir("old.txt");
        Put(path, old);
        AnswerFile(path);
        Script->PushButton(QMessageBox::No);
        ed->actCreateTaraFile->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text, "Заменить существующий файл " + path + " ?");
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Внимание"));
        QCOMPARE(Bytes(path), old);
        QCOMPARE(ed->CurrentFile(), QString());

        OpenFile(ed, path);
        QCOMPARE(ed->CurrentFile(), path);
        const QString locked = Unsaveable(old);
        AnswerFile(locked);
        Script->PushButton(QMessageBox::Yes);
        ed->actCreateTypicalTaraFile->trigger();
        QCOMPARE(Script->Boxes.last().Caption, QStringLiteral("Ошибка"));
        QCOMPARE(Script->Boxes.last().Text, "Не удалось создать файл\r" + locked);
        QCOMPARE(Bytes(locked), old);
        QCOMPARE(ed->CurrentFile(), path);
        QCOMPARE(ed->Text(), QString::fromLatin1(old).replace("\r\n", "\n"));

        AnswerFile(path);
        Script->PushButton(QMessageBox::Yes);
        ed->actCreateTaraFile->trigger();
        QCOMPARE(Bytes(path), QByteArray());
        QCOMPARE(ed->CurrentFile(), path);
        QCOMPARE(ed->Text(), QString());
    }

    // Loading, creating and closing are the program's changes: nothing is marked modified.
    // The operator's typing marks it; Save writes CR LF lines and clears the mark; Close asks
    // while modified: Cancel keeps all, No drops the edits, Yes saves first.
    void saveQuestionFlows() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("q.txt");
        const QByteArray original = TableText("a", 2);
        Put(path, original);
        OpenFile(ed, path);
        QCOMPARE(ed->CurrentFile(), path);
        QVERIFY(!ed->Modified());
        QCOMPARE(ed->windowTitle(), Caption + " - " + path);
        QCOMPARE(Script->DialogTitles, QStringList{"Открыть"});

        TypeAtEnd(ed, "x");
        QVERIFY(ed->Modified());
        QCOMPARE(ed->windowTitle(), Caption + " - " + path + " *");
        Script->PushButton(QMessageBox::Cancel);
        ed->actCloseTaraFile->trigger();
        QCOMPARE(Script->Boxes.last().Text, "Сохранить файл " + path + " ?");
        QCOMPARE(Script->Boxes.last().Icon, QMessageBox::Question);
        QCOMPARE(ed->CurrentFile(), path);
        QVERIFY(ed->Modified());
        QVERIFY(ed->Text().endsWith("x"));

        Script->PushButton(QMessageBox::No);
        ed->actCloseTaraFile->trigger();
        QCOMPARE(ed->CurrentFile(), QString());
        QCOMPARE(ed->Text(), QString());
        QVERIFY(!ed->Modified());
        QCOMPARE(ed->windowTitle(), Caption);
        QCOMPARE(Bytes(path), original);
        QCOMPARE(Items(ed->cbTables), QStringList{"Не определено"});

        OpenFile(ed, path);
        TypeAtEnd(ed, "b=2\n1 1\n2 2\n");
        Script->PushButton(QMessageBox::Yes);
        ed->actCloseTaraFile->trigger();
        QCOMPARE(Bytes(path), original + "b=2\r\n1 1\r\n2 2\r\n");
        QCOMPARE(ed->CurrentFile(), QString());

        OpenFile(ed, path);
        TypeAtEnd(ed, "c");
        ed->actSaveTaraFile->trigger();
        QVERIFY(!ed->Modified());
        QCOMPARE(ed->windowTitle(), Caption + " - " + path);
        QCOMPARE(Bytes(path), original + "b=2\r\n1 1\r\n2 2\r\nc");

        // Save as: another file becomes current; an existing one is replaced only after Yes.
        const QString other = InDir("other.txt");
        Put(other, "keep");
        TypeAtEnd(ed, "d");
        AnswerFile(other);
        Script->PushButton(QMessageBox::No);
        ed->actSaveAsTaraFile->trigger();
        QCOMPARE(Bytes(other), QByteArray("keep"));
        QCOMPARE(ed->CurrentFile(), path);
        QVERIFY(ed->Modified());
        AnswerFile(other);
        Script->PushButton(QMessageBox::Yes);
        ed->actSaveAsTaraFile->trigger();
        QCOMPARE(Bytes(other), original + "b=2\r\n1 1\r\n2 2\r\ncd");
        QCOMPARE(ed->CurrentFile(), other);
        QVERIFY(!ed->Modified());
    }

    // A save that fails keeps the window, its text and its modified mark; Yes in the save
    // question then acts as Cancel. A character Windows-1251 lacks is never written as "?".
    void failedSaveKeepsEverything() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QByteArray original = TableText("a", 2);
        const QString path = Unsaveable(original);
        OpenFile(ed, path);
        QCOMPARE(ed->CurrentFile(), path);
        TypeAtEnd(ed, "z");
        ed->actSaveTaraFile->trigger();
        QCOMPARE(Script->Boxes.last().Caption, QStringLiteral("Ошибка"));
        QCOMPARE(Script->Boxes.last().Icon, QMessageBox::Critical);
        QVERIFY(Script->Boxes.last().Text.startsWith("Не удалось сохранить файл\r" + path));
        QVERIFY(ed->Modified());
        QVERIFY(ed->windowTitle().endsWith(" *"));
        QCOMPARE(Bytes(path), original);

        Script->PushButton(QMessageBox::Yes);
        ed->actCloseTaraFile->trigger();
        QCOMPARE(ed->CurrentFile(), path);
        QVERIFY(ed->Text().endsWith("z"));
        QVERIFY(ed->Modified());

        Script->PushButton(QMessageBox::Yes);
        QVERIFY(!ed->close());
        QCOMPARE(Form->Windows().TaraEditor.Get(), ed);
        QVERIFY(ed->isVisible());
        QVERIFY(ed->Text().endsWith("z"));

        // Unencodable text in a writable place: refused, the file keeps its bytes.
        const QString plain = InDir("plain.txt");
        Put(plain, original);
        Script->PushButton(QMessageBox::No);
        OpenFile(ed, plain);
        QCOMPARE(ed->CurrentFile(), plain);
        TypeAtEnd(ed, QStringLiteral("中"));
        ed->actSaveTaraFile->trigger();
        QVERIFY2(Script->Boxes.last().Text.contains("Windows-1251"),
                 qPrintable(Script->Boxes.last().Text));
        QCOMPARE(Bytes(plain), original);
        QVERIFY(ed->Modified());
    }

    // Closing the window while modified asks; Cancel keeps it open with its text, No closes.
    void closingWindowAsks() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        AnswerFile(InDir("w"));
        ed->actCreateTaraFile->trigger();
        TypeAtEnd(ed, "w=2");
        Script->PushButton(QMessageBox::Cancel);
        QTest::keyClick(ed, Qt::Key_Escape);
        QCOMPARE(Form->Windows().TaraEditor.Get(), ed);
        QVERIFY(ed->isVisible());
        QCOMPARE(ed->Text(), QStringLiteral("w=2"));
        Script->PushButton(QMessageBox::No);
        ed->actExit->trigger();
        QVERIFY(!Form->Windows().TaraEditor);
        QCOMPARE(Bytes(InDir("w.txt")), QByteArray());
        QVERIFY(Bytes(StartIniDir() + "/WndPos.ini").contains("[FormTaraEditor]"));
    }

    // The program's end closes the editor as well (so the program can end).
    void programEndClosesEditor() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        QPointer<TFormTaraEditor> watch(ed);
        Form->show();
        Script->PushButton(QMessageBox::Yes); // "Завершить работу?"
        QVERIFY(Form->close());
        QTRY_VERIFY(!Form->Windows().TaraEditor);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watch);
    }

    // Files that cannot be tare files are refused, and the editor keeps what it had.
    void refusedFiles() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString big = InDir("big.txt");
        Put(big, QByteArray(TareFileMaxBytes + 1, ' '));
        const QString nul = InDir("nul.txt");
        Put(nul, QByteArray("a=2\r\n0 0\r\n1\0 1\r\n", 17));
        const QString good = InDir("good.txt");
        Put(good, TableText("g", 2));
        OpenFile(ed, big);
        QCOMPARE(Script->Boxes.last().Text,
                 "Не удалось загрузить файл\r" + big + "\rбольше 1024 КБ");
        QCOMPARE(Script->Boxes.last().Caption, QStringLiteral("Ошибка"));
        QCOMPARE(ed->CurrentFile(), QString());

        OpenFile(ed, good);
        TypeAtEnd(ed, "1");
        Script->PushButton(QMessageBox::No);
        OpenFile(ed, nul);
        QCOMPARE(Script->Boxes.last().Text, "Не удалось загрузить файл\r" + nul);
        QCOMPARE(ed->CurrentFile(), good);
        QVERIFY(ed->Modified());
        QVERIFY(ed->Text().endsWith("1"));
    }

    // The typical table: its file as the tare file helper writes it, ttDefault1 shown; the
    // level box takes millimetres up to 50 000 and looks the volume up while typing.
    void typicalTableAndLookup() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        AnswerFile(InDir("typ"));
        ed->actCreateTypicalTaraFile->trigger();
        QCOMPARE(Script->DialogTitles, QStringList{"Сохранить"});
        const QString path = InDir("typ.txt");
        QString text;
        QString error;
        QVERIFY(ReadTareFile(path, text, error));
        QCOMPARE(text, TypicalTareText());
        QCOMPARE(ed->Text(), TypicalTareText().replace("\r\n", "\n"));
        QVERIFY(!ed->Modified());
        QCOMPARE(Items(ed->cbTables), (QStringList{"Не определено", "ttDefault1", "ttDefault2"}));
        QCOMPARE(ed->cbTables->currentText(), QStringLiteral("ttDefault1"));
        QCOMPARE(ed->sgTaraValues->rowCount(), 2);
        QCOMPARE(Cell(ed, 0, 1), QStringLiteral("0"));
        QCOMPARE(Cell(ed, 0, 2), QStringLiteral("0,00"));
        QCOMPARE(Cell(ed, 1, 1), FormatNumber(10000, 9, 0));
        QCOMPARE(Cell(ed, 1, 2), QStringLiteral("100,00"));
        QCOMPARE(ed->Series1->dataCount(), 2);

        QVERIFY(ed->enLevel->isEnabled());
        TypeLevel(ed, "5000");
        QCOMPARE(ed->enVolume->text(), QStringLiteral("50,00"));
        QTest::keyClick(ed->enLevel, Qt::Key_Return);
        QCOMPARE(ed->enLevel->text(), QStringLiteral("5000"));
        QCOMPARE(ed->enVolume->text(), QStringLiteral("50,00"));
        TypeLevel(ed, "60000");
        QVERIFY(ed->enLevel->OutOfRange());
        QCOMPARE(ed->enVolume->text(), QStringLiteral("600,00"));
        QTest::keyClick(ed->enLevel, Qt::Key_Return);
        QCOMPARE(ed->enLevel->text(), QStringLiteral("50000"));
        QCOMPARE(ed->enVolume->text(), QStringLiteral("500,00"));

        // The operator picks ttDefault2: its 32 rows, its header line at the caret.
        Select(ed, "ttDefault2");
        QCOMPARE(ed->sgTaraValues->rowCount(), 32);
        QCOMPARE(Cell(ed, 1, 0), QStringLiteral("2"));
        QCOMPARE(Cell(ed, 1, 1), QStringLiteral("323"));
        QCOMPARE(Cell(ed, 1, 2), QStringLiteral("0,93"));
        QCOMPARE(ed->Series1->dataCount(), 32);
        QCOMPARE(ed->mTaraFile->textCursor().blockNumber(),
                 int(ed->Lines().indexOf("ttDefault2=32")));
        QVERIFY(!ed->mTaraFile->textCursor().hasSelection());
        QVERIFY(ed->enLevel->text().isEmpty());
        TypeLevel(ed, "323");
        QCOMPARE(ed->enVolume->text(), QStringLiteral("0,93"));

        // Markers and points follow their actions.
        QCOMPARE(ed->ChartTara->itemCount(), 0);
        ed->actGraphMarks->trigger();
        QCOMPARE(ed->ChartTara->itemCount(), 32);
        QCOMPARE(qobject_cast<QCPItemText*>(ed->ChartTara->item(1))->text(), QStringLiteral("323"));
        Select(ed, "ttDefault1");
        QCOMPARE(ed->ChartTara->itemCount(), 2);
        ed->actGraphMarks->trigger();
        QCOMPARE(ed->ChartTara->itemCount(), 0);
        QCOMPARE(ed->Series1->scatterStyle().shape(), QCPScatterStyle::ssSquare);
        ed->actGraphPoints->trigger();
        QCOMPARE(ed->Series1->scatterStyle().shape(), QCPScatterStyle::ssNone);

        // The pointer over the plot shows the looked-up volume; outside it, nothing.
        const QRect plot = ed->ChartTara->axisRect()->rect();
        const QString inside = ed->PointerText(plot.center());
        QVERIFY2(inside.startsWith("Уровень, мм: ") && inside.contains(" Объем, %: "),
                 qPrintable(inside));
        QCOMPARE(ed->PointerText(plot.topLeft() - QPoint(3, 3)), QString());
    }

    // The list follows the text: a header appears when its "=" is typed after a name, a line
    // with "*" is never a header, and the first table is selected after every rebuild.
    void listFollowsTyping() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        AnswerFile(InDir("list"));
        ed->actCreateTaraFile->trigger();
        TypeAtEnd(ed, "abc");
        QCOMPARE(Items(ed->cbTables), QStringList{"Не определено"});
        QVERIFY(ed->Modified());
        TypeAtEnd(ed, "=");
        QCOMPARE(Items(ed->cbTables), (QStringList{"Не определено", "abc"}));
        QCOMPARE(ed->cbTables->currentIndex(), 1);
        TypeAtEnd(ed, "2\n0 0\n100 10\n* note=1\n*x=2\n");
        QCOMPARE(Items(ed->cbTables), (QStringList{"Не определено", "abc"}));
        QCOMPARE(ed->sgTaraValues->rowCount(), 2);
        QCOMPARE(Cell(ed, 1, 2), QStringLiteral("10,00"));
        TypeAtEnd(ed, "=3\nde=2\n");
        QCOMPARE(Items(ed->cbTables), (QStringList{"Не определено", "abc", "de"}));
        QCOMPARE(ed->cbTables->currentText(), QStringLiteral("abc"));
    }

    // With 0 or 1 rows there is no lookup: the level box stays off and the pointer shows
    // nothing; a table that cannot be read leaves an empty grid.
    void shortTablesGiveNoLookup() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("short.txt");
        Put(path, "none=0\r\none=1\r\n5 5\r\ntwo=2\r\n0 0\r\n100 100\r\nbad=5\r\n1 1\r\n");
        OpenFile(ed, path);
        const QPoint centre = ed->ChartTara->axisRect()->rect().center();
        for (const char* name : {"none", "one", "bad"}) {
            Select(ed, name);
            QVERIFY2(!ed->enLevel->isEnabled(), name);
            QCOMPARE(ed->PointerText(centre), QString());
            ed->LevelLookup();
            QCOMPARE(ed->enVolume->text(), QString());
        }
        QCOMPARE(Cell(ed, 0, 1), QString()); // "bad" announces more rows than follow
        QVERIFY(!ed->StatusPanel->text().isEmpty());
        Select(ed, "one");
        QCOMPARE(Cell(ed, 0, 1), QStringLiteral("5"));
        Select(ed, "two");
        QVERIFY(ed->enLevel->isEnabled());
        QVERIFY(ed->PointerText(centre).startsWith("Уровень, мм: "));
    }

    // The gauge's table read while polling runs: polling pauses around the exchanges and
    // resumes; the table lands in ttFromUlmar.txt, open and marked modified.
    void readFromGauge() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillLinearTare(10); });
        std::array<float, 32> levels{};
        Rig->Sim->WithSim([&](TGaugeSim& sim) { levels = sim.Gauges[0].TareLevels; });
        Form->Action(QStringLiteral("actOprosStart"))->trigger();
        QTRY_VERIFY(Rig->Codes().size() >= 2);
        Form->Context().FactoryMode = true; // the points are shown in a box as well
        ed->actLoadFromUlmar->trigger();
        QVERIFY(Form->PollControl().PollingRunning());
        QTest::qWait(300);
        Form->Action(QStringLiteral("actOprosStop"))->trigger();

        const QString path = InDir("ttFromUlmar.txt");
        QCOMPARE(ed->CurrentFile(), path);
        QVERIFY(ed->Modified());
        QCOMPARE(ed->windowTitle(), Caption + " - " + path + " *");
        QCOMPARE(Items(ed->cbTables), (QStringList{"Не определено", "ttFromUlmar"}));
        QCOMPARE(ed->sgTaraValues->rowCount(), 10);
        QCOMPARE(ed->Reader().Table.size(), size_t(10));
        for (int k = 0; k < 10; ++k)
            QCOMPARE(float(ed->Reader().Table[size_t(k)].TaraLevel), levels[size_t(k)]);
        QVERIFY(!ed->actLoadFromUlmar->isEnabled());
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Information);
        QCOMPARE(Script->Boxes[0].Text, Rig->Ulmar->TareTableText());
        // The same bytes kept under the gauge's plant number and the time of the read;
        // ttFromUlmar.txt keeps its name and format.
        quint16 plant = 0;
        Rig->Sim->WithSim([&](TGaugeSim& sim) { plant = sim.Gauges[0].PlantNumber; });
        const QStringList kept =
            QDir(Dir())
                .entryList(QDir::Files)
                .filter(QRegularExpression(QStringLiteral("^%1_\\d{8}-\\d{6}\\.txt$").arg(plant)));
        QCOMPARE(kept.size(), 1);
        QCOMPARE(Bytes(InDir(kept[0])), Bytes(path));
        QVERIFY(Bytes(path).contains("\r\nttFromUlmar=10\r\n"));
        QVERIFY2(ed->StatusPanel->text().contains(kept[0]), qPrintable(ed->StatusPanel->text()));

        // The tare exchanges ran together, none of a poll cycle between them.
        const QList<int> codes = Rig->Codes();
        const int first = int(codes.indexOf(UlmarCmd::TaraLevelRead));
        const int last = int(codes.lastIndexOf(UlmarCmd::TaraVolumeRead));
        QVERIFY(first >= 0 && last > first);
        for (int i = first; i <= last; ++i)
            QVERIFY(codes[i] == UlmarCmd::TaraLevelRead || codes[i] == UlmarCmd::TaraVolumeRead);
        QVERIFY(codes.mid(last + 1).contains(UlmarCmd::LevelAllRead)); // polling resumed
    }

    // "Сравнить с прибором": the open table against the gauge's, the same or row by row.
    void compareWithGauge() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        QVERIFY(!ed->actCompareWithUlmar->isEnabled()); // no file open
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillLinearTare(10); });
        ed->actLoadFromUlmar->trigger();
        QVERIFY(ed->actCompareWithUlmar->isEnabled());
        QCOMPARE(ed->cbTables->currentText(), QStringLiteral("ttFromUlmar"));
        ed->actCompareWithUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Information);
        QVERIFY2(Script->Boxes[0].Text.contains(QStringLiteral("совпадает")),
                 qPrintable(Script->Boxes[0].Text));

        // The gauge's point 4 changed and a twelfth point added: two rows listed, both sides.
        Rig->Sim->WithSim([](TGaugeSim& sim) {
            sim.Gauges[0].TareLevels[3] += 5.0f;
            sim.Gauges[0].TareLevels[10] = 20000.0f;
            sim.Gauges[0].TareVolumes[10] = 100.0;
        });
        ed->actCompareWithUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 2);
        const TSeenBox& box = Script->Boxes[1];
        QCOMPARE(box.Icon, QMessageBox::Warning);
        const QStringList details = box.Details.split('\n');
        QCOMPARE(details.size(), 2);
        QVERIFY2(details[0].startsWith(QStringLiteral("Строка 4: в таблице ")),
                 qPrintable(box.Details));
        const QString expected = QStringLiteral("в таблице нет строки; в приборе 20000 мм, 100 %");
        QVERIFY2(details[1].endsWith(expected), qPrintable(details[1] + " | " + expected));
        QVERIFY(box.Text.contains(details[0]));
        // Comparing changes neither the text nor its modified mark.
        QVERIFY(ed->Modified());
        QCOMPARE(ed->CurrentFile(), InDir("ttFromUlmar.txt"));
    }

    // A gauge that does not answer: a warning, and no file is written or opened.
    void readFromSilentGauge() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        Rig->Fault(TSimFault::Silence, 1000);
        ed->actLoadFromUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Внимание"));
        QVERIFY2(Script->Boxes[0].Text.startsWith("Не выполнена команда"),
                 qPrintable(Script->Boxes[0].Text));
        QVERIFY(!QFileInfo::exists(InDir("ttFromUlmar.txt")));
        QCOMPARE(ed->CurrentFile(), QString());
        QVERIFY(!ed->Modified());
    }

    // Ten rows go to the gauge with 22 empty points and one commit to ROM; forty rows are
    // refused with a message naming the line, and nothing is sent.
    void writeToGauge() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("w.txt");
        Put(path, TableText("t10", 10) + "\r\n" + TableText("t40", 40));
        OpenFile(ed, path);
        QCOMPARE(ed->cbTables->currentText(), QStringLiteral("t10"));
        Script->PushButton(QMessageBox::Yes);
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QVERIFY2(Script->Boxes[0].Text.contains("t10") && Script->Boxes[0].Text.contains("10"),
                 qPrintable(Script->Boxes[0].Text));
        std::array<float, 32> levels{};
        std::array<double, 32> volumes{};
        Rig->Sim->WithSim([&](TGaugeSim& sim) {
            levels = sim.Gauges[0].TareLevels;
            volumes = sim.Gauges[0].TareVolumes;
        });
        for (int k = 0; k < 10; ++k) {
            QCOMPARE(levels[size_t(k)], float(k * 100));
            QCOMPARE(float(volumes[size_t(k)]), float(k + 0.5));
        }
        for (int k = 10; k < 32; ++k) {
            QCOMPARE(std::bit_cast<quint32>(levels[size_t(k)]), 0xFFFFFFFFu);
            QVERIFY(std::isnan(volumes[size_t(k)]));
        }
        QCOMPARE(Rig->Codes().count(UlmarCmd::WriteToPZU), 1);
        QVERIFY(!ed->StatusPanel->text().isEmpty());

        Rig->Sim->ClearRecords();
        Select(ed, "t40");
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 2);
        QCOMPARE(Script->Boxes[1].Caption, QStringLiteral("Внимание"));
        const int line33 = int(ed->Lines().indexOf("t40=40")) + 1 + 33;
        QVERIFY2(Script->Boxes[1].Text.contains(QStringLiteral("Строка %1").arg(line33)),
                 qPrintable(Script->Boxes[1].Text));
        QVERIFY(Rig->Codes().isEmpty());

        // Declined: no frame and no second box.
        Select(ed, "t10");
        Script->PushButton(QMessageBox::No);
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 3);
        QVERIFY(Rig->Codes().isEmpty());
    }

    // A gauge that stores another value than sent: the read-back names the point, nothing is
    // committed to ROM.
    void writeCaughtByReadBack() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("r.txt");
        Put(path, TableText("r", 4));
        OpenFile(ed, path);
        Rig->Fault(TSimFault::TareStoreOther, 1, 3);
        Script->PushButton(QMessageBox::Yes);
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 2);
        const TSeenBox& box = Script->Boxes[1];
        QCOMPARE(box.Caption, QStringLiteral("Внимание"));
        QVERIFY2(box.Text.startsWith("Не выполнена команда") && box.Text.contains("Точка 3"),
                 qPrintable(box.Text));
        QVERIFY(!Rig->Codes().contains(UlmarCmd::WriteToPZU));
    }

    // A gauge that keeps its old (empty) levels: all 32 differ. The box says how many and shows the
    // first few, in the display locale; its details hold every difference.
    void writeMismatchesSummarised() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("m.txt");
        Put(path, TableText("m", 32));
        OpenFile(ed, path);
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillLinearTare(0); });
        Rig->Fault(TSimFault::LockedWrite, 1, 0xA600);
        Script->PushButton(QMessageBox::Yes);
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 2);
        const TSeenBox& box = Script->Boxes[1];
        QCOMPARE(box.Caption, QStringLiteral("Внимание"));
        const QStringList lines = box.Text.split(QRegularExpression("[\r\n]"));
        QVERIFY2(lines.size() <= 10, qPrintable(box.Text));
        QVERIFY2(box.Text.contains("Не совпадают точек: 32 из 32"), qPrintable(box.Text));
        // Point 11 of the table: 1000 mm sent, in the locale's own form.
        const QStringList details = box.Details.split('\n');
        QCOMPARE(details.size(), 32);
        // The details come back as plain text, a no-break space as a blank.
        QString point11 =
            "Точка 11: уровень записан " + QLocale().toString(1000) + ", считан пусто";
        QCOMPARE(details[10], point11.replace(QChar::Nbsp, QLatin1Char(' ')));
        QVERIFY(box.Text.contains(details[0]));
        QVERIFY(!box.Text.contains(details[3]));
        QVERIFY(!Rig->Codes().contains(UlmarCmd::WriteToPZU));
    }

    // "Не определено" chosen: told that no table is chosen, nothing sent.
    void writeWithoutTable() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("n.txt");
        Put(path, TableText("n", 4));
        OpenFile(ed, path);
        ed->cbTables->setCurrentIndex(0);
        emit ed->cbTables->activated(0);
        ed->actSaveToUlmar->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Text, QStringLiteral("Таблица не выбрана"));
        QVERIFY(Rig->Codes().isEmpty());
    }

    // Writing while polling runs: the sequence runs whole between poll cycles and polling
    // resumes.
    void writeWhilePolling() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        const QString path = InDir("p.txt");
        Put(path, TableText("p", 5));
        OpenFile(ed, path);
        Form->Action(QStringLiteral("actOprosStart"))->trigger();
        QTRY_VERIFY(Rig->Codes().size() >= 2);
        Script->PushButton(QMessageBox::Yes);
        ed->actSaveToUlmar->trigger();
        QVERIFY(Form->PollControl().PollingRunning());
        QTest::qWait(300);
        Form->Action(QStringLiteral("actOprosStop"))->trigger();
        const QList<int> codes = Rig->Codes();
        const int first = int(codes.indexOf(UlmarCmd::TaraLevelWrite));
        const int last = int(codes.lastIndexOf(UlmarCmd::WriteToPZU));
        QVERIFY(first >= 0 && last > first);
        for (int i = first; i <= last; ++i)
            QVERIFY2(codes[i] != UlmarCmd::LevelAllRead, qPrintable(QString::number(i)));
        QVERIFY(codes.mid(last + 1).contains(UlmarCmd::LevelAllRead));
        QCOMPARE(Script->Boxes.size(), 1); // the confirmation only
    }

    // The window as the operator sees it with the typical table, markers on and the pointer
    // over the chart; saved as a picture when TARE_EDITOR_SHOT names a file.
    void screenshotState() {
        TFormTaraEditor* ed = Open();
        QVERIFY(ed);
        AnswerFile(InDir("ttDefault"));
        ed->actCreateTypicalTaraFile->trigger();
        Select(ed, "ttDefault2");
        ed->actGraphMarks->trigger();
        TypeLevel(ed, "5000");
        ed->resize(1032, 748);
        QVERIFY(QTest::qWaitForWindowExposed(ed));
        const QPoint centre = ed->ChartTara->axisRect()->rect().center();
        QTest::mouseMove(ed->ChartTara, centre);
        QTRY_COMPARE(ed->StatusPanel->text(), ed->PointerText(centre));
        QVERIFY(!ed->StatusPanel->text().isEmpty());
        const QPixmap shot = ed->grab();
        QVERIFY(!shot.isNull());
        const QString target = qEnvironmentVariable("TARE_EDITOR_SHOT");
        if (!target.isEmpty())
            QVERIFY(shot.save(target));
    }
};

QTEST_MAIN(TestTaraEditor)
#include "tst_tare_editor.moc"
