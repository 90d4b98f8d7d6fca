#pragma once
// An independent Modbus RTU slave, libmodbus, on the far side of a raw pseudo-terminal: it
// drops any frame with a wrong CRC or layout, and serves holding registers from 400 on from the
// event loop the tool's waits run.

#include <QString>
#include <memory>

#include <modbus/modbus.h>

class QSocketNotifier;

class ModbusSlave {
public:
    explicit ModbusSlave(int unit, int registers = 400);
    ~ModbusSlave(); // never copied: notifier_ is unique

    bool ok() const { return master_ >= 0; }
    QString error() const { return error_; }
    QString path() const { return path_; } // the tool's serial port
    uint16_t* registers(int reg) { return map_->tab_registers + reg - 400; }
    void setRegisterCount(int registers); // the map ends there; the contents go
    // Slot k's 20 registers (from 400 + 20k), two characters each, high byte first, as text
    // and zeros after it; and the 40 characters they hold.
    void setText(int slot, const QByteArray& text);
    QByteArray text(int slot);
    int requests = 0; // answered

private:
    modbus_t* ctx_;
    modbus_mapping_t* map_ = nullptr;
    int master_ = -1, keeper_ = -1;
    QString path_, error_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
