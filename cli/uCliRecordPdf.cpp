#include "uCliRecordPdf.h"

#include "uCliArgs.h"
#include "uCliOutFile.h"
#include "uCliRecord.h"
#include "uCliSession.h"
#include "uRecordReport.h"
#include "uServiceRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

int CliRecordPdf(const TCliRequest& r, TCliOutput& out) {
    const QString folder = r.Folder;
    const QString explicitOut = r.File;
    TServiceRecord record;
    QString error;
    // A wrong --out is refused before anything is read, as the other commands' --out.
    if (!explicitOut.isEmpty()) {
        error = OutputPathRefusal(explicitOut, r.Force);
        if (!error.isEmpty()) {
            out.Failure(CliError::BadArgument, QStringLiteral("record pdf: ") + error);
            return ExitBadInput;
        }
    }
    if (!QFileInfo(folder).isDir()) {
        out.Failure(CliError::BadFile, QStringLiteral("record pdf: нет папки сеанса ") +
                                           QDir::toNativeSeparators(folder));
        return ExitBadInput;
    }
    if (!LoadServiceRecord(QDir(folder).filePath(QString::fromLatin1(ServiceRecordFile)), record,
                           error)) {
        out.Failure(CliError::BadFile, QStringLiteral("record pdf: ") + error);
        return ExitBadInput;
    }
    const QString path =
        explicitOut.isEmpty() ? QDir(folder).filePath(QStringLiteral("record.pdf")) : explicitOut;
    int pages = 0;
    const bool written = WriteOutputFile(
        path, explicitOut.isEmpty() || r.Force,
        [&record, &pages](const QString& staged, QString& reason) {
            return WriteRecordPdf(record, staged, &reason, &pages);
        },
        error);
    if (!written) {
        out.Failure(CliError::OutputFailed, QStringLiteral("record pdf: ") + error);
        return ExitLine;
    }
    if (out.Json()) {
        out.Object({{"pdf", QDir::toNativeSeparators(path)},
                    {"pages", pages},
                    {"verdict", CliRecordVerdictJson(record)}});
        return ExitDone;
    }
    out.Line(QStringLiteral("Протокол: %1 (страниц: %2), заключение: %3")
                 .arg(QDir::toNativeSeparators(path))
                 .arg(pages)
                 .arg(RecordVerdictText(record)));
    return ExitDone;
}
