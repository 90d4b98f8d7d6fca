#pragma once
// Modbus RTU on a serial port: the unit address in front of the PDU, the
// CRC-16 behind it, and the line discipline of the Link (the direction
// switching, the adapter's echo, the first-byte wait, the end of a reply once
// it is whole or by silence, or at its deadline) and the pause before a bulk
// request. It sends each request once: the retries are transactRetrying()'s
// (transport/Retry.h), the same for every line.

#include "link/Link.h"
#include "startup/ConfigFiles.h"
#include "transport/Transport.h"

class RtuTransport : public Transport {
    Q_OBJECT
public:
    // crcTable must outlive the transport; it may be filled after this.
    RtuTransport(SerialPort& port, const CrcTableArray& crcTable, LinkTiming timing = {},
                 QObject* parent = nullptr);

    SerialPort& port() { return link_.port(); }
    const LinkTiming& timing() const { return link_.timing(); }
    void setTiming(const LinkTiming& t) { link_.setTiming(t); }
    // Follows line (which must outlive the transport) from the next request
    // on: its echo, direction and pause. Without it: no echo expected, RTS
    // switching, the pause of the timing.
    void followLine(const LineOptions* line) { line_ = line; }

    QString endpointName() const override;
    QString lineSpeed() const override;
    bool isOpen() const override;
    void close() override;
    TransportStatus prepare() override;
    TransportStatus bulkPause() override;
    Overheard overhear(int ms) override;

protected:
    Transaction exchange(int unit, const QByteArray& requestPdu, ReplyEnd end) override;

private:
    LineOptions line() const { return line_ ? *line_ : LineOptions{EchoMode::Off}; }
    int pauseMs() const { return line_ ? line_->pauseMs : link_.timing().bulkPauseMs; }
    void applyDirection();
    // The deadline of the reply to requestPdu at the port's speed (transport/Deadline.h).
    int deadlineMs(const QByteArray& requestPdu, int gapMs) const;
    // How the link reads the reply to requestPdu (which must outlive the rule).
    ReplyRule replyRule(int unit, const QByteArray& requestPdu, int gapMs) const;
    Link link_;
    const CrcTableArray& crcTable_;
    const LineOptions* line_ = nullptr;
    bool kernelRefused_ = false; // said once; RTS switching stands in
};

// The frame the unit at that address sends or receives for pdu: the address,
// the PDU and its CRC-16, the low-order byte first.
QByteArray rtuFrame(const CrcTableArray& crcTable, int unit, const QByteArray& pdu);

// How a reply to unit arrived, and the PDU it carries (set on t).
void judgeRtuFrame(const CrcTableArray& crcTable, int unit, Transaction& t);
