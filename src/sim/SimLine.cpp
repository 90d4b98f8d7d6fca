#include "sim/SimLine.h"

#include <algorithm>

SimLine::SimLine() {
    owned_.push_back(std::make_unique<SimModel>(kFirstAddress));
    units_.push_back(owned_.back().get());
}

SimLine::SimLine(SimModel& only) {
    units_.push_back(&only);
}

void SimLine::setUnits(int first, int last) {
    SimModel* const head = units_.front();
    units_.resize(1);
    owned_.erase(std::remove_if(owned_.begin(), owned_.end(),
                                [head](const auto& u) { return u.get() != head; }),
                 owned_.end());
    head->setUnit(first);
    for (int address = first + 1; address <= last; ++address) {
        owned_.push_back(std::make_unique<SimModel>(address, head->clearSlotOnWrite()));
        units_.push_back(owned_.back().get());
    }
}

SimModel* SimLine::unit(int address) {
    for (SimModel* u : units_)
        if (u->unit() == address)
            return u;
    return nullptr;
}

void SimLine::setClearSlotOnWrite(bool on) {
    for (const auto& u : units_)
        u->setClearSlotOnWrite(on);
}

void SimLine::setSingleMessageReads(bool on) {
    for (const auto& u : units_)
        u->setSingleMessageReads(on);
}

QByteArray SimLine::reply(const QByteArray& request) {
    if (request.isEmpty())
        return {};
    const int address = quint8(request[0]);
    if (address != 0) {
        SimModel* addressed = unit(address);
        return addressed ? addressed->reply(request) : QByteArray();
    }
    for (const auto& u : units_) // each carries the broadcast out; none answers
        u->reply(request);
    return {};
}
