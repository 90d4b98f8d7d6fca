#pragma once
// RTU over TCP, through a transparent gateway: the RTU frame, unit address
// and CRC included, byte for byte over the connection. A reply ends at the
// length its function and byte count give, or after the gap when it stops
// short.

#include "startup/ConfigFiles.h"
#include "transport/NetTransport.h"

class RtuOverTcpTransport : public NetTransport {
    Q_OBJECT
public:
    // crcTable must outlive the transport.
    RtuOverTcpTransport(const Endpoint& endpoint, const CrcTableArray& crcTable,
                        NetTiming timing = {}, QObject* parent = nullptr)
        : NetTransport(endpoint, timing, parent), crcTable_(crcTable) {}

protected:
    QByteArray frame(int unit, const QByteArray& requestPdu) override;
    Collect collect(int unit, QByteArray& buffer, Transaction& t) override;
    void judgeIncomplete(int unit, const QByteArray& buffer, Transaction& t) override;

private:
    const CrcTableArray& crcTable_;
};

// The length of the RTU reply whose first bytes are given, once they tell
// it; 0 while they do not (yet).
int rtuReplyLength(const QByteArray& start);
