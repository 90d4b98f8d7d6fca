#include "ui/frmMessages.h"

#include "modbus/Pdu.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "table/CsvTable.h"
#include "table/Interlocks.h"
#include "table/TableFile.h"
#include "transport/Endpoint.h"
#include "transport/Transport.h"
#include "ui/Controls.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/SheetPrinter.h"
#include "ui/frmWrite.h"

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

// ---------------------------------------------------------------- frmMessages

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

frmMessages::frmMessages(SharedState& state, Transport& transport, Operator& op,
                         LoadedWindows& windows, Frmtext& commsTest, QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), transport_(transport), op_(op), windows_(windows),
      commsTest_(commsTest), bulk_(state, transport, *this, op, commsTest.clock()),
      editor_(state, transport, *this, op, commsTest.clock()) {
    setObjectName(QStringLiteral("frmMessages"));
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

    connect(cmdReadAll, &QPushButton::clicked, this, [this] {
        runBulk(cmdReadAll, QStringLiteral("Read All"), [this] {
            tableFile_.clear();
            updateTitle();
            return bulk_.readAll();
        });
    });
    connect(cmdWriteAll, &QPushButton::clicked, this, [this] {
        runBulk(cmdWriteAll, QStringLiteral("Write All"), [this] { return bulk_.writeAll(); });
    });
    connect(cmdEraseAll, &QPushButton::clicked, this, &frmMessages::eraseAll);
    connect(cmdConnect, &QPushButton::clicked, this, [this] {
        if (connectAction_)
            connectAction_();
    });
    connect(cmdFindUnit, &QPushButton::clicked, this, [this] {
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
    connect(cmdOpenFile, &QPushButton::clicked, this, &frmMessages::openFile);
    connect(cmdSaveFile, &QPushButton::clicked, this, &frmMessages::saveFile);
    connect(cmdPrint, &QPushButton::clicked, this, [this] { printSheet(this, sheetInfo()); });
    connect(cmdExportPdf, &QPushButton::clicked, this, &frmMessages::exportPdf);
    connect(cmdQuit, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdCommsTest, &QPushButton::clicked, this, &frmMessages::showCommsTest);
    connect(UpDown1, &UpDown::valueChanged, this, &frmMessages::setUnitAddress);
    connect(UpDown1, &UpDown::valueChanged, this, &frmMessages::refreshStatus);
    // One unit address for the whole program: the comms test's spinner and
    // this one follow each other (setValue stops at an unchanged value).
    connect(UpDown1, &UpDown::valueChanged, commsTest_.UpDown2, &UpDown::setValue);
    connect(commsTest_.UpDown2, &UpDown::valueChanged, UpDown1, &UpDown::setValue);
    for (int i = 0; i < kInterlockCount; ++i)
        connect(Label1[static_cast<size_t>(i)], &ClickLabel::clicked, this,
                [this, i] { messageClicked(i); });
    // A bulk operation holds the link for its whole run; the editor and the
    // comms test hold it while they wait. Nothing else may start meanwhile.
    connect(&transport_, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
}

QGroupBox* frmMessages::groupFrame(int group, const QColor& background, const QColor& caption) {
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

QLabel* frmMessages::terminalLabel(int k, QWidget* frame, int rowHeight) {
    int widestCaption = 0;
    for (int i = 0; i < kInterlockCount; ++i)
        widestCaption = qMax(widestCaption, fontMetrics().horizontalAdvance(terminalCaption(i)));
    auto* terminal = new QLabel(terminalCaption(k), frame);
    terminal->setObjectName(QStringLiteral("Label2_%1").arg(k));
    terminal->setAlignment(Qt::AlignCenter);
    terminal->setAutoFillBackground(true);
    QPalette tp = terminal->palette();
    tp.setColor(QPalette::Window, kTerminalGrey);
    tp.setColor(QPalette::WindowText, Qt::black);
    terminal->setPalette(tp);
    terminal->setMinimumSize(qMax(px(kTerminalWidth), widestCaption + 8), rowHeight);
    terminal->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Label2[static_cast<size_t>(k)] = terminal;
    return terminal;
}

ClickLabel* frmMessages::messageLabel(int k, QWidget* frame, int rowHeight) {
    auto* message = new ClickLabel(frame);
    message->setObjectName(QStringLiteral("Label1_%1").arg(k));
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
    Label1[static_cast<size_t>(k)] = message;
    return message;
}

void frmMessages::buildControls() {
    Frame[0] = groupFrame(0, QColor(128, 64, 0), QColor(224, 224, 224));
    Frame[1] = groupFrame(1, QColor(128, 128, 255), Qt::black);
    Frame[2] = groupFrame(2, QColor(255, 255, 0), Qt::black);
    Frame[3] = groupFrame(3, QColor(0, 128, 128), Qt::black);
    for (int i = 0; i < 4; ++i)
        Frame[static_cast<size_t>(i)]->setObjectName(QStringLiteral("Frame%1").arg(i + 1));
    Frame[4] = buildCommandCenter();

    // Left column: Recycle, Oil, Gas, then the progress bar.
    auto* left = new QVBoxLayout;
    left->setSpacing(px(225));
    left->addWidget(Frame[0], 2295);
    left->addWidget(Frame[2], 2295);
    left->addWidget(Frame[3], 2055);
    left->addLayout(buildProgress());

    // Right column: Non-Recycle over the Command Center, which sits a little
    // in from the column's edges.
    auto* ccRow = new QHBoxLayout;
    ccRow->setContentsMargins(px(6600 - 6360), 0, px(11960 - 11775), 0);
    ccRow->addWidget(Frame[4]);
    auto* right = new QVBoxLayout;
    right->setSpacing(0);
    right->addWidget(Frame[1], 4695);
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
    lblStatus = panelLabel(QStringLiteral("lblStatus"), this);
    lblStatus->setToolTip(QStringLiteral("The port, its speed, the unit address, the state of the "
                                         "connection and the last operation's outcome"));
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(0, 0, 0, 0);
    all->setSpacing(0);
    all->addLayout(columns, 1);
    all->addWidget(lblStatus);
}

QGroupBox* frmMessages::buildCommandCenter() {
    auto* cc = new QGroupBox(QStringLiteral("Command Center"), this);
    cc->setObjectName(QStringLiteral("Frame5"));
    cc->setAutoFillBackground(true);
    QPalette ccPal = cc->palette();
    ccPal.setColor(QPalette::Window, kTerminalGrey);
    ccPal.setColor(QPalette::WindowText, Qt::black);
    cc->setPalette(ccPal);
    cmdReadAll = button(QStringLiteral("cmdReadAll"), QStringLiteral("&Read All Msgs"), cc);
    cmdWriteAll = button(QStringLiteral("cmdWriteAll"), QStringLiteral("&Write All Msgs"), cc);
    cmdEraseAll = button(QStringLiteral("cmdEraseAll"), QStringLiteral("&Erase All Msgs"), cc);
    cmdOpenFile = button(QStringLiteral("cmdOpenFile"), QStringLiteral("&Open File"), cc);
    cmdSaveFile = button(QStringLiteral("cmdSaveFile"), QStringLiteral("&Save File"), cc);
    cmdQuit = button(QStringLiteral("cmdQuit"), QStringLiteral("&Quit"), cc);
    cmdCommsTest = button(QStringLiteral("cmdCommsTest"), QStringLiteral("&Comms Test..."), cc);
    cmdCommsTest->setToolTip(QStringLiteral("Open the comms-test window"));
    cmdPrint = button(QStringLiteral("cmdPrint"), QStringLiteral("&Print..."), cc);
    cmdExportPdf = button(QStringLiteral("cmdExportPdf"), QStringLiteral("E&xport PDF..."), cc);
    cmdConnect = button(QStringLiteral("cmdConnect"), QStringLiteral("Co&nnect..."), cc);
    cmdConnect->setToolTip(QStringLiteral("Choose another port or speed, or open the same again"));
    cmdFindUnit = button(QStringLiteral("cmdFindUnit"), QStringLiteral("&Find Unit..."), cc);
    cmdFindUnit->setToolTip(QStringLiteral("Look for a unit whose address or speed is not known"));
    cmdReadAll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);

    auto* grid = new QGridLayout(cc);
    grid->setSpacing(4);
    grid->addWidget(cmdReadAll, 0, 0, 2, 1);
    grid->addWidget(cmdWriteAll, 0, 1);
    grid->addWidget(cmdEraseAll, 1, 1);
    grid->addWidget(cmdOpenFile, 2, 0);
    grid->addWidget(cmdSaveFile, 2, 1);
    grid->addWidget(cmdQuit, 3, 0, 1, 2);
    grid->addLayout(buildAddress(cc), 0, 2, 3, 1);
    grid->addWidget(cmdCommsTest, 3, 2);
    grid->addWidget(cmdPrint, 4, 0);
    grid->addWidget(cmdExportPdf, 4, 1);
    grid->addWidget(cmdConnect, 4, 2);
    grid->addWidget(cmdFindUnit, 5, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    return cc;
}

// The unit address: its value over the spinner over the caption.
QLayout* frmMessages::buildAddress(QWidget* cc) {
    Label3 = new QLabel(cc);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setAlignment(Qt::AlignCenter);
    Label3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label3->setAutoFillBackground(true);
    QPalette lp = Label3->palette();
    lp.setColor(QPalette::Window, Qt::white);
    Label3->setPalette(lp);
    Label3->setMinimumWidth(Label3->fontMetrics().horizontalAdvance(QStringLiteral(" 310")) + 8);
    UpDown1 = new UpDown(cc);
    UpDown1->setObjectName(QStringLiteral("UpDown1"));
    UpDown1->setRange(kFirstUnitAddress, kLastUnitAddress);
    UpDown1->setSingleStep(1);
    UpDown1->setToolTip(QStringLiteral("Unit address: arrows, digits, Page Up/Down by 10"));
    UpDown1->setTypedDigits(true);
    UpDown1->setMinimumHeight(fontMetrics().height() * 2);
    Label5 = new QLabel(QStringLiteral("Adr"), cc);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setAlignment(Qt::AlignCenter);

    auto* address = new QVBoxLayout;
    address->setSpacing(2);
    address->addWidget(Label3);
    address->addWidget(UpDown1, 0, Qt::AlignHCenter);
    address->addWidget(Label5);
    address->addStretch(1);
    return address;
}

QLayout* frmMessages::buildProgress() {
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedHeight(qMax(px(150), fontMetrics().height() / 2));
    Label4 = new QLabel(QStringLiteral("Read/Write Progress"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    QPalette dark = Label4->palette(); // black on the grey form: 5.3:1
    dark.setColor(QPalette::WindowText, Qt::black);
    Label4->setPalette(dark);
    auto* progress = new QVBoxLayout;
    progress->setSpacing(2);
    progress->addWidget(ProgressBar1);
    progress->addWidget(Label4);
    return progress;
}

void frmMessages::load() {
    windows_.loaded(this);
    windows_.centerForm();
    for (int i = 0; i < kInterlockCount; ++i)
        setMessageLabel(i, state_.DefaultMessages[static_cast<size_t>(i)]);
    // Every default message stays whole however far the window shrinks.
    int widest = 0;
    for (int i = 0; i < kInterlockCount; ++i)
        widest =
            qMax(widest,
                 fontMetrics().horizontalAdvance(state_.DefaultMessages[static_cast<size_t>(i)]));
    for (ClickLabel* label : Label1)
        label->setMinimumWidth(widest + 2 * label->indent() + 2 * label->frameWidth() + 2);
    UpDown1->setValue(state_.UnitAddress);
    Label3->setText(withLeadingBlank(state_.UnitAddress));
    updateTooltips();
    noteSaved();
    refreshStatus();
    show();
    // Centred again now that the window manager has framed it.
    windows_.centerForm();
}

frmWrite* frmMessages::editorWindow() const {
    return editorWindow_.data();
}

void frmMessages::setMessageLabel(int index, const QString& text) {
    // A control character the unit holds is shown as \xHH, never acted on.
    if (index >= 0 && index < kInterlockCount)
        Label1[static_cast<size_t>(index)]->setFullText(MessageText::escaped(text));
}

void frmMessages::setProgress(int, int value) {
    ProgressBar1->setValue(qBound(0, value, 100));
}

void frmMessages::messageClicked(int index) {
    state_.SelectedInterlock = static_cast<std::int16_t>(index);
    // One editor at a time; a click while it is open turns it to that interlock.
    if (editorWindow_) {
        editorWindow_->retarget();
        return;
    }
    editorWindow_ = new frmWrite(editor_, transport_, windows_, this);
    connect(editorWindow_, &frmWrite::delivered, this, [this](int k) {
        onUnit_[static_cast<size_t>(k)] = state_.InterlockMessages[static_cast<size_t>(k)];
        updateTitle();
    });
    connect(editorWindow_, &frmWrite::reconnectRequested, this, [this] {
        if (reconnectAction_)
            reconnectAction_();
    });
    editorWindow_->load();
}

namespace {
const QString kTableFilters = QStringLiteral("Message table (*.sav);;CSV table (*.csv)");
} // namespace

void frmMessages::saveFile() {
    const QString name = chooseFile_(true, kTableFilters, fileName_);
    if (name.isEmpty() || !mayWrite(name))
        return;
    fileName_ = name;
    bool ok = false;
    QString message;
    if (isCsvName(name)) {
        const CsvResult c = writeCsvTable(name, state_.InterlockMessages);
        ok = c.ok;
        message = c.ok ? QString() : c.message;
    } else {
        const TableFileResult r = saveTable(name, state_.InterlockMessages);
        ok = r.written;
        message = r.message;
    }
    if (ok) {
        tableFile_ = name;
        noteSaved();
    }
    if (!message.isEmpty())
        op_.message(message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

void frmMessages::openFile() {
    const QString name = chooseFile_(false, kTableFilters, fileName_);
    if (name.isEmpty())
        return;
    fileName_ = name;
    if (isCsvName(name)) {
        const CsvResult c = readCsvTable(name, state_.DefaultMessages, state_.InterlockMessages);
        if (c.ok)
            tableFile_ = name;
        for (int i = 0; c.ok && i < kInterlockCount; ++i)
            setMessageLabel(i, state_.InterlockMessages[static_cast<size_t>(i)]);
        if (c.ok)
            noteSaved();
        if (!c.ok)
            op_.message(c.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    const TableFileResult r = openTable(name, state_.InterlockMessages);
    if (r.ok)
        tableFile_ = name;
    for (int i = 0; i < r.entriesRead; ++i)
        setMessageLabel(i, state_.InterlockMessages[static_cast<size_t>(i)]);
    if (r.ok)
        noteSaved();
    updateTitle();
    if (!r.message.isEmpty())
        op_.message(r.message, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}

SheetInfo frmMessages::sheetInfo() const {
    SheetInfo info;
    info.messages = state_.InterlockMessages;
    info.unitAddress = state_.UnitAddress;
    info.port = state_.PortName;
    info.when = QDateTime::currentDateTime();
    info.fileName = tableFile_;
    return info;
}

void frmMessages::exportPdf() {
    const QString name = chooseFile_(true, QStringLiteral("PDF (*.pdf)"), QString());
    if (name.isEmpty() || !mayWrite(name))
        return;
    QString why;
    if (!writeSheetPdf(name, sheetInfo(), defaultSheetPaper(), &why))
        op_.message(QStringLiteral("Cannot write %1: %2").arg(name, why), {}, MsgIcon::Exclamation,
                    MsgButtons::Ok);
}

void frmMessages::setOperationsEnabled(bool on) {
    // The button of the operation under way stays: it stops it.
    for (QPushButton* b :
         {cmdReadAll, cmdWriteAll, cmdEraseAll, cmdOpenFile, cmdSaveFile, cmdConnect, cmdFindUnit})
        b->setEnabled(on || b == running_);
    // An operation keeps the unit it started with.
    UpDown1->setEnabled(on);
}

void frmMessages::showCommsTest() {
    commsTest_.show();
    commsTest_.raise();
    commsTest_.activateWindow();
}

bool frmMessages::event(QEvent* event) {
    // The window manager frames the window after it is shown; only then is
    // its outer size known, and a frame too tall for the screen shrinks.
    if (event->type() == QEvent::WindowActivate && !framed_ && windows_.last() == this) {
        framed_ = true;
        windows_.centerForm();
    }
    return QWidget::event(event);
}

void frmMessages::closeEvent(QCloseEvent* event) {
    if (exitConfirmed_) {
        event->accept();
        return;
    }
    QString question = QStringLiteral("Exit the QV840N program?");
    if (unsavedChanges())
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

void frmMessages::eraseAll() {
    // One stray click must not clear a whole unit.
    const QString question =
        QStringLiteral("Erase all twenty messages of unit %1?").arg(state_.UnitAddress);
    if (op_.message(question, QStringLiteral("Erase All Msgs"), MsgIcon::Question,
                    MsgButtons::YesNo) == MsgAnswer::Ok)
        runBulk(cmdEraseAll, QStringLiteral("Erase All"), [this] { return bulk_.eraseAll(); });
}

void frmMessages::runBulk(QPushButton* button, const QString& verb,
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

void frmMessages::noteOutcome(const QString& verb, const BulkResult& result) {
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

void frmMessages::connectionChanged() {
    failure_.clear();
    note_.clear();
    refreshStatus();
}

void frmMessages::setConnectionNote(const QString& note) {
    note_ = note;
    refreshStatus();
}

QString frmMessages::connectionText() const {
    const QString port = state_.PortName;
    QString where;
    if (port.isEmpty())
        where = QStringLiteral("No port");
    else if (isNetworkAddress(port))
        where = QStringLiteral("Network unit %1").arg(port);
    else
        where = QStringLiteral("%1, %2 baud")
                    .arg(port, state_.CommSettings.isEmpty()
                                   ? QStringLiteral("?")
                                   : state_.CommSettings.section(QLatin1Char(','), 0, 0));
    QString how;
    if (!note_.isEmpty())
        how = note_;
    else if (!failure_.isEmpty())
        how = QStringLiteral("failed: ") + failure_;
    else
        how = transport_.isOpen() ? QStringLiteral("connected") : QStringLiteral("not connected");
    return QStringLiteral("%1, unit %2: %3").arg(where).arg(state_.UnitAddress).arg(how);
}

void frmMessages::refreshStatus() {
    const QString connection = connectionText();
    lblStatus->setText(lastOutcome_.isEmpty()
                           ? connection
                           : connection + QStringLiteral("   |   ") + lastOutcome_);
    commsTest_.lblConnection->setText(connection);
}

bool frmMessages::mayWrite(const QString& name) {
    if (!QFileInfo::exists(name))
        return true;
    return op_.message(QStringLiteral("%1 already exists.\r\nReplace it?")
                           .arg(QDir::toNativeSeparators(name)),
                       QStringLiteral("Save File"), MsgIcon::Question,
                       MsgButtons::YesNo) == MsgAnswer::Ok;
}

void frmMessages::setUnitAddress(int value) {
    state_.UnitAddress = static_cast<std::int16_t>(value);
    Label3->setText(withLeadingBlank(value));
    updateTooltips();
    if (editorWindow_)
        editorWindow_->updateTooltips();
}

void frmMessages::updateTooltips() {
    const int unit = state_.UnitAddress;
    cmdReadAll->setToolTip(QStringLiteral("Read all twenty messages from unit %1").arg(unit));
    cmdWriteAll->setToolTip(
        QStringLiteral("Write every message that differs from its default to unit %1").arg(unit));
    cmdEraseAll->setToolTip(QStringLiteral("Erase all twenty messages of unit %1").arg(unit));
    cmdOpenFile->setToolTip(QStringLiteral("Open a message table (*.sav or *.csv); the unit is "
                                           "not changed"));
    cmdSaveFile->setToolTip(QStringLiteral("Save the table to a file; the unit is not changed"));
    cmdQuit->setToolTip(QStringLiteral("Close the port and end QV840N"));
    cmdPrint->setToolTip(QStringLiteral("Print the table on one page, for unit %1").arg(unit));
    cmdExportPdf->setToolTip(
        QStringLiteral("Write the printed page as a PDF file, for unit %1").arg(unit));
}

bool frmMessages::unsavedChanges() const {
    for (size_t k = 0; k < size_t(kInterlockCount); ++k) {
        const QString& t = state_.InterlockMessages[k];
        if (t != saved_[k] && onUnit_[k] != t)
            return true;
    }
    return false;
}

void frmMessages::noteSaved() {
    saved_ = state_.InterlockMessages;
    updateTitle();
}

void frmMessages::noteOnUnit(const BulkResult& result) {
    // A whole run: every slot that did not fail (write all sends no default).
    // Any other end: the slots the unit confirmed.
    for (int k = 0; k < kInterlockCount; ++k) {
        const bool failed = result.silent.contains(k) || result.invalid.contains(k) ||
                            std::any_of(result.rejected.cbegin(), result.rejected.cend(),
                                        [k](const RejectedReply& x) { return x.interlock == k; });
        const bool onUnit =
            result.outcome == BulkResult::Outcome::Completed ? !failed : result.done.contains(k);
        if (onUnit)
            onUnit_[static_cast<size_t>(k)] = state_.InterlockMessages[static_cast<size_t>(k)];
    }
    updateTitle();
}

void frmMessages::updateTitle() {
    // "[*]" shows the modified mark while the table differs from its file.
    QString title = QStringLiteral("QV840 Interlock Annunciator Table, Ver 1.1");
    if (!tableFile_.isEmpty())
        title += QStringLiteral(" - ") + QFileInfo(tableFile_).fileName();
    setWindowTitle(title + QStringLiteral("[*]"));
    setWindowModified(state_.InterlockMessages != saved_);
}
