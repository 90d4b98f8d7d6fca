#include "startup/PlatformFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

int openToRead(const QString& path) {
    return ::_wopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                    _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int openToAppend(const QString& path) {
    const HANDLE h =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()),
                    FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        errno = e == ERROR_ACCESS_DENIED       ? EACCES
                : e == ERROR_PATH_NOT_FOUND    ? ENOENT
                : e == ERROR_SHARING_VIOLATION ? EBUSY
                : e == ERROR_DISK_FULL         ? ENOSPC
                                               : EIO;
        return -1;
    }
    // Not _O_APPEND: the C library would seek before each write, two calls
    // where the handle's own append is one.
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (fd < 0)
        CloseHandle(h);
    return fd;
}

AppendLock::AppendLock(int fd) : fd_(fd) {
    OVERLAPPED whole{};
    const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
    locked_ = h != INVALID_HANDLE_VALUE &&
              LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}

AppendLock::~AppendLock() {
    OVERLAPPED whole{};
    if (locked_)
        UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(fd_)), 0, MAXDWORD, MAXDWORD,
                     &whole);
}

bool readByteAt(int fd, qint64 offset, char& byte) {
    // The handle writes at the end whatever its position: moving it is harmless.
    return ::_lseeki64(fd, offset, SEEK_SET) == offset && ::_read(fd, &byte, 1) == 1;
}

int statEntry(const QString& path, struct stat& st) {
    return ::stat(QFile::encodeName(path).constData(), &st);
}

bool isSymbolicLink(const struct stat&) {
    return false;
}

bool isSocket(const struct stat&) {
    return false;
}
#else
#include <unistd.h>

int openToRead(const QString& path) {
    return ::open(QFile::encodeName(path).constData(),
                  O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

int openToAppend(const QString& path) {
    return ::open(QFile::encodeName(path).constData(),
                  O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
}

AppendLock::AppendLock(int) {}

AppendLock::~AppendLock() = default;

bool readByteAt(int fd, qint64 offset, char& byte) {
    return ::pread(fd, &byte, 1, offset) == 1;
}

int statEntry(const QString& path, struct stat& st) {
    return ::lstat(QFile::encodeName(path).constData(), &st);
}

bool isSymbolicLink(const struct stat& st) {
    return S_ISLNK(st.st_mode);
}

bool isSocket(const struct stat& st) {
    return S_ISSOCK(st.st_mode);
}
#endif
