#include "uCliZero.h"
#include "Ulmar.h"
#include "uCliOutFile.h"
#include "uCliSignals.h"
#include "uZeroArray.h"

#include <QDir>
#include <QJsonArray>

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
