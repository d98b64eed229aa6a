#pragma once
// Day tables written straight through SQLite, as the archive stores them (table V, DT text
// "yyyy-MM-dd HH:mm:ss.zzz"), many rows at once and in any order; and files damaged on purpose.
// For tests that link SQLite (archive_trend). Test main thread only.

#include "uDataCtrl.h"
#include "uParamStr.h"
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <sqlite3.h>

// Rows given as (local date-time, value), written in the given order into the table of the
// first row's day (created anew), in one transaction with the rollback journal, so that every
// row lies in the .db file itself. The path of the file; empty on failure.
inline QString WriteDayTable(const QString& table, const QList<QPair<QDateTime, double>>& rows) {
    if (rows.isEmpty())
        return {};
    const QString dir = ArchiveDayDir(QtToDateTime(rows.first().first));
    const QString file = JoinPath(dir, table + QStringLiteral(".db"));
    if (!QDir().mkpath(dir) || !CreateArchiveTable(file))
        return {};
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return {};
    }
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql = "INSERT INTO " + table.toLatin1() + " (V, DT) VALUES (?1, ?2)";
    bool ok = sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK;
    for (const auto& [at, value] : rows) {
        if (!ok)
            break;
        const QByteArray dt = at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
        sqlite3_bind_double(stmt, 1, value);
        sqlite3_bind_text(stmt, 2, dt.constData(), static_cast<int>(dt.size()), SQLITE_TRANSIENT);
        ok = sqlite3_step(stmt) == SQLITE_DONE && sqlite3_reset(stmt) == SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    sqlite3_close(db);
    return ok ? file : QString();
}

// A row of a day table with the gauge's plant number (below 0: NULL, no known gauge).
struct TGaugeRow {
    QDateTime At;
    double Value = 0.0;
    int PlantNumber = -1;
};

// Rows written in the given order into the table of the first row's day, as WriteDayTable does.
// withPlantNumber false makes the table as files were made before the plant number was kept
// (V and DT only; every PlantNumber is left out). The path of the file; empty on failure.
inline QString WriteGaugeDayTable(const QString& table, const QList<TGaugeRow>& rows,
                                  bool withPlantNumber = true) {
    if (rows.isEmpty())
        return {};
    const QString dir = ArchiveDayDir(QtToDateTime(rows.first().At));
    const QString file = JoinPath(dir, table + QStringLiteral(".db"));
    QFile::remove(file);
    if (!QDir().mkpath(dir))
        return {};
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {};
    }
    const QByteArray create =
        "CREATE TABLE " + table.toLatin1() +
        (withPlantNumber ? " (V REAL, DT TEXT, PN INTEGER)" : " (V REAL, DT TEXT)");
    bool ok = sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt* stmt = nullptr;
    const QByteArray sql =
        "INSERT INTO " + table.toLatin1() +
        (withPlantNumber ? " (V, DT, PN) VALUES (?1, ?2, ?3)" : " (V, DT) VALUES (?1, ?2)");
    ok = ok && sqlite3_prepare_v2(db, sql.constData(), -1, &stmt, nullptr) == SQLITE_OK;
    for (const TGaugeRow& row : rows) {
        if (!ok)
            break;
        const QByteArray dt = row.At.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
        sqlite3_bind_double(stmt, 1, row.Value);
        sqlite3_bind_text(stmt, 2, dt.constData(), static_cast<int>(dt.size()), SQLITE_TRANSIENT);
        if (withPlantNumber) {
            if (row.PlantNumber < 0)
                sqlite3_bind_null(stmt, 3);
            else
                sqlite3_bind_int(stmt, 3, row.PlantNumber);
        }
        ok = sqlite3_step(stmt) == SQLITE_DONE && sqlite3_reset(stmt) == SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    sqlite3_close(db);
    return ok ? file : QString();
}

// `count` rows a `stepMs` apart from `first` taking turns among the gauges, as a line polled in
// rotation writes them: row k belongs to gauges[k % size], value gauge * 1000 + k.
inline QList<TGaugeRow> InterleavedRows(const QDateTime& first, int count, int stepMs,
                                        const QList<int>& gauges) {
    QList<TGaugeRow> rows;
    for (int k = 0; k < count; ++k) {
        const int g = gauges.at(k % gauges.size());
        rows.append({first.addMSecs(qint64(k) * stepMs), g * 1000.0 + k, g});
    }
    return rows;
}

// `count` rows a `stepMs` apart from `first`, value k for the k-th row.
inline QList<QPair<QDateTime, double>> EvenRows(const QDateTime& first, int count, int stepMs) {
    QList<QPair<QDateTime, double>> rows;
    for (int k = 0; k < count; ++k)
        rows.append({first.addMSecs(qint64(k) * stepMs), double(k)});
    return rows;
}

// Cuts the file to `fraction` of its size (a copy that broke off part-way).
inline bool CutFile(const QString& path, double fraction) {
    QFile f(path);
    return f.resize(static_cast<qint64>(f.size() * fraction));
}

// Overwrites [from, to) of the file, as fractions of its size, with a byte that is no valid
// page type (damaged pages in the middle).
inline bool SpoilFile(const QString& path, double from, double to) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const qint64 a = static_cast<qint64>(f.size() * from);
    const qint64 b = static_cast<qint64>(f.size() * to);
    return f.seek(a) && f.write(QByteArray(b - a, char(0xA5))) == b - a;
}

// Replaces the file by as many bytes of noise.
inline bool NoiseFile(const QString& path) {
    QFile f(path);
    const qint64 size = f.size();
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray noise(size, '\0');
    quint32 x = 2463534242u;
    for (char& c : noise) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return f.write(noise) == size;
}
