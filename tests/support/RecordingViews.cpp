#include "RecordingViews.h"

void RecordingTableView::watch(MessageTable& table) {
    table_ = &table;
    table.setListener(this);
    for (int k = 0; k < kInterlockCount; ++k) // as the window's load() draws them
        labels[size_t(k)] = table.text(k);
}

void RecordingTableView::textChanged(int slot) {
    labelHistory.append({slot, table_->text(slot)});
    labels[size_t(slot)] = table_->text(slot);
}

void RecordingTableView::setProgress(int, int value) {
    progress = value;
    progressHistory.append(value);
}

void FakeEditorView::clearNewText() {
    text.clear();
}
