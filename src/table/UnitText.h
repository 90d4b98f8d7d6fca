#pragma once
// What a unit's message slot can hold, and when a slot and a table entry say
// the same. A slot holds 1 to 40 bytes of Windows-1252 up to its first 0 or
// 0xFF (the unit's "no character"), or nothing: the empty slot, which the
// windows show as the slot's default. Control characters are held as any
// other byte (another tool may have written them); only the sending paths
// refuse them (MessageText::isUnsendable).

#include <QString>

namespace UnitText {

// Why no slot can hold text, or an empty text: more than 40 characters, the
// character NUL or 'ÿ' (either would end the text on the unit), or a character
// Windows-1252 lacks. The empty text stands for the empty slot and is held.
QString holdProblem(const QString& text);

// What the slot holds when it holds what entry stands for: nothing (an empty
// text) for an empty entry or one equal to the slot's default, else entry.
QString slotContent(const QString& entry, const QString& defaultText);

// A slot as read (its text, empty for the empty slot) and a table entry say
// the same: an empty slot equals the slot's default, and so does the default
// written as a text.
bool same(const QString& onUnit, const QString& entry, const QString& defaultText);

} // namespace UnitText
