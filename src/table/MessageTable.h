#pragma once
// The message table as a document: the twenty texts, their defaults and
// terminal names, the file it was last opened from or saved to, and what is
// known to be on the unit. The windows and the command line edit it; views
// learn of changes through MessageTableView.

#include "startup/MessageLayout.h"

#include <QString>
#include <array>
#include <optional>

class MessageTable {
public:
    // A table of defaults: every text at its default, no file, nothing saved.
    void reset(const TextTable& defaults, const TextTable& terminals);

    const QString& text(int slot) const { return texts_.at(size_t(slot)); }
    void setText(int slot, const QString& text) { texts_.at(size_t(slot)) = text; }
    const TextTable& texts() const { return texts_; }
    TextTable& texts() { return texts_; }
    const QString& defaultText(int slot) const { return defaults_.at(size_t(slot)); }
    const TextTable& defaults() const { return defaults_; }
    const QString& terminal(int slot) const { return terminals_.at(size_t(slot)); }
    // The slot's text differs from its default.
    bool holdsText(int slot) const { return text(slot) != defaultText(slot); }

    // The file the table was opened from or saved to; empty when it came
    // from a unit or from the defaults.
    const QString& fileName() const { return fileName_; }
    // The table was opened from or saved to file: it matches it now.
    void noteFile(const QString& file);
    // The table now comes from a unit, not from a file.
    void forgetFile() { fileName_.clear(); }
    // The table as it is now counts as saved (the defaults at start-up).
    void noteSaved() { saved_ = texts_; }
    // The unit confirmed slot's current text.
    void noteOnUnit(int slot) { onUnit_.at(size_t(slot)) = text(slot); }

    // Differs from the file (or from the table at start).
    bool modified() const { return texts_ != saved_; }
    // Holds changes that are neither saved nor known to be on the unit.
    bool unsavedChanges() const;

private:
    TextTable texts_{};
    TextTable defaults_{};
    TextTable terminals_{};
    TextTable saved_{};
    std::array<std::optional<QString>, kInterlockCount> onUnit_{};
    QString fileName_;
};
