#pragma once
// The one way the tool reads a file it did not write itself: the start-up
// files, CRC-16.TBL, message tables (Open, write-all) and the simulated unit's
// --messages.
//
// Only a regular file is read. A folder, a FIFO, a device or a socket is
// refused by what stat() says, before anything is opened, so that a FIFO with
// no writer or /dev/zero can neither block nor fill the memory; the file is
// then opened without blocking and checked again by its descriptor. A file
// larger than the bound is refused without being read whole.
//
// Text: a UTF-8 byte-order mark (EF BB BF) is skipped, and the file is then
// read as UTF-8. A file without the mark is read as UTF-8 when its bytes are
// valid UTF-8 and hold at least one multi-byte sequence; otherwise it is
// Windows-1252, as files written by the tool are. Text in a Windows-1252 file
// almost never forms valid multi-byte UTF-8 (an accented letter would have to
// be followed by one or two of the bytes 80..BF, which are mostly symbols and
// quotes), so that rule does not misread the tool's own files. UTF-8 text is
// turned into Windows-1252 bytes; a character the code page lacks refuses the
// file, naming its line.

#include <QByteArray>
#include <QString>
#include <optional>

struct FileProblem {
    enum Kind { Missing, NotAFile, TooBig, Unreadable, NotText, Binary };
    Kind kind;
    QString text; // "a folder, not a file", "cannot be read (Permission denied)"
};

// The bytes of the regular file at path, at most maxBytes of them. `what`
// names the kind of file in the too-big message ("a message table").
std::optional<FileProblem> readBoundedFile(const QString& path, qint64 maxBytes, const char* what,
                                           QByteArray& out);

// Turns the bytes of a text file into Windows-1252 by the rule above.
std::optional<FileProblem> toCodePage(QByteArray& data);

// toCodePage, then the check that no control byte but TAB, CR and LF is left
// (a file holding one is binary or damaged). data changes only when taken.
std::optional<FileProblem> toCheckedText(QByteArray& data);

// readBoundedFile, then toCheckedText. out is set only when the file is taken.
std::optional<FileProblem> readTextFile(const QString& path, qint64 maxBytes, const char* what,
                                        QByteArray& out);

// The bytes are UTF-16 text (a spreadsheet's "Unicode text"): they begin with
// its byte-order mark (FF FE or FE FF), or every other byte of their start is
// 0 as in ASCII text stored in UTF-16.
bool looksLikeUtf16(const QByteArray& data);

// The one way the tool writes a file: data replaces the file at path only once
// it is whole on disk, so the old file survives any failure. Only a regular
// file or a new name is written; a symbolic link to a regular file keeps the
// link and replaces the file behind it. A folder, a FIFO, a device, or a link
// to one of them or to nothing is left in place. Gives the reason for the
// operator ("it is a folder", "No space left on device"), or nothing.
std::optional<QString> writeWholeFile(const QString& path, const QByteArray& data);
