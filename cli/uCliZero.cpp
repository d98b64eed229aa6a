#include "uCliZero.h"
#include "Ulmar.h"
#include "uCliFormat.h"
#include "uCliOutFile.h"
#include "uCliSignals.h"
#include "uZeroArray.h"
#include "uZeroSnapshots.h"

#include <QDir>
#include <QJsonArray>
#include <chrono>
#include <optional>
#include <thread>

namespace {

// Without anyone to ask: a missing block ends the read (a script gets the whole array or
// none), and every question and warning is kept.
class TZeroReadUi : public TQuietCommandUi {
public:
    bool Ask(const QString& text) override {
        TQuietCommandUi::Ask(text);
        return true;
    }
};

// The read's messages on one line each.
QString OneLine(const QStringList& texts) {
    QStringList lines;
    for (const QString& text : texts)
        lines << QString(text).replace(QLatin1Char('\n'), QStringLiteral("; "));
    return lines.join(QStringLiteral(" | "));
}

QJsonArray Numbers(const std::vector<double>& values) {
    QJsonArray array;
    for (double v : values)
        array.append(static_cast<qint64>(v));
    return array;
}

} // namespace

int CliZeroRead(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TUlmar& u = session.Ulmar();
    TZeroReadUi ui;
    TCommandOptions options;
    options.RetryUntilAccepted = true;
    TGaugeCommands commands(&session.Link(), ui, options);
    const TZeroReadEnd end = commands.ReadZeroArray();
    if (end == TZeroReadEnd::Closing || (end != TZeroReadEnd::Done && CliInterrupted()))
        return CliReportInterrupt(out, QStringLiteral("zero read"),
                                  request.File.isEmpty() ? QString()
                                                         : QStringLiteral("файл не записан"));
    if (end != TZeroReadEnd::Done) {
        out.Failure(CliError::NoAnswer, QStringLiteral("zero read: ") + u.ErrorText);
        return ExitLine;
    }
    // A missing block is asked about (a later one) or warned about (the first one).
    const QString stopFailure = TGaugeCommands::FailureText(CommandHint(TCommandId::InitReadStop));
    QStringList missing = ui.Questions;
    QStringList others;
    for (const QString& warning : std::as_const(ui.Warnings))
        (warning == stopFailure ? others : missing) << warning;
    if (!missing.isEmpty()) {
        out.Failure(CliError::NoAnswer, QStringLiteral("zero read: ") + OneLine(missing));
        return ExitLine;
    }

    const TZeroArray zero = u.ZeroArray;
    if (!request.File.isEmpty()) {
        QString error;
        // The file carries the gauge's plant number and the time of the read.
        const QByteArray comment =
            ZeroFileComment(commands.KnownPlantNumber().value_or(0), QDateTime::currentDateTime());
        const auto write = [&zero, &request, &comment](const QString& staged, QString& why) {
            if (SaveZeroFile(staged, zero, &why, comment))
                return true;
            why = QStringLiteral("не удалось записать файл ") +
                  QDir::toNativeSeparators(request.File) + QStringLiteral(": ") + why;
            return false;
        };
        if (!CliWriteOut(request, out, write, error)) {
            out.Failure(CliError::BadFile, error);
            return ExitBadInput;
        }
    }
    if (out.Json()) {
        QJsonArray entries;
        for (qint32 entry : zero)
            entries.append(entry);
        QJsonObject o{{"ok", others.isEmpty()},
                      {"count", ZeroCount(zero)},
                      {"min", zero[1]},
                      {"max", zero[2]},
                      {"positions", Numbers(ZeroPositions(zero))},
                      {"entries", entries},
                      {"file", request.File.isEmpty() ? QJsonValue() : request.File}};
        // The array came whole, but the gauge did not take the end of the read: one object
        // says both.
        out.Result(o, others.isEmpty() ? nullptr : CliError::NoAnswer,
                   QStringLiteral("zero read: ") + OneLine(others));
        return others.isEmpty() ? ExitDone : ExitLine;
    } else if (request.File.isEmpty()) {
        for (const QString& line : ZeroListLines(zero))
            out.Line(line);
    } else if (!CliStandardStream(request.File)) {
        out.Line(QStringLiteral("записан файл ") + QDir::toNativeSeparators(request.File));
    }
    // The array came whole, but the gauge did not take the end of the read.
    if (!others.isEmpty()) {
        out.Failure(CliError::NoAnswer, QStringLiteral("zero read: ") + OneLine(others));
        return ExitLine;
    }
    return ExitDone;
}

int CliZeroWatch(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    using namespace std::chrono;
    TZeroRecordUi ui;
    TCommandOptions options;
    options.RetryUntilAccepted = true;
    TGaugeCommands commands(&session.Link(), ui, options);
    // The plant number for the files' comment line, asked once.
    commands.KnownPlantNumber();
    const auto period = seconds(request.EverySeconds.value_or(1));
    std::optional<TZeroArray> previous;
    int taken = 0;
    int failed = 0;
    for (int round = 0;
         !CliInterrupted() && !out.Failed() && (!request.Count || round < *request.Count);
         ++round) {
        const auto start = steady_clock::now();
        const TZeroTake take = TakeZeroSnapshot(commands, ui, request.OutDir);
        // A read a stop signal ended left no file; one that ended whole is still reported.
        if (take.Stopped || (!take.Ok && CliInterrupted()))
            break;
        const QDateTime at = take.Ok ? take.Snapshot.Time : QDateTime::currentDateTime();
        if (!take.Ok && !take.NoAnswer) {
            // The folder or the file cannot be written: nothing to go on with.
            out.Failure(CliError::BadFile, QStringLiteral("zero watch: ") + take.Error);
            return ExitBadInput;
        }
        if (take.Ok) {
            ++taken;
            const std::optional<TZeroDifference> change =
                previous ? std::optional(CompareZeroArrays(*previous, take.Snapshot.Array))
                         : std::nullopt;
            previous = take.Snapshot.Array;
            const QString file = QDir::toNativeSeparators(take.Snapshot.File);
            if (out.Json())
                out.Object(
                    {{"time", IsoTimeText(at)},
                     {"file", file},
                     {"count", ZeroCount(take.Snapshot.Array)},
                     {"changed", change ? QJsonValue(change->Changed()) : QJsonValue()},
                     {"largestShift", change ? QJsonValue(change->LargestShift) : QJsonValue()},
                     {"summary",
                      change ? QJsonValue(ZeroDifferenceSummary(*change)) : QJsonValue()}});
            else
                out.Line(
                    at.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) + QStringLiteral("  ") +
                    file + QStringLiteral("  Кол-во: ") +
                    QString::number(ZeroCount(take.Snapshot.Array)) +
                    (change ? QStringLiteral("  ") + ZeroDifferenceSummary(*change) : QString()));
        } else {
            ++failed;
            const QString text = QStringLiteral("zero watch: ") + take.Error;
            if (out.Json())
                out.Result({{"ok", false},
                            {"time", IsoTimeText(at)},
                            {"file", QJsonValue()},
                            {"count", QJsonValue()},
                            {"changed", QJsonValue()},
                            {"largestShift", QJsonValue()},
                            {"summary", QJsonValue()}},
                           CliError::NoAnswer, text);
            else
                out.Failure(CliError::NoAnswer, text);
        }
        out.Out().flush();
        if (request.Count && round + 1 >= *request.Count)
            break;
        const auto due = start + period;
        while (!CliInterrupted() && steady_clock::now() < due)
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(milliseconds(20), due - steady_clock::now()));
    }
    if (CliInterrupted()) {
        out.Note(QStringLiteral("снимков: ") + QString::number(taken) +
                 QStringLiteral(", не считано: ") + QString::number(failed));
        return CliReportInterrupt(out, QStringLiteral("zero watch"));
    }
    return failed > 0 ? ExitLine : ExitDone;
}
