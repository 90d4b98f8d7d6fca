#include "ui/CommsTestWindow.h"

#include "diag/TrafficLog.h"
#include "modbus/Pdu.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "startup/TextFile.h"
#include "ui/Artwork.h"
#include "ui/Controls.h"
#include "ui/ElidedText.h"
#include "ui/HelpWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/ScreenFit.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

constexpr int kClientWidth = 792;
constexpr int kClientHeight = 434;
constexpr int kSlotStep = kRegistersPerMessage;
constexpr int kLogLines = 5000; // the frames Save Log keeps, the last ones

} // namespace

CommsTestWindow::CommsTestWindow(Connection& connection, const TextTable& terminalNames,
                                 Transport& transport, Operator& op, LoadedWindows& windows,
                                 QWidget* parent)
    : QWidget(parent, Qt::Window), connection_(connection), terminalNames_(terminalNames),
      transport_(transport), op_(op), windows_(windows), commsTest_(transport, *this, &clock_),
      traffic_(std::make_unique<TrafficLog>(transport, kLogLines)) {
    setObjectName(QStringLiteral("CommsTestWindow"));
    chooseFile_ = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Log"), suggested,
                                            QStringLiteral("Text files (*.txt *.log)"));
    };
    setWindowTitle(QStringLiteral("Q840/Q860 Comms Test"));
    buildControls();
    resizeWithinScreen(this, QSize(kClientWidth, kClientHeight));
    addHelpKey(this, QStringLiteral("Comms test. "), &op_);

    connect(slotSpinner, &UpDown::valueChanged, this, &CommsTestWindow::onMessageSlotChanged);
    connect(unitSpinner, &UpDown::valueChanged, this, &CommsTestWindow::onUnitAddressChanged);
    connect(unitSpinner, &UpDown::valueChanged, this, &CommsTestWindow::unitAddressChanged);
    // Each request goes to the one unit address of every window.
    connect(readButton, &QPushButton::clicked, this, [this] {
        commsTest_.setUnit(connection_.unitAddress);
        commsTest_.readMessage();
    });
    connect(writeButton, &QPushButton::clicked, this, [this] {
        commsTest_.setUnit(connection_.unitAddress);
        commsTest_.setVerifyWrites(connection_.line.verify);
        commsTest_.writeMessage();
    });
    connect(eraseButton, &QPushButton::clicked, this, [this] {
        commsTest_.setUnit(connection_.unitAddress);
        commsTest_.setVerifyWrites(connection_.line.verify);
        commsTest_.eraseMessage();
    });
    connect(loadMessageFormButton, &QPushButton::clicked, this, [this] {
        if (loadMessageForm_)
            loadMessageForm_();
    });
    connect(quitButton, &QPushButton::clicked, this, &CommsTestWindow::quit);
    connect(saveLogButton, &QPushButton::clicked, this, &CommsTestWindow::saveLog);
    connect(&clock_, &CommsClock::tick, clockLabel, &QLabel::setText);
    // No request may start inside another one, whichever window started it.
    connect(&transport_, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
}

void CommsTestWindow::buildControls() {
    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(12, 10, 12, 12);
    all->addLayout(buildTopRow());
    all->addSpacing(6);
    auto* middle = new QHBoxLayout;
    middle->addLayout(buildSpinners());
    middle->addSpacing(16);
    middle->addLayout(buildMessageGroups(), 1);
    middle->addSpacing(60);
    all->addLayout(middle, 1);
    all->addSpacing(8);
    all->addLayout(buildDumps());
    connectionLine = panelLabel(QStringLiteral("connectionLine"), this);
    all->addWidget(connectionLine);
}

// The lamps at the top left; the button, version and clock at the right.
QLayout* CommsTestWindow::buildTopRow() {
    auto* lampPanel = new QFrame(this);
    lampPanel->setObjectName(QStringLiteral("lampPanel"));
    lampPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The lamps sit on white, where even the unlit ones stand out (5:1 and more).
    lampPanel->setAutoFillBackground(true);
    QPalette white = lampPanel->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black); // the captions, in a dark theme too
    lampPanel->setPalette(white);
    auto* lamps = new QHBoxLayout(lampPanel);
    lamps->setContentsMargins(6, 4, 6, 4);
    lamps->setSpacing(8);
    const qreal dpr = devicePixelRatioF();
    for (int i = 0; i < 4; ++i) {
        lampImages[static_cast<size_t>(i)] = new QLabel(this);
        lampImages[static_cast<size_t>(i)]->setObjectName(QStringLiteral("lampImage_%1").arg(i));
        lampImages[static_cast<size_t>(i)]->setPixmap(Artwork::mdmLight(i, dpr));
        lampImages[static_cast<size_t>(i)]->setFixedSize(Artwork::kLampSize, Artwork::kLampSize);
    }
    const QStringList lampTips = {QStringLiteral("Sending"), QStringLiteral("Receiving")};
    for (int i = 0; i < 2; ++i) {
        auto* img = new QLabel(lampPanel);
        img->setObjectName(QStringLiteral("lampPicture_%1").arg(i));
        img->setFixedSize(Artwork::kLampSize, Artwork::kLampSize);
        img->setToolTip(lampTips.at(i));
        lampPictures[static_cast<size_t>(i)] = img;
        lamps->addWidget(img);
        // Each lamp says what it shows.
        auto* caption =
            new QLabel(i == 0 ? QStringLiteral("Send") : QStringLiteral("Receive"), lampPanel);
        caption->setObjectName(QStringLiteral("lampCaption_%1").arg(i));
        caption->setToolTip(lampTips.at(i));
        lamps->addWidget(caption);
    }
    setSending(false);
    setReceiving(false);

    loadMessageFormButton = commandButton(QStringLiteral("loadMessageFormButton"),
                                          QStringLiteral("&Load message form"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(lampPanel, 0, Qt::AlignLeft | Qt::AlignTop);
    top->addStretch(1);
    top->addWidget(loadMessageFormButton);
    top->addLayout(buildVersionAndClock());
    return top;
}

QLayout* CommsTestWindow::buildVersionAndClock() {
    versionLabel = new QLabel(QStringLiteral("Ver. 1.0"), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    QFont sans(QStringLiteral("Arial"));
    sans.setStyleHint(QFont::SansSerif); // the nearest sans where Arial is missing
    sans.setPointSizeF(font().pointSizeF());
    versionLabel->setFont(sans);
    clockLabel = new QLabel(this);
    clockLabel->setObjectName(QStringLiteral("clockLabel"));
    clockLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    clockLabel->setAlignment(Qt::AlignCenter);
    clockLabel->setAutoFillBackground(true);
    QPalette pal = clockLabel->palette();
    pal.setColor(QPalette::Window, QColor(0xE0, 0xE0, 0xE0));
    pal.setColor(QPalette::WindowText, Qt::black);
    clockLabel->setPalette(pal);
    clockLabel->setMinimumWidth(
        clockLabel->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) + 16);
    auto* verClock = new QVBoxLayout;
    verClock->setSpacing(2);
    verClock->addWidget(versionLabel, 0, Qt::AlignHCenter);
    verClock->addWidget(clockLabel);
    return verClock;
}

// One spinner with its value and caption.
QGridLayout* CommsTestWindow::spinner(QLabel*& value, UpDown*& updown, QLabel*& caption,
                                      const SpinnerTexts& t) {
    value = panelLabel(t.name, this);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(t.widest) + 10);
    updown = new UpDown(this);
    updown->setObjectName(t.updownName);
    updown->setToolTip(t.tip);
    updown->setAccessibleName(t.tip);
    caption = new QLabel(t.caption, this);
    caption->setObjectName(t.captionName);
    caption->setBuddy(updown);
    auto* box = new QGridLayout;
    box->setHorizontalSpacing(2);
    box->setVerticalSpacing(2);
    value->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    value->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    box->addWidget(value, 0, 0, Qt::AlignVCenter);
    box->addWidget(updown, 0, 1);
    box->addWidget(caption, 1, 0, 1, 2, Qt::AlignLeft);
    return box;
}

// The two spinners with their values and captions, in a column.
QLayout* CommsTestWindow::buildSpinners() {
    auto* msgBox = spinner(slotValue, slotSpinner, spinnerCaptions[0],
                           {QStringLiteral("slotValue"), QStringLiteral("slotSpinner"),
                            QStringLiteral("spinnerCaption_0"), QStringLiteral("MsgAddr"),
                            QStringLiteral("Message to Send"), QStringLiteral(" 7800")});
    auto* unitBox = spinner(unitValue, unitSpinner, spinnerCaptions[1],
                            {QStringLiteral("unitValue"), QStringLiteral("unitSpinner"),
                             QStringLiteral("spinnerCaption_1"), QStringLiteral("UnitAddr"),
                             QStringLiteral("Change Unit Address"), QStringLiteral(" 310")});
    slotSpinner->setRange(kFirstMessageRegister, kLastMessageRegister);
    slotSpinner->setSingleStep(kSlotStep);
    unitSpinner->setRange(kFirstUnitAddress, kLastUnitAddress);
    unitSpinner->setSingleStep(1);
    unitSpinner->setTypedDigits(true);
    auto* spinners = new QVBoxLayout;
    spinners->addLayout(msgBox);
    spinners->addSpacing(18);
    spinners->addLayout(unitBox);
    spinners->addStretch(1);
    return spinners;
}

// The read group above the write group.
QLayout* CommsTestWindow::buildMessageGroups() {
    readGroup = new QGroupBox(QStringLiteral("Read Stored Message Here"), this);
    readGroup->setObjectName(QStringLiteral("readGroup"));
    readButton =
        commandButton(QStringLiteral("readButton"), QStringLiteral("&Read Msg"), readGroup);
    terminalCaption = new QLabel(readGroup);
    terminalCaption->setTextFormat(Qt::PlainText);
    terminalCaption->setObjectName(QStringLiteral("terminalCaption"));
    dataPanels[2] = panelLabel(QStringLiteral("dataPanel_2"), readGroup);
    dataPanels[2]->setToolTip(QStringLiteral("Stored message here"));
    dataPanels[2]->setMinimumHeight(dataPanels[2]->fontMetrics().height() + 8);
    auto* readRow = new QHBoxLayout;
    readRow->addWidget(readButton);
    readRow->addSpacing(12);
    readRow->addWidget(terminalCaption, 1);
    auto* readBox = new QVBoxLayout(readGroup);
    readBox->addLayout(readRow);
    readBox->addWidget(dataPanels[2]);

    writeGroup = new QGroupBox(QStringLiteral("Write New Message Here"), this);
    writeGroup->setObjectName(QStringLiteral("writeGroup"));
    messageEdit = new QLineEdit(writeGroup);
    messageEdit->setObjectName(QStringLiteral("messageEdit"));
    messageEdit->setToolTip(QStringLiteral("Enter message text here"));
    messageEdit->setAccessibleName(QStringLiteral("New message"));
    writeButton =
        commandButton(QStringLiteral("writeButton"), QStringLiteral("&Write Msg"), writeGroup);
    eraseButton =
        commandButton(QStringLiteral("eraseButton"), QStringLiteral("&Erase Msg"), writeGroup);
    auto* writeRow = new QHBoxLayout;
    writeRow->addWidget(writeButton);
    writeRow->addWidget(eraseButton);
    writeRow->addStretch(1);
    auto* writeBox = new QVBoxLayout(writeGroup);
    writeBox->addWidget(messageEdit);
    writeBox->addLayout(writeRow);

    auto* groups = new QVBoxLayout;
    groups->addWidget(readGroup);
    groups->addWidget(writeGroup);
    return groups;
}

// The dumps across the bottom; a long reply wraps onto further lines.
QLayout* CommsTestWindow::buildDumps() {
    dumpCaptions[0] = new QLabel(QStringLiteral("Transmitted Data"), this);
    dumpCaptions[1] = new QLabel(QStringLiteral("Received Data"), this);
    dumpCaptions[0]->setObjectName(QStringLiteral("dumpCaption_0"));
    dumpCaptions[1]->setObjectName(QStringLiteral("dumpCaption_1"));
    QFont fixed(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    fixed.setPointSizeF(font().pointSizeF() * 0.9);
    for (int i = 0; i < 2; ++i) {
        QLabel* dump = panelLabel(QStringLiteral("dataPanel_%1").arg(i), this);
        dump->setFont(fixed);
        dump->setWordWrap(true);
        dump->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        dump->setMinimumHeight(QFontMetrics(fixed).lineSpacing() * 2 + 8);
        dump->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        dataPanels[static_cast<size_t>(i)] = dump;
    }
    byteCount = panelLabel(QStringLiteral("byteCount"), this);
    byteCount->setToolTip(QStringLiteral("Bytes received in the last reply"));
    byteCount->setAlignment(Qt::AlignCenter);
    byteCount->setMinimumWidth(byteCount->fontMetrics().horizontalAdvance(QStringLiteral(" 5120")) +
                               10);
    quitButton = commandButton(QStringLiteral("quitButton"), QStringLiteral("&Quit"), this);
    saveLogButton =
        commandButton(QStringLiteral("saveLogButton"), QStringLiteral("&Save Log..."), this);

    auto* bottom = new QGridLayout;
    bottom->setVerticalSpacing(2);
    bottom->setHorizontalSpacing(12);
    bottom->addWidget(dumpCaptions[0], 0, 0);
    bottom->addWidget(dataPanels[0], 1, 0);
    bottom->addWidget(byteCount, 1, 1, Qt::AlignTop);
    bottom->addWidget(dumpCaptions[1], 2, 0);
    bottom->addWidget(dataPanels[1], 3, 0);
    bottom->addWidget(saveLogButton, 2, 1, Qt::AlignBottom);
    bottom->addWidget(quitButton, 3, 1, Qt::AlignBottom);
    bottom->setColumnStretch(0, 1);
    return bottom;
}

CommsTestWindow::~CommsTestWindow() = default;

void CommsTestWindow::load(const std::function<void()>& closeSplash) {
    windows_.loaded(this);
    windows_.centreLastWindow();
    if (closeSplash)
        closeSplash();
    unitSpinner->setValue(1);
    unitValue->setText(withLeadingBlank(unitSpinner->value()));
    onUnitAddressChanged(unitSpinner->value());
    commsTest_.setRegister(kFirstMessageRegister);
    terminalName_ = terminalNames_[0];
    terminalCaption->setText(QStringLiteral("Terminal No. ") + terminalName_);
    slotSpinner->setValue(kFirstMessageRegister);
    slotValue->setText(withLeadingBlank(slotSpinner->value()));
    updateTooltips();
    for (QLabel* light : lampImages)
        light->hide();
    clock_.start();
}

void CommsTestWindow::onMessageSlotChanged(int value) {
    commsTest_.setRegister(value);
    slotValue->setText(withLeadingBlank(value));
    const int k = (value - kFirstMessageRegister) / kSlotStep;
    // Past the last slot the spinner names no terminal.
    if (k >= 0 && k <= kInterlockCount)
        terminalName_ = k < kInterlockCount ? terminalNames_[static_cast<size_t>(k)] : QString();
    terminalCaption->setText(QStringLiteral("Terminal No. ") + terminalName_);
    dataPanels[2]->clear(); // what was read belongs to the slot before
    updateTooltips();
}

void CommsTestWindow::setUnitAddress(int unit) {
    unitSpinner->setValue(unit);
}

void CommsTestWindow::setConnectionText(const QString& text) {
    setElidedText(connectionLine, text); // a long gateway name never widens the window
}

void CommsTestWindow::onUnitAddressChanged(int value) {
    connection_.unitAddress = value;
    unitValue->setText(withLeadingBlank(value));
    updateTooltips();
}

void CommsTestWindow::updateTooltips() {
    const QString where = QStringLiteral("register %1 (%2) of unit %3")
                              .arg(commsTest_.messageRegister())
                              .arg(terminalName_)
                              .arg(connection_.unitAddress);
    readButton->setToolTip(QStringLiteral("Read the message in ") + where);
    writeButton->setToolTip(QStringLiteral("Write the text above to ") + where);
    eraseButton->setToolTip(QStringLiteral("Erase the message in ") + where);
    loadMessageFormButton->setToolTip(
        QStringLiteral("Show the main window with the message table"));
    quitButton->setToolTip(QStringLiteral("Close the port and end QV840N (asks first)"));
    saveLogButton->setToolTip(
        QStringLiteral(
            "Save every frame sent and received since QV840N started (the last %1), with its time, "
            "its bytes and what it says, for a support engineer")
            .arg(kLogLines));
}

void CommsTestWindow::saveLog() {
    const QString path = chooseFile_(QDir::home().filePath(QStringLiteral("qv840n-traffic.log")));
    if (path.isEmpty())
        return;
    if (const auto why = writeWholeFile(path, traffic_->text()))
        op_.message(QStringLiteral("The log could not be saved to %1: %2.")
                        .arg(QDir::toNativeSeparators(path), *why),
                    QStringLiteral("Save Log"), MsgIcon::Exclamation, MsgButtons::Ok);
}

void CommsTestWindow::setOperationsEnabled(bool on) {
    for (QPushButton* b : {readButton, writeButton, eraseButton})
        b->setEnabled(on);
    // An operation keeps the unit it started with.
    unitSpinner->setEnabled(on);
}

void CommsTestWindow::unload() {
    transport_.close();
}

void CommsTestWindow::quit() {
    if (quitRequest_) {
        quitRequest_();
        return;
    }
    if (!op_.askOkCancel(QStringLiteral("Exit the QV840N program?"), {}, MsgIcon::Question))
        return;
    unload();
    if (endProgram_)
        endProgram_();
}

void CommsTestWindow::closeEvent(QCloseEvent* event) {
    // The close box only hides the window: the clock and the port belong to
    // the whole run, which ends through Quit or the main window.
    event->accept();
}

void CommsTestWindow::setUnitAddressText(const QString& text) {
    unitValue->setText(text);
}
void CommsTestWindow::setTransmitted(const QString& dump) {
    dataPanels[0]->setText(dump);
}
void CommsTestWindow::setReceived(const QString& dump) {
    dataPanels[1]->setText(dump);
}
void CommsTestWindow::setStoredText(const QString& text) {
    dataPanels[2]->setText(MessageText::escaped(text)); // control characters as \xHH
}
void CommsTestWindow::setByteCount(const QString& text) {
    byteCount->setText(text);
}

void CommsTestWindow::setSending(bool lit) {
    lampPictures[0]->setPixmap(lampImages[lit ? 1 : 0]->pixmap());
}

void CommsTestWindow::setReceiving(bool lit) {
    lampPictures[1]->setPixmap(lampImages[lit ? 3 : 2]->pixmap());
}

QString CommsTestWindow::messageText() const {
    return messageEdit->text();
}
void CommsTestWindow::clearMessageText() {
    messageEdit->clear();
}

void CommsTestWindow::showProblem(const QString& text) {
    op_.message(text, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}
