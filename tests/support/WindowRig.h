#pragma once
// The windows over a simulated unit as start-up leaves them, for the window tests: the main
// window, the comms test and the editor they open, against a simulated unit on a
// pseudo-terminal, with a recording operator in place of the message boxes.

#include "link/Crc.h"
#include "link/QtSerialPortDevice.h"
#include "sim/SimThread.h"
#include "startup/ConfigFiles.h"
#include "startup/Configuration.h"
#include "support/RecordingOperator.h"
#include "support/WidgetLookup.h"
#include "support/WindowSteps.h"
#include "transport/RtuTransport.h"
#include "ui/CommsTestWindow.h"
#include "ui/LoadedWindows.h"
#include "ui/MainWindow.h"

#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

// The windows over a simulated unit as start-up leaves them; short waits: no timing here.
struct Rig {
    Configuration config;
    Connection connection;
    MessageTable messages;
    SimThread sim;
    QtSerialPortDevice port;
    RtuTransport transport{port, config.crcTable, LinkTiming{400, 25, 25, 2}};
    RecordingOperator op;
    LoadedWindows windows;
    CommsTestWindow commsTest{connection, config.terminalNames, transport, op, windows};
    MainWindow main{messages, connection, transport, op, windows, commsTest};
    QTemporaryDir settingsDir;
    QSettings settings{settingsDir.filePath("qv840n.ini"), QSettings::IniFormat};
    QStringList asked; // the prefilled texts of the site name's question
    int endCalls = 0;

    bool start(SimConfig simConfig = {}) {
        const QString app = appFolder();
        FileData files;
        simConfig.pacing = false;
        if (readFileData(app, files) || readDefaults(app, config.defaultMessages) ||
            readCrcTableFile(app, config.crcTable) ||
            !sim.model().loadSav(QDir(app).filePath("demo.sav")) || !sim.start(simConfig))
            return false;
        config.terminalNames = files.terminalNames;
        messages.reset(config.defaultMessages, config.terminalNames);
        port.setPortName(sim.devicePath());
        commsTest.setEndProgram([this] { ++endCalls; });
        commsTest.load([] {});
        main.setEndProgram([this] { ++endCalls; });
        main.setSettings(&settings);
        main.setTextAsker([this](const QString&, const QString& prefill) {
            asked << prefill;
            return std::optional<QString>(prefill.isEmpty() ? "Boiler 2" : prefill);
        });
        main.load();
        return port.open().ok;
    }
    QString unitMessage(int k) { return QString::fromLatin1(sim.model().message(k)); }
    QLabel* message(int k) { return child<QLabel>(main, QStringLiteral("messageLabel_%1").arg(k)); }
    QPushButton* button(const char* name) { return child<QPushButton>(main, name); }
    // The status line whole: its tooltip, as it may be cut short.
    QString status() { return child<QLabel>(main, "statusLine")->toolTip(); }
};

inline const auto click = [](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); };

// The WCAG contrast ratio of two colours.
inline double contrast(const QColor& a, const QColor& b) {
    auto lum = [](const QColor& c) {
        auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    const double x = lum(a), y = lum(b);
    return (qMax(x, y) + 0.05) / (qMin(x, y) + 0.05);
}
