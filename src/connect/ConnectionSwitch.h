#pragma once
// Changing the connection in use to the one the operator chose, all or
// nothing. The speed is asked first, so that backing out of it changes
// nothing; the line in use is given up only for a choice the operator went
// through with; and a choice that cannot be opened puts the line in use back
// as it was: the same port, speed, unit and line settings, open again.
//
// A network unit counts as opened once its gateway takes the connection, so
// an address where nothing listens is refused at once. Leaving a network unit
// closes its connection: a gateway may serve one client only.

#include "connect/Connection.h"

#include <QString>

class Operator;
class LineTransport;
class SerialPort;
class SpeedDialog;

enum class SwitchOutcome {
    Switched,  // the connection uses the choice, open
    BackedOut, // the operator backed out of the speed dialog: nothing changed
    Refused,   // the choice is unusable or did not open; the line in use is back
};

struct SwitchResult {
    SwitchOutcome outcome = SwitchOutcome::BackedOut;
    // The choice was tried: the line in use was given up and taken back, so
    // what the line reported meanwhile was about the choice.
    bool tried = false;
    // Why the line in use did not open again, when it did not.
    QString restoreFailure;
};

class ConnectionSwitch {
public:
    // The transport is told the endpoint of the connection it opens or puts
    // back; the port is only ever given a serial device's name.
    ConnectionSwitch(Connection& connection, SerialPort& port, LineTransport& transport,
                     SpeedDialog& speedDialog, Operator& op)
        : connection_(connection), port_(port), transport_(transport), speedDialog_(speedDialog),
          op_(op) {}

    // chosen: a system name, a device path or a network address. Each failing
    // step is told to the operator in a box.
    SwitchResult switchTo(const QString& chosen);

private:
    // The connection in use, as it was before the choice.
    struct InUse {
        Connection connection;
        LineSettings settings; // the serial port's
        bool open = false;
    };
    InUse inUse() const;
    void closeInUse(const InUse& before);
    bool openSerial(const Connection& next, const InUse& before);
    bool openNetwork(const Connection& next);
    // The line in use again; the reason when it does not open.
    QString restore(const InUse& before);

    Connection& connection_;
    SerialPort& port_;
    LineTransport& transport_;
    SpeedDialog& speedDialog_;
    Operator& op_;
};
