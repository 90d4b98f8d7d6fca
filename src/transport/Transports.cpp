#include "transport/Transports.h"

#include "transport/RtuTransport.h"

std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable) {
    return std::make_unique<RtuTransport>(port, crcTable);
}

std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                         const LineOptions& line) {
    auto rtu = std::make_unique<RtuTransport>(port, crcTable);
    rtu->followLine(&line);
    return rtu;
}
