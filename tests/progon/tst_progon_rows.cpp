// The run table without a line: which row the live level falls into, how each cell is marked
// (bold and green or yellow in the current row, red for a current off by more than 0.03 mA
// either way), the cell texts and the button caption, and reference currents that stay finite
// whatever dist.2 is.

#include "Ulmar.h"
#include "uProgonCommands.h"

#include <QTest>
#include <cmath>
#include <limits>

class TestProgonRows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    // Rows 1 to 5 accept 14 700..15 300, 10 950..11 550, 7 200..7 800, 3 450..4 050, -300..300.
    void currentRow_data() {
        QTest::addColumn<double>("level");
        QTest::addColumn<int>("row");
        QTest::newRow("row 1, 240 mm off") << 14760.0 << 1;
        QTest::newRow("row 1, upper edge") << 15300.0 << 1;
        QTest::newRow("just above row 1") << 15300.5 << 0;
        QTest::newRow("between rows 1 and 2") << 10900.0 << 0;
        QTest::newRow("row 2, lower edge") << 10950.0 << 2;
        QTest::newRow("row 4") << 4000.0 << 4;
        QTest::newRow("row 5, below zero") << -300.0 << 5;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
    }
    void currentRow() {
        QFETCH(double, level);
        QFETCH(int, row);
        TUlmar u;
        QCOMPARE(CurrentProgonRow(u, level), row);
    }

    void rowColours_data() {
        QTest::addColumn<double>("level");
        QTest::addColumn<int>("shade");
        QTest::newRow("240 mm off: unchanged") << 14760.0 << int(TProgonShade::None);
        QTest::newRow("20 mm off: green") << 14980.0 << int(TProgonShade::Green);
        QTest::newRow("70 mm off: yellow") << 14930.0 << int(TProgonShade::Yellow);
        QTest::newRow("50 mm off: yellow") << 14950.0 << int(TProgonShade::Yellow);
        QTest::newRow("100 mm off: unchanged") << 15100.0 << int(TProgonShade::None);
    }
    // The current row is bold in every column, its background by the distance to its Sample;
    // the other rows stay plain.
    void rowColours() {
        QFETCH(double, level);
        QFETCH(int, shade);
        TUlmar u;
        for (TProgonPoint& p : u.ProgonPoints)
            p.dCurrentValue = 0; // no current marks in the way
        for (int c = ProgonColNumber; c < ProgonColumnCount; ++c) {
            const TProgonCellLook look = ProgonCellLook(u, level, 1, c);
            QVERIFY(look.Bold);
            QCOMPARE(int(look.Background), shade);
            QCOMPARE(ProgonCellLook(u, level, 2, c), TProgonCellLook{});
        }
    }

    void noCurrentRowNoMarks() {
        TUlmar u;
        for (TProgonPoint& p : u.ProgonPoints)
            p.dCurrentValue = 0;
        for (int r = 1; r <= 5; ++r)
            for (int c = 0; c < ProgonColumnCount; ++c)
                QCOMPARE(ProgonCellLook(u, 10900, r, c), TProgonCellLook{});
    }

    void currentDifferenceRed_data() {
        QTest::addColumn<double>("difference");
        QTest::addColumn<bool>("red");
        QTest::newRow("0.031") << 0.031 << true;
        QTest::newRow("-0.5") << -0.5 << true;
        QTest::newRow("-0.031") << -0.031 << true;
        QTest::newRow("0.03") << 0.03 << false;
        QTest::newRow("-0.03") << -0.03 << false;
        QTest::newRow("0") << 0.0 << false;
    }
    // Only the "d Ток, мА" cell, and over the current row's green.
    void currentDifferenceRed() {
        QFETCH(double, difference);
        QFETCH(bool, red);
        TUlmar u;
        u.ProgonPoints[0].dCurrentValue = difference;
        const TProgonCellLook look = ProgonCellLook(u, 15000, 1, ProgonColDCurrentValue);
        QCOMPARE(look.Background, red ? TProgonShade::Red : TProgonShade::Green);
        QVERIFY(look.Bold);
        QCOMPARE(ProgonCellLook(u, 15000, 1, ProgonColCurrentValue).Background,
                 TProgonShade::Green);
        // Away from the current row as well.
        QCOMPARE(ProgonCellLook(u, 10900, 1, ProgonColDCurrentValue).Background,
                 red ? TProgonShade::Red : TProgonShade::None);
    }

    // A gauge whose current is 5 mA too high: the difference is -5 and the cell is red.
    void currentTooHighIsRed() {
        TUlmar u;
        TProgonPoint& p = u.ProgonPoints[2];
        p.Value = 7500;
        p.CurrentValue = 15; // 10 mA expected
        u.RecalcProgon();
        QCOMPARE(p.dCurrentValue, -5.0);
        QCOMPARE(ProgonCellLook(u, 10900, 3, ProgonColDCurrentValue).Background, TProgonShade::Red);
    }

    void cellTexts() {
        TUlmar u;
        TProgonPoint& p = u.ProgonPoints[1];
        p.Value = 11248.1234;
        p.CurrentValue = 14.99;
        u.RecalcProgon();
        QCOMPARE(ProgonHeaders(), (QStringList{"№", "Рулетка, мм", "Уровень, мм", "d Уровень, мм",
                                               "Ток, мА", "Изм.Ток, мА", "d Ток, мА"}));
        QStringList texts;
        for (int c = 0; c < ProgonColumnCount; ++c)
            texts << ProgonCellText(u, 2, c);
        // No thousand separators; 0, 3, 3, 2, 2 and 3 decimals.
        QCOMPARE(texts,
                 (QStringList{"2", "4750", "11248.123", "1.877", "15.00", "14.99", "0.007"}));
        p.Value = std::numeric_limits<double>::infinity();
        QCOMPARE(ProgonCellText(u, 2, ProgonColValue), QString());
        QCOMPARE(ProgonCellText(u, 6, ProgonColValue), QString());
        QCOMPARE(ProgonCellText(u, 0, ProgonColNumber), QString());
    }

    void buttonCaption() {
        const QLocale german(QLocale::German, QLocale::Germany);
        QCOMPARE(ProgonButtonCaption(4012.34, 11987.66, 15.987, german),
                 QStringLiteral("Установить\n\nСв.пр-во, мм \n4.012,3\nУровень, мм\n11.987,7\n"
                                "Ток, мА\n15,99"));
    }

    void failureText() {
        QCOMPARE(TProgonCommands::FailureText(
                     {"Записать dist.1 - Неизмеряемый участок", "Записать режим отображения"}),
                 QStringLiteral("Прогон: не выполнены команды:\n"
                                "Записать dist.1 - Неизмеряемый участок\n"
                                "Записать режим отображения\n"
                                "Параметры в ПЗУ не сохранены."));
    }

    // dist.2 of 0, or one so small that the quotient overflows, leaves the reference currents
    // as they were: every number of the table stays finite.
    void noInfinities_data() {
        QTest::addColumn<double>("dist2");
        QTest::newRow("0") << 0.0;
        QTest::newRow("denormal") << std::numeric_limits<double>::denorm_min();
    }
    void noInfinities() {
        QFETCH(double, dist2);
        TUlmar u;
        u.ProgonPoints[1].Value = 11000;
        u.ProgonPoints[1].CurrentValue = 14.5;
        u.SetDist2(dist2);
        QCOMPARE(u.Dist2(), dist2);
        u.RecalcProgon();
        u.RecalcProgonCurrents();
        u.FillProgonTemplate();
        u.ProgonPoints[3].Value = 3700;
        u.RecalcProgon();
        for (const TProgonPoint& p : u.ProgonPoints)
            for (double v : {p.Ruletka, p.Sample, p.Value, p.dValue, p.CurrentSample,
                             p.CurrentValue, p.dCurrentValue})
                QVERIFY(std::isfinite(v));
        QCOMPARE(u.ProgonPoints[3].dValue, 50.0);
        for (int r = 1; r <= 5; ++r)
            for (int c = 0; c < ProgonColumnCount; ++c)
                QVERIFY(!ProgonCellText(u, r, c).contains("inf", Qt::CaseInsensitive));
    }
};

QTEST_GUILESS_MAIN(TestProgonRows)
#include "tst_progon_rows.moc"
