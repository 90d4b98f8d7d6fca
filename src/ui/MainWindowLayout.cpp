// The main window's layout: the four interlock groups, the command centre,
// the address, the progress bar and the status line, and the labels drawn
// from the table as it changes. The design is in twips;
// the layout keeps its proportions through stretch factors while the sizes
// follow the font.
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "ui/Controls.h"
#include "ui/MainWindow.h"
#include "ui/MessageEditorWindow.h"
#include "ui/UpDown.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The window's design is in twips; the layout keeps its proportions through
// stretch factors while the sizes follow the font.
constexpr int kClientWidth = 12525;
constexpr int kClientHeight = 8250;
constexpr int kTwipsPerPixel = 15;
constexpr int kFrameWidth = 5600;
constexpr int kColumnGap = 520;
constexpr int kTerminalWidth = 495;
constexpr int kMessageWidth = 4335;
constexpr int kRowPitch = 480;
constexpr int kRowHeight = 255;

const QColor kFormGrey(128, 128, 128);
const QColor kTerminalGrey(192, 192, 192);

int px(int twips) {
    return twips / kTwipsPerPixel;
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent) {
    QPushButton* b = commandButton(name, caption, parent);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred); // fill the grid cell
    return b;
}

} // namespace

QGroupBox* MainWindow::groupFrame(int group, const QColor& background, const QColor& caption) {
    const InterlockGroup& g = interlockGroups().at(group);
    auto* frame = new QGroupBox(g.caption, this);
    frame->setAutoFillBackground(true);
    QPalette pal = frame->palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, caption);
    frame->setPalette(pal);

    auto* grid = new QGridLayout(frame);
    const int rowHeight = qMax(px(kRowHeight), fontMetrics().height() + 4);
    // The rows keep their pitch while there is room and close up on a small
    // screen, so that the window can shrink to it: the gaps are spacers that
    // give way.
    const int gap = qMax(px(kRowPitch - kRowHeight), rowHeight * 3 / 4);
    grid->setVerticalSpacing(0);
    grid->setHorizontalSpacing(0);
    grid->setContentsMargins(px(120), 2, px(120), 0);
    int row = 0;
    auto space = [&](int height) {
        grid->addItem(new QSpacerItem(0, height, QSizePolicy::Minimum, QSizePolicy::Preferred),
                      row++, 0);
    };
    space(gap / 2);
    for (int k : g.indices) {
        if (row > 1)
            space(gap);
        QLabel* terminal = terminalLabel(k, frame, rowHeight);
        ClickLabel* message = messageLabel(k, frame, rowHeight);
        terminal->setBuddy(message);
        grid->addWidget(terminal, row, 0);
        grid->addWidget(message, row, 1);
        ++row;
    }
    space(gap / 2);
    grid->setColumnStretch(0, kTerminalWidth);
    grid->setColumnStretch(1, kMessageWidth);
    grid->setRowStretch(row, 1);
    return frame;
}

QLabel* MainWindow::terminalLabel(int k, QWidget* frame, int rowHeight) {
    int widestCaption = 0;
    for (int i = 0; i < kInterlockCount; ++i)
        widestCaption = qMax(widestCaption, fontMetrics().horizontalAdvance(terminalCaption(i)));
    auto* terminal = new QLabel(terminalCaption(k), frame);
    terminal->setObjectName(QStringLiteral("terminalLabel_%1").arg(k));
    terminal->setAlignment(Qt::AlignCenter);
    terminal->setAutoFillBackground(true);
    QPalette tp = terminal->palette();
    tp.setColor(QPalette::Window, kTerminalGrey);
    tp.setColor(QPalette::WindowText, Qt::black);
    terminal->setPalette(tp);
    terminal->setMinimumSize(qMax(px(kTerminalWidth), widestCaption + 8), rowHeight);
    terminal->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    terminalLabels[static_cast<size_t>(k)] = terminal;
    return terminal;
}

ClickLabel* MainWindow::messageLabel(int k, QWidget* frame, int rowHeight) {
    auto* message = new ClickLabel(frame);
    message->setObjectName(QStringLiteral("messageLabel_%1").arg(k));
    message->setTextFormat(Qt::PlainText); // a message is never markup
    message->setFocusPolicy(Qt::StrongFocus);
    message->setCursor(Qt::PointingHandCursor);
    message->setFrameStyle(QFrame::Box | QFrame::Plain);
    message->setLineWidth(1);
    message->setMargin(0);
    message->setIndent(4);
    message->setAutoFillBackground(true);
    QPalette mp = message->palette();
    mp.setColor(QPalette::Window, Qt::white);
    mp.setColor(QPalette::WindowText, Qt::black);
    message->setPalette(mp);
    message->setMinimumHeight(rowHeight);
    message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    message->setToolTip(QStringLiteral("Click to write or erase this message"));
    messageLabels[static_cast<size_t>(k)] = message;
    return message;
}

void MainWindow::buildControls() {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kFormGrey);
    setPalette(pal);
    resize(px(kClientWidth), px(kClientHeight));
    groupBoxes[0] = groupFrame(0, QColor(128, 64, 0), QColor(224, 224, 224));
    groupBoxes[1] = groupFrame(1, QColor(128, 128, 255), Qt::black);
    groupBoxes[2] = groupFrame(2, QColor(255, 255, 0), Qt::black);
    groupBoxes[3] = groupFrame(3, QColor(0, 128, 128), Qt::black);
    for (int i = 0; i < 4; ++i)
        groupBoxes[static_cast<size_t>(i)]->setObjectName(QStringLiteral("group%1").arg(i + 1));
    groupBoxes[4] = buildCommandCenter();

    QLayout* columns = buildColumns();

    // Where the table came from, over the status line at the foot: the
    // connection and the last outcome (its tooltip holds it whole when it is
    // cut short).
    sourceLine = panelLabel(QStringLiteral("sourceLine"), this);
    statusLine = panelLabel(QStringLiteral("statusLine"), this);
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    all->addLayout(columns, 1);
    all->addWidget(sourceLine);
    all->addWidget(statusLine);
}

// The two columns of groups, with the progress bar and the command centre.
QLayout* MainWindow::buildColumns() {
    // Left column: Recycle, Oil, Gas, then the progress bar.
    auto* left = new QVBoxLayout;
    left->setSpacing(px(225));
    left->addWidget(groupBoxes[0], 2295);
    left->addWidget(groupBoxes[2], 2295);
    left->addWidget(groupBoxes[3], 2055);
    left->addLayout(buildProgress());

    // Right column: Non-Recycle over the Command Center, which sits a little
    // in from the column's edges.
    auto* ccRow = new QHBoxLayout;
    ccRow->setContentsMargins(px(6600 - 6360), 0, px(11960 - 11775), 0);
    ccRow->addWidget(groupBoxes[4]);
    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    right->addWidget(groupBoxes[1], 4695);
    right->addStretch(5640 - 4935);
    right->addLayout(ccRow, 2175);
    right->addStretch(8250 - 7815 - 240);

    auto* columns = new QHBoxLayout;
    columns->setContentsMargins(px(240), px(240), px(kClientWidth - 11960), px(240));
    columns->setSpacing(0);
    columns->addLayout(left, kFrameWidth);
    columns->addStretch(kColumnGap);
    columns->addLayout(right, kFrameWidth);
    return columns;
}

QGroupBox* MainWindow::buildCommandCenter() {
    auto* cc = new QGroupBox(QStringLiteral("Command Center"), this);
    cc->setObjectName(QStringLiteral("commandCenter"));
    cc->setAutoFillBackground(true);
    QPalette ccPal = cc->palette();
    ccPal.setColor(QPalette::Window, kTerminalGrey);
    ccPal.setColor(QPalette::WindowText, Qt::black);
    cc->setPalette(ccPal);
    readAllButton = button(QStringLiteral("readAllButton"), QStringLiteral("&Read All Msgs"), cc);
    writeAllButton =
        button(QStringLiteral("writeAllButton"), QStringLiteral("&Write All Msgs"), cc);
    eraseAllButton =
        button(QStringLiteral("eraseAllButton"), QStringLiteral("&Erase All Msgs"), cc);
    openFileButton = button(QStringLiteral("openFileButton"), QStringLiteral("&Open File"), cc);
    saveFileButton = button(QStringLiteral("saveFileButton"), QStringLiteral("&Save File"), cc);
    quitButton = button(QStringLiteral("quitButton"), QStringLiteral("&Quit"), cc);
    commsTestButton =
        button(QStringLiteral("commsTestButton"), QStringLiteral("&Comms Test..."), cc);
    printButton = button(QStringLiteral("printButton"), QStringLiteral("&Print..."), cc);
    exportPdfButton =
        button(QStringLiteral("exportPdfButton"), QStringLiteral("E&xport PDF..."), cc);
    connectButton = button(QStringLiteral("connectButton"), QStringLiteral("Co&nnect..."), cc);
    findUnitButton = button(QStringLiteral("findUnitButton"), QStringLiteral("&Find Unit..."), cc);
    compareButton =
        button(QStringLiteral("compareButton"), QStringLiteral("Co&mpare with Unit..."), cc);
    historyButton = button(QStringLiteral("historyButton"), QStringLiteral("&History..."), cc);
    readAllButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* grid = new QGridLayout(cc);
    grid->setSpacing(4);
    grid->addWidget(readAllButton, 0, 0, 2, 1);
    grid->addWidget(writeAllButton, 0, 1);
    grid->addWidget(eraseAllButton, 1, 1);
    grid->addLayout(buildOpenFileRow(openFileButton, cc), 2, 0);
    grid->addWidget(saveFileButton, 2, 1);
    grid->addWidget(quitButton, 3, 0, 1, 2);
    grid->addLayout(buildAddress(cc), 0, 2, 3, 1);
    grid->addWidget(commsTestButton, 3, 2);
    grid->addWidget(printButton, 4, 0);
    grid->addWidget(exportPdfButton, 4, 1);
    grid->addWidget(connectButton, 4, 2);
    grid->addWidget(compareButton, 5, 0, 1, 2);
    grid->addWidget(findUnitButton, 5, 2);
    grid->addWidget(historyButton, 6, 0, 1, 2);
    addLineUnitsButton(grid, cc);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return cc;
}

// Units on This Line..., right of History..., and Line Health... under it.
void MainWindow::addLineUnitsButton(QGridLayout* grid, QWidget* cc) {
    lineUnitsButton =
        button(QStringLiteral("lineUnitsButton"), QStringLiteral("&Units on This Line..."), cc);
    grid->addWidget(lineUnitsButton, 6, 2);
    lineHealthButton =
        button(QStringLiteral("lineHealthButton"), QStringLiteral("&Line Health..."), cc);
    lineHealthButton->setToolTip(QStringLiteral("The line's counters per unit, and what is "
                                                "wrong with the line, in words"));
    grid->addWidget(lineHealthButton, 7, 2);
}

// The unit address: its value over the spinner over the caption.
QLayout* MainWindow::buildAddress(QWidget* cc) {
    addressValue = new QLabel(cc);
    addressValue->setObjectName(QStringLiteral("addressValue"));
    addressValue->setAlignment(Qt::AlignCenter);
    addressValue->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    addressValue->setAutoFillBackground(true);
    QPalette lp = addressValue->palette();
    lp.setColor(QPalette::Window, Qt::white);
    // While an operation holds the address, the number greys as the arrows do.
    lp.setColor(QPalette::Disabled, QPalette::Window, QColor(220, 220, 220));
    lp.setColor(QPalette::Disabled, QPalette::WindowText, QColor(100, 100, 100));
    addressValue->setPalette(lp);
    addressValue->setMinimumWidth(
        addressValue->fontMetrics().horizontalAdvance(QStringLiteral(" 310")) + 8);
    addressSpinner = new UpDown(cc);
    addressSpinner->setObjectName(QStringLiteral("addressSpinner"));
    addressSpinner->setRange(kFirstUnitAddress, kLastUnitAddress);
    addressSpinner->setSingleStep(1);
    addressSpinner->setToolTip(QStringLiteral("Unit address: arrows, digits, Page Up/Down by 10"));
    addressSpinner->setTypedDigits(true);
    addressSpinner->setAccessibleName(QStringLiteral("Unit address"));
    addressSpinner->setMinimumHeight(fontMetrics().height() * 2);
    // The number looks like a field: a click on it gives the spinner the
    // keyboard, and digits typed then set the address.
    addressValue->setFocusPolicy(Qt::ClickFocus);
    addressValue->setFocusProxy(addressSpinner);
    addressValue->setToolTip(addressSpinner->toolTip());
    addressValue->setAccessibleName(addressSpinner->accessibleName());
    addressCaption = new QLabel(QStringLiteral("Adr"), cc);
    addressCaption->setObjectName(QStringLiteral("addressCaption"));
    addressCaption->setAlignment(Qt::AlignCenter);
    addressCaption->setBuddy(addressSpinner);

    auto* address = new QVBoxLayout;
    address->setSpacing(2);
    address->addWidget(addressValue);
    address->addWidget(addressSpinner, 0, Qt::AlignHCenter);
    address->addWidget(addressCaption);
    address->addStretch(1);
    return address;
}

QLayout* MainWindow::buildProgress() {
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressBar->setFixedHeight(qMax(px(150), fontMetrics().height() / 2));
    progressCaption = new QLabel(QStringLiteral("Read/Write Progress"), this);
    progressCaption->setObjectName(QStringLiteral("progressCaption"));
    progressCaption->setBuddy(progressBar);
    progressBar->setAccessibleName(progressCaption->text());
    QPalette dark = progressCaption->palette(); // black on the grey form: 5.3:1
    dark.setColor(QPalette::WindowText, Qt::black);
    progressCaption->setPalette(dark);
    auto* progress = new QVBoxLayout;
    progress->setSpacing(2);
    progress->addWidget(progressBar);
    progress->addWidget(progressCaption);
    return progress;
}

void MainWindow::textChanged(int slot) {
    if (!writingAllAt_ || slot <= *writingAllAt_)
        showLabel(slot, table_.text(slot));
    if (editorWindow_)
        editorWindow_->tableChanged(slot);
}

void MainWindow::showLabel(int index, const QString& text) {
    // A control character the unit holds is shown as \xHH, never acted on.
    if (index < 0 || index >= kInterlockCount)
        return;
    ClickLabel* label = messageLabels[static_cast<size_t>(index)];
    label->setFullText(MessageText::escaped(text));
    // A screen reader names the terminals with the text; the state is its description.
    label->setAccessibleName(
        QStringLiteral("Terminals %1: %2").arg(terminalCaption(index), label->fullText()));
}

void MainWindow::setProgress(int slot, int value) {
    progressBar->setValue(qBound(0, value, 100));
    // Write All shows each label again as it comes to its slot, and all of
    // them once it is over (before its report).
    if (writingAllAt_) {
        writingAllAt_ = slot < 0 ? kInterlockCount : slot;
        for (int k = 0; k < kInterlockCount; ++k)
            showLabel(k, k <= *writingAllAt_ ? table_.text(k) : QString());
    }
}
