// The search command, the search thread and the per-site search task.

#include "search/search_job.h"

#include "core/core.h"
#include "net/cookie_jar.h"
#include "pool/worker_pool.h"
#include "results/search_result_file.h"
#include "rules/rules.h"
#include "search/site_selection.h"
#include "site/site.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace velunor {

namespace internal {

// One search, from its start command to the end of its last site.
struct SearchRun {
    // Set three seconds after the stop command.
    std::atomic<bool> cancelled{false};
    // Kept under SearchShared::resultLock.
    SearchOutcome outcome;
};

// What a controller shares with the threads of its searches; the last of them frees it.
struct SearchShared {
    SearchShared(WindowPort& searchWindow, std::u16string folder,
                 std::chrono::milliseconds shortest)
        : window(searchWindow), programFolder(std::move(folder)), shortestRun(shortest) {}

    WindowPort& window;
    const std::u16string programFolder;
    const std::chrono::milliseconds shortestRun;
    // The search whose rows the list shows; a stopped one that a new one has overtaken must
    // neither add its late hits nor reset the new one's button and status line.
    std::atomic<const SearchRun*> current{nullptr};
    // The current search itself, and when it started; kept under commandLock.
    std::shared_ptr<SearchRun> currentRun;
    std::chrono::steady_clock::time_point currentStart;
    // True from the start command until the stop command or the end of the current search:
    // what the search button's caption shows.
    std::atomic<bool> running{false};
    // Search threads that have not yet ended, the current one and any stopped one included.
    std::atomic<int> liveThreads{0};
    // Serialises every list row and every append to the result file, so that a stopped search
    // still finishing its sites and a new one never write at once.
    std::mutex resultLock;
    // Config/SearchResult.xml, written under resultLock.
    CSearchResultFile resultFile;
    // Serialises starting a search with the delayed cancel of a stopped one, so that the cancel
    // can never land on the search that followed it.
    std::mutex commandLock;
    SearchOutcome lastOutcome;
};

} // namespace internal

namespace {

using internal::SearchRun;
using internal::SearchShared;

constexpr int kSearchWorkers = 20;
constexpr auto kQueuePause = std::chrono::milliseconds(10);
constexpr auto kStopPause = std::chrono::milliseconds(3000);

using RunPointer = std::shared_ptr<SearchRun>;
using SharedPointer = std::shared_ptr<SearchShared>;

// What the task of one site needs.
struct SiteSearch {
    SharedPointer shared;
    RunPointer run;
    std::u16string ruleFile;
    // The rule file's place in the list, which orders the sites the final line names.
    size_t index;
};

bool IsCurrent(const SearchShared& shared, const SearchRun& run) {
    return shared.current.load() == &run;
}

bool IsCancelled(const SearchShared& shared, const SearchRun& run) {
    return run.cancelled.load() || !IsCurrent(shared, run);
}

// Adds one hit as a list row and a file element; one the full result file has no room for is
// only counted, for the search's last status line. Hits of a search that a newer one has
// overtaken are dropped: returns false then.
bool AddHit(const SiteSearch& search, const SearchHit& hit, const std::u16string& status) {
    SearchShared& shared = *search.shared;
    std::lock_guard lock(shared.resultLock);
    if (!IsCurrent(shared, *search.run)) {
        return false;
    }
    // The file first: whoever sees the row and opens it finds the hit in the file.
    if (shared.resultFile.Append(hit) == ResultAppend::Full) {
        ++search.run->outcome.Unlisted;
        return true;
    }
    WindowPort& window = shared.window;
    window.AppendResultRow({DecimalText(window.ResultRowCount() + 1), hit.TargetSite, hit.NovelName,
                            hit.NovelAuthor, hit.LatestChapter});
    search.run->outcome.Hits.push_back(hit);
    if (!status.empty()) {
        window.SetStatusText(status);
    }
    return true;
}

void AddHits(const SiteSearch& search, const CSiteRule& rule, const std::vector<SearchHit>& hits) {
    for (size_t k = 0; k < hits.size(); ++k) {
        std::u16string status = u"从目标站 <" + rule.SiteName + u"> 搜索完成，在该站搜索到 " +
                                DecimalText(static_cast<long long>(k + 1)) + u" 本小说。";
        if (!AddHit(search, hits[k], status)) {
            return;
        }
    }
}

// "（另有 12 本小说因结果过多未列出）" when the result file had no room for some hits.
std::u16string UnlistedNote(size_t unlisted) {
    if (unlisted == 0) {
        return {};
    }
    return u"（另有 " + DecimalText(static_cast<long long>(unlisted)) +
           u" 本小说因结果过多未列出，请换用更确切的名称搜索）";
}

// Notes a site of the current search that could not be reached or refused it; a cancelled
// search's transfers fail because it was cancelled, not because of the site.
void NoteFailure(const SiteSearch& search, const CSiteRule& rule, const SiteError& error) {
    SearchShared& shared = *search.shared;
    std::lock_guard lock(shared.resultLock);
    if (!IsCancelled(shared, *search.run)) {
        search.run->outcome.Failures.push_back({search.index, rule.SiteName, error});
    }
}

void SearchOneSite(const SiteSearch& search) {
    SearchShared& shared = *search.shared;
    const SearchRun& run = *search.run;
    if (IsCancelled(shared, run)) {
        return;
    }
    WindowPort& window = shared.window;
    std::u16string text = window.SearchText();
    Site site(LoadSiteRule(search.ruleFile), search.ruleFile);
    const CSiteRule& rule = site.Rule();
    window.SetStatusText(u"正从目标站 <" + rule.SiteName + u"> 进行搜索……");
    if (IsCancelled(shared, run)) {
        return;
    }
    // Every transfer of a search ends as soon as the search is cancelled or overtaken.
    SiteSearchAnswer answer =
        SearchSite(site, text, [&shared, &run] { return IsCancelled(shared, run); });
    if (answer.Error.Failed()) {
        if (answer.Error.Kind == SiteErrorKind::Refused) {
            window.SetStatusText(site.BlockedMessage());
        }
        NoteFailure(search, rule, answer.Error);
        return;
    }
    AddHits(search, rule, answer.Hits);
}

bool IsAnySiteSelected(const std::u16string& programFolder) {
    std::vector<bool> checked =
        SelectedRuleFiles(SiteSelectionReadPath(programFolder), EnumerateRuleFiles(programFolder));
    return std::find(checked.begin(), checked.end(), true) != checked.end();
}

// "（2 个站点无法访问：甲站、乙站）" for the sites the search could not reach, in the order of
// their rule files; empty when it reached every one.
std::u16string UnreachableNote(std::vector<SiteFailure>& failures) {
    if (failures.empty()) {
        return {};
    }
    std::sort(failures.begin(), failures.end(),
              [](const SiteFailure& a, const SiteFailure& b) { return a.Index < b.Index; });
    std::u16string names;
    for (const SiteFailure& failure : failures) {
        names += (names.empty() ? u"" : u"、") +
                 (failure.SiteName.empty() ? u"（未命名）" : failure.SiteName);
    }
    return u"（" + DecimalText(static_cast<long long>(failures.size())) + u" 个站点无法访问：" +
           names + u"）";
}

// The search's final status and caption, and its outcome; only the current search may set
// the window's.
void ReportEnd(SearchShared& shared, SearchRun& run, bool resultFileFailed) {
    std::u16string status;
    {
        std::lock_guard lock(shared.resultLock);
        SearchOutcome& outcome = run.outcome;
        outcome.Cancelled = run.cancelled.load();
        outcome.ResultFileFailed = resultFileFailed;
        std::u16string note = UnreachableNote(outcome.Failures);
        if (resultFileFailed) {
            status = std::u16string(kNoResultFileStatus);
        } else if (outcome.Cancelled) {
            status = u"搜索任务被终止！";
        } else {
            status = u"搜索完成，共搜索到 " +
                     DecimalText(static_cast<long long>(outcome.Hits.size())) + u" 本小说。" +
                     UnlistedNote(outcome.Unlisted) + note;
        }
        if (!IsCurrent(shared, run)) {
            return;
        }
        shared.lastOutcome = outcome;
    }
    shared.window.SetStatusText(status);
    shared.running = false;
    shared.window.SetSearchButtonCaption(std::u16string(kSearchIdleCaption));
}

// Runs one search to its end: queues the selected sites, waits for them, reports the total.
void RunSearch(const SharedPointer& shared, const RunPointer& run) {
    WindowPort& window = shared->window;
    const std::u16string& programFolder = shared->programFolder;
    window.DeleteAllResultRows();
    std::vector<std::u16string> ruleFiles = EnumerateRuleFiles(programFolder);
    bool fileReady = false;
    {
        std::lock_guard lock(shared->resultLock);
        fileReady = shared->resultFile.Reset(programFolder);
    }
    if (!fileReady) {
        // Hits that could not be opened are no use: ask no site.
        ReportEnd(*shared, *run, true);
        return;
    }
    auto pool = std::make_unique<CWorkerPool>(kSearchWorkers);
    for (size_t i = 0; i < ruleFiles.size(); ++i) {
        // Read again for every rule, as the dialog may store a new choice meanwhile.
        if (!SelectedRuleFiles(SiteSelectionReadPath(programFolder), ruleFiles)[i]) {
            continue;
        }
        pool->QueueTask(
            [search = SiteSearch{shared, run, ruleFiles[i], i}] { SearchOneSite(search); });
        std::this_thread::sleep_for(kQueuePause);
        if (IsCancelled(*shared, *run)) {
            break;
        }
    }
    pool->Drain();
    pool->WaitAllExited();
    ReportEnd(*shared, *run, !shared->resultFile.Intact());
}

void SearchThread(SharedPointer shared, RunPointer run) {
    RunSearch(shared, run);
    // A cookie a site set in the last seconds of the search goes to its file now.
    SaveCookieJars();
    // Last: once counted out, the thread touches neither the window nor the search state.
    --shared->liveThreads;
}

void StartSearch(const SharedPointer& shared) {
    WindowPort& window = shared->window;
    if (window.GetViewMode() != ViewMode::SearchResults) {
        window.SetViewMode(ViewMode::SearchResults);
    }
    window.SetSearchButtonCaption(std::u16string(kSearchRunningCaption));
    auto run = std::make_shared<SearchRun>();
    {
        std::lock_guard lock(shared->commandLock);
        shared->currentRun = run;
        shared->currentStart = std::chrono::steady_clock::now();
        shared->current = run.get();
        shared->running = true;
    }
    // Said before the thread starts: a search that ends at once (no result file) would
    // otherwise have its final status overwritten by this one.
    window.SetStatusText(u"搜索任务已启动……");
    ++shared->liveThreads;
    std::thread(SearchThread, shared, run).detach();
}

// The stopped search's sites go on for the pause; then the search is cancelled, unless a new
// one has started meanwhile (which has overtaken it already).
void CancelAfterPause(SharedPointer shared, RunPointer run) {
    std::this_thread::sleep_for(kStopPause);
    std::lock_guard lock(shared->commandLock);
    if (IsCurrent(*shared, *run)) {
        run->cancelled = true;
    }
}

} // namespace

SearchController::SearchController(WindowPort& window, std::u16string programFolder,
                                   std::chrono::milliseconds shortestRun)
    : shared_(std::make_shared<SearchShared>(window, std::move(programFolder), shortestRun)) {}

SearchController::~SearchController() = default;

void SearchController::Stop() {
    if (!shared_->running.exchange(false)) {
        return;
    }
    shared_->window.SetSearchButtonCaption(std::u16string(kSearchIdleCaption));
    RunPointer run;
    {
        std::lock_guard lock(shared_->commandLock);
        run = shared_->currentRun;
    }
    std::thread(CancelAfterPause, shared_, std::move(run)).detach();
}

void SearchController::RunCommand() {
    WindowPort& window = shared_->window;
    if (TrimSearchText(window.SearchText()).empty()) {
        window.ShowMessage(u"请在文本框中输入要搜索的小说名称或作者名称！",
                           MessageIcon::Information, MessageButtons::Ok);
        return;
    }
    if (IsRunning()) {
        std::chrono::steady_clock::time_point start;
        {
            std::lock_guard lock(shared_->commandLock);
            start = shared_->currentStart;
        }
        if (std::chrono::steady_clock::now() - start < shared_->shortestRun) {
            window.ShowMessage(u"搜索任务的启动与终止间隔时间太短（小于3秒），请合理进行操作！",
                               MessageIcon::Exclamation, MessageButtons::Ok);
            return;
        }
        Stop();
        return;
    }
    if (!IsAnySiteSelected(shared_->programFolder)) {
        window.SetStatusText(std::u16string(kNoSiteSelectedStatus));
        return;
    }
    StartSearch(shared_);
}

bool SearchController::IsRunning() const {
    return shared_->running.load();
}

bool SearchController::IsIdle() const {
    return LiveSearches() == 0;
}

int SearchController::LiveSearches() const {
    return shared_->liveThreads.load();
}

SearchOutcome SearchController::LastOutcome() const {
    std::lock_guard lock(shared_->resultLock);
    return shared_->lastOutcome;
}

} // namespace velunor
