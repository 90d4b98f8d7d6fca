#include "table/TableFiles.h"

#include "table/CsvTable.h"
#include "table/TableFile.h"

TableFormat tableFormatOf(const QString& path) {
    return isCsvName(path) ? TableFormat::Csv : TableFormat::Sav;
}

TableFileOutcome loadTableFile(const QString& path, const TextTable& defaults,
                               TextTable& messages) {
    TableFileOutcome out;
    out.format = tableFormatOf(path);
    if (out.format == TableFormat::Csv) {
        const CsvResult r = readCsvTable(path, defaults, messages);
        out.ok = r.ok;
        out.entriesRead = r.ok ? kInterlockCount : 0;
        out.message = r.message;
        return out;
    }
    const TableFileResult r = openTable(path, messages);
    out.ok = r.ok;
    out.entriesRead = r.entriesRead;
    out.message = r.message;
    return out;
}

TableFileOutcome saveTableFile(const QString& path, const TextTable& messages) {
    TableFileOutcome out;
    out.format = tableFormatOf(path);
    if (out.format == TableFormat::Csv) {
        const CsvResult r = writeCsvTable(path, messages);
        out.ok = out.written = r.ok;
        out.message = r.message;
        return out;
    }
    const TableFileResult r = saveTable(path, messages);
    out.ok = r.ok;
    out.written = r.written;
    out.message = r.message;
    return out;
}
