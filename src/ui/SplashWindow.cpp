#include "ui/SplashWindow.h"

#include "ui/Artwork.h"
#include "ui/LoadedWindows.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QLabel* picture(int index, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QStringLiteral("picture_%1").arg(index));
    label->setPixmap(Artwork::splashPicture(index, parent->devicePixelRatioF()));
    label->setFixedSize(Artwork::splashPictureSize(index));
    return label;
}

} // namespace

SplashWindow::SplashWindow(LoadedWindows& windows, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), windows_(windows) {
    setObjectName(QStringLiteral("SplashWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* border = new QFrame(this);
    border->setFrameStyle(QFrame::Panel | QFrame::Raised);
    border->setLineWidth(3);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(border);

    pictures[0] = picture(0, this);
    pictures[1] = picture(1, this);
    // Its place is kept while hidden so that revealing it does not resize
    // the window on screen.
    QSizePolicy keep = pictures[1]->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    pictures[1]->setSizePolicy(keep);
    pictures[1]->setVisible(false);

    buildTexts();

    auto* right = new QVBoxLayout;
    right->addWidget(titlePanel);
    right->addSpacing(6);
    right->addWidget(revisionLabel);
    right->addStretch(1);
    right->addWidget(pictures[1], 0, Qt::AlignHCenter);

    auto* row = new QHBoxLayout(border);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(18);
    row->addWidget(pictures[0], 0, Qt::AlignTop);
    row->addLayout(right, 1);

    // Load: the title line, then the centring of the newest window.
    windows_.loaded(this);
    revisionLabel->setText(QStringLiteral("Custom Message Programming Tool"));
    adjustSize();
    windows_.centreLastWindow();
}

// The title in large serif capitals, and the line under it.
void SplashWindow::buildTexts() {
    titlePanel = new QLabel(QStringLiteral("Q V 8 4 0 N"), this);
    titlePanel->setObjectName(QStringLiteral("titlePanel"));
    titlePanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    titlePanel->setLineWidth(2);
    titlePanel->setAlignment(Qt::AlignCenter);
    titlePanel->setMargin(8);
    QFont serif(QStringLiteral("Times New Roman"));
    serif.setStyleHint(QFont::Serif); // the nearest serif where Times is missing
    serif.setPointSizeF(font().pointSizeF() * 2.6);
    serif.setBold(true);
    titlePanel->setFont(serif);

    revisionLabel = new QLabel(QStringLiteral("Place RevisionLabel Here"), this);
    revisionLabel->setObjectName(QStringLiteral("revisionLabel"));
    revisionLabel->setAlignment(Qt::AlignCenter);
    QFont title = font();
    title.setPointSizeF(font().pointSizeF() * 1.3);
    revisionLabel->setFont(title);
}

void SplashWindow::showPictures() {
    pictures[1]->setVisible(true);
}
