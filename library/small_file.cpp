// One-read access to the bookshelf's small per-novel files.

#include "library/internal/small_file.h"

#include "core/core.h"

#include <fcntl.h>
#include <unistd.h>

namespace velunor::internal {

bool ReadSmallFile(const std::u16string& path, std::string& bytes) {
    bytes.clear();
    // Without O_NONBLOCK a FIFO put at the name would hold the shelf until a writer came.
    int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    // One byte more than the limit tells a file that is too large from one that fits exactly.
    bytes.resize(kSmallFileLimit + 1);
    ssize_t count = read(fd, bytes.data(), bytes.size());
    close(fd);
    if (count <= 0 || static_cast<size_t>(count) > kSmallFileLimit) {
        bytes.clear();
        return false;
    }
    bytes.resize(static_cast<size_t>(count));
    return true;
}

} // namespace velunor::internal
