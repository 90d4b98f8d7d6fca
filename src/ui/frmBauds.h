#pragma once
// "Serial Communication Speed": the operator picks the line settings the
// port is opened with. Start-up fills the list; OpenPort shows the dialog.

#include "connect/OpenPort.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QSpinBox;
class ChoiceList;
class LoadedWindows;
struct SharedState;

class frmBauds : public QDialog, public SpeedDialog {
    Q_OBJECT
public:
    frmBauds(SharedState& state, LoadedWindows& windows, QWidget* parent = nullptr);
    ~frmBauds() override;

    // Empties the list and adds the settings strings in the given order.
    void fillSpeedList(const QStringList& settings);

    // The settings remembered from an earlier run, offered while none was
    // chosen in this one.
    void setPreferredSettings(const QString& settings) { preferred_ = settings; }

    // SpeedDialog: load, centre and run modally.
    void showModal() override;

    QLabel* Label1;
    ChoiceList* LstBaudRates;
    QPushButton* cmdSelect;
    // The "Line" group: how the adapter behaves, remembered for the run.
    QGroupBox* fraLine;
    QComboBox* cboDirection;
    QComboBox* cboEcho;
    QSpinBox* spnPauseMs;
    QSpinBox* spnRetries;

public slots:
    int exec() override;
    void cmdSelect_Click();

protected:
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    void Form_Load();
    int selectedIndex() const;
    QGroupBox* makeLineGroup();
    void showLine();
    void takeLine();
    void preselect();

    SharedState& state_;
    LoadedWindows& windows_;
    QString preferred_;
};
