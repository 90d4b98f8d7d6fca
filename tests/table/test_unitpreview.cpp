// The editor's preview: a message cell by cell as the unit will show it.
#include "table/UnitPreview.h"

#include <QtTest>

using Kind = PreviewCell::Kind;

class TestUnitPreview : public QObject {
    Q_OBJECT
private slots:
    // Each character in its cell through the code page; what the unit cannot show is marked.
    void cells_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("cell");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("note");
        const auto row = [](const char* name, const QString& text, int cell, Kind kind, int byte,
                            const QString& note) {
            QTest::newRow(name) << text << cell << int(kind) << byte << note;
        };
        row("leading blanks stay", "  HI", 2, Kind::Shown, 0x48, "Cell 3: 'H', code 48");
        row("a blank typed", "A B", 1, Kind::Shown, 0x20, "Cell 2: a blank, code 20");
        row("past the end", "AB", 2, Kind::Blank, -1, "Cell 3: blank, past the end of the message");
        row("Latin-1", QString::fromUtf8("Caf\u00e9"), 3, Kind::Shown, 0xE9,
            QString::fromUtf8("Cell 4: '\u00e9', code E9"));
        row("euro, high half", QString::fromUtf8("5 \u20ac"), 2, Kind::Shown, 0x80,
            QString::fromUtf8("Cell 3: '\u20ac', code 80"));
        row("no code", QString::fromUtf8("ABC\u03a9"), 3, Kind::Unshowable, -1,
            QString::fromUtf8("Cell 4: '\u03a9' (U+03A9) has no code in Windows-1252: the unit "
                              "cannot show it"));
        row("control", "A\x1B", 1, Kind::Unshowable, -1,
            "Cell 2: the character ESC (\\x1B): the unit shows only printable characters");
        row("y diaeresis ends the text on the unit", QString::fromUtf8("\u00ff"), 0,
            Kind::Unshowable, -1,
            QString::fromUtf8("Cell 1: the character '\u00ff' (U+00FF): the unit shows only "
                              "printable characters"));
    }
    void cells() {
        QFETCH(QString, text);
        QFETCH(int, cell);
        const PreviewCell c = previewOnUnit(text).cells[size_t(cell)];
        QTEST(int(c.kind), "kind");
        QTEST(c.byte, "byte");
        QTEST(c.note, "note");
        if (c.kind == Kind::Shown)
            QCOMPARE(c.glyph, text.at(cell));
    }

    // Forty cells hold the first forty characters; the rest are counted, not shown.
    void fortyCells() {
        const UnitPreview full = previewOnUnit(QString(38, 'W') + QString::fromUtf8("\u03a9XYZ"));
        QCOMPARE(full.cells[39].glyph, QChar('X'));
        QCOMPARE(full.beyond, 2);
        QVERIFY(full.cells[37].kind == Kind::Shown && full.cells[38].kind == Kind::Unshowable);
        QCOMPARE(full.cells[38].glyph, QChar(0x3A9)); // shown as typed, marked
        const UnitPreview control = previewOnUnit("\x07");
        QCOMPARE(control.cells[0].glyph, QChar('?')); // never drawn raw
        const UnitPreview empty = previewOnUnit({});
        QVERIFY(empty.beyond == 0 && empty.cells[0].kind == Kind::Blank);
    }
};

QTEST_MAIN(TestUnitPreview)
#include "test_unitpreview.moc"
