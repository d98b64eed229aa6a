// The parameter table against the request builder and the parser: every Read code fills the
// row's own field and every Write code carries it at the same index; the checks a parameter
// file must pass before it goes to a gauge; comparison and display at the gauge's precision.

#include "Ulmar.h"
#include "tests/support/GaugeExchange.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include "uParamFile.h"
#include "uParamTable.h"

#include <QFile>
#include <QLocale>
#include <QTest>

Q_DECLARE_METATYPE(const TParamRow*)

namespace {

QByteArray WithCrc(QByteArray frame) {
    const quint16 crc = Crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

// A value of the row's kind that no field of a fresh device object holds.
double Distinct(const TParamRow& row) {
    switch (ParamKind(row)) {
    case TParamKind::Byte:
        return 3;
    case TParamKind::Word:
        return 0x1234;
    case TParamKind::SignedByte:
        return -10;
    default:
        return 0.25;
    }
}

void AddRows(bool (*wanted)(const TParamRow&)) {
    QTest::addColumn<const TParamRow*>("row");
    for (const TParamRow& row : ParamRows())
        if (wanted(row))
            QTest::newRow(row.Key) << &row;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestParamTable : public QObject {
    Q_OBJECT
private slots:
    void readCodeFillsItsField_data() {
        AddRows([](const TParamRow& r) { return r.ReadCode >= 0; });
    }
    void readCodeFillsItsField() {
        QFETCH(const TParamRow*, row);
        TGaugeExchange u;
        u.SystemAddress = 1;
        u.SetErrorMax(1);
        const QByteArray request = u.Build(row->ReadCode);
        const double value = Distinct(*row);
        QByteArray payload;
        switch (static_cast<quint8>(request.at(1))) {
        case 0xB4:
            payload.append(static_cast<char>(static_cast<qint8>(value)));
            break;
        case 0xB5:
            payload.append(static_cast<char>(static_cast<int>(value) >> 8));
            payload.append(static_cast<char>(static_cast<int>(value) & 0xFF));
            break;
        case 0xB6:
            for (quint8 b : FloatToBytes(value))
                payload.append(static_cast<char>(b));
            break;
        default:
            QFAIL("not a parameter read");
        }
        u.Parse(WithCrc(QByteArray(1, 1) + request.at(1) +
                        QByteArray(1, static_cast<char>(payload.size() + 1)) + payload));
        QCOMPARE(ParamNumber(u, *row), value);
    }

    // The write carries the field's value at the index its read asks for.
    void writeCodeCarriesItsField_data() {
        AddRows([](const TParamRow& r) { return r.WriteCode >= 0 && !r.DialogWrite; });
    }
    void writeCodeCarriesItsField() {
        QFETCH(const TParamRow*, row);
        TGaugeExchange u;
        u.SystemAddress = 1;
        SetParamNumber(u, *row, Distinct(*row));
        const QByteArray frame = u.Build(row->WriteCode);
        const quint8 command = static_cast<quint8>(frame.at(1));
        double carried = 0;
        if (command == 0xB1)
            carried = ParamKind(*row) == TParamKind::SignedByte ? static_cast<qint8>(frame.at(4))
                                                                : static_cast<quint8>(frame.at(4));
        else if (command == 0xB2)
            carried = (static_cast<quint8>(frame.at(4)) << 8) | static_cast<quint8>(frame.at(5));
        else if (command == 0xB3)
            carried = BytesToFloat(frame.at(4), frame.at(5), frame.at(6), frame.at(7));
        else
            QFAIL("not a parameter write");
        QCOMPARE(carried, Distinct(*row));
        if (row->ReadCode >= 0) {
            const QByteArray read = u.Build(row->ReadCode);
            QCOMPARE(static_cast<quint8>(read.at(1)), quint8(command + 3));
            QCOMPARE(read.at(3), frame.at(3));
        }
    }

    // What a parameter file must hold before it is written to a gauge or compared with one:
    // a saved file with some of its lines replaced ("Key=" alone removes the key).
    void loadParamSetChecks_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("reason");
        QTest::newRow("as saved") << QStringList{} << true << "";
        QTest::newRow("comma") << QStringList{"Dist1=500,5"} << true << "";
        QTest::newRow("hex word") << QStringList{"UserPsw=$FF"} << true << "";
        QTest::newRow("missing key") << QStringList{"Dist1="} << false << "нет ключа Dist1";
        QTest::newRow("not a number") << QStringList{"Dist1=много"} << false << "не число";
        QTest::newRow("negative") << QStringList{"Dist1=-1"} << false << "Dist1=-1 вне пределов";
        QTest::newRow("set-point above the file's dist.2")
            << QStringList{"Dist2=8000", "Relay1Ust1=8001"} << false << "Relay1Ust1=8001";
        QTest::newRow("set-point at dist.2")
            << QStringList{"Dist2=8000", "Relay1Ust1=8000"} << true << "";
        QTest::newRow("mode outside") << QStringList{"ModeImage=0"} << false << "ModeImage=0";
        QTest::newRow("word too wide") << QStringList{"UserPsw=70000"} << false << "UserPsw";
    }
    void loadParamSetChecks() {
        QFETCH(QStringList, lines);
        QFETCH(bool, accepted);
        QFETCH(QString, reason);
        TTestDirs dirs;
        TUlmar saved;
        saved.Name = "Ulmar";
        saved.SetDist1(500);
        saved.SetDist2(12000);
        const QString path = dirs.Prog() + "/set.ini";
        QVERIFY(WriteParamFile(saved, path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QList<QByteArray> text = f.readAll().split('\n');
        f.close();
        for (const QString& line : lines) {
            const QByteArray key = line.section('=', 0, 0).toUtf8() + '=';
            const QByteArray value = line.section('=', 1).toLocal8Bit();
            for (QByteArray& t : text)
                if (t.startsWith(key))
                    t = value.isEmpty() ? QByteArray("\r") : key + value + '\r';
        }
        QVERIFY(WriteFile(path, text.join('\n')));
        TUlmar into;
        into.Name = "Ulmar";
        QString error;
        const bool ok = LoadParamSet(path, BulkRows(TBulkDirection::Write, false), into, error);
        QCOMPARE(ok, accepted);
        if (!accepted)
            QVERIFY2(error.contains(reason), qPrintable(error));
    }

    void loadParamSetRefusesOtherFiles() {
        TTestDirs dirs;
        TUlmar into;
        into.Name = "Ulmar";
        QString error;
        const auto rows = BulkRows(TBulkDirection::Write, false);
        QVERIFY(!LoadParamSet(dirs.Prog() + "/none.ini", rows, into, error));
        QVERIFY(error.startsWith("Нет файла"));
        QVERIFY(WriteFile(dirs.Prog() + "/other.ini", "[Transmitter]\r\nPort=COM1\r\n"));
        QVERIFY(!LoadParamSet(dirs.Prog() + "/other.ini", rows, into, error));
        QVERIFY(error.contains("нет раздела [Ulmar]"));
        QVERIFY(WriteFile(dirs.Prog() + "/binary.ini", QByteArray("\x00\xFF\x10\x00", 4)));
        QVERIFY(!LoadParamSet(dirs.Prog() + "/binary.ini", rows, into, error));
    }

    // The gauge keeps singles: a file's 500.1 equals the 500.1 read back, 500.2 does not.
    void comparedAsTheGaugeHoldsThem() {
        TUlmar file, gauge;
        const TParamRow& dist1 = ParamRow(TParamId::Dist1);
        file.SetDist1(500.1);
        gauge.SetDist1(static_cast<float>(500.1));
        QVERIFY(ParamEqual(file, gauge, dist1));
        gauge.SetDist1(500.2);
        QVERIFY(!ParamEqual(file, gauge, dist1));
        const TParamRow& temper = ParamRow(TParamId::TemperCompareTermostat);
        SetParamInteger(file, temper, 0xF1); // -15 in its byte
        QCOMPARE(file.TemperCompareTermostat, qint8(-15));
        gauge.TemperCompareTermostat = -15;
        QVERIFY(ParamEqual(file, gauge, temper));
    }

    void shownAsTheGaugeHoldsThem_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("c");
        QTest::addColumn<QString>("ru");
        QTest::newRow("0.1") << 0.1 << "0.1"
                             << "0,1";
        QTest::newRow("single of 0.1") << double(0.1f) << "0.1"
                                       << "0,1";
        QTest::newRow("large") << 1e20 << "1e+20"
                               << "1e+20";
        QTest::newRow("half") << 12000.5 << "12000.5"
                              << "12000,5";
        QTest::newRow("negative") << -2.25 << "-2.25"
                                  << "-2,25";
    }
    void shownAsTheGaugeHoldsThem() {
        QFETCH(double, value);
        QFETCH(QString, c);
        QFETCH(QString, ru);
        TUlmar u;
        u.KrPer = value;
        const TParamRow& row = ParamRow(TParamId::KrPer);
        QCOMPARE(FormatParam(u, row, QLocale::c()), c);
        QCOMPARE(FormatParam(u, row, QLocale(QLocale::Russian, QLocale::Russia)), ru);
    }
};

QTEST_GUILESS_MAIN(TestParamTable)
#include "tst_paramtable.moc"
