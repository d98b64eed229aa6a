#include "uCliScan.h"
#include "uBusScan.h"
#include "uCliProgress.h"
#include "uCliSignals.h"
#include "uRequestDevices.h"

#include <QJsonArray>
#include <algorithm>
#include <unistd.h>

namespace {

QJsonValue Known(const TScanRow& row, int value) {
    return row.Identified ? QJsonValue(value) : QJsonValue();
}

QJsonObject RowJson(const TScanRow& row) {
    return {{"number", row.Number},
            {"askedAddress", row.Asked},
            {"systemAddress", row.SystemAddress},
            {"plantNumber", Known(row, row.PlantNumber)},
            {"unitType", Known(row, row.UnitType)},
            {"hardVersion", Known(row, row.HardVersion)},
            {"softVersion", Known(row, row.SoftVersion)},
            {"collision", row.Collision},
            {"wrongAddress", row.WrongAddress},
            {"duplicatePlant", row.DuplicatePlant},
            {"note", row.Note.isEmpty() ? QJsonValue() : QJsonValue(row.Note)}};
}

QString RowLine(const TScanRow& row) {
    QString line =
        QStringLiteral("адрес ") + QString::number(row.SystemAddress) + QStringLiteral(": ");
    if (row.Identified)
        line += QStringLiteral("заводской номер ") + QString::number(row.PlantNumber) +
                QStringLiteral(", тип ") + QString::number(row.UnitType) + QStringLiteral(", АВ ") +
                QString::number(row.HardVersion) + QStringLiteral(", ПВ ") +
                QString::number(row.SoftVersion);
    if (!row.Note.isEmpty())
        line += (row.Identified ? QStringLiteral(" — ") : QString()) + row.Note;
    return line;
}

} // namespace

int CliScan(const TCliRequest& request, TCliSession& session, TCliOutput& out) {
    TBusScan scan(session.Commands(), nullptr);
    scan.StopCheck = [] { return CliInterrupted(); };
    const int total = request.ScanTo - request.ScanFrom + 1;
    TProgressLine progress(!out.Quiet() && ::isatty(STDERR_FILENO));
    if (!out.Json())
        scan.OnRow = [&out, &progress](const TScanRow& row) {
            progress.Clear();
            out.Line(RowLine(row));
        };
    int steps = 0; // progress calls: one before each address, and one more when stopped
    const TBusJobReport report =
        scan.Scan(request.ScanFrom, request.ScanTo, [&](int position, const QString&) {
            ++steps;
            progress.Show(
                QStringLiteral("адрес %1 из %2…").arg(position - request.ScanFrom + 1).arg(total));
        });
    progress.Clear();
    if (!report.Refusal.isEmpty()) {
        out.Failure(CliError::BadArgument, QStringLiteral("scan: ") + report.Refusal);
        return ExitBadInput;
    }
    // One object with every gauge found, whatever the end.
    QJsonArray rows;
    QStringList flagged;
    for (const TScanRow& row : report.Rows) {
        rows.append(RowJson(row));
        if (row.Flagged())
            flagged << QString::number(row.SystemAddress);
    }
    const QJsonObject found{{"from", request.ScanFrom}, {"to", request.ScanTo}, {"gauges", rows}};
    // A scan cut short has looked at part of the line only: it never ends as done.
    if (report.Stopped || CliInterrupted()) {
        const int probed = std::min(report.Stopped ? steps - 1 : steps, total);
        out.Note(QStringLiteral("опрошено адресов: %1 из %2, найдено приборов: %3")
                     .arg(probed)
                     .arg(total)
                     .arg(report.Rows.size()));
        return CliReportInterrupt(out, QStringLiteral("scan"), QString(), found);
    }
    if (report.Rows.empty()) {
        out.Failure(CliError::NoAnswer,
                    QStringLiteral("scan: ни один прибор не ответил (адреса ") +
                        QString::number(request.ScanFrom) + QStringLiteral("..") +
                        QString::number(request.ScanTo) + QStringLiteral("; ") +
                        session.Link().Transmitter()->Settings().LineText() + QLatin1Char(')'),
                    found);
        return ExitLine;
    }
    if (!flagged.isEmpty()) {
        if (out.Json())
            out.Failure(CliError::Differences,
                        QStringLiteral("scan: требуют внимания адреса ") +
                            flagged.join(QStringLiteral(", ")),
                        found);
        return ExitDifferences;
    }
    if (out.Json())
        out.Object(found);
    return ExitDone;
}
