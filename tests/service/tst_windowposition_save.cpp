// Window positions that cannot be stored never keep a window from closing: a position file that
// is a directory, a pipe, read-only or huge, and an "INI" folder that cannot be written. The
// file is left as it was and the call returns at once.

#include "tests/support/TestDirs.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uWindowPosition.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// A window that stores its position as it closes, as the program's windows do.
class TClosingWindow : public QWidget {
public:
    TClosingWindow() {
        setObjectName(QStringLiteral("FormTest"));
        move(30, 40);
        resize(300, 200);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        SaveWindowPosition(this);
        event->accept();
    }
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestWindowPositionSave : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestDirs> Dirs;
    QString IniDir() const { return JoinPath(Dirs->Work(), "INI"); }
    QString IniPath() const { return JoinPath(IniDir(), "WndPos.ini"); }

    // Shows and closes a window; true when it closed.
    static bool ShowAndClose() {
        TClosingWindow window;
        window.show();
        if (!window.close())
            return false;
        return !window.isVisible();
    }

private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() {
        QFile::setPermissions(IniPath(), QFile::ReadOwner | QFile::WriteOwner);
        QFile::setPermissions(IniDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Dirs.reset();
    }

    void positionFileIsADirectory() {
        QVERIFY(QDir().mkpath(IniPath()));
        QVERIFY(ShowAndClose());
        QVERIFY(QFileInfo(IniPath()).isDir());
        TClosingWindow other;
        LoadWindowPosition(&other);
        QCOMPARE(other.pos(), QPoint(30, 40));
        QVERIFY(!HasSavedPosition(&other));
    }

    // A pipe under the file's name would block a reader until someone writes into it.
    void positionFileIsAPipe() {
        QVERIFY(mkfifo(QFile::encodeName(IniPath()).constData(), 0644) == 0);
        // Should anything open the pipe for reading, this opener lets it go after two seconds.
        std::atomic<bool> done{false};
        std::atomic<bool> readerSeen{false};
        std::thread opener([&] {
            QElapsedTimer t;
            t.start();
            while (!done && t.elapsed() < 2000)
                QThread::msleep(20);
            const int fd = ::open(QFile::encodeName(IniPath()).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                readerSeen = true;
                ::close(fd);
            }
        });
        QElapsedTimer elapsed;
        elapsed.start();
        const bool closed = ShowAndClose();
        TClosingWindow other;
        LoadWindowPosition(&other);
        const bool saved = HasSavedPosition(&other);
        const qint64 took = elapsed.elapsed();
        done = true;
        opener.join();
        QVERIFY(closed);
        QVERIFY(!saved);
        QVERIFY2(took < 1500, qPrintable(QString::number(took)));
        QVERIFY(!readerSeen);
    }

    // A file marked read-only keeps its content, even for a privileged user.
    void readOnlyFileKept() {
        const QByteArray text = "[FormTest]\r\nLeft=7\r\nTop=8\r\n";
        QVERIFY(WriteAll(IniPath(), text));
        QVERIFY(QFile::setPermissions(IniPath(),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(ShowAndClose());
        QCOMPARE(ReadAll(IniPath()), text);
        // It is still read.
        TClosingWindow other;
        LoadWindowPosition(&other);
        QCOMPARE(other.pos(), QPoint(7, 8));
    }

    void hugeFileNeitherReadNorRewritten() {
        QByteArray text = "[FormTest]\r\nLeft=7\r\n";
        text += QByteArray(2 << 20, ';');
        QVERIFY(WriteAll(IniPath(), text));
        QVERIFY(ShowAndClose());
        QCOMPARE(QFileInfo(IniPath()).size(), text.size());
        TClosingWindow other;
        LoadWindowPosition(&other);
        QCOMPARE(other.pos(), QPoint(30, 40));
    }

    void iniFolderNotWritable() {
        if (geteuid() == 0)
            QSKIP("a privileged user writes into any folder");
        QVERIFY(QFile::setPermissions(IniDir(), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(ShowAndClose());
        QVERIFY(!QFile::exists(IniPath()));
    }

    void iniIsAFile() {
        QVERIFY(QDir(IniDir()).removeRecursively());
        QVERIFY(WriteAll(IniDir(), "not a folder"));
        QVERIFY(ShowAndClose());
        QCOMPARE(ReadAll(IniDir()), QByteArray("not a folder"));
    }

    // The usual case still stores the position.
    void writableFileStored() {
        QVERIFY(ShowAndClose());
        TClosingWindow other;
        other.move(1, 2);
        LoadWindowPosition(&other);
        QCOMPARE(other.pos(), QPoint(30, 40));
    }
};

QTEST_MAIN(TestWindowPositionSave)
#include "tst_windowposition_save.moc"
