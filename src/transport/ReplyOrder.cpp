#include "transport/ReplyOrder.h"

#include "modbus/Pdu.h"

#include <QList>
#include <algorithm>

namespace {

int functionOf(const QByteArray& pdu) {
    return pdu.isEmpty() ? -1 : quint8(pdu.at(0));
}

} // namespace

bool couldPassFor(const QByteArray& earlier, const QByteArray& later) {
    const int function = functionOf(later);
    if (function < 0 || functionOf(earlier) != function)
        return false;
    if (function == Pdu::kReadHoldingRegisters ||
        function == Pdu::kReadInputRegisters) // the count only
        return earlier.mid(3, 2) == later.mid(3, 2);
    if (function == Pdu::kWriteMultipleRegisters) // the first register and the count
        return earlier.mid(1, 4) == later.mid(1, 4);
    return true;
}

qint64 ReplyOrder::horizon(const Owed& o) const {
    return o.sentAt + std::max<qint64>(o.deadlineMs, lateness_) + quietMs_;
}

void ReplyOrder::forget(qint64 now) {
    // Once the unit has shown how late it answers, a horizon that passed
    // quietly settles its request; before that, only the memory does.
    owed_.erase(std::remove_if(owed_.begin(), owed_.end(),
                               [&](const Owed& o) {
                                   return now >= o.sentAt + kMemoryMs ||
                                          (lateness_ > 0 && now >= horizon(o));
                               }),
                owed_.end());
}

int ReplyOrder::oldest(int unit) const {
    int found = -1;
    for (int i = 0; i < owed_.size(); ++i)
        if ((unit < 0 || owed_[i].unit == unit) &&
            (found < 0 || owed_[i].sentAt < owed_[found].sentAt))
            found = i;
    return found;
}

void ReplyOrder::pay(int index, qint64 at) {
    lateness_ = std::max(lateness_, at - owed_[index].sentAt);
    owed_.remove(index);
}

qint64 ReplyOrder::sendAfter(int unit, qint64 now) const {
    qint64 after = lastHeardAt_ >= 0 ? lastHeardAt_ + gapMs_ : now;
    for (const Owed& o : owed_)
        if (o.unit == unit && (lateness_ > 0 || now < o.sentAt + kMemoryMs))
            after = std::max(after, horizon(o));
    return after;
}

bool ReplyOrder::owes(int unit) const {
    return oldest(unit) >= 0;
}

void ReplyOrder::overheard(int bytes, int address, qint64 firstAt, qint64 lastAt) {
    if (bytes <= 0)
        return;
    droppedBytes_ += bytes;
    // One burst is one late reply, though its bytes may be heard in parts.
    const bool sameBurst = lastHeardAt_ >= 0 && firstAt - lastHeardAt_ <= gapMs_;
    lastHeardAt_ = std::max(lastHeardAt_, lastAt);
    if (sameBurst) {
        if (burstPaidFor_ >= 0)
            lateness_ = std::max(lateness_, lastAt - burstPaidFor_);
        return;
    }
    burstPaidFor_ = -1;
    int index = oldest(address);
    if (index < 0)
        index = oldest(-1);
    if (index < 0)
        return; // noise, or a request of another run: nothing owed here
    ++droppedReplies_;
    burstPaidFor_ = owed_[index].sentAt;
    pay(index, lastAt);
}

bool ReplyOrder::settle(int unit, const QByteArray& pdu, qint64 sentAt, qint64 doneAt,
                        int deadlineMs, bool usable) {
    forget(sentAt);
    int index = -1;
    if (usable)
        for (int i = 0; i < owed_.size(); ++i)
            if (owed_[i].unit == unit && owed_[i].sentAt < sentAt &&
                couldPassFor(owed_[i].pdu, pdu) &&
                (index < 0 || owed_[i].sentAt < owed_[index].sentAt))
                index = i;
    bool take = usable;
    if (index >= 0) {
        // The reply may be the owed request's: either way one of the two is
        // answered, and the other may still be.
        take = owed_[index].pdu == pdu;
        if (!take)
            ++droppedReplies_;
        pay(index, doneAt);
    }
    if (!usable || index >= 0)
        owed_.append({unit, pdu, sentAt, deadlineMs});
    return take || !usable;
}

QByteArray ReplyOrder::save(qint64 now) const {
    ReplyOrder copy = *this;
    copy.forget(now);
    QByteArray out = "lateness " + QByteArray::number(copy.lateness_) + '\n';
    for (const Owed& o : copy.owed_)
        out += "owed " + QByteArray::number(o.unit) + ' ' + o.pdu.toHex() + ' ' +
               QByteArray::number(o.sentAt) + ' ' + QByteArray::number(o.deadlineMs) + '\n';
    return out;
}

void ReplyOrder::restore(const QByteArray& saved, qint64 now) {
    for (const QByteArray& line : saved.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        bool ok[4] = {false, false, false, false};
        if (f.size() == 2 && f[0] == "lateness") {
            const qint64 l = f[1].toLongLong(ok);
            if (ok[0] && l >= 0 && l < kMemoryMs)
                lateness_ = std::max(lateness_, l);
        } else if (f.size() == 5 && f[0] == "owed") {
            const Owed o{f[1].toInt(ok), QByteArray::fromHex(f[2]), f[3].toLongLong(ok + 1),
                         f[4].toInt(ok + 2)};
            // A request from the future is a clock that moved: not believed.
            if (ok[0] && ok[1] && ok[2] && !o.pdu.isEmpty() && o.sentAt <= now &&
                o.deadlineMs >= 0 && o.deadlineMs < kMemoryMs)
                owed_.append(o);
        }
    }
    forget(now);
}
