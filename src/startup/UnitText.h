#pragma once
// What a unit's message slot can hold: the one rule that the editor, the
// comms test, write, write-all, restore and opening a table all ask; and when
// a slot and a table entry say the same.
//
// A slot holds 1 to 40 bytes of Windows-1252 up to its first 0 or 0xFF (the
// unit's "no character"), or nothing: the empty slot, which shows the slot's
// default. So no slot holds a text longer than that, one with NUL or 'ÿ'
// (either would end it on the unit), or one with a character the code page
// lacks. Control characters (below 0x20, DEL, the C1 range) are bytes like
// any other to the slot, but the unit cannot show them: a text a technician
// types must hold none (a typing slip), while a text a unit held, read back
// or kept in a table as \xHH, is put back as it was.

#include <QChar>
#include <QString>

namespace UnitText {

// Where a text comes from, which decides what a control character in it is.
enum class Source {
    Typed, // as a technician typed it: a control character is a slip
    Held,  // as a unit held it, or a table keeps it: control characters stay
};

enum class Fault {
    None,     // a slot holds it, and a write can put it there
    Empty,    // the empty slot: held, but no write sends it (an erase does)
    TooLong,  // more characters than a slot holds
    EndsText, // NUL or 'ÿ' at position
    Control,  // (Typed only) a control character at position
    NoCode,   // a character Windows-1252 lacks at position
};

struct Verdict {
    Fault fault = Fault::None;
    qsizetype position = -1; // index of character, for the three faults of one character
    QChar character;
    qsizetype length = 0; // of the text judged
    bool writable() const { return fault == Fault::None; }
    // A slot can hold it: written, or as the empty slot.
    bool held() const { return fault == Fault::None || fault == Fault::Empty; }
};

// The one answer: the first reason why no write can put text in a slot, in
// this order: empty, too long, then the first character that ends the text
// (or, typed, any control character), then the first the code page lacks.
Verdict judge(const QString& text, Source source);

// A text typed with the \xHH escapes that read prints (the command line's
// TEXT): a control character or 'ÿ' typed as it is is judged on the typed
// text (onTyped set); otherwise the text its escapes stand for is judged as
// held, since an escape puts back what a unit held.
Verdict judgeEscaped(const QString& typed, bool* onTyped = nullptr);

// Why no slot can hold text, in words, or an empty text when one can (the
// empty text being the empty slot).
QString holdProblem(const QString& text);

// The table's entry for what a slot holds: an empty slot shows its default.
QString entryFor(const QString& onUnit, const QString& defaultText);

// What the slot holds when it holds what entry stands for: nothing (an empty
// text) for an empty entry or one equal to the slot's default, else entry.
QString slotContent(const QString& entry, const QString& defaultText);

// A slot as read (its text, empty for the empty slot) and a table entry say
// the same: an empty slot equals the slot's default, and so does the default
// written as a text.
bool same(const QString& onUnit, const QString& entry, const QString& defaultText);

} // namespace UnitText
