// Linux only: Windows has its own port (WinSerialPort).
#ifndef _WIN32
#include "link/QtSerialPortDevice.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Whether the device behind fd is still there. A vanished USB adapter and a
// pseudo-terminal whose other end closed both refuse terminal requests, and
// a hung-up line shows POLLHUP. Returns the system's reason when it is gone.
// Asked only of an open port, whose descriptor is valid.
std::optional<QString> deviceGone(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return systemError(errno);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return QStringLiteral("the line hung up");
    return std::nullopt;
}

static_assert(int(LineSettings::EvenParity) == int(QSerialPort::EvenParity) &&
              int(LineSettings::OddParity) == int(QSerialPort::OddParity) &&
              int(LineSettings::SpaceParity) == int(QSerialPort::SpaceParity) &&
              int(LineSettings::MarkParity) == int(QSerialPort::MarkParity) &&
              int(LineSettings::OneAndHalfStop) == int(QSerialPort::OneAndHalfStop) &&
              int(LineSettings::TwoStop) == int(QSerialPort::TwoStop) &&
              int(QSerialPort::Data5) == 5 && int(QSerialPort::Data8) == 8);

} // namespace

QtSerialPortDevice::QtSerialPortDevice(QObject* parent) : SerialPort(parent) {
    connect(&port_, &QSerialPort::readyRead, this, &SerialPort::readyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPortDevice::onError);
}

QtSerialPortDevice::~QtSerialPortDevice() {
    // Closing here, not in QSerialPort's destructor, keeps the error handler
    // from running on a half-destroyed object.
    disconnect(&port_, nullptr, this, nullptr);
    restoreRs485();
    restoreLatency();
    port_.close();
}

QString QtSerialPortDevice::location() const {
    return portDevicePath(name_);
}

PortStatus QtSerialPortDevice::apply(const LineSettings& s) {
    if (!port_.setBaudRate(s.baud) || !port_.setParity(QSerialPort::Parity(s.parity)) ||
        !port_.setDataBits(QSerialPort::DataBits(s.dataBits)) ||
        !port_.setStopBits(QSerialPort::StopBits(s.stopBits)) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        const QString why = port_.errorString();
        port_.clearError();
        return PortStatus::failure(
            QStringLiteral("the port refused the settings \"%1\": %2").arg(s.text(), why));
    }
    return {};
}

PortStatus QtSerialPortDevice::setSettings(const LineSettings& settings) {
    if (!settings.valid()) // never another speed than the tool offers
        return PortStatus::failure(invalidSettingsText(settings));
    line_ = settings;
    if (port_.isOpen()) {
        PortStatus s = apply(line_);
        if (!s.ok)
            return s;
    }
    return {};
}

PortStatus QtSerialPortDevice::open() {
    if (port_.isOpen())
        return {};
    // Qt locks a port by the name it is opened by: the device's own path makes
    // a link to it and the device itself one port.
    const QString path = location();
    const QString device = QFileInfo(path).canonicalFilePath();
    port_.setPortName(device.isEmpty() ? path : device);
    rtsRefused_ = false;
    quiet_ = true; // open() reports its own failure below
    if (PortStatus s = apply(line_); !s.ok) {
        quiet_ = false;
        return s;
    }
    const bool opened = port_.open(QIODevice::ReadWrite);
    if (!opened) {
        quiet_ = false;
        // (The error stays until the next open, which clears it first.)
        const QSerialPort::SerialPortError error = port_.error();
        const QString why = port_.errorString();
        if (error != QSerialPort::PermissionError)
            return PortStatus::failure(why);
        // Qt also calls a lock held by another program (its lock file, or an
        // exclusive open) a permission error; only a device the user may not
        // open is a permission problem.
        errno = 0;
        if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES)
            return PortStatus::failure(systemError(EACCES), true);
        return PortStatus::failure(portInUseText());
    }
    // The lock on the device itself, whatever name another instance opened it
    // by. A device that takes no locks is used without one.
    if (::flock(static_cast<int>(port_.handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port_.close();
        port_.clearError();
        quiet_ = false;
        return PortStatus::failure(portInUseText());
    }
    quiet_ = false;
    // Replies come sooner through a USB adapter; a refusal changes nothing.
    lowLatencySet_ = enableLowLatency(*io_, static_cast<int>(port_.handle()));
    return {};
}

void QtSerialPortDevice::close() {
    rtsRefused_ = false;
    pausedReader_ = nullptr; // closing deletes it; nothing is to be read now
    restoreRs485();
    restoreLatency();
    if (port_.isOpen())
        port_.close();
}

void QtSerialPortDevice::restoreLatency() {
    if (lowLatencySet_ && port_.isOpen())
        restoreLowLatency(*io_, static_cast<int>(port_.handle()));
    lowLatencySet_ = false;
}

PortStatus QtSerialPortDevice::setKernelDirection() {
    if (!port_.isOpen())
        return PortStatus::failure(QStringLiteral("the port %1 is not open").arg(name_));
    if (rs485Before_)
        return {}; // already on for this opening
    serial_rs485 previous{};
    const PortStatus s =
        enableRs485(*io_, static_cast<int>(port_.handle()), line_.baud, name_, previous);
    if (s.ok)
        rs485Before_ = previous;
    return s;
}

void QtSerialPortDevice::restoreRs485() {
    if (rs485Before_ && port_.isOpen())
        io_->setRs485(static_cast<int>(port_.handle()), *rs485Before_);
    rs485Before_.reset();
}

bool QtSerialPortDevice::setRts(bool on) {
    // A device that cannot switch RTS (a pseudo-terminal) is not asked again
    // before it is opened again: twice a request, that was a refusal and its text.
    if (!port_.isOpen() || rtsRefused_)
        return false;
    quiet_ = true;
    const bool done = port_.setRequestToSend(on);
    quiet_ = false;
    if (done)
        return true;
    // Most devices that refuse RTS simply cannot switch it; a vanished one is
    // a failure.
    const bool gone = port_.error() == QSerialPort::ResourceError;
    const QString why = port_.errorString();
    port_.clearError();
    if (gone)
        fail(why);
    else
        rtsRefused_ = true;
    return false;
}

void QtSerialPortDevice::fail(const QString& reason) {
    if (!port_.isOpen())
        return;
    // Closing removes the notifiers, so a hung-up line cannot keep firing.
    rs485Before_.reset(); // a vanished device keeps no mode
    lowLatencySet_ = false;
    port_.close();
    port_.clearError();
    emit failed(reason);
}

void QtSerialPortDevice::onError(QSerialPort::SerialPortError error) {
    if (quiet_ || error == QSerialPort::NoError || !port_.isOpen())
        return;
    if (error == QSerialPort::ResourceError) {
        fail(port_.errorString());
        return;
    }
    if (error == QSerialPort::ReadError || error == QSerialPort::WriteError) {
        // Qt reports a hung-up line (read returns 0) as a read error with a
        // stale reason, and would report it again on every notification.
        if (const auto gone = deviceGone(static_cast<int>(port_.handle())))
            fail(*gone);
        else
            port_.clearError();
    }
}

bool QtSerialPortDevice::waitOutput(int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(this, &SerialPort::failed, &loop, &QEventLoop::quit);
    timer.start(std::max(ms, 1));
    loop.exec();
    return port_.isOpen();
}

// Hands the bytes to the driver, then waits, event loop running, for the
// time the bytes still queued need at the line speed (a character's bits
// each), and looks at the queue again: once on a line that keeps pace, again
// only for what is left, with a wait computed from that. A pseudo-terminal's
// queue is empty at once. The last character leaving the transmitter is
// tcdrain's, a character time at most.
bool QtSerialPortDevice::drainOutput() {
    if (!port_.isOpen())
        return false;
    const int fd = static_cast<int>(port_.handle());
    const double msPerByte = line_.bitsPerCharacter() * 1000.0 / line_.baud;
    // The time the bytes need at the line speed, a frame's worth more for
    // what the OS still holds, plus a margin; a port that takes longer is dead.
    const int budgetMs =
        250 + static_cast<int>(msPerByte * static_cast<double>(port_.bytesToWrite() + 64));
    const QDeadlineTimer deadline(budgetMs, Qt::PreciseTimer);
    for (;;) {
        if (port_.bytesToWrite() > 0)
            port_.flush(); // what the driver takes now, without blocking
        int queued = 0;
        if (const int err = io_->outputQueue(fd, queued)) {
            fail(systemError(err));
            return false;
        }
        const qint64 pending = port_.bytesToWrite() + std::max(queued, 0);
        if (pending == 0)
            break;
        if (deadline.hasExpired()) {
            fail(QStringLiteral("the output did not leave the port within %1 ms").arg(budgetMs));
            return false;
        }
        const auto ms = static_cast<qint64>(std::ceil(msPerByte * static_cast<double>(pending)));
        if (!waitOutput(static_cast<int>(std::min(ms, deadline.remainingTime()))))
            return false;
    }
    if (::tcdrain(fd) != 0) {
        fail(systemError(errno));
        return false;
    }
    return true;
}

qint64 QtSerialPortDevice::inputCount() const {
    return port_.isOpen() ? port_.bytesAvailable() : 0;
}

void QtSerialPortDevice::discardInput() {
    if (!port_.isOpen())
        return;
    // What Qt has fetched and what the OS holds that Qt has not fetched yet.
    port_.clear(QSerialPort::Input);
}

int QtSerialPortDevice::readByte() {
    char c = 0;
    if (!port_.isOpen() || !port_.getChar(&c))
        return -1;
    return static_cast<unsigned char>(c);
}

// The tty wakes a poll() on the port for every byte that comes (whatever
// VMIN says), so a pause takes the port out of the event loop's poll:
// QSerialPort's read notifier, its child, is disabled until the resume.
// QSerialPort enables it again when a read finds its buffer empty, which the
// link does not do while paused. A port whose notifier is not found is never
// paused and signals every byte.
void QtSerialPortDevice::setReadPaused(bool paused) {
    if (!port_.isOpen())
        return;
    if (paused) {
        const qintptr fd = port_.handle();
        for (QSocketNotifier* n : port_.findChildren<QSocketNotifier*>(Qt::FindDirectChildrenOnly))
            if (n->type() == QSocketNotifier::Read && n->socket() == fd && n->isEnabled()) {
                n->setEnabled(false);
                pausedReader_ = n;
            }
        return;
    }
    if (!pausedReader_)
        return;
    pausedReader_->setEnabled(true);
    pausedReader_ = nullptr;
    // What came during the pause is taken in now.
    quiet_ = true;
    port_.waitForReadyRead(0);
    quiet_ = false;
    const QSerialPort::SerialPortError error = port_.error();
    if (error == QSerialPort::TimeoutError) // nothing was waiting
        port_.clearError();
    else if (error != QSerialPort::NoError)
        onError(error);
}

bool QtSerialPortDevice::write(const QByteArray& bytes) {
    if (!port_.isOpen())
        return false;
    return port_.write(bytes) == bytes.size();
}

#endif // _WIN32
