#pragma once
// The unit for tests that play it on a scripted port or a pseudo-terminal:
// the simulated unit's model answers each request as the unit does. Per slot
// it may stay silent, or have its reply spoilt on the way.

#include "sim/SimModel.h"
#include "support/Chunk.h"

#include <QVector>
#include <functional>

class FakeUnit {
public:
    explicit FakeUnit(int unit = 1) : model(unit) {}

    // Every slot k holds pattern with %1 standing for k ("STORED %1").
    void fill(const QString& pattern);
    // The chunks that answer request: none when its slot is silent.
    QVector<Chunk> answer(const QByteArray& request);
    // The message slot a request frame addresses.
    static int slotOf(const QByteArray& request);
    // frame with its CRC-16, as the unit would send it.
    static QByteArray framed(const QByteArray& frame) { return SimModel::withCrc(frame); }

    SimModel model;
    QVector<int> silent;      // slots that answer nothing
    QVector<int> silentReads; // slots that answer writes only
    QVector<int> unstored;    // slots that confirm a write and keep their old text
    int delayMs = 1;
    // Changes a slot's reply on the way; nullptr: every reply as the model gives it.
    std::function<QByteArray(int slot, const QByteArray& reply, const QByteArray& request)> spoil;
    std::function<void(const QByteArray& request)> onRequest;
};
