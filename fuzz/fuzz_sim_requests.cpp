// The simulated unit's readers of outside input: request frames off the line
// and message-table files.
#include "sim/SimModel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// A reply is nothing, or one whole frame from this unit (address 1): at least
// an exception's 5 bytes, at most a 125-register read's 255, with a valid CRC.
void checkReply(const QByteArray& reply) {
    if (!reply.isEmpty() &&
        (reply.size() < 5 || reply.size() > 255 || reply[0] != 1 || !SimModel::crcValid(reply)))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1,
                           static_cast<qsizetype>(std::min<std::size_t>(size - 1, 4096)));
    SimModel model(1, (data[0] & 1) != 0);
    // Random bytes seldom end in a valid CRC: the same bytes with one reach
    // the register code.
    checkReply(model.reply(bytes));
    checkReply(model.reply(SimModel::withCrc(bytes)));

    if (model.loadSavData(bytes) > SimModel::kSlots)
        __builtin_trap();
    for (int k = 0; k < SimModel::kSlots; ++k) {
        const QByteArray text = model.message(k);
        if (text.size() > SimModel::kSlotBytes || text.contains('\0'))
            __builtin_trap();
    }
    // Whatever the file held, slot 0 reads back as the unit stores it.
    const QByteArray slot0 = model.reply(QByteArray::fromHex("0103019000144414"));
    checkReply(slot0);
    if (slot0.size() != 45 || !slot0.mid(3).startsWith(model.message(0)))
        __builtin_trap();
    return 0;
}
