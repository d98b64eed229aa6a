// ulmar-cli: the gauge from a script. The same device link, settings files, parameter files and
// command sequences as the window program, with plain Russian text or JSON on stdout and an exit
// code that says how it went (see CliUsage and the README).

#include "Ulmar.h"
#include "uAbout.h"
#include "uArchiveExport.h"
#include "uBDE.h"
#include "uCliArgs.h"
#include "uCliDecode.h"
#include "uCliFind.h"
#include "uCliFormat.h"
#include "uCliOutFile.h"
#include "uCliPorts.h"
#include "uCliRecord.h"
#include "uCliRecordPdf.h"
#include "uCliScan.h"
#include "uCliSession.h"
#include "uCliSignals.h"
#include "uCliTare.h"
#include "uCliZero.h"
#include "uDataCtrl.h"
#include "uDataPlaces.h"
#include "uPlantShipper.h"
#include "uProgramLocale.h"
#include "uServiceSession.h"
#include "uSmallFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

QString KnownTableNames() {
    QStringList names;
    for (const TArchiveTable& table : ArchiveTables())
        names << table.Name;
    return names.join(QStringLiteral(", "));
}

int ArchiveExportCommand(const TCliRequest& r, TCliOutput& out) {
    if (!IsArchiveTableName(r.Table)) {
        out.Failure(CliError::BadArgument,
                    QStringLiteral("archive export: имя таблицы — буквы, цифры и _: ") + r.Table);
        return ExitBadInput;
    }
    // A name the archive never fills would export nothing without a word.
    if (!FindArchiveTable(r.Table)) {
        out.Failure(CliError::UnknownTable,
                    QStringLiteral("archive export: нет такой таблицы архива: ") + r.Table +
                        QStringLiteral("; таблицы: ") + KnownTableNames());
        return ExitBadInput;
    }
    const auto from = ParseExportTime(r.From, false);
    const auto to = ParseExportTime(r.To, true);
    if (!from || !to) {
        out.Failure(CliError::BadArgument,
                    QStringLiteral("archive export: время как 2024-03-05 или "
                                   "2024-03-05 10:00:00.000: ") +
                        (from ? r.To : r.From));
        return ExitBadInput;
    }
    if (*from > *to) {
        out.Failure(CliError::BadArgument, QStringLiteral("archive export: --from позже --to"));
        return ExitBadInput;
    }
    LoadArchiveSettings();
    if (r.FromServer) {
        TPlantServerSettings settings;
        settings.Load(PlantSettingsFile());
        const TArchiveExportResult result = ExportPlantArchive(
            settings, r.Table, {*from, *to}, *r.PlantNumber, r.Json, r.Captions, out.Out());
        if (result.Interrupted)
            return CliReportInterrupt(out, QStringLiteral("archive export"));
        if (result.WriteFailed)
            return ExitLine;
        if (!result.ServerError.isEmpty()) {
            out.Failure(CliError::ServerUnavailable,
                        QStringLiteral("archive export: ") + result.ServerError);
            return ExitLine;
        }
        return ExitDone;
    }
    // No archive to read is not an empty range: a wrong --program-dir must not pass unnoticed.
    const QString refusal = ArchiveRootRefusal();
    if (!refusal.isEmpty()) {
        out.Failure(CliError::BadFile, QStringLiteral("archive export: ") + refusal);
        return ExitBadInput;
    }
    const TArchiveExportResult result =
        ExportArchive(r.Table, {*from, *to}, r.Json, r.Captions, out.Out(), r.PlantNumber);
    if (result.Interrupted)
        return CliReportInterrupt(out, QStringLiteral("archive export"));
    if (result.WriteFailed)
        return ExitLine; // the reason is given as the command ends
    if (result.Unreadable.isEmpty())
        return ExitDone;
    // The rows already written stay; the unreadable days are named.
    QStringList files;
    for (const QString& file : result.Unreadable)
        files << QDir::toNativeSeparators(file);
    if (out.Json())
        out.Failure(CliError::BadFile,
                    QStringLiteral("не читается ") + files.join(QStringLiteral(", ")),
                    {{"unreadable", QJsonArray::fromStringList(files)}});
    else
        for (const QString& file : files)
            std::fprintf(stderr, "ulmar-cli: не читается %s\n", file.toLocal8Bit().constData());
    return ExitBadInput;
}

// The archive's tables and the days each is present on; nothing is created.
int ArchiveListCommand(const TCliRequest& r, TCliOutput& out) {
    LoadArchiveSettings();
    const QString refusal = ArchiveRootRefusal();
    if (!refusal.isEmpty()) {
        out.Failure(CliError::BadFile, QStringLiteral("archive list: ") + refusal);
        return ExitBadInput;
    }
    const std::vector<TArchiveTableDays> tables = ListArchiveDays();
    if (r.Json) {
        QJsonArray list;
        for (const TArchiveTableDays& t : tables) {
            QJsonArray days;
            for (const QDate& day : t.Days)
                days.append(day.toString(Qt::ISODate));
            list.append(
                QJsonObject{{"name", t.Table.Name}, {"caption", t.Table.Caption}, {"days", days}});
        }
        out.Object({{"tables", list}});
        return ExitDone;
    }
    for (const TArchiveTableDays& t : tables) {
        QStringList days;
        for (const QDate& day : t.Days)
            days << day.toString(Qt::ISODate);
        out.Line(t.Table.Name + QStringLiteral(" (") + t.Table.Caption + QStringLiteral("): ") +
                 (days.isEmpty() ? QStringLiteral("нет данных")
                                 : QStringLiteral("дней: ") + QString::number(days.size()) +
                                       QStringLiteral(" — ") + days.join(QStringLiteral(", "))));
    }
    return ExitDone;
}

// Ships once what the plant archive's server has not confirmed yet, with the cursor the window
// program keeps (a window program shipping at the same time sends nothing twice: the server
// stores a row once). Stops between batches at a stop signal.
int ArchiveShipCommand(const TCliRequest& r, TCliOutput& out) {
    LoadArchiveSettings();
    const QString refusal = ArchiveRootRefusal();
    if (!refusal.isEmpty()) {
        out.Failure(CliError::BadFile, QStringLiteral("archive ship: ") + refusal);
        return ExitBadInput;
    }
    TPlantServerSettings settings;
    settings.Load(PlantSettingsFile());
    if (!settings.Enabled) {
        out.Failure(CliError::BadFile,
                    QStringLiteral("archive ship: архив завода выключен: раздел [PlantArchive], "
                                   "Enabled=1 в ") +
                        QDir::toNativeSeparators(PlantSettingsFile()));
        return ExitBadInput;
    }
    TPlantShipOptions options;
    options.ArchiveRoot = ArchiveRoot();
    TPlantShipWork work(settings, options);
    // The server is asked even when nothing waits: a script learns that it is not there.
    const bool done = work.Store().Connect() && work.Pass([] { return CliInterrupted(); });
    const QString error = work.Error().isEmpty() ? work.Store().LastError() : work.Error();
    const TPlantShipCounts& c = work.Counts();
    const QJsonObject counts{{"station", work.Station()},
                             {"shipped", c.Shipped},
                             {"inserted", c.Inserted},
                             {"skipped", c.Skipped},
                             {"pending", c.Pending},
                             {"batches", c.Batches},
                             {"lastRowTime", c.LastRowUtcMs != 0
                                                 ? QJsonValue(IsoTimeTextMs(c.LastRowUtcMs))
                                                 : QJsonValue(QJsonValue::Null)}};
    const QString summary =
        QStringLiteral("отправлено записей: %1 (новых на сервере: %2), пропущено без прибора: %3, "
                       "ждут отправки: %4")
            .arg(c.Shipped)
            .arg(c.Inserted)
            .arg(c.Skipped)
            .arg(c.Pending);
    if (CliInterrupted())
        return CliReportInterrupt(out, QStringLiteral("archive ship"), summary, counts);
    if (!done) {
        // What was shipped before the failure stays shipped and is said. A cursor file that
        // cannot be written is a file fault of this station, not the server's.
        const char* code = work.CursorFailed() ? CliError::BadFile : CliError::ServerUnavailable;
        if (r.Json)
            out.Result(counts, code, error);
        else
            out.Failure(code, error + QStringLiteral("; ") + summary);
        return work.CursorFailed() ? ExitBadInput : ExitLine;
    }
    if (r.Json) {
        out.Object(counts);
        return ExitDone;
    }
    out.Line(QStringLiteral("Станция %1: ").arg(work.Station()) + summary);
    return ExitDone;
}

// The version and the folders this command line would use; nothing is created.
int VersionCommand(const TCliRequest& r, TCliOutput& out) {
    const TDataPlaces places =
        ChooseDataPlaces(DataPlaceInputsFromProcess(r.ProgramDir, r.WorkDir, r.UserDirs));
    if (out.Json()) {
        out.Object({{"version", ProgramVersionText()},
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
    if (r.Command == TCliCommand::NoCommand) {
        std::fputs(CliUsage().toLocal8Bit().constData(), stderr);
        out.Failure(CliError::BadArgument, QStringLiteral("не задана команда"));
        return ExitBadInput;
    }
    // Nobody could answer the question: the input is not a terminal, or it carries the file.
    if (r.Command == TCliCommand::TareWrite && !r.Yes &&
        (CliStandardStream(r.File) || !::isatty(STDIN_FILENO))) {
        out.Failure(CliError::NeedsYes,
                    QStringLiteral("tare write: нужно --yes (ответить на вопрос некому: ") +
                        (CliStandardStream(r.File)
                             ? QStringLiteral("стандартный ввод занят файлом)")
                             : QStringLiteral("стандартный ввод — не терминал)")));
        return ExitBadInput;
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
    if (r.Command == TCliCommand::ArchiveList)
        return ArchiveListCommand(r, out);
    if (r.Command == TCliCommand::ArchiveShip)
        return ArchiveShipCommand(r, out);
    if (r.Command == TCliCommand::Decode)
        return CliDecode(r, out);
    if (r.Command == TCliCommand::Ports)
        return CliPorts(r, out);
    if (r.Command == TCliCommand::RecordShow)
        return CliRecordShow(r, out);
    if (r.Command == TCliCommand::RecordPdf)
        return CliRecordPdf(r, out);

    // Bad arguments and files are refused before the port opens.
    TUlmar wanted;
    QString error;
    const bool fileCommand =
        r.Command == TCliCommand::ParamsWrite || r.Command == TCliCommand::ParamsDiff;
    if (fileCommand && !CliLoadParamFile(r, wanted, error)) {
        if (CliInterrupted()) // while standard input was read
            return CliReportInterrupt(out);
        out.Failure(CliError::BadFile, error);
        return ExitBadInput;
    }
    QStringList tareLines;
    if (r.Command == TCliCommand::TareWrite && !CliLoadTareFile(r, tareLines, error)) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("tare write"));
        out.Failure(CliError::BadFile, error);
        return ExitBadInput;
    }
    // tare compare without --name: the table the file holds, named here.
    TCliRequest compare = r;
    if (r.Command == TCliCommand::TareCompare && !CliLoadTareCompare(compare, tareLines, error)) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("tare compare"));
        out.Failure(CliError::BadFile, error);
        return ExitBadInput;
    }
    error = CliOutRefusal(r);
    if (!error.isEmpty()) {
        out.Failure(CliError::BadArgument, error);
        return ExitBadInput;
    }
    if (r.Command == TCliCommand::Raw) {
        error = CliRawRefusal(r);
        if (!error.isEmpty()) {
            out.Failure(CliError::BadArgument, error);
            return ExitBadInput;
        }
    }

    TCliSession session(r);
    if (!session.Open()) {
        out.Failure(CliError::PortNotOpened, session.OpenError());
        return ExitLine;
    }
    if (CliInterrupted())
        return CliReportInterrupt(out); // nothing sent
    const bool recordCommand = r.Command == TCliCommand::RecordStart ||
                               r.Command == TCliCommand::RecordResume ||
                               r.Command == TCliCommand::RecordFinish;
    // An open service session of this gauge keeps every exchange in its own request log.
    const std::unique_ptr<TServiceLogTap> sessionLog =
        recordCommand ? nullptr : CliAttachOpenSession(r, session, out);
    // The objects of read, watch and monitor name the gauge.
    TCliGauge gauge;
    // With --addresses each gauge of the line is named by its own signature.
    if ((r.Command == TCliCommand::Read || r.Command == TCliCommand::Watch ||
         r.Command == TCliCommand::Monitor) &&
        r.Addresses.empty())
        gauge = CliIdentifyGauge(r, session);
    if (CliInterrupted())
        return CliReportInterrupt(out);
    switch (r.Command) {
    case TCliCommand::Read:
        return CliRead(r, session, out, gauge);
    case TCliCommand::Watch:
        return CliWatch(r, session, out, gauge);
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
    case TCliCommand::Find:
        return CliFind(r, session, out);
    case TCliCommand::TareRead:
        return CliTareRead(r, session, out);
    case TCliCommand::TareWrite:
        return CliTareWrite(r, session, out, tareLines);
    case TCliCommand::TareCompare:
        return CliTareCompare(compare, session, out, tareLines);
    case TCliCommand::ZeroRead:
        return CliZeroRead(r, session, out);
    case TCliCommand::ZeroWatch:
        return CliZeroWatch(r, session, out);
    case TCliCommand::Monitor:
        return CliMonitor(r, session, out, gauge);
    case TCliCommand::RecordStart:
        return CliRecordStart(r, session, out);
    case TCliCommand::RecordResume:
        return CliRecordResume(r, session, out);
    case TCliCommand::RecordFinish:
        return CliRecordFinish(r, session, out);
    default:
        return ExitBadInput;
    }
}

// The application object: a QGuiApplication for the commands that draw pages (fonts need one),
// with the offscreen platform where no display is named so that a headless machine draws too;
// a QCoreApplication for every other command. The command is told by the parser itself, so
// that options anywhere between its words ("record --json pdf DIR") make no difference.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char* argv[]) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const TCliParse parsed = ParseCliArguments(arguments);
    const bool draws = parsed.Request && parsed.Request->Command == TCliCommand::RecordPdf;
    if (!draws)
        return std::make_unique<QCoreApplication>(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int main(int argc, char* argv[]) {
    const std::unique_ptr<QCoreApplication> app = MakeApplication(argc, argv);
    UseProgramLocale();
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    const TCliParse parsed = ParseCliArguments(arguments);
    TCliOutput out(parsed.Request ? parsed.Request->Json : arguments.contains("--json"));
    if (!parsed.Request) {
        out.Failure(CliError::BadArgument, parsed.Error + QStringLiteral(" (ulmar-cli --help)"));
        return out.Finish(ExitBadInput);
    }
    out.SetQuiet(parsed.Request->Quiet);
    InstallCliSignals();
    const TCliRequest& r = *parsed.Request;
    int exit = Run(r, out);
    // A command that ran to its end or stopped on its own terms was interrupted all the same.
    // A command of one JSON object that printed it says so on stderr only.
    const bool stream = r.Command == TCliCommand::Watch || r.Command == TCliCommand::Monitor ||
                        r.Command == TCliCommand::Decode || r.Command == TCliCommand::ArchiveExport;
    if (CliInterrupted() && exit != CliInterruptExit()) {
        if (out.Json() && !stream && out.ObjectsPrinted() > 0) {
            out.ErrorLine(QStringLiteral("прервано"));
            exit = CliInterruptExit();
        } else {
            exit = CliReportInterrupt(out);
        }
    }
    return out.Finish(exit);
}
