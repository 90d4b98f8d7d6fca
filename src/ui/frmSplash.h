#pragma once
// The splash window: the program's name and title while start-up reads its
// files. It takes no input and is unloaded when the comms-test window loads.

#include <QWidget>
#include <array>

class LoadedWindows;
class QLabel;

class frmSplash : public QWidget {
    Q_OBJECT
public:
    // Constructing it is loading it: it joins the loaded windows, sets its
    // title line and centres itself.
    explicit frmSplash(LoadedWindows& windows, QWidget* parent = nullptr);

    // Start-up reveals the second picture once the splash is on screen.
    void showPicture1();

    std::array<QLabel*, 2> Picture1{};
    QLabel* SSPanel1 = nullptr;
    QLabel* Label2 = nullptr;

private:
    LoadedWindows& windows_;
};
