#pragma once
// Opening the chosen serial port: name it, apply the settings, open it. A
// failing step is reported in a box; settings the port refuses still lead to
// the open, which decides whether the port can be used.

#include <QString>

struct PortStatus;
class Connection;
class SerialPort;
class Operator;

// Shows the speed dialog modally. Select sets the connection's settings and
// line settings and answers true; Cancel, Escape or closing it through its
// frame leave them as they were and answer false.
class SpeedDialog {
public:
    virtual ~SpeedDialog() = default;
    virtual bool showModal() = 0;
};

// Error numbers for the steps whose failure the system gives no errno for.
constexpr int kSettingsStepError = 4;
constexpr int kOpenStepError = 5;

// "Error " + the number (a blank before a non-negative one) + " detected 0",
// then the reason on a second line. The trailing 0 is the routine's progress
// status, which is still 0 whenever a box can appear.
QString openPortErrorText(int number, const QString& reason);

// The errno the port's reason names (ENOENT 2, EACCES 13, EBUSY 16, EINVAL 22
// and the like, found by their system texts), EACCES for a refused
// permission, EBUSY for a port in use by another program, else the fallback.
int portErrorNumber(const PortStatus& status, int fallback);

// Opens connection.portName(), a system name or a device path, at
// connection.portSettings (none leaves the port at the settings in force,
// 9600,N,8,1 for a port never set). The port must be closed. True
// when it opened.
bool openSerialPort(const Connection& connection, SerialPort& port, Operator& op);
