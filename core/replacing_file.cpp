// Saving a file whole or not at all, and removing what interrupted saves left behind.

#include "core/core.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <signal.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace velunor {
namespace {

constexpr std::string_view kTemporaryInfix = ".tmp-";
// The target's name is cut to this many bytes in the temporary name, so that the longest name
// a folder takes still leaves room for the prefix and the suffix.
constexpr size_t kMaxStemBytes = 200;

std::atomic<unsigned> nextNumber{0};

// A set of values that several threads consult and change.
template <typename Value> class SharedSet {
  public:
    bool Insert(const Value& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_.insert(value).second;
    }
    void Remove(const Value& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        values_.erase(value);
    }
    bool Contains(const Value& value) {
        std::lock_guard<std::mutex> lock(mutex_);
        return values_.contains(value);
    }

  private:
    std::mutex mutex_;
    std::unordered_set<Value> values_;
};

// The numbers of this process's saves that hold a temporary file now.
SharedSet<unsigned>& RunningSaves() {
    static SharedSet<unsigned> saves;
    return saves;
}

// The folders whose stale temporaries this process has removed. Only a process that ends
// during a save leaves one, so a folder needs clearing once, not at every save: listing a
// novel's folder at every page written would cost more the longer the novel grows.
SharedSet<std::string>& SweptFolders() {
    static SharedSet<std::string> folders;
    return folders;
}

// A decimal number as Open writes it: digits only, no leading zero, at most `limit`.
std::optional<unsigned long> ParseNumber(std::string_view digits, unsigned long limit) {
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1)) {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > limit) {
        return std::nullopt;
    }
    return value;
}

// True when no save writes that file any more. A live process may be saving the same file at
// this moment, so its files stay. A reused
// number keeps a dead process's file only until that process ends too.
bool BelongsToNoRunningSave(const ProcessMarkedName& name) {
    if (name.Pid == ::getpid()) {
        return !RunningSaves().Contains(name.Number);
    }
    return HasProcessEnded(name.Pid);
}

// The folder part of a path, "/" included; empty for a bare name.
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The target's name cut to kMaxStemBytes, never inside a UTF-8 character.
std::string_view Stem(std::string_view name) {
    if (name.size() <= kMaxStemBytes) {
        return name;
    }
    size_t end = kMaxStemBytes;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
        --end;
    }
    return name.substr(0, end);
}

void RemoveStaleTemporariesOnce(const std::string& folder) {
    if (SweptFolders().Insert(folder)) {
        RemoveStaleTemporaries(folder.empty() ? "." : folder);
    }
}

} // namespace

bool ParseProcessMarkedName(std::string_view name, std::string_view infix,
                            ProcessMarkedName& parsed) {
    size_t at = name.rfind(infix);
    if (!name.starts_with('.') || at == std::string_view::npos || at < 2) {
        return false;
    }
    std::string_view suffix = name.substr(at + infix.size());
    size_t dash = suffix.find('-');
    if (dash == std::string_view::npos) {
        return false;
    }
    auto pid = ParseNumber(suffix.substr(0, dash), INT_MAX);
    auto number = ParseNumber(suffix.substr(dash + 1), UINT_MAX);
    // No process has the number 0, and kill() would take it for this process group.
    if (!pid || *pid == 0 || !number) {
        return false;
    }
    parsed = {std::string(name.substr(1, at - 1)), static_cast<int>(*pid),
              static_cast<unsigned>(*number)};
    return true;
}

bool HasProcessEnded(int pid) {
    // EPERM means the process exists under another user.
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

void RemoveStaleTemporaries(const std::string& nativeFolder) {
    std::string folder = nativeFolder.ends_with('/') ? nativeFolder : nativeFolder + "/";
    for (const std::string& name : ListFolderNames(nativeFolder, ".")) {
        ProcessMarkedName parsed;
        if (!ParseProcessMarkedName(name, kTemporaryInfix, parsed) ||
            !BelongsToNoRunningSave(parsed)) {
            continue;
        }
        std::string path = folder + name;
        struct stat info {};
        // A save leaves a plain file; a folder or link of that name is someone else's.
        if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            ::unlink(path.c_str());
        }
    }
}

CReplacingFile::~CReplacingFile() {
    Discard();
}

void CReplacingFile::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    if (running_) {
        RunningSaves().Remove(number_);
        running_ = false;
    }
}

bool CReplacingFile::Open(const std::string& nativeTarget, bool ownerOnly) {
    struct stat info {};
    bool exists = ::stat(nativeTarget.c_str(), &info) == 0;
    if (nativeTarget.empty() || nativeTarget.ends_with('/') || (exists && S_ISDIR(info.st_mode))) {
        errno = EISDIR;
        return false;
    }
    if (exists && ::access(nativeTarget.c_str(), W_OK) != 0) {
        return false;
    }
    std::string folder = FolderOf(nativeTarget);
    std::string stem = folder + "." + std::string(Stem(nativeTarget.substr(folder.size()))) +
                       std::string(kTemporaryInfix) + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned number = nextNumber.fetch_add(1);
        std::string path = stem + std::to_string(number);
        // Claimed before the file exists, so that no clean-up ever finds it unclaimed.
        RunningSaves().Insert(number);
        int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
        if (fd >= 0) {
            if (exists && !ownerOnly) {
                ::fchmod(fd, info.st_mode & 07777);
            }
            fd_ = fd;
            temporary_ = std::move(path);
            target_ = nativeTarget;
            number_ = number;
            running_ = true;
            // Only once the folder is known to take files, so that a folder created later
            // is still cleared. The new file is claimed, so the clean-up leaves it alone.
            RemoveStaleTemporariesOnce(folder);
            return true;
        }
        int error = errno;
        RunningSaves().Remove(number);
        errno = error;
        if (error != EEXIST) {
            return false;
        }
    }
    return false;
}

bool CReplacingFile::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            int error = written < 0 ? errno : ENOSPC;
            Discard();
            errno = error;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool CReplacingFile::Commit() {
    // The file is on the disk before it takes the target's name, so that a crash right after
    // leaves either the old file or the whole new one.
    int error = ::fsync(fd_) == 0 ? 0 : errno;
    if (::close(fd_) != 0 && error == 0) {
        error = errno;
    }
    fd_ = -1;
    if (error == 0 && ::rename(temporary_.c_str(), target_.c_str()) == 0) {
        temporary_.clear();
        Discard();
        return true;
    }
    if (error == 0) {
        error = errno;
    }
    Discard();
    errno = error;
    return false;
}

} // namespace velunor
