#include "connect/Connection.h"

bool Connection::setPort(const QString& name) {
    portName_ = name;
    refusal_.clear();
    endpoint_ = parseEndpoint(name, &refusal_);
    return endpoint_.has_value();
}
