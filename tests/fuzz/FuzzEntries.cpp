#include "tests/fuzz/FuzzEntries.h"
#include "Ulmar.h"
#include "uExchangeDecode.h"
#include "uFrame.h"
#include "uPaths.h"
#include "uWire.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdlib>

namespace {

// The request of every code as the link encodes it for address 1, checksum appended.
const std::array<QByteArray, TUlmar::MaxRequestCode + 1>& Requests() {
    static const auto requests = [] {
        std::array<QByteArray, TUlmar::MaxRequestCode + 1> all;
        TUlmar ulmar;
        ulmar.SystemAddress = 1;
        for (int code = 0; code <= TUlmar::MaxRequestCode; ++code) {
            QByteArray frame = EncodeRequest(ulmar, code);
            const quint16 crc = Crc16(frame);
            frame.append(static_cast<char>(crc & 0xFF));
            frame.append(static_cast<char>(crc >> 8));
            all[code] = frame;
        }
        return all;
    }();
    return requests;
}

// The fault log goes to a directory that cannot be made, so a fault answer costs no file.
void KeepFaultLogOff() {
    static const bool done = [] {
        SetProgramDir(QStringLiteral("/proc/ulmar-no-fault-log"));
        return true;
    }();
    (void)done;
}

// Touches every text of the row, so that a bad one is read in full.
void Consume(const TDecodedExchange& d) {
    const QString line = CsvLine(DecodedCsvFields(d));
    if (line.isEmpty() || d.ChecksumVerdict.size() > 1000)
        std::abort(); // a row always has its counts
}

} // namespace

// Selector byte s, then the body:
//   s < 80: the request of code s as built by the device object, the body is the answer;
//           the second byte's low bit says whether the code is given or left to the decoder;
//   s < 96: a КАЛИСТ-1 exchange, the body is the answer;
//   s < 240: the body's first byte is the request's length, then request and answer bytes;
//   else:   the body is one line of the request log.
void FuzzDecodeExchange(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    const uint8_t s = data[0];
    const QByteArray body(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));
    TExchangeRecord raw;
    raw.TimeMs = 1700000000000;
    if (s < 80) {
        raw.Request = Requests()[s];
        raw.Code = !body.isEmpty() && (body[0] & 1) ? s : -1;
        raw.Answer = body.mid(1);
    } else if (s < 96) {
        raw.Device = 1;
        raw.Request = KalistRequest();
        raw.Request.append(static_cast<char>(Crc8(raw.Request)));
        raw.Answer = body;
    } else if (s < 240) {
        const int split = body.isEmpty() ? 0 : static_cast<quint8>(body[0]);
        raw.Request = body.mid(1, split);
        raw.Answer = body.mid(1 + split);
        raw.Code = (s & 1) ? -1 : (s % 81);
        raw.Result = (s & 2) ? 0 : -1;
        raw.ResultText = (s & 4) ? QStringLiteral("Нет ответа от устройства") : QString();
    } else {
        QString reason;
        if (!ParseRequestLogLine(QString::fromUtf8(body), raw, reason)) {
            if (reason.isEmpty())
                std::abort(); // a refused line always says why
            return;
        }
    }
    Consume(DecodeExchange(raw));
}

// What a decoded answer holds stays inside its arrays, whatever the bytes.
void CheckDecoded(const TAnswer& a) {
    if (a.Count < 0 || a.Count > TarePointCount || a.ZeroStart > 255 ||
        (a.Status != TAnswerStatus::Ok && a.Count != 0))
        std::abort();
}

// Selector byte s, zero block z, error limit e, then the answer:
//   s & 0x80: a КАЛИСТ-1 answer, decoded and applied;
//   else:     the request of code s % 80 (zero block z % 34: 0 and 33 cannot be encoded, and the
//             answer is then decoded without a request), the answer decoded against it and
//             applied to a device object.
void FuzzParseAnswer(const uint8_t* data, size_t size) {
    if (size < 3)
        return;
    KeepFaultLogOff();
    TUlmar ulmar;
    ulmar.SystemAddress = 1;
    ulmar.SetErrorMax(data[2] % 4);
    ulmar.On32 = [](TUlmar*, quint8, quint8, quint16, quint8, quint8) {};
    const QByteArray answer(reinterpret_cast<const char*>(data + 3),
                            static_cast<qsizetype>(size - 3));
    if (data[0] & 0x80) {
        const TAnswer decoded = DecodeKalist(answer);
        CheckDecoded(decoded);
        ulmar.ApplyKalist(decoded);
        return;
    }
    ulmar.ZeroBlock = data[1] % 34;
    QByteArray request;
    try {
        request = EncodeRequest(ulmar, data[0] % (TUlmar::MaxRequestCode + 1));
    } catch (const TCodecError&) {
    }
    const TAnswer decoded = Decode(request, answer);
    CheckDecoded(decoded);
    ulmar.Apply(decoded);
}
