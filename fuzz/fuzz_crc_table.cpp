// CRC-16.TBL: any text either loads the Modbus table or is refused.
#include "link/Crc.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CrcTableArray table{};
    if (!parseCrcTable(bytes, table) && table != standardCrcTable())
        __builtin_trap();
    numericPrefix(bytes.left(8));
    return 0;
}
