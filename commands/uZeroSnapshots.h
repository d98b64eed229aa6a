#pragma once
// Echo snapshots: the gauge's zero array read again and again and kept with the time of each
// read. A recording is a folder of ordinary zero-array files, one per snapshot, each named
// "Zero" + yyyyMMdd_HHmmss (+ "_2", "_3", ... for a second snapshot within the same second) +
// ".txt" and starting with the plant number and time comment line, so that the zero array
// window and any older program load each one alone. A snapshot compared with a reference array
// gives what moved.
//
// The difference of a snapshot against a reference, as the zero array holds it:
// - the header: the count N (entry 1), the minimum (entry 2) and the maximum (entry 3), each
//   named when it differs;
// - the positions 1..max(N reference, N snapshot) (N as ZeroCount): a position on both sides that
//   differs is a shift (snapshot − reference); one on a single side appeared or vanished;
//   entries after N + 3 hold nothing of the array and are not compared;
// - the summary: the positions that differ (shifts, appeared, vanished) and the largest shift in
//   absolute value with its position. Equal arrays have no difference at all.
// Pure functions and file I/O, any thread; TakeZeroSnapshot runs on the user-interface thread, as
// TGaugeCommands.

#include "uGaugeCommands.h"
#include "uZeroArray.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

struct TZeroSnapshot {
    QDateTime Time;
    TZeroArray Array{};
    QString File;                       // the file it is kept in; empty while kept nowhere
    std::optional<quint16> PlantNumber; // from the file's comment line, when it names one
};

// A snapshot's file in `folder`: ZeroFileName(at), or "…_N.txt" (N = 2, 3, …) when a file of
// that name exists already; never an existing path.
QString ZeroSnapshotPath(const QString& folder, const QDateTime& at);

// A recording folder read back: its snapshots in time order (a second snapshot of the same
// second after the first), and the files passed over with the reason, "name: reason".
struct TZeroRecording {
    std::vector<TZeroSnapshot> Snapshots;
    QStringList Skipped;
};
// Reads every snapshot file of the folder (names as above; other files are not looked at).
// A file that does not load is passed over with its reason; a missing folder gives an empty
// recording with the reason in Skipped.
TZeroRecording LoadZeroRecording(const QString& folder);

// One position that differs: k (1-based), the reference's and the snapshot's value (none on the
// side that has no such position).
struct TZeroPositionChange {
    int Position = 0;
    std::optional<qint32> Was;
    std::optional<qint32> Now;
    // Now − Was when both are there, else 0.
    qint64 Shift() const { return Was && Now ? qint64(*Now) - qint64(*Was) : 0; }
};
// A header entry that differs: 1 count, 2 minimum, 3 maximum.
struct TZeroEntryChange {
    int Entry = 0;
    qint32 Was = 0;
    qint32 Now = 0;
};
struct TZeroDifference {
    std::vector<TZeroEntryChange> Header;
    std::vector<TZeroPositionChange> Positions;
    // The largest |shift| of a position on both sides, and that position; 0 and 0 when none.
    qint64 LargestShift = 0;
    int LargestAt = 0;
    bool Same() const { return Header.empty() && Positions.empty(); }
    int Changed() const { return int(Positions.size()); }
};
TZeroDifference CompareZeroArrays(const TZeroArray& reference, const TZeroArray& snapshot);
// One line: "Без изменений", or "Кол-во: 40 → 41; изменено позиций: 3, наибольший сдвиг +12
// (позиция 7)"; numbers in decimal without separators.
QString ZeroDifferenceSummary(const TZeroDifference& difference);
// The header entries and the positions that differ, one a line: "Кол-во: 40 → 41",
// "7) 1200 → 1212 (+12)", "41) нет → 5000", "12) 800 → нет".
QStringList ZeroDifferenceLines(const TZeroDifference& difference);

// The face of the command layer a recording runs behind: no boxes; a missing block ends the
// read (a snapshot is whole or not taken); what would have been asked or warned is kept.
class TZeroRecordUi : public TQuietCommandUi {
public:
    bool Ask(const QString& text) override {
        TQuietCommandUi::Ask(text);
        return true;
    }
};

// What one snapshot came to.
struct TZeroTake {
    bool Ok = false;
    bool Stopped = false;  // the program is closing: the read ended between two blocks
    bool NoAnswer = false; // the gauge did not give the whole array (the reason in Error)
    TZeroSnapshot Snapshot;
    QString Error;
};
// Reads the zero array through commands.ReadZeroArray (into the device object, as the main
// window's read does) and keeps it in `folder` (made when missing) as a snapshot file with the
// gauge's plant number and the time of the read. `ui` must be the face `commands` was made
// with: its warnings and questions tell a missing block. No file when the array did not come
// whole or the write failed.
TZeroTake TakeZeroSnapshot(TGaugeCommands& commands, TZeroRecordUi& ui, const QString& folder);
