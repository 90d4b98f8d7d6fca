#pragma once
// tick_, the comms-test window's clock: hh:mm one second after start, then
// every ten seconds. Every transaction but the bulk read holds it off while it
// runs; re-enabling it restarts the ten-second period.

#include <QObject>
#include <QString>
#include <QTimer>

class CommsClock : public QObject {
    Q_OBJECT
public:
    explicit CommsClock(QObject* parent = nullptr);
    void start(); // interval 1000 ms, enabled
    void setEnabled(bool on);
    bool isEnabled() const { return tick_.isActive(); }
    int interval() const { return tick_.interval(); }

signals:
    void tick(const QString& hhmm);

private:
    void onTimeout();
    QTimer tick_;
};

// Holds the clock off for a scope (nullptr: no clock).
class ClockHold {
public:
    explicit ClockHold(CommsClock* clock) : clock_(clock) {
        if (clock_)
            clock_->setEnabled(false);
    }
    ~ClockHold() {
        if (clock_)
            clock_->setEnabled(true);
    }
    ClockHold(const ClockHold&) = delete;
    ClockHold& operator=(const ClockHold&) = delete;

private:
    CommsClock* clock_;
};
