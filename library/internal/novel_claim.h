#pragma once
// The claim on one novel folder that a download, an update, a retry and a delete of that novel
// each hold while they work on it, so that no two of them, in this process or in two processes,
// work on the folder at once. Claims never wait: a job or a delete that finds the novel claimed
// says so and does nothing.

#include "core/core.h"

#include <atomic>
#include <chrono>
#include <memory>
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
/// Threads of this process are kept apart by an in-process table, processes by a lock on
/// NovelLockPath (its folder is made when missing). Held() is false when another job or delete
/// holds it. A claim of this process can be asked to stop (StopNovelJob): the job holding it
/// then winds down and lets go of the novel. One thread uses an object.
class CNovelClaim {
  public:
    CNovelClaim(const std::u16string& programFolder, std::u16string folder);
    ~CNovelClaim();
    CNovelClaim(const CNovelClaim&) = delete;
    CNovelClaim& operator=(const CNovelClaim&) = delete;

    bool Held() const {
        return held_ && !processes_->Busy();
    }

    /// True once StopNovelJob asked the holder of this claim to stop.
    bool StopAsked() const {
        return stop_ && stop_->load();
    }

  private:
    std::u16string folder_;
    std::shared_ptr<std::atomic<bool>> stop_;
    bool held_ = false;
    // Let go of before the in-process claim, so that whoever waits for the novel finds it free.
    std::unique_ptr<CFileLock> processes_;
};

/// Asks the job of this process that holds the claim on `folder` to stop; false when no claim of
/// this process holds it.
bool StopNovelJob(const std::u16string& folder);

/// Waits until no claim of this process holds `folder`, at most `limit`; true when none does.
bool WaitForNovelRelease(const std::u16string& folder, std::chrono::milliseconds limit);

} // namespace velunor::internal
