#pragma once
// The order in which the program comes up, kept apart from the widgets: the
// windows and the waits are behind StartupSteps, the files are read here.

#include "startup/ConfigFiles.h"
#include "startup/Configuration.h"

#include <QString>
#include <QStringList>
#include <optional>

class StartupSteps {
public:
    virtual ~StartupSteps() = default;
    // The splash window, shown with its second picture; the pause paints it.
    virtual void showSplash() = 0;
    // The speed dialog's list, emptied and refilled in file order.
    virtual void fillSpeedList(const QStringList& speeds) = 0;
    // A timed wait with the splash left on screen.
    virtual void pause(int ms) = 0;
    // The comms-test window, loaded hidden; its load closes the splash and
    // sets the unit address to 1.
    virtual void loadCommsTest() = 0;
    // The connection dialog, modal; its Select opens the port.
    virtual void runConnectionDialog() = 0;
    virtual void loadMainWindow() = 0;
    // A configuration file is missing or wrong; start-up goes no further.
    virtual void reportConfigError(const ConfigError& error) = 0;
};

constexpr int kSplashPauseMs = 2000;

// Reads CRC-16.TBL from a folder (readCrcTableFile). Passed in because the CRC
// lives with the link, which builds on this folder.
using CrcLoader = std::optional<ConfigError> (*)(const QString& folder, CrcTableArray& table);

// Runs start-up against the files in folder. Nothing when the main window is
// up; otherwise the configuration error, already reported, with config left
// as it was.
std::optional<ConfigError> runStartup(Configuration& config, StartupSteps& steps, CrcLoader loadCrc,
                                      const QString& folder, int splashPauseMs = kSplashPauseMs);
