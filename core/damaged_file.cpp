// Keeping a damaged file for the user instead of overwriting it.

#include "core/core.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

namespace velunor {
namespace {

bool NameIsFree(const std::u16string& path) {
    struct stat status {};
    return lstat(NativePath(path).c_str(), &status) != 0 && errno == ENOENT;
}

// "<path>.damaged-<local time>", with "-2", "-3", ... when that name is taken; empty when every
// name tried is.
std::u16string FreeDamagedName(const std::u16string& path) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::u16string base = path + u".damaged-" + Utf8ToWide(stamp);
    for (int n = 1; n < 1000; ++n) {
        std::u16string name = n == 1 ? base : base + u"-" + DecimalText(n);
        if (NameIsFree(name)) {
            return name;
        }
    }
    return {};
}

} // namespace

std::u16string MoveDamagedFileAside(const std::u16string& path) {
    std::u16string aside = FreeDamagedName(path);
    if (aside.empty() || std::rename(NativePath(path).c_str(), NativePath(aside).c_str()) != 0) {
        return {};
    }
    return aside;
}

} // namespace velunor
