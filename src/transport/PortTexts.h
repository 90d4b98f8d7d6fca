#pragma once
// Texts shared by the clients' transactions for a line that is not there.

#include <QString>

namespace PortTexts {
QString notOpen();
QString busy();
QString failed(const QString& portName, const QString& reason);
const QString& failedTitle();
} // namespace PortTexts
