#pragma once
// The units on one simulated RS-485 line, or behind one gateway: each a
// SimModel of its own, with its own address and registers. A request goes to
// the unit it addresses; a write to address 0 (the broadcast) to every unit,
// and none answers; an address no unit has stays silent, as on a real line.
//
// A line starts as one unit at address 1 (its own, or a model it is lent,
// which must outlive it). setUnits() makes it the units first..last. The set of units is fixed
// while the line is served (set it before SimUnit::start or SimNetServer::listen); each unit locks
// itself, so messages may be read and set at any time.

#include "sim/SimModel.h"

#include <QByteArray>
#include <memory>
#include <vector>

class SimLine {
public:
    static constexpr int kFirstAddress = 1;
    static constexpr int kLastAddress = 247;

    SimLine();
    explicit SimLine(SimModel& only);
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The units first..last (kFirstAddress..kLastAddress, first <= last): the
    // first unit stays the object model() gives, with its messages; the
    // others start with every register 0.
    void setUnits(int first, int last);
    int unitCount() const { return int(units_.size()); }

    // The first unit: the only one on a line of one.
    SimModel& model() { return *units_.front(); }
    // The unit at address, or nullptr when no unit has it.
    SimModel* unit(int address);

    // Every unit's register map, as SimModel's.
    void setClearSlotOnWrite(bool on);
    void setSingleMessageReads(bool on);

    // The reply to one request frame on the line; empty when no unit answers.
    QByteArray reply(const QByteArray& request);

private:
    std::vector<SimModel*> units_; // by address, the first unit first
    std::vector<std::unique_ptr<SimModel>> owned_;
};
