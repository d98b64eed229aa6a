// The main window's first layout on a full HD screen, and on the same screen at
// QT_SCALE_FACTOR=2 (built with ULMAR_LAYOUT_SCALE=2: a logical screen of 960 × 540): with
// nothing saved, the four tool windows open beside and below the main window, clear of it and
// of each other and inside the screen; windows with a saved position keep it and the others
// keep clear of them; saved positions off the screen are brought onto it.

#include "fMain.h"
#include "fReqAns.h"
#include "fSelectCMD.h"
#include "fUlmar.h"
#include "fUlmarPar.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/OffscreenScreen.h"
#include "uConsole.h"
#include "uIniFile.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#ifndef ULMAR_LAYOUT_SCALE
#define ULMAR_LAYOUT_SCALE 1
#endif

constexpr int Scale = ULMAR_LAYOUT_SCALE;

class TestFirstLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;

    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    QList<QWidget*> Windows() const {
        const TToolWindows& w = Form->Windows();
        return {Form.get(), w.Ulmar, w.UlmarPar, w.ReqAns, w.SelectCMD};
    }
    void SavePosition(const QString& name, const QPoint& at) {
        TIniFile ini(JoinPath(JoinPath(Rig->Dirs.Work(), "INI"), "WndPos.ini"));
        ini.WriteInteger(name, "Left", at.x());
        ini.WriteInteger(name, "Top", at.y());
        ini.Save(false);
    }
    // The main window and every tool window opened (a small screen may leave one closed) inside
    // the screen's available area and, when `apart`, none over another.
    void VerifyApart(bool apart = true) {
        QList<QWidget*> windows;
        for (QWidget* w : Windows()) {
            QVERIFY(w);
            if (w == Form.get() || w->isVisible())
                windows << w;
        }
        QVERIFY(windows.size() >= 3); // the main window and at least two beside it
        for (int i = 0; i < windows.size(); ++i) {
            const QRect frame = windows[i]->frameGeometry();
            QVERIFY2(Area().contains(frame), qPrintable(windows[i]->objectName()));
            for (int j = 0; j < i && apart; ++j)
                QVERIFY2(!frame.intersects(windows[j]->frameGeometry()),
                         qPrintable(windows[i]->objectName() + " / " + windows[j]->objectName()));
        }
    }

private slots:
    void init() {
        Rig = std::make_unique<TConsoleRig>();
        QVERIFY(Rig->SimStarted);
        Script = std::make_unique<TModalScript>();
    }

    void cleanup() {
        Form.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Script.reset();
        Rig.reset();
    }

    void freshStartSideBySide() {
        QCOMPARE(Area().size(), QSize(1920, 1080) / Scale); // the screen that main() sets up
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        VerifyApart();
        const QRect main = Form->frameGeometry();
        QCOMPARE(main.topLeft(), Area().topLeft());
        // The readings always open beside the main window, which gives way on a small screen.
        QVERIFY(Form->Windows().Ulmar->isVisible());
        QVERIFY(Form->Windows().Ulmar->x() > main.right());
        if (Scale != 1)
            return; // on the small screen any spot clear of the others will do
        // The parameters window is too wide to join it there and goes below the main window.
        QVERIFY(Form->Windows().UlmarPar->y() > main.bottom());
        QVERIFY(Form->Windows().ReqAns->y() > main.bottom());
        QVERIFY(Form->Windows().SelectCMD->y() > main.bottom());
    }

    void savedPositionsKept() {
        // The link window sits where the readings would go.
        SavePosition("FormMain", QPoint(40, 40));
        const QPoint reqAns = Scale == 1 ? QPoint(940, 40) : QPoint(370, 260);
        SavePosition("FormReqAns", reqAns);
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        QCOMPARE(Form->pos(), QPoint(40, 40));
        QCOMPARE(Form->Windows().ReqAns->pos(), reqAns);
        VerifyApart();
    }

    // Positions saved on a larger screen (or without the scale factor) that no longer fit are
    // brought whole onto the screen.
    void savedPositionsOffTheScreen() {
        SavePosition("FormMain", QPoint(1700, 1000));
        SavePosition("FormUlmar", QPoint(3000, 2000));
        SavePosition("FormSelectCMD", QPoint(1800, 10));
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        VerifyApart(false);
    }
};

int main(int argc, char* argv[]) {
    if (Scale != 1)
        qputenv("QT_SCALE_FACTOR", QByteArray::number(Scale));
    return RunOnOffscreenScreen<TestFirstLayout>(argc, argv, 1920, 1080);
}

#include "tst_firstlayout.moc"
