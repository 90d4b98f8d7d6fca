#pragma once
// How a port's name becomes the device the system opens, and how a port that
// cannot be opened is explained, on Linux and on Windows.

#include "link/SerialPort.h"

#include <QString>

// The device a port name opens. Linux: a path as given, any other name under
// /dev. Windows: "COM5" as \\.\COM5 (the form every COM number opens by), a
// name that starts with \\ as given.
QString portDevicePath(const QString& port);

// The reason open() gives when another program (or another instance, through
// any name for the same device) holds the port.
const QString& portInUseText();

// What the operator reads when a port cannot be opened; for a permission
// problem on Linux, the group that owns the device and how to join it.
QString describePortProblem(const QString& port, const PortStatus& s);
