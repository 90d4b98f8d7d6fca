#include "ui/ConnectionDialog.h"

#include "connect/PortSources.h"
#include "startup/Operator.h"
#include "transport/Endpoint.h"
#include "ui/HelpWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/NetworkUnitDialog.h"

#include <QEvent>
#include <QFileInfo>
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
#include <QTimer>
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

QIcon ConnectionDialog::serialPortIcon() {
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

ConnectionDialog::ConnectionDialog(Opener opener, Operator& op, LoadedWindows& windows,
                                   const QString& simulatedPath, QWidget* parent)
    : QDialog(parent), opener_(std::move(opener)), operator_(op), windows_(windows),
      simulatedPath_(simulatedPath), lister_(&listPortNames) {
    setObjectName(QStringLiteral("ConnectionDialog"));
    setWindowTitle(QStringLiteral("Connection configuration"));

    promptLabel = new QLabel(QStringLiteral("Please choose connection device"), this);
    promptLabel->setObjectName(QStringLiteral("promptLabel"));

    listPanel = new QFrame(this);
    listPanel->setObjectName(QStringLiteral("listPanel"));
    listPanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    buildDeviceList();

    otherCaption = new QLabel(QStringLiteral("Other device:"), this);
    otherCaption->setObjectName(QStringLiteral("otherCaption"));
    otherEdit = new QLineEdit(this);
    otherEdit->setObjectName(QStringLiteral("otherEdit"));
    otherEdit->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
    otherCaption->setBuddy(otherEdit);

    selectButton = new QPushButton(QStringLiteral("&Select"), this);
    selectButton->setObjectName(QStringLiteral("selectButton"));
    selectButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);

    buildLayout();
    promptLabel->setBuddy(deviceList);
    deviceList->setAccessibleName(promptLabel->text());
    addHelpKey(this, QStringLiteral("Connection device. "), &operator_);

    connect(deviceList, &ChoiceList::chosen, this, &ConnectionDialog::entryChosen);
    connect(otherEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
        choice_.typeOther(text);
        deviceList->clearSelection();
    });
    otherEdit->installEventFilter(this);
    connect(selectButton, &QPushButton::clicked, this, &ConnectionDialog::selectClicked);
    connect(cancelButton, &QPushButton::clicked, this, &ConnectionDialog::cancelClicked);
}

void ConnectionDialog::buildLayout() {
    auto* otherRow = new QHBoxLayout;
    otherRow->addWidget(otherCaption);
    otherRow->addWidget(otherEdit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(selectButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel);
    layout->addWidget(listPanel, 1);
    layout->addLayout(otherRow);
    layout->addLayout(buttons);
    resize(440, 330);

    setTabOrder(deviceList, otherEdit);
    setTabOrder(otherEdit, selectButton);
    setTabOrder(selectButton, cancelButton);
}

// The device icons in the sunken panel.
void ConnectionDialog::buildDeviceList() {
    deviceIcons << serialPortIcon();
    deviceList = new ChoiceList(listPanel);
    deviceList->setObjectName(QStringLiteral("deviceList"));
    deviceList->setViewMode(QListView::IconMode);
    deviceList->setIconSize(QSize(32, 32));
    deviceList->setGridSize(QSize(112, 72));
    deviceList->setMovement(QListView::Static);
    deviceList->setResizeMode(QListView::Adjust);
    deviceList->setWordWrap(true);
    deviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* panelLayout = new QVBoxLayout(listPanel);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    panelLayout->addWidget(deviceList);
}

ConnectionDialog::~ConnectionDialog() {
    windows_.unloaded(this);
}

void ConnectionDialog::onLoad() {
    windows_.loaded(this);
    windows_.centreLastWindow();
}

void ConnectionDialog::onActivate() {
    // On Windows a listing that shows a registry box makes the dialog active
    // again when the box closes; listing once more would show the box again,
    // without end.
    if (listingShowedBox_)
        listingShowedBox_ = false;
    else
        fillList();
    windows_.centreLastWindow();
}

void ConnectionDialog::fillList() {
    NotingOperator noting(operator_, listingShowedBox_);
    choice_.setEntries(withStableNames(makePortEntries(lister_(noting), simulatedPath_)));

    const QSignalBlocker block(deviceList);
    deviceList->clear();
    if (choice_.SelectedKey.isEmpty())
        preselect();
    for (const PortEntry& e : choice_.entries()) {
        auto* item = new QListWidgetItem(deviceIcons.value(0), e.Text, deviceList);
        item->setData(kKeyRole, e.Key);
        item->setToolTip(portDescription(e.Port));
        if (e.Key == choice_.SelectedKey)
            deviceList->setCurrentItem(item);
    }
    // Beside the ports: a unit behind a network gateway.
    auto* net = new QListWidgetItem(deviceIcons.value(0), kNetworkEntryText, deviceList);
    net->setData(kKeyRole, kNetworkEntryKey);
    if (choice_.SelectedKey == kNetworkEntryKey)
        deviceList->setCurrentItem(net);
}

namespace {
// The same device: the same name, or names that lead to the same file.
bool sameDevice(const QString& a, const QString& b) {
    if (a == b || a == portLocation(b) || portLocation(a) == b)
        return true;
    const QString target = QFileInfo(portLocation(a)).canonicalFilePath();
    return !target.isEmpty() && target == QFileInfo(portLocation(b)).canonicalFilePath();
}
} // namespace

// Nothing picked yet: the preferred port, else the first entry.
void ConnectionDialog::preselect() {
    choice_.click(choice_.entries().isEmpty() ? kNetworkEntryKey
                                              : choice_.entries().constFirst().Key);
    if (preferred_.isEmpty())
        return;
    if (isNetworkAddress(preferred_)) {
        choice_.click(kNetworkEntryKey);
        networkAddress_ = preferred_; // for its dialog, never in the "Other device" line
        return;
    }
    for (const PortEntry& e : choice_.entries())
        if (sameDevice(e.Port, preferred_))
            return choice_.click(e.Key);
    // A path typed last time is offered again in the "Other device" line, and
    // chosen while it is there. A pseudo-terminal is only offered: once its
    // program ends, its number goes to whichever opens one next (a terminal
    // window), so Return must not open it.
    otherEdit->setText(preferred_);
    const QString location = portLocation(preferred_);
    if (inUse_ || (QFileInfo::exists(location) && !location.startsWith(QLatin1String("/dev/pts/"))))
        choice_.typeOther(preferred_);
}

void ConnectionDialog::entryChosen(QListWidgetItem* item) {
    if (item != nullptr)
        choice_.click(item->data(kKeyRole).toString());
    else if (choice_.SelectedKey != PortChoice::kOtherKey)
        choice_.click(QString()); // nothing highlighted: nothing is chosen
}

int ConnectionDialog::exec() {
    onLoad();
    return QDialog::exec();
}

void ConnectionDialog::showEvent(QShowEvent* e) {
    if (!windows_.contains(this))
        onLoad();
    QDialog::showEvent(e);
    // Shown is the first activation, whether or not the window system
    // activates the dialog.
    onActivate();
    justShown_ = true;
    if (choice_.SelectedKey == PortChoice::kOtherKey)
        otherEdit->setFocus(Qt::OtherFocusReason);
    else
        deviceList->setFocus(Qt::OtherFocusReason);
}

bool ConnectionDialog::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible()) {
        if (justShown_)
            windows_.centreLastWindow();
        else
            onActivate();
        justShown_ = false;
    }
    return QDialog::event(e);
}

bool ConnectionDialog::eventFilter(QObject* watched, QEvent* e) {
    if (watched != otherEdit)
        return QDialog::eventFilter(watched, e);
    // Entering the "Other device" line selects what it holds, so that typing
    // replaces it; a click selects it once the button is released.
    if (e->type() == QEvent::FocusIn) {
        const bool mouse = static_cast<QFocusEvent*>(e)->reason() == Qt::MouseFocusReason;
        selectOnRelease_ = mouse;
        QTimer::singleShot(0, otherEdit, &QLineEdit::selectAll);
        // Clicking back into a typed path picks it again.
        if (mouse && !otherEdit->text().isEmpty()) {
            choice_.typeOther(otherEdit->text());
            deviceList->clearSelection();
        }
    } else if (e->type() == QEvent::MouseButtonRelease && selectOnRelease_) {
        selectOnRelease_ = false;
        const bool handled = QDialog::eventFilter(watched, e);
        otherEdit->selectAll();
        return handled;
    }
    return QDialog::eventFilter(watched, e);
}

void ConnectionDialog::selectClicked() {
    // A network unit's address comes from its own dialog.
    std::optional<QString> port;
    if (choice_.SelectedKey == kNetworkEntryKey) {
        port = NetworkUnitDialog::ask(this, networkAddress_);
        if (port)
            networkAddress_ = *port; // offered again when the dialog stays
    } else {
        port = choice_.chosenPort();
    }
    // Nothing chosen yet, the speed backed out of, or a port that did not
    // open: the dialog stays for another choice.
    if (!port || !opener_(*port))
        return;
    done(Accepted);
}

void ConnectionDialog::cancelClicked() {
    done(Rejected);
}

void ConnectionDialog::reject() {
    // Closing through the frame or with Escape is a Cancel.
    cancelClicked();
}

void ConnectionDialog::done(int result) {
    windows_.unloaded(this);
    QDialog::done(result);
}
