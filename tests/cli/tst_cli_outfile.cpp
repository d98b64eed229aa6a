// The --out file put in place: while the gauge is read, what appears at a new path, or takes the
// place of a file being replaced, is never overwritten; a failed write leaves nothing behind.

#include "tests/support/FileBytes.h"
#include "uCliOutFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

class TestCliOutFile : public QObject {
    Q_OBJECT

    QTemporaryDir Dir;
    QString Path(const char* name) const { return Dir.filePath(QString::fromLatin1(name)); }
    QStringList Entries() const {
        return QDir(Dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    // Writes `bytes` to the file it is given, after `meanwhile` (what happens during the read).
    static auto Writer(const QByteArray& bytes, const std::function<void()>& meanwhile = {}) {
        return [bytes, meanwhile](const QString& staged, QString&) {
            if (meanwhile)
                meanwhile();
            return WriteAll(staged, bytes);
        };
    }

private slots:
    void init() {
        for (const QString& name : Entries())
            QVERIFY(QFile::remove(Dir.filePath(name)));
    }

    void newAndReplaced() {
        QString error;
        QVERIFY2(WriteOutputFile(Path("a.txt"), false, Writer("new"), error), qPrintable(error));
        QCOMPARE(ReadAll(Path("a.txt")), QByteArray("new"));
        QVERIFY(::chmod(QFile::encodeName(Path("a.txt")).constData(), 0640) == 0);
        QVERIFY(!WriteOutputFile(Path("a.txt"), false, Writer("other"), error));
        QVERIFY2(WriteOutputFile(Path("a.txt"), true, Writer("other"), error), qPrintable(error));
        QCOMPARE(ReadAll(Path("a.txt")), QByteArray("other"));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(Path("a.txt")).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0640u);
        // A write that fails leaves the former file and no other.
        const auto failing = [](const QString&, QString& why) {
            why = QStringLiteral("сбой");
            return false;
        };
        QVERIFY(!WriteOutputFile(Path("a.txt"), true, failing, error));
        QCOMPARE(error, QStringLiteral("сбой"));
        QCOMPARE(ReadAll(Path("a.txt")), QByteArray("other"));
        QCOMPARE(Entries(), QStringList{"a.txt"});
    }

    void somethingAppearsMeanwhile() {
        QString error;
        // A file at a new path.
        QVERIFY(!WriteOutputFile(
            Path("new.txt"), false,
            Writer("gauge", [this] { WriteAll(Path("new.txt"), "someone's"); }), error));
        QCOMPARE(ReadAll(Path("new.txt")), QByteArray("someone's"));
        QVERIFY2(error.contains("--out " + Path("new.txt")), qPrintable(error));
        // A FIFO, and a link to another file, where a regular file was to be replaced.
        QVERIFY(WriteAll(Path("other.txt"), "other"));
        QVERIFY(WriteAll(Path("fifo"), "former"));
        QVERIFY(!WriteOutputFile(Path("fifo"), true,
                                 Writer("gauge",
                                        [this] {
                                            QFile::remove(Path("fifo"));
                                            ::mkfifo(QFile::encodeName(Path("fifo")).constData(),
                                                     0644);
                                        }),
                                 error));
        QVERIFY(QFileInfo(Path("fifo")).exists() && !QFileInfo(Path("fifo")).isFile());
        QVERIFY(WriteAll(Path("link"), "former"));
        QVERIFY(!WriteOutputFile(Path("link"), true,
                                 Writer("gauge",
                                        [this] {
                                            QFile::remove(Path("link"));
                                            QFile::link(Path("other.txt"), Path("link"));
                                        }),
                                 error));
        QVERIFY(QFileInfo(Path("link")).isSymLink());
        QCOMPARE(ReadAll(Path("other.txt")), QByteArray("other"));
        QCOMPARE(Entries(), (QStringList{"fifo", "link", "new.txt", "other.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestCliOutFile)
#include "tst_cli_outfile.moc"
