#include "ui/StartupWindows.h"

#include "link/SerialPort.h"
#include "startup/Operator.h"
#include "transport/Transport.h"
#include "ui/Frmtext.h"
#include "ui/LoadedWindows.h"
#include "ui/frmBauds.h"
#include "ui/frmMessages.h"
#include "ui/frmSplash.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

StartupWindows::StartupWindows(SharedState& state, SerialPort& port, Transport& transport,
                               Operator& op, LoadedWindows& windows, QString simulatedPath)
    : state_(state), port_(port), transport_(transport), op_(op), windows_(windows),
      simulatedPath_(std::move(simulatedPath)) {}

StartupWindows::~StartupWindows() = default;

void StartupWindows::showSplash() {
    splash_ = std::make_unique<frmSplash>(windows_);
    splash_->show();
    QCoreApplication::processEvents();
    splash_->showPicture1();
    QCoreApplication::processEvents();
}

void StartupWindows::fillSpeedList(const QStringList& speeds) {
    if (!bauds_)
        bauds_ = std::make_unique<frmBauds>(state_, windows_);
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
    commsTest_ = std::make_unique<Frmtext>(state_, transport_, op_, windows_);
    commsTest_->setEndProgram([this] { endProgram(); });
    commsTest_->setLoadMessageForm([this] { loadMainWindow(); });
    commsTest_->load([this] { splash_.reset(); });
}

void StartupWindows::runConnectionDialog() {
    if (!bauds_)
        bauds_ = std::make_unique<frmBauds>(state_, windows_);
    frmConnectionModems dialog(state_, port_, *bauds_, op_, windows_, simulatedPath_);
    if (portLister_)
        dialog.setPortLister(portLister_);
    if (onConnectionDialog_)
        onConnectionDialog_(dialog);
    dialog.exec();
}

void StartupWindows::loadMainWindow() {
    if (main_) {
        // Already loaded: bring it forward instead of loading it again.
        main_->show();
        main_->raise();
        main_->activateWindow();
        return;
    }
    main_ = std::make_unique<frmMessages>(state_, transport_, op_, windows_, *commsTest_);
    main_->setEndProgram([this] { endProgram(); });
    main_->load();
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
