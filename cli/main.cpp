// ulmar-cli: the gauge from a script. The same device link, settings files, parameter files and
// command sequences as the window program, with plain Russian text or JSON on stdout and an exit
// code that says how it went (see CliUsage and the README).

#include "archive/uBDE.h"
#include "archive/uDataCtrl.h"
#include "cli/uArchiveExport.h"
#include "cli/uCliArgs.h"
#include "cli/uCliDecode.h"
#include "cli/uCliOutFile.h"
#include "cli/uCliScan.h"
#include "cli/uCliSession.h"
#include "cli/uCliSignals.h"
#include "cli/uCliTare.h"
#include "cli/uCliZero.h"
#include "devicelink/Ulmar.h"
#include "devicelink/uDataPlaces.h"
#include "devicelink/uProgramLocale.h"
#include "devicelink/uSmallFile.h"
#include "service/uAbout.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

namespace {

int ArchiveExportCommand(const TCliRequest& r, TCliOutput& out) {
    if (!IsArchiveTableName(r.Table)) {
        out.Failure(QStringLiteral("archive export: имя таблицы — буквы, цифры и _: ") + r.Table);
        return ExitBadInput;
    }
    const auto from = ParseExportTime(r.From, false);
    const auto to = ParseExportTime(r.To, true);
    if (!from || !to) {
        out.Failure(QStringLiteral("archive export: время как 2024-03-05 или "
                                   "2024-03-05 10:00:00.000: ") +
                    (from ? r.To : r.From));
        return ExitBadInput;
    }
    if (*from > *to) {
        out.Failure(QStringLiteral("archive export: --from позже --to"));
        return ExitBadInput;
    }
    LoadArchiveSettings();
    // No archive to read is not an empty range: a wrong --program-dir must not pass unnoticed.
    const QString refusal = ArchiveRootRefusal();
    if (!refusal.isEmpty()) {
        out.Failure(QStringLiteral("archive export: ") + refusal);
        return ExitBadInput;
    }
    const TArchiveExportResult result = ExportArchive(r.Table, {*from, *to}, r.Json, out.Out());
    // The rows already written stay; the unreadable days are named on stderr.
    for (const QString& file : result.Unreadable)
        std::fprintf(stderr, "ulmar-cli: не читается %s\n",
                     QDir::toNativeSeparators(file).toLocal8Bit().constData());
    if (result.Interrupted)
        return CliReportInterrupt(out, QStringLiteral("archive export"));
    if (result.WriteFailed)
        return ExitLine; // the reason is given as the command ends
    return result.Unreadable.isEmpty() ? ExitDone : ExitBadInput;
}

// The version and the folders this command line would use; nothing is created.
int VersionCommand(const TCliRequest& r, TCliOutput& out) {
    const TDataPlaces places =
        ChooseDataPlaces(DataPlaceInputsFromProcess(r.ProgramDir, r.WorkDir, r.UserDirs));
    if (out.Json()) {
        out.Object({{"ok", true},
                    {"version", ProgramVersionText()},
                    {"programDir", places.ProgramDir},
                    {"workDir", places.WorkDir},
                    {"logDir", places.LogDir},
                    {"perUser", places.PerUser}});
        return ExitDone;
    }
    out.Line(QStringLiteral("ulmar-cli ") + ProgramVersionText());
    for (const QString& line : DataPlaceLines(places))
        out.Line(line);
    return ExitDone;
}

int Run(const TCliRequest& r, TCliOutput& out) {
    if (r.Command == TCliCommand::Help) {
        out.Out() << CliUsage();
        out.Out().flush();
        return ExitDone;
    }
    if (r.Command == TCliCommand::Version)
        return VersionCommand(r, out);
    // A settings file that is not read (no regular file, too large, unreadable) is named.
    WatchRefusedSettingsFiles([](const QString& text) {
        std::fprintf(stderr, "ulmar-cli: %s\n", text.toLocal8Bit().constData());
    });
    // The program's and the working directory: the program's own, or the user's folders.
    for (const QString& problem : ApplyDataPlaces(r.ProgramDir, r.WorkDir, r.UserDirs))
        std::fprintf(stderr, "ulmar-cli: %s\n", problem.toLocal8Bit().constData());
    if (r.Command == TCliCommand::ArchiveExport)
        return ArchiveExportCommand(r, out);
    if (r.Command == TCliCommand::Decode)
        return CliDecode(r, out);

    // Bad arguments and files are refused before the port opens.
    TUlmar wanted;
    QString error;
    const bool fileCommand =
        r.Command == TCliCommand::ParamsWrite || r.Command == TCliCommand::ParamsDiff;
    if (fileCommand && !CliLoadParamFile(r, wanted, error)) {
        out.Failure(error);
        return ExitBadInput;
    }
    QStringList tareLines;
    if (r.Command == TCliCommand::TareWrite && !CliLoadTareFile(r, tareLines, error)) {
        out.Failure(error);
        return ExitBadInput;
    }
    error = CliOutRefusal(r);
    if (!error.isEmpty()) {
        out.Failure(error);
        return ExitBadInput;
    }
    if (r.Command == TCliCommand::Raw) {
        error = CliRawRefusal(r);
        if (!error.isEmpty()) {
            out.Failure(error);
            return ExitBadInput;
        }
    }

    TCliSession session(r);
    if (!session.Open()) {
        out.Failure(session.OpenError(), {{"result", -1}, {"errorText", session.OpenError()}});
        return ExitLine;
    }
    if (CliInterrupted())
        return CliReportInterrupt(out); // nothing sent
    switch (r.Command) {
    case TCliCommand::Read:
        return CliRead(r, session, out);
    case TCliCommand::Watch:
        return CliWatch(r, session, out);
    case TCliCommand::ParamsRead:
        return CliParamsRead(r, session, out);
    case TCliCommand::ParamsWrite:
        return CliParamsWrite(r, session, out, wanted);
    case TCliCommand::ParamsDiff:
        return CliParamsDiff(r, session, out, wanted);
    case TCliCommand::Signature:
        return CliSignature(r, session, out);
    case TCliCommand::Raw:
        return CliRaw(r, session, out);
    case TCliCommand::Scan:
        return CliScan(r, session, out);
    case TCliCommand::TareRead:
        return CliTareRead(r, session, out);
    case TCliCommand::TareWrite:
        return CliTareWrite(r, session, out, tareLines);
    case TCliCommand::ZeroRead:
        return CliZeroRead(r, session, out);
    case TCliCommand::Monitor:
        return CliMonitor(r, session, out);
    default:
        return ExitBadInput;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    UseProgramLocale();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const TCliParse parsed = ParseCliArguments(arguments);
    TCliOutput out(parsed.Request ? parsed.Request->Json : arguments.contains("--json"));
    if (!parsed.Request) {
        out.Failure(parsed.Error + QStringLiteral(" (ulmar-cli --help)"));
        return out.Finish(ExitBadInput);
    }
    InstallCliSignals();
    int exit = Run(*parsed.Request, out);
    // A command that ran to its end or stopped on its own terms was interrupted all the same.
    if (CliInterrupted() && exit != CliInterruptExit())
        exit = CliReportInterrupt(out);
    return out.Finish(exit);
}
