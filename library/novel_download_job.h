#pragma once
// The novel jobs: downloading the opened search hit into a local novel, updating a novel on the
// shelf with the chapters its site has added, and fetching again the chapters of a novel that
// failed or never finished. All three end in the same place: the novel folder with its contents
// page, its chapter index and one page per chapter, on the bookshelf once, its chapters fetched
// by chapter tasks on a pool of five workers.

#include "port/window_port.h"
#include "site/site.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace velunor {

/// A chapter of a job that was not stored, and why.
struct ChapterFailure {
    std::u16string Name;
    /// Why its site failed, or a failure of kind NoMatch for a page without text and WriteFailed
    /// for a page that could not be written.
    SiteError Error;
};

/// What a novel job did.
struct NovelJobOutcome {
    /// The job got as far as the chapters (it was not stopped before them).
    bool ReachedChapters = false;
    /// Chapters the contents listed that the novel did not have yet.
    int NewChapters = 0;
    /// Chapters fetched again: failed, empty or pending before the job.
    int RefetchedChapters = 0;
    /// Chapters of the job that were not stored.
    int FailedChapters = 0;
    /// The novel's contents list was cut short, the shelf could not be written, or the site
    /// refused some chapter: the last status line says what.
    bool Troubled = false;
    /// Why a job that stopped before its chapters stopped at its site (Kind None otherwise).
    SiteError Error;
    /// The chapters that were not stored, in the order they finished.
    std::vector<ChapterFailure> Failures;
    /// The job was asked to stop and did before it had fetched everything: the chapters it did
    /// not come to are pending, for a later update or retry.
    bool Stopped = false;

    /// True when the job stored every chapter it fetched and nothing else went wrong.
    bool Succeeded() const {
        return ReachedChapters && FailedChapters == 0 && !Troubled && !Stopped;
    }
};

/// Downloads the novel of the window's first selected result row, reporting on the status line
/// and the download progress; returns after every chapter task has finished or after a stop. A
/// novel the bookshelf has already (the same rule file and information page, or for an entry
/// written before novels were identified so, the same site and name) is updated instead. Every
/// request keeps the site's manners (its header lines, pacing and retries), follows redirects,
/// and fails when the site refuses access; the contents may be on the information page or spread
/// over pages, and a chapter over pages. `programFolder` ends in "/"; the job finds its
/// settings, rules, templates and Novel/ through its folder layout. Jobs of different novels may
/// run at the same time; a second job for a novel that one is working on stops at once and says so.
/// Blocks.
NovelJobOutcome DownloadOpenedNovel(WindowPort& window, const std::u16string& programFolder);

/// DownloadOpenedNovel for `hit`, a hit of the last search, whatever the window shows. Blocks.
NovelJobOutcome DownloadSearchHit(WindowPort& window, const std::u16string& programFolder,
                                  const SearchHit& hit);

/// DownloadSearchHit from `site` rather than the site of the hit's rule file: for a site without
/// a rule (Site::WithoutRule, the hit's RuleFile empty) the page finder reads every page, and the
/// novel's index and shelf entry remember so, so that its updates and retries read it so too.
NovelJobOutcome DownloadNovelFromSite(WindowPort& window, const std::u16string& programFolder,
                                      const SearchHit& hit, std::shared_ptr<const Site> site);

/// The message when an address to download from is no web page address.
inline constexpr std::u16string_view kNotAnAddressMessage =
    u"请输入小说信息页或目录页的网址（以 http:// 或 https:// 开头）。";

/// True when `text` (trimmed) is the address of a web page rather than a name to search for.
bool IsPageAddress(std::u16string_view text);

/// Downloads the novel whose information or contents page is at `url`, as a search hit of its
/// site would be: with the rule file in Rule/ whose SiteUrl has the same host (a leading "www."
/// aside) and a path the address lies within, else with the page finder on a site named as
/// FindSiteName names it. The novel's name and author are the ones the rule or the finder reads on
/// the page. Blocks.
NovelJobOutcome DownloadNovelAtAddress(WindowPort& window, const std::u16string& programFolder,
                                       const std::u16string& url);

/// The search box's download by address: shows the waiting page, switches the window to reading
/// and runs DownloadNovelAtAddress on a detached thread. Returns at once; `window` must outlive
/// it.
void StartAddressDownload(WindowPort& window, const std::u16string& programFolder,
                          const std::u16string& url);

/// Reads the information and contents pages of the novel in `novelFolder` again and downloads
/// the chapters the site added and those that are failed, empty or pending; chapters stored
/// before are kept as they are, matched by address. The contents page follows the site's order
/// and the pages around new chapters link to them. Once `stopAsked` (may be empty) turns true,
/// no chapter starts and the running ones end as a delete's stop ends them (see StopJobOfNovel).
/// Blocks.
NovelJobOutcome UpdateNovel(WindowPort& window, const std::u16string& programFolder,
                            const std::u16string& novelFolder, const CancelTest& stopAsked = {});

/// Downloads again only the chapters of the novel in `novelFolder` that are failed, empty or
/// pending, without reading its contents again. Blocks.
NovelJobOutcome RetryNovel(WindowPort& window, const std::u16string& programFolder,
                           const std::u16string& novelFolder);

/// The double-click on a result row: shows the waiting page, switches the window to reading
/// and runs DownloadOpenedNovel on a detached thread. Returns at once; `window` must outlive it.
void StartNovelDownload(WindowPort& window, const std::u16string& programFolder);

/// Asks the download, update or retry of this process that works on the novel in `novelFolder`
/// to stop: no chapter of it starts any more, chapters being fetched end at once, and they stay
/// pending, as the index and the contents page then say; the job ends with a status line that
/// says it was stopped. False when no job of this process works on the novel.
bool StopJobOfNovel(const std::u16string& novelFolder);

/// Waits, at most `limit`, until no job of this process works on the novel in `novelFolder`;
/// true when none does.
bool WaitForJobOfNovel(const std::u16string& novelFolder, std::chrono::milliseconds limit);

/// What StartNovelJob runs on a shelved novel.
enum class ShelfJob { Update, Retry };

/// The bookshelf's "更新小说" and "重新下载失败章节": runs UpdateNovel or RetryNovel on a detached
/// thread. Returns at once; `window` must outlive it.
void StartNovelJob(WindowPort& window, const std::u16string& programFolder,
                   const std::u16string& novelFolder, ShelfJob job);

} // namespace velunor
