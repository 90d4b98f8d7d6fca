#pragma once
// "Connection configuration": the operator picks the port the unit hangs on.
// Select hands the choice to the opener (which asks for the speed and opens
// it); a choice the opener does not take leaves the dialog up for another.
// Cancel leaves the connection as it is. Start-up goes on to the main window
// either way.

#include "connect/PortChoice.h"

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QListWidget>
#include <functional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class LoadedWindows;
class Operator;

// A list in which moving to an entry with the keyboard counts as clicking it.
class ChoiceList : public QListWidget {
    Q_OBJECT
public:
    explicit ChoiceList(QWidget* parent = nullptr);

signals:
    void chosen(QListWidgetItem* item);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class ConnectionDialog : public QDialog {
    Q_OBJECT
public:
    // The port names to list; the registry's failures go to the operator.
    using PortLister = std::function<QStringList(Operator&)>;
    // Makes the chosen port (a system name, a device path or a network
    // address) the connection; false when it was not taken (the operator
    // backed out of the speed, or it did not open).
    using Opener = std::function<bool(const QString& port)>;

    // simulatedPath: the simulated unit's pseudo-terminal, listed first when
    // one runs, since the system does not list pseudo-terminals.
    ConnectionDialog(Opener opener, Operator& op, LoadedWindows& windows,
                     const QString& simulatedPath = {}, QWidget* parent = nullptr);
    ~ConnectionDialog() override;

    void setPortLister(PortLister lister) { lister_ = std::move(lister); }
    // The port highlighted when the dialog opens, when it is listed (the one
    // remembered); else the first entry. What is highlighted is chosen, so
    // Enter takes it.
    void setPreferredPort(const QString& port) { preferred_ = port; }
    // The port in use: highlighted whether listed or typed (a typed path
    // stands in the "Other device" line), so that Enter keeps it.
    void setPortInUse(const QString& port) { preferred_ = port, inUse_ = true; }
    const PortChoice& choice() const { return choice_; }

    // The single picture shown with every entry.
    static QIcon serialPortIcon();

public slots:
    int exec() override;
    void selectClicked();
    void cancelClicked();
    void reject() override;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    void buildDeviceList();
    void buildLayout();
    void onLoad();
    void onActivate();
    void fillList();
    void preselect();
    void entryChosen(QListWidgetItem* item);

    // The controls, each with its member's name as object name, by which the
    // tests reach it.
    QLabel* promptLabel = nullptr;
    QFrame* listPanel = nullptr;
    ChoiceList* deviceList = nullptr;
    QLabel* otherCaption = nullptr;
    QLineEdit* otherEdit = nullptr;
    QPushButton* selectButton = nullptr;
    QPushButton* cancelButton = nullptr;

    QList<QIcon> deviceIcons; // the picture of every entry
    Opener opener_;
    Operator& operator_;
    LoadedWindows& windows_;
    QString simulatedPath_;
    PortLister lister_;
    PortChoice choice_;
    QString preferred_;
    bool inUse_ = false;
    QString networkAddress_;       // offered by the network unit dialog
    bool selectOnRelease_ = false; // the "Other device" line was clicked into
    bool listingShowedBox_ = false;
    bool justShown_ = false; // listed on show; the activation that follows only centres
};
