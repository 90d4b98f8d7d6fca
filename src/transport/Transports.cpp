#include "transport/Transports.h"

#include "link/SerialPort.h"
#include "transport/ModbusTcpTransport.h"
#include "transport/Retry.h"
#include "transport/RtuOverTcpTransport.h"
#include "transport/RtuTransport.h"

namespace {

// Hands every call to the transport of the line the port's name names, and
// retries its requests by the one rule of transport/Retry.h.
class ChosenTransport : public Transport {
public:
    ChosenTransport(SerialPort& port, const CrcTableArray& crcTable, TransportOptions options)
        : port_(port), crcTable_(crcTable), options_(options), rtu_(port, crcTable) {
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

    QString endpointName() const override { return current().endpointName(); }
    QString lineSpeed() const override { return current().lineSpeed(); }
    bool isOpen() const override { return current().isOpen(); }
    void close() override { current().close(); }
    TransportStatus prepare() override { return current().prepare(); }
    Transaction transact(int unit, const QByteArray& requestPdu, ReplyEnd end) override {
        followPause();
        return transactRetrying(current(), unit, requestPdu, end,
                                options_.line ? options_.line->retries : 0, observer());
    }
    TransportStatus bulkPause() override {
        followPause();
        return current().bulkPause();
    }

private:
    // A gateway's pause is the line's, as a serial port's is.
    void followPause() {
        Transport& line = current(); // first: it may make the network transport
        if (net_ && options_.line && &line == net_.get()) {
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

    // The network transport is made again when the address changes, and when
    // it was closed (the operator left the gateway, then chose it again).
    Transport& current() const {
        const QString name = port_.portName();
        if (!isNetworkAddress(name))
            return const_cast<RtuTransport&>(rtu_);
        if (!net_ || name != netName_ || !net_->isOpen()) {
            const std::optional<Endpoint> e = parseEndpoint(name);
            if (!e)
                return const_cast<RtuTransport&>(rtu_); // refused before it got here
            NetTiming timing;
            if (options_.firstByteMs > 0)
                timing.firstByteMs = options_.firstByteMs;
            net_ = makeNetTransport(*e, crcTable_, timing);
            netName_ = name;
            const_cast<ChosenTransport*>(this)->forward(*net_);
        }
        return *net_;
    }

    SerialPort& port_;
    const CrcTableArray& crcTable_;
    TransportOptions options_;
    RtuTransport rtu_;
    mutable std::unique_ptr<NetTransport> net_;
    mutable QString netName_;
};

} // namespace

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

std::unique_ptr<Transport> makeTransport(SerialPort& port, const CrcTableArray& crcTable,
                                         TransportOptions options) {
    return std::make_unique<ChosenTransport>(port, crcTable, options);
}
