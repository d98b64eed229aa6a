#include "uCliFind.h"
#include "uCliProgress.h"
#include "uCliSignals.h"
#include "uGaugeFinder.h"
#include "uRequestDevices.h"

#include <QJsonArray>
#include <unistd.h>

namespace {

QJsonObject GaugeJson(const TFoundGauge& g) {
    return {{"baudRate", g.BaudRate},       {"address", g.SystemAddress},
            {"plantNumber", g.PlantNumber}, {"unitType", g.UnitType},
            {"hardVersion", g.HardVersion}, {"softVersion", g.SoftVersion}};
}

QJsonObject RateJson(const TFinderRate& r) {
    return {{"baudRate", r.BaudRate},  {"answered", r.Answered255},
            {"garbled", r.Garbled255}, {"portFailed", r.PortFailed},
            {"found", r.Found},        {"notes", QJsonArray::fromStringList(r.Notes)}};
}

// "проверено скоростей: 15 из 15, найдено приборов: 1, время: 5,6 с" with a decimal point.
QString SummaryText(const TFinderReport& report, int total) {
    return QStringLiteral("проверено скоростей: %1 из %2, найдено приборов: %3, время: %4 с")
        .arg(report.Rates.size())
        .arg(total)
        .arg(report.Gauges.size())
        .arg(QString::number(double(report.ElapsedMs) / 1000.0, 'f', 1));
}

} // namespace

int CliFind(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TGaugeFinder finder(session.Commands(), nullptr);
    finder.StopCheck = [] { return CliInterrupted(); };
    const int total = static_cast<int>(TGaugeFinder::Rates().size());
    TProgressLine progress(!out.Quiet() && ::isatty(STDERR_FILENO));
    // Each gauge as it is found: a script sees it even when the search is stopped later.
    finder.OnGauge = [&out, &progress](const TFoundGauge& g) {
        progress.Clear();
        if (out.Json())
            out.Object(GaugeJson(g));
        else
            out.Line(TGaugeFinder::GaugeText(g));
    };
    const TFinderReport report =
        finder.Find(request.ScanFrom, request.ScanTo, {}, [&](int index, const QString& status) {
            progress.Show(QStringLiteral("скорость %1 из %2, ").arg(index + 1).arg(total) + status +
                          QStringLiteral("…"));
        });
    progress.Clear();
    if (!report.Refusal.isEmpty()) {
        out.Failure(CliError::BadArgument, QStringLiteral("find: ") + report.Refusal);
        return ExitBadInput;
    }

    QJsonArray rates;
    QStringList flagged; // what a rate's scan marked: collisions, answers not told apart
    for (const TFinderRate& r : report.Rates) {
        rates.append(RateJson(r));
        for (const QString& note : r.Notes)
            flagged << QString::number(r.BaudRate) + QStringLiteral(" бод: ") + note;
    }
    // The port's refusals at single rates (an adapter without the fastest rates) are told, and
    // are no fault of the line.
    if (report.PortError.isEmpty())
        for (const TFinderRate& r : report.Rates)
            if (r.PortFailed)
                out.Note(QString::number(r.BaudRate) +
                         QStringLiteral(" бод: порт не открылся с этой скоростью"));
    if (!out.Json())
        for (const QString& note : flagged)
            out.Note(note);
    const QJsonObject summary{{"from", report.From},
                              {"to", report.To},
                              {"ratesTried", static_cast<int>(report.Rates.size())},
                              {"rateCount", total},
                              {"gaugesFound", static_cast<int>(report.Gauges.size())},
                              {"requests", report.Requests},
                              {"elapsedMs", report.ElapsedMs},
                              {"rates", rates}};
    out.Note(SummaryText(report, total));
    // A search cut short has not tried every rate: it never ends as done.
    if (report.Stopped || CliInterrupted())
        return CliReportInterrupt(out, QStringLiteral("find"), QString(), summary);
    if (!report.PortError.isEmpty()) {
        out.Failure(CliError::PortNotOpened, QStringLiteral("find: ") + report.PortError, summary);
        return ExitLine;
    }
    if (report.Gauges.empty() && flagged.isEmpty()) {
        out.Failure(CliError::NoAnswer,
                    QStringLiteral("find: ни один прибор не ответил ни на одной скорости "
                                   "(адрес 255 и адреса ") +
                        QString::number(report.From) + QStringLiteral("..") +
                        QString::number(report.To) + QStringLiteral("; ") +
                        session.Link().Transmitter()->Settings().Port + QLatin1Char(')'),
                    summary);
        return ExitLine;
    }
    if (!flagged.isEmpty()) {
        if (out.Json())
            out.Failure(CliError::Differences,
                        QStringLiteral("find: требуют внимания: ") +
                            flagged.join(QStringLiteral("; ")),
                        summary);
        return ExitDifferences;
    }
    if (out.Json())
        out.Object(summary);
    return ExitDone;
}
