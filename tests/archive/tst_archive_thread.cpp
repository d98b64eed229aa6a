// A trend query on the user-interface thread while the request thread keeps inserting into
// the same table: no query may fail and no committed row may be missing.

#include "tests/support/TestDirs.h"
#include "uBDE.h"
#include "uDataCtrl.h"
#include "uParamStr.h"
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>

class TestArchiveConcurrency : public QObject {
    Q_OBJECT
private slots:
    void queryWhileInserting();
};

void TestArchiveConcurrency::queryWhileInserting() {
    TTestDirs dirs;
    SetArchiveRoot(QString());
    const TDateTime base = QtToDateTime(QDateTime(QDate(2024, 3, 5), QTime(1, 0)));
    const double ms = 1.0 / 86400000;
    QVERIFY(AddArchiveRecord("Lt", base, 0.0));
    const QString day = ArchiveDayDir(base);

    // A day's worth of rows, so that each query reads for a while.
    constexpr int Prefilled = 40000;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "fill");
        db.setDatabaseName(JoinPath(day, "Lt.db"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("BEGIN"));
        QVERIFY(q.prepare("INSERT INTO Lt (V, DT) VALUES (:V, :DT)"));
        for (int i = 1; i <= Prefilled; ++i) {
            q.bindValue(":V", double(i));
            q.bindValue(":DT", ArchiveDTText(base + i * ms));
            QVERIFY(q.exec());
        }
        QVERIFY(q.exec("COMMIT"));
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase("fill");

    std::atomic<int> stored{0};
    std::atomic<int> failed{0};
    std::atomic<bool> stop{false};
    std::unique_ptr<QThread> writer(QThread::create([&] {
        for (int i = 1; !stop.load() && i < 100000; ++i) {
            if (AddArchiveRecord("Lt", base + (Prefilled + i) * ms, Prefilled + i))
                stored.fetch_add(1);
            else
                failed.fetch_add(1);
        }
    }));
    // Stops and joins the writer on every way out, a failed check included.
    struct TJoin {
        std::atomic<bool>& Stop;
        QThread& Thread;
        ~TJoin() {
            Stop = true;
            Thread.wait();
        }
    } join{stop, *writer};
    writer->start();

    const QString statement = ArchiveSelectStatement("Lt", base, base + 0.5);
    int queries = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000 || queries < 5) {
        const int before = stored.load();
        bool ok = false;
        const auto rows = QueryArchive(day, statement, &ok);
        QVERIFY(ok);
        QVERIFY2(int(rows.size()) >= 1 + Prefilled + before,
                 qPrintable(QString("%1 rows, %2 stored").arg(rows.size()).arg(before)));
        for (size_t i = 0; i < rows.size(); ++i)
            QCOMPARE(rows[i].V, double(i));
        ++queries;
    }
    stop = true;
    QVERIFY(writer->wait(60000));

    QCOMPARE(failed.load(), 0);
    QVERIFY(stored.load() > 0);
    bool ok = false;
    const auto rows = QueryArchive(day, statement, &ok);
    QVERIFY(ok);
    QCOMPARE(int(rows.size()), 1 + Prefilled + stored.load());
    qInfo("%d queries, %d rows inserted meanwhile", queries, stored.load());
}

QTEST_GUILESS_MAIN(TestArchiveConcurrency)
#include "tst_archive_thread.moc"
