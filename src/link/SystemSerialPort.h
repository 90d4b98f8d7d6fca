#pragma once
// The product's serial port on this system: QSerialPort with the Linux
// driver's requests (RS-485 mode, low latency) on Linux; the project's own
// port on Windows, where Debian serves no QtSerialPort to build with.

#include "link/LineSettings.h"
#include "link/PortNames.h"

#ifdef _WIN32
#include "link/WinSerialPort.h"
using SystemSerialPort = WinSerialPort;
#else
#include "link/QtSerialPortDevice.h"
using SystemSerialPort = QtSerialPortDevice;
#endif
