// Program entry: program-wide start-up before any window, the main window and its event loop,
// then the shut-down in reverse: device link, device object, archive settings.

#include "Ulmar.h"
#include "fMain.h"
#include "uAbout.h"
#include "uArchiveWriter.h"
#include "uBDE.h"
#include "uCloseOnSignal.h"
#include "uDataCtrl.h"
#include "uDataPlaces.h"
#include "uLog.h"
#include "uModal.h"
#include "uParamStr.h"
#include "uPaths.h"
#include "uPlantShipper.h"
#include "uProgramLocale.h"
#include "uRequestDevices.h"
#include "uSimServer.h"
#include "uSmallFile.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>

namespace {

// Options of this build beside the switches /full and /kalist.
struct TStartOptions {
    bool Simulator = false; // --simulator: an in-process gauge simulator on a pseudo-terminal
    QString ProgramDir;     // --program-dir DIR
    QString WorkDir;        // --work-dir DIR
    bool UserDirs = false;  // --user-dirs: the per-user data and config folders
    int QuitAfterMs = -1;   // --quit-after MS: end the program after MS, unasked (scripts)
    bool Poll = false;      // --poll: start polling once the main window stands (demonstrations)
    bool Help = false;      // -h, --help
    bool Version = false;   // -V, --version
    QString Error;          // why the command line is refused; empty when it is not
};

// Qt's own options, which QApplication takes off the command line (with one or two dashes,
// and those with a value also as -name=value).
const QStringList QtValueOptions = {"platform",
                                    "platformpluginpath",
                                    "platformtheme",
                                    "plugin",
                                    "qwindowgeometry",
                                    "geometry",
                                    "qwindowtitle",
                                    "title",
                                    "qwindowicon",
                                    "icon",
                                    "session",
                                    "style",
                                    "stylesheet",
                                    "display",
                                    "name",
                                    "visual",
                                    "ncols",
                                    "qmljsdebugger"};
const QStringList QtSwitches = {"reverse", "widgetcount", "testability", "nograb",
                                "dograb",  "sync",        "cmap"};

// Whether args[i] is one of Qt's options; i is moved past its value.
bool SkipQtOption(const QStringList& args, int& i) {
    QString name = args.at(i);
    if (!name.startsWith(QLatin1Char('-')))
        return false;
    name.remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype eq = name.indexOf(QLatin1Char('='));
    if (eq >= 0)
        return QtValueOptions.contains(name.left(eq));
    if (QtSwitches.contains(name))
        return true;
    if (!QtValueOptions.contains(name) || i + 1 >= args.size())
        return false;
    ++i;
    return true;
}

// The command line (args[0] is the program); a word the program does not know refuses it.
TStartOptions ParseOptions(const QStringList& args) {
    TStartOptions options;
    const auto refuse = [&options](const QString& error) {
        if (options.Error.isEmpty())
            options.Error = error;
    };
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        const bool valueOption = a == QLatin1String("--program-dir") ||
                                 a == QLatin1String("--work-dir") ||
                                 a == QLatin1String("--quit-after");
        if (valueOption && !hasValue) {
            refuse(QStringLiteral("нет значения у ") + a);
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.Help = true;
        } else if (a == QLatin1String("--version") || a == QLatin1String("-V")) {
            options.Version = true;
        } else if (a == QLatin1String("--simulator")) {
            options.Simulator = true;
        } else if (a == QLatin1String("--poll")) {
            options.Poll = true;
        } else if (a == QLatin1String("--user-dirs")) {
            options.UserDirs = true;
        } else if (a == QLatin1String("--program-dir")) {
            options.ProgramDir = args.at(++i);
        } else if (a == QLatin1String("--work-dir")) {
            options.WorkDir = args.at(++i);
        } else if (a == QLatin1String("--quit-after")) {
            bool ok = false;
            const int ms = args.at(++i).toInt(&ok);
            if (ok && ms >= 0)
                options.QuitAfterMs = ms;
            else
                refuse(QStringLiteral("--quit-after: время в мс, 0 или больше, дано «") +
                       args.at(i) + QStringLiteral("»"));
        } else if (a == QLatin1String("/full") || a == QLatin1String("/kalist") ||
                   SkipQtOption(args, i)) {
            // /full and /kalist are read by ParseCommandLine, Qt's options by QApplication.
        } else {
            refuse(QStringLiteral("неизвестный параметр ") + a);
        }
    }
    return options;
}

// Everything that lives from program start to program end, in creation order.
struct TProgram {
    std::unique_ptr<QTranslator> Translator;
    std::unique_ptr<TUlmar> Ulmar;
    std::unique_ptr<TSimServer> Simulator;
    // The archive's and the request log's disk writes, off the line; outlives the link.
    std::unique_ptr<TArchiveWriter> Writer;
    std::unique_ptr<TDeviceLink> Link;
    // Store and forward to the plant archive's server; only where the settings enable it.
    std::unique_ptr<TPlantShipper> Shipper;
    // The command line's /full and /kalist, for the main window.
    TCommandLineModes Modes;
    // What did not start (the simulator, the archive writer, the request thread): said once,
    // when the main window stands.
    QStringList StartProblems;
};

// How long shut-down waits for the writer to put the waiting readings and lines on the disk.
constexpr int WriterDrainMs = 15000;

// The plant archive's shipper, when the archive settings enable the server: it reads the day
// tables the writer has written and never touches the writer or the line. Its text joins the
// writer's in the windows (a line each).
void StartPlantShipper(TProgram& program) {
    TPlantServerSettings settings;
    settings.Load(PlantSettingsFile());
    if (!settings.Enabled)
        return;
    TPlantShipOptions options;
    options.ArchiveRoot = ArchiveRoot();
    try {
        program.Shipper = std::make_unique<TPlantShipper>(settings, options);
    } catch (const std::system_error& e) {
        program.StartProblems << QStringLiteral("Поток отправки в архив завода не запущен: ") +
                                     QString::fromLocal8Bit(e.what());
        return;
    }
    TPlantShipper* shipper = program.Shipper.get();
    TArchiveWriter* writer = program.Writer.get();
    program.Link->ArchiveStatus = [writer, shipper] {
        QStringList lines;
        if (writer)
            lines << ArchiveHealthText(writer->Health());
        lines << shipper->StatusText();
        lines.removeAll(QString());
        return lines.join(u'\n');
    };
}

// Program-wide initialisation, before any window. Returns the problems met with the per-user
// folders, for a message once the main window stands; what else did not start is kept in
// program.StartProblems.
QStringList StartUp(TProgram& program, const TStartOptions& options, const QStringList& arguments) {
    // The program's directory and the working directory at start (settings, archive, window
    // positions): the program's own, or the user's folders when installed.
    const QStringList placeProblems =
        ApplyDataPlaces(options.ProgramDir, options.WorkDir, options.UserDirs);
    LoadArchiveSettings();
    program.Modes = ParseCommandLine(arguments);
    program.Ulmar = std::make_unique<TUlmar>();
    program.Ulmar->Name = QStringLiteral("Ulmar");
    program.Ulmar->SetErrorMax(1);
    program.Ulmar->Description->Title = QStringLiteral("УЛМАР-50");
    program.Ulmar->Description->Hint = QStringLiteral("УЛМАР-50");
    TDeviceLinkOptions linkOptions;
    linkOptions.OnMessage = [](const QString& caption, const QString& text) {
        QMessageBox::critical(nullptr, caption, text);
    };
    if (options.Simulator) {
        auto simulator = std::make_unique<TSimServer>();
        // Nobody reads the built-in simulator's record of requests: a short ring keeps its
        // memory from growing through the first thousands of polls.
        simulator->SetRecordLimit(16);
        QString error;
        bool started = false;
        try {
            started = simulator->Start({}, &error);
        } catch (const std::system_error& e) {
            error = QString::fromLocal8Bit(e.what()); // its thread could not be created
        }
        if (started) {
            linkOptions.PortName = simulator->PortName();
            program.Simulator = std::move(simulator);
        } else {
            program.StartProblems << QStringLiteral("Имитатор прибора не запущен: ") + error +
                                         QStringLiteral("; используется порт из настроек.");
        }
    }
    // Without its thread the archive is written on the request thread, as the hook below says.
    try {
        program.Writer = std::make_unique<TArchiveWriter>();
    } catch (const std::system_error& e) {
        program.StartProblems << QStringLiteral("Поток записи архива не запущен: ") +
                                     QString::fromLocal8Bit(e.what()) +
                                     QStringLiteral("; архив пишется во время опроса.");
    }
    program.Link = std::make_unique<TDeviceLink>(program.Ulmar.get(),
                                                 std::unique_ptr<ISerialPort>(), linkOptions);
    if (!program.Link->StartError().isEmpty())
        program.StartProblems << program.Link->StartError();
    // The gauges of the line kept from the last session; none: the one gauge as always.
    if (const std::vector<quint8> addresses = program.Link->Poller()->LoadAddresses();
        !addresses.empty())
        program.Link->SetPollAddresses(addresses);
    if (TArchiveWriter* writer = program.Writer.get()) {
        // The request thread only copies the readings (under the exchange lock) and
        // formats the log line; the writer thread puts both on the disk.
        const QString logPath = program.Link->RequestLog().FileName();
        writer->SetLogFile(logPath);
        program.Link->ArchiveHook = [writer](const TUlmar& gauge, int code) {
            writer->PostRows(CaptureArchiveBatch(gauge, code, NowDateTime()));
        };
        program.Link->LogSink = [writer, logPath](const QString& text) {
            writer->PostLine(logPath, TLog::FormatLine(text));
        };
        // The link window and the main window's status bar say when it fails.
        program.Link->ArchiveStatus = [writer] { return ArchiveHealthText(writer->Health()); };
    } else {
        program.Link->ArchiveHook = [](const TUlmar& gauge, int code) {
            ArchivePollAnswer(gauge, code);
        };
    }
    StartPlantShipper(program);

    // Standard buttons and dialogs in Russian.
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_ru"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator.get());
        program.Translator = std::move(translator);
    }
    return placeProblems;
}

// After the main window has closed: device link, device object, archive settings.
void ShutDown(TProgram& program) {
    bool linkEnded = true;
    if (program.Link) {
        linkEnded = program.Link->Shutdown();
        if (linkEnded)
            program.Link.reset();
        else
            (void)program.Link.release(); // still in use by its thread: left to the exit
    }
    // The shipper's batch on its way is cancelled (sent again by the next start), bounded.
    if (program.Shipper) {
        if (program.Shipper->Stop(TPlantShipper::DefaultStopMs) && linkEnded)
            program.Shipper.reset();
        else
            (void)program.Shipper.release(); // ends on its own; the link may still ask its text
    }
    // Nothing posts any more once the link has ended: what waits goes to the disk (bounded).
    if (program.Writer) {
        program.Writer->Stop(WriterDrainMs);
        if (linkEnded)
            program.Writer.reset();
        else
            (void)program.Writer.release(); // the link's thread may still post
    }
    if (linkEnded)
        program.Ulmar.reset();
    else
        (void)program.Ulmar.release();
    if (!SaveArchiveSettings())
        std::fprintf(stderr, "ulmar: %s\n",
                     QStringLiteral("настройки архива не сохранены: %1")
                         .arg(ArchiveSettingsFile())
                         .toLocal8Bit()
                         .constData());
    if (linkEnded)
        program.Simulator.reset();
}

// Settings files that were not read (no regular file, too large, unreadable): the program runs
// on their defaults and never saves over them, and says so once for each.
void ReportRefusedSettings(const QStringList& files) {
    if (files.isEmpty())
        return;
    for (const QString& line : files)
        std::fprintf(stderr, "ulmar: %s\n", line.toLocal8Bit().constData());
    ShowMessageBox(QMessageBox::Warning, QStringLiteral("УЛМАР"),
                   QStringLiteral("Файлы настроек не прочитаны:\n") +
                       files.join(QLatin1Char('\n')) +
                       QStringLiteral("\nПрограмма работает с настройками по умолчанию и эти "
                                      "файлы не перезаписывает."));
}

// Those refused before the main window stood are said at once; later ones when they happen.
void WatchRefusedSettings() {
    ReportRefusedSettings(WatchRefusedSettingsFiles([](const QString& text) {
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [text] { ReportRefusedSettings({text}); }, Qt::QueuedConnection);
    }));
}

// The main window over the program's link, in the command line's modes.
std::unique_ptr<QWidget> CreateMainWindow(TDeviceLink* link, const TCommandLineModes& modes) {
    return std::make_unique<TFormMain>(link, modes);
}

QString ProgramUsage() {
    return UsageText(
        QStringLiteral("ulmar [ПАРАМЕТРЫ] [/full] [/kalist]"),
        QStringLiteral(
            "Настройка и обслуживание радарных уровнемеров серии УЛМАР по линии RS-485."),
        {{QStringLiteral("--simulator"),
          QStringLiteral("встроенный имитатор прибора на псевдотерминале")},
         {QStringLiteral("--poll"),
          QStringLiteral("начать опрос, как только откроется главное окно")},
         {QStringLiteral("--program-dir DIR"),
          QStringLiteral("каталог программы: INI (bde.ini, fGraph.ini, TypeSVCH.ini),\n"
                         "архив DATA, таблицы TarTabl, файлы параметров M10 и M20")},
         {QStringLiteral("--work-dir DIR"),
          QStringLiteral("рабочий каталог: INI (ComPort.ini, Timer.ini, WndPos.ini)\n"
                         "и журналы запросов rd*")},
         {QStringLiteral("--user-dirs"),
          QStringLiteral("папки пользователя, как у установленной программы")},
         {QStringLiteral("--quit-after MS"),
          QStringLiteral("завершить программу через MS мс (для сценариев)")},
         {QStringLiteral("/full"),
          QStringLiteral("заводской режим: заводские параметры и служебные окна")},
         {QStringLiteral("/kalist"),
          QStringLiteral("в заводском режиме сразу опрашивать и КАЛИСТ-1")},
         HelpUsageOption(),
         VersionUsageOption(QStringLiteral("версия и папки данных, настроек и журналов"))},
        QStringLiteral(
            "SIGTERM, SIGINT и SIGHUP закрывают программу, как команда «Закрыть», без вопроса;\n"
            "повторный сигнал завершает её сразу. Неизвестный параметр: код завершения 2.\n"
            "\n"
            "Из каталога сборки (рядом с каталогом программы лежит CMakeCache.txt) программа\n"
            "хранит всё в папке run каталога сборки, какой бы ни была текущая папка; ulmar-cli\n"
            "той же сборки пользуется той же папкой.\n"
            "Установленная программа (каталог программы недоступен для записи или рядом с ним\n"
            "лежит share/ulmar) хранит данные в $XDG_DATA_HOME/ulmar (~/.local/share/ulmar),\n"
            "настройки порта, таймера и окон в $XDG_CONFIG_HOME/ulmar (~/.config/ulmar), а\n"
            "журналы запросов в $XDG_STATE_HOME/ulmar (~/.local/state/ulmar)."));
}

// --help, --version and a refused command line are answered on the standard streams before
// any window or display is needed.
std::optional<int> AnswerBeforeWindows(int argc, char* argv[]) {
    QStringList args;
    for (int k = 0; k < argc; ++k)
        args << QString::fromLocal8Bit(argv[k]);
    const TStartOptions options = ParseOptions(args);
    if (options.Help) {
        std::fputs(ProgramUsage().toUtf8().constData(), stdout);
        return 0;
    }
    if (!options.Error.isEmpty()) {
        std::fprintf(stderr, "ulmar: %s\nСправка: ulmar --help\n",
                     options.Error.toLocal8Bit().constData());
        return ExitBadArguments;
    }
    if (options.Version) {
        // The folders this command line would use, with its own folder options.
        QString text = VersionLine(QStringLiteral("ulmar")) + QLatin1Char('\n');
        for (const QString& line : DataPlaceLines(ChooseDataPlaces(DataPlaceInputsFromProcess(
                 options.ProgramDir, options.WorkDir, options.UserDirs))))
            text += line + QLatin1Char('\n');
        std::fputs(text.toUtf8().constData(), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const auto answered = AnswerBeforeWindows(argc, argv))
        return *answered;
    QApplication app(argc, argv);
    InstallCloseSignals();
    UseProgramLocale();
    // The desktop entry "ulmar.desktop" and its icon, when installed, for the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("ulmar"));
    const QIcon icon = QIcon::fromTheme(QStringLiteral("ulmar"));
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
    const QStringList arguments = QCoreApplication::arguments();
    const TStartOptions options = ParseOptions(arguments);

    TProgram program;
    const QStringList placeProblems = StartUp(program, options, arguments);

    int result = 0;
    {
        std::unique_ptr<QWidget> window = CreateMainWindow(program.Link.get(), program.Modes);
        window->show();
        // SIGTERM, SIGINT, SIGHUP: the close command without its question.
        CloseOnStopSignal(qobject_cast<TFormMain*>(window.get()));
        // Runs the main window's own start command, with its checks, as the operator would.
        if (options.Poll)
            QTimer::singleShot(0, window.get(), [w = window.get()] {
                if (auto* start = w->findChild<QAction*>(QStringLiteral("actOprosStart")))
                    start->trigger();
            });
        // Leaves the event loop without the close confirmation, as scripts need.
        if (options.QuitAfterMs >= 0)
            QTimer::singleShot(options.QuitAfterMs, &app, [] { QCoreApplication::exit(0); });
        // Folders that could not be made are said once the window stands: without them
        // nothing the program stores would be kept.
        if (!placeProblems.isEmpty())
            QTimer::singleShot(0, window.get(), [placeProblems] {
                for (const QString& line : placeProblems)
                    std::fprintf(stderr, "ulmar: %s\n", line.toLocal8Bit().constData());
                ShowMessageBox(QMessageBox::Warning, QStringLiteral("УЛМАР"),
                               placeProblems.join(QLatin1Char('\n')) +
                                   QStringLiteral("\nНастройки и архив не будут сохранены."));
            });
        // What did not start is said once, in one box.
        if (!program.StartProblems.isEmpty())
            QTimer::singleShot(0, window.get(), [problems = program.StartProblems] {
                for (const QString& line : problems)
                    std::fprintf(stderr, "ulmar: %s\n", line.toLocal8Bit().constData());
                ShowMessageBox(QMessageBox::Warning, QStringLiteral("УЛМАР"),
                               problems.join(QLatin1Char('\n')));
            });
        QTimer::singleShot(0, window.get(), [] { WatchRefusedSettings(); });
        result = app.exec();
    }

    ShutDown(program);
    return result;
}
