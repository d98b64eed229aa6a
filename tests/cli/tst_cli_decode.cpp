// ulmar-cli decode over a request log in both radixes with error parts and a line that is not
// an exchange (kept, with its reason), in text, JSON and CSV, from a file, a pipe or standard
// input; ulmar-cli monitor against ulmar-sim with a device fault on the first answer.

#include "tests/support/CliRig.h"
#include "uFrame.h"
#include "uIniFile.h"
#include "uParamStr.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <memory>

namespace {

QByteArray WithCrc(QByteArray frame) {
    const quint16 crc = Crc16(frame);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

QByteArray FloatBytes(double value) {
    const auto b = FloatToBytes(value);
    return QByteArray(reinterpret_cast<const char*>(b.data()), 4);
}

} // namespace

class TestCliDecode : public TCliTest {
    Q_OBJECT

    // A log as the link writes it: a good level poll in hexadecimal, the same in decimal, a poll
    // that the port failed, a line that is no exchange, and a garbled answer.
    QString WriteLog() {
        const QByteArray request = WithCrc(QByteArray("\x01\x01\x02\x02", 4));
        const QByteArray answer =
            WithCrc(QByteArray("\x01\x01\x06", 3) + FloatBytes(7500) + QByteArray(1, 0));
        QByteArray garbled = answer;
        garbled[4] = static_cast<char>(garbled[4] ^ 1);
        const QString stamp = "09.12.2026 12:00:00,125 ";
        const QStringList lines = {
            stamp + "[" + ToHexString(request) + "] -> [" + ToHexString(answer) + "]",
            stamp + "[" + ToDecString(request, true) + "] -> [" + ToDecString(answer, true) + "]",
            stamp + "[" + ToHexString(request) + "] -> [] Error in Transmitter.SendString ",
            "не строка обмена",
            stamp + "[" + ToHexString(request) + "] -> [" + ToHexString(garbled) + "]",
        };
        const QString path = Dirs->Work() + "/rd261209.txt";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.write((lines.join("\r\n") + "\r\n").toUtf8());
        return path;
    }

private slots:
    void init() { NewDirs(); }
    void cleanup() { DropDirs(); }

    void decodeText() {
        const QString log = WriteLog();
        const TCliRun run = Cli({"decode", log});
        QCOMPARE(run.Exit, 1); // one line was not an exchange
        const QStringList lines = run.Lines();
        QCOMPARE(lines.size(), 5);
        for (int i : {0, 1}) {
            QVERIFY2(lines[i].contains("код 2 Считать Ну - текущий уровень"), qPrintable(lines[i]));
            QVERIFY(lines[i].contains("Уровень = 7500 мм"));
            QVERIFY(lines[i].contains("CRC верна"));
            QVERIFY(lines[i].startsWith("  09.12.2026 12:00:00,125"));
        }
        QVERIFY(lines[2].startsWith("! "));
        QVERIFY(lines[2].contains("нет ответа"));
        QVERIFY(lines[2].contains("Error in Transmitter.SendString"));
        QVERIFY(lines[3].contains("строка 4 не разобрана"));
        QVERIFY(lines[3].endsWith("| не строка обмена"));
        QVERIFY(lines[4].startsWith("! "));
        QVERIFY(lines[4].contains("CRC неверна"));
    }

    void decodeJsonAndCsv() {
        const QString log = WriteLog();
        TCliRun run = Cli({"decode", log, "--json"});
        QCOMPARE(run.Exit, 1);
        const QList<QJsonObject> rows = run.JsonLines();
        QCOMPARE(rows.size(), 5);
        QCOMPARE(rows[0]["code"].toInt(), 2);
        QCOMPARE(rows[0]["address"].toInt(), 1);
        QCOMPARE(rows[0]["failed"].toBool(), false);
        QCOMPARE(rows[0]["time"].toString(),
                 IsoLocal(QDateTime(QDate(2026, 12, 9), QTime(12, 0, 0, 125))));
        QCOMPARE(rows[1]["answer"].toString(), rows[0]["answer"].toString());
        QCOMPARE(rows[2]["failed"].toBool(), true);
        QCOMPARE(rows[3]["ok"].toBool(), false);
        QCOMPARE(ErrorCode(rows[3]), QStringLiteral("badFile"));
        QCOMPARE(rows[3]["line"].toInt(), 4);
        QCOMPARE(rows[3]["text"].toString(), QStringLiteral("не строка обмена"));
        QCOMPARE(rows[4]["crcOk"].toBool(true), false);
        QCOMPARE(rows[0]["crcOk"].toBool(false), true);

        run = Cli({"decode", log, "--csv"});
        QCOMPARE(run.Exit, 1);
        QVERIFY(run.Out.startsWith("\xEF\xBB\xBFtime;address;code;command;"));
        QVERIFY(run.Out.endsWith("\r\n"));
        const QStringList lines = run.Text().split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 6);
        QVERIFY2(lines[1].startsWith(IsoLocal(QDateTime(QDate(2026, 12, 9), QTime(12, 0, 0, 125))) +
                                     ";1;2;"),
                 qPrintable(lines[1]));
        QVERIFY(lines[4].endsWith(";не строка обмена"));
        QVERIFY(lines[4].contains("строка 4 не разобрана"));
        QVERIFY(Cli({"decode", log, "--csv", "--captions"})
                    .Out.startsWith("\xEF\xBB\xBF" +
                                    QStringLiteral("Время;Адрес;Код;Команда;").toUtf8()));
        QCOMPARE(Cli({"decode", log, "--captions"}).Exit, 3);

        QCOMPARE(Cli({"decode", log, "--csv", "--json"}).Exit, 3);
        QCOMPARE(Cli({"decode", Dirs->Work() + "/нет.txt"}).Exit, 3);
        QCOMPARE(Cli({"decode"}).Exit, 3);
    }

    // A log from a pipe or standard input is read to its end, as a file is; control characters
    // of a line never reach the terminal raw; an overlong line is named and the next one still
    // decoded; a directory or a device is refused.
    void decodeStreamsAndOddLines() {
        const QString log = WriteLog();
        const QByteArray bytes = ReadAll(log);
        const TCliRun fromFile = Cli({"decode", log});
        for (const char* name : {"-", "/dev/stdin"}) {
            const TCliRun run = Cli({"decode", name}, bytes);
            QCOMPARE(run.Exit, 1);
            QCOMPARE(run.Out, fromFile.Out);
        }

        const QByteArray odd = "ESC \x1b[2J BEL \x07 DEL \x7f CSI \xc2\x9b tab\tend\n";
        for (const char* form : {"--csv", "--json", "--trace"}) {
            const TCliRun run = Cli({"decode", "-", form}, odd);
            QCOMPARE(run.Exit, 1);
            for (const QByteArray raw : {"\x1b", "\x07", "\x7f", "\xc2\x9b"})
                QVERIFY2(!run.Out.contains(raw), run.Out.toHex(' ').constData());
            if (QByteArray(form) == "--json")
                QCOMPARE(run.JsonLines().value(0)["text"].toString(),
                         QString::fromUtf8(odd.chopped(1)));
            else
                QVERIFY2(run.Out.contains("ESC \\x1b[2J BEL \\x07 DEL \\x7f CSI \\x9b tab\tend"),
                         run.Out);
        }

        const TCliRun run = Cli({"decode", "-"}, QByteArray(200000, 'x') + "\n" + bytes);
        QCOMPARE(run.Exit, 1);
        const QStringList lines = run.Lines();
        QCOMPARE(lines.size(), 6);
        QVERIFY2(lines[0].startsWith(
                     QStringLiteral("? строка 1 не разобрана: строка длиннее 65536 байт | xxx")),
                 qPrintable(lines[0].left(200)));
        QVERIFY(lines[0].size() < 300);
        QVERIFY(lines[1].contains("CRC верна"));

        TCliRun refused = Cli({"decode", Dirs->Work()});
        QCOMPARE(refused.Exit, 3);
        QVERIFY2(refused.ErrText().contains(QStringLiteral("каталог")), refused.Err);
        refused = Cli({"decode", "/dev/null"});
        QCOMPARE(refused.Exit, 3);
        QVERIFY2(refused.ErrText().contains(QStringLiteral("устройство")), refused.Err);
    }

    void monitor() {
        QVERIFY(StartSim({"--level", "7500", "--fault-device", "count=1,value=2"}));
        TCliRun run = Cli({"monitor", "--count", "2", "--period", "0", "--address", "1"});
        QCOMPARE(run.Exit, 2); // the first answer carried a fault
        const QStringList lines = run.Lines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith("! "), qPrintable(lines[0]));
        QVERIFY(lines[0].contains("неисправность = 2"));
        QVERIFY(lines[1].startsWith("  "));
        QVERIFY(lines[1].contains("код 6"));
        QVERIFY(lines[1].contains("Уровень = 7500 мм"));
        QVERIFY(lines[1].contains("CRC верна"));

        run = Cli({"monitor", "--count", "2", "--period", "0", "--address", "1", "--json"});
        QCOMPARE(run.Exit, 0);
        const QList<QJsonObject> rows = run.JsonLines();
        QCOMPARE(rows.size(), 2);
        for (const QJsonObject& row : rows) {
            QCOMPARE(row["code"].toInt(), 6);
            QCOMPARE(row["failed"].toBool(), false);
            QVERIFY(row["request"].toString().startsWith("01 02 01"));
            QCOMPARE(row["address"].toInt(), 1);
            QCOMPARE(row["plantNumber"].toInt(), 1001);
        }
    }
};

QTEST_GUILESS_MAIN(TestCliDecode)
#include "tst_cli_decode.moc"
