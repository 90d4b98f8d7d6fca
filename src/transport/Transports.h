#pragma once
// Where transports are chosen. A new kind of line is its files in this folder
// and one branch in makeTransport.

#include "startup/SharedState.h"
#include "transport/Transport.h"

#include <memory>

class SerialPort;

// The transport over an opened (or yet to be opened) serial port. crcTable
// must outlive it.
std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable);
