// Window positions: the file under the start directory, each key applied on its own, the
// maximised state and its restored size, a missing "INI" directory, saved positions that no
// screen shows any more, and the first layout of windows beside the main window.

#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uWindowPosition.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <memory>

class TestWindowPosition : public QObject {
    Q_OBJECT
private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() { Dirs.reset(); }

    void normalRoundTrip();
    void otherStartDirOtherFile();
    void onlyLeftMovesOnlyLeft();
    void unreadableKeysKeepGeometry_data();
    void unreadableKeysKeepGeometry();
    void maximisedRoundTrip();
    void maximisedWithoutRestoredBoundsRestoresSmaller();
    void missingIniDirStoresNothing();
    void childWidgetIgnored();
    void offScreenMovedOntoPrimary_data();
    void offScreenMovedOntoPrimary();
    void maximisedOffScreenRestoresOnPrimary();
    void keepOnScreenAcrossScreens_data();
    void keepOnScreenAcrossScreens();
    void hasSavedPosition_data();
    void hasSavedPosition();
    void placeBeside_data();
    void placeBeside();

private:
    QString IniPath(const QString& workDir) const {
        return JoinPath(JoinPath(workDir, "INI"), "WndPos.ini");
    }
    // A window named FormTest with its designed bounds.
    static std::unique_ptr<QWidget> MakeWindow(int x = 10, int y = 20, int w = 300, int h = 200) {
        auto window = std::make_unique<QWidget>();
        window->setObjectName(QStringLiteral("FormTest"));
        window->move(x, y);
        window->resize(w, h);
        return window;
    }
    static QRect Area() { return QGuiApplication::primaryScreen()->availableGeometry(); }
    void WriteIni(const QByteArray& text) {
        QFile f(IniPath(Dirs->Work()));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    std::unique_ptr<TTestDirs> Dirs;
};

void TestWindowPosition::normalRoundTrip() {
    auto saved = MakeWindow(40, 50, 320, 240);
    SaveWindowPosition(saved.get());
    const TIniFile ini(IniPath(Dirs->Work()));
    QCOMPARE(ini.ReadString("FormTest", "Name", ""), QStringLiteral("FormTest"));
    QCOMPARE(ini.ReadInteger("FormTest", "Left", -1), 40);
    QCOMPARE(ini.ReadInteger("FormTest", "Top", -1), 50);
    QCOMPARE(ini.ReadInteger("FormTest", "Width", -1), 320);
    QCOMPARE(ini.ReadInteger("FormTest", "Height", -1), 240);
    QCOMPARE(ini.ReadInteger("FormTest", "WindowState", -1), 0);

    auto loaded = MakeWindow();
    LoadWindowPosition(loaded.get());
    QCOMPARE(loaded->pos(), QPoint(40, 50));
    QCOMPARE(loaded->size(), QSize(320, 240));
    QCOMPARE(loaded->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized),
             Qt::WindowNoState);
}

void TestWindowPosition::otherStartDirOtherFile() {
    const QString first = Dirs->Work();
    auto window = MakeWindow(70, 80);
    SaveWindowPosition(window.get());
    QVERIFY(QFile::exists(IniPath(first)));

    const QString second = Dirs->Root.filePath("second");
    QVERIFY(QDir().mkpath(JoinPath(second, "INI")));
    SetStartDir(second);
    auto other = MakeWindow(5, 6);
    LoadWindowPosition(other.get());
    QCOMPARE(other->pos(), QPoint(5, 6)); // nothing stored under the second directory
    SaveWindowPosition(other.get());
    QVERIFY(QFile::exists(IniPath(second)));
    QCOMPARE(TIniFile(IniPath(first)).ReadInteger("FormTest", "Left", -1), 70);

    SetStartDir(first);
    LoadWindowPosition(other.get());
    QCOMPARE(other->pos(), QPoint(70, 80));
}

void TestWindowPosition::onlyLeftMovesOnlyLeft() {
    WriteIni("[FormTest]\r\nLeft=123\r\n");
    auto window = MakeWindow(10, 20, 300, 200);
    LoadWindowPosition(window.get());
    QCOMPARE(window->pos(), QPoint(123, 20));
    QCOMPARE(window->size(), QSize(300, 200));
    QCOMPARE(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized),
             Qt::WindowNoState);
}

void TestWindowPosition::unreadableKeysKeepGeometry_data() {
    QTest::addColumn<QByteArray>("section");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("text") << QByteArray("Left=abc\r\nWidth=wide\r\n") << QRect(10, 20, 300, 200);
    QTest::newRow("non-positive size")
        << QByteArray("Width=0\r\nHeight=-40\r\n") << QRect(10, 20, 300, 200);
    QTest::newRow("beyond int") << QByteArray("Top=99999999999\r\nHeight=250\r\n")
                                << QRect(10, 20, 300, 250);
    QTest::newRow("unknown state")
        << QByteArray("WindowState=7\r\nLeft=1\r\n") << QRect(1, 20, 300, 200);
}

void TestWindowPosition::unreadableKeysKeepGeometry() {
    QFETCH(QByteArray, section);
    QFETCH(QRect, expected);
    WriteIni("[FormTest]\r\n" + section);
    auto window = MakeWindow(10, 20, 300, 200);
    LoadWindowPosition(window.get());
    QCOMPARE(QRect(window->pos(), window->size()), expected);
    QCOMPARE(window->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized),
             Qt::WindowNoState);
}

void TestWindowPosition::maximisedRoundTrip() {
    auto saved = MakeWindow(30, 40, 320, 240);
    saved->show();
    QVERIFY(QTest::qWaitForWindowExposed(saved.get()));
    saved->showMaximized();
    QTRY_VERIFY(saved->windowState() & Qt::WindowMaximized);
    QTRY_VERIFY(saved->width() > 320);
    SaveWindowPosition(saved.get());
    const TIniFile ini(IniPath(Dirs->Work()));
    QCOMPARE(ini.ReadInteger("FormTest", "WindowState", -1), 2);
    QCOMPARE(ini.ReadInteger("FormTest", "Width", -1), saved->width()); // the maximised bounds

    auto loaded = MakeWindow(0, 0, 500, 400);
    LoadWindowPosition(loaded.get());
    QVERIFY(loaded->windowState() & Qt::WindowMaximized);
    loaded->show();
    QVERIFY(QTest::qWaitForWindowExposed(loaded.get()));
    QTRY_COMPARE(loaded->width(), saved->width());
    loaded->showNormal();
    QTRY_VERIFY(!(loaded->windowState() & Qt::WindowMaximized));
    QTRY_COMPARE(loaded->size(), QSize(320, 240)); // back to the bounds it had before maximising
}

void TestWindowPosition::maximisedWithoutRestoredBoundsRestoresSmaller() {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    WriteIni(QStringLiteral(
                 "[FormTest]\r\nLeft=%1\r\nTop=%2\r\nWidth=%3\r\nHeight=%4\r\nWindowState=2\r\n")
                 .arg(area.x())
                 .arg(area.y())
                 .arg(area.width())
                 .arg(area.height())
                 .toLatin1());
    auto window = MakeWindow();
    LoadWindowPosition(window.get());
    QVERIFY(window->windowState() & Qt::WindowMaximized);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->showNormal();
    QTRY_VERIFY(!(window->windowState() & Qt::WindowMaximized));
    QTRY_VERIFY(window->width() < area.width() && window->height() < area.height());
    QVERIFY(window->width() > 0 && window->height() > 0);
}

void TestWindowPosition::missingIniDirStoresNothing() {
    QVERIFY(QDir(JoinPath(Dirs->Work(), "INI")).removeRecursively());
    auto window = MakeWindow(70, 80);
    SaveWindowPosition(window.get());
    QVERIFY(!QDir(JoinPath(Dirs->Work(), "INI")).exists());
    auto other = MakeWindow(1, 2);
    LoadWindowPosition(other.get());
    QCOMPARE(other->pos(), QPoint(1, 2));
}

void TestWindowPosition::childWidgetIgnored() {
    WriteIni("[FormChild]\r\nLeft=123\r\n");
    QWidget parent;
    auto* child = new QWidget(&parent);
    child->setObjectName("FormChild");
    child->move(4, 5);
    LoadWindowPosition(child);
    QCOMPARE(child->pos(), QPoint(4, 5));
    SaveWindowPosition(child);
    QCOMPARE(TIniFile(IniPath(Dirs->Work())).ReadSection("FormChild"), QStringList{"Left"});
}

// A window saved where it does not lie whole on the screen comes back onto it with its size
// (bounded by the screen); one that lies whole on it stays where it was.
void TestWindowPosition::offScreenMovedOntoPrimary_data() {
    const QRect a = Area();
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<QSize>("restored");
    const QSize s(300, 200);
    // The screen less the frame assumed for a window not yet framed (title bar and border).
    const QSize inside = a.size() - QSize(8, 34);
    QTest::newRow("right of the screen")
        << QPoint(a.right() + 200, a.top() + 50) << s << false << s;
    QTest::newRow("left of the screen") << QPoint(a.left() - 1000, a.top() + 50) << s << false << s;
    QTest::newRow("below the screen") << QPoint(a.left() + 50, a.bottom() + 10) << s << false << s;
    QTest::newRow("title bar above the screen")
        << QPoint(a.left() + 50, a.top() - 150) << s << false << s;
    QTest::newRow("title bar corner only")
        << QPoint(a.right() - 40, a.top() + 50) << s << false << s;
    QTest::newRow("larger than the screen")
        << QPoint(a.right() + 10, a.top()) << a.size() + QSize(400, 100) << false << inside;
    QTest::newRow("at the end of the coordinates")
        << QPoint(2147483600, -2147483600) << QSize(2147483600, 2147483600) << false << inside;
    QTest::newRow("title bar partly shows, the rest off the screen")
        << QPoint(a.right() - 150, a.top() + 10) << s << false << s;
    QTest::newRow("whole on the screen") << QPoint(a.right() - 400, a.top() + 10) << s << true << s;
}

void TestWindowPosition::offScreenMovedOntoPrimary() {
    QFETCH(QPoint, at);
    QFETCH(QSize, size);
    QFETCH(bool, kept);
    QFETCH(QSize, restored);
    WriteIni(QStringLiteral("[FormTest]\r\nLeft=%1\r\nTop=%2\r\nWidth=%3\r\nHeight=%4\r\n")
                 .arg(at.x())
                 .arg(at.y())
                 .arg(size.width())
                 .arg(size.height())
                 .toLatin1());
    auto window = MakeWindow();
    LoadWindowPosition(window.get());
    QCOMPARE(window->size(), restored);
    if (kept)
        QCOMPARE(window->pos(), at);
    else
        QVERIFY(Area().contains(QRect(window->pos(), window->size())));
}

void TestWindowPosition::maximisedOffScreenRestoresOnPrimary() {
    const QRect a = Area();
    WriteIni(QStringLiteral("[FormTest]\r\nLeft=%1\r\nWidth=1920\r\nHeight=1080\r\n")
                 .arg(a.right() + 100)
                 .toLatin1() +
             QStringLiteral("WindowState=2\r\nRestoredLeft=%1\r\nRestoredTop=%2\r\n"
                            "RestoredWidth=320\r\nRestoredHeight=240\r\n")
                 .arg(a.right() + 300)
                 .arg(a.top() + 40)
                 .toLatin1());
    auto window = MakeWindow();
    LoadWindowPosition(window.get());
    QVERIFY(window->windowState() & Qt::WindowMaximized);
    QVERIFY(a.contains(QRect(window->pos(), window->size())));
    QCOMPARE(window->size(), QSize(320, 240));
}

// Two screens side by side, the second taller: the window has to lie on them and its title bar
// show on one of them, not merely inside the rectangle around both.
void TestWindowPosition::keepOnScreenAcrossScreens_data() {
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<bool>("kept");
    QTest::newRow("on the second screen") << QRect(1500, 100, 400, 300) << true;
    QTest::newRow("across both") << QRect(1200, 100, 400, 300) << true;
    QTest::newRow("hanging below the second") << QRect(1500, 1000, 400, 300) << false;
    QTest::newRow("below the first only") << QRect(500, 1040, 400, 300) << false;
    QTest::newRow("on a removed third screen") << QRect(3500, 100, 400, 300) << false;
}

void TestWindowPosition::keepOnScreenAcrossScreens() {
    QFETCH(QRect, frame);
    QFETCH(bool, kept);
    const QRect primary(0, 0, 1280, 1024);
    const QRect second(1280, 0, 1920, 1080);
    const QRect result = KeepOnScreen(frame, {primary, second}, primary);
    if (kept) {
        QCOMPARE(result, frame);
    } else {
        // Onto the screen that shows its title bar, else the primary one.
        QVERIFY((second.intersects(frame) ? second : primary).contains(result));
        QCOMPARE(result.size(), frame.size());
    }
}

void TestWindowPosition::hasSavedPosition_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("saved");
    QTest::newRow("left") << QByteArray("[FormTest]\r\nLeft=5\r\n") << true;
    QTest::newRow("top, other case") << QByteArray("[formtest]\r\ntop=-20\r\n") << true;
    QTest::newRow("size only") << QByteArray("[FormTest]\r\nWidth=300\r\n") << false;
    QTest::newRow("unreadable") << QByteArray("[FormTest]\r\nLeft=abc\r\nTop=\r\n") << false;
    QTest::newRow("other window") << QByteArray("[FormMain]\r\nLeft=5\r\n") << false;
    QTest::newRow("empty file") << QByteArray() << false;
}

void TestWindowPosition::hasSavedPosition() {
    QFETCH(QByteArray, file);
    QFETCH(bool, saved);
    auto window = MakeWindow();
    QVERIFY(!HasSavedPosition(window.get())); // no file yet
    WriteIni(file);
    QCOMPARE(HasSavedPosition(window.get()), saved);
}

// The first layout on a given area: every frame inside the area, and where the area has room,
// no frame over another, the main window or an occupied rectangle, each on its side.
void TestWindowPosition::placeBeside_data() {
    QTest::addColumn<QRect>("main");
    QTest::addColumn<QList<QRect>>("occupied");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<bool>("apart");
    QTest::addColumn<bool>("sides");
    const QRect fullHd(0, 0, 1920, 1080);
    QTest::newRow("first start") << QRect(0, 0, 800, 100) << QList<QRect>() << fullHd << true
                                 << true;
    QTest::newRow("saved window in the way")
        << QRect(0, 0, 800, 100) << QList<QRect>{QRect(808, 0, 400, 400), QRect(0, 108, 300, 300)}
        << fullHd << true << true;
    QTest::newRow("second screen, taskbar above") << QRect(1920, 40, 800, 100) << QList<QRect>()
                                                  << QRect(1920, 40, 1920, 1040) << true << true;
    QTest::newRow("main at the right edge")
        << QRect(1120, 0, 800, 100) << QList<QRect>() << fullHd << true << false;
    QTest::newRow("small screen") << QRect(0, 0, 800, 100) << QList<QRect>()
                                  << QRect(0, 0, 800, 600) << false << false;
}

void TestWindowPosition::placeBeside() {
    QFETCH(QRect, main);
    QFETCH(QList<QRect>, occupied);
    QFETCH(QRect, area);
    QFETCH(bool, apart);
    QFETCH(bool, sides);
    // Readings, parameters, link and command selection with their frames.
    const QList<TPlaceRequest> requests = {{QSize(373, 423), TPlaceSide::Right},
                                           {QSize(719, 466), TPlaceSide::Right},
                                           {QSize(600, 230), TPlaceSide::Below},
                                           {QSize(260, 410), TPlaceSide::Below}};
    const QList<QRect> frames = PlaceBeside(main, occupied, requests, area);
    QCOMPARE(frames.size(), requests.size());
    QList<QRect> all = QList<QRect>{main} + occupied;
    for (int i = 0; i < frames.size(); ++i) {
        const QRect& f = frames[i];
        QVERIFY2(area.contains(f), qPrintable(QString::number(i)));
        QCOMPARE(f.size(), requests[i].Size.boundedTo(area.size()));
        if (apart)
            for (const QRect& other : std::as_const(all))
                QVERIFY2(!f.intersects(other), qPrintable(QString::number(i)));
        if (sides && requests[i].Side == TPlaceSide::Right)
            QVERIFY(f.left() > main.right());
        if (sides && requests[i].Side == TPlaceSide::Below)
            QVERIFY(f.top() > main.bottom());
        all << f;
    }
}

QTEST_MAIN(TestWindowPosition)
#include "tst_windowposition.moc"
