#pragma once
// The comms-test window: single read, write and erase requests with the raw
// bytes shown. It is loaded hidden at start-up because it hosts the clock the
// other transactions hold off, and stays loaded for the whole run.

#include "commstest/CommsClock.h"
#include "commstest/CommsTest.h"
#include "connect/Connection.h"
#include "ui/UpDown.h"

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class LoadedWindows;
class Operator;
class QGridLayout;
class QGroupBox;
class QLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TrafficLog;

class CommsTestWindow : public QWidget, public CommsTestView {
    Q_OBJECT
public:
    // Hears each write and erase of a slot (transport/ChangeRecord.h).
    void setChangeRecord(ChangeRecord* record) { commsTest_.setChangeRecord(record); }
    CommsTestWindow(Connection& connection, const TextTable& terminalNames, Transport& transport,
                    Operator& op, LoadedWindows& windows, QWidget* parent = nullptr);
    ~CommsTestWindow() override;

    // The load step: centres the window, closes the splash (closeSplash),
    // selects unit 1 and slot 400, and starts the clock. The window stays
    // hidden.
    void load(const std::function<void()>& closeSplash = {});

    // What loadMessageFormButton does (show the main window) and how the program ends
    // (Quit, after the port is closed).
    void setLoadMessageForm(std::function<void()> f) { loadMessageForm_ = std::move(f); }
    void setEndProgram(std::function<void()> f) { endProgram_ = std::move(f); }
    // Quit with the main window loaded: it asks, as its own Quit does, and
    // ends the program on OK. Without it, Quit asks here.
    void setQuitRequest(std::function<void()> f) { quitRequest_ = std::move(f); }

    // The unload of the program's end: closes the port if it is open.
    void unload();

    // Asks where to save the traffic log; empty for Cancel. Tests replace the dialog.
    using FileChooser = std::function<QString(const QString& suggested)>;
    void setFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }

    CommsClock* clock() { return &clock_; }
    // The one unit address of every window: shown here, and told when the
    // spinner here changes it.
    void setUnitAddress(int unit);
    // The connection, as the main window's status line says it.
    void setConnectionText(const QString& text);
    // The holding register the next request goes to.
    int messageRegister() const { return commsTest_.messageRegister(); }

    // CommsTestView
    void setUnitAddressText(const QString& text) override;
    void setTransmitted(const QString& dump) override;
    void setReceived(const QString& dump) override;
    void setStoredText(const QString& text) override;
    void setByteCount(const QString& text) override;
    void setSending(bool lit) override;
    void setReceiving(bool lit) override;
    QString messageText() const override;
    void clearMessageText() override;
    void showProblem(const QString& text) override;
    void slotWritten(int unit, int slot, const QString& text) override {
        emit messageWritten(unit, slot, text);
    }

signals:
    void unitAddressChanged(int unit);
    // The unit confirmed text (empty: an erase) for the whole of slot.
    void messageWritten(int unit, int slot, const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct SpinnerTexts {
        QString name, updownName, captionName, caption, tip, widest;
    };
    void buildControls();
    QLayout* buildTopRow();
    QLayout* buildVersionAndClock();
    QGridLayout* spinner(QLabel*& value, UpDown*& updown, QLabel*& caption,
                         const SpinnerTexts& texts);
    QLayout* buildSpinners();
    QLayout* buildMessageGroups();
    QLayout* buildDumps();
    void onMessageSlotChanged(int value);
    void onUnitAddressChanged(int value);
    void setOperationsEnabled(bool on);
    void updateTooltips();
    void quit();
    void saveLog();

    // The controls. Each bears its member's name as object name, the k-th of an
    // array with "_k" (lampPicture_k, lampImage_k, spinnerCaption_k, dumpCaption_k,
    // dataPanel_k); the tests reach them by these names.
    std::array<QLabel*, 2> lampPictures{};
    std::array<QLabel*, 4> lampImages{};
    QPushButton* loadMessageFormButton = nullptr;
    QLabel* versionLabel = nullptr;
    QLabel* clockLabel = nullptr;
    QLabel* slotValue = nullptr;
    UpDown* slotSpinner = nullptr;
    QLabel* unitValue = nullptr;
    UpDown* unitSpinner = nullptr;
    std::array<QLabel*, 2> spinnerCaptions{};
    QGroupBox* readGroup = nullptr;
    QPushButton* readButton = nullptr;
    QLabel* terminalCaption = nullptr;
    QGroupBox* writeGroup = nullptr;
    QLineEdit* messageEdit = nullptr;
    QPushButton* writeButton = nullptr;
    QPushButton* eraseButton = nullptr;
    std::array<QLabel*, 2> dumpCaptions{};
    std::array<QLabel*, 3> dataPanels{};
    QLabel* byteCount = nullptr;
    QPushButton* quitButton = nullptr;
    QPushButton* saveLogButton = nullptr; // every frame since the window was loaded, to a file
    QLabel* connectionLine = nullptr;     // the connection, as the main window's status line says

    Connection& connection_;
    const TextTable& terminalNames_;
    Transport& transport_;
    Operator& op_;
    LoadedWindows& windows_;
    CommsClock clock_;
    CommsTest commsTest_;
    QString terminalName_;
    std::function<void()> loadMessageForm_;
    std::function<void()> endProgram_;
    std::function<void()> quitRequest_;
    FileChooser chooseFile_;
    std::unique_ptr<TrafficLog> traffic_; // every frame of the line, for Save Log
};
