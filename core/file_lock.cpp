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
int OpenLockFile(const std::string& nativePath) {
    int fd = open(nativePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return fd;
}

} // namespace

CFileLock::CFileLock(std::u16string_view lockFilePath) {
    int fd = OpenLockFile(NativePath(lockFilePath));
    if (fd < 0) {
        return;
    }
    int result = 0;
    do {
        result = flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
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
