#include "ui/MainWindow.h"

#include "connect/ConnectionStatus.h"
#include "modbus/Pdu.h"
#include "startup/Interlocks.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "startup/UnitText.h"
#include "table/RememberedTables.h"
#include "table/TableFiles.h"
#include "transport/Transport.h"
#include "ui/CommsTestWindow.h"
#include "ui/Controls.h"
#include "ui/ElidedText.h"
#include "ui/LineHealthWindow.h"
#include "ui/LineUnitsWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/MessageEditorWindow.h"
#include "ui/ScreenFit.h"
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
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyle>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

MainWindow::MainWindow(MessageTable& table, Connection& connection, Transport& transport,
                       Operator& op, LoadedWindows& windows, CommsTestWindow& commsTest,
                       QWidget* parent)
    : QWidget(parent, Qt::Window), table_(table), connection_(connection), transport_(transport),
      op_(op), windows_(windows), commsTest_(commsTest),
      bulk_(table, transport, *this, op, commsTest.clock()), run_(bulk_, table),
      sync_(transport, *this, op, commsTest.clock()),
      editor_(table, transport, op, commsTest.clock()) {
    setObjectName(QStringLiteral("MainWindow"));
    table_.setListener(this);
    bulk_.setBlockReadMemory(blockMemory_);
    sync_.setBlockReadMemory(blockMemory_);
    updateTitle();
    buildControls();

    chooseFile_ = [this](bool save, const QString& filter, const QString& last) {
        return defaultFileChooser(this, save, filter, last);
    };
    endProgram_ = [] { QCoreApplication::exit(0); };
    connectControls();
    setupHistory();
    // Every request from now on is counted, whichever window sends it.
    transport_.setObserver(&lineCounters_);
    connect(this, &QObject::destroyed, &transport_, [t = &transport_] { t->setObserver(nullptr); });
}

void MainWindow::connectControls() {
    connect(readAllButton, &QPushButton::clicked, this,
            [this] { runBulk(readAllButton, BulkKind::ReadAll); });
    connect(writeAllButton, &QPushButton::clicked, this,
            [this] { runBulk(writeAllButton, BulkKind::WriteAll); });
    connect(eraseAllButton, &QPushButton::clicked, this, &MainWindow::eraseAll);
    connect(compareButton, &QPushButton::clicked, this, &MainWindow::compareWithUnit);
    connect(connectButton, &QPushButton::clicked, this, [this] {
        if (connectAction_)
            connectAction_();
    });
    connect(findUnitButton, &QPushButton::clicked, this, [this] {
        if (findUnitAction_)
            findUnitAction_();
    });
    connect(lineUnitsButton, &QPushButton::clicked, this, &MainWindow::showLineUnits);
    connect(lineHealthButton, &QPushButton::clicked, this, &MainWindow::showLineHealth);
    escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape_->setEnabled(false);
    connect(escape_, &QShortcut::activated, this, &MainWindow::stopRunning);
    connect(&transport_, &Transport::failed, this, [this](const QString& why) {
        failure_ = why.isEmpty() ? QStringLiteral("the port was closed") : why;
        refreshStatus();
    });
    // An answer shows what the line is now, whatever failed before.
    connect(&transport_, &Transport::frameReceived, this, [this] {
        if (failure_.isEmpty() && note_.isEmpty())
            return;
        failure_.clear();
        note_.clear();
        refreshStatus();
    });
    connect(openFileButton, &QPushButton::clicked, this, &MainWindow::openFile);
    connect(saveFileButton, &QPushButton::clicked, this, &MainWindow::saveFile);
    connect(printButton, &QPushButton::clicked, this, &MainWindow::print);
    connect(exportPdfButton, &QPushButton::clicked, this, &MainWindow::exportPdf);
    connect(quitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(commsTestButton, &QPushButton::clicked, this, &MainWindow::showCommsTest);
    connectCommsTest();
    connect(addressSpinner, &UpDown::valueChanged, this, &MainWindow::onUnitAddressChanged);
    connect(addressSpinner, &UpDown::valueChanged, this, &MainWindow::refreshStatus);
    connect(addressSpinner, &UpDown::valueChanged, this, &MainWindow::unitAddressChanged);
    for (int i = 0; i < kInterlockCount; ++i)
        connect(messageLabels[static_cast<size_t>(i)], &ClickLabel::clicked, this,
                [this, i] { messageClicked(i); });
    // A bulk operation holds the link for its whole run; the editor and the
    // comms test hold it while they wait. Nothing else may start meanwhile.
    connect(&transport_, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
}

void MainWindow::connectCommsTest() {
    // One unit address for the whole program: the comms test's spinner and
    // this one follow each other (setValue stops at an unchanged value).
    connect(addressSpinner, &UpDown::valueChanged, &commsTest_, &CommsTestWindow::setUnitAddress);
    connect(&commsTest_, &CommsTestWindow::unitAddressChanged, addressSpinner, &UpDown::setValue);
    // The comms test's Quit asks here, where the table is known.
    commsTest_.setQuitRequest([this] { close(); });
    // A message the comms test wrote to this unit is the table's too.
    connect(&commsTest_, &CommsTestWindow::messageWritten, this,
            [this](int unit, int slot, const QString& text) {
                if (unit != connection_.unitAddress)
                    return;
                table_.beginUnit(currentUnit());
                table_.setText(slot, UnitText::entryFor(text, table_.defaultText(slot)));
                table_.noteOnUnit(slot);
                updateTitle();
            });
}

void MainWindow::load() {
    windows_.loaded(this);
    // The window manager's frame is not known before the window is shown:
    // leave room for one, so that the foot stays on the screen.
    resizeWithinScreen(this, size());
    windows_.centreLastWindow();
    for (int i = 0; i < kInterlockCount; ++i)
        showLabel(i, table_.text(i));
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
    windows_.centreLastWindow();
}

MessageEditorWindow* MainWindow::editorWindow() const {
    return editorWindow_.data();
}

MainWindow::~MainWindow() {
    table_.setListener(nullptr);
}

void MainWindow::messageClicked(int index) {
    editor_.select(index);
    // One editor at a time; a click while it is open turns it to that interlock.
    if (editorWindow_) {
        editorWindow_->retarget();
        return;
    }
    editorWindow_ = new MessageEditorWindow(editor_, connection_, transport_, windows_, this);
    connect(editorWindow_, &MessageEditorWindow::delivered, this,
            [this](int k, const UnitKey& unit) {
                table_.beginUnit(unit);
                table_.noteOnUnit(k);
                updateTitle();
            });
    connect(editorWindow_, &MessageEditorWindow::reported, this, [this](const QString& outcome) {
        lastOutcome_ =
            outcome + QStringLiteral(", ") + QTime::currentTime().toString(QStringLiteral("HH:mm"));
        refreshStatus();
    });
    connect(editorWindow_, &MessageEditorWindow::reconnectRequested, this, [this] {
        if (reconnectAction_)
            reconnectAction_();
    });
    editorWindow_->load();
}

SheetInfo MainWindow::sheetInfo() const {
    SheetInfo info;
    info.messages = table_.texts();
    // A table read from a unit is that unit's, whichever is chosen now.
    const TableOrigin& origin = table_.origin();
    const bool fromUnit = origin.kind == TableOrigin::Kind::Unit;
    info.unitAddress = fromUnit ? origin.unit.unit : connection_.unitAddress;
    info.port = fromUnit ? origin.unit.port : connection_.portName();
    info.when = QDateTime::currentDateTime();
    info.fileName = table_.fileName();
    info.siteName = table_.siteName().value_or(QString());
    return info;
}

void MainWindow::setOperationsEnabled(bool on) {
    // The button of the operation under way stays: it stops it.
    for (QPushButton* b :
         {readAllButton, writeAllButton, eraseAllButton, openFileButton, saveFileButton,
          connectButton, findUnitButton, compareButton, lineUnitsButton})
        b->setEnabled(on || b == running_);
    recentFilesButton->setEnabled(on); // another table meanwhile, as Open File
    // An operation keeps the unit it started with.
    addressSpinner->setEnabled(on);
    addressValue->setEnabled(on);
}

void MainWindow::showCommsTest() {
    commsTest_.show();
    commsTest_.raise();
    commsTest_.activateWindow();
}

bool MainWindow::event(QEvent* event) {
    // The window manager frames the window after it is shown; only then is
    // its outer size known, and a frame too tall for the screen shrinks.
    // A dialog loaded since (the connection and speed dialogs at start-up)
    // may be the last loaded: it is the main window that is centred.
    if (event->type() == QEvent::WindowActivate && !framed_) {
        framed_ = true;
        windows_.centerWindow(this);
    }
    return QWidget::event(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exitConfirmed_) {
        event->accept();
        return;
    }
    if (running_) {
        // Ending in the middle would leave the unit half done: asked in those
        // words, No by default; on Yes the run stops first, then the program ends.
        event->ignore();
        const QString question =
            QStringLiteral("%1 is under way on unit %2.\r\nStop it and exit the QV840N program? "
                           "The unit keeps what was done so far; the rest is not done.")
                .arg(runningCaption_, QString::number(connection_.unitAddress));
        if (op_.message(question, {}, MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Ok)
            return;
        if (running_) { // ends once the run has stopped
            exitAfterRun_ = true;
            stopRunning();
        } else { // the run ended while the question was open
            exitConfirmed_ = true;
            hide();
            endProgram();
        }
        return;
    }
    QString question = QStringLiteral("Exit the QV840N program?");
    if (const QString note = unsavedNote(); !note.isEmpty())
        question += QStringLiteral("\r\n") + note;
    if (!op_.askOkCancel(question, {}, MsgIcon::Question)) {
        event->ignore();
        return;
    }
    exitConfirmed_ = true;
    event->accept();
    endProgram();
}

void MainWindow::endProgram() {
    commsTest_.unload();
    if (endProgram_)
        endProgram_();
}

void MainWindow::eraseAll() {
    // One stray click must not clear a whole unit.
    const QString question = QStringLiteral("Erase all %1 messages of unit %2?")
                                 .arg(countInWords(kInterlockCount))
                                 .arg(connection_.unitAddress);
    if (op_.message(question, QStringLiteral("Erase All Msgs"), MsgIcon::Question,
                    MsgButtons::YesNo) == MsgAnswer::Ok)
        runBulk(eraseAllButton, BulkKind::EraseAll);
}

void MainWindow::stopRunning() {
    run_.requestStop();
    sync_.requestStop();
}

void MainWindow::whileRunning(QPushButton* button, const std::function<void()>& body) {
    running_ = button;
    const QString caption = button->text();
    runningCaption_ = QString(caption).remove(QLatin1Char('&'));
    button->setText(QStringLiteral("S&top"));
    button->setToolTip(QStringLiteral("Stop after the request under way (Esc)"));
    escape_->setEnabled(true);
    body();
    escape_->setEnabled(false);
    running_ = nullptr;
    if (exitAfterRun_) { // Quit was asked and answered meanwhile
        exitConfirmed_ = true;
        hide();
        endProgram();
        return;
    }
    button->setText(caption);
    updateTooltips();
    setOperationsEnabled(!transport_.busy());
    updateTitle();
}

void MainWindow::runBulk(QPushButton* button, BulkKind kind) {
    if (running_) { // the button reads "Stop" meanwhile
        stopRunning();
        return;
    }
    // A read replaces the table: edits that are neither saved nor on the unit
    // are asked about, as Open File does (what is on a unit can be read again).
    if (kind == BulkKind::ReadAll && table_.unsavedChanges() &&
        !mayDropTable(QStringLiteral("Read the unit's messages in its place?")))
        return;
    bulk_.setVerifyWrites(connection_.line.verify);
    bulk_.setBlockReads(connection_.line.blockReads);
    const UnitKey unit = currentUnit();
    table_.beginUnit(unit, kind == BulkKind::ReadAll); // a read starts over
    BulkResult result;
    if (kind == BulkKind::WriteAll)
        writingAllAt_ = -1;
    whileRunning(button, [&] { result = run_.run(kind, unit.unit); });
    if (writingAllAt_) { // however it ended (refused too), no label stays blank
        writingAllAt_.reset();
        for (int k = 0; k < kInterlockCount; ++k)
            showLabel(k, table_.text(k));
    }
    if (kind == BulkKind::ReadAll && !result.done.isEmpty())
        table_.noteRead(unit, QTime::currentTime());
    if (kind == BulkKind::WriteAll && result.outcome == BulkResult::Outcome::Completed)
        table_.noteWritten(unit, QTime::currentTime());
    updateTitle();
    lastOutcome_ = bulkOutcomeText(kind, result, QTime::currentTime());
    if (kind == BulkKind::WriteAll && result.outcome == BulkResult::Outcome::Completed) {
        // An entry at its default is not sent: the unit may hold another text there.
        int hidden = 0;
        for (int k : result.unchanged)
            hidden += table_.slotState(k, unit) == SlotState::AsOnUnit ? 0 : 1;
        if (hidden > 0)
            lastOutcome_ += QStringLiteral("; %1 at %2 default %3 not changed on the unit: "
                                           "Compare with Unit shows them")
                                .arg(hidden == 1 ? QStringLiteral("1 slot")
                                                 : QStringLiteral("%1 slots").arg(hidden))
                                .arg(hidden == 1 ? QStringLiteral("its") : QStringLiteral("their"))
                                .arg(hidden == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    }
    refreshStatus();
    if (result.reconnect && reconnectAction_)
        reconnectAction_();
}

void MainWindow::connectionChanged() {
    failure_.clear();
    note_.clear();
    refreshStatus();
    refreshSource();
    if (editorWindow_) // it names the unit and port it writes to
        editorWindow_->updateTooltips();
}

void MainWindow::setConnectionNote(const QString& note) {
    note_ = note;
    refreshStatus();
}

QString MainWindow::connectionText() const {
    return connectionSummary(connection_, {transport_.isOpen(), failure_, note_});
}

void MainWindow::refreshStatus() {
    const QString connection = connectionText();
    // Cut to the window's width, whole in the tooltip.
    setElidedText(statusLine, lastOutcome_.isEmpty()
                                  ? connection
                                  : connection + QStringLiteral("   |   ") + lastOutcome_);
    commsTest_.setConnectionText(connection);
}

namespace {
// Hands each change to the history, then to a watcher.
class WatchedRecord : public ChangeRecord {
public:
    WatchedRecord(ChangeRecord& record, std::function<void(const SlotChange&)> watch)
        : record_(record), watch_(std::move(watch)) {}
    void record(const SlotChange& change) override {
        record_.record(change);
        watch_(change);
    }

private:
    ChangeRecord& record_;
    std::function<void(const SlotChange&)> watch_;
};
} // namespace

void MainWindow::showLineUnits() {
    LineUnitsWindow window(transport_, op_, table_, connection_, this);
    window.setBlockReadMemory(&blockMemory_);
    // A restore that changed the unit this window shows: its marks follow
    // what that unit now holds.
    WatchedRecord changes(history_, [this](const SlotChange& c) {
        if (c.unit != connection_.unitAddress || c.result != ChangeResult::done(c.written))
            return;
        table_.beginUnit(currentUnit());
        table_.noteUnitHolds(c.slot, c.written);
    });
    window.setChangeRecord(&changes);
    window.setReconnectAction(reconnectAction_);
    connect(&window, &LineUnitsWindow::unitChosen, this, &MainWindow::setUnitAddress);
    window.exec();
    refreshSource();
}

void MainWindow::showLineHealth() {
    LineHealthWindow window(transport_, linePort_, lineCounters_, connection_.line,
                            connection_.unitAddress, this);
    window.exec();
}

void MainWindow::setUnitAddress(int unit) {
    addressSpinner->setValue(unit); // its change does the rest
}

void MainWindow::onUnitAddressChanged(int value) {
    connection_.unitAddress = value;
    addressValue->setText(withLeadingBlank(value));
    refreshSource();
    updateTooltips();
    if (editorWindow_)
        editorWindow_->updateTooltips();
}

void MainWindow::updateTooltips() {
    const int unit = connection_.unitAddress;
    const QString all = countInWords(kInterlockCount);
    readAllButton->setToolTip(
        QStringLiteral("Read all %1 messages from unit %2").arg(all).arg(unit));
    writeAllButton->setToolTip(
        QStringLiteral("Write every message that differs from its default to unit %1").arg(unit));
    eraseAllButton->setToolTip(
        QStringLiteral("Erase all %1 messages of unit %2").arg(all).arg(unit));
    commsTestButton->setToolTip(QStringLiteral("Open the comms-test window"));
    connectButton->setToolTip(
        QStringLiteral("Choose another port or speed, or open the same again"));
    findUnitButton->setToolTip(
        QStringLiteral("Look for a unit whose address or speed is not known"));
    lineUnitsButton->setToolTip(QStringLiteral("Every unit on the line: back up, compare and "
                                               "restore them all"));
    compareButton->setToolTip(
        QStringLiteral("Read unit %1 and show the slots that differ from the table; write the "
                       "ones you choose")
            .arg(unit));
    openFileButton->setToolTip(QStringLiteral("Open a message table (*.sav or *.csv); the unit is "
                                              "not changed"));
    saveFileButton->setToolTip(QStringLiteral("Save the table to a file; the unit is not changed"));
    quitButton->setToolTip(QStringLiteral("Close the port and end QV840N"));
    printButton->setToolTip(QStringLiteral("Print the table on one page, for unit %1").arg(unit));
    exportPdfButton->setToolTip(
        QStringLiteral("Write the printed page as a PDF file, for unit %1").arg(unit));
}

void MainWindow::updateTitle() {
    // "[*]" shows the modified mark while the table differs from its file.
    QString title = QStringLiteral("QV840 Interlock Annunciator Table, Ver " QV_VERSION);
    if (!table_.fileName().isEmpty())
        title += QStringLiteral(" - ") +
                 shortTableName(table_.fileName(), RecentFiles(settings()).files());
    setWindowTitle(title + QStringLiteral("[*]"));
    setWindowModified(table_.modified());
    refreshSource();
}
