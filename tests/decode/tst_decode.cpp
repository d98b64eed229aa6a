// The exchange decoder: every request code against the simulator's answer, every answer kind,
// garbled checksums, cut frames at every length, error answers, fault bytes, the КАЛИСТ-1, and
// the CSV row.

#include "Ulmar.h"
#include "uExchangeDecode.h"
#include "uFrame.h"
#include "uGaugeSim.h"

#include <QTest>

namespace {

QByteArray WithCrc(const QByteArray& frame) {
    return TGaugeSim::WithCrc16(frame);
}

QByteArray Request(int code, int zeroBlock = 1) {
    TUlmar u;
    u.SystemAddress = 1;
    u.ZeroBlock = zeroBlock;
    u.PlantNumber = 1001; // the simulator's first gauge: codes 9 and 10 name it
    return WithCrc(EncodeRequest(u, code));
}

QByteArray Answer(quint8 command, const QByteArray& payload, quint8 address = 1) {
    QByteArray frame;
    frame.append(static_cast<char>(address));
    frame.append(static_cast<char>(command));
    frame.append(static_cast<char>(payload.size() + 1));
    return WithCrc(frame + payload);
}

QByteArray Float(double value) {
    const auto b = FloatToBytes(value);
    return QByteArray(reinterpret_cast<const char*>(b.data()), 4);
}

TDecodedExchange Decode(int code, const QByteArray& answer, bool codeGiven = true) {
    TExchangeRecord raw;
    raw.Code = codeGiven ? code : -1;
    raw.Request = Request(code);
    raw.Answer = answer;
    return DecodeExchange(raw);
}

bool HasField(const QStringList& fields, const QString& text) {
    for (const QString& f : fields)
        if (f.contains(text))
            return true;
    return false;
}

const QString Good = QString::fromUtf8(DecodeVerdict::Good);
const QString Bad = QString::fromUtf8(DecodeVerdict::Bad);
const QString Cut = QString::fromUtf8(DecodeVerdict::Cut);
const QString None = QString::fromUtf8(DecodeVerdict::NoAnswer);

} // namespace

class TestDecode : public QObject {
    Q_OBJECT

private slots:
    // Every code against the simulator: a name, the code read back from the bytes alone, fields
    // on both sides, a good checksum and no problem.
    void everyRequestCode_data() {
        QTest::addColumn<int>("code");
        for (int code = 0; code <= TUlmar::MaxRequestCode; ++code)
            QTest::addRow("%d", code) << code;
    }
    void everyRequestCode() {
        QFETCH(int, code);
        TGaugeSim sim(1);
        sim.Gauges[0].FillLinearTare(10);
        sim.Gauges[0].FillZeroArray(20);
        const QByteArray request = Request(code);
        const TSimAnswer answer = sim.Exchange(request);
        QVERIFY(!answer.Silent());
        for (bool codeGiven : {true, false}) {
            TExchangeRecord raw;
            raw.Code = codeGiven ? code : -1;
            raw.Request = request;
            raw.Answer = answer.Bytes;
            const TDecodedExchange d = DecodeExchange(raw);
            QCOMPARE(d.Code, code);
            QVERIFY2(!d.CommandName.isEmpty(), qPrintable(QString::number(code)));
            QVERIFY(!d.CommandName.startsWith("Команда"));
            QCOMPARE(d.Address, 1);
            QVERIFY(!d.RequestFields.isEmpty());
            // The answering address and at least one field of the content.
            QVERIFY2(d.AnswerFields.size() >= 2, qPrintable(d.AnswerFields.join("; ")));
            QCOMPARE(d.ChecksumVerdict, Good);
            QVERIFY2(d.Problem.isEmpty(), qPrintable(d.Problem));
            QVERIFY2(!d.Failed, qPrintable(d.AnswerFields.join("; ")));
            QCOMPARE(d.BytesSent, request.size());
            QCOMPARE(d.BytesReceived, answer.Bytes.size());
        }
        QCOMPARE(ExchangeCodeOfRequest(request), code);
        QVERIFY(!ExchangeCommandName(code).isEmpty());
    }

    void readingsWithUnits() {
        TDecodedExchange d = Decode(2, Answer(0x01, Float(7000) + QByteArray(1, 0)));
        QVERIFY(d.AnswerFields.contains("Уровень = 7000 мм"));
        QVERIFY(d.AnswerFields.contains("неисправность = 0 (Норма)"));
        d = Decode(4, Answer(0x01, Float(4550) + QByteArray(1, 0)));
        QVERIFY(d.AnswerFields.contains("Объем = 45.5 %"));
        d = Decode(6, Answer(0x02, Float(8000) + Float(7000) + Float(1000) + Float(4600) +
                                       QByteArray("\x02\x00", 2)));
        QVERIFY(d.AnswerFields.contains("Расстояние = 8000 мм"));
        QVERIFY(d.AnswerFields.contains("Свободное пространство = 1000 мм"));
        QVERIFY(d.AnswerFields.contains("Объем = 46 %"));
        QVERIFY(d.AnswerFields.contains("реле = 2 (Реле 1 Отключено, Реле 2 Включено)"));
        QVERIFY(!d.Failed);
        d = Decode(66, Answer(0xB6, Float(1250.5)));
        QVERIFY2(HasField(d.AnswerFields, "= 1250.5 мм"), qPrintable(d.AnswerFields.join("; ")));
        d = Decode(55, Answer(0xB4, QByteArray(1, char(0xF6))));
        QVERIFY(d.AnswerFields.contains("Температура СВЧ модуля = -10 °C"));
        d = Decode(62, Answer(0xB5, QByteArray("\x12\x34", 2)));
        QVERIFY(HasField(d.AnswerFields, "= 4660"));
    }

    void faultByte() {
        TDecodedExchange d = Decode(2, Answer(0x01, Float(7000) + QByteArray(1, 2)));
        QVERIFY(d.Failed);
        QVERIFY(d.AnswerFields.contains("неисправность = 2 (" + TUlmar::FaultText(2) + ")"));
        QCOMPARE(d.ChecksumVerdict, Good);
        d = Decode(
            6, Answer(0x02, Float(1) + Float(2) + Float(3) + Float(4) + QByteArray("\x07\x0C", 2)));
        QVERIFY(d.Failed);
        QVERIFY(d.AnswerFields.contains("реле = 7 (Не известно)"));
        QVERIFY(d.AnswerFields.contains("неисправность = 12 (Ошибка неизвестна)"));
    }

    void errorAnswer() {
        for (int code = 1; code <= 4; ++code) {
            const TDecodedExchange d = Decode(66, Answer(0xFA, QByteArray(1, char(code))));
            QVERIFY(d.Failed);
            QVERIFY(d.AnswerFields.contains(
                QStringLiteral("ошибка = %1 (%2)").arg(code).arg(TUlmar::ErrorAnswerText(code))));
            QVERIFY2(d.Problem.isEmpty(), qPrintable(d.Problem)); // 0xFA answers any request
        }
        const TDecodedExchange zero = Decode(66, Answer(0xFA, QByteArray(1, 0)));
        QVERIFY(!zero.Failed);
        QVERIFY(Decode(66, Answer(0xFA, QByteArray(1, 9))).AnswerFields.contains("ошибка = 9"));
    }

    void zeroBlockAndTarePart() {
        TExchangeRecord raw;
        raw.Request = Request(13, 3);
        QByteArray words;
        for (int k = 0; k < 8; ++k)
            words += QByteArray(1, char(0)) + QByteArray(1, char(k + 1));
        raw.Answer = Answer(0x83, words);
        TDecodedExchange d = DecodeExchange(raw);
        QVERIFY(d.RequestFields.contains("блок = 3 (элементы с 17)"));
        QVERIFY(d.AnswerFields.contains("массив нулей 17..24 = 1 2 3 4 5 6 7 8"));

        QByteArray points;
        for (int k = 0; k < 32; ++k)
            points += k < 2 ? Float(k * 1000 + 500) : QByteArray(4, char(0xFF));
        d = Decode(15, Answer(0xA5, points));
        QVERIFY(d.RequestFields.contains("часть таблицы = уровни"));
        QVERIFY(d.AnswerFields.value(1).startsWith("уровни, мм = 500; 1500; пусто; пусто"));
        QCOMPARE(d.ChecksumVerdict, Good);
        d = Decode(16, Answer(0xA5, points));
        QVERIFY(d.AnswerFields.value(1).startsWith("объемы, % = 5; 15; пусто"));
    }

    void signatureAndAddressChange() {
        const QByteArray payload("\x11\x10\xE1\x02\x03", 5);
        TDecodedExchange d = Decode(8, Answer(0x20, payload));
        QVERIFY(d.AnswerFields.contains("Заводской номер = 4321"));
        QVERIFY(d.AnswerFields.contains("Аппаратная версия = 2"));
        QVERIFY(d.AnswerFields.contains("Программная версия = 3"));
        d = Decode(9, Answer(0x25, payload, 7));
        QVERIFY(d.AnswerFields.contains("адрес = 7"));
    }

    // A changed byte anywhere in a good answer: the verdict is bad, the row stands out, and the
    // bytes are still decoded.
    void garbledChecksum() {
        const QByteArray good = Answer(0x02, Float(8000) + Float(7000) + Float(1000) + Float(4600) +
                                                 QByteArray("\x03\x00", 2));
        for (int i = 3; i < good.size(); ++i) {
            QByteArray bad = good;
            bad[i] = static_cast<char>(bad[i] ^ 0x40);
            const TDecodedExchange d = Decode(6, bad);
            QCOMPARE(d.ChecksumVerdict, Bad);
            QVERIFY(d.Failed);
            QCOMPARE(d.AnswerFields.size(), 7);
        }
        // A length byte that no answer can have is a garbled frame, not a cut one.
        QByteArray longLength = good;
        longLength[2] = static_cast<char>(0xF0);
        const TDecodedExchange garbledLength = Decode(6, longLength);
        QCOMPARE(garbledLength.ChecksumVerdict, Bad);
        QVERIFY(garbledLength.Problem.contains("байт длины 240"));
        // A good answer followed by stray bytes: named as such.
        const TDecodedExchange trailing = Decode(6, good + QByteArray("\x01\x02", 2));
        QCOMPARE(trailing.ChecksumVerdict, Bad);
        QVERIFY2(trailing.Problem.contains("ещё 2 байт"), qPrintable(trailing.Problem));
    }

    // Every prefix of every answer kind decodes without reading past its end (the sanitizer
    // build checks the reads); the verdict says cut and the reason names the missing part.
    void cutFrames() {
        const QList<QPair<int, QByteArray>> answers = {
            {2, Answer(0x01, Float(7000) + QByteArray(1, 0))},
            {6, Answer(0x02, Float(1) + Float(2) + Float(3) + Float(4) + QByteArray(2, 0))},
            {8, Answer(0x20, QByteArray("\x11\x10\xE1\x02\x03", 5))},
            {13, Answer(0x83, QByteArray(16, 1))},
            {15, Answer(0xA5, QByteArray(128, 2))},
            {62, Answer(0xB5, QByteArray(2, 3))},
            {66, Answer(0xB6, Float(3))},
            {66, Answer(0xFA, QByteArray(1, 2))},
        };
        for (const auto& [code, full] : answers) {
            for (int n = 1; n < full.size(); ++n) {
                const TDecodedExchange d = Decode(code, full.left(n));
                QVERIFY(d.Failed);
                QVERIFY2(d.ChecksumVerdict == Cut || d.ChecksumVerdict == Bad,
                         qPrintable(d.ChecksumVerdict));
                if (n < full.size() - 2)
                    QCOMPARE(d.ChecksumVerdict, Cut);
                QVERIFY(!d.Problem.isEmpty());
            }
        }
        // A cut request: decoded as far as it goes.
        TExchangeRecord raw;
        raw.Request = Request(36).left(4);
        const TDecodedExchange d = DecodeExchange(raw);
        QVERIFY2(d.Problem.contains("запрос обрезан"), qPrintable(d.Problem));
        QCOMPARE(d.ChecksumVerdict, None);
    }

    void noAnswerAndUnknownCommand() {
        TDecodedExchange d = Decode(6, QByteArray());
        QCOMPARE(d.ChecksumVerdict, None);
        QVERIFY(d.Failed);
        QVERIFY(d.AnswerFields.isEmpty());
        d = Decode(6, Answer(0x30, QByteArray()));
        QCOMPARE(d.ChecksumVerdict, Good);
        QVERIFY(d.Failed);
        QVERIFY(d.Problem.contains("неизвестная команда ответа 0x30"));
        // An answer of another accepted command is decoded by its own command byte.
        d = Decode(64, Answer(0x02, Float(1) + Float(2) + Float(3) + Float(4) + QByteArray(2, 0)));
        QVERIFY(d.AnswerFields.contains("Уровень = 2 мм"));
        QVERIFY(d.Problem.contains("другую команду"));
        // A parameter index that no parameter has is named by its number.
        TExchangeRecord unknownIndex;
        unknownIndex.Request = WithCrc(QByteArray("\x01\xB6\x02\x07", 4));
        unknownIndex.Answer = Answer(0xB6, Float(2));
        d = DecodeExchange(unknownIndex);
        QCOMPARE(d.Code, -1);
        QVERIFY2(d.RequestFields.contains("параметр = параметр 7 (индекс 7)"),
                 qPrintable(d.RequestFields.join("; ")));
        QVERIFY(d.AnswerFields.contains("параметр 7 = 2"));
        QVERIFY(d.Problem.contains("ни одной команде"));
        // An unknown request is named by its command byte.
        TExchangeRecord raw;
        raw.Request = WithCrc(QByteArray("\x01\x77\x01", 3));
        d = DecodeExchange(raw);
        QCOMPARE(d.Code, -1);
        QCOMPARE(d.CommandName, QStringLiteral("Команда 0x77"));
    }

    void kalist() {
        QByteArray request = KalistRequest();
        request.append(static_cast<char>(Crc8(request)));
        QByteArray answer("\x01\x03\x04\x00\x00\xB0\x04\x00", 8);
        answer.append(static_cast<char>(Crc8(answer)));
        TExchangeRecord raw;
        raw.Device = 1;
        raw.Request = request;
        raw.Answer = answer;
        TDecodedExchange d = DecodeExchange(raw);
        QCOMPARE(d.Code, int(UlmarCmd::KalistCurrent));
        QVERIFY(d.AnswerFields.contains("Ток = 12.00 мА"));
        QCOMPARE(d.ChecksumVerdict, Good);
        QVERIFY(!d.Failed);
        raw.Device = 0; // known by its bytes too
        QCOMPARE(DecodeExchange(raw).Code, int(UlmarCmd::KalistCurrent));
        raw.Answer[2] = 9;
        d = DecodeExchange(raw);
        QCOMPARE(d.ChecksumVerdict, Bad);
        QVERIFY(d.Failed);
        raw.Answer = answer.left(6);
        QCOMPARE(DecodeExchange(raw).ChecksumVerdict, Cut);
    }

    void csvRow() {
        TExchangeRecord raw;
        raw.TimeMs = 1700000000123;
        raw.Request = Request(6);
        raw.Answer = Answer(0x02, Float(1) + Float(2) + Float(3) + Float(4) + QByteArray(2, 0));
        raw.DelayMs = 4.5;
        raw.ResultText = "Норма";
        raw.Result = 0;
        const TDecodedExchange d = DecodeExchange(raw);
        const QStringList fields = DecodedCsvFields(d);
        QCOMPARE(fields.size(), DecodedCsvHeader().size());
        QVERIFY(fields[0].endsWith(",123"));
        QCOMPARE(fields[2], QStringLiteral("6"));
        QCOMPARE(fields[9], QStringLiteral("4.5"));
        QCOMPARE(fields[10], QString());
        QCOMPARE(CsvLine({"a;b", "c\"d", "e"}), QStringLiteral("\"a;b\";\"c\"\"d\";e"));
    }

    // The link's own failure text marks the row even when the bytes look right.
    void linkFailure() {
        TExchangeRecord raw;
        raw.Request = Request(6);
        raw.Answer = Answer(0x02, Float(1) + Float(2) + Float(3) + Float(4) + QByteArray(2, 0));
        raw.Result = -1;
        raw.ResultText = "Error in RequestThread.Synchronize";
        QVERIFY(DecodeExchange(raw).Failed);
    }
};

QTEST_GUILESS_MAIN(TestDecode)
#include "tst_decode.moc"
