#include "ui/LineUnitsWindow.h"

#include "connect/Connection.h"
#include "scan/Scanner.h"
#include "startup/MessageText.h"
#include "startup/Operator.h"
#include "table/MessageTable.h"
#include "transport/Transport.h"
#include "ui/Controls.h"
#include "ui/HelpWindow.h"
#include "ui/ScreenFit.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

LineUnitsWindow::LineUnitsWindow(Transport& transport, Operator& op, const MessageTable& startup,
                                 const Connection& connection, QWidget* parent)
    : QDialog(parent), transport_(transport), op_(op), startup_(startup), connection_(connection) {
    setObjectName(QStringLiteral("LineUnitsWindow"));
    const QString where = transport.endpointName();
    setWindowTitle(where.isEmpty() ? QStringLiteral("Units on This Line")
                                   : QStringLiteral("Units on This Line: %1").arg(where));
    chooseFolder_ = [this](const QString& caption, const QString& last) {
        return QFileDialog::getExistingDirectory(this, caption, last);
    };
    lastFolder_ = QDir::homePath();
    buildControls();
    connect(&transport_, &Transport::busyChanged, this, &LineUnitsWindow::updateButtons);
    updateButtons();
}

LineUnitsWindow::~LineUnitsWindow() = default;

void LineUnitsWindow::buildControls() {
    unitList = new QTreeWidget(this);
    unitList->setObjectName(QStringLiteral("unitList"));
    unitList->setAccessibleName(QStringLiteral("Units on this line"));
    unitList->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("First message"),
                               QStringLiteral("Last backup or restore"), QStringLiteral("Result"),
                               QStringLiteral("Compare")});
    unitList->header()->setStretchLastSection(true);
    unitList->setColumnWidth(kAddress, 70);
    unitList->setColumnWidth(kFirstMessage, 330);
    unitList->setColumnWidth(kLast, 170);
    unitList->setColumnWidth(kLastResult, 150);
    unitList->setToolTip(QStringLiteral("Double-click a unit to make it the unit of every window"));
    connect(unitList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        while (item->parent())
            item = item->parent();
        emit unitChosen(item->data(kAddress, Qt::UserRole).toInt());
    });
    lineProgressBar = new QProgressBar(this);
    lineProgressBar->setObjectName(QStringLiteral("lineProgressBar"));
    lineProgressBar->setAccessibleName(QStringLiteral("Progress of the whole line"));
    lineProgressBar->setValue(0);
    underWayLabel = new QLabel(this);
    underWayLabel->setObjectName(QStringLiteral("underWayLabel"));
    auto* all = new QVBoxLayout(this);
    all->addWidget(unitList);
    all->addWidget(lineProgressBar);
    all->addWidget(underWayLabel);
    all->addLayout(buildButtons());
    resizeWithinScreen(this, QSize(980, 420));
    addHelpKey(this, QStringLiteral("Units on This Line. "), &op_);
}

QLayout* LineUnitsWindow::buildButtons() {
    scanButton = commandButton(QStringLiteral("scanButton"), QStringLiteral("&Scan"), this);
    backUpAllButton =
        commandButton(QStringLiteral("backUpAllButton"), QStringLiteral("&Back Up All..."), this);
    compareAllButton =
        commandButton(QStringLiteral("compareAllButton"), QStringLiteral("C&ompare All..."), this);
    restoreAllButton =
        commandButton(QStringLiteral("restoreAllButton"), QStringLiteral("&Restore All..."), this);
    stopButton = commandButton(QStringLiteral("stopButton"), QStringLiteral("S&top"), this);
    closeButton = commandButton(QStringLiteral("closeButton"), QStringLiteral("&Close"), this);
    scanButton->setToolTip(QStringLiteral("Look for units at addresses 1 to 31 at the line's "
                                          "speed"));
    backUpAllButton->setToolTip(QStringLiteral("Read every unit listed into a folder: "
                                               "unit-NN.sav each, and index.csv"));
    compareAllButton->setToolTip(QStringLiteral("Read each unit of a folder's backup and list "
                                                "the slots that differ from its file"));
    restoreAllButton->setToolTip(QStringLiteral("Write each unit of a folder's backup where it "
                                                "differs; asks first, naming the units"));
    stopButton->setToolTip(QStringLiteral("Stop after the request under way (Esc)"));
    connect(scanButton, &QPushButton::clicked, this, &LineUnitsWindow::scan);
    connect(backUpAllButton, &QPushButton::clicked, this, &LineUnitsWindow::backUpAll);
    connect(compareAllButton, &QPushButton::clicked, this, &LineUnitsWindow::compareAll);
    connect(restoreAllButton, &QPushButton::clicked, this, &LineUnitsWindow::restoreAll);
    connect(stopButton, &QPushButton::clicked, this, &LineUnitsWindow::stop);
    connect(closeButton, &QPushButton::clicked, this, &LineUnitsWindow::reject);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {scanButton, backUpAllButton, compareAllButton, restoreAllButton})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(stopButton);
    buttons->addWidget(closeButton);
    return buttons;
}

QVector<int> LineUnitsWindow::units() const {
    QVector<int> out;
    for (int i = 0; i < unitList->topLevelItemCount(); ++i)
        out << unitList->topLevelItem(i)->data(kAddress, Qt::UserRole).toInt();
    return out;
}

QTreeWidgetItem* LineUnitsWindow::row(int unit) {
    int at = 0;
    for (; at < unitList->topLevelItemCount(); ++at) {
        QTreeWidgetItem* item = unitList->topLevelItem(at);
        const int listed = item->data(kAddress, Qt::UserRole).toInt();
        if (listed == unit)
            return item;
        if (listed > unit)
            break;
    }
    auto* item = new QTreeWidgetItem;
    item->setText(kAddress, QString::number(unit));
    item->setData(kAddress, Qt::UserRole, unit);
    unitList->insertTopLevelItem(at, item);
    return item;
}

void LineUnitsWindow::addFound(const FoundUnit& unit) {
    QTreeWidgetItem* item = row(unit.unit);
    item->setText(kFirstMessage,
                  unit.note.isEmpty() ? MessageText::escaped(unit.firstMessage) : unit.note);
}

bool LineUnitsWindow::mayStart() {
    if (running_.isEmpty() && !transport_.busy())
        return true;
    op_.message(QStringLiteral("Another operation holds the line: start again once it is over."),
                windowTitle(), MsgIcon::Exclamation, MsgButtons::Ok);
    return false;
}

void LineUnitsWindow::setRunning(bool on) {
    if (!on) {
        running_.clear();
        underWayLabel->setText(QString());
    }
    updateButtons();
}

void LineUnitsWindow::updateButtons() {
    const bool idle = running_.isEmpty();
    const bool free = idle && !transport_.busy();
    for (QPushButton* b : {scanButton, compareAllButton, restoreAllButton})
        b->setEnabled(free);
    backUpAllButton->setEnabled(free && unitList->topLevelItemCount() > 0);
    stopButton->setEnabled(!idle);
    closeButton->setEnabled(idle);
}

void LineUnitsWindow::stop() {
    if (run_)
        run_->requestStop();
    if (scanner_)
        scanner_->requestStop();
}

void LineUnitsWindow::reject() {
    if (!running_.isEmpty()) { // Escape or the window's close: the run stops first
        stop();
        return;
    }
    QDialog::reject();
}
