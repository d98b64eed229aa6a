// The two-parameter trend window: a message per missing table, each vertical axis scrolled by
// its own span, show-all along Y on a flat distance, the read-out in both number forms, live
// points of both values, the shared settings, its report, and the cursors over both lines.

#include "fGraph.h"
#include "fGraph2.h"
#include "rGraph2.h"
#include "tests/trends/TrendRig.h"

#include <QAction>
#include <QLabel>
#include <QTest>

namespace {

using Rig = TTrendRig;
const QString Lt = QStringLiteral("Lt");
const QString Temp = QStringLiteral("TempSVCH");

} // namespace

class TestFormGraph2 : public QObject {
    Q_OBJECT

    std::unique_ptr<Rig> R;
    std::unique_ptr<TIODouble> Distance;
    std::unique_ptr<TIODouble> Temperature;

    std::unique_ptr<TFormGraph2> Open(TDateTime start, TDateTime stop) {
        auto form = std::make_unique<TFormGraph2>();
        form->Open(Distance.get(), Temperature.get(), start, stop);
        return form;
    }

private slots:
    void init() {
        R = std::make_unique<Rig>();
        Distance = std::make_unique<TIODouble>();
        Distance->Description()->Title = QStringLiteral("Расстояние");
        Distance->Description()->Dimension = QStringLiteral("мм");
        Distance->Description()->SetRange(0, 10000);
        Distance->Description()->Digits = 0;
        Temperature = std::make_unique<TIODouble>();
        Temperature->Description()->Title = QStringLiteral("Температура СВЧ модуля");
        Temperature->Description()->Dimension = QStringLiteral("°C");
        Temperature->Description()->SetRange(-40, 80);
        Temperature->Description()->Digits = 0;
    }
    void cleanup() {
        Distance.reset();
        Temperature.reset();
        R.reset();
    }

    void identity() {
        TFormGraph2 form;
        QCOMPARE(form.objectName(), QStringLiteral("FormGraph2"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Lт-Расстояние, Температура СВЧ модуля"));
        QVERIFY(!form.Action(QStringLiteral("actYRangeChange")));
        QVERIFY(!form.Action(QStringLiteral("actYRangeSet")));
        QVERIFY(!form.Action(QStringLiteral("actSet4Milimeters")));
        QCOMPARE(form.PanelCount(), 5);
        QCOMPARE(form.Panel(TFormGraph2::PanelPoint)->minimumWidth(), 400);
        QCOMPARE(form.Chart1->Right()->range().lower, -40.0);
        QCOMPARE(form.Chart1->Right()->range().upper, 80.0);
        QVERIFY(!form.Chart1->Right()->grid()->visible());
        QVERIFY(!form.Chart1->IsAutomatic(form.Chart1->Right()));
        QCOMPARE(form.TrendValue->Description()->Title, QStringLiteral("Значение 1"));
        QCOMPARE(form.TrendValue2->Description()->Hint, QStringLiteral("Значение параметра 2"));
    }

    // Both lines under each cursor, each snapped to its own nearest reading (the temperature is
    // written at other moments than the distance), with the rate in its own unit per minute;
    // the export's default name holds both signs.
    void cursorsReadBothLines() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Lt, t0, t0 + 0.01, 10, [](int k) { return 3000.0 - k; });
        Rig::Fill(Temp, t0 + 4.0 / 86400, t0 + 0.01, 60, [](int k) { return 20.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QCOMPARE(form->ExportFileName(QStringLiteral("csv")),
                 QStringLiteral("Lт-Т_2024-03-05.csv"));
        form->SetCursors(true);
        const double x0 = TrendXFromDateTime(t0);
        form->PlaceCursor(0, x0 + 1);
        form->PlaceCursor(1, x0 + 119);
        const QStringList lines = form->CursorPanel->text().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), QStringLiteral("Lт: 1) 05.03.24 12:00:00.000 = 3\u00A0000 мм; 2) "
                                             "05.03.24 12:02:00.000 = 2\u00A0988 мм; ΔT = "
                                             "00:02:00.000; ΔY = -12 мм; скорость = -6,00 мм/мин"));
        QCOMPARE(lines.at(1), QStringLiteral("Т: 1) 05.03.24 12:00:04.000 = 20 °C; 2) 05.03.24 "
                                             "12:02:04.000 = 22 °C; ΔT = 00:02:00.000; ΔY = 2 °C; "
                                             "скорость = 1,00 °C/мин"));
    }

    void messagePerMissingTable_data() {
        QTest::addColumn<bool>("distanceRows");
        QTest::addColumn<bool>("temperatureRows");
        QTest::addColumn<QStringList>("messages");
        const QString text = QStringLiteral("Отсутствуют данные для параметра - ");
        QTest::newRow("distance only")
            << true << false << QStringList{text + "Температура СВЧ модуля"};
        QTest::newRow("temperature only") << false << true << QStringList{text + "Расстояние"};
        QTest::newRow("neither") << false << false
                                 << QStringList{text + "Расстояние",
                                                text + "Температура СВЧ модуля"};
        QTest::newRow("both") << true << true << QStringList{};
    }
    void messagePerMissingTable() {
        QFETCH(bool, distanceRows);
        QFETCH(bool, temperatureRows);
        QFETCH(QStringList, messages);
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        if (distanceRows)
            AddArchiveRecord(Lt, t0, 5000);
        if (temperatureRows)
            AddArchiveRecord(Temp, t0, 25);
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QStringList seen;
        for (const TSeenBox& b : R->Boxes) {
            seen << b.Text;
            QCOMPARE(b.Caption, QStringLiteral("Внимание"));
            QCOMPARE(b.Icon, QMessageBox::Warning);
        }
        QCOMPARE(seen, messages);
        QCOMPARE(form->Series1->Data.Count(), std::size_t(distanceRows ? 1 : 0));
        QCOMPARE(form->Series2->Data.Count(), std::size_t(temperatureRows ? 1 : 0));
    }

    // Page Up moves each axis by a tenth of its own span: a -40...80 °C axis moves by 12 °C,
    // not by the 1000 mm of a 0...10 000 mm distance axis.
    void eachAxisScrollsByItsOwnSpan() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Lt, t0, t0 + 0.01, 60, [](int k) { return 12000.0 + k; });
        Rig::Fill(Temp, t0, t0 + 0.01, 60, [](int k) { return 90.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QCOMPARE(form->Chart1->Left()->range().upper, 10000.0);
        QCOMPARE(form->Chart1->Right()->range().upper, 80.0);
        QTest::keyClick(form.get(), Qt::Key_PageUp);
        QCOMPARE(form->Chart1->Left()->range().lower, 1000.0);
        QCOMPARE(form->Chart1->Right()->range().lower, -28.0);
        QCOMPARE(form->Chart1->Right()->range().upper, 92.0);
        QTest::keyClick(form.get(), Qt::Key_Up);
        QCOMPARE(form->Chart1->Left()->range().lower, 1100.0);
        QCOMPARE(form->Chart1->Right()->range().lower, -26.8);
        // No temperature lies below the axis: Page Down moves only what has data beyond it.
        form->Chart1->SetAxisRange(form->Chart1->Right(), 0, 120);
        form->Chart1->SetAxisRange(form->Chart1->Left(), 12050, 13000);
        QTest::keyClick(form.get(), Qt::Key_PageDown);
        QCOMPARE(form->Chart1->Right()->range().lower, 0.0);
        QCOMPARE(form->Chart1->Left()->range().lower, 11955.0);
    }

    void showAllYLeavesRightAxis() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Lt, t0, t0 + 0.01, 60, [](int) { return 4321.0; });
        Rig::Fill(Temp, t0, t0 + 0.01, 60, [](int k) { return 20.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        form->ShowAllX();
        form->Chart1->SetAxisRange(form->Chart1->Right(), -10, 50);
        form->ShowAllY();
        const QCPRange left = form->Chart1->Left()->range();
        QVERIFY(left.lower < 4321.0 && left.upper > 4321.0);
        QVERIFY(left.size() <= 0.02 + 1e-9); // a flat line: shown with a small margin only
        QCOMPARE(form->Chart1->Right()->range().lower, -10.0);
        form->ShowAllXY();
        QCOMPARE(form->Chart1->Right()->range().upper, 50.0);
        form->UndoZoom();
        QCOMPARE(form->Chart1->Left()->range().upper, 10000.0);
        QCOMPARE(form->Chart1->Right()->range().lower, -40.0);
    }

    void readout_data() {
        QTest::addColumn<int>("digits1");
        QTest::addColumn<int>("digits2");
        QTest::addColumn<QString>("text");
        QTest::newRow("decimals") << 1 << 0
                                  << QStringLiteral(
                                         " 05.03.24 12:00:00 Lт= 4\u00A0321,5, ммТ=21, °C");
        QTest::newRow("plain") << 255 << 255
                               << QStringLiteral(" 05.03.24 12:00:00 Расстояние 4321,46Т= 21,25");
    }
    void readout() {
        QFETCH(int, digits1);
        QFETCH(int, digits2);
        QFETCH(QString, text);
        Distance->Description()->Digits = static_cast<std::uint8_t>(digits1);
        Temperature->Description()->Digits = static_cast<std::uint8_t>(digits2);
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        auto form = Open(t0 - 0.1, t0 + 0.1);
        emit form->Chart1->MouseValues(TrendXFromDateTime(t0), 4321.46, 21.25);
        QCOMPARE(form->Panel(TFormGraph2::PanelPoint)->text(), text);
    }

    void livePointsOfBothValues() {
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        form->ApplyStep(1);
        form->ScanOn();
        form->Chart1->SetAxisRange(form->Chart1->Right(), -40, 80);
        Distance->SetValue(TVariant::FromDouble(5000));
        Temperature->SetValue(TVariant::FromDouble(95)); // beyond the right axis
        QCOMPARE(form->Series1->Data.Count(), std::size_t(1));
        QCOMPARE(form->Series2->Data.Count(), std::size_t(1));
        QCOMPARE(form->Series2->Data.At(0).Y, 95.0);
        // Following moves the time axis to the newest point but never a vertical axis.
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().upper -
                          TrendXFromDateTime(NowDateTime())) < 1);
        QCOMPARE(form->Chart1->Right()->range().upper, 80.0);
    }

    void sharedSettings() {
        R->WriteIni("[Parameters]\r\nYRange=33\r\n");
        const TDateTime now = NowDateTime();
        {
            auto form = Open(now - 1, now);
            form->Action(QStringLiteral("actSetSixHour"))->trigger();
            form->show();
            form->close();
        }
        const QString ini = R->ReadIni();
        QVERIFY(ini.contains(QStringLiteral("dtStepIndex=6")));
        QVERIFY(ini.contains(QStringLiteral("YRange=33"))); // not this window's key: kept
        TIODouble level;
        level.Description()->SetRange(0, 100);
        TFormGraph one;
        one.Open(QStringLiteral("Hu"), &level, QStringLiteral("График"), now - 1, now);
        QCOMPARE(one.dtStepIndex, 6);
        QVERIFY(one.Action(QStringLiteral("actSetSixHour"))->isChecked());
        QCOMPARE(one.YRange, 33.0);
    }

    void reportFilledFromWindow() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Lt, t0, t0 + 1.0 / 24, 60, [](int k) { return 3000.0 + k; });
        Rig::Fill(Temp, t0, t0 + 1.0 / 24, 300, [](int k) { return 20.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        const double x0 = TrendXFromDateTime(t0);
        form->Chart1->SetAxisRange(form->Chart1->Bottom(), x0 + 600, x0 + 1200);
        form->Chart1->SetAxisRange(form->Chart1->Right(), 0, 60);
        form->PointsShow(true);
        TRepGraph2 report;
        FillTrend2Report(report, *form);
        QCOMPARE(report.FormName, QStringLiteral("RepGraph2"));
        QCOMPARE(report.Title, QStringLiteral("Lт-Расстояние, Температура СВЧ модуля"));
        QCOMPARE(report.FilterDescribe,
                 QStringLiteral("с 05.03.2024 12:10:00 по 05.03.2024 12:20:00"));
        QCOMPARE(report.Left.Title, QStringLiteral("Расстояние, мм"));
        QCOMPARE(report.Right.Title, QStringLiteral("Температура СВЧ модуля, °C"));
        QCOMPARE(report.Right.Min, 0.0);
        QCOMPARE(report.Right.Max, 60.0);
        QVERIFY(!report.Right.Grid);
        QCOMPARE(report.Series1.Data.Count(), std::size_t(11 + 2));
        QCOMPARE(report.Series2.Data.Count(), std::size_t(3 + 2));
        QVERIFY(report.Series1.Markers && report.Series2.Markers);
        const QString pdf = R->Dirs.Root.filePath(QStringLiteral("trend2.pdf"));
        QString error;
        QVERIFY(SaveTrend2ReportPdf(*form, pdf, &error));
        QVERIFY(QFileInfo(pdf).size() > 1000);
    }

    void showTrend2RunsModally() {
        const TDateTime now = NowDateTime();
        QString name;
        R->Answer = [&](QDialog* d) {
            name = d->objectName();
            return int(QDialog::Rejected);
        };
        QCOMPARE(ShowTrend2(Distance.get(), Temperature.get(), now - 1, now), 0);
        QCOMPARE(name, QStringLiteral("FormGraph2"));
        Distance->SetValue(TVariant::FromDouble(1)); // nobody listens any more
        QVERIFY(std::all_of(Distance->Subscribers().begin(), Distance->Subscribers().end(),
                            [](TIOData* s) { return s == nullptr; }));
    }
};

QTEST_MAIN(TestFormGraph2)
#include "tst_formgraph2.moc"
