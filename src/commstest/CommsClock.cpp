#include "commstest/CommsClock.h"

#include <QTime>

CommsClock::CommsClock(QObject* parent) : QObject(parent) {
    connect(&Timer2, &QTimer::timeout, this, &CommsClock::onTimeout);
}

void CommsClock::start() {
    Timer2.setInterval(1000);
    Timer2.start();
}

void CommsClock::setEnabled(bool on) {
    if (on)
        Timer2.start();
    else
        Timer2.stop();
}

void CommsClock::onTimeout() {
    emit tick(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).left(5));
    Timer2.setInterval(10000);
}
