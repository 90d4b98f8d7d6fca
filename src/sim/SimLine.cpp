#include "sim/SimLine.h"

SimLine::SimLine() {
    units_.push_back(std::make_unique<SimModel>(kFirstAddress));
}

void SimLine::setUnits(int first, int last) {
    units_.resize(1);
    units_.front()->setUnit(first);
    for (int address = first + 1; address <= last; ++address)
        units_.push_back(std::make_unique<SimModel>(address, units_.front()->bareRegisters()));
}

SimModel* SimLine::unit(int address) {
    for (const auto& u : units_)
        if (u->unit() == address)
            return u.get();
    return nullptr;
}

void SimLine::setBareRegisters(bool bare) {
    for (const auto& u : units_)
        u->setBareRegisters(bare);
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
