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

void ModbusSlave::setText(int slot, const QByteArray& text) {
    const QByteArray cells = text.leftJustified(40, '\0', true);
    uint16_t* r = registers(400 + 20 * slot);
    for (int i = 0; i < 20; ++i)
        r[i] = uint16_t((quint8(cells[2 * i]) << 8) | quint8(cells[2 * i + 1]));
}

QByteArray ModbusSlave::text(int slot) {
    QByteArray out;
    for (const uint16_t* r = registers(400 + 20 * slot); out.size() < 40; ++r)
        out.append(char(*r >> 8)).append(char(*r & 0xFF));
    return out;
}
