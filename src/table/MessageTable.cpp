#include "table/MessageTable.h"

void MessageTable::reset(const TextTable& defaults, const TextTable& terminals) {
    defaults_ = defaults;
    terminals_ = terminals;
    texts_ = defaults;
    saved_ = defaults;
    onUnit_ = {};
    fileName_.clear();
}

void MessageTable::noteFile(const QString& file) {
    fileName_ = file;
    saved_ = texts_;
}

bool MessageTable::unsavedChanges() const {
    for (size_t k = 0; k < texts_.size(); ++k)
        if (texts_[k] != saved_[k] && onUnit_[k] != texts_[k])
            return true;
    return false;
}
