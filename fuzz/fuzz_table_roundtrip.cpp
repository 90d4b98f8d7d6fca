// The faithful table: any unit image (each slot's bytes up to its first 00 or FF, as the unit
// gives them) makes a table that the .sav and the CSV writers turn into files that are
// recognised by their content and read back as the same table. Any file, taken by its content,
// is either refused with a reason and changes nothing, or gives a table that its own format
// writes and reads back the same.
#include "Require.h"
#include "startup/CodePage.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"
#include "table/TableFiles.h"

#include <cstddef>
#include <cstdint>

namespace {

TextTable defaultTexts() {
    TextTable d;
    for (int k = 0; k < kInterlockCount; ++k)
        d[size_t(k)] = QStringLiteral("DEFAULT %1").arg(k);
    return d;
}

// Slot by slot: a length byte (mod 41), then that many bytes, cut at the first 00 or FF.
TextTable imageOf(const QByteArray& bytes, const TextTable& defaults) {
    TextTable table;
    qsizetype at = 0;
    for (int k = 0; k < kInterlockCount; ++k) {
        const int length = at < bytes.size() ? quint8(bytes.at(at++)) % 41 : 0;
        QByteArray slot = bytes.mid(at, length);
        at += length;
        for (qsizetype i = 0; i < slot.size(); ++i)
            if (slot.at(i) == '\0' || slot.at(i) == '\xFF')
                slot.truncate(i);
        table[size_t(k)] = slot.isEmpty() ? defaults[size_t(k)] : CodePage::decode(slot);
    }
    return table;
}

void imageRoundTrips(const TextTable& table, const TextTable& defaults) {
    QString why;
    const QByteArray sav = savTableBytes(table, &why);
    const QByteArray csv = csvTableBytes(table, &why);
    require(!sav.isEmpty() && !csv.isEmpty());
    require(tableFormatOfData(sav) == TableFormat::Sav);
    require(tableFormatOfData(csv) == TableFormat::Csv);
    TextTable fromSav, fromCsv;
    require(parseSavTable(QStringLiteral("t.sav"), sav, fromSav).ok && fromSav == table);
    require(parseCsvTable(csv, defaults, fromCsv).ok && fromCsv == table);
}

void fileRoundTrips(const QByteArray& data, const TextTable& defaults) {
    TextTable table;
    table.fill(QStringLiteral("BEFORE"));
    const TextTable before = table;
    QString why;
    const auto format = tableFormatOfData(data, &why);
    if (!format) {
        require(!why.isEmpty());
        return;
    }
    const bool csv = *format == TableFormat::Csv;
    const bool ok = csv ? parseCsvTable(data, defaults, table).ok
                        : parseSavTable(QStringLiteral("t.sav"), data, table).ok;
    if (!ok) {
        require(table == before);
        return;
    }
    const QByteArray again = csv ? csvTableBytes(table, &why) : savTableBytes(table, &why);
    if (again.isEmpty())
        return; // a .sav entry no file may hold (past the size bound)
    TextTable back;
    require(csv ? parseCsvTable(again, defaults, back).ok
                : parseSavTable(QStringLiteral("t.sav"), again, back).ok);
    require(back == table);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const TextTable defaults = defaultTexts();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    imageRoundTrips(imageOf(bytes, defaults), defaults);
    fileRoundTrips(bytes, defaults);
    return 0;
}
