#pragma once
// Gauge frame envelope and checksums, the КАЛИСТ-1 envelope, value encodings and the link
// result codes. Pure functions over bytes; callable from any thread.

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

// CRC-16/MODBUS over the bytes (register 0xFFFF, reflected polynomial 0xA001, no final XOR).
quint16 Crc16(const QByteArray& bytes);
// True when the frame is longer than 2 bytes and ends with Crc16 of the rest, low byte first.
bool CheckCrc16(const QByteArray& frame);
// Reflected CRC-8 with polynomial 0x31 and initial value 0xFF, no final XOR.
quint8 Crc8(const QByteArray& bytes);
// True when the frame is at least 3 bytes long and ends with Crc8 of the rest.
bool CheckCrc8(const QByteArray& frame);

// IEEE single whose bits are b0·2^24 + b1·2^16 + b2·2^8 + b3, widened to double.
double BytesToFloat(quint8 b0, quint8 b1, quint8 b2, quint8 b3);
// Four bytes, most significant first, of x rounded to single precision.
std::array<quint8, 4> FloatToBytes(double x);
// high·256 + low.
quint16 MakeWord(quint8 low, quint8 high);

// Link result codes recorded in the device object's ErrorCode.
namespace LinkResult {
constexpr int Ok = 0;
constexpr int NoAnswer = -1;
constexpr int ReadError = -3;
constexpr int ChecksumError = -4;
constexpr int CommandMismatch = -5;
} // namespace LinkResult

// Text of a link result code 0, -1, -3, -4, -5; empty for any other code.
QString LinkResultText(int code);

// The fixed КАЛИСТ-1 request without its CRC-8 byte: 01 00 01 00.
QByteArray KalistRequest();
