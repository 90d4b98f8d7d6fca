// What a screen reader, the keyboard and a small screen meet in every window. (The offscreen
// screen, 800x600, is smaller than 1366x768.)
#include "diag/LineCounters.h"
#include "support/WindowRig.h"
#include "ui/CompareDialog.h"
#include "ui/ConnectionDialog.h"
#include "ui/Contrast.h"
#include "ui/FindUnitWindow.h"
#include "ui/HelpWindow.h"
#include "ui/HistoryDialog.h"
#include "ui/LineHealthWindow.h"
#include "ui/LineSpeedDialog.h"
#include "ui/LineUnitsWindow.h"
#include "ui/MessageEditorWindow.h"
#include "ui/NetworkUnitDialog.h"
#include "ui/UpDown.h"

#include <QAccessible>
#include <QtTest>
#include <QtWidgets>

namespace {

// The focusable controls a screen reader meets without a name, or cannot reach at all.
QStringList namelessControls(QWidget* window) {
    QSet<QObject*> reached;
    QStringList nameless;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* c = node->child(i);
            if (c == nullptr)
                continue;
            reached << c->object();
            const auto* w = qobject_cast<QWidget*>(c->object());
            if (w && w->isVisible() && c->state().focusable &&
                c->text(QAccessible::Name).trimmed().isEmpty())
                nameless << widget_lookup::describe(*w);
            walk(c);
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    for (QWidget* w : window->findChildren<QWidget*>())
        if (w->window() == window && w->isVisible() && w->focusPolicy() != Qt::NoFocus &&
            !reached.contains(w) && !w->focusProxy())
            nameless << widget_lookup::describe(*w) + " (not in the tree)";
    return nameless;
}

// The Alt keys that two controls of a window share: Qt then only moves the focus between them.
QStringList sharedMnemonics(QWidget* window) {
    QMap<QString, QStringList> owners;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->window() != window || !w->isVisible())
            continue;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy())
            text = label->text();
        else if (auto* group = qobject_cast<QGroupBox*>(w))
            text = group->title();
        const QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty())
            owners[key.toString()] << QString(text).remove('&');
    }
    QStringList shared;
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        if (it->size() > 1)
            shared << it.key() + " for both " + it->join(" and ");
    return shared;
}

bool centred(const QWidget* w) {
    const QRect screen = w->screen()->availableGeometry();
    return screen.contains(w->frameGeometry()) &&
           (w->frameGeometry().center() - screen.center()).manhattanLength() <= 2;
}

// F1 in the window: the help comes up centred, topic in its upper half; Escape closes it.
QStringList helpProblems(QWidget* window, const QString& topic) {
    if (!QTest::qWaitForWindowActive(window))
        return {"the window never became active"};
    QTest::keyClick(window, Qt::Key_F1);
    QPointer<HelpWindow> help = window->findChild<HelpWindow*>();
    if (!help || !help->isVisible())
        return {"F1 opened no help"};
    QStringList problems;
    auto* text = help->findChild<QTextBrowser*>("helpText");
    const QTextCursor at = text->document()->find(topic, 0, QTextDocument::FindCaseSensitively);
    const QRect shown = text->cursorRect(at);
    if (at.isNull() || shown.top() < 0 || shown.bottom() > text->viewport()->height() / 2)
        QDebug(&problems.emplace_back())
            << topic << "not at the top of the help:" << shown.top() << text->viewport()->height();
    if (!centred(help))
        problems << "the help is not centred on the screen";
    if (!QTest::qWaitForWindowActive(help))
        return problems << "the help never became active";
    QTest::keyClick(text, Qt::Key_Escape);
    if (!QTest::qWaitFor([&help] { return help.isNull(); }, 2000))
        problems << "Escape left the help open";
    return problems;
}

// Opens the window named over the main window, runs look on it while it is up, and closes it.
void withWindow(Rig& rig, const QString& which, const std::function<void(QWidget*)>& look) {
    const auto modal = [&look](QDialog&& d) {
        whenModal<QDialog>([&look](QDialog* up) {
            look(up);
            up->reject();
        });
        d.exec();
    };
    QWidget* main = &rig.main;
    if (which == "main") {
        look(main);
    } else if (which == "editor") {
        click(rig.message(3));
        const QPointer<MessageEditorWindow> editor = rig.main.editorWindow();
        look(editor);
        if (editor)
            editor->close();
    } else if (which == "comms test") {
        rig.commsTest.show();
        look(&rig.commsTest);
        rig.commsTest.hide();
    } else if (which == "help") {
        HelpWindow::open(main, "Main window. ");
        look(main->findChild<HelpWindow*>());
        main->findChild<HelpWindow*>()->close();
    } else if (which == "compare") {
        CompareResult r; // long texts both sides, and a slot at its default
        r.differences = {{0, "L1-40", QString(40, 'W'), QString(40, 'M'), "DEFAULT 0", false},
                         {5, "42-3", QString(), "NEW 5", "DEFAULT 5", false}};
        modal(CompareDialog(r, "unit 1 on " + rig.sim.devicePath(), main));
    } else if (which == "line units") {
        modal(LineUnitsWindow(rig.transport, rig.op, rig.messages, rig.connection, main));
    } else if (which == "line health") {
        LineCounters counters;
        modal(LineHealthWindow(rig.transport, &rig.port, counters, rig.connection.line, 1, main));
    } else if (which == "history") {
        modal(HistoryDialog(QString(), main));
    } else if (which == "find unit") {
        modal(FindUnitWindow(rig.config, rig.connection, rig.port, rig.transport, rig.op, main));
    } else if (which == "connection") {
        ConnectionDialog d([](const QString&) { return false; }, rig.op, rig.windows,
                           rig.sim.devicePath(), main);
        d.setPortLister([](Operator&) { return QStringList{"ttyS0"}; });
        modal(std::move(d));
    } else if (which == "line speed") {
        LineSpeedDialog d(rig.connection, rig.config, rig.windows, main);
        d.fillSpeedList({"9600,N,8,1", "19200,N,8,1"});
        modal(std::move(d));
    } else if (which == "network unit") {
        modal(NetworkUnitDialog("tcp://127.0.0.1:502", main));
    }
}

// The largest contrast of a pixel in the middle of w against colour: an arrow or glyph there.
double middleContrast(QWidget* w, const QColor& colour) {
    const QImage image = w->grab().toImage();
    double best = 1;
    for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y)
        for (int x = image.width() / 4; x < image.width() * 3 / 4; ++x)
            best = qMax(best, contrast(image.pixelColor(x, y), colour));
    return best;
}

QPalette darkPalette() {
    QPalette p(Qt::white, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::Base, QColor(0x2A, 0x2A, 0x2A));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, Qt::white);
    return p;
}

} // namespace

class TestAccess : public QObject {
    Q_OBJECT
private slots:
    // Each window: its controls named, its Alt keys its own, on the screen, F1 and Escape.
    void everyWindow_data() {
        QTest::addColumn<QString>("topic"); // what the help shows first; none for the help
        QTest::newRow("main") << "Main window. The twenty";
        QTest::newRow("editor") << "Editor. Click a message";
        QTest::newRow("comms test") << "Comms test. Comms Test...";
        QTest::newRow("compare") << "Compare with Unit. Is the unit";
        QTest::newRow("line units") << "Units on This Line. Units on This Line...";
        QTest::newRow("line health") << "What is wrong with this line?";
        QTest::newRow("history") << "History... shows the same changes";
        QTest::newRow("find unit") << "Find Unit... (Alt+F) looks for a unit";
        QTest::newRow("connection") << "Connection device. The simulated unit";
        QTest::newRow("line speed") << "The line: echo, direction, pause, retries";
        QTest::newRow("network unit") << "Units behind a network gateway";
        QTest::newRow("help") << QString();
    }
    void everyWindow() {
        QFETCH(QString, topic);
        Rig rig;
        QVERIFY(rig.start());
        HelpWindow::setFolder(HelpWindow::findFolder(appFolder()));
        QStringList problems;
        withWindow(rig, QTest::currentDataTag(), [&](QWidget* w) {
            problems = namelessControls(w) + sharedMnemonics(w);
            const QAccessible::Role role = QAccessible::queryAccessibleInterface(w)->role();
            if (role != QAccessible::Window && role != QAccessible::Dialog)
                problems << QStringLiteral("a window in the role %1").arg(role);
            const QRect screen = w->screen()->availableGeometry();
            if (!screen.contains(w->frameGeometry()))
                QDebug(&problems.emplace_back())
                    << w->frameGeometry() << "off the screen" << screen;
            if (!topic.isEmpty())
                problems += helpProblems(w, topic);
        });
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }

    // The help is read from disk, pictures and all; without it, F1 says where it was looked for.
    void helpFromDisk() {
        Rig rig;
        QVERIFY(rig.start());
        HelpWindow help(HelpWindow::findFolder(appFolder()));
        auto* text = child<QTextBrowser>(help, "helpText");
        QVERIFY(
            !text->loadResource(QTextDocument::ImageResource, QUrl("docs/compare.png")).isNull());
        HelpWindow::setFolder({});
        rig.main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.main));
        QTest::keyClick(&rig.main, Qt::Key_F1);
        QVERIFY(rig.op.last().text.startsWith("The help is not installed"));
    }

    // A message is a button named by its terminals and text; its description says in words
    // what its colour says. The address is a spin box with its value.
    void messagesAndAddressSpeak() {
        Rig rig;
        QVERIFY(rig.start());
        rig.connection.line.pauseMs = 0;
        const auto spoken = [&rig](int k) {
            QAccessibleInterface* i = QAccessible::queryAccessibleInterface(rig.message(k));
            return i->text(QAccessible::Name) + " | " + i->text(QAccessible::Description);
        };
        const auto terminals = [&rig](int k) {
            return "Terminals " +
                   child<QLabel>(rig.main, QStringLiteral("terminalLabel_%1").arg(k))->text() +
                   ": ";
        };
        QCOMPARE(spoken(0), terminals(0) + rig.messages.defaults()[0] + " | not read from unit 1");
        click(rig.button("readAllButton"));
        QCOMPARE(spoken(0), terminals(0) + rig.unitMessage(0) + " | as on unit 1");
        rig.sim.model().setMessage(2, "CHANGED BEHIND THE WINDOW");
        whenModal<CompareDialog>([](CompareDialog* d) { d->reject(); });
        click(rig.button("compareButton"));
        QCOMPARE(spoken(2), terminals(2) + rig.messages.texts()[2] + " | differs from unit 1");
        rig.main.setUnitAddress(2);
        QCOMPARE(spoken(0), terminals(0) + rig.unitMessage(0) + " | not read from unit 2");

        QAccessibleInterface* message = QAccessible::queryAccessibleInterface(rig.message(13));
        QCOMPARE(message->role(), QAccessible::Button);
        message->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        MessageEditorWindow* editor = rig.main.editorWindow();
        QVERIFY(editor);
        QCOMPARE(child<QLabel>(editor, "interlockValue")->text(), rig.config.terminalNames[13]);
        auto* newText = child<QLineEdit>(editor, "newTextEdit"); // its count says red in words
        newText->setText(QString(41, 'X'));
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(newText);
        QCOMPARE(field->text(QAccessible::Name) + " | " + field->text(QAccessible::Description),
                 "New message | 41/40: 41 characters: the unit holds 40");

        QAccessibleInterface* address =
            QAccessible::queryAccessibleInterface(child<UpDown>(rig.main, "addressSpinner"));
        QCOMPARE(address->role(), QAccessible::SpinBox);
        QCOMPARE(address->text(QAccessible::Name) + "|" + address->text(QAccessible::Value),
                 "Unit address|2");
        address->valueInterface()->setCurrentValue(7);
        QCOMPARE(rig.connection.unitAddress, 7);
        QStringList arrows;
        for (int i = 0; i < address->childCount(); ++i)
            arrows << address->child(i)->text(QAccessible::Name);
        QCOMPARE(arrows, QStringList({"Up", "Down"}));
    }

    // Contrasts worked out by hand; a colour made legible reaches 4.5:1, or stays as it was.
    void legibleColours_data() {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<double>("ratio");
        QTest::newRow("#767676 on white") << QColor(0x76, 0x76, 0x76) << QColor(Qt::white) << 4.542;
        QTest::newRow("red on dark") << QColor(0xC0, 0, 0) << QColor(0x35, 0x35, 0x35) << 1.893;
        QTest::newRow("grey on dark")
            << QColor(0x60, 0x60, 0x60) << QColor(0x2A, 0x2A, 0x2A) << 2.282;
    }
    void legibleColours() {
        QFETCH(QColor, colour);
        QFETCH(QColor, background);
        QFETCH(double, ratio);
        QVERIFY(qAbs(contrastRatio(colour, background) - ratio) < 0.005);
        QVERIFY(qAbs(contrastRatio(background, colour) - ratio) < 0.005);
        const QColor legible = legibleOn(colour, background);
        QVERIFY(contrast(legible, background) >= 4.5);
        QCOMPARE(legible == colour, ratio >= 4.5);
    }

    // Under a dark palette the address arrows, the red count and "(default)" read at 4.5:1.
    void darkPalette() {
        const QPalette light = qApp->palette();
        qApp->setPalette(::darkPalette());
        Rig rig;
        QVERIFY(rig.start());
        auto* up = child<UpDown>(rig.main, "addressSpinner")->upButton();
        const double arrow = middleContrast(up, up->palette().color(QPalette::Button));
        click(rig.message(3));
        MessageEditorWindow* editor = rig.main.editorWindow();
        child<QLineEdit>(editor, "newTextEdit")->setText(QString(41, 'X'));
        auto* count = child<QLabel>(editor, "countLabel");
        const double red = contrast(count->palette().color(QPalette::WindowText),
                                    editor->palette().color(QPalette::Window));
        CompareResult r;
        r.differences = {{5, "42-3", QString(), "NEW 5", "DEFAULT 5", false}};
        CompareDialog compare(r, "unit 1", &rig.main);
        auto* table = child<QTableWidget>(compare, "differenceTable");
        const double grey = contrast(table->item(0, 1)->foreground().color(),
                                     table->palette().color(QPalette::Base));
        qApp->setPalette(light);
        QString seen;
        QDebug(&seen) << "arrow" << arrow << "count" << red << "default" << grey;
        QVERIFY2(arrow >= 4.5 && red >= 4.5 && grey >= 4.5, qPrintable(seen));
        QVERIFY(table->item(0, 1)->text().startsWith("(default) "));
    }
};

QTEST_MAIN(TestAccess)
#include "test_access.moc"
