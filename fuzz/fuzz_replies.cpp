// What the tool makes of the bytes that come back from the unit: the text
// decoder and the reply checker. The checker is held to an independent CRC
// and to the simulated unit: the unit's own answer to a request is confirmed,
// and the same answer with any byte changed never is.
#include "Require.h"
#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "sim/SimModel.h"
#include "transport/RtuTransport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

QByteArray dataBytes(const QByteArray& reply) {
    return reply.size() < 6 ? QByteArray() : reply.mid(3, reply.size() - 5);
}

void checkDecoders(const QByteArray& reply) {
    const QByteArray data = dataBytes(reply);

    // The text is the data up to the first 0 or 0xFF, one character a byte;
    // the slot is empty when that byte comes first.
    const Pdu::ReadText read = Pdu::decodeReadReply(reply.mid(1, reply.size() - 3));
    qsizetype end = 0;
    while (end < data.size() && data[end] != '\0' && data[end] != '\xFF')
        ++end;
    require(read.text.size() == end);
    require(read.empty == (!data.isEmpty() && end == 0));

    require(byteDump(reply).size() == 3 * reply.size());
}

bool sameFrameHead(const QByteArray& a, const QByteArray& b) {
    return a.size() >= 2 && b.size() >= 2 && a[0] == b[0] && a[1] == b[1];
}

// Whatever the bytes, a confirmation needs a whole frame with a good CRC that
// answers this very request.
void checkVerdict(const QByteArray& request, const QByteArray& reply, const ReplyCheck& c) {
    using V = ReplyCheck::Verdict;
    require(c.length == reply.size());
    // A gateway's exception 10 or 11 for this request says that no answer came.
    const bool gatewayNoAnswer =
        reply.size() == 5 && SimModel::crcValid(reply) && reply[0] == request[0] &&
        quint8(reply[1]) == (quint8(request[1]) | 0x80) && (reply[2] == 10 || reply[2] == 11);
    require((c.verdict == V::Silent) == (reply.isEmpty() || gatewayNoAnswer));
    if (gatewayNoAnswer)
        require(c.detail == quint8(reply[2]));
    require(c.confirmed() == c.reason().isEmpty());
    const bool whole = reply.size() >= 5 && SimModel::crcValid(reply);
    if (!reply.isEmpty())
        require((c.verdict == V::Garbled) == !whole);
    if (c.verdict == V::OtherUnit)
        require(c.detail == quint8(reply[0]) && reply[0] != request[0]);
    if (c.verdict == V::Exception)
        require(reply.size() == 5 && reply[0] == request[0] &&
                quint8(reply[1]) == (quint8(request[1]) | 0x80) && c.detail == quint8(reply[2]));
    if (!c.confirmed())
        return;
    require(whole && sameFrameHead(request, reply));
    if (request[1] == Pdu::kReadHoldingRegisters)
        require(reply.size() == 5 + 2 * kRegistersPerMessage &&
                quint8(reply[2]) == 2 * kRegistersPerMessage);
    else
        require(reply.size() == 8 && reply.mid(2, 4) == request.mid(2, 4));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data),
                           static_cast<qsizetype>(std::min<std::size_t>(size, 512)));
    checkDecoders(bytes);
    if (bytes.size() < 5)
        return 0;

    // The first bytes choose one of the tool's requests; the rest is a reply.
    static const CrcTableArray table = standardCrcTable();
    const auto kind = quint8(bytes[0]) % 3;
    const int unit = 1 + quint8(bytes[1]) % 247;
    const int reg = messageRegister(quint8(bytes[2]) % kInterlockCount);
    const QByteArray tail = bytes.mid(5);
    const QByteArray text = tail.left(1 + quint8(bytes[3]) % kMessageMaxLength);
    QByteArray pdu;
    if (kind == 0)
        pdu = Pdu::readMessage(reg);
    else if (kind == 1 && !text.isEmpty())
        pdu = Pdu::writeMessage(reg, text);
    else
        pdu = Pdu::eraseMessage(reg);
    const QByteArray request = rtuFrame(table, unit, pdu);
    require(SimModel::crcValid(request));
    // What the tool makes of the bytes received for that request.
    const auto check = [&](const QByteArray& received) {
        Transaction t;
        t.received = received;
        judgeRtuFrame(table, unit, t);
        return checkReply(t, pdu);
    };

    checkVerdict(request, tail, check(tail));

    // The unit's own answer passes; one changed byte anywhere is caught.
    SimModel unitModel(unit);
    QByteArray answer = unitModel.reply(request);
    require(check(answer).confirmed());
    const auto flip = quint8(bytes[4]) == 0 ? quint8(1) : quint8(bytes[4]);
    answer[quint8(bytes[3]) % answer.size()] ^= char(flip);
    const ReplyCheck damaged = check(answer);
    checkVerdict(request, answer, damaged);
    require(!damaged.confirmed());
    return 0;
}
