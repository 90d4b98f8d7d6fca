#include "table/MessageTable.h"

#include "table/RememberedTables.h"

#include <QFileInfo>
#include <QStringList>
#include <algorithm>

void MessageTable::setText(int slot, const QString& text) {
    QString& held = texts_.at(size_t(slot));
    if (held == text)
        return;
    held = text;
    if (listener_)
        listener_->textChanged(slot);
}

void MessageTable::setTexts(const TextTable& texts) {
    for (int k = 0; k < kInterlockCount; ++k)
        setText(k, texts[size_t(k)]);
}

void MessageTable::reset(const TextTable& defaults, const TextTable& terminals) {
    defaults_ = defaults;
    terminals_ = terminals;
    setTexts(defaults);
    saved_ = defaults;
    onUnit_ = {};
    known_ = {};
    origin_ = {};
    written_.reset();
    siteName_.reset();
}

void MessageTable::noteFile(const QString& file) {
    origin_.file = file;
    saved_ = texts_;
}

// Another table in its place: what was said of the last one (written to a
// unit) is no longer true of this one.
void MessageTable::noteOpened(const QString& file) {
    noteFile(file);
    origin_.kind = TableOrigin::Kind::File;
    origin_.unit = {};
    origin_.when = {};
    written_.reset();
}

void MessageTable::noteRead(const UnitKey& unit, const QTime& when) {
    origin_ = {TableOrigin::Kind::Unit, unit, {}, when};
    written_.reset();
}

bool MessageTable::unsavedChanges() const {
    for (size_t k = 0; k < texts_.size(); ++k)
        if (texts_[k] != saved_[k] && onUnit_[k] != texts_[k])
            return true;
    return false;
}

void MessageTable::beginUnit(const UnitKey& unit, bool fresh) {
    if (unit == known_ && !fresh)
        return;
    known_ = unit;
    onUnit_ = {};
}

SlotState MessageTable::slotState(int slot, const UnitKey& unit) const {
    const auto& held = onUnit_.at(size_t(slot));
    if (unit != known_ || !held)
        return SlotState::NotRead;
    return *held == text(slot) ? SlotState::AsOnUnit : SlotState::Edited;
}

bool MessageTable::knowsAUnit() const {
    return std::any_of(onUnit_.begin(), onUnit_.end(),
                       [](const std::optional<QString>& held) { return held.has_value(); });
}

int MessageTable::countIn(SlotState state, const UnitKey& unit) const {
    int n = 0;
    for (int k = 0; k < kInterlockCount; ++k)
        n += slotState(k, unit) == state ? 1 : 0;
    return n;
}

namespace {
QString unitText(const UnitKey& u) {
    return QStringLiteral("unit %1 on %2").arg(u.unit).arg(u.port);
}
QString slotCount(int n) {
    return n == 1 ? QStringLiteral("1 slot") : QStringLiteral("%1 slots").arg(n);
}
} // namespace

QString tableSourceText(const MessageTable& table, const UnitKey& current) {
    const TableOrigin& o = table.origin_;
    QStringList parts;
    switch (o.kind) {
    case TableOrigin::Kind::Defaults:
        parts << QStringLiteral("The defaults");
        break;
    case TableOrigin::Kind::File:
        // A read that got nothing forgets the file but keeps its texts.
        parts << (o.file.isEmpty() ? QStringLiteral("Opened from a file")
                                   : QStringLiteral("Opened from ") + shortTableName(o.file));
        break;
    case TableOrigin::Kind::Unit:
        parts << QStringLiteral("Read from %1 at %2")
                     .arg(unitText(o.unit), o.when.toString(QStringLiteral("HH:mm")));
        if (o.unit != current)
            parts.last() += QStringLiteral(", not from %1 now chosen").arg(unitText(current));
        break;
    }
    if (table.written_)
        parts << QStringLiteral("written to %1 at %2")
                     .arg(unitText(table.written_->first),
                          table.written_->second.toString(QStringLiteral("HH:mm")));
    const int edited = table.countIn(SlotState::Edited, current);
    const int notRead = table.countIn(SlotState::NotRead, current);
    if (edited > 0)
        parts << slotCount(edited) +
                     (edited == 1 ? QStringLiteral(" differs") : QStringLiteral(" differ")) +
                     QStringLiteral(" from the unit");
    if (notRead > 0 && notRead < kInterlockCount)
        parts << QStringLiteral("%1 not read").arg(slotCount(notRead));
    // A table from a file set against another unit: nothing is known of this one.
    if (o.kind != TableOrigin::Kind::Unit && table.knowsAUnit() && table.known_ != current)
        parts << QStringLiteral("not read from %1 now chosen").arg(unitText(current));
    return parts.join(QStringLiteral("; "));
}
