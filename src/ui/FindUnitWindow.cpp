#include "ui/FindUnitWindow.h"

#include "connect/Connection.h"
#include "link/SerialPort.h"
#include "startup/ConfigFiles.h"
#include "startup/Configuration.h"
#include "startup/Operator.h"
#include "transport/Endpoint.h"
#include "ui/Controls.h"
#include "ui/HelpWindow.h"
#include "ui/ScreenFit.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// "4800, 9600" -> {4800, 9600}; nothing when a word is not a line speed.
std::optional<QVector<int>> parseSpeeds(const QString& text) {
    QVector<int> speeds;
    const QStringList words =
        text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
    for (const QString& w : words) {
        bool ok = false;
        const int baud = w.toInt(&ok);
        if (!ok || !isLineSpeed(baud))
            return std::nullopt;
        if (!speeds.contains(baud))
            speeds << baud;
    }
    if (speeds.isEmpty())
        return std::nullopt;
    return speeds;
}

QString seconds(qint64 ms) {
    return QString::number((ms + 500) / 1000);
}

} // namespace

FindUnitWindow::FindUnitWindow(const Configuration& config, Connection& connection,
                               SerialPort& port, Transport& transport, Operator& op,
                               QWidget* parent)
    : QDialog(parent), config_(config), connection_(connection), port_(port), transport_(transport),
      op_(op), rtu_(port, config.crcTable), scanner_(rtu_),
      netScanner_(transport, ScanLine{nullptr, NetTiming{}.firstByteMs}) {
    setObjectName(QStringLiteral("FindUnitWindow"));
    setWindowTitle(QStringLiteral("Find Unit"));
    rtu_.followLine(&connection.line);

    buildControls();
    connectControls();
    addHelpKey(this, QStringLiteral("Find Unit... (Alt+F)"), &op_);
}

void FindUnitWindow::showEvent(QShowEvent* event) {
    const QString where = transport_.endpointName();
    setWindowTitle(where.isEmpty() ? QStringLiteral("Find Unit")
                                   : QStringLiteral("Find Unit on %1").arg(where));
    QDialog::showEvent(event);
}

void FindUnitWindow::connectControls() {
    connect(startButton, &QPushButton::clicked, this, &FindUnitWindow::start);
    connect(useButton, &QPushButton::clicked, this, &FindUnitWindow::use);
    connect(closeButton, &QPushButton::clicked, this, &FindUnitWindow::reject);
    connect(foundList, &QTreeWidget::itemDoubleClicked, this, &FindUnitWindow::use);
    connect(foundList, &QTreeWidget::currentItemChanged, this,
            [this] { useButton->setEnabled(!running_ && foundList->currentItem() != nullptr); });
    for (Scanner* scanner : {&scanner_, &netScanner_}) {
        connect(scanner, &Scanner::unitFound, this, &FindUnitWindow::addFound);
        connect(scanner, &Scanner::progress, this, [this](int done, int count, qint64 msLeft) {
            progressBar->setMaximum(count);
            progressBar->setValue(done);
            timeLeftLabel->setText(QStringLiteral("%1 s left").arg(seconds(msLeft)));
        });
        connect(scanner, &Scanner::hint, this, [this](int baud, const QString& what) {
            hintsLabel->setText(
                QStringLiteral("Something answers at %1 baud, but not as a unit: %2. "
                               "Check the line's framing and termination.")
                    .arg(baud)
                    .arg(what));
        });
    }
    for (QSpinBox* s : {firstSpin, lastSpin, waitSpin})
        connect(s, &QSpinBox::valueChanged, this, &FindUnitWindow::updateEstimate);
    connect(speedsEdit, &QLineEdit::textChanged, this, &FindUnitWindow::updateEstimate);
    updateEstimate();
}

void FindUnitWindow::buildControls() {
    estimateLabel = new QLabel(this);
    estimateLabel->setObjectName(QStringLiteral("estimateLabel"));
    estimateLabel->setWordWrap(true);
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setAccessibleName(QStringLiteral("Scan progress"));
    progressBar->setValue(0);
    timeLeftLabel = new QLabel(this);
    timeLeftLabel->setObjectName(QStringLiteral("timeLeftLabel"));
    foundList = new QTreeWidget(this);
    foundList->setObjectName(QStringLiteral("foundList"));
    foundList->setAccessibleName(QStringLiteral("Units found"));
    foundList->setHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Speed"), QStringLiteral("First message")});
    foundList->setRootIsDecorated(false);
    foundList->header()->setStretchLastSection(true);
    hintsLabel = new QLabel(this);
    hintsLabel->setObjectName(QStringLiteral("hintsLabel"));
    hintsLabel->setWordWrap(true);
    startButton = commandButton(QStringLiteral("startButton"), QStringLiteral("&Start"), this);
    useButton = commandButton(QStringLiteral("useButton"), QStringLiteral("&Use"), this);
    useButton->setToolTip(QStringLiteral("Talk to the highlighted unit at its address and speed"));
    useButton->setEnabled(false);
    closeButton = commandButton(QStringLiteral("closeButton"), QStringLiteral("C&lose"), this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(progressBar, 1);
    bar->addWidget(timeLeftLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(startButton);
    buttons->addStretch(1);
    buttons->addWidget(useButton);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buildPlan());
    layout->addWidget(estimateLabel);
    layout->addLayout(bar);
    layout->addWidget(foundList, 1);
    layout->addWidget(hintsLabel);
    layout->addLayout(buttons);
    resizeWithinScreen(this, QSize(520, 460));
}

QLayout* FindUnitWindow::buildPlan() {
    firstSpin = new QSpinBox(this);
    firstSpin->setObjectName(QStringLiteral("firstSpin"));
    lastSpin = new QSpinBox(this);
    lastSpin->setObjectName(QStringLiteral("lastSpin"));
    for (QSpinBox* s : {firstSpin, lastSpin})
        s->setRange(kFirstUnitAddress, kLastUnitAddress);
    firstSpin->setValue(kFirstUnitAddress);
    lastSpin->setValue(kLastUnitAddress);
    // The speeds start-up read, in their order.
    QStringList speeds;
    for (int i = 1; i <= kSpeedCount; ++i)
        if (const QString s =
                config_.baudRates[static_cast<size_t>(i)].section(QLatin1Char(','), 0, 0);
            !s.isEmpty())
            speeds << s;
    speedsEdit = new QLineEdit(speeds.join(QStringLiteral(", ")), this);
    speedsEdit->setObjectName(QStringLiteral("speedsEdit"));
    speedsEdit->setToolTip(QStringLiteral("Line speeds to try, in this order"));
    waitSpin = new QSpinBox(this);
    waitSpin->setObjectName(QStringLiteral("waitSpin"));
    waitSpin->setRange(20, 5000);
    waitSpin->setSuffix(QStringLiteral(" ms"));
    waitSpin->setValue(rtu_.timing().firstByteMs);
    waitSpin->setToolTip(QStringLiteral("How long each probe waits for the first byte of a "
                                        "reply; shorter is faster but may miss a slow unit"));
    firstOnlyCheck = new QCheckBox(QStringLiteral("Stop at the first unit &found"), this);
    firstOnlyCheck->setObjectName(QStringLiteral("firstOnlyCheck"));

    auto* range = new QHBoxLayout;
    range->addWidget(firstSpin);
    range->addWidget(new QLabel(QStringLiteral("to"), this));
    range->addWidget(lastSpin);
    range->addStretch(1);
    auto* form = new QFormLayout;
    auto* addresses = new QLabel(QStringLiteral("&Addresses:"), this);
    addresses->setBuddy(firstSpin);
    firstSpin->setAccessibleName(QStringLiteral("First address"));
    lastSpin->setAccessibleName(QStringLiteral("Last address"));
    form->addRow(addresses, range);
    form->addRow(QStringLiteral("S&peeds:"), speedsEdit);
    form->addRow(QStringLiteral("&Wait per probe:"), waitSpin);
    form->addRow(QString(), firstOnlyCheck);
    for (QWidget* w : {static_cast<QWidget*>(speedsEdit), static_cast<QWidget*>(waitSpin)})
        if (auto* label = qobject_cast<QLabel*>(form->labelForField(w)))
            label->setBuddy(w);
    return form;
}

std::optional<ScanPlan> FindUnitWindow::plan(QString* why) const {
    const std::optional<QVector<int>> speeds = parseSpeeds(speedsEdit->text());
    if (!speeds) {
        if (why)
            *why = QStringLiteral("The speeds must be line speeds (1200 to 115200 baud), "
                                  "separated by commas.");
        return std::nullopt;
    }
    if (firstSpin->value() > lastSpin->value()) {
        if (why)
            *why = QStringLiteral("The first address must not be above the last.");
        return std::nullopt;
    }
    ScanPlan p;
    p.firstUnit = firstSpin->value();
    p.lastUnit = lastSpin->value();
    p.speeds = *speeds;
    p.probeMs = waitSpin->value();
    p.stopAtFirst = firstOnlyCheck->isChecked();
    return p;
}

void FindUnitWindow::updateEstimate() {
    QString why;
    const std::optional<ScanPlan> p = plan(&why);
    if (!p) {
        estimateLabel->setText(why);
        return;
    }
    estimateLabel->setText(QStringLiteral("A full scan of %1 addresses at %2 speeds (%3 probes) "
                                          "takes up to %4 s.")
                               .arg(p->lastUnit - p->firstUnit + 1)
                               .arg(p->speeds.size())
                               .arg(p->probeCount())
                               .arg(seconds(Scanner::worstCaseMs(*p, rtu_.timing()))));
}

void FindUnitWindow::start() {
    const bool network = connection_.network();
    if (running_) {
        (network ? netScanner_ : scanner_).requestStop();
        return;
    }
    if (network) { // each address through the gateway, at the speed it runs its line
        startThroughGateway();
        return;
    }
    if (!port_.isOpen()) {
        op_.message(QStringLiteral("Find Unit scans a serial line. Open a serial port with "
                                   "Connect... first."),
                    windowTitle(), MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    QString why;
    const std::optional<ScanPlan> p = plan(&why);
    if (!p) {
        op_.message(why, windowTitle(), MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    const TransportClaim claim(transport_); // the other windows send nothing meanwhile
    if (!claim.ok()) {
        op_.message(QStringLiteral("The serial link is busy with another operation. Try again "
                                   "when it has finished."),
                    windowTitle(), MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    runScan(scanner_, *p);
}

void FindUnitWindow::startThroughGateway() {
    QString why;
    std::optional<ScanPlan> p = plan(&why);
    if (!p) {
        op_.message(why, windowTitle(), MsgIcon::Exclamation, MsgButtons::Ok);
        return;
    }
    p->speeds.clear(); // the gateway's line runs at its own speed
    p->probeMs = 0;    // the gateway's own wait
    // The scan holds the program's transport itself: nothing else goes meanwhile.
    runScan(netScanner_, *p);
}

void FindUnitWindow::runScan(Scanner& scanner, const ScanPlan& p) {
    foundList->clear();
    found_.clear();
    hintsLabel->clear();
    progressBar->setMaximum(p.probeCount());
    progressBar->setValue(0);
    running_ = true;
    startButton->setText(QStringLiteral("S&top"));
    useButton->setEnabled(false);
    closeButton->setEnabled(false);
    const ScanResult r = scanner.run(p);
    running_ = false;
    startButton->setText(QStringLiteral("&Start"));
    closeButton->setEnabled(true);
    useButton->setEnabled(foundList->currentItem() != nullptr);
    showEnd(r);
}

void FindUnitWindow::showEnd(const ScanResult& r) {
    QString end;
    switch (r.outcome) {
    case ScanResult::Outcome::Finished:
        end = QStringLiteral("done");
        break;
    case ScanResult::Outcome::Stopped:
        end = QStringLiteral("stopped");
        break;
    case ScanResult::Outcome::Refused:
    case ScanResult::Outcome::PortFailed:
        end = QStringLiteral("failed");
        op_.message(r.error, windowTitle(), MsgIcon::Critical, MsgButtons::Ok);
        break;
    }
    timeLeftLabel->setText(
        QStringLiteral("%1: %2 probes, %3 found").arg(end).arg(r.probes).arg(r.found.size()));
}

void FindUnitWindow::addFound(const FoundUnit& unit) {
    found_.append(unit);
    auto* item =
        new QTreeWidgetItem(foundList, {QString::number(unit.unit), QString::number(unit.baud),
                                        unit.note.isEmpty() ? unit.firstMessage : unit.note});
    item->setData(0, Qt::UserRole, int(found_.size() - 1));
    if (foundList->currentItem() == nullptr)
        foundList->setCurrentItem(item);
}

void FindUnitWindow::use() {
    QTreeWidgetItem* item = foundList->currentItem();
    if (running_ || item == nullptr)
        return;
    chosen_ = found_.value(item->data(0, Qt::UserRole).toInt());
    accept();
}

std::optional<LineSettings> FindUnitWindow::chosenSettings() const {
    if (!chosen_ || chosen_->baud == 0) // through a gateway: no speed of its own
        return std::nullopt;
    return port_.settings().withBaud(chosen_->baud);
}

void FindUnitWindow::reject() {
    // Escape or the frame's close while the scan runs stops it; the window stays.
    if (running_) {
        scanner_.requestStop();
        return;
    }
    QDialog::reject();
}
