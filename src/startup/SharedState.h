#pragma once
// The tables and values that the windows and the link share. main() creates
// one SharedState and hands it by reference to whoever needs it.

#include "startup/ConfigFiles.h"
#include "startup/LineOptions.h"
#include "startup/MessageLayout.h"

#include <QString>
#include <array>
#include <cstdint>

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
