#include "modbus/Pdu.h"

#include "startup/CodePage.h"

#include <iterator>

namespace Pdu {

namespace {

QByteArray header(quint8 function, int reg) {
    QByteArray f;
    f.append(static_cast<char>(function));
    f.append(static_cast<char>((reg / 256) & 0xFF));
    f.append(static_cast<char>(reg & 0xFF));
    return f;
}

void appendWord(QByteArray& f, int value) {
    f.append(static_cast<char>((value / 256) & 0xFF));
    f.append(static_cast<char>(value & 0xFF));
}

quint8 at(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes.at(i));
}

int word(const QByteArray& bytes, int i) {
    return at(bytes, i) * 256 + at(bytes, i + 1);
}

} // namespace

QByteArray readHoldingRegisters(int reg, int count) {
    QByteArray f = header(kReadHoldingRegisters, reg);
    appendWord(f, count);
    return f;
}

QByteArray writeMultipleRegisters(int reg, const QByteArray& data) {
    QByteArray f = header(kWriteMultipleRegisters, reg);
    appendWord(f, static_cast<int>(data.size() / 2));
    f.append(static_cast<char>(data.size() & 0xFF));
    f.append(data);
    return f;
}

QByteArray readMessage(int reg) {
    return readHoldingRegisters(reg, kRegistersPerMessage);
}

QByteArray readMessages(int reg, int count) {
    return readHoldingRegisters(reg, kRegistersPerMessage * count);
}

QByteArray writeMessage(int reg, const QByteArray& text) {
    QByteArray data = text;
    // The unit keeps whatever a write does not reach, and a text ends at its
    // first 0: a text shorter than the slot must carry that 0, or it would
    // show the tail of the longer text it replaces. An odd length ends in its
    // pad byte; an even one takes one more register of 0.
    if (data.size() < kMessageMaxLength)
        data.append(data.size() % 2 ? 1 : 2, '\0');
    return writeMultipleRegisters(reg, data);
}

QByteArray eraseMessage(int reg) {
    return writeMultipleRegisters(reg, QByteArray(2, '\0'));
}

QString exceptionName(int code) {
    static const char* const kNames[] = {nullptr,
                                         "illegal function",
                                         "illegal data address",
                                         "illegal data value",
                                         "server device failure",
                                         "acknowledge",
                                         "server device busy",
                                         "negative acknowledge",
                                         "memory parity error",
                                         nullptr,
                                         "gateway path unavailable",
                                         "gateway target device failed to respond"};
    const bool known = code > 0 && code < int(std::size(kNames)) && kNames[code];
    return known ? QString::fromLatin1(kNames[code]) : QStringLiteral("unknown");
}

Verdict judge(const QByteArray& request, const QByteArray& reply) {
    Verdict v;
    // The shortest reply is an exception: function and code.
    if (reply.size() < 2 || request.size() < 5) {
        v.reason = QStringLiteral("a reply of %1 bytes is too short").arg(reply.size());
        return v;
    }
    const quint8 function = at(request, 0);
    if (at(reply, 0) == (function | kExceptionFlag) && reply.size() == 2) {
        v.kind = Verdict::Kind::Exception;
        v.code = at(reply, 1);
        v.reason = QStringLiteral("the unit refused the request (Modbus exception %1, %2)")
                       .arg(v.code)
                       .arg(exceptionName(v.code));
        return v;
    }
    bool answers = false;
    if (at(reply, 0) == function && function == kReadHoldingRegisters) {
        // Two bytes for each register asked for, all of them there.
        const int wanted = 2 * word(request, 3);
        answers = at(reply, 1) == wanted && reply.size() == 2 + wanted;
    } else if (at(reply, 0) == function && function == kWriteMultipleRegisters) {
        // The echo of the first register and the register count.
        answers = reply.size() == 5 && reply.mid(1, 4) == request.mid(1, 4);
    }
    v.kind = answers ? Verdict::Kind::Confirmed : Verdict::Kind::Unexpected;
    if (!answers)
        v.reason = QStringLiteral("the reply does not answer the request");
    return v;
}

ReadText decodeReadReply(const QByteArray& reply) {
    constexpr qsizetype kHead = 2; // function, byte count
    ReadText r;
    if (reply.size() <= kHead)
        return r;
    const QByteArray data = reply.mid(kHead);
    qsizetype end = 0;
    while (end < data.size() && data.at(end) != '\0' && data.at(end) != '\xFF')
        ++end;
    r.empty = end == 0;
    r.text = CodePage::decode(data.left(end));
    return r;
}

QVector<QByteArray> splitBlockReply(const QByteArray& reply, int count) {
    constexpr qsizetype kHead = 2; // function, byte count
    const int messageBytes = 2 * kRegistersPerMessage;
    if (count < 1 || reply.size() != kHead + count * messageBytes ||
        at(reply, 0) != kReadHoldingRegisters || at(reply, 1) != count * messageBytes)
        return {};
    QVector<QByteArray> parts;
    for (int k = 0; k < count; ++k) {
        QByteArray part;
        part.append(static_cast<char>(kReadHoldingRegisters));
        part.append(static_cast<char>(messageBytes));
        part.append(reply.mid(kHead + k * messageBytes, messageBytes));
        parts.append(part);
    }
    return parts;
}

} // namespace Pdu

QString byteDump(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size() * 3);
    for (char c : bytes)
        out += QLatin1Char(' ') + QString::number(static_cast<unsigned char>(c), 16)
                                      .toUpper()
                                      .rightJustified(2, QLatin1Char('0'));
    return out;
}

QString withLeadingBlank(int value) {
    return value >= 0 ? QLatin1Char(' ') + QString::number(value) : QString::number(value);
}
