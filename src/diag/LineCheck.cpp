#include "diag/LineCheck.h"

#include "link/SerialPort.h"
#include "modbus/Pdu.h"
#include "startup/ConfigFiles.h"
#include "startup/MessageLayout.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

// The check's read: the first message, or with block reads the first six.
QByteArray checkRequest(const LineOptions& line) {
    return line.blockReads == BlockReads::Off
               ? Pdu::readMessage(kFirstMessageRegister)
               : Pdu::readMessages(kFirstMessageRegister, Pdu::kMessagesPerBlockRead);
}

// Those found for another unit first, then each speed with no, even and odd
// parity at the line's own data and stop bits; never the line's own.
QVector<LineSettings> settingsToTry(const LineSettings& own, const QMap<int, LineSettings>& found) {
    QVector<LineSettings> order;
    const auto add = [&](const LineSettings& s) {
        if (s != own && !order.contains(s))
            order << s;
    };
    for (const LineSettings& s : found)
        add(s);
    for (int baud : kLineSpeeds)
        for (const auto parity :
             {LineSettings::NoParity, LineSettings::EvenParity, LineSettings::OddParity}) {
            LineSettings s = own.withBaud(baud);
            s.parity = parity;
            add(s);
        }
    return order;
}

} // namespace

// Tells the check's counters and whoever watched the transport before.
class LineCheck::Forward : public TransactionObserver {
public:
    Forward(LineCounters& mine, TransactionObserver* before) : mine_(mine), before_(before) {}
    void transactionDone(int unit, const QByteArray& pdu, const Transaction& t,
                         int retry) override {
        mine_.transactionDone(unit, pdu, t, retry);
        if (before_)
            before_->transactionDone(unit, pdu, t, retry);
    }

private:
    LineCounters& mine_;
    TransactionObserver* before_;
};

LineCheck::LineCheck(Transport& transport, SerialPort* port, const LineOptions& line,
                     QObject* parent)
    : QObject(parent), transport_(transport), port_(port), line_(line) {}

void LineCheck::requestStop() {
    stop_ = true;
    transport_.requestStop();
    if (listening_)
        listening_->quit();
}

CheckResult LineCheck::run(const CheckPlan& plan) {
    CheckResult r;
    QElapsedTimer clock;
    clock.start();
    stop_ = false;
    LineCounters counters;
    TransactionObserver* const before = transport_.observer();
    Forward forward(counters, before);
    transport_.setObserver(&forward);
    bool going = true;
    counters_ = &counters;
    for (int unit = plan.firstUnit; going && unit <= plan.lastUnit; ++unit)
        going = readUnit(unit, plan, r);
    if (going) // what the line carries after the last reply
        going = listenIdle(line_.pauseMs, 0, false, r);
    transport_.setObserver(before);
    counters_ = nullptr;
    for (int unit = plan.firstUnit; unit <= plan.lastUnit; ++unit)
        r.evidence.units[unit] = counters.unit(unit);
    r.evidence.idle.add(counters.idle());
    r.evidence.firstByteWaitMs = plan.firstByteWaitMs;
    if (going && plan.scanSettings)
        scanSettings(plan, r);
    if (stop_)
        r.outcome = CheckResult::Outcome::Stopped;
    r.findings = findFaults(r.evidence);
    r.elapsedMs = clock.elapsed();
    return r;
}

bool LineCheck::readUnit(int unit, const CheckPlan& plan, CheckResult& r) {
    const QByteArray request = checkRequest(line_);
    bool confirmed = false; // the last reply: a second one after it is a second unit's
    for (int i = 0; i < plan.count; ++i) {
        if (!listenIdle(line_.pauseMs, unit, confirmed, r))
            return false;
        const Transaction t = transport_.transact(unit, request);
        confirmed = t.ok() && t.check.confirmed();
        if (t.status == TransportStatus::Stopped || stop_) {
            r.outcome = CheckResult::Outcome::Stopped;
            return false;
        }
        if (!t.ok()) {
            r.outcome = CheckResult::Outcome::LineFailed;
            r.error = t.error;
            return false;
        }
        emit progress(unit, i + 1, plan.count);
    }
    return true;
}

// What the serial port brings for ms, or until a stop; false when it failed.
bool LineCheck::hear(int ms, QByteArray& heard, QString& why) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto take = [this, &heard] {
        for (int b; (b = port_->readByte()) >= 0;)
            heard.append(char(b));
    };
    const auto bytes = connect(port_, &SerialPort::readyRead, &loop, take);
    bool failed = false;
    const auto failure = connect(port_, &SerialPort::failed, &loop, [&](const QString& reason) {
        failed = true;
        why = reason;
        loop.quit();
    });
    take();
    listening_ = &loop;
    timer.start(ms);
    loop.exec();
    listening_ = nullptr;
    disconnect(bytes);
    disconnect(failure);
    if (!failed)
        take();
    return !failed;
}

// The pause before a request, spent listening: what the line carries while
// this tool sends nothing goes to the counters of the check under way.
bool LineCheck::listenIdle(int ms, int afterUnit, bool afterAnswer, CheckResult& r) {
    if (stop_)
        return false;
    if (!port_ || !port_->isOpen()) {
        const TransportStatus s = transport_.bulkPause();
        if (s == TransportStatus::Ok)
            return true;
        r.outcome = s == TransportStatus::Stopped ? CheckResult::Outcome::Stopped
                                                  : CheckResult::Outcome::LineFailed;
        r.error = QStringLiteral("the line failed during the pause");
        return false;
    }
    QByteArray heard;
    QString why;
    QElapsedTimer clock;
    clock.start();
    const bool failed = !hear(ms, heard, why);
    const IdleTraffic idle = sortIdleBytes(heard);
    if (afterUnit > 0 && afterAnswer && idle.strayFrom.contains(afterUnit))
        ++r.evidence.repliedTwice[afterUnit];
    counters_->noteIdleBytes(heard, clock.elapsed());
    if (failed) {
        r.outcome = CheckResult::Outcome::LineFailed;
        r.error = why;
        return false;
    }
    return !stop_;
}

// A unit that gave nothing usable may run at other settings: one read at each
// speed and parity (those found for another unit first), the line's own
// settings put back after.
void LineCheck::scanSettings(const CheckPlan& plan, CheckResult& r) {
    if (!port_ || !port_->isOpen())
        return;
    bool anyAnswered = false;
    for (const UnitCounters& c : r.evidence.units)
        anyAnswered = anyAnswered || c.answered > 0;
    const LineSettings own = port_->settings();
    bool silentInVain = false; // a silent unit was scanned for nothing: so are the others
    for (int unit = plan.firstUnit; unit <= plan.lastUnit && !stop_; ++unit) {
        const UnitCounters c = r.evidence.units.value(unit);
        const bool garbled = c.crcWrong + c.tooShort + c.tooLong > 0;
        if (!mayRunElsewhere(c) || (!garbled && (anyAnswered || silentInVain)))
            continue;
        for (const LineSettings& settings : settingsToTry(own, r.evidence.otherSettings)) {
            if (stop_)
                break;
            if (const auto found = answersAt(unit, settings)) {
                r.evidence.otherSettings[unit] = *found;
                break;
            }
        }
        silentInVain = silentInVain || (!garbled && !r.evidence.otherSettings.contains(unit));
        port_->setSettings(own);
    }
    port_->setSettings(own);
}

std::optional<LineSettings> LineCheck::answersAt(int unit, const LineSettings& settings) {
    if (!port_->setSettings(settings).ok)
        return std::nullopt;
    const QByteArray request = checkRequest(line_);
    TransactionObserver* const before = transport_.observer();
    transport_.setObserver(nullptr); // the scan's tries are not the line's traffic
    const Transaction t = transport_.transact(unit, request);
    transport_.setObserver(before);
    if (t.ok() && t.check.confirmed())
        return settings;
    return std::nullopt;
}
