#include "commstest/CommsClock.h"

#include <QTime>

CommsClock::CommsClock(QObject* parent) : QObject(parent) {
    connect(&tick_, &QTimer::timeout, this, &CommsClock::onTimeout);
}

void CommsClock::start() {
    tick_.setInterval(1000);
    tick_.start();
}

void CommsClock::setEnabled(bool on) {
    if (on)
        tick_.start();
    else
        tick_.stop();
}

void CommsClock::onTimeout() {
    emit tick(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).left(5));
    tick_.setInterval(10000);
}
