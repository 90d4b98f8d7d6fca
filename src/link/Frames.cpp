#include "link/Frames.h"

#include "link/Crc.h"
#include "startup/CodePage.h"

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

QString decodeSingleRead(const QByteArray& reply) {
    QByteArray text;
    // Positions are counted from 1: data bytes are 4..N-2.
    for (qsizetype p = 4; p <= reply.size() - 2; ++p) {
        const char b = reply.at(p - 1);
        if (b == '\0')
            return p == 4 ? QString::fromLatin1(kNoMessageStored) : CodePage::decode(text);
        text.append(b);
    }
    return CodePage::decode(text);
}

BulkReadText decodeBulkRead(const QByteArray& reply) {
    BulkReadText r;
    QByteArray text;
    for (qsizetype k = 4; k <= reply.size() - 2; ++k) {
        const auto b = static_cast<unsigned char>(reply.at(k - 1));
        if (b != 0 && b != 255)
            text.append(static_cast<char>(b));
        else if (k == 4)
            r.firstEmpty = true;
    }
    r.text = CodePage::decode(text);
    return r;
}
