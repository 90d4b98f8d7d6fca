#pragma once
// The traffic log: one line per frame the transport sends or receives, with
// its time to the millisecond, its direction, its bytes in hex and what they
// say (unit, function, registers, and for a reply its verdict), so that a
// support engineer can read it. It keeps the last lines for the support
// report, or every line for --trace-file.

#include <QByteArray>
#include <QObject>
#include <QStringList>

class Transport;

// What one RTU frame says: "unit 1, read 20 registers from 400", or for a
// reply to a request to unit asked: "unit 1, 40 bytes of registers, CRC ok".
QString describeRequest(const QByteArray& frame);
QString describeReply(const QByteArray& frame, int asked);

class TrafficLog : public QObject {
    Q_OBJECT
public:
    // keep: how many of the last lines are kept; 0: all of them.
    explicit TrafficLog(Transport& transport, int keep = 200, QObject* parent = nullptr);
    QStringList lines() const { return lines_; }
    // Every line as one text, each ended by a line feed.
    QByteArray text() const;

private:
    void add(const QString& direction, const QByteArray& frame, const QString& meaning);
    QStringList lines_;
    int keep_;
    int asked_ = -1; // the unit of the last request
};
