#pragma once
// F1: the tool's walk-through (its README, with the screenshots), shipped
// with the program and read from disk, so it works without a network.

#include <QString>
#include <QWidget>

class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // folder holds README.md and docs/*.png.
    explicit HelpWindow(const QString& folder, QWidget* parent = nullptr);

    // Where the help is: beside the program (help/), else where it was
    // installed (../share/qv840n/help); empty when neither holds README.md.
    static QString findFolder(const QString& programFolder);

private:
    QTextBrowser* helpText = nullptr;
};
