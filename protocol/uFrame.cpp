#include "uFrame.h"

#include <bit>
#include <cfloat>
#include <cmath>

quint16 Crc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001) : (crc >> 1);
    }
    return crc;
}

bool CheckCrc16(const QByteArray& frame) {
    if (frame.size() <= 2)
        return false;
    const quint16 crc = Crc16(frame.left(frame.size() - 2));
    return static_cast<quint8>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<quint8>(frame.at(frame.size() - 1)) == (crc >> 8);
}

quint8 Crc8(const QByteArray& bytes) {
    quint8 crc = 0xFF;
    for (const char c : bytes) {
        quint8 b = static_cast<quint8>(c);
        for (int i = 0; i < 8; ++i) {
            const quint8 bit = (crc ^ b) & 1;
            if (bit)
                crc ^= 0x18;
            crc = static_cast<quint8>((crc >> 1) | (bit << 7));
            b >>= 1;
        }
    }
    return crc;
}

bool CheckCrc8(const QByteArray& frame) {
    if (frame.size() < 3)
        return false;
    return static_cast<quint8>(frame.back()) == Crc8(frame.left(frame.size() - 1));
}

double BytesToFloat(quint8 b0, quint8 b1, quint8 b2, quint8 b3) {
    const quint32 bits = (quint32(b0) << 24) | (quint32(b1) << 16) | (quint32(b2) << 8) | b3;
    return static_cast<double>(std::bit_cast<float>(bits));
}

// Rounds to single precision; finite values beyond the single range round to the largest
// single or to infinity, as IEEE round-to-nearest does (a plain cast would be undefined).
static float ToSingle(double x) {
    if (std::isfinite(x) && std::fabs(x) > static_cast<double>(FLT_MAX)) {
        // Half an ulp above FLT_MAX: 2^128 - 2^103.
        const double overflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);
        const float big = std::fabs(x) >= overflow ? INFINITY : FLT_MAX;
        return x < 0 ? -big : big;
    }
    return static_cast<float>(x);
}

std::array<quint8, 4> FloatToBytes(double x) {
    const quint32 bits = std::bit_cast<quint32>(ToSingle(x));
    return {static_cast<quint8>(bits >> 24), static_cast<quint8>(bits >> 16),
            static_cast<quint8>(bits >> 8), static_cast<quint8>(bits)};
}

quint16 MakeWord(quint8 low, quint8 high) {
    return static_cast<quint16>(high * 256 + low);
}

QString LinkResultText(int code) {
    switch (code) {
    case LinkResult::Ok:
        return QStringLiteral("Норма");
    case LinkResult::NoAnswer:
        return QStringLiteral("Нет ответа от устройства");
    case LinkResult::ReadError:
        return QStringLiteral("Ошибка чтения");
    case LinkResult::ChecksumError:
        return QStringLiteral("Ошибка контрольной суммы");
    case LinkResult::CommandMismatch:
        return QStringLiteral("Несоответствие команды");
    default:
        return {};
    }
}

QByteArray KalistRequest() {
    return QByteArray("\x01\x00\x01\x00", 4);
}
