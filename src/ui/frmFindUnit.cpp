#include "ui/frmFindUnit.h"

#include "link/SerialPort.h"
#include "startup/ConfigFiles.h"
#include "startup/Operator.h"
#include "startup/SharedState.h"
#include "transport/Endpoint.h"
#include "ui/Controls.h"

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

frmFindUnit::frmFindUnit(SharedState& state, SerialPort& port, Transport& transport, Operator& op,
                         QWidget* parent)
    : QDialog(parent), state_(state), port_(port), transport_(transport), op_(op),
      rtu_(port, state.CrcTable), scanner_(rtu_) {
    setObjectName(QStringLiteral("frmFindUnit"));
    setWindowTitle(QStringLiteral("Find Unit"));
    rtu_.followLine(&state.Line);

    lblEstimate = new QLabel(this);
    lblEstimate->setObjectName(QStringLiteral("lblEstimate"));
    lblEstimate->setWordWrap(true);
    barProgress = new QProgressBar(this);
    barProgress->setObjectName(QStringLiteral("barProgress"));
    barProgress->setValue(0);
    lblLeft = new QLabel(this);
    lblLeft->setObjectName(QStringLiteral("lblLeft"));
    lstFound = new QTreeWidget(this);
    lstFound->setObjectName(QStringLiteral("lstFound"));
    lstFound->setHeaderLabels(
        {QStringLiteral("Address"), QStringLiteral("Speed"), QStringLiteral("First message")});
    lstFound->setRootIsDecorated(false);
    lstFound->header()->setStretchLastSection(true);
    lblHints = new QLabel(this);
    lblHints->setObjectName(QStringLiteral("lblHints"));
    lblHints->setWordWrap(true);
    cmdStart = commandButton(QStringLiteral("cmdStart"), QStringLiteral("&Start"), this);
    cmdUse = commandButton(QStringLiteral("cmdUse"), QStringLiteral("&Use"), this);
    cmdUse->setToolTip(QStringLiteral("Talk to the highlighted unit at its address and speed"));
    cmdUse->setEnabled(false);
    cmdClose = commandButton(QStringLiteral("cmdClose"), QStringLiteral("C&lose"), this);

    auto* bar = new QHBoxLayout;
    bar->addWidget(barProgress, 1);
    bar->addWidget(lblLeft);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdStart);
    buttons->addStretch(1);
    buttons->addWidget(cmdUse);
    buttons->addWidget(cmdClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buildPlan());
    layout->addWidget(lblEstimate);
    layout->addLayout(bar);
    layout->addWidget(lstFound, 1);
    layout->addWidget(lblHints);
    layout->addLayout(buttons);
    resize(520, 460);

    connect(cmdStart, &QPushButton::clicked, this, &frmFindUnit::start);
    connect(cmdUse, &QPushButton::clicked, this, &frmFindUnit::use);
    connect(cmdClose, &QPushButton::clicked, this, &frmFindUnit::reject);
    connect(lstFound, &QTreeWidget::itemDoubleClicked, this, &frmFindUnit::use);
    connect(lstFound, &QTreeWidget::currentItemChanged, this,
            [this] { cmdUse->setEnabled(!running_ && lstFound->currentItem() != nullptr); });
    connect(&scanner_, &Scanner::unitFound, this, &frmFindUnit::addFound);
    connect(&scanner_, &Scanner::progress, this, [this](int done, int count, qint64 msLeft) {
        barProgress->setMaximum(count);
        barProgress->setValue(done);
        lblLeft->setText(QStringLiteral("%1 s left").arg(seconds(msLeft)));
    });
    connect(&scanner_, &Scanner::hint, this, [this](int baud, const QString& what) {
        lblHints->setText(QStringLiteral("Something answers at %1 baud, but not as a unit: %2. "
                                         "Check the line's framing and termination.")
                              .arg(baud)
                              .arg(what));
    });
    for (QSpinBox* s : {spnFirst, spnLast, spnWaitMs})
        connect(s, &QSpinBox::valueChanged, this, &frmFindUnit::updateEstimate);
    connect(txtSpeeds, &QLineEdit::textChanged, this, &frmFindUnit::updateEstimate);
    updateEstimate();
}

QLayout* frmFindUnit::buildPlan() {
    spnFirst = new QSpinBox(this);
    spnFirst->setObjectName(QStringLiteral("spnFirst"));
    spnLast = new QSpinBox(this);
    spnLast->setObjectName(QStringLiteral("spnLast"));
    for (QSpinBox* s : {spnFirst, spnLast})
        s->setRange(kFirstUnitAddress, kLastUnitAddress);
    spnFirst->setValue(kFirstUnitAddress);
    spnLast->setValue(kLastUnitAddress);
    // The speeds start-up read, in their order.
    QStringList speeds;
    for (int i = 1; i <= kSpeedCount; ++i)
        if (const QString s =
                state_.BaudRates[static_cast<size_t>(i)].section(QLatin1Char(','), 0, 0);
            !s.isEmpty())
            speeds << s;
    txtSpeeds = new QLineEdit(speeds.join(QStringLiteral(", ")), this);
    txtSpeeds->setObjectName(QStringLiteral("txtSpeeds"));
    txtSpeeds->setToolTip(QStringLiteral("Line speeds to try, in this order"));
    spnWaitMs = new QSpinBox(this);
    spnWaitMs->setObjectName(QStringLiteral("spnWaitMs"));
    spnWaitMs->setRange(20, 5000);
    spnWaitMs->setSuffix(QStringLiteral(" ms"));
    spnWaitMs->setValue(rtu_.timing().firstByteMs);
    spnWaitMs->setToolTip(QStringLiteral("How long each probe waits for the first byte of a "
                                         "reply; shorter is faster but may miss a slow unit"));
    chkFirst = new QCheckBox(QStringLiteral("Stop at the first unit &found"), this);
    chkFirst->setObjectName(QStringLiteral("chkFirst"));

    auto* range = new QHBoxLayout;
    range->addWidget(spnFirst);
    range->addWidget(new QLabel(QStringLiteral("to"), this));
    range->addWidget(spnLast);
    range->addStretch(1);
    auto* form = new QFormLayout;
    auto* addresses = new QLabel(QStringLiteral("&Addresses:"), this);
    addresses->setBuddy(spnFirst);
    form->addRow(addresses, range);
    form->addRow(QStringLiteral("S&peeds:"), txtSpeeds);
    form->addRow(QStringLiteral("&Wait per probe:"), spnWaitMs);
    form->addRow(QString(), chkFirst);
    for (QWidget* w : {static_cast<QWidget*>(txtSpeeds), static_cast<QWidget*>(spnWaitMs)})
        if (auto* label = qobject_cast<QLabel*>(form->labelForField(w)))
            label->setBuddy(w);
    return form;
}

std::optional<ScanPlan> frmFindUnit::plan(QString* why) const {
    const std::optional<QVector<int>> speeds = parseSpeeds(txtSpeeds->text());
    if (!speeds) {
        if (why)
            *why = QStringLiteral("The speeds must be line speeds (1200 to 115200 baud), "
                                  "separated by commas.");
        return std::nullopt;
    }
    if (spnFirst->value() > spnLast->value()) {
        if (why)
            *why = QStringLiteral("The first address must not be above the last.");
        return std::nullopt;
    }
    ScanPlan p;
    p.firstUnit = spnFirst->value();
    p.lastUnit = spnLast->value();
    p.speeds = *speeds;
    p.probeMs = spnWaitMs->value();
    p.stopAtFirst = chkFirst->isChecked();
    return p;
}

void frmFindUnit::updateEstimate() {
    QString why;
    const std::optional<ScanPlan> p = plan(&why);
    if (!p) {
        lblEstimate->setText(why);
        return;
    }
    lblEstimate->setText(QStringLiteral("A full scan of %1 addresses at %2 speeds (%3 probes) "
                                        "takes up to %4 s.")
                             .arg(p->lastUnit - p->firstUnit + 1)
                             .arg(p->speeds.size())
                             .arg(p->probeCount())
                             .arg(seconds(Scanner::worstCaseMs(*p, rtu_.timing()))));
}

void frmFindUnit::start() {
    if (running_) {
        scanner_.requestStop();
        return;
    }
    if (isNetworkAddress(state_.PortName) || !port_.isOpen()) {
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
    lstFound->clear();
    found_.clear();
    lblHints->clear();
    barProgress->setMaximum(p->probeCount());
    barProgress->setValue(0);
    running_ = true;
    cmdStart->setText(QStringLiteral("S&top"));
    cmdUse->setEnabled(false);
    cmdClose->setEnabled(false);
    const ScanResult r = scanner_.run(*p);
    running_ = false;
    cmdStart->setText(QStringLiteral("&Start"));
    cmdClose->setEnabled(true);
    cmdUse->setEnabled(lstFound->currentItem() != nullptr);
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
    lblLeft->setText(
        QStringLiteral("%1: %2 probes, %3 found").arg(end).arg(r.probes).arg(r.found.size()));
}

void frmFindUnit::addFound(const FoundUnit& unit) {
    found_.append(unit);
    auto* item =
        new QTreeWidgetItem(lstFound, {QString::number(unit.unit), QString::number(unit.baud),
                                       unit.note.isEmpty() ? unit.firstMessage : unit.note});
    item->setData(0, Qt::UserRole, int(found_.size() - 1));
    if (lstFound->currentItem() == nullptr)
        lstFound->setCurrentItem(item);
}

void frmFindUnit::use() {
    QTreeWidgetItem* item = lstFound->currentItem();
    if (running_ || item == nullptr)
        return;
    chosen_ = found_.value(item->data(0, Qt::UserRole).toInt());
    accept();
}

QString frmFindUnit::chosenSettings() const {
    if (!chosen_)
        return {};
    QStringList parts = port_.settings().split(QLatin1Char(','));
    if (parts.size() != 4)
        parts =
            QStringList{QString(), QStringLiteral("N"), QStringLiteral("8"), QStringLiteral("1")};
    parts[0] = QString::number(chosen_->baud);
    return parts.join(QLatin1Char(','));
}

void frmFindUnit::reject() {
    // Escape or the frame's close while the scan runs stops it; the window stays.
    if (running_) {
        scanner_.requestStop();
        return;
    }
    QDialog::reject();
}
