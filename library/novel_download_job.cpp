// The novel download job.

#include "library/novel_download_job.h"

#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/chapter_task.h"
#include "library/library_layout.h"
#include "net/fetcher.h"
#include "pool/worker_pool.h"
#include "rules/rules.h"
#include "xml/xml_document.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace velunor {
namespace {

constexpr int kChapterWorkers = 5;
constexpr auto kQueuePause = std::chrono::milliseconds(20);

// Everything the chapter pages of one job are made from.
struct NovelPages {
    SearchHit hit;
    CSiteRule rule;
    ChapterList chapters;
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

// Fetches a page of the novel; empty with `ok` false when the site did not answer 200.
std::u16string FetchNovelPage(const CSiteRule& rule, const std::u16string& url, bool& ok) {
    FetchResult result;
    std::u16string page = FetchPage(result, url);
    ok = result.StatusCode == 200;
    if (!ok) {
        return {};
    }
    if (IsUtf8Site(rule)) {
        page = ReinterpretAsUtf8(page);
    }
    return page;
}

// Makes every chapter link absolute against the contents address and builds the table rows.
std::u16string ContentsRows(NovelPages& novel, const std::u16string& contentsUrl) {
    std::u16string rows;
    int count = novel.chapters.count;
    for (int n = 1; n <= count; ++n) {
        size_t i = static_cast<size_t>(n - 1);
        CompleteUrl(contentsUrl, novel.chapters.ChapterUrl[i]);
        rows += ContentsRow(n, novel.chapters.ChapterName[i]);
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
    WritePage(novel.encoding, task.PageFile, page);
}

// Writes every placeholder page and queues its task, then waits for all of them.
void DownloadChapters(WindowPort& window, const std::u16string& programFolder, NovelPages& novel) {
    // Each job has its own lock, so a second job can neither delete it under this one's tasks
    // nor wait on them.
    std::mutex downloadLock;
    auto pool = std::make_unique<CWorkerPool>(kChapterWorkers);
    for (int n = 1; n <= novel.chapters.count; ++n) {
        size_t i = static_cast<size_t>(n - 1);
        ChapterTask task{&window,
                         novel.rule.ChapterContent,
                         novel.rule.ReplaceRule,
                         novel.rule.Charset,
                         novel.chapters.ChapterName[i],
                         novel.chapters.ChapterUrl[i],
                         novel.folder + u"/" + ChapterPageName(n),
                         &downloadLock};
        WritePlaceholderPage(programFolder, novel, n, task);
        pool->QueueTask([task = std::move(task)] { RunChapterTask(task); });
        std::this_thread::sleep_for(kQueuePause);
    }
    pool->Drain();
    pool->WaitAllExited();
    window.SetStatusText(u"下载完成！ ");
}

void RunDownload(WindowPort& window, const std::u16string& programFolder) {
    NovelPages novel;
    ResultRow row = window.ResultRowTexts(window.FirstSelectedResultRow());
    if (!FindSearchHit(programFolder, row, novel.hit)) {
        Stop(window, u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！");
        return;
    }
    novel.rule = LoadSiteRule(novel.hit.RuleFile);
    window.SetStatusText(u"正在提取小说信息……");
    bool ok = false;
    std::u16string infoPage = FetchNovelPage(novel.rule, novel.hit.InfoPageUrl, ok);
    if (!ok) {
        Stop(window, u"无法打开目标站小说信息页，下载中止!");
        return;
    }
    NovelInfo info;
    ExtractNovelInfo(novel.rule.InfoPage, infoPage, info);
    CompleteUrl(novel.hit.InfoPageUrl, info.ContentsUrl);
    window.SetStatusText(u"正在提取小说目录，可能需要几秒钟……");
    std::u16string contentsPage = FetchNovelPage(novel.rule, info.ContentsUrl, ok);
    if (!ok) {
        Stop(window, u"无法打开目标站小说目录页，下载中止！");
        return;
    }
    window.SetStatusText(u"正在提取小说章节，可能需要几秒钟……");
    if (ExtractChapterList(novel.rule.ContentsPage, contentsPage, novel.chapters) == 0) {
        Stop(window, u"在目标站目录页提取到 0 个章节，请更换目标站进行下载，下载中止！");
        return;
    }
    std::u16string rows = ContentsRows(novel, info.ContentsUrl);
    window.SetStatusText(u"小说目录提取完成！");
    if (novel.chapters.count % 2 == 1) {
        rows += ContentsClosingCell();
    }
    // Without a name from the information page the listed name keeps novels apart.
    std::u16string pageName = info.NovelName.empty() ? novel.hit.NovelName : info.NovelName;
    novel.folder = NovelFolderPath(programFolder, novel.rule.SiteName, pageName);
    std::u16string contentsPath = WriteContentsPage(programFolder, novel, rows);
    window.NavigateAsync(contentsPath);
    AddBook(window, programFolder, novel.rule.SiteName, pageName, contentsPath);
    DownloadChapters(window, programFolder, novel);
}

} // namespace

void NovelDownloadJob(WindowPort* window, std::u16string programFolder) {
    RunDownload(*window, programFolder);
}

void StartNovelDownload(WindowPort& window, const std::u16string& programFolder) {
    window.ShowWaitPage();
    window.SetViewMode(ViewMode::Reading);
    std::thread(NovelDownloadJob, &window, programFolder).detach();
}

} // namespace velunor
