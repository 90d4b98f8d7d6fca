// The decoders of the unit's replies.
#include "link/Frames.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data),
                           static_cast<qsizetype>(std::min<std::size_t>(size, 512)));
    const QString single = decodeSingleRead(bytes);
    const BulkReadText bulk = decodeBulkRead(bytes);
    if (bulk.text.size() > 512 || single.size() > 512)
        __builtin_trap();
    byteDump(bytes);
    return 0;
}
