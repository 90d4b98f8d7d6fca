// The item reader and the readers of filedata.fm and Defaults.txt.
#include "startup/CodePage.h"
#include "startup/ItemReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    ItemReader reader(bytes);
    qsizetype total = 0;
    while (auto item = reader.next()) {
        total += item->size() + 1;
        if (CodePage::encode(CodePage::decode(*item)).bytes != *item)
            __builtin_trap(); // every byte must round-trip
    }
    if (total > bytes.size() + 1)
        __builtin_trap(); // items never invent bytes
    return 0;
}
