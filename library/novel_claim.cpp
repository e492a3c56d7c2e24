// Claims on novel folders, across threads and processes.

#include "library/internal/novel_claim.h"

#include "core/folder_layout.h"
#include "library/library_layout.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>

namespace velunor::internal {
namespace {

std::mutex& ClaimMutex() {
    static std::mutex mutex;
    return mutex;
}

// Signalled whenever a claim of this process lets go of its folder.
std::condition_variable& ReleasedCondition() {
    static std::condition_variable released;
    return released;
}

// The folders claimed in this process, each with the flag that asks its job to stop.
using StopFlag = std::shared_ptr<std::atomic<bool>>;
std::map<std::u16string, StopFlag>& ClaimedFolders() {
    static std::map<std::u16string, StopFlag> folders;
    return folders;
}

// The new claim's stop flag, or none when the folder is claimed already.
StopFlag ClaimInProcess(const std::u16string& folder) {
    std::lock_guard lock(ClaimMutex());
    auto flag = std::make_shared<std::atomic<bool>>(false);
    return ClaimedFolders().emplace(folder, flag).second ? flag : nullptr;
}

// 64-bit FNV-1a of the UTF-16 units: site and novel names together may be longer than a file
// name can be, so the lock file is named after a hash of them.
uint64_t PathHash(std::u16string_view path) {
    uint64_t hash = 14695981039346656037ull;
    for (char16_t unit : path) {
        hash = (hash ^ unit) * 1099511628211ull;
    }
    return hash;
}

std::u16string PreparedLockPath(const std::u16string& programFolder, const std::u16string& folder) {
    CreateFolderPath(FolderLayoutFor(programFolder).ShelfFolder);
    return NovelLockPath(programFolder, folder);
}

} // namespace

std::u16string NovelLockPath(const std::u16string& programFolder, std::u16string_view folder) {
    std::u16string novelRoot = NovelRootFolder(programFolder);
    std::u16string_view below =
        folder.substr(0, novelRoot.size()) == novelRoot ? folder.substr(novelRoot.size()) : folder;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx",
                  static_cast<unsigned long long>(PathHash(below)));
    return FolderLayoutFor(programFolder).ShelfFolder + u".novel-" + Utf8ToWide(digits) + u".lock";
}

// flock keeps two openings of the lock file apart within one process too; the in-process set
// keeps threads apart where the lock file cannot be made (a read-only library).
CNovelClaim::CNovelClaim(const std::u16string& programFolder, std::u16string folder)
    : folder_(std::move(folder)), stop_(ClaimInProcess(folder_)), held_(stop_ != nullptr),
      processes_(std::make_unique<CFileLock>(
          held_ ? PreparedLockPath(programFolder, folder_) : std::u16string(), false)) {}

CNovelClaim::~CNovelClaim() {
    processes_.reset();
    if (held_) {
        {
            std::lock_guard lock(ClaimMutex());
            ClaimedFolders().erase(folder_);
        }
        ReleasedCondition().notify_all();
    }
}

bool StopNovelJob(const std::u16string& folder) {
    std::lock_guard lock(ClaimMutex());
    auto claimed = ClaimedFolders().find(folder);
    if (claimed == ClaimedFolders().end()) {
        return false;
    }
    claimed->second->store(true);
    return true;
}

bool WaitForNovelRelease(const std::u16string& folder, std::chrono::milliseconds limit) {
    std::unique_lock lock(ClaimMutex());
    return ReleasedCondition().wait_for(lock, limit,
                                        [&] { return ClaimedFolders().count(folder) == 0; });
}

} // namespace velunor::internal
