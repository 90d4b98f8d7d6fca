#pragma once
// An operation's progress as a window shows it: the bar, and the slot under
// way. The table's texts reach the windows through MessageTable's listener.

class ProgressView {
public:
    virtual ~ProgressView() = default;
    // 0..100 while the operation works on slot; slot -1 and 0 once it is over.
    virtual void setProgress(int slot, int value) = 0;
};
