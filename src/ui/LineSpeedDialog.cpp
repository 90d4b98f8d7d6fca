#include "ui/LineSpeedDialog.h"

#include "connect/Connection.h"
#include "connect/SpeedChoice.h"
#include "startup/Configuration.h"
#include "ui/ConnectionDialog.h"
#include "ui/HelpWindow.h"
#include "ui/LoadedWindows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

LineSpeedDialog::LineSpeedDialog(Connection& connection, const Configuration& config,
                                 LoadedWindows& windows, QWidget* parent)
    : QDialog(parent), connection_(connection), config_(config), windows_(windows) {
    setObjectName(QStringLiteral("LineSpeedDialog"));
    setWindowTitle(QStringLiteral("Serial Communication Speed"));

    promptLabel = new QLabel(QStringLiteral("Please choose proper baud rate. "), this);
    promptLabel->setObjectName(QStringLiteral("promptLabel"));
    speedList = new ChoiceList(this);
    speedList->setObjectName(QStringLiteral("speedList"));
    speedList->setSelectionMode(QAbstractItemView::SingleSelection);
    selectButton = new QPushButton(QStringLiteral("&Select"), this);
    selectButton->setObjectName(QStringLiteral("selectButton"));
    selectButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(selectButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel);
    layout->addWidget(speedList, 1);
    layout->addWidget(makeLineGroup());
    layout->addLayout(buttons);
    resize(300, 380);
    promptLabel->setBuddy(speedList);
    speedList->setAccessibleName(QStringLiteral("Baud rate"));
    addHelpKey(this, QStringLiteral("The line: echo, direction, pause, retries"));

    connect(selectButton, &QPushButton::clicked, this, &LineSpeedDialog::selectClicked);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

QGroupBox* LineSpeedDialog::makeLineGroup() {
    lineGroup = new QGroupBox(QStringLiteral("Line"), this);
    lineGroup->setObjectName(QStringLiteral("lineGroup"));
    directionBox = new QComboBox(lineGroup);
    directionBox->setObjectName(QStringLiteral("directionBox"));
    directionBox->addItem(QStringLiteral("RTS switches it"), int(Direction::Rts));
    directionBox->addItem(QStringLiteral("The adapter, by itself"), int(Direction::Adapter));
    directionBox->addItem(QStringLiteral("The driver (kernel RS-485)"), int(Direction::Kernel));
    echoBox = new QComboBox(lineGroup);
    echoBox->setObjectName(QStringLiteral("echoBox"));
    echoBox->addItem(QStringLiteral("Drop it when it comes"), int(EchoMode::Auto));
    echoBox->addItem(QStringLiteral("Always comes"), int(EchoMode::On));
    echoBox->addItem(QStringLiteral("Never comes"), int(EchoMode::Off));
    pauseSpin = new QSpinBox(lineGroup);
    pauseSpin->setObjectName(QStringLiteral("pauseSpin"));
    pauseSpin->setRange(0, LineOptions::kMaxPauseMs);
    pauseSpin->setSuffix(QStringLiteral(" ms"));
    retriesSpin = new QSpinBox(lineGroup);
    retriesSpin->setObjectName(QStringLiteral("retriesSpin"));
    retriesSpin->setRange(0, 9);
    blockReadsBox = new QComboBox(lineGroup);
    blockReadsBox->setObjectName(QStringLiteral("blockReadsBox"));
    blockReadsBox->addItem(QStringLiteral("One message per request"), int(BlockReads::Off));
    blockReadsBox->addItem(QStringLiteral("Six per request, else one"), int(BlockReads::Auto));
    blockReadsBox->addItem(QStringLiteral("Six per request, always"), int(BlockReads::On));
    blockReadsBox->setToolTip(QStringLiteral(
        "How Read All and Compare ask: one message per request, as the unit has always been "
        "read; six at once (about three times faster) and one at a time for a unit that refuses "
        "that; or six at once, failing on a unit that refuses"));
    verifyCheck = new QCheckBox(QStringLiteral("Read each &write back"), lineGroup);
    verifyCheck->setObjectName(QStringLiteral("verifyCheck"));
    verifyCheck->setToolTip(QStringLiteral("After the editor, Write All or the comms test wrote a "
                                           "message, read it again and report a slot that does "
                                           "not hold it"));
    auto* form = new QFormLayout(lineGroup);
    form->addRow(QStringLiteral("&Direction:"), directionBox);
    form->addRow(QStringLiteral("&Echo:"), echoBox);
    form->addRow(QStringLiteral("&Pause between messages:"), pauseSpin);
    form->addRow(QStringLiteral("&Retries:"), retriesSpin);
    form->addRow(QStringLiteral("Re&ads:"), blockReadsBox);
    form->addRow(verifyCheck);
    showLine();
    return lineGroup;
}

void LineSpeedDialog::showLine() {
    const LineOptions& line = connection_.line;
    directionBox->setCurrentIndex(directionBox->findData(int(line.direction)));
    echoBox->setCurrentIndex(echoBox->findData(int(line.echo)));
    pauseSpin->setValue(line.pauseMs);
    retriesSpin->setValue(line.retries);
    blockReadsBox->setCurrentIndex(blockReadsBox->findData(int(line.blockReads)));
    verifyCheck->setChecked(line.verify);
}

void LineSpeedDialog::takeLine() {
    LineOptions& line = connection_.line;
    line.direction = static_cast<Direction>(directionBox->currentData().toInt());
    line.echo = static_cast<EchoMode>(echoBox->currentData().toInt());
    line.pauseMs = pauseSpin->value();
    line.retries = retriesSpin->value();
    line.blockReads = static_cast<BlockReads>(blockReadsBox->currentData().toInt());
    line.verify = verifyCheck->isChecked();
}

LineSpeedDialog::~LineSpeedDialog() {
    windows_.unloaded(this);
}

void LineSpeedDialog::fillSpeedList(const QStringList& settings) {
    speedList->clear();
    speedList->addItems(settings);
}

bool LineSpeedDialog::showModal() {
    return exec() == Accepted;
}

int LineSpeedDialog::exec() {
    onLoad();
    return QDialog::exec();
}

void LineSpeedDialog::onLoad() {
    showLine();
    windows_.loaded(this);
    windows_.centreLastWindow();
}

void LineSpeedDialog::showEvent(QShowEvent* e) {
    if (!windows_.contains(this))
        onLoad();
    QDialog::showEvent(e);
    windows_.centreLastWindow();
    preselect();
    speedList->setFocus(Qt::OtherFocusReason);
}

// The speed chosen last in this run, else the one remembered from the last
// run, else 9600: never the first line just because it is first.
void LineSpeedDialog::preselect() {
    const std::optional<LineSettings> last =
        connection_.portSettings ? connection_.portSettings : preferred_;
    QListWidgetItem* pick = nullptr;
    for (int i = 0; i < speedList->count(); ++i) {
        QListWidgetItem* item = speedList->item(i);
        const QString speed = item->text().section(QLatin1Char(','), 0, 0).trimmed();
        if (last && item->text() == last->text()) // the list shows the file's text
            pick = item;
        else if (pick == nullptr && speed == QLatin1String("9600"))
            pick = item;
    }
    if (pick != nullptr)
        speedList->setCurrentItem(pick);
}

bool LineSpeedDialog::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible())
        windows_.centreLastWindow();
    return QDialog::event(e);
}

int LineSpeedDialog::selectedIndex() const {
    const QList<QListWidgetItem*> selected = speedList->selectedItems();
    return selected.isEmpty() ? -1 : speedList->row(selected.first());
}

void LineSpeedDialog::selectClicked() {
    // The settings come from the table start-up filled the list from, not
    // from the list's text.
    connection_.portSettings = settingsForChoice(config_.baudRates, selectedIndex());
    takeLine();
    hide();
    done(Accepted);
}

void LineSpeedDialog::done(int result) {
    // Cancel, Escape and the frame's close end here too, with the settings
    // and the line untouched.
    windows_.unloaded(this);
    QDialog::done(result);
}
