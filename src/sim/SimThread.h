#pragma once
// A simulated unit on a thread of its own, so that it keeps its timing while
// the window thread is busy in a transaction.

#include "sim/SimUnit.h"

#include <QString>
#include <QThread>

class SimThread {
public:
    SimThread();
    ~SimThread(); // stops
    SimThread(const SimThread&) = delete;
    SimThread& operator=(const SimThread&) = delete;

    // Opens the pseudo-terminal and starts answering on the worker thread.
    bool start(const SimConfig& config, QString* error = nullptr);
    void stop();
    bool isRunning() const { return running_; }
    QString devicePath() const { return path_; }

    // The model locks itself, so messages may be read and set at any time;
    // loadSav before start() fills the unit before the first request.
    SimModel& model() { return unit_->model(); }
    // The units on the line; set them before start().
    SimLine& line() { return unit_->line(); }
    // For connecting to requestSeen and replySent (queued across threads).
    SimUnit* unit() { return unit_; }

private:
    QThread thread_;
    SimUnit* unit_;
    QString path_;
    bool running_ = false;
};
