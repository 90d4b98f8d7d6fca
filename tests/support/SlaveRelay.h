#pragma once
// Between the tool and an independent slave (libmodbus), on pseudo-terminals: the tool's bytes go
// on to the slave at once (and back to the tool as well, when the relay echoes); each reply of the
// slave, gathered whole (3 ms of silence after it), goes on through change (none: as it came),
// lateMs later, as a mangling line or a slow unit or gateway would pass it.

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class SlaveRelay : public QObject {
public:
    using Change = std::function<QByteArray(const QByteArray& reply)>;
    explicit SlaveRelay(const QString& slavePath, Change change = {}, int lateMs = 0,
                        bool echo = false);
    ~SlaveRelay() override; // a QObject: never copied

    QString toolPath() const { return toolPath_; } // the tool's serial port

private:
    Change change_;
    int lateMs_;
    bool echo_;
    int tool_ = -1, keep_ = -1, slave_ = -1;
    QString toolPath_;
    QTimer whole_;
    QByteArray reply_;
};
