#include "link/Rs485.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/ioctl.h>

namespace {

class SystemRs485 : public Rs485Ioctl {
public:
    int get(int fd, serial_rs485& out) override {
        return ::ioctl(fd, TIOCGRS485, &out) == 0 ? 0 : errno;
    }
    int set(int fd, serial_rs485& in) override {
        return ::ioctl(fd, TIOCSRS485, &in) == 0 ? 0 : errno;
    }
};

QString noMode(const QString& port, int err) {
    return QStringLiteral("the driver of %1 has no RS-485 mode (%2)")
        .arg(port, QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace

Rs485Ioctl& systemRs485() {
    static SystemRs485 io;
    return io;
}

serial_rs485 wantedRs485(const serial_rs485& previous, int baud) {
    serial_rs485 want = previous;
    want.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    want.flags &=
        ~static_cast<decltype(want.flags)>(SER_RS485_RTS_AFTER_SEND | SER_RS485_RX_DURING_TX);
    // One character (start, 8 data, stop) at the line speed, whole milliseconds.
    const auto charMs = static_cast<decltype(want.delay_rts_before_send)>(
        std::ceil(10.0 * 1000.0 / std::max(baud, 1)));
    want.delay_rts_before_send = std::max<decltype(charMs)>(charMs, 1);
    want.delay_rts_after_send = want.delay_rts_before_send;
    return want;
}

PortStatus enableRs485(Rs485Ioctl& io, int fd, int baud, const QString& port,
                       serial_rs485& previous) {
    serial_rs485 old{};
    if (const int err = io.get(fd, old))
        return PortStatus::failure(noMode(port, err));
    serial_rs485 want = wantedRs485(old, baud);
    if (const int err = io.set(fd, want))
        return PortStatus::failure(noMode(port, err));
    serial_rs485 back{};
    const int err = io.get(fd, back);
    constexpr auto kNeeded = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (err != 0 || (back.flags & kNeeded) != kNeeded) {
        io.set(fd, old);
        return PortStatus::failure(
            QStringLiteral("the driver of %1 does not raise RTS for sending in RS-485 mode")
                .arg(port));
    }
    previous = old;
    return {};
}
