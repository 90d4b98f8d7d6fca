#include "sim/SimModel.h"

#include "startup/TextFile.h"

#include <QMutexLocker>
#include <algorithm>
#include <vector>

namespace {

constexpr quint8 kRead = 3;
constexpr quint8 kWrite = 16;
constexpr int kCrcBytes = 2;
constexpr int kShortestFrame = 4; // address, function, CRC

int word(const QByteArray& frame, int at) {
    return (quint8(frame[at]) << 8) | quint8(frame[at + 1]);
}

void appendWord(QByteArray& frame, int value) {
    frame.append(char((value >> 8) & 0xFF));
    frame.append(char(value & 0xFF));
}

bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

} // namespace

SimModel::SimModel(int unit, bool clearSlotOnWrite) : unit_(unit), clearSlot_(clearSlotOnWrite) {}

quint16 SimModel::crc16(const QByteArray& bytes) {
    quint16 crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= quint8(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QByteArray SimModel::withCrc(QByteArray frame) {
    const quint16 crc = crc16(frame);
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

bool SimModel::crcValid(const QByteArray& frame) {
    if (frame.size() < kCrcBytes + 1)
        return false;
    const quint16 crc = crc16(frame.left(frame.size() - kCrcBytes));
    return quint8(frame[frame.size() - 2]) == (crc & 0xFF) &&
           quint8(frame[frame.size() - 1]) == (crc >> 8);
}

void SimModel::setUnit(int unit) {
    QMutexLocker lock(&mutex_);
    unit_ = unit;
}

int SimModel::unit() const {
    QMutexLocker lock(&mutex_);
    return unit_;
}

void SimModel::setClearSlotOnWrite(bool on) {
    QMutexLocker lock(&mutex_);
    clearSlot_ = on;
}

bool SimModel::clearSlotOnWrite() const {
    QMutexLocker lock(&mutex_);
    return clearSlot_;
}

void SimModel::setSingleMessageReads(bool on) {
    QMutexLocker lock(&mutex_);
    singleMessageReads_ = on;
}

QByteArray SimModel::reply(const QByteArray& request) {
    if (request.size() < kShortestFrame || !crcValid(request))
        return {};
    QMutexLocker lock(&mutex_);
    const int address = quint8(request[0]);
    const quint8 function = quint8(request[1]);
    const bool broadcast = address == 0;
    if (!broadcast && address != unit_)
        return {};
    QByteArray answer;
    if (function == kRead)
        answer = broadcast ? QByteArray() : readRegisters(request);
    else if (function == kWrite)
        answer = writeRegisters(request, broadcast);
    else
        answer = exception(function, IllegalFunction);
    return broadcast ? QByteArray() : answer;
}

QByteArray SimModel::exception(quint8 function, Exception code) const {
    QByteArray frame;
    frame.append(char(unit_));
    frame.append(char(function | 0x80));
    frame.append(char(code));
    return withCrc(frame);
}

QByteArray SimModel::readRegisters(const QByteArray& request) const {
    if (request.size() != 8)
        return exception(kRead, IllegalValue);
    const int start = word(request, 2);
    const int count = word(request, 4);
    if (count < 1 || count > kMaxReadCount)
        return exception(kRead, IllegalValue);
    if (start < kFirstRegister || start + count > kFirstRegister + kRegisterCount)
        return exception(kRead, IllegalAddress);
    const int slot = (start - kFirstRegister) / kRegistersPerSlot;
    const int lastSlot = (start + count - 1 - kFirstRegister) / kRegistersPerSlot;
    if (singleMessageReads_ && slot != lastSlot)
        return exception(kRead, IllegalAddress);
    QByteArray frame;
    frame.append(char(unit_));
    frame.append(char(kRead));
    frame.append(char(2 * count));
    for (int r = 0; r < count; ++r)
        appendWord(frame, registers_[size_t(start - kFirstRegister + r)]);
    return withCrc(frame);
}

QByteArray SimModel::writeRegisters(const QByteArray& request, bool broadcast) {
    constexpr int kHeader = 7; // address, function, start, count, byte count
    if (request.size() < kHeader + kCrcBytes)
        return exception(kWrite, IllegalValue);
    const int start = word(request, 2);
    const int count = word(request, 4);
    const int byteCount = quint8(request[6]);
    if (count < 1 || count > kMaxWriteCount || byteCount != 2 * count ||
        request.size() != kHeader + byteCount + kCrcBytes)
        return exception(kWrite, IllegalValue);
    if (start < kFirstRegister || start + count > kFirstRegister + kRegisterCount)
        return exception(kWrite, IllegalAddress);

    const int first = start - kFirstRegister;
    if (clearSlot_ && first % kRegistersPerSlot == 0)
        std::fill_n(registers_.begin() + first, kRegistersPerSlot, quint16(0));
    for (int r = 0; r < count; ++r)
        registers_[size_t(first + r)] = quint16(word(request, kHeader + 2 * r));
    if (broadcast)
        return {};
    QByteArray frame;
    frame.append(char(unit_));
    frame.append(char(kWrite));
    appendWord(frame, start);
    appendWord(frame, count);
    return withCrc(frame);
}

void SimModel::setMessage(int slot, const QByteArray& text) {
    QMutexLocker lock(&mutex_);
    setMessageLocked(slot, text);
}

void SimModel::setMessageLocked(int slot, const QByteArray& text) {
    if (slot < 0 || slot >= kSlots)
        return;
    const QByteArray bytes = text.left(kSlotBytes);
    const int base = slot * kRegistersPerSlot;
    for (int r = 0; r < kRegistersPerSlot; ++r) {
        const int hi = 2 * r < bytes.size() ? quint8(bytes[2 * r]) : 0;
        const int lo = 2 * r + 1 < bytes.size() ? quint8(bytes[2 * r + 1]) : 0;
        registers_[size_t(base + r)] = quint16((hi << 8) | lo);
    }
}

QByteArray SimModel::message(int slot) const {
    if (slot < 0 || slot >= kSlots)
        return {};
    QMutexLocker lock(&mutex_);
    QByteArray text;
    const int base = slot * kRegistersPerSlot;
    for (int r = 0; r < kRegistersPerSlot; ++r) {
        const quint16 v = registers_[size_t(base + r)];
        for (int c : {v >> 8, v & 0xFF}) {
            if (c == 0)
                return text;
            text.append(char(c));
        }
    }
    return text;
}

int SimModel::registerValue(int addr) const {
    if (addr < kFirstRegister || addr >= kFirstRegister + kRegisterCount)
        return -1;
    QMutexLocker lock(&mutex_);
    return registers_[size_t(addr - kFirstRegister)];
}

bool SimModel::loadSav(const QString& path, QString* error) {
    QByteArray data;
    QString why;
    if (const auto problem = readTextFile(path, kMaxSavBytes, "a message table", data))
        why = problem->text;
    else if (loadSavData(data) < 0)
        why = QStringLiteral("a quote is not closed on its line");
    if (why.isEmpty())
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return false;
}

int SimModel::loadSavData(const QByteArray& data) {
    const qsizetype n = data.size();
    qsizetype pos = 0;
    std::vector<QByteArray> records;
    while (records.size() < size_t(kSlots) && pos < n) {
        // Blanks only: a tab starts the text, as it does for the tool.
        while (pos < n && data[pos] == ' ')
            ++pos;
        if (pos >= n)
            break;
        QByteArray text;
        if (data[pos] == '"') {
            qsizetype end = pos + 1;
            while (end < n && data[end] != '"' && !isLineEnd(data[end]))
                ++end;
            if (end >= n || data[end] != '"')
                return -1; // the record would swallow the line end and the next line
            text = data.mid(pos + 1, end - pos - 1);
            pos = end + 1;
            while (pos < n && data[pos] != ',' && !isLineEnd(data[pos]))
                ++pos; // what follows the closing quote belongs to no record
        } else {
            const qsizetype begin = pos;
            while (pos < n && data[pos] != ',' && !isLineEnd(data[pos]))
                ++pos;
            text = data.mid(begin, pos - begin);
        }
        // One separator: a comma, or a line end of CR LF, CR or LF.
        if (pos < n && data[pos] == ',')
            ++pos;
        else if (pos < n && data[pos] == '\r')
            pos += (pos + 1 < n && data[pos + 1] == '\n') ? 2 : 1;
        else if (pos < n && data[pos] == '\n')
            ++pos;
        records.push_back(text);
    }
    QMutexLocker lock(&mutex_);
    for (size_t slot = 0; slot < records.size(); ++slot)
        setMessageLocked(int(slot), records[slot]);
    return int(records.size());
}
