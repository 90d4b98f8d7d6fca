// "Can a slot hold this text?" has one answer on every path: the editor, the comms test, the
// command line's write, write-all, restore, and opening a .sav or CSV table. Each path is tried
// with every character of Windows-1252 (and some it lacks) at the end of texts of 0 to 41
// characters; what each must do comes from the table of the unit's bytes below, not from the code.
#include "commstest/CommsTest.h"
#include "startup/CodePage.h"
#include "startup/MessageText.h"
#include "startup/UnitText.h"
#include "support/RecordingOperator.h"
#include "support/RecordingViews.h"
#include "support/TableRig.h"
#include "table/BulkOperations.h"
#include "table/CsvTable.h"
#include "table/Editor.h"
#include "table/TableFile.h"
#include "table/UnitPreview.h"
#include "table/UnitSync.h"

#include <QtTest>

#include <functional>

namespace {

// What the unit does with a character at the end of a text.
enum class Kind {
    Shown,   // a byte it shows
    Control, // a byte it keeps but cannot show: a typed one is a slip, a unit's own goes back
    Ends,    // 0 or 0xFF: the unit's "no character", never sent
    Foreign, // no byte of Windows-1252 stands for it
};

// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined are the C1 controls.
const char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                            0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct Probe {
    QChar c;
    int byte; // -1: none
    Kind kind;
};

QVector<Probe> probes() {
    QVector<Probe> out;
    for (int b = 0; b < 256; ++b) {
        const char16_t u = b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char16_t(b);
        Kind k = Kind::Shown;
        if (b == 0 || b == 0xFF)
            k = Kind::Ends;
        else if (b < 0x20 || b == 0x7F || u == 0x81 || u == 0x8D || u == 0x8F || u == 0x90 ||
                 u == 0x9D)
            k = Kind::Control;
        out << Probe{QChar(u), b, k};
    }
    // U+0080 is a C1 control, but byte 0x80 is the euro sign: no byte stands for it.
    for (char16_t u : {0x0080, 0x0100, 0x03A9, 0x2603, 0xFFFD})
        out << Probe{QChar(u), -1, Kind::Foreign};
    return out;
}

QString textOf(const Probe& p, int length) {
    return length == 0 ? QString() : QString(length - 1, QLatin1Char('A')) + p.c;
}

QByteArray where(const Probe& p, int length) {
    return QStringLiteral("U+%1, %2 characters")
        .arg(p.c.unicode(), 4, 16, QLatin1Char('0'))
        .arg(length)
        .toUtf8();
}

// A slot takes the text by a write: 1 to 40 characters the unit keeps, a control
// character only where the text is a unit's own.
bool writable(const Probe& p, int length, bool controlsKept) {
    return length >= 1 && length <= 40 &&
           (p.kind == Kind::Shown || (p.kind == Kind::Control && controlsKept));
}

// Records each request and answers none: enough to see what a path sends.
class SentLine : public Transport {
public:
    QString endpointName() const override { return QStringLiteral("line"); }
    bool isOpen() const override { return true; }
    void close() override {}
    TransportStatus prepare() override { return TransportStatus::Ok; }
    Transaction exchange(int, const QByteArray& pdu, ReplyEnd) override {
        sent << pdu;
        return {};
    }
    TransportStatus bulkPause() override { return TransportStatus::Ok; }
    Overheard overhear(int) override { return {}; }
    QVector<QByteArray> sent;
};

// The data bytes of a message write, or nothing when no write went.
std::optional<QByteArray> written(SentLine& line) {
    if (line.sent.isEmpty())
        return std::nullopt;
    const QByteArray pdu = line.sent.takeFirst();
    line.sent.clear();
    return pdu.mid(6, quint8(pdu.at(5)));
}

// A path: given a text, the data bytes of the write it sends, or nothing when it refuses.
using Path = std::function<std::optional<QByteArray>(const QString& text)>;

QByteArray sav(const QString& first) {
    QByteArray out = "\xEF\xBB\xBF";
    for (int k = 0; k < 20; ++k)
        out += '"' + MessageText::escapedWithQuotes(k == 0 ? first : QStringLiteral("X")).toUtf8() +
               "\"\r\n";
    return out;
}

QByteArray csv(const QString& first) {
    QString cell = csvMessageCell(first);
    cell.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    QString out = QStringLiteral("slot,terminal,group,message\r\n0,,,\"%1\"\r\n").arg(cell);
    for (int k = 1; k < 20; ++k)
        out += QStringLiteral("%1,,,X\r\n").arg(k);
    return out.toUtf8();
}

} // namespace

Q_DECLARE_METATYPE(Path)

class TestUnitText : public QObject {
    Q_OBJECT

private slots:
    // Every path sends exactly the unit's bytes of a text a slot takes, and nothing otherwise.
    void everyPathAgrees_data() {
        QTest::addColumn<Path>("path");
        QTest::addColumn<bool>("controlsKept"); // the text stands for a unit's own
        const auto editor = [this](bool kept) {
            return Path([this, kept](const QString& text) {
                Editor e(table_, line_, op_);
                e.setControlCharactersKept(kept);
                FakeEditorView typed;
                typed.text = text;
                e.write(typed, 1);
                op_.clear();
                return written(line_);
            });
        };
        QTest::newRow("editor window") << editor(false) << false;
        QTest::newRow("editor, command line") << editor(true) << true;
        // The cells the editor draws: the unit's byte in each, none it cannot show.
        QTest::newRow("editor's preview") << Path([](const QString& text) {
            const UnitPreview shown = previewOnUnit(text);
            QByteArray bytes;
            bool unshowable = false;
            for (int i = 0; i < qMin<qsizetype>(text.size(), 40); ++i) {
                bytes += char(shown.cells[size_t(i)].byte);
                unshowable |= shown.cells[size_t(i)].kind == PreviewCell::Kind::Unshowable;
            }
            return text.isEmpty() || shown.beyond > 0 || unshowable
                       ? std::nullopt
                       : std::optional<QByteArray>(bytes);
        }) << false;
        QTest::newRow("comms test") << Path([this](const QString& text) {
            RecordingCommsTestView window;
            CommsTest test(line_, window);
            window.text = text;
            test.writeMessage();
            return written(line_);
        }) << false;
        // The command line's TEXT as typed, and as read prints a unit's text.
        const auto command = [](bool escaped) {
            return Path([escaped](const QString& text) -> std::optional<QByteArray> {
                const QString typed = escaped ? MessageText::escaped(text) : text;
                if (!UnitText::judgeEscaped(typed).writable())
                    return std::nullopt;
                return CodePage::encode(MessageText::unescaped(typed)).bytes;
            });
        };
        QTest::newRow("write TEXT typed") << command(false) << false;
        QTest::newRow("write TEXT as read prints it") << command(true) << true;
        QTest::newRow("write-all") << Path([this](const QString& text) {
            table_.reset(filled(QStringLiteral("DEFAULT")), {});
            table_.setText(0, text);
            BulkOperations(table_, line_, view_, op_).writeAll(1);
            op_.clear();
            return written(line_);
        }) << true;
    }

    void everyPathAgrees() {
        QFETCH(Path, path);
        QFETCH(bool, controlsKept);
        for (const Probe& p : probes()) {
            for (int length = 0; length <= 41; ++length) {
                const std::optional<QByteArray> sent = path(textOf(p, length));
                const bool expected = writable(p, length, controlsKept);
                QVERIFY2(sent.has_value() == expected, where(p, length));
                // A shorter text goes with a 0 after it, and a pad to a whole register.
                if (expected)
                    QVERIFY2(sent->left(length) == QByteArray(length - 1, 'A') + char(p.byte) &&
                                 sent->mid(length).count('\0') == sent->size() - length,
                             where(p, length));
            }
        }
    }

    // Restore and the table files take what a slot holds: the empty slot (the default)
    // too, and a unit's control characters; a .sav file opens a message no slot holds and
    // names it, a CSV table refuses it whole.
    void tablesHoldWhatSlotsHold() {
        const TextTable defaults = filled(QStringLiteral("DEFAULT"));
        for (const Probe& p : probes()) {
            for (int length = 0; length <= 41; ++length) {
                const QString text = textOf(p, length);
                const QByteArray at = where(p, length);
                // A slot holds it: as a write puts it, or as the empty slot.
                const bool holds = length == 0 || writable(p, length, true);
                TextTable table = defaults;
                table[0] = text;
                QVERIFY2(restoreProblems(table, defaults).isEmpty() == holds, at);

                TextTable opened = defaults;
                const TableFileResult s = parseSavTable(QStringLiteral("t.sav"), sav(text), opened);
                // A character the code page lacks, as it is, makes the file no table at all;
                // U+0080 is written \x80 like the other C1 controls.
                const bool raw = length > 0 && p.kind == Kind::Foreign && p.c.unicode() != 0x80;
                QVERIFY2(s.ok == !raw, at);
                QVERIFY2(raw || opened[0] == text, at);
                QVERIFY2(raw || s.message.contains(QLatin1String("L1-40")) == !holds, at);

                opened = defaults;
                const CsvResult c = parseCsvTable(csv(text), defaults, opened);
                QVERIFY2(c.ok == holds, at);
                if (holds)
                    QVERIFY2(opened[0] == (length == 0 ? QStringLiteral("DEFAULT") : text), at);
            }
        }
    }

private:
    SentLine line_;
    RecordingOperator op_;
    RecordingTableView view_;
    MessageTable table_;
};

QTEST_GUILESS_MAIN(TestUnitText)
#include "test_unittext.moc"
