// Value descriptions: range setters, Assign across the classes, sections, ini load and save,
// and the number format under Russian regional settings.

#include "IODescription.h"
#include "tests/support/TestDirs.h"
#include "uIniFile.h"
#include <QFile>
#include <QLocale>
#include <QTest>
#include <stdexcept>

class TestIODescription : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void defaultNames();
    void rangeSetters_data();
    void rangeSetters();
    void assignAcrossClasses();
    void attachTo();
    void loadKeepsRangeWhenMinAboveMax();
    void loadMissingKeysKeepFields();
    void loadTakesLowEightBits();
    void saveLoadRoundTripDouble();
    void saveLoadRoundTripThreeStates();
    void saveToMissingDirectoryThrows();
    void formatNumber_data();
    void formatNumber();
    void formatWithUnit();

private:
    QString Ini(const QString& name) const { return Dirs.Root.filePath(name); }
    static void WriteFile(const QString& path, const QByteArray& text) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    TTestDirs Dirs;
};

void TestIODescription::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
    QCOMPARE(QLocale().groupSeparator(), QString(QChar(0x00A0)));
}

void TestIODescription::defaultNames() {
    QCOMPARE(TDescriptionOfCustomValue().Name, QStringLiteral("DescriptionOfCustomValue"));
    QCOMPARE(TDescriptionOfValue().Name, QStringLiteral("DescriptionOfValue"));
    QCOMPARE(TDescriptionOfDouble().Name, QStringLiteral("DescriptionOfValue"));
    TDescriptionOfThreeStates t;
    QCOMPARE(t.Name, QStringLiteral("DescriptionOfThreeStates"));
    QCOMPARE(t.Captions[tsFalse], QStringLiteral("Off"));
    QCOMPARE(t.Color1[tsUnknown], TColor(8421504));
    QCOMPARE(t.Color1[tsFalse], TColor(255));
    QCOMPARE(t.Color1[tsTrue], TColor(65280));
    QCOMPARE(t.Color2[tsTrue], TColor(0x8000000F));
    QCOMPARE(t.CaptionOf(3), QString());
}

void TestIODescription::rangeSetters_data() {
    QTest::addColumn<QString>("steps"); // "min x", "max x" or "range a b", separated by ';'
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::newRow("min above max ignored") << "min 150" << 0.0 << 100.0;
    QTest::newRow("max then min equal") << "max 150;min 150" << 150.0 << 150.0;
    QTest::newRow("max below min ignored") << "max -5" << 0.0 << 100.0;
    QTest::newRow("range reversed ignored") << "range 50 20" << 0.0 << 100.0;
    QTest::newRow("range") << "range -10 -1" << -10.0 << -1.0;
    QTest::newRow("nan ignored") << "min nan;max nan;range nan 5" << 0.0 << 100.0;
}

void TestIODescription::rangeSetters() {
    QFETCH(QString, steps);
    QFETCH(double, min);
    QFETCH(double, max);
    TDescriptionOfDouble d;
    for (const QString& step : steps.split(QLatin1Char(';'))) {
        const QStringList w = step.split(QLatin1Char(' '));
        auto num = [](const QString& s) { return s == "nan" ? qQNaN() : s.toDouble(); };
        if (w[0] == "min")
            d.SetMin(num(w[1]));
        else if (w[0] == "max")
            d.SetMax(num(w[1]));
        else
            d.SetRange(num(w[1]), num(w[2]));
    }
    QCOMPARE(d.Min(), min);
    QCOMPARE(d.Max(), max);
}

void TestIODescription::assignAcrossClasses() {
    TDescriptionOfDouble src;
    src.Title = QStringLiteral("Уровень");
    src.Hint = QStringLiteral("Уровень продукта");
    src.Dimension = QStringLiteral("мм");
    src.SetMin(10);
    src.Precision = 6;
    src.Digits = 1;

    TDescriptionOfDouble dst;
    dst.Assign(&src);
    QCOMPARE(dst.Title, src.Title);
    QCOMPARE(dst.Hint, src.Hint);
    QCOMPARE(dst.Dimension, QStringLiteral("мм"));
    QCOMPARE(dst.Min(), 10.0);
    QCOMPARE(dst.Max(), 100.0);
    QCOMPARE(dst.Precision, std::uint8_t(6));
    QCOMPARE(dst.Digits, std::uint8_t(1));

    // The range is copied as it is, whatever range the target held before.
    TDescriptionOfDouble low, high;
    low.SetRange(5, 5);
    high.SetRange(200, 300);
    TDescriptionOfDouble target;
    target.SetRange(200, 300);
    target.Assign(&low);
    QCOMPARE(target.Min(), 5.0);
    QCOMPARE(target.Max(), 5.0);
    target.SetRange(-300, -200);
    target.Assign(&high);
    QCOMPARE(target.Min(), 200.0);
    QCOMPARE(target.Max(), 300.0);

    TDescriptionOfThreeStates ts;
    ts.Title = QStringLiteral("Реле 1");
    ts.Hint = QStringLiteral("Состояние реле");
    TDescriptionOfDouble fromTs;
    fromTs.Dimension = QStringLiteral("%");
    fromTs.Assign(&ts);
    QCOMPARE(fromTs.Title, QStringLiteral("Реле 1"));
    QCOMPARE(fromTs.Hint, QStringLiteral("Состояние реле"));
    QCOMPARE(fromTs.Dimension, QStringLiteral("%"));
    QCOMPARE(fromTs.Max(), 100.0);

    TDescriptionOfCustomValue plain; // not a TDescriptionOfValue: a double takes nothing
    plain.Title = QStringLiteral("Прибор");
    TDescriptionOfDouble fromPlain;
    fromPlain.Assign(&plain);
    QVERIFY(fromPlain.Title.isEmpty());

    ts.SetCaptions(QStringLiteral("Нет связи"), QStringLiteral("Выкл"), QStringLiteral("Вкл"));
    ts.SetColors1(1, 2, 3);
    ts.SetColors2(4, 5, 6);
    TDescriptionOfThreeStates ts2;
    ts2.Assign(&ts);
    QCOMPARE(ts2.Title, QStringLiteral("Реле 1"));
    QCOMPARE(ts2.Captions[tsUnknown], QStringLiteral("Нет связи"));
    QCOMPARE(ts2.Captions[tsTrue], QStringLiteral("Вкл"));
    QCOMPARE(ts2.Color1[tsFalse], TColor(2));
    QCOMPARE(ts2.Color2[tsTrue], TColor(6));
    TDescriptionOfThreeStates ts3;
    ts3.Assign(&src); // from a double: Title and Hint only
    QCOMPARE(ts3.Title, QStringLiteral("Уровень"));
    QCOMPARE(ts3.Captions[tsTrue], QStringLiteral("On"));
}

void TestIODescription::attachTo() {
    TDescriptionOfCustomValue dev;
    dev.SetSection(QStringLiteral("Dev"));
    dev.SetFileName(QStringLiteral("/x/dev.ini"));
    TDescriptionOfThreeStates t;
    t.AttachTo(&dev);
    QCOMPARE(t.Section, QStringLiteral("Dev.DescriptionOfThreeStates"));
    QCOMPARE(t.FileName, QStringLiteral("/x/dev.ini"));
    TDescriptionOfDouble d;
    d.SetName(QStringLiteral("Level"));
    d.AttachTo(&dev);
    QCOMPARE(d.Section, QStringLiteral("Dev.Level"));
    d.AttachTo(nullptr);
    QCOMPARE(d.Section, QStringLiteral("Dev.Level"));
}

void TestIODescription::loadKeepsRangeWhenMinAboveMax() {
    const QString path = Ini(QStringLiteral("reversed.ini"));
    WriteFile(path, "[L]\nMin=50\nMax=20\nDimension=mm\n");
    TDescriptionOfDouble d;
    d.SetRange(1, 2);
    d.SetFileName(path);
    d.SetSection(QStringLiteral("L"));
    d.Load();
    QCOMPARE(d.Min(), 1.0);
    QCOMPARE(d.Max(), 2.0);
    QCOMPARE(d.Dimension, QStringLiteral("mm"));
}

void TestIODescription::loadMissingKeysKeepFields() {
    const QString path = Ini(QStringLiteral("partial.ini"));
    WriteFile(path, "[L]\nTitle=Level\nMin=abc\nMax=1.5e3\nPrecision=x\n");
    TDescriptionOfDouble d;
    d.Hint = QStringLiteral("keep");
    d.Dimension = QStringLiteral("мм");
    d.SetFileName(path);
    d.SetSection(QStringLiteral("l")); // sections match without regard to case
    d.Load();
    QCOMPARE(d.Title, QStringLiteral("Level"));
    QCOMPARE(d.Hint, QStringLiteral("keep"));
    QCOMPARE(d.Dimension, QStringLiteral("мм"));
    QCOMPARE(d.Min(), 0.0);
    QCOMPARE(d.Max(), 1500.0);
    QCOMPARE(d.Precision, std::uint8_t(9));

    TDescriptionOfThreeStates t; // a missing file reads as empty
    t.SetFileName(Ini(QStringLiteral("missing.ini")));
    t.SetSection(QStringLiteral("T"));
    t.Load();
    QCOMPARE(t.Captions[tsUnknown], QStringLiteral("Unknown"));
    QCOMPARE(t.Color2[tsFalse], clBtnFace);
    QVERIFY(!QFile::exists(t.FileName));
}

void TestIODescription::loadTakesLowEightBits() {
    const QString path = Ini(QStringLiteral("bits.ini"));
    WriteFile(path, "[L]\nPrecision=259\nDigits=-1\n[T]\nColor2[tsTrue]=-2147483633\n"
                    "Color2[tsFalse]=2147483663\nColor1[tsUnknown]=16711680\n");
    TDescriptionOfDouble d;
    d.SetFileName(path);
    d.SetSection(QStringLiteral("L"));
    d.Load();
    QCOMPARE(d.Precision, std::uint8_t(3));
    QCOMPARE(d.Digits, std::uint8_t(255));
    TDescriptionOfThreeStates t;
    t.SetColors2(0, 0, 0);
    t.SetFileName(path);
    t.SetSection(QStringLiteral("T"));
    t.Load();
    QCOMPARE(t.Color2[tsTrue], TColor(0x8000000F));
    QCOMPARE(t.Color2[tsFalse], TColor(0x8000000F));
    QCOMPARE(t.Color1[tsUnknown], TColor(0xFF0000));
}

void TestIODescription::saveLoadRoundTripDouble() {
    const QString path = Ini(QStringLiteral("double.ini"));
    WriteFile(path, "; kept\n[Other]\nA=1\n");
    TDescriptionOfDouble d;
    d.Title = QStringLiteral("Уровень");
    d.Hint = QStringLiteral("Уровень продукта");
    d.Dimension = QStringLiteral("мм");
    d.SetRange(-12.5, 1.0 / 3.0);
    d.Precision = 7;
    d.Digits = 3;
    d.SetFileName(path);
    d.SetSection(QStringLiteral("Dev.Level"));
    d.Save();

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    QVERIFY2(text.contains(QStringLiteral("; kept\n[Other]\nA=1\n")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("[Dev.Level]\nTitle=Уровень\nHint=Уровень продукта\n"
                                          "Max=0,333333333333333\nMin=-12,5\nDimension=мм\n"
                                          "Precision=7\nDigits=3")),
             qPrintable(text));

    TDescriptionOfDouble back;
    back.SetFileName(path);
    back.SetSection(QStringLiteral("Dev.Level"));
    back.Load();
    QCOMPARE(back.Title, d.Title);
    QCOMPARE(back.Hint, d.Hint);
    QCOMPARE(back.Dimension, d.Dimension);
    QCOMPARE(back.Min(), -12.5);
    QCOMPARE(back.Max(), 0.333333333333333);
    QCOMPARE(back.Precision, std::uint8_t(7));
    QCOMPARE(back.Digits, std::uint8_t(3));
}

void TestIODescription::saveLoadRoundTripThreeStates() {
    const QString path = Ini(QStringLiteral("three.ini"));
    TDescriptionOfThreeStates t;
    t.SetFileName(path); // created when missing
    t.SetSection(QStringLiteral("R"));
    t.SetCaption(tsTrue, QStringLiteral("Сработало"));
    t.SetColors1(clGray, clBlack, 0x00FF00FF);
    t.Save();
    TDescriptionOfThreeStates back;
    back.SetCaptions(QString(), QString(), QString());
    back.SetColors1(0, 0, 0);
    back.SetColors2(0, 0, 0);
    back.SetFileName(path);
    back.SetSection(QStringLiteral("R"));
    back.Load();
    QCOMPARE(back.Captions, t.Captions);
    QCOMPARE(back.Color1, t.Color1);
    QCOMPARE(back.Color2, t.Color2);
    TIniFile ini(path);
    QCOMPARE(
        ini.ReadSection(QStringLiteral("R")),
        QStringList({"Title", "Hint", "Captions[tsUnknown]", "Captions[tsFalse]",
                     "Captions[tsTrue]", "Color1[tsUnknown]", "Color1[tsFalse]", "Color1[tsTrue]",
                     "Color2[tsUnknown]", "Color2[tsFalse]", "Color2[tsTrue]"}));
}

void TestIODescription::saveToMissingDirectoryThrows() {
    TDescriptionOfDouble d;
    d.SetFileName(Ini(QStringLiteral("no/such/dir/d.ini")));
    d.SetSection(QStringLiteral("L"));
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, d.Save());
}

void TestIODescription::formatNumber_data() {
    // A blank in `expected` stands for the regional group separator.
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("precision");
    QTest::addColumn<int>("digits");
    QTest::addColumn<QString>("expected");
    QTest::newRow("grouped, no decimals") << 12345.6 << 9 << 0 << "12 346";
    QTest::newRow("0.005 rounds up") << 0.005 << 9 << 2 << "0,01";
    QTest::newRow("-0.005 away from zero") << -0.005 << 9 << 2 << "-0,01";
    QTest::newRow("1.005 is not 1.00") << 1.005 << 9 << 2 << "1,01";
    QTest::newRow("2.675") << 2.675 << 9 << 2 << "2,68";
    QTest::newRow("half to 1") << 0.5 << 9 << 0 << "1";
    QTest::newRow("2.5 to 3") << 2.5 << 9 << 0 << "3";
    QTest::newRow("-2.5 to -3") << -2.5 << 9 << 0 << "-3";
    QTest::newRow("nine digits and two decimals") << 123456789.123 << 9 << 2 << "123 456 789,00";
    QTest::newRow("precision keeps fewer") << 12.345 << 3 << 2 << "12,30";
    QTest::newRow("decimals keep fewer") << 12.345 << 9 << 1 << "12,3";
    QTest::newRow("carry into a new group") << 999.96 << 9 << 1 << "1 000,0";
    QTest::newRow("zero") << 0.0 << 9 << 2 << "0,00";
    QTest::newRow("small negative has no sign") << -0.004 << 9 << 2 << "0,00";
    QTest::newRow("tiny") << 1e-7 << 9 << 3 << "0,000";
    QTest::newRow("negative grouped") << -1234567.891 << 9 << 2 << "-1 234 567,89";
    QTest::newRow("0.1 + 0.2") << 0.1 + 0.2 << 15 << 2 << "0,30";
    QTest::newRow("integer part too long") << 1234567890.5 << 9 << 2 << "1,23456789E+09";
    QTest::newRow("negative scientific") << -987654.321 << 5 << 2 << "-9,8765E+05";
    QTest::newRow("rounding makes it too long") << 999999999.999 << 9 << 2 << "1E+09";
    QTest::newRow("general") << 1234.5 << 9 << 255 << "1234,5";
    QTest::newRow("general rounded") << 1.0 / 3.0 << 4 << 255 << "0,3333";
    QTest::newRow("general small") << -0.0000015 << 9 << 255 << "-1,5E-06";
    QTest::newRow("general large") << 1.5e12 << 9 << 255 << "1,5E+12";
}

void TestIODescription::formatNumber() {
    QFETCH(double, value);
    QFETCH(int, precision);
    QFETCH(int, digits);
    QFETCH(QString, expected);
    expected.replace(QLatin1Char(' '), QLocale().groupSeparator());
    QCOMPARE(FormatNumber(value, precision, digits), expected);
    TDescriptionOfDouble d;
    d.Precision = std::uint8_t(precision);
    d.Digits = std::uint8_t(digits);
    QCOMPARE(d.FormatValue(value), expected);
}

void TestIODescription::formatWithUnit() {
    TDescriptionOfDouble d;
    QCOMPARE(d.FormatWithUnit(1.5), QStringLiteral("1,50"));
    d.Dimension = QStringLiteral("мм");
    d.Digits = 0;
    QCOMPARE(d.FormatWithUnit(-2500), QString("-2") + QLocale().groupSeparator() + "500 мм");
}

QTEST_GUILESS_MAIN(TestIODescription)
#include "tst_iodescription.moc"
