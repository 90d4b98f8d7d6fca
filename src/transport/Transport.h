#pragma once
// The transport: sends one request PDU to one unit and gives back its reply
// PDU, with the raw bytes sent and received (for the comms test and the
// command line's trace) or a precise failure. The clients (the bulk
// operations, the editor, the comms test, the command line) talk only to this
// and to the PDU layer; how the request travels is the implementation's.
// One transaction at a time: a request made while another is under way is
// refused as Busy, never nested.

#include <QByteArray>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVector>

enum class TransportStatus {
    Ok,
    Busy,    // another transaction is in progress; nothing was done
    NotOpen, // the line is not open
    Failed,  // the line failed or vanished; it is now closed
    Stopped, // requestStop() ended the wait: the request counts as not done
};

// How the reply arrived, before its PDU is judged.
enum class Framing {
    Silent,    // nothing came
    Garbled,   // too short, or its check sum is wrong
    OtherUnit, // whole, but from another unit address (otherUnit)
    Whole,     // whole, from the unit asked
    Untimely,  // whole, but it may be the late answer to an earlier request
};

// A reply to one of the tool's own requests, judged as a Modbus master judges
// it. Only a whole reply from the addressed unit confirms anything: a garbled
// reply, one from another unit, or an exception must never reach the message
// table or be told to the operator as a success. A gateway's exceptions 10
// (path unavailable) and 11 (target device failed to respond) are its way of
// saying that no answer came: they count as Silent, detail the code.
struct ReplyCheck {
    enum class Verdict { Confirmed, Silent, Garbled, OtherUnit, Exception, Unexpected };
    Verdict verdict = Verdict::Silent;
    int detail = 0;        // the other unit's address, the exception code (the gateway's,
                           // for Silent), or for a garbled reply 1 when it has no CRC
    int length = 0;        // of the reply on the wire
    bool noEcho = false;   // Silent because not even the line's echo came
    int deadlineMs = 0;    // Garbled because the reply was cut off at this deadline
    bool untimely = false; // Garbled because it may answer an earlier request
    bool confirmed() const { return verdict == Verdict::Confirmed; }
    // For the operator: "a garbled reply of 45 bytes (its CRC is wrong)".
    QString reason() const;
};

struct Transaction {
    TransportStatus status = TransportStatus::Ok;
    QByteArray sent;     // as on the wire
    QByteArray received; // as on the wire, whatever came
    Framing framing = Framing::Silent;
    int otherUnit = 0;
    bool checkSummed = true; // false for Modbus TCP, whose frames carry no CRC
    // The PDU the reply carries; judge it only when the framing is Whole.
    // Whatever came is here too, for the comms test that shows it unjudged.
    QByteArray replyPdu;
    QString error;       // the line's reason, for Busy, NotOpen, Failed and Stopped
    bool noEcho = false; // an echo was expected and nothing came
    // Bytes that were waiting when the request went, and so were dropped
    // unread as an answer: a late reply, noise.
    QByteArray stale;
    // The longest the reply could take (transport/Deadline.h), and whether
    // it was cut off there: such a reply is never the unit's answer.
    int deadlineMs = 0;
    bool pastDeadline = false;
    bool echoed = false; // the line's echo of the request came first, and was dropped
    // When the reply's first and last bytes came, in ms from the end of the
    // request on the line; -1 when none came or the line does not tell.
    int firstByteMs = -1;
    int lastByteMs = -1;
    // The verdict on the reply, made once as the transport that made the transaction hands
    // it out (checkReply below); a transport over another passes it on, and the clients read
    // it and never judge the bytes themselves.
    ReplyCheck check;
    bool judged = false;
    bool ok() const { return status == TransportStatus::Ok; }
};

// Told of every request that went out and what came back, each try (the
// retries too, transport/Retry.h) whatever the operation: the line's counters
// (diag/) and the traffic log are such observers.
class TransactionObserver {
public:
    virtual ~TransactionObserver() = default;
    // retry: 0 for the first try of requestPdu, n for its n-th retry.
    virtual void transactionDone(int unit, const QByteArray& requestPdu, const Transaction& t,
                                 int retry) = 0;
    // Bytes that came while nothing was asked, over listenedMs, and were dropped.
    virtual void idleBytes(const QByteArray& bytes, qint64 listenedMs) {
        Q_UNUSED(bytes)
        Q_UNUSED(listenedMs)
    }
};

// When a reply ends. The comms test's write and erase end theirs sooner.
enum class ReplyEnd { Normal, Quick };

// What came while nothing was asked: dropped, never taken as an answer.
struct Overheard {
    TransportStatus status = TransportStatus::Ok;
    QByteArray bytes;    // what came (the first few thousand of them)
    int count = 0;       // how many came
    qint64 firstMs = -1; // when the first and the last came, counted from the call
    qint64 lastMs = -1;
};

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Transport() override = default;

    // The line's name for the operator: a port name, or empty when none is chosen.
    virtual QString endpointName() const = 0;
    // The serial line's speed, "9600"; empty where it is not known (through
    // a gateway, whose serial side is its own setting).
    virtual QString lineSpeed() const { return {}; }
    virtual bool isOpen() const = 0;
    virtual void close() = 0;

    // A bulk operation or a single request holds the transport for its run.
    // Claims it; false (and nothing changes) when it is already claimed.
    bool claim();
    void release();
    bool busy() const { return claimed_; }

    // Who is told of each request and its reply (nothing: nobody); it must
    // outlive the transport or be taken off first.
    void setObserver(TransactionObserver* observer) { observer_ = observer; }
    TransactionObserver* observer() const { return observer_; }

    // Readies the line before an operation (a serial line stops sending).
    virtual TransportStatus prepare() = 0;
    // One request to unit and its reply, judged (Transaction::check); pending input is
    // dropped first. The reply is over by its deadline at the latest (Transaction::deadlineMs).
    Transaction transact(int unit, const QByteArray& requestPdu, ReplyEnd end = ReplyEnd::Normal);
    // The pause a bulk operation leaves before each request, windows
    // responsive; Failed when the line dies meanwhile. Its length is the
    // line's (300 ms on a serial line); tests shorten it.
    virtual TransportStatus bulkPause() = 0;
    // Listens for ms without asking anything, dropping and counting what
    // comes; ends sooner only when stopped or when the line fails.
    virtual Overheard overhear(int ms) = 0;
    // True where a reply names the request it answers (Modbus TCP's
    // transaction id), so that a late one can never pass for another's.
    virtual bool repliesNameTheirRequest() const { return false; }

    // Ends the wait under way (for a reply, a pause or a connection) within a
    // few milliseconds; that call comes back Stopped. A request frame already
    // going out is sent whole first; its reply is not awaited, so the request
    // counts as not done. A stop asked for while nothing waits does nothing:
    // the clients keep their own stop between requests.
    void requestStop() { emit stopRequested(); }

protected:
    // The request's way to the unit and back, its reply not yet judged.
    virtual Transaction exchange(int unit, const QByteArray& requestPdu, ReplyEnd end) = 0;

signals:
    void busyChanged(bool busy);
    void frameSent(const QByteArray& bytes);     // for --trace and the dumps
    void frameReceived(const QByteArray& bytes); // a whole reply, when any came
    void failed(const QString& reason);
    void traceNote(const QString& text); // e.g. "RTS not switchable on ..."
    void sending(bool on);               // the sending indicator
    void receiving(bool on);             // the receiving indicator
    // Something the operator must read, said once: e.g. a line setting the
    // port cannot follow, and what the line does instead.
    void notice(const QString& text);
    // requestStop() was called; the transports end their waits on it.
    void stopRequested();

private:
    bool claimed_ = false;
    TransactionObserver* observer_ = nullptr;
};

// Holds the transport for a scope; check ok() before use.
class TransportClaim {
public:
    explicit TransportClaim(Transport& t) : transport_(t), ok_(t.claim()) {}
    ~TransportClaim() {
        if (ok_)
            transport_.release();
    }
    TransportClaim(const TransportClaim&) = delete;
    TransportClaim& operator=(const TransportClaim&) = delete;
    bool ok() const { return ok_; }

private:
    Transport& transport_;
    bool ok_;
};

ReplyCheck checkReply(const Transaction& t, const QByteArray& requestPdu);

// The exceptions a gateway answers with when the unit behind it cannot be reached.
constexpr int kGatewayPathUnavailable = 0x0A;
constexpr int kGatewayTargetSilent = 0x0B;
bool isGatewayNoAnswer(int exceptionCode);

// Remembers the reason the line gave when it failed, for as long as it lives.
class FailureWatch {
public:
    explicit FailureWatch(Transport& transport);
    ~FailureWatch();
    FailureWatch(const FailureWatch&) = delete;
    FailureWatch& operator=(const FailureWatch&) = delete;
    // The reason, or a plain one for the status when the line gave none; for
    // Stopped always "the request was stopped".
    QString reason(TransportStatus status) const;

private:
    QMetaObject::Connection connection_;
    QString reason_;
};
