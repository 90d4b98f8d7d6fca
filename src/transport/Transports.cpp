#include "transport/Transports.h"

#include "transport/RtuTransport.h"

std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable) {
    return std::make_unique<RtuTransport>(port, crcTable);
}
