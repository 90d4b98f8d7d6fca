#include "ui/LineHealthWindow.h"

#include "diag/LineCheck.h"
#include "diag/LineCounters.h"
#include "diag/TrafficLog.h"
#include "link/SerialPort.h"
#include "startup/MessageLayout.h"
#include "startup/TextFile.h"
#include "transport/Transport.h"
#include "ui/HelpWindow.h"
#include "ui/ScreenFit.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QPushButton* button(const char* name, const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QSpinBox* spinner(const char* name, int low, int high, int value, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setObjectName(QLatin1String(name));
    s->setRange(low, high);
    s->setValue(value);
    return s;
}

} // namespace

LineHealthWindow::LineHealthWindow(Transport& transport, SerialPort* port, LineCounters& counters,
                                   const LineOptions& line, int unit, QWidget* parent)
    : QDialog(parent), transport_(transport), port_(port), counters_(counters), line_(line),
      traffic_(std::make_unique<TrafficLog>(transport)) {
    setObjectName(QStringLiteral("LineHealthWindow"));
    const QString where = transport.endpointName();
    setWindowTitle(where.isEmpty() ? QStringLiteral("Line Health")
                                   : QStringLiteral("Line Health: %1").arg(where));
    chooseFile_ = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Save Report"), suggested,
                                            QStringLiteral("Text files (*.txt)"));
    };
    buildControls();
    const int address = std::clamp(unit, kFirstUnitAddress, kLastUnitAddress);
    firstUnitSpinner->setValue(address);
    lastUnitSpinner->setValue(address);
    refresh_.setInterval(500);
    connect(&refresh_, &QTimer::timeout, this, &LineHealthWindow::refresh);
    refresh_.start();
    refresh();
}

LineHealthWindow::~LineHealthWindow() = default;

void LineHealthWindow::buildControls() {
    countersTable = new QTableWidget(0, int(counterHeader().size()), this);
    countersTable->setObjectName(QStringLiteral("countersTable"));
    countersTable->setAccessibleName(QStringLiteral("Counters per unit"));
    countersTable->setHorizontalHeaderLabels(counterHeader());
    countersTable->verticalHeader()->hide();
    countersTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    countersTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    sourceLabel = new QLabel(this);
    sourceLabel->setObjectName(QStringLiteral("sourceLabel"));
    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    findingsText = new QPlainTextEdit(this);
    findingsText->setObjectName(QStringLiteral("findingsText"));
    findingsText->setAccessibleName(QStringLiteral("Findings"));
    findingsText->setReadOnly(true);
    firstUnitSpinner = spinner("firstUnitSpinner", kFirstUnitAddress, kLastUnitAddress, 1, this);
    lastUnitSpinner = spinner("lastUnitSpinner", kFirstUnitAddress, kLastUnitAddress, 1, this);
    countSpinner = spinner("countSpinner", 1, 1000, CheckPlan{}.count, this);
    checkButton = button("checkButton", QStringLiteral("&Check"), this);
    stopButton = button("stopButton", QStringLiteral("&Stop"), this);
    resetButton = button("resetButton", QStringLiteral("&Reset Counters"), this);
    copyButton = button("copyButton", QStringLiteral("C&opy"), this);
    saveReportButton = button("saveReportButton", QStringLiteral("Save Re&port..."), this);
    closeButton = button("closeButton", QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {resetButton, copyButton, saveReportButton})
        buttons->addWidget(b);
    buttons->addWidget(statusLabel, 1);
    buttons->addWidget(closeButton);
    connectButtons();
    auto* all = new QVBoxLayout(this);
    all->addWidget(countersTable, 2);
    all->addLayout(buildPlan());
    all->addWidget(sourceLabel);
    all->addWidget(findingsText, 1);
    all->addLayout(buttons);
    resizeWithinScreen(this, QSize(980, 520));
    addHelpKey(this, QStringLiteral("What is wrong with this line?"));
}

// The check's plan: the units, the reads per unit, Check and Stop.
QLayout* LineHealthWindow::buildPlan() {
    auto* plan = new QHBoxLayout;
    // Each field with its caption, as a screen reader names it.
    const auto field = [this, plan](const QString& caption, QSpinBox* spinner,
                                    const QString& name) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(spinner);
        spinner->setAccessibleName(name);
        plan->addWidget(label);
        plan->addWidget(spinner);
    };
    field(QStringLiteral("Units"), firstUnitSpinner, QStringLiteral("First unit"));
    field(QStringLiteral("to"), lastUnitSpinner, QStringLiteral("Last unit"));
    field(QStringLiteral("Reads per unit"), countSpinner, QStringLiteral("Reads per unit"));
    plan->addStretch();
    plan->addWidget(checkButton);
    plan->addWidget(stopButton);
    return plan;
}

void LineHealthWindow::connectButtons() {
    stopButton->setEnabled(false);
    connect(checkButton, &QPushButton::clicked, this, &LineHealthWindow::check);
    connect(stopButton, &QPushButton::clicked, this, &LineHealthWindow::stop);
    connect(resetButton, &QPushButton::clicked, this, &LineHealthWindow::resetCounters);
    connect(copyButton, &QPushButton::clicked, this, &LineHealthWindow::copy);
    connect(saveReportButton, &QPushButton::clicked, this, &LineHealthWindow::saveReport);
    connect(closeButton, &QPushButton::clicked, this, &LineHealthWindow::reject);
}

CheckResult LineHealthWindow::shown() const {
    return checked_ ? *checked_ : liveResult(counters_, firstByteWaitMs_);
}

void LineHealthWindow::refresh() {
    if (counters_.generation() != shownGeneration_) {
        shownGeneration_ = counters_.generation();
        const QVector<QStringList> rows = counterRows(counters_);
        countersTable->setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r)
            for (int c = 0; c < rows[r].size(); ++c)
                countersTable->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    }
    if (running_)
        return;
    sourceLabel->setText(
        checked_ ? QStringLiteral("Findings of the last check (%1 ms):").arg(checked_->elapsedMs)
                 : QStringLiteral("Findings from the counters since the last "
                                  "reset (every operation counts):"));
    const QString text = reportText();
    if (findingsText->toPlainText() != text)
        findingsText->setPlainText(text);
}

// The findings first, then the counters they come from.
QString LineHealthWindow::reportText() const {
    const CheckResult r = shown();
    const QStringList lines = checkLines(r);
    const qsizetype counted = r.evidence.units.size() + 1; // the units, then the idle line
    return (lines.mid(counted) + QStringList{QString()} + lines.mid(0, counted))
        .join(QLatin1Char('\n'));
}

void LineHealthWindow::check() {
    if (running_)
        return;
    const TransportClaim claim(transport_);
    if (!claim.ok()) {
        findingsText->setPlainText(QStringLiteral("Another operation holds the line: wait for "
                                                  "it to end, then check again."));
        return;
    }
    CheckPlan plan;
    plan.firstUnit = std::min(firstUnitSpinner->value(), lastUnitSpinner->value());
    plan.lastUnit = std::max(firstUnitSpinner->value(), lastUnitSpinner->value());
    plan.count = countSpinner->value();
    plan.firstByteWaitMs = firstByteWaitMs_;
    LineCheck run(transport_, port_ && port_->isOpen() ? port_ : nullptr, line_);
    running_ = &run;
    checkButton->setEnabled(false);
    stopButton->setEnabled(true);
    sourceLabel->setText(QStringLiteral("Checking..."));
    connect(&run, &LineCheck::progress, this, [this](int unit, int done, int total) {
        sourceLabel->setText(
            QStringLiteral("Checking unit %1: read %2 of %3").arg(unit).arg(done).arg(total));
    });
    CheckResult r = run.run(plan);
    running_ = nullptr;
    checkButton->setEnabled(true);
    stopButton->setEnabled(false);
    if (r.outcome == CheckResult::Outcome::LineFailed)
        r.findings.prepend(
            {QStringLiteral("line-failed"), 0, r.error, QStringLiteral("check the port")});
    checked_ = r;
    refresh();
}

void LineHealthWindow::stop() {
    if (running_)
        running_->requestStop();
}

void LineHealthWindow::reject() {
    if (running_) {
        stop();
        return;
    }
    QDialog::reject();
}

void LineHealthWindow::resetCounters() {
    counters_.reset();
    checked_.reset();
    refresh();
}

void LineHealthWindow::copy() {
    QApplication::clipboard()->setText(reportText());
}

void LineHealthWindow::saveReport() {
    const QString path =
        chooseFile_(QDir::home().filePath(QStringLiteral("qv840n-line-report.txt")));
    if (path.isEmpty())
        return;
    const ReportContext context{
        transport_.endpointName(), port_ ? port_->settings().text() : QString(),
        lineOptionsText(line_), QStringLiteral(QV_VERSION), traffic_->lines()};
    if (const auto why = writeWholeFile(path, checkReport(shown(), context)))
        statusLabel->setText(QStringLiteral("The report could not be saved: %1").arg(*why));
    else
        statusLabel->setText(QStringLiteral("Report saved to %1").arg(path));
}
