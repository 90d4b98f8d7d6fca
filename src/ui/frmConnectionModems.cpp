#include "ui/frmConnectionModems.h"

#include "connect/OpenPort.h"
#include "connect/PortSources.h"
#include "startup/Operator.h"
#include "startup/SharedState.h"
#include "transport/Endpoint.h"
#include "ui/LoadedWindows.h"
#include "ui/frmNetwork.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kKeyRole = Qt::UserRole;

bool movesBetweenEntries(int key) {
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        return true;
    default:
        return false;
    }
}

// Passes every box on and notes that one was shown.
class NotingOperator : public Operator {
public:
    NotingOperator(Operator& inner, bool& shown) : inner_(inner), shown_(shown) {}
    MsgAnswer message(const QString& text, const QString& title, MsgIcon icon,
                      MsgButtons buttons) override {
        shown_ = true;
        return inner_.message(text, title, icon, buttons);
    }

private:
    Operator& inner_;
    bool& shown_;
};
} // namespace

ChoiceList::ChoiceList(QWidget* parent) : QListWidget(parent) {
    // What is selected is what counts, however it came to be selected; a
    // click on the entry already selected picks it again.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = selectedItems();
        emit chosen(selected.isEmpty() ? nullptr : selected.constFirst());
    });
    connect(this, &QListWidget::itemClicked, this, &ChoiceList::chosen);
}

void ChoiceList::keyPressEvent(QKeyEvent* event) {
    if (!movesBetweenEntries(event->key()) || event->modifiers() != Qt::NoModifier) {
        QListWidget::keyPressEvent(event);
        return;
    }
    // Taking the focus marks the first entry current without choosing it; the
    // first arrow then chooses that entry instead of skipping past it.
    QListWidgetItem* current = currentItem();
    const bool arrow = event->key() != Qt::Key_Home && event->key() != Qt::Key_End &&
                       event->key() != Qt::Key_PageUp && event->key() != Qt::Key_PageDown;
    if (arrow && current != nullptr && selectedItems().isEmpty()) {
        setCurrentItem(current);
        event->accept();
    } else {
        QListWidget::keyPressEvent(event);
    }
}

QIcon frmConnectionModems::serialPortIcon() {
    // A nine-pin connector face: a trapezoid shell with five pins over four.
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shell;
    shell.moveTo(2, 9);
    shell.lineTo(30, 9);
    shell.lineTo(26, 24);
    shell.lineTo(6, 24);
    shell.closeSubpath();
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(150, 160, 175));
    p.drawPath(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(235, 200, 70));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(7.0 + 4.5 * i, 13.5), 1.6, 1.6);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(9.25 + 4.5 * i, 19.5), 1.6, 1.6);
    p.setBrush(QColor(90, 90, 100));
    p.drawEllipse(QPointF(1.5, 16.5), 1.2, 1.2);
    p.drawEllipse(QPointF(30.5, 16.5), 1.2, 1.2);
    p.end();
    return QIcon(pm);
}

frmConnectionModems::frmConnectionModems(SharedState& state, SerialPort& port,
                                         SpeedDialog& speedDialog, Operator& op,
                                         LoadedWindows& windows, const QString& simulatedPath,
                                         QWidget* parent)
    : QDialog(parent), state_(state), port_(port), speedDialog_(speedDialog), operator_(op),
      windows_(windows), simulatedPath_(simulatedPath), lister_(&listPortNames) {
    setObjectName(QStringLiteral("frmConnectionModems"));
    setWindowTitle(QStringLiteral("Connection configuration"));

    Label2 = new QLabel(QStringLiteral("Please choose connection device"), this);
    Label2->setObjectName(QStringLiteral("Label2"));

    SSPanel1 = new QFrame(this);
    SSPanel1->setObjectName(QStringLiteral("SSPanel1"));
    SSPanel1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    buildDeviceList();

    lblOther = new QLabel(QStringLiteral("Other device:"), this);
    lblOther->setObjectName(QStringLiteral("lblOther"));
    txtOther = new QLineEdit(this);
    txtOther->setObjectName(QStringLiteral("txtOther"));
    txtOther->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
    lblOther->setBuddy(txtOther);

    Command1 = new QPushButton(QStringLiteral("&Select"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setAutoDefault(false);

    auto* otherRow = new QHBoxLayout;
    otherRow->addWidget(lblOther);
    otherRow->addWidget(txtOther, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label2);
    layout->addWidget(SSPanel1, 1);
    layout->addLayout(otherRow);
    layout->addLayout(buttons);
    resize(440, 330);

    setTabOrder(ListView1, txtOther);
    setTabOrder(txtOther, Command1);
    setTabOrder(Command1, Command2);

    connect(ListView1, &ChoiceList::chosen, this, &frmConnectionModems::entryChosen);
    connect(txtOther, &QLineEdit::textEdited, this, [this](const QString& text) {
        choice_.typeOther(text);
        ListView1->clearSelection();
    });
    txtOther->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &frmConnectionModems::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmConnectionModems::Command2_Click);
}

// The device icons in the sunken panel.
void frmConnectionModems::buildDeviceList() {
    ImageList1 << serialPortIcon();
    ListView1 = new ChoiceList(SSPanel1);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setViewMode(QListView::IconMode);
    ListView1->setIconSize(QSize(32, 32));
    ListView1->setGridSize(QSize(112, 72));
    ListView1->setMovement(QListView::Static);
    ListView1->setResizeMode(QListView::Adjust);
    ListView1->setWordWrap(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* panelLayout = new QVBoxLayout(SSPanel1);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    panelLayout->addWidget(ListView1);
}

frmConnectionModems::~frmConnectionModems() {
    windows_.unloaded(this);
}

void frmConnectionModems::Form_Load() {
    windows_.loaded(this);
    windows_.centerForm();
}

void frmConnectionModems::Form_Activate() {
    // On Windows a listing that shows a registry box makes the dialog active
    // again when the box closes; listing once more would show the box again,
    // without end.
    if (listingShowedBox_)
        listingShowedBox_ = false;
    else
        fillList();
    windows_.centerForm();
}

void frmConnectionModems::fillList() {
    NotingOperator noting(operator_, listingShowedBox_);
    choice_.setEntries(withStableNames(makePortEntries(lister_(noting), simulatedPath_)));

    const QSignalBlocker block(ListView1);
    ListView1->clear();
    // Nothing picked yet: the preferred port, else the first entry.
    if (choice_.SelectedKey.isEmpty()) {
        choice_.click(choice_.entries().isEmpty() ? kNetworkEntryKey
                                                  : choice_.entries().constFirst().Key);
        for (const PortEntry& e : choice_.entries())
            if (!preferred_.isEmpty() &&
                (e.Port == preferred_ || e.Port == portLocation(preferred_)))
                choice_.click(e.Key);
        if (isNetworkAddress(preferred_)) {
            choice_.click(kNetworkEntryKey);
            txtOther->setText(preferred_);
        }
    }
    for (const PortEntry& e : choice_.entries()) {
        auto* item = new QListWidgetItem(ImageList1.value(0), e.Text, ListView1);
        item->setData(kKeyRole, e.Key);
        item->setToolTip(portDescription(e.Port));
        if (e.Key == choice_.SelectedKey)
            ListView1->setCurrentItem(item);
    }
    // Beside the ports: a unit behind a network gateway.
    auto* net = new QListWidgetItem(ImageList1.value(0), kNetworkEntryText, ListView1);
    net->setData(kKeyRole, kNetworkEntryKey);
    if (choice_.SelectedKey == kNetworkEntryKey)
        ListView1->setCurrentItem(net);
}

void frmConnectionModems::entryChosen(QListWidgetItem* item) {
    if (item != nullptr)
        choice_.click(item->data(kKeyRole).toString());
    else if (choice_.SelectedKey != PortChoice::kOtherKey)
        choice_.click(QString()); // nothing highlighted: nothing is chosen
}

int frmConnectionModems::exec() {
    Form_Load();
    return QDialog::exec();
}

void frmConnectionModems::showEvent(QShowEvent* e) {
    if (!windows_.contains(this))
        Form_Load();
    QDialog::showEvent(e);
    // Shown is the first activation, whether or not the window system
    // activates the dialog.
    Form_Activate();
    justShown_ = true;
    ListView1->setFocus(Qt::OtherFocusReason);
}

bool frmConnectionModems::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible()) {
        if (justShown_)
            windows_.centerForm();
        else
            Form_Activate();
        justShown_ = false;
    }
    return QDialog::event(e);
}

bool frmConnectionModems::eventFilter(QObject* watched, QEvent* e) {
    // Clicking back into a typed path picks it again.
    if (watched == txtOther && e->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(e)->reason() == Qt::MouseFocusReason &&
        !txtOther->text().isEmpty()) {
        choice_.typeOther(txtOther->text());
        ListView1->clearSelection();
    }
    return QDialog::eventFilter(watched, e);
}

void frmConnectionModems::Command1_Click() {
    // A network unit's address goes in the "Other device" line, and is opened from there.
    if (choice_.SelectedKey == kNetworkEntryKey) {
        const std::optional<QString> address = frmNetwork::ask(this, txtOther->text());
        if (!address)
            return; // the dialog stays for another choice
        txtOther->setText(*address);
        choice_.typeOther(*address);
    }
    const std::optional<QString> port = choice_.chosenPort();
    if (!port)
        return; // nothing chosen yet: the dialog stays for another choice
    state_.PortName = *port;
    hide();
    done(Accepted);
    OpenPort(state_, port_, speedDialog_, operator_);
}

void frmConnectionModems::Command2_Click() {
    state_.PortName.clear();
    done(Rejected);
}

void frmConnectionModems::reject() {
    // Closing through the frame or with Escape is a Cancel.
    Command2_Click();
}

void frmConnectionModems::done(int result) {
    windows_.unloaded(this);
    QDialog::done(result);
}
