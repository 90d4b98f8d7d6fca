#pragma once
// Where transports are chosen. A new kind of line is its files in this folder
// and one branch in makeNetTransport.

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

// The transport of the connection's line, and the one place where serial or
// network is decided: it talks to the line the endpoint it was last given
// names (transport/Endpoint.h), RTU on the serial port for a serial endpoint,
// Modbus TCP or RTU over TCP to the gateway for a network one. The serial
// port's name plays no part in that choice: the port is only ever given a
// serial device's name. Every line retries by the same rule
// (transport/Retry.h), as many times as the line settings say, and keeps
// every reply with its request (transport/ReplyOrder.h).
class LineTransport : public Transport {
    Q_OBJECT
public:
    using Transport::Transport;
    // The connection's endpoint, whenever the connection changes or is put
    // back; a serial one until then. A gateway's connection is kept when the
    // same gateway is chosen again, and made anew when it was closed (the
    // operator left it, then chose it again); leaving it closes it.
    virtual void choose(const Endpoint& endpoint) = 0;
    virtual const Endpoint& chosen() const = 0;
};

// The transport over port, on the serial line until told otherwise. crcTable
// must outlive it.
std::unique_ptr<LineTransport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                             TransportOptions options = {});

// The network transport for an endpoint; nothing for a serial one.
std::unique_ptr<NetTransport>
makeNetTransport(const Endpoint& endpoint, const CrcTableArray& crcTable, NetTiming timing = {});
