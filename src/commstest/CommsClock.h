#pragma once
// tick_, the comms-test window's clock: hh:mm one second after start, then
// every ten seconds. Every transaction but the bulk read holds it off while it
// runs; re-enabling it restarts the ten-second period.

#include "startup/LineActivity.h"

#include <QObject>
#include <QString>
#include <QTimer>

class CommsClock : public QObject, public LineActivity {
    Q_OBJECT
public:
    explicit CommsClock(QObject* parent = nullptr);
    void start(); // interval 1000 ms, enabled
    void setEnabled(bool on);
    // LineActivity: the clock holds off while the line is busy.
    void setLineBusy(bool busy) override { setEnabled(!busy); }
    bool isEnabled() const { return tick_.isActive(); }
    int interval() const { return tick_.interval(); }

signals:
    void tick(const QString& hhmm);

private:
    void onTimeout();
    QTimer tick_;
};
