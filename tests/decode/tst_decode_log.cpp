// The request log reader over the daily log that the link writes while it polls the simulator,
// in both radixes, with silent, garbled and cut answers among good ones; and lines that are not
// exchanges, each refused with its reason.

#include "tests/support/LinkRig.h"
#include "uExchangeDecode.h"
#include "uParamTable.h"

#include <QFile>
#include <QTest>

class TestDecodeLog : public QObject {
    Q_OBJECT

    static QStringList LogLines(const QString& path) {
        QFile f(path);
        QStringList lines;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (!line.trimmed().isEmpty())
                    lines << QString::fromUtf8(line);
        return lines;
    }

private slots:
    void pollAndDecode_data() {
        QTest::addColumn<int>("radix");
        QTest::newRow("decimal") << 10;
        QTest::newRow("hexadecimal") << 16;
    }
    void pollAndDecode() {
        QFETCH(int, radix);
        TLinkRig rig;
        QVERIFY(rig.SimStarted);
        rig.Link->DisplayRadix = radix;
        const QList<int> codes = {6, 2, 8, 66, 55, 62, 15, 13, 19};
        for (int code : codes)
            rig.Link->RequestExecUlmar(code);
        // A silent, a garbled and a cut answer, and an error answer.
        rig.Sim->WithSim([](TGaugeSim& s) { s.SetFault(TSimFault::Silence, {.Count = 1}); });
        rig.Link->RequestExecUlmar(6);
        rig.Sim->WithSim([](TGaugeSim& s) { s.SetFault(TSimFault::BadChecksum, {.Count = 1}); });
        rig.Link->RequestExecUlmar(6);
        rig.Sim->WithSim(
            [](TGaugeSim& s) { s.SetFault(TSimFault::Cut, {.Count = 1, .Value = 9}); });
        rig.Link->RequestExecUlmar(6);
        rig.Sim->WithSim(
            [](TGaugeSim& s) { s.SetFault(TSimFault::ErrorAnswer, {.Count = 1, .Value = 3}); });
        rig.Link->RequestExecUlmar(6);

        const QStringList lines = LogLines(rig.LogPath());
        QCOMPARE(lines.size(), codes.size() + 4);
        QList<TDecodedExchange> rows;
        for (const QString& line : lines) {
            TExchangeRecord raw;
            QString reason;
            QVERIFY2(ParseRequestLogLine(line, raw, reason), qPrintable(reason + ": " + line));
            QVERIFY(raw.TimeMs > 0);
            rows << DecodeExchange(raw);
        }
        for (int i = 0; i < codes.size(); ++i) {
            QCOMPARE(rows[i].Code, codes[i]);
            QCOMPARE(rows[i].ChecksumVerdict, QString::fromUtf8(DecodeVerdict::Good));
            QVERIFY2(!rows[i].Failed, qPrintable(lines[i]));
            QVERIFY(!rows[i].AnswerFields.isEmpty());
        }
        const int n = codes.size();
        QCOMPARE(rows[n].ChecksumVerdict, QString::fromUtf8(DecodeVerdict::NoAnswer));
        QCOMPARE(rows[n + 1].ChecksumVerdict, QString::fromUtf8(DecodeVerdict::Bad));
        QCOMPARE(rows[n + 2].ChecksumVerdict, QString::fromUtf8(DecodeVerdict::Cut));
        QCOMPARE(rows[n + 2].BytesReceived, 9);
        QVERIFY(rows[n + 3].AnswerFields.contains(
            QStringLiteral("ошибка = 3 (%1)").arg(TUlmar::ErrorAnswerText(3))));
        for (int i = n; i < rows.size(); ++i)
            QVERIFY(rows[i].Failed);
        // The level of the last accepted level read is the one the device object holds.
        const QString level =
            QStringLiteral("Уровень = %1 мм").arg(ShortestSingle(rig.Ulmar->Level->AsDouble()));
        QVERIFY2(rows[1].AnswerFields.contains(level), qPrintable(rows[1].AnswerFields.join("; ")));
    }

    void errorPartsAndRefusedLines() {
        TExchangeRecord raw;
        QString reason;
        QVERIFY(ParseRequestLogLine("09.12.2026 12:00:00,123 [01 02 01 E1 90] -> [] Error in "
                                    "Transmitter.SendString Порт закрыт\r",
                                    raw, reason));
        QCOMPARE(raw.Code, 6);
        QCOMPARE(raw.ResultText, QStringLiteral("Error in Transmitter.SendString Порт закрыт"));
        const TDecodedExchange d = DecodeExchange(raw);
        QVERIFY(d.Failed);
        QCOMPARE(d.ResultText, raw.ResultText);

        QVERIFY(ParseRequestLogLine(QString(QChar(0xFEFF)) + "09.12.2026 12:00:00,123 [01 02 01 "
                                                             "E1 90] -> []",
                                    raw, reason));
        QCOMPARE(raw.Request.size(), 5);

        const QStringList refused = {
            "просто текст",
            "09.12.2026 12:00:00,123 [01 02 01 E1 90] -> [01 02",
            "09.12.2026 12:00:00,123 [01 02 01 E1 90] -> [01 0Z]",
            "09.12.2026 12:00:00,123 [001 02 01] -> []",
            "09.12.2026 12:00:00,123 [256 002 001] -> []",
            "09.12.2026 12:00:00,123 [] -> []",
            "99.99.2026 12:00:00,123 [01] -> []",
        };
        for (const QString& line : refused) {
            QVERIFY2(!ParseRequestLogLine(line, raw, reason), qPrintable(line));
            QVERIFY(!reason.isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestDecodeLog)
#include "tst_decode_log.moc"
