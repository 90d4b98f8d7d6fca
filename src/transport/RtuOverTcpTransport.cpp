#include "transport/RtuOverTcpTransport.h"

#include "modbus/Pdu.h"
#include "transport/RtuTransport.h"

namespace {
constexpr int kMaxRtuReply = 512;
}

int rtuReplyLength(const QByteArray& start) {
    if (start.size() < 2)
        return 0;
    const quint8 function = quint8(start.at(1));
    if (function & Pdu::kExceptionFlag)
        return 5; // address, function, code, CRC
    if (function == Pdu::kWriteMultipleRegisters)
        return 8; // address, function, register, count, CRC
    if (function == Pdu::kReadHoldingRegisters && start.size() >= 3)
        return 5 + quint8(start.at(2));
    return 0;
}

QByteArray RtuOverTcpTransport::frame(int unit, const QByteArray& requestPdu) {
    return rtuFrame(crcTable_, unit, requestPdu);
}

NetTransport::Collect RtuOverTcpTransport::collect(int unit, QByteArray& buffer, Transaction& t) {
    int length = rtuReplyLength(buffer);
    // A peer that never stops sending is cut off where a serial reply would be.
    if (buffer.size() >= kMaxRtuReply)
        length = kMaxRtuReply;
    if (length == 0 || buffer.size() < length)
        return Collect::More;
    // Bytes past the reply's length belong to nothing asked for; the next
    // request drops them.
    t.received = buffer.left(length);
    judgeRtuFrame(crcTable_, unit, t);
    return Collect::Done;
}

void RtuOverTcpTransport::judgeIncomplete(int unit, const QByteArray& buffer, Transaction& t) {
    t.received = buffer;
    judgeRtuFrame(crcTable_, unit, t);
}
