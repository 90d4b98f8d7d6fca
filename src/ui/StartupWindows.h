#pragma once
// The windows start-up opens, in its order, for the program and the tests:
// the splash, the speed dialog (loaded, not shown), the comms-test window
// (hidden), the connection dialog (modal) and the main window.

#include "connect/Reconnect.h"
#include "startup/StartupSequence.h"
#include "ui/ConnectionDialog.h"

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
    // Tests: where the port names come from, and a look at the connection
    // dialog just before it runs modally.
    void setPortLister(ConnectionDialog::PortLister f) { portLister_ = std::move(f); }
    void setOnConnectionDialog(std::function<void(ConnectionDialog&)> f) {
        onConnectionDialog_ = std::move(f);
    }

    // Where the connection is remembered between runs; none: nothing is
    // remembered (the tests' default, so that they never touch the user's).
    void setSettings(QSettings* settings) { settings_ = settings; }
    // How long Reconnect waits for the port to come back.
    void setReconnectTimeout(int ms) { reconnectMs_ = ms; }
    // Where the ports' stable names are (tests: a folder of their own).
    void setByIdFolder(const QString& folder) { byIdFolder_ = folder; }

    // The main window's Connect: the connection dialog and the speed dialog
    // again. Select opens the choice; backing out of either dialog, or a
    // choice that does not open, keeps the connection in use.
    void connectAgain() { runConnectionDialog(); }
    // Reopens the failed port, by its stable name, with the same settings,
    // once it is back (or connects to the gateway again). The wait shows the
    // time left, and Cancel or Escape ends it.
    void reconnect();
    // The Find Unit window; its "Use" makes the unit found the connection.
    void findUnit();
    // The port is open with what the state says: noted for Reconnect,
    // remembered for the next run, shown in the status line.
    void noteConnection();
    Reconnector& reconnector() { return reconnector_; }

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
    // A choice did not open and the line in use is back (or, with a
    // failure, is not): the status line says so.
    void lineTakenBack(const QString& failure);
    // The speed, unit address and line settings the last run used.
    void takeRemembered(const RememberedConnection& last);
    // Reconnect waited in vain: the status line and a box say so.
    void notBack(const QString& name, const QString& reason);

    const Configuration& config_;
    Connection& connection_;
    MessageTable& table_;
    SerialPort& port_;
    LineTransport& transport_;
    Operator& op_;
    LoadedWindows& windows_;
    QString simulatedPath_;
    std::function<void()> endProgram_;
    ConnectionDialog::PortLister portLister_;
    std::function<void(ConnectionDialog&)> onConnectionDialog_;
    QSettings* settings_ = nullptr;
    Reconnector reconnector_;
    int reconnectMs_ = kReconnectTimeoutMs;
    QString byIdFolder_ = kSerialByIdFolder;
    // Declared in load order; the main window, which refers to the comms-test
    // window, goes first.
    std::unique_ptr<SplashWindow> splash_;
    std::unique_ptr<LineSpeedDialog> bauds_;
    std::unique_ptr<CommsTestWindow> commsTest_;
    std::unique_ptr<MainWindow> main_;
};
