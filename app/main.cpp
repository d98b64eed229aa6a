// Program entry: program-wide start-up before any window, the main window and its event loop,
// then the shut-down in reverse: device link, device object, archive settings.

#include "archive/rProgon.h"
#include "archive/uArchiveWriter.h"
#include "archive/uBDE.h"
#include "archive/uDataCtrl.h"
#include "console/fMain.h"
#include "devicelink/Ulmar.h"
#include "devicelink/uLog.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"
#include "devicelink/uRequestDevices.h"
#include "sim/uSimServer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QMessageBox>
#include <QTimer>
#include <QTranslator>
#include <memory>

namespace {

// Options of this build beside the switches /full and /kalist.
struct TStartOptions {
    bool Simulator = false; // --simulator: an in-process gauge simulator on a pseudo-terminal
    QString ProgramDir;     // --program-dir DIR
    QString WorkDir;        // --work-dir DIR
    int QuitAfterMs = -1;   // --quit-after MS: end the program after MS, unasked (scripts)
    bool Poll = false;      // --poll: start polling once the main window stands (demonstrations)
};

TStartOptions ParseOptions(const QStringList& args) {
    TStartOptions options;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--simulator")) {
            options.Simulator = true;
        } else if (a == QLatin1String("--poll")) {
            options.Poll = true;
        } else if (a == QLatin1String("--program-dir") && hasValue) {
            options.ProgramDir = args.at(++i);
        } else if (a == QLatin1String("--work-dir") && hasValue) {
            options.WorkDir = args.at(++i);
        } else if (a == QLatin1String("--quit-after") && hasValue) {
            bool ok = false;
            const int ms = args.at(++i).toInt(&ok);
            if (ok && ms >= 0)
                options.QuitAfterMs = ms;
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
};

// How long shut-down waits for the writer to put the waiting readings and lines on the disk.
constexpr int WriterDrainMs = 15000;

// Program-wide initialisation, before any window; every step is guarded on its own.
void StartUp(TProgram& program, const TStartOptions& options, const QStringList& arguments) {
    try {
        if (!options.ProgramDir.isEmpty())
            SetProgramDir(QDir(options.ProgramDir).absolutePath());
        // The working directory at start, for the window positions and the settings files.
        SetStartDir(options.WorkDir.isEmpty() ? QDir::currentPath()
                                              : QDir(options.WorkDir).absolutePath());
    } catch (...) {
    }
    try {
        LoadArchiveSettings();
    } catch (...) {
    }
    try {
        ParseCommandLine(arguments);
    } catch (...) {
    }
    try {
        program.Ulmar = std::make_unique<TUlmar>();
        program.Ulmar->Name = QStringLiteral("Ulmar");
        program.Ulmar->SetErrorMax(1);
        program.Ulmar->Description->Title = QStringLiteral("УЛМАР-50");
        program.Ulmar->Description->Hint = QStringLiteral("УЛМАР-50");
    } catch (...) {
    }
    TDeviceLinkOptions linkOptions;
    linkOptions.OnMessage = [](const QString& caption, const QString& text) {
        QMessageBox::critical(nullptr, caption, text);
    };
    if (options.Simulator) {
        try {
            auto simulator = std::make_unique<TSimServer>();
            if (simulator->Start()) {
                linkOptions.PortName = simulator->PortName();
                program.Simulator = std::move(simulator);
            }
        } catch (...) {
        }
    }
    try {
        program.Writer = std::make_unique<TArchiveWriter>();
    } catch (...) {
    }
    try {
        if (program.Ulmar) {
            program.Link = std::make_unique<TDeviceLink>(
                program.Ulmar.get(), std::unique_ptr<ISerialPort>(), linkOptions);
            DeviceLink = program.Link.get();
            TUlmar* ulmar = program.Ulmar.get();
            if (TArchiveWriter* writer = program.Writer.get()) {
                // The request thread only copies the readings (under the exchange lock) and
                // formats the log line; the writer thread puts both on the disk.
                const QString logPath = program.Link->RequestLog().FileName();
                writer->SetDropLogFile(logPath);
                program.Link->ArchiveHook = [ulmar, writer](int code) {
                    writer->PostRows(CaptureArchiveBatch(*ulmar, code, NowDateTime()));
                };
                program.Link->LogSink = [writer, logPath](const QString& text) {
                    writer->PostLine(logPath, TLog::FormatLine(text));
                };
            } else {
                program.Link->ArchiveHook = [ulmar](int code) { ArchivePollAnswer(*ulmar, code); };
            }
        }
    } catch (...) {
    }
    // Standard buttons and dialogs in Russian.
    try {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral("qtbase_ru"),
                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            QCoreApplication::installTranslator(translator.get());
            program.Translator = std::move(translator);
        }
    } catch (...) {
    }
}

// After the main window has closed: device link, device object, archive settings.
void ShutDown(TProgram& program) {
    bool linkEnded = true;
    try {
        if (program.Link) {
            linkEnded = program.Link->Shutdown();
            DeviceLink = nullptr;
            if (linkEnded)
                program.Link.reset();
            else
                (void)program.Link.release(); // still in use by its thread: left to the exit
        }
    } catch (...) {
    }
    // Nothing posts any more once the link has ended: what waits goes to the disk (bounded).
    try {
        if (program.Writer && linkEnded) {
            program.Writer->Stop(WriterDrainMs);
            program.Writer.reset();
        } else if (program.Writer) {
            program.Writer->Stop(WriterDrainMs);
            (void)program.Writer.release(); // the link's thread may still post
        }
    } catch (...) {
    }
    try {
        if (linkEnded)
            program.Ulmar.reset();
        else
            (void)program.Ulmar.release();
    } catch (...) {
    }
    try {
        SaveArchiveSettings();
    } catch (...) {
    }
    try {
        if (linkEnded)
            program.Simulator.reset();
    } catch (...) {
    }
}

// The main window.
std::unique_ptr<QWidget> CreateMainWindow() {
    return std::make_unique<TFormMain>(DeviceLink);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const TStartOptions options = ParseOptions(arguments);

    TProgram program;
    StartUp(program, options, arguments);

    int result = 0;
    // The report layouts come before the main window and are reused by every report.
    CreateReportLayouts();
    {
        std::unique_ptr<QWidget> window = CreateMainWindow();
        window->show();
        // Runs the main window's own start command, with its checks, as the operator would.
        if (options.Poll)
            QTimer::singleShot(0, window.get(), [w = window.get()] {
                if (auto* start = w->findChild<QAction*>(QStringLiteral("actOprosStart")))
                    start->trigger();
            });
        // Leaves the event loop without the close confirmation, as scripts need.
        if (options.QuitAfterMs >= 0)
            QTimer::singleShot(options.QuitAfterMs, &app, [] { QCoreApplication::exit(0); });
        result = app.exec();
    }

    ShutDown(program);
    return result;
}
