// Echo snapshots without a window: the difference of a snapshot against a reference, a recording
// folder read back in time order (a second snapshot of the same second after the first, files
// that do not load passed over with their reason), and snapshots taken from the simulator on a
// pseudo-terminal: the files appear, their times rise, the loader reads them back, a silent
// gauge or a folder that cannot be made leaves no file.

#include "Ulmar.h"
#include "tests/support/LinkRig.h"
#include "tests/support/TestDirs.h"
#include "uZeroArray.h"
#include "uZeroSnapshots.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

namespace {

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// N positions from 100 in steps of 7, minimum and maximum the first and the last.
TZeroArray Sample(int n) {
    TZeroArray zero = ClearedZeroArray();
    zero[0] = n;
    for (int k = 0; k < n; ++k)
        zero[3 + k] = 100 + 7 * k;
    zero[1] = n ? zero[3] : 0;
    zero[2] = n ? zero[3 + n - 1] : 65535;
    return zero;
}

void Fault(TSimServer& sim, TSimFault fault, double probability) {
    TSimFaultRule rule;
    rule.Probability = probability;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

} // namespace

class TestZeroSnapshots : public QObject {
    Q_OBJECT
    std::unique_ptr<TTestDirs> Dirs;
    QString Folder() const { return Dirs->Prog() + "/Echo/rec"; }

private slots:
    void init() { Dirs = std::make_unique<TTestDirs>(); }
    void cleanup() { Dirs.reset(); }

    void differenceAgainstReference() {
        const TZeroArray reference = Sample(40);
        TZeroDifference d = CompareZeroArrays(reference, reference);
        QVERIFY(d.Same());
        QCOMPARE(ZeroDifferenceSummary(d), QStringLiteral("Без изменений"));
        QVERIFY(ZeroDifferenceLines(d).isEmpty());
        // Entries after N + 3 hold nothing of the array: not compared.
        TZeroArray tail = reference;
        tail[200] = 5;
        QVERIFY(CompareZeroArrays(reference, tail).Same());

        // Position 7 shifted by -12, position 20 by +3: both listed, the largest by its size.
        TZeroArray shifted = reference;
        shifted[2 + 7] -= 12;
        shifted[2 + 20] += 3;
        d = CompareZeroArrays(reference, shifted);
        QVERIFY(!d.Same());
        QVERIFY(d.Header.empty());
        QCOMPARE(d.Changed(), 2);
        QCOMPARE(d.Positions[0].Position, 7);
        QCOMPARE(d.Positions[0].Shift(), qint64(-12));
        QCOMPARE(d.LargestShift, qint64(-12));
        QCOMPARE(d.LargestAt, 7);
        QCOMPARE(ZeroDifferenceSummary(d),
                 QStringLiteral("изменено позиций: 2, наибольший сдвиг -12 (позиция 7)"));
        QCOMPARE(ZeroDifferenceLines(d), (QStringList{"7) 142 → 130 (-12)", "20) 233 → 236 (+3)"}));

        // One position more, the maximum with it: the header entries and the new position.
        const TZeroArray longer = Sample(41);
        d = CompareZeroArrays(reference, longer);
        QCOMPARE(d.Header.size(), std::size_t(2));
        QCOMPARE(d.Header[0].Entry, 1);
        QCOMPARE(d.Header[1].Entry, 3);
        QCOMPARE(d.Changed(), 1);
        QVERIFY(!d.Positions[0].Was);
        QCOMPARE(d.LargestAt, 0); // no position on both sides moved
        QCOMPARE(ZeroDifferenceSummary(d),
                 QStringLiteral("Кол-во: 40 → 41; Max: 373 → 380; изменено позиций: 1"));
        QCOMPARE(ZeroDifferenceLines(CompareZeroArrays(longer, reference)).last(),
                 QStringLiteral("41) 380 → нет"));
        // Values far apart (a cleared array against a full one) do not overflow.
        TZeroArray extreme = reference;
        extreme[3] = -2147483647 - 1;
        TZeroArray other = reference;
        other[3] = 2147483647;
        QCOMPARE(CompareZeroArrays(extreme, other).LargestShift, qint64(4294967295LL));
    }

    void snapshotNamesNeverReplaceAFile() {
        QVERIFY(QDir().mkpath(Folder()));
        const QDateTime at(QDate(2026, 12, 10), QTime(14, 15, 2));
        QCOMPARE(ZeroSnapshotPath(Folder(), at), Folder() + "/Zero20261210_141502.txt");
        QVERIFY(WriteAll(Folder() + "/Zero20261210_141502.txt", "1\r\n"));
        QCOMPARE(ZeroSnapshotPath(Folder(), at), Folder() + "/Zero20261210_141502_2.txt");
    }

    // The loader orders by time, then by the number of a second snapshot within the same second
    // (_10 after _2); files that are no snapshot are not looked at; bad ones are named.
    void recordingReadBackInOrder() {
        QVERIFY(QDir().mkpath(Folder()));
        const QDateTime t1(QDate(2026, 12, 10), QTime(9, 0, 0));
        const QDateTime t2 = t1.addSecs(5);
        struct TFile {
            const char* Name;
            int Count;
            QDateTime Time;
        };
        const TFile files[] = {{"Zero20261210_090005_10.txt", 4, t2},
                               {"Zero20261210_090005.txt", 2, t2},
                               {"Zero20261210_090005_2.txt", 3, t2},
                               {"Zero20261210_090000.txt", 1, t1}};
        for (const TFile& f : files)
            QVERIFY(WriteAll(Folder() + "/" + f.Name, ZeroFileComment(1001, f.Time) + "\r\n" +
                                                          ZeroFileBytes(Sample(f.Count))));
        // An older file without the comment line: the name gives its time.
        QVERIFY(WriteAll(Folder() + "/Zero20261210_085959.txt", ZeroFileBytes(Sample(9))));
        // Not snapshots: left alone. Bad ones: passed over with the reason.
        QVERIFY(WriteAll(Folder() + "/notes.txt", "x"));
        QVERIFY(WriteAll(Folder() + "/Zero20261399_999999.txt", ZeroFileBytes(Sample(5))));
        QVERIFY(WriteAll(Folder() + "/Zero20261210_090001.txt",
                         ZeroFileBytes(Sample(5)) + QByteArray(ZeroFileMaxBytes, ' ')));
        QVERIFY(QDir().mkpath(Folder() + "/Zero20261210_090002.txt"));

        const TZeroRecording r = LoadZeroRecording(Folder());
        QCOMPARE(r.Snapshots.size(), std::size_t(5));
        QList<int> counts;
        for (const TZeroSnapshot& s : r.Snapshots)
            counts << s.Array[0];
        QCOMPARE(counts, (QList<int>{9, 1, 2, 3, 4}));
        QCOMPARE(r.Snapshots[1].Time, t1);
        QCOMPARE(r.Snapshots[1].PlantNumber, std::optional<quint16>(1001));
        QVERIFY(!r.Snapshots[0].PlantNumber);
        QCOMPARE(r.Snapshots[0].Time, t1.addSecs(-1));
        QCOMPARE(r.Snapshots[4].File, Folder() + "/Zero20261210_090005_10.txt");
        QCOMPARE(r.Skipped.size(), 2); // the folder named like a snapshot is no file
        QVERIFY2(r.Skipped.join('\n').contains("Zero20261399_999999.txt: "),
                 qPrintable(r.Skipped.join('\n')));
        QVERIFY2(r.Skipped.join('\n').contains("64"), qPrintable(r.Skipped.join('\n')));

        const TZeroRecording none = LoadZeroRecording(Folder() + "/none");
        QVERIFY(none.Snapshots.empty());
        QCOMPARE(none.Skipped.size(), 1);
    }

    // Three snapshots from the simulator, its array changed between them: three files with the
    // plant number, times that rise, read back as taken.
    void recordFromTheGauge() {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TZeroRecordUi ui;
        TCommandOptions options;
        options.RetryUntilAccepted = true;
        TGaugeCommands commands(rig.Link.get(), ui, options);
        QCOMPARE(commands.KnownPlantNumber(), std::optional<quint16>(1001));
        std::vector<TZeroSnapshot> taken;
        for (int n : {13, 13, 20}) {
            rig.Sim->WithSim([n, &taken](TGaugeSim& s) {
                s.Gauges[0].FillZeroArray(n);
                s.Gauges[0].ZeroArray[3 + 1] += quint16(taken.size()); // position 2 moves
            });
            const TZeroTake take = TakeZeroSnapshot(commands, ui, Folder());
            QVERIFY2(take.Ok, qPrintable(take.Error));
            QVERIFY(QFile::exists(take.Snapshot.File));
            QCOMPARE(take.Snapshot.Array[0], n);
            QCOMPARE(take.Snapshot.Array, rig.Ulmar->ZeroArray);
            if (!taken.empty())
                QVERIFY(take.Snapshot.Time > taken.back().Time);
            taken.push_back(take.Snapshot);
        }
        QCOMPARE(QDir(Folder()).entryList(QDir::Files).size(), 3);
        const TZeroRecording r = LoadZeroRecording(Folder());
        QVERIFY(r.Skipped.isEmpty());
        QCOMPARE(r.Snapshots.size(), std::size_t(3));
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(r.Snapshots[i].Array, taken[i].Array);
            QCOMPARE(r.Snapshots[i].File, taken[i].File);
            QCOMPARE(r.Snapshots[i].PlantNumber, std::optional<quint16>(1001));
        }
        const TZeroDifference moved = CompareZeroArrays(taken[0].Array, taken[1].Array);
        QCOMPARE(moved.Changed(), 1);
        QCOMPARE(moved.LargestAt, 2);
        QCOMPARE(moved.LargestShift, qint64(1));

        // A silent gauge: no snapshot, no file, said so.
        Fault(*rig.Sim, TSimFault::Silence, 1.0);
        const TZeroTake silent = TakeZeroSnapshot(commands, ui, Folder());
        QVERIFY(!silent.Ok && silent.NoAnswer);
        QVERIFY(!silent.Error.isEmpty());
        QCOMPARE(QDir(Folder()).entryList(QDir::Files).size(), 3);
        Fault(*rig.Sim, TSimFault::Silence, 0.0);

        // A folder that cannot be made (a file of that name): refused, not a missing answer.
        QVERIFY(WriteAll(Dirs->Prog() + "/blocked", "x"));
        const TZeroTake blocked = TakeZeroSnapshot(commands, ui, Dirs->Prog() + "/blocked/rec");
        QVERIFY(!blocked.Ok && !blocked.NoAnswer);
        QVERIFY2(blocked.Error.contains("blocked"), qPrintable(blocked.Error));
    }
};

QTEST_GUILESS_MAIN(TestZeroSnapshots)
#include "tst_zerosnapshots.moc"
