#pragma once
// The claim on one novel folder that a download, an update, a retry and a delete of that novel
// each hold while they work on it, so that no two of them, in this process or in two processes,
// work on the folder at once. Claims never wait: a job or a delete that finds the novel claimed
// says so and does nothing.

#include "core/core.h"

#include <string>
#include <string_view>

namespace velunor::internal {

/// What a job or a delete says when another one holds the novel.
inline constexpr std::u16string_view kNovelBusyMessage = u"本书正在下载或更新，请等它完成后再试。";

/// The lock file of the novel folder `folder`: .novel-<16 hex digits>.lock in the bookshelf's
/// folder (portable: Config/), the digits a hash of the folder's path below Novel/. Kept out of the
/// novel folder, so that a delete leaves no folder behind for its lock, and out of the site folder,
/// which may be a link leading out of the library.
std::u16string NovelLockPath(const std::u16string& programFolder, std::u16string_view folder);

/// Claims the novel folder `folder` (no "/" at the end) from construction to destruction.
/// Threads of this process are kept apart by an in-process set, processes by a lock on
/// NovelLockPath (its folder is made when missing). Held() is false when another job or delete
/// holds it. One thread uses an object.
class CNovelClaim {
  public:
    CNovelClaim(const std::u16string& programFolder, std::u16string folder);
    ~CNovelClaim();
    CNovelClaim(const CNovelClaim&) = delete;
    CNovelClaim& operator=(const CNovelClaim&) = delete;

    bool Held() const {
        return held_ && !processes_.Busy();
    }

  private:
    std::u16string folder_;
    bool held_ = false;
    CFileLock processes_;
};

} // namespace velunor::internal
