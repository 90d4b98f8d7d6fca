// What no sending path may send, and the \xHH notation that shows and keeps what a unit holds.
#include "startup/MessageText.h"

#include <QtTest>

class TestMessageText : public QObject {
    Q_OBJECT
private slots:
    void notation_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("refused"); // the first character no path may send
        QTest::addColumn<QString>("forFile"); // empty: as escaped
        const auto row = [](const char* name, const QString& text, const QString& escaped,
                            const QString& refused = {}, const QString& forFile = {}) {
            QTest::newRow(name) << text << escaped << refused << forFile;
        };
        row("printable, 1252", "PRÉSSION € 5", "PRÉSSION € 5");
        row("terminal title sequence", "A\x1B]0;X\aB", "A\\x1B]0;X\\x07B",
            "the character ESC (\\x1B)");
        row("LF, CR, TAB", "\n\r\t", "\\x0A\\x0D\\x09", "the character LF (\\x0A)");
        row("DEL and C1", "\x7F\u0081", "\\x7F\\x81", "the control character \\x7F");
        row("y umlaut", "ÿES", "ÿES", "the character 'ÿ' (U+00FF)");
        row("NUL", QString(QChar(0)), "\\x00", "the character NUL (\\x00)");
        // Typed text that looks like the notation reads back as typed.
        row("a literal \\x1B", "\\x1B", "\\x5Cx1B");
        row("a literal \\x5C", "\\x5C", "\\x5Cx5C");
        row("a literal \\x22", "\\x22", "\\x5Cx22");
        row("a lone backslash", "A\\", "A\\");
        row("backslash, no escape", "\\x41 \\xG1 \\x1", "\\x41 \\xG1 \\x1");
        // The .sav files write a double quote as \x22 as well; labels show it as it is.
        row("quotes and a comma", "PRESS \"RESET\", THEN WAIT", "PRESS \"RESET\", THEN WAIT", {},
            "PRESS \\x22RESET\\x22, THEN WAIT");
        row("a quote, then a literal \\x22", "\"\\x22", "\"\\x5Cx22", {}, "\\x22\\x5Cx22");
        row("a quote and ESC", "\"\x1B\"", "\"\\x1B\"", "the character ESC (\\x1B)",
            "\\x22\\x1B\\x22");
    }
    void notation() {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QFETCH(QString, refused);
        QFETCH(QString, forFile);
        QCOMPARE(MessageText::escaped(text), escaped);
        QCOMPARE(MessageText::unescaped(escaped), text);
        const qsizetype at = MessageText::firstUnsendable(text);
        QCOMPARE(at < 0 ? QString() : MessageText::describeUnsendable(text.at(at)), refused);
        QCOMPARE(MessageText::escapedWithQuotes(text), forFile.isEmpty() ? escaped : forFile);
        QCOMPARE(MessageText::unescaped(MessageText::escapedWithQuotes(text)), text);
    }
};

QTEST_GUILESS_MAIN(TestMessageText)
#include "test_messagetext.moc"
