#pragma once
// The chapter task: completes one placeholder chapter page written by the novel download job.

#include "port/window_port.h"

#include <mutex>
#include <string>

namespace velunor {

/// What one chapter task needs, created by the download job and held by the task's closure. The
/// window and the lock are not owned; both outlive every task of the job.
struct ChapterTask {
    WindowPort* window;
    std::u16string ChapterContent;
    std::u16string ReplaceRule;
    std::u16string Charset;
    std::u16string ChapterName;
    std::u16string ChapterUrl;
    std::u16string PageFile;
    /// The DownloadLock of the job that queued the task.
    std::mutex* DownloadLock;
};

/// Fetches the chapter of `task` and rewrites its page with state "1" and the text, "0" when no
/// text was found, or "-1" when the chapter or one of its images could not be fetched. Runs on a
/// pool worker; blocks on the network.
void RunChapterTask(const ChapterTask& task);

} // namespace velunor
