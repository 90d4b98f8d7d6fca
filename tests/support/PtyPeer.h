#pragma once
// A raw pseudo-terminal peer for tests with real timing: the tool opens
// slavePath() as its serial port; the test plays the unit on the master side,
// answering each request with chunks of bytes at chosen times.

#include "support/Chunk.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <ctime>
#include <functional>
#include <thread>

class QSocketNotifier;

// A raw pair (no echo, no line editing, no CR/LF translation), the master
// non-blocking. False, with the system's reason, when none is left.
bool openRawPty(int& master, int& slave, QString& slavePath, QString& error);
// What a non-blocking descriptor holds now, read out; and bytes written to
// one whole (false when they were not).
QByteArray drainFd(int fd);
bool putFd(int fd, const QByteArray& bytes);

class PtyPeer : public QObject {
    Q_OBJECT
public:
    using Chunk = ::Chunk;
    using Responder = std::function<QVector<Chunk>(const QByteArray& request)>;

    explicit PtyPeer(QObject* parent = nullptr);
    ~PtyPeer() override;

    QString slavePath() const { return slavePath_; }
    // Answers every complete request the tool sends.
    void setResponder(Responder r) { responder_ = std::move(r); }
    bool writeNow(const QByteArray& bytes); // bytes to the tool, at once
    // Bytes to the tool at a moment of the monotonic clock, from a thread of
    // their own: to within a fraction of a millisecond, whatever the tool's
    // event loop is doing. writtenAtNs() is when they went out, -1 until then.
    void writeAt(qint64 monotonicNs, const QByteArray& bytes);
    qint64 writtenAtNs() const { return writtenAt_; }
    static qint64 nowNs(clockid_t clock = CLOCK_MONOTONIC);
    // The other end vanishes ms from now, as a pulled adapter does.
    void closeMasterAfter(int ms);
    QVector<QByteArray> requests() const { return requests_; }

private:
    void onReadable();
    void closeMaster();
    int master_ = -1;
    int keeper_ = -1; // the slave held open so the master never sees a hang-up
    QString slavePath_;
    QSocketNotifier* notifier_ = nullptr;
    Responder responder_;
    QByteArray partial_;
    QVector<QByteArray> requests_;
    quint64 generation_ = 0; // chunks scheduled before the close are dropped
    std::thread writer_;     // joined before the master closes
    std::atomic<qint64> writtenAt_{-1};
};
