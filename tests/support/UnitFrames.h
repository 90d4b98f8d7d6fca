#pragma once
// Frames as a healthy unit sends them, for tests that play the unit.

#include "link/Crc.h"

#include <QByteArray>

// frame with its CRC-16 appended, the low-order byte first.
inline QByteArray withCrc(QByteArray frame) {
    const auto [lo, hi] = frameCrc(standardCrcTable(), frame);
    return frame.append(char(lo)).append(char(hi));
}
