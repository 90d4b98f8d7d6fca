#include "ui/MainWindow.h"

#include "modbus/Pdu.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "table/CsvTable.h"
#include "table/Interlocks.h"
#include "table/TableFile.h"
#include "transport/Endpoint.h"
#include "transport/Transport.h"
#include "ui/CommsTestWindow.h"
#include "ui/Controls.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageEditorWindow.h"
#include "ui/SheetPrinter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTime>
#include <QVBoxLayout>

#include <algorithm>

// ---------------------------------------------------------------- ClickLabel

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

void ClickLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

// The label has no focus frame of its own; a heavier border shows where the
// keyboard is.
void ClickLabel::focusInEvent(QFocusEvent* event) {
    setLineWidth(2);
    QLabel::focusInEvent(event);
}

void ClickLabel::focusOutEvent(QFocusEvent* event) {
    setLineWidth(1);
    QLabel::focusOutEvent(event);
}

void ClickLabel::setFullText(const QString& text) {
    fullText_ = text;
    elide();
}

void ClickLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ClickLabel::elide() {
    const int room = contentsRect().width() - 2 * indent();
    const QString shown = fontMetrics().elidedText(fullText_, Qt::ElideRight, room);
    setText(shown);
    setToolTip(shown == fullText_ ? QStringLiteral("Click to write or erase this message")
                                  : fullText_);
}

// ---------------------------------------------------------------- MainWindow

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

QString defaultFileChooser(QWidget* parent, bool save, const QString& filter,
                           const QString& lastName) {
    QFileDialog dialog(parent);
    dialog.setNameFilter(filter); // filters apart by ";;"
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // Open does not insist that the file exists: a missing one fails when it
    // is read, with a message that says so.
    dialog.setFileMode(QFileDialog::AnyFile);
    // The main window asks before a file is replaced, for every way a name
    // comes in.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!lastName.isEmpty())
        dialog.selectFile(lastName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QPushButton* button(const QString& name, const QString& caption, QWidget* parent) {
    QPushButton* b = commandButton(name, caption, parent);
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred); // fill the grid cell
    return b;
}

} // namespace

MainWindow::MainWindow(MessageTable& table, Connection& connection, Transport& transport,
                       Operator& op, LoadedWindows& windows, CommsTestWindow& commsTest,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), table_(table), connection_(connection), transport_(transport),
      op_(op), windows_(windows), commsTest_(commsTest),
      bulk_(table, transport, *this, op, commsTest.clock()),
      editor_(table, transport, *this, op, commsTest.clock()) {
    setObjectName(QStringLiteral("MainWindow"));
    updateTitle();
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kFormGrey);
    setPalette(pal);
    buildControls();
    resize(px(kClientWidth), px(kClientHeight));

    chooseFile_ = [this](bool save, const QString& filter, const QString& last) {
        return defaultFileChooser(this, save, filter, last);
    };
    endProgram_ = [] { QCoreApplication::exit(0); };

    connect(readAllButton, &QPushButton::clicked, this, [this] {
        runBulk(readAllButton, QStringLiteral("Read All"), [this] {
            table_.forgetFile();
            updateTitle();
            return bulk_.readAll(connection_.unitAddress);
        });
    });
    connect(writeAllButton, &QPushButton::clicked, this, [this] {
        runBulk(writeAllButton, QStringLiteral("Write All"),
                [this] { return bulk_.writeAll(connection_.unitAddress); });
    });
    connect(eraseAllButton, &QPushButton::clicked, this, &MainWindow::eraseAll);
    connect(connectButton, &QPushButton::clicked, this, [this] {
        if (connectAction_)
            connectAction_();
    });
    connect(findUnitButton, &QPushButton::clicked, this, [this] {
        if (findUnitAction_)
            findUnitAction_();
    });
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, [this] { bulk_.requestStop(); });
    connect(&transport_, &Transport::failed, this, [this](const QString& why) {
        failure_ = why.isEmpty() ? QStringLiteral("the port was closed") : why;
        refreshStatus();
    });
    connect(openFileButton, &QPushButton::clicked, this, &MainWindow::openFile);
    connect(saveFileButton, &QPushButton::clicked, this, &MainWindow::saveFile);
    connect(printButton, &QPushButton::clicked, this, [this] { printSheet(this, sheetInfo()); });
    connect(exportPdfButton, &QPushButton::clicked, this, &MainWindow::exportPdf);
    connect(quitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(commsTestButton, &QPushButton::clicked, this, &MainWindow::showCommsTest);
    connect(addressSpinner, &UpDown::valueChanged, this, &MainWindow::setUnitAddress);
    connect(addressSpinner, &UpDown::valueChanged, this, &MainWindow::refreshStatus);
    // One unit address for the whole program: the comms test's spinner and
    // this one follow each other (setValue stops at an unchanged value).
    connect(addressSpinner, &UpDown::valueChanged, commsTest_.unitSpinner, &UpDown::setValue);
    connect(commsTest_.unitSpinner, &UpDown::valueChanged, addressSpinner, &UpDown::setValue);
    for (int i = 0; i < kInterlockCount; ++i)
        connect(messageLabels[static_cast<size_t>(i)], &ClickLabel::clicked, this,
                [this, i] { messageClicked(i); });
    // A bulk operation holds the link for its whole run; the editor and the
    // comms test hold it while they wait. Nothing else may start meanwhile.
    connect(&transport_, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
}

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
        grid->addWidget(terminalLabel(k, frame, rowHeight), row, 0);
        grid->addWidget(messageLabel(k, frame, rowHeight), row, 1);
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
    groupBoxes[0] = groupFrame(0, QColor(128, 64, 0), QColor(224, 224, 224));
    groupBoxes[1] = groupFrame(1, QColor(128, 128, 255), Qt::black);
    groupBoxes[2] = groupFrame(2, QColor(255, 255, 0), Qt::black);
    groupBoxes[3] = groupFrame(3, QColor(0, 128, 128), Qt::black);
    for (int i = 0; i < 4; ++i)
        groupBoxes[static_cast<size_t>(i)]->setObjectName(QStringLiteral("group%1").arg(i + 1));
    groupBoxes[4] = buildCommandCenter();

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

    // The status line at the foot: the connection and the last outcome.
    statusLine = panelLabel(QStringLiteral("statusLine"), this);
    statusLine->setToolTip(QStringLiteral("The port, its speed, the unit address, the state of the "
                                          "connection and the last operation's outcome"));
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    all->addLayout(columns, 1);
    all->addWidget(statusLine);
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
    commsTestButton->setToolTip(QStringLiteral("Open the comms-test window"));
    printButton = button(QStringLiteral("printButton"), QStringLiteral("&Print..."), cc);
    exportPdfButton =
        button(QStringLiteral("exportPdfButton"), QStringLiteral("E&xport PDF..."), cc);
    connectButton = button(QStringLiteral("connectButton"), QStringLiteral("Co&nnect..."), cc);
    connectButton->setToolTip(
        QStringLiteral("Choose another port or speed, or open the same again"));
    findUnitButton = button(QStringLiteral("findUnitButton"), QStringLiteral("&Find Unit..."), cc);
    findUnitButton->setToolTip(
        QStringLiteral("Look for a unit whose address or speed is not known"));
    readAllButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* grid = new QGridLayout(cc);
    grid->setSpacing(4);
    grid->addWidget(readAllButton, 0, 0, 2, 1);
    grid->addWidget(writeAllButton, 0, 1);
    grid->addWidget(eraseAllButton, 1, 1);
    grid->addWidget(openFileButton, 2, 0);
    grid->addWidget(saveFileButton, 2, 1);
    grid->addWidget(quitButton, 3, 0, 1, 2);
    grid->addLayout(buildAddress(cc), 0, 2, 3, 1);
    grid->addWidget(commsTestButton, 3, 2);
    grid->addWidget(printButton, 4, 0);
    grid->addWidget(exportPdfButton, 4, 1);
    grid->addWidget(connectButton, 4, 2);
    grid->addWidget(findUnitButton, 5, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return cc;
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
    addressValue->setPalette(lp);
    addressValue->setMinimumWidth(
        addressValue->fontMetrics().horizontalAdvance(QStringLiteral(" 310")) + 8);
    addressSpinner = new UpDown(cc);
    addressSpinner->setObjectName(QStringLiteral("addressSpinner"));
    addressSpinner->setRange(kFirstUnitAddress, kLastUnitAddress);
    addressSpinner->setSingleStep(1);
    addressSpinner->setToolTip(QStringLiteral("Unit address: arrows, digits, Page Up/Down by 10"));
    addressSpinner->setTypedDigits(true);
    addressSpinner->setMinimumHeight(fontMetrics().height() * 2);
    addressCaption = new QLabel(QStringLiteral("Adr"), cc);
    addressCaption->setObjectName(QStringLiteral("addressCaption"));
    addressCaption->setAlignment(Qt::AlignCenter);

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
    QPalette dark = progressCaption->palette(); // black on the grey form: 5.3:1
    dark.setColor(QPalette::WindowText, Qt::black);
    progressCaption->setPalette(dark);
    auto* progress = new QVBoxLayout;
    progress->setSpacing(2);
    progress->addWidget(progressBar);
    progress->addWidget(progressCaption);
    return progress;
}

void MainWindow::load() {
    windows_.loaded(this);
    windows_.centerForm();
    for (int i = 0; i < kInterlockCount; ++i)
        setMessageLabel(i, table_.defaultText(i));
    // Every default message stays whole however far the window shrinks.
    int widest = 0;
    for (int i = 0; i < kInterlockCount; ++i)
        widest = qMax(widest, fontMetrics().horizontalAdvance(table_.defaultText(i)));
    for (ClickLabel* label : messageLabels)
        label->setMinimumWidth(widest + 2 * label->indent() + 2 * label->frameWidth() + 2);
    addressSpinner->setValue(connection_.unitAddress);
    addressValue->setText(withLeadingBlank(connection_.unitAddress));
    updateTooltips();
    table_.noteSaved();
    updateTitle();
    refreshStatus();
    show();
    // Centred again now that the window manager has framed it.
    windows_.centerForm();
}

MessageEditorWindow* MainWindow::editorWindow() const {
    return editorWindow_.data();
}

void MainWindow::setMessageLabel(int index, const QString& text) {
    // A control character the unit holds is shown as \xHH, never acted on.
    if (index >= 0 && index < kInterlockCount)
        messageLabels[static_cast<size_t>(index)]->setFullText(MessageText::escaped(text));
}

void MainWindow::setProgress(int, int value) {
    progressBar->setValue(qBound(0, value, 100));
}

void MainWindow::messageClicked(int index) {
    editor_.select(index);
    // One editor at a time; a click while it is open turns it to that interlock.
    if (editorWindow_) {
        editorWindow_->retarget();
        return;
    }
    editorWindow_ = new MessageEditorWindow(editor_, connection_, transport_, windows_, this);
    connect(editorWindow_, &MessageEditorWindow::delivered, this, [this](int k) {
        table_.noteOnUnit(k);
        updateTitle();
    });
    connect(editorWindow_, &MessageEditorWindow::reconnectRequested, this, [this] {
        if (reconnectAction_)
            reconnectAction_();
    });
    editorWindow_->load();
}

namespace {
const QString kTableFilters = QStringLiteral("Message table (*.sav);;CSV table (*.csv)");
} // namespace

void MainWindow::saveFile() {
    const QString name = chooseFile_(true, kTableFilters, fileName_);
    if (name.isEmpty() || !mayWrite(name))
        return;
    fileName_ = name;
    bool ok = false;
    QString message;
    if (isCsvName(name)) {
        const CsvResult c = writeCsvTable(name, table_.texts());
        ok = c.ok;
        message = c.ok ? QString() : c.message;
    } else {
        const TableFileResult r = saveTable(name, table_.texts());
        ok = r.written;
        message = r.message;
    }
    if (ok) {
        table_.noteFile(name);
        updateTitle();
    }
    if (!message.isEmpty())
        op_.message(message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

void MainWindow::openFile() {
    const QString name = chooseFile_(false, kTableFilters, fileName_);
    if (name.isEmpty())
        return;
    fileName_ = name;
    if (isCsvName(name)) {
        const CsvResult c = readCsvTable(name, table_.defaults(), table_.texts());
        for (int i = 0; c.ok && i < kInterlockCount; ++i)
            setMessageLabel(i, table_.text(i));
        if (c.ok) {
            table_.noteFile(name);
            updateTitle();
        }
        if (!c.ok)
            op_.message(c.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    const TableFileResult r = openTable(name, table_.texts());
    for (int i = 0; i < r.entriesRead; ++i)
        setMessageLabel(i, table_.text(i));
    if (r.ok)
        table_.noteFile(name);
    updateTitle();
    if (!r.message.isEmpty())
        op_.message(r.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

SheetInfo MainWindow::sheetInfo() const {
    SheetInfo info;
    info.messages = table_.texts();
    info.unitAddress = connection_.unitAddress;
    info.port = connection_.portName;
    info.when = QDateTime::currentDateTime();
    info.fileName = table_.fileName();
    return info;
}

void MainWindow::exportPdf() {
    const QString name = chooseFile_(true, QStringLiteral("PDF (*.pdf)"), QString());
    if (name.isEmpty() || !mayWrite(name))
        return;
    QString why;
    if (!writeSheetPdf(name, sheetInfo(), defaultSheetPaper(), &why))
        op_.message(QStringLiteral("Cannot write %1: %2").arg(name, why), {}, MsgIcon::Exclamation,
                    MsgButtons::Ok);
}

void MainWindow::setOperationsEnabled(bool on) {
    // The button of the operation under way stays: it stops it.
    for (QPushButton* b : {readAllButton, writeAllButton, eraseAllButton, openFileButton,
                           saveFileButton, connectButton, findUnitButton})
        b->setEnabled(on || b == running_);
    // An operation keeps the unit it started with.
    addressSpinner->setEnabled(on);
}

void MainWindow::showCommsTest() {
    commsTest_.show();
    commsTest_.raise();
    commsTest_.activateWindow();
}

bool MainWindow::event(QEvent* event) {
    // The window manager frames the window after it is shown; only then is
    // its outer size known, and a frame too tall for the screen shrinks.
    if (event->type() == QEvent::WindowActivate && !framed_ && windows_.last() == this) {
        framed_ = true;
        windows_.centerForm();
    }
    return QWidget::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exitConfirmed_) {
        event->accept();
        return;
    }
    QString question = QStringLiteral("Exit the QV840N program?");
    if (table_.unsavedChanges())
        question += QStringLiteral("\r\nThe table holds changes that are neither saved to a file "
                                   "nor written to the unit.");
    if (!op_.askOkCancel(question, {}, MsgIcon::Question)) {
        event->ignore();
        return;
    }
    exitConfirmed_ = true;
    commsTest_.unload();
    event->accept();
    if (endProgram_)
        endProgram_();
}

void MainWindow::eraseAll() {
    // One stray click must not clear a whole unit.
    const QString question =
        QStringLiteral("Erase all twenty messages of unit %1?").arg(connection_.unitAddress);
    if (op_.message(question, QStringLiteral("Erase All Msgs"), MsgIcon::Question,
                    MsgButtons::YesNo) == MsgAnswer::Ok)
        runBulk(eraseAllButton, QStringLiteral("Erase All"),
                [this] { return bulk_.eraseAll(connection_.unitAddress); });
}

void MainWindow::runBulk(QPushButton* button, const QString& verb,
                         const std::function<BulkResult()>& op) {
    if (running_) { // the button reads "Stop" meanwhile
        bulk_.requestStop();
        return;
    }
    running_ = button;
    runningCaption_ = button->text();
    button->setText(QStringLiteral("S&top"));
    button->setToolTip(QStringLiteral("Stop after the request under way (Esc)"));
    escape_->setEnabled(true);
    const BulkResult result = op();
    escape_->setEnabled(false);
    running_ = nullptr;
    button->setText(runningCaption_);
    updateTooltips();
    setOperationsEnabled(!transport_.busy());
    noteOnUnit(result);
    noteOutcome(verb, result);
    if (result.reconnect && reconnectAction_)
        reconnectAction_();
}

void MainWindow::noteOutcome(const QString& verb, const BulkResult& result) {
    const QString done = verb == QLatin1String("Read All")    ? QStringLiteral("read")
                         : verb == QLatin1String("Write All") ? QStringLiteral("written")
                                                              : QStringLiteral("erased");
    QString how;
    switch (result.outcome) {
    case BulkResult::Outcome::Completed:
        break;
    case BulkResult::Outcome::Stopped:
        how = QStringLiteral("stopped, ");
        break;
    case BulkResult::Outcome::Cancelled:
        how = QStringLiteral("cancelled, ");
        break;
    case BulkResult::Outcome::PortFailed:
        how = QStringLiteral("port failed, ");
        break;
    case BulkResult::Outcome::Refused:
        how = QStringLiteral("not started, ");
        break;
    }
    lastOutcome_ = QStringLiteral("%1: %2%3 of %4 %5, %6")
                       .arg(verb, how)
                       .arg(result.done.size())
                       .arg(kInterlockCount)
                       .arg(done, QTime::currentTime().toString(QStringLiteral("HH:mm")));
    refreshStatus();
}

void MainWindow::connectionChanged() {
    failure_.clear();
    note_.clear();
    refreshStatus();
}

void MainWindow::setConnectionNote(const QString& note) {
    note_ = note;
    refreshStatus();
}

QString MainWindow::connectionText() const {
    const QString port = connection_.portName;
    QString where;
    if (port.isEmpty())
        where = QStringLiteral("No port");
    else if (isNetworkAddress(port))
        where = QStringLiteral("Network unit %1").arg(port);
    else
        where = QStringLiteral("%1, %2 baud")
                    .arg(port, connection_.commSettings.isEmpty()
                                   ? QStringLiteral("?")
                                   : connection_.commSettings.section(QLatin1Char(','), 0, 0));
    QString how;
    if (!note_.isEmpty())
        how = note_;
    else if (!failure_.isEmpty())
        how = QStringLiteral("failed: ") + failure_;
    else
        how = transport_.isOpen() ? QStringLiteral("connected") : QStringLiteral("not connected");
    return QStringLiteral("%1, unit %2: %3").arg(where).arg(connection_.unitAddress).arg(how);
}

void MainWindow::refreshStatus() {
    const QString connection = connectionText();
    statusLine->setText(lastOutcome_.isEmpty()
                            ? connection
                            : connection + QStringLiteral("   |   ") + lastOutcome_);
    commsTest_.connectionLine->setText(connection);
}

bool MainWindow::mayWrite(const QString& name) {
    if (!QFileInfo::exists(name))
        return true;
    return op_.message(QStringLiteral("%1 already exists.\r\nReplace it?")
                           .arg(QDir::toNativeSeparators(name)),
                       QStringLiteral("Save File"), MsgIcon::Question,
                       MsgButtons::YesNo) == MsgAnswer::Ok;
}

void MainWindow::setUnitAddress(int value) {
    connection_.unitAddress = value;
    addressValue->setText(withLeadingBlank(value));
    updateTooltips();
    if (editorWindow_)
        editorWindow_->updateTooltips();
}

void MainWindow::updateTooltips() {
    const int unit = connection_.unitAddress;
    readAllButton->setToolTip(QStringLiteral("Read all twenty messages from unit %1").arg(unit));
    writeAllButton->setToolTip(
        QStringLiteral("Write every message that differs from its default to unit %1").arg(unit));
    eraseAllButton->setToolTip(QStringLiteral("Erase all twenty messages of unit %1").arg(unit));
    openFileButton->setToolTip(QStringLiteral("Open a message table (*.sav or *.csv); the unit is "
                                              "not changed"));
    saveFileButton->setToolTip(QStringLiteral("Save the table to a file; the unit is not changed"));
    quitButton->setToolTip(QStringLiteral("Close the port and end QV840N"));
    printButton->setToolTip(QStringLiteral("Print the table on one page, for unit %1").arg(unit));
    exportPdfButton->setToolTip(
        QStringLiteral("Write the printed page as a PDF file, for unit %1").arg(unit));
}

void MainWindow::noteOnUnit(const BulkResult& result) {
    // A whole run: every slot that did not fail (write all sends no default).
    // Any other end: the slots the unit confirmed.
    for (int k = 0; k < kInterlockCount; ++k) {
        const bool failed = result.silent.contains(k) || result.invalid.contains(k) ||
                            std::any_of(result.rejected.cbegin(), result.rejected.cend(),
                                        [k](const RejectedReply& x) { return x.interlock == k; });
        const bool onUnit =
            result.outcome == BulkResult::Outcome::Completed ? !failed : result.done.contains(k);
        if (onUnit)
            table_.noteOnUnit(k);
    }
    updateTitle();
}

void MainWindow::updateTitle() {
    // "[*]" shows the modified mark while the table differs from its file.
    QString title = QStringLiteral("QV840 Interlock Annunciator Table, Ver 1.1");
    if (!table_.fileName().isEmpty())
        title += QStringLiteral(" - ") + QFileInfo(table_.fileName()).fileName();
    setWindowTitle(title + QStringLiteral("[*]"));
    setWindowModified(table_.modified());
}
