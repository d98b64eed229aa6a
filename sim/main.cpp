// ulmar-sim: serves virtual gauges (and a КАЛИСТ-1 current meter) on a pseudo-terminal,
// prints the port name on stdout and runs until SIGINT or SIGTERM.

#include "service/uAbout.h"
#include "sim/uSimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <optional>

namespace {

struct TFaultOption {
    const char* Name;
    TSimFault Fault;
    const char* Help;
};

const TFaultOption FaultOptions[] = {
    {"fault-silence", TSimFault::Silence, "No answer."},
    {"fault-checksum", TSimFault::BadChecksum, "Wrong checksum."},
    {"fault-cut", TSimFault::Cut, "Answer cut short (value = bytes kept, default half)."},
    {"fault-pause", TSimFault::Pause,
     "Answer paused (value = ms, default 100; at = bytes before the pause, default half)."},
    {"fault-error", TSimFault::ErrorAnswer, "Error answer 0xFA (value = error code)."},
    {"fault-device", TSimFault::DeviceFault, "Device fault byte in readings (value = fault)."},
    {"fault-command", TSimFault::UnknownCommand,
     "Unknown command byte in the answer (value = byte, default 0x30)."},
    {"fault-locked", TSimFault::LockedWrite,
     "A write acknowledged but not stored, as by a locked gauge (value = command byte * 256 + "
     "parameter index, e.g. 0xB302 for dist.1, 0xA600 for the tare levels; prob=1: every such "
     "write)."},
    {"fault-address", TSimFault::WrongAddress,
     "Answer from another address (value = address byte, default the gauge's + 1)."},
    {"fault-tare", TSimFault::TareStoreOther,
     "A tare table write acknowledged but one point stored altered (value = point 1..32, "
     "default 1)."},
    {"fault-trailing", TSimFault::TrailingBytes,
     "Bytes after the answer: its own from the start, repeated (value = how many, default 3; "
     "at = ms of silence before them)."},
};

// "N" (the next N answers) or "count=N,prob=P,value=V,at=K".
std::optional<TSimFaultRule> ParseFault(const QString& text) {
    TSimFaultRule rule;
    bool ok = true;
    const int plain = text.toInt(&ok);
    if (ok) {
        rule.Count = plain;
        return plain >= 0 ? std::optional(rule) : std::nullopt;
    }
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        const QString key = part.section('=', 0, 0).trimmed().toLower();
        const QString value = part.section('=', 1).trimmed();
        ok = true;
        if (key == "count")
            rule.Count = value.toInt(&ok);
        else if (key == "prob")
            rule.Probability = value.toDouble(&ok);
        else if (key == "value")
            rule.Value = value.toInt(&ok, 0);
        else if (key == "at")
            rule.Position = value.toInt(&ok);
        else
            ok = false;
        if (!ok)
            return std::nullopt;
    }
    if (rule.Count < 0 || rule.Probability < 0 || rule.Probability > 1)
        return std::nullopt;
    return rule;
}

std::optional<std::vector<int>> ParseList(const QString& text, int low, int high) {
    std::vector<int> values;
    for (const QString& part : text.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int v = part.trimmed().toInt(&ok, 0);
        if (!ok || v < low || v > high)
            return std::nullopt;
        values.push_back(v);
    }
    return values;
}

int Fail(const QString& text) {
    std::fprintf(stderr, "ulmar-sim: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(ProgramVersionText());
    QCommandLineParser parser;
    parser.setApplicationDescription("Virtual УЛМАР gauges and КАЛИСТ-1 on a pseudo-terminal.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption gaugesOpt("gauges", "Number of gauges (default 1).", "N", "1");
    const QCommandLineOption addressOpt("address", "System addresses, comma-separated.", "A");
    const QCommandLineOption plantOpt("plant", "Plant numbers, comma-separated.", "P");
    const QCommandLineOption kalistOpt("kalist", "Serve the КАЛИСТ-1 current meter too.");
    const QCommandLineOption delayOpt("delay", "Answer delay in ms (default 5).", "ms", "5");
    const QCommandLineOption levelOpt("level", "Fixed product level in mm.", "mm");
    const QCommandLineOption zeroOpt("zero", "Values in the zero array (default 13).", "N");
    const QCommandLineOption linkOpt("link", "Symbolic link to the pseudo-terminal.", "path");
    const QCommandLineOption seedOpt("seed", "Seed of the fault probabilities.", "n", "1");
    const QCommandLineOption lineRateOpt(
        "line-rate", "Send answers at line speed: 11 bits a character at the baud rate that the "
                     "client set on the port (or --baud).");
    const QCommandLineOption baudOpt("baud",
                                     "Line speed of --line-rate in baud, whatever the port "
                                     "is set to (implies --line-rate).",
                                     "rate");
    parser.addOptions({gaugesOpt, addressOpt, plantOpt, kalistOpt, delayOpt, levelOpt, zeroOpt,
                       linkOpt, seedOpt, lineRateOpt, baudOpt});
    std::vector<QCommandLineOption> faultOpts;
    for (const auto& f : FaultOptions) {
        faultOpts.emplace_back(QString::fromLatin1(f.Name),
                               QString::fromLatin1(f.Help) +
                                   " RULE: N (next N answers) or count=N,prob=P,value=V,at=K.",
                               "RULE");
        parser.addOption(faultOpts.back());
    }
    parser.process(app);

    bool ok = false;
    const int gauges = parser.value(gaugesOpt).toInt(&ok);
    if (!ok || gauges < 1 || gauges > 254)
        return Fail("--gauges must be 1 to 254");
    auto sim = std::make_unique<TGaugeSim>(gauges, parser.value(seedOpt).toUInt());
    if (parser.isSet(addressOpt)) {
        const auto list = ParseList(parser.value(addressOpt), 0, 254);
        if (!list || list->size() > sim->Gauges.size())
            return Fail("--address: up to one address 0 to 254 per gauge");
        for (size_t i = 0; i < list->size(); ++i)
            sim->Gauges[i].Address = static_cast<quint8>((*list)[i]);
    }
    if (parser.isSet(plantOpt)) {
        const auto list = ParseList(parser.value(plantOpt), 0, 65535);
        if (!list || list->size() > sim->Gauges.size())
            return Fail("--plant: up to one plant number 0 to 65535 per gauge");
        for (size_t i = 0; i < list->size(); ++i) {
            sim->Gauges[i].PlantNumber = static_cast<quint16>((*list)[i]);
            sim->Gauges[i].Words[0] = sim->Gauges[i].PlantNumber;
        }
    }
    if (parser.isSet(levelOpt)) {
        const double level = parser.value(levelOpt).toDouble(&ok);
        if (!ok || level < 0)
            return Fail("--level must be a level in mm");
        for (auto& g : sim->Gauges)
            g.SetLevel(level);
    }
    if (parser.isSet(zeroOpt)) {
        const int n = parser.value(zeroOpt).toInt(&ok);
        if (!ok || n < 0 || n > 253)
            return Fail("--zero must be 0 to 253");
        for (auto& g : sim->Gauges)
            g.FillZeroArray(n);
    }
    sim->Kalist.Enabled = parser.isSet(kalistOpt);
    for (size_t i = 0; i < faultOpts.size(); ++i) {
        if (!parser.isSet(faultOpts[i]))
            continue;
        const auto rule = ParseFault(parser.value(faultOpts[i]));
        if (!rule)
            return Fail(QStringLiteral("bad --%1 value").arg(FaultOptions[i].Name));
        sim->SetFault(FaultOptions[i].Fault, *rule);
    }
    const int delay = parser.value(delayOpt).toInt(&ok);
    if (!ok || delay < 0 || delay > 60000)
        return Fail("--delay must be 0 to 60000 ms");
    int lineRate = parser.isSet(lineRateOpt) ? TSimServer::LinePortRate : 0;
    if (parser.isSet(baudOpt)) {
        lineRate = parser.value(baudOpt).toInt(&ok);
        if (!ok || lineRate < 50 || lineRate > 4000000)
            return Fail("--baud must be 50 to 4000000");
    }

    // Block the stop signals before the server thread starts, so that sigwait receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    TSimServer server(std::move(sim));
    server.SetAnswerDelay(delay);
    server.SetLineRate(lineRate);
    QString error;
    if (!server.Start(parser.value(linkOpt), &error))
        return Fail(error);
    std::printf("%s\n", qPrintable(server.PortName()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
