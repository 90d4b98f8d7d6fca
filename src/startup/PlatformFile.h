#pragma once
// The few file operations whose calls differ between Linux and Windows. The
// rest (read, write, close, fstat on a descriptor) is the same C library on
// both.

#include <QString>

#include <sys/stat.h>

// A descriptor to read path from, or -1 with errno set. Linux: never blocks
// on a FIFO, never becomes the controlling terminal, closed on exec.
// Windows: binary, not inherited.
int openToRead(const QString& path);

// A descriptor that appends to path (created when new), or -1 with errno
// set. Each write() lands whole at the end even while another program
// appends too: O_APPEND on Linux, a handle with only FILE_APPEND_DATA (no
// FILE_WRITE_DATA) on Windows.
int openToAppend(const QString& path);

// Held around one append (what decides the line's lead, and the write): on
// Windows an exclusive lock of the whole file (LockFileEx), so that writers
// in other programs wait their turn even where the system does not make
// each append whole by itself; on Linux nothing (O_APPEND does).
class AppendLock {
public:
    explicit AppendLock(int fd);
    ~AppendLock();
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
#ifdef _WIN32
    int fd_;
    bool locked_ = false;
#endif
};

// The byte at offset of fd, without moving where fd writes; false when none.
bool readByteAt(int fd, qint64 offset, char& byte);

// stat() that does not follow a symbolic link (Linux); Windows has no links
// of that kind and stat()s the entry. 0, or -1 with errno set.
int statEntry(const QString& path, struct stat& st);

// Kinds of entry that only Linux has.
bool isSymbolicLink(const struct stat& st);
bool isSocket(const struct stat& st);
