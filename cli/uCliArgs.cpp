#include "uCliArgs.h"
#include "uAbout.h"
#include "uPoller.h"

#include <QHash>

namespace {

// Options that take a value, and the commands that accept each one (empty: every command).
struct TOptionRule {
    bool HasValue;
    QList<TCliCommand> Commands;
};

const QHash<QString, TOptionRule>& Options() {
    using C = TCliCommand;
    static const QHash<QString, TOptionRule> options = {
        {"--port", {true, {}}},
        {"--baud", {true, {}}},
        {"--address", {true, {}}},
        {"--work-dir", {true, {}}},
        {"--program-dir", {true, {}}},
        {"--user-dirs", {false, {}}},
        {"--version", {false, {}}},
        {"--quiet", {false, {}}},
        {"--json", {false, {}}},
        {"--trace", {false, {}}},
        {"--kalist", {false, {C::Read, C::Watch, C::Monitor}}},
        {"--period", {true, {C::Watch, C::Monitor}}},
        {"--addresses", {true, {C::Watch, C::Monitor}}},
        {"--count", {true, {C::Watch, C::Monitor, C::ZeroWatch}}},
        {"--every", {true, {C::ZeroWatch}}},
        {"--factory", {false, {C::ParamsRead, C::ParamsWrite, C::ParamsDiff, C::RecordStart}}},
        {"--site", {true, {C::RecordStart}}},
        {"--tag", {true, {C::RecordStart}}},
        {"--technician", {true, {C::RecordStart}}},
        {"--out", {true, {C::ParamsRead, C::TareRead, C::ZeroRead, C::ZeroWatch, C::RecordPdf}}},
        {"--force", {false, {C::ParamsRead, C::TareRead, C::ZeroRead, C::RecordPdf}}},
        {"--name", {true, {C::TareWrite, C::TareCompare}}},
        {"--yes", {false, {C::TareWrite}}},
        {"--value", {true, {C::Raw}}},
        {"--table", {true, {C::ArchiveExport}}},
        {"--plant-number", {true, {C::ArchiveExport}}},
        {"--source", {true, {C::ArchiveExport}}},
        {"--from", {true, {C::ArchiveExport, C::Scan, C::Find}}},
        {"--to", {true, {C::ArchiveExport, C::Scan, C::Find}}},
        {"--csv", {false, {C::ArchiveExport, C::Decode, C::Monitor}}},
        {"--captions", {false, {C::ArchiveExport, C::Decode, C::Monitor}}},
    };
    return options;
}

std::optional<int> Integer(const QString& text, int low, int high) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok || v < low || v > high)
        return std::nullopt;
    return static_cast<int>(v);
}

TCliParse Refuse(const QString& error) {
    return {std::nullopt, error};
}

} // namespace

TCliParse ParseCliArguments(const QStringList& arguments) {
    TCliRequest r;
    QStringList words;
    QHash<QString, QString> given;
    // The short forms of the options that take no value.
    static const QHash<QString, QString> shortForms = {{QStringLiteral("-q"), "--quiet"},
                                                       {QStringLiteral("-V"), "--version"}};
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = shortForms.value(arguments.at(i), arguments.at(i));
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return {TCliRequest{}, {}};
        // "-" alone is a file: standard input or output.
        if (a.size() > 1 && a.startsWith(QLatin1Char('-')) && !a.startsWith(QLatin1String("--")))
            return Refuse(QStringLiteral("неизвестный параметр ") + a);
        if (!a.startsWith(QLatin1String("--")) || a == QLatin1String("--")) {
            words << a;
            continue;
        }
        // "--name=value" or "--name value".
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        const QString name = eq < 0 ? a : a.left(eq);
        const auto rule = Options().constFind(name);
        if (rule == Options().constEnd())
            return Refuse(QStringLiteral("неизвестный параметр ") + name);
        QString value;
        if (rule->HasValue) {
            if (eq >= 0)
                value = a.mid(eq + 1);
            else if (i + 1 < arguments.size())
                value = arguments.at(++i);
            else
                return Refuse(QStringLiteral("нет значения у ") + name);
        } else if (eq >= 0) {
            return Refuse(QStringLiteral("у ") + name + QStringLiteral(" нет значения"));
        }
        given.insert(name, value);
    }

    if (given.contains(QStringLiteral("--version"))) {
        r.Command = TCliCommand::Version;
        r.WorkDir = given.value(QStringLiteral("--work-dir"));
        r.ProgramDir = given.value(QStringLiteral("--program-dir"));
        r.UserDirs = given.contains(QStringLiteral("--user-dirs"));
        r.Json = given.contains(QStringLiteral("--json"));
        return {r, {}};
    }
    const QString first = words.value(0);
    const QString second = words.value(1);
    int used = 1;
    if (first.isEmpty()) {
        r.Command = TCliCommand::NoCommand;
        r.Json = given.contains(QStringLiteral("--json"));
        return {r, {}};
    } else if (first == QLatin1String("help")) {
        r.Command = TCliCommand::Help;
    } else if (first == QLatin1String("read")) {
        r.Command = TCliCommand::Read;
    } else if (first == QLatin1String("watch")) {
        r.Command = TCliCommand::Watch;
    } else if (first == QLatin1String("monitor")) {
        r.Command = TCliCommand::Monitor;
    } else if (first == QLatin1String("decode")) {
        r.Command = TCliCommand::Decode;
        r.File = second;
        if (r.File.isEmpty())
            return Refuse(QStringLiteral("decode: нет файла"));
        used = 2;
    } else if (first == QLatin1String("ports")) {
        r.Command = TCliCommand::Ports;
    } else if (first == QLatin1String("signature")) {
        r.Command = TCliCommand::Signature;
    } else if (first == QLatin1String("scan")) {
        r.Command = TCliCommand::Scan;
    } else if (first == QLatin1String("find")) {
        r.Command = TCliCommand::Find;
    } else if (first == QLatin1String("raw")) {
        r.Command = TCliCommand::Raw;
        const auto code = Integer(second, 0, 79);
        if (!code)
            return Refuse(QStringLiteral("raw: код запроса 0..79, дано «") + second +
                          QStringLiteral("»"));
        r.Code = *code;
        used = 2;
    } else if (first == QLatin1String("params")) {
        used = 2;
        if (second == QLatin1String("read")) {
            r.Command = TCliCommand::ParamsRead;
        } else if (second == QLatin1String("write") || second == QLatin1String("diff")) {
            r.Command = second == QLatin1String("write") ? TCliCommand::ParamsWrite
                                                         : TCliCommand::ParamsDiff;
            r.File = words.value(2);
            if (r.File.isEmpty())
                return Refuse(QStringLiteral("params ") + second + QStringLiteral(": нет файла"));
            used = 3;
        } else {
            return Refuse(QStringLiteral("params: read, write или diff"));
        }
    } else if (first == QLatin1String("zero")) {
        if (second != QLatin1String("read") && second != QLatin1String("watch"))
            return Refuse(QStringLiteral("zero: read или watch"));
        r.Command =
            second == QLatin1String("read") ? TCliCommand::ZeroRead : TCliCommand::ZeroWatch;
        used = 2;
    } else if (first == QLatin1String("archive")) {
        if (second != QLatin1String("export") && second != QLatin1String("list") &&
            second != QLatin1String("ship"))
            return Refuse(QStringLiteral("archive: export, list или ship"));
        r.Command = second == QLatin1String("export") ? TCliCommand::ArchiveExport
                    : second == QLatin1String("list") ? TCliCommand::ArchiveList
                                                      : TCliCommand::ArchiveShip;
        used = 2;
    } else if (first == QLatin1String("tare")) {
        used = 2;
        if (second == QLatin1String("read")) {
            r.Command = TCliCommand::TareRead;
        } else if (second == QLatin1String("write") || second == QLatin1String("compare")) {
            r.Command = second == QLatin1String("write") ? TCliCommand::TareWrite
                                                         : TCliCommand::TareCompare;
            r.File = words.value(2);
            if (r.File.isEmpty())
                return Refuse(QStringLiteral("tare ") + second + QStringLiteral(": нет файла"));
            used = 3;
        } else {
            return Refuse(QStringLiteral("tare: read, write или compare"));
        }
    } else if (first == QLatin1String("record")) {
        used = 2;
        if (second == QLatin1String("start")) {
            r.Command = TCliCommand::RecordStart;
        } else if (second == QLatin1String("resume") || second == QLatin1String("finish") ||
                   second == QLatin1String("show")) {
            r.Command = second == QLatin1String("resume")   ? TCliCommand::RecordResume
                        : second == QLatin1String("finish") ? TCliCommand::RecordFinish
                                                            : TCliCommand::RecordShow;
            r.File = words.value(2);
            if (r.File.isEmpty())
                return Refuse(QStringLiteral("record ") + second + QStringLiteral(": нет папки"));
            used = 3;
        } else if (second == QLatin1String("pdf")) {
            r.Command = TCliCommand::RecordPdf;
            r.Folder = words.value(2);
            if (r.Folder.isEmpty())
                return Refuse(QStringLiteral("record pdf: нет папки сеанса"));
            used = 3;
        } else {
            return Refuse(QStringLiteral("record: start, resume, finish, show или pdf"));
        }
    } else {
        return Refuse(QStringLiteral("неизвестная команда ") + first);
    }
    if (words.size() > used)
        return Refuse(QStringLiteral("лишний аргумент ") + words.at(used));

    for (auto it = given.cbegin(); it != given.cend(); ++it) {
        const TOptionRule& rule = Options()[it.key()];
        if (!rule.Commands.isEmpty() && !rule.Commands.contains(r.Command))
            return Refuse(QStringLiteral("параметр ") + it.key() +
                          QStringLiteral(" не относится к этой команде"));
    }
    const auto number = [&given](const char* name, int low, int high, std::optional<int>& out) {
        const QString key = QString::fromLatin1(name);
        if (!given.contains(key))
            return true;
        out = Integer(given.value(key), low, high);
        return out.has_value();
    };
    if (!number("--baud", 1, 4000000, r.Baud))
        return Refuse(QStringLiteral("--baud: скорость 1..4000000"));
    if (!number("--address", 0, 255, r.Address))
        return Refuse(QStringLiteral("--address: адрес 0..255"));
    if (!number("--period", 0, 86400000, r.PeriodMs))
        return Refuse(QStringLiteral("--period: период 0..86400000 мс"));
    if (!number("--count", 1, 2147483647, r.Count))
        return Refuse(QStringLiteral("--count: число опросов от 1"));
    r.Port = given.value(QStringLiteral("--port"));
    if (given.contains(QStringLiteral("--port")) && r.Port.trimmed().isEmpty())
        return Refuse(QStringLiteral("--port: пустое имя порта"));
    r.WorkDir = given.value(QStringLiteral("--work-dir"));
    r.ProgramDir = given.value(QStringLiteral("--program-dir"));
    r.UserDirs = given.contains(QStringLiteral("--user-dirs"));
    r.Json = given.contains(QStringLiteral("--json"));
    r.Trace = given.contains(QStringLiteral("--trace"));
    r.Quiet = given.contains(QStringLiteral("--quiet"));
    r.Kalist = given.contains(QStringLiteral("--kalist"));
    if (given.contains(QStringLiteral("--addresses"))) {
        const auto addresses = ParsePollAddresses(given.value(QStringLiteral("--addresses")));
        if (!addresses || addresses->empty())
            return Refuse(QStringLiteral("--addresses: адреса приборов 0..254 через запятую, "
                                         "дано «") +
                          given.value(QStringLiteral("--addresses")) + QStringLiteral("»"));
        r.Addresses = *addresses;
        if (r.Kalist)
            return Refuse(QStringLiteral("--kalist: ток КАЛИСТ-1 опрашивается с одним прибором, "
                                         "без --addresses"));
    }
    r.Factory = given.contains(QStringLiteral("--factory"));
    r.Site = given.value(QStringLiteral("--site")).trimmed();
    r.Tag = given.value(QStringLiteral("--tag")).trimmed();
    r.Technician = given.value(QStringLiteral("--technician")).trimmed();
    if (r.Command == TCliCommand::ParamsRead || r.Command == TCliCommand::TareRead ||
        r.Command == TCliCommand::ZeroRead || r.Command == TCliCommand::RecordPdf)
        r.File = given.value(QStringLiteral("--out"));
    // The PDF is a file of its own, never a stream.
    if (r.Command == TCliCommand::RecordPdf && CliStandardStream(r.File))
        return Refuse(QStringLiteral("record pdf: --out - не принимается, нужен файл"));
    if (r.Command == TCliCommand::ZeroWatch) {
        r.OutDir = given.value(QStringLiteral("--out"));
        if (r.OutDir.isEmpty() || CliStandardStream(r.OutDir))
            return Refuse(QStringLiteral("zero watch: нужно --out ПАПКА"));
        if (!number("--every", 1, 86400, r.EverySeconds) || !r.EverySeconds)
            return Refuse(QStringLiteral("zero watch: нужно --every СЕКУНДЫ (1..86400)"));
    } else if (given.contains(QStringLiteral("--out")) && r.File.isEmpty()) {
        return Refuse(QStringLiteral("--out: пустое имя файла"));
    }
    // Both would go to standard output, one into the other.
    if (CliStandardStream(r.File) && r.Json && given.contains(QStringLiteral("--out")))
        return Refuse(QStringLiteral("--out - и --json: оба пишут в стандартный вывод"));
    r.Force = given.contains(QStringLiteral("--force"));
    if (r.Force && r.File.isEmpty())
        return Refuse(QStringLiteral("--force — только вместе с --out"));
    r.Value = given.value(QStringLiteral("--value"));
    if (given.contains(QStringLiteral("--value")) && r.Value.trimmed().isEmpty())
        return Refuse(QStringLiteral("--value: пустое значение"));
    if (r.Command == TCliCommand::ArchiveExport) {
        r.Table = given.value(QStringLiteral("--table"));
        r.From = given.value(QStringLiteral("--from"));
        r.To = given.value(QStringLiteral("--to"));
        if (r.Table.isEmpty() || r.From.isEmpty() || r.To.isEmpty())
            return Refuse(QStringLiteral("archive export: нужны --table, --from и --to"));
        if (given.contains(QStringLiteral("--csv")) && r.Json)
            return Refuse(QStringLiteral("archive export: --csv или --json, не оба"));
        r.Csv = !r.Json; // CSV unless --json
        if (!number("--plant-number", 0, 65535, r.PlantNumber))
            return Refuse(QStringLiteral("archive export: --plant-number: заводской номер "
                                         "0..65535"));
        const QString source = given.value(QStringLiteral("--source"), QStringLiteral("local"));
        if (source != QLatin1String("local") && source != QLatin1String("server"))
            return Refuse(QStringLiteral("archive export: --source local или server"));
        r.FromServer = source == QLatin1String("server");
        // The server keeps every station's gauges: without the number the rows of many
        // gauges would run together.
        if (r.FromServer && !r.PlantNumber)
            return Refuse(QStringLiteral("archive export: с --source server нужен "
                                         "--plant-number N (заводской номер прибора)"));
    }
    if (r.Command == TCliCommand::Decode || r.Command == TCliCommand::Monitor) {
        r.Csv = given.contains(QStringLiteral("--csv"));
        if (r.Csv && r.Json)
            return Refuse(QStringLiteral("--csv или --json, не оба"));
    }
    r.Captions = given.contains(QStringLiteral("--captions"));
    if (r.Captions && !r.Csv)
        return Refuse(QStringLiteral("--captions — только для CSV"));
    if (r.Command == TCliCommand::Scan) {
        std::optional<int> from = 0;
        std::optional<int> to = 254;
        if (!number("--from", 0, 254, from) || !number("--to", 0, 254, to))
            return Refuse(QStringLiteral("scan: --from и --to — системные адреса 0..254"));
        if (*to < *from)
            return Refuse(QStringLiteral("scan: Начальный системный адрес больше конечного!"));
        r.ScanFrom = *from;
        r.ScanTo = *to;
    }
    if (r.Command == TCliCommand::TareCompare)
        r.Name = given.value(QStringLiteral("--name"));
    if (r.Command == TCliCommand::Find) {
        std::optional<int> from = 0;
        std::optional<int> to = 16;
        if (!number("--from", 0, 254, from) || !number("--to", 0, 254, to))
            return Refuse(QStringLiteral("find: --from и --to — системные адреса 0..254"));
        if (*to < *from)
            return Refuse(QStringLiteral("find: Начальный системный адрес больше конечного!"));
        r.ScanFrom = *from;
        r.ScanTo = *to;
    }
    if (r.Command == TCliCommand::TareWrite) {
        r.Name = given.value(QStringLiteral("--name"));
        r.Yes = given.contains(QStringLiteral("--yes"));
        if (r.Name.isEmpty())
            return Refuse(QStringLiteral("tare write: нужно --name ТАБЛИЦА"));
    }
    return {r, {}};
}

QString CliUsage() {
    return UsageText(
        QStringLiteral("ulmar-cli [ПАРАМЕТРЫ] КОМАНДА [АРГУМЕНТЫ]\n"
                       "ulmar-cli -V|--version [--json]\n"
                       "ulmar-cli -h|--help|help"),
        QStringLiteral("Уровнемеры УЛМАР по линии RS-485 из командной строки и сценариев."),
        {{QStringLiteral("--port P"),
          QStringLiteral("последовательный порт (по умолчанию из INI/ComPort.ini)")},
         {QStringLiteral("--baud N"), QStringLiteral("скорость, бод (на этот запуск)")},
         {QStringLiteral("--address A"),
          QStringLiteral("системный адрес прибора 0..255 (по умолчанию 255)")},
         {QStringLiteral("--work-dir D"), QStringLiteral("рабочий каталог: INI/ComPort.ini")},
         {QStringLiteral("--program-dir D"),
          QStringLiteral("каталог программы: архив DATA, M10, M20, INI/bde.ini")},
         {QStringLiteral("--user-dirs"),
          QStringLiteral("папки пользователя, как у установленной программы")},
         {QStringLiteral("--json"), QStringLiteral("вывод в JSON (схема — в man ulmar-cli)")},
         {QStringLiteral("--trace"), QStringLiteral("каждый обмен на stderr")},
         {QStringLiteral("-q, --quiet"),
          QStringLiteral("без хода работы, пояснений и итогов на stderr")},
         HelpUsageOption(),
         VersionUsageOption(QStringLiteral("версия и папки данных, настроек и журналов"))},
        QStringLiteral(
            "Команды:\n"
            "  read [--kalist]                 один опрос (команда 6); с --kalist ещё ток "
            "КАЛИСТ-1\n"
            "  watch [--period MS] [--count N] [--kalist] [--addresses A,B,...]\n"
            "                                  опрос до остановки или N раз, строка на опрос;\n"
            "                                  с --addresses — приборы линии по очереди, строка\n"
            "                                  на прибор и круг (N — число кругов)\n"
            "  params read [--factory] [--out FILE] [--force]\n"
            "                                  все параметры; с --out — файл параметров\n"
            "                                  (--out - — в стандартный вывод)\n"
            "  params write FILE [--factory]   записать, сохранить в ПЗУ, считать и сверить\n"
            "  params diff FILE [--factory]    отличия прибора от файла\n"
            "  signature                       сигнатура прибора\n"
            "  raw CODE [--value V]            один запрос 0..79 и его ответ\n"
            "  scan [--from A] [--to B]        сигнатуры по системным адресам A..B (0..254),\n"
            "                                  строка на прибор; коллизии и повторы отмечены\n"
            "  find [--from A] [--to B]        найти прибор: каждая скорость списка настроек\n"
            "                                  порта (от быстрой к медленной), сигнатура по\n"
            "                                  адресу 255, где ответили — по адресам A..B\n"
            "                                  (по умолчанию 0..16); строка на прибор: скорость,\n"
            "                                  адрес, заводской номер, тип, версии\n"
            "  zero read [--out FILE] [--force]\n"
            "                                  массив нулей; с --out — файл массива (256 строк)\n"
            "  zero watch --every S --out DIR [--count N]\n"
            "                                  снимки массива нулей каждые S секунд в папку DIR\n"
            "                                  (файлы массива нулей); строка на снимок; до Ctrl+C\n"
            "                                  или N снимков\n"
            "  archive export --table NAME --from T1 --to T2 [--csv [--captions]|--json]\n"
            "                 [--plant-number N] [--source local|server]\n"
            "                                  архив одной таблицы за период (границы включены)\n"
            "                                  (таблицы архива — в archive list); с\n"
            "                                  --plant-number — только прибор с этим заводским\n"
            "                                  номером; --source server — из архива на сервере\n"
            "                                  (раздел [PlantArchive] bde.ini, нужен\n"
            "                                  --plant-number)\n"
            "  archive list                    таблицы архива и дни, за которые они есть\n"
            "  archive ship                    отправить в архив завода (сервер из раздела\n"
            "                                  [PlantArchive] файла INI/bde.ini) записи, которые\n"
            "                                  ещё не подтверждены сервером\n"
            "  tare read [--out FILE] [--force]\n"
            "                                  тарировочная таблица прибора; с --out — файл\n"
            "  tare write FILE --name NAME [--yes]\n"
            "                                  записать таблицу NAME из файла в прибор, считать,\n"
            "                                  сверить и сохранить в ПЗУ; без --yes — с вопросом\n"
            "                                  на терминале (ввод не с терминала или FILE «-»:\n"
            "                                  без --yes отказ, код 3)\n"
            "  tare compare FILE [--name NAME]\n"
            "                                  сравнить таблицу NAME из файла (без --name —\n"
            "                                  единственную таблицу файла) с таблицей прибора\n"
            "                                  построчно; есть отличия — код 1\n"
            "  decode FILE [--csv [--captions]|--json]\n"
            "                                  журнал запросов rd….txt (файл, канал; - — "
            "стандартный\n"
            "                                  ввод): каждый обмен расшифрован; нерасшифрованная\n"
            "                                  строка выводится как есть с причиной\n"
            "  monitor [--period MS] [--count N] [--kalist] [--addresses A,B,...]\n"
            "          [--csv [--captions]|--json]\n"
            "                                  опрос как watch, каждый обмен на линии расшифрован\n"
            "  ports                           последовательные порты: устройство, адаптер, имя в\n"
            "                                  /dev/serial/by-id и состояние (свободен, занят, "
            "нет\n"
            "                                  доступа, нет устройства); порт настроек отмечен.\n"
            "                                  Порт не открывается\n"
            "  record start [--site S] [--tag T] [--technician N] [--factory]\n"
            "                                  начать протокол прибора: сигнатура, параметры,\n"
            "                                  тарировочная таблица и массив нулей «как найдено»\n"
            "                                  в папку Records/<заводской номер>/<дата-время>\n"
            "                                  каталога программы; сессия остаётся открытой, и\n"
            "                                  обмены других команд с прибором идут в её журнал\n"
            "  record resume DIR               продолжить сессию: шаги, что не выполнены\n"
            "  record finish DIR               «как оставлено», записи в прибор, завершить\n"
            "  record show DIR                 протокол сессии и заключение прогона; порт не\n"
            "                                  открывается\n"
            "  record pdf DIR [--out FILE] [--force]\n"
            "                                  протокол сессии из папки DIR\n"
            "                                  (session.json) в PDF; по умолчанию DIR/record.pdf.\n"
            "                                  Порт не открывается\n"
            "\n"
            "Порт, скорость и тайм-ауты по умолчанию берутся из INI/ComPort.ini рабочего "
            "каталога.\n"
            "Адаптер USB–RS-485 лучше задавать именем из /dev/serial/by-id (ulmar-cli ports): оно\n"
            "не меняется, когда система даёт адаптеру другой номер ttyUSB.\n"
            "Каталог программы (--program-dir) хранит архив DATA, файлы параметров M10 и M20 и\n"
            "INI/bde.ini; по умолчанию это каталог ulmar-cli. У установленной программы (каталог\n"
            "недоступен для записи или рядом лежит share/ulmar) и с --user-dirs каталог программы "
            "—\n"
            "$XDG_DATA_HOME/ulmar (~/.local/share/ulmar), рабочий каталог — "
            "$XDG_CONFIG_HOME/ulmar\n"
            "(~/.config/ulmar). --version называет их и папку журналов окна программы.\n"
            "Адрес по умолчанию 255 (любой прибор на линии).\n"
            "FILE «-» — стандартный ввод (params write, params diff, tare write, tare compare,\n"
            "decode);\n"
            "--out - — стандартный вывод (не вместе с --json).\n"
            "-q, --quiet: без хода работы, пояснений и итогов на stderr; ошибки выводятся.\n"
            "scan и find показывают ход работы на stderr, только если это терминал.\n"
            "--out пишет новый файл в существующий каталог; существующий обычный файл заменяется\n"
            "только с --force. Символическая ссылка, каталог, устройство и канал (FIFO) не\n"
            "принимаются: код 3, порт не открывается. Файл пишется целиком под временным именем\n"
            "и затем переименовывается, так что прежний файл при сбое остаётся как был.\n"
            "\n"
            "Коды завершения: 0 выполнено; 1 выполнено, есть отличия или отвергнутые параметры;\n"
            "2 нет связи (порт не открылся или прибор не отвечает) или вывод не записан (нет "
            "места,\n"
            "закрыт); 3 неверный аргумент или файл. params diff: 2 — не все параметры считаны.\n"
            "scan: 1 — есть отмеченные строки, 2 — не ответил ни один прибор.\n"
            "find: 1 — при сканировании скорости что-то отмечено (коллизия), 2 — ни один прибор\n"
            "не ответил ни на одной скорости или порт не открылся; настройки порта после поиска\n"
            "прежние (INI/ComPort.ini не меняется).\n"
            "--json: объекты JSON (схема docs/cli-json-schema.json), --csv: CSV через «;», UTF-8\n"
            "с BOM, заголовок — ключи JSON, с --captions — русские подписи.\n"
            "decode: 1 — есть нерасшифрованные строки. monitor: 2 — был сбойный обмен.\n"
            "130 (Ctrl+C) и 143 (SIGTERM) — прервано: команда остановлена между обменами, после\n"
            "прерывания в ПЗУ ничего не сохраняется; повторный Ctrl+C завершает сразу. watch,\n"
            "monitor и scan, прерванные так, пишут итог на stderr: число опросов и сколько без\n"
            "ответа, или сколько адресов опрошено и сколько приборов найдено.\n"
            "Без команды ulmar-cli выводит эту справку на stderr и завершается с кодом 3."));
}
