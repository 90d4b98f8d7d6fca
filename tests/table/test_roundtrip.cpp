// The faithful table, as a property over random unit images: read all, save as .sav and as CSV,
// open again, restore onto a unit holding other texts, read all: the same table every time.
// Images hold every byte a slot can hold (01..FE), quotes, commas, semicolons, backslashes,
// literal \x sequences, control bytes, formula signs, blanks at the ends, empty slots, full
// forty-byte slots and the default as text. A fixed seed keeps the run repeatable;
// QV_ROUNDTRIP_IMAGES and QV_ROUNDTRIP_SEED make it longer or different.
#include "startup/CodePage.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/CsvTable.h"
#include "table/TableFile.h"
#include "table/TableFiles.h"
#include "table/UnitSync.h"

#include <QtTest>

using Image = std::array<QByteArray, 20>; // each slot's bytes; empty: the empty slot

// One piece of a slot's bytes, never 00 or FF (either would end the text on the unit).
static QByteArray piece(QRandomGenerator& rng) {
    static const QList<QByteArray> literal = {"\\x22", "\\x1B",    "\\x5C",        "\\x41", "\\x",
                                              "\\",    "\xC3\xA9", "\xE2\x82\xAC", "\"\"",  "'="};
    const int r = int(rng.bounded(100));
    const auto one = [&rng](int from, int to) {
        return QByteArray(1, char(from + int(rng.bounded(to - from + 1))));
    };
    if (r < 30)
        return one(0x20, 0x7E);
    if (r < 38)
        return "\"";
    if (r < 44)
        return ",";
    if (r < 48)
        return ";";
    if (r < 56)
        return literal.at(int(rng.bounded(literal.size())));
    if (r < 64)
        return rng.bounded(8) ? one(0x01, 0x1F) : QByteArray("\x7F");
    if (r < 84)
        return one(0x80, 0xFE);
    if (r < 92)
        return " ";
    return QByteArray(1, "=+-@'"[rng.bounded(5)]);
}

static Image randomImage(QRandomGenerator& rng) {
    Image image;
    for (int k = 0; k < 20; ++k) {
        const int kind = int(rng.bounded(20));
        if (kind < 3)
            continue; // the empty slot
        if (kind == 3) {
            image[size_t(k)] = QByteArray("DEFAULT ") + QByteArray::number(k);
            continue;
        }
        const int length = kind < 7 ? 40 : 1 + int(rng.bounded(40));
        QByteArray bytes;
        while (bytes.size() < length)
            bytes += piece(rng);
        image[size_t(k)] = bytes.left(length);
    }
    return image;
}

// The table read all gives for an image: a slot's text, or its default when it is empty.
static TextTable asRead(const Image& image) {
    const TextTable defaults = numberedTexts("DEFAULT %1");
    TextTable t;
    for (int k = 0; k < 20; ++k)
        t[size_t(k)] =
            image[size_t(k)].isEmpty() ? defaults[size_t(k)] : CodePage::decode(image[size_t(k)]);
    return t;
}

// Two units on one scripted line, source (the rig's unit) and target; requests go to the active
// one.
struct Rig : ScriptedRig {
    BulkOperations bulk{messages, transport, view, op};
    UnitSync sync{transport, view, op};
    FakeUnit target;
    FakeUnit* active = &unit;
    QVector<int> writesPerSlot = QVector<int>(20, 0);

    Rig() {
        port.setResponder([this](const QByteArray& request) {
            if (request.at(1) == '\x10')
                ++writesPerSlot[FakeUnit::slotOf(request)];
            return active->answer(request);
        });
    }
    void load(FakeUnit& into, const Image& image) {
        for (int k = 0; k < 20; ++k)
            into.model.setMessage(k, image[size_t(k)]);
    }
    // Read all of the active unit over a table holding other texts.
    TextTable readAll() {
        messages.setTexts(filled(QStringLiteral("STALE")));
        return bulk.readAll(1).outcome == BulkResult::Outcome::Completed && op.count() == 0
                   ? messages.texts()
                   : TextTable{};
    }
};

class TestRoundTrip : public QObject {
    Q_OBJECT
    const int images_ = qEnvironmentVariableIsSet("QV_ROUNDTRIP_IMAGES")
                            ? qEnvironmentVariableIntValue("QV_ROUNDTRIP_IMAGES")
                            : 3;
    const quint32 seed_ = qEnvironmentVariableIsSet("QV_ROUNDTRIP_SEED")
                              ? quint32(qEnvironmentVariableIntValue("QV_ROUNDTRIP_SEED"))
                              : 840u;

private slots:
    // The files alone, for many images: bytes written, recognised and read back the same.
    void filesKeepEveryTable() {
        QRandomGenerator rng(seed_);
        const TextTable defaults = numberedTexts("DEFAULT %1");
        for (int n = 0; n < 500 * images_; ++n) {
            const TextTable table = asRead(randomImage(rng));
            QString why;
            const QByteArray sav = savTableBytes(table, &why), csv = csvTableBytes(table, &why);
            TextTable fromSav, fromCsv;
            fromSav.fill("OTHER");
            fromCsv.fill("OTHER");
            const bool ok =
                !sav.isEmpty() && !csv.isEmpty() && tableFormatOfData(sav) == TableFormat::Sav &&
                tableFormatOfData(csv) == TableFormat::Csv &&
                parseSavTable("t.sav", sav, fromSav).ok && parseCsvTable(csv, defaults, fromCsv).ok;
            if (!ok || fromSav != table || fromCsv != table)
                QFAIL(qPrintable(QString("image %1 (seed %2): %3\n%4")
                                     .arg(n)
                                     .arg(seed_)
                                     .arg(why, QString::fromLatin1(sav.toHex(' ')))));
        }
    }

    // The whole way, through the transport and files on disk.
    void unitToFileToUnit() {
        QRandomGenerator rng(seed_ + 1);
        QTemporaryDir dir;
        for (int n = 0; n < images_; ++n) {
            Rig rig;
            const Image image = randomImage(rng);
            rig.load(rig.unit, image);
            const TextTable expected = asRead(image);
            QCOMPARE(rig.readAll(), expected);
            for (const QString name : {"b.sav", "b.csv"}) {
                const QString path = dir.filePath(name);
                QVERIFY(saveTableFile(path, rig.messages.texts()).written);
                TextTable loaded;
                loaded.fill("OTHER");
                QVERIFY(loadTableFile(path, rig.messages.defaults(), loaded).ok);
                QCOMPARE(loaded, expected);

                rig.load(rig.target, randomImage(rng));
                rig.active = &rig.target;
                rig.writesPerSlot.fill(0);
                const RestoreResult r = rig.sync.restore(1, loaded, rig.messages.defaults());
                QVERIFY2(r.restored(), qPrintable(restoreSummary(r)));
                QVERIFY(*std::max_element(rig.writesPerSlot.begin(), rig.writesPerSlot.end()) <= 1);
                QCOMPARE(rig.readAll(), expected);
                const RestoreResult again = rig.sync.restore(1, loaded, rig.messages.defaults());
                QVERIFY(again.restored() && again.unchanged.size() == 20);
                QVERIFY(rig.sync.compare(1, loaded, rig.messages.defaults()).matches());
                rig.active = &rig.unit;
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRoundTrip)
#include "test_roundtrip.moc"
