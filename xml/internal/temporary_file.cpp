#include "xml/internal/temporary_file.h"

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

namespace velunor::internal {
namespace {

constexpr std::string_view kTemporaryInfix = ".tmp-";

std::atomic<unsigned> nextNumber{0};

// The numbers of this process's saves that hold a temporary file now.
class RunningSaves {
  public:
    void Add(unsigned number) {
        std::lock_guard<std::mutex> lock(mutex_);
        numbers_.insert(number);
    }
    void Remove(unsigned number) {
        std::lock_guard<std::mutex> lock(mutex_);
        numbers_.erase(number);
    }
    bool Contains(unsigned number) {
        std::lock_guard<std::mutex> lock(mutex_);
        return numbers_.contains(number);
    }

  private:
    std::mutex mutex_;
    std::unordered_set<unsigned> numbers_;
};

RunningSaves& Running() {
    static RunningSaves saves;
    return saves;
}

// A decimal number as Create writes it: digits only, no leading zero, at most `limit`.
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

struct TemporaryName {
    pid_t pid;
    unsigned number;
};

// "<pid>-<n>" after a target's ".tmp-"; nothing for a name that Create never writes.
std::optional<TemporaryName> ParseSuffix(std::string_view suffix) {
    size_t dash = suffix.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    auto pid = ParseNumber(suffix.substr(0, dash), INT_MAX);
    auto number = ParseNumber(suffix.substr(dash + 1), UINT_MAX);
    // No process has the number 0, and kill() would take it for this process group.
    if (!pid || *pid == 0 || !number) {
        return std::nullopt;
    }
    return TemporaryName{static_cast<pid_t>(*pid), static_cast<unsigned>(*number)};
}

// True when no save writes that file any more. A live process may be saving the same file at
// this moment, so its files stay; EPERM means the process exists under another user. A reused
// number keeps a dead process's file only until that process ends too.
bool BelongsToNoRunningSave(const TemporaryName& name) {
    if (name.pid == ::getpid()) {
        return !Running().Contains(name.number);
    }
    return ::kill(name.pid, 0) != 0 && errno == ESRCH;
}

} // namespace

TemporaryFile::~TemporaryFile() {
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
    if (running_) {
        Running().Remove(number_);
    }
}

int TemporaryFile::Create(const std::string& target) {
    struct stat info {};
    bool exists = ::stat(target.c_str(), &info) == 0;
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        return -1;
    }
    std::string stem = target + std::string(kTemporaryInfix) + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned number = nextNumber.fetch_add(1);
        std::string path = stem + std::to_string(number);
        // Claimed before the file exists, so that no clean-up ever finds it unclaimed.
        Running().Add(number);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists) {
                ::fchmod(fd, info.st_mode & 07777);
            }
            path_ = std::move(path);
            number_ = number;
            running_ = true;
            return fd;
        }
        int error = errno;
        Running().Remove(number);
        errno = error;
        if (error != EEXIST) {
            return -1;
        }
    }
    return -1;
}

bool TemporaryFile::CommitTo(const std::string& target) {
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        return false;
    }
    path_.clear();
    return true;
}

void RemoveStaleTemporaries(const std::string& target) {
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string prefix = target.substr(folder.size()) + std::string(kTemporaryInfix);
    for (const std::string& name : ListFolderNames(folder.empty() ? "." : folder, prefix)) {
        std::optional<TemporaryName> parsed =
            ParseSuffix(std::string_view(name).substr(prefix.size()));
        if (!parsed || !BelongsToNoRunningSave(*parsed)) {
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

} // namespace velunor::internal
