// The per-site pacing files that processes share.

#include "net/internal/shared_pacing.h"

#include "core/core.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <optional>
#include <thread>

namespace velunor::internal {
namespace {

using WallClock = std::chrono::system_clock;
using Nanoseconds = std::chrono::nanoseconds;

constexpr auto kCancelCheck = std::chrono::milliseconds(100);

// Processes compare their starts, so the time is the wall clock's: steady clocks are not
// shared. Nanoseconds since 1970, in decimal.
std::optional<WallClock::time_point> ReadLastStart(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return std::nullopt;
    }
    char text[32];
    ssize_t count = pread(fd, text, sizeof text, 0);
    close(fd);
    long long nanoseconds = 0;
    if (count <= 0 || std::from_chars(text, text + count, nanoseconds).ec != std::errc()) {
        return std::nullopt;
    }
    return WallClock::time_point(
        std::chrono::duration_cast<WallClock::duration>(Nanoseconds(nanoseconds)));
}

void WriteStart(const std::string& path, WallClock::time_point start) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    std::string text =
        std::to_string(std::chrono::duration_cast<Nanoseconds>(start.time_since_epoch()).count());
    if (pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
        // A shorter time than the one before must not keep its tail.
        (void)ftruncate(fd, static_cast<off_t>(text.size()));
    }
    close(fd);
}

} // namespace

std::u16string PacingFilePath(const std::u16string& folder, const std::string& host) {
    return folder + CleanPathComponent(Utf8ToWide(host));
}

bool WaitForSharedTurn(const std::u16string& folder, const std::string& host,
                       std::chrono::milliseconds interval, const std::function<bool()>& cancelled) {
    std::u16string path = PacingFilePath(folder, host);
    std::string nativePath = NativePath(path);
    for (bool madeFolder = false;;) {
        if (cancelled && cancelled()) {
            return false;
        }
        WallClock::duration wait{};
        {
            CFileLock lock(path);
            if (!lock.Locked()) {
                if (madeFolder || !CreateFolderPath(folder)) {
                    return true;
                }
                madeFolder = true;
                continue;
            }
            WallClock::time_point now = WallClock::now();
            std::optional<WallClock::time_point> last = ReadLastStart(nativePath);
            // A start after now plus the interval was written under a clock set differently
            // since; waiting for it could take hours.
            bool free = !last || *last + interval <= now || *last > now + interval;
            if (free) {
                WriteStart(nativePath, now);
                return true;
            }
            wait = *last + interval - now;
        }
        std::this_thread::sleep_for(std::min<WallClock::duration>(wait, kCancelCheck));
    }
}

} // namespace velunor::internal
