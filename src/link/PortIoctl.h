#pragma once
// The driver requests the serial port makes beyond what QSerialPort offers,
// behind one interface so that the rules around them can be tried without
// such a driver: the RS-485 mode (TIOCGRS485, TIOCSRS485), the serial info
// with its low-latency flag (TIOCGSERIAL, TIOCSSERIAL) and the output queue
// (TIOCOUTQ). Pseudo-terminals refuse the first four ("Inappropriate ioctl").

#include <linux/serial.h>
#include <optional>

class PortIoctl {
public:
    virtual ~PortIoctl() = default;
    // Each gives 0, or the system's error number.
    virtual int getRs485(int fd, serial_rs485& out) = 0;
    virtual int setRs485(int fd, serial_rs485& in) = 0;
    virtual int getSerial(int fd, serial_struct& out) = 0;
    virtual int setSerial(int fd, serial_struct& in) = 0;
    // The bytes written to the driver that have not left the port yet.
    virtual int outputQueue(int fd, int& bytes) = 0;
};

// The real requests on a file descriptor.
PortIoctl& systemPortIoctl();

// Asks the driver of fd for low latency: a USB adapter then hands each
// received byte over at once instead of after its latency timer (often
// 16 ms), which would otherwise stretch every wait for a reply. True when
// the tool turned it on, and must turn it off again (restoreLowLatency)
// when the port closes; false when the driver had it on already, or refused
// (a pseudo-terminal does): that is no error, the port works as it is.
bool enableLowLatency(PortIoctl& io, int fd);
void restoreLowLatency(PortIoctl& io, int fd);
