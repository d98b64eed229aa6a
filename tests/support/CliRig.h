#pragma once
// ulmar-cli run as a script runs it, against ulmar-sim on a pseudo-terminal, in temporary
// program and working directories. Test main thread only.

#include "tests/support/FileBytes.h"
#include "tests/support/PlainUser.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestTerminal.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <memory>

// One ulmar-sim process and the port it serves (empty when it did not start).
class TSimProcess {
public:
    explicit TSimProcess(const QStringList& options, bool plainUser = false) {
        if (plainUser)
            StartAsPlainUser(Process);
        Process.start(QStringLiteral(ULMAR_SIM_PATH), options);
        if (Process.waitForStarted(5000) && Process.waitForReadyRead(5000))
            Port = QString::fromLocal8Bit(Process.readLine()).trimmed();
    }
    ~TSimProcess() {
        Process.terminate();
        Process.waitForFinished(5000);
    }
    QProcess Process;
    QString Port;
};

// What one ulmar-cli run came to; Exit is -1 when it crashed or did not end in time.
struct TCliRun {
    int Exit = -1;
    QByteArray Out;
    QByteArray Err;
    QString Text() const { return QString::fromUtf8(Out); }
    QString ErrText() const { return QString::fromUtf8(Err); }
    QStringList Lines() const { return Text().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QJsonObject Json() const { return QJsonDocument::fromJson(Out).object(); }
    QList<QJsonObject> JsonLines() const {
        QList<QJsonObject> lines;
        for (const QByteArray& line : Out.split('\n'))
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }
};

// The parameter called `name` in a JSON list of parameters ({"name", "fileKey", "value"} each);
// an empty object when it is not there.
inline QJsonObject JsonParamNamed(const QJsonArray& list, const QString& name) {
    for (const QJsonValue& p : list)
        if (p.toObject().value(QStringLiteral("name")).toString() == name)
            return p.toObject();
    return {};
}

// A local time as ulmar-cli writes it: ISO 8601 with milliseconds and the UTC offset.
inline QString IsoLocal(const QDateTime& local) {
    const int offset = local.offsetFromUtc() / 60;
    const int magnitude = offset < 0 ? -offset : offset;
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
               .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

// The CSV of ulmar-cli: the byte order mark, then the lines, each ended by CR LF.
inline QByteArray CsvText(const QStringList& lines) {
    QByteArray text("\xEF\xBB\xBF");
    for (const QString& line : lines)
        text += line.toUtf8() + "\r\n";
    return text;
}

// The "error" member's code and message of a ulmar-cli JSON object (empty when it has none).
inline QString ErrorCode(const QJsonObject& o) {
    return o.value(QStringLiteral("error")).toObject().value(QStringLiteral("code")).toString();
}
inline QString ErrorMessage(const QJsonObject& o) {
    return o.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
}

// What a finished process left: its exit code (-1 when it crashed), stdout and stderr.
inline TCliRun FinishedRun(QProcess& p) {
    TCliRun run;
    run.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.Out = p.readAllStandardOutput();
    run.Err = p.readAllStandardError();
    return run;
}

// Runs a program to its end with `input` on its standard input; the process's environment and
// working directory are set on `p` beforehand.
inline TCliRun RunProgram(QProcess& p, const QString& program, const QStringList& arguments,
                          const QByteArray& input = {}) {
    p.start(program, arguments);
    if (p.waitForStarted(5000)) {
        p.write(input);
        p.closeWriteChannel();
    }
    if (!p.waitForFinished(60000))
        return {};
    return FinishedRun(p);
}

// The base of a ulmar-cli test: fresh directories for every test function, a simulator started
// on demand and ComPort.ini naming its port.
class TCliTest : public QObject {
protected:
    std::unique_ptr<TTestDirs> Dirs;
    std::unique_ptr<TSimProcess> Sim;
    // Options every simulator of the test gets before its own.
    QStringList SimBase{QStringLiteral("--delay"), QStringLiteral("1")};

    // Runs the simulator and ulmar-cli as the plain user (see StartAsPlainUser).
    bool PlainUser = false;

    bool StartSim(const QStringList& options = {}) {
        Sim = std::make_unique<TSimProcess>(SimBase + options, PlainUser);
        return Sim->Port.startsWith(QLatin1String("/dev/")) && UsePort(Sim->Port);
    }
    // ComPort.ini of the working directory names the port, with short time-outs.
    bool UsePort(const QString& port) {
        TIniFile ini(JoinPath(JoinPath(Dirs->Work(), "INI"), "ComPort.ini"));
        ini.WriteString("Transmitter", "Port", port);
        ini.WriteInteger("Transmitter", "ReadInterval", 5);
        ini.WriteInteger("Transmitter", "ReadTotalConstant", 100);
        ini.WriteInteger("Transmitter", "ReadTotalMultiplier", 1);
        return ini.Save(false);
    }
    // Variables added to ulmar-cli's environment (NAME, value).
    QList<std::pair<QString, QString>> Environment;

    // ulmar-cli in the test's directories, with `input` on its standard input.
    TCliRun Cli(const QStringList& arguments, const QByteArray& input = {}) {
        QProcess p;
        if (PlainUser)
            StartAsPlainUser(p);
        if (!Environment.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const auto& [name, value] : Environment)
                env.insert(name, value);
            p.setProcessEnvironment(env);
        }
        return RunProgram(p, QStringLiteral(ULMAR_CLI_PATH),
                          QStringList{"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog()} +
                              arguments,
                          input);
    }
    // As Cli, with `terminal` in place of standard input (fd 0) or error (fd 2); what the
    // program showed on it is added to `shown`.
    TCliRun CliOnTerminal(TTestTerminal& terminal, int fd, const QStringList& arguments,
                          QByteArray* shown = nullptr) {
        QProcess p;
        const bool plain = PlainUser && RunningAsRoot();
        p.setChildProcessModifier([&terminal, fd, plain] {
            terminal.Attach(fd);
            if (plain && !BecomePlainUser())
                ::_exit(126);
        });
        p.start(QStringLiteral(ULMAR_CLI_PATH),
                QStringList{"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog()} + arguments);
        TCliRun run;
        if (!p.waitForStarted(5000))
            return run;
        p.closeWriteChannel();
        // The terminal is read while the program runs, so that it never waits on a full one.
        QByteArray seen;
        const QDeadlineTimer deadline(60000);
        while (!p.waitForFinished(50) && !deadline.hasExpired())
            seen += terminal.Shown();
        seen += terminal.Shown();
        if (shown)
            *shown += seen;
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished(5000);
            return run;
        }
        return FinishedRun(p);
    }
    QString File(const char* name) const { return Dirs->Prog() + "/" + name; }
    void NewDirs() { Dirs = std::make_unique<TTestDirs>(); }
    void DropDirs() {
        Sim.reset();
        Dirs.reset();
        PlainUser = false;
        Environment.clear();
    }
};
