#pragma once
// The tables and values that the windows and the link share. main() creates
// one SharedState and hands it by reference to whoever needs it.

#include "startup/LineOptions.h"

#include <QString>
#include <array>
#include <cstdint>

constexpr int kInterlockCount = 20;   // message slots of the unit
constexpr int kMessageMaxLength = 40; // characters per slot
constexpr int kFirstMessageRegister = 400;
constexpr int kRegistersPerMessage = kMessageMaxLength / 2; // two characters a register
constexpr int kSpeedCount = 3;                              // speeds listed in filedata.fm
// The unit addresses a request may go to. Address 0 is broadcast: every unit
// on the line would take a write and none would confirm it, so no sending
// path offers it.
constexpr int kFirstUnitAddress = 1;
constexpr int kLastUnitAddress = 31;

// Holding register of the first character of interlock k's message.
constexpr int messageRegister(int k) {
    return kFirstMessageRegister + kRegistersPerMessage * k;
}

// The first register of the last slot, the highest a message may start at.
constexpr int kLastMessageRegister = messageRegister(kInterlockCount - 1);

// Entry v + 1 holds the CRC table value of byte v; entry 0 is never used.
using CrcTableArray = std::array<std::int32_t, 257>;

using TextTable = std::array<QString, 21>; // entries 0..19 used

inline const QString kProgramTitle = QStringLiteral("QV840N");

struct SharedState {
    std::array<QString, 5> BaudRates; // entries 1..3 used, each like "9600,N,8,1"
    TextTable TerminalNames;
    TextTable InterlockMessages;
    TextTable DefaultMessages;
    CrcTableArray CrcTable{};
    std::int16_t UnitAddress = 0;
    std::int16_t MsgAddress = 0;
    QString PortName;
    QString CommSettings;
    std::int16_t SelectedInterlock = 0;
    LineOptions Line; // echo, direction, pause, retries: for the run
};
