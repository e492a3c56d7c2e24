// The novel download job.

#include "library/novel_download_job.h"

#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/chapter_task.h"
#include "library/internal/contents_pages.h"
#include "library/internal/site_fetch.h"
#include "library/library_layout.h"
#include "pool/worker_pool.h"
#include "rules/rules.h"
#include "xml/xml_document.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace velunor {
namespace {

constexpr int kChapterWorkers = 5;
constexpr auto kQueuePause = std::chrono::milliseconds(20);

// Everything the chapter pages of one job are made from.
struct NovelPages {
    SearchHit hit;
    std::shared_ptr<const internal::SiteAccess> site;
    ChapterList chapters;
    // The first contents page's final address.
    std::u16string contentsUrl;
    std::u16string folder;
    std::u16string encoding{kPageEncoding};
};

// Shows the result list again with `message` on the status line.
void Stop(WindowPort& window, const std::u16string& message) {
    window.SetStatusText(message);
    window.SetViewMode(ViewMode::SearchResults);
}

// The first SearchResult element whose site, name and author equal the row's; false when
// none does.
bool FindSearchHit(const std::u16string& programFolder, const ResultRow& row, SearchHit& hit) {
    for (SearchHit& candidate : ReadSearchHits(programFolder)) {
        if (candidate.TargetSite == row.SiteName && candidate.NovelName == row.NovelName &&
            candidate.NovelAuthor == row.NovelAuthor) {
            hit = std::move(candidate);
            return true;
        }
    }
    return false;
}

bool IsBlank(std::u16string_view text) {
    return text.find_first_not_of(u" \t\r\n") == std::u16string_view::npos;
}

// The status line for a contents list whose page `failedPage` could not be fetched.
std::u16string ContentsCutMessage(int failedPage) {
    return u"目录第 " + DecimalText(failedPage) + u" 页无法打开，只读取了前 " +
           DecimalText(failedPage - 1) + u" 页目录。";
}

// Makes the table rows, one per chapter in list order.
std::u16string ContentsRows(const NovelPages& novel) {
    std::u16string rows;
    for (int n = 1; n <= novel.chapters.count; ++n) {
        rows += ContentsRow(n, novel.chapters.ChapterName[static_cast<size_t>(n - 1)]);
    }
    return rows;
}

std::u16string WriteContentsPage(const std::u16string& programFolder, NovelPages& novel,
                                 const std::u16string& rows) {
    std::u16string page;
    ReadPage(novel.encoding, TemplatePath(programFolder, kContentsPageName), page);
    ReplaceAll(page, kNovelNamePlaceholder, novel.hit.NovelName);
    ReplaceAll(page, kContentsPlaceholder, rows);
    CreateFolderPath(novel.folder);
    CreateFolderPath(novel.folder + u"/images");
    std::u16string path = novel.folder + u"/" + std::u16string(kContentsPageName);
    WritePage(novel.encoding, path, page);
    return path;
}

void WritePlaceholderPage(const std::u16string& programFolder, NovelPages& novel, int n,
                          const ChapterTask& task) {
    std::u16string page;
    ReadPage(novel.encoding, TemplatePath(programFolder, u"ContentPage.html"), page);
    // The hidden fields are read back from the browser as HTML, so "&" and "<" in an address or
    // a path are escaped here and decoded there; written as they are, "&copy=2" in a chapter
    // address would come back as "©=2".
    ReplaceAll(page, kRuleFilePathPlaceholder, HiddenFieldText(novel.hit.RuleFile));
    ReplaceAll(page, kChapterUrlPlaceholder, HiddenFieldText(task.ChapterUrl));
    ReplaceAll(page, kChapterSaveFilePlaceholder, HiddenFieldText(task.PageFile));
    ReplaceAll(page, kNovelNamePlaceholder, novel.hit.NovelName);
    ReplaceAll(page, kChapterNamePlaceholder, task.ChapterName);
    ReplaceAll(page, kPrevChapterUrlPlaceholder, PrevChapterUrl(n));
    ReplaceAll(page, kNextChapterUrlPlaceholder, NextChapterUrl(n, novel.chapters.count));
    // Until its task has run, the page tells the reader so rather than showing the placeholder.
    ReplaceChapterText(page, PendingChapterNotice());
    WritePage(novel.encoding, task.PageFile, page);
}

ChapterTask MakeChapterTask(WindowPort& window, const NovelPages& novel, int n, ChapterJob& job) {
    size_t i = static_cast<size_t>(n - 1);
    std::u16string next = n < novel.chapters.count ? novel.chapters.ChapterUrl[i + 1] : u"";
    return {&window,
            novel.site,
            novel.chapters.ChapterName[i],
            novel.chapters.ChapterUrl[i],
            novel.folder + u"/" + ChapterPageName(n),
            novel.contentsUrl,
            std::move(next),
            &job};
}

// Writes every placeholder page and queues its task on a pool, then waits for all of them.
void DownloadChapters(WindowPort& window, const std::u16string& programFolder, NovelPages& novel,
                      ChapterJob& job) {
    auto pool = std::make_unique<CWorkerPool>(kChapterWorkers);
    // Chapter n is queued 20 ms after chapter n - 1 counted from the first, not from whenever
    // the one before was queued: the time spent writing placeholders, and a sleep that wakes
    // late on a busy machine, do not add up over thousands of chapters.
    auto start = std::chrono::steady_clock::now();
    for (int n = 1; n <= novel.chapters.count; ++n) {
        ChapterTask task = MakeChapterTask(window, novel, n, job);
        WritePlaceholderPage(programFolder, novel, n, task);
        pool->QueueTask([task = std::move(task)] { RunChapterTask(task); });
        std::this_thread::sleep_until(start + n * kQueuePause);
    }
    pool->Drain();
    pool->WaitAllExited();
}

// The last status line of a job that got as far as the chapters; `note` says what else went
// wrong on the way (a contents list cut short).
std::u16string FinalMessage(bool shelved, const ChapterJob& job, const CSiteRule& rule,
                            const std::u16string& note) {
    // The pages are there, but a novel the bookshelf does not list must not end as a plain
    // finished download.
    std::u16string message = shelved ? u"下载完成！ " : u"下载完成，但本书未能加入书架！";
    if (job.Tally.Failed > 0) {
        message += u"其中 " + DecimalText(job.Tally.Failed) +
                   u" 章下载失败，可打开这些章节，点击“重新下载本章”再试。";
    }
    message += note;
    if (job.BlockedChapters.load() > 0) {
        message += BlockedSiteMessage(rule);
    }
    return message;
}

// Fetches the information page into `info` and, unless it holds the contents itself, the first
// contents page; false after a stop.
bool FetchFirstContentsPage(WindowPort& window, const NovelPages& novel,
                            std::set<std::u16string>& fetched, NovelInfo& info,
                            internal::SitePage& contents) {
    const internal::SiteAccess& site = *novel.site;
    window.SetStatusText(u"正在提取小说信息……");
    fetched.insert(novel.hit.InfoPageUrl);
    internal::SitePage infoPage = internal::FetchSitePage(site, novel.hit.InfoPageUrl, u"");
    if (!infoPage.Ok()) {
        Stop(window, infoPage.Blocked ? BlockedSiteMessage(site.Rule)
                                      : u"无法打开目标站小说信息页，下载中止!");
        return false;
    }
    fetched.insert(infoPage.Url);
    ExtractNovelInfo(site.Rule.InfoPage, infoPage.Text, info);
    window.SetStatusText(u"正在提取小说目录，可能需要几秒钟……");
    // A rule without a contents address has the chapters listed on the information page.
    if (IsBlank(site.Rule.InfoPage.ContentsUrl)) {
        contents = std::move(infoPage);
        return true;
    }
    CompleteUrl(infoPage.Url, info.ContentsUrl);
    fetched.insert(info.ContentsUrl);
    contents = internal::FetchSitePage(site, info.ContentsUrl, infoPage.Url);
    if (!contents.Ok()) {
        Stop(window, contents.Blocked ? BlockedSiteMessage(site.Rule)
                                      : u"无法打开目标站小说目录页，下载中止！");
        return false;
    }
    return true;
}

// Reads the chapter list from every contents page into `novel`; false after a stop. `note`
// receives what the final status line must add: which contents page could not be read.
bool ReadChapterList(WindowPort& window, NovelPages& novel, std::set<std::u16string>& fetched,
                     const internal::SitePage& first, std::u16string& note) {
    window.SetStatusText(u"正在提取小说章节，可能需要几秒钟……");
    auto announce = [&](int n) {
        window.SetStatusText(u"正在读取目录第 " + DecimalText(n) + u" 页……");
    };
    internal::NovelContents contents =
        internal::ReadContentsPages(*novel.site, first, fetched, announce);
    novel.chapters = std::move(contents.Chapters);
    // So many chapters come from a pattern that matches almost anywhere, not from a novel.
    if (contents.End == internal::ContentsEnd::TooManyChapters) {
        Stop(window, u"目录页提取到的章节超过 " + DecimalText(kMaxListEntries) +
                         u" 个，请检查规则文件，下载中止！");
        return false;
    }
    // A site that refuses a contents page would refuse the chapters too.
    if (contents.End == internal::ContentsEnd::Blocked) {
        Stop(window, BlockedSiteMessage(novel.site->Rule));
        return false;
    }
    if (novel.chapters.count == 0) {
        Stop(window, u"在目标站目录页提取到 0 个章节，请更换目标站进行下载，下载中止！");
        return false;
    }
    if (contents.End == internal::ContentsEnd::CutShort) {
        note = ContentsCutMessage(contents.PagesRead + 1);
        window.SetStatusText(note);
    }
    return true;
}

void RunDownload(WindowPort& window, const std::u16string& programFolder,
                 ChapterProgress progress) {
    NovelPages novel;
    ResultRow row = window.ResultRowTexts(window.FirstSelectedResultRow());
    if (!FindSearchHit(programFolder, row, novel.hit)) {
        Stop(window, u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！");
        return;
    }
    novel.site = std::make_shared<const internal::SiteAccess>(
        internal::MakeSiteAccess(LoadSiteRule(novel.hit.RuleFile)));
    const CSiteRule& rule = novel.site->Rule;
    // Every address asked for or redirected to, so that no contents page is read twice.
    std::set<std::u16string> fetched;
    NovelInfo info;
    internal::SitePage contents;
    if (!FetchFirstContentsPage(window, novel, fetched, info, contents)) {
        return;
    }
    novel.contentsUrl = contents.Url;
    std::u16string note;
    if (!ReadChapterList(window, novel, fetched, contents, note)) {
        return;
    }
    std::u16string rows = ContentsRows(novel);
    window.SetStatusText(u"小说目录提取完成！");
    if (novel.chapters.count % 2 == 1) {
        rows += ContentsClosingCell();
    }
    // Without a name from the information page the listed name keeps novels apart.
    std::u16string pageName = info.NovelName.empty() ? novel.hit.NovelName : info.NovelName;
    novel.folder = NovelFolderPath(programFolder, rule.SiteName, pageName);
    std::u16string contentsPath = WriteContentsPage(programFolder, novel, rows);
    window.NavigateAsync(contentsPath);
    bool shelved = AddBook(window, programFolder, rule.SiteName, pageName, contentsPath);
    // Each job has its own lock, so a second job can neither delete it under this one's tasks
    // nor wait on them.
    ChapterJob job;
    job.Tally.Total = novel.chapters.count;
    job.Progress = std::move(progress);
    DownloadChapters(window, programFolder, novel, job);
    window.SetStatusText(FinalMessage(shelved, job, rule, note));
}

} // namespace

void NovelDownloadJob(WindowPort* window, std::u16string programFolder) {
    RunDownload(*window, programFolder, {});
}

void NovelDownloadJobWithProgress(WindowPort* window, std::u16string programFolder,
                                  ChapterProgress progress) {
    RunDownload(*window, programFolder, std::move(progress));
}

void StartNovelDownload(WindowPort& window, const std::u16string& programFolder) {
    window.ShowWaitPage();
    window.SetViewMode(ViewMode::Reading);
    std::thread(NovelDownloadJob, &window, programFolder).detach();
}

} // namespace velunor
