// Visual bindings: texts and three-line tool tips under Russian regional settings, the first
// reading of 0, the bar gauge binding, and controls that go away before the binding.
#include "IOVisual.h"
#include "VHistogram.h"

#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QTest>

namespace {

void DescribeLevel(TIODouble& value) {
    TDescriptionOfDouble* d = value.Description();
    d->Title = QStringLiteral("Уровень");
    d->Hint = QStringLiteral("Уровень продукта");
    d->Dimension = QStringLiteral("мм");
    d->Precision = 9;
    d->Digits = 0;
    d->SetRange(0, 45000);
}

const QString Nbsp = QStringLiteral("\u00A0");

} // namespace

class TestIOVisual : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void labelTexts_data() {
        QTest::addColumn<int>("kind"); // 0 label, 1 static text
        QTest::newRow("label") << 0;
        QTest::newRow("static text") << 1;
    }
    void labelTexts() {
        QFETCH(int, kind);
        TIODouble level;
        DescribeLevel(level);
        QLabel title, value, unit;
        std::unique_ptr<TIODoubleVisual> binding;
        if (kind == 0) {
            auto b = std::make_unique<TIODoubleLabel>();
            b->ValueControl = &value;
            binding = std::move(b);
        } else {
            auto b = std::make_unique<TIODoubleStaticText>();
            b->ValueControl = &value;
            binding = std::move(b);
        }
        binding->TitleControl = &title;
        binding->DimensionControl = &unit;
        binding->Connect(&level, false);
        binding->Description()->Assign(level.Description());

        level.SetValue(TVariant::FromDouble(1234.5));
        QCOMPARE(value.text(), QStringLiteral("1") + Nbsp + QStringLiteral("235"));
        QCOMPARE(value.toolTip(),
                 QStringLiteral("Уровень\nУровень продукта\n1") + Nbsp + QStringLiteral("235 мм"));
        QCOMPARE(title.text(), QStringLiteral("Уровень"));
        QCOMPARE(unit.text(), QStringLiteral("мм"));
        binding->Disconnect(&level);
    }

    void decimalsFollowDescription() {
        TIODouble volume;
        volume.Description()->Digits = 2;
        volume.Description()->Dimension = QStringLiteral("%");
        QLabel value;
        TIODoubleLabel binding;
        binding.ValueControl = &value;
        binding.Connect(&volume, false);
        binding.Description()->Assign(volume.Description());
        volume.SetValue(TVariant::FromDouble(0.005));
        QCOMPARE(value.text(), QStringLiteral("0,01"));
        QVERIFY(value.toolTip().endsWith(QStringLiteral("\n0,01 %")));
        binding.Disconnect(&volume);
    }

    void titleIntoGroupBox() {
        TIODouble level;
        DescribeLevel(level);
        QGroupBox group;
        TIODoubleLabel binding;
        binding.TitleControl = &group;
        binding.Description()->Assign(level.Description());
        binding.Refresh();
        QCOMPARE(group.title(), QStringLiteral("Уровень"));
    }

    void emptyControlsDoNothing() {
        TIODouble level;
        TIODoubleLabel label;
        TIODoubleStaticText text;
        TIODoubleVHistogram bar;
        for (TIODoubleVisual* b :
             {static_cast<TIODoubleVisual*>(&label), static_cast<TIODoubleVisual*>(&text),
              static_cast<TIODoubleVisual*>(&bar)}) {
            b->Connect(&level, false);
            b->Refresh();
        }
        level.SetValue(TVariant::FromDouble(3));
        QCOMPARE(label.AsDouble(), 3.0);
        for (TIODoubleVisual* b :
             {static_cast<TIODoubleVisual*>(&label), static_cast<TIODoubleVisual*>(&text),
              static_cast<TIODoubleVisual*>(&bar)})
            b->Disconnect(&level);
    }

    void firstZeroReadingDoesNotRefresh() {
        TIODouble level;
        QLabel value(QStringLiteral("---"));
        TIODoubleLabel binding;
        binding.ValueControl = &value;
        binding.Connect(&level, false);
        level.SetValue(TVariant::FromDouble(0.0));
        QCOMPARE(value.text(), QStringLiteral("---"));
        binding.Refresh();
        QCOMPARE(value.text(), QStringLiteral("0,00"));
        level.SetValue(TVariant::FromDouble(0.0)); // same output again: no refresh
        value.setText(QStringLiteral("---"));
        level.SetValue(TVariant::FromDouble(0.0));
        QCOMPARE(value.text(), QStringLiteral("---"));
        binding.Disconnect(&level);
    }

    void barBindingOutsideRange() {
        TIODouble level;
        DescribeLevel(level);
        TVHistogram vh;
        vh.SetRange(0, 4000);
        TIODoubleVHistogram binding;
        binding.ValueControl = &vh;
        binding.Connect(&level, false);
        binding.Description()->Assign(level.Description());
        level.SetValue(TVariant::FromDouble(1500));
        QCOMPARE(vh.Value(), 1500.0);
        QVERIFY(vh.toolTip().endsWith(QStringLiteral("\n1") + Nbsp + QStringLiteral("500 мм")));
        level.SetValue(TVariant::FromDouble(5000));
        QCOMPARE(vh.Value(), 1500.0); // the bar keeps its value
        QVERIFY(vh.toolTip().endsWith(QStringLiteral("\n5") + Nbsp + QStringLiteral("000 мм")));
        binding.Disconnect(&level);
    }

    void disconnectedBindingIsNotUpdated() {
        TIODouble level;
        QLabel value;
        TIODoubleLabel binding;
        binding.ValueControl = &value;
        binding.Description()->Digits = 0;
        binding.Connect(&level, false);
        level.SetValue(TVariant::FromDouble(7));
        QCOMPARE(value.text(), QStringLiteral("7"));
        binding.Disconnect(&level);
        level.SetValue(TVariant::FromDouble(8));
        QCOMPARE(value.text(), QStringLiteral("7"));
    }

    void controlDestroyedBeforeBinding() {
        TIODouble level;
        TIODoubleLabel binding;
        auto* value = new QLabel;
        binding.ValueControl = value;
        binding.Connect(&level, false);
        delete value;
        level.SetValue(TVariant::FromDouble(5)); // must not touch the destroyed label
        QVERIFY(binding.ValueControl.isNull());
        QCOMPARE(binding.AsDouble(), 5.0);
        binding.Disconnect(&level);
    }
};

QTEST_MAIN(TestIOVisual)
#include "tst_iovisual.moc"
