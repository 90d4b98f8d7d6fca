#include "ui/MessageEditorWindow.h"

#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"
#include "table/UnitPreview.h"
#include "transport/Transport.h"
#include "ui/Contrast.h"
#include "ui/Controls.h"
#include "ui/HelpWindow.h"
#include "ui/LoadedWindows.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace {
const QString kCountTip = QStringLiteral("Characters in the new message, of the %1 the unit holds");
} // namespace

MessageEditorWindow::MessageEditorWindow(Editor& editor, const Connection& connection,
                                         Transport& transport, LoadedWindows& windows,
                                         QWidget* parent)
    : QWidget(parent, Qt::Window), editor_(editor), connection_(connection), transport_(transport),
      windows_(windows) {
    setObjectName(QStringLiteral("MessageEditorWindow"));
    setWindowTitle(QStringLiteral("Write or Erase Current Message"));
    setAttribute(Qt::WA_DeleteOnClose);

    interlockCaption = new QLabel(QStringLiteral("Interlock Number"), this);
    interlockCaption->setObjectName(QStringLiteral("interlockCaption"));
    interlockValue = panelLabel(QStringLiteral("interlockValue"), this);
    interlockValue->setMinimumHeight(interlockValue->fontMetrics().height() + 8);
    unitValue = new QLabel(this); // where a write goes: the unit and its port
    unitValue->setObjectName(QStringLiteral("unitValue"));
    currentCaption = new QLabel(QStringLiteral("Current Msg"), this);
    currentCaption->setObjectName(QStringLiteral("currentCaption"));
    currentValue = panelLabel(QStringLiteral("currentValue"), this);
    currentValue->setMinimumHeight(currentValue->fontMetrics().height() + 8);
    newCaption = new QLabel(QStringLiteral("New Msg"), this);
    newCaption->setObjectName(QStringLiteral("newCaption"));
    newTextEdit = new QLineEdit(this);
    newTextEdit->setObjectName(QStringLiteral("newTextEdit"));
    const int widestMessage = // a full message of the widest letter
        fontMetrics().horizontalAdvance(QString(kMessageMaxLength, QLatin1Char('W'))) + 16;
    newTextEdit->setMinimumWidth(widestMessage);
    currentValue->setMinimumWidth(widestMessage);
    countLabel = new QLabel(this);
    countLabel->setObjectName(QStringLiteral("countLabel"));
    countLabel->setToolTip(kCountTip.arg(kMessageMaxLength));
    countLabel->setMinimumWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("000/%1").arg(kMessageMaxLength)));
    buildPreview();
    buildButtons();
    buildLayout();

    connect(writeButton, &QPushButton::clicked, this, [this] { run(&Editor::write); });
    connect(eraseButton, &QPushButton::clicked, this, [this] { run(&Editor::erase); });
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(putBackButton, &QPushButton::clicked, this, &MessageEditorWindow::putBack);
    // Return in the text box writes; Escape closes.
    connect(newTextEdit, &QLineEdit::returnPressed, writeButton, &QPushButton::click);
    connect(newTextEdit, &QLineEdit::textChanged, this, &MessageEditorWindow::updateCount);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    updateCount();
    connect(&transport, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
    setOperationsEnabled(!transport.busy());
}

void MessageEditorWindow::buildButtons() {
    writeButton = commandButton(QStringLiteral("writeButton"), QStringLiteral("&Write"), this);
    eraseButton = commandButton(QStringLiteral("eraseButton"), QStringLiteral("&Erase"), this);
    closeButton = commandButton(QStringLiteral("closeButton"), QStringLiteral("&Close"), this);
    putBackButton =
        commandButton(QStringLiteral("putBackButton"), QStringLiteral("Put &Back"), this);
    putBackButton->setEnabled(false);
    addHelpKey(this, QStringLiteral("Editor. ")); // F1: the help, at the editor's part
}

// The three rows of name, current and new message over the buttons.
void MessageEditorWindow::buildLayout() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(interlockCaption, 0, 0);
    auto* interlockRow = new QHBoxLayout;
    interlockRow->addWidget(interlockValue);
    interlockRow->addSpacing(12);
    interlockRow->addWidget(unitValue, 1);
    grid->addLayout(interlockRow, 0, 1);
    grid->addWidget(currentCaption, 1, 0);
    grid->addWidget(currentValue, 1, 1);
    currentSource = new QLabel(this);
    currentSource->setObjectName(QStringLiteral("currentSource"));
    grid->addWidget(currentSource, 2, 1);
    newTextEdit->setAccessibleName(QStringLiteral("New message"));
    newCaption->setBuddy(newTextEdit);
    grid->addWidget(newCaption, 3, 0);
    grid->addWidget(newTextEdit, 3, 1);
    grid->addWidget(countLabel, 3, 2);
    grid->addWidget(previewCaption, 4, 0);
    grid->addWidget(previewRow, 4, 1, Qt::AlignLeft);
    grid->addWidget(previewBeyond, 4, 2);
    grid->setColumnStretch(1, 1);
    interlockValue->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMM")));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(putBackButton);
    buttons->addStretch(1);
    buttons->addWidget(writeButton);
    buttons->addWidget(eraseButton);
    buttons->addWidget(closeButton);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(14, 14, 14, 14);
    all->setSpacing(14);
    all->addLayout(grid);
    all->addLayout(buttons);
}

namespace {
// The unit's display: light characters on a dark glass, a cell it cannot
// show on red (white on it). Each pair reads at 4.5:1 or better.
const QColor kGlass(0x10, 0x1C, 0x10);
const QColor kGlassUnused(0x05, 0x0A, 0x05);
const QColor kGlyph(0x9C, 0xFF, 0x9C);
const QColor kMarked(0xC0, 0x00, 0x00);
} // namespace

QFrame* MessageEditorWindow::buildPreview() {
    previewCaption = new QLabel(QStringLiteral("Unit Shows"), this);
    previewCaption->setObjectName(QStringLiteral("previewCaption"));
    previewRow = new QFrame(this);
    previewRow->setObjectName(QStringLiteral("previewRow"));
    previewRow->setToolTip(QStringLiteral("The new message as the unit will show it: %1 cells, "
                                          "filled from the first")
                               .arg(countInWords(kMessageMaxLength)));
    auto* row = new QHBoxLayout(previewRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(1);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setBold(true);
    const QFontMetrics metrics(mono);
    for (int i = 0; i < kMessageMaxLength; ++i) {
        auto* cell = new QLabel(previewRow);
        cell->setObjectName(QStringLiteral("previewCell_%1").arg(i));
        cell->setFont(mono);
        cell->setTextFormat(Qt::PlainText);
        cell->setAlignment(Qt::AlignCenter);
        cell->setAutoFillBackground(true);
        cell->setFixedSize(metrics.horizontalAdvance(QLatin1Char('W')) + 4, metrics.height() + 6);
        previewCells[size_t(i)] = cell;
        row->addWidget(cell);
    }
    previewBeyond = new QLabel(this);
    previewBeyond->setObjectName(QStringLiteral("previewBeyond"));
    QPalette red = previewBeyond->palette();
    red.setColor(QPalette::WindowText, legibleOn(kMarked, red.color(QPalette::Window)));
    previewBeyond->setPalette(red);
    connect(newTextEdit, &QLineEdit::textChanged, this, &MessageEditorWindow::updatePreview);
    updatePreview();
    return previewRow;
}

void MessageEditorWindow::updatePreview() {
    const UnitPreview preview = previewOnUnit(newTextEdit->text());
    for (int i = 0; i < kMessageMaxLength; ++i) {
        const PreviewCell& cell = preview.cells[size_t(i)];
        QLabel* label = previewCells[size_t(i)];
        const bool marked = cell.kind == PreviewCell::Kind::Unshowable;
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, marked                                  ? kMarked
                                       : cell.kind == PreviewCell::Kind::Blank ? kGlassUnused
                                                                               : kGlass);
        pal.setColor(QPalette::WindowText, marked ? QColor(Qt::white) : kGlyph);
        label->setPalette(pal);
        label->setText(cell.kind == PreviewCell::Kind::Blank ? QString() : QString(cell.glyph));
        label->setToolTip(cell.note);
        label->setProperty("marked", marked);
    }
    previewBeyond->setText(preview.beyond > 0 ? QStringLiteral("+%1").arg(preview.beyond)
                                              : QString());
    previewBeyond->setToolTip(
        preview.beyond > 0 ? QStringLiteral("%1 characters past the fortieth cell: the unit holds "
                                            "none of them")
                                 .arg(preview.beyond)
                           : QString());
}

void MessageEditorWindow::load() {
    windows_.loaded(this);
    adjustSize();
    windows_.centreLastWindow();
    showInterlock();
    show();
    // Centred again now that the window manager has framed it.
    windows_.centreLastWindow();
    raise();
    activateWindow();
    // The text box has the keyboard once the window is active.
    newTextEdit->setFocus();
}

void MessageEditorWindow::showInterlock() {
    if (interlock_ >= 0 && interlock_ < kInterlockCount)
        drafts_[size_t(interlock_)] = newTextEdit->text();
    interlock_ = editor_.selected();
    interlockValue->setText(editor_.terminalName());
    setCurrentValue(editor_.currentMessage());
    newTextEdit->setText(
        interlock_ >= 0 && interlock_ < kInterlockCount ? drafts_[size_t(interlock_)] : QString());
    updateTooltips();
}

void MessageEditorWindow::updateTooltips() {
    const QString where = QStringLiteral("interlock %1 of unit %2")
                              .arg(editor_.terminalName())
                              .arg(connection_.unitAddress);
    writeButton->setToolTip(QStringLiteral("Write the new message to ") + where + " (Return)");
    eraseButton->setToolTip(QStringLiteral("Erase the message of ") + where);
    closeButton->setToolTip(QStringLiteral("Close this window (Escape)"));
    shown_ = target();
    unitValue->setText(QStringLiteral("unit %1 on %2")
                           .arg(shown_.unit)
                           .arg(shown_.port.isEmpty() ? QStringLiteral("no port") : shown_.port));
    refreshPutBack();
    showCurrentSource();
}

void MessageEditorWindow::showCurrentSource() {
    if (interlock_ < 0 || interlock_ >= kInterlockCount)
        return currentSource->clear();
    const SlotState state = editor_.table().slotState(interlock_, shown_);
    const QString text =
        (state == SlotState::AsOnUnit ? QStringLiteral("As on unit %1")
         : state == SlotState::Edited ? QStringLiteral("The table's text: unit %1 holds another")
                                      : QStringLiteral("The table's text: not read from unit %1"))
            .arg(shown_.unit);
    currentSource->setText(text);
    currentValue->setAccessibleDescription(text);
}

void MessageEditorWindow::retarget() {
    if (inTransaction_)
        return; // the main window's labels are disabled meanwhile anyway
    showInterlock();
    show();
    raise();
    activateWindow();
    newTextEdit->setFocus();
}

void MessageEditorWindow::updateCount() {
    const QString text = newTextEdit->text();
    // Why the count turns red, in its tooltip.
    QString why;
    using UnitText::Fault;
    const UnitText::Verdict v = UnitText::judge(text, UnitText::Source::Typed);
    if (v.fault == Fault::TooLong)
        why = QStringLiteral("%1 characters: the unit holds %2")
                  .arg(text.size())
                  .arg(kMessageMaxLength);
    else if (v.fault == Fault::EndsText || v.fault == Fault::Control)
        why = QStringLiteral("%1 at position %2 cannot be sent")
                  .arg(MessageText::describeUnsendable(v.character))
                  .arg(v.position + 1);
    else if (v.fault == Fault::NoCode)
        why = QStringLiteral("%1 at position %2 has no code the unit can show")
                  .arg(CodePage::describe(v.character))
                  .arg(v.position + 1);
    const bool bad = !why.isEmpty();
    countLabel->setText(QStringLiteral("%1/%2").arg(text.size()).arg(kMessageMaxLength));
    countLabel->setToolTip(bad ? why : kCountTip.arg(kMessageMaxLength));
    QPalette pal = palette();
    if (bad) // red, as legible on a dark theme as on a light one
        pal.setColor(QPalette::WindowText,
                     legibleOn(QColor(0xC0, 0, 0), pal.color(QPalette::Window)));
    countLabel->setPalette(pal);
    countLabel->setProperty("bad", bad);
    // Not by colour alone: a screen reader hears the count, and why it is wrong.
    newTextEdit->setAccessibleDescription(bad ? countLabel->text() + QStringLiteral(": ") + why
                                              : countLabel->text());
}

UnitKey MessageEditorWindow::target() const {
    return {connection_.unitAddress, transport_.endpointName()};
}

void MessageEditorWindow::run(Editor::Outcome (Editor::*action)(EditorView&, int)) {
    // A write goes only to the unit and port the window names: after a change
    // under it, the window names the new ones first, and sends nothing.
    if (target() != shown_) {
        updateTooltips();
        emit reported(
            QStringLiteral("%1 %2: not sent; the editor now writes to %3")
                .arg(action == &Editor::write ? QStringLiteral("Write") : QStringLiteral("Erase"),
                     editor_.terminalName(), unitValue->text()));
        return;
    }
    // The unit named now is the one written, whatever is chosen while it runs.
    const UnitKey unit = shown_;
    // Put Back gives the unit what it held, when that is known.
    const std::optional<QString> held = editor_.table().knownOnUnit(interlock_, unit);
    // The window must not go away while its transaction waits for the unit.
    inTransaction_ = true;
    // The editor acts on the interlock this window shows, whatever was
    // clicked since.
    editor_.select(interlock_);
    editor_.setVerifyWrites(connection_.line.verify);
    editor_.setConfirmErase(action == &Editor::erase && !puttingBack_);
    const Editor::Outcome outcome = (editor_.*action)(*this, unit.unit);
    inTransaction_ = false;
    report(action == &Editor::write, outcome);
    if (outcome == Editor::Outcome::Delivered || outcome == Editor::Outcome::NotVerified) {
        // After an erase the unit shows the default text again; after a
        // read-back that differs, the table holds what was read.
        setCurrentValue(editor_.currentMessage());
        putBackSlot_ = held ? interlock_ : -1;
        putBackUnit_ = unit;
        putBackText_ = held.value_or(QString());
        emit delivered(interlock_, unit);
        refreshPutBack();
    } else if (editor_.reconnectAsked()) {
        emit reconnectRequested();
    }
}

void MessageEditorWindow::setOperationsEnabled(bool on) {
    writeButton->setEnabled(on);
    eraseButton->setEnabled(on);
    refreshPutBack();
}

void MessageEditorWindow::refreshPutBack() {
    const bool ready = putBackSlot_ >= 0 && putBackSlot_ == interlock_ && putBackUnit_ == target();
    putBackButton->setEnabled(ready && writeButton->isEnabled());
    putBackButton->setToolTip(
        ready ? QStringLiteral("Give interlock %1 of unit %2 back the text it held before: \"%3\"")
                    .arg(editor_.terminalName(), QString::number(putBackUnit_.unit),
                         MessageText::escaped(putBackText_))
              : QStringLiteral("After a write or an erase here, give the slot back the text the "
                               "unit held before (known from a read or a compare)"));
}

void MessageEditorWindow::report(bool write, Editor::Outcome outcome) {
    QString what;
    switch (outcome) {
    case Editor::Outcome::Delivered:
        what = write ? QStringLiteral("written") : QStringLiteral("erased");
        break;
    case Editor::Outcome::NotVerified:
        what = QStringLiteral("confirmed, but the read-back differs");
        break;
    case Editor::Outcome::NotDelivered:
        what = QStringLiteral("not delivered");
        break;
    case Editor::Outcome::PortFailed:
        what = QStringLiteral("port failed");
        break;
    case Editor::Outcome::LengthError:
    case Editor::Outcome::BadCharacter:
    case Editor::Outcome::Refused:
        return; // nothing was sent
    }
    emit reported(QStringLiteral("%1 %2: %3")
                      .arg(write ? QStringLiteral("Write") : QStringLiteral("Erase"),
                           editor_.terminalName(), what));
}

void MessageEditorWindow::putBack() {
    if (putBackSlot_ != interlock_ || putBackUnit_ != target() || inTransaction_)
        return;
    puttingBack_ = true;
    editor_.select(interlock_);
    const bool erase = putBackText_ == editor_.table().defaultText(interlock_);
    if (!erase)
        newTextEdit->setText(putBackText_);
    run(erase ? &Editor::erase : &Editor::write);
    puttingBack_ = false;
}

void MessageEditorWindow::closeEvent(QCloseEvent* event) {
    if (inTransaction_) {
        event->ignore();
        return;
    }
    windows_.unloaded(this);
    event->accept();
}

QString MessageEditorWindow::newText() const {
    return newTextEdit->text();
}
void MessageEditorWindow::clearNewText() {
    newTextEdit->clear();
}
void MessageEditorWindow::tableChanged(int slot) {
    if (slot == interlock_)
        setCurrentValue(editor_.table().text(slot));
}

void MessageEditorWindow::setCurrentValue(const QString& text) {
    currentValue->setText(MessageText::escaped(text)); // control characters as \xHH
    showCurrentSource();
}
