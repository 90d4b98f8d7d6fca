#include "ui/frmSplash.h"

#include "ui/Artwork.h"
#include "ui/LoadedWindows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* picture(int index, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("Picture1_%1").arg(index));
    label->setPixmap(Artwork::splashPicture(index, parent->devicePixelRatioF()));
    label->setFixedSize(Artwork::splashPictureSize(index));
    return label;
}

} // namespace

frmSplash::frmSplash(LoadedWindows& windows, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), windows_(windows) {
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* border = new QFrame(this);
    border->setFrameStyle(QFrame::Panel | QFrame::Raised);
    border->setLineWidth(3);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(border);

    Picture1[0] = picture(0, this);
    Picture1[1] = picture(1, this);
    // Its place is kept while hidden so that revealing it does not resize
    // the window on screen.
    QSizePolicy keep = Picture1[1]->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    Picture1[1]->setSizePolicy(keep);
    Picture1[1]->setVisible(false);

    SSPanel1 = new QLabel(QStringLiteral("Q V 8 4 0 N"), this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    SSPanel1->setLineWidth(2);
    SSPanel1->setAlignment(Qt::AlignCenter);
    SSPanel1->setMargin(8);
    QFont serif(QStringLiteral("Times New Roman"));
    serif.setStyleHint(QFont::Serif); // the nearest serif where Times is missing
    serif.setPointSizeF(font().pointSizeF() * 2.6);
    serif.setBold(true);
    SSPanel1->setFont(serif);

    Label2 = new QLabel(QStringLiteral("Place RevisionLabel Here"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignCenter);
    QFont title = font();
    title.setPointSizeF(font().pointSizeF() * 1.3);
    Label2->setFont(title);

    auto* right = new QVBoxLayout;
    right->addWidget(SSPanel1);
    right->addSpacing(6);
    right->addWidget(Label2);
    right->addStretch(1);
    right->addWidget(Picture1[1], 0, Qt::AlignHCenter);

    auto* row = new QHBoxLayout(border);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(18);
    row->addWidget(Picture1[0], 0, Qt::AlignTop);
    row->addLayout(right, 1);

    // Load: the title line, then the centring of the newest window.
    windows_.loaded(this);
    Label2->setText(QStringLiteral("Custom Message Programming Tool"));
    adjustSize();
    windows_.centerForm();
}

void frmSplash::showPicture1() {
    Picture1[1]->setVisible(true);
}
