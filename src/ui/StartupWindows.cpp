#include "ui/StartupWindows.h"

#include "connect/Connection.h"
#include "connect/ConnectionSettings.h"
#include "connect/ConnectionSwitch.h"
#include "connect/OpenPort.h"
#include "link/SerialPort.h"
#include "startup/Operator.h"
#include "transport/Endpoint.h"
#include "transport/PortTexts.h"
#include "transport/Transports.h"
#include "ui/CommsTestWindow.h"
#include "ui/FindUnitWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LoadedWindows.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QSettings>
#include <QTimer>

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

StartupWindows::StartupWindows(const Configuration& config, Connection& connection,
                               MessageTable& table, SerialPort& port, LineTransport& transport,
                               Operator& op, LoadedWindows& windows, QString simulatedPath)
    : config_(config), connection_(connection), table_(table), port_(port), transport_(transport),
      op_(op), windows_(windows), simulatedPath_(std::move(simulatedPath)), reconnector_(port) {
    reconnector_.setOperator(&op_); // asked before a port without an identity is reopened
}

StartupWindows::~StartupWindows() = default;

void StartupWindows::showSplash() {
    splash_ = std::make_unique<SplashWindow>(windows_);
    splash_->show();
    QCoreApplication::processEvents();
    splash_->showPictures();
    QCoreApplication::processEvents();
}

void StartupWindows::fillSpeedList(const QStringList& speeds) {
    if (!bauds_)
        bauds_ = std::make_unique<LineSpeedDialog>(connection_, config_, windows_);
    bauds_->fillSpeedList(speeds);
    QCoreApplication::processEvents();
}

void StartupWindows::pause(int ms) {
    if (ms <= 0)
        return;
    // The splash keeps painting, but nothing takes input meanwhile.
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void StartupWindows::loadCommsTest() {
    commsTest_ = std::make_unique<CommsTestWindow>(connection_, config_.terminalNames, transport_,
                                                   op_, windows_);
    commsTest_->setEndProgram([this] { endProgram(); });
    commsTest_->setLoadMessageForm([this] { loadMainWindow(); });
    commsTest_->load([this] { splash_.reset(); });
}

void StartupWindows::runConnectionDialog() {
    if (!bauds_)
        bauds_ = std::make_unique<LineSpeedDialog>(connection_, config_, windows_);
    ConnectionSwitch change(connection_, port_, transport_, *bauds_, op_);
    const auto open = [this, &change](const QString& port) {
        const SwitchResult r = change.switchTo(port);
        if (r.outcome == SwitchOutcome::Refused && r.tried)
            lineTakenBack(r.restoreFailure);
        return r.outcome == SwitchOutcome::Switched;
    };
    // At start-up the dialogs offer what the last run used; later, what is
    // in use, or while nothing is, the port used last.
    const bool again = main_ != nullptr;
    ConnectionDialog dialog(open, op_, windows_, simulatedPath_, again ? main_.get() : nullptr);
    if (again && !connection_.portName().isEmpty()) {
        dialog.setPortInUse(connection_.portName());
    } else if (settings_) {
        const RememberedConnection last = ConnectionSettings(*settings_).load();
        dialog.setPreferredPort(last.port);
        if (!again)
            takeRemembered(last);
    }
    if (portLister_)
        dialog.setPortLister(portLister_);
    if (onConnectionDialog_)
        onConnectionDialog_(dialog);
    // Cancel keeps the connection in use.
    if (dialog.exec() == QDialog::Accepted)
        noteConnection();
}

void StartupWindows::takeRemembered(const RememberedConnection& last) {
    bauds_->setPreferredSettings(last.commSettings());
    if (last.unit != 0)
        connection_.unitAddress = int(last.unit);
    if (last.line)
        connection_.line = *last.line;
}

void StartupWindows::lineTakenBack(const QString& failure) {
    if (!main_)
        return;
    // What the line said while it tried the choice was about the choice.
    main_->connectionChanged();
    if (!failure.isEmpty())
        main_->setConnectionNote(QStringLiteral("failed: ") + failure);
}

void StartupWindows::noteConnection() {
    const bool network = connection_.network();
    if (network)
        reconnector_.rememberGateway(connection_, transport_);
    if (port_.isOpen() && !network) {
        reconnector_.remember(byIdFolder_);
        if (settings_) {
            RememberedConnection c = ConnectionSettings::fromCommSettings(
                reconnector_.name(), connection_.commSettings, connection_.unitAddress);
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

void StartupWindows::reconnect() {
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
        const ReconnectWait wait(name, reconnectMs_, reconnector_, main_.get());
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

void StartupWindows::notBack(const QString& name, const QString& reason) {
    main_->setConnectionNote(QStringLiteral("failed: ") + reason);
    op_.message(QStringLiteral("%1 did not come back within %2 s: %3\r\nConnect... chooses "
                               "another port.")
                    .arg(name)
                    .arg(reconnectMs_ / 1000)
                    .arg(reason),
                PortTexts::failedTitle(name), MsgIcon::Exclamation, MsgButtons::Ok);
}

void StartupWindows::findUnit() {
    if (!main_)
        return;
    FindUnitWindow window(config_, connection_, port_, transport_, op_, main_.get());
    if (window.exec() != QDialog::Accepted || !window.chosen())
        return;
    const FoundUnit unit = *window.chosen();
    main_->setUnitAddress(unit.unit); // the one unit address of every window
    if (!connection_.network()) {     // a gateway keeps its line's speed
        connection_.commSettings = window.chosenSettings();
        if (const PortStatus s = port_.setSettings(connection_.commSettings); !s.ok)
            op_.message(openPortErrorText(portErrorNumber(s, kSettingsStepError), s.reason), {},
                        MsgIcon::Exclamation, MsgButtons::Ok);
    }
    noteConnection();
}

void StartupWindows::loadMainWindow() {
    if (main_) {
        // Already loaded: bring it forward instead of loading it again.
        main_->show();
        main_->raise();
        main_->activateWindow();
        return;
    }
    table_.reset(config_.defaultMessages, config_.terminalNames);
    main_ =
        std::make_unique<MainWindow>(table_, connection_, transport_, op_, windows_, *commsTest_);
    main_->setEndProgram([this] { endProgram(); });
    main_->setConnectAction([this] { connectAgain(); });
    main_->setReconnectAction([this] { reconnect(); });
    main_->setFindUnitAction([this] { findUnit(); });
    main_->setLinePort(&port_);
    if (settings_) // the recent files and site names beside the remembered connection
        main_->setSettings(settings_);
    main_->load();
    QObject::connect(main_.get(), &MainWindow::unitAddressChanged, main_.get(), [this](int unit) {
        if (settings_)
            ConnectionSettings(*settings_).save({{}, 0, {}, unit, {}});
    });
}

void StartupWindows::reportConfigError(const ConfigError& error) {
    // The splash would stand in front of the box.
    splash_.reset();
    op_.message(error.text(), {}, MsgIcon::Critical, MsgButtons::Ok);
}

void StartupWindows::endProgram() {
    if (endProgram_)
        endProgram_();
}
