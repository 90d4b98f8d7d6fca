#pragma once
// The main window as the table logic sees it.

#include <QString>

class MessageTableView {
public:
    virtual ~MessageTableView() = default;
    virtual void setMessageLabel(int index,
                                 const QString& text) = 0; // the message label of slot index
    // ProgressBar1, 0..100, while the operation works on slot (-1 once it is over).
    virtual void setProgress(int slot, int value) = 0;
};
