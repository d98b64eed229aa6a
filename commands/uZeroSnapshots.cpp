#include "uZeroSnapshots.h"
#include "Ulmar.h"
#include "uCommandTable.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstdlib>

namespace {

const QString TimeFormat = QStringLiteral("yyyyMMdd_HHmmss");

// "Zero" + time + optional "_N" + ".txt": the time and N (1 without it).
const QRegularExpression& SnapshotName() {
    static const QRegularExpression name(
        QStringLiteral("^Zero(\\d{8}_\\d{6})(?:_(\\d{1,6}))?\\.txt$"));
    return name;
}

QString Number(qint64 value) {
    return QString::number(value);
}

QString SignedNumber(qint64 value) {
    return (value > 0 ? QStringLiteral("+") : QString()) + QString::number(value);
}

QString Side(const std::optional<qint32>& value) {
    return value ? Number(*value) : QStringLiteral("нет");
}

QString HeaderCaption(int entry) {
    switch (entry) {
    case 1:
        return QStringLiteral("Кол-во:");
    case 2:
        return QStringLiteral("Min:");
    default:
        return QStringLiteral("Max:");
    }
}

} // namespace

QString ZeroSnapshotPath(const QString& folder, const QDateTime& at) {
    const QDir dir(folder);
    const QString name = ZeroFileName(at);
    QString path = dir.filePath(name);
    const QString stem = name.chopped(4);
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = dir.filePath(stem + QLatin1Char('_') + QString::number(n) + QStringLiteral(".txt"));
    return path;
}

TZeroRecording LoadZeroRecording(const QString& folder) {
    TZeroRecording recording;
    const QDir dir(folder);
    if (!dir.exists()) {
        recording.Skipped << QDir::toNativeSeparators(folder) + QStringLiteral(": нет папки");
        return recording;
    }
    struct TFound {
        TZeroSnapshot Snapshot;
        int Sequence = 1;
    };
    std::vector<TFound> found;
    const QStringList names = dir.entryList({QStringLiteral("Zero*.txt")},
                                            QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        const QRegularExpressionMatch match = SnapshotName().match(name);
        if (!match.hasMatch())
            continue;
        const QDateTime named = QDateTime::fromString(match.captured(1), TimeFormat);
        if (!named.isValid()) {
            recording.Skipped << name + QStringLiteral(": время в имени файла неверно");
            continue;
        }
        const TZeroLoad load = LoadZeroFile(dir.filePath(name));
        if (!load.Ok) {
            recording.Skipped << name + QStringLiteral(": ") + load.Error;
            continue;
        }
        TFound f;
        f.Snapshot.Array = load.Array;
        f.Snapshot.File = dir.filePath(name);
        const TZeroFileNote note = ParseZeroFileComment(load.Comment);
        f.Snapshot.PlantNumber = note.PlantNumber;
        // The comment's time is the read's; the name gives it as well for a file without one.
        f.Snapshot.Time = note.Time.isValid() ? note.Time : named;
        f.Sequence = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
        found.push_back(std::move(f));
    }
    std::stable_sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
        if (a.Snapshot.Time != b.Snapshot.Time)
            return a.Snapshot.Time < b.Snapshot.Time;
        return a.Sequence < b.Sequence;
    });
    for (TFound& f : found)
        recording.Snapshots.push_back(std::move(f.Snapshot));
    return recording;
}

TZeroDifference CompareZeroArrays(const TZeroArray& reference, const TZeroArray& snapshot) {
    TZeroDifference d;
    for (int entry = 1; entry <= 3; ++entry)
        if (reference[entry - 1] != snapshot[entry - 1])
            d.Header.push_back({entry, reference[entry - 1], snapshot[entry - 1]});
    const int was = ZeroCount(reference);
    const int now = ZeroCount(snapshot);
    for (int k = 1; k <= std::max(was, now); ++k) {
        TZeroPositionChange c;
        c.Position = k;
        if (k <= was)
            c.Was = reference[2 + k];
        if (k <= now)
            c.Now = snapshot[2 + k];
        if (c.Was == c.Now)
            continue;
        const qint64 shift = std::llabs(c.Shift());
        if (shift > std::llabs(d.LargestShift)) {
            d.LargestShift = c.Shift();
            d.LargestAt = k;
        }
        d.Positions.push_back(c);
    }
    return d;
}

QString ZeroDifferenceSummary(const TZeroDifference& d) {
    if (d.Same())
        return QStringLiteral("Без изменений");
    QStringList parts;
    for (const TZeroEntryChange& e : d.Header)
        parts << HeaderCaption(e.Entry) + QLatin1Char(' ') + Number(e.Was) + QStringLiteral(" → ") +
                     Number(e.Now);
    QString positions = QStringLiteral("изменено позиций: ") + Number(d.Changed());
    if (d.LargestAt > 0)
        positions += QStringLiteral(", наибольший сдвиг ") + SignedNumber(d.LargestShift) +
                     QStringLiteral(" (позиция ") + Number(d.LargestAt) + QLatin1Char(')');
    parts << positions;
    return parts.join(QStringLiteral("; "));
}

QStringList ZeroDifferenceLines(const TZeroDifference& d) {
    QStringList lines;
    for (const TZeroEntryChange& e : d.Header)
        lines << HeaderCaption(e.Entry) + QLatin1Char(' ') + Number(e.Was) + QStringLiteral(" → ") +
                     Number(e.Now);
    for (const TZeroPositionChange& c : d.Positions) {
        QString line = Number(c.Position) + QStringLiteral(") ") + Side(c.Was) +
                       QStringLiteral(" → ") + Side(c.Now);
        if (c.Was && c.Now)
            line += QStringLiteral(" (") + SignedNumber(c.Shift()) + QLatin1Char(')');
        lines << line;
    }
    return lines;
}

TZeroTake TakeZeroSnapshot(TGaugeCommands& commands, TZeroRecordUi& ui, const QString& folder) {
    TZeroTake take;
    ui.Warnings.clear();
    ui.Questions.clear();
    const TZeroReadEnd end = commands.ReadZeroArray();
    const QDateTime at = QDateTime::currentDateTime();
    if (end == TZeroReadEnd::Closing) {
        take.Stopped = true;
        take.Error = QStringLiteral("Чтение массива прервано");
        return take;
    }
    // The stop command unanswered leaves the array whole; any other warning or question is a
    // block (or the start) that did not come.
    const QString stopFailure = TGaugeCommands::FailureText(CommandHint(TCommandId::InitReadStop));
    QStringList missing = ui.Questions;
    for (const QString& warning : std::as_const(ui.Warnings))
        if (warning != stopFailure)
            missing << warning;
    if (end != TZeroReadEnd::Done || !missing.isEmpty()) {
        take.NoAnswer = true;
        take.Error = missing.isEmpty()
                         ? TGaugeCommands::FailureText(CommandHint(TCommandId::InitReadStart))
                         : missing.join(QStringLiteral("; "));
        take.Error.replace(QLatin1Char('\n'), QStringLiteral(" "));
        return take;
    }
    quint16 plant = 0;
    if (!commands.Edit([&](TUlmar& u) {
            take.Snapshot.Array = u.ZeroArray;
            plant = u.PlantNumber;
        })) {
        take.Error = QStringLiteral("Массив нулей не взят из прибора");
        return take;
    }
    take.Snapshot.Time = at;
    if (plant != 0)
        take.Snapshot.PlantNumber = plant;
    if (!QDir().mkpath(folder)) {
        take.Error = QStringLiteral("Не удалось создать папку ") + QDir::toNativeSeparators(folder);
        return take;
    }
    const QString path = ZeroSnapshotPath(folder, at);
    QString error;
    if (!SaveZeroFile(path, take.Snapshot.Array, &error, ZeroFileComment(plant, at))) {
        take.Error = QStringLiteral("Не удалось сохранить файл ") + QDir::toNativeSeparators(path) +
                     QStringLiteral(": ") + error;
        return take;
    }
    take.Snapshot.File = path;
    take.Ok = true;
    return take;
}
