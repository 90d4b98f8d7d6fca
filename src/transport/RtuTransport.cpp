#include "transport/RtuTransport.h"

#include "link/Crc.h"
#include "link/LineSettings.h"
#include "modbus/Pdu.h"
#include "transport/Deadline.h"

namespace {

TransportStatus fromLink(LinkStatus s) {
    switch (s) {
    case LinkStatus::Ok:
        return TransportStatus::Ok;
    case LinkStatus::Busy:
        return TransportStatus::Busy;
    case LinkStatus::NotOpen:
        return TransportStatus::NotOpen;
    case LinkStatus::Stopped:
        return TransportStatus::Stopped;
    case LinkStatus::PortFailed:
        break;
    }
    return TransportStatus::Failed;
}

// The time of one character at the port's settings (10 bits for 9600,N,8,1).
double portMsPerByte(const SerialPort& port) {
    const LineSettings s = port.settings();
    return msPerByte(s.baud, s.bitsPerCharacter());
}

// An exception frame: address, function, code, CRC.
constexpr int kExceptionFrameBytes = 5;

// The length of the one frame that answers requestPdu in full (Pdu::judge):
// the registers read, or a write's confirmation; 0 for any other request,
// which only an exception answers.
int wholeAnswerBytes(const QByteArray& requestPdu) {
    if (requestPdu.size() < 5)
        return 0;
    const auto function = quint8(requestPdu.at(0));
    if (function == Pdu::kReadHoldingRegisters)
        return 5 + 2 * (quint8(requestPdu.at(3)) << 8 | quint8(requestPdu.at(4)));
    return function == Pdu::kWriteMultipleRegisters ? 8 : 0;
}

// How the reply arrived: after an echo or not, and when its bytes came.
void takeArrival(const Exchange& x, Transaction& t) {
    t.echoed = x.echoed;
    t.firstByteMs = x.firstByteMs;
    t.lastByteMs = x.lastByteMs;
}

} // namespace

QByteArray rtuFrame(const CrcTableArray& crcTable, int unit, const QByteArray& pdu) {
    QByteArray frame;
    frame.append(static_cast<char>(unit & 0xFF));
    frame.append(pdu);
    const auto [first, second] = frameCrc(crcTable, frame);
    frame.append(static_cast<char>(first));
    frame.append(static_cast<char>(second));
    return frame;
}

void judgeRtuFrame(const CrcTableArray& crcTable, int unit, Transaction& t) {
    const QByteArray& r = t.received;
    const auto n = static_cast<int>(r.size());
    t.replyPdu = n >= 3 ? r.mid(1, n - 3) : QByteArray();
    // The shortest whole reply is an exception: address, function, code, CRC.
    constexpr int kShortest = 5;
    if (n == 0) {
        t.framing = Framing::Silent;
    } else if (n < kShortest || rtuFrame(crcTable, static_cast<quint8>(r.at(0)), t.replyPdu) != r) {
        t.framing = Framing::Garbled;
    } else if (static_cast<quint8>(r.at(0)) != (unit & 0xFF)) {
        t.framing = Framing::OtherUnit;
        t.otherUnit = static_cast<quint8>(r.at(0));
    } else {
        t.framing = Framing::Whole;
    }
}

RtuTransport::RtuTransport(SerialPort& port, const CrcTableArray& crcTable, LinkTiming timing,
                           QObject* parent)
    : Transport(parent), link_(port, timing), crcTable_(crcTable) {
    connect(&link_, &Link::frameSent, this, &Transport::frameSent);
    connect(&link_, &Link::frameReceived, this, &Transport::frameReceived);
    connect(&link_, &Link::portFailed, this, &Transport::failed);
    connect(&link_, &Link::traceNote, this, &Transport::traceNote);
    connect(&link_, &Link::sending, this, &Transport::sending);
    connect(&link_, &Link::receiving, this, &Transport::receiving);
    connect(this, &Transport::stopRequested, &link_, &Link::requestStop);
}

QString RtuTransport::lineSpeed() const {
    return QString::number(link_.port().settings().baud);
}

QString RtuTransport::endpointName() const {
    return link_.port().portName();
}

bool RtuTransport::isOpen() const {
    return link_.port().isOpen();
}

void RtuTransport::close() {
    if (isOpen())
        link_.port().close();
}

void RtuTransport::applyDirection() {
    Direction d = line().direction;
    if (d == Direction::Kernel && isOpen()) {
        const PortStatus s = kernelRefused_ ? PortStatus::failure({}) : port().setKernelDirection();
        if (!s.ok) {
            d = Direction::Rts;
            if (!kernelRefused_) {
                kernelRefused_ = true;
                emit notice(tr("Kernel direction control is not available: %1. RTS switches "
                               "the direction instead.")
                                .arg(s.reason));
                emit traceNote(tr("kernel RS-485 mode refused on %1; falling back to RTS")
                                   .arg(endpointName()));
            }
        }
    }
    link_.setDirection(d);
}

TransportStatus RtuTransport::prepare() {
    applyDirection();
    // The line must listen before anything else happens.
    return fromLink(link_.releaseLine());
}

int RtuTransport::deadlineMs(const QByteArray& requestPdu, int gapMs) const {
    ReplyBudget b;
    b.replyBytes = expectedReplyBytes(requestPdu);
    // An echo is the request frame: address, PDU, CRC.
    b.echoBytes = line().echo == EchoMode::Off ? 0 : int(requestPdu.size()) + 3;
    b.msPerByte = portMsPerByte(link_.port());
    b.firstByteMs = link_.timing().firstByteMs;
    b.gapMs = gapMs;
    return replyDeadlineMs(b);
}

ReplyRule RtuTransport::replyRule(int unit, const QByteArray& requestPdu, int gapMs) const {
    ReplyRule rule;
    rule.echo = line().echo;
    // A reply that is whole and answers the request (or refuses it, or is a
    // gateway's "no answer") needs no silence after it to be over.
    // It is asked after every byte, so a length no such reply has is turned
    // away before the CRC and the judgement.
    const int answerBytes = wholeAnswerBytes(requestPdu);
    rule.complete = [this, unit, &requestPdu, answerBytes](const QByteArray& bytes) {
        if (bytes.size() != kExceptionFrameBytes && bytes.size() != answerBytes)
            return false;
        Transaction r;
        r.received = bytes;
        judgeRtuFrame(crcTable_, unit, r);
        const ReplyCheck c = checkReply(r, requestPdu);
        return c.verdict == ReplyCheck::Verdict::Confirmed ||
               c.verdict == ReplyCheck::Verdict::Exception ||
               (c.verdict == ReplyCheck::Verdict::Silent && isGatewayNoAnswer(c.detail));
    };
    rule.deadlineMs = deadlineMs(requestPdu, gapMs);
    // The function code tells an exception; before it comes, the reply may
    // still be the shortest, an exception.
    rule.wholeLength = [answerBytes](const QByteArray& taken) {
        return taken.size() < 2 || (quint8(taken.at(1)) & 0x80) != 0 ? kExceptionFrameBytes
                                                                     : answerBytes;
    };
    rule.msPerByte = portMsPerByte(link_.port());
    return rule;
}

Transaction RtuTransport::exchange(int unit, const QByteArray& requestPdu, ReplyEnd end) {
    applyDirection();
    Transaction t;
    t.sent = rtuFrame(crcTable_, unit, requestPdu);
    // A read goes out with SendAll's settling time, a write with WriteAll.
    const bool read =
        !requestPdu.isEmpty() && quint8(requestPdu.at(0)) == Pdu::kReadHoldingRegisters;
    const int gapMs =
        end == ReplyEnd::Quick ? link_.timing().commsTestGapMs : link_.timing().replyGapMs;
    const ReplyRule rule = replyRule(unit, requestPdu, gapMs);
    const Exchange x =
        link_.transact(t.sent, read ? Link::Send::SendAll : Link::Send::WriteAll, gapMs, rule);
    t.status = fromLink(x.status);
    t.error = x.error;
    t.received = x.reply.bytes();
    t.deadlineMs = rule.deadlineMs;
    t.pastDeadline = x.pastDeadline;
    t.stale = x.stale;
    takeArrival(x, t);
    t.noEcho = rule.echo == EchoMode::On && !x.echoed && x.ok();
    if (t.noEcho)
        emit traceNote(tr("the line did not echo"));
    judgeRtuFrame(crcTable_, unit, t);
    if (t.pastDeadline && !t.received.isEmpty())
        t.framing = Framing::Garbled;
    return t;
}

TransportStatus RtuTransport::bulkPause() {
    return fromLink(link_.idle(pauseMs()));
}

Overheard RtuTransport::overhear(int ms) {
    const Link::Heard h = link_.overhear(ms);
    Overheard o;
    o.status = fromLink(h.status);
    o.bytes = h.bytes;
    o.count = h.count;
    o.firstMs = h.firstMs;
    o.lastMs = h.lastMs;
    return o;
}
