#include "uCliTare.h"
#include "Ulmar.h"
#include "uCliOutFile.h"
#include "uCliSignals.h"
#include "uTara.h"
#include "uTareCommands.h"
#include "uTareFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocale>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

// Questions on the terminal: the question on stderr (stdout stays for the results), the answer
// read from stdin; only "y", "yes", "д" or "да" is Yes. With --yes every question is answered
// Yes without asking. A stop signal ends the wait for the answer (No, and the sequence sees the
// program closing).
class TTerminalUi : public TQuietCommandUi {
public:
    explicit TTerminalUi(bool yes) : Yes_(yes) {}
    bool Ask(const QString& text) override {
        Questions << text;
        if (Yes_)
            return true;
        QTextStream err(stderr);
        err << text << QStringLiteral(" (да/нет) ");
        err.flush();
        QByteArray line;
        const TCliLineRead read = CliReadLine(STDIN_FILENO, line);
        // A closed input or a signal left the cursor after the question: what follows starts a
        // line.
        if (read != TCliLineRead::Line) {
            err << QLatin1Char('\n');
            err.flush();
        }
        if (read == TCliLineRead::Interrupted)
            return false;
        const QString answer = QString::fromUtf8(line).trimmed().toLower();
        return answer == QLatin1String("y") || answer == QLatin1String("yes") ||
               answer == QStringLiteral("д") || answer == QStringLiteral("да");
    }

private:
    bool Yes_;
};

QString NativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QJsonValue JsonPointValue(double x) {
    return std::isfinite(x) ? QJsonValue(x) : QJsonValue();
}

// The lines of the tare file FILE (or standard input), at most a tare file's size; false with
// the reason, the file named, when it cannot be read.
bool ReadTareInput(const TCliRequest& request, QStringList& lines, QString& error) {
    const TCliInputFile file(request.File, TareFileMaxBytes);
    if (file.Path().isEmpty()) {
        error = file.Error();
        return false;
    }
    QString text;
    if (!ReadTareFile(file.Path(), text, error)) {
        error = file.Shown(error).replace(QLatin1Char('\r'), QStringLiteral(" "));
        return false;
    }
    lines = TareLines(text);
    return true;
}

} // namespace

bool CliLoadTareFile(const TCliRequest& request, QStringList& lines, QString& error) {
    if (!ReadTareInput(request, lines, error))
        return false;
    const QString unfit = TareUnfitForGauge(lines, request.Name);
    if (!unfit.isEmpty()) {
        error =
            (CliStandardStream(request.File) ? CliStandardInputName() : NativePath(request.File)) +
            QStringLiteral(": ") + unfit;
        return false;
    }
    return true;
}

bool CliLoadTareCompare(TCliRequest& request, QStringList& lines, QString& error) {
    if (!ReadTareInput(request, lines, error))
        return false;
    const QString shown =
        CliStandardStream(request.File) ? CliStandardInputName() : NativePath(request.File);
    if (request.Name.isEmpty()) {
        const QStringList names = TareTableNames(lines);
        if (names.size() != 1) {
            error = shown + (names.isEmpty() ? QStringLiteral(": в файле нет таблиц")
                                             : QStringLiteral(": в файле несколько таблиц, нужно "
                                                              "--name ТАБЛИЦА"));
            return false;
        }
        request.Name = names.first();
    }
    TTaraTable table;
    QStringList problems;
    if (!ReadTareTable(lines, request.Name, table, &problems)) {
        error = shown + QStringLiteral(": таблица ") + request.Name +
                QStringLiteral(" не прочитана") +
                (problems.isEmpty() ? QString() : QStringLiteral(": ") + problems.first());
        return false;
    }
    return true;
}

int CliTareCompare(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                   const QStringList& lines) {
    TTerminalUi ui(true);
    TGaugeCommands commands(&session.Link(), ui);
    TTareCommands tare(commands, nullptr);
    const TTareCompareResult r = tare.CompareWithGauge(lines, request.Name);
    if (!r.Read) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("tare compare"));
        QString error = r.Message;
        error.replace(QLatin1Char('\n'), QStringLiteral(": "));
        const char* code = r.Refused ? CliError::BadFile : CliError::NoAnswer;
        out.Failure(code, QStringLiteral("tare compare: ") + error);
        return r.Refused ? ExitBadInput : ExitLine;
    }
    const QStringList texts = TareDifferenceLines(r.Differences, QLocale::c());
    if (out.Json()) {
        QJsonArray differences;
        for (const TTarePointDifference& d : r.Differences)
            differences.append(QJsonObject{{"row", d.Point},
                                           {"level", JsonPointValue(d.LevelA)},
                                           {"volume", JsonPointValue(d.VolumeA)},
                                           {"gaugeLevel", JsonPointValue(d.LevelB)},
                                           {"gaugeVolume", JsonPointValue(d.VolumeB)}});
        out.Result(QJsonObject{{"ok", r.Same()},
                               {"same", r.Same()},
                               {"table", r.Table},
                               {"rows", r.Rows},
                               {"gaugeRows", r.GaugeRows},
                               {"differences", differences},
                               {"message", r.Message}},
                   r.Same() ? nullptr : CliError::Differences,
                   QStringLiteral("tare compare: ") + r.Message);
    } else {
        out.Line(r.Message);
        for (const QString& line : texts)
            out.Line(line);
        out.Out().flush();
    }
    return r.Same() ? ExitDone : ExitDifferences;
}

int CliTareRead(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TTerminalUi ui(true);
    TGaugeCommands commands(&session.Link(), ui);
    TTareCommands tare(commands, nullptr);
    QString error;
    bool silent = false;
    // A table written to a named file is also kept beside it under the gauge's plant number.
    const bool keep = !request.File.isEmpty() && !CliStandardStream(request.File);
    std::optional<quint16> plant;
    if (!tare.ReadFromGauge(&error, &silent, keep ? &plant : nullptr)) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("tare read"),
                                      request.File.isEmpty() ? QString()
                                                             : QStringLiteral("файл не записан"));
        // No file is written from half a table.
        error.replace(QLatin1Char('\n'), QStringLiteral(": "));
        if (!request.File.isEmpty())
            error += QStringLiteral("; файл не записан");
        out.Failure(silent ? CliError::NoAnswer : CliError::Refused,
                    QStringLiteral("tare read: ") + error);
        return silent ? ExitLine : ExitDifferences;
    }
    const auto& points = session.Ulmar().TareTable;
    const QString text = GaugeTareText(points);
    QString message;
    if (!request.File.isEmpty()) {
        const auto write = [&text](const QString& staged, QString& why) {
            return WriteTareFile(staged, text, why);
        };
        if (!CliWriteOut(request, out, write, error)) {
            out.Failure(CliError::BadFile, error.replace(QLatin1Char('\r'), QStringLiteral(" ")));
            return ExitBadInput;
        }
        if (!CliStandardStream(request.File))
            message = QStringLiteral("записан файл ") + NativePath(request.File);
    }
    QString gaugeFile;
    if (keep && plant) {
        const QString path = GaugeTareFilePath(QFileInfo(request.File).absolutePath(), *plant,
                                               QDateTime::currentDateTime());
        QString why;
        if (WriteTareFile(path, text, why)) {
            gaugeFile = path;
            message += QStringLiteral(", ") + NativePath(path);
        } else {
            out.ErrorLine(why.replace(QLatin1Char('\r'), QStringLiteral(" ")));
        }
    } else if (keep) {
        out.ErrorLine(QStringLiteral("tare read: заводской номер прибора не считан, файл с номером "
                                     "не записан"));
    }
    if (out.Json()) {
        QJsonArray list;
        for (const TTarePoint& p : points)
            if (!TarePointEmpty(p))
                list.append(QJsonObject{{"level", JsonPointValue(p.Level)},
                                        {"volume", JsonPointValue(p.Volume)}});
        out.Object({{"points", list},
                    {"file", request.File.isEmpty() ? QJsonValue() : request.File},
                    {"gaugeFile", gaugeFile.isEmpty() ? QJsonValue() : gaugeFile}});
    } else {
        if (request.File.isEmpty())
            out.Out() << text;
        else if (!message.isEmpty())
            out.Line(message);
        out.Out().flush();
    }
    return ExitDone;
}

int CliTareWrite(const TCliRequest& request, TCliSession& session, TCliOutput& out,
                 const QStringList& lines) {
    TTerminalUi ui(request.Yes);
    TGaugeCommands commands(&session.Link(), ui);
    TTareCommands tare(commands, nullptr);
    const TTareWriteResult r = tare.WriteToGauge(lines, request.Name);
    if (r.Stopped)
        return CliReportInterrupt(out, QStringLiteral("tare write"),
                                  QStringLiteral("в ПЗУ не сохранено"));
    QString message = r.Message;
    message.replace(QLatin1Char('\n'), QStringLiteral(": "));
    if (out.Json()) {
        QJsonObject o{{"ok", r.Committed},
                      {"committed", r.Committed},
                      {"refused", r.Refused},
                      {"message", message},
                      {"mismatches", QJsonArray::fromStringList(r.Mismatches)}};
        out.Result(o,
                   r.Committed  ? nullptr
                   : r.NoAnswer ? CliError::NoAnswer
                                : CliError::Refused,
                   QStringLiteral("tare write: ") + message);
    } else if (r.Committed) {
        out.Line(message);
    } else {
        for (const QString& m : r.Mismatches)
            out.Line(m);
        out.Failure(r.NoAnswer ? CliError::NoAnswer : CliError::Refused,
                    QStringLiteral("tare write: ") + message);
    }
    if (r.Committed)
        return ExitDone;
    return r.NoAnswer ? ExitLine : ExitDifferences;
}
