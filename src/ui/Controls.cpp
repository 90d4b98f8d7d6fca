#include "ui/Controls.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

QPushButton* commandButton(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QLabel* panelLabel(const QString& name, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText); // what the unit or a file holds, shown as it is
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    l->setMargin(2);
    return l;
}

void legibleArrow(QToolButton* button) {
    QPalette pal = button->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::WindowText, pal.color(group, QPalette::ButtonText));
    button->setPalette(pal);
}
