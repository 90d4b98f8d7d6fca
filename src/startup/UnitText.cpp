#include "startup/UnitText.h"

#include "startup/CodePage.h"
#include "startup/MessageLayout.h"
#include "startup/MessageText.h"

namespace {

bool endsText(QChar c) {
    return c.unicode() == 0 || c.unicode() == 0xFF;
}

// The first character that ends the text or, typed, is a control character.
qsizetype firstRefused(const QString& text, UnitText::Source source) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (endsText(c) || (source == UnitText::Source::Typed && MessageText::isUnsendable(c)))
            return i;
    }
    return -1;
}

} // namespace

namespace UnitText {

Verdict judge(const QString& text, Source source) {
    Verdict v;
    v.length = text.size();
    if (text.isEmpty()) {
        v.fault = Fault::Empty;
        return v;
    }
    if (text.size() > kMessageMaxLength) {
        v.fault = Fault::TooLong;
        return v;
    }
    if (const qsizetype at = firstRefused(text, source); at >= 0) {
        v.position = at;
        v.character = text.at(at);
        v.fault = endsText(v.character) ? Fault::EndsText : Fault::Control;
        return v;
    }
    if (const CodePage::Encoded e = CodePage::encode(text); !e.ok()) {
        v.fault = Fault::NoCode;
        v.position = e.badPosition;
        v.character = e.badCharacter;
    }
    return v;
}

Verdict judgeEscaped(const QString& typed, bool* onTyped) {
    const bool slip = MessageText::firstUnsendable(typed) >= 0;
    if (onTyped)
        *onTyped = slip;
    return slip ? judge(typed, Source::Typed) : judge(MessageText::unescaped(typed), Source::Held);
}

QString holdProblem(const QString& text) {
    const Verdict v = judge(text, Source::Held);
    switch (v.fault) {
    case Fault::None:
    case Fault::Empty:
        break;
    case Fault::TooLong:
        return QStringLiteral("the message has %1 characters, more than %2")
            .arg(v.length)
            .arg(kMessageMaxLength);
    case Fault::EndsText:
    case Fault::Control:
        return QStringLiteral("the message holds %1, which would end it on the unit")
            .arg(MessageText::describeUnsendable(v.character));
    case Fault::NoCode:
        return QStringLiteral("the message holds %1, which Windows-1252 lacks")
            .arg(CodePage::describe(v.character));
    }
    return {};
}

QString entryFor(const QString& onUnit, const QString& defaultText) {
    return onUnit.isEmpty() ? defaultText : onUnit;
}

QString slotContent(const QString& entry, const QString& defaultText) {
    return entry == defaultText ? QString() : entry;
}

bool same(const QString& onUnit, const QString& entry, const QString& defaultText) {
    return slotContent(onUnit, defaultText) == slotContent(entry, defaultText);
}

} // namespace UnitText
