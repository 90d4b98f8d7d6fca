#pragma once
// The connection in use: the port (or network address), its settings, the
// unit address every window talks to, and the line settings of the run.

#include "startup/LineOptions.h"

#include <QString>

struct Connection {
    QString portName;     // a system name, a device path or a network address
    QString commSettings; // "9600,N,8,1"; empty for a network unit
    int unitAddress = 0;
    LineOptions line; // echo, direction, pause, retries
};
