#pragma once
// "Find Unit": probes a range of unit addresses at chosen line speeds on the
// serial port in use, lists the units that answer, and hands the one the
// operator uses back as the connection. The scan holds the link, so nothing
// else is sent meanwhile.

#include "scan/Scanner.h"
#include "transport/NetTransport.h"
#include "transport/RtuTransport.h"

#include <QDialog>
#include <optional>

class Operator;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTreeWidget;
class SerialPort;
class Transport;
struct Configuration;
class Connection;

class FindUnitWindow : public QDialog {
    Q_OBJECT
public:
    // transport: the program's, held for the scan's run.
    FindUnitWindow(const Configuration& config, Connection& connection, SerialPort& port,
                   Transport& transport, Operator& op, QWidget* parent = nullptr);

    // The unit "Use" took, and the port's settings at its speed.
    const std::optional<FoundUnit>& chosen() const { return chosen_; }
    std::optional<LineSettings> chosenSettings() const;

    // The plan the controls describe, or nothing after saying what is wrong.
    std::optional<ScanPlan> plan(QString* why = nullptr) const;

public slots:
    void start(); // or stop, while the scan runs
    void use();
    void reject() override;

protected:
    // The title names the port or gateway it scans.
    void showEvent(QShowEvent* event) override;

private:
    QLayout* buildPlan();
    void buildControls();
    void startThroughGateway();
    void runScan(Scanner& scanner, const ScanPlan& plan);
    void showEnd(const ScanResult& r); // the scan is over: how it ended, in the time-left line
    void connectControls();
    void updateEstimate();
    void addFound(const FoundUnit& unit);

    // The controls, each with its member's name as object name, by which the
    // tests reach it.
    QSpinBox* firstSpin = nullptr;
    QSpinBox* lastSpin = nullptr;
    QLineEdit* speedsEdit = nullptr;
    QSpinBox* waitSpin = nullptr;
    QCheckBox* firstOnlyCheck = nullptr;
    QLabel* estimateLabel = nullptr;
    QProgressBar* progressBar = nullptr;
    QLabel* timeLeftLabel = nullptr;
    QTreeWidget* foundList = nullptr;
    QLabel* hintsLabel = nullptr;
    QPushButton* startButton = nullptr; // "Stop" while the scan runs
    QPushButton* useButton = nullptr;
    QPushButton* closeButton = nullptr;

    const Configuration& config_;
    Connection& connection_;
    SerialPort& port_;
    Transport& transport_;
    Operator& op_;
    RtuTransport rtu_;
    Scanner scanner_;    // a serial line: addresses x speeds, on the window's own RTU transport
    Scanner netScanner_; // a network unit: each address through the gateway, at its speed
    bool running_ = false;
    std::optional<FoundUnit> chosen_;
    QVector<FoundUnit> found_;
};
