#include "support/PtyPeer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The length of the request at the start of buf, -1 while it is incomplete.
int requestLength(const QByteArray& buf) {
    if (buf.size() < 2)
        return -1;
    const auto function = static_cast<unsigned char>(buf.at(1));
    if (function == 3 || function == 6)
        return buf.size() >= 8 ? 8 : -1;
    if (function == 16) {
        const int n = buf.size() < 7 ? 0 : 9 + static_cast<unsigned char>(buf.at(6));
        return n > 0 && buf.size() >= n ? n : -1;
    }
    return static_cast<int>(buf.size()); // not a request this tool sends: take what came
}

} // namespace

QByteArray drainFd(int fd) {
    QByteArray all;
    char buf[512];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        all.append(buf, n);
    return all;
}

bool putFd(int fd, const QByteArray& bytes) {
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

bool openRawPty(int& master, int& slave, QString& slavePath, QString& error) {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        master = slave = -1;
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
    return true;
}

PtyPeer::PtyPeer(QObject* parent) : QObject(parent) {
    QString error;
    if (!openRawPty(master_, keeper_, slavePath_, error)) {
        qWarning("PtyPeer: %s", qPrintable(error));
        return;
    }
    notifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PtyPeer::onReadable);
}

PtyPeer::~PtyPeer() {
    closeMaster();
    if (keeper_ >= 0)
        ::close(keeper_);
}

bool PtyPeer::writeNow(const QByteArray& bytes) {
    return master_ >= 0 &&
           ::write(master_, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

qint64 PtyPeer::nowNs(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void PtyPeer::writeAt(qint64 monotonicNs, const QByteArray& bytes) {
    if (writer_.joinable())
        writer_.join();
    writtenAt_ = -1;
    writer_ = std::thread([this, fd = master_, monotonicNs, bytes] {
        const timespec at{time_t(monotonicNs / 1000000000), long(monotonicNs % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        writtenAt_ = nowNs();
        if (fd >= 0)
            (void)!::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    });
}

void PtyPeer::closeMaster() {
    if (writer_.joinable())
        writer_.join();
    if (master_ < 0)
        return;
    ++generation_;
    delete notifier_;
    notifier_ = nullptr;
    ::close(master_);
    master_ = -1;
}

void PtyPeer::closeMasterAfter(int ms) {
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this] { closeMaster(); });
}

void PtyPeer::onReadable() {
    char buf[512];
    ssize_t n;
    while ((n = ::read(master_, buf, sizeof buf)) > 0)
        partial_.append(buf, static_cast<int>(n));
    int length;
    while (!partial_.isEmpty() && (length = requestLength(partial_)) > 0) {
        const QByteArray request = partial_.left(length);
        partial_.remove(0, length);
        requests_.append(request);
        int at = 0;
        for (const Chunk& c : responder_ ? responder_(request) : QVector<Chunk>{}) {
            at += c.delayMs;
            const quint64 g = generation_;
            QTimer::singleShot(at, Qt::PreciseTimer, this, [this, g, bytes = c.bytes] {
                if (g == generation_)
                    writeNow(bytes);
            });
        }
    }
}
