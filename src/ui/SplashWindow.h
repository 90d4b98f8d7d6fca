#pragma once
// The splash window: the program's name and title while start-up reads its
// files. It takes no input and is unloaded when the comms-test window loads.

#include <QWidget>
#include <array>

class LoadedWindows;
class QLabel;

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    // Constructing it is loading it: it joins the loaded windows, sets its
    // title line and centres itself.
    explicit SplashWindow(LoadedWindows& windows, QWidget* parent = nullptr);

    // Start-up reveals the second picture once the splash is on screen.
    void showPictures();

private:
    // The controls, each with its member's name as object name (the pictures:
    // picture_0, picture_1), by which the tests reach it.
    std::array<QLabel*, 2> pictures{};
    QLabel* titlePanel = nullptr;
    QLabel* revisionLabel = nullptr;

    void buildTexts();

    LoadedWindows& windows_;
};
