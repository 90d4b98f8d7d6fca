#pragma once
// What the start-up files give the program: the line speeds offered, the
// terminal names and default messages of the twenty slots, and the CRC table.
// Read once at start-up, then only read.

#include "startup/ConfigFiles.h"
#include "startup/MessageLayout.h"

#include <QString>
#include <array>

struct Configuration {
    std::array<QString, 5> baudRates; // entries 1..3 used, each like "9600,N,8,1"
    TextTable terminalNames;
    TextTable defaultMessages;
    CrcTableArray crcTable{};
};
