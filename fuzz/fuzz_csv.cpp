// The CSV table reader: any bytes either fill all twenty slots with messages
// a unit can hold, or are refused with a reason and change nothing; and what
// it reads, written again, reads back the same.
#include "Require.h"
#include "startup/UnitText.h"
#include "table/CsvTable.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    TextTable defaults, table;
    for (int k = 0; k < kInterlockCount; ++k) {
        defaults[size_t(k)] = QStringLiteral("DEFAULT %1").arg(k);
        table[size_t(k)] = QStringLiteral("BEFORE");
    }
    const TextTable before = table;
    const CsvResult r = parseCsvTable(bytes, defaults, table);
    if (!r.ok) {
        require(!r.message.isEmpty() && table == before);
        return 0;
    }
    for (int k = 0; k < kInterlockCount; ++k) {
        const QString& m = table[size_t(k)];
        require(!m.isEmpty() && UnitText::holdProblem(m).isEmpty());
    }
    QString why;
    const QByteArray again = csvTableBytes(table, &why);
    require(!again.isEmpty());
    TextTable back;
    require(parseCsvTable(again, defaults, back).ok && back == table);
    return 0;
}
