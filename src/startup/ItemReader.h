#pragma once
// Reads the comma or line-end separated items of filedata.fm, Defaults.txt and
// the message-table files:
//  - a comma or a line end (CR LF, CR, LF) separates items;
//  - blanks before an item are skipped;
//  - a quoted item runs to the next double quote, which must come before the
//    line ends; what follows it up to and including the next comma or line end
//    is dropped. A quote left open at the end of its line (or of the data) is
//    an error: taking the line end and the next line into the item would shift
//    every later item by one;
//  - an unquoted item runs to the next comma or line end.
// Works on raw bytes; the caller decodes them with the code page.

#include <QByteArray>
#include <optional>

class ItemReader {
public:
    explicit ItemReader(QByteArray data) : data_(std::move(data)) {}

    // The next item, or nothing when the data ran out before an item began or
    // a quoted item was left open (then unterminatedLine() says where).
    std::optional<QByteArray> next();
    // The 1-based line whose quote was left open, or 0.
    int unterminatedLine() const { return unterminatedLine_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    // Where the next item's search starts: a byte offset into the data.
    qsizetype position() const { return pos_; }

private:
    void skipSeparator(); // consumes one comma or one line end, if present
    QByteArray data_;
    qsizetype pos_ = 0;
    int unterminatedLine_ = 0;
};

// The offset of the first control byte other than TAB, CR and LF (NUL, ESC,
// DEL...), or -1. None of the tool's text files holds one, so a file that
// does is binary or damaged, not one of them.
qsizetype firstControlByte(const QByteArray& data);

// The 1-based line that offset pos of data lies on; CR LF, CR and LF each end
// one line, as they do for the items.
int lineAt(const QByteArray& data, qsizetype pos);
