#pragma once
// The message table as a document: the twenty texts, their defaults and
// terminal names, the file it was last opened from or saved to, and what is
// known to be on the unit. Its texts change only through its own methods, and
// each change is told to its listener (the main window redraws the slot's
// label from it).

#include "startup/MessageLayout.h"
#include "startup/UnitText.h"

#include <QString>
#include <QTime>
#include <array>
#include <optional>

// A unit as the tool reaches it: its address on a port or gateway.
struct UnitKey {
    int unit = 0;
    QString port;
    bool operator==(const UnitKey& o) const { return unit == o.unit && port == o.port; }
    bool operator!=(const UnitKey& o) const { return !(*this == o); }
};

// Where the table's texts came from, and the file they match.
struct TableOrigin {
    enum class Kind { Defaults, Unit, File };
    Kind kind = Kind::Defaults;
    UnitKey unit; // Unit: the unit read
    // The table's file, kept here only: the one it was opened from (File) or
    // last saved to, whatever the kind; empty when the texts match no file.
    QString file;
    QTime when; // Unit: when it was read
};

// A slot against the unit as last read or written.
enum class SlotState {
    NotRead,  // nothing is known of what this unit holds there
    AsOnUnit, // the unit holds the table's text, as last read or written
    Edited,   // the table's text differs from what the unit held
};

// Hears each change of a table's texts.
class TableListener {
public:
    virtual ~TableListener() = default;
    virtual void textChanged(int slot) = 0;
};

class MessageTable {
public:
    MessageTable() = default;
    // A table is one document: its listener is not copied with it.
    MessageTable(const MessageTable&) = delete;
    MessageTable& operator=(const MessageTable&) = delete;

    // Hears every text that changes from now on; null: nobody.
    void setListener(TableListener* listener) { listener_ = listener; }

    // A table of defaults: every text at its default, no file, nothing saved.
    void reset(const TextTable& defaults, const TextTable& terminals);

    const QString& text(int slot) const { return texts_.at(size_t(slot)); }
    // Each slot whose text this changes is told to the listener.
    void setText(int slot, const QString& text);
    void setTexts(const TextTable& texts);
    const TextTable& texts() const { return texts_; }
    const QString& defaultText(int slot) const { return defaults_.at(size_t(slot)); }
    const TextTable& defaults() const { return defaults_; }
    const QString& terminal(int slot) const { return terminals_.at(size_t(slot)); }

    // The file the table was opened from or saved to; empty when it came
    // from a unit or from the defaults.
    const QString& fileName() const { return origin_.file; }
    // The table was opened from file: its texts come from it, and match it.
    void noteOpened(const QString& file);
    // The table was saved to file: it matches it now.
    void noteFile(const QString& file);
    // The table was read from unit at when: it matches no file.
    void noteRead(const UnitKey& unit, const QTime& when);
    // The table now comes from a unit, not from a file.
    void forgetFile() { origin_.file.clear(); }
    // The table as it is now counts as saved (the defaults at start-up).
    void noteSaved() { saved_ = texts_; }
    // The unit confirmed slot's current text.
    void noteOnUnit(int slot) { onUnit_.at(size_t(slot)) = text(slot); }

    // The unit holds text (empty: nothing, its default shows) in slot, as a
    // compare read it.
    void noteUnitHolds(int slot, const QString& text) {
        onUnit_.at(size_t(slot)) = UnitText::entryFor(text, defaultText(slot));
    }
    // What slot is known to hold on unit (its entry), from a read, a compare
    // or a confirmed write; nothing when not known, or known of another unit.
    std::optional<QString> knownOnUnit(int slot, const UnitKey& unit) const {
        return unit == known_ ? onUnit_.at(size_t(slot)) : std::nullopt;
    }
    // What follows is about unit: what was known of another unit (another
    // address, another port) no longer counts. fresh forgets it all the same
    // (a Read All starts over).
    void beginUnit(const UnitKey& unit, bool fresh = false);
    // Slot k against unit (NotRead when unit is not the one last read).
    SlotState slotState(int slot, const UnitKey& unit) const;
    // How many slots are in state against unit.
    int countIn(SlotState state, const UnitKey& unit) const;
    // Something is known of what a unit holds (read, compared or written):
    // the marks mean something, whichever unit is chosen now.
    bool knowsAUnit() const;

    const TableOrigin& origin() const { return origin_; }
    // The whole origin, its file included (noteOpened and noteRead say it
    // by role).
    void setOrigin(const TableOrigin& origin) { origin_ = origin; }
    // A write to a unit ran to its end (Write All, Write Selected).
    void noteWritten(const UnitKey& unit, const QTime& when) { written_ = {unit, when}; }

    // The site or boiler name its printed sheet carries, asked once per table:
    // nothing until then, empty when none was given. Kept apart from the
    // table's file, whose format other programs and units read.
    const std::optional<QString>& siteName() const { return siteName_; }
    void setSiteName(const std::optional<QString>& name) { siteName_ = name; }

    // Differs from the file (or from the table at start).
    bool modified() const { return texts_ != saved_; }
    // Holds changes that are neither saved nor known to be on the unit.
    bool unsavedChanges() const;

private:
    TableListener* listener_ = nullptr;
    TextTable texts_{};
    TextTable defaults_{};
    TextTable terminals_{};
    TextTable saved_{};
    std::array<std::optional<QString>, kInterlockCount> onUnit_{};
    UnitKey known_; // the unit onUnit_ is about
    TableOrigin origin_;
    std::optional<std::pair<UnitKey, QTime>> written_;
    std::optional<QString> siteName_;
    friend QString tableSourceText(const MessageTable& table, const UnitKey& current);
};

// The line above the status line: "Read from unit 1 on /dev/ttyUSB0 at 14:02;
// 2 slots differ from the unit", "Opened from boiler2.sav; written to unit 1 at
// 14:05", "Read from unit 1 on /dev/ttyUSB0 at 14:02, not from unit 2 now
// chosen".
QString tableSourceText(const MessageTable& table, const UnitKey& current);
