#pragma once
// "Serial Communication Speed": the operator picks the line settings the
// port is opened with. Start-up fills the list; the connection switch shows
// the dialog. Cancel, Escape and the frame's close back out of the choice.

#include "connect/OpenPort.h"
#include "link/LineSettings.h"

#include <QDialog>
#include <QStringList>
#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class ChoiceList;
class LoadedWindows;
struct Configuration;
class Connection;

class LineSpeedDialog : public QDialog, public SpeedDialog {
    Q_OBJECT
public:
    LineSpeedDialog(Connection& connection, const Configuration& config, LoadedWindows& windows,
                    QWidget* parent = nullptr);
    ~LineSpeedDialog() override;

    // Empties the list and adds the settings strings in the given order.
    void fillSpeedList(const QStringList& settings);

    // The settings remembered from an earlier run, offered while none was
    // chosen in this one.
    void setPreferredSettings(const std::optional<LineSettings>& settings) {
        preferred_ = settings;
    }

    // SpeedDialog: load, centre and run modally; true for Select.
    bool showModal() override;

public slots:
    int exec() override;
    void selectClicked();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    void onLoad();
    int selectedIndex() const;
    QGroupBox* makeLineGroup();
    void showLine();
    void takeLine();
    void preselect();

    // The controls, each with its member's name as object name, by which the
    // tests reach it.
    QLabel* promptLabel = nullptr;
    ChoiceList* speedList = nullptr;
    QPushButton* selectButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // The "Line" group: how the adapter behaves, remembered for the run.
    QGroupBox* lineGroup = nullptr;
    QComboBox* directionBox = nullptr;
    QComboBox* echoBox = nullptr;
    QSpinBox* pauseSpin = nullptr;
    QSpinBox* retriesSpin = nullptr;
    QComboBox* blockReadsBox = nullptr;
    QCheckBox* verifyCheck = nullptr;

    Connection& connection_;
    const Configuration& config_;
    LoadedWindows& windows_;
    std::optional<LineSettings> preferred_;
};
