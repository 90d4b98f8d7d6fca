#include "ui/StartupWindows.h"

#include "connect/Connection.h"
#include "connect/ConnectionSettings.h"
#include "startup/Operator.h"
#include "transport/Transports.h"
#include "ui/CommsTestWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LoadedWindows.h"
#include "ui/MainWindow.h"
#include "ui/SplashWindow.h"

#include <QEventLoop>
#include <QSettings>
#include <QTimer>

StartupWindows::StartupWindows(const Configuration& config, Connection& connection,
                               MessageTable& table, SerialPort& port, LineTransport& transport,
                               Operator& op, LoadedWindows& windows, QString simulatedPath)
    : config_(config), connection_(connection), table_(table), port_(port), transport_(transport),
      op_(op), windows_(windows),
      connections_(config, connection, port, transport, op, windows, std::move(simulatedPath)) {}

StartupWindows::~StartupWindows() = default;

void StartupWindows::showSplash() {
    splash_ = std::make_unique<SplashWindow>(windows_);
    // Painted by the next wait's event loop: the files read meanwhile take milliseconds.
    splash_->showPictures();
    splash_->show();
}

void StartupWindows::fillSpeedList(const QStringList& speeds) {
    if (!bauds_)
        bauds_ = std::make_unique<LineSpeedDialog>(connection_, config_, windows_);
    bauds_->fillSpeedList(speeds);
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
    connections_.choose(*bauds_);
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
    connections_.setMainWindow(main_.get());
    main_->setConnectAction([this] { runConnectionDialog(); });
    main_->setReconnectAction([this] { connections_.reconnect(); });
    main_->setFindUnitAction([this] { connections_.findUnit(); });
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
