#pragma once
// Byte strings written out in tests: Bytes({0x01, 0x02}).

#include <QByteArray>
#include <initializer_list>

inline QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}
