// The lock that makes two processes take turns at editing one file.

#include "core/core.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace velunor {
namespace {

// The lock file is opened for writing when it can be created there, and for reading when it is
// already there but the folder or the file is read-only: flock needs no write access.
int OpenPlainLockFile(const std::string& nativePath) {
    int fd = open(nativePath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != ELOOP) {
        fd = open(nativePath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    return fd;
}

// Opening through a link could create a file wherever it points, so a link in the lock file's
// place is removed and a plain file made instead.
int OpenLockFile(const std::string& nativePath) {
    int fd = OpenPlainLockFile(nativePath);
    if (fd < 0 && errno == ELOOP && unlink(nativePath.c_str()) == 0) {
        fd = OpenPlainLockFile(nativePath);
    }
    return fd;
}

} // namespace

CFileLock::CFileLock(std::u16string_view lockFilePath, bool wait) {
    int fd = OpenLockFile(NativePath(lockFilePath));
    if (fd < 0) {
        return;
    }
    int result = 0;
    do {
        result = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        busy_ = errno == EWOULDBLOCK;
        close(fd);
        return;
    }
    fd_ = fd;
}

CFileLock::~CFileLock() {
    // Closing the only descriptor of this opening releases the lock.
    if (fd_ >= 0) {
        close(fd_);
    }
}

} // namespace velunor
