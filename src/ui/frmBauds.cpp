#include "ui/frmBauds.h"

#include "connect/SpeedChoice.h"
#include "startup/SharedState.h"
#include "ui/LoadedWindows.h"
#include "ui/frmConnectionModems.h"

#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

frmBauds::frmBauds(SharedState& state, LoadedWindows& windows, QWidget* parent)
    : QDialog(parent), state_(state), windows_(windows) {
    setObjectName(QStringLiteral("frmBauds"));
    setWindowTitle(QStringLiteral("Serial Communication Speed"));

    Label1 = new QLabel(QStringLiteral("Please choose proper baud rate. "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    LstBaudRates = new ChoiceList(this);
    LstBaudRates->setObjectName(QStringLiteral("LstBaudRates"));
    LstBaudRates->setSelectionMode(QAbstractItemView::SingleSelection);
    cmdSelect = new QPushButton(QStringLiteral("&Select"), this);
    cmdSelect->setObjectName(QStringLiteral("cmdSelect"));
    cmdSelect->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdSelect);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(LstBaudRates, 1);
    layout->addWidget(makeLineGroup());
    layout->addLayout(buttons);
    resize(300, 380);

    connect(cmdSelect, &QPushButton::clicked, this, &frmBauds::cmdSelect_Click);
}

QGroupBox* frmBauds::makeLineGroup() {
    fraLine = new QGroupBox(QStringLiteral("Line"), this);
    fraLine->setObjectName(QStringLiteral("fraLine"));
    cboDirection = new QComboBox(fraLine);
    cboDirection->setObjectName(QStringLiteral("cboDirection"));
    cboDirection->addItem(QStringLiteral("RTS switches it"), int(Direction::Rts));
    cboDirection->addItem(QStringLiteral("The adapter, by itself"), int(Direction::Adapter));
    cboDirection->addItem(QStringLiteral("The driver (kernel RS-485)"), int(Direction::Kernel));
    cboEcho = new QComboBox(fraLine);
    cboEcho->setObjectName(QStringLiteral("cboEcho"));
    cboEcho->addItem(QStringLiteral("Drop it when it comes"), int(EchoMode::Auto));
    cboEcho->addItem(QStringLiteral("Always comes"), int(EchoMode::On));
    cboEcho->addItem(QStringLiteral("Never comes"), int(EchoMode::Off));
    spnPauseMs = new QSpinBox(fraLine);
    spnPauseMs->setObjectName(QStringLiteral("spnPauseMs"));
    spnPauseMs->setRange(0, LineOptions::kMaxPauseMs);
    spnPauseMs->setSuffix(QStringLiteral(" ms"));
    spnRetries = new QSpinBox(fraLine);
    spnRetries->setObjectName(QStringLiteral("spnRetries"));
    spnRetries->setRange(0, 9);
    auto* form = new QFormLayout(fraLine);
    form->addRow(QStringLiteral("&Direction:"), cboDirection);
    form->addRow(QStringLiteral("&Echo:"), cboEcho);
    form->addRow(QStringLiteral("&Pause between messages:"), spnPauseMs);
    form->addRow(QStringLiteral("&Retries:"), spnRetries);
    showLine();
    return fraLine;
}

void frmBauds::showLine() {
    const LineOptions& line = state_.Line;
    cboDirection->setCurrentIndex(cboDirection->findData(int(line.direction)));
    cboEcho->setCurrentIndex(cboEcho->findData(int(line.echo)));
    spnPauseMs->setValue(line.pauseMs);
    spnRetries->setValue(line.retries);
}

void frmBauds::takeLine() {
    LineOptions& line = state_.Line;
    line.direction = static_cast<Direction>(cboDirection->currentData().toInt());
    line.echo = static_cast<EchoMode>(cboEcho->currentData().toInt());
    line.pauseMs = spnPauseMs->value();
    line.retries = spnRetries->value();
}

frmBauds::~frmBauds() {
    windows_.unloaded(this);
}

void frmBauds::fillSpeedList(const QStringList& settings) {
    LstBaudRates->clear();
    LstBaudRates->addItems(settings);
}

void frmBauds::showModal() {
    exec();
}

int frmBauds::exec() {
    Form_Load();
    return QDialog::exec();
}

void frmBauds::Form_Load() {
    showLine();
    windows_.loaded(this);
    windows_.centerForm();
}

void frmBauds::showEvent(QShowEvent* e) {
    if (!windows_.contains(this))
        Form_Load();
    QDialog::showEvent(e);
    windows_.centerForm();
    preselect();
    LstBaudRates->setFocus(Qt::OtherFocusReason);
}

// The speed chosen last in this run, else the one remembered from the last
// run, else 9600: never the first line just because it is first.
void frmBauds::preselect() {
    const QString last = state_.CommSettings.isEmpty() ? preferred_ : state_.CommSettings;
    QListWidgetItem* pick = nullptr;
    for (int i = 0; i < LstBaudRates->count(); ++i) {
        QListWidgetItem* item = LstBaudRates->item(i);
        const QString speed = item->text().section(QLatin1Char(','), 0, 0).trimmed();
        if (!last.isEmpty() && item->text() == last)
            pick = item;
        else if (pick == nullptr && speed == QLatin1String("9600"))
            pick = item;
    }
    if (pick != nullptr)
        LstBaudRates->setCurrentItem(pick);
}

bool frmBauds::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && isVisible())
        windows_.centerForm();
    return QDialog::event(e);
}

int frmBauds::selectedIndex() const {
    const QList<QListWidgetItem*> selected = LstBaudRates->selectedItems();
    return selected.isEmpty() ? -1 : LstBaudRates->row(selected.first());
}

void frmBauds::cmdSelect_Click() {
    // The settings come from the table start-up filled the list from, not
    // from the list's text.
    state_.CommSettings = settingsForChoice(state_.BaudRates, selectedIndex());
    takeLine();
    hide();
    done(Accepted);
}

void frmBauds::done(int result) {
    // Closing through the frame ends here too, with CommSettings untouched.
    windows_.unloaded(this);
    QDialog::done(result);
}
