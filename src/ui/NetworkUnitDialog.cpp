#include "ui/NetworkUnitDialog.h"

#include "transport/Endpoint.h"
#include "ui/HelpWindow.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

NetworkUnitDialog::NetworkUnitDialog(const QString& address, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("NetworkUnitDialog"));
    setWindowTitle(QStringLiteral("Network unit"));
    modeBox = new QComboBox(this);
    modeBox->setObjectName(QStringLiteral("modeBox"));
    modeBox->addItem(QStringLiteral("Modbus TCP"), int(Endpoint::Kind::ModbusTcp));
    modeBox->addItem(QStringLiteral("RTU over TCP"), int(Endpoint::Kind::RtuOverTcp));
    hostEdit = new QLineEdit(this);
    hostEdit->setObjectName(QStringLiteral("hostEdit"));
    hostEdit->setPlaceholderText(QStringLiteral("192.168.1.20, gateway.local or ::1"));
    // Room for the example, and for a host name of that length.
    hostEdit->setMinimumWidth(
        hostEdit->fontMetrics().horizontalAdvance(hostEdit->placeholderText()) + 24);
    portSpin = new QSpinBox(this);
    portSpin->setObjectName(QStringLiteral("portSpin"));
    portSpin->setRange(1, 65535);
    portSpin->setValue(kModbusTcpPort);
    problemLabel = new QLabel(this);
    problemLabel->setObjectName(QStringLiteral("problemLabel"));
    problemLabel->setWordWrap(true);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Mode:"), modeBox);
    form->addRow(QStringLiteral("&Host:"), hostEdit);
    form->addRow(QStringLiteral("&Port:"), portSpin);
    form->addRow(problemLabel);
    form->addRow(buttons);
    addHelpKey(this, QStringLiteral("Units behind a network gateway"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NetworkUnitDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NetworkUnitDialog::reject);

    if (const auto e = parseEndpoint(address); e && e->network()) {
        modeBox->setCurrentIndex(modeBox->findData(int(e->kind)));
        hostEdit->setText(e->host);
        portSpin->setValue(e->port);
    }
}

QString NetworkUnitDialog::address() {
    Endpoint e;
    e.kind = Endpoint::Kind(modeBox->currentData().toInt());
    e.host = hostEdit->text().trimmed();
    if (e.host.startsWith(QLatin1Char('[')) && e.host.endsWith(QLatin1Char(']')))
        e.host = e.host.mid(1, e.host.size() - 2);
    e.port = portSpin->value();
    QString why;
    const QString text = endpointText(e);
    if (e.host.isEmpty())
        why = QStringLiteral("Give the host name or address of the gateway.");
    else if (!parseEndpoint(text, &why))
        why[0] = why[0].toUpper();
    problemLabel->setText(why);
    // The dialog grows to show the reason whole, on as many lines as it takes.
    layout()->activate();
    resize(size().expandedTo(QSize(width(), layout()->totalHeightForWidth(width()))));
    return why.isEmpty() ? text : QString();
}

void NetworkUnitDialog::accept() {
    if (!address().isEmpty())
        QDialog::accept();
}

std::optional<QString> NetworkUnitDialog::ask(QWidget* parent, const QString& current) {
    NetworkUnitDialog dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.address();
}
