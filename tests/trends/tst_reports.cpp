// The report layouts: the run report's texts and chart filled from the device object and the
// run window's chart, a second fill replacing the first, the page set-up and header, and PDF
// output that reports a failure instead of leaving half a file.

#include "Ulmar.h"
#include "rGraph.h"
#include "rProgon.h"
#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include "uServiceRecord.h"

#include <QImage>
#include <QPageLayout>
#include <QPrinter>
#include <QTest>
#include <qcustomplot.h>

namespace {
const QString Nbsp = QStringLiteral("\u00A0");
} // namespace

class TestReports : public QObject {
    Q_OBJECT

    std::unique_ptr<TTestDirs> Dirs;
    std::unique_ptr<TUlmar> Ulmar;

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }
    void init() {
        Dirs = std::make_unique<TTestDirs>();
        Ulmar = std::make_unique<TUlmar>(); // holds the run template
        Ulmar->PlantNumber = 1234;
        Ulmar->HardVersion = 3;
        Ulmar->SoftVersion = 17;
        Ulmar->NNZ = QStringLiteral("А-15/7");
    }
    void cleanup() {
        Ulmar.reset();
        Dirs.reset();
    }

    void progonTexts() {
        TRepProgon report;
        QCOMPARE(report.FormName, QStringLiteral("RepProgon"));
        QCOMPARE(report.Title, QStringLiteral("График"));
        QCOMPARE(report.Left.Min, -3.5);
        QCOMPARE(report.Bottom.TickStep, 2000.0);
        Ulmar->ProgonPoints[0].CurrentValue = 19.876;
        Ulmar->RecalcProgon();
        FillProgonReport(report, *Ulmar, ProgonChartView(*Ulmar));
        QCOMPARE(report.Title, QStringLiteral("Прогон УЛМАР"));
        QCOMPARE(report.qrlPlantNumber, QStringLiteral("1234"));
        QCOMPARE(report.qrlHardVersion, QStringLiteral("3"));
        QCOMPARE(report.qrlSoftVersion, QStringLiteral("17"));
        QCOMPARE(report.qrlNNZ, QStringLiteral("А-15/7"));
        QCOMPARE(report.qrlRuletka[0], QStringLiteral("1") + Nbsp + QStringLiteral("000"));
        QCOMPARE(report.qrlRuletka[1], QStringLiteral("4") + Nbsp + QStringLiteral("750"));
        QCOMPARE(report.qrlValue[0], QStringLiteral("15") + Nbsp + QStringLiteral("000,000"));
        QCOMPARE(report.qrlValue[4], QStringLiteral("0,000"));
        QCOMPARE(report.qrlDValue[2], QStringLiteral("0,000"));
        QCOMPARE(report.qrlCurrentValue[0], QStringLiteral("19,88"));
        QCOMPARE(report.qrlDCurrentValue[0], QStringLiteral("0,12"));
        QCOMPARE(report.qrlDCurrentValue[1], QStringLiteral("15,00"));
        QCOMPARE(report.Series1.Data.Count(), std::size_t(5));
        QCOMPARE(report.Series1.Data.MinX(), 0.0);
        QCOMPARE(report.Series1.Data.MaxX(), 15000.0);
        QCOMPARE(report.Left.Min, -3.5);
        QCOMPARE(report.Left.Max, 3.5);
        QCOMPARE(report.Left.Title, QStringLiteral("Разброс"));
        // No row taken by "Установить": the run test is not done, whatever its numbers.
        QCOMPARE(report.qrlVerdict, QStringLiteral("Заключение: не выполнен"));
    }

    // The verdict as the commissioning record gives it: every row taken and within the
    // tolerance of the settings (the edge included), one row beyond it, and a changed tolerance.
    void progonVerdict() {
        for (TProgonPoint& p : Ulmar->ProgonPoints) {
            p.Value = p.Sample;
            p.CurrentValue = p.CurrentSample;
            p.Taken = true;
        }
        Ulmar->ProgonPoints[2].Value = Ulmar->ProgonPoints[2].Sample - 3.0;
        Ulmar->RecalcProgon();
        TRepProgon report;
        FillProgonReport(report, *Ulmar, ProgonChartView(*Ulmar));
        QCOMPARE(report.qrlVerdict, QStringLiteral("Заключение: годен"));
        QCOMPARE(report.qrlTolerance, QStringLiteral("Допуск: ±") + QLocale().toString(3.0) +
                                          QStringLiteral(" мм, ±") + QLocale().toString(0.03) +
                                          QStringLiteral(" мА"));
        Ulmar->ProgonPoints[2].Value = Ulmar->ProgonPoints[2].Sample - 3.1;
        Ulmar->RecalcProgon();
        FillProgonReport(report, *Ulmar, ProgonChartView(*Ulmar));
        QCOMPARE(report.qrlVerdict, QStringLiteral("Заключение: не годен"));
        TIniFile ini(ServiceSettingsFile());
        ini.WriteString(QStringLiteral("Record"), QStringLiteral("LevelToleranceMm"),
                        QStringLiteral("3.5"));
        QVERIFY(ini.Save(true));
        FillProgonReport(report, *Ulmar, ProgonChartView(*Ulmar));
        QCOMPARE(report.qrlVerdict, QStringLiteral("Заключение: годен"));
    }

    void progonSecondFillReplaces() {
        TRepProgon report;
        FillProgonReport(report, *Ulmar, ProgonChartView(*Ulmar));
        // A point 4 mm off: the run chart's axis follows the points.
        Ulmar->ProgonPoints[1].Value = Ulmar->ProgonPoints[1].Sample - 4;
        Ulmar->RecalcProgon();
        Ulmar->NNZ.clear(); // an empty number prints nothing
        Ulmar->PlantNumber = 65535;
        TProgonChartView view = ProgonChartView(*Ulmar);
        view.Markers = false;
        FillProgonReport(report, *Ulmar, view);
        QCOMPARE(report.qrlNNZ, QString());
        QCOMPARE(report.qrlPlantNumber, QStringLiteral("65535"));
        QCOMPARE(report.qrlDValue[1], QStringLiteral("4,000"));
        QCOMPARE(report.Left.Max, 4.0);
        QCOMPARE(report.Left.Min, 0.0);
        QVERIFY(!report.Series1.Markers);
        QCOMPARE(report.Series1.Data.Count(), std::size_t(5));
    }

    void pageAndHeader() {
        QPrinter printer(QPrinter::ScreenResolution);
        TReportLayout::SetupPrinter(printer);
        const QPageLayout layout = printer.pageLayout();
        QCOMPARE(layout.orientation(), QPageLayout::Landscape);
        QCOMPARE(layout.pageSize().id(), QPageSize::A4);
        QCOMPARE(layout.margins(QPageLayout::Millimeter), QMarginsF(20, 20, 10, 20));
        TRepGraph report;
        report.PrintedAt = QDateTime(QDate(2024, 3, 5), QTime(9, 7, 3));
        QCOMPARE(report.DateText(), QStringLiteral("05.03.2024"));
        QCOMPARE(report.TimeText(), QStringLiteral("09:07:03"));
        // The band with its frame, painted at 4 dots a millimetre.
        QImage page(1100, 700, QImage::Format_RGB32);
        page.fill(Qt::white);
        {
            QCPPainter painter(&page);
            report.Paint(painter, 4.0);
        }
        // A dark pixel within a pixel of each edge of the frame.
        const auto dark = [&page](int x0, int y0, bool vertical) {
            for (int d = -1; d <= 1; ++d) {
                const int x = vertical ? x0 + d : x0;
                const int y = vertical ? y0 : y0 + d;
                if (x >= 0 && y >= 0 && qGray(page.pixel(x, y)) < 128)
                    return true;
            }
            return false;
        };
        QVERIFY(dark(0, 300, true));                             // left edge
        QVERIFY(dark(500, 0, false));                            // top edge
        QVERIFY(dark(qRound(267.2 * 4), 300, true));             // right edge
        QVERIFY(dark(500, qRound(169.6 * 4), false));            // bottom edge
        QVERIFY(!dark(150, 300, true) || !dark(151, 300, true)); // not filled
    }

    void pdfOrReportedFailure() {
        const QString pdf = Dirs->Root.filePath(QStringLiteral("run.pdf"));
        QString error;
        QVERIFY(SaveProgonReportPdf(*Ulmar, ProgonChartView(*Ulmar), pdf, &error));
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(4), QByteArray("%PDF"));
        const QString bad = Dirs->Root.filePath(QStringLiteral("missing/run.pdf"));
        QVERIFY(!SaveProgonReportPdf(*Ulmar, ProgonChartView(*Ulmar), bad, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir(Dirs->Root.path()).entryList({QStringLiteral("*.part")}).isEmpty());
    }
};

QTEST_MAIN(TestReports)
#include "tst_reports.moc"
