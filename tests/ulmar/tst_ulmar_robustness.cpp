// Feeds both answer parsers a fixed-seed stream of valid, mutated, truncated and random answers
// and checks that each ends in a documented result code and leaves the object consistent.

#include "Ulmar.h"
#include "tests/support/GaugeExchange.h"
#include "tests/support/TestDirs.h"
#include "uFrame.h"
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <random>

namespace {

using TRng = std::mt19937;

int Uniform(TRng& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

bool Chance(TRng& rng, int percent) {
    return Uniform(rng, 0, 99) < percent;
}

char RandomByte(TRng& rng) {
    return static_cast<char>(Uniform(rng, 0, 255));
}

QByteArray WithCrc(const QByteArray& body) {
    const quint16 crc = Crc16(body);
    return body + char(crc & 0xFF) + char(crc >> 8);
}

struct TAnswerKind {
    quint8 Command;
    int Payload;             // payload bytes of a well-formed answer
    int FirstCode, LastCode; // request codes this answer belongs to; -1: any
    int FaultOffset;         // offset of the fault byte, 0 when none
};

const TAnswerKind Kinds[] = {
    {0x01, 5, 0, 5, 7},    {0x02, 18, 6, 6, 20}, {0x10, 2, 7, 7, 0},     {0x20, 5, 8, 8, 0},
    {0x25, 5, 9, 9, 0},    {0x60, 0, 10, 10, 0}, {0x81, 0, 11, 11, 0},   {0x82, 0, 12, 12, 0},
    {0x83, 16, 13, 13, 0}, {0xA2, 0, 14, 14, 0}, {0xA5, 128, 15, 16, 0}, {0xA6, 0, 17, 18, 0},
    {0xA8, 0, -1, -1, 0},  {0xB1, 0, 19, 28, 0}, {0xB2, 0, 29, 31, 0},   {0xB3, 0, 32, 48, 0},
    {0xB4, 1, 49, 60, 0},  {0xB5, 2, 61, 63, 0}, {0xB6, 4, 64, 79, 0},   {0xFA, 1, -1, -1, 0},
};

// A well-formed answer of one kind with random contents; fault bytes are mostly 0, so that
// the fault log on disk is written only now and then.
QByteArray ValidAnswer(TRng& rng, const TAnswerKind& kind) {
    QByteArray body;
    body += RandomByte(rng);
    body += char(kind.Command);
    body += char(kind.Payload + 1);
    for (int i = 0; i < kind.Payload; ++i)
        body += RandomByte(rng);
    if (kind.Command == 0x10)
        body[3] = char(0x55);
    if (kind.Command == 0xFA)
        body[3] = char(Uniform(rng, 0, 6));
    if (kind.FaultOffset)
        body[kind.FaultOffset] = Chance(rng, 5) ? RandomByte(rng) : char(0);
    return WithCrc(body);
}

QByteArray Mutate(TRng& rng, QByteArray frame) {
    switch (Uniform(rng, 0, 4)) {
    case 0: // flipped bytes, the checksum made to match again half of the time
    {
        const int flips = Uniform(rng, 1, 3);
        for (int i = 0; i < flips; ++i)
            frame[Uniform(rng, 0, int(frame.size()) - 1)] ^= char(1 << Uniform(rng, 0, 7));
        if (Chance(rng, 50))
            frame = WithCrc(frame.left(frame.size() - 2));
        return frame;
    }
    case 1: // cut short, with or without a matching checksum
    {
        const int keep = Uniform(rng, 0, int(frame.size()) - 1);
        frame = frame.left(keep);
        if (keep > 2 && Chance(rng, 70))
            frame = WithCrc(frame.left(keep - 2));
        return frame;
    }
    case 2: // wrong length byte
        frame[2] = RandomByte(rng);
        return WithCrc(frame.left(frame.size() - 2));
    case 3: // extra bytes behind the payload
    {
        QByteArray body = frame.left(frame.size() - 2);
        const int extra = Uniform(rng, 1, 20);
        for (int i = 0; i < extra; ++i)
            body += RandomByte(rng);
        return WithCrc(body);
    }
    default: // another command byte
        frame[1] = RandomByte(rng);
        return Chance(rng, 50) ? WithCrc(frame.left(frame.size() - 2)) : frame;
    }
}

QByteArray RandomAnswer(TRng& rng) {
    QByteArray bytes;
    const int n = Uniform(rng, 0, 140);
    for (int i = 0; i < n; ++i)
        bytes += RandomByte(rng);
    if (n >= 1 && Chance(rng, 50))
        bytes = WithCrc(bytes);
    return bytes;
}

QByteArray KalistAnswer(TRng& rng) {
    QByteArray body = KalistRequest();
    const int n = Uniform(rng, 0, 12);
    for (int i = 0; i < n; ++i)
        body += RandomByte(rng);
    if (Chance(rng, 70))
        body += char(Crc8(body));
    if (Chance(rng, 20))
        body = body.left(Uniform(rng, 0, int(body.size())));
    if (Chance(rng, 10))
        body = RandomAnswer(rng);
    return body;
}

bool DocumentedGaugeCode(int code, const QByteArray& answer) {
    if (code == 0 || code == -1 || code == -3 || code == -4 || code == -5 || code == 255 ||
        (code >= 1 && code <= 9))
        return true;
    // The error answer records its own code byte.
    return answer.size() >= 6 && quint8(answer[1]) == ErrorAnswerCommand &&
           code == quint8(answer[3]);
}

} // namespace

class TestUlmarRobustness : public QObject {
    Q_OBJECT
private slots:
    void parsersSurviveAnyAnswer();
};

void TestUlmarRobustness::parsersSurviveAnyAnswer() {
    TTestDirs dirs; // the fault log goes under a temporary program directory
    TGaugeExchange u;
    u.SetErrorMax(1);
    int identifications = 0;
    u.On32 = [&](TUlmar*, quint8, quint8, quint16, quint8, quint8) { ++identifications; };
    TRng rng(20240305);
    int accepted = 0;
    constexpr int GaugeAnswers = 200000;
    constexpr int KalistAnswers = 40000;

    for (int i = 0; i < GaugeAnswers; ++i) {
        const TAnswerKind& kind = Kinds[Uniform(rng, 0, int(std::size(Kinds)) - 1)];
        // Mostly the request that this answer belongs to, sometimes any other.
        int code = Uniform(rng, 0, 79);
        if (kind.FirstCode >= 0 && Chance(rng, 70))
            code = Uniform(rng, kind.FirstCode, kind.LastCode);
        if (Chance(rng, 5))
            u.ZeroBlock = Uniform(rng, -3, 36);
        else
            u.ZeroBlock = Uniform(rng, 1, 32);
        try {
            u.Build(code);
        } catch (const TCodecError&) {
            QVERIFY(code == 13); // a block out of range
        }
        if (Chance(rng, 3)) {
            // Now and then the answer meets a request of random bytes.
            u.Request.clear();
            const int length = Uniform(rng, 0, 8);
            for (int k = 0; k < length; ++k)
                u.Request.append(char(RandomByte(rng)));
        }
        if (Chance(rng, 1))
            u.SetErrorMax(quint16(Uniform(rng, 0, 3)));

        QByteArray answer;
        const int shape = Uniform(rng, 0, 9);
        if (shape < 3)
            answer = ValidAnswer(rng, kind);
        else if (shape < 8)
            answer = Mutate(rng, ValidAnswer(rng, kind));
        else
            answer = RandomAnswer(rng);

        u.Parse(answer);
        if (u.ErrorCode == 0 && u.LinkStateCode() == 1)
            ++accepted;
        QVERIFY2(DocumentedGaugeCode(u.ErrorCode, answer),
                 qPrintable(QString::number(u.ErrorCode) + " for " + answer.toHex(' ')));
        QVERIFY(u.LinkStateCode() <= 2);
    }
    for (qint32 entry : u.ZeroArray)
        QVERIFY(entry >= 0 && entry <= 65535);
    QVERIFY(accepted > GaugeAnswers / 10);
    QVERIFY(identifications > 0);
    // Some reading answers carried fault bytes and reached the fault log.
    qint64 logLines = 0;
    QDirIterator it(dirs.Prog(), {QStringLiteral("BlackBox.txt")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            logLines += f.readAll().count("\r\n");
    }
    qInfo("fault log lines: %lld", logLines);
    QVERIFY(logLines > 0);

    for (int i = 0; i < KalistAnswers; ++i) {
        const QByteArray answer = KalistAnswer(rng);
        u.ParseKalist(answer);
        QVERIFY2(u.ErrorCode == 0 || u.ErrorCode == -1 || u.ErrorCode == -3 || u.ErrorCode == -4,
                 qPrintable(answer.toHex(' ')));
        const double current = u.CurrentOutput->AsDouble();
        QVERIFY(current >= -327.68 && current <= 327.67);
    }
}

QTEST_GUILESS_MAIN(TestUlmarRobustness)
#include "tst_ulmar_robustness.moc"
