// Bar gauge: rows of values, the automatic scale step, ticks and numbers, zones, colours,
// the reversed scale, setter rules and the pixels of the off-screen picture.
#include "VHistogram.h"

#include <QApplication>
#include <QLocale>
#include <QTest>

class TestVHistogram : public QObject {
    Q_OBJECT

    static QColor Px(const QImage& img, int x, int y) { return img.pixelColor(x, y); }

    // A 50 x H gauge without frame, scale or zones, so that the bar alone is drawn.
    static void Plain(TVHistogram& vh, int h) {
        vh.resize(50, h);
        vh.SetBorder(bNone);
    }

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void defaults() {
        TVHistogram vh;
        QCOMPARE(vh.size(), QSize(50, 200));
        QCOMPARE(vh.Border(), bLower);
        QCOMPARE(vh.FrameWidth(), 1);
        QCOMPARE(vh.Max(), 100.0);
        QCOMPARE(vh.ColorProductType(), cptManual);
        QCOMPARE(vh.ColorProduct(), TColor(0x800000));
        QCOMPARE(vh.ZoneAlarmLow().Value, 15.0);
        QCOMPARE(vh.ZoneAlarmHigh().Value, 85.0);
    }

    void valueRows_data() {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("row");
        QTest::newRow("middle") << 0.0 << 100.0 << 200 << 50.0 << 100;
        QTest::newRow("bottom") << 0.0 << 100.0 << 200 << 0.0 << 200;
        QTest::newRow("top") << 0.0 << 100.0 << 200 << 100.0 << 0;
        QTest::newRow("tie rounds to even down") << 0.0 << 400.0 << 200 << 5.0 << 198; // 2.5
        QTest::newRow("tie rounds to even up") << 0.0 << 400.0 << 200 << 3.0 << 198;   // 1.5
        QTest::newRow("offset range") << 1000.0 << 2000.0 << 100 << 1250.0 << 75;
        QTest::newRow("min equals max") << 7.0 << 7.0 << 200 << 7.0 << -1;
        QTest::newRow("overflow") << 0.0 << 1.0 << 200 << 1e308 << -1;
        QTest::newRow("row beyond int") << 0.0 << 1.0 << 200 << 1e12 << -1;
    }
    void valueRows() {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(int, height);
        QFETCH(double, value);
        QFETCH(int, row);
        QCOMPARE(TVHistogram::ValueToRow(value, min, max, height), row);
        TVHistogram vh;
        vh.resize(50, height);
        vh.SetRange(min, max);
        QCOMPARE(vh.ValueToY(value), row);
    }

    void barPixels_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("firstProductRow"); // rows above are empty-coloured
        QTest::newRow("50") << 50.0 << 100;
        QTest::newRow("0: all empty") << 0.0 << 200;
        QTest::newRow("100: all product") << 100.0 << 0;
    }
    void barPixels() {
        QFETCH(double, value);
        QFETCH(int, firstProductRow);
        TVHistogram vh;
        Plain(vh, 200);
        vh.SetValue(1); // a different value first, so that 0 is a change as well
        vh.SetValue(value);
        const QImage img = vh.Render();
        const QColor empty = ColorToQColor(vh.ColorEmpty());
        const QColor product = ColorToQColor(vh.ColorProduct());
        for (int y : {0, firstProductRow - 1, firstProductRow, 199}) {
            if (y < 0 || y > 199)
                continue;
            QCOMPARE(Px(img, 25, y), y < firstProductRow ? empty : product);
        }
    }

    void valueOutsideRangeKeepsBar() {
        TVHistogram vh;
        Plain(vh, 200);
        vh.SetValue(50);
        const QImage before = vh.Render();
        vh.SetValue(120);
        vh.SetValue(-1);
        QCOMPARE(vh.Value(), 50.0);
        QCOMPARE(vh.Render(), before);
    }

    void minEqualsMaxIsAllProduct() {
        TVHistogram vh;
        Plain(vh, 200);
        vh.SetShowScaleMarks(true);
        vh.SetShowValues(true);
        vh.SetRange(30, 30);
        QCOMPARE(vh.ValueToY(30), -1);
        QVERIFY(vh.ScaleMarks().empty());
        const QImage img = vh.Render();
        const QColor product = ColorToQColor(vh.ColorProduct());
        for (int y : {0, 100, 199})
            QCOMPARE(Px(img, 25, y), product);
    }

    void scaleStep_data() {
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<int>("height");
        QTest::addColumn<double>("step");
        QTest::newRow("H 200, 0..4000") << 0.0 << 4000.0 << 200 << 200.0;
        QTest::newRow("H 349, 0..15000 (441.2)") << 0.0 << 15000.0 << 349 << 500.0;
        QTest::newRow("H 9: no scale") << 0.0 << 100.0 << 9 << 0.0;
        QTest::newRow("min = max") << 5.0 << 5.0 << 200 << 0.0;
        QTest::newRow("small step stays") << 0.0 << 1.0 << 200 << 0.05;
        QTest::newRow("0.7 becomes 1") << 0.0 << 14.0 << 200 << 1.0;
        QTest::newRow("huge step stays") << 0.0 << 300000.0 << 20 << 150000.0;
    }
    void scaleStep() {
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(int, height);
        QFETCH(double, step);
        QCOMPARE(TVHistogram::ScaleStep(min, max, height), step);
    }

    void ticksAndNumbers() {
        TVHistogram vh;
        vh.resize(81, 200);
        vh.SetRange(0, 4000);
        vh.SetDecimalSign(0);
        vh.SetShowScaleMarks(true);
        vh.SetShowValues(true);
        QList<double> longTicks, shortTicks, numbers;
        QStringList texts;
        for (const TScaleMark& m : vh.ScaleMarks()) {
            if (m.Length == 10)
                longTicks << m.Value;
            else if (m.Length == 5)
                shortTicks << m.Value;
            else {
                numbers << m.Value;
                texts << m.Text;
            }
            QCOMPARE(m.Row, vh.ValueToY(m.Value));
        }
        QCOMPARE(longTicks.size(), 19);
        QCOMPARE(longTicks.first(), 200.0);
        QCOMPARE(longTicks.last(), 3800.0);
        QCOMPARE(numbers, longTicks);
        QCOMPARE(shortTicks.size(), 39);
        QCOMPARE(shortTicks.first(), 100.0);
        QCOMPARE(shortTicks.last(), 3900.0);
        QCOMPARE(texts.first(), QStringLiteral("200"));
        QCOMPARE(texts.last(), QStringLiteral("3\u00A0800"));

        // Long tick of 2000 at row 100, 10 pixels from the frame; a short tick is 5 long.
        const QImage img = vh.Render();
        const QColor scale = ColorToQColor(vh.ColorScale());
        QCOMPARE(Px(img, 1, 100), scale);
        QCOMPARE(Px(img, 10, 100), scale);
        QVERIFY(Px(img, 11, 100) != scale);
        QCOMPARE(Px(img, 5, 95), scale); // 2100 is a short tick: x 1 to 5
        QVERIFY(Px(img, 6, 95) != scale);

        vh.SetShowValues(false);
        for (const TScaleMark& m : vh.ScaleMarks())
            QVERIFY(m.Length > 0);
    }

    void noScaleWhenTooLow() {
        TVHistogram vh;
        vh.resize(50, 9);
        vh.SetShowScaleMarks(true);
        vh.SetShowValues(true);
        QVERIFY(vh.ScaleMarks().empty());
        vh.resize(50, 10);
        QVERIFY(!vh.ScaleMarks().empty());
    }

    void automaticColours_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("zone");
        QTest::addColumn<int>("colour"); // 0 alarm, 1 attention, 2 product
        QTest::newRow("90") << 90.0 << 0 << 0;
        QTest::newRow("85 high limit") << 85.0 << 0 << 0;
        QTest::newRow("82") << 82.0 << 1 << 1;
        QTest::newRow("80") << 80.0 << 1 << 1;
        QTest::newRow("50") << 50.0 << 2 << 2;
        QTest::newRow("20") << 20.0 << 3 << 1;
        QTest::newRow("18") << 18.0 << 3 << 1;
        QTest::newRow("15 low limit") << 15.0 << 4 << 0;
        QTest::newRow("10") << 10.0 << 4 << 0;
    }
    void automaticColours() {
        QFETCH(double, value);
        QFETCH(int, zone);
        QFETCH(int, colour);
        TVHistogram vh;
        Plain(vh, 200);
        vh.SetColorProductType(cptAuto);
        vh.SetValue(value);
        QCOMPARE(vh.Zone(), zone);
        const TColor expected = colour == 0   ? vh.ColorZoneAlarm()
                                : colour == 1 ? vh.ColorZoneAttention()
                                              : vh.ColorProduct();
        QCOMPARE(vh.ProductColor(), expected);
        QCOMPARE(Px(vh.Render(), 25, 199), ColorToQColor(expected));
        vh.SetColorProductType(cptManual);
        QCOMPARE(vh.ProductColor(), vh.ColorProduct());
    }

    void reversedScale() {
        TVHistogram vh;
        vh.resize(81, 200);
        vh.SetShowScaleMarks(true);
        vh.SetShowValues(true);
        vh.SetDecimalSign(0);
        vh.SetScaleReverse(true);
        bool found = false;
        for (const TScaleMark& m : vh.ScaleMarks()) {
            if (m.Length == 0 && m.Text == QStringLiteral("20")) {
                QCOMPARE(m.Row, vh.ValueToY(80));
                found = true;
            }
        }
        QVERIFY(found);

        // Zones are not drawn with the reversed scale.
        vh.SetShowScaleZones(true);
        vh.SetValue(50);
        const QColor alarm = ColorToQColor(vh.ColorZoneAlarm());
        QVERIFY(Px(vh.Render(), 2, 12) != alarm);
        vh.SetScaleReverse(false);
        QCOMPARE(Px(vh.Render(), 2, 12), alarm);
    }

    void reversedScaleWithOffsetRange() {
        // The reversed numbers mirror within the range: Min stands at the top row.
        TVHistogram vh;
        vh.resize(81, 200);
        vh.SetRange(1000, 2000);
        vh.SetShowScaleMarks(true);
        vh.SetShowValues(true);
        vh.SetScaleReverse(true);
        for (const TScaleMark& m : vh.ScaleMarks())
            QCOMPARE(m.Row, vh.ValueToY(3000 - m.Value));
        QVERIFY(!vh.ScaleMarks().empty());
    }

    void zonesAndScaleLine() {
        TVHistogram vh;
        vh.resize(50, 200);
        vh.SetShowScaleZones(true);
        vh.SetValue(50);
        const QImage img = vh.Render();
        const QColor alarm = ColorToQColor(vh.ColorZoneAlarm());
        const QColor attention = ColorToQColor(vh.ColorZoneAttention());
        const QColor empty = ColorToQColor(vh.ColorEmpty());
        QCOMPARE(Px(img, 2, 10), alarm);      // above 85 (row 30)
        QCOMPARE(Px(img, 3, 35), attention);  // between 85 and 80 (rows 30 to 39)
        QCOMPARE(Px(img, 4, 35), empty);      // the strip is 3 pixels wide: x 1 to 3
        QCOMPARE(Px(img, 2, 175), alarm);     // below 15 (row 170)
        QCOMPARE(Px(img, 2, 165), attention); // between 20 (row 160) and 15
        QCOMPARE(Px(img, 1, 100), ColorToQColor(vh.ColorScale())); // the scale line
        // Dotted line at the alarm-high row: dots and gaps alternate.
        QCOMPARE(Px(img, 20, 30), alarm);
        QCOMPARE(Px(img, 21, 30), empty);

        vh.SetScaleAlignment(saRight); // xr = 50 - 1 - 0 - 1 = 48: strip x 46 and 47
        const QImage right = vh.Render();
        QCOMPARE(Px(right, 46, 10), alarm);
        QCOMPARE(Px(right, 47, 10), alarm);
        QCOMPARE(Px(right, 45, 10), empty);
        QCOMPARE(Px(right, 48, 100), ColorToQColor(vh.ColorScale()));
    }

    void frame() {
        TVHistogram vh;
        vh.resize(50, 200);
        vh.SetColorEmpty(0x00FF00);
        vh.SetValue(0.5); // nearly empty bar
        QImage img = vh.Render();
        QCOMPARE(Px(img, 0, 0), QColor(Qt::black));
        QCOMPARE(Px(img, 0, 100), QColor(Qt::black));
        QCOMPARE(Px(img, 49, 199), QColor(Qt::white));
        QCOMPARE(Px(img, 25, 199), QColor(Qt::white));
        vh.SetBorder(bUpper);
        img = vh.Render();
        QCOMPARE(Px(img, 0, 0), QColor(Qt::white));
        QCOMPARE(Px(img, 49, 100), QColor(Qt::black));
        vh.SetBorder(bNone);
        QCOMPARE(vh.FrameWidth(), 0);
        QCOMPARE(Px(vh.Render(), 0, 0), QColor(0, 255, 0));
    }

    void captionIsDrawn() {
        TVHistogram vh;
        Plain(vh, 200);
        const QImage before = vh.Render();
        vh.SetCaption(QStringLiteral("Ну"));
        QVERIFY(vh.Render() != before);
    }

    void setterRules() {
        TVHistogram vh;
        vh.SetMax(-1); // below Min
        QCOMPARE(vh.Max(), 100.0);
        vh.SetMin(101); // above Max
        QCOMPARE(vh.Min(), 0.0);
        vh.SetRange(10, 5);
        QCOMPARE(vh.Min(), 0.0);
        QCOMPARE(vh.Max(), 100.0);
        vh.SetRange(5, 5);
        QCOMPARE(vh.Max(), 5.0);
        vh.SetRange(0, 100);
        vh.SetValue(80);
        vh.SetRange(0, 50); // the value is not tested again
        QCOMPARE(vh.Value(), 80.0);
        vh.SetMax(qQNaN());
        QCOMPARE(vh.Max(), 50.0);

        vh.SetDValueSmall(-1);
        QCOMPARE(vh.DValueSmall(), 2.0);
        vh.SetDValueBig(60); // above Max
        QCOMPARE(vh.DValueBig(), 10.0);
        vh.SetDValueBig(40);
        QCOMPARE(vh.DValueBig(), 40.0);
        vh.SetDecimalSign(-1);
        QCOMPARE(vh.DecimalSign(), 1);
        vh.SetDecimalSign(3);
        QCOMPARE(vh.DecimalSign(), 3);
        vh.SetScaleReverse(true);
        QVERIFY(vh.ScaleReverse());
    }

    void systemColours() {
        QCOMPARE(ColorToQColor(0x0000FF), QColor(255, 0, 0));
        QCOMPARE(ColorToQColor(0xFF0000), QColor(0, 0, 255));
        QCOMPARE(ColorToQColor(clBtnFace), QApplication::palette().color(QPalette::Button));
    }
};

QTEST_MAIN(TestVHistogram)
#include "tst_vhistogram.moc"
