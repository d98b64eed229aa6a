// The main window's first layout on a full HD screen: with nothing saved, the four tool windows
// open beside and below the main window, clear of it and of each other; windows with a saved
// position keep it and the others keep clear of them.

#include "console/fMain.h"
#include "console/fReqAns.h"
#include "console/fSelectCMD.h"
#include "console/uConsole.h"
#include "devicelink/uIniFile.h"
#include "tests/console/ConsoleRig.h"
#include "tests/support/OffscreenScreen.h"
#include "values/fUlmar.h"
#include "values/fUlmarPar.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

class TestFirstLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<TConsoleRig> Rig;
    std::unique_ptr<TModalScript> Script;
    std::unique_ptr<TFormMain> Form;

    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    QList<QWidget*> Windows() const {
        return {Form.get(), FormUlmar, FormUlmarPar, FormReqAns, FormSelectCMD};
    }
    void SavePosition(const QString& name, const QPoint& at) {
        TIniFile ini(JoinPath(JoinPath(Rig->Dirs.Work(), "INI"), "WndPos.ini"));
        ini.WriteInteger(name, "Left", at.x());
        ini.WriteInteger(name, "Top", at.y());
        ini.Save(false);
    }
    // Every window inside the screen's available area and none over another.
    void VerifyApart() {
        const QList<QWidget*> windows = Windows();
        for (int i = 0; i < windows.size(); ++i) {
            QVERIFY(windows[i]);
            const QRect frame = windows[i]->frameGeometry();
            QVERIFY2(Area().contains(frame), qPrintable(windows[i]->objectName()));
            for (int j = 0; j < i; ++j)
                QVERIFY2(!frame.intersects(windows[j]->frameGeometry()),
                         qPrintable(windows[i]->objectName() + " / " + windows[j]->objectName()));
        }
    }

private slots:
    void init() {
        FactoryMode = false;
        KalistMode = false;
        AppClosing = false;
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
        QCOMPARE(Area().size(), QSize(1920, 1080)); // the screen that main() sets up
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        VerifyApart();
        const QRect main = Form->frameGeometry();
        QCOMPARE(main.topLeft(), Area().topLeft());
        QVERIFY(FormUlmar->x() > main.right());
        // The parameters window is too wide to join it there and goes below the main window.
        QVERIFY(FormUlmarPar->y() > main.bottom());
        QVERIFY(FormReqAns->y() > main.bottom());
        QVERIFY(FormSelectCMD->y() > main.bottom());
    }

    void savedPositionsKept() {
        // The link window sits where the readings would go.
        SavePosition("FormMain", QPoint(40, 40));
        SavePosition("FormReqAns", QPoint(940, 40));
        Form = std::make_unique<TFormMain>(Rig->Link.get());
        QCOMPARE(Form->pos(), QPoint(40, 40));
        QCOMPARE(FormReqAns->pos(), QPoint(940, 40));
        VerifyApart();
    }
};

int main(int argc, char* argv[]) {
    return RunOnOffscreenScreen<TestFirstLayout>(argc, argv, 1920, 1080);
}

#include "tst_firstlayout.moc"
