// Claims on novel folders, across threads and processes.

#include "library/internal/novel_claim.h"

#include "core/folder_layout.h"
#include "library/library_layout.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <set>

namespace velunor::internal {
namespace {

std::mutex& ClaimMutex() {
    static std::mutex mutex;
    return mutex;
}

std::set<std::u16string>& ClaimedFolders() {
    static std::set<std::u16string> folders;
    return folders;
}

bool ClaimInProcess(const std::u16string& folder) {
    std::lock_guard lock(ClaimMutex());
    return ClaimedFolders().insert(folder).second;
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
    : folder_(std::move(folder)), held_(ClaimInProcess(folder_)),
      processes_(held_ ? PreparedLockPath(programFolder, folder_) : std::u16string(), false) {}

CNovelClaim::~CNovelClaim() {
    if (held_) {
        std::lock_guard lock(ClaimMutex());
        ClaimedFolders().erase(folder_);
    }
}

} // namespace velunor::internal
