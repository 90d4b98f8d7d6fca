#pragma once
// The connection in words for the status line and the comms test:
// "ttyUSB0, 9600 baud, unit 1, echo on, pause 100 ms: connected".

#include "connect/Connection.h"

#include <QString>
#include <QStringList>

struct ConnectionState {
    bool open = false; // the transport's line is open
    QString failure;   // why the line failed last, until it is opened again
    QString note;      // a passing state in place of connected / not connected
};

// The line settings that differ from the defaults, as "echo on", "direction
// adapter", "pause 100 ms", "retries 2", "verify on". Echo and direction are
// the serial line's: a gateway drives its own line.
QStringList lineSettingsText(const LineOptions& line, bool network);

QString connectionSummary(const Connection& connection, const ConnectionState& state);
