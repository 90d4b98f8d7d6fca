#pragma once
// An in-memory SerialPort for fast tests: you tell it what the unit answers
// and when. Each request is the bytes written since the last drainOutput();
// the responder turns it into chunks delivered on Qt::PreciseTimer timers.

#include "link/SerialPort.h"
#include "support/Chunk.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>
#include <functional>

class ScriptedPort : public SerialPort {
    Q_OBJECT
public:
    using Chunk = ::Chunk;
    using Responder = std::function<QVector<Chunk>(const QByteArray& request)>;

    explicit ScriptedPort(QObject* parent = nullptr) : SerialPort(parent) {}

    void setResponder(Responder r) { responder_ = std::move(r); }
    void answerEveryRequest(const QByteArray& reply, int delayMs = 1); // same reply each time
    void staysilent() { responder_ = nullptr; }                        // never answers

    void injectInput(const QByteArray& bytes); // bytes arrive now (emits readyRead)
    void failNow(const QString& reason);       // the device vanishes: closes, emits failed
    void setOpenResult(PortStatus s) { openResult_ = s; }
    void failDrain(bool on = true) { drainFails_ = on; } // open, but the output does not drain

    // What the link did: one entry per drained request, and everything in order
    // ("rts on", "write 8", "drain", "rts off", "discard", "input 45", "failed").
    QVector<QByteArray> requests() const { return requests_; }
    QStringList log() const { return log_; }

    // SerialPort
    QString portName() const override { return name_; }
    void setPortName(const QString& name) override { name_ = name; }
    PortStatus open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    PortStatus setSettings(const LineSettings& s) override;
    LineSettings settings() const override { return settings_; }
    bool setRts(bool on) override;
    bool drainOutput() override;
    qint64 inputCount() const override { return input_.size(); }
    void discardInput() override;
    int readByte() override;
    bool write(const QByteArray& bytes) override;

protected:
    // Bytes the port has taken in without saying so (readyRead not emitted).
    void takeInSilently(const QByteArray& bytes) { input_.append(bytes); }

private:
    Responder responder_;
    QString name_ = QStringLiteral("scripted");
    LineSettings settings_;
    PortStatus openResult_;
    bool open_ = true;
    bool drainFails_ = false;
    QByteArray pending_; // written, not yet drained
    QByteArray input_;
    QVector<QByteArray> requests_;
    QStringList log_;
    quint64 generation_ = 0; // chunks scheduled before a close are dropped
};
