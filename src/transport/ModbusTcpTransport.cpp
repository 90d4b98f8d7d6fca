#include "transport/ModbusTcpTransport.h"

namespace {

quint16 word(const QByteArray& b, int at) {
    return quint16(quint8(b.at(at)) << 8 | quint8(b.at(at + 1)));
}

void putWord(QByteArray& b, quint16 w) {
    b.append(char(w >> 8)).append(char(w & 0xFF));
}

} // namespace

MbapFrame parseMbap(const QByteArray& bytes) {
    MbapFrame f;
    if (bytes.size() < 6)
        return f;
    f.transaction = word(bytes, 0);
    f.protocol = word(bytes, 2);
    const int length = word(bytes, 4); // the unit id and the PDU
    if (f.protocol != 0 || length < 2 || length > 1 + kMbapMaxPdu) {
        f.state = MbapFrame::State::Bad;
        return f;
    }
    if (bytes.size() < 6 + length)
        return f;
    f.state = MbapFrame::State::Whole;
    f.unit = quint8(bytes.at(6));
    f.pdu = bytes.mid(kMbapHeader, length - 1);
    f.size = 6 + length;
    return f;
}

QByteArray mbapFrame(quint16 transaction, int unit, const QByteArray& pdu) {
    QByteArray b;
    putWord(b, transaction);
    putWord(b, 0);
    putWord(b, quint16(pdu.size() + 1));
    b.append(char(unit & 0xFF));
    return b + pdu;
}

QByteArray ModbusTcpTransport::frame(int unit, const QByteArray& requestPdu) {
    // A fresh id for every request, a retry included, so that a late reply
    // to the one before can never pass for this one's.
    return mbapFrame(++transaction_, unit, requestPdu);
}

NetTransport::Collect ModbusTcpTransport::collect(int unit, QByteArray& buffer, Transaction& t) {
    t.checkSummed = false;
    bool stale = false;
    for (;;) {
        const MbapFrame f = parseMbap(buffer);
        if (f.state == MbapFrame::State::More)
            return stale ? Collect::Stale : Collect::More;
        if (f.state == MbapFrame::State::Bad) {
            judgeIncomplete(unit, buffer, t);
            return Collect::Done;
        }
        if (f.transaction != transaction_) {
            // A reply the gateway kept from an older request: not this one's.
            emit traceNote(tr("dropped a reply to transaction %1 (waiting for %2)")
                               .arg(f.transaction)
                               .arg(transaction_));
            buffer.remove(0, f.size);
            stale = true;
            if (buffer.isEmpty())
                return Collect::Stale;
            continue;
        }
        t.received = buffer.left(f.size);
        t.replyPdu = f.pdu;
        if (f.unit != (unit & 0xFF)) {
            t.framing = Framing::OtherUnit;
            t.otherUnit = f.unit;
        } else {
            t.framing = f.pdu.isEmpty() ? Framing::Garbled : Framing::Whole;
        }
        return Collect::Done;
    }
}

// (No checksum either: collect() said so when the first bytes came.)
void ModbusTcpTransport::judgeIncomplete(int, const QByteArray& buffer, Transaction& t) {
    t.received = buffer;
    t.replyPdu = buffer.mid(kMbapHeader);
    t.framing = buffer.isEmpty() ? Framing::Silent : Framing::Garbled;
}
