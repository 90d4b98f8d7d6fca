#pragma once
// "Line Health": the line's counters per unit, live while any operation runs
// (refreshed twice a second), the findings in words, and Check, which runs the
// line check of qv840ctl check on the units chosen; Reset Counters, Copy (the
// counters and findings as text) and Save Report (the support report). The
// work is diag/'s; this window only shows it.

#include "diag/CheckExport.h"

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class LineCounters;
class LineCheck;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;
class SerialPort;
class TrafficLog;
class Transport;

class LineHealthWindow : public QDialog {
    Q_OBJECT
public:
    // port: the serial port under the transport (nullptr through a gateway or
    // when not known): the idle line is heard and other speeds tried only on it.
    LineHealthWindow(Transport& transport, SerialPort* port, LineCounters& counters,
                     const LineOptions& line, int unit, QWidget* parent = nullptr);
    ~LineHealthWindow() override;

    // Asks where to save the report; empty for Cancel. Tests replace the dialog.
    using FileChooser = std::function<QString(const QString& suggested)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
    void setFirstByteWaitMs(int ms) { firstByteWaitMs_ = ms; }

    // What Copy puts on the clipboard and the findings box shows.
    QString reportText() const;

public slots:
    void check();
    void stop();
    void resetCounters();
    void copy();
    void saveReport();
    void refresh();
    void reject() override; // while a check runs it stops it instead

private:
    void buildControls();
    QLayout* buildPlan();
    void connectButtons();
    CheckResult shown() const; // the last check's result, else the live counters'

    QTableWidget* countersTable = nullptr;
    QPlainTextEdit* findingsText = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* statusLabel = nullptr; // what Save Report did
    QSpinBox* firstUnitSpinner = nullptr;
    QSpinBox* lastUnitSpinner = nullptr;
    QSpinBox* countSpinner = nullptr;
    QPushButton* checkButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* resetButton = nullptr;
    QPushButton* copyButton = nullptr;
    QPushButton* saveReportButton = nullptr;
    QPushButton* closeButton = nullptr;

    Transport& transport_;
    SerialPort* port_;
    LineCounters& counters_;
    LineOptions line_;
    int firstByteWaitMs_ = 500;
    std::unique_ptr<TrafficLog> traffic_;
    std::optional<CheckResult> checked_;
    LineCheck* running_ = nullptr;
    FileChooser chooseFile_;
    QTimer refresh_;
    quint64 shownGeneration_ = ~quint64(0);
};
