#include "ui/frmBauds.h"

#include "connect/SpeedChoice.h"
#include "startup/SharedState.h"
#include "ui/LoadedWindows.h"
#include "ui/frmConnectionModems.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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
    layout->addLayout(buttons);
    resize(300, 220);

    connect(cmdSelect, &QPushButton::clicked, this, &frmBauds::cmdSelect_Click);
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

// The speed chosen last in this run, else 9600: never the first line just
// because it is first.
void frmBauds::preselect() {
    QListWidgetItem* pick = nullptr;
    for (int i = 0; i < LstBaudRates->count(); ++i) {
        QListWidgetItem* item = LstBaudRates->item(i);
        const QString speed = item->text().section(QLatin1Char(','), 0, 0).trimmed();
        if (!state_.CommSettings.isEmpty() && item->text() == state_.CommSettings)
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
    hide();
    done(Accepted);
}

void frmBauds::done(int result) {
    // Closing through the frame ends here too, with CommSettings untouched.
    windows_.unloaded(this);
    QDialog::done(result);
}
