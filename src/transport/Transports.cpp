#include "transport/Transports.h"

#include "link/SerialPort.h"
#include "startup/DataFolder.h"
#include "startup/TextFile.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/Retry.h"
#include "transport/RtuOverTcpTransport.h"
#include "transport/RtuTransport.h"

#include <QDir>
#include <QFileInfo>
#include <map>

namespace {

// Hands every call to the transport of the line the chosen endpoint names,
// and retries its requests by the one rule of transport/Retry.h.
class ChosenTransport final : public LineTransport {
public:
    ChosenTransport(SerialPort& port, const CrcTableArray& crcTable, TransportOptions options)
        : crcTable_(crcTable), options_(options), rtu_(port, crcTable) {
        rtu_.followLine(options.line);
        if (options.firstByteMs > 0) {
            LinkTiming timing = rtu_.timing();
            timing.firstByteMs = options.firstByteMs;
            rtu_.setTiming(timing);
        }
        forward(rtu_);
        connect(this, &Transport::stopRequested, this, [this] {
            rtu_.requestStop();
            if (net_)
                net_->requestStop();
        });
    }

    void choose(const Endpoint& endpoint) override {
        chosen_ = endpoint;
        if (!endpoint.network()) {
            net_.reset(); // leaving a gateway closes its connection
            return;
        }
        if (net_ && net_->isOpen() && sameGateway(net_->endpoint(), endpoint))
            return;
        NetTiming timing;
        if (options_.firstByteMs > 0)
            timing.firstByteMs = options_.firstByteMs;
        net_ = makeNetTransport(endpoint, crcTable_, timing);
        forward(*net_);
    }
    const Endpoint& chosen() const override { return chosen_; }

    QString endpointName() const override { return current().endpointName(); }
    QString lineSpeed() const override { return current().lineSpeed(); }
    bool isOpen() const override { return current().isOpen(); }
    void close() override { current().close(); }
    TransportStatus prepare() override { return current().prepare(); }
    Transaction exchange(int unit, const QByteArray& requestPdu, ReplyEnd end) override {
        followPause();
        Transport& line = current();
        ReplyOrder& order = orderOf(line);
        const QByteArray before = order.save(replyOrderClock());
        const Transaction t =
            transactRetrying(line, unit, requestPdu, end,
                             options_.line ? options_.line->retries : 0, &order, observer());
        keep(line, order, before);
        return t;
    }
    Overheard overhear(int ms) override { return current().overhear(ms); }
    bool repliesNameTheirRequest() const override { return current().repliesNameTheirRequest(); }
    TransportStatus bulkPause() override {
        followPause();
        return current().bulkPause();
    }

private:
    // The order of the line now chosen, made (and read from the state file)
    // the first time that line is used.
    ReplyOrder& orderOf(Transport& line) {
        const QString name = line.endpointName();
        auto it = orders_.find(name);
        if (it != orders_.end())
            return it->second;
        const bool net = &line != &rtu_;
        const int quietMs = net ? net_->timing().firstByteMs : rtu_.timing().firstByteMs;
        const int gapMs = net ? net_->timing().replyGapMs : rtu_.timing().replyGapMs;
        ReplyOrder& order = orders_.emplace(name, ReplyOrder(quietMs, gapMs)).first->second;
        const QByteArray saved = readLineState().value(name);
        if (!saved.isEmpty())
            order.restore(saved, replyOrderClock());
        return order;
    }

    // Notes what the line owes for the next run, when that changed.
    void keep(Transport& line, const ReplyOrder& order, const QByteArray& before) {
        if (options_.lineStateFile.isEmpty())
            return;
        const QByteArray now = order.save(replyOrderClock());
        if (now == before)
            return;
        QMap<QString, QByteArray> all = readLineState();
        all[line.endpointName()] = now;
        QByteArray out;
        for (auto it = all.cbegin(); it != all.cend(); ++it)
            if (it.value().contains("owed "))
                out += "line " + it.key().toUtf8().toHex() + '\n' + it.value();
        QDir().mkpath(QFileInfo(options_.lineStateFile).absolutePath());
        // Only a note: a run that cannot keep it still keeps its own order.
        [[maybe_unused]] const auto problem = writeWholeFile(options_.lineStateFile, out);
    }

    // The state file's lines, per line name; nothing when it cannot be read.
    QMap<QString, QByteArray> readLineState() const {
        QMap<QString, QByteArray> all;
        if (options_.lineStateFile.isEmpty())
            return all;
        QByteArray data;
        if (readBoundedFile(options_.lineStateFile, kMaxLineStateBytes, "line state", data))
            return all;
        QString name;
        for (const QByteArray& l : data.split('\n')) {
            if (l.startsWith("line "))
                name = QString::fromUtf8(QByteArray::fromHex(l.mid(5)));
            else if (!name.isEmpty() && !l.isEmpty())
                all[name] += l + '\n';
        }
        return all;
    }
    static constexpr qint64 kMaxLineStateBytes = 64 * 1024;

    // A gateway's pause is the line's, as a serial port's is.
    void followPause() {
        if (net_ && options_.line) {
            NetTiming timing = net_->timing();
            timing.bulkPauseMs = options_.line->pauseMs;
            net_->setTiming(timing);
        }
    }

    void forward(Transport& t) {
        connect(&t, &Transport::frameSent, this, &Transport::frameSent);
        connect(&t, &Transport::frameReceived, this, &Transport::frameReceived);
        connect(&t, &Transport::failed, this, &Transport::failed);
        connect(&t, &Transport::traceNote, this, &Transport::traceNote);
        connect(&t, &Transport::sending, this, &Transport::sending);
        connect(&t, &Transport::receiving, this, &Transport::receiving);
        connect(&t, &Transport::notice, this, &Transport::notice);
    }

    static bool sameGateway(const Endpoint& a, const Endpoint& b) {
        return a.kind == b.kind && a.host == b.host && a.port == b.port;
    }

    Transport& current() { return net_ ? static_cast<Transport&>(*net_) : rtu_; }
    const Transport& current() const { return net_ ? static_cast<const Transport&>(*net_) : rtu_; }

    const CrcTableArray& crcTable_;
    TransportOptions options_;
    RtuTransport rtu_;
    Endpoint chosen_;                   // serial until a gateway is chosen
    std::unique_ptr<NetTransport> net_; // exactly when a gateway is chosen
    std::map<QString, ReplyOrder> orders_;
};

} // namespace

QString defaultLineStateFile() {
    return userDataFile(QStringLiteral("line-state.txt"));
}

std::unique_ptr<NetTransport> makeNetTransport(const Endpoint& endpoint,
                                               const CrcTableArray& crcTable, NetTiming timing) {
    switch (endpoint.kind) {
    case Endpoint::Kind::ModbusTcp:
        return std::make_unique<ModbusTcpTransport>(endpoint, timing);
    case Endpoint::Kind::RtuOverTcp:
        return std::make_unique<RtuOverTcpTransport>(endpoint, crcTable, timing);
    case Endpoint::Kind::Serial:
        break;
    }
    return nullptr;
}

std::unique_ptr<LineTransport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                             TransportOptions options) {
    return std::make_unique<ChosenTransport>(port, crcTable, options);
}
