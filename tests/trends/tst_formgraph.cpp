// The trend window: preset and settings rules, empty charts, the archive load and its
// re-entrancy, its cancel ("Отменить", or a close that cancels it and closes after it), a range
// refused for memory, days that cannot be read named, the repeated autumn hour drawn as two
// runs, a range typed at midnight, live points and following, zoom and scroll limits, the scroll
// bar with 0, 1 and 2 points, show-all, point markers, number texts with Digits 255, read-outs,
// CSV of the shown range, the report filled from the window, the caption naming the gauge, the
// export's default name, the measuring cursors, gap breaks and the back/forward views.

#include "fGraph.h"
#include "fProgress.h"
#include "fRangeDT.h"
#include "rGraph.h"
#include "tests/support/DayFiles.h"
#include "tests/trends/TrendRig.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimeZone>
#include <cmath>

namespace {

using Rig = TTrendRig;
const QString Hu = QStringLiteral("Hu");

bool Finite(const QCPRange& r) {
    return std::isfinite(r.lower) && std::isfinite(r.upper);
}

double NowX() {
    return TrendXFromDateTime(NowDateTime());
}

double X(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return TrendXFromDateTime(Rig::At(y, mo, d, h, mi, s));
}

// Eight days of "Hu", 20 000 rows a day, from 1 March 2024.
constexpr int LongDays = 8;
constexpr int LongRows = 20000;
void WriteLongArchive() {
    for (int d = 0; d < LongDays; ++d)
        QVERIFY(!WriteDayTable(
                     Hu, EvenRows(QDateTime(QDate(2024, 3, 1 + d), QTime(0, 0)), LongRows, 4000))
                     .isEmpty());
}

// Answers the range dialog with the range it was opened with.
int AcceptRange(QDialog* d) {
    d->metaObject()->invokeMethod(d, "accept");
    return int(QDialog::Accepted);
}

// The points on the line's curve after the last drawing, as (key, value).
QList<QPointF> CurvePoints(const TTrendSeries* s) {
    QList<QPointF> points;
    for (auto it = s->Line->data()->constBegin(); it != s->Line->data()->constEnd(); ++it)
        points << QPointF(it->key, it->value);
    return points;
}

} // namespace

class TestFormGraph : public QObject {
    Q_OBJECT

    std::unique_ptr<Rig> R;
    std::unique_ptr<TIODouble> Source;

    // A window opened on [start, stop] of "Hu" with the level-like source value.
    std::unique_ptr<TFormGraph> Open(TDateTime start, TDateTime stop) {
        auto form = std::make_unique<TFormGraph>();
        form->Open(Hu, Source.get(), QStringLiteral("График"), start, stop);
        return form;
    }

private slots:
    void init() {
        R = std::make_unique<Rig>();
        Source = std::make_unique<TIODouble>();
        TDescriptionOfDouble* d = Source->Description();
        d->Title = QStringLiteral("Уровень");
        d->Dimension = QStringLiteral("мм");
        d->SetRange(0, 20000);
        d->Precision = 9;
        d->Digits = 0;
    }
    void cleanup() {
        Source.reset();
        R.reset();
    }

    void presetFromSettings_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<double>("yRange");
        QTest::newRow("missing file") << QByteArray() << 4 << "actSet45Min" << 0.0;
        QTest::newRow("8") << QByteArray("[Parameters]\r\ndtStepIndex=8\r\n") << 8 << "actSetOneDay"
                           << 0.0;
        QTest::newRow("0") << QByteArray("[Parameters]\r\ndtStepIndex=0\r\n") << 8 << "actSetOneDay"
                           << 0.0;
        QTest::newRow("13") << QByteArray("[Parameters]\r\ndtStepIndex=13\r\n") << 8
                            << "actSetOneDay" << 0.0;
        QTest::newRow("6 and a comma")
            << QByteArray("[parameters]\r\nDTSTEPINDEX=6\r\nYRange=12,5\r\n") << 6
            << "actSetSixHour" << 12.5;
        QTest::newRow("point") << QByteArray("[Parameters]\r\nYRange=250.25\r\n") << 4
                               << "actSet45Min" << 250.25;
        QTest::newRow("span above the axis")
            << QByteArray("[Parameters]\r\nYRange=20000.5\r\n") << 4 << "actSet45Min" << 0.0;
        QTest::newRow("negative") << QByteArray("[Parameters]\r\nYRange=-3\r\n") << 4
                                  << "actSet45Min" << 0.0;
        QTest::newRow("not a number")
            << QByteArray("[Parameters]\r\nYRange=nan\r\ndtStepIndex=x\r\n") << 4 << "actSet45Min"
            << 0.0;
        QTest::newRow("too large")
            << QByteArray("[Parameters]\r\nYRange=1e400\r\n") << 4 << "actSet45Min" << 0.0;
    }
    void presetFromSettings() {
        QFETCH(QByteArray, ini);
        QFETCH(int, index);
        QFETCH(QString, checked);
        QFETCH(double, yRange);
        if (!ini.isEmpty())
            R->WriteIni(ini);
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        QCOMPARE(form->dtStepIndex, index);
        QVERIFY(form->Action(checked)->isChecked());
        int checkedPresets = 0;
        for (const auto& p : TFormGraphBase::Presets)
            checkedPresets += form->Action(QLatin1String(p.Action))->isChecked();
        QCOMPARE(checkedPresets, 1);
        QCOMPARE(form->YRange, yRange);
        QVERIFY(!form->ShowPoints);
        QVERIFY(!form->Scan);
        QCOMPARE(form->Chart1->Bottom()->range().size(),
                 TFormGraphBase::Presets[index - 1].Days * 86400);
    }

    void emptyArchiveThenLive() {
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        QCOMPARE(R->Boxes.size(), 1);
        QCOMPARE(R->Boxes.at(0).Text, QStringLiteral("Отсутствуют данные"));
        QCOMPARE(R->Boxes.at(0).Caption, QStringLiteral("Внимание"));
        QCOMPARE(R->Boxes.at(0).Icon, QMessageBox::Warning);
        // No axis at 1899 or NaN: the view ends now.
        const QCPRange x = form->Chart1->Bottom()->range();
        QVERIFY(Finite(x) && Finite(form->Chart1->Left()->range()));
        QVERIFY(std::fabs(x.upper - NowX()) < 60);
        QCOMPARE(x.size(), 45 * 60.0);
        QVERIFY(!form->ScrollBar1->isEnabled());
        QVERIFY(form->Panel(TFormGraph::PanelSpan)->text().startsWith(QStringLiteral("c ")));
        QVERIFY(!form->Panel(TFormGraph::PanelSpan)->text().contains(QStringLiteral("1899")));
        // Zoom, presets and show-all on nothing keep finite axes.
        form->ZoomIn();
        form->ShowAllXY();
        form->ApplyStep(1);
        form->ShowAllY();
        QVERIFY(Finite(form->Chart1->Bottom()->range()));
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().upper - NowX()) < 60);
        // The chart grows with live points.
        Source->SetValue(TVariant::FromDouble(1234.0));
        Source->SetValue(TVariant::FromDouble(1250.0));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(2));
        QCOMPARE(form->Panel(TFormGraph::PanelValue)->text(), QStringLiteral("1\u00A0250"));
        QCOMPARE(R->Boxes.size(), 1);
    }

    void homeEndWithFewPoints_data() {
        QTest::addColumn<int>("points");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
    }
    void homeEndWithFewPoints() {
        QFETCH(int, points);
        const TDateTime t0 = Rig::At(2024, 3, 5, 10);
        for (int k = 0; k < points; ++k)
            AddArchiveRecord(Hu, t0 + k / 24.0, 100 + k);
        auto form = Open(t0 - 0.5, t0 + 0.5);
        const double span = form->Chart1->Bottom()->range().size();
        QVERIFY(form->ScrollBar1->isEnabled() == (points == 2));
        QTest::keyClick(form.get(), Qt::Key_Home);
        const QCPRange home = form->Chart1->Bottom()->range();
        QTest::keyClick(form.get(), Qt::Key_End);
        const QCPRange end = form->Chart1->Bottom()->range();
        QVERIFY(Finite(home) && Finite(end));
        QCOMPARE(home.size(), span);
        QCOMPARE(end.size(), span);
        const double x0 = TrendXFromDateTime(t0);
        if (points == 0) {
            // Nothing to scroll to: the view stays at now (live mode).
            QCOMPARE(home.upper, end.upper);
            QVERIFY(std::fabs(end.upper - NowX()) < 60);
        } else {
            QCOMPARE(home.upper, x0);                        // oldest point at the right edge
            QCOMPARE(end.upper, x0 + (points - 1) * 3600.0); // newest point at the right edge
        }
        QCOMPARE(form->ScrollBar1->value(), points == 2 ? 100 : form->ScrollBar1->value());
    }

    void scrollBarFollowsView() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 0);
        Rig::Fill(Hu, t0, t0 + 1 - 1.0 / 86400, 600, [](int k) { return 5000 + k; });
        auto form = Open(t0, t0 + 1);
        form->ApplyStep(5); // 1 hour at the newest data
        QCOMPARE(form->ScrollBar1->value(), 100);
        form->ScrollBar1->setValue(50); // the operator drags
        const double right = form->Chart1->Bottom()->range().upper;
        double min = 0, max = 0;
        QVERIFY(form->Chart1->DataXExtent(min, max));
        QCOMPARE(right, max - (max - min) / 2);
        QCOMPARE(form->Chart1->Bottom()->range().size(), 3600.0);
        QTest::keyClick(form.get(), Qt::Key_Left);
        QCOMPARE(form->Chart1->Bottom()->range().upper, right - 36);
        QCOMPARE(form->ScrollBar1->value(), 50); // synchronised from the view
        form->UndoZoom();
        QVERIFY(!form->ScrollBar1->isEnabled()); // the time axis follows the data again
    }

    void zoomSpans() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 2.0 / 24, 60, [](int k) { return 1000 + 10 * k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        form->ShowAllXY();
        const QCPRange before = form->Chart1->Bottom()->range();
        form->ZoomIn();
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().size() - before.size() * 0.8) < 1e-6);
        form->ZoomOut();
        // Each step uses the span it finds: in then out is 0.8 * 1.2 of the first span.
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().size() - before.size() * 0.96) < 1e-6);
        QVERIFY(form->Chart1->Bottom()->range().size() != before.size());
        for (int i = 0; i < 200; ++i)
            QTest::keyClick(form.get(), Qt::Key_Plus, Qt::KeypadModifier);
        // One millisecond, as closely as the time scale can hold it near 1.7e9 s.
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().size() - TTrendChart::MinXSpan) < 1e-6);
        for (int i = 0; i < 400; ++i)
            QTest::keyClick(form.get(), Qt::Key_Minus, Qt::KeypadModifier);
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().size() - TTrendChart::MaxXSpan) < 1);
        QVERIFY(Finite(form->Chart1->Left()->range()));
        for (const auto& p : TFormGraphBase::Presets)
            QVERIFY(!form->Action(QLatin1String(p.Action))->isChecked());
    }

    void showAllYOnFlatAndVisible() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 1.0 / 24, 60, [](int k) { return k < 30 ? 7000.0 : 9000.0; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        // A view over the flat first half only (and its one neighbour stays out of Y).
        const double x0 = TrendXFromDateTime(t0);
        QVERIFY(form->Chart1->SetAxisRange(form->Chart1->Bottom(), x0, x0 + 20 * 60));
        form->ShowAllY();
        QCOMPARE(form->Chart1->Left()->range().lower, 7000 - 0.01);
        QCOMPARE(form->Chart1->Left()->range().upper, 7000 + 0.01);
        form->ShowAllXY();
        QCOMPARE(form->Chart1->Left()->range().lower, 7000.0);
        QCOMPARE(form->Chart1->Left()->range().upper, 9000.0);
    }

    void pointMarkers() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 0.01, 60, [](int k) { return k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QCOMPARE(form->Series1->MarkerCount(), std::size_t(0));
        form->Action(QStringLiteral("actPointsTrue"))->trigger();
        QVERIFY(form->ShowPoints);
        QCOMPARE(form->Series1->MarkerCount(), form->Series1->Data.Count());
        QVERIFY(form->Series1->Markers->visible());
        QCOMPARE(form->Series1->Markers->dataCount(), form->Series1->Line->dataCount());
        form->Action(QStringLiteral("actPointsFalse"))->trigger();
        QCOMPARE(form->Series1->MarkerCount(), std::size_t(0));
        QCOMPARE(form->Series1->Markers->dataCount(), 0);
        QVERIFY(form->Action(QStringLiteral("actPointsFalse"))->isChecked());
    }

    void followInArchiveModeDoesNothing() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        AddArchiveRecord(Hu, t0, 1);
        auto form = Open(t0 - 0.1, t0 + 0.1);
        R->Answer = [](QDialog* d) {
            d->metaObject()->invokeMethod(d, "accept");
            return int(QDialog::Accepted);
        };
        form->Action(QStringLiteral("actStartStopDT"))->trigger();
        QVERIFY(form->ArchiveMode);
        QVERIFY(!form->Action(QStringLiteral("actScanEndOn"))->isEnabled());
        QVERIFY(form->Action(QStringLiteral("actStartStopDT"))->isChecked());
        form->ScanOn();
        QVERIFY(!form->Scan);
        // No live points in archive mode.
        Source->SetValue(TVariant::FromDouble(5));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(1));
        QVERIFY(form->Panel(0)->text().contains(QStringLiteral(" по ")));
    }

    void followingRecentresOnlyOutside() {
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        form->Action(QStringLiteral("actSet5Min"))->trigger();
        form->Chart1->SetAxisRange(form->Chart1->Left(), 1000, 2000);
        form->Action(QStringLiteral("actScanEndOn"))->trigger();
        QVERIFY(form->Scan);
        Source->SetValue(TVariant::FromDouble(1500));
        QCOMPARE(form->Chart1->Left()->range().lower, 1000.0); // inside: kept
        QVERIFY(std::fabs(form->Chart1->Bottom()->range().upper - NowX()) < 1);
        Source->SetValue(TVariant::FromDouble(2600));
        QCOMPARE(form->Chart1->Left()->range().lower, 2100.0); // outside: centred, same span
        QCOMPARE(form->Chart1->Left()->range().upper, 3100.0);
        form->Action(QStringLiteral("actCurrent"))->trigger(); // entering a mode stops following
        QVERIFY(!form->Scan);
    }

    // A second load, the actions, the keys and live points do not run inside a load; live
    // points that came meanwhile are added afterwards when they are newer than the loaded ones.
    void nothingRunsInsideALoad() {
        const TDateTime now = NowDateTime();
        Rig::Fill(Hu, now - 3, now - 3 + 0.001, 10, [](int) { return 10.0; });
        Rig::Fill(Hu, now - 0.5, now - 0.5 + 0.001, 10, [](int) { return 20.0; });
        auto form = Open(now - 5, now);
        QCOMPARE(form->Series1->Data.Count(), std::size_t(18));
        int inside = 0;
        OnProgressMove = [&](const QString&, int) {
            if (!form->IsLoading() || ++inside > 1)
                return;
            form->Action(QStringLiteral("actCurrent"))->trigger();
            QTest::keyClick(form.get(), Qt::Key_Space);
            Source->SetValue(TVariant::FromDouble(777));
            QVERIFY(!form->LoadArchive());
        };
        form->show();
        R->Boxes.clear();
        form->Action(QStringLiteral("actCurrent"))->trigger();
        OnProgressMove = nullptr;
        QVERIFY(inside >= 1);
        QVERIFY(form->isVisible());
        QCOMPARE(form->Series1->Data.Count(), std::size_t(9 + 1)); // the last day and the live one
        QCOMPARE(form->Series1->Data.MaxX() > TrendXFromDateTime(now), true);
        QCOMPARE(form->Series1->Data.At(form->Series1->Data.Count() - 1).Y, 777.0);
        QVERIFY(R->Boxes.isEmpty());
        form->close();
        QVERIFY(!form->isVisible());
    }

    // A close asked for while a long load runs is not lost: it cancels the load, and the window
    // closes as soon as the load has unwound, its settings saved.
    void closeDuringLoadCancelsAndCloses() {
        WriteLongArchive();
        const TDateTime start = Rig::At(2024, 3, 1), stop = Rig::At(2024, 3, 8, 23, 59, 59);
        auto form = Open(start, stop);
        QCOMPARE(form->Series1->Data.Count(), std::size_t(LongDays * LongRows));
        form->ApplyStep(5);
        form->show();
        R->Answer = AcceptRange;
        int moves = 0;
        OnProgressMove = [&](const QString&, int) {
            if (form->IsLoading() && ++moves == 1)
                form->close(); // the close box, during the second day
        };
        form->ChooseRange();
        OnProgressMove = nullptr;
        QCOMPARE(moves, 1);
        QVERIFY(!form->IsLoading());
        // Cancelled after its second day: what it read stays, the rest was not read.
        QCOMPARE(form->Series1->Data.Count(), std::size_t(2 * LongRows));
        QVERIFY(R->Boxes.isEmpty()); // no "Отсутствуют данные", no other message
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(R->ReadIni().contains(QStringLiteral("dtStepIndex=5")));
        QVERIFY(form->Range == nullptr); // the closing steps ran
    }

    // Esc in the window during a load asks for the same close.
    void escapeDuringLoadCloses() {
        WriteLongArchive();
        auto form = Open(Rig::At(2024, 3, 1), Rig::At(2024, 3, 8, 23, 59, 59));
        form->show();
        R->Answer = AcceptRange;
        OnProgressMove = [&](const QString&, int) {
            if (form->IsLoading())
                QTest::keyClick(form.get(), Qt::Key_Escape);
        };
        form->ChooseRange();
        OnProgressMove = nullptr;
        QVERIFY(form->Series1->Data.Count() < std::size_t(LongDays * LongRows));
        QTRY_VERIFY(!form->isVisible());
    }

    // "Отменить" in the progress window stops the load; the window stays with what was read.
    void cancelButtonStopsTheLoad() {
        WriteLongArchive();
        auto form = Open(Rig::At(2024, 3, 1), Rig::At(2024, 3, 8, 23, 59, 59));
        form->show();
        R->Answer = AcceptRange;
        QString button;
        OnProgressMove = [&](const QString&, int) {
            TFormProgress* progress = ProgressWindow();
            if (!form->IsLoading() || !progress || !progress->CancelBtn || !button.isEmpty())
                return;
            button = progress->CancelBtn->isVisible() ? progress->CancelBtn->text() : "hidden";
            progress->CancelBtn->click();
        };
        form->ChooseRange();
        OnProgressMove = nullptr;
        QCOMPARE(button, QStringLiteral("Отменить"));
        QVERIFY(!form->IsLoading());
        QCOMPARE(form->Series1->Data.Count(), std::size_t(2 * LongRows));
        QVERIFY(!ProgressWindow());
        QVERIFY(R->Boxes.isEmpty());
        QTest::qWait(50);
        QVERIFY(form->isVisible());
        QVERIFY(form->ArchiveMode);
        // The window goes on as usual: a new load reads the whole range.
        form->ChooseRange();
        QCOMPARE(form->Series1->Data.Count(), std::size_t(LongDays * LongRows));
    }

    // A range whose points would not fit in memory is refused before anything is read, with the
    // estimate named; the window keeps its range, mode and points. The limit is injected.
    void rangeTooLargeForMemoryRefused() {
        QVERIFY(!WriteDayTable(Hu, EvenRows(QDateTime(QDate(2024, 3, 4), QTime(0, 0)), 100, 60000))
                     .isEmpty());
        QVERIFY(!WriteDayTable(Hu, EvenRows(QDateTime(QDate(2024, 3, 5), QTime(0, 0)), 1000, 60000))
                     .isEmpty());
        auto form = std::make_unique<TFormGraph>();
        form->MemoryLimitBytes = 10000; // 500 points at 20 bytes
        form->Open(Hu, Source.get(), QStringLiteral("График"), Rig::At(2024, 3, 4),
                   Rig::At(2024, 3, 4, 23, 59, 59));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(100));
        QVERIFY(R->Boxes.isEmpty());
        const TDateTime start = form->Range->GetStart(), stop = form->Range->GetStop();
        const QString panel0 = form->Panel(0)->text();
        R->Answer = [](QDialog* d) {
            auto* range = qobject_cast<TFormRangeDT*>(d);
            if (!range)
                return int(QDialog::Rejected);
            range->dtpStopDate->setDate(QDate(2024, 3, 5));
            range->OKBtn->click();
            return range->result();
        };
        form->ChooseRange();
        QCOMPARE(R->Boxes.size(), 1);
        QCOMPARE(R->Boxes.at(0).Caption, QStringLiteral("Внимание"));
        QCOMPARE(R->Boxes.at(0).Icon, QMessageBox::Warning);
        QCOMPARE(R->Boxes.at(0).Text,
                 QStringLiteral("Диапазон слишком велик: около 1\u00A0100 точек займут около "
                                "22 КБ памяти, а доступно 10 КБ.\nВыберите диапазон короче."));
        QVERIFY(!form->ArchiveMode);
        QCOMPARE(form->Range->GetStart(), start);
        QCOMPARE(form->Range->GetStop(), stop);
        QCOMPARE(form->Series1->Data.Count(), std::size_t(100));
        QCOMPARE(form->Panel(0)->text(), panel0);
        QVERIFY(form->Action(QStringLiteral("actCurrent"))->isChecked());
        // Within the limit the same range loads.
        form->MemoryLimitBytes = 1100 * 20;
        form->ChooseRange();
        QVERIFY(form->ArchiveMode);
        QCOMPARE(form->Series1->Data.Count(), std::size_t(1100));
        QCOMPARE(R->Boxes.size(), 1);
    }

    // A range too large when the window opens: refused, the chart empty, one message.
    void openingRangeTooLarge() {
        WriteLongArchive();
        auto form = std::make_unique<TFormGraph>();
        form->MemoryLimitBytes = 1 << 20;
        form->Open(Hu, Source.get(), QStringLiteral("График"), Rig::At(2024, 3, 1),
                   Rig::At(2024, 3, 8, 23, 59, 59));
        QVERIFY(form->Series1->Data.Empty());
        QCOMPARE(R->Boxes.size(), 1);
        QVERIFY(R->Boxes.at(0).Text.startsWith(
            QStringLiteral("Диапазон слишком велик: около 160\u00A0000 точек займут около 4 МБ "
                           "памяти, а доступно 1 МБ.")));
    }

    // A day whose table cannot be read (damaged part-way) keeps the rows before the damage, the
    // good days stay whole, and the message names the day; several days are listed.
    void unreadableDaysNamed() {
        for (int d = 4; d <= 6; ++d)
            QVERIFY(
                !WriteDayTable(Hu, EvenRows(QDateTime(QDate(2024, 3, d), QTime(0, 0)), 20000, 4000))
                     .isEmpty());
        const QString day5 = JoinPath(ArchiveDayDir(Rig::At(2024, 3, 5, 12)), Hu + ".db");
        const QString day6 = JoinPath(ArchiveDayDir(Rig::At(2024, 3, 6, 12)), Hu + ".db");
        QVERIFY(SpoilFile(day5, 0.5, 0.6));
        auto form = Open(Rig::At(2024, 3, 4), Rig::At(2024, 3, 6, 23, 59, 59));
        QCOMPARE(R->Boxes.size(), 1);
        QCOMPARE(R->Boxes.at(0).Text, QStringLiteral("Не читается архив за 05.03.2024"));
        QCOMPARE(R->Boxes.at(0).Caption, QStringLiteral("Внимание"));
        const TTrendData& data = form->Series1->Data;
        std::size_t day5Rows = 0;
        for (const TTrendPoint& p : data.Points())
            day5Rows += p.X >= X(2024, 3, 5) && p.X < X(2024, 3, 6);
        QCOMPARE(data.Count() - day5Rows, std::size_t(2 * 20000));
        QVERIFY(day5Rows > 1000 && day5Rows < 20000);
        QCOMPARE(data.MinX(), X(2024, 3, 5) - 86400); // the first row of the 4th
        // Two days: both named, in date order.
        QVERIFY(NoiseFile(day6));
        R->Boxes.clear();
        form->CurrentRange(); // anything, then the range again
        R->Boxes.clear();
        R->Answer = [](QDialog* d) {
            auto* range = qobject_cast<TFormRangeDT*>(d);
            if (!range)
                return int(QDialog::Rejected);
            range->dtpStartDate->setDate(QDate(2024, 3, 4));
            range->dtpStopDate->setDate(QDate(2024, 3, 6));
            TypeTime(range->dtpStopTime, QStringLiteral("23:59:59"));
            range->OKBtn->click();
            return range->result();
        };
        form->ChooseRange();
        QCOMPARE(R->Boxes.size(), 1);
        QCOMPARE(R->Boxes.at(0).Text,
                 QStringLiteral("Не читается архив за 05.03.2024, 06.03.2024"));
    }

    // The clock set back at 03:00 to 02:00: the two passes over 02:00 to 03:00 are drawn each
    // as its own run of the line, with a break between them, not as a zig-zag band.
    void repeatedHourDrawnAsTwoRuns() {
        const QDate day(2024, 10, 27);
        auto rows = EvenRows(QDateTime(day, QTime(0, 0)), 3 * 360, 10000); // to 02:59:50
        for (auto& row : rows)
            row.second = 5000 + row.second; // first pass near 5000-6000
        auto second = EvenRows(QDateTime(day, QTime(2, 0)), 2 * 360, 10000);
        for (auto& row : second)
            row.second = 8000 + row.second; // second pass near 8000-8700
        QVERIFY(!WriteDayTable(Hu, rows + second).isEmpty());
        auto form = Open(Rig::At(2024, 10, 27), Rig::At(2024, 10, 27, 23, 59, 59));
        form->ShowAllXY();
        form->resize(1200, 700);
        form->Chart1->Redraw();
        const QList<QPointF> drawn = CurvePoints(form->Series1);
        int breaks = 0, at = -1;
        for (int i = 0; i < drawn.size(); ++i) {
            if (std::isnan(drawn.at(i).y())) {
                ++breaks;
                at = i;
            }
        }
        QCOMPARE(breaks, 1);
        QCOMPARE(drawn.at(at - 1).x(), X(2024, 10, 27, 2, 59, 50)); // end of the first pass
        QCOMPARE(drawn.at(at + 1).x(), X(2024, 10, 27, 2, 0, 0));   // start of the second
        for (int i = 1; i < drawn.size(); ++i) {
            if (i != at && i != at + 1)
                QVERIFY2(drawn.at(i).x() >= drawn.at(i - 1).x(), qPrintable(QString::number(i)));
        }
        // Each run keeps its own values: no point of the second pass lies in the first run.
        for (int i = 0; i < at; ++i)
            QVERIFY(drawn.at(i).y() < 8000);
        for (int i = at + 1; i < drawn.size(); ++i)
            QVERIFY(drawn.at(i).y() >= 8000);
        // Points markers show both passes' points, and none for the break.
        form->PointsShow(true);
        form->Chart1->Redraw();
        QCOMPARE(form->Series1->Markers->dataCount(), form->Series1->Line->dataCount());
        if (const QByteArray dir = qgetenv("ULMAR_TEST_SHOTS"); !dir.isEmpty()) {
            form->PointsShow(false);
            form->Chart1->SetAxisRange(form->Chart1->Bottom(), X(2024, 10, 27, 1, 30),
                                       X(2024, 10, 27, 4, 0));
            form->show();
            form->Chart1->Redraw();
            form->grab().save(QString::fromLocal8Bit(dir) + QStringLiteral("/repeated-hour.png"));
        }
    }

    // A range typed at midnight in the dialog starts at midnight, whatever the milliseconds of
    // the moment the window took its range at: on a 10-second archive, the first point shown is
    // the one of 00:00:00, not of 00:00:10.
    void rangeTypedAtMidnightStartsThere() {
        const QDate day(2024, 3, 5);
        QVERIFY(!WriteDayTable(Hu, EvenRows(QDateTime(day, QTime(0, 0)), 360, 10000)).isEmpty());
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        R->Answer = [](QDialog* d) {
            auto* range = qobject_cast<TFormRangeDT*>(d);
            if (!range)
                return int(QDialog::Rejected);
            range->dtpStartDate->setDate(QDate(2024, 3, 5));
            TypeTime(range->dtpStartTime, QStringLiteral("00:00:00"));
            range->dtpStopDate->setDate(QDate(2024, 3, 5));
            TypeTime(range->dtpStopTime, QStringLiteral("00:30:00"));
            range->OKBtn->click();
            return range->result();
        };
        form->ChooseRange();
        QVERIFY(form->ArchiveMode);
        QCOMPARE(DateTimeToQt(form->Range->GetStart()), QDateTime(day, QTime(0, 0)));
        QCOMPARE(DateTimeToQt(form->Range->GetStop()), QDateTime(day, QTime(0, 30)));
        QCOMPARE(form->Series1->Data.MinX(), X(2024, 3, 5));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(181));
    }

    void digits255AndFlatDescription() {
        Source->Description()->Digits = 255;
        Source->Description()->SetRange(5, 5); // dist.2 of 0 gives such a range
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 0.01, 60, [](int k) { return 1.25 + k * 0.5; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QCOMPARE(form->Chart1->Left()->numberFormat(), QStringLiteral("g"));
        QCOMPARE(form->Chart1->Left()->numberPrecision(), 15);
        // Min = Max: the axis follows the data.
        QVERIFY(form->Chart1->IsAutomatic(form->Chart1->Left()));
        QCOMPARE(form->Chart1->Left()->range().lower, 1.25);
        emit form->Chart1->MouseValues(TrendXFromDateTime(t0), 1234.5678, 0);
        QCOMPARE(form->Panel(TFormGraph::PanelPoint)->text(),
                 QStringLiteral("05.03.24 12:00:00 Уровень 1234,5678"));
        Source->SetValue(TVariant::FromDouble(3.5));
        QCOMPARE(form->Panel(TFormGraph::PanelValue)->text(), QString());
        QVERIFY(form->Panel(TFormGraph::PanelYSpan)->text().endsWith(QStringLiteral("мм")));
        QVERIFY(!form->Panel(TFormGraph::PanelYSpan)->text().contains(QStringLiteral("000000")));
        form->UndoZoom(); // no description span to return to: still automatic
        QVERIFY(form->Chart1->IsAutomatic(form->Chart1->Left()));
    }

    void readoutAndLabelsWithDigits() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        AddArchiveRecord(Hu, t0, 1);
        Source->Description()->Digits = 2;
        auto form = Open(t0 - 0.1, t0 + 0.1);
        QCOMPARE(form->Chart1->Left()->label(), QStringLiteral("Уровень, мм"));
        // Day, month, year above hours, minutes, seconds (MM is the month, mm the minutes).
        const auto ticker = form->Chart1->Bottom()->ticker().dynamicCast<QCPAxisTickerDateTime>();
        QVERIFY(ticker);
        QCOMPARE(ticker->dateTimeFormat(), QStringLiteral("dd.MM.yy\nhh:mm:ss"));
        // The labels show the naive local times as they are: no zone shift.
        QCOMPARE(ticker->timeZone(), QTimeZone::utc());
        QCOMPARE(form->Chart1->Left()->numberFormat(), QStringLiteral("f"));
        QCOMPARE(form->Chart1->Left()->numberPrecision(), 2);
        QCOMPARE(form->Chart1->Left()->range().upper, 20000.0);
        emit form->Chart1->MouseValues(TrendXFromDateTime(t0 + 0.5 / 86400), 12345.678, 0);
        QCOMPARE(form->Panel(TFormGraph::PanelPoint)->text(),
                 QStringLiteral("05.03.24 12:00:00 Уровень 12\u00A0345,68, мм"));
        QCOMPARE(form->Panel(TFormGraph::PanelYSpan)->text(), QStringLiteral("20\u00A0000,00мм"));
    }

    void verticalKeysMoveOnlyTowardsData() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 0.01, 60, [](int k) { return 100.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        form->Chart1->SetAxisRange(form->Chart1->Left(), 0, 50); // all data above
        QTest::keyClick(form.get(), Qt::Key_PageDown);
        QCOMPARE(form->Chart1->Left()->range().lower, 0.0);
        QTest::keyClick(form.get(), Qt::Key_PageUp);
        QCOMPARE(form->Chart1->Left()->range().lower, 5.0);
        QTest::keyClick(form.get(), Qt::Key_Up);
        QCOMPARE(form->Chart1->Left()->range().lower, 5.5);
    }

    void yRangeEntryAndSet() {
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        Source->SetValue(TVariant::FromDouble(3000));
        double offered = -1;
        R->Answer = [&](QDialog* d) {
            auto* edit = d->findChild<QLineEdit*>(QStringLiteral("enValue"));
            offered = QLocale().toDouble(edit->text());
            edit->setText(QStringLiteral("400"));
            return int(QDialog::Accepted);
        };
        form->YRangeChange();
        QCOMPARE(offered, 0.0);
        QCOMPARE(form->YRange, 400.0);
        R->Answer = [&](QDialog* d) {
            d->findChild<QLineEdit*>(QStringLiteral("enValue"))->setText(QStringLiteral("30000"));
            return int(QDialog::Accepted);
        };
        form->YRangeChange(); // beyond Max - Min: ignored
        QCOMPARE(form->YRange, 400.0);
        form->Action(QStringLiteral("actYRangeSet"))->trigger();
        QCOMPARE(form->Chart1->Left()->range().lower, 2800.0);
        QCOMPARE(form->Chart1->Left()->range().upper, 3200.0);
    }

    void settingsSavedOnClose() {
        const TDateTime now = NowDateTime();
        {
            auto form = Open(now - 1, now);
            form->ApplyStep(6);
            form->PointsShow(true);
            form->ScanOn();
            form->YRange = 12.5;
            form->close();
        }
        const QString ini = R->ReadIni();
        QVERIFY(ini.contains(QStringLiteral("[Parameters]")));
        QVERIFY(ini.contains(QStringLiteral("dtStepIndex=6")));
        QVERIFY(ini.contains(QStringLiteral("Points=1")));
        QVERIFY(ini.contains(QStringLiteral("Scan=1")));
        QVERIFY(ini.contains(QStringLiteral("YRange=12.5")));
        auto again = Open(now - 1, now);
        QCOMPARE(again->dtStepIndex, 6);
        QVERIFY(again->ShowPoints);
        QCOMPARE(again->YRange, 12.5);
    }

    void unwritableSettingsCloseAnyway() {
        // A directory where the settings file should be: it can be neither read nor written.
        QDir().mkpath(R->IniFile());
        const TDateTime now = NowDateTime();
        auto form = Open(now - 1, now);
        QCOMPARE(form->dtStepIndex, 4);
        form->show();
        form->close();
        QVERIFY(!form->isVisible());
        QVERIFY(QFileInfo(R->IniFile()).isDir());
    }

    void csvOfShownRange() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 0.01, 60, [](int k) { return 1000.5 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.1);
        const double x0 = TrendXFromDateTime(t0);
        form->Chart1->SetAxisRange(form->Chart1->Bottom(), x0 + 60, x0 + 180);
        const QString path = R->Dirs.Root.filePath(QStringLiteral("shown.csv"));
        R->Answer = [&](QDialog* d) {
            auto* fd = qobject_cast<QFileDialog*>(d);
            if (!fd)
                return int(QDialog::Rejected);
            fd->selectFile(path);
            return int(QDialog::Accepted);
        };
        form->Action(QStringLiteral("actSaveCsv"))->trigger();
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines =
            QString::fromUtf8(f.readAll().mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines, (QStringList{QStringLiteral("Время;Уровень, мм"),
                                     QStringLiteral("05.03.2024 12:01:00,000;1001,5"),
                                     QStringLiteral("05.03.2024 12:02:00,000;1002,5"),
                                     QStringLiteral("05.03.2024 12:03:00,000;1003,5")}));
        QVERIFY(!form->SaveCsv(R->Dirs.Root.filePath(QStringLiteral("none/x.csv"))));
        QCOMPARE(R->Boxes.last().Caption, QStringLiteral("Ошибка"));
    }

    void reportFilledFromWindow() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 11);
        Rig::Fill(Hu, t0, t0 + 3.0 / 24, 60, [](int k) { return 2000.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.2);
        const double x12 = TrendXFromDateTime(Rig::At(2024, 3, 5, 12));
        form->Chart1->SetAxisRange(form->Chart1->Bottom(), x12, x12 + 3600);
        form->Chart1->SetAxisRange(form->Chart1->Left(), 1900, 2300);
        TRepGraph report;
        FillTrendReport(report, *form);
        QCOMPARE(report.FormName, QStringLiteral("RepGraph"));
        QCOMPARE(report.Title, QStringLiteral("График"));
        QCOMPARE(report.FilterDescribe,
                 QStringLiteral("с 05.03.2024 12:00:00 по 05.03.2024 13:00:00"));
        QCOMPARE(report.Left.Title, QStringLiteral("Уровень, мм"));
        QCOMPARE(report.Left.Min, 1900.0);
        QCOMPARE(report.Left.Max, 2300.0);
        QCOMPARE(report.Bottom.Min, x12);
        QCOMPARE(report.Bottom.Max, x12 + 3600);
        QVERIFY(report.Bottom.DateTime);
        // The shown hour (61 points) and one point each side.
        QCOMPARE(report.Series1.Data.Count(), std::size_t(63));
        QCOMPARE(report.Series1.Data.MinX(), x12 - 60);
        QVERIFY(!report.Series1.Markers);
        // A second fill replaces everything.
        form->setWindowTitle(QStringLiteral("Другой"));
        form->PointsShow(true);
        form->Chart1->SetAxisRange(form->Chart1->Bottom(), x12, x12 + 600);
        FillTrendReport(report, *form);
        QCOMPARE(report.Title, QStringLiteral("Другой"));
        QCOMPARE(report.Series1.Data.Count(), std::size_t(13));
        QVERIFY(report.Series1.Markers);
        // Written as PDF; an unwritable place is reported, not taken for success.
        const QString pdf = R->Dirs.Root.filePath(QStringLiteral("trend.pdf"));
        QString error;
        QVERIFY(SaveTrendReportPdf(*form, pdf, &error));
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.read(4) == "%PDF");
        QVERIFY(!form->SavePdf(R->Dirs.Root.filePath(QStringLiteral("none/t.pdf"))));
        QCOMPARE(R->Boxes.last().Caption, QStringLiteral("Ошибка"));
    }

    // Two gauges polled in turn on one line: the window shows one (the current gauge), the
    // chooser lists both, a choice reloads the other's rows alone, the current gauge's live
    // values never join another gauge's line, and the report names the gauge.
    void gaugeChooser() {
        const QDateTime first(QDate(2024, 3, 5), QTime(11, 0));
        QVERIFY(
            !WriteGaugeDayTable(Hu, InterleavedRows(first, 600, 10000, {1001, 1002})).isEmpty());
        const TDateTime t0 = Rig::At(2024, 3, 5, 11);
        auto form = std::make_unique<TFormGraph>();
        form->CurrentGauge = 1002;
        form->Open(Hu, Source.get(), QStringLiteral("График"), t0 - 0.1, t0 + 0.2);
        QCOMPARE(form->Gauge, 1002);
        QVERIFY(form->GaugeBar->isVisibleTo(form.get()));
        QVERIFY(!form->SourceBox->isVisibleTo(form.get())); // no plant archive set up
        QCOMPARE(form->GaugeBox->count(), 2);
        QCOMPARE(form->GaugeBox->itemText(0), QStringLiteral("№ 1001"));
        QCOMPARE(form->GaugeBox->itemText(1), QStringLiteral("№ 1002"));
        QCOMPARE(form->GaugeBox->currentText(), QStringLiteral("№ 1002"));
        const auto onlyGauge = [](const TTrendData& line, int gauge) {
            for (std::size_t i = 0; i < line.Count(); ++i)
                if (std::floor(line.At(i).Y / 1000) != gauge)
                    return false;
            return true;
        };
        QCOMPARE(form->Series1->Data.Count(), std::size_t(300));
        QVERIFY(onlyGauge(form->Series1->Data, 1002));
        emit form->GaugeBox->activated(0);
        QCOMPARE(form->Gauge, 1001);
        QCOMPARE(form->GaugeBox->currentText(), QStringLiteral("№ 1001"));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(300));
        QVERIFY(onlyGauge(form->Series1->Data, 1001));
        QCOMPARE(form->Series1->Data.At(0).X, TrendXFromDateTime(t0));
        // The device's value is gauge 1002's: it stays off gauge 1001's line.
        Source->SetValue(TVariant::FromDouble(5.0));
        QCOMPARE(form->Series1->Data.Count(), std::size_t(300));
        TRepGraph report;
        FillTrendReport(report, *form);
        QVERIFY2(report.FilterDescribe.startsWith(QStringLiteral("Прибор № 1001, с 05.03.2024")),
                 qPrintable(report.FilterDescribe));
        QVERIFY(R->Boxes.isEmpty());

        // A current gauge without rows in the range: the first gauge found is shown, and the
        // current one is offered beside it.
        auto other = std::make_unique<TFormGraph>();
        other->CurrentGauge = 7;
        other->Open(Hu, Source.get(), QStringLiteral("График"), t0 - 0.1, t0 + 0.2);
        QCOMPARE(other->Gauge, 1001);
        QCOMPARE(other->GaugeBox->count(), 3);
        QCOMPARE(other->GaugeBox->itemText(0), QStringLiteral("№ 7"));
    }

    // A plant archive enabled in the settings but not reachable: the window offers the server,
    // and choosing it shows the server's failure text, in a box and in the window, within the
    // connection time-out, with the lines empty; the local archive is back with one choice.
    void serverUnreachable() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 11);
        Rig::Fill(Hu, t0, t0 + 1.0 / 24, 60, [](int k) { return 100.0 + k; });
        auto form = std::make_unique<TFormGraph>();
        form->PlantSettings.Enabled = true;
        form->PlantSettings.Host = R->Dirs.Root.filePath(QStringLiteral("no-server"));
        form->PlantSettings.ConnectTimeoutS = 2;
        form->Open(Hu, Source.get(), QStringLiteral("График"), t0 - 0.1, t0 + 0.2);
        const std::size_t local = form->Series1->Data.Count();
        QVERIFY(local >= 60);
        QVERIFY(form->GaugeBar->isVisibleTo(form.get()));
        QVERIFY(form->SourceBox->isVisibleTo(form.get()));
        QCOMPARE(form->SourceBox->itemText(1), QStringLiteral("Сервер архива"));
        QElapsedTimer timer;
        timer.start();
        emit form->SourceBox->activated(1);
        QVERIFY(timer.elapsed() < 10000);
        QVERIFY(form->FromServer);
        QVERIFY(form->Series1->Data.Empty());
        QCOMPARE(R->Boxes.size(), 1);
        QVERIFY2(R->Boxes.at(0).Text.startsWith(QStringLiteral("Сервер архива недоступен: ")),
                 qPrintable(R->Boxes.at(0).Text));
        const auto* state = form->GaugeBar->findChild<QLabel*>(QStringLiteral("ServerState"));
        QVERIFY(state && state->isVisibleTo(form.get()));
        QCOMPARE(state->text(), R->Boxes.at(0).Text);
        emit form->SourceBox->activated(0);
        QVERIFY(!form->FromServer);
        QCOMPARE(form->Series1->Data.Count(), local);
        QVERIFY(!state->isVisibleTo(form.get()));
    }

    // The caption and the printed report name the parameter and the gauge shown, with its
    // address on the line, and follow the chooser; the export's default name holds the
    // parameter's sign and the day shown.
    void captionNamesGaugeAndExportNamesDay() {
        const QDateTime first(QDate(2024, 3, 5), QTime(11, 0));
        QVERIFY(
            !WriteGaugeDayTable(Hu, InterleavedRows(first, 600, 10000, {1001, 1002})).isEmpty());
        const TDateTime t0 = Rig::At(2024, 3, 5, 11);
        auto form = std::make_unique<TFormGraph>();
        form->CurrentGauge = 1002;
        // 1002 polled at address 7; 1001 not on the line now.
        form->GaugeAddress = [](int pn) { return pn == 1002 ? 7 : -1; };
        form->Open(Hu, Source.get(), QStringLiteral("Ну - Уровень"), t0 - 0.1, t0 + 0.2);
        QCOMPARE(form->windowTitle(), QStringLiteral("Ну - Уровень — прибор № 1002, адрес 7"));
        emit form->GaugeBox->activated(0);
        QCOMPARE(form->windowTitle(), QStringLiteral("Ну - Уровень — прибор № 1001"));
        TRepGraph report;
        FillTrendReport(report, *form);
        QCOMPARE(report.Title, form->windowTitle());
        QString offered;
        R->Answer = [&](QDialog* d) {
            if (auto* fd = qobject_cast<QFileDialog*>(d))
                offered = QFileInfo(fd->selectedFiles().value(0)).fileName();
            return int(QDialog::Rejected);
        };
        form->Action(QStringLiteral("actSaveCsv"))->trigger();
        QCOMPARE(offered, QStringLiteral("Ну_2024-03-05.csv"));
        form->Action(QStringLiteral("actSavePdf"))->trigger();
        QCOMPARE(offered, QStringLiteral("Ну_2024-03-05.pdf"));
    }

    // Two gauges with as many readings from the same moment, one every 10 s and one every
    // minute: the break limit is each gauge's own, not the one shown before the choice.
    void gapLimitFollowsTheGaugeShown() {
        const QDateTime first(QDate(2024, 3, 5), QTime(11, 0));
        QList<TGaugeRow> rows;
        for (int k = 0; k < 100; ++k) {
            rows.append({first.addSecs(10 * k), 1.0, 1001});
            rows.append({first.addSecs(60 * k), 2.0, 1002});
        }
        QVERIFY(!WriteGaugeDayTable(Hu, rows).isEmpty());
        auto form = std::make_unique<TFormGraph>();
        form->CurrentGauge = 1001;
        form->Open(Hu, Source.get(), QStringLiteral("Ну"), Rig::At(2024, 3, 5),
                   Rig::At(2024, 3, 5, 23));
        QCOMPARE(form->Series1->GapLimit(), 30.0);
        emit form->GaugeBox->activated(1);
        QCOMPARE(form->Gauge, 1002);
        QCOMPARE(form->Series1->GapLimit(), 180.0);
    }

    // A technician switches the cursors on, clicks near 12:01 and Shift+clicks near 12:04 on a
    // 10-second line, then drags cursor 2 into a stretch without readings: the read-out names
    // the readings themselves (not the clicked times), ΔT, ΔY and the rate in mm/min. Gaps of
    // 40 s and 10 min are breaks on the chart and in the report; one of exactly three periods
    // (30 s) is not.
    void cursorsAndGapBreaks() {
        const QDateTime noon(QDate(2024, 3, 5), QTime(12, 0));
        QList<QPair<QDateTime, double>> rows;
        for (int k = 0; k <= 180; ++k) {
            const bool missing = k == 31 || k == 32 || (k > 60 && k < 120) || (k > 150 && k < 154);
            if (!missing)
                rows.append({noon.addSecs(10 * k), 500.0 + k});
        }
        QVERIFY(!WriteDayTable(Hu, rows).isEmpty());
        auto form = Open(Rig::At(2024, 3, 5, 11), Rig::At(2024, 3, 5, 13));
        form->resize(1100, 650);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const double x0 = X(2024, 3, 5, 12);
        form->Chart1->SetAxisRange(form->Chart1->Bottom(), x0 - 60, x0 + 1860);
        form->Chart1->Redraw();

        // Breaks after 12:05:00 + 40 s and after 12:10:00 + 10 min; none after 12:05:00 (30 s).
        QCOMPARE(form->Series1->GapLimit(), 30.0);
        const auto breaksOf = [](const std::vector<TTrendPoint>& points) {
            QList<QPair<double, double>> at; // the readings either side of each break
            for (std::size_t i = 1; i + 1 < points.size(); ++i)
                if (std::isnan(points[i].Y))
                    at.append({points[i - 1].X, points[i + 1].X});
            return at;
        };
        std::vector<TTrendPoint> drawn;
        for (const QPointF& p : CurvePoints(form->Series1))
            drawn.push_back({p.x(), p.y()});
        const QList<QPair<double, double>> expected{{x0 + 600, x0 + 1200}, {x0 + 1500, x0 + 1540}};
        QCOMPARE(breaksOf(drawn), expected);
        // The report draws its copy of the shown points with the window's limit: the same breaks.
        TRepGraph report;
        FillTrendReport(report, *form);
        QCOMPARE(report.Series1.GapLimit, 30.0);
        report.Series1.Data.Decimate(x0 - 60, x0 + 1860, 1000, drawn, report.Series1.GapLimit);
        QCOMPARE(breaksOf(drawn), expected);

        // The cursors, as the tool bar button and the mouse place them.
        QVERIFY(!form->CursorPanel->isVisible());
        form->Action(QStringLiteral("actCursors"))->trigger();
        QVERIFY(form->CursorPanel->isVisible());
        QCPAxis* bottom = form->Chart1->Bottom();
        const int y = form->Chart1->axisRect()->center().y();
        const auto px = [bottom](double x) { return qRound(bottom->coordToPixel(x)); };
        QTest::mouseClick(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(px(x0 + 63), y));
        QTest::mouseClick(form->Chart1, Qt::LeftButton, Qt::ShiftModifier, QPoint(px(x0 + 244), y));
        QCOMPARE(form->Chart1->CursorX(0), std::optional<double>(x0 + 60));
        QCOMPARE(form->Chart1->CursorX(1), std::optional<double>(x0 + 240));
        QCOMPARE(form->CursorPanel->text(),
                 QStringLiteral("Ну: 1) 05.03.24 12:01:00.000 = 506 мм; 2) 05.03.24 "
                                "12:04:00.000 = 524 мм; ΔT = 00:03:00.000; ΔY = 18 мм; "
                                "скорость = 6,00 мм/мин"));
        // Cursor 2's line dragged to 12:17, in the gap: it stands on the nearest reading, 12:20.
        QTest::mousePress(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(px(x0 + 240), y));
        QTest::mouseMove(form->Chart1, QPoint(px(x0 + 1020), y));
        QTest::mouseRelease(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(px(x0 + 1020), y));
        QCOMPARE(form->Chart1->CursorX(1), std::optional<double>(x0 + 1200));
        QVERIFY2(form->CursorPanel->text().endsWith(
                     QStringLiteral("2) 05.03.24 12:20:00.000 = 620 мм; ΔT = 00:19:00.000; "
                                    "ΔY = 114 мм; скорость = 6,00 мм/мин")),
                 qPrintable(form->CursorPanel->text()));
        // The drag moved the cursor: the view is as it was.
        QCOMPARE(bottom->range().lower, x0 - 60);
        if (const QString dir = qEnvironmentVariable("ULMAR_SHOTS"); !dir.isEmpty()) {
            // At its opening width, the level axis fitted to the line.
            form->resize(form->NeededWidth(), 650);
            form->Action(QStringLiteral("actShowAllY"))->trigger();
            QTest::qWait(50);
            QDir().mkpath(dir);
            form->grab().save(QDir(dir).filePath(QStringLiteral("trend_cursors.png")));
            form->Chart1->ViewBack();
        }
        // Off: the marks go, and a click is no cursor.
        form->Action(QStringLiteral("actCursors"))->trigger();
        QVERIFY(!form->CursorPanel->isVisible());
        QVERIFY(!form->Chart1->CursorX(0));
        QTest::mouseClick(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(px(x0 + 63), y));
        QVERIFY(!form->CursorAt[0]);
    }

    // Back and forward through the views the zoom actions, the presets and a drag left, with
    // Alt+Left and Alt+Right; a new zoom after going back drops the views ahead.
    void zoomHistoryBackAndForward() {
        const TDateTime t0 = Rig::At(2024, 3, 5, 12);
        Rig::Fill(Hu, t0, t0 + 0.1, 60, [](int k) { return 100.0 + k; });
        auto form = Open(t0 - 0.1, t0 + 0.2);
        form->resize(1100, 650);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QAction* back = form->Action(QStringLiteral("actViewBack"));
        QAction* forward = form->Action(QStringLiteral("actViewForward"));
        QVERIFY(!back->isEnabled() && !forward->isEnabled());
        const TTrendView opened = form->Chart1->View();
        form->Action(QStringLiteral("actZoomPlus"))->trigger();
        const TTrendView zoomed = form->Chart1->View();
        form->Action(QStringLiteral("actSetOneHour"))->trigger();
        const TTrendView hour = form->Chart1->View();
        QVERIFY(!(hour == zoomed) && !(zoomed == opened));
        // A rectangle dragged right and down zooms as well.
        QTest::mousePress(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        QTest::mouseMove(form->Chart1, QPoint(400, 200));
        QTest::mouseRelease(form->Chart1, Qt::LeftButton, Qt::NoModifier, QPoint(400, 200));
        const TTrendView dragged = form->Chart1->View();
        QVERIFY(dragged.X1 - dragged.X0 < hour.X1 - hour.X0);
        QVERIFY(back->isEnabled() && !forward->isEnabled());

        QTest::keyClick(form.get(), Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(form->Chart1->View(), hour);
        QTest::keyClick(form.get(), Qt::Key_Left, Qt::AltModifier);
        QCOMPARE(form->Chart1->View(), zoomed);
        back->trigger();
        QCOMPARE(form->Chart1->View(), opened);
        QVERIFY(!back->isEnabled() && forward->isEnabled());
        QTest::keyClick(form.get(), Qt::Key_Right, Qt::AltModifier);
        QCOMPARE(form->Chart1->View(), zoomed);
        forward->trigger();
        QCOMPARE(form->Chart1->View(), hour);
        // The span panel follows the view gone back to.
        QVERIFY(form->Panel(TFormGraph::PanelSpan)
                    ->text()
                    .contains(TTrendChart::XLabel(hour.X0).mid(9)));
        form->Action(QStringLiteral("actZoomMinus"))->trigger();
        QVERIFY(!forward->isEnabled());
        back->trigger();
        QCOMPARE(form->Chart1->View(), hour);
    }

    void showTrendRunsModally() {
        const TDateTime now = NowDateTime();
        QString name;
        R->Answer = [&](QDialog* d) {
            name = d->objectName();
            if (auto* form = qobject_cast<TFormGraph*>(d)) {
                form->ApplyStep(2);
                form->Action(QStringLiteral("actClose"))->trigger();
            }
            return int(QDialog::Rejected);
        };
        QCOMPARE(ShowTrend(Hu, Source.get(), QStringLiteral("График"), now - 1, now), 0);
        QCOMPARE(name, QStringLiteral("FormGraph"));
        QVERIFY(R->ReadIni().contains(QStringLiteral("dtStepIndex=2")));
        // The window let go of the value: readings no longer reach it.
        QVERIFY(Source->Subscribers().empty() ||
                std::all_of(Source->Subscribers().begin(), Source->Subscribers().end(),
                            [](TIOData* s) { return s == nullptr; }));
    }
};

QTEST_MAIN(TestFormGraph)
#include "tst_formgraph.moc"
