#pragma once
// A raw pseudo-terminal peer for tests with real timing: the tool opens
// slavePath() as its serial port; the test plays the unit on the master side,
// answering each request with chunks of bytes at chosen times.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <thread>

class QSocketNotifier;

// The length of the Modbus request at the start of buf, or -1 while it is
// still incomplete (or not a request this tool sends).
int modbusRequestLength(const QByteArray& buf);

class PtyPeer : public QObject {
    Q_OBJECT
public:
    struct Chunk {
        int delayMs; // after the previous chunk; the first after the request arrived
        QByteArray bytes;
    };
    using Responder = std::function<QVector<Chunk>(const QByteArray& request)>;

    explicit PtyPeer(QObject* parent = nullptr);
    ~PtyPeer() override;

    bool isOpen() const { return master_ >= 0; }
    QString error() const { return error_; }
    QString slavePath() const { return slavePath_; }

    // Answers every complete request the tool sends.
    void setResponder(Responder r) { responder_ = std::move(r); }
    // Bytes to the tool, now or ms from now (precise timers).
    bool writeNow(const QByteArray& bytes);
    void writeAfter(int ms, const QByteArray& bytes);
    // The other end vanishes, now or ms from now, as a pulled adapter does.
    void closeMaster();
    void closeMasterAfter(int ms);

    QByteArray received() const { return received_; } // every byte the tool wrote
    QVector<QByteArray> requests() const { return requests_; }

signals:
    void requestArrived(const QByteArray& request);

private:
    void onReadable();
    int master_ = -1;
    int keeper_ = -1; // the slave held open so the master never sees a hang-up
    QString slavePath_;
    QString error_;
    QSocketNotifier* notifier_ = nullptr;
    Responder responder_;
    QByteArray received_;
    QByteArray partial_;
    QVector<QByteArray> requests_;
    quint64 generation_ = 0;
};

// Two pseudo-terminals joined back to back by a thread, for peers that open a
// device path themselves (a library's RTU slave): what is written on one
// slave path is read on the other.
class PtyBridge {
public:
    PtyBridge();
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;
    bool isOpen() const { return masterA_ >= 0 && masterB_ >= 0; }
    QString error() const { return error_; }
    QString pathA() const { return pathA_; }
    QString pathB() const { return pathB_; }

private:
    void run();
    int masterA_ = -1, masterB_ = -1, keeperA_ = -1, keeperB_ = -1;
    int wake_[2] = {-1, -1};
    QString pathA_, pathB_, error_;
    std::thread thread_;
};
