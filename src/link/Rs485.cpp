// Linux only: the driver requests of a Linux serial port.
#ifndef _WIN32
#include "link/Rs485.h"

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

QString noMode(const QString& port, int err) {
    return QStringLiteral("the driver of %1 has no RS-485 mode (%2)")
        .arg(port, QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace

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

PortStatus enableRs485(PortIoctl& io, int fd, int baud, const QString& port,
                       serial_rs485& previous) {
    serial_rs485 old{};
    if (const int err = io.getRs485(fd, old))
        return PortStatus::failure(noMode(port, err));
    serial_rs485 want = wantedRs485(old, baud);
    if (const int err = io.setRs485(fd, want))
        return PortStatus::failure(noMode(port, err));
    serial_rs485 back{};
    const int err = io.getRs485(fd, back);
    constexpr auto kNeeded = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    if (err != 0 || (back.flags & kNeeded) != kNeeded) {
        io.setRs485(fd, old);
        return PortStatus::failure(
            QStringLiteral("the driver of %1 does not raise RTS for sending in RS-485 mode")
                .arg(port));
    }
    previous = old;
    return {};
}

#endif // _WIN32
