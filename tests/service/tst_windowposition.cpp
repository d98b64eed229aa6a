// Window positions: the file under the start directory, each key applied on its own, the
// maximised state and its restored size, a missing "INI" directory.

#include "devicelink/uIniFile.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"
#include "service/uWindowPosition.h"
#include "tests/support/TestDirs.h"

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

QTEST_MAIN(TestWindowPosition)
#include "tst_windowposition.moc"
