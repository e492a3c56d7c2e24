#pragma once
// The chapter task: fetches one chapter of a novel job and writes its page.

#include "library/library_layout.h"
#include "library/novel_download_job.h"
#include "library/novel_index.h"
#include "port/status_source.h"
#include "port/window_port.h"
#include "site/site.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace velunor {

/// How far the chapters of one job have come.
struct ChapterTally {
    int Total = 0;
    /// Chapters whose task has finished, stored or not.
    int Done = 0;
    /// Finished chapters that were not stored.
    int Failed = 0;
};

/// What the tasks of one job share with it; created by the job, outliving its tasks.
struct ChapterJob {
    ChapterJob(WindowPort& window, CIndexRecorder& index, std::u16string pageTemplate,
               std::u16string pageEncoding, int total, CancelTest stopped = {});

    WindowPort& Window;
    /// The job's status source: its tasks set status lines as the job's own.
    const unsigned StatusSource = CurrentStatusSource();
    /// The novel's index, where each task records its chapter's outcome.
    CIndexRecorder& Index;
    /// The chapter page template, read once by the job.
    const std::u16string PageTemplate;
    const std::u16string PageEncoding;
    /// Held around the status-line updates of the tasks and the counting of finished chapters.
    std::mutex DownloadLock;
    /// How many chapters the site refused to give.
    std::atomic<int> BlockedChapters{0};
    /// How many chapters were left pending because the job was stopped.
    std::atomic<int> StoppedChapters{0};
    /// True once the job is asked to stop (may be empty: never).
    const CancelTest Stopped;
    /// Counted under DownloadLock.
    ChapterTally Tally;

    /// The chapters not stored so far; kept under DownloadLock.
    std::vector<ChapterFailure> Failures;

    /// True once the job is asked to stop.
    bool StopAsked() const {
        return Stopped && Stopped();
    }
    /// Counts one finished chapter and shows the progress; the caller holds DownloadLock.
    void CountChapter(bool stored);
    /// The chapters not stored, taken out of the job once its tasks have finished.
    std::vector<ChapterFailure> TakeFailures();
};

/// What one chapter task needs, created by the download job and held by the task's closure. The
/// job is not owned; it outlives every task of the job.
struct ChapterTask {
    /// The site's rule and request settings, shared by every task of the job.
    std::shared_ptr<const velunor::Site> Site;
    /// The page's fields; its file as stored.
    ChapterPageFields Fields;
    /// The page file on disk.
    std::u16string PagePath;
    /// The chapter's place in the novel's index.
    size_t Position = 0;
    /// The novel's contents address: the Referer of the chapter request, and where a chapter
    /// split over pages ends, as it does at the next chapter's address (empty for the last).
    std::u16string ContentsUrl;
    std::u16string NextChapterUrl;
    ChapterJob* Job = nullptr;
};

/// Writes the page of `task` as pending: it tells the reader the chapter is still to come.
/// False when the page could not be written.
bool WritePendingPage(const ChapterTask& task);

/// Fetches the chapter of `task`, every page of it, and writes its page with state "1" and the
/// text, "0" when no text was found, or "-1" when a page or an image of the chapter could not
/// be fetched or the site refused it (the status line then says so); a page not stored shows
/// why. Records the outcome in the index and counts the chapter in its job. A chapter whose job
/// is asked to stop before or while it is fetched keeps its pending page and is recorded as
/// pending, not failed. Runs on a pool worker; blocks on the network.
void RunChapterTask(const ChapterTask& task);

} // namespace velunor
