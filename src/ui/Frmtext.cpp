#include "ui/Frmtext.h"

#include "modbus/Pdu.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "ui/Artwork.h"
#include "ui/Controls.h"
#include "ui/LoadedWindows.h"

#include <QCloseEvent>
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

// ---------------------------------------------------------------- UpDown

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    setFocusPolicy(Qt::StrongFocus);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addWidget(up_);
    col->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
    updateButtons();
}

void UpDown::setRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = qMax(minimum, maximum);
    setValue(value_);
    updateButtons();
}

void UpDown::setValue(int value) {
    const int v = qBound(min_, value, max_);
    if (v == value_)
        return;
    value_ = v;
    updateButtons();
    emit valueChanged(value_);
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        stepUp();
        break;
    case Qt::Key_Down:
        stepDown();
        break;
    case Qt::Key_PageUp:
        setValue(value_ + 10 * step_);
        break;
    case Qt::Key_PageDown:
        setValue(value_ - 10 * step_);
        break;
    default:
        if (typedDigits_ && !event->text().isEmpty() && event->text().at(0).isDigit()) {
            const int digit = event->text().at(0).digitValue();
            const bool more = typedAt_.isValid() && typedAt_.elapsed() < 1500;
            typed_ = more && typed_ * 10 + digit <= max_ ? typed_ * 10 + digit : digit;
            typedAt_.start();
            if (typed_ >= min_)
                setValue(typed_);
            return;
        }
        QWidget::keyPressEvent(event);
    }
}

void UpDown::wheelEvent(QWheelEvent* event) {
    if (event->angleDelta().y() > 0)
        stepUp();
    else if (event->angleDelta().y() < 0)
        stepDown();
    event->accept();
}

void UpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        updateButtons();
    QWidget::changeEvent(event);
}

// The arrows leave a thin border free; it shows where the keyboard is.
void UpDown::focusInEvent(QFocusEvent* event) {
    layout()->setContentsMargins(2, 2, 2, 2);
    QWidget::focusInEvent(event);
}

void UpDown::focusOutEvent(QFocusEvent* event) {
    layout()->setContentsMargins(0, 0, 0, 0);
    QWidget::focusOutEvent(event);
}

void UpDown::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (hasFocus())
        QPainter(this).fillRect(rect(), palette().color(QPalette::Highlight));
}

void UpDown::updateButtons() {
    up_->setEnabled(isEnabled() && value_ < max_);
    down_->setEnabled(isEnabled() && value_ > min_);
}

// ---------------------------------------------------------------- Frmtext

namespace {

constexpr int kClientWidth = 792;
constexpr int kClientHeight = 434;
constexpr int kSlotStep = kRegistersPerMessage;

} // namespace

Frmtext::Frmtext(SharedState& state, Transport& transport, Operator& op, LoadedWindows& windows,
                 QWidget* parent)
    : QWidget(parent, Qt::Window), state_(state), transport_(transport), op_(op), windows_(windows),
      commsTest_(state, transport, *this, &clock_) {
    setObjectName(QStringLiteral("Frmtext"));
    setWindowTitle(QStringLiteral("Q840/Q860 Comms Test"));
    buildControls();
    resize(kClientWidth, kClientHeight);

    connect(UpDown1, &UpDown::valueChanged, this, &Frmtext::onMessageSlotChanged);
    connect(UpDown2, &UpDown::valueChanged, this, &Frmtext::onUnitAddressChanged);
    connect(CmdRdMsg, &QPushButton::clicked, this, [this] { commsTest_.readMessage(); });
    connect(CmdWrtMsg, &QPushButton::clicked, this, [this] { commsTest_.writeMessage(); });
    connect(CmdEraseMsg, &QPushButton::clicked, this, [this] { commsTest_.eraseMessage(); });
    connect(SSCommand1, &QPushButton::clicked, this, [this] {
        if (loadMessageForm_)
            loadMessageForm_();
    });
    connect(cmdMainMenu, &QPushButton::clicked, this, &Frmtext::quit);
    connect(&clock_, &CommsClock::tick, TimeBox, &QLabel::setText);
    // No request may start inside another one, whichever window started it.
    connect(&transport_, &Transport::busyChanged, this,
            [this](bool busy) { setOperationsEnabled(!busy); });
}

void Frmtext::buildControls() {
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
    lblConnection = panelLabel(QStringLiteral("lblConnection"), this);
    all->addWidget(lblConnection);
}

// The lamps at the top left; the button, version and clock at the right.
QLayout* Frmtext::buildTopRow() {
    auto* Picture1 = new QFrame(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // The lamps sit on white, where even the unlit ones stand out (5:1 and more).
    Picture1->setAutoFillBackground(true);
    QPalette white = Picture1->palette();
    white.setColor(QPalette::Window, Qt::white);
    Picture1->setPalette(white);
    auto* lamps = new QHBoxLayout(Picture1);
    lamps->setContentsMargins(6, 4, 6, 4);
    lamps->setSpacing(8);
    const qreal dpr = devicePixelRatioF();
    for (int i = 0; i < 4; ++i) {
        MdmLight[static_cast<size_t>(i)] = new QLabel(this);
        MdmLight[static_cast<size_t>(i)]->setObjectName(QStringLiteral("MdmLight_%1").arg(i));
        MdmLight[static_cast<size_t>(i)]->setPixmap(Artwork::mdmLight(i, dpr));
        MdmLight[static_cast<size_t>(i)]->setFixedSize(Artwork::kLampSize, Artwork::kLampSize);
    }
    const QStringList lampTips = {QStringLiteral("Sending"), QStringLiteral("Receiving")};
    for (int i = 0; i < 2; ++i) {
        auto* img = new QLabel(Picture1);
        img->setObjectName(QStringLiteral("Image1_%1").arg(i));
        img->setFixedSize(Artwork::kLampSize, Artwork::kLampSize);
        img->setToolTip(lampTips.at(i));
        Image1[static_cast<size_t>(i)] = img;
        lamps->addWidget(img);
    }
    setSending(false);
    setReceiving(false);

    SSCommand1 =
        commandButton(QStringLiteral("SSCommand1"), QStringLiteral("Load message form"), this);
    auto* top = new QHBoxLayout;
    top->addWidget(Picture1, 0, Qt::AlignLeft | Qt::AlignTop);
    top->addStretch(1);
    top->addWidget(SSCommand1);
    top->addLayout(buildVersionAndClock());
    return top;
}

QLayout* Frmtext::buildVersionAndClock() {
    lblVER = new QLabel(QStringLiteral("Ver. 1.0"), this);
    lblVER->setObjectName(QStringLiteral("lblVER"));
    QFont sans(QStringLiteral("Arial"));
    sans.setStyleHint(QFont::SansSerif); // the nearest sans where Arial is missing
    sans.setPointSizeF(font().pointSizeF());
    lblVER->setFont(sans);
    TimeBox = new QLabel(this);
    TimeBox->setObjectName(QStringLiteral("TimeBox"));
    TimeBox->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    TimeBox->setAlignment(Qt::AlignCenter);
    TimeBox->setAutoFillBackground(true);
    QPalette pal = TimeBox->palette();
    pal.setColor(QPalette::Window, QColor(0xE0, 0xE0, 0xE0));
    pal.setColor(QPalette::WindowText, Qt::black);
    TimeBox->setPalette(pal);
    TimeBox->setMinimumWidth(TimeBox->fontMetrics().horizontalAdvance(QStringLiteral("00:00")) +
                             16);
    auto* verClock = new QVBoxLayout;
    verClock->setSpacing(2);
    verClock->addWidget(lblVER, 0, Qt::AlignHCenter);
    verClock->addWidget(TimeBox);
    return verClock;
}

// One spinner with its value and caption.
QGridLayout* Frmtext::spinner(QLabel*& value, UpDown*& updown, QLabel*& caption,
                              const SpinnerTexts& t) {
    value = panelLabel(t.name, this);
    value->setMinimumWidth(value->fontMetrics().horizontalAdvance(t.widest) + 10);
    updown = new UpDown(this);
    updown->setObjectName(t.updownName);
    updown->setToolTip(t.tip);
    caption = new QLabel(t.caption, this);
    caption->setObjectName(t.captionName);
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
QLayout* Frmtext::buildSpinners() {
    auto* msgBox = spinner(Label7, UpDown1, Label9[0],
                           {QStringLiteral("Label7"), QStringLiteral("UpDown1"),
                            QStringLiteral("Label9_0"), QStringLiteral("MsgAddr"),
                            QStringLiteral("Message to Send"), QStringLiteral(" 7800")});
    auto* unitBox = spinner(Label8, UpDown2, Label9[1],
                            {QStringLiteral("Label8"), QStringLiteral("UpDown2"),
                             QStringLiteral("Label9_1"), QStringLiteral("UnitAddr"),
                             QStringLiteral("Change Unit Address"), QStringLiteral(" 310")});
    UpDown1->setRange(kFirstMessageRegister, kLastMessageRegister);
    UpDown1->setSingleStep(kSlotStep);
    UpDown2->setRange(kFirstUnitAddress, kLastUnitAddress);
    UpDown2->setSingleStep(1);
    UpDown2->setTypedDigits(true);
    auto* spinners = new QVBoxLayout;
    spinners->addLayout(msgBox);
    spinners->addSpacing(18);
    spinners->addLayout(unitBox);
    spinners->addStretch(1);
    return spinners;
}

// The read group above the write group.
QLayout* Frmtext::buildMessageGroups() {
    Frame1 = new QGroupBox(QStringLiteral("Read Stored Message Here"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    CmdRdMsg = commandButton(QStringLiteral("CmdRdMsg"), QStringLiteral("&Read Msg"), Frame1);
    Label10 = new QLabel(Frame1);
    Label10->setTextFormat(Qt::PlainText);
    Label10->setObjectName(QStringLiteral("Label10"));
    Label6[2] = panelLabel(QStringLiteral("Label6_2"), Frame1);
    Label6[2]->setToolTip(QStringLiteral("Stored message here"));
    Label6[2]->setMinimumHeight(Label6[2]->fontMetrics().height() + 8);
    auto* readRow = new QHBoxLayout;
    readRow->addWidget(CmdRdMsg);
    readRow->addSpacing(12);
    readRow->addWidget(Label10, 1);
    auto* readBox = new QVBoxLayout(Frame1);
    readBox->addLayout(readRow);
    readBox->addWidget(Label6[2]);

    Frame2 = new QGroupBox(QStringLiteral("Write New Message Here"), this);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    MsgText = new QLineEdit(Frame2);
    MsgText->setObjectName(QStringLiteral("MsgText"));
    MsgText->setToolTip(QStringLiteral("Enter message text here"));
    CmdWrtMsg = commandButton(QStringLiteral("CmdWrtMsg"), QStringLiteral("&Write Msg"), Frame2);
    CmdEraseMsg =
        commandButton(QStringLiteral("CmdEraseMsg"), QStringLiteral("&Erase Msg"), Frame2);
    auto* writeRow = new QHBoxLayout;
    writeRow->addWidget(CmdWrtMsg);
    writeRow->addWidget(CmdEraseMsg);
    writeRow->addStretch(1);
    auto* writeBox = new QVBoxLayout(Frame2);
    writeBox->addWidget(MsgText);
    writeBox->addLayout(writeRow);

    auto* groups = new QVBoxLayout;
    groups->addWidget(Frame1);
    groups->addWidget(Frame2);
    return groups;
}

// The dumps across the bottom; a long reply wraps onto further lines.
QLayout* Frmtext::buildDumps() {
    Label4[0] = new QLabel(QStringLiteral("Transmitted Data"), this);
    Label4[1] = new QLabel(QStringLiteral("Received Data"), this);
    Label4[0]->setObjectName(QStringLiteral("Label4_0"));
    Label4[1]->setObjectName(QStringLiteral("Label4_1"));
    QFont fixed(QStringLiteral("DejaVu Sans Mono"));
    fixed.setStyleHint(QFont::Monospace);
    fixed.setPointSizeF(font().pointSizeF() * 0.9);
    for (int i = 0; i < 2; ++i) {
        QLabel* dump = panelLabel(QStringLiteral("Label6_%1").arg(i), this);
        dump->setFont(fixed);
        dump->setWordWrap(true);
        dump->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        dump->setMinimumHeight(QFontMetrics(fixed).lineSpacing() * 2 + 8);
        dump->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        Label6[static_cast<size_t>(i)] = dump;
    }
    Label2 = panelLabel(QStringLiteral("Label2"), this);
    Label2->setToolTip(QStringLiteral("Bytes received in the last reply"));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setMinimumWidth(Label2->fontMetrics().horizontalAdvance(QStringLiteral(" 5120")) + 10);
    cmdMainMenu = commandButton(QStringLiteral("cmdMainMenu"), QStringLiteral("&Quit"), this);

    auto* bottom = new QGridLayout;
    bottom->setVerticalSpacing(2);
    bottom->setHorizontalSpacing(12);
    bottom->addWidget(Label4[0], 0, 0);
    bottom->addWidget(Label6[0], 1, 0);
    bottom->addWidget(Label2, 1, 1, Qt::AlignTop);
    bottom->addWidget(Label4[1], 2, 0);
    bottom->addWidget(Label6[1], 3, 0);
    bottom->addWidget(cmdMainMenu, 3, 1, Qt::AlignBottom);
    bottom->setColumnStretch(0, 1);
    return bottom;
}

void Frmtext::load(const std::function<void()>& closeSplash) {
    windows_.loaded(this);
    windows_.centerForm();
    if (closeSplash)
        closeSplash();
    UpDown2->setValue(1);
    Label8->setText(withLeadingBlank(UpDown2->value()));
    state_.UnitAddress = static_cast<std::int16_t>(UpDown2->value());
    state_.MsgAddress = static_cast<std::int16_t>(kFirstMessageRegister);
    terminalName_ = state_.TerminalNames[0];
    Label10->setText(QStringLiteral("Terminal No. ") + terminalName_);
    UpDown1->setValue(kFirstMessageRegister);
    Label7->setText(withLeadingBlank(UpDown1->value()));
    updateTooltips();
    for (QLabel* light : MdmLight)
        light->hide();
    clock_.start();
}

void Frmtext::onMessageSlotChanged(int value) {
    state_.MsgAddress = static_cast<std::int16_t>(value);
    Label7->setText(withLeadingBlank(value));
    const int k = (value - kFirstMessageRegister) / kSlotStep;
    if (k >= 0 && k <= kInterlockCount)
        terminalName_ = state_.TerminalNames[static_cast<size_t>(k)];
    Label10->setText(QStringLiteral("Terminal No. ") + terminalName_);
    Label6[2]->clear(); // what was read belongs to the slot before
    updateTooltips();
}

void Frmtext::onUnitAddressChanged(int value) {
    state_.UnitAddress = static_cast<std::int16_t>(value);
    Label8->setText(withLeadingBlank(value));
    updateTooltips();
}

void Frmtext::updateTooltips() {
    const QString where = QStringLiteral("register %1 (%2) of unit %3")
                              .arg(state_.MsgAddress)
                              .arg(terminalName_)
                              .arg(state_.UnitAddress);
    CmdRdMsg->setToolTip(QStringLiteral("Read the message in ") + where);
    CmdWrtMsg->setToolTip(QStringLiteral("Write the text above to ") + where);
    CmdEraseMsg->setToolTip(QStringLiteral("Erase the message in ") + where);
    SSCommand1->setToolTip(QStringLiteral("Show the main window with the message table"));
    cmdMainMenu->setToolTip(QStringLiteral("Close the port and end QV840N"));
}

void Frmtext::setOperationsEnabled(bool on) {
    for (QPushButton* b : {CmdRdMsg, CmdWrtMsg, CmdEraseMsg})
        b->setEnabled(on);
    // An operation keeps the unit it started with.
    UpDown2->setEnabled(on);
}

void Frmtext::unload() {
    transport_.close();
}

void Frmtext::quit() {
    unload();
    if (endProgram_)
        endProgram_();
}

void Frmtext::closeEvent(QCloseEvent* event) {
    // The close box only hides the window: the clock and the port belong to
    // the whole run, which ends through Quit or the main window.
    event->accept();
}

void Frmtext::setUnitAddressText(const QString& text) {
    Label8->setText(text);
}
void Frmtext::setTransmitted(const QString& dump) {
    Label6[0]->setText(dump);
}
void Frmtext::setReceived(const QString& dump) {
    Label6[1]->setText(dump);
}
void Frmtext::setStoredText(const QString& text) {
    Label6[2]->setText(MessageText::escaped(text)); // control characters as \xHH
}
void Frmtext::setByteCount(const QString& text) {
    Label2->setText(text);
}

void Frmtext::setSending(bool lit) {
    Image1[0]->setPixmap(MdmLight[lit ? 1 : 0]->pixmap());
}

void Frmtext::setReceiving(bool lit) {
    Image1[1]->setPixmap(MdmLight[lit ? 3 : 2]->pixmap());
}

QString Frmtext::messageText() const {
    return MsgText->text();
}
void Frmtext::clearMessageText() {
    MsgText->clear();
}

void Frmtext::showProblem(const QString& text) {
    op_.message(text, {}, MsgIcon::Exclamation, MsgButtons::Ok);
}
