#include "uCliPorts.h"

#include "uPortList.h"
#include "uTransmitter.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cstdio>
#include <exception>

namespace {

QJsonValue TextOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

int CliPorts(const TCliRequest& request, TCliOutput& out) {
    // The port in force as a gauge command would take it: --port, else the settings file's,
    // else the default. The settings file is only read.
    TTransmitter transmitter;
    try {
        transmitter.LoadSettings();
    } catch (const std::exception&) {
        // Named on stderr by the refused-file watch; the default stands.
    }
    const QString given = request.Port.trimmed();
    if (!given.isEmpty()) {
        TTransmitterSettings s = transmitter.Settings();
        s.Port = given;
        transmitter.SetSettings(s);
        transmitter.NotePortChosen();
    }
    const QString port = transmitter.Settings().Port;
    const QString note = transmitter.DefaultPortNote();
    if (!note.isEmpty())
        std::fprintf(stderr, "ulmar-cli: %s\n", note.toLocal8Bit().constData());

    const std::vector<TPortEntry> ports = ListSerialPorts(PortRootsFromEnvironment(), port);
    if (out.Json()) {
        QJsonArray list;
        for (const TPortEntry& e : ports)
            list.append(QJsonObject{{"device", e.Device},
                                    {"byId", TextOrNull(e.ById)},
                                    {"maker", TextOrNull(e.Maker)},
                                    {"model", TextOrNull(e.Model)},
                                    {"serial", TextOrNull(e.Serial)},
                                    {"interface", TextOrNull(e.Interface)},
                                    {"state", PortStateKey(e.State)},
                                    {"reason", TextOrNull(e.Reason)},
                                    {"configured", e.Names(port)}});
        out.Object({{"schemaVersion", 1},
                    {"ok", true},
                    {"error", QJsonValue()},
                    {"port", port},
                    {"portIsDefault", !transmitter.PortConfigured()},
                    {"ports", list}});
        return ExitDone;
    }
    if (ports.empty())
        out.Line(QStringLiteral("последовательные порты не найдены"));
    for (const TPortEntry& e : ports) {
        QStringList parts{e.Device};
        if (!e.AdapterText().isEmpty())
            parts << e.AdapterText();
        if (!e.ById.isEmpty())
            parts << e.ById;
        parts << (e.Reason.isEmpty() ? PortStateText(e.State)
                                     : PortStateText(e.State) + QStringLiteral(": ") + e.Reason);
        if (e.Names(port))
            parts << QStringLiteral("(в настройках)");
        out.Line(parts.join(QStringLiteral("  ")));
    }
    return ExitDone;
}
