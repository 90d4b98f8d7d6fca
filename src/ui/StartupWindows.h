#pragma once
// The windows start-up opens, in its order, for the program and the tests:
// the splash, the speed dialog (loaded, not shown), the comms-test window
// (hidden), the connection dialog (modal) and the main window. What changes
// the connection afterwards is ConnectionControl's.

#include "startup/StartupSequence.h"
#include "ui/ConnectionControl.h"

#include <functional>
#include <memory>

class CommsTestWindow;
class MessageTable;
class Connection;
class QSettings;
struct RememberedConnection;
class LoadedWindows;
class Operator;
class SerialPort;
class LineTransport;
class LineSpeedDialog;
class MainWindow;
class SplashWindow;

class StartupWindows : public StartupSteps {
public:
    StartupWindows(const Configuration& config, Connection& connection, MessageTable& table,
                   SerialPort& port, LineTransport& transport, Operator& op, LoadedWindows& windows,
                   QString simulatedPath = {});
    ~StartupWindows() override;
    StartupWindows(const StartupWindows&) = delete;
    StartupWindows& operator=(const StartupWindows&) = delete;

    // How the program ends (Quit, or the confirmed exit question).
    void setEndProgram(std::function<void()> f) { endProgram_ = std::move(f); }
    // Where the connection, the recent files and the site names are kept
    // between runs; none: nothing is (the tests' default).
    void setSettings(QSettings* settings) {
        settings_ = settings;
        connections_.setSettings(settings);
    }
    // Connect..., Reconnect and Find Unit...
    ConnectionControl& connections() { return connections_; }

    SplashWindow* splash() const { return splash_.get(); }
    LineSpeedDialog* bauds() const { return bauds_.get(); }
    CommsTestWindow* commsTest() const { return commsTest_.get(); }
    MainWindow* mainWindow() const { return main_.get(); }

    // StartupSteps
    void showSplash() override;
    void fillSpeedList(const QStringList& speeds) override;
    void pause(int ms) override;
    void loadCommsTest() override;
    void runConnectionDialog() override;
    void loadMainWindow() override;
    void reportConfigError(const ConfigError& error) override;

private:
    void endProgram();

    const Configuration& config_;
    Connection& connection_;
    MessageTable& table_;
    SerialPort& port_;
    LineTransport& transport_;
    Operator& op_;
    LoadedWindows& windows_;
    std::function<void()> endProgram_;
    QSettings* settings_ = nullptr;
    ConnectionControl connections_;
    // Declared in load order; the main window, which refers to the comms-test
    // window, goes first.
    std::unique_ptr<SplashWindow> splash_;
    std::unique_ptr<LineSpeedDialog> bauds_;
    std::unique_ptr<CommsTestWindow> commsTest_;
    std::unique_ptr<MainWindow> main_;
};
