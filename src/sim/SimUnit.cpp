#include "sim/SimUnit.h"

#ifdef _WIN32
// Windows has no pseudo-terminals: the line is served as a transparent
// gateway on loopback (RTU frames over TCP, CRC and all), and its address is
// the port name the tool opens.
#include "sim/SimNetServer.h"

#include <QHostAddress>

SimUnit::SimUnit(QObject* parent) : QObject(parent) {}

SimUnit::~SimUnit() {
    stop();
}

bool SimUnit::start(const SimConfig& config, QString* error) {
    stop();
    config_ = config;
    gateway_ = new SimNetServer(line_, this);
    if (!gateway_->listen(config_, QHostAddress(QHostAddress::LocalHost), 0, true, error)) {
        stop();
        return false;
    }
    connect(gateway_, &SimNetServer::requestSeen, this, &SimUnit::requestSeen);
    connect(gateway_, &SimNetServer::replySent, this, &SimUnit::replySent);
    devicePath_ = gateway_->address();
    return true;
}

void SimUnit::stop() {
    delete gateway_;
    gateway_ = nullptr;
    devicePath_.clear();
}

int SimUnit::lineSpeed() const {
    return 0; // a gateway has no line speed of its own
}
#else

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr int kBitsPerByte = 10; // start, 8 data, stop
constexpr qint64 kMinSilenceNs = 2 * kNsPerMs;
constexpr int kHangupRetryMs = 100;

QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

void setCloseOnExec(int fd) {
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

SimUnit::SimUnit(QObject* parent)
    : QObject(parent), silence_(this), tick_(this), reopen_(this), idle_(this) {
    for (QTimer* t : {&silence_, &tick_, &reopen_, &idle_}) {
        t->setTimerType(Qt::PreciseTimer);
        t->setSingleShot(true);
    }
    connect(&silence_, &QTimer::timeout, this, &SimUnit::onSilence);
    connect(&tick_, &QTimer::timeout, this, &SimUnit::onTick);
    connect(&idle_, &QTimer::timeout, this, [this] {
        const QByteArray bytes = faults_.idleBytes();
        if (master_ >= 0 && !bytes.isEmpty()) {
            [[maybe_unused]] const ssize_t n =
                ::write(master_, bytes.constData(), size_t(bytes.size()));
        }
    });
    connect(&reopen_, &QTimer::timeout, this, [this] {
        if (readNotifier_)
            readNotifier_->setEnabled(true);
    });
    clock_.start();
}

SimUnit::~SimUnit() {
    stop();
}

qint64 SimUnit::byteNs() const {
    const int baud = std::max(1, config_.baud);
    return qint64(kBitsPerByte) * 1000000000 / baud;
}

int SimUnit::msUntil(qint64 delta) {
    if (delta <= 0)
        return 0;
    return int(std::min<qint64>((delta + kNsPerMs - 1) / kNsPerMs, 1 << 30));
}

bool SimUnit::start(const SimConfig& config, QString* error) {
    stop();
    config_ = config;
    faults_.configure(config.faults);
    if (line_.unitCount() == 1)
        line_.model().setUnit(config.unit);
    line_.setClearSlotOnWrite(config.clearSlotOnWrite);
    line_.setSingleMessageReads(config.singleMessageReads);

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = systemError("openpty");
        return false;
    }
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio); // no echo: our replies must not come back to us as requests
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    setCloseOnExec(master);
    setCloseOnExec(slave);
    master_ = master;
    slaveKeep_ = slave;
    devicePath_ = QString::fromLocal8Bit(name);

    if (!config_.linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(config_.linkPath);
        const QFileInfo existing(config_.linkPath);
        if (existing.isSymLink())
            ::unlink(link.constData());
        if (::symlink(name, link.constData()) != 0) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(config_.linkPath,
                                                      QString::fromLocal8Bit(std::strerror(errno)));
            config_.linkPath.clear();
            stop();
            return false;
        }
    }

    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &SimUnit::onReadable);
    return true;
}

void SimUnit::stop() {
    silence_.stop();
    tick_.stop();
    reopen_.stop();
    idle_.stop();
    delete readNotifier_;
    readNotifier_ = nullptr;
    if (master_ >= 0)
        ::close(master_);
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    master_ = slaveKeep_ = -1;
    if (!config_.linkPath.isEmpty()) {
        // Only our own link goes: someone may have replaced it meanwhile.
        const QFileInfo link(config_.linkPath);
        if (link.isSymLink() && link.symLinkTarget() == devicePath_)
            ::unlink(QFile::encodeName(config_.linkPath).constData());
        config_.linkPath.clear();
    }
    frame_.clear();
    reply_.clear();
}

void SimUnit::onReadable() {
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            // An echoing adapter hands back each byte as it goes out.
            // A full line loses what does not fit, as a real one does.
            if (config_.echo) {
                [[maybe_unused]] const ssize_t echoed = ::write(master_, buf, size_t(n));
            }
            // Half duplex: from a request to the end of its reply the unit does
            // not listen.
            if (!reply_.isEmpty())
                continue;
            const qint64 now = nowNs();
            for (ssize_t i = 0; i < n; ++i) {
                lastArrivalNs_ = config_.pacing ? std::max(now, lastArrivalNs_) + byteNs() : now;
                frame_.append(buf[i]);
            }
            const qint64 silence = std::max(kMinSilenceNs, byteNs() * 35 / 10);
            silence_.start(msUntil(lastArrivalNs_ + silence - now));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (errno == EINTR)
                continue;
            return;
        }
        // EIO or end of file: no slave is open. Look again later rather than
        // spin on a notifier that keeps firing.
        readNotifier_->setEnabled(false);
        reopen_.start(kHangupRetryMs);
        return;
    }
}

void SimUnit::onSilence() {
    const qint64 silence = std::max(kMinSilenceNs, byteNs() * 35 / 10);
    const qint64 now = nowNs();
    if (now < lastArrivalNs_ + silence) {
        silence_.start(msUntil(lastArrivalNs_ + silence - now));
        return;
    }
    const QByteArray request = frame_;
    frame_.clear();
    if (request.isEmpty())
        return;
    emit requestSeen(request);
    answer(request);
}

int SimUnit::lineSpeed() const {
    termios tio{};
    if (slaveKeep_ < 0 || ::tcgetattr(slaveKeep_, &tio) != 0)
        return 0;
    static const std::pair<speed_t, int> speeds[] = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (const auto& [code, baud] : speeds)
        if (::cfgetospeed(&tio) == code)
            return baud;
    return 0;
}

void SimUnit::answer(const QByteArray& request) {
    if (config_.neverAnswer)
        return;
    QByteArray reply = line_.reply(request);
    if (reply.isEmpty())
        return;
    const bool otherSettings = config_.followLineSpeed && lineSpeed() != config_.baud;
    // A reply at other settings arrives as garbled bytes, its faults unseen.
    if (!config_.garbage && !otherSettings)
        reply = faults_.shape(reply);
    if (reply.isEmpty())
        return;
    if (config_.garbage || otherSettings) {
        auto* random = QRandomGenerator::global();
        do {
            for (auto& c : reply)
                c = char(random->bounded(256));
        } while (SimModel::crcValid(reply));
    }
    if (config_.lateMs > 0)
        faults_.countLate();
    reply_ = reply;
    sent_ = 0;
    replyStartNs_ = nowNs() + qint64(config_.turnaroundMs + config_.lateMs) * kNsPerMs;
    scheduleNextByte();
}

qint64 SimUnit::dueNs(int index) const {
    qint64 due = replyStartNs_;
    if (config_.pacing)
        due += (index + 1) * byteNs();
    if (index >= reply_.size() / 2)
        due += qint64(config_.pauseInsideReplyMs) * kNsPerMs;
    return due;
}

void SimUnit::scheduleNextByte() {
    tick_.start(msUntil(dueNs(sent_) - nowNs()));
}

void SimUnit::onTick() {
    if (reply_.isEmpty() || master_ < 0)
        return;
    const qint64 now = nowNs();
    int end = sent_;
    while (end < reply_.size() && dueNs(end) <= now)
        ++end;
    if (end > sent_) {
        const ssize_t n = ::write(master_, reply_.constData() + sent_, size_t(end - sent_));
        if (n <= 0) {
            // Nobody reads the line and its buffer is full, or it failed:
            // the rest of the reply is lost, as on a real line.
            reply_.clear();
            return;
        }
        sent_ += int(n);
    }
    if (sent_ >= reply_.size()) {
        const QByteArray done = reply_;
        reply_.clear();
        emit replySent(done);
        if (config_.faults.noiseBytes > 0 || config_.faults.secondMaster)
            idle_.start(SimFaults::kIdleDelayMs);
        return;
    }
    scheduleNextByte();
}
#endif // _WIN32
