// Parameter files: name and folder, Windows-1251 bytes and key order, replacement in place that
// keeps hand-added lines, the questions, both decimal separators on reading, defaults; files of
// the wrong kind or size, a byte order mark and a key given twice (also through ulmar-cli, and
// the module type list beside them).

#include "Ulmar.h"
#include "fUlmarPar.h"
#include "tests/support/ChildRun.h"
#include "tests/support/TestDirs.h"
#include "uModal.h"
#include "uSmallFile.h"
#include "uUlmar.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStringDecoder>
#include <QTest>
#include <sys/stat.h>

namespace {

struct TAsked {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon;
    bool DefaultYes;
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A parameter set with a value of every kind, Cyrillic texts and reals that need an exponent.
void FillSample(TUlmar& u) {
    u.Name = QStringLiteral("Ulmar");
    u.PlantNumber = 7;
    u.HardVersion = 2;
    u.SoftVersion = 3;
    u.SystemAddress = 1;
    u.UserPsw = 1234;
    u.PPM = QStringLiteral("ППМ-17");
    u.NNZ = QStringLiteral("Н/З 5");
    u.SetDist1(500);
    u.SetDist2(12000.5);
    u.SetKKalman(0.25);
    u.Relay1Ust1 = 100;
    u.Relay1Ust2 = 200;
    u.Relay2Ust1 = 300.75;
    u.Relay2Ust2 = 400;
    u.ModeImage = 2;
    u.ModeCurrentOutput = 1;
    u.ProgramType = 0;
    u.ModeProcessing = 3;
    u.ModeInputFilter = 1;
    u.ModeChannel = 1;
    u.ModeCalibr = 1;
    u.ModeTermostat = 1;
    u.KrPer = 1.5;
    u.SmPer = -2.25;
    u.KrPerOpCh = 0.00001;
    u.SmPerOpCh = 1e20;
    u.FreqCalibr = 123.456;
    u.kkk1 = 0.1;
    u.kkk2 = -0.001;
    u.kkk3 = 0;
    u.SetSpeed(12.5);
    u.TemperCompareTermostat = -15;
    u.PlantNumberSVCH = 4321;
    u.TypeSVCH = 4;
    for (int n = 1; n <= TUlmar::ProgonRowCount; ++n) {
        TProgonPoint& p = u.ProgonPoints[n - 1];
        p.Ruletka = 999; // not stored
        p.Sample = n * 1000;
        p.Value = n * 1000 + 0.5;
        p.dValue = 0.5;
        p.CurrentSample = 4 + n;
        p.CurrentValue = 4.25 + n;
        p.dCurrentValue = 0.25;
    }
}

// The file FillSample gives, with the decimal separator sep and dist1 as written.
QByteArray SampleFile(char sep, const QByteArray& dist1 = "500") {
    QByteArray t = "[Ulmar]\r\n"
                   "PlantNumber=7\r\n"
                   "HardVersion=2\r\n"
                   "SoftVersion=3\r\n"
                   "SystemAddress=1\r\n"
                   "UserPsw=1234\r\n"
                   "PPM=\xCF\xCF\xCC-17\r\n"
                   "NNZ=\xCD/\xC7 5\r\n"
                   "Dist1=" +
                   dist1 +
                   "\r\n"
                   "Dist2=12000#5\r\n"
                   "KKalman=0#25\r\n"
                   "Relay1Ust1=100\r\n"
                   "Relay1Ust2=200\r\n"
                   "Relay2Ust1=300#75\r\n"
                   "Relay2Ust2=400\r\n"
                   "ModeImage=2\r\n"
                   "ModeCurrentOutput=1\r\n"
                   "ProgramType=0\r\n"
                   "ModeProcessing=3\r\n"
                   "ModeInputFilter=1\r\n"
                   "ModeChannel=1\r\n"
                   "ModeCalibr=1\r\n"
                   "ModeTermostat=1\r\n"
                   "KrPer=1#5\r\n"
                   "SmPer=-2#25\r\n"
                   "KrPerOpCh=1E-5\r\n"
                   "SmPerOpCh=1E20\r\n"
                   "FreqCalibr=123#456\r\n"
                   "kkk1=0#1\r\n"
                   "kkk2=-0#001\r\n"
                   "kkk3=0\r\n"
                   "Speed=12#5\r\n"
                   "TemperCompareTermostat=-15\r\n"
                   "PlantNumberSVCH=4321\r\n"
                   "TypeSVCH=4\r\n";
    for (int n = 1; n <= 5; ++n) {
        const QByteArray k = QByteArray::number(n);
        t += "[UlmarCurrentOutput" + k + "]\r\n";
        t += "Sample=" + k + "000\r\n";
        t += "Value=" + k + "000#5\r\n";
        t += "dValue=0#5\r\n";
        t += "CurrentSample=" + QByteArray::number(4 + n) + "\r\n";
        t += "CurrentValue=" + QByteArray::number(4 + n) + "#25\r\n";
        t += "dCurrentValue=0#25\r\n";
    }
    t.replace('#', sep);
    return t;
}

const QDate Day(2024, 3, 5);

// Puts a thing of the kind named at `path`: "fifo", "zero" (a link to /dev/zero), "dir", or a
// regular file holding `bytes`.
bool MakeKind(const QString& path, const QString& kind, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
    if (kind == QLatin1String("zero"))
        return QFile::link(QStringLiteral("/dev/zero"), path);
    if (kind == QLatin1String("dir"))
        return QDir().mkpath(path);
    return WriteAll(path, bytes);
}

// A Windows-1251 file as UTF-8 with a byte order mark, as an editor saves it again.
QByteArray Utf8WithBom(const QByteArray& cp1251) {
    QStringDecoder decode("windows-1251");
    return "\xEF\xBB\xBF" + QString(decode(cp1251)).toUtf8();
}

// Comment lines that take a file to `size` bytes.
QByteArray PaddedTo(QByteArray text, qint64 size) {
    while (text.size() < size)
        text += "; " + QByteArray(std::min<qint64>(size - text.size() - 4, 60), 'x') + "\r\n";
    return text.left(size);
}

} // namespace

class TestParamFile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fileName_data();
    void fileName();
    void floatText_data();
    void floatText();
    void savedBytes();
    void resaveKeepsHandLines();
    void replaceAnsweredNo();
    void plantNumberZero();
    void nextDayNewFile();
    void otherProgramTypeDoesNothing();
    void writeFailureNamesFile();
    void otherSeparatorLoads_data();
    void otherSeparatorLoads();
    void roundTrip();
    void readValues_data();
    void readValues();
    void foreignFileLoadsDefaults();
    void loadThroughDialog();
    void cliRefusesFiles_data();
    void cliRefusesFiles();
    void bomFileLoads();
    void refusedFileNotLoaded();
    void typeListRefused_data();
    void typeListRefused();

private:
    TTestDirs* Dirs = nullptr;
    QList<TAsked> Asked;
    QList<QString> Errors;
    bool Answer = true;
    QString Offered;  // directory the open dialog started in
    QString OpenFile; // file the open dialog returns
    QStringList Filters;
};

void TestParamFile::initTestCase() {
    // Answers the questions with Answer, records the error boxes, and lets the open dialog
    // offer OpenFile (cancelled when empty).
    ModalHook = [this](QDialog* dialog) -> int {
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
            if (box->icon() == QMessageBox::Critical) {
                Errors.append(box->windowTitle() + QLatin1Char('|') + box->text());
                return QMessageBox::Ok;
            }
            Asked.append({box->windowTitle(), box->text(), box->icon(),
                          box->defaultButton() == box->button(QMessageBox::Yes)});
            return Answer ? QMessageBox::Yes : QMessageBox::No;
        }
        if (auto* files = qobject_cast<QFileDialog*>(dialog)) {
            Offered = files->directory().absolutePath();
            Filters = files->nameFilters();
            if (OpenFile.isEmpty())
                return QDialog::Rejected;
            files->selectFile(OpenFile);
            return QDialog::Accepted;
        }
        return QDialog::Rejected;
    };
}

void TestParamFile::init() {
    Dirs = new TTestDirs;
    Asked.clear();
    Errors.clear();
    Answer = true;
    Offered.clear();
    OpenFile.clear();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void TestParamFile::cleanup() {
    delete Dirs;
    Dirs = nullptr;
}

void TestParamFile::fileName_data() {
    QTest::addColumn<int>("plant");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected"); // relative to the program directory
    QTest::newRow("7, M10") << 7 << 0 << "M10/PN00007-20240305.ini";
    QTest::newRow("123, M10") << 123 << 0 << "M10/PN00123-20240305.ini";
    QTest::newRow("65535, M20") << 65535 << 1 << "M20/PN65535-20240305.ini";
    QTest::newRow("0, M20") << 0 << 1 << "M20/PN00000-20240305.ini";
    QTest::newRow("type 2") << 7 << 2 << "";
}

void TestParamFile::fileName() {
    QFETCH(int, plant);
    QFETCH(int, type);
    QFETCH(QString, expected);
    TUlmar u;
    u.PlantNumber = quint16(plant);
    u.ProgramType = quint8(type);
    const QString name = ParamFileName(u, Day);
    if (expected.isEmpty())
        QVERIFY(name.isEmpty());
    else
        QCOMPARE(QDir::fromNativeSeparators(name), Dirs->Prog() + QLatin1Char('/') + expected);
}

void TestParamFile::floatText_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("ru");
    QTest::addColumn<QString>("c");
    QTest::newRow("1.5") << 1.5 << "1,5"
                         << "1.5";
    QTest::newRow("no group separator") << 30000.0 << "30000"
                                        << "30000";
    QTest::newRow("1E-5") << 0.00001 << "1E-5"
                          << "1E-5";
    QTest::newRow("0.0001") << 0.0001 << "0,0001"
                            << "0.0001";
    QTest::newRow("15 digits") << 123456789012345.0 << "123456789012345"
                               << "123456789012345";
    QTest::newRow("1E15") << 1e15 << "1E15"
                          << "1E15";
    QTest::newRow("mantissa") << -1.25e-7 << "-1,25E-7"
                              << "-1.25E-7";
    QTest::newRow("15 significant digits") << 1.0 / 3 << "0,333333333333333"
                                           << "0.333333333333333";
    QTest::newRow("minus zero") << -0.0 << "0"
                                << "0";
}

void TestParamFile::floatText() {
    QFETCH(double, value);
    QFETCH(QString, ru);
    QFETCH(QString, c);
    QCOMPARE(ParamFloatToString(value), ru);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(ParamFloatToString(value), c);
}

void TestParamFile::savedBytes() {
    TUlmar u;
    FillSample(u);
    QVERIFY(SaveParamFile(u, Day));
    QVERIFY(Asked.isEmpty());
    QCOMPARE(ReadAll(ParamFileName(u, Day)), SampleFile(','));

    // The same set on a desktop with the decimal point.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    u.ProgramType = 1;
    QVERIFY(SaveParamFile(u, Day));
    QByteArray expected = SampleFile('.');
    expected.replace("ProgramType=0", "ProgramType=1");
    QCOMPARE(ReadAll(Dirs->Prog() + "/M20/PN00007-20240305.ini"), expected);
}

void TestParamFile::resaveKeepsHandLines() {
    TUlmar u;
    FillSample(u);
    QVERIFY(SaveParamFile(u, Day));
    const QString path = ParamFileName(u, Day);

    // Edited by hand: a comment, a foreign key, a changed value and a section of its own.
    QByteArray edited = SampleFile(',');
    edited.replace("[Ulmar]\r\n", "; \xEF\xF0\xEE\xE2\xE5\xF0\xE5\xED\xEE\r\n[Ulmar]\r\n");
    edited.replace("UserPsw=1234\r\n", "UserPsw=1234\r\nOperator=\xC8\xE2\xE0\xED\xEE\xE2\r\n");
    edited.replace("Dist1=500", "Dist1=777");
    edited += "[Notes]\r\nText=\xF2\xE5\xF1\xF2\r\n";
    QVERIFY(WriteAll(path, edited));

    u.SetDist1(600);
    QVERIFY(SaveParamFile(u, Day));
    QCOMPARE(Asked.size(), 1);
    QCOMPARE(Asked[0].Caption, QStringLiteral("Внимание"));
    QCOMPARE(Asked[0].Text, QStringLiteral("Заменить существующий файл \n") +
                                QDir::toNativeSeparators(path) + QStringLiteral(" ?"));
    QCOMPARE(Asked[0].Icon, QMessageBox::Warning);
    QVERIFY(Asked[0].DefaultYes);

    QByteArray expected = edited;
    expected.replace("Dist1=777", "Dist1=600");
    QCOMPARE(ReadAll(path), expected);

    // Loaded back: the hand-added lines do not disturb the set.
    TUlmar back;
    back.Name = QStringLiteral("Ulmar");
    ReadParamFile(back, path);
    QCOMPARE(back.Dist1(), 600.0);
    QCOMPARE(back.PPM, QStringLiteral("ППМ-17"));
    QCOMPARE(back.NNZ, QStringLiteral("Н/З 5"));
}

void TestParamFile::replaceAnsweredNo() {
    TUlmar u;
    FillSample(u);
    QVERIFY(SaveParamFile(u, Day));
    const QByteArray before = ReadAll(ParamFileName(u, Day));
    u.SetDist1(900);
    Answer = false;
    QVERIFY(!SaveParamFile(u, Day));
    QCOMPARE(Asked.size(), 1);
    QCOMPARE(ReadAll(ParamFileName(u, Day)), before);
}

void TestParamFile::plantNumberZero() {
    TUlmar u;
    FillSample(u);
    u.PlantNumber = 0;
    Answer = false;
    QVERIFY(!SaveParamFile(u, Day));
    QCOMPARE(Asked.size(), 1);
    QCOMPARE(Asked[0].Caption, QStringLiteral("Внимание"));
    QCOMPARE(Asked[0].Text, QStringLiteral("Не указан заводской номер! Записать все равно?"));
    QCOMPARE(Asked[0].Icon, QMessageBox::Question);
    QVERIFY(!Asked[0].DefaultYes);
    QVERIFY(!QFile::exists(ParamFileName(u, Day)));

    Answer = true;
    QVERIFY(SaveParamFile(u, Day));
    QVERIFY(ReadAll(ParamFileName(u, Day)).contains("\r\nPlantNumber=0\r\n"));
}

void TestParamFile::nextDayNewFile() {
    TUlmar u;
    FillSample(u);
    QVERIFY(SaveParamFile(u, Day));
    QVERIFY(SaveParamFile(u, Day.addDays(1)));
    QVERIFY(Asked.isEmpty());
    QCOMPARE(QDir(Dirs->Prog() + "/M10").entryList(QDir::Files),
             QStringList({"PN00007-20240305.ini", "PN00007-20240306.ini"}));
}

void TestParamFile::otherProgramTypeDoesNothing() {
    TUlmar u;
    FillSample(u);
    u.ProgramType = 2;
    QVERIFY(!SaveParamFile(u, Day));
    QVERIFY(!LoadParamFile(u, nullptr));
    QVERIFY(Offered.isEmpty()); // no open dialog
    QVERIFY(Asked.isEmpty());
    QVERIFY(Errors.isEmpty());
    QCOMPARE(QDir(Dirs->Prog()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"INI"}));
}

void TestParamFile::writeFailureNamesFile() {
    QVERIFY(WriteAll(Dirs->Prog() + "/M10", "not a directory"));
    TUlmar u;
    FillSample(u);
    QVERIFY(!SaveParamFile(u, Day));
    QCOMPARE(Errors.size(), 1);
    QVERIFY(Errors[0].startsWith(QStringLiteral("Ошибка|")));
    QVERIFY(Errors[0].contains(QDir::toNativeSeparators(ParamFileName(u, Day))));
    QCOMPARE(ReadAll(Dirs->Prog() + "/M10"), QByteArray("not a directory"));
}

void TestParamFile::otherSeparatorLoads_data() {
    QTest::addColumn<bool>("writeComma");
    QTest::newRow("comma file, point desktop") << true;
    QTest::newRow("point file, comma desktop") << false;
}

void TestParamFile::otherSeparatorLoads() {
    QFETCH(bool, writeComma);
    TUlmar u;
    FillSample(u);
    QLocale::setDefault(writeComma ? QLocale(QLocale::Russian, QLocale::Russia)
                                   : QLocale(QLocale::English, QLocale::UnitedStates));
    QVERIFY(SaveParamFile(u, Day));
    QCOMPARE(ReadAll(ParamFileName(u, Day)).contains("KrPer=1,5"), writeComma);

    QLocale::setDefault(writeComma ? QLocale(QLocale::English, QLocale::UnitedStates)
                                   : QLocale(QLocale::Russian, QLocale::Russia));
    TUlmar back;
    back.Name = QStringLiteral("Ulmar");
    ReadParamFile(back, ParamFileName(u, Day));
    QCOMPARE(back.Dist2(), 12000.5);
    QCOMPARE(back.KKalman(), 0.25);
    QCOMPARE(back.Relay2Ust1, 300.75);
    QCOMPARE(back.SmPer, -2.25);
    QCOMPARE(back.FreqCalibr, 123.456);
    QCOMPARE(back.Speed(), 12.5);
    QCOMPARE(back.ProgonPoints[2].CurrentValue, 7.25);
}

void TestParamFile::roundTrip() {
    TUlmar u;
    FillSample(u);
    QVERIFY(SaveParamFile(u, Day));
    TUlmar back;
    back.Name = QStringLiteral("Ulmar");
    ReadParamFile(back, ParamFileName(u, Day));
    // Every stored key went back into its own field: writing the loaded set gives the same
    // file, except the versions, which are written but never read.
    const QString copy = Dirs->Prog() + "/copy.ini";
    QVERIFY(WriteParamFile(back, copy));
    QByteArray expected = SampleFile(',');
    expected.replace("HardVersion=2", "HardVersion=0").replace("SoftVersion=3", "SoftVersion=0");
    QCOMPARE(ReadAll(copy), expected);
    QCOMPARE(back.ProgonPoints[0].Ruletka, TUlmar().ProgonPoints[0].Ruletka); // not stored
    // The value ranges follow the loaded distances.
    QCOMPARE(back.Level->Description()->Max(), 12000.5);
}

void TestParamFile::readValues_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("address low byte") << "SystemAddress" << QByteArray("300") << 44.0;
    QTest::newRow("address 0x") << "SystemAddress" << QByteArray("0x10") << 16.0;
    QTest::newRow("address $") << "SystemAddress" << QByteArray("$FE") << 254.0;
    QTest::newRow("address text") << "SystemAddress" << QByteArray("abc") << 255.0;
    QTest::newRow("address real") << "SystemAddress" << QByteArray("1.5") << 255.0;
    QTest::newRow("plant low word") << "PlantNumber" << QByteArray("70000") << 4464.0;
    QTest::newRow("plant negative") << "PlantNumber" << QByteArray("-1") << 65535.0;
    QTest::newRow("thermostat -15") << "TemperCompareTermostat" << QByteArray("-15") << -15.0;
    QTest::newRow("thermostat 200") << "TemperCompareTermostat" << QByteArray("200") << -56.0;
    QTest::newRow("dist1 comma") << "Dist1" << QByteArray("1,5") << 1.5;
    QTest::newRow("dist1 point") << "Dist1" << QByteArray("2.5") << 2.5;
    QTest::newRow("dist1 exponent") << "Dist1" << QByteArray("1E-5") << 0.00001;
    QTest::newRow("dist1 text") << "Dist1" << QByteArray("x") << 0.0;
    QTest::newRow("dist1 negative ignored") << "Dist1" << QByteArray("-5") << 1000.0;
    QTest::newRow("kkalman out of range") << "KKalman" << QByteArray("5") << 1.0;
    QTest::newRow("kkalman comma") << "KKalman" << QByteArray("0,5") << 0.5;
    QTest::newRow("mode image real") << "ModeImage" << QByteArray("1.5") << 1.0;
    QTest::newRow("dist2 empty") << "Dist2" << QByteArray("") << 30000.0;
}

void TestParamFile::readValues() {
    QFETCH(QString, key);
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    const QString path = Dirs->Prog() + "/M10/hand.ini";
    QVERIFY(WriteAll(path, "[ulmar]\r\n" + key.toLatin1() + "=" + text + "\r\n"));
    TUlmar u; // a fresh object: Dist1 1000, KKalman 1
    u.Name = QStringLiteral("Ulmar");
    ReadParamFile(u, path);
    const QHash<QString, double> got = {
        {"SystemAddress", u.SystemAddress},
        {"PlantNumber", u.PlantNumber},
        {"TemperCompareTermostat", u.TemperCompareTermostat},
        {"Dist1", u.Dist1()},
        {"Dist2", u.Dist2()},
        {"KKalman", u.KKalman()},
        {"ModeImage", u.ModeImage},
    };
    QCOMPARE(got.value(key), expected);
}

void TestParamFile::foreignFileLoadsDefaults() {
    TUlmar u;
    FillSample(u);
    const QString path = Dirs->Prog() + "/M10/other.ini";
    QVERIFY(WriteAll(path, "[Transmitter]\r\nPort=COM1\r\n\xFF\xFE garbage\r\n"));
    ReadParamFile(u, path);
    QCOMPARE(u.SystemAddress, quint8(255));
    QCOMPARE(u.PlantNumber, quint16(65535));
    QCOMPARE(u.UserPsw, quint16(65535));
    QCOMPARE(u.Dist1(), 0.0);
    QCOMPARE(u.Dist2(), 30000.0);
    QCOMPARE(u.KKalman(), 1.0);
    QCOMPARE(u.ModeImage, quint8(1));
    QCOMPARE(u.TemperCompareTermostat, qint8(0));
    QCOMPARE(u.KrPer, 0.0);
    QCOMPARE(u.Speed(), 0.0);
    QCOMPARE(u.TypeSVCH, quint8(0));
    QVERIFY(u.PPM.isEmpty());
    QCOMPARE(u.ProgonPoints[4].Sample, 0.0);

    ReadParamFile(u, Dirs->Prog() + "/M10/missing.ini");
    QCOMPARE(u.Dist2(), 30000.0);
}

void TestParamFile::loadThroughDialog() {
    TUlmar saved;
    FillSample(saved); // program type 0: M10
    QVERIFY(SaveParamFile(saved, Day));

    TUlmar u;
    u.Name = QStringLiteral("Ulmar");
    u.ProgramType = 1;
    QVERIFY(QDir().mkpath(Dirs->Prog() + "/M20"));
    QVERIFY(!LoadParamFile(u, nullptr)); // cancelled
    QCOMPARE(Filters, QStringList({"Параметры приборов (*.ini)"}));
    QCOMPARE(Offered, Dirs->Prog() + "/M20");
    QCOMPARE(u.PlantNumber, quint16(0));

    OpenFile = ParamFileName(saved, Day);
    QVERIFY(LoadParamFile(u, nullptr));
    QCOMPARE(u.PlantNumber, quint16(7));
    QCOMPARE(u.PPM, QStringLiteral("ППМ-17"));
    // The loaded program type decides the folder of the next save.
    QCOMPARE(QDir::fromNativeSeparators(QFileInfo(ParamFileName(u, Day)).path()),
             Dirs->Prog() + "/M10");
}

// "ulmar-cli params write" refuses a file that is no regular file, too large, or gives a key the
// set reads twice (which value is meant is unknown), before the port opens: exit 3 and the file
// with the reason on stderr. A FIFO or a device cannot hold it up. A file with a UTF-8 byte
// order mark is taken: the run goes on to the port, which does not exist (exit 2). So does a run
// whose port settings file is a FIFO, after naming that file.
void TestParamFile::cliRefusesFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // %1 the file
    const QString notRegular = QStringLiteral("ulmar-cli: %1: не обычный файл\n");
    QTest::newRow("FIFO") << "fifo" << 3 << notRegular;
    QTest::newRow("symlink to /dev/zero") << "zero" << 3 << notRegular;
    QTest::newRow("directory") << "dir" << 3 << notRegular;
    QTest::newRow("oversized") << "big" << 3 << "ulmar-cli: %1: больше 64 КБ\n";
    QTest::newRow("key twice") << "twice" << 3
                               << "ulmar-cli: Файл %1: ключ dist1 задан дважды, в строках 9 и " +
                                      QString::number(SampleFile(',').count('\n') + 2) + "\n";
    QTest::newRow("UTF-8 BOM") << "bom" << 2 << "/dev/ulmar-no-such-port";
    QTest::newRow("ComPort.ini a FIFO") << "port fifo" << 2 << notRegular;
}

void TestParamFile::cliRefusesFiles() {
    QFETCH(QString, kind);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString path = Dirs->Prog() + "/M10/PN00007-20240305.ini";
    const QString portFile = Dirs->Work() + "/INI/ComPort.ini";
    QByteArray bytes = SampleFile(',');
    if (kind == "big")
        bytes = PaddedTo(bytes, ParamFileMaxBytes + 1);
    else if (kind == "twice")
        bytes += "[Ulmar]\r\ndist1=900\r\n"; // a second section of the same name
    else if (kind == "bom")
        bytes = Utf8WithBom(bytes);
    if (kind == "port fifo")
        QVERIFY(WriteAll(path, bytes) && MakeKind(portFile, "fifo", {}));
    else
        QVERIFY(MakeKind(path, kind, bytes));

    QProcess cli;
    cli.start(ULMAR_CLI_PATH, {"--work-dir", Dirs->Work(), "--program-dir", Dirs->Prog(), "--port",
                               "/dev/ulmar-no-such-port", "params", "write", path});
    QVERIFY(cli.waitForStarted(10000));
    const bool ended = cli.waitForFinished(60000);
    if (!ended)
        cli.kill();
    QVERIFY2(ended, "ulmar-cli did not end");
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == exitCode, qPrintable(err));
    const QString shown = QDir::toNativeSeparators(kind == "port fifo" ? portFile : path);
    QVERIFY2(err.contains(message.contains("%1") ? message.arg(shown) : message), qPrintable(err));
}

// A parameter file resaved by an editor that writes UTF-8 with a byte order mark loads as it is.
void TestParamFile::bomFileLoads() {
    const QString path = Dirs->Prog() + "/M10/bom.ini";
    QVERIFY(WriteAll(path, Utf8WithBom(SampleFile(','))));
    TUlmar back;
    back.Name = QStringLiteral("Ulmar");
    QVERIFY(ReadParamFile(back, path));
    QCOMPARE(back.PlantNumber, quint16(7));
    QCOMPARE(back.PPM, QStringLiteral("ППМ-17"));
    QCOMPARE(back.Dist2(), 12000.5);
    QCOMPARE(back.ProgonPoints[4].Value, 5000.5);
}

// The window's load of a file that is not read says which file and why, and leaves the device
// object as it was (no defaults in place of the values).
void TestParamFile::refusedFileNotLoaded() {
    const QString path = Dirs->Prog() + "/M10/big.ini";
    QVERIFY(WriteAll(path, PaddedTo(SampleFile(','), ParamFileMaxBytes + 1)));
    TUlmar u;
    u.Name = QStringLiteral("Ulmar");
    u.PlantNumber = 42;
    OpenFile = path;
    QVERIFY(!LoadParamFile(u, nullptr));
    QCOMPARE(Errors, QList<QString>{"Ошибка|Не удалось загрузить файл " +
                                    QDir::toNativeSeparators(path) + ": больше 64 КБ"});
    QCOMPARE(u.PlantNumber, quint16(42));
    QCOMPARE(u.Dist2(), TUlmar().Dist2());
    // Nor is it saved over: it is not a parameter file this program wrote.
    QVERIFY(!WriteParamFile(u, path));
    QCOMPARE(QFileInfo(path).size(), ParamFileMaxBytes + 1);
}

// The module type list beside the program: a file of the wrong kind or size gives the default
// types and is noted for the program to say. Read in a child process: a read that blocks or
// never ends fails the row instead of hanging the suite.
void TestParamFile::typeListRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo"
                          << "не обычный файл";
    QTest::newRow("symlink to /dev/zero") << "zero"
                                          << "не обычный файл";
    QTest::newRow("directory") << "dir"
                               << "не обычный файл";
    QTest::newRow("oversized") << "big"
                               << "больше 64 КБ";
}

void TestParamFile::typeListRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString path = Dirs->Prog() + "/INI/TypeSVCH.ini";
    QVERIFY(MakeKind(path, kind, PaddedTo("ППМ-X1\r\n", TFormUlmarPar::TypeSvchFileMaxBytes + 1)));
    const std::optional<QByteArray> out = RunInChild([] {
        QStringList noted;
        WatchRefusedSettingsFiles([&noted](const QString& text) { noted << text; });
        const bool defaults =
            TFormUlmarPar::LoadTypeSVCHList() == TFormUlmarPar::DefaultTypeSVCHList();
        return ((defaults ? "defaults\n" : "read\n") + noted.join('|')).toUtf8();
    });
    QVERIFY2(out, "the reading did not end");
    QCOMPARE(QString::fromUtf8(*out),
             "defaults\n" + QDir::toNativeSeparators(path) + QStringLiteral(": ") + reason);
}

QTEST_MAIN(TestParamFile)
#include "tst_paramfile.moc"
