// The zero array without a window: the list, the views, zoom and scroll bar arithmetic, and the
// file: byte for byte, files of other than 256 lines, the comment line of a file saved from a
// gauge, its refusals (size, not a file) and what a refused or failed load and a failed save
// leave behind.

#include "Ulmar.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestDirs.h"
#include "uZeroArray.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// N positions from 100 in steps of 7, minimum and maximum the first and the last.
TZeroArray Sample(int n) {
    TZeroArray zero{};
    zero[0] = n;
    for (int k = 0; k < n; ++k)
        zero[3 + k] = 100 + 7 * k;
    zero[1] = n ? zero[3] : 0;
    zero[2] = n ? zero[3 + n - 1] : 65535;
    return zero;
}

// 256 lines "1", "2", … with the given line end.
QByteArray Counting(const QByteArray& eol, int lines = 256) {
    QByteArray text;
    for (int i = 1; i <= lines; ++i)
        text += QByteArray::number(i) + eol;
    return text;
}

} // namespace

class TestZeroArray : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestDirs> Dirs;
    QString Path(const char* name) const { return Dirs->Prog() + "/" + name; }

private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() { Dirs.reset(); }

    void clearedArrayAsTheDeviceObjectClearsIt() {
        TUlmar u;
        u.ZeroArray.fill(7);
        u.ClearZeroArray();
        QCOMPARE(ClearedZeroArray(), u.ZeroArray);
    }

    void listAfterClear() {
        const QStringList lines = ZeroListLines(ClearedZeroArray());
        QCOMPARE(lines.size(), 3 + 253);
        QCOMPARE(lines.mid(0, 3), (QStringList{"Кол-во:253", "Min:0", "Max:65535"}));
        QCOMPARE(lines.at(3), QStringLiteral("1) 0"));
        QCOMPARE(lines.at(3 + 251), QStringLiteral("252) 0"));
        QCOMPARE(lines.at(3 + 252), QStringLiteral("253) 65535"));
        QCOMPARE(ZeroFullView(ClearedZeroArray()), (TZeroRange{0, 65535}));
        QCOMPARE(ZeroDataExtent(ClearedZeroArray()), (TZeroRange{0, 65535}));
    }

    void listAndViewOfSample() {
        const TZeroArray zero = Sample(4);
        QCOMPARE(ZeroListLines(zero), (QStringList{"Кол-во:4", "Min:100", "Max:121", "1) 100",
                                                   "2) 107", "3) 114", "4) 121"}));
        QCOMPARE(ZeroPositions(zero), (std::vector<double>{100, 107, 114, 121}));
        QCOMPARE(ZeroFullView(zero), (TZeroRange{100, 121}));
        // A maximum beyond the last position extends the view to it.
        TZeroArray wider = zero;
        wider[2] = 500;
        QCOMPARE(ZeroFullView(wider), (TZeroRange{100, 500}));
        QCOMPARE(ZeroDataExtent(wider), (TZeroRange{100, 500}));
    }

    void emptyArray() {
        TZeroArray zero = Sample(0);
        QCOMPARE(ZeroListLines(zero), (QStringList{"Кол-во:0", "Min:0", "Max:65535"}));
        QVERIFY(ZeroPositions(zero).empty());
        QCOMPARE(ZeroFullView(zero), (TZeroRange{0, 65535}));
        zero[2] = 70000; // a maximum above 65535 widens the view to it
        QCOMPARE(ZeroFullView(zero), (TZeroRange{0, 70000}));
    }

    // N outside 0..253 (from a file or a garbled read) never reads outside the array.
    void countClamped_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("shown");
        QTest::newRow("1000") << 1000 << 253;
        QTest::newRow("254") << 254 << 253;
        QTest::newRow("-5") << -5 << 0;
        QTest::newRow("max int") << std::numeric_limits<int>::max() << 253;
        QTest::newRow("min int") << std::numeric_limits<int>::min() << 0;
    }
    void countClamped() {
        QFETCH(int, n);
        QFETCH(int, shown);
        TZeroArray zero = ClearedZeroArray();
        zero[0] = n;
        QCOMPARE(ZeroCount(zero), shown);
        QCOMPARE(ZeroListLines(zero).size(), 3 + shown);
        QCOMPARE(ZeroListLines(zero).first(), QStringLiteral("Кол-во:") + QString::number(shown));
        QCOMPARE(int(ZeroPositions(zero).size()), shown);
        const TZeroRange view = ZeroFullView(zero);
        QVERIFY(view.Min < view.Max);
    }

    // Whatever the values, the view is a valid span.
    void viewValidForAnyValues() {
        TZeroArray zero{};
        zero[0] = 1;
        zero[2] = 65535;
        zero[3] = 65535; // first position = last: ends meet
        TZeroRange view = ZeroFullView(zero);
        QVERIFY(view.Size() >= ZeroMinSpan);
        QVERIFY(view.Min <= 65535 && view.Max >= 65535);
        zero[2] = std::numeric_limits<qint32>::min();
        zero[3] = std::numeric_limits<qint32>::max();
        view = ZeroFullView(zero); // first position above every other end: swapped
        QVERIFY(view.Min < view.Max);
    }

    void zoom() {
        const TZeroRange in = ZeroZoomIn({0, 65535});
        QCOMPARE(in, (TZeroRange{6554, 58981})); // a = 6553.5 rounded to even
        QCOMPARE(ZeroZoomOut({0, 65535}), (TZeroRange{-6554, 72089}));
        QCOMPARE(ZeroZoomIn({0, 25}), (TZeroRange{2, 23})); // 2.5 rounds to 2
        QCOMPARE(ZeroZoomIn({0, 35}), (TZeroRange{4, 31})); // 3.5 rounds to 4
        // Zooming in on a narrow view stops; zooming out on a huge one too.
        TZeroRange view{0, 65535};
        for (int i = 0; i < 500; ++i)
            view = ZeroZoomIn(view);
        QVERIFY(view.Size() >= ZeroMinSpan);
        for (int i = 0; i < 5000; ++i)
            view = ZeroZoomOut(view);
        QVERIFY(std::isfinite(view.Min) && std::isfinite(view.Max));
        QVERIFY(view.Size() <= ZeroMaxSpan && view.Min < view.Max);
    }

    void scrollBar() {
        const TZeroRange data{0, 1000};
        QCOMPARE(ZeroScrollPosition({0, 1000}, data), 100);
        QCOMPARE(ZeroScrollPosition({0, 500}, data), 50);
        QCOMPARE(ZeroScrollPosition({-300, 100}, data), 10);
        QCOMPARE(ZeroScrollPosition({-5000, -4000}, data), 0); // clamped
        QCOMPARE(ZeroScrollPosition({0, 10}, TZeroRange{5, 5}), std::nullopt);
        // Moving the scroll bar keeps the span and puts the right edge where the bar says.
        QCOMPARE(ZeroScrolledView(30, {100, 300}, data), (TZeroRange{100, 300}));
        QCOMPARE(ZeroScrolledView(0, {100, 300}, data), (TZeroRange{-200, 0}));
        QCOMPARE(ZeroScrolledView(100, {100, 300}, data), (TZeroRange{800, 1000}));
        QCOMPARE(ZeroScrollPosition(ZeroScrolledView(73, {0, 100}, data), data), 73);
    }

    void scrollAxisOnlyTowardsData() {
        const TZeroRange data{0, 1000};
        TZeroRange axis{0, 1000};
        QVERIFY(!ZeroScrollAxis(axis, 10, data)); // nothing beyond the right edge
        QVERIFY(!ZeroScrollAxis(axis, -10, data));
        axis = {100, 200};
        QVERIFY(ZeroScrollAxis(axis, 10, data));
        QCOMPARE(axis, (TZeroRange{110, 210}));
        QVERIFY(ZeroScrollAxis(axis, -10, data));
        QCOMPARE(axis, (TZeroRange{100, 200}));
        QVERIFY(!ZeroScrollAxis(axis, 0, data));
        // The left axis of the chart, 0..3.2 over columns of 0..3: it never moves.
        TZeroRange left{0, 3.2};
        QVERIFY(!ZeroScrollAxis(left, 0.32, {0, 3}));
        QVERIFY(!ZeroScrollAxis(left, -0.032, {0, 3}));
    }

    void fileName() {
        QCOMPARE(ZeroFileName(QDateTime(QDate(2024, 3, 5), QTime(14, 15, 2))),
                 QStringLiteral("Zero20240305_141502.txt"));
    }

    void fileRoundTripByteForByte() {
        TZeroArray zero = Sample(13);
        zero[255] = -2147483647 - 1;
        zero[254] = 2147483647;
        const QString path = Path("Zero.txt");
        QString error;
        QVERIFY2(SaveZeroFile(path, zero, &error), qPrintable(error));
        const QByteArray bytes = ReadAll(path);
        QCOMPARE(bytes, ZeroFileBytes(zero));
        QVERIFY(bytes.startsWith("13\r\n100\r\n184\r\n100\r\n107\r\n"));
        QVERIFY(bytes.endsWith("\r\n2147483647\r\n-2147483648\r\n"));
        QCOMPARE(bytes.count("\r\n"), 256);
        QCOMPARE(bytes.count('\n'), 256);
        const TZeroLoad load = LoadZeroFile(path);
        QVERIFY(load.Ok);
        QCOMPARE(load.Array, zero);
        // Written again, the same bytes.
        QVERIFY(SaveZeroFile(path, load.Array));
        QCOMPARE(ReadAll(path), bytes);
    }

    void fileForms_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("CR LF") << Counting("\r\n");
        QTest::newRow("LF") << Counting("\n");
        QTest::newRow("CR") << Counting("\r");
        QTest::newRow("no end on the last line") << Counting("\r\n").chopped(2);
        QTest::newRow("BOM") << "\xEF\xBB\xBF" + Counting("\r\n");
        QTest::newRow("trailing blanks") << Counting(" \t \r\n");
        QTest::newRow("leading blanks") << Counting("\r\n  ").chopped(2);
        QTest::newRow("blank lines at the end") << Counting("\r\n") + "\r\n  \r\n\n";
    }
    void fileForms() {
        QFETCH(QByteArray, text);
        const TZeroLoad load = ParseZeroFile(text);
        QVERIFY2(load.Ok, qPrintable(load.Error));
        for (int i = 0; i < 256; ++i)
            QCOMPARE(load.Array[i], i + 1);
    }

    // A line that is not a decimal integer leaves its entry at the cleared value and still
    // counts: the following lines go to their own entries.
    void nonIntegerLines() {
        QList<QByteArray> lines = Counting("\n").split('\n');
        lines.removeLast();
        lines[0] = "abc";  // entry 1: cleared 253
        lines[2] = "";     // entry 3: cleared 65535
        lines[4] = "1.5";  // entry 5: cleared 0
        lines[5] = "0x10"; // not decimal
        lines[6] = "99999999999";
        lines[7] = "-";
        lines[8] = "+42";
        lines[9] = "-17";
        lines[255] = "12 34";
        const TZeroLoad load = ParseZeroFile(lines.join("\r\n") + "\r\n");
        QVERIFY2(load.Ok, qPrintable(load.Error));
        QCOMPARE(load.Array[0], 253);
        QCOMPARE(load.Array[1], 2);
        QCOMPARE(load.Array[2], 65535);
        QCOMPARE(load.Array[3], 4);
        QCOMPARE(load.Array[4], 0);
        QCOMPARE(load.Array[5], 0);
        QCOMPARE(load.Array[6], 0);
        QCOMPARE(load.Array[7], 0);
        QCOMPARE(load.Array[8], 42);
        QCOMPARE(load.Array[9], -17);
        QCOMPARE(load.Array[10], 11);
        QCOMPARE(load.Array[255], 65535);
    }

    // Line i goes to entry i as far as the file goes; the entries after it keep their cleared
    // values, and lines after the 256th are not read.
    void otherLineCounts_data() {
        QTest::addColumn<int>("lines");
        QTest::newRow("10") << 10;
        QTest::newRow("255") << 255;
        QTest::newRow("257") << 257;
        QTest::newRow("0") << 0;
    }
    void otherLineCounts() {
        QFETCH(int, lines);
        const TZeroLoad load = ParseZeroFile(Counting("\r\n", lines));
        QVERIFY2(load.Ok, qPrintable(load.Error));
        const TZeroArray cleared = ClearedZeroArray();
        for (int i = 0; i < 256; ++i)
            QCOMPARE(load.Array[i], i < lines ? i + 1 : cleared[i]);
    }

    // A file saved from a gauge starts with a comment line (plant number and time): it moves no
    // entry, reads back as it was written, and the same file without it (older ones) loads alike.
    void commentLine() {
        const TZeroArray zero = Sample(40);
        const QDateTime at(QDate(2026, 12, 10), QTime(14, 5, 9));
        const QByteArray comment = ZeroFileComment(1001, at);
        QCOMPARE(QString::fromUtf8(comment),
                 QStringLiteral("# Заводской номер 1001, 10.12.2026 14:05:09"));
        const QString path = Path("Zero.txt");
        QString error;
        QVERIFY2(SaveZeroFile(path, zero, &error, comment), qPrintable(error));
        QCOMPARE(ReadAll(path), comment + "\r\n" + ZeroFileBytes(zero));
        TZeroLoad load = LoadZeroFile(path);
        QVERIFY2(load.Ok, qPrintable(load.Error));
        QCOMPARE(load.Array, zero);
        QCOMPARE(load.Comment, comment);
        const TZeroFileNote note = ParseZeroFileComment(load.Comment);
        QCOMPARE(note.PlantNumber, std::optional<quint16>(1001));
        QCOMPARE(note.Time, at);
        // Without it, as older files are.
        QVERIFY(SaveZeroFile(path, zero));
        load = LoadZeroFile(path);
        QVERIFY(load.Ok);
        QCOMPARE(load.Array, zero);
        QVERIFY(load.Comment.isEmpty());
        // No plant number known: said so, and the time still read.
        const TZeroFileNote unknown = ParseZeroFileComment(ZeroFileComment(0, at));
        QVERIFY(!unknown.PlantNumber);
        QCOMPARE(unknown.Time, at);
        // A comment anywhere (after a BOM, between entries) moves nothing either.
        load = ParseZeroFile("\xEF\xBB\xBF  # one\r\n1\r\n#two\n2\r\n");
        QCOMPARE(load.Array[0], 1);
        QCOMPARE(load.Array[1], 2);
        QCOMPARE(load.Comment, QByteArray("# one"));
    }

    // Comment lines the program did not write: loaded without a crash, the entries intact, the
    // note empty; a comment that would break the file is not written.
    void oddCommentLines_data() {
        QTest::addColumn<QByteArray>("comment");
        QTest::addColumn<int>("plant"); // 0: none
        QTest::addColumn<bool>("time");
        QTest::newRow("no number")
            << QByteArray("# Заводской номер , 10.12.2026 14:05:09") << 0 << true;
        QTest::newRow("number too large")
            << QByteArray("# Заводской номер 70000, 1.1.2026") << 0 << false;
        QTest::newRow("no comma") << QByteArray("# Заводской номер 12") << 0 << false;
        QTest::newRow("bad time") << QByteArray("# Заводской номер 12, 99.99.9999 99:99:99") << 12
                                  << false;
        QTest::newRow("other text") << QByteArray("#") << 0 << false;
        QTest::newRow("NUL") << QByteArray("# \0\0 12", 8) << 0 << false;
        QTest::newRow("not UTF-8")
            << QByteArray("# \xFF\xFE\xC3 12, 10.12.2026 14:05:09") << 0 << false;
        QTest::newRow("huge") << "# Заводской номер 5, " + QByteArray(40000, 'x') << 0 << false;
    }
    void oddCommentLines() {
        QFETCH(QByteArray, comment);
        QFETCH(int, plant);
        QFETCH(bool, time);
        const TZeroArray zero = Sample(20);
        const QString path = Path("odd.txt");
        QVERIFY(WriteAll(path, comment + "\r\n" + ZeroFileBytes(zero)));
        const TZeroLoad load = LoadZeroFile(path);
        QVERIFY2(load.Ok, qPrintable(load.Error));
        QCOMPARE(load.Array, zero);
        QVERIFY(load.Comment.size() <= ZeroCommentMaxBytes);
        if (comment.size() > ZeroCommentMaxBytes || comment.contains('\0'))
            QVERIFY(load.Comment.isEmpty());
        const TZeroFileNote note = ParseZeroFileComment(load.Comment);
        QCOMPARE(note.PlantNumber.value_or(0), plant);
        QCOMPARE(note.Time.isValid(), time);
        // Written back: refused unless it is one short comment line.
        QString error;
        const bool fits = comment.size() <= ZeroCommentMaxBytes && !comment.contains('\r') &&
                          !comment.contains('\n');
        QCOMPARE(SaveZeroFile(Path("back.txt"), zero, &error, comment), fits);
        QVERIFY(!SaveZeroFile(Path("two.txt"), zero, &error, "# a\r\n5"));
        QVERIFY(!SaveZeroFile(Path("plain.txt"), zero, &error, "5"));
        QVERIFY(!QFile::exists(Path("two.txt")) && !QFile::exists(Path("plain.txt")));
    }

    void largeFileRefusedUnread() {
        const QString path = Path("big.txt");
        QVERIFY(WriteAll(path, Counting("\r\n") + QByteArray(ZeroFileMaxBytes, ' ')));
        TZeroLoad load = LoadZeroFile(path);
        QVERIFY(!load.Ok);
        QVERIFY2(load.Error.contains("64"), qPrintable(load.Error));
        // Right at the limit it is still read (blanks at the end of the last line).
        QByteArray text = Counting("\r\n").chopped(2);
        text += QByteArray(ZeroFileMaxBytes - text.size(), ' ');
        QVERIFY(WriteAll(path, text));
        load = LoadZeroFile(path);
        QVERIFY2(load.Ok, qPrintable(load.Error));
    }

    void missingOrOddFileRefused() {
        QVERIFY(!LoadZeroFile(Path("none.txt")).Ok);
        QVERIFY(!LoadZeroFile(Path("none.txt")).Error.isEmpty());
        QVERIFY(QDir(Dirs->Prog()).mkdir("dir.txt"));
        QVERIFY(!LoadZeroFile(Path("dir.txt")).Ok);
    }

    // A save that fails halfway (the disk full) leaves the former file as it was.
    void failedSaveKeepsFormerFile() {
        const QString path = Path("Zero.txt");
        const QByteArray former = ZeroFileBytes(Sample(3));
        QVERIFY(WriteAll(path, former));
        {
            TFileSizeLimit limit(100);
            if (!limit.Active())
                QSKIP("the file size limit cannot be set here");
            QString error;
            QVERIFY(!SaveZeroFile(path, Sample(200), &error));
            QVERIFY(!error.isEmpty());
        }
        QCOMPARE(ReadAll(path), former);
        QCOMPARE(QDir(Dirs->Prog()).entryList(QDir::Files), QStringList{"Zero.txt"});
        // A folder that does not exist: refused, nothing made.
        QVERIFY(!SaveZeroFile(Path("no/Zero.txt"), Sample(3)));
        QVERIFY(!QDir(Path("no")).exists());
    }
};

QTEST_GUILESS_MAIN(TestZeroArray)
#include "tst_zeroarray.moc"
