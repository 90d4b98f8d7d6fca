#pragma once
// Opening the chosen port: close it if open, ask for the speed, name the
// port, apply the settings, open it. A failing step is reported in a box and
// the next step runs anyway, so the routine always ends normally, perhaps
// with the port closed.

#include <QString>

struct PortStatus;
class Connection;
class SerialPort;
class Operator;

// Shows the speed dialog modally; its Select sets the connection's settings.
// Closing the dialog through its frame leaves them as they were.
class SpeedDialog {
public:
    virtual ~SpeedDialog() = default;
    virtual void showModal() = 0;
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

// Opens connection.portName(), a system name or a device path, at the settings
// the speed dialog leaves in connection.commSettings.
void OpenPort(Connection& connection, SerialPort& port, SpeedDialog& speedDialog, Operator& op);
