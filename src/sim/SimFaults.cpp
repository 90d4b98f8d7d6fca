#include "sim/SimFaults.h"

#include "sim/SimModel.h"

QString SimFaultCounts::text() const {
    return QStringLiteral("crc-errors %1, other-address %2, collisions %3, noise-bytes %4, "
                          "foreign-requests %5, dropped %6, late %7")
        .arg(crcErrors)
        .arg(otherAddress)
        .arg(collisions)
        .arg(noiseBytes)
        .arg(foreignRequests)
        .arg(dropped)
        .arg(late);
}

void SimFaults::configure(const SimFaultConfig& config) {
    config_ = config;
    counts_ = {};
    random_.seed(config.seed != 0 ? config.seed : QRandomGenerator::global()->generate());
}

QByteArray SimFaults::shape(QByteArray reply) {
    if (reply.size() < 3)
        return reply;
    if (chance(config_.dropPercent)) {
        ++counts_.dropped;
        return {};
    }
    if (config_.replyAs > 0 && quint8(reply.at(0)) != config_.replyAs) {
        reply[0] = char(config_.replyAs);
        reply = SimModel::withCrc(reply.left(reply.size() - 2));
        ++counts_.otherAddress;
    }
    if (config_.twin) {
        // The twin holds other texts: its data bytes differ, its header not.
        QByteArray twin = reply.left(reply.size() - 2);
        for (qsizetype i = 3; i < twin.size(); ++i)
            twin[i] = char(twin.at(i) ^ 0x5A);
        twin = SimModel::withCrc(twin);
        QByteArray line = reply;
        for (qsizetype i = 0; i < line.size(); ++i)
            line[i] = char(reply.at(i) & twin.at(i));
        if (line != reply) {
            ++counts_.collisions;
            reply = line;
        }
    }
    if (chance(config_.crcErrorPercent)) {
        const auto at = qsizetype(random_.bounded(int(reply.size())));
        reply[at] = char(reply.at(at) ^ (1 << random_.bounded(8)));
        ++counts_.crcErrors;
    }
    return reply;
}

QByteArray SimFaults::idleBytes() {
    QByteArray bytes;
    for (int i = 0; i < config_.noiseBytes; ++i)
        bytes.append(char(random_.bounded(256)));
    counts_.noiseBytes += config_.noiseBytes;
    if (config_.secondMaster) {
        // Its read of one register at 0 from a unit of its own.
        const char request[] = {char(kSecondMasterTarget), 3, 0, 0, 0, 1};
        bytes += SimModel::withCrc(QByteArray(request, sizeof request));
        ++counts_.foreignRequests;
    }
    return bytes;
}
