// The readers of the text files the operator can edit or bring along:
// filedata.fm, Defaults.txt and the message tables (*.sav). The item reader,
// run over the file's text in Windows-1252 (toCodePage), is the oracle: every
// reader must take exactly the items it yields, or refuse the file and change
// nothing. A quote left open on its line refuses the file everywhere.
#include "Require.h"
#include "sim/SimModel.h"
#include "startup/CodePage.h"
#include "startup/ConfigFiles.h"
#include "startup/ItemReader.h"
#include "startup/MessageText.h"
#include "startup/TextFile.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The readers take a folder or a path, so each input goes to disk once; the
// other two names are links to the same file. A folder in memory, where there
// is one, keeps the runs fast.
QString folderTemplate() {
    const QDir shm(QStringLiteral("/dev/shm"));
    return shm.exists() ? shm.filePath(QStringLiteral("qv-fuzz-XXXXXX")) : QString();
}

struct Folder {
    QTemporaryDir dir{folderTemplate()};
    QString fileData = dir.filePath(QString::fromLatin1(kFileDataName));
    QString table = dir.filePath(QStringLiteral("table.sav"));
    Folder() {
        require(dir.isValid());
        QFile::link(fileData, dir.filePath(QString::fromLatin1(kDefaultsName)));
        QFile::link(fileData, table);
    }
    void write(const QByteArray& bytes) const {
        QFile f(fileData);
        require(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                f.write(bytes) == bytes.size());
    }
};

const QString kUntouched = QStringLiteral("untouched");

template <size_t N> std::array<QString, N> sentinels() {
    std::array<QString, N> a;
    a.fill(kUntouched);
    return a;
}

// What the oracle learned of the file: its items, whether it is plain text (no
// control byte but the tab and the line ends, every character in the code
// page), which the readers may never refuse as binary, and whether every
// reader must refuse it (a quote left open, a character the code page lacks).
struct Oracle {
    QByteArray text; // in Windows-1252
    std::vector<QByteArray> items;
    bool plain = false;
    bool refused = false;
};

bool plainText(const QByteArray& bytes) {
    return std::none_of(bytes.begin(), bytes.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F;
    });
}

bool fitsUnit(const std::vector<QByteArray>& items) {
    return std::all_of(items.begin(), items.begin() + kInterlockCount, [](const QByteArray& i) {
        return CodePage::decode(i).size() <= kMessageMaxLength;
    });
}

// A refused file changes nothing and says why; a taken one gives exactly the
// items, in order.
int speedOf(const QByteArray& item) {
    return CodePage::decode(item).trimmed().toInt();
}

void checkFileData(const Folder& folder, const Oracle& o) {
    const std::vector<QByteArray>& items = o.items;
    FileData data;
    data.baudRates = sentinels<5>();
    data.terminalNames = sentinels<kInterlockCount>();
    const auto err = readFileData(folder.dir.path(), data);
    const size_t wanted = kSpeedCount + kInterlockCount;
    if (items.size() < wanted || o.refused)
        require(err.has_value());
    else if (o.plain && std::all_of(items.begin(), items.begin() + kSpeedCount,
                                    [](const QByteArray& i) { return isLineSpeed(speedOf(i)); }))
        require(!err.has_value());
    if (err) {
        require(data.baudRates == sentinels<5>() &&
                data.terminalNames == sentinels<kInterlockCount>());
        require(err->file == QLatin1String(kFileDataName) && !err->problem.isEmpty());
        return;
    }
    require(data.baudRates[0].isEmpty() && data.baudRates[4].isEmpty());
    for (size_t i = 0; i < kSpeedCount; ++i)
        require(isLineSpeed(speedOf(items[i])) &&
                data.baudRates[i + 1] == QString::number(speedOf(items[i])) + ",N,8,1");
    for (size_t i = 0; i < kInterlockCount; ++i)
        require(data.terminalNames[i] == CodePage::decode(items[kSpeedCount + i]));
}

// Default messages go to the unit as they are, so one longer than a slot may
// be refused too.
void checkDefaults(const Folder& folder, const Oracle& o) {
    const std::vector<QByteArray>& items = o.items;
    TextTable table = sentinels<kInterlockCount>();
    const auto err = readDefaults(folder.dir.path(), table);
    if (items.size() < size_t(kInterlockCount) || o.refused)
        require(err.has_value());
    else if (o.plain && fitsUnit(items))
        require(!err.has_value());
    if (err) {
        require(table == sentinels<kInterlockCount>() && err->file == QLatin1String(kDefaultsName));
        return;
    }
    for (size_t i = 0; i < kInterlockCount; ++i)
        require(table[i] == CodePage::decode(items[i]));
}

// Opening a table takes up to twenty items; the entries after them keep
// their texts. A CSV table (its first line the header row) is no .sav and is
// refused. The simulated unit loads the same file into its slots by a
// reader of its own, which must agree byte for byte (a slot keeps 40 bytes,
// up to the first 0).
void checkTable(const Folder& folder, const Oracle& o) {
    const std::vector<QByteArray>& items = o.items;
    TextTable table = sentinels<kInterlockCount>();
    const TableFileResult r = openTable(folder.table, table);
    require(!r.written);
    if (o.refused || csvSeparatorOf(CodePage::decode(o.text)))
        require(!r.ok);
    else if (o.plain)
        require(r.ok);
    if (!r.ok) {
        require(table == sentinels<kInterlockCount>() && !r.message.isEmpty());
        return;
    }
    const int taken = static_cast<int>(std::min<size_t>(items.size(), kInterlockCount));
    require(r.entriesRead == taken);
    if (taken < kInterlockCount)
        require(!r.message.isEmpty()); // the operator hears that the file is short
    for (int i = 0; i < kInterlockCount; ++i)
        require(
            table[size_t(i)] ==
            (i < taken ? MessageText::unescaped(CodePage::decode(items[size_t(i)])) : kUntouched));

    SimModel model;
    require(model.loadSav(folder.table) && model.loadSavData(o.text) == taken);
    for (int i = 0; i < taken; ++i) {
        QByteArray expected = items[size_t(i)].left(SimModel::kSlotBytes);
        if (const auto nul = expected.indexOf('\0'); nul >= 0)
            expected.truncate(nul);
        require(model.message(i) == expected);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Folder folder;
    const QByteArray bytes(reinterpret_cast<const char*>(data),
                           static_cast<qsizetype>(std::min<std::size_t>(size, 8192)));

    Oracle o;
    QByteArray& text = o.text;
    text = bytes;
    const bool decoded = !toCodePage(text);
    o.plain = decoded && plainText(text);
    ItemReader reader(text);
    qsizetype total = 0;
    while (auto item = reader.next()) {
        total += item->size() + 1;
        // Every byte value is a character of the code page and back.
        require(CodePage::encode(CodePage::decode(*item)).bytes == *item);
        o.items.push_back(*item);
        require(o.items.size() <= size_t(text.size()) + 1); // an item per separator at most
    }
    require(total <= text.size() + 1); // items never invent bytes
    require((reader.unterminatedLine() > 0) != reader.atEnd());
    o.refused = reader.unterminatedLine() > 0 || !decoded;

    folder.write(bytes);
    checkFileData(folder, o);
    checkDefaults(folder, o);
    checkTable(folder, o);
    return 0;
}
