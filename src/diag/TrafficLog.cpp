#include "diag/TrafficLog.h"

#include "link/Crc.h"
#include "modbus/Pdu.h"
#include "transport/Transport.h"

#include <QDateTime>

namespace {

bool crcOk(const QByteArray& frame) {
    static const CrcTableArray table = standardCrcTable();
    if (frame.size() < 4)
        return false;
    const auto [first, second] = frameCrc(table, frame.left(frame.size() - 2));
    return quint8(frame.at(frame.size() - 2)) == first &&
           quint8(frame.at(frame.size() - 1)) == second;
}

int word(const QByteArray& f, int at) {
    return quint8(f.at(at)) << 8 | quint8(f.at(at + 1));
}

} // namespace

QString describeRequest(const QByteArray& f) {
    if (f.size() < 4)
        return QStringLiteral("%1 bytes, too short for a request").arg(f.size());
    const QString crc = crcOk(f) ? QStringLiteral("CRC ok") : QStringLiteral("CRC wrong");
    const int unit = quint8(f.at(0));
    const int function = quint8(f.at(1));
    if (function == Pdu::kReadHoldingRegisters && f.size() == 8)
        return QStringLiteral("unit %1, read %2 registers from %3, %4")
            .arg(unit)
            .arg(word(f, 4))
            .arg(word(f, 2))
            .arg(crc);
    if (function == Pdu::kWriteMultipleRegisters && f.size() >= 9)
        return QStringLiteral("unit %1, write %2 registers from %3, %4")
            .arg(unit)
            .arg(word(f, 4))
            .arg(word(f, 2))
            .arg(crc);
    return QStringLiteral("unit %1, function %2, %3").arg(unit).arg(function).arg(crc);
}

QString describeReply(const QByteArray& f, int asked) {
    if (f.size() < 5)
        return QStringLiteral("%1 bytes, too short for a reply").arg(f.size());
    const int unit = quint8(f.at(0));
    const int function = quint8(f.at(1));
    QString what;
    if ((function & Pdu::kExceptionFlag) != 0)
        what = QStringLiteral("exception %1 (%2)")
                   .arg(quint8(f.at(2)))
                   .arg(Pdu::exceptionName(quint8(f.at(2))));
    else if (function == Pdu::kReadHoldingRegisters)
        what = QStringLiteral("%1 bytes of registers").arg(quint8(f.at(2)));
    else if (function == Pdu::kWriteMultipleRegisters && f.size() >= 8)
        what = QStringLiteral("wrote %1 registers from %2").arg(word(f, 4)).arg(word(f, 2));
    else
        what = QStringLiteral("function %1").arg(function);
    QString verdict = crcOk(f) ? QStringLiteral("CRC ok") : QStringLiteral("CRC wrong");
    if (crcOk(f) && asked >= 0 && unit != asked)
        verdict += QStringLiteral(", from another unit than %1").arg(asked);
    return QStringLiteral("unit %1, %2, %3").arg(unit).arg(what, verdict);
}

TrafficLog::TrafficLog(Transport& transport, int keep, QObject* parent)
    : QObject(parent), keep_(keep) {
    connect(&transport, &Transport::frameSent, this, [this](const QByteArray& f) {
        asked_ = f.isEmpty() ? -1 : quint8(f.at(0));
        add(QStringLiteral("TX"), f, describeRequest(f));
    });
    connect(&transport, &Transport::frameReceived, this, [this](const QByteArray& f) {
        add(QStringLiteral("RX"), f, describeReply(f, asked_));
    });
}

void TrafficLog::add(const QString& direction, const QByteArray& frame, const QString& meaning) {
    const QString time =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    lines_ << QStringLiteral("%1 %2%3  | %4").arg(time, direction, byteDump(frame), meaning);
    if (keep_ > 0 && lines_.size() > keep_)
        lines_.removeFirst();
}

QByteArray TrafficLog::text() const {
    QByteArray all;
    for (const QString& line : lines_)
        all += line.toUtf8() + '\n';
    return all;
}
