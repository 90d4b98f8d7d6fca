#pragma once
// The main window as the table logic sees it.

#include <QString>

class MessageTableView {
public:
    virtual ~MessageTableView() = default;
    virtual void setMessageLabel(int index, const QString& text) = 0; // Label1(index)
    virtual void setProgress(int value) = 0;                          // ProgressBar1, 0..100
};
