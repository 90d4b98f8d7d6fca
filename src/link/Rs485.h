#pragma once
// The Linux RS-485 mode of a serial driver: the driver raises RTS for each
// transmission and drops it after the last bit. The two requests
// (TIOCGRS485, TIOCSRS485) go through PortIoctl so the rules around them can
// be tried without such a driver.

#include "link/PortIoctl.h"
#include "link/SerialPort.h"

// The mode this tool asks for at baud: enabled, RTS on while sending, the
// delays around the transmission one character time long (at least 1 ms).
serial_rs485 wantedRs485(const serial_rs485& previous, int baud);

// Puts fd into RS-485 mode and reads it back: the kernel quietly reverts what
// the driver cannot do. On success previous holds the mode to restore. A
// refusal leaves the mode as it was and says why, naming the port.
PortStatus enableRs485(PortIoctl& io, int fd, int baud, const QString& port,
                       serial_rs485& previous);
