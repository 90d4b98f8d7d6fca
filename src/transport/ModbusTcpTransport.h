#pragma once
// Modbus TCP: each request goes out behind an MBAP header (transaction id,
// protocol 0, length, unit id) with no CRC. A reply counts only when its
// transaction id, protocol, length and unit id match the request's; a reply
// to an older transaction, which a gateway may still deliver after a
// time-out, is dropped.

#include "transport/NetTransport.h"

// One MBAP frame at the front of a byte stream, judged without trusting it.
struct MbapFrame {
    enum class State {
        More,  // too short to say yet
        Bad,   // the header cannot start a frame (protocol or length wrong)
        Whole, // a whole frame of size bytes
    };
    State state = State::More;
    quint16 transaction = 0;
    quint16 protocol = 0;
    int unit = 0;
    QByteArray pdu;
    int size = 0; // of the whole frame, header included
};
constexpr int kMbapHeader = 7;   // transaction, protocol, length, unit
constexpr int kMbapMaxPdu = 253; // as on a serial line
MbapFrame parseMbap(const QByteArray& bytes);
QByteArray mbapFrame(quint16 transaction, int unit, const QByteArray& pdu);

class ModbusTcpTransport : public NetTransport {
    Q_OBJECT
public:
    using NetTransport::NetTransport;
    quint16 lastTransaction() const { return transaction_; }
    // Each reply carries its request's transaction id.
    bool repliesNameTheirRequest() const override { return true; }

protected:
    QByteArray frame(int unit, const QByteArray& requestPdu) override;
    Collect collect(int unit, QByteArray& buffer, Transaction& t) override;
    void judgeIncomplete(int unit, const QByteArray& buffer, Transaction& t) override;

private:
    quint16 transaction_ = 0;
};
