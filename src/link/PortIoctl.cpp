// Linux only: the driver requests of a Linux serial port.
#ifndef _WIN32
#include "link/PortIoctl.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace {

int request(int fd, unsigned long what, void* arg) {
    return ::ioctl(fd, what, arg) == 0 ? 0 : errno;
}

class SystemPortIoctl : public PortIoctl {
public:
    int getRs485(int fd, serial_rs485& out) override { return request(fd, TIOCGRS485, &out); }
    int setRs485(int fd, serial_rs485& in) override { return request(fd, TIOCSRS485, &in); }
    int getSerial(int fd, serial_struct& out) override { return request(fd, TIOCGSERIAL, &out); }
    int setSerial(int fd, serial_struct& in) override { return request(fd, TIOCSSERIAL, &in); }
    int outputQueue(int fd, int& bytes) override { return request(fd, TIOCOUTQ, &bytes); }
};

} // namespace

PortIoctl& systemPortIoctl() {
    static SystemPortIoctl io;
    return io;
}

bool enableLowLatency(PortIoctl& io, int fd) {
    serial_struct info{};
    if (io.getSerial(fd, info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    info.flags |= ASYNC_LOW_LATENCY;
    return io.setSerial(fd, info) == 0;
}

void restoreLowLatency(PortIoctl& io, int fd) {
    serial_struct info{};
    if (io.getSerial(fd, info) != 0)
        return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    io.setSerial(fd, info);
}

#endif // _WIN32
