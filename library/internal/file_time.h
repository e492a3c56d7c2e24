#pragma once
// The time a file or folder last changed, to the nanosecond, as the stamps the library keeps
// (of an index, the bookshelf file, a novel folder) write it.

#include <sys/stat.h>

namespace velunor::internal {

inline long long ChangedNanoseconds(const struct stat& status) {
    return static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
}

} // namespace velunor::internal
