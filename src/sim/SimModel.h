#pragma once
// The QV840 as a Modbus RTU slave, request in, reply out, with no I/O of its
// own. It keeps its own CRC and frame parsing so that it checks the tool
// rather than sharing the tool's mistakes.
//
// Register map: twenty message slots in holding registers 400..799; slot k is
// the 20 registers from 400 + 20k, two characters per register, the first
// character in the high byte, the text ending at the first 0 byte.
//
// A write (function 16) sets the registers it carries and nothing else: the
// rest of a slot keeps what it held, so a text ends where its 0 byte ends it.
// With clearSlotOnWrite, as some units do, a write that starts at a slot's
// first register clears the rest of that slot first (off by default).
//
// Answers: function 3 and 16 to its own unit address; exception 01 for any
// other function, 02 for registers outside 400..799, 03 for a count of 0, over
// 125 (read) or 123 (write), or a byte count that does not match. With
// singleMessageReads, as a strict unit does, a read must stay within one
// slot's registers (a read of several messages at once is exception 02). Silent on a
// bad CRC, a frame under 4 bytes and another unit's address. Address 0 is the
// broadcast: writes are carried out and nothing is answered.
//
// Thread-safe: every public call takes an internal lock, so a window may set
// messages while a worker thread answers requests.

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <array>

class SimModel {
public:
    static constexpr int kSlots = 20;
    static constexpr int kRegistersPerSlot = 20;
    static constexpr int kFirstRegister = 400;
    static constexpr int kRegisterCount = kSlots * kRegistersPerSlot; // 400..799
    static constexpr int kMaxReadCount = 125;
    static constexpr int kMaxWriteCount = 123;
    static constexpr int kSlotBytes = 2 * kRegistersPerSlot;

    enum Exception : quint8 { IllegalFunction = 1, IllegalAddress = 2, IllegalValue = 3 };

    explicit SimModel(int unit = 1, bool clearSlotOnWrite = false);

    // The reply to one request frame; empty when the unit stays silent.
    QByteArray reply(const QByteArray& request);

    void setUnit(int unit);
    int unit() const;
    void setClearSlotOnWrite(bool on);
    bool clearSlotOnWrite() const;
    void setSingleMessageReads(bool on);

    // Stores text (at most 40 bytes kept) in slot 0..19, the rest of the slot 0.
    void setMessage(int slot, const QByteArray& text);
    // The slot's bytes up to the first 0.
    QByteArray message(int slot) const;
    // The value of holding register addr, or -1 outside 400..799.
    int registerValue(int addr) const;

    // Fills the slots from a message-table file: up to twenty records, each a
    // quoted text (to the next quote, on the same line) or an unquoted one (to
    // the next comma or line end). Slots after the last record keep their
    // text. The file is read as the tool reads outside files (a regular file
    // of at most kMaxSavBytes, UTF-8 or Windows-1252: startup/TextFile.h); the
    // records are the unit's own reading. False, with the reason in error,
    // when the file cannot be read or is refused; then no slot changes.
    static constexpr qint64 kMaxSavBytes = 64 * 1024;
    bool loadSav(const QString& path, QString* error = nullptr);
    // The same from the file's bytes; returns the number of records taken, or
    // -1, changing no slot, when a quote is left open at the end of its line.
    int loadSavData(const QByteArray& data);

    // Modbus CRC-16 (polynomial 0xA001 reflected, start 0xFFFF), computed bit
    // by bit; the low byte goes on the wire first.
    static quint16 crc16(const QByteArray& bytes);
    static QByteArray withCrc(QByteArray frame);
    static bool crcValid(const QByteArray& frame);

private:
    QByteArray exception(quint8 function, Exception code) const;
    QByteArray readRegisters(const QByteArray& request) const;
    QByteArray writeRegisters(const QByteArray& request, bool broadcast);
    void setMessageLocked(int slot, const QByteArray& text);

    mutable QMutex mutex_;
    int unit_;
    bool clearSlot_;
    bool singleMessageReads_ = false;
    std::array<quint16, kRegisterCount> registers_{};
};
