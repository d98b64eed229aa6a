#pragma once
// One read connection to a day table file of the archive, as the trend loader and the plant
// archive's shipper open it while the writer thread writes the same files: never creating a
// file, never writing one, never holding the writer up longer than the busy time-out. Closed
// when it goes out of scope. Archive layer only (SQLite's C API).

#include "uDataCtrl.h"
#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QUrl>
#include <sqlite3.h>

class TArchiveReadConnection {
public:
    TArchiveReadConnection() = default;
    TArchiveReadConnection(const TArchiveReadConnection&) = delete;
    TArchiveReadConnection& operator=(const TArchiveReadConnection&) = delete;
    ~TArchiveReadConnection() {
        if (Stmt_)
            sqlite3_finalize(Stmt_);
        if (Db_)
            sqlite3_close_v2(Db_);
    }

    // Opens the existing table file for reading and prepares `sql`. Tries, in order: read-write
    // without create (so the last reader folds the write-ahead log back, as the writer expects)
    // with writes refused, read-only, and read-only on unchangeable media. No flag creates a file.
    bool Open(const QString& file, const QByteArray& sql) {
        const QByteArray uri = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath())
                                   .toString(QUrl::FullyEncoded)
                                   .toUtf8();
        const struct {
            const char* Query;
            int Flags;
            bool QueryOnly;
        } attempts[] = {
            {"?mode=rw", SQLITE_OPEN_READWRITE, true},
            {"?mode=ro", SQLITE_OPEN_READONLY, false},
            {"?mode=ro&immutable=1", SQLITE_OPEN_READONLY, false},
        };
        for (const auto& a : attempts) {
            Close();
            const QByteArray name = uri + a.Query;
            if (sqlite3_open_v2(name.constData(), &Db_,
                                a.Flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK)
                continue;
            sqlite3_busy_timeout(Db_, ArchiveBusyTimeoutMs);
            if (a.QueryOnly &&
                sqlite3_exec(Db_, "PRAGMA query_only=1", nullptr, nullptr, nullptr) != SQLITE_OK)
                continue;
            sqlite3_exec(Db_, "PRAGMA mmap_size=268435456", nullptr, nullptr, nullptr);
            if (Prepare(sql))
                return true;
            // A file cut short (fewer pages than its header says) is refused as corrupt unless
            // the schema is taken as it stands; then the pages that are there can be read.
            // Nothing is written either way: the connection is query-only or read-only.
            if ((sqlite3_errcode(Db_) & 0xFF) == SQLITE_CORRUPT &&
                sqlite3_exec(Db_, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr) ==
                    SQLITE_OK &&
                Prepare(sql))
                return true;
        }
        Close();
        return false;
    }

    sqlite3* Db() const { return Db_; }
    sqlite3_stmt* Statement() const { return Stmt_; }

    // Replaces the prepared statement of an open connection by `sql`.
    bool Prepare(const QByteArray& sql) {
        if (Stmt_)
            sqlite3_finalize(Stmt_);
        Stmt_ = nullptr;
        return sqlite3_prepare_v2(Db_, sql.constData(), static_cast<int>(sql.size()), &Stmt_,
                                  nullptr) == SQLITE_OK;
    }

private:
    void Close() {
        if (Stmt_)
            sqlite3_finalize(Stmt_);
        Stmt_ = nullptr;
        if (Db_)
            sqlite3_close_v2(Db_);
        Db_ = nullptr;
    }

    sqlite3* Db_ = nullptr;
    sqlite3_stmt* Stmt_ = nullptr;
};
