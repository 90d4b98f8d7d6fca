#include "sim/SimThread.h"

#include <QMetaObject>

SimThread::SimThread() : unit_(new SimUnit) {
    thread_.setObjectName(QStringLiteral("simulated unit"));
}

SimThread::~SimThread() {
    stop();
    delete unit_;
}

bool SimThread::start(const SimConfig& config, QString* error) {
    stop();
    unit_->moveToThread(&thread_);
    thread_.start();
    bool ok = false;
    QString why;
    QMetaObject::invokeMethod(
        unit_, [&] { ok = unit_->start(config, &why); }, Qt::BlockingQueuedConnection);
    if (!ok) {
        stop();
        if (error)
            *error = why;
        return false;
    }
    path_ = unit_->devicePath();
    running_ = true;
    return true;
}

void SimThread::stop() {
    if (!thread_.isRunning())
        return;
    // The timers and the notifier belong to the worker thread: stop them
    // there, then bring the unit home so it can be deleted or restarted here.
    QThread* home = QThread::currentThread();
    QMetaObject::invokeMethod(
        unit_,
        [this, home] {
            unit_->stop();
            unit_->moveToThread(home);
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    running_ = false;
    path_.clear();
}
