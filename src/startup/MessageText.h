#pragma once
// What a message may hold, and how a message the unit already holds is shown
// and kept when it holds bytes that cannot be shown.
//
// The unit shows printable Windows-1252 characters. Control characters (below
// 0x20, DEL, and the C1 range 0x80..0x9F that the code page leaves undefined)
// would reach a terminal or a label as commands, and the unit takes 0 and 0xFF
// as "no character", so 'ÿ' would vanish on the way back. None of them is ever
// sent. A message that already holds a control character (written by another
// tool) is still read, shown and saved: each control character is written as
// \xHH, two upper-case hexadecimal digits, and read back from that notation.
// The message-table files write a double quote the same way (\x22): a quote
// would end the item it stands in.

#include <QString>

namespace MessageText {

// A character no sending path may put on the wire: a control character or
// U+00FF. Characters the code page lacks are the code page's own check.
bool isUnsendable(QChar c);

// Index of the first unsendable character of text, or -1.
qsizetype firstUnsendable(const QString& text);

// For the operator: "the character ESC (\x1B)", "the character 'ÿ' (U+00FF)".
QString describeUnsendable(QChar c);

// The text with every control character written as \xHH. A backslash that
// would otherwise read as such an escape is itself written \x5C, so that
// unescaped(escaped(t)) == t for every t. Used for labels, the command line's
// output and the CSV tables.
QString escaped(const QString& text);

// As escaped(), and every double quote written \x22: for the .sav files, whose
// quoted items end at the next quote. unescaped() reads it back too.
QString escapedWithQuotes(const QString& text);

// The inverse of escaped() and escapedWithQuotes(): \xHH becomes its
// character where HH is a control character, 5C (the backslash) or 22 (the
// double quote); any other backslash stays as it is.
QString unescaped(const QString& text);

} // namespace MessageText
