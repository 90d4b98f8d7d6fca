#include "ui/frmWrite.h"

#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "transport/Transport.h"
#include "ui/Controls.h"
#include "ui/LoadedWindows.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

frmWrite::frmWrite(Editor& editor, Transport& transport, LoadedWindows& windows, QWidget* parent)
    : QWidget(parent, Qt::Window), editor_(editor), windows_(windows) {
    setObjectName(QStringLiteral("frmWrite"));
    setWindowTitle(QStringLiteral("Write or Erase Current Message"));
    setAttribute(Qt::WA_DeleteOnClose);

    Label4 = new QLabel(QStringLiteral("Interlock Number"), this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label3 = panelLabel(QStringLiteral("Label3"), this);
    Label3->setMinimumHeight(Label3->fontMetrics().height() + 8);
    Label5 = new QLabel(QStringLiteral("Current Msg"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    lblCurrentValue = panelLabel(QStringLiteral("lblCurrentValue"), this);
    lblCurrentValue->setMinimumHeight(lblCurrentValue->fontMetrics().height() + 8);
    Label6 = new QLabel(QStringLiteral("New Msg"), this);
    Label6->setObjectName(QStringLiteral("Label6"));
    Text1 = new QLineEdit(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    // Wide enough for the forty widest characters a message may hold.
    const int fortyChars =
        fontMetrics().horizontalAdvance(QString(kMessageMaxLength, QLatin1Char('W'))) + 16;
    Text1->setMinimumWidth(fortyChars);
    lblCurrentValue->setMinimumWidth(fortyChars);
    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));
    lblCount->setToolTip(QStringLiteral("Characters in the new message, of the 40 the unit holds"));
    lblCount->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("000/40")));
    cmdWrite = commandButton(QStringLiteral("cmdWrite"), QStringLiteral("&Write"), this);
    cmdErase = commandButton(QStringLiteral("cmdErase"), QStringLiteral("&Erase"), this);
    cmdDone = commandButton(QStringLiteral("cmdDone"), QStringLiteral("&Close"), this);

    buildLayout();

    connect(cmdWrite, &QPushButton::clicked, this, [this] { run(&Editor::write); });
    connect(cmdErase, &QPushButton::clicked, this, [this] { run(&Editor::erase); });
    connect(cmdDone, &QPushButton::clicked, this, &QWidget::close);
    // Return in the text box writes; Escape closes.
    connect(Text1, &QLineEdit::returnPressed, cmdWrite, &QPushButton::click);
    connect(Text1, &QLineEdit::textChanged, this, &frmWrite::updateCount);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    updateCount();
    connect(&transport, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
    setOperationsEnabled(!transport.busy());
}

// The three rows of name, current and new message over the buttons.
void frmWrite::buildLayout() {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(Label4, 0, 0);
    grid->addWidget(Label3, 0, 1, Qt::AlignLeft);
    grid->addWidget(Label5, 1, 0);
    grid->addWidget(lblCurrentValue, 1, 1);
    grid->addWidget(Label6, 2, 0);
    grid->addWidget(Text1, 2, 1);
    grid->addWidget(lblCount, 2, 2);
    grid->setColumnStretch(1, 1);
    Label3->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMM")));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdWrite);
    buttons->addWidget(cmdErase);
    buttons->addWidget(cmdDone);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(14, 14, 14, 14);
    all->setSpacing(14);
    all->addLayout(grid);
    all->addLayout(buttons);
}

void frmWrite::load() {
    windows_.loaded(this);
    adjustSize();
    windows_.centerForm();
    showInterlock();
    show();
    // Centred again now that the window manager has framed it.
    windows_.centerForm();
    raise();
    activateWindow();
    // One turn of the event queue so the window is up before it takes the
    // keyboard.
    QCoreApplication::processEvents();
    Text1->setFocus();
}

void frmWrite::showInterlock() {
    interlock_ = editor_.selected();
    Label3->setText(editor_.terminalName());
    setCurrentValue(editor_.currentMessage());
    Text1->clear();
    updateTooltips();
}

void frmWrite::updateTooltips() {
    const QString where = QStringLiteral("interlock %1 of unit %2")
                              .arg(editor_.terminalName())
                              .arg(editor_.unitAddress());
    cmdWrite->setToolTip(QStringLiteral("Write the new message to ") + where + " (Return)");
    cmdErase->setToolTip(QStringLiteral("Erase the message of ") + where);
    cmdDone->setToolTip(QStringLiteral("Close this window (Escape)"));
}

void frmWrite::retarget() {
    if (inTransaction_)
        return; // the main window's labels are disabled meanwhile anyway
    showInterlock();
    show();
    raise();
    activateWindow();
    Text1->setFocus();
}

void frmWrite::updateCount() {
    const QString text = Text1->text();
    const bool bad = text.size() > kMessageMaxLength || MessageText::firstUnsendable(text) >= 0 ||
                     !CodePage::encode(text).ok();
    lblCount->setText(QStringLiteral("%1/%2").arg(text.size()).arg(kMessageMaxLength));
    QPalette pal = palette();
    if (bad)
        pal.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    lblCount->setPalette(pal);
    lblCount->setProperty("bad", bad);
}

void frmWrite::run(Editor::Outcome (Editor::*action)(EditorView&)) {
    // The window must not go away while its transaction waits for the unit.
    inTransaction_ = true;
    // The editor acts on the interlock this window shows, whatever was
    // clicked since.
    editor_.select(interlock_);
    const Editor::Outcome outcome = (editor_.*action)(*this);
    inTransaction_ = false;
    if (outcome == Editor::Outcome::Delivered) {
        // After an erase the unit shows the default text again.
        setCurrentValue(editor_.currentMessage());
        emit delivered(interlock_);
    } else if (outcome == Editor::Outcome::PortFailed && editor_.reconnectAsked()) {
        emit reconnectRequested();
    }
}

void frmWrite::setOperationsEnabled(bool on) {
    cmdWrite->setEnabled(on);
    cmdErase->setEnabled(on);
}

void frmWrite::closeEvent(QCloseEvent* event) {
    if (inTransaction_) {
        event->ignore();
        return;
    }
    windows_.unloaded(this);
    event->accept();
}

QString frmWrite::newText() const {
    return Text1->text();
}
void frmWrite::clearNewText() {
    Text1->clear();
}
void frmWrite::setCurrentValue(const QString& text) {
    lblCurrentValue->setText(MessageText::escaped(text)); // control characters as \xHH
}
