#pragma once
// Where transports are chosen. A new kind of line is its files in this folder
// and one branch in makeTransport.

#include "startup/ConfigFiles.h"
#include "startup/LineOptions.h"
#include "transport/NetTransport.h"
#include "transport/Transport.h"

#include <memory>

class SerialPort;

// The first-byte wait, when the operator sets it (--timeout-ms); otherwise
// each kind of line keeps its own (500 ms on a serial line, 1500 ms through
// a network gateway). The line settings, when given (they must outlive the
// transport), are followed at each request: echo, direction, the pause before
// each bulk request and the retries.
struct TransportOptions {
    int firstByteMs = 0;               // 0: the line's own
    const LineOptions* line = nullptr; // nothing: no echo, RTS direction, 300 ms, no retries
    // Where the requests a unit has not answered yet are noted, so that the
    // next run of the tool does not take their late replies as its own
    // (transport/ReplyOrder.h); empty: kept for this transport's life only.
    QString lineStateFile = {};
};

// The file the programs note that in: beside the history of changes.
QString defaultLineStateFile();

// The transport to the line the port's name gives: RTU on the serial port,
// or, for a tcp:// or rtu+tcp:// address (transport/Endpoint.h), Modbus TCP
// or RTU over TCP to that gateway. The choice follows the port's name, so a
// connection dialog that renames the port picks the line. Every line retries
// by the same rule (transport/Retry.h), as many times as the line settings
// say, and keeps every reply with its request (transport/ReplyOrder.h).
// crcTable must outlive it.
std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                         TransportOptions options = {});

// The network transport for an endpoint; nothing for a serial one.
std::unique_ptr<NetTransport>
makeNetTransport(const Endpoint& endpoint, const CrcTableArray& crcTable, NetTiming timing = {});
