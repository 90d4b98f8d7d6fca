#include "ui/ConnectionControl.h"

#include "connect/Connection.h"
#include "connect/ConnectionSettings.h"
#include "connect/ConnectionSwitch.h"
#include "connect/OpenPort.h"
#include "link/SerialPort.h"
#include "startup/Configuration.h"
#include "startup/Operator.h"
#include "transport/PortTexts.h"
#include "transport/Transports.h"
#include "ui/FindUnitWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/MainWindow.h"

#include <QProgressDialog>
#include <QSettings>

namespace {

// The wait for a port or a gateway to come back: the time left, and Cancel
// (or Escape) to stop waiting.
class ReconnectWait : public QProgressDialog {
public:
    ReconnectWait(const QString& name, int timeoutMs, Reconnector& reconnector, QWidget* parent)
        : QProgressDialog(parent), name_(name) {
        setObjectName(QStringLiteral("reconnectWait"));
        setWindowTitle(QStringLiteral("Reconnect"));
        setWindowModality(Qt::ApplicationModal);
        setCancelButtonText(QStringLiteral("&Cancel"));
        setAutoClose(false);
        setAutoReset(false);
        setMinimumDuration(0);
        setRange(0, timeoutMs);
        showLeft(timeoutMs);
        connect(this, &QProgressDialog::canceled, &reconnector, &Reconnector::cancel);
        connect(this, &QDialog::rejected, &reconnector, &Reconnector::cancel);
        connect(&reconnector, &Reconnector::waiting, this, &ReconnectWait::showLeft);
        show();
    }

private:
    void showLeft(int msLeft) {
        setLabelText(QStringLiteral("Waiting for %1 to come back: %2 s left")
                         .arg(name_)
                         .arg((qMax(msLeft, 0) + 999) / 1000));
        setValue(maximum() - qMax(msLeft, 0));
    }
    QString name_;
};

} // namespace

ConnectionControl::ConnectionControl(const Configuration& config, Connection& connection,
                                     SerialPort& port, LineTransport& transport, Operator& op,
                                     LoadedWindows& windows, QString simulatedPath)
    : config_(config), connection_(connection), port_(port), transport_(transport), op_(op),
      windows_(windows), simulatedPath_(std::move(simulatedPath)), reconnector_(port) {
    reconnector_.setOperator(&op_); // asked before a port without an identity is reopened
}

void ConnectionControl::choose(LineSpeedDialog& bauds) {
    ConnectionSwitch change(connection_, port_, transport_, bauds, op_);
    const auto open = [this, &change](const QString& port) {
        const SwitchResult r = change.switchTo(port);
        if (r.outcome == SwitchOutcome::Refused && r.tried)
            lineTakenBack(r.restoreFailure);
        return r.outcome == SwitchOutcome::Switched;
    };
    // At start-up the dialogs offer what the last run used; later, what is
    // in use, or while nothing is, the port used last.
    const bool again = main_ != nullptr;
    ConnectionDialog dialog(open, op_, windows_, simulatedPath_, again ? main_ : nullptr);
    if (again && !connection_.portName().isEmpty()) {
        dialog.setPortInUse(connection_.portName());
    } else if (settings_) {
        const RememberedConnection last = ConnectionSettings(*settings_).load();
        dialog.setPreferredPort(last.port);
        if (!again)
            takeRemembered(bauds, last);
    }
    if (portLister_)
        dialog.setPortLister(portLister_);
    if (onConnectionDialog_)
        onConnectionDialog_(dialog);
    // Cancel keeps the connection in use.
    if (dialog.exec() == QDialog::Accepted)
        noteConnection();
}

void ConnectionControl::takeRemembered(LineSpeedDialog& bauds, const RememberedConnection& last) {
    bauds.setPreferredSettings(last.portSettings());
    if (last.unit != 0)
        connection_.unitAddress = int(last.unit);
    if (last.line)
        connection_.line = *last.line;
}

void ConnectionControl::lineTakenBack(const QString& failure) {
    if (!main_)
        return;
    // What the line said while it tried the choice was about the choice.
    main_->connectionChanged();
    if (!failure.isEmpty())
        main_->setConnectionNote(QStringLiteral("failed: ") + failure);
}

void ConnectionControl::noteConnection() {
    const bool network = connection_.network();
    if (network)
        reconnector_.rememberGateway(connection_, transport_);
    if (port_.isOpen() && !network) {
        reconnector_.remember(byIdFolder_);
        if (settings_) {
            RememberedConnection c = ConnectionSettings::fromPortSettings(
                reconnector_.name(), connection_.portSettings, connection_.unitAddress);
            c.line = connection_.line;
            ConnectionSettings(*settings_).save(c);
        }
    } else if (network && settings_) {
        ConnectionSettings(*settings_)
            .save({connection_.portName(), 0, {}, connection_.unitAddress, connection_.line});
    }
    if (main_)
        main_->connectionChanged();
}

void ConnectionControl::reconnect() {
    if (!main_)
        return;
    if (reconnector_.name().isEmpty()) { // nothing was open yet
        main_->connectionChanged();
        return;
    }
    const QString name = reconnector_.name();
    main_->setConnectionNote(QStringLiteral("waiting for %1 to come back").arg(name));
    const TransportClaim claim(transport_); // nothing starts meanwhile
    PortStatus s;
    {
        const ReconnectWait wait(name, reconnectMs_, reconnector_, main_);
        s = reconnector_.reconnect(reconnectMs_);
    }
    if (s.ok) {
        if (!connection_.network())
            connection_.setPort(reconnector_.name()); // where the adapter is now
        noteConnection();
    } else if (reconnector_.cancelled()) {
        main_->setConnectionNote({}); // the failure noted before stands
    } else {
        notBack(name, s.reason);
    }
}

void ConnectionControl::notBack(const QString& name, const QString& reason) {
    main_->setConnectionNote(QStringLiteral("failed: ") + reason);
    op_.message(QStringLiteral("%1 did not come back within %2 s: %3\r\nConnect... chooses "
                               "another port.")
                    .arg(name)
                    .arg(reconnectMs_ / 1000)
                    .arg(reason),
                PortTexts::failedTitle(name), MsgIcon::Exclamation, MsgButtons::Ok);
}

void ConnectionControl::findUnit() {
    if (!main_)
        return;
    FindUnitWindow window(config_, connection_, port_, transport_, op_, main_);
    if (window.exec() != QDialog::Accepted || !window.chosen())
        return;
    const FoundUnit unit = *window.chosen();
    main_->setUnitAddress(unit.unit); // the one unit address of every window
    if (!connection_.network()) {     // a gateway keeps its line's speed
        connection_.portSettings = window.chosenSettings();
        if (connection_.portSettings)
            if (const PortStatus s = port_.setSettings(*connection_.portSettings); !s.ok)
                op_.message(openPortErrorText(portErrorNumber(s, kSettingsStepError), s.reason), {},
                            MsgIcon::Exclamation, MsgButtons::Ok);
    }
    noteConnection();
}
