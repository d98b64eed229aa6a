#include "cli/uCliScan.h"
#include "cli/uCliSignals.h"
#include "commands/uBusScan.h"

#include <QJsonArray>

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
    if (!out.Json())
        scan.OnRow = [&out](const TScanRow& row) { out.Line(RowLine(row)); };
    const TBusJobReport report = scan.Scan(request.ScanFrom, request.ScanTo);
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
    if (CliInterrupted())
        return CliReportInterrupt(out, QStringLiteral("scan"), QString(), found);
    if (report.Rows.empty()) {
        out.Failure(CliError::NoAnswer,
                    QStringLiteral("scan: ни один прибор не ответил (адреса ") +
                        QString::number(request.ScanFrom) + QStringLiteral("..") +
                        QString::number(request.ScanTo) + QLatin1Char(')'),
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
