// The novel jobs: download, update and retry.

#include "library/novel_download_job.h"

#include "core/core.h"
#include "library/book_shelf_file.h"
#include "library/chapter_task.h"
#include "library/contents_page.h"
#include "library/internal/chapter_fetch.h"
#include "library/internal/novel_claim.h"
#include "library/internal/shelved_novel.h"
#include "library/library_layout.h"
#include "library/novel_index.h"
#include "net/cookie_jar.h"
#include "pool/worker_pool.h"
#include "results/search_result_file.h"
#include "rules/rules.h"
#include "site/site.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <thread>
#include <unordered_map>

namespace velunor {
namespace {

constexpr int kChapterWorkers = 5;
constexpr auto kQueuePause = std::chrono::milliseconds(20);

// What the job knows of the novel's site and contents once it has read them.
struct SiteContents {
    std::shared_ptr<const Site> site;
    NovelInfo info;
    ChapterList chapters;
    // The first contents page's final address.
    std::u16string contentsUrl;
    // What the final status line must add: which contents page could not be read.
    std::u16string note;
};

constexpr std::u16string_view kNoIndexMessage =
    u"本书由旧版本下载，没有章节索引，请重新搜索本书并打开，即可更新。";

// Shows the result list again with `message` on the status line.
void Stop(WindowPort& window, const std::u16string& message) {
    window.SetStatusText(message);
    window.SetViewMode(ViewMode::SearchResults);
}

// The hit of result row `row` of the last search: the row's own number, which stays with it
// however the list is sorted, is its place in the result file. False when there is none.
bool FindSearchHit(const std::u16string& programFolder, const ResultRow& row, SearchHit& hit) {
    long long number = 0;
    if (!ParseDecimal(row.Number, number) || number < 1) {
        return false;
    }
    std::vector<SearchHit> hits = ReadSearchHits(programFolder);
    if (static_cast<size_t>(number) > hits.size()) {
        return false;
    }
    hit = std::move(hits[static_cast<size_t>(number - 1)]);
    // A row of another search than the one in the file is no row of this hit.
    return hit.TargetSite == row.SiteName && hit.NovelName == row.NovelName &&
           hit.NovelAuthor == row.NovelAuthor;
}

// `message` with why the site failed, for the status line.
std::u16string WithReason(std::u16string message, const SiteError& error) {
    if (error.Kind == SiteErrorKind::Refused) {
        return message;
    }
    return message + u"原因：" + ReaderReason(error) + u"。";
}

// The status line for a contents list whose page `failedPage` could not be fetched.
std::u16string ContentsCutMessage(int failedPage, const SiteError& error) {
    return WithReason(u"目录第 " + DecimalText(failedPage) + u" 页无法打开，只读取了前 " +
                          DecimalText(failedPage - 1) + u" 页目录。",
                      error);
}

// Stops the job because the site failed at `error`, saying why.
void StopAtSite(WindowPort& window, const Site& site, const std::u16string& message,
                const SiteError& error, NovelJobOutcome& outcome) {
    outcome.Error = error;
    Stop(window,
         error.Kind == SiteErrorKind::Refused ? site.BlockedMessage() : WithReason(message, error));
}

// Fetches the information page at `infoPageUrl` into `contents.info` and, unless it holds the
// contents itself, the first contents page; false after a stop.
bool FetchFirstContentsPage(WindowPort& window, const std::u16string& infoPageUrl,
                            VisitedAddresses& visited, SiteContents& contents, SitePage& first,
                            NovelJobOutcome& outcome) {
    const Site& site = *contents.site;
    window.SetStatusText(u"正在提取小说信息……");
    NovelInfoPage info = ReadInfoPage(site, infoPageUrl, visited);
    if (!info.Page.Ok()) {
        StopAtSite(window, site, u"无法打开目标站小说信息页，下载中止!", info.Page.Error, outcome);
        return false;
    }
    contents.info = info.Info;
    window.SetStatusText(u"正在提取小说目录，可能需要几秒钟……");
    first = FirstContentsPage(site, info, visited);
    if (!first.Ok()) {
        StopAtSite(window, site, u"无法打开目标站小说目录页，下载中止！", first.Error, outcome);
        return false;
    }
    return true;
}

// Reads the chapter list from every contents page into `contents`; false after a stop.
bool ReadChapterList(WindowPort& window, VisitedAddresses& visited, const SitePage& first,
                     SiteContents& contents, NovelJobOutcome& outcome) {
    window.SetStatusText(u"正在提取小说章节，可能需要几秒钟……");
    auto announce = [&](int n) {
        window.SetStatusText(u"正在读取目录第 " + DecimalText(n) + u" 页……");
    };
    NovelContents read = ReadContentsPages(*contents.site, first, visited, announce);
    contents.chapters = std::move(read.Chapters);
    // So many chapters come from a pattern that matches almost anywhere, not from a novel.
    if (read.End == ContentsEnd::TooManyChapters) {
        outcome.Error = MakeSiteError(SiteErrorKind::Limit, first.Url);
        Stop(window, u"目录页提取到的章节超过 " + DecimalText(kMaxListEntries) +
                         u" 个，请检查规则文件，下载中止！");
        return false;
    }
    // A site that refuses a contents page would refuse the chapters too.
    if (read.End == ContentsEnd::Blocked) {
        outcome.Error = read.Error;
        Stop(window, contents.site->BlockedMessage());
        return false;
    }
    if (contents.chapters.count == 0) {
        outcome.Error = MakeSiteError(SiteErrorKind::NoMatch, first.Url);
        // The finder says why it trusted nothing on the page rather than that the list is empty.
        Stop(window, !read.Refusal.empty()
                         ? read.Refusal
                         : u"在目标站目录页提取到 0 个章节，请更换目标站进行下载，下载中止！");
        return false;
    }
    if (read.End == ContentsEnd::CutShort) {
        contents.note = ContentsCutMessage(read.PagesRead + 1, read.Error);
        window.SetStatusText(contents.note);
    }
    return true;
}

// Reads the information page and every contents page of the novel; false after a stop.
bool ReadSiteContents(WindowPort& window, const std::u16string& infoPageUrl, SiteContents& contents,
                      NovelJobOutcome& outcome) {
    VisitedAddresses visited;
    SitePage first;
    if (!FetchFirstContentsPage(window, infoPageUrl, visited, contents, first, outcome)) {
        return false;
    }
    contents.contentsUrl = first.Url;
    if (!ReadChapterList(window, visited, first, contents, outcome)) {
        return false;
    }
    window.SetStatusText(u"小说目录提取完成！");
    return true;
}

// The novel's chapters in the contents' order: a chapter the index holds already (matched by
// address) keeps its page and state, and takes the name and volume the site gives it now; a
// new one gets the next page number and is pending.
void MergeChapters(const ChapterList& listed, NovelIndex& index) {
    std::unordered_map<std::u16string, size_t> known;
    for (size_t i = 0; i < index.Chapters.size(); ++i) {
        known.emplace(index.Chapters[i].Url, i);
    }
    std::vector<IndexedChapter> merged;
    merged.reserve(listed.ChapterUrl.size());
    for (size_t i = 0; i < listed.ChapterUrl.size(); ++i) {
        auto found = known.find(listed.ChapterUrl[i]);
        IndexedChapter chapter;
        if (found != known.end()) {
            chapter = index.Chapters[found->second];
            // Each stored chapter is taken once; the contents come with repeats already dropped
            // (a chapter keeps its last place).
            known.erase(found);
        } else {
            chapter.Page = index.NextPage++;
            chapter.Url = listed.ChapterUrl[i];
        }
        chapter.Name = listed.ChapterName[i];
        merged.push_back(std::move(chapter));
    }
    index.Chapters = std::move(merged);
    index.Volumes = listed.Volumes;
}

// The pages the "上一章" and "下一章" links of the chapter at `position` lead to.
std::pair<std::u16string, std::u16string> Neighbours(const NovelIndex& index, size_t position) {
    const std::u16string contents(kContentsPageName);
    const auto& chapters = index.Chapters;
    return {position == 0 ? contents : ChapterPageName(chapters[position - 1].Page),
            position + 1 >= chapters.size() ? contents
                                            : ChapterPageName(chapters[position + 1].Page)};
}

// The neighbours of every page of `index`, by page number.
std::map<int, std::pair<std::u16string, std::u16string>> LinksByPage(const NovelIndex& index) {
    std::map<int, std::pair<std::u16string, std::u16string>> links;
    for (size_t i = 0; i < index.Chapters.size(); ++i) {
        links.emplace(index.Chapters[i].Page, Neighbours(index, i));
    }
    return links;
}

// The templates a job makes its pages from, and the encoding its pages are written in: the one
// the chapter page template was read in.
struct PageTemplates {
    std::u16string encoding{kPageEncoding};
    std::u16string page;
    std::u16string contents;
};

// Everything one run of a job works with.
struct NovelRun {
    NovelRun(WindowPort& jobWindow, const std::u16string& program, std::u16string novelFolder,
             std::shared_ptr<const Site> novelSite, std::u16string contents)
        : window(jobWindow), programFolder(program), folder(std::move(novelFolder)),
          site(std::move(novelSite)), contentsUrl(std::move(contents)) {}

    WindowPort& window;
    const std::u16string& programFolder;
    std::u16string folder;
    std::shared_ptr<const Site> site;
    std::u16string contentsUrl;
    PageTemplates templates;
    // Opened from a search hit: the window shows the waiting page until the contents page is
    // written, whether the novel is new or on the shelf already.
    bool showContents = false;
    // True once the job is asked to stop: by a delete of the novel or by its caller.
    CancelTest stopped;
};

ChapterPageFields PageFields(const NovelRun& run, const NovelIndex& index, size_t position) {
    const IndexedChapter& chapter = index.Chapters[position];
    auto [prev, next] = Neighbours(index, position);
    std::u16string path = run.folder + u"/" + ChapterPageName(chapter.Page);
    return {index.RuleFile,  chapter.Url,  StoredLibraryPath(run.programFolder, path),
            index.NovelName, chapter.Name, std::move(prev),
            std::move(next)};
}

// Rewrites a stored chapter's page around its text, so that its links lead to its neighbours
// in the order the site lists the chapters now. A page without a chapter text block (written
// before pages had one) is left as it is. False when the page could not be written.
bool MendLinks(NovelRun& run, const NovelIndex& index, size_t position) {
    std::u16string path = run.folder + u"/" + ChapterPageName(index.Chapters[position].Page);
    std::u16string encoding(kPageEncoding);
    std::u16string page;
    std::u16string text;
    if (!ReadPage(encoding, path, page) || !ChapterTextOfPage(page, text)) {
        return true;
    }
    return WritePage(encoding, path,
                     ComposeChapterPage(run.templates.page, PageFields(run, index, position),
                                        kStateStored, text));
}

// Mends the links of every stored page whose neighbours are not those it had; returns how many
// pages could not be written.
int MendStoredPages(NovelRun& run, const NovelIndex& before, const NovelIndex& after) {
    auto linked = LinksByPage(before);
    int unwritten = 0;
    for (size_t i = 0; i < after.Chapters.size(); ++i) {
        const IndexedChapter& chapter = after.Chapters[i];
        auto was = linked.find(chapter.Page);
        if (chapter.IsFinished() && (was == linked.end() || was->second != Neighbours(after, i)) &&
            !MendLinks(run, after, i)) {
            ++unwritten;
        }
    }
    return unwritten;
}

std::u16string ContentsPagePath(const NovelRun& run) {
    return run.folder + u"/" + std::u16string(kContentsPageName);
}

// Writes the contents page in the index's order; a chapter that is not stored is marked once
// the job is over. False when it could not be written.
bool WriteContentsPage(NovelRun& run, const NovelIndex& index, bool running) {
    std::u16string encoding = run.templates.encoding;
    return WritePage(encoding, ContentsPagePath(run),
                     ComposeContentsPage(run.templates.contents, index, running));
}

ChapterTask MakeChapterTask(const NovelRun& run, const NovelIndex& index, size_t position,
                            ChapterJob& job) {
    ChapterTask task;
    task.Site = run.site;
    task.Fields = PageFields(run, index, position);
    task.PagePath = run.folder + u"/" + ChapterPageName(index.Chapters[position].Page);
    task.Position = position;
    task.ContentsUrl = run.contentsUrl;
    if (position + 1 < index.Chapters.size()) {
        task.NextChapterUrl = index.Chapters[position + 1].Url;
    }
    task.Job = &job;
    return task;
}

// Writes the pending page of each chapter to fetch and queues its task on a pool, then waits
// for all of them.
void FetchChapters(NovelRun& run, const NovelIndex& index, const std::vector<size_t>& positions,
                   ChapterJob& job) {
    auto pool = std::make_unique<CWorkerPool>(kChapterWorkers);
    // Chapter n is queued 20 ms after chapter n - 1 counted from the first, not from whenever
    // the one before was queued: the time spent writing pages, and a sleep that wakes late on a
    // busy machine, do not add up over thousands of chapters.
    auto start = std::chrono::steady_clock::now();
    int queued = 0;
    for (size_t position : positions) {
        ChapterTask task = MakeChapterTask(run, index, position, job);
        WritePendingPage(task);
        // A stopped job still writes every pending page its contents page links to.
        if (job.StopAsked()) {
            continue;
        }
        pool->QueueTask([task = std::move(task)] { RunChapterTask(task); });
        std::this_thread::sleep_until(start + ++queued * kQueuePause);
    }
    pool->Drain();
    pool->WaitAllExited();
}

// Reads the template `name` into `text`; why it cannot be used (it cannot be read, is empty or
// lacks one of the placeholders `needed`), or empty when it can.
std::u16string ReadTemplate(const std::u16string& programFolder, std::u16string_view name,
                            std::span<const std::u16string_view> needed, std::u16string& encoding,
                            std::u16string& text) {
    std::u16string shown = TemplatePath({}, name);
    if (!ReadPage(encoding, TemplatePath(programFolder, name), text)) {
        return u"无法读取页面模板 " + shown + u"，下载中止！";
    }
    if (text.empty()) {
        return u"页面模板 " + shown + u" 是空的，下载中止！";
    }
    for (std::u16string_view placeholder : needed) {
        if (text.find(placeholder) == std::u16string::npos) {
            return u"页面模板 " + shown + u" 缺少 " + std::u16string(placeholder) + u"，下载中止！";
        }
    }
    return {};
}

// Reads the two page templates before a job writes anything; why one cannot be used, or empty.
std::u16string ReadTemplates(const std::u16string& programFolder, PageTemplates& templates) {
    std::u16string contentsEncoding(kPageEncoding);
    std::u16string unusable =
        ReadTemplate(programFolder, u"ContentPage.html", kChapterTemplateNeeds, templates.encoding,
                     templates.page);
    if (unusable.empty()) {
        unusable = ReadTemplate(programFolder, kContentsPageName, kContentsTemplateNeeds,
                                contentsEncoding, templates.contents);
    }
    return unusable;
}

std::u16string ImagesFolder(const NovelRun& run) {
    return run.folder + u"/images";
}

// Makes the novel folder and its images folder. A link in the place of the site, novel or
// images folder is replaced by a real folder, so that no page or image is written through it
// to wherever it leads. False when a folder cannot be made.
bool MakeNovelFolder(const NovelRun& run) {
    return CreateRealFolderPath(NovelRootFolder(run.programFolder), ImagesFolder(run));
}

enum class JobKind { Download, Update, Retry };

// The last status line of a job that got as far as the chapters.
std::u16string FinalMessage(JobKind kind, const NovelJobOutcome& outcome, bool shelved) {
    std::u16string failed = DecimalText(outcome.FailedChapters);
    if (kind == JobKind::Retry) {
        return u"重新下载完成：重新下载 " + DecimalText(outcome.RefetchedChapters) + u" 章，失败 " +
               failed + u" 章。";
    }
    if (kind == JobKind::Update) {
        return u"更新完成：新增 " + DecimalText(outcome.NewChapters) + u" 章，重新下载 " +
               DecimalText(outcome.RefetchedChapters) + u" 章，失败 " + failed + u" 章。";
    }
    // The pages are there, but a novel the bookshelf does not list must not end as a plain
    // finished download.
    std::u16string message = shelved ? u"下载完成！ " : u"下载完成，但本书未能加入书架！";
    if (outcome.FailedChapters > 0) {
        message += u"其中 " + failed + u" 章下载失败，可在书架上右键选择“重新下载失败章节”。";
    }
    return message;
}

// The last status line of a job that was stopped during its chapters.
std::u16string StoppedMessage(const NovelJobOutcome& outcome, const ChapterJob& job) {
    int pending = job.Tally.Total - job.Tally.Done;
    return u"已停止：下载了 " + DecimalText(job.Tally.Done - outcome.FailedChapters) +
           u" 章，失败 " + DecimalText(outcome.FailedChapters) + u" 章，其余 " +
           DecimalText(pending) + u" 章留待下次更新。";
}

// Brings the novel of `run.folder` from `before` (its index as it was; no chapters for a new
// novel) to `after` (the chapters as the site lists them now, or as before for a retry):
// writes the contents page and the index, mends the links of stored pages, puts the novel on
// the shelf and fetches every chapter of `after` that is not stored.
NovelJobOutcome SyncNovel(NovelRun& run, JobKind kind, const NovelIndex& before, NovelIndex after,
                          const std::u16string& note) {
    NovelJobOutcome outcome;
    // The chapters of a first download are not new to the reader; those of later updates are.
    if (kind == JobKind::Download) {
        after.NewFrom = after.NextPage;
    }
    std::set<int> known;
    for (const IndexedChapter& chapter : before.Chapters) {
        known.insert(chapter.Page);
    }
    std::vector<size_t> toFetch;
    for (size_t i = 0; i < after.Chapters.size(); ++i) {
        IndexedChapter& chapter = after.Chapters[i];
        if (chapter.IsFinished()) {
            continue;
        }
        toFetch.push_back(i);
        ++(known.count(chapter.Page) > 0 ? outcome.RefetchedChapters : outcome.NewChapters);
        chapter.State = ChapterState::Pending;
        chapter.Reason.clear();
    }
    std::u16string imagesFolder = ImagesFolder(run);
    if (!MakeNovelFolder(run)) {
        outcome.Error = MakeSiteError(SiteErrorKind::WriteFailed, imagesFolder);
        Stop(run.window, u"无法创建本书的文件夹 " + imagesFolder +
                             u"，请检查 Novel 文件夹是否可写，下载中止！");
        return outcome;
    }
    int unmended = MendStoredPages(run, before, after);
    std::u16string contentsPath = ContentsPagePath(run);
    bool contentsWritten = WriteContentsPage(run, after, true);
    CIndexRecorder recorder(run.folder, after);
    bool indexed = recorder.Flush();
    if (run.showContents) {
        run.window.NavigateAsync(contentsPath);
    }
    bool shelved = AddBook(run.window, run.programFolder,
                           {after.SiteName, after.NovelName, contentsPath,
                            ResolveRuleFile(run.programFolder, after.RuleFile), after.InfoPageUrl,
                            after.FoundByFinder});
    outcome.ReachedChapters = true;
    ChapterJob job(run.window, recorder, run.templates.page, run.templates.encoding,
                   static_cast<int>(toFetch.size()), run.stopped);
    run.window.ShowDownloadProgress(0, job.Tally.Total, 0);
    FetchChapters(run, after, toFetch, job);
    indexed = recorder.Flush() && indexed;
    contentsWritten = WriteContentsPage(run, recorder.Snapshot(), false) && contentsWritten;
    outcome.FailedChapters = job.Tally.Failed;
    outcome.Failures = job.TakeFailures();
    bool written = indexed && contentsWritten && unmended == 0;
    outcome.Troubled = !shelved || !written || !note.empty() || job.BlockedChapters.load() > 0;
    outcome.Stopped = job.StopAsked();
    std::u16string message =
        (outcome.Stopped ? StoppedMessage(outcome, job) : FinalMessage(kind, outcome, shelved)) +
        note;
    if (!indexed) {
        message += u"无法写入本书的章节索引 " + std::u16string(kNovelIndexName) + u"。";
    }
    if (!contentsWritten) {
        message += u"无法写入本书的目录页 " + std::u16string(kContentsPageName) + u"。";
    }
    if (unmended > 0) {
        message += u"有 " + DecimalText(unmended) + u" 个章节页面的前后链接无法改写。";
    }
    if (job.BlockedChapters.load() > 0) {
        message += run.site->BlockedMessage();
    }
    run.window.SetStatusText(message);
    run.window.NovelJobEnded(run.folder);
    return outcome;
}

// The shelf entry that opens the novel in `folder`; false when the shelf lists none.
bool FindShelfEntryOfFolder(const std::u16string& programFolder, const std::u16string& folder,
                            BookEntry& found) {
    for (BookEntry& entry : ReadBookShelf(programFolder)) {
        if (NovelFolderOfContentsPage(entry.ContentsPagePath) == folder) {
            found = std::move(entry);
            return true;
        }
    }
    return false;
}

// What the shelf knows of the novel in `folder` that its pages do not record: its site, name,
// information page and the rule file it lists now.
void TakeShelfEntry(const std::u16string& programFolder, const std::u16string& folder,
                    NovelIndex& index) {
    BookEntry entry;
    if (!FindShelfEntryOfFolder(programFolder, folder, entry)) {
        return;
    }
    index.SiteName = entry.TargetSite;
    index.NovelName = entry.NovelName;
    index.InfoPageUrl = entry.InfoPageUrl;
    if (!entry.RuleFile.empty()) {
        index.RuleFile = StoredRuleFile(programFolder, entry.RuleFile);
    }
}

// Keeps the damaged index file of `folder` aside and writes in its place the index made from
// the pages and the shelf entry, so that later jobs start from it too; the status line says
// so. False, with `why` for the status line, when either cannot be done: then nothing changed.
bool RebuildDamagedIndex(WindowPort& window, const std::u16string& programFolder,
                         const std::u16string& folder, NovelIndex& index, std::u16string& why) {
    const std::u16string damaged =
        u"本书的章节索引 " + std::u16string(kNovelIndexName) + u" 已损坏，";
    index = IndexFromPages(folder);
    TakeShelfEntry(programFolder, folder, index);
    std::u16string path = NovelIndexPath(folder);
    std::u16string aside = MoveDamagedFileAside(path);
    if (aside.empty()) {
        why = damaged + u"且无法另存原文件，未做任何改动！";
        return false;
    }
    if (!SaveNovelIndex(folder, index)) {
        std::rename(NativePath(aside).c_str(), NativePath(path).c_str());
        why = damaged + u"且无法写入重建的索引，未做任何改动！";
        return false;
    }
    window.SetStatusText(damaged + u"原文件已保留为 " + aside.substr(folder.size() + 1) +
                         u"，已按章节页面重建索引。");
    return true;
}

// How a job found the index of its novel folder.
enum class FolderIndex { Read, Missing, Unusable };

// Reads the index of `folder` for a job, a damaged one made again from the pages (see
// RebuildDamagedIndex); Unusable, with `why` for the status line, when it cannot be. Stored
// chapters whose pages are lost are pending again, and chapters whose pages hold their text
// although the index does not say so yet (the job was cut short) count as stored.
FolderIndex LoadFolderIndex(WindowPort& window, const std::u16string& programFolder,
                            const std::u16string& folder, NovelIndex& index, std::u16string& why) {
    if (!LoadNovelIndex(folder, index)) {
        if (!HasIndexFile(folder)) {
            return FolderIndex::Missing;
        }
        if (!RebuildDamagedIndex(window, programFolder, folder, index, why)) {
            return FolderIndex::Unusable;
        }
    }
    CheckStoredPages(folder, index);
    ReconcileWithPages(folder, index);
    return FolderIndex::Read;
}

// True when `index` (of an existing folder) is of the novel at `infoPageUrl`, or of no novel
// known (a folder written before novels had an index, or an empty one).
bool IsIndexOf(const NovelIndex& index, const std::u16string& infoPageUrl) {
    return index.InfoPageUrl.empty() || index.InfoPageUrl == infoPageUrl;
}

// The folder a novel not on the shelf goes to: the one named after it, unless that one holds
// another novel of the same name; then the name with the author, and a number after that.
std::u16string FolderForNewNovel(const std::u16string& programFolder, const std::u16string& site,
                                 const std::u16string& name, const std::u16string& author,
                                 const std::u16string& infoPageUrl) {
    std::u16string withAuthor = author.empty() ? name : name + u"（" + author + u"）";
    for (int n = 1;; ++n) {
        std::u16string pageName = n == 1   ? name
                                  : n == 2 ? withAuthor
                                           : withAuthor + u" " + DecimalText(n - 1);
        std::u16string folder = NovelFolderPath(programFolder, site, pageName);
        NovelIndex index;
        if (!LoadNovelIndex(folder, index) || IsIndexOf(index, infoPageUrl)) {
            return folder;
        }
    }
}

} // namespace

NovelJobOutcome DownloadSearchHit(WindowPort& window, const std::u16string& programFolder,
                                  const SearchHit& hit) {
    return DownloadNovelFromSite(window, programFolder, hit, Site::FromRuleFile(hit.RuleFile));
}

NovelJobOutcome DownloadNovelFromSite(WindowPort& window, const std::u16string& programFolder,
                                      const SearchHit& hit, std::shared_ptr<const Site> site) {
    PageTemplates templates;
    std::u16string unusable = ReadTemplates(programFolder, templates);
    if (!unusable.empty()) {
        Stop(window, unusable);
        return {};
    }
    SiteContents contents;
    contents.site = std::move(site);
    NovelJobOutcome stopped;
    if (!ReadSiteContents(window, hit.InfoPageUrl, contents, stopped)) {
        return stopped;
    }
    const CSiteRule& rule = contents.site->Rule();
    // Without a name from the information page the listed name keeps novels apart.
    std::u16string name = contents.info.NovelName.empty() ? hit.NovelName : contents.info.NovelName;
    BookEntry shelved;
    bool onShelf = FindShelvedNovel(programFolder, hit.RuleFile, hit.InfoPageUrl, rule.SiteName,
                                    name, shelved);
    NovelRun run(window, programFolder,
                 onShelf ? NovelFolderOfContentsPage(shelved.ContentsPagePath)
                         : FolderForNewNovel(programFolder, rule.SiteName, name,
                                             contents.info.NovelAuthor, hit.InfoPageUrl),
                 contents.site, contents.contentsUrl);
    run.templates = std::move(templates);
    run.showContents = true;
    internal::CNovelClaim claim(programFolder, run.folder);
    if (!claim.Held()) {
        Stop(window, std::u16string(internal::kNovelBusyMessage));
        return {};
    }
    run.stopped = [&claim] { return claim.StopAsked(); };
    // Before the index is read, so that what the job reads is the folder it writes; a folder
    // that cannot be made is reported when the job comes to write it.
    MakeNovelFolder(run);
    NovelIndex before;
    FolderIndex found = LoadFolderIndex(window, programFolder, run.folder, before, unusable);
    if (found == FolderIndex::Unusable) {
        Stop(window, unusable);
        return {};
    }
    // A folder written before novels had an index, or none yet.
    if (found == FolderIndex::Missing) {
        before = IndexFromPages(run.folder);
    }
    NovelIndex after = before;
    after.RuleFile = StoredRuleFile(programFolder, hit.RuleFile);
    after.FoundByFinder = contents.site->UsesFinder();
    after.SiteName = onShelf ? shelved.TargetSite : rule.SiteName;
    after.NovelName = onShelf ? shelved.NovelName : name;
    after.NovelAuthor =
        contents.info.NovelAuthor.empty() ? hit.NovelAuthor : contents.info.NovelAuthor;
    after.NovelIntro = contents.info.NovelIntro;
    after.InfoPageUrl = hit.InfoPageUrl;
    after.ContentsUrl = contents.contentsUrl;
    MergeChapters(contents.chapters, after);
    JobKind kind = before.Chapters.empty() ? JobKind::Download : JobKind::Update;
    return SyncNovel(run, kind, before, std::move(after), contents.note);
}

namespace {

// The index of a shelved novel for an update or a retry; false, saying why, when the novel
// cannot be updated from it.
bool LoadShelvedIndex(WindowPort& window, const std::u16string& programFolder,
                      const std::u16string& folder, NovelIndex& index,
                      std::shared_ptr<const Site>& site) {
    std::u16string why;
    FolderIndex found = LoadFolderIndex(window, programFolder, folder, index, why);
    if (found != FolderIndex::Read) {
        window.SetStatusText(found == FolderIndex::Missing ? std::u16string(kNoIndexMessage) : why);
        return false;
    }
    site = internal::NovelSite(programFolder, index);
    // Without its chapter pattern a rule can fetch nothing: it is gone, or not a rule file.
    if (!site->UsesFinder() && site->Rule().ChapterContent.empty()) {
        window.SetStatusText(u"无法读取本书的规则文件 " + index.RuleFile + u"，未做任何改动！");
        return false;
    }
    return true;
}

// Reads the templates and the index of the shelved novel of `run.folder` for a job that holds
// its claim; false, saying why, when the job cannot go on.
bool OpenShelvedNovel(NovelRun& run, NovelIndex& before) {
    WindowPort& window = run.window;
    // A delete that came first has taken the entry: the folder must not be made again for a
    // novel no longer on the shelf.
    BookEntry shelved;
    if (!FindShelfEntryOfFolder(run.programFolder, run.folder, shelved)) {
        window.SetStatusText(u"本书已从书架删除，未做任何改动！");
        return false;
    }
    std::u16string unusable = ReadTemplates(run.programFolder, run.templates);
    if (!unusable.empty()) {
        window.SetStatusText(unusable);
        return false;
    }
    MakeNovelFolder(run);
    if (!LoadShelvedIndex(window, run.programFolder, run.folder, before, run.site)) {
        return false;
    }
    run.contentsUrl = before.ContentsUrl;
    return true;
}

NovelJobOutcome RunShelfJob(WindowPort& window, const std::u16string& programFolder,
                            const std::u16string& novelFolder, JobKind kind,
                            const CancelTest& stopAsked = {}) {
    internal::CNovelClaim claim(programFolder, novelFolder);
    if (!claim.Held()) {
        window.SetStatusText(std::u16string(internal::kNovelBusyMessage));
        return {};
    }
    NovelRun run(window, programFolder, novelFolder, {}, {});
    run.stopped = [&claim, &stopAsked] { return claim.StopAsked() || (stopAsked && stopAsked()); };
    NovelIndex before;
    if (!OpenShelvedNovel(run, before)) {
        return {};
    }
    if (kind == JobKind::Retry) {
        if (before.UnfinishedCount() == 0) {
            window.SetStatusText(u"本书没有未完成的章节。");
            NovelJobOutcome outcome;
            outcome.ReachedChapters = true;
            return outcome;
        }
        return SyncNovel(run, kind, before, before, {});
    }
    // An index made again from the pages of a novel the shelf does not know the address of.
    if (before.InfoPageUrl.empty()) {
        window.SetStatusText(u"本书的章节索引没有记录小说信息页，请重新搜索本书并打开，即可更新。");
        return {};
    }
    SiteContents contents;
    contents.site = run.site;
    NovelJobOutcome stopped;
    if (!ReadSiteContents(window, before.InfoPageUrl, contents, stopped)) {
        return stopped;
    }
    if (run.stopped()) {
        stopped.Stopped = true;
        window.SetStatusText(u"已停止，未做任何改动。");
        return stopped;
    }
    run.contentsUrl = contents.contentsUrl;
    NovelIndex after = before;
    after.ContentsUrl = contents.contentsUrl;
    if (!contents.info.NovelIntro.empty()) {
        after.NovelIntro = contents.info.NovelIntro;
    }
    MergeChapters(contents.chapters, after);
    return SyncNovel(run, kind, before, std::move(after), contents.note);
}

} // namespace

namespace internal {

bool WorkOnShelvedNovel(WindowPort& window, const std::u16string& programFolder,
                        const std::u16string& novelFolder, const ShelvedNovelWork& work) {
    CNovelClaim claim(programFolder, novelFolder);
    if (!claim.Held()) {
        window.SetStatusText(std::u16string(kNovelBusyMessage));
        return false;
    }
    NovelRun run(window, programFolder, novelFolder, {}, {});
    ShelvedNovel novel;
    if (!OpenShelvedNovel(run, novel.Index)) {
        return false;
    }
    novel.Folder = novelFolder;
    novel.PageTemplate = run.templates.page;
    novel.PageEncoding = run.templates.encoding;
    novel.Fields = [&run, &novel](size_t position) {
        return PageFields(run, novel.Index, position);
    };
    std::u16string message = work(novel);
    if (!SaveNovelIndex(novelFolder, novel.Index)) {
        message += u"无法写入本书的章节索引 " + std::u16string(kNovelIndexName) + u"。";
    }
    if (!WriteContentsPage(run, novel.Index, false)) {
        message += u"无法写入本书的目录页 " + std::u16string(kContentsPageName) + u"。";
    }
    window.SetStatusText(message);
    window.NovelJobEnded(novelFolder);
    return true;
}

} // namespace internal

NovelJobOutcome DownloadOpenedNovel(WindowPort& window, const std::u16string& programFolder) {
    SearchHit hit;
    ResultRow row = window.ResultRowTexts(window.FirstSelectedResultRow());
    if (!FindSearchHit(programFolder, row, hit)) {
        Stop(window, u"在搜索结果中找不到所选的小说，请重新搜索，下载中止！");
        return {};
    }
    return DownloadSearchHit(window, programFolder, hit);
}

NovelJobOutcome UpdateNovel(WindowPort& window, const std::u16string& programFolder,
                            const std::u16string& novelFolder, const CancelTest& stopAsked) {
    return RunShelfJob(window, programFolder, novelFolder, JobKind::Update, stopAsked);
}

bool StopJobOfNovel(const std::u16string& novelFolder) {
    return internal::StopNovelJob(novelFolder);
}

bool WaitForJobOfNovel(const std::u16string& novelFolder, std::chrono::milliseconds limit) {
    return internal::WaitForNovelRelease(novelFolder, limit);
}

NovelJobOutcome RetryNovel(WindowPort& window, const std::u16string& programFolder,
                           const std::u16string& novelFolder) {
    return RunShelfJob(window, programFolder, novelFolder, JobKind::Retry);
}

void StartNovelDownload(WindowPort& window, const std::u16string& programFolder) {
    window.ShowWaitPage();
    window.SetViewMode(ViewMode::Reading);
    std::thread([&window, programFolder] {
        CStatusSourceScope source;
        DownloadOpenedNovel(window, programFolder);
        // A cookie a site set in the last seconds of the job goes to its file now.
        SaveCookieJars();
    }).detach();
}

void StartNovelJob(WindowPort& window, const std::u16string& programFolder,
                   const std::u16string& novelFolder, ShelfJob job) {
    JobKind kind = job == ShelfJob::Update ? JobKind::Update : JobKind::Retry;
    std::thread([&window, programFolder, novelFolder, kind] {
        CStatusSourceScope source;
        RunShelfJob(window, programFolder, novelFolder, kind);
        // A cookie a site set in the last seconds of the job goes to its file now.
        SaveCookieJars();
    }).detach();
}

} // namespace velunor
