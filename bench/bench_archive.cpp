// Cost of archiving one all-readings poll (command 6: four table rows and four text lines)
// in a temporary archive root. Usage: bench_archive [polls, default 500]

#include "archive/uBDE.h"
#include "archive/uDataCtrl.h"
#include "devicelink/Ulmar.h"
#include "devicelink/uParamStr.h"
#include "devicelink/uPaths.h"
#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

double Percentile(std::vector<double> sorted, double p) {
    const size_t index = std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()));
    return sorted[index];
}

// Fills the table "Hu" of 1 January 2000 with one day of readings at the default poll period
// (200 ms) in one transaction; returns that day's directory.
QString FillDay(int rows) {
    const TDateTime day = QtToDateTime(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    const QString dir = ArchiveDayDir(day);
    QDir().mkpath(dir);
    if (!CreateArchiveTable(JoinPath(dir, QStringLiteral("Hu.db"))))
        return QString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(JoinPath(dir, QStringLiteral("Hu.db")));
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("BEGIN"));
            q.prepare(QStringLiteral("INSERT INTO Hu (V, DT) VALUES (:V, :DT)"));
            for (int i = 0; i < rows; ++i) {
                q.bindValue(QStringLiteral(":V"), 8000.0 + i * 0.001);
                q.bindValue(QStringLiteral(":DT"), ArchiveDTText(day + i * 0.2 / 86400));
                q.exec();
            }
            q.exec(QStringLiteral("COMMIT"));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return dir;
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 500;
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    SetProgramDir(dir.path());
    SetArchiveRoot(JoinPath(dir.path(), QStringLiteral("DATA")));

    TUlmar ulmar;
    using Clock = std::chrono::steady_clock;
    std::vector<double> costs;
    costs.reserve(polls);
    double first = 0.0;
    for (int i = 0; i <= polls; ++i) {
        ulmar.Distance->SetValue(TVariant::FromDouble(1500.0 + i * 0.1));
        ulmar.Level->SetValue(TVariant::FromDouble(8500.0 - i * 0.1));
        ulmar.LevelFree->SetValue(TVariant::FromDouble(1400.0 + i * 0.1));
        ulmar.Volume->SetValue(TVariant::FromDouble(42.0 + i * 0.01));
        const auto start = Clock::now();
        ArchivePollAnswer(ulmar, UlmarCmd::LevelAllRead);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (i == 0)
            first = ms; // creates the day tree and the four tables
        else
            costs.push_back(ms);
    }
    std::sort(costs.begin(), costs.end());

    const auto q0 = Clock::now();
    bool ok = false;
    const auto rows =
        QueryArchive(ArchiveDayDir(NowDateTime()), ArchiveSelectStatement("Lt", 0, 0), &ok);
    const double queryMs = std::chrono::duration<double, std::milli>(Clock::now() - q0).count();

    std::printf("command-6 poll archived %d times (4 rows + 4 text lines each)\n", polls);
    std::printf("first poll (creates tables): %.3f ms\n", first);
    std::printf("median: %.3f ms   p95: %.3f ms   max: %.3f ms\n", Percentile(costs, 0.5),
                Percentile(costs, 0.95), costs.back());
    std::printf("query of the Lt day table: %zu rows, %s, %.3f ms\n", rows.size(),
                ok ? "ok" : "FAILED", queryMs);

    // A trend over one full day of one table.
    const QString day = FillDay(432000);
    const auto q1 = Clock::now();
    bool dayOk = false;
    const auto dayRows = QueryArchive(day, ArchiveSelectStatement("Hu", 0, 0), &dayOk);
    std::printf("query of a full day (200 ms period): %zu rows, %s, %.1f ms\n", dayRows.size(),
                dayOk ? "ok" : "FAILED", MsSince(q1));
    return ok && dayOk ? 0 : 1;
}
