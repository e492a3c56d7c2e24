#pragma once
// The novel download job: turns the opened search hit into a local novel, its contents page,
// a bookshelf entry and one chapter page per chapter, filled by chapter tasks on a pool of five
// workers.

#include "library/chapter_task.h"
#include "port/window_port.h"
#include "results/search_result_file.h"

#include <string>
#include <vector>

namespace velunor {

/// Downloads the novel of the window's first selected result row to its end, reporting on the
/// status line; returns after every chapter task has finished or after a stop. Every request
/// keeps the site's manners (its header lines, pacing and retries), follows redirects, and fails
/// when the site refuses access; the contents may be on the information page or spread over
/// pages, and a chapter over pages. `window` must
/// outlive it. `programFolder` ends in "/" and holds Config/, Template/ and Novel/. Meant as the
/// body of a detached thread (the window has shown the waiting page and switched to reading);
/// jobs may run at the same time, each with its own DownloadLock. The last status line says how
/// many chapters failed, if any. Blocks.
void NovelDownloadJob(WindowPort* window, std::u16string programFolder);

/// NovelDownloadJob, telling `progress` (may be empty) of every finished chapter.
void NovelDownloadJobWithProgress(WindowPort* window, std::u16string programFolder,
                                  ChapterProgress progress);

/// The double-click on a result row: shows the waiting page, switches the window to reading
/// and starts NovelDownloadJob on a detached thread. Returns at once.
void StartNovelDownload(WindowPort& window, const std::u16string& programFolder);

} // namespace velunor
