#pragma once
// The connection as the windows change it after start-up leaves it: Connect...
// (the connection dialog, then the speed dialog), Reconnect (the same port or
// gateway again, with a wait the technician can end) and Find Unit...; each
// connection that opens is noted for Reconnect, remembered for the next run
// and shown in the main window's status line.

#include "connect/Reconnect.h"
#include "ui/ConnectionDialog.h"

#include <functional>

class Configuration;
class Connection;
class LineSpeedDialog;
class LineTransport;
class LoadedWindows;
class MainWindow;
class Operator;
class QSettings;
class SerialPort;
struct RememberedConnection;

class ConnectionControl {
public:
    ConnectionControl(const Configuration& config, Connection& connection, SerialPort& port,
                      LineTransport& transport, Operator& op, LoadedWindows& windows,
                      QString simulatedPath = {});

    // The window whose status line follows the connection; none at start-up.
    void setMainWindow(MainWindow* main) { main_ = main; }
    // Where the connection is remembered between runs; none: nothing is
    // remembered (the tests' default, so that they never touch the user's).
    void setSettings(QSettings* settings) { settings_ = settings; }
    // How long Reconnect waits for the port to come back.
    void setReconnectTimeout(int ms) { reconnectMs_ = ms; }
    // Where the ports' stable names are (tests: a folder of their own).
    void setByIdFolder(const QString& folder) { byIdFolder_ = folder; }
    // Tests: where the port names come from, and a look at the connection
    // dialog just before it runs modally.
    void setPortLister(ConnectionDialog::PortLister f) { portLister_ = std::move(f); }
    void setOnConnectionDialog(std::function<void(ConnectionDialog&)> f) {
        onConnectionDialog_ = std::move(f);
    }

    // The connection dialog, then bauds for a serial port. Select opens the
    // choice; backing out of either dialog, or a choice that does not open,
    // keeps the connection in use. At start-up the dialogs offer what the
    // last run used; later, what is in use, or while nothing is, the port
    // used last.
    void choose(LineSpeedDialog& bauds);
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

private:
    // A choice did not open and the line in use is back (or, with a
    // failure, is not): the status line says so.
    void lineTakenBack(const QString& failure);
    // The speed, unit address and line settings the last run used.
    void takeRemembered(LineSpeedDialog& bauds, const RememberedConnection& last);
    // Reconnect waited in vain: the status line and a box say so.
    void notBack(const QString& name, const QString& reason);

    const Configuration& config_;
    Connection& connection_;
    SerialPort& port_;
    LineTransport& transport_;
    Operator& op_;
    LoadedWindows& windows_;
    QString simulatedPath_;
    MainWindow* main_ = nullptr;
    QSettings* settings_ = nullptr;
    ConnectionDialog::PortLister portLister_;
    std::function<void(ConnectionDialog&)> onConnectionDialog_;
    Reconnector reconnector_;
    int reconnectMs_ = kReconnectTimeoutMs;
    QString byIdFolder_ = kSerialByIdFolder;
};
