#include "transport/RtuTransport.h"

#include "link/Crc.h"
#include "modbus/Pdu.h"

namespace {

TransportStatus fromLink(LinkStatus s) {
    switch (s) {
    case LinkStatus::Ok:
        return TransportStatus::Ok;
    case LinkStatus::Busy:
        return TransportStatus::Busy;
    case LinkStatus::NotOpen:
        return TransportStatus::NotOpen;
    case LinkStatus::PortFailed:
        break;
    }
    return TransportStatus::Failed;
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

Transaction RtuTransport::attempt(int unit, const QByteArray& requestPdu, ReplyEnd end) {
    Transaction t;
    t.sent = rtuFrame(crcTable_, unit, requestPdu);
    // A read goes out with SendAll's settling time, a write with WriteAll.
    const bool read =
        !requestPdu.isEmpty() && quint8(requestPdu.at(0)) == Pdu::kReadHoldingRegisters;
    const int gapMs = end == ReplyEnd::Quick ? link_.timing().commsTestGapMs : -1;
    ReplyRule rule;
    rule.echo = line().echo;
    // A reply that is whole and answers the request (or refuses it) needs no
    // silence after it to be over.
    rule.complete = [this, unit, &requestPdu](const QByteArray& bytes) {
        Transaction r;
        r.received = bytes;
        judgeRtuFrame(crcTable_, unit, r);
        const ReplyCheck::Verdict v = checkReply(r, requestPdu).verdict;
        return v == ReplyCheck::Verdict::Confirmed || v == ReplyCheck::Verdict::Exception;
    };
    const Exchange x =
        link_.transact(t.sent, read ? Link::Send::SendAll : Link::Send::WriteAll, gapMs, rule);
    t.status = fromLink(x.status);
    t.error = x.error;
    t.received = x.reply.bytes();
    t.noEcho = rule.echo == EchoMode::On && !x.echoed && x.ok();
    if (t.noEcho)
        emit traceNote(tr("the line did not echo"));
    judgeRtuFrame(crcTable_, unit, t);
    return t;
}

Transaction RtuTransport::transact(int unit, const QByteArray& requestPdu, ReplyEnd end) {
    applyDirection();
    Transaction t = attempt(unit, requestPdu, end);
    // The comms test shows what one request brought; elsewhere a request
    // without a usable reply may go again, after the pause. A reply that
    // confirms or refuses is never asked for twice: a write it confirmed
    // stays written once.
    for (int retry = 1; retry <= line().retries && end == ReplyEnd::Normal && t.ok(); ++retry) {
        const ReplyCheck::Verdict v = checkReply(t, requestPdu).verdict;
        if (v == ReplyCheck::Verdict::Confirmed || v == ReplyCheck::Verdict::Exception)
            break;
        emit traceNote(
            tr("no usable reply; trying again (%1 of %2)").arg(retry).arg(line().retries));
        const TransportStatus paused = bulkPause();
        if (paused != TransportStatus::Ok) {
            t.status = paused;
            t.error = link_.port().isOpen() ? QString()
                                            : tr("The serial port %1 closed.").arg(endpointName());
            break;
        }
        t = attempt(unit, requestPdu, end);
    }
    return t;
}

TransportStatus RtuTransport::bulkPause() {
    return fromLink(link_.idle(pauseMs()));
}
