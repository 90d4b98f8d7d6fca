#include "link/Frames.h"

#include "link/Crc.h"
#include "startup/CodePage.h"

#include <iterator>

namespace {

QByteArray header(int unit, quint8 function, int reg) {
    QByteArray f;
    f.append(static_cast<char>(unit & 0xFF));
    f.append(static_cast<char>(function));
    f.append(static_cast<char>((reg / 256) & 0xFF));
    f.append(static_cast<char>(reg & 0xFF));
    return f;
}

QByteArray withCrc(const CrcTableArray& table, QByteArray frame) {
    const auto [first, second] = frameCrc(table, frame);
    frame.append(static_cast<char>(first));
    frame.append(static_cast<char>(second));
    return frame;
}

} // namespace

QByteArray buildReadRequest(const CrcTableArray& table, int unit, int reg) {
    QByteArray f = header(unit, kReadHoldingRegisters, reg);
    f.append('\0');
    f.append(static_cast<char>(kRegistersPerMessage));
    return withCrc(table, f);
}

QByteArray buildWriteRequest(const CrcTableArray& table, int unit, int reg,
                             const QByteArray& text) {
    const auto length = static_cast<int>(text.size());
    const int pad = length % 2;
    const int byteCount = length + pad;
    const int registers = byteCount / 2;
    QByteArray f = header(unit, kWriteMultipleRegisters, reg);
    f.append(static_cast<char>((registers / 256) & 0xFF));
    f.append(static_cast<char>(registers & 0xFF));
    f.append(static_cast<char>(byteCount & 0xFF));
    f.append(text);
    if (pad)
        f.append('\0');
    return withCrc(table, f);
}

QByteArray buildEraseRequest(const CrcTableArray& table, int unit, int reg) {
    QByteArray f = header(unit, kWriteMultipleRegisters, reg);
    f.append("\x00\x01\x02\x00\x00", 5);
    return withCrc(table, f);
}

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

ReadText decodeReadReply(const QByteArray& reply) {
    constexpr qsizetype kHead = 3; // address, function, byte count
    constexpr qsizetype kCrc = 2;
    ReadText r;
    if (reply.size() <= kHead + kCrc)
        return r;
    const QByteArray data = reply.mid(kHead, reply.size() - kHead - kCrc);
    qsizetype end = 0;
    while (end < data.size() && data.at(end) != '\0' && data.at(end) != '\xFF')
        ++end;
    r.empty = end == 0;
    r.text = CodePage::decode(data.left(end));
    return r;
}

namespace {

// The standard Modbus names of the exception codes.
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

quint8 at(const QByteArray& bytes, int i) {
    return static_cast<quint8>(bytes.at(i));
}

} // namespace

QString ReplyCheck::reason() const {
    switch (verdict) {
    case Verdict::Confirmed:
        return {};
    case Verdict::Silent:
        return QStringLiteral("no reply");
    case Verdict::Garbled:
        return QStringLiteral("a garbled reply of %1 bytes (its CRC is wrong)").arg(length);
    case Verdict::OtherUnit:
        return QStringLiteral("the reply came from unit address %1").arg(detail);
    case Verdict::Exception:
        return QStringLiteral("the unit refused the request (Modbus exception %1, %2)")
            .arg(detail)
            .arg(exceptionName(detail));
    case Verdict::Unexpected:
        return QStringLiteral("a reply of %1 bytes that does not answer the request").arg(length);
    }
    return {};
}

ReplyCheck checkReply(const CrcTableArray& table, const QByteArray& request,
                      const QByteArray& reply) {
    ReplyCheck c;
    c.length = static_cast<int>(reply.size());
    if (reply.isEmpty())
        return c;
    // The shortest whole reply is an exception: address, function, code, CRC.
    constexpr int kShortest = 5;
    const auto n = static_cast<int>(reply.size());
    if (n < kShortest || request.size() < 6) {
        c.verdict = ReplyCheck::Verdict::Garbled;
        return c;
    }
    const auto [first, second] = frameCrc(table, reply.left(n - 2));
    if (at(reply, n - 2) != first || at(reply, n - 1) != second) {
        c.verdict = ReplyCheck::Verdict::Garbled;
        return c;
    }
    if (at(reply, 0) != at(request, 0)) {
        c.verdict = ReplyCheck::Verdict::OtherUnit;
        c.detail = at(reply, 0);
        return c;
    }
    const quint8 function = at(request, 1);
    if (at(reply, 1) == (function | 0x80) && n == kShortest) {
        c.verdict = ReplyCheck::Verdict::Exception;
        c.detail = at(reply, 2);
        return c;
    }
    c.verdict = ReplyCheck::Verdict::Unexpected;
    if (at(reply, 1) != function)
        return c;
    if (function == kReadHoldingRegisters) {
        // Two bytes for each register asked for, all of them there.
        const int wanted = 2 * (at(request, 4) * 256 + at(request, 5));
        if (at(reply, 2) == wanted && n == 3 + wanted + 2)
            c.verdict = ReplyCheck::Verdict::Confirmed;
    } else if (function == kWriteMultipleRegisters) {
        // The echo of the first register and the register count.
        if (n == 8 && reply.mid(2, 4) == request.mid(2, 4))
            c.verdict = ReplyCheck::Verdict::Confirmed;
    }
    return c;
}
