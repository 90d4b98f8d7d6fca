#include "startup/CodePage.h"

#include <array>

namespace {
// Characters of bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

int byteOf(char16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kHigh[static_cast<size_t>(i)] == u)
            return 0x80 + i;
    return -1;
}
} // namespace

namespace CodePage {

QString decode(const QByteArray& bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.append(QChar(b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b)));
    }
    return out;
}

Encoded encode(const QString& text) {
    Encoded e;
    e.bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int b = byteOf(text.at(i).unicode());
        if (b < 0) {
            e.badPosition = i;
            e.badCharacter = text.at(i);
            return e;
        }
        e.bytes.append(static_cast<char>(b));
    }
    return e;
}

QString describe(QChar c) {
    return QStringLiteral("'%1' (U+%2)")
        .arg(c)
        .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

} // namespace CodePage
