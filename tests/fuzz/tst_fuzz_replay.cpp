// Replays every kept fuzz input (the seed corpus and the crashes found, each under the target's
// folder) through the entry functions of the fuzz targets, in the normal sanitizer build.

#include "tests/fuzz/FuzzEntries.h"
#include "tests/support/TestDirs.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestFuzzReplay : public QObject {
    Q_OBJECT

    // Feeds every file under corpus/<target> to the entry; returns how many.
    static int Replay(const QString& target, void (*entry)(const uint8_t*, size_t)) {
        int count = 0;
        QDir dir(QStringLiteral(ULMAR_FUZZ_CORPUS "/") + target);
        for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name)) {
            QFile f(info.filePath());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = f.readAll();
            entry(reinterpret_cast<const uint8_t*>(bytes.constData()),
                  static_cast<size_t>(bytes.size()));
            ++count;
        }
        return count;
    }

private slots:
    void decodeCorpus() { QVERIFY(Replay("decode", FuzzDecodeExchange) >= 10); }
    void parseCorpus() {
        TTestDirs dirs; // the fault log of fault answers stays in a temporary folder
        QVERIFY(Replay("parse", FuzzParseAnswer) >= 10);
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzz_replay.moc"
