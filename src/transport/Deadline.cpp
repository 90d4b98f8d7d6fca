#include "transport/Deadline.h"

#include "modbus/Pdu.h"

#include <algorithm>
#include <cmath>

int replyDeadlineMs(const ReplyBudget& b) {
    const double lineMs = double(b.replyBytes + b.echoBytes) * std::max(b.msPerByte, 0.0);
    const int waits = std::max(b.firstByteMs, 0) * (b.echoBytes > 0 ? 2 : 1);
    // A hair under a whole millisecond is that millisecond, not the next.
    return waits + std::max(b.gapMs, 0) + int(std::ceil(1.5 * lineMs - 1e-6)) + kDeadlineMarginMs;
}

int expectedReplyBytes(const QByteArray& requestPdu) {
    constexpr int kLongestRtuFrame = 256;
    if (requestPdu.isEmpty())
        return kLongestRtuFrame;
    const quint8 function = quint8(requestPdu.at(0));
    if ((function == Pdu::kReadHoldingRegisters || function == 4) && requestPdu.size() >= 5) {
        const int count = quint8(requestPdu.at(3)) << 8 | quint8(requestPdu.at(4));
        return std::min(5 + 2 * count, kLongestRtuFrame);
    }
    if (function == Pdu::kWriteMultipleRegisters || function == 6)
        return 8;
    return kLongestRtuFrame;
}

double msPerByte(int baud, double bitsPerCharacter) {
    return bitsPerCharacter * 1000.0 / std::max(baud, 1);
}

int networkDeadlineMs(const QByteArray& requestPdu, int firstByteMs, int gapMs) {
    ReplyBudget b;
    b.replyBytes = expectedReplyBytes(requestPdu);
    b.msPerByte = msPerByte(kSlowestLineBaud);
    b.firstByteMs = firstByteMs;
    b.gapMs = gapMs;
    return replyDeadlineMs(b);
}
