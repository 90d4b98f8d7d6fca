#pragma once
// "Network unit": the gateway a unit is reached through, asked for when the
// connection dialog's "Network unit…" entry is selected. The mode (Modbus TCP
// or RTU over TCP), the host and the port make the address text
// (transport/Endpoint.h) that goes where a serial port's name would; there is
// no speed to ask for.

#include <QDialog>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QDialogButtonBox;

// The key of the connection dialog's entry for a network unit.
inline const QString kNetworkEntryKey = QStringLiteral("Network");
inline const QString kNetworkEntryText = QStringLiteral("Network unit\u2026");

class NetworkUnitDialog : public QDialog {
    Q_OBJECT
public:
    // Filled from address when it is a network address.
    explicit NetworkUnitDialog(const QString& address = {}, QWidget* parent = nullptr);

    // The address the fields give; empty, with the reason shown, while they give none.
    QString address();
    // Runs the dialog; the address, or nothing when cancelled.
    static std::optional<QString> ask(QWidget* parent, const QString& current);

public slots:
    void accept() override;

private:
    // The controls, each with its member's name as object name, by which the
    // tests reach it.
    QComboBox* modeBox = nullptr;
    QLineEdit* hostEdit = nullptr;
    QSpinBox* portSpin = nullptr;
    QLabel* problemLabel = nullptr;
    QDialogButtonBox* buttons = nullptr;
};
