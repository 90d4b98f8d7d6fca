#include "startup/ItemReader.h"

namespace {
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}
} // namespace

void ItemReader::skipSeparator() {
    if (pos_ >= data_.size())
        return;
    const char c = data_.at(pos_);
    if (c == ',') {
        ++pos_;
    } else if (c == '\r') {
        ++pos_;
        if (pos_ < data_.size() && data_.at(pos_) == '\n')
            ++pos_;
    } else if (c == '\n') {
        ++pos_;
    }
}

std::optional<QByteArray> ItemReader::next() {
    while (pos_ < data_.size() && data_.at(pos_) == ' ')
        ++pos_;
    if (pos_ >= data_.size() || unterminatedLine_ > 0)
        return std::nullopt;

    if (data_.at(pos_) == '"') {
        const qsizetype start = pos_ + 1;
        qsizetype close = start;
        while (close < data_.size() && data_.at(close) != '"' && !isLineEnd(data_.at(close)))
            ++close;
        if (close >= data_.size() || data_.at(close) != '"') {
            unterminatedLine_ = lineAt(data_, pos_);
            return std::nullopt;
        }
        QByteArray item = data_.mid(start, close - start);
        pos_ = close + 1;
        // Drop the rest of the field, up to and including its separator.
        while (pos_ < data_.size() && data_.at(pos_) != ',' && !isLineEnd(data_.at(pos_)))
            ++pos_;
        skipSeparator();
        return item;
    }

    const qsizetype start = pos_;
    while (pos_ < data_.size() && data_.at(pos_) != ',' && !isLineEnd(data_.at(pos_)))
        ++pos_;
    QByteArray item = data_.mid(start, pos_ - start);
    skipSeparator();
    return item;
}

qsizetype firstControlByte(const QByteArray& data) {
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data.at(i));
        if ((b < 0x20 && b != '\t' && b != '\r' && b != '\n') || b == 0x7F)
            return i;
    }
    return -1;
}

int lineAt(const QByteArray& data, qsizetype pos) {
    int line = 1;
    const qsizetype end = qMin(pos, data.size());
    for (qsizetype i = 0; i < end; ++i) {
        const char c = data.at(i);
        if (c == '\n' || (c == '\r' && (i + 1 >= data.size() || data.at(i + 1) != '\n')))
            ++line;
    }
    return line;
}
