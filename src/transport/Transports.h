#pragma once
// Where transports are chosen. A new kind of line is its files in this folder
// and one branch in makeTransport.

#include "link/LineOptions.h"
#include "startup/SharedState.h"
#include "transport/Transport.h"

#include <memory>

class SerialPort;

// The transport over an opened (or yet to be opened) serial port. crcTable
// must outlive it.
std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable);

// The same, following the line settings in line (which must outlive it) at
// each request: echo, direction, pause and retries.
std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                         const LineOptions& line);
