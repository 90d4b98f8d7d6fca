#include "startup/MessageText.h"

#include "startup/CodePage.h"

namespace {
bool isControl(char16_t u) {
    return u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0);
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

// The character an escape at text[i] stands for, or -1 when there is none.
int escapeAt(const QString& text, qsizetype i) {
    if (i + 3 >= text.size() || text.at(i) != QLatin1Char('\\') ||
        text.at(i + 1) != QLatin1Char('x'))
        return -1;
    const int hi = hexValue(text.at(i + 2));
    const int lo = hexValue(text.at(i + 3));
    if (hi < 0 || lo < 0)
        return -1;
    const int value = hi * 16 + lo;
    return isControl(char16_t(value)) || value == '\\' || value == '"' ? value : -1;
}

QString hexEscape(int value) {
    return QStringLiteral("\\x") +
           QString::number(value, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QString escapedWith(const QString& text, bool quotes) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        if (isControl(u) || (quotes && u == '"') || escapeAt(text, i) >= 0)
            out += hexEscape(u);
        else
            out += text.at(i);
    }
    return out;
}
} // namespace

namespace MessageText {

QString escaped(const QString& text) {
    return escapedWith(text, false);
}

QString escapedWithQuotes(const QString& text) {
    return escapedWith(text, true);
}

bool isUnsendable(QChar c) {
    return isControl(c.unicode()) || c.unicode() == 0xFF;
}

qsizetype firstUnsendable(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isUnsendable(text.at(i)))
            return i;
    return -1;
}

QString describeUnsendable(QChar c) {
    static const char* const kNames[32] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                           "BS",  "TAB", "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                           "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                           "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    const char16_t u = c.unicode();
    if (u < 0x20)
        return QStringLiteral("the character %1 (%2)").arg(QLatin1String(kNames[u]), hexEscape(u));
    if (isControl(u))
        return QStringLiteral("the control character %1").arg(hexEscape(u));
    return QStringLiteral("the character %1").arg(CodePage::describe(c));
}

QString unescaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (const int value = escapeAt(text, i); value >= 0) {
            out += QChar(char16_t(value));
            i += 3;
        } else {
            out += text.at(i);
        }
    }
    return out;
}

} // namespace MessageText
