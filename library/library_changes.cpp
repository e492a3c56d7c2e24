// The library's change mark.

#include "library/internal/library_changes.h"

#include "core/core.h"
#include "library/library_layout.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace velunor::internal {
namespace {

// "start count", each as 16 hex digits: a fixed width, so a rewrite never leaves a longer
// earlier text behind it.
constexpr size_t kMarkLength = 33;

bool ParseMark(std::string_view text, unsigned long long& start, unsigned long long& count) {
    if (text.size() != kMarkLength || text[16] != ' ') {
        return false;
    }
    const char* end = text.data() + text.size();
    auto first = std::from_chars(text.data(), text.data() + 16, start, 16);
    auto second = std::from_chars(text.data() + 17, end, count, 16);
    return first.ec == std::errc() && first.ptr == text.data() + 16 && second.ec == std::errc() &&
           second.ptr == end;
}

std::string MarkText(unsigned long long start, unsigned long long count) {
    char text[kMarkLength + 1] = {};
    std::snprintf(text, sizeof text, "%016llx %016llx", start, count);
    return std::string(text, kMarkLength);
}

bool LockFile(int fd, int operation) {
    int result = 0;
    do {
        result = flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

std::string ReadMark(int fd) {
    char bytes[kMarkLength + 1];
    ssize_t read = pread(fd, bytes, sizeof bytes, 0);
    return read > 0 ? std::string(bytes, static_cast<size_t>(read)) : std::string();
}

std::string MarkPath(const std::u16string& novelRoot) {
    return NativePath(novelRoot + std::u16string(kLibraryChangesName));
}

} // namespace

void NoteNovelFolderWritten(const std::u16string& folder) {
    // Only a folder of a library has a mark: one elsewhere (a test's, or a path an older
    // version wrote) must not leave a file in whatever folder lies two levels up.
    std::u16string root = FolderOfFile(FolderOfFile(folder));
    if (!root.ends_with(u"/Novel")) {
        return;
    }
    int fd = open(MarkPath(root + u"/").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    if (LockFile(fd, LOCK_EX)) {
        unsigned long long start = 0;
        unsigned long long count = 0;
        if (!ParseMark(ReadMark(fd), start, count)) {
            std::random_device device;
            start = (static_cast<unsigned long long>(device()) << 32) | device();
        }
        std::string mark = MarkText(start, count + 1);
        if (pwrite(fd, mark.data(), mark.size(), 0) == static_cast<ssize_t>(mark.size())) {
            static_cast<void>(ftruncate(fd, static_cast<off_t>(mark.size())));
        }
    }
    // Closing the only descriptor of this opening releases the lock.
    close(fd);
}

std::string ReadLibraryChanges(const std::u16string& novelRoot) {
    int fd = open(MarkPath(novelRoot).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string mark;
    if (LockFile(fd, LOCK_SH)) {
        mark = ReadMark(fd);
    }
    close(fd);
    unsigned long long start = 0;
    unsigned long long count = 0;
    return ParseMark(mark, start, count) ? mark : std::string();
}

} // namespace velunor::internal
