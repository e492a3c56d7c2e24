#pragma once
// The chapter task: completes one placeholder chapter page written by the novel download job.

#include "port/window_port.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velunor {

namespace internal {
struct SiteAccess;
}

/// How far the chapters of one download job have come.
struct ChapterTally {
    int Total = 0;
    /// Chapters whose task has finished, stored or not.
    int Done = 0;
    /// Finished chapters that were not stored: their pages hold state "-1" or "0".
    int Failed = 0;
};

/// Told of the tally after every finished chapter; called on a pool worker, one call at a time.
using ChapterProgress = std::function<void(const ChapterTally&)>;

/// What the tasks of one download job share with it; created by the job, outliving its tasks.
struct ChapterJob {
    /// Held around the status-line updates of the tasks, the reading of their placeholders and
    /// the counting of finished chapters.
    std::mutex DownloadLock;
    /// How many chapters the site refused to give.
    std::atomic<int> BlockedChapters{0};
    /// Counted under DownloadLock.
    ChapterTally Tally;
    /// May be empty.
    ChapterProgress Progress;

    /// Counts one finished chapter and tells Progress; the caller holds DownloadLock.
    void CountChapter(bool stored);
};

/// What one chapter task needs, created by the download job and held by the task's closure. The
/// window and the job are not owned; both outlive every task of the job.
struct ChapterTask {
    WindowPort* window;
    /// The site's rule and request settings, shared by every task of the job.
    std::shared_ptr<const internal::SiteAccess> Site;
    std::u16string ChapterName;
    std::u16string ChapterUrl;
    std::u16string PageFile;
    /// The novel's contents address: the Referer of the chapter request, and where a chapter
    /// split over pages ends, as it does at the next chapter's address (empty for the last).
    std::u16string ContentsUrl;
    std::u16string NextChapterUrl;
    ChapterJob* Job;
};

/// Fetches the chapter of `task`, every page of it, and rewrites its page with state "1" and the
/// text, "0" when no text was found, or "-1" when a page or an image of the chapter could not
/// be fetched or the site refused it (the status line then says so); a page not stored shows
/// why. Counts the chapter in its job. Runs on a pool worker; blocks on the network.
void RunChapterTask(const ChapterTask& task);

} // namespace velunor
