#pragma once
// Reads the comma or line-end separated items of filedata.fm, Defaults.txt and
// the message-table files:
//  - a comma or a line end (CR LF, CR, LF) separates items;
//  - blanks before an item are skipped;
//  - a quoted item runs to the next double quote; what follows it up to and
//    including the next comma or line end is dropped;
//  - an unquoted item runs to the next comma or line end.
// Works on raw bytes; the caller decodes them with the code page.

#include <QByteArray>
#include <optional>

class ItemReader {
public:
    explicit ItemReader(QByteArray data) : data_(std::move(data)) {}

    // The next item, or nothing when the data ran out before an item began.
    std::optional<QByteArray> next();
    bool atEnd() const { return pos_ >= data_.size(); }

private:
    void skipSeparator(); // consumes one comma or one line end, if present
    QByteArray data_;
    qsizetype pos_ = 0;
};
