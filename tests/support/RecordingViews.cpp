#include "RecordingViews.h"

void RecordingTableView::setMessageLabel(int index, const QString& text) {
    labelHistory.append({index, text});
    if (index >= 0 && index < static_cast<int>(labels.size()))
        labels[static_cast<size_t>(index)] = text;
}

void RecordingTableView::setProgress(int, int value) {
    progress = value;
    progressHistory.append(value);
}

void FakeEditorView::clearNewText() {
    text.clear();
}
