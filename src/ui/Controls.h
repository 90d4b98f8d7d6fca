#pragma once
// Small building blocks the windows share.

#include <QString>

class QLabel;
class QPushButton;
class QToolButton;
class QWidget;

// A command button named for the code that drives it; it never becomes the
// dialog default on focus, so Enter does not press it by accident.
QPushButton* commandButton(const QString& name, const QString& caption, QWidget* parent);

// A sunken white panel showing a value: a dump, a count, a message.
QLabel* panelLabel(const QString& name, QWidget* parent);

// An arrow button draws its arrow in the text colour of the window around it,
// which a panel of fixed colours may set against the palette's buttons (black
// on a dark theme's buttons): the arrow takes the buttons' own text colour.
void legibleArrow(QToolButton* button);
