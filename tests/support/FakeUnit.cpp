#include "support/FakeUnit.h"

#include "startup/MessageLayout.h"

void FakeUnit::fill(const QString& pattern) {
    for (int k = 0; k < kInterlockCount; ++k)
        model.setMessage(k, pattern.arg(k).toLatin1());
}

int FakeUnit::slotOf(const QByteArray& request) {
    const int reg = quint8(request.at(2)) << 8 | quint8(request.at(3));
    return (reg - kFirstMessageRegister) / kRegistersPerMessage;
}

QVector<Chunk> FakeUnit::answer(const QByteArray& request) {
    if (onRequest)
        onRequest(request);
    const int k = slotOf(request);
    const bool write = request.at(1) == '\x10';
    if (silent.contains(k) || (!write && silentReads.contains(k)))
        return {};
    if (write && unstored.contains(k))
        return {{delayMs, framed(request.left(6))}};
    QByteArray reply = model.reply(request);
    if (spoil)
        reply = spoil(k, reply, request);
    if (reply.isEmpty())
        return {};
    return {{delayMs, reply}};
}
