// CRC-16.TBL: any text either loads the Modbus table or is refused with a
// reason, and a refused text leaves the table the tool holds as it was.
#include "Require.h"
#include "link/Crc.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CrcTableArray table{};
    table.fill(0x5A5A);
    const CrcTableArray before = table;
    if (const auto err = parseCrcTable(bytes, table))
        require(table == before && !err->problem.isEmpty());
    else
        require(table == standardCrcTable());

    // A field is at most four characters on the file, but the rule takes any.
    require(!std::isnan(numericPrefix(bytes.left(24))));
    return 0;
}
