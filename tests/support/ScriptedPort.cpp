#include "support/ScriptedPort.h"

#include <QTimer>

ScriptedPort::ScriptedPort(QObject* parent) : SerialPort(parent) {}

void ScriptedPort::answerEveryRequest(const QByteArray& reply, int delayMs) {
    responder_ = [reply, delayMs](const QByteArray&) { return QVector<Chunk>{{delayMs, reply}}; };
}

void ScriptedPort::staysilent() {
    responder_ = [](const QByteArray&) { return QVector<Chunk>{}; };
}

void ScriptedPort::injectInput(const QByteArray& bytes) {
    if (!open_ || bytes.isEmpty())
        return;
    input_.append(bytes);
    log_.append(QStringLiteral("input %1").arg(bytes.size()));
    emit readyRead();
}

void ScriptedPort::failNow(const QString& reason) {
    if (!open_)
        return;
    close();
    log_.append(QStringLiteral("failed"));
    emit failed(reason);
}

PortStatus ScriptedPort::open() {
    if (openResult_.ok)
        open_ = true;
    return openResult_;
}

void ScriptedPort::close() {
    open_ = false;
    ++generation_;
    pending_.clear();
    input_.clear();
}

PortStatus ScriptedPort::setSettings(const QString& s) {
    if (!s.isEmpty())
        settings_ = s;
    return {};
}

bool ScriptedPort::setRts(bool on) {
    rts_.append(on);
    log_.append(on ? QStringLiteral("rts on") : QStringLiteral("rts off"));
    if (!on && !pending_.isEmpty())
        rtsDroppedEarly_ = true;
    return rtsSwitchable_;
}

bool ScriptedPort::drainOutput() {
    if (!open_)
        return false;
    log_.append(QStringLiteral("drain"));
    if (pending_.isEmpty())
        return true;
    const QByteArray request = pending_;
    pending_.clear();
    requests_.append(request);
    if (responder_)
        deliver(responder_(request));
    return true;
}

void ScriptedPort::discardInput() {
    input_.clear();
    ++discards_;
    log_.append(QStringLiteral("discard"));
}

int ScriptedPort::readByte() {
    if (input_.isEmpty())
        return -1;
    const auto b = static_cast<unsigned char>(input_.at(0));
    input_.remove(0, 1);
    return b;
}

bool ScriptedPort::write(const QByteArray& bytes) {
    if (!open_)
        return false;
    pending_.append(bytes);
    log_.append(QStringLiteral("write %1").arg(bytes.size()));
    return true;
}

void ScriptedPort::deliver(const QVector<Chunk>& chunks) {
    // Delays add up: each chunk is timed from the one before it.
    int at = 0;
    const quint64 generation = generation_;
    for (const Chunk& c : chunks) {
        at += c.delayMs;
        QTimer::singleShot(at, Qt::PreciseTimer, this, [this, generation, bytes = c.bytes] {
            if (generation == generation_)
                injectInput(bytes);
        });
    }
}
