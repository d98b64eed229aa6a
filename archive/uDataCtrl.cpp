#include "uDataCtrl.h"

#include "Ulmar.h"
#include "uBDE.h"
#include "uLog.h"
#include "uParamStr.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <span>
#include <system_error>

#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#else
#include <QStorageInfo>
#endif

namespace {

const QDate Epoch(1899, 12, 30);
constexpr qint64 MsPerDay = 86400000;
// 1 January 0001 to 31 December 9999: the stamps that name a day directory.
constexpr double MinStamp = -693593.0;
constexpr double MaxStamp = 2958466.0;

const QString DTFormatDate = QStringLiteral("yyyy-MM-dd");
const QString DTFormatTime = QStringLiteral("HH:mm:ss.zzz");

// A stamp split into its local date and time of day, rounded to the millisecond. Splitting by
// hand keeps times that a time-zone change skips exactly as they were stamped.
struct TStamp {
    QDate Date;
    QTime Time;
    // The day count of the rounded stamp, so that the day path and DT always agree.
    TDateTime Value() const {
        return static_cast<double>(Epoch.daysTo(Date)) +
               Time.msecsSinceStartOfDay() / static_cast<double>(MsPerDay);
    }
    QString DTText() const {
        return Date.toString(DTFormatDate) + u' ' + Time.toString(DTFormatTime);
    }
};

bool SplitStamp(TDateTime stamp, TStamp& out) {
    if (!std::isfinite(stamp) || stamp < MinStamp || stamp > MaxStamp)
        return false;
    const qint64 totalMs = qRound64(stamp * static_cast<double>(MsPerDay));
    qint64 days = totalMs / MsPerDay;
    qint64 ms = totalMs % MsPerDay;
    if (ms < 0) {
        ms += MsPerDay;
        --days;
    }
    out.Date = Epoch.addDays(days);
    out.Time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms));
    return out.Date.isValid() && out.Time.isValid();
}

// Reads DT as stored ("yyyy-MM-dd HH:mm:ss.zzz", or without the milliseconds). Parsed by hand:
// a trend reads a whole day of rows.
bool ParseDT(const QString& text, TDateTime& out) {
    if (text.size() != 19 && text.size() != 23)
        return false;
    const auto number = [&text](int from, int count, int& value) {
        value = 0;
        for (int i = from; i < from + count; ++i) {
            const char16_t c = text.at(i).unicode();
            if (c < u'0' || c > u'9')
                return false;
            value = value * 10 + (c - u'0');
        }
        return true;
    };
    int y, mo, d, h, mi, s, ms = 0;
    if (!number(0, 4, y) || text.at(4) != u'-' || !number(5, 2, mo) || text.at(7) != u'-' ||
        !number(8, 2, d) || text.at(10) != u' ' || !number(11, 2, h) || text.at(13) != u':' ||
        !number(14, 2, mi) || text.at(16) != u':' || !number(17, 2, s))
        return false;
    if (text.size() == 23 && (text.at(19) != u'.' || !number(20, 3, ms)))
        return false;
    const QDate date(y, mo, d);
    if (!date.isValid() || !QTime::isValid(h, mi, s, ms))
        return false;
    out = static_cast<double>(Epoch.daysTo(date)) +
          (((h * 60 + mi) * 60 + s) * 1000 + ms) / static_cast<double>(MsPerDay);
    return true;
}

QString DayDir(const TStamp& stamp) {
    return JoinPath(ArchiveRoot(), ArchiveDayPath(stamp.Value()));
}

// The locale's long time format without its time-zone fields ('t' outside quotes).
QString LongTimeFormat(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't')
            continue;
        result += c;
    }
    return result.simplified();
}

QString TextStamp(const TStamp& stamp) {
    const QLocale locale;
    return locale.toString(stamp.Date, QLocale::ShortFormat) + u' ' +
           locale.toString(stamp.Time, LongTimeFormat(locale));
}

// Connection names are unique per thread and call: a connection belongs to its thread.
QString NewConnectionName() {
    static std::atomic<quint64> counter{0};
    return QStringLiteral("archive-%1-%2")
        .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16)
        .arg(++counter);
}

// Opens `file` as a SQLite URI with the given parameters ("mode=rw" never creates a file,
// "mode=rwc" does), runs `work`, then closes and removes the connection. False when the file
// cannot be opened (the error goes to openError) or `work` fails.
template <typename Work>
bool WithConnection(const QString& file, const QString& parameters, Work&& work,
                    QSqlError* openError = nullptr) {
    QString name;
    bool result = false;
    {
        QSqlDatabase db = AddArchiveConnection(file, parameters);
        name = db.connectionName();
        if (db.open()) {
            result = work(db);
            db.close();
        } else if (openError) {
            *openError = db.lastError();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

bool Exec(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    return query.exec(statement);
}

std::filesystem::path FsPath(const QString& path) {
    return std::filesystem::path(QDir::toNativeSeparators(path).toStdU16String());
}

// Renames `from` over `to`. A name the file system's encoding cannot spell (a lone UTF-16
// surrogate) fails like a refused rename, through `error`.
void ReplaceFile(const QString& from, const QString& to, std::error_code& error) {
    try {
        std::filesystem::rename(FsPath(from), FsPath(to), error);
    } catch (const std::filesystem::filesystem_error& e) {
        error = e.code();
    }
}

bool InsertRow(const QString& file, const QString& table, double value, const QString& dt,
               int plantNumber, const TArchiveMedia& media) {
    const bool wal = ArchiveUsesWal(QFileInfo(file).path(), media);
    return WithConnection(file, QStringLiteral("mode=rw"), [&](QSqlDatabase& db) {
        // A table left in write-ahead mode goes back to the rollback journal on a network share.
        if (!wal)
            Exec(db, QStringLiteral("PRAGMA journal_mode=DELETE"));
        // The close right after the insert checkpoints and syncs the table.
        Exec(db, QStringLiteral("PRAGMA synchronous=NORMAL"));
        QSqlQuery query(db);
        bool withPlantNumber = false;
        if (!PrepareArchiveInsert(query, table, withPlantNumber))
            return false;
        BindArchiveRow(query, withPlantNumber, value, dt, plantNumber);
        return query.exec();
    });
}

struct TArchivedValue {
    QString Table;
    std::unique_ptr<TIODouble> TUlmar::*Value;
    int Decimals;
};

// The tables that a poll answer fills, in writing order. Built once: the request thread takes
// them for every poll.
std::span<const TArchivedValue> ArchivedValuesOf(int code) {
    static const TArchivedValue freq[] = {{QStringLiteral("Freq"), &TUlmar::Freq, 2}};
    static const TArchivedValue distance[] = {{QStringLiteral("Lt"), &TUlmar::Distance, 1}};
    static const TArchivedValue level[] = {{QStringLiteral("Hu"), &TUlmar::Level, 1}};
    static const TArchivedValue levelFree[] = {{QStringLiteral("Lc"), &TUlmar::LevelFree, 1}};
    static const TArchivedValue volume[] = {{QStringLiteral("V"), &TUlmar::Volume, 1}};
    static const TArchivedValue freqOpCh[] = {{QStringLiteral("FreqOpCh"), &TUlmar::FreqOpCh, 2}};
    static const TArchivedValue levelAll[] = {{QStringLiteral("Lt"), &TUlmar::Distance, 1},
                                              {QStringLiteral("Hu"), &TUlmar::Level, 1},
                                              {QStringLiteral("Lc"), &TUlmar::LevelFree, 1},
                                              {QStringLiteral("V"), &TUlmar::Volume, 2}};
    static const TArchivedValue temperature[] = {
        {QStringLiteral("TempSVCH"), &TUlmar::TempSVCH, 0}};
    static const TArchivedValue current[] = {
        {QStringLiteral("CurrentOutput"), &TUlmar::CurrentOutput, 1}};
    switch (code & 127) {
    case UlmarCmd::FreqRead:
        return freq;
    case UlmarCmd::DistanceRead:
        return distance;
    case UlmarCmd::LevelRead:
        return level;
    case UlmarCmd::LevelFreeRead:
        return levelFree;
    case UlmarCmd::VolumeRead:
        return volume;
    case UlmarCmd::FreqOpChRead:
        return freqOpCh;
    case UlmarCmd::LevelAllRead:
        return levelAll;
    case UlmarCmd::TemperSVChModuleRead:
        return temperature;
    case UlmarCmd::KalistCurrent:
        return current;
    default:
        return {};
    }
}

} // namespace

const std::vector<TArchiveTable>& ArchiveTables() {
    static const std::vector<TArchiveTable> tables = {
        {QStringLiteral("Hu"), QStringLiteral("Уровень, мм")},
        {QStringLiteral("Lt"), QStringLiteral("Расстояние, мм")},
        {QStringLiteral("Lc"), QStringLiteral("Свободное пространство, мм")},
        {QStringLiteral("V"), QStringLiteral("Объем, %")},
        {QStringLiteral("Freq"), QStringLiteral("Оценка частоты биений")},
        {QStringLiteral("FreqOpCh"), QStringLiteral("Частота опорного канала")},
        {QStringLiteral("TempSVCH"), QStringLiteral("Температура СВЧ модуля, °C")},
        {QStringLiteral("CurrentOutput"), QStringLiteral("Ток, мА")}};
    return tables;
}

const TArchiveTable* FindArchiveTable(const QString& name) {
    for (const TArchiveTable& table : ArchiveTables())
        if (table.Name == name)
            return &table;
    return nullptr;
}

namespace {

// SQLite's result code for a file it cannot open (the low byte of the extended codes).
constexpr int SqliteCantOpen = 14;

bool IsCannotOpen(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok && (code & 0xFF) == SqliteCantOpen;
}

// True when the table file's header asks for write-ahead logging (read version 2).
bool HeaderSaysWal(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = f.read(20);
    return header.size() == 20 && header.at(19) == 2;
}

enum class TRead { Done, Failed, CannotOpen };

// One attempt of a query with the given URI parameters.
TRead ReadRows(const QString& file, const QString& parameters, const QString& statement,
               std::vector<TArchiveRow>& rows) {
    rows.clear();
    TRead result = TRead::Failed;
    QSqlError openError;
    const bool done = WithConnection(
        file, parameters,
        [&](QSqlDatabase& db) {
            // The statement never writes, whatever the connection may.
            if (!Exec(db, QStringLiteral("PRAGMA query_only=ON")))
                return false;
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(statement)) {
                if (IsCannotOpen(query.lastError()))
                    result = TRead::CannotOpen;
                return false;
            }
            const int dtIndex = query.record().indexOf(QStringLiteral("DT"));
            const int vIndex = query.record().indexOf(QStringLiteral("V"));
            if (dtIndex < 0 || vIndex < 0)
                return false;
            while (query.next()) {
                TArchiveRow row;
                const QVariant v = query.value(vIndex);
                if (v.isNull() || !ParseDT(query.value(dtIndex).toString(), row.DT))
                    continue;
                row.V = v.toDouble();
                rows.push_back(row);
            }
            return !query.lastError().isValid();
        },
        &openError);
    if (done)
        return TRead::Done;
    if (IsCannotOpen(openError))
        result = TRead::CannotOpen;
    return result;
}

} // namespace

bool IsArchiveTableName(const QString& name) {
    const auto letter = [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    };
    return !name.isEmpty() && letter(name.front()) &&
           std::all_of(name.cbegin(), name.cend(),
                       [&](QChar c) { return letter(c) || (c >= u'0' && c <= u'9'); });
}

QString ArchiveDayDir(TDateTime stamp) {
    TStamp parts;
    return SplitStamp(stamp, parts) ? DayDir(parts) : QString();
}

QString ArchiveDTText(TDateTime stamp) {
    TStamp parts;
    return SplitStamp(stamp, parts) ? parts.DTText() : QString();
}

QString ArchiveSelectStatement(const QString& table, TDateTime start, TDateTime stop,
                               int plantNumber) {
    QStringList conditions;
    if (start != 0.0)
        conditions << QStringLiteral("(DT>='%1')").arg(ArchiveDTText(start));
    if (stop != 0.0)
        conditions << QStringLiteral("(DT<='%1')").arg(ArchiveDTText(stop));
    if (plantNumber >= 0)
        conditions << QStringLiteral("(PN=%1)").arg(plantNumber);
    QStringList lines{QStringLiteral("SELECT DT, V"), QStringLiteral("FROM ") + table};
    if (!conditions.isEmpty()) {
        lines << QStringLiteral("WHERE");
        lines << conditions.join(QStringLiteral("\nAND\n"));
    }
    lines << QStringLiteral("ORDER BY DT");
    return lines.join(u'\n');
}

QString FormatArchiveValue(double value, int precision, int decimals) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    precision = std::clamp(precision, 1, 17);
    decimals = std::clamp(decimals, 0, 18);
    // Written as the system's number format writes them wherever a value is printed.
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    const double rounded = QString::number(value, 'e', precision - 1).toDouble();
    if (std::fabs(rounded) >= std::pow(10.0, precision))
        return locale.toString(rounded, 'e', precision - 1);
    // Rounded once, at whichever keeps fewer digits: the decimals or the significant digits
    // (rounding to 9 digits first would turn 0.124999999996 into 0.13).
    const QString digits = QString::number(value, 'e', 16);
    const int exponent = digits.mid(digits.indexOf(u'e') + 1).toInt();
    QString text =
        locale.toString(exponent + decimals + 1 <= precision ? value : rounded, 'f', decimals);
    // A value that rounds to zero is written without its minus sign.
    if (text.startsWith(locale.negativeSign()) &&
        std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'1' && c <= u'9'; }))
        text.remove(0, locale.negativeSign().size());
    return text;
}

QString ArchiveTextStamp(TDateTime stamp) {
    TStamp parts;
    return SplitStamp(stamp, parts) ? TextStamp(parts) : QString();
}

bool CreateArchiveTable(const QString& path, const TArchiveMedia& media) {
    const QFileInfo info(path.trimmed());
    const QString table = info.completeBaseName();
    if (!IsArchiveTableName(table) || !info.dir().exists())
        return false;
    const QString target = info.absoluteFilePath();
    static std::atomic<quint64> counter{0};
    const QString temp = QStringLiteral("%1.%2-%3.tmp")
                             .arg(target)
                             .arg(QCoreApplication::applicationPid())
                             .arg(++counter);
    QFile::remove(temp);
    const bool wal = ArchiveUsesWal(info.path(), media);
    const bool built = WithConnection(temp, QStringLiteral("mode=rwc"), [&](QSqlDatabase& db) {
        return Exec(db,
                    QStringLiteral("CREATE TABLE %1 (V REAL, DT TEXT, PN INTEGER)").arg(table)) &&
               (!wal || Exec(db, QStringLiteral("PRAGMA journal_mode=WAL")));
    });
    if (built && info.exists()) {
        // A log or journal left by the replaced table must not be replayed into the new one.
        for (const char* suffix : {"-wal", "-shm", "-journal"})
            QFile::remove(target + QLatin1String(suffix));
    }
    std::error_code error;
    if (built)
        ReplaceFile(temp, target, error);
    if (!built || error) {
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-journal"));
        return false;
    }
    return true;
}

bool PrepareArchiveInsert(QSqlQuery& insert, const QString& table, bool& withPlantNumber) {
    withPlantNumber = insert.prepare(
        QStringLiteral("INSERT INTO %1 (V, DT, PN) VALUES (:V, :DT, :PN)").arg(table));
    return withPlantNumber ||
           insert.prepare(QStringLiteral("INSERT INTO %1 (V, DT) VALUES (:V, :DT)").arg(table));
}

void BindArchiveRow(QSqlQuery& insert, bool withPlantNumber, double value, const QString& dt,
                    int plantNumber) {
    insert.bindValue(QStringLiteral(":V"), value);
    insert.bindValue(QStringLiteral(":DT"), dt);
    if (withPlantNumber)
        insert.bindValue(QStringLiteral(":PN"), plantNumber < 0
                                                    ? QVariant(QMetaType::fromType<int>())
                                                    : QVariant(plantNumber));
}

bool AddArchiveRecord(const QString& name, TDateTime stamp, double value,
                      const TArchiveMedia& media, int plantNumber) {
    const QString table = name.trimmed();
    TStamp parts;
    if (!IsArchiveTableName(table) || !SplitStamp(stamp, parts))
        return false;
    const QString dir = DayDir(parts);
    if (!QDir().mkpath(dir))
        return false;
    const QString file = JoinPath(dir, table + QStringLiteral(".db"));
    if (!QFileInfo::exists(file) && !CreateArchiveTable(file, media))
        return false;
    return InsertRow(file, table, value, parts.DTText(), plantNumber, media);
}

QByteArray ArchiveTextLine(TDateTime stamp, double value, int precision, int decimals) {
    TStamp parts;
    if (!SplitStamp(stamp, parts))
        return QByteArray();
    return (TextStamp(parts) + u' ' + FormatArchiveValue(value, precision, decimals) +
            QStringLiteral("\r\n"))
        .toUtf8();
}

bool AddArchiveText(const QString& name, TDateTime stamp, double value, int precision,
                    int decimals) {
    const QString table = name.trimmed();
    const QString dir = ArchiveDayDir(stamp);
    if (!IsArchiveTableName(table) || dir.isEmpty())
        return false;
    return AppendLineToFile(JoinPath(dir, table + QStringLiteral(".txt")),
                            ArchiveTextLine(stamp, value, precision, decimals));
}

TArchiveBatch CaptureArchiveBatch(const TUlmar& ulmar, int code, TDateTime stamp) {
    const std::span<const TArchivedValue> items = ArchivedValuesOf(code);
    TArchiveBatch batch;
    batch.reserve(items.size());
    for (const TArchivedValue& item : items)
        if (const TIODouble* value = (ulmar.*item.Value).get())
            batch.push_back(
                {item.Table, stamp, value->AsDouble(), item.Decimals, int(ulmar.PlantNumber)});
    return batch;
}

void WriteArchiveBatch(const TArchiveBatch& batch) {
    for (const TArchiveReading& reading : batch) {
        AddArchiveRecord(reading.Table, reading.Stamp, reading.Value, {}, reading.PlantNumber);
        AddArchiveText(reading.Table, reading.Stamp, reading.Value, ArchiveTextPrecision,
                       reading.Decimals);
    }
}

void ArchivePollAnswer(const TUlmar& ulmar, int code) {
    WriteArchiveBatch(CaptureArchiveBatch(ulmar, code, NowDateTime()));
}

QSqlDatabase AddArchiveConnection(const QString& file, const QString& parameters) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), NewConnectionName());
    const QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
    db.setDatabaseName(url.toString(QUrl::FullyEncoded) + u'?' + parameters);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1;QSQLITE_OPEN_URI").arg(ArchiveBusyTimeoutMs));
    return db;
}

bool ArchiveUsesWal(const QString& dir, const TArchiveMedia& media) {
    if (media.NetworkShare)
        return false;
    // The day directory may not exist yet: its nearest existing parent lies on the same mount
    // unless the day directory itself becomes a mount point.
    QString path = QFileInfo(dir).absoluteFilePath();
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return false;
        path = parent;
    }
#ifdef Q_OS_LINUX
    struct statfs fs {};
    if (::statfs(QFile::encodeName(path).constData(), &fs) != 0)
        return false; // unknown: the rollback journal is safe everywhere
    switch (static_cast<quint32>(fs.f_type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE
        return false;
    default:
        return true;
    }
#else
    const QByteArray type = QStorageInfo(path).fileSystemType().toLower();
    for (const char* remote : {"nfs", "smb", "cifs", "fuse", "afpfs", "webdav"})
        if (type.startsWith(remote))
            return false;
    return !type.isEmpty();
#endif
}

std::vector<TArchiveRow> QueryArchive(const QString& dayDir, const QString& statement, bool* ok,
                                      const TArchiveMedia& media) {
    std::vector<TArchiveRow> rows;
    bool done = false;
    // One object per call: a pattern object is not shared between threads.
    const QRegularExpression fromTable(QStringLiteral("\\bFROM\\s+(\\w+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QString table = fromTable.match(statement).captured(1);
    const QString file = JoinPath(dayDir, table + QStringLiteral(".db"));
    if (IsArchiveTableName(table) && QFileInfo(file).isFile()) {
        const bool readOnlyMedia = media.ReadOnlyOpenFails || !QFileInfo(dayDir).isWritable();
        // A read-only connection to a table in write-ahead mode creates its "-wal" and
        // "-shm" files and cannot remove them. Where the directory is writable such a table
        // is opened read-write (the statement still cannot write), so that the last
        // connection to close folds the log back and removes both files.
        const QString mode = !readOnlyMedia && HeaderSaysWal(file) ? QStringLiteral("mode=rw")
                                                                   : QStringLiteral("mode=ro");
        TRead read = TRead::CannotOpen;
        if (!media.ReadOnlyOpenFails)
            read = ReadRows(file, mode, statement, rows);
        // Where SQLite cannot make the files it reads a write-ahead table with, the table
        // is read as it lies, without locks: nothing can write there meanwhile.
        if (read == TRead::CannotOpen && readOnlyMedia)
            read = ReadRows(file, QStringLiteral("mode=ro&immutable=1"), statement, rows);
        done = read == TRead::Done;
    }
    if (!done)
        rows.clear();
    if (ok)
        *ok = done;
    return rows;
}
