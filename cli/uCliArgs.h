#pragma once
// The command line of ulmar-cli: global options, the command and its own options, checked
// before anything is opened. Pure: no I/O. Any thread.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Exit codes.
enum TCliExit : int {
    ExitDone = 0,        // done
    ExitDifferences = 1, // done, with differences or refused parameters
    ExitLine = 2,        // the port cannot be opened, or the gauge does not answer
    ExitBadInput = 3     // a bad argument or file
};

enum class TCliCommand {
    Help,
    Read,
    Watch,
    ParamsRead,
    ParamsWrite,
    ParamsDiff,
    Signature,
    Raw,
    ArchiveExport,
    ArchiveList,
    ArchiveShip, // ships the rows pending for the plant archive's server once
    Scan,
    Find, // the gauge finder over the rate list
    TareRead,
    TareWrite,
    TareCompare, // a table of a tare file against the gauge's table
    ZeroRead,
    ZeroWatch, // zero-array snapshots into a folder at an interval
    Decode,
    Monitor,
    Ports,   // the serial ports and their states; no port is opened
    Version, // --version: the version and the folders in force
    // The service session of a gauge: start (as found), resume, finish (as left), show.
    RecordStart,
    RecordResume,
    RecordFinish,
    RecordShow,
    RecordPdf, // the PDF of a kept service session; no port is opened
    NoCommand  // nothing to do: the usage on stderr, exit code 3
};

struct TCliRequest {
    TCliCommand Command = TCliCommand::Help;
    // Global options.
    QString Port;
    std::optional<int> Baud;
    std::optional<int> Address;
    QString WorkDir;
    QString ProgramDir;
    bool UserDirs = false; // --user-dirs: the per-user folders, as an installed program
    bool Json = false;
    bool Trace = false; // each exchange on stderr
    bool Quiet = false; // -q: no progress, notes or summaries on stderr (errors still are)
    // Command options.
    bool Kalist = false;
    // watch, monitor --addresses: the gauges polled in turn (empty: the one gauge of --address).
    std::vector<quint8> Addresses;
    std::optional<int> PeriodMs;
    std::optional<int> Count;
    bool Factory = false;
    // params write / diff, tare write / compare, decode: the file; params read, tare read, zero
    // read:
    // --out. "-" is standard input or output (CliStandardStream).
    QString File;
    bool Force = false; // --out may replace an existing regular file
    int Code = -1;
    QString Value; // raw --value
    QString Table;
    QString From;
    QString To;
    // archive export: only the rows of the gauge with this plant number; from the plant archive
    // on the server (--source server) instead of the local day files.
    std::optional<int> PlantNumber;
    bool FromServer = false;
    int ScanFrom = 0; // scan, find: the system address range
    int ScanTo = 254;
    // zero watch: the seconds between two snapshots and the recording folder (--every, --out).
    std::optional<int> EverySeconds;
    QString OutDir;
    QString Name;          // tare write, tare compare: the table
    bool Yes = false;      // tare write: no confirmation asked
    bool Csv = false;      // decode, monitor, archive export: CSV rows
    bool Captions = false; // --captions: the CSV header in Russian captions
    QString Site;          // record start: typed by the technician
    QString Tag;
    QString Technician;
    QString Folder; // record pdf: the service session's folder
};

// "-" in place of a file: standard input, or standard output for --out.
inline bool CliStandardStream(const QString& file) {
    return file == QLatin1String("-");
}

// The parsed request, or the reason it is refused (exit code 3).
struct TCliParse {
    std::optional<TCliRequest> Request;
    QString Error;
};

// Parses the arguments after the program name.
TCliParse ParseCliArguments(const QStringList& arguments);

// The text of --help.
QString CliUsage();
