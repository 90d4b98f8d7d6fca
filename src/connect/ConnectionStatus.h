#pragma once
// The connection in words for the status line and the comms test:
// "ttyUSB0, 9600 baud, unit 1: connected".

#include "connect/Connection.h"

#include <QString>

struct ConnectionState {
    bool open = false; // the transport's line is open
    QString failure;   // why the line failed last, until it is opened again
    QString note;      // a passing state in place of connected / not connected
};

QString connectionSummary(const Connection& connection, const ConnectionState& state);
