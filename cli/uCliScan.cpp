#include "cli/uCliScan.h"
#include "cli/uCliSignals.h"
#include "commands/uBusScan.h"
#include "devicelink/uRequestDevices.h"

#include <QJsonArray>
#include <QJsonDocument>

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
            {"note", row.Note}};
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
        out.Failure(QStringLiteral("scan: ") + report.Refusal);
        return ExitBadInput;
    }
    if (out.Json()) {
        QJsonArray rows;
        for (const TScanRow& row : report.Rows)
            rows.append(RowJson(row));
        out.Out() << QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact)) << '\n';
        out.Out().flush();
    }
    if (report.Rows.empty()) {
        if (CliInterrupted())
            return CliReportInterrupt(out, QStringLiteral("scan"));
        if (!out.Json())
            out.Failure(QStringLiteral("scan: ни один прибор не ответил (адреса ") +
                        QString::number(request.ScanFrom) + QStringLiteral("..") +
                        QString::number(request.ScanTo) + QStringLiteral("; ") +
                        session.Link().Transmitter()->Settings().LineText() + QLatin1Char(')'));
        return ExitLine;
    }
    for (const TScanRow& row : report.Rows)
        if (row.Flagged())
            return ExitDifferences;
    return ExitDone;
}
