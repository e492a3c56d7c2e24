// Writing a file under a temporary name beside its target.

#include "export/internal/replacing_file.h"

#include "core/core.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor::internal {
namespace {

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::u16string CannotWrite(const std::u16string& target, int code) {
    return u"无法写入“" + target + u"”：" + FileErrorText(code) + u"。";
}

// A name no other export, in this process or another, is using at the same time.
std::string TemporaryName(const std::string& folder, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    return folder + "/.velunor-export-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++) + "-" + std::to_string(attempt) + ".part";
}

} // namespace

std::u16string FileErrorText(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
        return u"没有写入权限";
    case ENOENT:
        return u"文件夹不存在";
    case ENOTDIR:
        return u"路径中有一部分不是文件夹";
    case EISDIR:
        return u"同名的文件夹已存在";
    case EROFS:
        return u"磁盘是只读的";
    case ENOSPC:
    case EDQUOT:
        return u"磁盘空间不足";
    case ENAMETOOLONG:
        return u"文件名太长";
    default:
        break;
    }
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return Utf8ToWide(text);
}

CReplacingFile::~CReplacingFile() {
    Discard();
}

void CReplacingFile::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool CReplacingFile::Open(const std::u16string& target, std::u16string& error) {
    Discard();
    wideTarget_ = target;
    target_ = NativePath(target);
    if (target_.empty() || target_.back() == '/' || IsDirectory(target)) {
        error = CannotWrite(target, EISDIR);
        return false;
    }
    const std::string folder = FolderOf(target_);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(folder, attempt);
        fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = std::move(name);
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error = CannotWrite(target, errno);
    return false;
}

bool CReplacingFile::Write(std::string_view bytes, std::u16string& error) {
    while (!bytes.empty()) {
        ssize_t written = write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            error = CannotWrite(wideTarget_, written < 0 ? errno : ENOSPC);
            Discard();
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool CReplacingFile::Commit(std::u16string& error) {
    struct stat existing;
    if (stat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        fchmod(fd_, existing.st_mode & 07777);
    }
    // The file is on the disk before it takes the target's name, so that a crash right after
    // leaves either the old file or the whole new one.
    int code = fsync(fd_) == 0 ? 0 : errno;
    if (close(fd_) != 0 && code == 0) {
        code = errno;
    }
    fd_ = -1;
    if (code != 0) {
        error = CannotWrite(wideTarget_, code);
        Discard();
        return false;
    }
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = CannotWrite(wideTarget_, errno);
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

} // namespace velunor::internal
