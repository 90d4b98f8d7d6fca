#pragma once
// Small building blocks the windows share.

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// A command button named for the code that drives it; it never becomes the
// dialog default on focus, so Enter does not press it by accident.
QPushButton* commandButton(const QString& name, const QString& caption, QWidget* parent);

// A sunken white panel showing a value: a dump, a count, a message.
QLabel* panelLabel(const QString& name, QWidget* parent);
