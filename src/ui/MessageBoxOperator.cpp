#include "ui/MessageBoxOperator.h"

#include "startup/MessageLayout.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
QMessageBox::Icon boxIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}
} // namespace

MsgAnswer MessageBoxOperator::message(const QString& text, const QString& title, MsgIcon icon,
                                      MsgButtons buttons) {
    QMessageBox box(parent_);
    box.setWindowTitle(title.isEmpty() ? kProgramTitle : title);
    // Texts may hold '<' or '&' (port paths, messages typed by the operator);
    // they are shown as given, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(boxIcon(icon));
    QPushButton* ignoreAll = nullptr;
    QPushButton* reconnect = nullptr;
    switch (buttons) {
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MsgButtons::OkCancelIgnoreAll:
        ignoreAll = box.addButton(QStringLiteral("Ignore &All"), QMessageBox::AcceptRole);
        ignoreAll->setToolTip(QStringLiteral("Go on without asking again for this run"));
        [[fallthrough]];
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgButtons::OkReconnect:
        reconnect = box.addButton(QStringLiteral("&Reconnect"), QMessageBox::AcceptRole);
        reconnect->setToolTip(QStringLiteral("Open the same port again, with the same settings, "
                                             "once it is back"));
        [[fallthrough]];
    case MsgButtons::Ok:
        // Return and Escape take the harmless Ok, never Reconnect.
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    }
    box.exec();
    if (ignoreAll != nullptr && box.clickedButton() == ignoreAll)
        return MsgAnswer::IgnoreAll;
    if (reconnect != nullptr && box.clickedButton() == reconnect)
        return MsgAnswer::Reconnect;
    const bool yes = box.clickedButton() == box.button(QMessageBox::Ok) ||
                     box.clickedButton() == box.button(QMessageBox::Yes);
    return yes ? MsgAnswer::Ok : MsgAnswer::Cancel;
}
