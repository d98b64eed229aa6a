// ulmar-sim: serves virtual gauges (and a КАЛИСТ-1 current meter) on a pseudo-terminal,
// prints the port name on stdout and runs until SIGINT or SIGTERM.

#include "uAbout.h"
#include "uSimServer.h"

#include <QCoreApplication>
#include <QHash>
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
    {"fault-silence", TSimFault::Silence, "нет ответа"},
    {"fault-checksum", TSimFault::BadChecksum, "неверная контрольная сумма"},
    {"fault-cut", TSimFault::Cut,
     "ответ обрезан (value — сколько байт остаётся,\n"
     "по умолчанию половина)"},
    {"fault-pause", TSimFault::Pause,
     "пауза внутри ответа (value — мс, по умолчанию 100;\n"
     "at — байт до паузы, по умолчанию половина)"},
    {"fault-error", TSimFault::ErrorAnswer, "ответ об ошибке 0xFA (value — код ошибки)"},
    {"fault-device", TSimFault::DeviceFault,
     "байт неисправности прибора в показаниях\n(value — неисправность)"},
    {"fault-command", TSimFault::UnknownCommand,
     "неизвестный байт команды в ответе\n(value — байт, по умолчанию 0x30)"},
    {"fault-locked", TSimFault::LockedWrite,
     "запись подтверждена, но не сохранена, как у\n"
     "заблокированного прибора (value — байт команды * 256 +\n"
     "номер параметра, например 0xB302 для dist.1, 0xA600 для\n"
     "уровней тарировки; prob=1 — каждая такая запись)"},
    {"fault-address", TSimFault::WrongAddress,
     "ответ с другого адреса (value — байт адреса,\n"
     "по умолчанию адрес прибора + 1)"},
    {"fault-tare", TSimFault::TareStoreOther,
     "запись тарировочной таблицы подтверждена, но одна\n"
     "точка сохранена изменённой (value — точка 1..32,\n"
     "по умолчанию 1)"},
    {"fault-trailing", TSimFault::TrailingBytes,
     "байты после ответа: его же байты с начала, по кругу\n"
     "(value — сколько, по умолчанию 3; at — мс тишины\n"
     "перед ними)"},
};

// The options that take a value; the others are switches.
const QStringList ValueOptions = {"--gauges", "--address", "--plant", "--delay", "--level",
                                  "--zero",   "--link",    "--seed",  "--baud",  "--only-rate"};
const QStringList Switches = {"--kalist", "--line-rate"};

QString Usage() {
    QList<TUsageOption> options = {
        {QStringLiteral("--gauges N"), QStringLiteral("число приборов (по умолчанию 1)")},
        {QStringLiteral("--address A"), QStringLiteral("системные адреса через запятую")},
        {QStringLiteral("--plant P"), QStringLiteral("заводские номера через запятую")},
        {QStringLiteral("--kalist"), QStringLiteral("имитировать и измеритель тока КАЛИСТ-1")},
        {QStringLiteral("--delay MS"), QStringLiteral("задержка ответа, мс (по умолчанию 5)")},
        {QStringLiteral("--level MM"), QStringLiteral("постоянный уровень продукта, мм")},
        {QStringLiteral("--zero N"), QStringLiteral("значений в массиве нулей (по умолчанию 13)")},
        {QStringLiteral("--link PATH"), QStringLiteral("символическая ссылка на псевдотерминал")},
        {QStringLiteral("--seed N"),
         QStringLiteral("начальное число для вероятностей сбоев\n(по умолчанию 1)")},
        {QStringLiteral("--line-rate"),
         QStringLiteral("передавать ответы со скоростью линии: 11 бит на\n"
                        "символ при скорости, установленной клиентом на порту\n"
                        "(или --baud)")},
        {QStringLiteral("--baud RATE"),
         QStringLiteral("скорость линии для --line-rate, бод, какой бы ни\n"
                        "была скорость порта (включает --line-rate)")},
        {QStringLiteral("--only-rate RATE"),
         QStringLiteral("отвечать, только когда клиент установил на порту\n"
                        "эту скорость, бод (прибор с заданной скоростью)")},
    };
    for (const auto& f : FaultOptions)
        options.append(
            {QStringLiteral("--%1 RULE").arg(QLatin1String(f.Name)), QString::fromUtf8(f.Help)});
    options << HelpUsageOption() << VersionUsageOption(QStringLiteral("версия"));
    return UsageText(
        QStringLiteral("ulmar-sim [ПАРАМЕТРЫ]"),
        QStringLiteral("Виртуальные уровнемеры УЛМАР и КАЛИСТ-1 на псевдотерминале."), options,
        QStringLiteral("RULE сбоя: N (следующие N ответов) или count=N,prob=P,value=V,at=K.\n"
                       "Имя псевдотерминала выводится на стандартный вывод; программа работает "
                       "до SIGINT\nили SIGTERM. Неверный параметр: код завершения 2."));
}

struct TSimArgs {
    QHash<QString, QString> Given; // option name with "--", its value (empty for a switch)
    bool Help = false;
    bool Version = false;
    QString Error;
};

// "--name value" or "--name=value" for the options with a value.
TSimArgs ParseArgs(const QStringList& args) {
    TSimArgs r;
    // The first refusal is said; -h and -V further on are still seen.
    const auto refuse = [&r](const QString& error) {
        if (r.Error.isEmpty())
            r.Error = error;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            r.Help = true;
            continue;
        }
        if (a == QLatin1String("-V") || a == QLatin1String("--version")) {
            r.Version = true;
            continue;
        }
        const qsizetype eq = a.startsWith(QLatin1String("--")) ? a.indexOf(QLatin1Char('=')) : -1;
        const QString name = eq < 0 ? a : a.left(eq);
        bool fault = false;
        for (const auto& f : FaultOptions)
            fault = fault || name == QLatin1String("--") + QLatin1String(f.Name);
        if (Switches.contains(name)) {
            if (eq >= 0)
                refuse(QStringLiteral("у ") + name + QStringLiteral(" нет значения"));
            r.Given.insert(name, {});
        } else if (fault || ValueOptions.contains(name)) {
            if (eq >= 0)
                r.Given.insert(name, a.mid(eq + 1));
            else if (i + 1 < args.size())
                r.Given.insert(name, args.at(++i));
            else
                refuse(QStringLiteral("нет значения у ") + name);
        } else {
            refuse(QStringLiteral("неизвестный параметр ") + name);
        }
    }
    return r;
}

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
    return ExitBadArguments;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const TSimArgs args = ParseArgs(QCoreApplication::arguments());
    if (args.Help) {
        std::fputs(Usage().toUtf8().constData(), stdout);
        return 0;
    }
    if (!args.Error.isEmpty()) {
        std::fprintf(stderr, "ulmar-sim: %s\nСправка: ulmar-sim --help\n",
                     args.Error.toLocal8Bit().constData());
        return ExitBadArguments;
    }
    if (args.Version) {
        std::printf("%s\n", VersionLine(QStringLiteral("ulmar-sim")).toUtf8().constData());
        return 0;
    }
    const auto isSet = [&args](const char* name) {
        return args.Given.contains(QLatin1String("--") + QLatin1String(name));
    };
    const auto value = [&args](const char* name, const char* fallback = "") {
        return args.Given.value(QLatin1String("--") + QLatin1String(name),
                                QString::fromLatin1(fallback));
    };

    bool ok = false;
    const int gauges = value("gauges", "1").toInt(&ok);
    if (!ok || gauges < 1 || gauges > 254)
        return Fail("--gauges must be 1 to 254");
    auto sim = std::make_unique<TGaugeSim>(gauges, value("seed", "1").toUInt());
    if (isSet("address")) {
        const auto list = ParseList(value("address"), 0, 254);
        if (!list || list->size() > sim->Gauges.size())
            return Fail("--address: up to one address 0 to 254 per gauge");
        for (size_t i = 0; i < list->size(); ++i)
            sim->Gauges[i].Address = static_cast<quint8>((*list)[i]);
    }
    if (isSet("plant")) {
        const auto list = ParseList(value("plant"), 0, 65535);
        if (!list || list->size() > sim->Gauges.size())
            return Fail("--plant: up to one plant number 0 to 65535 per gauge");
        for (size_t i = 0; i < list->size(); ++i) {
            sim->Gauges[i].PlantNumber = static_cast<quint16>((*list)[i]);
            sim->Gauges[i].Words[0] = sim->Gauges[i].PlantNumber;
        }
    }
    if (isSet("level")) {
        const double level = value("level").toDouble(&ok);
        if (!ok || level < 0)
            return Fail("--level must be a level in mm");
        for (auto& g : sim->Gauges)
            g.SetLevel(level);
    }
    if (isSet("zero")) {
        const int n = value("zero").toInt(&ok);
        if (!ok || n < 0 || n > 253)
            return Fail("--zero must be 0 to 253");
        for (auto& g : sim->Gauges)
            g.FillZeroArray(n);
    }
    sim->Kalist.Enabled = isSet("kalist");
    for (const auto& f : FaultOptions) {
        if (!isSet(f.Name))
            continue;
        const auto rule = ParseFault(value(f.Name));
        if (!rule)
            return Fail(QStringLiteral("bad --%1 value").arg(QLatin1String(f.Name)));
        sim->SetFault(f.Fault, *rule);
    }
    const int delay = value("delay", "5").toInt(&ok);
    if (!ok || delay < 0 || delay > 60000)
        return Fail("--delay must be 0 to 60000 ms");
    int lineRate = isSet("line-rate") ? TSimServer::LinePortRate : 0;
    if (isSet("baud")) {
        lineRate = value("baud").toInt(&ok);
        if (!ok || lineRate < 50 || lineRate > 4000000)
            return Fail("--baud must be 50 to 4000000");
    }

    int onlyRate = 0;
    if (isSet("only-rate")) {
        onlyRate = value("only-rate").toInt(&ok);
        if (!ok || onlyRate < 50 || onlyRate > 4000000)
            return Fail("--only-rate must be 50 to 4000000");
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
    server.SetOnlyRate(onlyRate);
    QString error;
    if (!server.Start(value("link"), &error))
        return Fail(error);
    std::printf("%s\n", qPrintable(server.PortName()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    return 0;
}
