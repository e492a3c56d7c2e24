// Reading a whole file, bounded by what its kind may hold.

#include "core/core.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velunor {
namespace {

class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int Get() const {
        return fd_;
    }

  private:
    int fd_;
};

FileReadResult Refused(FileReadStatus status, uint64_t size = 0) {
    return FileReadResult{status, 0, size};
}

FileReadResult Failed(int error) {
    return FileReadResult{FileReadStatus::Failed, error, 0};
}

// The file may grow while it is read, so the limit holds for the bytes read, not only for
// the size found first.
FileReadResult ReadOpenFile(int fd, uint64_t maxBytes, std::string& bytes) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return Failed(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return Refused(FileReadStatus::NotRegularFile);
    }
    auto size = static_cast<uint64_t>(info.st_size);
    if (size > maxBytes) {
        return Refused(FileReadStatus::TooLarge, size);
    }
    // The file was opened without waiting only for the sake of FIFOs; reads of it may wait.
    int statusFlags = ::fcntl(fd, F_GETFL);
    if (statusFlags >= 0) {
        ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK);
    }
    bytes.reserve(static_cast<size_t>(size));
    PrefaultForWriting(bytes.data(), static_cast<size_t>(size));
    char chunk[65536];
    while (true) {
        uint64_t room = maxBytes - bytes.size();
        // One byte beyond the limit is asked for, to learn that the file has grown past it.
        size_t wanted = room < sizeof chunk ? static_cast<size_t>(room) + 1 : sizeof chunk;
        ssize_t got = ::read(fd, chunk, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Failed(errno);
        }
        if (got == 0) {
            return FileReadResult{FileReadStatus::Read, 0, bytes.size()};
        }
        bytes.append(chunk, static_cast<size_t>(got));
        if (bytes.size() > maxBytes) {
            return Refused(FileReadStatus::TooLarge, bytes.size());
        }
    }
}

} // namespace

void PrefaultForWriting(void* block, size_t bytes) {
// Older system headers lack the name; the kernel has known the request since Linux 5.14.
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    constexpr uintptr_t kPage = 4096;
    // Blocks below a few pages are left alone: the call would cost more than the faults.
    constexpr size_t kLeastPages = 8;
    uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kPage - 1);
    if (end > begin && end - begin >= kLeastPages * kPage) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
    }
}

FileReadResult ReadFileBytes(std::u16string_view path, uint64_t maxBytes, std::string& bytes) {
    bytes.clear();
    std::string nativePath = NativePath(path);
    // O_NONBLOCK: opening a FIFO that no one writes would otherwise wait for ever.
    OpenFile file(::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        int error = errno;
        // A socket cannot be opened at all; it is refused like the special files that can.
        struct stat info {};
        if (::stat(nativePath.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            return Refused(FileReadStatus::NotRegularFile);
        }
        return Failed(error);
    }
    FileReadResult result = ReadOpenFile(file.Get(), maxBytes, bytes);
    if (result.Status != FileReadStatus::Read) {
        bytes.clear();
    }
    return result;
}

} // namespace velunor
