#include "support/ModbusSlave.h"

#include "support/PtyPeer.h"

#include <QSocketNotifier>
#include <unistd.h>

ModbusSlave::ModbusSlave(int unit, int registers) : ctx_(modbus_new_rtu("pty", 9600, 'N', 8, 1)) {
    setRegisterCount(registers);
    if (!openRawPty(master_, keeper_, path_, error_))
        return;
    modbus_set_slave(ctx_, unit);
    modbus_set_socket(ctx_, master_);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        if (const int rc = modbus_receive(ctx_, query); rc > 0 && ++requests)
            modbus_reply(ctx_, query, rc, map_);
    });
}

ModbusSlave::~ModbusSlave() {
    notifier_.reset();
    modbus_mapping_free(map_);
    modbus_free(ctx_);
    for (int fd : {master_, keeper_})
        if (fd >= 0)
            ::close(fd);
}

void ModbusSlave::setRegisterCount(int registers) {
    modbus_mapping_free(map_);
    map_ = modbus_mapping_new_start_address(0, 0, 0, 0, 400, unsigned(registers), 0, 0);
}
