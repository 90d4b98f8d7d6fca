#pragma once
// The connection the operator used last, remembered between runs: the port,
// the speed, the line settings and the unit address. The dialogs offer it
// first the next time. A value that is missing or no longer valid reads as
// "nothing remembered" for that item, never as a wrong choice.

#include "link/LineSettings.h"
#include "startup/LineOptions.h"

#include <QString>
#include <optional>

class QSettings;

struct RememberedConnection {
    QString port;    // system name or device path; empty: none remembered
    int speed = 0;   // one of kLineSpeeds; 0: none remembered
    QString framing; // parity, data bits, stop bits, "N,8,1"; empty: none remembered
    int unit = 0;    // kFirstUnitAddress..kLastUnitAddress; 0: none remembered
    std::optional<LineOptions> line; // echo, direction, pause, retries
    // The port's settings, read from speed and framing ("N,8,1" when none is
    // remembered); none without a speed.
    std::optional<LineSettings> portSettings() const;
};

class ConnectionSettings {
public:
    // settings must outlive this; the product passes a QSettings for the
    // application, the tests one on a temporary file.
    explicit ConnectionSettings(QSettings& settings) : settings_(settings) {}

    RememberedConnection load() const;
    // Stores the items that are set; the others keep what was remembered.
    void save(const RememberedConnection& c);
    // Speed and framing ("N,8,1") of the settings the port was opened at;
    // none: nothing remembered of them.
    static RememberedConnection
    fromPortSettings(const QString& port, const std::optional<LineSettings>& settings, int unit);

private:
    QSettings& settings_;
};
