#pragma once
// A stretch of a test run as the user nobody, so that a check of file permissions holds when the
// tests run as root (as CI does): root reads and writes whatever the permissions say. The tree
// named is handed to nobody first, so that nobody can reach it at all. Only the calling thread
// changes: the raw system call, unlike setresuid(3), leaves the process's other threads as they
// were, and the saved user id (root) lets it come back. For a user other than root it does nothing.

#include <QDirIterator>
#include <QFile>
#include <QString>

#include <sys/syscall.h>
#include <unistd.h>

class AsNobody {
public:
    static constexpr uid_t kNobody = 65534;

    explicit AsNobody(const QString& tree) {
        if (::geteuid() != 0)
            return;
        handOver(tree);
        QDirIterator it(tree, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            handOver(it.next());
        active_ = ::syscall(SYS_setresuid, kNobody, kNobody, 0) == 0;
    }
    ~AsNobody() {
        if (active_)
            ::syscall(SYS_setresuid, 0, 0, 0);
    }
    AsNobody(const AsNobody&) = delete;
    AsNobody& operator=(const AsNobody&) = delete;

    // False for root when the change failed: the stretch would prove nothing.
    bool ok() const { return ::geteuid() != 0; }

private:
    static void handOver(const QString& path) {
        (void)::lchown(QFile::encodeName(path).constData(), kNobody, gid_t(-1));
    }
    bool active_ = false;
};
