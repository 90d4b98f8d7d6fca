#pragma once
// The operator of the windows: every box is a QMessageBox with the exact text,
// title, icon and buttons the logic asked for.

#include "startup/Operator.h"

#include <QPointer>

class QWidget;

class MessageBoxOperator : public Operator {
public:
    explicit MessageBoxOperator(QWidget* parent = nullptr) : parent_(parent) {}

    // The window the boxes are centred on and modal to; none: application modal.
    void setParent(QWidget* parent) { parent_ = parent; }
    QWidget* parent() const { return parent_; }

    MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                      MsgButtons buttons) override;

private:
    QPointer<QWidget> parent_;
};
