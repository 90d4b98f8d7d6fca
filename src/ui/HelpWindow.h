#pragma once
// F1: the tool's walk-through (its README, with the screenshots), shipped
// with the program and read from disk, so it works without a network. Every
// window's F1 opens it at the part about that window; Escape closes it.

#include <QString>
#include <QWidget>

class Operator;
class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // folder holds README.md and docs/*.png.
    explicit HelpWindow(const QString& folder, QWidget* parent = nullptr);

    // Where the help is: beside the program (help/), else where it was
    // installed (../share/qv840n/help); empty when neither holds README.md.
    static QString findFolder(const QString& programFolder);
    // Where every window's F1 looks; by default findFolder() of the program's
    // own folder. Tests point it elsewhere, or nowhere.
    static void setFolder(const QString& folder);
    static QString folder();

    // Opens the help over the window asking (one per window), centred on the
    // screen, at the first place the text topic stands. Without the help,
    // says where it was looked for: to op, else in a box.
    static void open(QWidget* from, const QString& topic, Operator* op = nullptr);
    // Brings topic to the top of the text, as far as the text goes.
    void showTopic(const QString& topic);

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTextBrowser* helpText = nullptr;
    QString topic_;
};

// F1 in window opens the help at topic ("Units on This Line."), even while
// the window is modal.
void addHelpKey(QWidget* window, const QString& topic, Operator* op = nullptr);
