// The tare table sequences against the gauge simulator on a pseudo-terminal: a gauge's table
// read and written back unchanged, 10 rows sent with 22 empty points, 40 rows refused before
// any frame, the read-back compare catching a gauge that stored another value, garbled answers
// and answers of another command failing the write, one commit to ROM and only after the
// compare, polling stopped around the write and started again.

#include "tests/support/LinkRig.h"
#include "uFrame.h"
#include "uTara.h"
#include "uTareCommands.h"
#include "uTareFile.h"

#include <QTest>
#include <atomic>
#include <bit>
#include <cmath>
#include <optional>

namespace {

// Answers the confirmation as told and notes whether polling ran at each progress step.
class TAnswerUi : public TQuietCommandUi {
public:
    bool Answer = true;
    IPollControl* Poll = nullptr;
    bool PolledDuringSteps = false;
    int Steps = 0;
    bool Ask(const QString& text) override {
        Questions << text;
        return Answer;
    }
    void Progress(const QString&, int, int) override {
        ++Steps;
        if (Poll && Poll->PollingRunning())
            PolledDuringSteps = true;
    }
};

void Fault(TSimServer& sim, TSimFault fault, int count, double probability = 0, int value = 0) {
    TSimFaultRule rule;
    rule.Count = count;
    rule.Probability = probability;
    rule.Value = value;
    sim.WithSim([&](TGaugeSim& s) { s.SetFault(fault, rule); });
}

QList<quint8> Commands(const TSimServer& sim) {
    QList<quint8> bytes;
    for (const TSimRecord& r : sim.Records())
        if (r.Request.size() > 1)
            bytes << static_cast<quint8>(r.Request.at(1));
    return bytes;
}

int RomSaves(TSimServer& sim) {
    int saves = 0;
    sim.WithSim([&](TGaugeSim& s) { saves = s.Gauges[0].RomSaves; });
    return saves;
}

// The gauge's table as it sends it: level singles and volume × 100 singles.
struct TGaugeTable {
    std::array<quint32, 32> Levels{};
    std::array<quint32, 32> Volumes{};
    bool operator==(const TGaugeTable&) const = default;
};

quint32 Bits(double x) {
    const auto b = FloatToBytes(x);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | b[3];
}

TGaugeTable GaugeTable(TSimServer& sim) {
    TGaugeTable t;
    sim.WithSim([&](TGaugeSim& s) {
        for (int k = 0; k < 32; ++k) {
            t.Levels[k] = std::bit_cast<quint32>(s.Gauges[0].TareLevels[k]);
            t.Volumes[k] =
                std::isnan(s.Gauges[0].TareVolumes[k])
                    ? std::bit_cast<quint32>(static_cast<float>(s.Gauges[0].TareVolumes[k]))
                    : Bits(s.Gauges[0].TareVolumes[k] * 100.0);
        }
    });
    return t;
}

QStringList TenRows() {
    QStringList lines = {QStringLiteral("* десять точек"), QStringLiteral("ten=10")};
    for (int i = 0; i < 10; ++i)
        lines << QStringLiteral("%1\t%2,5").arg(i * 1000).arg(i * 10);
    return lines;
}

} // namespace

class TTareLinkTest : public QObject {
    Q_OBJECT
private slots:
    void readThenWriteBackUnchanged();
    void tenRowsGoWithEmptyPoints();
    void refusedBeforeAnyFrame();
    void storedOtherValueIsNotCommitted();
    void differencesInPercentAndLocale();
    void garbledOrForeignAnswerFails_data();
    void garbledOrForeignAnswerFails();
    void pollingStoppedAndRestarted();
    void readNamesTheGauge();
    void compareWithGauge();
};

void TTareLinkTest::readThenWriteBackUnchanged() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    // A table with values that have no short decimal form, 13 points of 32.
    rig.Sim->WithSim([](TGaugeSim& s) {
        s.Gauges[0].FillLinearTare(13);
        s.Gauges[0].TareLevels[5] = 6250.123f;
        s.Gauges[0].TareVolumes[5] = double(4200.1234f) / 100.0;
        s.Gauges[0].TareVolumes[6] = double(4999.99f) / 100.0;
    });
    const TGaugeTable before = GaugeTable(*rig.Sim);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    QString error;
    QVERIFY2(tare.ReadFromGauge(&error), qPrintable(error));
    QCOMPARE(Commands(*rig.Sim), QList<quint8>({0xA5, 0xA5}));
    QCOMPARE(Bits(rig.Ulmar->TareTable[5].Level), before.Levels[5]);
    QVERIFY(std::isnan(rig.Ulmar->TareTable[13].Level));

    // Through a file and back: the gauge ends with the very same singles.
    const QString path = rig.Dirs.Work() + QStringLiteral("/TarTabl/ttFromUlmar.txt");
    QVERIFY(WriteTareFile(path, GaugeTareText(rig.Ulmar->TareTable), error));
    QString text;
    QVERIFY(ReadTareFile(path, text, error));
    rig.Sim->WithSim([](TGaugeSim& s) { s.Gauges[0].FillLinearTare(3); });
    rig.Sim->ClearRecords();
    const TTareWriteResult written =
        tare.WriteToGauge(text.split(QStringLiteral("\r\n")), QStringLiteral("ttFromUlmar"));
    QVERIFY2(written.Committed, qPrintable(written.Message + written.Mismatches.join('\n')));
    QCOMPARE(ui.Questions.size(), 1);
    QVERIFY(ui.Questions[0].contains(QStringLiteral("ttFromUlmar")));
    QVERIFY(ui.Questions[0].contains(QStringLiteral("13")));
    QCOMPARE(GaugeTable(*rig.Sim), before);
    QCOMPARE(Commands(*rig.Sim), QList<quint8>({0xA6, 0xA6, 0xA5, 0xA5, 0xA2}));

    // The typical table's 32 rows as well (volumes such as 20,48 %).
    const QStringList typical = TypicalTareText().split(QStringLiteral("\r\n"));
    QVERIFY(tare.WriteToGauge(typical, QStringLiteral("ttDefault2")).Committed);
    QCOMPARE(RomSaves(*rig.Sim), 2);

    // A silent gauge: the read fails and says no answer came.
    Fault(*rig.Sim, TSimFault::Silence, 0, 1.0);
    bool silent = false;
    QVERIFY(!tare.ReadFromGauge(&error, &silent));
    QVERIFY(silent);
    QVERIFY(error.startsWith(QStringLiteral("Не выполнена команда")));
}

void TTareLinkTest::tenRowsGoWithEmptyPoints() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    const TTareWriteResult r = tare.WriteToGauge(TenRows(), QStringLiteral("TEN"));
    QVERIFY2(r.Committed, qPrintable(r.Message));
    QVERIFY(!r.Refused);
    const TGaugeTable t = GaugeTable(*rig.Sim);
    for (int k = 0; k < 32; ++k) {
        if (k < 10) {
            QCOMPARE(t.Levels[k], Bits(k * 1000.0));
            QCOMPARE(t.Volumes[k], Bits(k * 1000.0 + 50.0));
        } else {
            QCOMPARE(t.Levels[k], 0xFFFFFFFFu);
            QCOMPARE(t.Volumes[k], 0xFFFFFFFFu);
        }
    }
    // The frames themselves carry FF FF FF FF for the empty points, never zeros.
    for (const TSimRecord& rec : rig.Sim->Records())
        if (static_cast<quint8>(rec.Request.at(1)) == 0xA6)
            QCOMPARE(rec.Request.mid(4 + 40, 88), QByteArray(88, char(0xFF)));
    QCOMPARE(RomSaves(*rig.Sim), 1);
    rig.Sim->WithSim([](TGaugeSim& s) { QCOMPARE(s.CommandCounts[0xA2], 1); });
}

void TTareLinkTest::refusedBeforeAnyFrame() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    QStringList forty = {QStringLiteral("forty=40")};
    for (int i = 0; i < 40; ++i)
        forty << QStringLiteral("%1 %2").arg(i * 100).arg(i * 2);
    const TTareWriteResult r = tare.WriteToGauge(forty, QStringLiteral("forty"));
    QVERIFY(r.Refused);
    QVERIFY(!r.Committed);
    QVERIFY2(r.Message.startsWith(QStringLiteral("Строка 34: ")), qPrintable(r.Message));
    QVERIFY(ui.Questions.isEmpty());

    // Declined confirmation: nothing sent either.
    ui.Answer = false;
    const TTareWriteResult declined = tare.WriteToGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY(declined.Refused);
    QCOMPARE(ui.Questions.size(), 1);
    QCOMPARE(rig.Sim->RequestCount(), 0);
}

void TTareLinkTest::storedOtherValueIsNotCommitted() {
    for (const int point : {3, 20}) {
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        TAnswerUi ui;
        TGaugeCommands commands(rig.Link.get(), ui);
        TTareCommands tare(commands, nullptr);
        Fault(*rig.Sim, TSimFault::TareStoreOther, 1, 0, point);
        const TTareWriteResult r = tare.WriteToGauge(TenRows(), QStringLiteral("ten"));
        QVERIFY(!r.Committed);
        QVERIFY(!r.Refused);
        QCOMPARE(r.Mismatches.size(), 1);
        QVERIFY2(r.Mismatches[0].startsWith(QStringLiteral("Точка %1: уровень").arg(point)),
                 qPrintable(r.Mismatches[0]));
        QVERIFY(!r.Message.isEmpty());
        QCOMPARE(RomSaves(*rig.Sim), 0);
        QCOMPARE(Commands(*rig.Sim), QList<quint8>({0xA6, 0xA6, 0xA5, 0xA5}));
    }
}

// Both parts of point 3 stored one more: the volume is told in %, as the table has it, with the
// numbers in the locale asked for (the C locale for the terminal).
void TTareLinkTest::differencesInPercentAndLocale() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    Fault(*rig.Sim, TSimFault::TareStoreOther, 2, 0, 3);
    const TTareWriteResult r = tare.WriteToGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY(!r.Committed);
    QCOMPARE(r.Differences.size(), std::size_t(2));
    QCOMPARE(r.Mismatches, (QStringList{"Точка 3: уровень записан 2000, считан 2001",
                                        "Точка 3: объем записан 20.5 %, считан 21.5 %"}));
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    QCOMPARE(TareMismatchText(r.Differences[1], ru),
             QStringLiteral("Точка 3: объем записан 20,5 %, считан 21,5 %"));
    QCOMPARE(TareMismatchText(r.Differences[0], ru),
             "Точка 3: уровень записан " + ru.toString(2000) + ", считан " + ru.toString(2001));
    QCOMPARE(TareMismatchSummary(r.Differences, ru, 1).split('\n'),
             (QStringList{"Не совпадают точек: 1 из 32", TareMismatchText(r.Differences[0], ru),
                          "и еще расхождений: 1 (весь список в подробностях)"}));
}

void TTareLinkTest::garbledOrForeignAnswerFails_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("value");
    QTest::newRow("bad checksum") << int(TSimFault::BadChecksum) << 0;
    QTest::newRow("unknown command") << int(TSimFault::UnknownCommand) << 0;
    // The answer of the ROM commit, which the parser takes as a success of its own.
    QTest::newRow("answer of another command") << int(TSimFault::UnknownCommand) << 0xA2;
    QTest::newRow("cut short") << int(TSimFault::Cut) << 3;
}

void TTareLinkTest::garbledOrForeignAnswerFails() {
    QFETCH(int, fault);
    QFETCH(int, value);
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    Fault(*rig.Sim, TSimFault(fault), 0, 1.0, value);
    const TTareWriteResult r = tare.WriteToGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY(!r.Committed);
    QVERIFY(!r.NoAnswer);
    QVERIFY(r.Message.contains(QStringLiteral("Не записаны уровни")));
    // The level write was tried five times and nothing followed it.
    QCOMPARE(Commands(*rig.Sim), QList<quint8>(5, 0xA6));
    QCOMPARE(RomSaves(*rig.Sim), 0);

    // The same answers to a read are failures too.
    QString error;
    QVERIFY(!tare.ReadFromGauge(&error));
    QVERIFY(error.contains(QStringLiteral("Не считаны уровни")));
}

void TTareLinkTest::pollingStoppedAndRestarted() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    std::atomic<int> cycles{0};
    rig.StartPolling(cycles, 50);
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() >= 2, 5000);
    TTimerPollControl poll(rig.Link.get());
    QVERIFY(poll.PollingRunning());
    TAnswerUi ui;
    ui.Poll = &poll;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, &poll);
    rig.Sim->ClearRecords();
    const TTareWriteResult r = tare.WriteToGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY2(r.Committed, qPrintable(r.Message));
    QVERIFY(ui.Steps >= 5);
    QVERIFY(!ui.PolledDuringSteps);
    QVERIFY(poll.PollingRunning());
    // From the first tare frame to the commit nothing else was on the line.
    const QList<quint8> sent = Commands(*rig.Sim);
    const qsizetype first = sent.indexOf(0xA6);
    QVERIFY(first >= 0);
    QCOMPARE(sent.mid(first, 5), QList<quint8>({0xA6, 0xA6, 0xA5, 0xA5, 0xA2}));
    // Polling goes on afterwards.
    const int after = cycles.load();
    QTRY_VERIFY_WITH_TIMEOUT(cycles.load() > after, 5000);
    poll.StopPolling();

    // A read stops and restarts it as well.
    poll.StartPolling();
    QVERIFY(tare.ReadFromGauge());
    QVERIFY(poll.PollingRunning());
    poll.StopPolling();
}

// The plant number for the file named after the gauge: the device object's, else one signature
// asked for after the table; none when the gauge gives no signature.
void TTareLinkTest::readNamesTheGauge() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    quint16 simPlant = 0;
    rig.Sim->WithSim([&](TGaugeSim& s) { simPlant = s.Gauges[0].PlantNumber; });
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    std::optional<quint16> plant;
    QVERIFY(tare.ReadFromGauge(nullptr, nullptr, &plant));
    QCOMPARE(plant, std::optional<quint16>(simPlant));
    QCOMPARE(Commands(*rig.Sim), QList<quint8>({0xA5, 0xA5, 0x20}));
    // Known now: no signature asked again.
    rig.Sim->ClearRecords();
    QVERIFY(tare.ReadFromGauge(nullptr, nullptr, &plant));
    QCOMPARE(plant, std::optional<quint16>(simPlant));
    QCOMPARE(Commands(*rig.Sim), QList<quint8>({0xA5, 0xA5}));
    // Not known and the signature not given: none, not 0.
    rig.Ulmar->PlantNumber = 0;
    Fault(*rig.Sim, TSimFault::Silence, 0, 1.0);
    QVERIFY(!commands.KnownPlantNumber());
}

// "Сравнить с прибором" without a window: same, rows that differ, rows the gauge lacks; a table
// that cannot be read sends nothing.
void TTareLinkTest::compareWithGauge() {
    TLinkRig rig;
    QVERIFY(rig.SimStarted);
    TAnswerUi ui;
    TGaugeCommands commands(rig.Link.get(), ui);
    TTareCommands tare(commands, nullptr);
    QVERIFY(tare.WriteToGauge(TenRows(), QStringLiteral("ten")).Committed);

    TTareCompareResult r = tare.CompareWithGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY2(r.Same(), qPrintable(r.Message));
    QCOMPARE(r.Rows, 10);
    QCOMPARE(r.GaugeRows, 10);
    QVERIFY2(r.Message.contains(QStringLiteral("совпадает")), qPrintable(r.Message));
    // A table name that looks like a place holder is shown as it is.
    QStringList odd = TenRows();
    odd[1] = QStringLiteral("t%2=10");
    r = tare.CompareWithGauge(odd, QStringLiteral("t%2"));
    QCOMPARE(r.Message, QStringLiteral("Таблица t%2 совпадает с таблицей прибора (строк: 10)"));

    // Row 4's volume and row 7's level changed in the file.
    QStringList changed = TenRows();
    changed[2 + 3] = QStringLiteral("3000\t30,6");
    changed[2 + 6] = QStringLiteral("6001\t60,5");
    r = tare.CompareWithGauge(changed, QStringLiteral("ten"));
    QVERIFY(r.Read && !r.Same());
    QCOMPARE(r.Differences.size(), std::size_t(2));
    QCOMPARE(r.Differences[0].Point, 4);
    QCOMPARE(r.Differences[0].VolumeA, 30.6);
    QCOMPARE(float(r.Differences[0].VolumeB), 30.5f);
    QCOMPARE(r.Differences[1].Point, 7);
    QCOMPARE(r.Differences[1].LevelB, 6000.0);

    // The gauge holds 12 points: the two beyond the table's ten differ.
    rig.Sim->WithSim([](TGaugeSim& s) {
        s.Gauges[0].TareLevels[10] = 10000.0f;
        s.Gauges[0].TareVolumes[10] = 100.0;
        s.Gauges[0].TareLevels[11] = 11000.0f;
        s.Gauges[0].TareVolumes[11] = 100.0;
    });
    r = tare.CompareWithGauge(TenRows(), QStringLiteral("ten"));
    QCOMPARE(r.GaugeRows, 12);
    QCOMPARE(r.Differences.size(), std::size_t(2));
    QCOMPARE(r.Differences[0].Point, 11);
    QVERIFY(std::isnan(r.Differences[0].LevelA));

    // No such table, or none chosen: nothing sent.
    rig.Sim->ClearRecords();
    r = tare.CompareWithGauge(TenRows(), QStringLiteral("other"));
    QVERIFY(r.Refused && !r.Read);
    r = tare.CompareWithGauge(TenRows(), QString());
    QCOMPARE(r.Message, QStringLiteral("Таблица не выбрана"));
    QCOMPARE(rig.Sim->RequestCount(), 0);

    // A silent gauge: not compared, said so.
    Fault(*rig.Sim, TSimFault::Silence, 0, 1.0);
    r = tare.CompareWithGauge(TenRows(), QStringLiteral("ten"));
    QVERIFY(!r.Read && !r.Refused && r.NoAnswer);
    QVERIFY(r.Message.startsWith(QStringLiteral("Не выполнена команда")));
}

QTEST_MAIN(TTareLinkTest)
#include "tst_tarelink.moc"
