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
#include <cstdint>
#include <cstring>
#include <sqlite3.h>

class TArchiveReadConnection {
public:
    TArchiveReadConnection() = default;
    TArchiveReadConnection(const TArchiveReadConnection&) = delete;
    TArchiveReadConnection& operator=(const TArchiveReadConnection&) = delete;
    ~TArchiveReadConnection() { Close(); }

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

// The day count and the digits of a stored time, as the trend loader reads them.
namespace ArchiveDT {

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
inline std::int64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The `count` decimal digits at p as a number; false at any other character.
inline bool Digits(const unsigned char* p, int count, int& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned c = static_cast<unsigned>(p[i]) - '0';
        if (c > 9)
            return false;
        value = value * 10 + static_cast<int>(c);
    }
    return true;
}

} // namespace ArchiveDT

// Reads DT as stored, "yyyy-MM-dd HH:mm:ss.zzz" (or without the milliseconds), as milliseconds
// since 1 January 1970 of the naive local scale. The date of the previous row is remembered:
// a day table repeats one date.
class TArchiveDTParser {
public:
    bool Parse(const unsigned char* t, int n, std::int64_t& ms) {
        if (!t || (n != 19 && n != 23) || t[10] != ' ')
            return false;
        if (std::memcmp(t, Date_, 10) != 0 && !ParseDate(t))
            return false;
        int h, mi, s, z = 0;
        if (!ArchiveDT::Digits(t + 11, 2, h) || t[13] != ':' || !ArchiveDT::Digits(t + 14, 2, mi) ||
            t[16] != ':' || !ArchiveDT::Digits(t + 17, 2, s) || h > 23 || mi > 59 || s > 59)
            return false;
        if (n == 23 && (t[19] != '.' || !ArchiveDT::Digits(t + 20, 3, z)))
            return false;
        ms = DayMs_ + ((h * 60 + mi) * 60 + s) * 1000 + z;
        return true;
    }

private:
    bool ParseDate(const unsigned char* t) {
        int y, mo, d;
        if (!ArchiveDT::Digits(t, 4, y) || t[4] != '-' || !ArchiveDT::Digits(t + 5, 2, mo) ||
            t[7] != '-' || !ArchiveDT::Digits(t + 8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31)
            return false;
        std::memcpy(Date_, t, 10);
        DayMs_ = ArchiveDT::DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) *
                 86400000;
        return true;
    }

    unsigned char Date_[10] = {};
    std::int64_t DayMs_ = 0;
};
