#include "support/PtyPeer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A raw pair: no echo, no line editing, no translation of CR or LF.
bool openRawPty(int& master, int& slave, QString& path, QString& error) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        master = slave = -1;
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
    return true;
}

void closeFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

int modbusRequestLength(const QByteArray& buf) {
    if (buf.size() < 2)
        return -1;
    const auto function = static_cast<unsigned char>(buf.at(1));
    if (function == 3 || function == 6)
        return buf.size() >= 8 ? 8 : -1;
    if (function == 16) {
        if (buf.size() < 7)
            return -1;
        const int n = 9 + static_cast<unsigned char>(buf.at(6));
        return buf.size() >= n ? n : -1;
    }
    return static_cast<int>(buf.size()); // unknown: take what came
}

PtyPeer::PtyPeer(QObject* parent) : QObject(parent) {
    if (!openRawPty(master_, keeper_, slavePath_, error_))
        return;
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyPeer::onReadable);
}

PtyPeer::~PtyPeer() {
    closeMaster();
    closeFd(keeper_);
}

bool PtyPeer::writeNow(const QByteArray& bytes) {
    if (master_ < 0)
        return false;
    return ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

void PtyPeer::writeAfter(int ms, const QByteArray& bytes) {
    const quint64 g = generation_;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, g, bytes] {
        if (g == generation_)
            writeNow(bytes);
    });
}

void PtyPeer::closeMaster() {
    if (master_ < 0)
        return;
    ++generation_;
    delete notifier_;
    notifier_ = nullptr;
    closeFd(master_);
}

void PtyPeer::closeMasterAfter(int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] { closeMaster(); });
}

void PtyPeer::onReadable() {
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        received_.append(buf, static_cast<int>(n));
        partial_.append(buf, static_cast<int>(n));
    }
    int length;
    while (!partial_.isEmpty() && (length = modbusRequestLength(partial_)) > 0) {
        const QByteArray request = partial_.left(length);
        partial_.remove(0, length);
        requests_.append(request);
        emit requestArrived(request);
        if (!responder_)
            continue;
        int at = 0;
        for (const Chunk& c : responder_(request)) {
            at += c.delayMs;
            if (at <= 0)
                writeNow(c.bytes);
            else
                writeAfter(at, c.bytes);
        }
    }
}

PtyBridge::PtyBridge() {
    if (!openRawPty(masterA_, keeperA_, pathA_, error_) ||
        !openRawPty(masterB_, keeperB_, pathB_, error_) || ::pipe(wake_) != 0) {
        if (error_.isEmpty())
            error_ = QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    thread_ = std::thread([this] { run(); });
}

PtyBridge::~PtyBridge() {
    if (thread_.joinable()) {
        const char stop = 0;
        [[maybe_unused]] const auto n = ::write(wake_[1], &stop, 1);
        thread_.join();
    }
    for (int* fd : {&masterA_, &masterB_, &keeperA_, &keeperB_, &wake_[0], &wake_[1]})
        closeFd(*fd);
}

void PtyBridge::run() {
    pollfd fds[3] = {{masterA_, POLLIN, 0}, {masterB_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    char buf[512];
    for (;;) {
        if (::poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[2].revents)
            return;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) [[maybe_unused]]
                const auto w = ::write(fds[1 - i].fd, buf, static_cast<size_t>(n));
        }
    }
}
