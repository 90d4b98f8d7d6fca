#pragma once
// Windows-1252, the one code page of the wire and of every file. Every byte
// value 0..255 decodes to one character and encodes back to itself; the five
// bytes the code page leaves undefined (81, 8D, 8F, 90, 9D) map to the C1
// control characters of the same value, as Windows does.

#include <QByteArray>
#include <QString>

namespace CodePage {

QString decode(const QByteArray& bytes);

struct Encoded {
    QByteArray bytes;
    qsizetype badPosition = -1; // index of the first character with no byte, or -1
    QChar badCharacter;
    bool ok() const { return badPosition < 0; }
};

// Never substitutes: a character the code page lacks is reported, and the
// caller decides what to tell the operator.
Encoded encode(const QString& text);

// "'€' (U+20AC)"-style description of a character, for messages.
QString describe(QChar c);

} // namespace CodePage
