#include "ui/frmNetwork.h"

#include "transport/Endpoint.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

frmNetwork::frmNetwork(const QString& address, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmNetwork"));
    setWindowTitle(QStringLiteral("Network unit"));
    cboMode = new QComboBox(this);
    cboMode->addItem(QStringLiteral("Modbus TCP"), int(Endpoint::Kind::ModbusTcp));
    cboMode->addItem(QStringLiteral("RTU over TCP"), int(Endpoint::Kind::RtuOverTcp));
    txtHost = new QLineEdit(this);
    txtHost->setPlaceholderText(QStringLiteral("192.168.1.20, gateway.local or ::1"));
    spnPort = new QSpinBox(this);
    spnPort->setRange(1, 65535);
    spnPort->setValue(kModbusTcpPort);
    lblProblem = new QLabel(this);
    lblProblem->setWordWrap(true);
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Mode:"), cboMode);
    form->addRow(QStringLiteral("&Host:"), txtHost);
    form->addRow(QStringLiteral("&Port:"), spnPort);
    form->addRow(lblProblem);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &frmNetwork::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &frmNetwork::reject);

    if (const auto e = parseEndpoint(address); e && e->network()) {
        cboMode->setCurrentIndex(cboMode->findData(int(e->kind)));
        txtHost->setText(e->host);
        spnPort->setValue(e->port);
    }
}

QString frmNetwork::address() {
    Endpoint e;
    e.kind = Endpoint::Kind(cboMode->currentData().toInt());
    e.host = txtHost->text().trimmed();
    if (e.host.startsWith(QLatin1Char('[')) && e.host.endsWith(QLatin1Char(']')))
        e.host = e.host.mid(1, e.host.size() - 2);
    e.port = spnPort->value();
    QString why;
    const QString text = endpointText(e);
    if (e.host.isEmpty())
        why = QStringLiteral("Give the host name or address of the gateway.");
    else if (!parseEndpoint(text, &why))
        why[0] = why[0].toUpper();
    lblProblem->setText(why);
    return why.isEmpty() ? text : QString();
}

void frmNetwork::accept() {
    if (!address().isEmpty())
        QDialog::accept();
}

std::optional<QString> frmNetwork::ask(QWidget* parent, const QString& current) {
    frmNetwork dialog(current, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.address();
}
