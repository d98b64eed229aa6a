// The zero array window in the main window against the simulator: opened from the main
// window's action, refreshed after a zero-array read, its keys, the file dialogs, question and
// messages (a cancelled or refused load keeps the array), "Закрыть", and its closing with the
// main window; echo snapshots recorded, replayed and compared with a reference; the about box
// with its version and an unreadable build stamp.
// With ULMAR_SHOTS set to a folder, pictures of the two windows are saved there.

#include "fAbout.h"
#include "fMain.h"
#include "fZero.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/ServiceRecordSample.h"
#include "tests/support/ToolWindows.h"
#include "uAbout.h"
#include "uConsole.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uServiceRecord.h"
#include "uZeroArray.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <qcustomplot.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QStringList Items(const QListWidget* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// The entries of a zero-array file: its bytes after a first comment line.
QByteArray Entries(const QByteArray& bytes) {
    return bytes.startsWith('#') ? bytes.mid(bytes.indexOf("\r\n") + 2) : bytes;
}

// Saves a picture of the window when ULMAR_SHOTS names a folder.
void Shot(QWidget* w, const char* name) {
    const QString dir = qEnvironmentVariable("ULMAR_SHOTS");
    if (dir.isEmpty())
        return;
    QTest::qWait(50); // the chart's queued replot
    w->grab().save(dir + "/" + name);
}

} // namespace

class TestFormZero : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;
    TCommandLineModes Modes; // the command line's /full and /kalist

    void Open() {
        Modes.Factory = true; // the zero array is a factory tool
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
        Form = std::make_unique<TFormMain>(Rig->Link.get(), Modes);
        Rig->Sim->ClearRecords();
    }
    QAction* A(const char* name) const { return Form->Action(QString::fromLatin1(name)); }
    TFormZero* OpenZero() {
        A("actFormZeroShow")->trigger();
        return Form->Windows().Zero;
    }
    // The next file dialog picks `path` (or is cancelled when empty).
    void PickFile(const QString& path) {
        Script->Push([path](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files || path.isEmpty())
                return int(QDialog::Rejected);
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
    }
    QString ProgFile(const char* name) const { return JoinPath(ProgramDir(), name); }
    static void Press(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(w, key, modifiers);
    }

private slots:
    void init() {}
    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!TopLevelWindow(QStringLiteral("FormZero")));
        Script.reset();
        Rig.reset();
        Modes.Factory = false;
    }

    void opensFromTheMainWindow() {
        Open();
        TFormZero* w = OpenZero();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->objectName(), QStringLiteral("FormZero"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Массив нулей"));
        QCOMPARE(OpenZero(), w); // at most one
        // The device object starts cleared: the list and the view of a cleared array.
        const QStringList items = Items(w->lbZero);
        QCOMPARE(items.size(), 256);
        QCOMPARE(items.mid(0, 4), (QStringList{"Кол-во:253", "Min:0", "Max:65535", "1) 0"}));
        QCOMPARE(items.last(), QStringLiteral("253) 65535"));
        QCOMPARE(w->View(), (TZeroRange{0, 65535}));
        QCOMPARE(w->LeftView(), (TZeroRange{0, 3.2}));
        QVERIFY(!w->Chart1->yAxis->visible());
        QCOMPARE(w->LimitLabels(), (QStringList{"0", "65535"}));
        QCOMPARE(w->Series1->dataCount(), 253);
        QCOMPARE(w->Series2->dataCount(), 2);
        QCOMPARE(w->ScrollBar1->value(), 100);
        // Tool bar and menus: the main window's three read actions first.
        QStringList bar;
        for (QAction* a : w->ToolBar1->actions())
            bar << (a->isSeparator() ? QStringLiteral("|") : a->objectName());
        QCOMPARE(bar, (QStringList{"actInitReadStart", "actInitReadStop", "actZeroRead", "|",
                                   "actZeroLoadFromFile", "actZeroSaveToFile", "actZeroClose",
                                   "actZeroRefresh", "|", "actZoomOut", "actZoomIn", "actUndoZoom",
                                   "|", "actClose"}));
        QStringList menus;
        for (QAction* m : w->menuBar()->actions())
            menus << m->text();
        QCOMPARE(menus, (QStringList{"Массив", "Масштаб"}));
        QCOMPARE(w->Action("actUndoZoom")->text(),
                 QStringLiteral("Увеличение отменить \"Пробел\""));
    }

    void refreshedAfterZeroRead() {
        Open();
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillZeroArray(13); });
        TFormZero* w = OpenZero();
        QVERIFY(w);
        // The gauge's second of preparation after the start command passes in the event loop:
        // the windows repaint and queued work runs long before the first block is read.
        QElapsedTimer clock;
        qint64 firstTickMs = -1;
        QTimer ticks;
        ticks.setInterval(50);
        connect(&ticks, &QTimer::timeout, [&] {
            if (firstTickMs < 0)
                firstTickMs = clock.elapsed();
        });
        ticks.start();
        clock.start();
        A("actZeroRead")->trigger();
        QVERIFY(clock.elapsed() >= 1000);
        QVERIFY2(firstTickMs >= 0 && firstTickMs < 800, qPrintable(QString::number(firstTickMs)));
        QCOMPARE(Rig->Ulmar->ZeroArray[0], 13);
        const TZeroArray zero = Rig->Ulmar->ZeroArray;
        QCOMPARE(Items(w->lbZero), ZeroListLines(zero));
        QCOMPARE(w->lbZero->count(), 3 + 13);
        QCOMPARE(w->Series1->dataCount(), 13);
        QCOMPARE(w->LimitLabels(),
                 (QStringList{QString::number(zero[1]), QString::number(zero[2])}));
        QCOMPARE(w->View(), ZeroFullView(zero));
        Shot(w, "zero.png");
    }

    void keys() {
        Open();
        TFormZero* w = OpenZero();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        Press(w->lbZero, Qt::Key_Plus, Qt::KeypadModifier);
        QCOMPARE(w->View(), (TZeroRange{6554, 58981}));
        QCOMPARE(w->ScrollBar1->value(), 90); // 100 - round(6554 * 100 / 65535)
        // Plus off the keypad is not a zoom key.
        Press(w->lbZero, Qt::Key_Plus);
        QCOMPARE(w->View(), (TZeroRange{6554, 58981}));
        Press(w->Chart1, Qt::Key_Right);
        QCOMPARE(w->View(), (TZeroRange{6554 + 524.27, 58981 + 524.27}));
        QVERIFY(w->Chart1->hasFocus());
        Press(w->Chart1, Qt::Key_Home);
        QCOMPARE(w->ScrollBar1->value(), 0);
        QCOMPARE(w->View().Max, 0.0);
        QCOMPARE(w->View().Size(), 58981.0 - 6554);
        Press(w->Chart1, Qt::Key_Left); // nothing left of the data's start beyond the view
        QCOMPARE(w->View().Max, 0.0);
        Press(w->Chart1, Qt::Key_End);
        QCOMPARE(w->ScrollBar1->value(), 100);
        QCOMPARE(w->View().Max, 65535.0);
        // The left axis does not move: no column reaches beyond it.
        Press(w->Chart1, Qt::Key_PageUp);
        Press(w->Chart1, Qt::Key_Down);
        QCOMPARE(w->LeftView(), (TZeroRange{0, 3.2}));
        Press(w->Chart1, Qt::Key_Minus, Qt::KeypadModifier);
        QVERIFY(w->View().Size() > 58981.0 - 6554);
        Press(w->Chart1, Qt::Key_Space);
        QCOMPARE(w->View(), (TZeroRange{0, 65535}));
        // The scroll bar moves the view, keeping its span.
        w->ZoomIn();
        w->ScrollBar1->setValue(50);
        QCOMPARE(w->View().Max, 65535.0 / 2);
        QCOMPARE(w->View().Size(), 58981.0 - 6554);
        // Esc closes the window and stores its position.
        w->move(40, 50);
        Press(w->lbZero, Qt::Key_Escape);
        QVERIFY(!Form->Windows().Zero);
        const TIniFile ini(JoinPath(StartIniDir(), "WndPos.ini"));
        QVERIFY(ini.ValueExists("FormZero", "Left"));
        // The array stays in the device object.
        QCOMPARE(Rig->Ulmar->ZeroArray, ClearedZeroArray());
    }

    void saveAndLoad() {
        Open();
        Rig->Ulmar->ZeroArray[0] = 2;
        Rig->Ulmar->ZeroArray[3] = 1000;
        Rig->Ulmar->ZeroArray[4] = 2000;
        const TZeroArray saved = Rig->Ulmar->ZeroArray;
        TFormZero* w = OpenZero();
        const QString path = ProgFile("Zero1.txt");

        // The save dialog: the program's folder, the filter, a proposed name Zero…txt.
        QString offered, proposed;
        QStringList filters;
        Script->Push([&](QDialog* d) {
            auto* files = qobject_cast<QFileDialog*>(d);
            if (!files)
                return int(QDialog::Rejected);
            offered = files->directory().absolutePath();
            filters = files->nameFilters();
            proposed = files->selectedFiles().value(0);
            files->selectFile(path);
            return int(QDialog::Accepted);
        });
        w->Action("actZeroSaveToFile")->trigger();
        QCOMPARE(offered, QDir(ProgramDir()).absolutePath());
        QCOMPARE(filters, QStringList{"Массив нулей (*.txt)"});
        QVERIFY2(QFileInfo(proposed).fileName().startsWith("Zero20"), qPrintable(proposed));
        QVERIFY(Script->Boxes.isEmpty());
        // An array of the gauge: its plant number and the time first, in a comment line.
        const QByteArray comment = ZeroFileComment(Rig->Ulmar->PlantNumber, QDateTime());
        QVERIFY2(ReadAll(path).startsWith(comment.left(comment.indexOf(','))), ReadAll(path));
        QCOMPARE(Entries(ReadAll(path)), ZeroFileBytes(saved));
        QVERIFY(LoadZeroFile(path).Ok);
        QCOMPARE(LoadZeroFile(path).Array, saved);

        // Saving over it asks; No keeps the file.
        Rig->Ulmar->ZeroArray[4] = 3000;
        PickFile(path);
        Script->PushButton(QMessageBox::No);
        w->Action("actZeroSaveToFile")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Внимание"));
        QCOMPARE(Script->Boxes[0].Text,
                 "Заменить существующий файл " + QDir::toNativeSeparators(path) + " ?");
        QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Warning);
        QCOMPARE(Entries(ReadAll(path)), ZeroFileBytes(saved));
        PickFile(path);
        Script->PushButton(QMessageBox::Yes);
        w->Action("actZeroSaveToFile")->trigger();
        QCOMPARE(Entries(ReadAll(path)), ZeroFileBytes(Rig->Ulmar->ZeroArray));

        // A save that cannot be written: an error box, nothing made.
        Script->Boxes.clear();
        const QString nowhere = ProgFile("none/Zero.txt");
        PickFile(nowhere);
        w->Action("actZeroSaveToFile")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Ошибка"));
        QCOMPARE(Script->Boxes[0].Icon, QMessageBox::Critical);
        QVERIFY(Script->Boxes[0].Text.startsWith("Не удалось сохранить файл\n" +
                                                 QDir::toNativeSeparators(nowhere)));

        // Loading: the file's array into the device object and the window.
        Script->Boxes.clear();
        Rig->Ulmar->ClearZeroArray();
        w->Refresh();
        PickFile(path);
        w->Action("actZeroLoadFromFile")->trigger();
        QVERIFY(Script->Boxes.isEmpty());
        QCOMPARE(Rig->Ulmar->ZeroArray[4], 3000);
        QCOMPARE(Items(w->lbZero),
                 (QStringList{"Кол-во:2", "Min:0", "Max:65535", "1) 1000", "2) 3000"}));
        const TZeroArray loaded = Rig->Ulmar->ZeroArray;
        // Saved again as loaded: the file's own comment line, not this gauge's, is kept.
        const QString other = ProgFile("other.txt");
        QVERIFY(WriteAll(other, "# Заводской номер 4321, 01.02.2026 03:04:05\r\n" +
                                    ZeroFileBytes(loaded)));
        PickFile(other);
        w->Action("actZeroLoadFromFile")->trigger();
        const QString copy = ProgFile("copy.txt");
        PickFile(copy);
        w->Action("actZeroSaveToFile")->trigger();
        QCOMPARE(ReadAll(copy), ReadAll(other));

        // A cancelled load keeps the array; so does a refused file, with its reason.
        PickFile(QString());
        w->Action("actZeroLoadFromFile")->trigger();
        QCOMPARE(Rig->Ulmar->ZeroArray, loaded);
        const QString big = ProgFile("big.txt");
        QVERIFY(WriteAll(big, ZeroFileBytes(loaded) + QByteArray(ZeroFileMaxBytes, ' ')));
        PickFile(big);
        w->Action("actZeroLoadFromFile")->trigger();
        QCOMPARE(Script->Boxes.size(), 1);
        QCOMPARE(Script->Boxes[0].Caption, QStringLiteral("Ошибка"));
        QVERIFY2(Script->Boxes[0].Text.startsWith("Не удалось загрузить файл\n" +
                                                  QDir::toNativeSeparators(big) + "\n"),
                 qPrintable(Script->Boxes[0].Text));
        QCOMPARE(Rig->Ulmar->ZeroArray, loaded);
        QCOMPARE(w->lbZero->count(), 5);

        // A file of 10 lines: entries 1 to 10, the others cleared (entry 256 65535).
        Script->Boxes.clear();
        const QString shortFile = ProgFile("short.txt");
        QVERIFY(WriteAll(shortFile, "3\r\n0\r\n900\r\n100\r\n200\r\n300\r\n7\r\n8\r\n9\r\n10\r\n"));
        PickFile(shortFile);
        w->Action("actZeroLoadFromFile")->trigger();
        QVERIFY(Script->Boxes.isEmpty());
        QCOMPARE(Rig->Ulmar->ZeroArray[9], 10);
        QCOMPARE(Rig->Ulmar->ZeroArray[10], 0);
        QCOMPARE(Rig->Ulmar->ZeroArray[255], 65535);
        QCOMPARE(Items(w->lbZero),
                 (QStringList{"Кол-во:3", "Min:0", "Max:900", "1) 100", "2) 200", "3) 300"}));

        // A file whose N is far beyond the array: shown with N at most 253.
        QByteArray text = "1000\r\n";
        for (int i = 2; i <= 256; ++i)
            text += QByteArray::number(i) + "\r\n";
        QVERIFY(WriteAll(shortFile, text));
        PickFile(shortFile);
        w->Action("actZeroLoadFromFile")->trigger();
        QCOMPARE(Rig->Ulmar->ZeroArray[0], 1000);
        QCOMPARE(w->lbZero->count(), 3 + 253);
        QCOMPARE(w->lbZero->item(0)->text(), QStringLiteral("Кол-во:253"));
        QCOMPARE(w->lbZero->item(255)->text(), QStringLiteral("253) 256"));
    }

    void closeClearsTheArray() {
        Open();
        Rig->Ulmar->ZeroArray[0] = 1;
        Rig->Ulmar->ZeroArray[3] = 500;
        TFormZero* w = OpenZero();
        QCOMPARE(w->lbZero->count(), 4);
        w->Action("actZeroClose")->trigger();
        QCOMPARE(w->lbZero->count(), 0);
        QCOMPARE(w->Series1->dataCount(), 0);
        QCOMPARE(w->Series2->dataCount(), 0);
        QVERIFY(!w->ScrollBar1->isEnabled());
        QCOMPARE(Rig->Ulmar->ZeroArray, ClearedZeroArray());
        // Keys on an empty chart change nothing and fail nothing.
        const TZeroRange view = w->View();
        Press(w->Chart1, Qt::Key_Right);
        Press(w->Chart1, Qt::Key_End);
        QCOMPARE(w->View(), view);
        w->Action("actZeroRefresh")->trigger();
        QCOMPARE(w->lbZero->count(), 256);
    }

    // Echo snapshots as a technician takes them: "Запись" with a 1-second interval while the
    // gauge's array moves, the slider following the snapshots with their times, the window live
    // during the reads, replay as a movie, a reference overlaid with what moved listed.
    void echoRecordAndReplay() {
        Open();
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].FillZeroArray(20); });
        TFormZero* w = OpenZero();
        QVERIFY(w);
        w->show();
        QVERIFY(!w->Action("actZeroPlay")->isEnabled());
        w->seInterval->setValue(1);
        QCOMPARE(TIniFile(JoinPath(StartIniDir(), "fZero.ini")).ReadInteger("Echo", "Interval", 0),
                 1);
        // The window's timers keep running while a snapshot is read (the gauge's pause of a
        // second after the start command included): no gap near that long between two ticks.
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 longestGap = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        ticker.start(50);
        w->Action("actZeroRecord")->trigger();
        QVERIFY(w->Recording());
        QTRY_COMPARE_WITH_TIMEOUT(int(w->Snapshots().size()), 1, 15000);
        QVERIFY2(longestGap < 700, qPrintable(QString::number(longestGap)));
        QCOMPARE(w->tbSnapshots->maximum(), 0);
        // The gauge's position 3 moves by 1500 for the next snapshots (still below position 4,
        // a shift that shows on the chart).
        Rig->Sim->WithSim([](TGaugeSim& sim) { sim.Gauges[0].ZeroArray[3 + 2] += 1500; });
        QTRY_VERIFY_WITH_TIMEOUT(w->Snapshots().size() >= 3, 20000);
        w->Action("actZeroRecord")->trigger();
        QVERIFY(!w->Recording());
        QVERIFY(w->Action("actZeroLoadFromFile")->isEnabled()); // no read under way
        const int count = int(w->Snapshots().size());
        QCOMPARE(w->tbSnapshots->maximum(), count - 1);
        QCOMPARE(w->tbSnapshots->value(), count - 1); // it followed the recording
        for (int i = 1; i < count; ++i)
            QVERIFY(w->Snapshots()[std::size_t(i)].Time > w->Snapshots()[std::size_t(i - 1)].Time);
        // Each snapshot is a zero-array file of the recording folder.
        QVERIFY(w->RecordingFolder().startsWith(TFormZero::RecordingRoot()));
        QCOMPARE(QDir(w->RecordingFolder()).entryList({"Zero*.txt"}, QDir::Files).size(), count);

        // The slider shows the first snapshot and its time.
        w->tbSnapshots->setValue(0);
        QCOMPARE(w->ShownSnapshot(), 0);
        const TZeroSnapshot first = w->Snapshots()[0];
        QVERIFY2(w->lblSnapshot->text().contains(first.Time.toString("dd.MM.yyyy HH:mm:ss")),
                 qPrintable(w->lblSnapshot->text()));
        QCOMPARE(Items(w->lbZero), ZeroListLines(first.Array));

        // The first snapshot as the reference: the last one differs at position 3 by +1500.
        w->SetReference(first.Array, QStringLiteral("снимок 1"));
        QCOMPARE(w->Series3->dataCount(), 20);
        QVERIFY(w->Difference() && w->Difference()->Same());
        w->tbSnapshots->setValue(count - 1);
        const std::optional<TZeroDifference> moved = w->Difference();
        QVERIFY(moved && !moved->Same());
        QCOMPARE(moved->LargestAt, 3);
        QCOMPARE(moved->LargestShift, qint64(1500));
        QVERIFY(w->lbDifference->isVisibleTo(w));
        QCOMPARE(Items(w->lbDifference), ZeroDifferenceLines(*moved));
        QVERIFY2(w->lblDifference->text().contains(QStringLiteral("снимок 1")),
                 qPrintable(w->lblDifference->text()));

        // Replay: from the first snapshot to the last, one frame at a time, then it stops.
        QList<int> frames;
        const auto sample = [&] {
            if (frames.isEmpty() || frames.last() != w->tbSnapshots->value())
                frames << w->tbSnapshots->value();
        };
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, sample);
        sampler.start(20);
        w->Action("actZeroPlay")->trigger();
        QVERIFY(w->Playing());
        QCOMPARE(w->Action("actZeroPlay")->text(), QStringLiteral("Стоп"));
        QTRY_VERIFY_WITH_TIMEOUT(!w->Playing(), 10000);
        sample(); // the last frame, shown as the playing stopped
        QList<int> expected;
        for (int i = 0; i < count; ++i)
            expected << i;
        QCOMPARE(frames, expected);
        QCOMPARE(w->Action("actZeroPlay")->text(), QStringLiteral("Воспроизвести"));
        Shot(w, "echo_replay.png");

        // The recording folder read back: the same snapshots in the same order.
        const QString folder = w->RecordingFolder();
        std::vector<TZeroArray> arrays;
        for (const TZeroSnapshot& snapshot : w->Snapshots())
            arrays.push_back(snapshot.Array);
        w->ClearReference();
        QVERIFY(!w->lbDifference->isVisibleTo(w));
        QVERIFY(w->LoadRecording(folder));
        QCOMPARE(int(w->Snapshots().size()), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(w->Snapshots()[std::size_t(i)].Array, arrays[std::size_t(i)]);
        // "Эталон…" takes a zero-array file.
        PickFile(w->Snapshots()[0].File);
        w->Action("actZeroReference")->trigger();
        QVERIFY(w->Reference());
        QCOMPARE(*w->Reference(), arrays[0]);
        // The device object's array is still the gauge's last read: replay is a view only.
        QCOMPARE(Rig->Ulmar->ZeroArray, arrays.back());
    }

    // "Эталон из протокола": the newest session of the shown gauge that holds a whole array,
    // its as-left array before its as-found one; another gauge's sessions and a session.json
    // that cannot be read are passed over.
    void referenceFromRecord() {
        Open();
        TFormZero* w = OpenZero();
        QVERIFY(w);
        const int plant = int(Rig->Ulmar->PlantNumber);
        QTemporaryDir records;
        const auto save = [&](int number, const char* name, const TServiceRecord& r) {
            const QString dir = records.filePath(QString::number(number) + "/" + name);
            QString error;
            return QDir().mkpath(dir) && SaveServiceRecord(dir + "/session.json", r, error);
        };
        QVERIFY(!w->ReferenceFromRecord(records.path()));
        QCOMPARE(Script->Boxes.size(), 1);
        QVERIFY(Script->Boxes[0].Text.contains(QString::number(plant)));
        QVERIFY(!w->Reference());

        TServiceRecord older = SampleServiceRecord();
        older.Gauge.PlantNumber = plant;
        QVERIFY(save(plant, "2026-03-05_10-12-40", older));
        TServiceRecord newer = older; // open, as found only
        newer.AsFound.Zero[5] = 4321;
        newer.AsLeft.Zero.clear();
        QVERIFY(save(plant, "2026-04-01_08-00-00", newer));
        TServiceRecord other = older;
        other.Gauge.PlantNumber = plant + 1;
        QVERIFY(save(plant + 1, "2026-05-01_08-00-00", other));
        QVERIFY(QDir().mkpath(records.filePath(QString::number(plant) + "/2026-06-01_08-00-00")));
        QVERIFY(
            WriteAll(records.filePath(QString::number(plant) + "/2026-06-01_08-00-00/session.json"),
                     "{\"format\": 1, \"site\""));

        QVERIFY(w->ReferenceFromRecord(records.path()));
        QVERIFY(w->Reference());
        QCOMPARE((*w->Reference())[5], 4321);
        QVERIFY(w->lblDifference->text().contains(QStringLiteral("2026-04-01_08-00-00, до работ")));
        // The newer one finished: its as-left array wins.
        newer.AsLeft.Zero = newer.AsFound.Zero;
        newer.AsLeft.Zero[5] = 4444;
        QVERIFY(save(plant, "2026-04-01_08-00-00", newer));
        QVERIFY(w->ReferenceFromRecord(records.path()));
        QCOMPARE((*w->Reference())[5], 4444);
        QVERIFY(w->lblDifference->text().contains(QStringLiteral("после работ")));
    }

    void closesWithTheMainWindow() {
        Open();
        QVERIFY(OpenZero());
        Form->show();
        Script->PushButton(QMessageBox::Yes); // "Завершить работу?"
        Form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!Form->Windows().Zero);
        QVERIFY(!TopLevelWindow(QStringLiteral("FormZero")));
    }

    void aboutBox() {
        Open();
        QString version, dateTime, title, dataDir, workDir, logDir;
        QSize picture;
        Script->Push([&](QDialog* d) {
            title = d->windowTitle();
            dataDir = d->findChild<QLabel*>("lblDataDir")->text();
            workDir = d->findChild<QLabel*>("lblWorkDir")->text();
            logDir = d->findChild<QLabel*>("lblLogDir")->text();
            version = d->findChild<QLabel*>("lblVersion")->text();
            dateTime = d->findChild<QLabel*>("lblDateTime")->text();
            picture = d->findChild<QLabel*>("imgPicture")->pixmap().size();
            Shot(d, "about.png");
            return int(QDialog::Accepted);
        });
        A("actFormAboutShow")->trigger();
        QCOMPARE(title, QStringLiteral("О программе"));
        QCOMPARE(version, QStringLiteral("Версия: " ULMAR_PROJECT_VERSION));
        QVERIFY2(dateTime.startsWith("От :") && dateTime.size() > 10, qPrintable(dateTime));
        QCOMPARE(picture, QSize(240, 180));
        // Where the data and the settings are kept: the folders in force.
        QCOMPARE(dataDir, QStringLiteral("Данные: ") + ProgramDir());
        QCOMPARE(workDir, QStringLiteral("Настройки: ") + StartDir());
        QCOMPARE(logDir, QStringLiteral("Журналы: ") + LogDir());
        const auto built = ProgramBuildTime();
        QVERIFY(built.has_value());
        QVERIFY(*built <= QDateTime::currentDateTime().addSecs(60));
    }

    void aboutStampUnreadable() {
        TFormAbout about(VersionTextFrom(""), ParseBuildStamp("Foo 99 20x4", "25:61:00"));
        QCOMPARE(about.lblVersion->text(), QStringLiteral("Версия: 1.0.0.0"));
        QCOMPARE(about.lblDateTime->text(), QStringLiteral("Компиляция"));
        QCOMPARE(about.windowTitle(), QStringLiteral("О программе"));
        // Esc closes the box.
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(!about.isVisible());
    }

    void buildStamps_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("padded day") << "Mar  5 2024"
                                    << "14:15:02" << QDateTime(QDate(2024, 3, 5), QTime(14, 15, 2));
        QTest::newRow("two digits")
            << "Dec 31 2026"
            << "23:59:59" << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
        QTest::newRow("month name") << "Mrz  5 2024"
                                    << "14:15:02" << QDateTime();
        QTest::newRow("no such day") << "Feb 30 2024"
                                     << "10:00:00" << QDateTime();
        QTest::newRow("time") << "Mar  5 2024"
                              << "24:00:00" << QDateTime();
        QTest::newRow("empty") << ""
                               << "" << QDateTime();
        QTest::newRow("??") << "??? ?? ????"
                            << "??:??:??" << QDateTime();
    }
    void buildStamps() {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(QDateTime, expected);
        const auto stamp = ParseBuildStamp(date, time);
        QCOMPARE(stamp.value_or(QDateTime()), expected);
        QCOMPARE(VersionTextFrom("  1.0.2.6 "), QStringLiteral("1.0.2.6"));
    }
};

QTEST_MAIN(TestFormZero)
#include "tst_formzero.moc"
