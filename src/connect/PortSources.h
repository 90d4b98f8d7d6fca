#pragma once
// Where the names of the serial ports come from. On Linux that is Qt's
// enumeration; the Windows registry variant lives beside it.

#include <QString>
#include <QStringList>

class Operator;

// The serial ports the system knows, in a stable order (sorted by name, so
// ttyS2 comes before ttyS10), as names a port can be opened by.
QStringList systemPortNames();

// Where a port of that name lives: names without a slash are system names
// ("ttyUSB0", "COM3"); anything with a slash is a device path and kept as is.
QString portLocation(const QString& nameOrPath);

// The adapter behind a port as the system describes it: "maker product,
// serial number", or empty for a port without one.
QString portAdapterText(const QString& nameOrPath);

// What a listed port's tooltip says: where it is opened and the adapter.
QString portDescription(const QString& nameOrPath);

// The ports the connection dialog lists: the registry's serial-port key on
// Windows, whose failures the operator is told about, Qt's enumeration
// elsewhere.
QStringList listPortNames(Operator& op);
