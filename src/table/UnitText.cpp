#include "table/UnitText.h"

#include "startup/CodePage.h"
#include "startup/MessageLayout.h"
#include "startup/MessageText.h"

namespace UnitText {

QString holdProblem(const QString& text) {
    if (text.size() > kMessageMaxLength)
        return QStringLiteral("the message has %1 characters, more than %2")
            .arg(text.size())
            .arg(kMessageMaxLength);
    for (const QChar c : text) {
        if (c.unicode() == 0 || c.unicode() == 0xFF)
            return QStringLiteral("the message holds %1, which would end it on the unit")
                .arg(MessageText::describeUnsendable(c));
    }
    if (const CodePage::Encoded e = CodePage::encode(text); !e.ok())
        return QStringLiteral("the message holds %1, which Windows-1252 lacks")
            .arg(CodePage::describe(e.badCharacter));
    return {};
}

QString slotContent(const QString& entry, const QString& defaultText) {
    return entry == defaultText ? QString() : entry;
}

bool same(const QString& onUnit, const QString& entry, const QString& defaultText) {
    return slotContent(onUnit, defaultText) == slotContent(entry, defaultText);
}

} // namespace UnitText
